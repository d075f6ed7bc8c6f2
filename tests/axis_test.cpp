#include <gtest/gtest.h>

#include <random>

#include "axiscommon.h"
#include "axishierarchycommon.h"
#include "NUVA_o/MemberSet.h"
#include "VtqTest.h"
#include "common/ViewpointFactory.h"
#include "support/CoreLog.h"
#include "ViewTesting.h"

using common::AxisCommon;
using vtq_testing::hierarchyNames;
using vtq_testing::members;
using vtq_testing::thrownCode;
using Event = NUVA_o::Axis::AxisListener::AxisEvent;

namespace {

// Records the events an axis raises.
struct EventLog : NUVA_o::Axis::AxisListener {
  std::vector<Event> events;
  void axisChanged(const NUVA_o::Axis*, Event event) override { events.push_back(event); }
  void executingCommand(const NUVA_o::MemberSetCommand*) override {}
};

class AxisTest : public vtq_testing::VtqTest, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    VtqTest::SetUp();
    m_pCube.reset(vtq_testing::buildTestCube(GetParam()));
  }
  void TearDown() override {
    m_pCube.reset();
    VtqTest::TearDown();
  }
  NUVA_o::Hierarchy* hierarchy(const char* name) {
    auto_unuse<NUVA_o::Hierarchy> h(m_pCube->getHierarchyByUniqueName(name));
    return h.get();  // the cube keeps it alive
  }
  auto_unuse<AxisCommon> makeAxis(NUVA_o::Axis::AxisType type,
                                   std::initializer_list<const char*> names) {
    auto_unuse<AxisCommon> axis(new AxisCommon(type, nullptr));
    for (const char* name : names) axis->addAxisHierarchy(hierarchy(name));
    return axis;
  }
  // The axis written into a fresh document and read back from it.
  auto_unuse<NUVA_o::Axis> roundTrip(const NUVA_o::Axis& axis, std::string* text = nullptr) {
    XmlSupport xml;
    DOMElement* root = xml.addAChild(nullptr, "Root");
    axis.persist(xml, root);
    if (text) *text = xml.getXml().string();
    return auto_unuse<NUVA_o::Axis>(AxisCommon::s_CreateAxisFromXML(
        XmlSupport::findChild(root, "Axis"), m_pCube.get(), nullptr));
  }
  auto_unuse<NUVA_o::Axis> fromText(const std::string& text) {
    XmlSupport xml;
    if (!xml.parseXML(TOVAString(text))) return {};
    return auto_unuse<NUVA_o::Axis>(
        AxisCommon::s_CreateAxisFromXML(xml.getDocumentElement(), m_pCube.get(), nullptr));
  }

  auto_unuse<memory::MemoryCube> m_pCube;
};

TEST_P(AxisTest, HierarchiesAreInsertedMovedAndRemovedByPosition) {
  auto axis = makeAxis(NUVA_o::Axis::AT_VIEW, {"[Time].[Calendar]", "[Product]", "[Measures]"});
  EXPECT_EQ("[Time].[Calendar], [Product], [Measures]", hierarchyNames(*axis));

  const uint64_t asserts = support_dll::assertionFailureCount();
  axis->addAxisHierarchy(hierarchy("[Time].[Fiscal]"), 4);  // past the end: reported, ignored
  axis->moveAxisHierarchy("[Product]", 3);                   // position equal to the count
  EXPECT_EQ(asserts + 2, support_dll::assertionFailureCount());
  EXPECT_EQ("[Time].[Calendar], [Product], [Measures]", hierarchyNames(*axis));

  axis->moveAxisHierarchy("[Time].[Calendar]", 2);
  EXPECT_EQ("[Product], [Measures], [Time].[Calendar]", hierarchyNames(*axis));
  axis->addAxisHierarchy(hierarchy("[Time].[Fiscal]"), 0);
  EXPECT_EQ(0u, axis->getAxisHierarchyPosition("[Time].[Fiscal]"));
  EXPECT_EQ(support::NO_POSITION, axis->getAxisHierarchyPosition("[Nowhere]"));

  auto_unuse<NUVA_o::AxisHierarchy> found(axis->getAxisHierarchy("[Measures]"));
  ASSERT_TRUE(found);
  auto_unuse<NUVA_o::AxisHierarchy> removed(axis->removeAxisHierarchy("[Measures]"));
  EXPECT_EQ(found.get(), removed.get());
  EXPECT_EQ(nullptr, axis->removeAxisHierarchy("[Measures]"));
  EXPECT_EQ("[Time].[Fiscal], [Product], [Time].[Calendar]", hierarchyNames(*axis));
  axis->clearAxisHierarchies();
  EXPECT_EQ("", hierarchyNames(*axis));
}

