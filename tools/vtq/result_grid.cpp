#include "result_grid.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <ostream>

#include "common/SynchronousChunkHandlerCommon.h"
#include "provider/memory/MemoryQuery.h"
#include "shell_command.h"
#include "support/RefCountImpl.h"

namespace vtq {

namespace {

constexpr long kColumns = 0;
constexpr long kRows = 1;

// Runs the handler's request and gives `take` every chunk in delivery order; each chunk is
// released once `take` has seen it.
template <typename ChunkType, typename Take>
void for_each_chunk(SynchronousChunkHandlerCommon* handler, Take take) {
  handler->StartFetch();
  for (;;) {
    auto_unuse<NUVA_o::Chunk> chunk(handler->GetChunk());
    if (!chunk) return;
    auto* typed = dynamic_cast<ChunkType*>(chunk.get());
    if (!typed) throw ShellError{"the result delivered a chunk the shell cannot read"};
    take(*typed);
  }
}

// The tuples of one axis, each as the captions of its members.
std::vector<std::vector<std::string>> read_axis(memory::MemoryResultSet* result, long axis) {
  std::vector<std::vector<std::string>> tuples;
  auto_unuse<SynchronousChunkHandlerCommon> handler(
      new SynchronousChunkHandlerCommon(result, axis, 0, -1));
  for_each_chunk<memory::MemoryAxisChunk>(handler.get(), [&](memory::MemoryAxisChunk& chunk) {
    if (chunk.getFirstTuple() != static_cast<long>(tuples.size()))
      throw ShellError{"the tuples of axis " + std::to_string(axis) + " arrived out of order"};
    for (long t = 0; t < chunk.getTupleCount(); ++t) {
      std::vector<std::string> captions;
      for (int h = 0; h < chunk.getHierarchyCount(); ++h)
        captions.push_back(chunk.getMemberCaption(t, h).string());
      tuples.push_back(std::move(captions));
    }
  });
  if (static_cast<long>(tuples.size()) != result->getTupleCount(axis))
    throw ShellError{"axis " + std::to_string(axis) + " delivered " +
                     std::to_string(tuples.size()) + " of its " +
                     std::to_string(result->getTupleCount(axis)) + " tuples"};
  return tuples;
}

std::string join(const std::vector<std::string>& parts, const char* separator) {
  std::string out;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i) out += separator;
    out += parts[i];
  }
  return out;
}

// Characters, not bytes, so that captions outside ASCII line up.
size_t display_width(const std::string& text) {
  return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

std::string cell_text(const std::optional<double>& cell) {
  return cell ? formatNumber(*cell) : std::string();
}

}  // namespace

ResultGrid readResultGrid(NUVA_o::ViewResultSet* resultSet) {
  auto* result = dynamic_cast<memory::MemoryResultSet*>(resultSet);
  if (!result) throw ShellError{"the result comes from a provider whose results the shell cannot read"};
  const int axisCount = result->getAxisCount();
  if (axisCount < 1 || axisCount > 2)
    throw ShellError{"the shell prints results of one or two axes, not " +
                     std::to_string(axisCount)};

  ResultGrid grid;
  for (const auto& columns : read_axis(result, kColumns))
    grid.columnHeaders.push_back(join(columns, "|"));
  if (axisCount > kRows) {
    for (const TOVAString& name : result->getAxisHierarchies(kRows))
      grid.rowHierarchies.push_back(name.string());
    grid.rowCaptions = read_axis(result, kRows);
  } else {
    // One axis: a single row of cells without row headers.
    grid.rowCaptions.emplace_back();
  }

  const size_t cellCount = grid.columnHeaders.size() * grid.rowCaptions.size();
  grid.cells.assign(cellCount, std::nullopt);
  grid.bands.assign(cellCount, -1);
  auto_unuse<SynchronousChunkHandlerCommon> handler(new SynchronousChunkHandlerCommon(result, 0, -1));
  size_t delivered = 0;
  for_each_chunk<memory::MemoryCellDataChunk>(handler.get(), [&](memory::MemoryCellDataChunk& chunk) {
    const long first = chunk.getFirstCell();
    const long count = chunk.getCellCount();
    if (first < 0 || count < 0 || static_cast<size_t>(first) + static_cast<size_t>(count) > cellCount)
      throw ShellError{"the result delivered cells outside its grid"};
    for (long i = 0; i < count; ++i)
    {
      if (!chunk.isEmpty(i)) grid.cells[static_cast<size_t>(first + i)] = chunk.getValue(i);
      grid.bands[static_cast<size_t>(first + i)] = chunk.getBand(i);
    }
    delivered += static_cast<size_t>(count);
  });
  if (delivered != cellCount)
    throw ShellError{"the result delivered " + std::to_string(delivered) + " of its " +
                     std::to_string(cellCount) + " cells"};
  return grid;
}

