#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "NUVA_o/Flattener.h"
#include "CountingCube.h"
#include "SampleOracle.h"
#include "ViewTesting.h"
#include "VtqTest.h"
#include "NUVA_o/ColumnInfo.h"
#include "support/CoreLog.h"
#include "common/CommonFlattener.h"
#include "provider/memory/MemoryCube.h"
#include "support/ErrorCodes.h"
#include "support/Exceptions.h"
#include "tovasqlexpressionbuildercommon.h"

using NUVA_o::tovasql_parser::TOVASQLExpression;

namespace {

class FlattenerTest : public vtq_testing::VtqTest {
 protected:
  void SetUp() override {
    VtqTest::SetUp();
    m_Sample.reset(memory::loadCube(vtq_testing::sampleCubePath()));
    m_Cube.reset(new vtq_testing::CountingCube(m_Sample.get()));
    m_Flattener.reset(createCommonFlattener(m_Cube.get()));
  }
  void TearDown() override {
    m_Flattener.reset();
    m_Cube.reset();
    m_Sample.reset();
    VtqTest::TearDown();
  }
  auto_unuse<NUVA_o::RowsetDataModel> run(const TOVAString& text) {
    auto_unuse<NUVA_o::FlattenerQuery> query(m_Flattener->createQuery());
    query->setQueryText(text);
    return auto_unuse<NUVA_o::RowsetDataModel>(query->execute());
  }
  // The code `text` fails with, 0 when it runs.
  uint32_t failure(const TOVAString& text) {
    try {
      run(text);
    } catch (const olap_api::ApiException& e) {
      return e.getCode();
    }
    return 0;
  }

  auto_unuse<memory::MemoryCube> m_Sample;
  auto_unuse<vtq_testing::CountingCube> m_Cube;
  auto_unuse<NUVA_o::Flattener> m_Flattener;
};

// Cell text as the oracle writes it: numbers compared apart.
std::string cell(const NUVA_o::CellValue& v) {
  return v.getType() == support::DT_DOUBLE ? std::to_string(v.getRealValue())
                                           : v.getStringValue().string();
}

TEST_F(FlattenerTest, StatementsGiveTheRowsOfTheEquivalentSql) {
  std::ifstream in(vtq_testing::sourceDir() + "/tests/fixtures/flat_statements.txt");
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);)
    if (!line.empty() && line[0] != '#') lines.push_back(line);
  ASSERT_EQ(16u, lines.size());
  for (size_t i = 0; i + 1 < lines.size(); i += 2) {
    SCOPED_TRACE(lines[i]);
    auto expected = vtq_testing::SampleOracle::get().rows(lines[i + 1]);
    auto_unuse<NUVA_o::RowsetDataModel> rows = run(lines[i]);
    ASSERT_TRUE(rows);
    ASSERT_EQ(expected.size(), rows->getRowCount());
    for (size_t r = 0; r < expected.size(); ++r) {
      ASSERT_EQ(expected[r].size(), rows->getColumnInfos().size());
      for (size_t c = 0; c < expected[r].size(); ++c) {
        const NUVA_o::CellValue& v = rows->getRow(r)->getDatum(static_cast<unsigned>(c));
        if (v.getType() == support::DT_DOUBLE)
          EXPECT_NEAR(std::strtod(expected[r][c].c_str(), nullptr), v.getRealValue(), 0.01)
              << "row " << r << " column " << c;
        else
          EXPECT_EQ(expected[r][c], cell(v)) << "row " << r << " column " << c;
      }
    }
  }
  // The empty result keeps its columns, named after the fields.
  auto_unuse<NUVA_o::RowsetDataModel> empty = run(lines[14]);
  ASSERT_EQ(2u, empty->getColumnInfos().size());
  EXPECT_EQ("[Measures].[Sales]", empty->getColumnInfos()[1]->getUniqueName());
}

TEST_F(FlattenerTest, FormIsDecidedByTheFirstCharacter) {
  // Regression: a statement was recognised by "select" or "SELECT" anywhere in the text, so a
  // document with the word in a value was parsed as a statement and "Select" was not one.
  EXPECT_EQ(1u, run("Select [Measures].[Sales] FROM [Product]")->getRowCount());
  EXPECT_EQ(1, m_Cube->executed);
  EXPECT_EQ(support::COMMON_E_XMLQ_MISSING_ELEMENT,
            failure(u"\uFEFF \n <Query><Value>select</Value></Query>"));
  EXPECT_EQ(support::COMMON_E_SYNTAX, failure("  [Product] <"));
  EXPECT_EQ(1, m_Cube->executed);
}