TEST_P(AxisTest, EventsOfNullFilterHiddenPropertyAndActiveMembers) {
  auto slice = makeAxis(NUVA_o::Axis::AT_SLICE, {"[Product]"});
  EventLog log;
  slice->addListener(&log);
  slice->setAxisNullFilter(false);
  slice->setAxisNullFilter(true);
  std::vector<auto_unuse<NUVA_o::MetaDataProperty>> properties;
  slice->getAxisProperties(properties);
  ASSERT_EQ(1u, properties.size());
  properties[0]->setPropertyValue(SmartCommonVariant(true));
  {
    auto_unuse<NUVA_o::Member> member(slice->getAxisHierarchies()[0]->getActiveSlice());
    member->moveTo(TOVAString("[Product].[Gear]"));
  }
  slice->removeListener(&log);
  slice->setAxisNullFilter(false);
  EXPECT_EQ((std::vector<Event>{Event::AE_NULL_FILTER_CHANGED, Event::AE_PROPERTY_CHANGED,
                                Event::AE_ACTIVE_MEMBERS_CHANGED}),
            log.events);
  EXPECT_TRUE(slice->isHidden());
}

// A copied property used to keep the weak parent of its source: hiding the copy hid the source.
TEST_P(AxisTest, CopiesReportPropertyChangesToThemselves) {
  auto source = makeAxis(NUVA_o::Axis::AT_SLICE, {"[Product]", "[Time].[Calendar]"});
  auto_unuse<NUVA_o::Axis> cloned(copyCommonAxis(source.get()));
  auto_unuse<AxisCommon> copied(new AxisCommon(*source));
  for (NUVA_o::Axis* copy : {cloned.get(), static_cast<NUVA_o::Axis*>(copied.get())}) {
    EXPECT_EQ(hierarchyNames(*source), hierarchyNames(*copy));
    EXPECT_NE(source->getUniqueName(), copy->getUniqueName());
    std::vector<auto_unuse<NUVA_o::MetaDataProperty>> properties;
    copy->getAxisProperties(properties);
    ASSERT_EQ(1u, properties.size());
    properties[0]->setPropertyValue(SmartCommonVariant(true));
    EXPECT_TRUE(copy->isHidden());
    EXPECT_FALSE(source->isHidden());
  }
  // The copy shares the axis hierarchies; the clone has its own.
  EXPECT_EQ(source->getAxisHierarchies()[0].get(), copied->getAxisHierarchies()[0].get());
  EXPECT_NE(source->getAxisHierarchies()[0].get(), cloned->getAxisHierarchies()[0].get());

  const uint64_t asserts = support_dll::assertionFailureCount();
  EXPECT_EQ(nullptr, copyCommonAxis(nullptr));
  EXPECT_EQ(asserts + 1, support_dll::assertionFailureCount());
}

TEST_P(AxisTest, AxesShareADimensionWhenAnyOfTheirHierarchiesDo) {
  auto calendar = makeAxis(NUVA_o::Axis::AT_VIEW, {"[Product]", "[Time].[Calendar]"});
  auto fiscal = makeAxis(NUVA_o::Axis::AT_VIEW, {"[Time].[Fiscal]"});
  auto product = makeAxis(NUVA_o::Axis::AT_VIEW, {"[Measures]"});
  auto empty = makeAxis(NUVA_o::Axis::AT_VIEW, {});
  EXPECT_TRUE(common::compare_axes_for_same_dimension(*calendar, *fiscal));
  EXPECT_FALSE(common::compare_axes_for_same_dimension(*fiscal, *product));
  EXPECT_FALSE(common::compare_axes_for_same_dimension(*calendar, *empty));
}

