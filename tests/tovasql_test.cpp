#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "VtqTest.h"
#include "provider/memory/MemoryCube.h"
#include "support/ErrorCodes.h"
#include "support/Exceptions.h"
#include "tovasqlexpressioncommon.h"
#include "tovasqllexer.h"

using common::TOVASQLExpressionCommon;
using NUVA_o::tovasql_parser::TOVASQLExpression;

namespace {

std::vector<std::string> fixtureStatements() {
  std::ifstream in(vtq_testing::sourceDir() + "/tests/fixtures/statements.txt");
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);)
    if (!line.empty() && line[0] != '#') lines.push_back(line);
  return lines;
}

// Type and string value of every node, one per line, children indented.
std::string tree(const TOVASQLExpression* node, int depth = 0) {
  std::string out(static_cast<size_t>(depth) * 2, ' ');
  out += std::to_string(node->getType());
  auto t = node->getType();
  if (t == TOVASQLExpression::TOVASQL_ET_FIELD || t == TOVASQLExpression::TOVASQL_ET_HIERARCHY ||
      t == TOVASQLExpression::TOVASQL_ET_STRINGVALUE)
    out += " " + node->getStringValue().string();
  if (t == TOVASQLExpression::TOVASQL_ET_NUMERICVALUE) out += " " + node->getText(false).string();
  out += "\n";
  for (unsigned i = 0; i < node->getNumChildren(); ++i) {
    auto_unuse<TOVASQLExpression> c(const_cast<TOVASQLExpression*>(node->getChild(i)));
    out += tree(c.get(), depth + 1);
  }
  return out;
}

class TovasqlTest : public vtq_testing::VtqTest {
 protected:
  void SetUp() override {
    VtqTest::SetUp();
    m_Cube.reset(memory::loadCube(vtq_testing::sampleCubePath()));
  }
  void TearDown() override {
    m_Cube.reset();
    VtqTest::TearDown();
  }
  auto_unuse<TOVASQLExpressionCommon> root() {
    return auto_unuse<TOVASQLExpressionCommon>(new TOVASQLExpressionCommon(m_Cube.get()));
  }
  auto_unuse<TOVASQLExpressionCommon> parse(const TOVAString& text) {
    auto_unuse<TOVASQLExpressionCommon> r = root();
    r->setTextAndCreateTree(text);
    return r;
  }
  // The code of the exception that parsing `text` throws, 0 when it parses.
  uint32_t failure(const TOVAString& text, std::vector<TOVAString>* inserts = nullptr) {
    auto_unuse<TOVASQLExpressionCommon> r = root();
    try {
      r->setTextAndCreateTree(text);
    } catch (const olap_api::ApiException& e) {
      if (inserts) *inserts = e.getInserts();
      // A failed parse leaves an empty root that parses again.
      EXPECT_EQ(0u, r->getNumChildren());
      EXPECT_EQ(TOVASQLExpression::TOVASQL_ET_NONE, r->getType());
      r->setTextAndCreateTree("SELECT [Product].[Category] FROM [Product]");
      EXPECT_EQ(TOVASQLExpression::TOVASQL_ET_SELECT, r->getType());
      return e.getCode();
    }
    return 0;
  }
  auto_unuse<memory::MemoryCube> m_Cube;
};

TEST_F(TovasqlTest, EveryFixtureStatementPrintsAsTextThatReadsBackTheSame) {
  const auto statements = fixtureStatements();
  ASSERT_GE(statements.size(), 20u);
  for (const std::string& statement : statements) {
    auto_unuse<TOVASQLExpressionCommon> first = parse(statement);
    TOVAString printed = first->getText(true);
    auto_unuse<TOVASQLExpressionCommon> second = parse(printed);
    EXPECT_EQ(printed, second->getText(true)) << statement;
    EXPECT_EQ(tree(first.get()), tree(second.get())) << statement;
  }
  EXPECT_EQ(TOVAString("SELECT [Product].[Category], [Time].[Calendar].[Year], [Measures].[Sales] "
                       "FROM [Product], [Time].[Calendar] WHERE [Geography].[Region] = 'Europe'"),
            parse(statements[2])->getText(true));
  // Operands of AND and OR keep the blank they print before themselves.
  EXPECT_EQ(TOVAString("SELECT [Product].[Item], [Measures].[Sales] FROM [Product] WHERE  "
                       "[Measures].[Sales] >= 1000.5 AND  [Measures].[Cost] < 700"),
            parse(statements[5])->getText(true));
  EXPECT_EQ(TOVAString("[Product].[Category]"),
            auto_unuse<TOVASQLExpression>(const_cast<TOVASQLExpression*>(
                parse(statements[0])->child(0)->getChild(0)))->getText(false));
}

