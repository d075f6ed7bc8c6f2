#include <gtest/gtest.h>

#include "NUVA_o/PropertySpecification.h"
#include "NUVA_o/QueryPropertySetCommon.h"
#include "VtqTest.h"
#include "support/CoreLog.h"
#include "support/RefCountImpl.h"
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

TEST_F(QueryPropertyTest, EveryPropertySurvivesPersistAndRestore) {
  QueryPropertySetCommon all;
  for (int id = NUVA_o::QUERY_PROPERTY_COUNT - 1; id >= 0; --id) all.insert(QueryProperty(id));
  XmlSupport xml;
  all.persist(xml, xml.addAChild(nullptr, "Owner"));
  QueryPropertySetCommon restored;
  EXPECT_EQ(0u, restore(restored, xml.getXml().string().c_str()));
  EXPECT_EQ(describe(all), describe(restored));
  EXPECT_EQ(size_t(NUVA_o::QUERY_PROPERTY_COUNT), restored.size());

  // Names are what documents store: one written by an earlier release still reads.
  QueryPropertySetCommon stored;
  EXPECT_EQ(0u, restore(stored,
                        "<Owner><QueryProperties><QueryProperty Name=\"IS_NULL_FILTERED\"/>"
                        "<QueryProperty Name=\"CELL_FORMATTING_OFF\"/></QueryProperties></Owner>"));
  EXPECT_EQ(std::to_string(NUVA_o::IS_NULL_FILTERED) + "," + std::to_string(NUVA_o::CELL_FORMATTING_OFF),
            describe(stored));

  for (int id : {NUVA_o::QUERY_PROPERTY_COUNT, -1, 1000, INT32_MIN}) {
    EXPECT_TRUE(getQueryPropertyName(id).empty()) << id;
    EXPECT_EQ(&TOVAString::nullString(), &getQueryPropertyName(id));
  }
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

// ---- property specifications ----------------------------------------------------------------

class CountedArgument : public support::RefCountImpl {
 public:
  CountedArgument() : support::RefCountImpl("CountedArgument", 0) {}
};

// Puts `object` into argument `i` as a counted argument of `kind`, handing it one reference.
void setCounted(NUVA_o::PropertySpecification& spec, int i, olap_api::RefCount* object,
                int kind) {
  object->use();
  spec.fArgs[i].vt = VT_BYREF;
  spec.fArgs[i].byref = object;
  spec.fArgKinds[i] = kind;
}

TEST_F(QueryPropertyTest, PropertySpecificationsCopyAndCompareTheirArguments) {
  NUVA_o::PropertySpecification a, b;
  EXPECT_TRUE(a == b);
  EXPECT_EQ(-1, a.fIdentifier);
  EXPECT_EQ(0, a.fArgCount);
  b.CreateArray(2);
  EXPECT_TRUE(a != b);
  EXPECT_EQ(2, b.fArgCount);
  EXPECT_EQ(VT_EMPTY, b.fArgs[1].vt);
  EXPECT_EQ(2, b.fArgKinds[1]);

  auto_unuse<CountedArgument> object(new CountedArgument);
  b.fName = "TopCount";
  b.fIdentifier = 3;
  setCounted(b, 0, object.get(), 1);
  b.fArgs[1].vt = VT_BSTR;
  b.fArgs[1].bstrVal = SysAllocString(u"ten");
  EXPECT_EQ(2, object->getRefCount());

  {
    NUVA_o::PropertySpecification copy(b);
    EXPECT_EQ(3, object->getRefCount());
    EXPECT_TRUE(copy == b);
    // Values are deep copies: changing the copy's text does not change the original's.
    EXPECT_NE(copy.fArgs[1].bstrVal, b.fArgs[1].bstrVal);
    SysFreeString(copy.fArgs[1].bstrVal);
    copy.fArgs[1].bstrVal = SysAllocString(u"eleven");
    EXPECT_TRUE(copy != b);

    a = copy;
    EXPECT_EQ(4, object->getRefCount());
    NUVA_o::PropertySpecification& alias = a;
    a = alias;  // assigning to itself keeps everything
    EXPECT_EQ(4, object->getRefCount());
    EXPECT_TRUE(a == copy);
    a = NUVA_o::PropertySpecification();
    EXPECT_EQ(3, object->getRefCount());
  }
  EXPECT_EQ(2, object->getRefCount());

  // Counted arguments are equal only when they designate the same object.
  auto_unuse<CountedArgument> other(new CountedArgument);
  NUVA_o::PropertySpecification c(b);
  object->unuse();
  c.fArgs[0].byref = static_cast<olap_api::RefCount*>(other.get());
  other->use();
  EXPECT_TRUE(c != b);
  // A different kind is a different argument.
  NUVA_o::PropertySpecification d(b);
  d.fArgKinds[0] = 0;
  EXPECT_TRUE(d != b);

  // A second CreateArray releases what the first one held.
  b.CreateArray(1);
  EXPECT_EQ(2, object->getRefCount());  // d still holds one
  b.DestroyArray();
  EXPECT_EQ(0, b.fArgCount);
  EXPECT_EQ(nullptr, b.fArgs);
}

}  // namespace
