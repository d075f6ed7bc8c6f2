// Prompts of the sample cube: values validated by type, transactions holding notices, the
// view's reactions, placeholders in expressions and the restore fallback of hierarchies.

#include <gtest/gtest.h>

#include "NUVA_o/Axis.h"
#include "NUVA_o/AxisHierarchy.h"
#include "NUVA_o/Cube.h"
#include "NUVA_o/Expression.h"
#include "NUVA_o/Parameter.h"
#include "NUVA_o/Viewpoint.h"
#include "ViewTesting.h"
#include "VtqTest.h"
#include "common/CommonExpression.h"
#include "common/CommonParameter.h"
#include "common/ViewpointFactory.h"
#include "provider/memory/MemoryCube.h"
#include "support/CoreLog.h"
#include "support/ErrorCodes.h"

namespace {

using vtq_testing::thrownCode;
constexpr uint32_t kProviderRefusal = 0xC203100C;

struct Counter : NUVA_o::Parameter::ParameterListener {
  void parameterChanged(NUVA_o::Parameter*) override { ++count; }
  int count = 0;
};

class ParameterTest : public vtq_testing::VtqTest {
 protected:
  void SetUp() override {
    VtqTest::SetUp();
    m_pCube.reset(memory::loadCube(vtq_testing::sampleCubePath()));
  }
  void TearDown() override {
    m_pCube.reset();
    VtqTest::TearDown();
  }

  auto_unuse<NUVA_o::Parameter> prompt(const char* name) {
    return auto_unuse<NUVA_o::Parameter>(m_pCube->getParameterByName(name));
  }

  // Replaces the prompt's values by one text in one transaction; rolls back what it refuses.
  void set_text(NUVA_o::Parameter& parameter, const TOVAString& text) {
    parameter.beginParameterTransaction();
    try {
      parameter.clearParameterValues();
      auto_unuse<NUVA_o::ParameterValue> value(parameter.createParameterValue(true));
      value->setStringValue(text, false);
    } catch (...) {
      parameter.rollbackParameterTransaction();
      throw;
    }
    parameter.commitParameterTransaction();
  }

  std::string slice_of(NUVA_o::Viewpoint& view, const TOVAString& hierarchy) {
    auto_unuse<NUVA_o::AxisHierarchy> held(view.getAxes().back()->getAxisHierarchy(hierarchy));
    auto_unuse<NUVA_o::Member> slice(held->getActiveSlice());
    return slice->getUniqueName().string();
  }

