#pragma once

#include <iosfwd>
#include <string>

namespace NUVA_o {
class Cube;
}

namespace vtq {

// Runs a flat request (a statement) through a flattener on `cube` and prints its rows, csv or
// as a table, with the field unique names as header. Throws the library's exceptions.
void runStatement(NUVA_o::Cube* cube, const std::string& text, bool csv, std::ostream& out);

// Splits the statement's OR conditions into OR-free statements and prints each, as a line
// "-- alternative I of N: STATEMENT", followed by its rows. A row several alternatives return
// is one row of the statement.
void runSplitStatement(NUVA_o::Cube* cube, const std::string& text, bool csv, std::ostream& out);

// Runs the statement and binds each row into a consumer buffer through an accessor, one
// binding per column of the type in `types` ("i4,r8,bstr"; empty: the column's own), and
// prints per row each column's bound value, length and status.
void runBoundStatement(NUVA_o::Cube* cube, const std::string& types, const std::string& text,
                       std::ostream& out);

// The text of the statement file at `path`, read as a cube's files are (regular files of at
// most 64 MiB); throws std::runtime_error with the reason otherwise.
std::string readStatementFile(const std::string& path);

}  // namespace vtq
