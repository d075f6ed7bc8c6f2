#include <gtest/gtest.h>

#include "CalculationEnumerator.h"
#include "NUVA_o/Viewpoint.h"
#include "SubTotalCommon.h"
#include "ViewTesting.h"
#include "VtqTest.h"
#include "axiscommon.h"
#include "common/CommonTuple.h"
#include "common/ViewpointCommandManager.h"
#include "common/ViewpointFactory.h"
#include "dynamiccalculationcommon.h"
#include "support/ErrorCodes.h"
#include "support/StringConverters.h"

using common::AxisCommon;
using vtq_testing::thrownCode;
using NUVA_o::SubTotal;

namespace {

class SubTotalsTest : public vtq_testing::VtqTest {
 protected:
  void SetUp() override {
    VtqTest::SetUp();
    m_pCube.reset(vtq_testing::buildTestCube(false));
  }
  void TearDown() override {
    m_pCube.reset();
    VtqTest::TearDown();
  }
  auto_unuse<AxisCommon> makeAxis(std::initializer_list<const char*> names) {
    auto_unuse<AxisCommon> axis(new AxisCommon(NUVA_o::Axis::AT_VIEW, nullptr));
    for (const char* name : names) {
      auto_unuse<NUVA_o::Hierarchy> h(m_pCube->getHierarchyByUniqueName(name));
      axis->addAxisHierarchy(h.get());
    }
    return axis;
  }
  // A tuple of each hierarchy's default member.
  auto_unuse<NUVA_o::Tuple> tupleOver(std::initializer_list<const char*> names) {
    auto_unuse<NUVA_o::Tuple> tuple(createCommonTuple());
    for (const char* name : names) {
      auto_unuse<NUVA_o::Hierarchy> h(m_pCube->getHierarchyByUniqueName(name));
      auto_unuse<NUVA_o::Member> m(h->getDefaultMember());
      tuple->addMember(m.get());
    }
    return tuple;
  }
  std::string persisted(const NUVA_o::Axis& axis) {
    XmlSupport xml;
    DOMElement* root = xml.addAChild(nullptr, "Root");
    axis.persist(xml, root);
    return xml.getXml().string();
  }
  auto_unuse<NUVA_o::Axis> fromText(const std::string& text) {
    XmlSupport xml;
    EXPECT_TRUE(xml.parseXML(TOVAString(text)));
    return auto_unuse<NUVA_o::Axis>(AxisCommon::s_CreateAxisFromXML(
        XmlSupport::findChild(xml.getDocumentElement(), "Axis"), m_pCube.get(), nullptr));
  }
  static std::string describe(const NUVA_o::Axis& axis) {
    std::string out;
    for (const auto& s : axis.getAxisSubTotals())
      out += "S" + std::to_string(s->getOperation()) + std::to_string(s->getType()) +
             std::to_string(s->getPosition()) + (s->isDisabled() ? "d " : " ");
    for (const auto& c : axis.getDynamicCalculations())
      out += "C" + std::to_string(c->getType()) + (c->isActive() ? "a " : " ");
    return out;
  }