TEST_F(TovasqlTest, StatementsBuildTheirTrees) {
  EXPECT_EQ("1\n  2\n    3 [Product].[Category]\n    3 [Measures].[Sales]\n  4\n    5 [Product]\n",
            tree(parse("SELECT [Product].[Category], [Measures].[Sales] FROM [Product]").get()));
  // AND and OR share one level and group from the left.
  auto_unuse<TOVASQLExpressionCommon> grouped =
      parse("select [Product].[Item] from [Product] where [Product].[Item] = 'x' or "
            "[Product].[Category] = 'y' and [Geography].[City] = 'z'");
  EXPECT_EQ("6\n  7\n    8\n      9\n        3 [Product].[Item]\n        22 x\n      9\n"
            "        3 [Product].[Category]\n        22 y\n    9\n      3 [Geography].[City]\n"
            "      22 z\n",
            tree(grouped->child(2)));
  // The LIST holds the values last first; the text lists them as written.
  auto_unuse<TOVASQLExpressionCommon> in =
      parse("SELECT [Product].[Item] FROM [Product] WHERE [Product].[Item] NOT IN ('x', 'y')");
  EXPECT_EQ("6\n  18\n    3 [Product].[Item]\n    25\n      22 y\n      22 x\n", tree(in->child(2)));
  EXPECT_EQ(TOVAString(" WHERE  [Product].[Item] NOT IN ( 'x', 'y')"), in->child(2)->getText(true));
  EXPECT_EQ("6\n  15\n    3 [Measures].[Sales]\n    23 1\n    23 5\n",
            tree(parse("SELECT [Product].[Item] FROM [Product] WHERE [Measures].[Sales] BETWEEN 1 AND 5")
                     ->child(2)));
  EXPECT_EQ("6\n  15\n    3 [Product].[Item]\n    22 a\n    22 e\n",
            tree(parse("SELECT [Product].[Item] FROM [Product] WHERE [Product].[Item] BETWEEN 'a' AND 'e'")
                     ->child(2)));
  // A quoted value that names a field is resolved as one.
  EXPECT_EQ("6\n  9\n    3 [Product].[Item]\n    3 [Product].[Category]\n",
            tree(parse("SELECT [Product].[Item] FROM [Product] WHERE [Product].[Item] = "
                       "'[Product].[Category]'")->child(2)));

  TOVAString dump;
  parse("SELECT [Product].[Category] FROM [Product] WHERE [Product].[Category] LIKE 'B%'")->toString(dump);
  EXPECT_EQ(TOVAString("Type:TOVASQL_ET_SELECT, chld:3\n"
                       "|-Type:TOVASQL_ET_FIELDLIST, chld:1\n"
                       "|-|-Type:TOVASQL_ET_FIELD, chld:0, str:[Product].[Category]\n"
                       "|-Type:TOVASQL_ET_FROM, chld:1\n"
                       "|-|-Type:TOVASQL_ET_HIERARCHY, chld:0, str:[Product]\n"
                       "|-Type:TOVASQL_ET_WHERE, chld:1\n"
                       "|-|-Type:TOVASQL_ET_LIKE, chld:2\n"
                       "|-|-|-Type:TOVASQL_ET_FIELD, chld:0, str:[Product].[Category]\n"
                       "|-|-|-Type:TOVASQL_ET_STRINGVALUE, chld:0, str:B%\n"),
            dump);
}

