#include <gtest/gtest.h>

#include "NUVA_o/MemberSet.h"
#include "NUVA_o/ViewResultSet.h"
#include "VtqTest.h"
#include "common/ViewpointFactory.h"
#include "support/CoreLog.h"
#include "ViewTesting.h"

using vtq_testing::layout;
using vtq_testing::thrownCode;

namespace {

class ViewpointTest : public vtq_testing::VtqTest, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    VtqTest::SetUp();
    m_pCube.reset(vtq_testing::buildTestCube(GetParam()));
    m_pView.reset(createCommonViewpoint());
  }
  void TearDown() override {
    m_pView.reset();
    m_pCube.reset();
    VtqTest::TearDown();
  }
  bool multiple() const { return GetParam(); }
  std::string defaultSlice() const {
    return multiple() ? "[Time].[Calendar], [Time].[Fiscal], [Product], [Measures]"
                      : "[Time].[Calendar], [Product], [Measures]";
  }

  auto_unuse<memory::MemoryCube> m_pCube;
  auto_unuse<NUVA_o::Viewpoint> m_pView;
};

TEST_P(ViewpointTest, DefaultLayoutPutsEveryDimensionOnTheFirstSliceAxisWithoutMakingMemberSets) {
  m_pView->initialise(m_pCube.get(), 2, 1);
  EXPECT_EQ("0 view: \n1 view: \n2 slice: " + defaultSlice() + "\n", layout(*m_pView));
  EXPECT_EQ(2u, m_pView->countViewAxes());
  EXPECT_EQ(1u, m_pView->countSliceAxes());
  EXPECT_EQ(m_pCube.get(), m_pView->getCube());
  EXPECT_EQ(0u, m_pCube->getMemberSetsCreated());

  m_pView->initialise(m_pCube.get(), 1, 2);  // refused: already bound, nothing changes
  EXPECT_EQ("0 view: \n1 view: \n2 slice: " + defaultSlice() + "\n", layout(*m_pView));

  // The member sets are recipes until somebody needs their members.
  NUVA_o::Axis* slice = m_pView->getAxes()[2].get();
  auto_unuse<NUVA_o::MemberSet> set(slice->getAxisHierarchies()[0]->getViewMemberSet());
  EXPECT_EQ(0u, m_pCube->getMemberSetsCreated());
  EXPECT_EQ("[Time].[Calendar] view set", set->getName().string());
  set->getServerMemberSet();
  EXPECT_EQ(1u, m_pCube->getMemberSetsCreated());

  // Axes made by the view take the cube's default null filter and carry HIDDEN on slices only.
  std::vector<auto_unuse<NUVA_o::MetaDataProperty>> properties;
  m_pView->getAxes()[0]->getAxisProperties(properties);
  EXPECT_TRUE(properties.empty());
  slice->getAxisProperties(properties);
  ASSERT_EQ(1u, properties.size());
  EXPECT_EQ("HIDDEN", properties[0]->getPropertyName().string());
}

TEST_P(ViewpointTest, RefusedAxisCountsLeaveTheViewUnboundAndUsable) {
  EXPECT_EQ(support::COMMON_E_NO_VIEW_AXIS,
            thrownCode([&] { m_pView->initialise(m_pCube.get(), 0, 1); }));
  EXPECT_EQ(nullptr, m_pView->getCube());
  EXPECT_EQ(support::COMMON_E_TOO_MANY_VIEW_AXES,
            thrownCode([&] { m_pView->initialise(m_pCube.get(), 3, 1); }));
  EXPECT_EQ(support::COMMON_E_NO_SLICE_AXIS,
            thrownCode([&] { m_pView->initialise(m_pCube.get(), 1, 0); }));
  EXPECT_EQ(nullptr, m_pView->getCube());
  EXPECT_TRUE(m_pView->getAxes().empty());

  m_pView->initialise(m_pCube.get(), 1, 2);
  EXPECT_EQ("0 view: \n1 slice: " + defaultSlice() + "\n2 slice: \n", layout(*m_pView));
}

