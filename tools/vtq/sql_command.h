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

// The text of the statement file at `path`, read as a cube's files are (regular files of at
// most 64 MiB); throws std::runtime_error with the reason otherwise.
std::string readStatementFile(const std::string& path);

}  // namespace vtq