TEST_F(TovasqlTest, ScannerReadsKeywordsNumbersAndQuotes) {
  TOVASQLLexer lexer("SELECT1 SELECTED a='x' \"q\"\"d\" -2.5e3 <> <= >= < > ; * :", nullptr);
  std::vector<int> tokens;
  std::vector<std::string> texts;
  for (int t = 0; (t = lexer.nextToken()) != TOVASQLLexer::TT_END;) {
    tokens.push_back(t);
    texts.push_back(TOVAString(lexer.getTokenText()).string());
  }
  EXPECT_EQ((std::vector<int>{24, 2, 3, 3, 5, 4, 11, 2, 13, 15, 16, 14, 17, 8, 27, 7}), tokens);
  EXPECT_EQ("1", texts[1]);
  EXPECT_EQ("SELECTED", texts[2]);
  EXPECT_EQ("a=", texts[3]);
  EXPECT_EQ("x", texts[4]);
  EXPECT_EQ("q\"d", texts[5]);
  EXPECT_EQ("2.5e3", texts[7]);

  // Regression: a minus sign was dropped, so "= -42" selected 42.
  auto_unuse<TOVASQLExpressionCommon> negative =
      parse("SELECT [Product].[Item] FROM [Product] WHERE [Measures].[Sales] = -42");
  auto_unuse<TOVASQLExpression> value(const_cast<TOVASQLExpression*>(negative->child(2)->getChild(0)));
  auto_unuse<TOVASQLExpression> number(const_cast<TOVASQLExpression*>(value->getChild(1)));
  EXPECT_EQ(-42.0, number->getDoubleValue());
  EXPECT_EQ(TOVAString(" -42"), number->getText(true));

  // Regression: quotes inside a value were printed single, so the text did not read back.
  auto_unuse<TOVASQLExpressionCommon> quoted =
      parse("SELECT [Product].[Item] FROM [Product] WHERE [Product].[Item] = 'O''Brien'");
  EXPECT_EQ(TOVAString(" WHERE [Product].[Item] = 'O''Brien'"), quoted->child(2)->getText(true));

  // Regression: text after a line feed was ignored; only blanks may follow it now.
  EXPECT_EQ(0u, failure("SELECT [Product].[Item] FROM [Product]\n \r\n\t"));
  EXPECT_EQ(0u, failure("SELECT [Product].[Item] FROM [Product];\n"));
  std::vector<TOVAString> inserts;
  EXPECT_EQ(support::COMMON_E_SYNTAX,
            failure("SELECT [Product].[Item] FROM [Product]\nWHERE [Product].[Item] = 'x'", &inserts));
  ASSERT_EQ(2u, inserts.size());
  EXPECT_EQ(TOVAString("WHERE [Product].[Item] = 'x'"), inserts[0]);

  EXPECT_EQ(support::COMMON_E_SYNTAX, failure("SELECT * FROM [Product]"));
  EXPECT_EQ(support::COMMON_E_SYNTAX,
            failure("SELECT [Product].[Item] FROM [Product] WHERE [Product].[Item]='x'"));
  EXPECT_EQ(support::COMMON_E_SYNTAX, failure("SELECT [Product].[Item] FROM [Product] WHERE [Measures].[Sales] = ."));
  EXPECT_EQ(support::COMMON_E_INVALID_NUMBER,
            failure("SELECT [Product].[Item] FROM [Product] WHERE [Measures].[Sales] = 1e999"));
}