  auto_unuse<memory::MemoryCube> m_pCube;
};

TEST_F(ParameterTest, ValuesAreCheckedByTypeAndRefusalsChangeNothing) {
  auto region = prompt("[Region]");
  auto threshold = prompt("[Threshold]");
  ASSERT_TRUE(region && threshold);
  Counter counter;
  region->addListener(&counter);
  threshold->addListener(&counter);

  auto_unuse<NUVA_o::ParameterValue> value(region->createParameterValue(false));
  // The provider's spelling is stored, not the argument's.
  value->setStringValue("[geography].[europe]", false);
  EXPECT_EQ("[Geography].[Europe]", value->getStringValue());
  EXPECT_EQ(1, counter.count);
  value->setStringValue("[Geography].[Europe]", false);
  EXPECT_EQ(1, counter.count) << "an unchanged value notifies nobody";

  // Refusals: another hierarchy's member, an unknown member, a number, a second value, the
  // parts of complex parameters. Each leaves the value as it was and notifies nobody.
  EXPECT_EQ(kProviderRefusal, thrownCode([&] { value->setStringValue("[Time].[Calendar].[2024]", false); }));
  EXPECT_EQ(kProviderRefusal, thrownCode([&] { value->setStringValue("[Geography].[Atlantis]", false); }));
  EXPECT_EQ(support::COMMON_E_PARAMETER_NOT_NUMBER, thrownCode([&] { value->setNumericValue(3, false); }));
  EXPECT_EQ(support::COMMON_E_PARAMETER_SINGLE_VALUE,
            thrownCode([&] { auto_unuse<NUVA_o::ParameterValue>(region->createParameterValue(false)); }));
  EXPECT_EQ(support::COMMON_E_PARAMETER_BOOL_PART, thrownCode([&] { value->setBoolValue(true, false); }));
  EXPECT_EQ(support::COMMON_E_PARAMETER_NO_TRANSACTION, thrownCode([&] { region->clearParameterValues(); }));
  EXPECT_EQ(support::COMMON_E_PARAMETER_NOT_TEXT,
            thrownCode([&] { set_text(*threshold, "[Geography].[Europe]"); }));
  EXPECT_EQ("[Geography].[Europe]", value->getStringValue());
  EXPECT_EQ(1u, region->getParameterValues().size());
  EXPECT_EQ(1, counter.count);

  // Numbers: within the declared range, one notice per change.
  auto_unuse<NUVA_o::ParameterValue> number(threshold->createParameterValue(false));
  number->setNumericValue(2.5, false);
  number->setNumericValue(2.5, false);
  EXPECT_EQ(2, counter.count);
  EXPECT_EQ(kProviderRefusal, thrownCode([&] { number->setNumericValue(-5, false); }));
  EXPECT_EQ(2.5, number->getNumericValue());
  EXPECT_EQ(100000.0, threshold->getParameterDefaultValues().front()->getNumericValue());

  // A member-set default is a set of the prompt's hierarchy.
  auto products = prompt("[Products]");
  EXPECT_EQ("{[Product].[Bikes]}", common::parameterValueText(*products->getParameterDefaultValues().front()));

  region->removeListener(&counter);
  threshold->removeListener(&counter);
}

TEST_F(ParameterTest, TransactionsDeliverOneNoticeAtCommitAndNoneAtRollback) {
  auto threshold = prompt("[Threshold]");
  Counter counter;
  threshold->addListener(&counter);
  auto set = [&](double x) {
    auto values = threshold->getParameterValues();
    auto_unuse<NUVA_o::ParameterValue> value =
        values.empty() ? auto_unuse<NUVA_o::ParameterValue>(threshold->createParameterValue(true)) : values.front();
    value->setNumericValue(x, false);
  };
  threshold->beginParameterTransaction();
  set(7);
  set(8);
  EXPECT_EQ(0, counter.count);
  threshold->commitParameterTransaction();
  EXPECT_EQ(1, counter.count);

  threshold->beginParameterTransaction();
  set(9);
  threshold->clearParameterValues();
  EXPECT_FALSE(threshold->hasAValue());
  threshold->rollbackParameterTransaction();
  EXPECT_EQ(1, counter.count);
  ASSERT_EQ(1u, threshold->getParameterValues().size());
  EXPECT_EQ(8.0, threshold->getParameterValues().front()->getNumericValue());

  // Failure paths: a second begin and a commit without begin are refused, and the open
  // transaction is still ended by its rollback, so notices flow again afterwards.
  threshold->beginParameterTransaction();
  EXPECT_EQ(support::COMMON_E_PARAMETER_TRANSACTION_OPEN, thrownCode([&] { threshold->beginParameterTransaction(); }));
  EXPECT_EQ(kProviderRefusal, thrownCode([&] { set(-1); }));
  threshold->rollbackParameterTransaction();
  EXPECT_FALSE(threshold->isInTransaction());
  EXPECT_EQ(support::COMMON_E_PARAMETER_NO_TRANSACTION, thrownCode([&] { threshold->commitParameterTransaction(); }));
  set(10);
  EXPECT_EQ(2, counter.count);
  threshold->removeListener(&counter);
}

TEST_F(ParameterTest, TheViewFollowsMemberHierarchyAndKeyDatePrompts) {
  auto_unuse<NUVA_o::Viewpoint> view(createCommonViewpoint());
  view->initialise(m_pCube.get(), 2, 1);
  vtq_testing::layOut(*view, "[Product]", 1, 1);
  auto region = prompt("[Region]");
  set_text(*region, "[Geography].[Europe]");
  EXPECT_EQ("[Geography].[Europe]", slice_of(*view, "[Geography]"));
  region->beginParameterTransaction();
  region->clearParameterValues();
  region->commitParameterTransaction();
  EXPECT_EQ("[Geography].[All]", slice_of(*view, "[Geography]"));

  // The hierarchy prompt trades places with the hierarchy already in the view.
  const std::string before = vtq_testing::layout(*view);
  EXPECT_EQ("0 view: \n1 view: [Product]\n2 slice: [Time].[Calendar], [Time].[Fiscal], [Geography], [Measures]\n",
            before);
  auto time = prompt("[TimeHierarchy]");
  set_text(*time, "[Time].[Fiscal]");
  EXPECT_EQ("0 view: \n1 view: [Product]\n2 slice: [Time].[Fiscal], [Time].[Calendar], [Geography], [Measures]\n",
            vtq_testing::layout(*view));
  EXPECT_EQ(kProviderRefusal, thrownCode([&] { set_text(*time, "[Product]"); }));
  EXPECT_FALSE(time->isInTransaction());

  // A key date resets every slice.
  set_text(*region, "[Geography].[Pacific]");
  set_text(*prompt("[KeyDate]"), "[Time].[Calendar].[2024]");
  EXPECT_EQ("[Geography].[All]", slice_of(*view, "[Geography]"));

  // A view that is gone is no longer told.
  view.reset();
  set_text(*region, "[Geography].[Europe]");
}

// A prompt whose provider description admits any text.
class LaxServerParameter final : public support::RefCountImpl, public NUVA_o::ServerParameter {
 public:
  LaxServerParameter() : RefCountImpl("LaxServerParameter", 0) {}
  const TOVAString& getUniqueName() const override { return m_Name; }
  const TOVAString& getUniqueID() const override { return m_Name; }
  const TOVAString& getCaption() const override { return m_Name; }
  const TOVAString& getDescription() const override { return m_Name; }
  int32_t getType() const override { return NUVA_o::Parameter::PT_HIERARCHY; }
  int32_t getEntryType() const override { return 0; }
  const TOVAString& getDimensionUniqueName() const override { return m_Dimension; }
  const TOVAString& getHierarchyUniqueName() const override { return m_Empty; }
  NUVA_o::Hierarchy* getHierarchy() const override { return nullptr; }
  const TOVAString& getDefaultValue() const override { return m_Empty; }
  std::vector<TOVAString> getSetOfValues() const override { return {}; }
  void getHierarchyNames(std::vector<TOVAString>&) const override {}
  NUVA_o::Parameter* getDependancy() const override { return nullptr; }
  bool validateParameterValue(const std::vector<TOVAString>&, const TOVAString&,
                              const std::vector<TOVAString>&) const override {
    return true;
  }
  void validateNumericValue(double) const override {}
  void validateMemberRangeValue(const NUVA_o::Member*, const NUVA_o::Member*) const override {}
  void validateMemberSetValue(const NUVA_o::MemberSet*) const override {}
  TOVAString validateStringValue(const TOVAString& text) const override { return text; }
  unsigned getFieldCount() const override { return 0; }
  NUVA_o::Field* getField(unsigned) const override { return nullptr; }

