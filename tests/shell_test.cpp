#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include <unistd.h>

#include "result_grid.h"
#include "shell_command.h"
#include "NUVA_o/MemberSet.h"
#include "SampleOracle.h"
#include "VtqTest.h"
#include "common/ViewpointFactory.h"
#include "ViewTesting.h"

namespace {

class ShellTest : public vtq_testing::VtqTest {
 protected:
  void TearDown() override {
    m_pCube.reset();
    VtqTest::TearDown();
  }
  // Runs the script; returns "status|stdout|stderr".
  std::string run(const std::string& script, bool bail = false) {
    std::istringstream in(script);
    std::ostringstream out, err;
    const int status = vtq::runShell(m_pCube.get(), in, out, err, vtq::ShellOptions{bail});
    return std::to_string(status) + "|" + out.str() + "|" + err.str();
  }
  auto_unuse<memory::MemoryCube> m_pCube;
};

std::vector<std::vector<std::string>> split_csv(const std::string& text, bool skipHeader) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(text);
  std::string line;
  if (skipHeader) std::getline(lines, line);
  while (std::getline(lines, line)) {
    std::vector<std::string> fields;
    std::istringstream s(line);
    for (std::string field; std::getline(s, field, ',');) fields.push_back(field);
    if (!line.empty() && line.back() == ',') fields.emplace_back();
    rows.push_back(fields);
  }
  return rows;
}

TEST_F(ShellTest, LevelMakesTheViewSetAllMembersOfThatLevel) {
  m_pCube.reset(vtq_testing::buildTestCube(false));
  auto_unuse<NUVA_o::Viewpoint> view(createCommonViewpoint());
  view->initialise(m_pCube.get(), 1, 1);
  NUVA_o::AxisHierarchy* product = view->getAxes()[1]->getAxisHierarchies()[1].get();
  auto_unuse<NUVA_o::MemberSet> set(product->getViewMemberSet());
  vtq::setViewSetToLevel(*view, "[Product]", 2);
  EXPECT_EQ("[Product].[Bikes].[Road], [Product].[Gear].[Helmet], [Product].[Gear].[Glove]",
            vtq_testing::members(set.get()));
  vtq::setViewSetToLevel(*view, "[Product]", 1);
  EXPECT_EQ("[Product].[Bikes], [Product].[Gear]", vtq_testing::members(set.get()));
  EXPECT_EQ("0||", run("level [Product] 2\nlevel [Time].[Calendar] 1\n"));
}

TEST_F(ShellTest, GridsPrintAsCsvAndAsAlignedTables) {
  EXPECT_EQ("1234.5", vtq::formatNumber(1234.5));
  EXPECT_EQ("1200", vtq::formatNumber(1200.0));
  EXPECT_EQ("-0.25", vtq::formatNumber(-0.25));
  EXPECT_EQ("0.3", vtq::formatNumber(0.1 + 0.2));
  EXPECT_EQ("100000000000000000000", vtq::formatNumber(1e20));
  EXPECT_EQ("0.0000001", vtq::formatNumber(1e-7));
  EXPECT_EQ("0", vtq::formatNumber(-0.0));
  EXPECT_EQ("12345678.91", vtq::formatNumber(12345678.91));
  EXPECT_EQ("577703.2", vtq::formatNumber(577703.200000001));
  // Thirteen significant digits are data, not noise.
  EXPECT_EQ("1234567890.123", vtq::formatNumber(1234567890.123));

  EXPECT_EQ("plain", vtq::csvField("plain"));
  EXPECT_EQ("\"a,b\"", vtq::csvField("a,b"));
  EXPECT_EQ("\"say \"\"hi\"\"\"", vtq::csvField("say \"hi\""));

  vtq::ResultGrid grid;
  grid.rowHierarchies = {"[Time]", "[Store]"};
  grid.columnHeaders = {"Bikes|Sales", "Gear, \"pro\"|Sales"};
  grid.rowCaptions = {{"2024", "Köln"}, {"2025", "Paris"}};
  grid.cells = {1234.5, std::nullopt, 7.0, 0.1 + 0.2};
  std::ostringstream csv, table;
  vtq::printCsv(grid, csv);
  EXPECT_EQ("[Time],[Store],Bikes|Sales,\"Gear, \"\"pro\"\"|Sales\"\n"
            "2024,Köln,1234.5,\n"
            "2025,Paris,7,0.3\n",
            csv.str());
  // Widths count characters, not bytes: "Köln" is four wide.
  vtq::printTable(grid, table);
  EXPECT_EQ("[Time]  [Store]  Bikes|Sales  Gear, \"pro\"|Sales\n"
            "------  -------  -----------  -----------------\n"
            "2024    Köln          1234.5\n"
            "2025    Paris              7                0.3\n",
            table.str());
}