TEST_F(TovasqlTest, BadStatementsFailWithCodesAndLeaveTheRootUsable) {
  std::vector<TOVAString> inserts;
  EXPECT_EQ(support::COMMON_E_TOVASQL_UNTERMINATED_TEXT,
            failure("SELECT [Product].[Item] FROM [Product] WHERE [Product].[Item] = 'Bik", &inserts));
  ASSERT_EQ(2u, inserts.size());
  EXPECT_EQ(TOVAString("Bik"), inserts[1]);
  EXPECT_EQ(support::COMMON_E_TOVASQL_NOT_A_FIELD, failure("SELECT [Product].[Colour] FROM [Product]", &inserts));
  EXPECT_EQ(TOVAString("'[Product].[Colour]'"), inserts[0]);
  EXPECT_EQ(support::COMMON_E_TOVASQL_NOT_A_HIERARCHY,
            failure("SELECT [Product].[Item] FROM [Product].[Item]"));
  EXPECT_EQ(support::COMMON_E_SYNTAX, failure("SELECT [Product].[Item] FROM"));
  EXPECT_EQ(support::COMMON_E_SYNTAX, failure(""));

  // No parentheses group conditions: deep nesting stops at the first one.
  std::string nested = "SELECT [Product].[Item] FROM [Product] WHERE " + std::string(10000, '(') +
                       "[Product].[Item] = 'x'" + std::string(10000, ')');
  EXPECT_EQ(support::COMMON_E_SYNTAX, failure(nested));

  // Long lists cost no parser stack; conditions nest only MAX_DEPTH deep.
  std::string in = "SELECT [Product].[Item] FROM [Product] WHERE [Product].[Item] IN ('v0'";
  for (int i = 1; i < 100000; ++i) in += ", 'v" + std::to_string(i) + "'";
  auto_unuse<TOVASQLExpressionCommon> wide = parse(in + ")");
  auto_unuse<TOVASQLExpression> inList(const_cast<TOVASQLExpression*>(wide->child(2)->getChild(0)));
  auto_unuse<TOVASQLExpression> list(const_cast<TOVASQLExpression*>(inList->getChild(1)));
  EXPECT_EQ(100000u, list->getNumChildren());
  std::string chain = "SELECT [Product].[Item] FROM [Product] WHERE [Product].[Item] = 'x'";
  for (int i = 0; i < TOVASQLExpression::MAX_DEPTH; ++i) chain += " OR [Product].[Item] = 'x'";
  EXPECT_EQ(support::COMMON_E_PARSER_STACK, failure(chain));

  // Every code unit, alone and inside a statement: it parses or fails with a coded error.
  for (unsigned c = 0; c < 0x10000; c += (c < 0x100 ? 1 : 251)) {
    TOVAString one(std::u16string(1, static_cast<char16_t>(c)));
    failure(one);
    failure(TOVAString("SELECT [Product].[Item] FROM [Product] WHERE [Product].[Item] = ") + one);
  }
}

