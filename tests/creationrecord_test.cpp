#include <gtest/gtest.h>

#include <memory>

#include "VtqTest.h"
#include "common/CreationRecord.h"
#include "support/XmlSupport.h"

using common::CreationRecord;
using common::CubeStructureChangedExceptionImpl;

namespace {

class CreationRecordTest : public vtq_testing::VtqTest {
 protected:
  // The attributes a record writes on an empty element, as name=value in the record's order.
  std::string persisted(const CreationRecord& record) {
    XmlSupport xml;
    DOMElement* element = xml.addAChild(nullptr, "MembersetProxy");
    record.persist(xml, element);
    std::string text;
    size_t seen = 0;
    for (const char* name :
         {"Hierarchy", "CreatedAs", "Expression", "Expression_Language", "LevelIndex"}) {
      if (!XmlSupport::hasAttribute(element, name)) continue;
      ++seen;
      text += std::string(text.empty() ? "" : " ") + name + "=" +
              XmlSupport::getAttribute(element, name).string();
    }
    EXPECT_EQ(seen, element->getAttributes()->getLength()) << "unexpected attributes";
    m_LastXml = xml.getXml().string();
    return text;
  }

  // Parses `text` into m_Xml and returns the first element of tag `tag`.
  DOMElement* parse(const char* text, const char* tag = "MembersetProxy") {
    EXPECT_TRUE(m_Xml.parseXML(text)) << m_Xml.getParseError().string();
    DOMNodeList* list = m_Xml.getElementsByTagName(tag);
    return list && list->getLength() ? static_cast<DOMElement*>(list->item(0)) : nullptr;
  }

  static std::string describe(const CreationRecord& r) {
    TOVAString text;
    text.build("%s|%d|%d|%s|%s", r.m_HierarchyName, r.m_LevelIndex,
               static_cast<int>(r.m_CreateSetAs), r.m_Expression, r.m_ExpressionLanguage);
    return text.string();
  }