TEST_F(ShellTest, QueryPrintsSalesByCategoryAndYearAsTheCsvFilesSumThem) {
  m_pCube.reset(memory::loadCube(vtq_testing::sampleCubePath()));
  m_pCube->setCapability(NUVA_o::Cube::SUPPORTS_MULTIPLE_HIERARCHY_QUERY, false);
  const std::string result =
      run("move [Product] 0\nmove [Time].[Calendar] 1\nlevel [Product] 1\n"
          "level [Time].[Calendar] 1\n.mode csv\nquery\n");
  ASSERT_EQ("0|", result.substr(0, 2));
  ASSERT_EQ('|', result.back()) << "error lines: " << result;
  const std::string csv = result.substr(2, result.size() - 3);

  // Axis 0 (Product) gives the columns, axis 1 (Time) the rows.
  const auto expected = vtq_testing::SampleOracle::get().pairSums(
      "SELECT p.category, substr(f.month, 1, 4), SUM(f.sales) FROM facts f"
      " JOIN products p ON p.item = f.item GROUP BY 1, 2");
  std::map<std::string, int> categories, years;
  for (const auto& [key, sum] : expected) ++categories[key.first], ++years[key.second];
  const auto header = split_csv(csv, false).at(0);
  ASSERT_EQ(1 + categories.size(), header.size()) << csv;
  EXPECT_EQ("[Time].[Calendar]", header[0]);
  const auto rows = split_csv(csv, true);
  ASSERT_EQ(years.size(), rows.size()) << csv;

  const std::regex plainDecimal("-?[0-9]+(\\.[0-9]*[1-9])?");
  size_t compared = 0;
  for (const auto& row : rows) {
    ASSERT_EQ(header.size(), row.size()) << csv;
    for (size_t c = 1; c < row.size(); ++c) {
      const auto it = expected.find({header[c], row[0]});
      ASSERT_NE(expected.end(), it) << header[c] << " / " << row[0];
      EXPECT_TRUE(std::regex_match(row[c], plainDecimal)) << row[c];
      EXPECT_NEAR(it->second, std::stod(row[c]), 1e-6 * std::fabs(it->second))
          << header[c] << " / " << row[0];
      ++compared;
    }
  }
  EXPECT_EQ(expected.size(), compared);
}

// Sales by category over all years, from the oracle.
std::map<std::string, double> sales_by_category() {
  std::map<std::string, double> sums;
  for (const auto& row : vtq_testing::SampleOracle::get().rows(
           "SELECT p.category, SUM(f.sales) FROM facts f JOIN products p ON p.item = f.item GROUP BY 1"))
    sums[row.at(0)] = std::stod(row.at(1));
  return sums;
}

// The csv grid of a query with one row: header captions after the row hierarchy, and cells.
void expect_one_row_grid(const std::map<std::string, double>& expected, const std::string& rowCaption,
                         const std::string& grid) {
  const auto lines = split_csv(grid, false);
  ASSERT_EQ(2u, lines.size()) << grid;
  ASSERT_EQ(expected.size() + 1, lines[0].size()) << grid;
  ASSERT_EQ(lines[0].size(), lines[1].size()) << grid;
  EXPECT_EQ(rowCaption, lines[1][0]);
  for (size_t c = 1; c < lines[0].size(); ++c) {
    const auto it = expected.find(lines[0][c]);
    ASSERT_NE(expected.end(), it) << lines[0][c];
    EXPECT_NEAR(it->second, std::stod(lines[1][c]), 1e-6 * std::fabs(it->second)) << it->first;
  }
}

TEST_F(ShellTest, UndoOfAMoveOffAViewAxisBringsItsMembersBackInOneStep) {
  m_pCube.reset(memory::loadCube(vtq_testing::sourceDir() + "/examples/sales/sales.cube.xml"));
  m_pCube->setCapability(NUVA_o::Cube::SUPPORTS_MULTIPLE_HIERARCHY_QUERY, false);
  const std::string result =
      run(".mode csv\nmove [Product] 0\nmove [Time].[Calendar] 1\nlevel [Product] 1\nquery\n"
          "move [Product] 2\nhistory\nundo\nquery\nhistory\n");
  ASSERT_EQ("0|", result.substr(0, 2));
  ASSERT_EQ('|', result.back()) << "error lines: " << result;
  const std::string out = result.substr(2, result.size() - 3);
  const size_t gridEnd = out.find("undo 1:");
  ASSERT_NE(std::string::npos, gridEnd) << out;
  const std::string grid = out.substr(0, gridEnd);
  expect_one_row_grid(sales_by_category(), "All", grid);
  // Regression: after the undo the grid showed All instead of the categories, and the move
  // took three history slots (the move and the two member-set resets it caused).
  const std::string before =
      "undo 1: move [Product] 0 0\nundo 2: move [Time].[Calendar] 1 0\n"
      "undo 3: set the view members of [Product] (queried)\n";
  EXPECT_EQ(grid + before + "undo 4: move [Product] 2 2\n" + grid + before +
                "redo 1: move [Product] 2 2\n",
            out);
}