TEST_P(ViewpointTest, UnboundAndDisconnectedViewsRefuseWithAStateException) {
  // Never bound: a null cube is reported, and nothing is dereferenced.
  const uint64_t asserts = support_dll::assertionFailureCount();
  m_pView->initialise(nullptr, 1, 1);
  EXPECT_EQ(asserts + 1, support_dll::assertionFailureCount());
  EXPECT_EQ(nullptr, m_pView->getCube());

  auto refusals = [&] {
    std::vector<uint32_t> codes;
    codes.push_back(thrownCode([&] { auto_unuse<NUVA_o::Viewpoint>(m_pView->clone()); }));
    codes.push_back(thrownCode([&] { m_pView->revert(); }));
    codes.push_back(thrownCode([&] { m_pView->swapAxisHierarchies("[Product]", "[Time]"); }));
    // Without a provider's companion there is nothing to evaluate, and nothing to interrupt.
    codes.push_back(thrownCode([&] { auto_unuse<NUVA_o::ViewResultSet>(m_pView->query()); }));
    m_pView->interrupt();
    return codes;
  };
  const std::vector<uint32_t> state{support::COMMON_E_NOT_BOUND, support::COMMON_E_NOT_BOUND,
                                    support::COMMON_E_NOT_BOUND,
                                    support::COMMON_E_NO_PROVIDER_OBJECT};
  EXPECT_EQ(state, refusals());

  m_pView->initialise(m_pCube.get(), 1, 1);
  m_pView->disconnect(true);
  EXPECT_EQ(nullptr, m_pView->getCube());
  EXPECT_TRUE(m_pView->getAxes().empty());
  EXPECT_EQ(state, refusals());
}

TEST_P(ViewpointTest, RefusedClauseArgumentsAndForeignAxesSayWhy) {
  m_pView->initialise(m_pCube.get(), 1, 1);
  EXPECT_EQ(support::COMMON_E_SORT_NEEDS_TUPLE,
            thrownCode([&] { m_pView->addSort(nullptr, {}, false); }));
  EXPECT_EQ(support::COMMON_E_FILTER_NEEDS_TUPLE,
            thrownCode([&] { m_pView->addFilter(nullptr, nullptr); }));
  m_pView->removeSort(nullptr);
  // Axes of another view cannot be swapped.
  auto_unuse<NUVA_o::Viewpoint> other(createCommonViewpoint());
  other->initialise(m_pCube.get(), 1, 1);
  EXPECT_EQ(support::COMMON_E_FOREIGN_AXIS, thrownCode([&] {
              m_pView->swapAxes(m_pView->getAxes()[0].get(), other->getAxes()[0].get());
            }));
}

TEST_P(ViewpointTest, XmlFormChecksForExactlyOneCubeViewAndStaysUnboundOnFailure) {
  EXPECT_EQ(support::COMMON_E_NOT_A_CUBE_VIEW,
            thrownCode([&] { m_pView->initialise(m_pCube.get(), "<CubeView"); }));
  EXPECT_EQ(nullptr, m_pView->getCube());
  EXPECT_EQ(support::COMMON_E_NOT_A_CUBE_VIEW, thrownCode([&] {
              m_pView->initialise(m_pCube.get(), "<Root><CubeView/><CubeView/></Root>");
            }));
  EXPECT_EQ(nullptr, m_pView->getCube());
  EXPECT_EQ(support::COMMON_E_NOT_A_CUBE_VIEW,
            thrownCode([&] { m_pView->initialise(m_pCube.get(), "<Other/>"); }));
  m_pView->initialise(m_pCube.get(), 2, 1);
  EXPECT_EQ(3u, m_pView->getAxes().size());
}

TEST_P(ViewpointTest, MemberLevelQueryPropertiesReachTheViewMemberSets) {
  m_pView->initialise(m_pCube.get(), 1, 1);
  auto& sink = captureLog(4);
  m_pView->addQueryProperty(NUVA_o::IS_CALCULATION);
  m_pView->addQueryProperty(NUVA_o::IS_CALCULATION);
  m_pView->addQueryProperty(NUVA_o::USE_CHUNKING);
  m_pView->removeQueryProperty(NUVA_o::IS_FILTERED);  // absent: nothing
  m_pView->removeQueryProperty(NUVA_o::USE_CHUNKING);
  std::string lines;
  for (const auto& record : sink.records())
    if (record.text.string().find("QueryProperty") != std::string::npos)
      lines += record.text.string() + "\n";
  EXPECT_EQ(
      "Adding QueryProperty IS_CALCULATION\nAdding QueryProperty USE_CHUNKING\n"
      "Removing QueryProperty USE_CHUNKING\n",
      lines);
  EXPECT_TRUE(m_pView->hasQueryProperty(NUVA_o::IS_CALCULATION));
  EXPECT_FALSE(m_pView->hasQueryProperty(NUVA_o::USE_CHUNKING));
  for (const auto& h : m_pView->getAxes()[1]->getAxisHierarchies()) {
    auto_unuse<NUVA_o::MemberSet> set(h->getViewMemberSet());
    EXPECT_TRUE(set->hasQueryProperty(NUVA_o::IS_CALCULATION)) << h->getUniqueName().string();
    EXPECT_FALSE(set->hasQueryProperty(NUVA_o::USE_CHUNKING));
  }
  EXPECT_EQ(0u, m_pCube->getMemberSetsCreated());
}

