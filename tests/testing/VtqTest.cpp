#include "VtqTest.h"

#include <cstdlib>

namespace vtq_testing {

void VtqTest::SetUp() {
  m_LiveAtStart = support::liveObjectCounts();
  m_PreviousVerbosity = support_dll::CoreLog::getLogObject()->getVerbosity();
}

void VtqTest::TearDown() {
  support_dll::CoreLog* log = support_dll::CoreLog::getLogObject();
  if (m_pCapture) log->setSink(m_pPreviousSink);
  log->setVerbosity(m_PreviousVerbosity);
  log->clearUnitVerbosities();
  std::string leaks = describeLeaks(m_LiveAtStart, support::liveObjectCounts());
  EXPECT_TRUE(leaks.empty()) << "library objects outlived the test: " << leaks;
}

support_dll::CapturingSink& VtqTest::captureLog(int verbosity) {
  support_dll::CoreLog* log = support_dll::CoreLog::getLogObject();
  if (!m_pCapture) {
    m_pCapture = std::make_shared<support_dll::CapturingSink>();
    m_pPreviousSink = log->setSink(m_pCapture);
  }
  log->setVerbosity(verbosity);
  return *m_pCapture;
}

std::string describeLeaks(const std::map<TOVAString, int64_t>& before,
                          const std::map<TOVAString, int64_t>& after) {
  std::string out;
  for (const auto& [name, count] : after) {
    auto it = before.find(name);
    int64_t was = it == before.end() ? 0 : it->second;
    if (count != was) {
      if (!out.empty()) out += ", ";
      out += name.string() + "=" + std::to_string(count - was);
    }
  }
  for (const auto& [name, count] : before)
    if (!after.count(name)) {
      if (!out.empty()) out += ", ";
      out += name.string() + "=" + std::to_string(-count);
    }
  return out;
}

std::string sourceDir() {
  const char* dir = std::getenv("VTQ_SOURCE_DIR");
  return dir ? dir : VTQ_DEFAULT_SOURCE_DIR;
}

}  // namespace vtq_testing