TEST_F(ShellTest, ANewMemberSetEditLeavesNothingToRedo) {
  m_pCube.reset(memory::loadCube(vtq_testing::sourceDir() + "/examples/sales/sales.cube.xml"));
  m_pCube->setCapability(NUVA_o::Cube::SUPPORTS_MULTIPLE_HIERARCHY_QUERY, false);
  const std::string result =
      run(".mode csv\nmove [Product] 0\nmove [Time].[Calendar] 1\nlevel [Product] 1\nundo\n"
          "level [Product] 0\nredo\nhistory\nquery\n");
  // Regression: redo put the undone level-1 edit on top of the newer level-0 one.
  const std::string history =
      "undo 1: move [Product] 0 0\nundo 2: move [Time].[Calendar] 1 0\n"
      "undo 3: set the view members of [Product]\n";
  ASSERT_EQ("0|" + history, result.substr(0, 2 + history.size()));
  const std::string errors = "|error: nothing to redo\n";
  ASSERT_EQ(errors, result.substr(result.size() - errors.size()));
  double total = 0;
  for (const auto& [category, sum] : sales_by_category()) total += sum;
  expect_one_row_grid({{"All", total}}, "All",
                      result.substr(2 + history.size(),
                                    result.size() - errors.size() - 2 - history.size()));
}

TEST_F(ShellTest, QueriesTheViewRefusesPrintAnError) {
  m_pCube.reset(memory::loadCube(vtq_testing::sourceDir() + "/tests/shell/cubes/shell.cube.xml"));
  m_pCube->setQueryCellLimit(3);
  EXPECT_EQ(
      "0||"
      "error 0xC201102A: A view axis holds no hierarchy: the cube view cannot be queried.\n"
      "error 0xC201102A: A view axis holds no hierarchy: the cube view cannot be queried.\n"
      "error 0xC2011009: The query would produce more cells than the cube allows.\n",
      run("query\nmove [Product] 0\nquery\nmove [Time].[Calendar] 1\nlevel [Product] 2\nlevel [Time].[Calendar] 2\nquery\n"));
  EXPECT_EQ("2||error 0xC201102A: A view axis holds no hierarchy: the cube view cannot be queried.\n",
            run("query\nlayout\n", true));
}

// Every shell script's final view saves, loads and saves again to the same text, GUIDs
// included, with nothing to repair.
TEST_F(ShellTest, EveryScriptsViewIsAFixedPointOfSaveAndLoad) {
  namespace fs = std::filesystem;
  const fs::path shellDir = fs::path(vtq_testing::sourceDir()) / "tests" / "shell";
  const fs::path scratch = fs::temp_directory_path() / ("vtq-fixed-point-" + std::to_string(::getpid()));
  fs::create_directories(scratch);
  auto read = [](const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  size_t scripts = 0;
  for (const auto& entry : fs::directory_iterator(shellDir)) {
    if (entry.path().extension() != ".vtq") continue;
    SCOPED_TRACE(entry.path().filename().string());
    std::string script = read(entry.path());
    const std::string args = script.substr(0, script.find('\n'));
    const size_t cube = args.find("--cube ");
    const std::string cubePath = cube == std::string::npos
        ? vtq_testing::sampleCubePath()
        : (shellDir / args.substr(cube + 7, args.find(' ', cube + 7) - cube - 7)).string();
    m_pCube.reset(memory::loadCube(cubePath));
    m_pCube->setCapability(NUVA_o::Cube::SUPPORTS_MULTIPLE_HIERARCHY_QUERY,
                           args.find("--multiple-hierarchies") != std::string::npos);
    for (size_t at; (at = script.find("$SCRATCH")) != std::string::npos;)
      script.replace(at, 8, scratch.string());
    const fs::path first = scratch / "first.xml", second = scratch / "second.xml";
    fs::remove(first);
    fs::remove(second);
    // Relative paths in scripts are relative to their folder.
    const fs::path before = fs::current_path();
    fs::current_path(shellDir);
    const std::string result = run(script + "\nsave " + first.string() + "\nload " +
                                   first.string() + "\nsave " + second.string() + "\n");
    fs::current_path(before);
    const std::string saved = read(first);
    EXPECT_NE(std::string::npos, saved.find("<CubeView "));
    EXPECT_EQ(saved, read(second));
    // Only the load appended here can print repairs in scripts that load nothing themselves.
    if (script.find("\nload ") == std::string::npos) {
      EXPECT_EQ(std::string::npos, result.find("\nrepair: ")) << result;
    }
    m_pCube.reset();
    ++scripts;
  }
  fs::remove_all(scratch);
  EXPECT_GE(scripts, 15u);
}

}  // namespace