 private:
  ~LaxServerParameter() override = default;
  TOVAString m_Name = "[Lax]", m_Dimension = "[Time]", m_Empty;
};

// Regression: the old axis hierarchy was removed before the new one was looked up, which lost
// it when the cube did not know the new one.
TEST_F(ParameterTest, AnUnknownHierarchyKeepsTheOldOneAndIsLoggedWithItsCode) {
  auto_unuse<NUVA_o::Viewpoint> view(createCommonViewpoint());
  view->initialise(m_pCube.get(), 2, 1);
  auto_unuse<LaxServerParameter> server(new LaxServerParameter);
  auto_unuse<NUVA_o::Parameter> lax(createCommonParameter(m_pCube.get(), server.get()));
  auto* listener = dynamic_cast<NUVA_o::Parameter::ParameterListener*>(view.get());
  ASSERT_NE(nullptr, listener);
  lax->addListener(listener);
  const std::string before = vtq_testing::layout(*view);
  auto& log = captureLog(3);
  set_text(*lax, "[Time].[Lunar]");
  EXPECT_EQ(before, vtq_testing::layout(*view));
  EXPECT_NE(std::string::npos, log.texts().find("[Time].[Lunar]")) << log.texts();
  lax->removeListener(listener);
}

TEST_F(ParameterTest, PlaceholdersTakeTheCurrentValueOnACopy) {
  auto_unuse<NUVA_o::Expression> filter(createCommonExpression(m_pCube.get()));
  filter->setTextAndCreateTree("{[Measures].[Sales]} > <<[Threshold]>>");
  auto resolved = [&] {
    auto_unuse<NUVA_o::Expression> copy(filter->clone());
    std::vector<auto_unuse<NUVA_o::Parameter>> used;
    copy->resolveParameters(m_pCube.get(), used);
    EXPECT_EQ(1u, used.size());
    return copy->getTextFromTree().string();
  };
  EXPECT_NE(std::string::npos, resolved().find("100000")) << resolved();
  auto threshold = prompt("[Threshold]");
  threshold->beginParameterTransaction();
  auto_unuse<NUVA_o::ParameterValue> value(threshold->createParameterValue(true));
  value->setNumericValue(250, false);
  threshold->commitParameterTransaction();
  EXPECT_NE(std::string::npos, resolved().find("250")) << resolved();
  EXPECT_NE(std::string::npos, filter->getTextFromTree().string().find("<<[Threshold]>>"));

  auto_unuse<NUVA_o::Expression> one(filter->clone());
  one->replaceParameter(threshold.get());
  EXPECT_NE(std::string::npos, one->getTextFromTree().string().find("250"));

  // Unknown names and prompts without any value are refused; the tree keeps its placeholders.
  std::vector<auto_unuse<NUVA_o::Parameter>> used;
  auto_unuse<NUVA_o::Expression> unknown(createCommonExpression(m_pCube.get()));
  unknown->setTextAndCreateTree("<<[Threshold]>> + <<[Nowhere]>>");
  EXPECT_EQ(support::COMMON_E_UNKNOWN_PARAMETER, thrownCode([&] { unknown->resolveParameters(m_pCube.get(), used); }));
  EXPECT_NE(std::string::npos, unknown->getTextFromTree().string().find("<<[Threshold]>>"));
  auto_unuse<NUVA_o::Expression> empty(createCommonExpression(m_pCube.get()));
  empty->setTextAndCreateTree("<<[Region]>>");
  EXPECT_EQ(support::COMMON_E_PARAMETER_WITHOUT_VALUE,
            thrownCode([&] { empty->resolveParameters(m_pCube.get(), used); }));
}

TEST_F(ParameterTest, ASavedHierarchyTheCubeLacksIsRestoredThroughTheHierarchyPrompt) {
  auto_unuse<NUVA_o::Viewpoint> view(createCommonViewpoint());
  view->initialise(m_pCube.get(), 2, 1);
  vtq_testing::layOut(*view, "[Product]", 1, 0);
  std::string xml = view->toXML().string();
  const std::string calendar = "Hierarchy=\"[Time].[Calendar]\"";
  const size_t at = xml.find(calendar);
  ASSERT_NE(std::string::npos, at);
  xml.replace(at, calendar.size(), "Hierarchy=\"[Time].[Retired]\"");
  set_text(*prompt("[TimeHierarchy]"), "[Time].[Fiscal]");
  auto_unuse<NUVA_o::Viewpoint> restored(createCommonViewpoint());
  restored->initialise(m_pCube.get(), TOVAString(xml));
  EXPECT_NE(std::string::npos, vtq_testing::layout(*restored).find("2 slice: [Time].[Fiscal]"))
      << vtq_testing::layout(*restored);
}

}  // namespace

