#include <string>
#include <thread>
#include <vector>

#include "VtqTest.h"
#include "common/ComponentLog.h"
#include "support/CoreLog.h"
#include "support/Exceptions.h"

namespace {

using vtq_testing::VtqTest;

class CoreLogTest : public VtqTest {};

// An argument that counts how often a log text was actually formatted with it.
struct Counted {
  int* count;
  operator TOVAString() const {
    ++*count;
    return TOVAString("counted");
  }
};

TEST_F(CoreLogTest, LinesAreBuiltOnlyWhenTheUnitRecordsThem) {
  auto& log = captureLog(3);
  support_dll::CoreLog* core = support_dll::CoreLog::getLogObject();
  common::ComponentLog component(common::moduleName(), "AxisCommon");
  EXPECT_EQ("AxisCommon@COMMONMODULE", component.unit());
  int built = 0;
  component.logAt(4, "hidden %s", Counted{&built});
  component.logf("hidden %s", Counted{&built});
  EXPECT_EQ(0, built);
  EXPECT_TRUE(log.records().empty());

  // A unit threshold opens one unit without opening the others.
  core->setUnitVerbosity("AxisCommon@COMMONMODULE", 4);
  common::ComponentLog other(common::moduleName(), "ViewpointCommon");
  component.logAt(4, "shown %s", Counted{&built});
  other.logAt(4, "hidden %s", Counted{&built});
  EXPECT_EQ(1, built);
  auto records = log.records();
  ASSERT_EQ(1u, records.size());
  EXPECT_EQ("shown counted", records[0].text.string());
  EXPECT_EQ(support::COMMON_LOG_LINE, records[0].messageId);
  EXPECT_EQ(4, records[0].verbosity);
  EXPECT_EQ("componentlog", records[0].source);
  EXPECT_EQ(81, records[0].line);
  EXPECT_EQ("ComponentLog::log", records[0].function);

  // A negative threshold silences a unit completely, even its most urgent lines.
  core->setUnitVerbosity("AxisCommon@COMMONMODULE", -1);
  component.log("urgent", 1);
  component.log("zero", 0);
  EXPECT_EQ(1u, log.records().size());
  core->setUnitVerbosity("AxisCommon@COMMONMODULE", 300);  // large values are not cut either
  EXPECT_TRUE(component.shouldLog(255));
}

TEST_F(CoreLogTest, PositionedAndComputedLinesAreBuiltOnlyWhenRecorded) {
  auto& log = captureLog(3);
  support_dll::CoreLog* core = support_dll::CoreLog::getLogObject();
  common::ComponentLog topic(common::moduleName(), "LISTENERS");
  int built = 0;
  auto text = [&] {
    ++built;
    return TOVAString("computed");
  };
  topic.logAt({"somewhere", 7, "f"}, 5, "hidden %s", Counted{&built});
  topic.logAt(5, text);
  EXPECT_EQ(0, built);

  core->setUnitVerbosity("LISTENERS@COMMONMODULE", 5);
  topic.logAt({"somewhere", 7, "ns::f", support::COMMON_LOG_ERROR}, 5, "shown %s", Counted{&built});
  topic.logAt(5, text);
  EXPECT_EQ(2, built);
  auto records = log.records();
  ASSERT_EQ(2u, records.size());
  EXPECT_EQ("shown counted", records[0].text.string());
  EXPECT_EQ(support::COMMON_LOG_ERROR, records[0].messageId);
  EXPECT_EQ("LISTENERS@COMMONMODULE", records[0].unit);
  EXPECT_EQ("somewhere", records[0].source);
  EXPECT_EQ(7, records[0].line);
  EXPECT_EQ("ns::f", records[0].function);
  EXPECT_EQ("computed", records[1].text.string());
}

TEST_F(CoreLogTest, LogfWithANullFormat) {
  auto& log = captureLog(5);
  common::ComponentLog component(common::moduleName(), "ViewpointCommon");
  component.logf(nullptr);
  EXPECT_TRUE(log.records().empty());
  captureLog(6);
  component.logf(nullptr);
  component.logf("%d items", 3);
  auto records = log.records();
  ASSERT_EQ(2u, records.size());
  EXPECT_EQ(6, records[0].verbosity);
  EXPECT_TRUE(records[0].text.empty());
  EXPECT_EQ("3 items", records[1].text.string());
}

TEST_F(CoreLogTest, CatalogueRendersInsertsInOrder) {
  support_dll::CoreLog* core = support_dll::CoreLog::getLogObject();
  for (uint32_t id :
       {support::COMMON_M_XML_MISSING, support::COMMON_M_XML_REPEATED,
        support::COMMON_R_SORT_DROPPED, support::COMMON_R_FILTER_DROPPED,
        support::COMMON_R_EXCEPTION_SPECIFICATION_DROPPED, support::COMMON_R_AXIS_HIERARCHY_DROPPED,
        support::COMMON_R_DYNAMIC_CALCULATION_DROPPED, support::COMMON_R_ACTIVE_SLICE_RESET,
        support::COMMON_R_HIERARCHY_ADDED, support::COMMON_R_LAYOUT_RESET,
        support::COMMON_LOG_ERROR, support::COMMON_LOG_LINE, support::COMMON_E_NO_SESSION_MANAGER,
        support::COMMON_E_UNKNOWN_PROVIDER}) {
    TOVAString text;
    core->get(text, id, 0, nullptr);
    EXPECT_EQ(std::string::npos, text.string().find("message 0x")) << std::hex << id;
  }
  TOVAString inserts[] = {"Guid", "is missing or empty", "CubeView"};
  TOVAString text;
  core->get(text, support::COMMON_E_XML_ELEMENT, 3, inserts);
  EXPECT_EQ("Invalid XML: 'Guid' is missing or empty (element 'CubeView').", text);
  core->get(text, 0x12345678, 2, inserts);  // unknown id: number and inserts
  EXPECT_EQ("message 0x12345678: Guid; is missing or empty", text);
  core->get(text, support::COMMON_E_UNKNOWN_PROVIDER, 2,
            inserts);  // a surplus insert is still shown
  EXPECT_EQ("Unknown provider 'Guid'.; is missing or empty", text);
}

TEST_F(CoreLogTest, AssertionFailuresAreReportedCountedAndSurvived) {
  auto& log = captureLog(1);
  uint64_t before = support_dll::assertionFailureCount();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([] {
      for (int i = 0; i < 25; ++i) support_dll::AssertionFailure("x != nullptr", "somefile", 42);
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(before + 100, support_dll::assertionFailureCount());
  auto records = log.records();
  ASSERT_EQ(100u, records.size());
  EXPECT_EQ(1, records[0].verbosity);
  EXPECT_EQ("somefile", records[0].source);
  EXPECT_EQ(42, records[0].line);
  EXPECT_NE(std::string::npos, records[0].text.string().find("x != nullptr"));
}

TEST_F(CoreLogTest, ExceptionsAreCaughtThroughTheirInterfaces) {
  auto& log = captureLog(3);
  try {
    support::raise<InvalidXMLExceptionImpl>(common::moduleName(), support::COMMON_E_XML_ELEMENT,
                                            "Guid", 7, TOVAString("Sort/Filter"));
    ADD_FAILURE() << "raise must throw";
  } catch (const olap_api::InvalidXMLException& e) {
    EXPECT_EQ(support::COMMON_E_XML_ELEMENT, e.getCode());
    EXPECT_EQ("COMMONMODULE", e.getModule());
    std::vector<TOVAString> expected = {"Guid", "7", "Sort/Filter"};
    EXPECT_EQ(expected, e.getInserts());
    EXPECT_EQ("Invalid XML: 'Guid' 7 (element 'Sort/Filter').", e.getMessage());
  }
  // Logged before it was thrown.
  auto records = log.records();
  ASSERT_EQ(1u, records.size());
  EXPECT_EQ("Exception@COMMONMODULE", records[0].unit);
  EXPECT_NE(std::string::npos, records[0].text.string().find("0xC2011016"));

  InvalidArgumentExceptionImpl range(common::moduleName());
  range.setOutOfRange(0, 4);
  InvalidArgumentExceptionImpl null(common::moduleName());
  null.setNULL();
  null.addHandleInsert(support::COMMON_M_XML_MISSING);
  null.addExceptionInsert(range);
  EXPECT_EQ(support::COMMON_E_INVALID_ARGUMENT, range.getCode());
  std::vector<TOVAString> expected = {"NULL", "is missing or empty", "Invalid argument.; 0; 4"};
  EXPECT_EQ(expected, null.getInserts());

  // A copy rethrown from the base keeps its dynamic type.
  const ExceptionCommon& base = null;
  std::unique_ptr<ExceptionCommon> copy(base.duplicate());
  try {
    copy->rethrow();
  } catch (const olap_api::InvalidArgumentException& e) {
    EXPECT_EQ(null.getInserts(), e.getInserts());
  } catch (...) {
    ADD_FAILURE() << "wrong exception type";
  }
  try {
    support::raise<ConfigurationExceptionImpl>(common::moduleName(),
                                               support::COMMON_E_NO_SESSION_MANAGER);
  } catch (const olap_api::ApiException& e) {
    EXPECT_NE(nullptr, dynamic_cast<const olap_api::ConfigurationException*>(&e));
    EXPECT_EQ(nullptr, dynamic_cast<const olap_api::InvalidXMLException*>(&e));
  }
}

}  // namespace