  auto_unuse<memory::MemoryCube> m_pCube;
};

TEST_F(SubTotalsTest, AnAxisHoldsAtMost128SubtotalsOfKnownValues) {
  auto axis = makeAxis({"[Product]"});
  auto_unuse<SubTotal> first(axis->addAxisSubTotal(SubTotal::SP_AFTER, SubTotal::STT_PER_PARENT,
                                                   SubTotal::SO_AVERAGE));
  auto_unuse<SubTotal> second(
      axis->addAxisSubTotal(SubTotal::SP_BEFORE, SubTotal::STT_AXIS_TOTAL, SubTotal::SO_SUM));
  const std::string name = first->getUniqueName().string();
  EXPECT_EQ(0u, name.find("SubTotal_{"));
  EXPECT_EQ(std::string::npos, name.find_first_of(", "));
  EXPECT_NE(first->getUniqueName(), second->getUniqueName());

  // Unknown values and a full axis are refused with nothing added.
  EXPECT_EQ(support::COMMON_E_UNKNOWN_SUBTOTAL_VALUE, thrownCode([&] {
              auto_unuse<SubTotal> s(axis->addAxisSubTotal(
                  SubTotal::SP_AFTER, SubTotal::STT_AXIS_TOTAL, SubTotal::SubTotalOperation(5)));
            }));
  EXPECT_EQ(support::COMMON_E_UNKNOWN_SUBTOTAL_VALUE,
            thrownCode([&] { first->setPosition(SubTotal::SubTotalPosition(-1)); }));
  while (axis->getAxisSubTotals().size() < AxisCommon::kMaxSubTotals)
    auto_unuse<SubTotal>(axis->addAxisSubTotal(SubTotal::SP_AFTER, SubTotal::STT_AXIS_TOTAL,
                                               SubTotal::SO_COUNT));
  // Regression: the 129th subtotal was reported and then added all the same.
  EXPECT_EQ(support::COMMON_E_TOO_MANY_SUBTOTALS, thrownCode([&] {
              auto_unuse<SubTotal> s(axis->addAxisSubTotal(
                  SubTotal::SP_AFTER, SubTotal::STT_AXIS_TOTAL, SubTotal::SO_SUM));
            }));
  EXPECT_EQ(AxisCommon::kMaxSubTotals, axis->getAxisSubTotals().size());
  EXPECT_EQ("S111 S000 ", describe(*axis).substr(0, 10));
}

TEST_F(SubTotalsTest, RestoreKeepsWhatItCanReadAndReportsTheRest) {
  auto axis = makeAxis({"[Product]", "[Measures]"});
  auto_unuse<SubTotal> subTotal(axis->addAxisSubTotal(SubTotal::SP_AFTER, SubTotal::STT_PER_PARENT,
                                                      SubTotal::SO_MAXIMUM));
  subTotal->setCaption("Most");
  subTotal->addDriverIdentification("x");
  EXPECT_TRUE(subTotal->matchesDriverIdentification("x"));
  EXPECT_TRUE(subTotal->matchesDriverIdentification(subTotal->getUniqueName()));
  subTotal->setDisabled(true);
  auto tuple = tupleOver({"[Measures]", "[Product]"});
  auto_unuse<NUVA_o::DynamicCalculation> calculation(
      axis->addDynamicCalculation(tuple.get(), NUVA_o::DC_RUNNING_SUM));
  calculation->setCaption("Running");
  auto_unuse<NUVA_o::DynamicCalculation> inactive(
      axis->addDynamicCalculation(tupleOver({"[Measures]"}).get(), NUVA_o::DC_RANK));
  EXPECT_EQ("S311d C3a C2 ", describe(*axis));

  const std::string text = persisted(*axis);
  auto restored = fromText(text);
  EXPECT_EQ("S311d C3a C2 ", describe(*restored));
  EXPECT_TRUE(restored->getRepairDetails().empty());
  EXPECT_EQ(text, persisted(*restored));  // GUIDs and unique names included
  EXPECT_FALSE(restored->getAxisSubTotals()[0]->matchesDriverIdentification("x"));

  // A damaged subtotal or calculation is dropped with a repair line; the axis and the rest of
  // its entries survive.
  std::string damaged = text;
  damaged.replace(damaged.find("Operation=\"3\""), 13, "Operation=\"9\"");
  const size_t tuple2 = damaged.rfind("<Tuple");
  damaged.erase(tuple2, damaged.find("</Tuple>", tuple2) + 8 - tuple2);
  auto repaired = fromText(damaged);
  ASSERT_TRUE(repaired);
  EXPECT_EQ("C3a ", describe(*repaired));
  EXPECT_EQ(2u, repaired->getAxisHierarchies().size());
  ASSERT_EQ(2u, repaired->getRepairDetails().size());
  EXPECT_NE(std::string::npos,
            repaired->getRepairDetails()[0].string().find("'Tuple' is missing"));
  EXPECT_NE(std::string::npos,
            repaired->getRepairDetails()[1].string().find("'Operation' is out of range"));
}

TEST_F(SubTotalsTest, CalculationsFollowTheHierarchiesOfTheirAxis) {
  auto axis = makeAxis({"[Product]", "[Measures]"});
  auto_unuse<NUVA_o::DynamicCalculation> calculation(
      axis->addDynamicCalculation(tupleOver({"[Measures]", "[Product]"}).get(),
                                  NUVA_o::DC_PERCENT_OF_TOTAL));
  EXPECT_EQ(calculation->getUniqueName(),
            StringConverters::convertGUIDToString(
                dynamic_cast<common::DynamicCalculationCommon&>(*calculation).getGUID(), false));
  EXPECT_TRUE(calculation->isActive());
  auto_unuse<NUVA_o::AxisHierarchy>(axis->removeAxisHierarchy("[Product]"));
  EXPECT_FALSE(calculation->isActive());
  auto_unuse<NUVA_o::Hierarchy> product(m_pCube->getHierarchyByUniqueName("[Product]"));
  axis->addAxisHierarchy(product.get(), 1);
  EXPECT_TRUE(calculation->isActive());
  calculation->setDisabled(true);
  EXPECT_FALSE(calculation->isActive());
  EXPECT_EQ(support::COMMON_E_UNKNOWN_CALCULATION_TYPE, thrownCode([&] {
              auto_unuse<NUVA_o::DynamicCalculation> c(axis->addDynamicCalculation(
                  tupleOver({"[Product]"}).get(), NUVA_o::DynamicCalculationType(6)));
            }));
  EXPECT_EQ(1u, axis->getDynamicCalculations().size());
}

TEST_F(SubTotalsTest, ViewEditsAreUndoableAndClonesKeepTheirOwnHistory) {
  auto_unuse<NUVA_o::Viewpoint> view(createCommonViewpoint());
  view->initialise(m_pCube.get(), 2, 1);
  vtq_testing::layOut(*view, "[Product]", 1, 1);
  vtq_testing::layOut(*view, "[Measures]", 0, 0);
  NUVA_o::Axis* rows = view->getAxes()[1].get();
  common::ViewpointCommandManager& history = *common::getViewpointCommandManager(view.get());

  auto_unuse<SubTotal> subTotal(common::addAxisSubTotal(
      *view, *rows, SubTotal::SP_AFTER, SubTotal::STT_PER_PARENT, SubTotal::SO_SUM));
  auto_unuse<NUVA_o::DynamicCalculation> calculation(common::addDynamicCalculation(
      *view, *rows, *tupleOver({"[Product]"}), NUVA_o::DC_RANK));
  subTotal->setDisabled(true);
  calculation->setDisabled(true);
  EXPECT_EQ("S011d C2 ", describe(*rows));
  ASSERT_TRUE(history.undo());
  ASSERT_TRUE(history.undo());
  EXPECT_EQ("S011 C2a ", describe(*rows));
  ASSERT_TRUE(history.undo());
  ASSERT_TRUE(history.undo());
  EXPECT_EQ("", describe(*rows));
  ASSERT_TRUE(history.redo());
  EXPECT_EQ(subTotal.get(), rows->getAxisSubTotals()[0].get());  // the same object comes back

  // A refused add records nothing.
  const size_t recorded = history.getUndoHistory().size();
  EXPECT_EQ(support::COMMON_E_UNKNOWN_SUBTOTAL_VALUE, thrownCode([&] {
              auto_unuse<SubTotal>(common::addAxisSubTotal(*view, *rows, SubTotal::SP_AFTER,
                                                           SubTotal::SubTotalType(7),
                                                           SubTotal::SO_SUM));
            }));
  EXPECT_EQ(recorded, history.getUndoHistory().size());

  // Regression: a cloned view's subtotals recorded their edits in the source view's history.
  auto_unuse<NUVA_o::Viewpoint> copy(view->clone());
  copy->getAxes()[1]->getAxisSubTotals()[0]->setDisabled(true);
  EXPECT_EQ(recorded, history.getUndoHistory().size());
  EXPECT_EQ(1u, common::getViewpointCommandManager(copy.get())->getUndoHistory().size());
  EXPECT_FALSE(subTotal->isDisabled());
}

TEST_F(SubTotalsTest, TheEnumeratorFindsPercentCalculationsOnViewAxes) {
  auto_unuse<memory::MemoryCube> cube(memory::loadCube(vtq_testing::sampleCubePath()));
  auto_unuse<NUVA_o::Viewpoint> view(createCommonViewpoint());
  view->initialise(cube.get(), 2, 1);
  vtq_testing::layOut(*view, "[Measures]", 0, 0);
  std::set<NUVA_o::Calculation*> found;
  EXPECT_FALSE(common::CalculationEnumerator::enumerate_calcs_on_axis_by_calctype(
      view->getAxes()[2].get(), NUVA_o::CF_PERCENT, found));
  EXPECT_TRUE(common::CalculationEnumerator::enumerate_all_percent_calcs_in_query(view.get(), found));
  ASSERT_EQ(1u, found.size());
  EXPECT_EQ("[Measures].[Margin %]", (*found.begin())->getUniqueName().string());
}

}  // namespace