TEST_P(AxisTest, PersistAndRestoreKeepHierarchiesSetsSlicesGuidAndProperties) {
  auto axis = makeAxis(NUVA_o::Axis::AT_SLICE, {"[Time].[Calendar]", "[Product]"});
  axis->setName("rows");
  axis->setAxisNullFilter(true);
  {
    NUVA_o::AxisHierarchy* calendar = axis->getAxisHierarchies()[0].get();
    auto_unuse<NUVA_o::MemberSet> view(calendar->getViewMemberSet());
    auto_unuse<NUVA_o::MemberSetCommand> command(view->createCommand());
    command->makeEmpty();
    command->addMember("[Time].[Calendar].[2024].[Feb]");
    command->addMember("[Time].[Calendar].[2023]");
    command->execute();
    auto_unuse<NUVA_o::Member> slice(calendar->getActiveSlice());
    slice->moveTo(TOVAString("[Time].[Calendar].[2024]"));
    auto_unuse<NUVA_o::Member> product(axis->getAxisHierarchies()[1]->getActiveSlice());
    product->moveTo(TOVAString("[Product].[Gear].[Helmet]"));
  }
  std::vector<auto_unuse<NUVA_o::MetaDataProperty>> properties;
  axis->getAxisProperties(properties);
  properties[0]->setPropertyValue(SmartCommonVariant(true));

  std::string text;
  auto_unuse<NUVA_o::Axis> restored = roundTrip(*axis, &text);
  ASSERT_TRUE(restored) << text;
  auto* copy = static_cast<AxisCommon*>(restored.get());
  EXPECT_EQ(axis->getGUID(), copy->getGUID());
  EXPECT_NE(axis->getUniqueName(), copy->getUniqueName());
  EXPECT_EQ("rows", copy->getName().string());
  EXPECT_EQ(NUVA_o::Axis::AT_SLICE, copy->getAxisType());
  EXPECT_TRUE(copy->getAxisNullFilter());
  EXPECT_TRUE(copy->isHidden());
  EXPECT_TRUE(copy->getRepairDetails().empty());
  EXPECT_EQ(hierarchyNames(*axis), hierarchyNames(*copy));
  for (size_t i = 0; i < 2; ++i) {
    NUVA_o::AxisHierarchy* before = axis->getAxisHierarchies()[i].get();
    NUVA_o::AxisHierarchy* after = copy->getAxisHierarchies()[i].get();
    EXPECT_EQ(static_cast<common::AxisHierarchyCommon*>(before)->getGUID(),
              static_cast<common::AxisHierarchyCommon*>(after)->getGUID());
    auto_unuse<NUVA_o::Member> s1(before->getActiveSlice()), s2(after->getActiveSlice());
    EXPECT_EQ(s1->getUniqueName(), s2->getUniqueName());
  }
  auto_unuse<NUVA_o::MemberSet> v1(axis->getAxisHierarchies()[0]->getViewMemberSet());
  auto_unuse<NUVA_o::MemberSet> v2(copy->getAxisHierarchies()[0]->getViewMemberSet());
  EXPECT_EQ("[Time].[Calendar].[2024].[Feb], [Time].[Calendar].[2023]", members(v1.get()));
  EXPECT_EQ(members(v1.get()), members(v2.get()));
  // A hierarchy whose view set was never asked for does not get one from restore.
  EXPECT_FALSE(static_cast<common::AxisHierarchyCommon*>(copy->getAxisHierarchies()[1].get())
                   ->hasViewMemberSet());
}

TEST_P(AxisTest, DamagedAxisElementsAreRepairedOrRefused) {
  const std::string good =
      "<Axis Version='11.5.8' Guid='{01234567-89AB-CDEF-0123-456789ABCDEF}' Name='n' "
      "AxisType='Slice' NullFilter='false'><AxisProperties/><AxisHierarchies>"
      "<AxisHierarchy Hierarchy='[Product]'/>%s<AxisHierarchy Hierarchy='[Measures]'/>"
      "</AxisHierarchies><DynamicCalculations/><Subtotals/></Axis>";
  auto with = [&](const std::string& middle) {
    std::string text = good;
    return text.replace(text.find("%s"), 2, middle);
  };
  // Unknown and damaged hierarchies become repair details; the rest is kept in order.
  auto axis = fromText(with(
      "<AxisHierarchy Hierarchy='[Nowhere]'/><AxisHierarchy/>"
      "<AxisHierarchy Hierarchy='[Time].[Calendar]'><ActiveView><MembersetProxy "
      "Hierarchy='[Time].[Calendar]' CreatedAs='CreateAll' LevelIndex='0'/></ActiveView>"
      "<ActiveView/></AxisHierarchy>"
      "<AxisHierarchy Hierarchy='[Time].[Fiscal]' ActiveSlice='[Time].[Fiscal].[FY1999]'/>"));
  ASSERT_TRUE(axis);
  EXPECT_EQ("[Product], [Time].[Fiscal], [Measures]", hierarchyNames(*axis));
  ASSERT_EQ(4u, axis->getRepairDetails().size());
  EXPECT_NE(std::string::npos, axis->getRepairDetails()[0].string().find("[Nowhere]"));
  EXPECT_NE(std::string::npos, axis->getRepairDetails()[3].string().find("Fiscal"));
  auto_unuse<NUVA_o::Member> slice(axis->getAxisHierarchies()[1]->getActiveSlice());
  EXPECT_TRUE(slice->isDefaultMember());

  // Without AxisProperties a slice axis has no HIDDEN property.
  auto bare = fromText("<Axis AxisType='Slice'/>");
  ASSERT_TRUE(bare);
  std::vector<auto_unuse<NUVA_o::MetaDataProperty>> properties;
  bare->getAxisProperties(properties);
  EXPECT_TRUE(properties.empty());

  EXPECT_EQ(support::COMMON_E_XML_ELEMENT,
            thrownCode([&] { fromText("<Axis AxisType='Column'/>"); }));
  EXPECT_EQ(support::COMMON_E_XML_ELEMENT, thrownCode([&] { fromText("<Axis/>"); }));
  XmlSupport xml;
  xml.parseXML("<Axis AxisType='View'/>");
  EXPECT_EQ(nullptr, AxisCommon::s_CreateAxisFromXML(xml.getDocumentElement(), nullptr, nullptr));
  EXPECT_EQ(nullptr, AxisCommon::s_CreateAxisFromXML(nullptr, m_pCube.get(), nullptr));
}