  XmlSupport m_Xml;
  std::string m_LastXml;
};

TEST_F(CreationRecordTest, PersistWritesTheKindTextsAndAlwaysTheLevelIndex) {
  EXPECT_EQ("Hierarchy=[Time].[Calendar] CreatedAs=CreateServerProvided LevelIndex=2",
      persisted(CreationRecord("[Time].[Calendar]", 2, NUVA_o::CS_CREATESERVERPROVIDED)));
  EXPECT_EQ(
      "Hierarchy=[Product] CreatedAs=CreateFromExpression Expression={[Product].[A]} "
      "Expression_Language=MDX LevelIndex=-1",
      persisted(CreationRecord("[Product]", -1, NUVA_o::CS_CREATEFROMEXPRESSION, "{[Product].[A]}",
                               "MDX")));
  // Expression fields of other kinds are not written.
  EXPECT_EQ("Hierarchy=[Product] CreatedAs=CreateAll LevelIndex=0",
      persisted(CreationRecord("[Product]", 0, NUVA_o::CS_CREATEALL, "ignored", "MDX")));
  // Values without a text of their own, and values out of range, are written as empty.
  for (int kind : {6, 9, 12, -3})
    EXPECT_EQ("Hierarchy=H CreatedAs=CreateEmpty LevelIndex=1",
              persisted(CreationRecord("H", 1, static_cast<NUVA_o::CreateSetAs>(kind))))
        << kind;
}

TEST_F(CreationRecordTest, EveryKindSurvivesPersistAndRestore) {
  const struct {
    int written;
    int restored;
  } kinds[] = {{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5}, {6, 8},
               {7, 7}, {8, 8}, {9, 8}, {10, 10}, {11, 11}};
  for (const auto& kind : kinds) {
    CreationRecord original("[Geography]", 1, static_cast<NUVA_o::CreateSetAs>(kind.written),
                            "Expr", "Lang");
    persisted(original);
    DOMElement* element = parse(m_LastXml.c_str());
    ASSERT_NE(nullptr, element);
    CreationRecord restored = CreationRecord::s_CreateCreationRecordFromXML(element);
    EXPECT_EQ(kind.restored, static_cast<int>(restored.m_CreateSetAs)) << kind.written;
    EXPECT_EQ("[Geography]", restored.m_HierarchyName);
    EXPECT_EQ(1, restored.m_LevelIndex);
    if (kind.restored == NUVA_o::CS_CREATEFROMEXPRESSION) {
      EXPECT_EQ("Expr", restored.m_Expression);
      EXPECT_EQ("Lang", restored.m_ExpressionLanguage);
    } else {
      EXPECT_TRUE(restored.m_Expression.empty());
    }
  }
}

TEST_F(CreationRecordTest, RestoreReadsOnlyWhatItUnderstands) {
  // A text differing only in letter case is not a kind.
  EXPECT_EQ("H|3|8||", describe(CreationRecord::s_CreateCreationRecordFromXML(parse(
                           "<MembersetProxy Hierarchy='H' CreatedAs='createall' LevelIndex='3'/>"))));
  // Expression attributes count only for sets made from an expression.
  EXPECT_EQ("H|-1|1||",
            describe(CreationRecord::s_CreateCreationRecordFromXML(
                parse("<MembersetProxy Hierarchy='H' CreatedAs='CreateAll' Expression='X' "
                      "Expression_Language='L' LevelIndex='-1'/>"))));
  // "SaveMode"="Members" gives the default record whatever else the element says.
  EXPECT_EQ("|-1|8||", describe(CreationRecord::s_CreateCreationRecordFromXML(
                           parse("<MembersetProxy SaveMode='Members' Hierarchy='H' "
                                 "CreatedAs='CreateAll' LevelIndex='2'/>"))));
  // Another save mode restores normally.
  EXPECT_EQ("H|2|1||", describe(CreationRecord::s_CreateCreationRecordFromXML(
                           parse("<MembersetProxy SaveMode='Recipe' Hierarchy='H' "
                                 "CreatedAs='CreateAll' LevelIndex='2'/>"))));
  // Damaged and unknown attributes: the defaults stay; a missing level is no particular level.
  EXPECT_EQ("|-1|8||", describe(CreationRecord::s_CreateCreationRecordFromXML(
                           parse("<MembersetProxy Colour='red' CreatedAs=''/>"))));
  EXPECT_EQ("H|0|10||", describe(CreationRecord::s_CreateCreationRecordFromXML(parse(
                            "<MembersetProxy Hierarchy='H' CreatedAs='CreateFromExpression' "
                            "LevelIndex='x1'/>"))));
  EXPECT_EQ("|-1|8||", describe(CreationRecord::s_CreateCreationRecordFromXML(nullptr)));

  // restore into an existing record keeps what the element does not say.
  CreationRecord record("Old", 4, NUVA_o::CS_CREATEBASE, "E", "L");
  record.restore(parse("<MembersetProxy CreatedAs='Nonsense'/>"), nullptr);
  EXPECT_EQ("|4|2|E|L", describe(record));
}

TEST_F(CreationRecordTest, AMissingHierarchyIsTakenFromTheEnclosingAxisHierarchy) {
  EXPECT_EQ("[Time].[Fiscal]|1|1||",
            describe(CreationRecord::s_CreateCreationRecordFromXML(
                parse("<Axis><AxisHierarchy Hierarchy='[Time].[Fiscal]'><Sets><MembersetProxy "
                      "CreatedAs='CreateAll' LevelIndex='1'/></Sets></AxisHierarchy></Axis>"))));
  // Without an enclosing axis hierarchy the walk stops at the document.
  EXPECT_EQ("|1|1||", describe(CreationRecord::s_CreateCreationRecordFromXML(parse(
                          "<Axis><Sets><MembersetProxy CreatedAs='CreateAll' "
                          "LevelIndex='1'/></Sets></Axis>"))));
  // An explicit name wins.
  EXPECT_EQ("[Own]|1|1||", describe(CreationRecord::s_CreateCreationRecordFromXML(parse(
                               "<AxisHierarchy Hierarchy='[Other]'><MembersetProxy "
                               "Hierarchy='[Own]' CreatedAs='CreateAll' LevelIndex='1'/>"
                               "</AxisHierarchy>"))));
}

TEST_F(CreationRecordTest, CopiesAreIndependent) {
  CreationRecord a("A", 1, NUVA_o::CS_CREATEFROMEXPRESSION, "E", "L");
  CreationRecord b(a);
  CreationRecord c("C", 2, NUVA_o::CS_CREATEALL);
  c = a;
  a.m_HierarchyName = "changed";
  a.m_LevelIndex = 9;
  EXPECT_EQ("A|1|10|E|L", describe(b));
  EXPECT_EQ("A|1|10|E|L", describe(c));
}

TEST_F(CreationRecordTest, CubeStructureChangedExceptionCarriesItsCode) {
  try {
    CubeStructureChangedExceptionImpl e("COMMONMODULE");
    e.addStringInsert("[Time] was removed");
    throw e;
  } catch (const olap_api::CubeStructureChangedException& e) {
    EXPECT_EQ(support::COMMON_E_CUBE_CHANGED, e.getCode());
    EXPECT_EQ("COMMONMODULE", e.getModule());
    EXPECT_NE(std::string::npos, e.getMessage().string().find("[Time] was removed"));
  }
  CubeStructureChangedExceptionImpl coded("COMMONMODULE", support::COMMON_E_UNSUPPORTED);
  coded.addNumericInsert(7);
  std::unique_ptr<ExceptionCommon> copy(coded.duplicate());
  EXPECT_EQ(support::COMMON_E_UNSUPPORTED, copy->getCode());
  EXPECT_EQ(coded.getInserts(), copy->getInserts());
  EXPECT_NE(nullptr, dynamic_cast<CubeStructureChangedExceptionImpl*>(copy.get()));
  EXPECT_THROW(copy->rethrow(), olap_api::CubeStructureChangedException);
}

}  // namespace
