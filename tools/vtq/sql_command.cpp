#include "sql_command.h"

#include <ostream>
#include <stdexcept>
#include <vector>

#include "InputFile.h"
#include "NUVA_o/Flattener.h"
#include "common/CommonFlattener.h"
#include "provider/memory/MemoryCube.h"
#include "result_grid.h"

namespace vtq {

namespace {

// The rows as a grid for the shell's printers: the text columns before the first measure are
// its labels (left-aligned), the rest its cells; a text column after a measure makes every
// column a label, numbers written as the cells would be.
ResultGrid flat_grid(const NUVA_o::RowsetDataModel& rows) {
  const auto& columns = rows.getColumnInfos();
  auto numeric = [&](size_t c) { return columns[c]->getDataType() == support::DT_DOUBLE; };
  size_t labels = 0;
  while (labels < columns.size() && !numeric(labels)) ++labels;
  for (size_t c = labels; c < columns.size(); ++c)
    if (!numeric(c)) labels = columns.size();
  ResultGrid grid;
  for (size_t c = 0; c < columns.size(); ++c)
    (c < labels ? grid.rowHierarchies : grid.columnHeaders)
        .push_back(columns[c]->getUniqueName().string());
  for (size_t r = 0; r < rows.getRowCount(); ++r) {
    const NUVA_o::Row& row = *rows.getRow(r);
    std::vector<std::string> captions;
    for (size_t c = 0; c < columns.size(); ++c) {
      const NUVA_o::CellValue& v = row.getDatum(static_cast<unsigned>(c));
      const bool number = v.getType() == support::DT_DOUBLE;
      if (c < labels)
        captions.push_back(number ? formatNumber(v.getRealValue()) : v.getStringValue().string());
      else if (number)
        grid.cells.emplace_back(v.getRealValue());
      else
        grid.cells.emplace_back();  // no fact reached the measure
    }
    grid.rowCaptions.push_back(std::move(captions));
  }
  return grid;
}

}  // namespace

void runStatement(NUVA_o::Cube* cube, const std::string& text, bool csv, std::ostream& out) {
  auto_unuse<NUVA_o::Flattener> flattener(createCommonFlattener(cube));
  auto_unuse<NUVA_o::FlattenerQuery> query(flattener->createQuery());
  query->setQueryText(TOVAString(text));
  auto_unuse<NUVA_o::RowsetDataModel> rows(query->execute());
  if (!rows) throw std::runtime_error("the cube returned no rows");
  const ResultGrid grid = flat_grid(*rows);
  if (csv)
    printCsv(grid, out);
  else
    printTable(grid, out);
}

std::string readStatementFile(const std::string& path) {
  std::string bytes;
  const TOVAString problem =
      memory::readInputFile(path, memory::kMaxDefinitionBytes, "a statement file", bytes);
  if (!problem.empty()) throw std::runtime_error(problem.string());
  return bytes;
}

}  // namespace vtq
