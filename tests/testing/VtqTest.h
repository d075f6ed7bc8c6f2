#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <ostream>
#include <string>

#include "support/CoreLog.h"
#include "support/RefCountImpl.h"

// Lets test failures show TOVAString values as UTF-8 text.
inline void PrintTo(const TOVAString& s, std::ostream* os) { *os << '"' << s.string() << '"'; }

namespace vtq_testing {

// Base of every fixture: fails the test when a counted library object created during it is
// still alive at its end, and restores the log configuration.
class VtqTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Routes log lines to a capturing sink for the rest of the test, at the given threshold.
  support_dll::CapturingSink& captureLog(int verbosity);

 private:
  std::map<TOVAString, int64_t> m_LiveAtStart;
  std::shared_ptr<support_dll::CapturingSink> m_pCapture;
  std::shared_ptr<support_dll::LogSink> m_pPreviousSink;
  int m_PreviousVerbosity = 3;
};

// "name=count, ..." of the objects alive now that were not alive before.
std::string describeLeaks(const std::map<TOVAString, int64_t>& before,
                          const std::map<TOVAString, int64_t>& after);

// Root of the source tree (for fixtures and the sample cube).
std::string sourceDir();

// The bundled sample cube's definition file.
inline std::string sampleCubePath() { return sourceDir() + "/examples/sales/sales.cube.xml"; }

}  // namespace vtq_testing
