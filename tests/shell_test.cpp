#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

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

// Time (Calendar, Fiscal), Product, a dimension whose name has a blank, and Sales; one
// hierarchy per dimension in a view. A Gear caption needs quoting in csv.
memory::MemoryCube* buildShellCube() {
  memory::CubeBuilder b("Shell");
  b.addDimension("Time");
  b.addHierarchy("Time", "Calendar", {"Year", "Month"});
  b.addHierarchy("Time", "Fiscal", {"Year", "Month"});
  b.addDimension("Product");
  b.addHierarchy("Product", "Product", {"Category", "Item"});
  b.addDimension("Sales Channel");
  b.addHierarchy("Sales Channel", "Sales Channel", {"Channel"});
  b.addMeasure("Sales");
  b.addPath("[Time].[Calendar]", "2023-12", {"2023", "Dec"});
  b.addPath("[Time].[Calendar]", "2024-01", {"2024", "Jan"});
  b.addPath("[Time].[Fiscal]", "2023-12", {"FY2024", "Dec"});
  b.addPath("[Time].[Fiscal]", "2024-01", {"FY2024", "Jan"});
  b.addPath("[Product]", "road", {"Bikes", "Road"});
  b.addPath("[Product]", "helmet", {"Gear", "Helmet"});
  b.setCaption("[Product].[Gear]", "Gear, \"pro\"");
  b.addPath("[Sales Channel]", "web", {"Web"});
  b.addPath("[Sales Channel]", "shop", {"Shop"});
  b.addFact(std::vector<TOVAString>{"2023-12", "road", "web"}, {1234.5});
  b.addFact(std::vector<TOVAString>{"2024-01", "road", "shop"}, {1000});
  b.addFact(std::vector<TOVAString>{"2024-01", "road", "web"}, {200});
  b.addFact(std::vector<TOVAString>{"2024-01", "helmet", "web"}, {0.1});
  b.addFact(std::vector<TOVAString>{"2024-01", "helmet", "web"}, {0.2});
  b.setCapability(NUVA_o::Cube::SUPPORTS_MULTIPLE_HIERARCHY_QUERY, false);
  return b.build();
}

TEST_F(ShellTest, LayoutOfTheSampleCubeWithAndWithoutMultipleHierarchies) {
  m_pCube.reset(memory::loadCube(vtq_testing::sampleCubePath()));
  m_pCube->setCapability(NUVA_o::Cube::SUPPORTS_MULTIPLE_HIERARCHY_QUERY, false);
  EXPECT_EQ(
      "0|0 view: \n1 view: \n2 slice: [Time].[Calendar], [Product], [Geography], [Measures]\n|",
      run("layout\n"));
  m_pCube->setCapability(NUVA_o::Cube::SUPPORTS_MULTIPLE_HIERARCHY_QUERY, true);
  EXPECT_EQ(
      "0|0 view: \n1 view: \n2 slice: [Time].[Calendar], [Time].[Fiscal], [Product], "
      "[Geography], [Measures]\n|",
      run("# comment\n\nlayout\n"));
}

