#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace NUVA_o {
class ViewResultSet;
}

namespace vtq {

// A query result laid out for printing: axis 0 gives the columns, axis 1 the rows.
struct ResultGrid {
  // Unique names of the row hierarchies, in axis order.
  std::vector<std::string> rowHierarchies;
  // Per column tuple, the member captions joined by '|'.
  std::vector<std::string> columnHeaders;
  // Per row tuple, one member caption per row hierarchy.
  std::vector<std::vector<std::string>> rowCaptions;
  // Row by row, columns varying fastest; no value for an empty cell.
  std::vector<std::optional<double>> cells;
  // Per cell, the band of the highlighting rule it falls under, or -1.
  std::vector<int> bands;
};

// Reads every tuple and cell of a memory provider's result set through chunk handlers. The
// result set is borrowed. Throws ShellError for a result the shell cannot read (another
// provider's, more than two axes, chunks that do not fit the grid) and the library's
// exceptions of the fetches.
ResultGrid readResultGrid(NUVA_o::ViewResultSet* resultSet);

// Plain decimal notation without grouping or exponent, and without the noise digits that
// binary sums leave beyond the thirteenth significant digit ("1234.5", "1200", "-0.25").
std::string formatNumber(double value);

// The field as it stands, or quoted with inner quotes doubled when it holds a comma, a quote or
// a line break.
std::string csvField(const std::string& field);

// First line: the row hierarchies, then the column headers; then one line per row.
void printCsv(const ResultGrid& grid, std::ostream& out);

// The same grid with aligned columns: text to the left, numbers to the right, a rule under the
// header. With `bands`, a highlighted cell shows its band after its value: "1234.5[2]".
void printTable(const ResultGrid& grid, std::ostream& out, bool bands = false);

}  // namespace vtq
