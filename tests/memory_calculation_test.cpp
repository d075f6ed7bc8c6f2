// Calculated measures of the memory provider, evaluated by the library's expression evaluator
// on the sample cube, checked cell by cell against SQL over the sample CSV files.

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <optional>
#include <sstream>

#include "SampleOracle.h"
#include "VtqTest.h"
#include "provider/memory/MemoryCube.h"
#include "provider/memory/MemoryQuery.h"
#include "support/ErrorCodes.h"
#include "support/Exceptions.h"

namespace {

using Grid = std::map<std::pair<std::string, std::string>, std::optional<double>>;

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The sample cube with these calculations added to its measures, read from memory.
[[maybe_unused]] memory::MemoryCube* sample_with(const std::string& calculations) {
  const std::string dir = vtq_testing::sourceDir() + "/examples/sales/";
  memory::FileSet files;
  std::string definition = read_file(dir + "sales.cube.xml");
  definition.insert(definition.find("</Measures>"), calculations);
  files[dir + "sales.cube.xml"] = definition;
  for (const char* table : {"facts.csv", "products.csv", "cities.csv", "months.csv"})
    files[dir + table] = read_file(dir + table);
  return memory::loadCube(dir + "sales.cube.xml", files);
}

// Every cell keyed by (column captions joined by '|', row captions joined by '|').
Grid run(memory::MemoryCube* cube, const memory::GridQuery& query) {
  auto_unuse<memory::MemoryResultSet> result(memory::executeGridQuery(cube, query));
  struct Collect final : NUVA_o::ChunkHandler {
    uint32_t use() override { return 1; }
    uint32_t unuse() override { return 1; }
    bool handleChunk(NUVA_o::Chunk* chunk, bool) override {
      chunks.emplace_back(chunk);
      return true;
    }
    NUVA_o::Chunk* GetChunk() override { return nullptr; }
    void CancelChunks() override {}
    void StartFetch() override {}
    std::vector<auto_unuse<NUVA_o::Chunk>> chunks;
  } columns, rows, cells;
  result->fetchChunks(&columns, 0, 0, 0x7fffffff);
  result->fetchChunks(&rows, 1, 0, 0x7fffffff);
  result->fetchChunksRange(&cells, 0, 0x7fffffff);
  auto captions = [](Collect& c) {
    std::vector<std::string> out;
    for (auto& chunk : c.chunks) {
      auto* tuples = dynamic_cast<memory::MemoryAxisChunk*>(chunk.get());
      for (long t = 0; t < tuples->getTupleCount(); ++t) {
        std::string caption;
        for (int h = 0; h < tuples->getHierarchyCount(); ++h)
          caption += (h ? "|" : "") + tuples->getMemberCaption(t, h).string();
        out.push_back(caption);
      }
    }
    return out;
  };
  const auto columnCaptions = captions(columns), rowCaptions = captions(rows);
  Grid out;
  for (auto& chunk : cells.chunks) {
    auto* data = dynamic_cast<memory::MemoryCellDataChunk*>(chunk.get());
    for (long i = 0; i < data->getCellCount(); ++i) {
      const auto ordinal = static_cast<size_t>(data->getFirstCell() + i);
      auto& cell = out[{columnCaptions[ordinal % columnCaptions.size()], rowCaptions[ordinal / columnCaptions.size()]}];
      if (!data->isEmpty(i)) cell = data->getValue(i);
    }
  }
  return out;
}

// Rows of (column, row, value) from SQL; a NULL value is an empty cell.
Grid oracle(const std::string& sql) {
  Grid out;
  for (const auto& row : vtq_testing::SampleOracle::get().rows(sql))
    out[{row[0], row[1]}] = row[2].empty() ? std::nullopt : std::optional<double>(std::stod(row[2]));
  return out;
}

// Every cell of `expected` is in `actual` within a cent (ratios within a millionth), and
// `actual` holds no other filled cell.
void expect_grid(const Grid& expected, const Grid& actual, double tolerance = 0.005) {
  for (const auto& [key, value] : expected) {
    auto it = actual.find(key);
    ASSERT_NE(actual.end(), it) << key.first << " / " << key.second;
    ASSERT_EQ(value.has_value(), it->second.has_value()) << key.first << " / " << key.second;
    if (value) {
      EXPECT_NEAR(*value, *it->second, tolerance) << key.first << " / " << key.second;
    }
  }
  for (const auto& [key, value] : actual)
    if (value) {
      EXPECT_TRUE(expected.count(key)) << "unexpected " << key.first << " / " << key.second;
    }
}

std::vector<TOVAString> members(const std::string& sql) {
  std::vector<TOVAString> out;
  for (const auto& row : vtq_testing::SampleOracle::get().rows(sql)) out.emplace_back(row[0]);
  return out;
}

memory::GridCoordinate measures(std::vector<TOVAString> names) { return {"[Measures]", std::move(names)}; }

const char* const kCategories =
    "SELECT DISTINCT '[Product].[' || category || ']' FROM products ORDER BY 1";
const char* const kSubcategories =
    "SELECT DISTINCT '[Product].[' || category || '].[' || subcategory || ']' FROM products ORDER BY 1";
const char* const kYears = "SELECT DISTINCT '[Time].[Calendar].[' || year || ']' FROM months ORDER BY 1";
const char* const kMonths =
    "SELECT '[Time].[Calendar].[' || year || '].[' || quarter || '].[' || month_name || ']' FROM months ORDER BY month";

class MemoryCalculationTest : public vtq_testing::VtqTest {};

// Margin and Margin % of the sample cube beside a stored measure on the columns, and a
// calculated measure alone in the slicer.
TEST_F(MemoryCalculationTest, CalculatedMeasuresOnAxesAndInTheSlicerEqualSql) {
  auto_unuse<memory::MemoryCube> cube(memory::loadCube(vtq_testing::sampleCubePath()));
  memory::GridQuery query;
  query.axes.push_back({{measures({"[Measures].[Sales]", "[Measures].[Margin]", "[Measures].[Margin %]"})}});
  query.axes.push_back({{{"[Product]", members(kCategories)}, {"[Time].[Calendar]", members(kYears)}}});
  const Grid grid = run(cube.get(), query);
  // Margin % is a ratio: compared within a millionth.
  const std::string join = " FROM facts f JOIN products p ON p.item = f.item JOIN months m ON m.month = f.month"
                           " GROUP BY p.category, m.year";
  expect_grid(oracle("SELECT 'Sales', p.category || '|' || m.year, SUM(f.sales)" + join + " UNION ALL "
                     "SELECT 'Margin', p.category || '|' || m.year, SUM(f.sales) - SUM(f.cost)" + join),
              [&] {
                Grid g = grid;
                for (auto it = g.begin(); it != g.end();) it = it->first.first == "Margin %" ? g.erase(it) : ++it;
                return g;
              }());
  for (const auto& [key, value] : oracle("SELECT 'Margin %', p.category || '|' || m.year,"
                                         " (SUM(f.sales) - SUM(f.cost)) / SUM(f.sales)" + join)) {
    ASSERT_TRUE(grid.at(key).has_value()) << key.second;
    EXPECT_NEAR(*value, *grid.at(key), 1e-6) << key.second;
  }

  memory::GridQuery sliced;
  sliced.axes.push_back({{{"[Time].[Calendar]", members(kYears)}}});
  sliced.axes.push_back({{{"[Product]", members(kCategories)}}});
  sliced.slicer.push_back(measures({"[Measures].[Margin]"}));
  sliced.slicer.push_back({"[Geography]", {"[Geography].[Europe]"}});
  expect_grid(oracle("SELECT m.year, p.category, SUM(f.sales) - SUM(f.cost) FROM facts f"
                     " JOIN products p ON p.item = f.item JOIN months m ON m.month = f.month"
                     " JOIN cities c ON c.city = f.city WHERE c.region = 'Europe' GROUP BY 1, 2"),
              run(cube.get(), sliced));
}

}  // namespace
