#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "NUVA_o/Flattener.h"
#include "NUVA_o/TOVALOVUniqueRowFilter.h"
#include "NUVA_o/TOVAOrExpressionProcessor.h"
#include "SampleOracle.h"
#include "VtqTest.h"
#include "provider/memory/MemoryCube.h"
#include "support/ErrorCodes.h"
#include "support/Exceptions.h"
#include "tovasqlexpressionbuildercommon.h"
#include "tovasqlexpressioncommon.h"

using NUVA_o::tovasql_parser::TOVAOrExpressionProcessorCommon;
using NUVA_o::tovasql_parser::TOVASQLExpression;

namespace {

using Rows = std::set<std::vector<std::string>>;

class OrExpressionTest : public vtq_testing::VtqTest {
 protected:
  void SetUp() override {
    VtqTest::SetUp();
    m_Cube.reset(memory::loadCube(vtq_testing::sampleCubePath()));
  }
  void TearDown() override {
    m_Cube.reset();
    VtqTest::TearDown();
  }

  auto_unuse<TOVASQLExpression> parse(const std::string& statement) {
    auto_unuse<common::TOVASQLExpressionCommon> root(new common::TOVASQLExpressionCommon(m_Cube.get()));
    root->setTextAndCreateTree(TOVAString(statement));
    return auto_unuse<TOVASQLExpression>(root.release());
  }
  static TOVAOrExpressionProcessorCommon::Queries split(TOVASQLExpression* root) {
    auto_unuse<TOVAOrExpressionProcessorCommon> processor(
        new TOVAOrExpressionProcessorCommon(auto_unuse<TOVASQLExpression>::share(root)));
    processor->generateQueries();
    return processor->getQueries();
  }
  // The rows of a result as a set: numbers with two decimals.
  static Rows rows_of(const NUVA_o::RowsetDataModel& model) {
    Rows out;
    for (size_t r = 0; r < model.getRowCount(); ++r) {
      std::vector<std::string> row;
      for (unsigned c = 0; c < model.getColumnInfos().size(); ++c) {
        const NUVA_o::CellValue& v = model.getRow(r)->getDatum(c);
        row.push_back(v.getType() == support::DT_DOUBLE ? number(v.getRealValue())
                                                        : v.getStringValue().string());
      }
      out.insert(row);
    }
    return out;
  }
  static std::string number(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.2f", value);
    return text;
  }
  Rows execute(TOVASQLExpression* root) {
    auto_unuse<NUVA_o::RowsetDataModel> model(m_Cube->executeQuery(root));
    return rows_of(*model);
  }

