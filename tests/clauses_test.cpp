#include <gtest/gtest.h>

#include "ExceptionSpecificationCommon.h"
#include "NUVA_o/Expression.h"
#include "TupleCommon.h"
#include "ViewTesting.h"
#include "ViewpointCommon.h"
#include "VtqTest.h"
#include "common/CommonExpression.h"
#include "common/CommonTuple.h"
#include "common/ViewpointFactory.h"
#include "memberrangecommon.h"
#include "optionalcubeviewclausecommon.h"
#include "support/ErrorCodes.h"

using vtq_testing::thrownCode;

namespace {

class ClausesTest : public vtq_testing::VtqTest {
 protected:
  void SetUp() override {
    VtqTest::SetUp();
    m_pCube.reset(vtq_testing::buildTestCube(false));
  }
  void TearDown() override {
    m_pCube.reset();
    VtqTest::TearDown();
  }

  auto_unuse<NUVA_o::Member> member(const char* hierarchy, const char* name) {
    auto_unuse<NUVA_o::Hierarchy> h(m_pCube->getHierarchyByUniqueName(hierarchy));
    auto_unuse<NUVA_o::Member> m(h->getDefaultMember());
    m->moveTo(TOVAString(name));
    return m;
  }
  auto_unuse<NUVA_o::Tuple> tuple(
      std::initializer_list<std::pair<const char*, const char*>> members) {
    auto_unuse<NUVA_o::Tuple> t(createCommonTuple());
    for (auto [hierarchy, name] : members) t->addMember(member(hierarchy, name).get());
    return t;
  }
  auto_unuse<NUVA_o::Expression> expression(const char* text) {
    auto_unuse<NUVA_o::Expression> e(createCommonExpression(m_pCube.get()));
    e->setTextAndCreateTree(TOVAString(text));
    return e;
  }
  static std::string names(const std::vector<TOVAString>& list) {
    std::string out;
    for (const TOVAString& name : list) out += (out.empty() ? "" : ", ") + name.string();
    return out;
  }
  // The element's attributes by name, "name=value; ...".
  static std::string attributes(DOMElement* element) {
    std::string out;
    auto* list = element->getAttributes();
    for (XMLSize_t i = 0; i < list->getLength(); ++i)
      out += (out.empty() ? "" : "; ") + XmlSupport::getNodeName(list->item(i)).string() + "=" +
             XmlSupport::getAttribute(element, XmlSupport::getNodeName(list->item(i))).string();
    return out;
  }

