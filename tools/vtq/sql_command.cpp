#include "sql_command.h"

#include <algorithm>
#include <cstring>
#include <ostream>
#include <stdexcept>
#include <vector>

#include "InputFile.h"
#include "NUVA_o/Flattener.h"
#include "NUVA_o/TOVAOrExpressionProcessor.h"
#include "common/CommonFlattener.h"
#include "common/RowsetHelper.h"
#include "support/ErrorCodes.h"
#include "support/Exceptions.h"
#include "tovasqlexpressioncommon.h"
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

void print_rows(const NUVA_o::RowsetDataModel& rows, bool csv, std::ostream& out) {
  const ResultGrid grid = flat_grid(rows);
  if (csv)
    printCsv(grid, out);
  else
    printTable(grid, out);
}

auto_unuse<NUVA_o::RowsetDataModel> execute(NUVA_o::Cube* cube, const std::string& text) {
  auto_unuse<NUVA_o::Flattener> flattener(createCommonFlattener(cube));
  auto_unuse<NUVA_o::FlattenerQuery> query(flattener->createQuery());
  query->setQueryText(TOVAString(text));
  auto_unuse<NUVA_o::RowsetDataModel> rows(query->execute());
  if (!rows) throw std::runtime_error("the cube returned no rows");
  return rows;
}

// A binding type as the user names it.
support::DataType bind_type(const std::string& name) {
  if (name == "i4") return support::DT_SI32;
  if (name == "r8") return support::DT_DOUBLE;
  if (name == "bstr") return support::DT_UCS2;
  throw std::runtime_error("unknown binding type '" + name + "' (i4, r8 or bstr)");
}

}  // namespace

void runStatement(NUVA_o::Cube* cube, const std::string& text, bool csv, std::ostream& out) {
  print_rows(*execute(cube, text), csv, out);
}

void runSplitStatement(NUVA_o::Cube* cube, const std::string& text, bool csv, std::ostream& out) {
  // As the flattener does before a provider sees a tree.
  cube->prepareForFlattening();
  auto_unuse<common::TOVASQLExpressionCommon> root(new common::TOVASQLExpressionCommon(cube));
  root->setTextAndCreateTree(TOVAString(text));
  auto_unuse<NUVA_o::tovasql_parser::TOVAOrExpressionProcessor> processor(
      new NUVA_o::tovasql_parser::TOVAOrExpressionProcessorCommon(
          auto_unuse<NUVA_o::tovasql_parser::TOVASQLExpression>::share(root.get())));
  processor->generateQueries();
  const auto queries = processor->getQueries();
  for (size_t i = 0; i < queries.size(); ++i) {
    out << "-- alternative " << i + 1 << " of " << queries.size() << ": "
        << queries[i]->getText(true).string() << "\n";
    auto_unuse<NUVA_o::RowsetDataModel> rows(cube->executeQuery(queries[i].get()));
    if (!rows) throw std::runtime_error("the cube returned no rows");
    print_rows(*rows, csv, out);
  }
}

void runBoundStatement(NUVA_o::Cube* cube, const std::string& types, const std::string& text,
                       std::ostream& out) {
  auto_unuse<NUVA_o::RowsetDataModel> rows = execute(cube, text);
  const auto& columns = rows->getColumnInfos();
  std::vector<support::DataType> chosen;
  for (size_t start = 0; !types.empty() && start <= types.size();) {
    const size_t comma = std::min(types.find(',', start), types.size());
    chosen.push_back(bind_type(types.substr(start, comma - start)));
    start = comma + 1;
  }
  if (!chosen.empty() && chosen.size() != columns.size())
    throw std::runtime_error("give one binding type per column (" +
                             std::to_string(columns.size()) + ")");
  // Value, length and status of each column, one after the other, as a consumer lays them out.
  constexpr uint32_t kSlot = 32;
  auto_unuse<common::Accessor> accessor(new common::Accessor);
  for (size_t c = 0; c < columns.size(); ++c) {
    common::Binding binding;
    binding.setColumn(static_cast<uint32_t>(c));
    binding.setType(chosen.empty() ? common::RowsetHelper::convert_datatype(
                                         common::RowsetHelper::convert_datatype(
                                             columns[c]->getDataType()))
                                   : chosen[c]);
    binding.setPart(DBPART_VALUE | DBPART_LENGTH | DBPART_STATUS);
    binding.setValueOffset(static_cast<uint32_t>(c) * kSlot);
    binding.setLengthOffset(static_cast<uint32_t>(c) * kSlot + 8);
    binding.setStatusOffset(static_cast<uint32_t>(c) * kSlot + 16);
    binding.setMaxLength(columns[c]->getColumnDisplaySize());
    accessor->addBinding(binding);
  }
  std::vector<unsigned char> buffer(columns.size() * kSlot);
  for (size_t r = 0; r < rows->getRowCount(); ++r) {
    std::fill(buffer.begin(), buffer.end(), 0);
    common::RowsetHelper::fill_buffer(*rows->getRow(r), static_cast<unsigned>(columns.size()),
                                      *accessor, buffer.data(), buffer.size());
    out << "row " << r << ":";
    for (size_t c = 0; c < columns.size(); ++c) {
      const common::Binding binding = accessor->getBinding(static_cast<int>(c));
      const unsigned char* slot = buffer.data() + c * kSlot;
      DBLENGTH length;
      DBSTATUS status;
      std::memcpy(&length, slot + 8, sizeof length);
      std::memcpy(&status, slot + 16, sizeof status);
      out << (c ? "; " : " ") << columns[c]->getUniqueName().string() << "=";
      if (status == DBSTATUS_S_OK || status == DBSTATUS_S_TRUNCATED) {
        if (binding.getType() == support::DT_SI32) {
          int32_t value;
          std::memcpy(&value, slot, sizeof value);
          out << "i4 " << value;
        } else if (binding.getType() == support::DT_DOUBLE) {
          double value;
          std::memcpy(&value, slot, sizeof value);
          out << "r8 " << formatNumber(value);
        } else {
          BSTR value;
          std::memcpy(&value, slot, sizeof value);
          out << "bstr '" << TOVAString(value, SysStringLen(value)).string() << "'";
          SysFreeString(value);
        }
      } else {
        out << "-";
      }
      out << " (length " << length << ", status " << status << ")";
    }
    out << "\n";
  }
}

std::string readStatementFile(const std::string& path) {
  std::string bytes;
  const TOVAString problem =
      memory::readInputFile(path, memory::kMaxDefinitionBytes, "a statement file", bytes);
  if (!problem.empty()) throw std::runtime_error(problem.string());
  return bytes;
}

}  // namespace vtq
