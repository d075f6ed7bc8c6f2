#include <gtest/gtest.h>

#include "NUVA_o/QueryPropertySetCommon.h"
#include "VtqTest.h"
#include "support/CoreLog.h"
#include "support/XmlSupport.h"

using NUVA_o::QueryProperty;
using NUVA_o::QueryPropertySetCommon;

namespace {

class QueryPropertyTest : public vtq_testing::VtqTest {
 protected:
  static std::string describe(const NUVA_o::QueryPropertySet& set) {
    std::string text;
    for (QueryProperty id : set) text += (text.empty() ? "" : ",") + std::to_string(id);
    return text;
  }

  // Restores `text`'s root element into `set` and returns how many assertions it reported.
  uint64_t restore(QueryPropertySetCommon& set, const char* text) {
    XmlSupport xml;
    EXPECT_TRUE(xml.parseXML(text)) << xml.getParseError().string();
    const uint64_t before = support_dll::assertionFailureCount();
    set.restore(xml.getDocumentElement(), nullptr);
    return support_dll::assertionFailureCount() - before;
  }
};

TEST_F(QueryPropertyTest, NamesCoverTheEighteenIdentifiersAndNothingElse) {
  const char* expected[] = {"IS_FILTERED",
                            "IS_RANKED",
                            "IS_SORTED_ASCENDING",
                            "IS_SORTED_DESCENDING",
                            "IS_EXCEPTION_HIGHLIGHTED",
                            "IS_NULL_FILTERED",
                            "IS_CALCULATION",
                            "IS_CLIENT_CALCULATION",
                            "IS_SERVER_CALCULATION",
                            "PARENT_SAME_AS_PREVIOUS",
                            "IS_DRILLED",
                            "USE_NON_EMPTY_CROSSJOIN",
                            "IS_FILTERED_NOT_RANKED",
                            "IS_SUBTOTAL",
                            "IS_DYNAMIC_CALCULATION",
                            "USE_CHUNKING",
                            "UNRESTRICTED",
                            "CELL_FORMATTING_OFF"};
  for (int id = 0; id < NUVA_o::QUERY_PROPERTY_COUNT; ++id)
    EXPECT_EQ(expected[id], getQueryPropertyName(id).string()) << id;
  EXPECT_EQ("UNRESTRICTED", getQueryPropertyName(NUVA_o::UNRESTRICTED).string());
  for (int id : {18, -1, 1000, INT32_MIN}) {
    EXPECT_TRUE(getQueryPropertyName(id).empty()) << id;
    EXPECT_EQ(&TOVAString::nullString(), &getQueryPropertyName(id));
  }
  // The table lives as long as the library: the same object every time.
  EXPECT_EQ(&getQueryPropertyName(3), &getQueryPropertyName(3));
}

TEST_F(QueryPropertyTest, PersistWritesNamesInAscendingOrder) {
  QueryPropertySetCommon set;
  set.insert(NUVA_o::USE_CHUNKING);
  set.insert(NUVA_o::IS_FILTERED);
  XmlSupport xml;
  DOMElement* root = xml.addAChild(nullptr, "Owner");
  set.persist(xml, root);
  EXPECT_EQ(
      "<Owner><QueryProperties><QueryProperty Name=\"IS_FILTERED\"/><QueryProperty "
      "Name=\"USE_CHUNKING\"/></QueryProperties></Owner>",
      xml.getXml().string());

  XmlSupport empty;
  QueryPropertySetCommon().persist(empty, empty.addAChild(nullptr, "Owner"));
  EXPECT_EQ("<Owner><QueryProperties/></Owner>", empty.getXml().string());

  // What was written reads back into the same set.
  QueryPropertySetCommon restored;
  EXPECT_EQ(0u, restore(restored, xml.getXml().string().c_str()));
  EXPECT_EQ("0,15", describe(restored));
}

TEST_F(QueryPropertyTest, RestoreAddsKnownNamesAndReportsTheRest) {
  QueryPropertySetCommon set;
  set.insert(NUVA_o::CELL_FORMATTING_OFF);
  EXPECT_EQ(2u, restore(set,
                        "<Owner><QueryProperties>"
                        "<QueryProperty Name='IS_RANKED'/>"
                        "<QueryProperty Name='NO_SUCH_PROPERTY'/>"
                        "<QueryProperty Name='is_ranked'/>"
                        "<QueryProperty Name='IS_RANKED'/>"
                        "<Nested><QueryProperty Name='UNRESTRICTED'/></Nested>"
                        "</QueryProperties></Owner>"));
  // Restore adds to what the set held; duplicates collapse; descendants count too.
  EXPECT_EQ("1,16,17", describe(set));

  // Without a "QueryProperties" child the set is left as it was.
  EXPECT_EQ(1u, restore(set, "<Owner><QueryProperty Name='IS_FILTERED'/></Owner>"));
  EXPECT_EQ("1,16,17", describe(set));
  EXPECT_EQ(1u, restore(set, "<Owner/>"));

  // A property without a name is reported and skipped.
  QueryPropertySetCommon other;
  EXPECT_EQ(1u, restore(other, "<Owner><QueryProperties><QueryProperty/></QueryProperties></Owner>"));
  EXPECT_EQ("", describe(other));

  const uint64_t before = support_dll::assertionFailureCount();
  other.restore(nullptr, nullptr);
  EXPECT_EQ(before + 1, support_dll::assertionFailureCount());
}

}  // namespace
