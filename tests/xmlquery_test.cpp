#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "CountingCube.h"
#include "NUVA_o/ColumnInfo.h"
#include "NUVA_o/Flattener.h"
#include "SampleOracle.h"
#include "ViewTesting.h"
#include "VtqTest.h"
#include "common/CommonFlattener.h"
#include "common/CommonParameter.h"
#include "common/TOVAXMLQueryProcessor.h"
#include "provider/memory/MemoryCube.h"
#include "support/ErrorCodes.h"
#include "support/Exceptions.h"
#include "tovasqlexpressionbuildercommon.h"
#include "tovaxmlqueryprocessorcommon.h"

using NUVA_o::tovasql_parser::TOVASQLExpression;

namespace {

constexpr uint32_t kParameterRefused = 0xC203100C;  // the memory provider's refused value

std::string read_file(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string example(const std::string& name) {
  return read_file(vtq_testing::sourceDir() + "/examples/sales/" + name);
}

// A document around the given QUERY content.
std::string document(const std::string& query) {
  return "<DPCOMMANDS><DPCOMMAND><DP><QUERY>" + query + "</QUERY></DP></DPCOMMAND></DPCOMMANDS>";
}

std::string objects(std::initializer_list<const char*> keys) {
  std::string out = "<QUERYRESULT>";
  int index = 0;
  for (const char* key : keys)
    out += std::string("<QUERYOBJECT KEY=\"") + key + "\" INDEX=\"" + std::to_string(index++) + "\"/>";
  return out + "</QUERYRESULT>";
}

std::string filter(const std::string& key, const std::string& op, std::initializer_list<const char*> values,
                   const char* attribute = "CAPTION") {
  std::string out = "<FILTER KEY=\"" + key + "\"><CONDITION OPERATORCONDITION=\"" + op + "\">";
  for (const char* v : values) out += std::string("<CONSTANT ") + attribute + "=\"" + v + "\"/>";
  return out + "</CONDITION></FILTER>";
}

std::string where(const std::string& condition) {
  return "<QUERYCONDITION><WHERE>" + condition + "</WHERE></QUERYCONDITION>";
}

// Rows as text: numbers to the cent, empty cells empty.
using Rows = std::vector<std::vector<std::string>>;

std::string number_text(double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.2f", value);
  return buffer;
}

Rows rows_of(const NUVA_o::RowsetDataModel& model) {
  Rows out;
  for (size_t r = 0; r < model.getRowCount(); ++r) {
    std::vector<std::string> row;
    for (size_t c = 0; c < model.getColumnInfos().size(); ++c) {
      const NUVA_o::CellValue& v = model.getRow(r)->getDatum(static_cast<unsigned>(c));
      row.push_back(v.getType() == support::DT_DOUBLE ? number_text(v.getRealValue())
                                                      : v.getStringValue().string());
    }
    out.push_back(std::move(row));
  }
  return out;
}

// The oracle's rows the same way; the columns from `texts` on are sums.
Rows oracle(const std::string& sql, size_t texts) {
  Rows rows = vtq_testing::SampleOracle::get().rows(sql);
  for (auto& row : rows)
    for (size_t c = texts; c < row.size(); ++c)
      if (!row[c].empty()) row[c] = number_text(std::strtod(row[c].c_str(), nullptr));
  return rows;
}

class XmlQueryTest : public vtq_testing::VtqTest {
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
  auto_unuse<NUVA_o::RowsetDataModel> run(const std::string& text) {
    auto_unuse<NUVA_o::FlattenerQuery> query(m_Flattener->createQuery());
    query->setQueryText(TOVAString(text));
    return auto_unuse<NUVA_o::RowsetDataModel>(query->execute());
  }
  Rows rows(const std::string& text) { return rows_of(*run(text)); }
  // The code `text` fails with, 0 when it runs.
  uint32_t failure(const std::string& text) {
    try {
      run(text);
    } catch (const olap_api::ApiException& e) {
      return e.getCode();
    }
    return 0;
  }
  auto_unuse<NUVA_o::Parameter> keyDate() {
    return auto_unuse<NUVA_o::Parameter>(m_Sample->getParameterByName("[KeyDate]"));
  }
  std::string keyDateValue() {
    auto values = keyDate()->getParameterValues();
    return values.empty() ? "(none)" : common::parameterValueText(*values.front()).string();
  }

  auto_unuse<memory::MemoryCube> m_Sample;
  auto_unuse<vtq_testing::CountingCube> m_Cube;
  auto_unuse<NUVA_o::Flattener> m_Flattener;
};

const char* kCategoryRegionSql =
    "SELECT p.category, c.region, SUM(f.sales), SUM(f.quantity) FROM facts f JOIN products p ON "
    "p.item = f.item JOIN months m ON m.month = f.month JOIN cities c ON c.city = f.city WHERE m.year "
    "BETWEEN '2023' AND '2024' AND p.category <> 'Bikes' GROUP BY p.category, c.region ORDER BY "
    "(SELECT MIN(rowid) FROM products WHERE category = p.category), (SELECT MIN(rowid) FROM cities "
    "WHERE region = c.region)";

TEST_F(XmlQueryTest, ExampleDocumentsGiveTheRowsOfTheirStatementsAndOfSql) {
  // Conditions: the equivalent statement and SQL.
  Rows document = rows(example("category_region.query.xml"));
  ASSERT_EQ(9u, document.size());  // three categories in three regions
  EXPECT_EQ(oracle(kCategoryRegionSql, 2), document);
  EXPECT_EQ(rows("SELECT [Product].[Category], [Geography].[Region], [Measures].[Sales], "
                 "[Measures].[Quantity] FROM [Product], [Geography] WHERE [Time].[Calendar].[Year] "
                 "BETWEEN '2023' AND '2024' AND [Product].[Category] <> 'Bikes'"),
            document);

  // Grouping sets: the rows of one statement per set, each leaving the other column empty.
  document = rows(example("grouping_sets.query.xml"));
  Rows expected;
  for (auto row : rows("SELECT [Product].[Category], [Measures].[Sales] FROM [Product]"))
    expected.push_back({row[0], "", row[1]});
  for (auto row : rows("SELECT [Geography].[Region], [Measures].[Sales] FROM [Geography]"))
    expected.push_back({"", row[0], row[1]});
  EXPECT_EQ(expected, document);
  EXPECT_EQ(oracle("SELECT a, b, s FROM (SELECT 1 AS g, (SELECT MIN(rowid) FROM products WHERE "
                   "category = p.category) AS k, p.category AS a, NULL AS b, SUM(f.sales) AS s FROM "
                   "facts f JOIN products p ON p.item = f.item GROUP BY p.category UNION ALL SELECT 2, "
                   "(SELECT MIN(rowid) FROM cities WHERE region = c.region), NULL, c.region, "
                   "SUM(f.sales) FROM facts f JOIN cities c ON c.city = f.city GROUP BY c.region) "
                   "ORDER BY g, k",
                   2),
            document);

  // A key date: the parameter keeps it, so the statement afterwards sees the same facts.
  const std::string before = keyDateValue();
  document = rows(example("key_date.query.xml"));
  EXPECT_EQ("[Time].[Calendar].[2024].[Q2]", keyDateValue()) << "was " << before;
  EXPECT_EQ(oracle("SELECT m.year, SUM(f.sales) FROM facts f JOIN months m ON m.month = f.month "
                   "JOIN cities c ON c.city = f.city WHERE c.region = 'Europe' AND f.month <= "
                   "'2024-06' GROUP BY m.year ORDER BY (SELECT MIN(rowid) FROM months WHERE year = "
                   "m.year)",
                   1),
            document);
  ASSERT_EQ(2u, document.size());  // 2023 and the first half of 2024
  EXPECT_EQ(rows("SELECT [Time].[Calendar].[Year], [Measures].[Sales] FROM [Time].[Calendar] "
                 "WHERE [Geography].[Region] = 'Europe'"),
            document);
}

struct Notices : NUVA_o::Parameter::ParameterListener {
  int count = 0;
  void parameterChanged(NUVA_o::Parameter*) override { ++count; }
};

TEST_F(XmlQueryTest, AFailedDocumentLeavesTheKeyDateAsItWas) {
  Notices notices;
  keyDate()->addListener(&notices);
  common::setParameterValueTexts(*keyDate(), {"[Time].[Calendar].[2024]"});
  ASSERT_EQ(1, notices.count);
  const std::string keyDateFilter =
      filter("[KeyDate]", "Equal", {"[Time].[Calendar].[2023].[Q4]"}, "VALUE");
  const std::string good = objects({"[Time].[Calendar].[Year]", "[Measures].[Sales]"});
  // Regression: a value the parameter refused left its transaction open, so the parameter
  // kept the half-made value and never delivered a change again.
  EXPECT_EQ(kParameterRefused,
            failure(document(good + where(filter("[KeyDate]", "Equal", {"[Time].[Calendar].[1999]"}, "VALUE")))));
  // Failures after the key-date step roll it back too: a bad column, a bad condition, a tree
  // the plan refuses.
  EXPECT_EQ(support::COMMON_E_XMLQ_UNKNOWN_KEY,
            failure(document(objects({"[Product].[Colour]"}) + where(keyDateFilter))));
  EXPECT_EQ(support::COMMON_E_XMLQ_CONSTANT_COUNT,
            failure(document(good + where("<OPERATOR VALUE=\"AND\">" + keyDateFilter +
                                          filter("[Product].[Category]", "Between", {"A"}) + "</OPERATOR>"))));
  EXPECT_EQ(support::COMMON_E_FLAT_WRONG_TYPE,
            failure(document(good + where("<OPERATOR VALUE=\"AND\">" + keyDateFilter +
                                          filter("[Measures].[Sales]", "Like", {"1%"}) + "</OPERATOR>"))));
  EXPECT_EQ(0, m_Cube->executed);
  EXPECT_EQ("[Time].[Calendar].[2024]", keyDateValue());
  EXPECT_FALSE(keyDate()->isInTransaction());
  EXPECT_EQ(1, notices.count);
  // The parameter delivers changes again, from the shell's setter and from a document.
  common::setParameterValueTexts(*keyDate(), {"[Time].[Calendar].[2025]"});
  EXPECT_EQ(2, notices.count);
  EXPECT_EQ(1u, rows(document(good + where(keyDateFilter))).size());  // 2023 alone
  EXPECT_EQ("[Time].[Calendar].[2023].[Q4]", keyDateValue());
  EXPECT_EQ(3, notices.count);
  // Flat statements honour the key date: months up to December 2023 only.
  EXPECT_EQ(oracle("SELECT SUM(f.sales) FROM facts f WHERE f.month <= '2023-12'", 0),
            rows("SELECT [Measures].[Sales] FROM [Product]"));
  keyDate()->removeListener(&notices);
}

TEST_F(XmlQueryTest, BadDocumentsFailWithACodeBeforeTheProvider) {
  const std::string good = objects({"[Product].[Category]", "[Measures].[Sales]"});
  const std::string sales = filter("[Measures].[Sales]", "Greater", {"100"}, "VALUE");
  std::string manyFilters = "<OPERATOR VALUE=\"OR\">";
  for (int i = 0; i < 10000; ++i) manyFilters += sales;
  manyFilters += "</OPERATOR>";
  std::string deep;
  for (int i = 0; i < 5000; ++i) deep += "<OPERATOR VALUE=\"AND\">";
  deep += sales;
  for (int i = 0; i < 5000; ++i) deep += "</OPERATOR>";
  const std::string wellFormed = document(good + where(sales));
  // Conditions come with a key-date filter in front, which must not stick when they fail.
  auto where = [](const std::string& condition) {
    return ::where("<OPERATOR VALUE=\"AND\">" +
                   filter("[KeyDate]", "Equal", {"[Time].[Calendar].[2023]"}, "VALUE") + condition +
                   "</OPERATOR>");
  };
  const std::vector<std::pair<std::string, uint32_t>> cases = {
      {wellFormed.substr(0, wellFormed.size() / 2), support::COMMON_E_XMLQ_NOT_WELL_FORMED},
      {"<!DOCTYPE D [<!ENTITY e \"[Product].[Category]\">]>" +
           document("<QUERYRESULT><QUERYOBJECT KEY=\"&e;\"/></QUERYRESULT>"),
       support::COMMON_E_XMLQ_NOT_WELL_FORMED},
      {"<DPCOMMAND/>", support::COMMON_E_XMLQ_MISSING_ELEMENT},
      {"<DPCOMMANDS><DPCOMMAND><DP><QUERIES/></DP></DPCOMMAND></DPCOMMANDS>",
       support::COMMON_E_XMLQ_MISSING_ELEMENT},
      {document("<QUERYRESULT/>"), support::COMMON_E_XMLQ_MISSING_ELEMENT},
      {document("<QUERYRESULT><QUERYOBJEKT KEY=\"[Product].[Category]\"/></QUERYRESULT>"),
       support::COMMON_E_XMLQ_MISSING_ELEMENT},
      {document(objects({"[Product].[Colour]"})), support::COMMON_E_XMLQ_UNKNOWN_KEY},
      {document(objects({"[Nowhere].[Thing]"})), support::COMMON_E_XMLQ_UNKNOWN_KEY},
      {document("<QUERYRESULT><QUERYOBJECT KEY=\"[Product].[Category]\" INDEX=\"one\"/></QUERYRESULT>"),
       support::COMMON_E_XMLQ_BAD_VALUE},
      {document(good + where(filter("[Product].[Colour]", "Equal", {"Red"}))),
       support::COMMON_E_XMLQ_UNKNOWN_KEY},
      {document(good + where("<FILTRE KEY=\"[Product].[Category]\"/>")),
       support::COMMON_E_XMLQ_UNEXPECTED_ELEMENT},
      {document(good + where("<OPERATOR VALUE=\"XOR\">" + sales + sales + "</OPERATOR>")),
       support::COMMON_E_XMLQ_BAD_VALUE},
      {document(good + where("<OPERATOR VALUE=\"AND\"/>")), support::COMMON_E_XMLQ_MISSING_ELEMENT},
      {document(good + where("<FILTER KEY=\"[Product].[Category]\"/>")),
       support::COMMON_E_XMLQ_MISSING_ELEMENT},
      {document(good + where(filter("[Product].[Category]", "Between", {"A"}))),
       support::COMMON_E_XMLQ_CONSTANT_COUNT},
      {document(good + where(filter("[Product].[Category]", "Equal", {}))),
       support::COMMON_E_XMLQ_MISSING_ELEMENT},
      {document(good + where(filter("[Product].[Category]", "Equal", {"A", "B"}))),
       support::COMMON_E_XMLQ_CONSTANT_COUNT},
      {document(good + where(filter("[Product].[Category]", "StartsWith", {"B"}))),
       support::COMMON_E_XMLQ_UNSUPPORTED_OPERATOR},
      {document(good + where(filter("[Product].[Category]", "Resembles", {"B"}))),
       support::COMMON_E_XMLQ_BAD_VALUE},
      {document(good + where(filter("[Product].[Category]", "Equal", {"B"}, "COLOUR"))),
       support::COMMON_E_XMLQ_CONSTANT_ATTRIBUTE},
      {document(good + where(filter("[Measures].[Sales]", "Equal", {"plenty"}, "VALUE"))),
       support::COMMON_E_FLAT_WRONG_TYPE},
      {document(good + "<GROUPINGSETS><GROUPINGSET><INDEX VALUE=\"7\"/></GROUPINGSET></GROUPINGSETS>"),
       support::COMMON_E_TOVASQL_UNKNOWN_COLUMN},
      {document(good + "<GROUPINGSETS><GROUPINGSET><INDEX VALUE=\"0\"/></GROUPINGSET></GROUPINGSETS>"),
       support::COMMON_E_XMLQ_GROUPING_SET_MEASURE},
      {document("<QUERYRESULT><QUERYOBJECT KEY=\"[Product].[Category]\" INDEX=\"0\"/>"
                "<QUERYOBJECT KEY=\"[Measures].[Sales]\" INDEX=\"0\"/></QUERYRESULT>"),
       support::COMMON_E_TOVASQL_DUPLICATE_COLUMN},
      {document(good + where(filter("[KeyDate]", "Equal", {"[Time].[Calendar].[2024]"}, "VALUE"))),
       support::COMMON_E_XMLQ_LIMIT},  // a second key date
      {document(good + where(manyFilters)), support::COMMON_E_XMLQ_LIMIT},
      {document(good + where(deep)), support::COMMON_E_XMLQ_LIMIT},
  };
  for (const auto& [text, code] : cases) {
    SCOPED_TRACE(text.substr(0, 300));
    EXPECT_EQ(code, failure(text));
  }
  EXPECT_EQ(0, m_Cube->executed);
  EXPECT_EQ("(none)", keyDateValue());
  EXPECT_FALSE(keyDate()->isInTransaction());
  // The flattener stays usable.
  EXPECT_EQ(4u, rows(document(good + where(sales))).size());
}


// The tree of a document, printed; the processor is released before the tree.
std::string tree_text(NUVA_o::Cube* cube, const std::string& text) {
  auto_unuse<common::TOVAXMLQueryProcessor> processor(createCommonXMLQueryProcessor(cube));
  auto_unuse<TOVASQLExpression> tree(processor->parseXML(TOVAString(text)));
  processor.reset();
  return tree->getText(false).string() + (tree->doesExpressionContainGroupingSet() ? " [sets]" : "");
}

TEST_F(XmlQueryTest, DocumentsBecomeTrees) {
  const uint64_t assertions = support_dll::assertionFailureCount();
  EXPECT_EQ(nullptr, createCommonXMLQueryProcessor(nullptr));
  EXPECT_EQ(assertions + 1, support_dll::assertionFailureCount());
  const std::string cols = objects({"[Product].[Category]", "[Measures].[Sales]"});
  const std::string f1 = filter("[Product].[Category]", "Equal", {"Bikes"});
  const std::string f2 = filter("[Geography].[Region]", "NotEqual", {"Pacific"});
  const std::string f3 = filter("[Measures].[Sales]", "InList", {"1", "2.5", "3"}, "VALUE");
  // Three operands of one OR chain from the left; numbers stay numbers on a measure; the FROM
  // list names the hierarchies of the text columns.
  EXPECT_EQ("SELECT [Product].[Category], [Measures].[Sales] FROM [Product] WHERE  "
            " [Product].[Category] = 'Bikes' OR  [Geography].[Region] <> 'Pacific' OR   "
            "[Measures].[Sales] IN ( 1, 2.5, 3)",
            tree_text(m_Sample.get(), document(cols + where("<OPERATOR VALUE=\"OR\">" + f1 + f2 +
                                                            f3 + "</OPERATOR>"))));
  // A document element wrapping DPCOMMANDS is accepted; an IN list of texts; a key-date
  // filter as the only condition leaves no WHERE.
  EXPECT_EQ("SELECT [Product].[Category], [Measures].[Sales] FROM [Product] WHERE  "
            "[Product].[Subcategory] IN ( 'Road', 'Locks')",
            tree_text(m_Sample.get(), "<Request>" + document(cols + where(filter(
                                                      "[Product].[Subcategory]", "InList",
                                                      {"Road", "Locks"}))) + "</Request>"));
  EXPECT_EQ("SELECT [Product].[Category], [Measures].[Sales] FROM [Product]",
            tree_text(m_Sample.get(),
                      document(cols + where(filter("[KeyDate]", "Equal", {"[Time].[Calendar].[2025]"}, "VALUE")))));
  // Grouping sets name columns by index; the set holds its fields last first.
  EXPECT_EQ("SELECT [Product].[Category], [Measures].[Sales] FROM [Product] GROUP BY {  "
            "[Measures].[Sales], [Product].[Category] }, {  [Measures].[Sales] } [sets]",
            tree_text(m_Sample.get(),
                      document(cols + "<GROUPINGSETS><GROUPINGSET><INDEX VALUE=\"0\"/><INDEX "
                                      "VALUE=\"1\"/></GROUPINGSET><GROUPINGSET/><GROUPINGSET><INDEX "
                                      "VALUE=\"1\"/></GROUPINGSET></GROUPINGSETS>")));
  // Regression: a caption spelling a hierarchy's unique name was taken for the hierarchy, and
  // the condition compared a field with a hierarchy (refused) instead of with a text.
  const std::string odd = document(cols + where(filter("[Product].[Category]", "Equal", {"[Product]"})));
  EXPECT_EQ("SELECT [Product].[Category], [Measures].[Sales] FROM [Product] WHERE "
            "[Product].[Category] = '[Product]'",
            tree_text(m_Sample.get(), odd));
  EXPECT_EQ(0u, rows(odd).size());
  // Executed, a set of the measure alone adds one row of the grand total.
  Rows sets = rows(document(cols + "<GROUPINGSETS><GROUPINGSET><INDEX VALUE=\"0\"/><INDEX VALUE=\"1\"/>"
                                   "</GROUPINGSET><GROUPINGSET><INDEX VALUE=\"1\"/></GROUPINGSET></GROUPINGSETS>"));
  Rows expected = rows("SELECT [Product].[Category], [Measures].[Sales] FROM [Product]");
  expected.push_back({"", oracle("SELECT SUM(sales) FROM facts", 0)[0][0]});
  EXPECT_EQ(expected, sets);
  // Keys through parameters: a member prompt stands for its hierarchy, a hierarchy prompt for
  // the hierarchy it chooses now.
  common::setParameterValueTexts(*auto_unuse<NUVA_o::Parameter>(m_Sample->getParameterByName("[TimeHierarchy]")),
                                 {"[Time].[Fiscal]"});
  EXPECT_EQ("SELECT [Geography].[Country], [Time].[Fiscal].[Year] FROM [Geography], [Time].[Fiscal]",
            tree_text(m_Sample.get(), document(objects({"[Region].[Country]", "[TimeHierarchy].[Year]"}))));
  EXPECT_EQ(assertions + 1, support_dll::assertionFailureCount());
}

TEST_F(XmlQueryTest, OneHierarchyPerDimensionWhereTheCubeQueriesNoMore) {
  const std::string both = document(objects({"[Time].[Calendar].[Year]", "[Time].[Fiscal].[Year]"}));
  EXPECT_EQ(0u, failure(both));  // the sample cube queries several
  m_Sample->setCapability(NUVA_o::Cube::SUPPORTS_MULTIPLE_HIERARCHY_QUERY, false);
  try {
    run(both);
    FAIL() << "two hierarchies of [Time] were queried";
  } catch (const olap_api::UnsupportedOperationException& e) {
    EXPECT_EQ(support::COMMON_E_XMLQ_SECOND_HIERARCHY, e.getCode());
    EXPECT_NE(std::string::npos, e.getMessage().string().find("[Time].[Fiscal]"));
  }
  auto_unuse<common::TOVAXMLQueryProcessorCommon> processor(new common::TOVAXMLQueryProcessorCommon(
      auto_unuse<common::TOVASQLExpressionBuilder>(new common::TOVASQLExpressionBuilderCommon),
      m_Sample.get()));
  auto_unuse<TOVASQLExpression> tree(processor->parseXML(TOVAString(document(objects(
      {"[Time].[Calendar].[Year]", "[Time].[Calendar].[Month]", "[Product].[Item]", "[Measures].[Sales]"})))));
  std::string map;
  for (const auto& [dimension, hierarchy] : processor->hierarchy_map())
    map += dimension.string() + "=" + hierarchy.string() + " ";
  EXPECT_EQ("[Measures]=[Measures] [Product]=[Product] [Time]=[Time].[Calendar] ", map);
  processor->insert_hierarchy_into_map_by_unique_name("", "[Time].[Fiscal]");  // logged, ignored
  EXPECT_EQ(3u, processor->hierarchy_map().size());
  m_Sample->setCapability(NUVA_o::Cube::SUPPORTS_MULTIPLE_HIERARCHY_QUERY, true);
  EXPECT_THROW(processor->update_hierarchy_map("[Time]", "[Time].[Fiscal]"), olap_api::RunTimeException);
}

TEST_F(XmlQueryTest, FuzzCorpusRunsOrFailsCleanly) {
  namespace fs = std::filesystem;
  size_t files = 0, ran = 0;
  for (const auto& entry :
       fs::directory_iterator(fs::path(vtq_testing::sourceDir()) / "fuzz" / "corpus" / "xml_query")) {
    SCOPED_TRACE(entry.path().string());
    if (failure(read_file(entry.path().string())) == 0) ++ran;
    ++files;
    for (const auto& parameter : m_Sample->getParameters()) EXPECT_FALSE(parameter->isInTransaction());
  }
  EXPECT_GE(files, 8u);
  EXPECT_GE(ran, 4u);  // the examples and the documents of every operator and of variables
}

// A builder that combines every AND twice, so that the second combine finds too little queued.
class OverEagerBuilder : public common::TOVASQLExpressionBuilderCommon {
 public:
  void buildExpressionNode(Type type) override {
    TOVASQLExpressionBuilderCommon::buildExpressionNode(type);
    if (type == TOVASQLExpression::TOVASQL_ET_AND) TOVASQLExpressionBuilderCommon::buildExpressionNode(type);
  }
};

TEST_F(XmlQueryTest, AStepThatFindsTheQueueEmptyFailsAsBadXml) {
  auto_unuse<common::TOVAXMLQueryProcessorCommon> processor(new common::TOVAXMLQueryProcessorCommon(
      auto_unuse<common::TOVASQLExpressionBuilder>(new OverEagerBuilder), m_Sample.get()));
  const std::string text = document(
      objects({"[Product].[Category]", "[Measures].[Sales]"}) +
      where("<OPERATOR VALUE=\"AND\">" + filter("[KeyDate]", "Equal", {"[Time].[Calendar].[2023]"}, "VALUE") +
            filter("[Product].[Category]", "Equal", {"Bikes"}) +
            filter("[Geography].[Region]", "Equal", {"Europe"}) + "</OPERATOR>"));
  // Regression: a building step that found the queue empty surfaced as the caller's error
  // (InvalidArgumentException), not as the document's, and left the key date in force.
  try {
    auto_unuse<TOVASQLExpression> tree(processor->parseXML(TOVAString(text)));
    FAIL() << "a tree was made";
  } catch (const olap_api::InvalidXMLException& e) {
    EXPECT_EQ(support::COMMON_E_XMLQ_INCOMPLETE, e.getCode());
  }
  EXPECT_EQ("(none)", keyDateValue());
  EXPECT_FALSE(keyDate()->isInTransaction());
}

}  // namespace