TEST_F(FlattenerTest, BadStatementsAreRefusedBeforeTheProvider) {
  EXPECT_EQ(support::COMMON_E_FLAT_UNKNOWN_FIELD,
            failure("SELECT [Measures].[Sales] FROM [Product] WHERE [Product].[Colour] = 'Red'"));
  EXPECT_EQ(support::COMMON_E_TOVASQL_NOT_A_FIELD,
            failure("SELECT [Product].[Colour] FROM [Product]"));
  EXPECT_EQ(support::COMMON_E_TOVASQL_NOT_A_HIERARCHY,
            failure("SELECT [Product].[Category] FROM [Colour]"));
  EXPECT_EQ(support::COMMON_E_FLAT_WRONG_TYPE,
            failure("SELECT [Measures].[Sales] FROM [Product] WHERE [Measures].[Sales] = 'a lot'"));
  EXPECT_EQ(support::COMMON_E_FLAT_WRONG_TYPE,
            failure("SELECT [Measures].[Sales] FROM [Product] WHERE [Product].[Category] > 3"));
  EXPECT_EQ(support::COMMON_E_FLAT_FIELD_NOT_IN_FROM,
            failure("SELECT [Geography].[Region] FROM [Product]"));
  EXPECT_EQ(0, m_Cube->executed);
  // The flattener stays usable.
  EXPECT_EQ(3u, run("SELECT [Geography].[Region] FROM [Geography]")->getRowCount());
}

TEST_F(FlattenerTest, BuilderChecksColumnIndexesAndBuildsExecutableTrees) {
  auto_unuse<common::TOVASQLExpressionBuilderCommon> builder(
      new common::TOVASQLExpressionBuilderCommon);
  EXPECT_THROW(builder->buildStringNode("[Product]"), olap_api::InvalidArgumentException);
  builder->buildNewExpression(m_Sample.get());
  auto_unuse<NUVA_o::Hierarchy> product(m_Sample->getHierarchyByUniqueName("[Product]"));
  auto field = [&](const char* name) {
    return auto_unuse<NUVA_o::Field>(product->getFieldByName(name));
  };
  builder->buildFieldNode(field("[Product].[Category]"), true, 0);
  try {
    builder->buildFieldNode(field("[Product].[Item]"), true, 0);
    FAIL() << "a second field took index 0";
  } catch (const olap_api::InvalidXMLException& e) {
    EXPECT_EQ(support::COMMON_E_TOVASQL_DUPLICATE_COLUMN, e.getCode());
  }
  EXPECT_THROW(builder->buildGroupingSetItemNode(7), olap_api::InvalidXMLException);
  builder->buildExpressionNode(TOVASQLExpression::TOVASQL_ET_FROM);
  builder->buildStringNode("[Product]");
  builder->buildExpressionNode(TOVASQLExpression::TOVASQL_ET_SELECT);
  builder->buildStringNode("[Product].[Subcategory]");
  builder->buildExpressionNode(TOVASQLExpression::TOVASQL_ET_INLIST);
  builder->buildStringNode("Road");
  builder->buildStringNode("Locks");
  builder->linkFilterConstraint(0);
  builder->buildExpressionNode(TOVASQLExpression::TOVASQL_ET_WHERE);
  auto_unuse<TOVASQLExpression> root(builder->takeRoot());
  EXPECT_EQ("SELECT [Product].[Category] FROM [Product] WHERE  [Product].[Subcategory] IN "
            "( 'Road', 'Locks')",
            root->getText(false).string());
  auto_unuse<NUVA_o::RowsetDataModel> rows(m_Sample->executeQuery(root.get()));
  ASSERT_EQ(2u, rows->getRowCount());
  EXPECT_EQ("Bikes", rows->getRow(0)->getDatum(0).getStringValue().string());
  EXPECT_EQ("Accessories", rows->getRow(1)->getDatum(0).getStringValue().string());
}

}  // namespace

namespace {

// Regression: a cube given no string column size answered -1, and every flat query on it
// reported a broken invariant; it answers the widest text its fields can hold.
TEST_F(FlattenerTest, StringColumnsHaveASizeOnACubeGivenNone) {
  auto_unuse<memory::MemoryCube> cube(vtq_testing::buildTestCube(false));
  // The widest is a month's unique name, "[Time].[Calendar].[2023].[Dec]".
  EXPECT_EQ(30, cube->getStringColumnDisplaySize());
  auto_unuse<NUVA_o::Flattener> flattener(createCommonFlattener(cube.get()));
  auto_unuse<NUVA_o::FlattenerQuery> query(flattener->createQuery());
  query->setQueryText("SELECT [Product].[Category], [Measures].[Sales] FROM [Product]");
  const uint64_t before = support_dll::assertionFailureCount();
  auto_unuse<NUVA_o::RowsetDataModel> rows(query->execute());
  EXPECT_EQ(before, support_dll::assertionFailureCount());
  EXPECT_EQ(30u, rows->getColumnInfos().at(0)->getColumnDisplaySize());
  cube->setStringColumnDisplaySize(12);  // a size given wins
  EXPECT_EQ(12, cube->getStringColumnDisplaySize());
}

}  // namespace