namespace {

TEST_F(ParameterTest, SavedViewsCarryThePromptValues) {
  common::setParameterValueTexts(*prompt("[Threshold]"), {"250"});
  common::setParameterValueTexts(*prompt("[Products]"), {"{[Product].[Bikes], [Product].[Clothing]}"});
  common::setParameterValueTexts(*prompt("[Region]"), {"[Geography].[Europe]"});
  auto_unuse<NUVA_o::Viewpoint> view(createCommonViewpoint());
  view->initialise(m_pCube.get(), 2, 1);
  std::string xml = view->toXML().string();
  for (const char* name : {"[Threshold]", "[Products]", "[Region]"}) common::setParameterValueTexts(*prompt(name), {});

  auto_unuse<NUVA_o::Viewpoint> restored(createCommonViewpoint());
  restored->initialise(m_pCube.get(), TOVAString(xml));
  EXPECT_EQ(250.0, prompt("[Threshold]")->getParameterValues().front()->getNumericValue());
  EXPECT_EQ("{[Product].[Bikes], [Product].[Clothing]}",
            common::parameterValueText(*prompt("[Products]")->getParameterValues().front()));
  EXPECT_EQ(xml, restored->toXML().string());

  // A prompt the cube no longer declares, or a value it refuses, is a repair; the rest stays.
  const size_t at = xml.find("Name=\"[Region]\"");
  ASSERT_NE(std::string::npos, at);
  std::string damaged = xml;
  damaged.replace(at, 15, "Name=\"[Gone]\"");
  const size_t threshold = damaged.find("Text=\"250\"");
  ASSERT_NE(std::string::npos, threshold);
  damaged.replace(threshold, 10, "Text=\"-1\"");
  auto_unuse<NUVA_o::Viewpoint> repaired(createCommonViewpoint());
  repaired->initialise(m_pCube.get(), TOVAString(damaged));
  EXPECT_EQ(2u, repaired->getRepairDetails().size());
  EXPECT_EQ(250.0, prompt("[Threshold]")->getParameterValues().front()->getNumericValue());
  EXPECT_FALSE(prompt("[Threshold]")->isInTransaction());
}

}  // namespace