TEST_P(ViewpointTest, HidingASliceAxisResetsItsActiveSlices) {
  m_pView->initialise(m_pCube.get(), 1, 1);
  NUVA_o::Axis* slice = m_pView->getAxes()[1].get();
  auto_unuse<NUVA_o::AxisHierarchy> product(slice->getAxisHierarchy("[Product]"));
  ASSERT_TRUE(product);
  {
    auto_unuse<NUVA_o::Member> member(product->getActiveSlice());
    member->moveTo(TOVAString("[Product].[Gear]"));
  }
  EXPECT_FALSE(product->activeSliceIsDefault());
  std::vector<auto_unuse<NUVA_o::MetaDataProperty>> properties;
  slice->getAxisProperties(properties);
  properties[0]->setPropertyValue(SmartCommonVariant(true));
  EXPECT_TRUE(slice->isHidden());
  EXPECT_TRUE(product->activeSliceIsDefault());
}

TEST_P(ViewpointTest, CloneIsBoundToTheSameCubeWithItsOwnAxes) {
  m_pView->initialise(m_pCube.get(), 2, 1);
  m_pView->addQueryProperty(NUVA_o::USE_CHUNKING);
  NUVA_o::AxisHierarchy* calendar = m_pView->getAxes()[2]->getAxisHierarchies()[0].get();
  {
    auto_unuse<NUVA_o::Member> member(calendar->getActiveSlice());
    member->moveTo(TOVAString("[Time].[Calendar].[2024]"));
  }
  auto_unuse<NUVA_o::Viewpoint> copy(m_pView->clone());
  EXPECT_EQ(layout(*m_pView), layout(*copy));
  EXPECT_EQ(m_pCube.get(), copy->getCube());
  EXPECT_NE(m_pView->getUniqueName(), copy->getUniqueName());
  EXPECT_TRUE(copy->hasQueryProperty(NUVA_o::USE_CHUNKING));
  NUVA_o::Axis* copiedSlice = copy->getAxes()[2].get();
  EXPECT_NE(m_pView->getAxes()[2].get(), copiedSlice);
  NUVA_o::AxisHierarchy* copiedCalendar = copiedSlice->getAxisHierarchies()[0].get();
  EXPECT_NE(calendar, copiedCalendar);
  auto_unuse<NUVA_o::Member> copiedSlicer(copiedCalendar->getActiveSlice());
  EXPECT_EQ("[Time].[Calendar].[2024]", copiedSlicer->getUniqueName().string());

  // Hiding the copy's slice axis hides that axis only.
  std::vector<auto_unuse<NUVA_o::MetaDataProperty>> properties;
  copiedSlice->getAxisProperties(properties);
  properties[0]->setPropertyValue(SmartCommonVariant(true));
  EXPECT_TRUE(copiedSlice->isHidden());
  EXPECT_FALSE(m_pView->getAxes()[2]->isHidden());
  EXPECT_TRUE(copiedCalendar->activeSliceIsDefault());
  EXPECT_FALSE(calendar->activeSliceIsDefault());
}

TEST_P(ViewpointTest, ClosingTheConnectionUnbindsTheView) {
  m_pView->initialise(m_pCube.get(), 1, 1);
  m_pCube->closeConnection();
  EXPECT_EQ(nullptr, m_pView->getCube());
  EXPECT_TRUE(m_pView->getAxes().empty());
  // Bound again afterwards, and released while bound.
  m_pView->initialise(m_pCube.get(), 1, 1);
  EXPECT_EQ(2u, m_pView->getAxes().size());
  // A closed view no longer listens: closing again after its death reaches nobody.
  m_pCube->closeConnection();
  m_pView.reset();
  m_pCube->closeConnection();
}

INSTANTIATE_TEST_SUITE_P(MultipleHierarchies, ViewpointTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "On" : "Off"; });

class SampleCubeTest : public vtq_testing::VtqTest {};

TEST_F(SampleCubeTest, DefaultLayoutOfTheSalesCube) {
  auto_unuse<memory::MemoryCube> cube(
      memory::loadCube(vtq_testing::sampleCubePath()));
  // The cube's own prompts may have made sets (defaults); the layout must make none.
  const uint64_t setsBefore = cube->getMemberSetsCreated();
  for (bool multiple : {false, true}) {
    cube->setCapability(NUVA_o::Cube::SUPPORTS_MULTIPLE_HIERARCHY_QUERY, multiple);
    auto_unuse<NUVA_o::Viewpoint> view(createCommonViewpoint());
    view->initialise(cube.get(), 2, 1);
    EXPECT_EQ(std::string("0 view: \n1 view: \n2 slice: [Time].[Calendar], ") +
                  (multiple ? "[Time].[Fiscal], " : "") + "[Product], [Geography], [Measures]\n",
              layout(*view));
  }
  EXPECT_EQ(setsBefore, cube->getMemberSetsCreated());
}

}  // namespace