std::string formatNumber(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "Infinity" : "-Infinity";
  if (value == 0) return "0";
  // A sum of many fact rows is off by a few hundred units in the last place (577703.2 comes
  // out as 577703.200000001): print the shortest decimal within that distance. Seventeen
  // significant digits always round-trip, so the search ends.
  char buffer[512];
  double shortest = value;
  for (int digits = 1; digits <= 17; ++digits) {
    const char* end =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, digits).ptr;
    double rounded = 0;
    std::from_chars(buffer, end, rounded);
    if (std::fabs(rounded - value) <= 1e-13 * std::fabs(value)) {
      shortest = rounded;
      break;
    }
  }
  char* end = std::to_chars(buffer, buffer + sizeof buffer, shortest, std::chars_format::fixed).ptr;
  return std::string(buffer, end);
}

std::string csvField(const std::string& field) {
  if (field.find_first_of(",\"\r\n") == std::string::npos) return field;
  std::string quoted = "\"";
  for (char c : field) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

void printCsv(const ResultGrid& grid, std::ostream& out) {
  std::vector<std::string> header = grid.rowHierarchies;
  header.insert(header.end(), grid.columnHeaders.begin(), grid.columnHeaders.end());
  for (size_t i = 0; i < header.size(); ++i) out << (i ? "," : "") << csvField(header[i]);
  out << "\n";
  const size_t columns = grid.columnHeaders.size();
  for (size_t r = 0; r < grid.rowCaptions.size(); ++r) {
    bool first = true;
    for (const std::string& caption : grid.rowCaptions[r]) {
      out << (first ? "" : ",") << csvField(caption);
      first = false;
    }
    for (size_t c = 0; c < columns; ++c) {
      out << (first ? "" : ",") << cell_text(grid.cells[r * columns + c]);
      first = false;
    }
    out << "\n";
  }
}

void printTable(const ResultGrid& grid, std::ostream& out, bool bands) {
  const size_t labels = grid.rowHierarchies.size();
  const size_t columns = grid.columnHeaders.size();
  std::vector<std::vector<std::string>> lines;
  std::vector<std::string> header = grid.rowHierarchies;
  header.insert(header.end(), grid.columnHeaders.begin(), grid.columnHeaders.end());
  lines.push_back(header);
  for (size_t r = 0; r < grid.rowCaptions.size(); ++r) {
    std::vector<std::string> line = grid.rowCaptions[r];
    line.resize(labels);
    for (size_t c = 0; c < columns; ++c) {
      const size_t i = r * columns + c;
      line.push_back(cell_text(grid.cells[i]));
      if (bands && i < grid.bands.size() && grid.bands[i] >= 0) line.back() += "[" + std::to_string(grid.bands[i]) + "]";
    }
    lines.push_back(std::move(line));
  }
  std::vector<size_t> widths(labels + columns, 0);
  for (const auto& line : lines)
    for (size_t i = 0; i < line.size(); ++i) widths[i] = std::max(widths[i], display_width(line[i]));

  auto print = [&](const std::vector<std::string>& line) {
    std::string text;
    for (size_t i = 0; i < line.size(); ++i) {
      if (i) text += "  ";
      const std::string padding(widths[i] - display_width(line[i]), ' ');
      // Row labels to the left, cells (and their headers) to the right.
      text += i < labels ? line[i] + padding : padding + line[i];
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    out << text << "\n";
  };
  print(lines[0]);
  std::vector<std::string> rule;
  for (size_t width : widths) rule.emplace_back(width, '-');
  print(rule);
  for (size_t i = 1; i < lines.size(); ++i) print(lines[i]);
}

}  // namespace vtq