  auto_unuse<memory::MemoryCube> m_Cube;
};

// Every node of a tree, for checking that alternatives share none.
void collect(const TOVASQLExpression& node, std::set<const TOVASQLExpression*>& out) {
  out.insert(&node);
  for (unsigned i = 0; i < node.getNumChildren(); ++i) {
    auto_unuse<TOVASQLExpression> child(const_cast<TOVASQLExpression*>(node.getChild(i)));
    collect(*child, out);
  }
}

const char* const kCountryWhere = "SELECT [Geography].[Country] FROM [Geography] WHERE ";

TEST_F(OrExpressionTest, AlternativesComeInOrderAndStandAlone) {
  auto_unuse<TOVASQLExpression> root = parse(std::string(kCountryWhere) +
      "[Geography].[Region] = 'Europe' OR [Product].[Category] = 'Bikes' AND "
      "[Time].[Calendar].[Year] = '2024' OR [Geography].[City] = 'Tokyo'");
  const TOVAString original = root->getText(true);
  auto queries = split(root.get());
  ASSERT_EQ(3u, queries.size());
  // ((a OR b) AND c) OR d: d first (the outer OR's right operand is a leaf), then a AND c, b AND c.
  EXPECT_EQ(std::string(kCountryWhere) + "[Geography].[City] = 'Tokyo'", queries[0]->getText(true));
  EXPECT_EQ(std::string(kCountryWhere) + " [Geography].[Region] = 'Europe' AND  [Time].[Calendar].[Year] = '2024'",
            queries[1]->getText(true));
  EXPECT_EQ(std::string(kCountryWhere) + " [Product].[Category] = 'Bikes' AND  [Time].[Calendar].[Year] = '2024'",
            queries[2]->getText(true));
  EXPECT_EQ(original, root->getText(true)) << "the input tree was changed";

  // Regression: alternatives shared the nodes of the input, so changing one alternative changed
  // another, and releasing the input freed nodes they still used.
  std::set<const TOVASQLExpression*> input, seen;
  collect(*root, input);
  for (const auto& q : queries) {
    std::set<const TOVASQLExpression*> nodes;
    collect(*q, nodes);
    for (const TOVASQLExpression* n : nodes) {
      EXPECT_EQ(0u, input.count(n)) << "a node of the input is part of an alternative";
      EXPECT_TRUE(seen.insert(n).second) << "two alternatives share a node";
    }
  }
  const TOVAString second = queries[2]->getText(true);
  auto_unuse<TOVASQLExpression> where(const_cast<TOVASQLExpression*>(queries[1]->getChild(2)));
  auto_unuse<TOVASQLExpression> tokyo(const_cast<TOVASQLExpression*>(queries[0]->getChild(2)));
  auto_unuse<TOVASQLExpression> condition(const_cast<TOVASQLExpression*>(tokyo->getChild(0)));
  where->replaceChild(0, condition.release());
  EXPECT_EQ(queries[0]->getText(true), queries[1]->getText(true));
  EXPECT_EQ(second, queries[2]->getText(true));
  EXPECT_EQ(original, root->getText(true));
  root.reset();
  EXPECT_EQ(second, queries[2]->getText(true));
  EXPECT_FALSE(execute(queries[2].get()).empty());
}

TEST_F(OrExpressionTest, SimpleCasesAndRefusals) {
  // Without OR: the tree itself; a chain of ORs: one alternative per operand.
  auto_unuse<TOVASQLExpression> plain = parse(std::string(kCountryWhere) + "[Geography].[Region] = 'Europe'");
  auto queries = split(plain.get());
  ASSERT_EQ(1u, queries.size());
  EXPECT_EQ(plain.get(), queries[0].get());
  auto_unuse<TOVASQLExpression> chain = parse(std::string(kCountryWhere) +
      "[Geography].[City] = 'Paris' OR [Geography].[City] = 'Tokyo' OR [Geography].[City] = 'Lyon'");
  queries = split(chain.get());
  ASSERT_EQ(3u, queries.size());
  EXPECT_EQ(std::string(kCountryWhere) + "[Geography].[City] = 'Lyon'", queries[0]->getText(true));
  EXPECT_EQ(std::string(kCountryWhere) + "[Geography].[City] = 'Paris'", queries[1]->getText(true));

  auto_unuse<TOVAOrExpressionProcessorCommon> fresh(
      new TOVAOrExpressionProcessorCommon(auto_unuse<TOVASQLExpression>::share(chain.get())));
  EXPECT_TRUE(fresh->getQueries().empty());

  // An OR at the root has no parent to take its operand.
  auto_unuse<TOVASQLExpression> where(const_cast<TOVASQLExpression*>(chain->getChild(2)));
  auto_unuse<TOVASQLExpression> orNode(const_cast<TOVASQLExpression*>(where->getChild(0)));
  auto_unuse<TOVAOrExpressionProcessorCommon> rootOr(new TOVAOrExpressionProcessorCommon(orNode));
  for (int attempt = 0; attempt < 2; ++attempt) {
    try {
      rootOr->generateQueries();
      FAIL() << "an OR at the root was split";
    } catch (const olap_api::InvalidPointerException& e) {
      EXPECT_EQ(support::COMMON_E_INVALID_POINTER, e.getCode());
      EXPECT_NE(std::string::npos, e.getMessage().string().find("parent"));
    }
    EXPECT_TRUE(rootOr->getQueries().empty());
  }
}

TEST_F(OrExpressionTest, IndependentOrsMultiplyUpToALimit) {
  // (a1 OR b1) AND (a2 OR b2) AND ... built as a producer builds it: 2^n alternatives.
  auto build = [&](int ors) {
    auto_unuse<common::TOVASQLExpressionBuilderCommon> builder(new common::TOVASQLExpressionBuilderCommon);
    builder->buildNewExpression(m_Cube.get());
    builder->buildStringNode("[Geography].[City]");
    builder->buildExpressionNode(TOVASQLExpression::TOVASQL_ET_FROM);
    builder->buildStringNode("[Geography]");
    builder->buildExpressionNode(TOVASQLExpression::TOVASQL_ET_SELECT);
    auto compare = [&](const char* field, const std::string& value) {
      builder->buildStringNode(field);
      builder->buildExpressionNode(TOVASQLExpression::TOVASQL_ET_NOTEQUAL);
      builder->buildStringNode(value);
      builder->linkFilterConstraint(2);
    };
    for (int i = 0; i < ors; ++i) {
      compare("[Geography].[City]", "a" + std::to_string(i));
      compare("[Product].[Item]", "b" + std::to_string(i));
      builder->buildExpressionNode(TOVASQLExpression::TOVASQL_ET_OR);
      if (i > 0) builder->buildExpressionNode(TOVASQLExpression::TOVASQL_ET_AND);
    }
    builder->buildExpressionNode(TOVASQLExpression::TOVASQL_ET_WHERE);
    return auto_unuse<TOVASQLExpression>(builder->takeRoot());
  };
  auto_unuse<TOVASQLExpression> three = build(3);
  auto queries = split(three.get());
  ASSERT_EQ(8u, queries.size());
  const std::string from = "SELECT [Geography].[City] FROM [Geography] WHERE ";
  EXPECT_EQ(from + "  [Geography].[City] <> 'a0' AND  [Geography].[City] <> 'a1' AND  [Geography].[City] <> 'a2'",
            queries[0]->getText(true));
  EXPECT_EQ(from + "  [Product].[Item] <> 'b0' AND  [Product].[Item] <> 'b1' AND  [Product].[Item] <> 'b2'",
            queries[7]->getText(true));

  // 2^13 alternatives are refused, and the processor is as it was.
  auto_unuse<TOVASQLExpression> many = build(13);
  auto_unuse<TOVAOrExpressionProcessorCommon> processor(
      new TOVAOrExpressionProcessorCommon(auto_unuse<TOVASQLExpression>::share(many.get())));
  try {
    processor->generateQueries();
    FAIL() << "8192 alternatives were made";
  } catch (const olap_api::QueryTooLargeException& e) {
    EXPECT_EQ(support::COMMON_E_OR_TOO_MANY_QUERIES, e.getCode());
  }
  EXPECT_TRUE(processor->getQueries().empty());
}

TEST_F(OrExpressionTest, UnionOfAlternativesGivesTheStatementsRows) {
  struct Case {
    const char* statement;
    const char* sql;
  };
  const std::string joins =
      " FROM facts f JOIN products p ON p.item = f.item JOIN months m ON m.month = f.month "
      "JOIN cities c ON c.city = f.city WHERE ";
  const Case cases[] = {
      {"SELECT [Geography].[Country] FROM [Geography] WHERE [Geography].[Region] = 'Europe' OR "
       "[Product].[Category] = 'Bikes' AND [Time].[Calendar].[Year] = '2024' OR [Geography].[City] = 'Tokyo'",
       "SELECT DISTINCT c.country|((c.region = 'Europe' OR p.category = 'Bikes') AND m.year = '2024') "
       "OR c.city = 'Tokyo'"},
      {"SELECT [Product].[Category], [Geography].[Region] FROM [Product], [Geography] WHERE "
       "[Product].[Subcategory] = 'Road' AND [Geography].[Country] = 'Japan' OR [Measures].[Sales] > 12000",
       "SELECT DISTINCT p.category, c.region|(p.subcategory = 'Road' AND c.country = 'Japan') OR f.sales > 12000"},
      {"SELECT [Time].[Calendar].[Year], [Time].[Calendar].[Quarter] FROM [Time].[Calendar] WHERE "
       "[Product].[Item] NOT LIKE '%a%' OR [Geography].[City] = 'Paris' AND [Measures].[Quantity] >= 9",
       "SELECT DISTINCT m.year, m.quarter|(p.item NOT LIKE '%a%' OR c.city = 'Paris') AND f.quantity >= 9"},
      {"SELECT [Product].[Item] FROM [Product] WHERE [Geography].[City] IN ('Lyon', 'Osaka') AND "
       "[Time].[Calendar].[Month] = 'Feb' OR [Product].[Subcategory] LIKE 'h%' OR [Measures].[Cost] BETWEEN 100 AND 101",
       "SELECT DISTINCT p.item|(c.city IN ('Lyon', 'Osaka') AND m.month_name = 'Feb') OR p.subcategory LIKE 'h%' "
       "OR f.cost BETWEEN 100 AND 101"},
      // Measures summed per group: the alternatives reach disjoint groups.
      {"SELECT [Geography].[Region], [Measures].[Sales] FROM [Geography] WHERE "
       "[Geography].[Region] = 'Europe' OR [Geography].[Region] = 'Pacific'",
       "SELECT c.region, SUM(f.sales)|c.region = 'Europe' OR c.region = 'Pacific' GROUP BY c.region"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.statement);
    const std::string sql = c.sql;
    const size_t bar = sql.find('|');
    Rows expected;
    for (auto row : vtq_testing::SampleOracle::get().rows(sql.substr(0, bar) + joins + sql.substr(bar + 1))) {
      // Only the last statement sums a measure (its last column).
      if (&c == &cases[4]) row.back() = number(std::strtod(row.back().c_str(), nullptr));
      expected.insert(row);
    }
    ASSERT_FALSE(expected.empty());
    auto_unuse<TOVASQLExpression> root = parse(c.statement);
    const Rows original = execute(root.get());
    auto queries = split(root.get());
    ASSERT_GT(queries.size(), 1u);
    Rows combined;
    size_t returned = 0;
    for (const auto& q : queries) {
      EXPECT_EQ(std::string::npos, q->getText(true).string().find(" OR "));
      Rows part = execute(q.get());
      returned += part.size();
      combined.insert(part.begin(), part.end());
    }
    EXPECT_EQ(original, combined);
    EXPECT_EQ(expected, original);
    if (&c == &cases[0]) {
      EXPECT_GT(returned, combined.size()) << "no row came from two alternatives";
    }
  }
}

class LovFilterTest : public OrExpressionTest {};

TEST_F(LovFilterTest, EachKeyPassesOnceUntilTheRowsetIsCleared) {
  auto_unuse<NUVA_o::TOVALOVUniqueRowFilterCommon> filter(new NUVA_o::TOVALOVUniqueRowFilterCommon);
  EXPECT_FALSE(filter->exists("Jan"));
  EXPECT_TRUE(filter->checkAndAddRow("Jan"));
  EXPECT_FALSE(filter->checkAndAddRow("Jan"));
  EXPECT_TRUE(filter->checkAndAddRow("jan"));
  EXPECT_TRUE(filter->checkAndAddRow(""));
  EXPECT_TRUE(filter->exists("Jan"));
  filter->clearRowset();
  EXPECT_FALSE(filter->exists("Jan"));
  EXPECT_TRUE(filter->checkAndAddRow("Jan"));
}

TEST_F(LovFilterTest, ListsOfValuesPassEachValueOnceAsSqlDistinct) {
  struct Case {
    const char* statement;
    const char* sql;
  };
  const Case cases[] = {
      // Twelve month names among the months of every year.
      {"SELECT [Time].[Calendar].[Month] FROM [Time].[Calendar]",
       "SELECT DISTINCT m.month_name FROM facts f JOIN months m ON m.month = f.month "
       "ORDER BY (SELECT MIN(rowid) FROM months WHERE month_name = m.month_name)"},
      {"SELECT [Time].[Fiscal].[Quarter] FROM [Time].[Fiscal] WHERE [Time].[Fiscal].[Year] = 'FY2024'",
       "SELECT DISTINCT m.fiscal_quarter FROM facts f JOIN months m ON m.month = f.month "
       "WHERE m.fiscal_year = 'FY2024' ORDER BY (SELECT MIN(rowid) FROM months WHERE fiscal_quarter = m.fiscal_quarter)"},
      {"SELECT [Product].[Subcategory] FROM [Product] WHERE [Product].[Subcategory] LIKE '%o%'",
       "SELECT DISTINCT p.subcategory FROM facts f JOIN products p ON p.item = f.item "
       "WHERE p.subcategory LIKE '%o%' ORDER BY (SELECT MIN(rowid) FROM products WHERE subcategory = p.subcategory)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.statement);
    auto_unuse<TOVASQLExpression> root = parse(c.statement);
    EXPECT_TRUE(root->useRegularLOVRowset());
    auto_unuse<NUVA_o::RowsetDataModel> model(m_Cube->executeQuery(root.get()));
    const auto expected = vtq_testing::SampleOracle::get().rows(c.sql);
    ASSERT_EQ(expected.size(), model->getRowCount());
    for (size_t r = 0; r < expected.size(); ++r)
      EXPECT_EQ(expected[r][0], model->getRow(r)->getDatum(0).getStringValue().string()) << "row " << r;
  }
}

}  // namespace