  auto_unuse<memory::MemoryCube> m_pCube;
};

struct CountingListener : NUVA_o::OptionalCubeViewClause::OptionalCubeViewClauseListener {
  void optionalCubeViewClauseChanged(const NUVA_o::OptionalCubeViewClause*) override { ++calls; }
  int calls = 0;
};

TEST_F(ClausesTest, TupleKeepsOneMemberPerHierarchyAndReadsBackWhatItWrites) {
  auto_unuse<NUVA_o::Tuple> t =
      tuple({{"[Time].[Calendar]", "[Time].[Calendar].[2023]"}, {"[Product]", "[Product].[Gear]"}});
  // A second member of a hierarchy takes the place of the first.
  t->addMember(member("[Time].[Calendar]", "[Time].[Calendar].[2024]").get());
  EXPECT_EQ("[Time].[Calendar].[2024], [Product].[Gear]", names(t->getMemberUniqueNames()));
  EXPECT_EQ("[Time].[Calendar], [Product]", names(t->getHierarchyUniqueNames()));
  EXPECT_TRUE(t->contains("[Product].[Gear]"));
  // Removal by text goes by hierarchy, not by member name.
  t->removeMember(TOVAString("[Product].[Gear]"));
  EXPECT_EQ(2u, t->getMembers().size());
  t->removeMember(TOVAString("[Product]"));
  EXPECT_EQ("[Time].[Calendar].[2024]", names(t->getMemberUniqueNames()));
  t->addMember(member("[Product]", "[Product].[Bikes]").get());

  XmlSupport xml;
  DOMElement* root = xml.addAChild(nullptr, "Root");
  t->persist(xml, root);
  auto_unuse<NUVA_o::Tuple> back(createCommonTuple());
  back->restore(XmlSupport::findChild(root, "Tuple"), m_pCube.get());
  EXPECT_EQ(names(t->getMemberUniqueNames()), names(back->getMemberUniqueNames()));
  auto_unuse<NUVA_o::Member> product(back->getMember("[Product]"));
  EXPECT_EQ("[Product].[Bikes]", product->getUniqueName().string());

  // A clone shares the member objects but not the lists.
  auto_unuse<NUVA_o::Tuple> copy(t->clone());
  EXPECT_EQ(t->getMembers()[0].get(), copy->getMembers()[0].get());
  copy->removeMember(TOVAString("[Product]"));
  EXPECT_EQ(2u, t->getMembers().size());
}

TEST_F(ClausesTest, TupleRestoreRefusesWhatTheCubeDoesNotKnowAndKeepsItsState) {
  auto restore = [&](const char* text, NUVA_o::Tuple* into, NUVA_o::Cube* cube) {
    XmlSupport xml;
    EXPECT_TRUE(xml.parseXML(TOVAString(text)));
    return thrownCode([&] { into->restore(xml.getDocumentElement(), cube); });
  };
  auto_unuse<NUVA_o::Tuple> t(createCommonTuple());
  EXPECT_EQ(uint32_t(support::COMMON_E_RESTORE_UNKNOWN_HIERARCHY),
            restore("<Tuple><Member UniqueName='[Geo].[X]' Hierarchy='[Geo]'/></Tuple>", t.get(),
                    m_pCube.get()));
  // Regression: a member that no longer exists came back as an unresolved member.
  EXPECT_EQ(uint32_t(support::COMMON_E_RESTORE_UNKNOWN_MEMBER),
            restore("<Tuple><Member UniqueName='[Product].[Gear]' Hierarchy='[Product]'/>"
                    "<Member UniqueName='[Product].[Boats]' Hierarchy='[Product]'/></Tuple>",
                    t.get(), m_pCube.get()));
  EXPECT_TRUE(t->getMembers().empty());
  EXPECT_EQ(uint32_t(support::COMMON_E_RESTORE_WITHOUT_CUBE),
            restore("<Tuple/>", t.get(), nullptr));
  EXPECT_EQ(0u, restore("<Tuple><SubTotalRef UniqueName='SubTotal_x'/>"
                        "<DynamicCalcRef UniqueName='{c}'/></Tuple>",
                        t.get(), m_pCube.get()));
  EXPECT_EQ("SubTotal_x", names(t->getSubTotalUniqueNames()));
  EXPECT_EQ("{c}", names(t->getDynamicCalculationUniqueNames()));
}

TEST_F(ClausesTest, MemberRangeHoldsItsOwnCopiesOfMembersOfOneHierarchy) {
  auto start = member("[Time].[Calendar]", "[Time].[Calendar].[2023]");
  auto end = member("[Time].[Calendar]", "[Time].[Calendar].[2024]");
  auto_unuse<common::MemberRangeCommon> range(
      new common::MemberRangeCommon(start.get(), end.get()));
  start->moveTo(TOVAString("[Time].[Calendar].[2024]"));
  EXPECT_EQ("[Time].[Calendar].[2023]", range->getStartUniqueName().string());
  range->setEnd(member("[Product]", "[Product].[Gear]").get());  // another hierarchy: ignored
  EXPECT_EQ("[Time].[Calendar].[2024]", range->getEndUniqueName().string());

  auto_unuse<common::MemberRangeCommon> mixed(
      new common::MemberRangeCommon(start.get(), member("[Product]", "[Product].[Gear]").get()));
  EXPECT_EQ("", mixed->getStartUniqueName().string());
  mixed->setStart(start.get());  // no end to match: ignored
  EXPECT_EQ(nullptr, auto_unuse<NUVA_o::Member>(mixed->getStart()).get());
}

TEST_F(ClausesTest, ClausesWriteTheirElementsAndReadThemBackOrRefuseWithoutChange) {
  auto_unuse<common::SortCommon> bare(new common::SortCommon());
  bare->setDirection(NUVA_o::Sort::SD_BDESC);
  bare->setSolveOrder(3);
  XmlSupport xml;
  DOMElement* root = xml.addAChild(nullptr, "Root");
  bare->persist(xml, root);
  EXPECT_EQ("Direction=3; Guid=" + bare->getGuid().string() + "; Order=3; Version=11.5.8",
            attributes(XmlSupport::findChild(root, "Sort")));

  auto t = tuple({{"[Product]", "[Product].[Gear]"}});
  auto condition = expression("[Measures].[Sales] > 10");
  auto_unuse<common::ExceptionSpecificationCommon> rule(
      new common::ExceptionSpecificationCommon(t.get(), condition.get()));
  rule->setBanding(2);
  rule->setGroup("Big");
  rule->setSolveOrder(7);
  rule->setDisabled(true);
  rule->persist(xml, root);
  auto_unuse<common::ExceptionSpecificationCommon> back(new common::ExceptionSpecificationCommon());
  back->restore(XmlSupport::findChild(root, "ExceptionSpecification"), m_pCube.get());
  EXPECT_EQ(rule->getGuid(), back->getGuid());
  EXPECT_EQ(7, back->getSolveOrder());
  EXPECT_EQ(2, back->getBanding());
  EXPECT_EQ("Big", back->getGroup().string());
  EXPECT_TRUE(back->isDisabled());
  auto_unuse<NUVA_o::Tuple> backTuple(back->getTuple());
  EXPECT_EQ("[Product].[Gear]", names(backTuple->getMemberUniqueNames()));
  auto_unuse<NUVA_o::Expression> backCondition(back->getExpression());
  EXPECT_EQ(condition->getTextFromTree(), backCondition->getTextFromTree());

  // Missing or malformed GUIDs, an unparsable condition: refused, the filter unchanged.
  auto_unuse<common::FilterCommon> filter(new common::FilterCommon(t.get(), condition.get()));
  const TOVAString guid = filter->getGuid();
  for (const char* text :
       {"<Filter Expression='[Measures].[Sales] > 1' Order='1'/>",
        "<Filter Expression='[Measures].[Sales] > 1' Guid='{not-a-guid}' Order='1'/>",
        "<Filter Expression='[Nowhere] > 1' Guid='{00000000-0000-0000-0000-000000000001}'/>",
        "<Filter Expression='[Measures].[Sales] > 1' Guid='{00000000-0000-0000-0000-000000000001}' "
        "Order='-4'/>"}) {
    XmlSupport doc;
    ASSERT_TRUE(doc.parseXML(TOVAString(text)));
    EXPECT_NE(0u, thrownCode([&] { filter->restore(doc.getDocumentElement(), m_pCube.get()); }))
        << text;
    EXPECT_EQ(guid, filter->getGuid());
  }

  // Setters notify on a change only; a clone keeps the GUID, copies the tuple, has no listeners.
  CountingListener listener;
  rule->addListener(&listener);
  rule->setGroup("Big");
  rule->setBanding(2);
  EXPECT_EQ(0, listener.calls);
  rule->setGroup("Huge");
  EXPECT_EQ(1, listener.calls);
  auto_unuse<NUVA_o::ExceptionSpecification> copy(rule->clone());
  copy->setBanding(5);
  EXPECT_EQ(1, listener.calls);
  EXPECT_EQ(rule->getGuid(), copy->getGuid());
  auto_unuse<NUVA_o::Tuple> ruleTuple(rule->getTuple()), copyTuple(copy->getTuple());
  EXPECT_NE(ruleTuple.get(), copyTuple.get());
  EXPECT_EQ(names(ruleTuple->getMemberUniqueNames()), names(copyTuple->getMemberUniqueNames()));
  rule->removeListener(&listener);
}

class ViewClausesTest : public ClausesTest {
 protected:
  void SetUp() override {
    ClausesTest::SetUp();
    m_pView.reset(new common::ViewpointCommon());
    m_pView->initialise(m_pCube.get(), 2, 1);
    m_pView->moveAxisHierarchy(TOVAString("[Time].[Calendar]"), m_pView->getAxes()[0].get(), 0);
    m_pView->moveAxisHierarchy(TOVAString("[Product]"), m_pView->getAxes()[1].get(), 0);
  }
  void TearDown() override {
    m_pView.reset();
    ClausesTest::TearDown();
  }
  auto_unuse<common::ViewpointCommon> m_pView;
};

TEST_F(ViewClausesTest, AddsAndRemovesClausesAsUndoableEditsWithSolveOrdersNeverReused) {
  auto rows = tuple({{"[Product]", "[Product].[Gear]"}});
  auto condition = expression("[Measures].[Sales] > 10");
  std::vector<auto_unuse<NUVA_o::Sort>> sorts;
  for (int i = 0; i < 3; ++i)
    sorts.emplace_back(m_pView->addSort(rows.get(), NUVA_o::Sort::SD_DESCENDING, false));
  m_pView->removeSort(sorts[1].get());
  sorts.emplace_back(m_pView->addSort(rows.get(), NUVA_o::Sort::SD_ASCENDING, false));
  std::string orders;
  for (const auto& sort : m_pView->getSorts()) orders += std::to_string(sort->getSolveOrder());
  EXPECT_EQ("134", orders);
  EXPECT_EQ(3u, m_pView->getActiveSorts().size());
  EXPECT_EQ(3u, m_pView->getActiveSorts(1).size());

  // Refusals change nothing.
  auto_unuse<NUVA_o::Expression> empty(createCommonExpression(m_pCube.get()));
  EXPECT_EQ(uint32_t(support::COMMON_E_SORT_NEEDS_TUPLE),
            thrownCode([&] { m_pView->addSort(nullptr, NUVA_o::Sort::SD_ASCENDING, false); }));
  EXPECT_EQ(uint32_t(support::COMMON_E_FILTER_NEEDS_TUPLE),
            thrownCode([&] { m_pView->addFilter(nullptr, condition.get()); }));
  EXPECT_EQ(uint32_t(support::COMMON_E_BAD_EXPRESSION),
            thrownCode([&] { m_pView->addFilter(rows.get(), empty.get()); }));
  EXPECT_EQ(uint32_t(support::COMMON_E_BAD_EXPRESSION),
            thrownCode([&] { m_pView->addExceptionSpecification(nullptr, nullptr, 1); }));
  EXPECT_EQ(3u, m_pView->getSorts().size());
  EXPECT_TRUE(m_pView->getFilters().empty());

  auto_unuse<NUVA_o::Filter> filter(m_pView->addFilter(rows.get(), condition.get()));
  auto_unuse<NUVA_o::ExceptionSpecification> rule(
      m_pView->addExceptionSpecification(nullptr, condition.get(), 1));
  EXPECT_TRUE(rule->isActive());  // no tuple: the whole view
  auto* manager = m_pView->getCommandManager();
  ASSERT_TRUE(manager->undo());
  EXPECT_TRUE(m_pView->getExceptionSpecifications().empty());
  ASSERT_TRUE(manager->undo());
  EXPECT_TRUE(m_pView->getFilters().empty());
  ASSERT_TRUE(manager->redo());
  ASSERT_TRUE(manager->redo());
  EXPECT_EQ(1u, m_pView->getActiveFilters().size());
  EXPECT_EQ(1u, m_pView->getActiveExceptionSpecifications().size());

  // Disabling is an edit of its own and takes the clause out of the active list.
  filter->setDisabled(true);
  EXPECT_TRUE(m_pView->getActiveFilters().empty());
  ASSERT_TRUE(manager->undo());
  EXPECT_FALSE(filter->isDisabled());
  EXPECT_EQ(1u, m_pView->getActiveFilters().size());
}

TEST_F(ViewClausesTest, SwappingAxesRecomputesWhichClausesAreInForce) {
  auto rows = tuple({{"[Product]", "[Product].[Gear]"}});
  auto_unuse<NUVA_o::Sort> sort(m_pView->addSort(rows.get(), NUVA_o::Sort::SD_ASCENDING, false));
  ASSERT_EQ(1u, m_pView->getActiveSorts(1).size());
  // Regression: the active lists kept the layout before the swap, so the sort stayed in force
  // with [Product] on the slice axis.
  m_pView->swapAxes(m_pView->getAxes()[1].get(), m_pView->getAxes()[2].get());
  EXPECT_FALSE(sort->isActive());
  EXPECT_TRUE(m_pView->getActiveSorts().empty());
  m_pView->getCommandManager()->undo();
  EXPECT_TRUE(sort->isActive());
  EXPECT_EQ(1u, m_pView->getActiveSorts().size());
}

TEST_F(ViewClausesTest, ACloneKeepsTheClausesAndRecordsTheirEditsInItsOwnHistory) {
  auto rows = tuple({{"[Product]", "[Product].[Gear]"}});
  auto_unuse<NUVA_o::Sort> sort(m_pView->addSort(rows.get(), NUVA_o::Sort::SD_ASCENDING, false));
  auto_unuse<NUVA_o::Sort> second(m_pView->addSort(rows.get(), NUVA_o::Sort::SD_ASCENDING, false));
  auto_unuse<common::ViewpointCommon> copy(
      dynamic_cast<common::ViewpointCommon*>(m_pView->clone()));
  ASSERT_EQ(2u, copy->getSorts().size());
  EXPECT_EQ(2, copy->getSorts()[1]->getSolveOrder());
  EXPECT_EQ(2u, copy->getActiveSorts().size());
  const size_t before = m_pView->getCommandManager()->getUndoHistory().size();
  // Regression: a cloned clause's edit went into the source view's history.
  copy->getSorts()[0]->setDisabled(true);
  EXPECT_EQ(before, m_pView->getCommandManager()->getUndoHistory().size());
  EXPECT_EQ(1u, copy->getCommandManager()->getUndoHistory().size());
  EXPECT_EQ(1u, copy->getActiveSorts().size());
  EXPECT_FALSE(sort->isDisabled());
  // The clone listens to its clauses: the next one it adds gets the next solve order.
  auto_unuse<NUVA_o::Sort> third(copy->addSort(rows.get(), NUVA_o::Sort::SD_ASCENDING, false));
  EXPECT_EQ(3, third->getSolveOrder());
}

}  // namespace