TEST_P(AxisTest, RestoreSurvivesRandomlyDamagedDocuments) {
  auto axis = makeAxis(NUVA_o::Axis::AT_SLICE, {"[Time].[Calendar]", "[Product]"});
  {
    auto_unuse<NUVA_o::MemberSet> view(axis->getAxisHierarchies()[0]->getViewMemberSet());
    auto_unuse<NUVA_o::MemberSet> slices(axis->getAxisHierarchies()[1]->getActiveSliceMemberSet());
    auto_unuse<NUVA_o::Member> slice(axis->getAxisHierarchies()[1]->getActiveSlice());
    slice->moveTo(TOVAString("[Product].[Gear]"));
  }
  std::string text;
  roundTrip(*axis, &text);
  ASSERT_FALSE(text.empty());

  std::mt19937 random(20240601);
  const char* const fragments[] = {"<", ">", "'", "\"", "/", "=", "AxisHierarchy", "ActiveView",
                                   "Hierarchy", "[Time]", "Slice", "True", "&amp;", " "};
  int restored = 0, refused = 0;
  for (int round = 0; round < 400; ++round) {
    std::string damaged = text;
    const int edits = 1 + int(random() % 4);
    for (int e = 0; e < edits && !damaged.empty(); ++e) {
      const size_t at = random() % damaged.size();
      const size_t length = 1 + random() % 12;
      switch (random() % 3) {
        case 0: damaged.erase(at, length); break;
        case 1: damaged.insert(at, damaged.substr(random() % damaged.size(), length)); break;
        default: damaged.insert(at, fragments[random() % std::size(fragments)]); break;
      }
    }
    try {
      auto_unuse<NUVA_o::Axis> result = fromText(damaged);
      if (result) ++restored;
    } catch (const olap_api::ApiException&) {
      ++refused;
    }
  }
  EXPECT_GT(restored + refused, 0);
}

TEST_P(AxisTest, AnAxisReplacesAHierarchyWhoseViewSetCannotBeUsed) {
  auto axis = makeAxis(NUVA_o::Axis::AT_VIEW, {"[Product]", "[Time].[Fiscal]", "[Measures]"});
  EventLog log;
  axis->addListener(&log);
  auto* fiscal = static_cast<common::AxisHierarchyCommon*>(axis->getAxisHierarchies()[1].get());
  fiscal->use();  // somebody else still holds it
  EXPECT_FALSE(fiscal->memberSetInactivated());
  EXPECT_EQ("[Product], [Time].[Calendar], [Measures]", hierarchyNames(*axis));
  fiscal->unuse();

  auto* calendar = static_cast<common::AxisHierarchyCommon*>(axis->getAxisHierarchies()[1].get());
  const int64_t live = support::liveObjectCount("AxisHierarchyCommon");
  // Only the axis held it: the hierarchy survives until the finish call releases it.
  EXPECT_TRUE(calendar->memberSetInactivated());
  EXPECT_EQ(live + 1, support::liveObjectCount("AxisHierarchyCommon"));
  calendar->memberSetListenerFinish();
  EXPECT_EQ(live, support::liveObjectCount("AxisHierarchyCommon"));
  EXPECT_EQ("[Product], [Time].[Calendar], [Measures]", hierarchyNames(*axis));
  EXPECT_EQ((std::vector<Event>{Event::AE_HIERARCHY_REPLACED, Event::AE_HIERARCHY_REPLACED}),
            log.events);
  axis->removeListener(&log);
}

INSTANTIATE_TEST_SUITE_P(MultipleHierarchies, AxisTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "On" : "Off"; });

}  // namespace