TEST_F(TovasqlTest, FuzzCorpusParsesOrFailsWithACode) {
  namespace fs = std::filesystem;
  fs::path dir = fs::path(vtq_testing::sourceDir()) / "fuzz" / "corpus" / "statement";
  size_t files = 0;
  for (const auto& entry : fs::directory_iterator(dir)) {
    std::ifstream in(entry.path(), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    uint32_t code = failure(bytes);
    if (code == 0) {
      auto_unuse<TOVASQLExpressionCommon> r = parse(bytes);
      EXPECT_EQ(r->getText(true), parse(r->getText(true))->getText(true)) << entry.path();
    }
    ++files;
  }
  EXPECT_GE(files, 20u);
}

TEST_F(TovasqlTest, MalformedBuildingSequencesAreRefused) {
  // Regression: the building steps popped an empty queue and read past it.
  auto_unuse<TOVASQLExpressionCommon> r = root();
  EXPECT_THROW(r->read_queue(true), olap_api::InvalidArgumentException);
  r->add_expression_node(TOVASQLExpression::TOVASQL_ET_INLIST);
  r->add_string_node("only a value");
  try {
    r->build_constraint(0);
    ADD_FAILURE() << "an IN list without its operand";
  } catch (const olap_api::InvalidArgumentException& e) {
    EXPECT_EQ(support::COMMON_E_TOVASQL_BUILD_SEQUENCE, e.getCode());
  }
  r->clear_queue();
  r->add_string_node("[Product].[Item]");
  EXPECT_THROW(r->add_expression_node(TOVASQLExpression::TOVASQL_ET_AND),
               olap_api::InvalidArgumentException);
  r->clear_queue();
  EXPECT_THROW(r->add_expression_node(TOVASQLExpression::TOVASQL_ET_WHERE),
               olap_api::InvalidArgumentException);
  EXPECT_THROW(r->add_expression_node(TOVASQLExpression::TOVASQL_ET_LIST, 2),
               olap_api::InvalidArgumentException);
  EXPECT_EQ(0u, r->queue_size());

  // A value of the wrong kind asked of a node.
  auto_unuse<TOVASQLExpressionCommon> s = parse("SELECT [Product].[Item] FROM [Product]");
  try {
    s->getStringValue();
    ADD_FAILURE();
  } catch (const olap_api::UnsupportedOperationException& e) {
    EXPECT_EQ(support::COMMON_E_TOVASQL_WRONG_KIND, e.getCode());
  }
  EXPECT_THROW(s->getDoubleValue(), olap_api::UnsupportedOperationException);
  EXPECT_EQ(nullptr, s->getChild(7));
  auto_unuse<TOVASQLExpressionCommon> n = root();
  n->add_numeric_node("12x");
  auto_unuse<TOVASQLExpressionCommon> bad = n->read_queue(false);
  EXPECT_THROW(bad->getDoubleValue(), olap_api::InvalidCastException);
}

TEST_F(TovasqlTest, ColumnsCopiesAndInversions) {
  m_Cube->setStringColumnDisplaySize(40);
  auto_unuse<TOVASQLExpressionCommon> s = parse(
      "SELECT [Product].[Category], [Measures].[Sales] FROM [Product] WHERE [Measures].[Sales] < 5");
  TOVASQLExpression::ColumnInfos columns;
  s->getColumnInfos(columns);
  ASSERT_EQ(2u, columns.size());
  EXPECT_EQ(TOVAString("[Product].[Category]"), columns[0]->getUniqueName());
  EXPECT_EQ(40u, columns[0]->getColumnDisplaySize());
  EXPECT_EQ(1u, columns[1]->getOrdinal());
  EXPECT_EQ(22u, columns[1]->getColumnDisplaySize());

  auto_unuse<TOVASQLExpression> copy(s->clone());
  EXPECT_EQ(s->getText(true), copy->getText(true));
  EXPECT_EQ(tree(s.get()), tree(copy.get()));
  auto_unuse<TOVASQLExpression> where(const_cast<TOVASQLExpression*>(s->getChild(2)));
  auto_unuse<TOVASQLExpression> less(const_cast<TOVASQLExpression*>(where->getChild(0)));
  auto_unuse<TOVASQLExpression> inverted(less->invert());
  EXPECT_EQ(TOVAString(" [Measures].[Sales] >= 5"), inverted->getText(false));
  EXPECT_EQ(nullptr, where->invert());
  // A replaced child shows in the tree that holds it; the copy keeps its own.
  s->replaceChild(2, nullptr);
  EXPECT_NE(s->getText(true), copy->getText(true));

  EXPECT_TRUE(parse("SELECT [Product].[Category] FROM [Product]")->useRegularLOVRowset());
  EXPECT_FALSE(parse("SELECT [Measures].[Sales] FROM [Product]")->useRegularLOVRowset());
  EXPECT_TRUE(parse("SELECT [Product].[Item] FROM [Product] WHERE [Product].[Category] = 'Bikes'")
                  ->useRegularLOVRowset());
  EXPECT_FALSE(parse("SELECT [Product].[Category] FROM [Product] WHERE [Product].[Item] = 'x'")
                   ->useRegularLOVRowset());
}

TEST_F(TovasqlTest, TwoThreadsParseAtOnce) {
  const auto statements = fixtureStatements();
  std::vector<std::string> printed[2];
  auto work = [&](int k) {
    for (int round = 0; round < 20; ++round)
      for (const std::string& statement : statements) {
        auto_unuse<TOVASQLExpressionCommon> r(new TOVASQLExpressionCommon(m_Cube.get()));
        r->setTextAndCreateTree(statement);
        if (round == 0) printed[k].push_back(r->getText(true).string());
      }
  };
  std::thread a(work, 0), b(work, 1);
  a.join();
  b.join();
  EXPECT_EQ(printed[0], printed[1]);
  EXPECT_EQ(statements.size(), printed[0].size());
}

}  // namespace