TEST_F(ShellTest, ErrorsArePrintedAndTheShellGoesOnUnlessItBails) {
  m_pCube.reset(vtq_testing::buildTestCube(false));
  const std::string script =
      "frobnicate\nlevel [Nowhere] 1\nlevel [Product] 7\nlevel [Product] x\n.mode xml\n"
      ".mode csv\nlevel [Product] 1\nlayout\n";
  EXPECT_EQ(
      "0|0 view: \n1 view: \n2 slice: [Time].[Calendar], [Product], [Measures]\n|"
      "error: unknown command 'frobnicate' (.help lists the commands)\n"
      "error: no axis holds hierarchy '[Nowhere]'\n"
      "error: hierarchy '[Product]' has no level 7\n"
      "error: level number 'x' is not a number of 0 or more\n"
      "error: usage: .mode csv|table\n",
      run(script));
  EXPECT_EQ("2||error: unknown command 'frobnicate' (.help lists the commands)\n",
            run(script, true));
  EXPECT_NE(std::string::npos, run(".help\n").find("level H N"));
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

TEST_F(ShellTest, MovesSwapsAndAxisSwapsRearrangeTheLayout) {
  m_pCube.reset(buildShellCube());
  EXPECT_EQ(
      "0|"
      // Names with blanks; the trailing one or two words are the axis and the position.
      "0 view: [Product]\n1 view: [Sales Channel], [Time].[Calendar]\n2 slice: [Measures]\n"
      // Within one axis, and to its front.
      "0 view: [Measures], [Product]\n1 view: [Time].[Calendar], [Sales Channel]\n2 slice: \n"
      // A hierarchy with blanks swaps with one of another axis.
      "0 view: [Measures], [Sales Channel]\n1 view: [Time].[Calendar], [Product]\n2 slice: \n"
      "0 view: [Time].[Calendar], [Product]\n1 view: [Measures], [Sales Channel]\n2 slice: \n"
      // The other hierarchy of Time pushes Calendar off the axes; undo puts Calendar back where
      // it was, and a swap brings Fiscal in at Calendar's place.
      "0 view: [Product]\n1 view: [Measures], [Sales Channel], [Time].[Fiscal]\n2 slice: \n"
      "0 view: [Time].[Calendar], [Product]\n1 view: [Measures], [Sales Channel]\n2 slice: \n"
      "0 view: [Time].[Fiscal], [Product]\n1 view: [Measures], [Sales Channel]\n2 slice: \n"
      "|",
      run("move [Product] 0\nmove  [Sales Channel]  1\nmove [Time].[Calendar] 1 1\nlayout\n"
          "move [Time].[Calendar] 1 0\nmove [Measures] 0 0\nlayout\n"
          "swap [Sales Channel] [Product]\nlayout\n"
          "swap-axes 0 1\nlayout\n"
          "move [Time].[Fiscal] 1\nlayout\nundo\nlayout\n"
          "swap [Time].[Calendar]   [Time].[Fiscal]\nlayout\n"));
}

TEST_F(ShellTest, UndoRedoAndTheHistory) {
  m_pCube.reset(buildShellCube());
  EXPECT_EQ(
      "0|"
      "undo 1: move [Product] 0 0\n"
      "undo 2: move [Time].[Calendar] 1 0\n"
      "undo 3: set the view members of [Product]\n"
      "undo 4: swap [Product] [Time].[Calendar]\n"
      "undo 5: swap-axes 0 1\n"
      // Undone edits wait in the redo history, the next one to redo last.
      "undo 1: move [Product] 0 0\n"
      "undo 2: move [Time].[Calendar] 1 0\n"
      "redo 1: swap-axes 0 1\n"
      "redo 2: swap [Product] [Time].[Calendar]\n"
      "redo 3: set the view members of [Product]\n"
      "0 view: [Product]\n1 view: [Time].[Calendar]\n2 slice: [Sales Channel], [Measures]\n"
      "0 view: [Time].[Calendar]\n1 view: [Product]\n2 slice: [Sales Channel], [Measures]\n"
      // A new edit after an undo empties the redo history.
      "undo 1: move [Product] 0 0\n"
      "undo 2: move [Time].[Calendar] 1 0\n"
      "undo 3: move [Measures] 1 1\n"
      "0 view: \n1 view: \n2 slice: [Time].[Calendar], [Product], [Sales Channel], [Measures]\n"
      "|"
      "error: nothing to redo\n"
      "error: nothing to undo\n"
      "error: nothing to undo\n",
      run("move [Product] 0\nmove [Time].[Calendar] 1\nlevel [Product] 1\n"
          "swap [Product] [Time].[Calendar]\nswap-axes 0 1\nhistory\n"
          "undo\nundo\nundo\nhistory\nlayout\nredo\nredo\nlayout\n"
          "undo\nundo\nmove [Measures] 1\nredo\nhistory\n"
          "undo\nundo\nundo\nundo\nlayout\nundo\n"));
}

TEST_F(ShellTest, RefusedEditsPrintAnErrorAndChangeNothing) {
  m_pCube.reset(buildShellCube());
  const std::string before =
      "0 view: [Product]\n1 view: \n2 slice: [Time].[Calendar], [Sales Channel], [Measures]\n";
  EXPECT_EQ(
      "0|" + before + "undo 1: move [Product] 0 0\n" + before + "|"
      "error 0xC2011035: The cube has no hierarchy '[Nowhere]'.\n"
      "error: axis 3 does not exist: the view has axes 0 to 2\n"
      "error: position 2 is out of range: axis 0 takes positions 0 to 0\n"
      "error: position 4 is out of range: axis 2 takes positions 0 to 3\n"
      "error: axis 'x' is not a number of 0 or more\n"
      "error: axis '-1' is not a number of 0 or more\n"
      "error: usage: move HIERARCHY AXIS [POSITION]\n"
      "error: the cube has no hierarchy '[Nowhere]'\n"
      "error: usage: swap HIERARCHY1 HIERARCHY2 (bracketed unique names)\n"
      "error: usage: swap HIERARCHY1 HIERARCHY2 (bracketed unique names)\n"
      "error: usage: swap HIERARCHY1 HIERARCHY2 (bracketed unique names)\n"
      "error 0xC2011046: Hierarchies of different dimensions cannot be swapped (dimension "
      "'[Time]'): the cube allows one hierarchy per dimension in a view.\n"
      "error: axis 9 does not exist: the view has axes 0 to 2\n"
      "error: axis '+1' is not a number of 0 or more\n"
      "error: usage: swap-axes AXIS1 AXIS2\n"
      "error 0x42018008: There is nothing to revert: no query was made.\n"
      "error: unknown command 'undo 2' (.help lists the commands)\n",
      run("move [Product] 0\nlayout\n"
          "move [Nowhere] 0\nmove [Product] 3\nmove [Product] 0 2\nmove [Product] 2 4\n"
          "move [Product] x\nmove [Product] -1\nmove 1\n"
          "swap [Product] [Nowhere]\nswap [Product]\nswap [Product] [Time].[Calendar] x\n"
          "swap Product Time\nswap [Time].[Fiscal] [Product]\n"
          "swap-axes 0 9\nswap-axes +1 0\nswap-axes 0\n"
          "revert\nundo 2\nhistory\nlayout\n"));
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

TEST_F(ShellTest, QueryGridsInBothModesAndRevertToTheLastQuery) {
  m_pCube.reset(buildShellCube());
  const std::string setup =
      "move [Product] 0\nmove [Sales Channel] 0\nmove [Time].[Calendar] 1\n"
      "level [Product] 1\nlevel [Sales Channel] 1\nlevel [Time].[Calendar] 1\n";
  // Column tuples join their captions with '|'; a caption with a comma and quotes is quoted;
  // cells no fact reaches stay empty; 0.1 + 0.2 prints as 0.3.
  const std::string csv =
      "[Time].[Calendar],Bikes|Web,Bikes|Shop,\"Gear, \"\"pro\"\"|Web\",\"Gear, \"\"pro\"\"|Shop\"\n"
      "2023,1234.5,,,\n"
      "2024,200,1000,0.3,\n";
  EXPECT_EQ("0|" + csv + "|", run(setup + ".mode csv\nquery\n"));
  EXPECT_EQ(
      "0|"
      "[Time].[Calendar]  Bikes|Web  Bikes|Shop  Gear, \"pro\"|Web  Gear, \"pro\"|Shop\n"
      "-----------------  ---------  ----------  ---------------  ----------------\n"
      "2023                  1234.5\n"
      "2024                     200        1000              0.3\n"
      "|",
      run(setup + "query\n"));

  // Edits after a query are taken back by revert, which leaves the queried edits alone and
  // refuses a second time: the newest edit is then the queried one.
  const std::string queried =
      "0 view: [Product], [Sales Channel]\n1 view: [Time].[Calendar]\n2 slice: [Measures]\n";
  const std::string history =
      "undo 1: move [Product] 0 0\nundo 2: move [Sales Channel] 0 1\n"
      "undo 3: move [Time].[Calendar] 1 0\nundo 4: set the view members of [Product]\n"
      "undo 5: set the view members of [Sales Channel]\n"
      "undo 6: set the view members of [Time].[Calendar] (queried)\n";
  EXPECT_EQ(
      "0|" + csv + queried + history +
          "0 view: [Time].[Calendar], [Measures]\n1 view: [Product], [Sales Channel]\n2 slice: \n" +
          queried + history + csv +
          "|error 0x42018008: There is nothing to revert: nothing was edited since the last "
          "query.\n",
      run(setup + ".mode csv\nquery\nlayout\nhistory\nswap-axes 0 1\nmove [Measures] 0\n"
                  "layout\nrevert\nlayout\nhistory\nrevert\nquery\n"));
}

TEST_F(ShellTest, NamesInAnotherLetterCaseWithAndWithoutMultipleHierarchies) {
  m_pCube.reset(memory::loadCube(vtq_testing::sourceDir() + "/examples/sales/sales.cube.xml"));
  for (const bool multiple : {true, false}) {
    m_pCube->setCapability(NUVA_o::Cube::SUPPORTS_MULTIPLE_HIERARCHY_QUERY, multiple);
    const std::string slice = multiple ? "[Time].[Calendar], [Time].[Fiscal], [Measures]\n"
                                       : "[Time].[Calendar], [Measures]\n";
    const std::string swapped = "0 view: [Geography]\n1 view: [Product]\n2 slice: " + slice;
    // Regression: [product] counted as on no axis: the swap put [Product] on two axes and
    // dropped [Geography], and undo of a move reported success and changed nothing.
    EXPECT_EQ("0|" + swapped + "0 view: [Geography], [Product]\n1 view: \n2 slice: " + slice +
                  swapped + "0 view: [Geography]\n1 view: [Product], [Time].[Fiscal]\n2 slice: " +
                  (multiple ? "[Time].[Calendar], [Measures]\n" : "[Measures]\n") + swapped +
                  "undo 1: move [Product] 0 0\nundo 2: move [Geography] 1 0\n"
                  "undo 3: swap [Product] [Geography]\n"
                  "undo 4: set the view members of [Geography]\n|",
              run("move [Product] 0\nmove [Geography] 1\nswap [product] [GEOGRAPHY]\nlayout\n"
                  "move [product] 0\nlayout\nundo\nlayout\n"
                  "move [time].[fiscal] 1\nlayout\nundo\nlayout\n"
                  "level [geography] 1\nhistory\n"))
        << (multiple ? "with" : "without") << " multiple hierarchies";
  }
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
  m_pCube.reset(buildShellCube());
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

}  // namespace
