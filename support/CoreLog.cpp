#include "support/CoreLog.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <shared_mutex>
#include <unordered_map>

#include "MessageCatalogue.h"
#include "support/ErrorCodes.h"

namespace support_dll {

namespace {
constexpr int kDefaultThreshold = 3;
std::atomic<uint64_t> g_AssertionCount{0};
}  // namespace

struct CoreLog::State {
  mutable std::shared_mutex configMutex;
  int threshold = kDefaultThreshold;
  std::map<std::string, int> unitThresholds;
  std::unordered_map<uint32_t, TOVAString> catalogue;

  std::mutex sinkMutex;
  std::shared_ptr<LogSink> sink;
};

CoreLog::CoreLog() : m_State(std::make_unique<State>()) {
  for (const CatalogueEntry& e : builtinCatalogue()) m_State->catalogue[e.messageId] = e.text;
  m_State->sink = std::make_shared<StderrSink>();
}

CoreLog* CoreLog::getLogObject() {
  // Never destroyed: static destructors of other libraries may still log.
  static CoreLog* const instance = new CoreLog();
  return instance;
}

std::string CoreLog::getUnitString(const TOVAString& module, const TOVAString& component) {
  std::string unit = component.string();
  unit += '@';
  unit += module.string();
  return unit;
}

int CoreLog::thresholdFor(const std::string& unit) const {
  std::shared_lock lock(m_State->configMutex);
  auto it = m_State->unitThresholds.find(unit);
  return it != m_State->unitThresholds.end() ? it->second : m_State->threshold;
}

bool CoreLog::shouldLog(int verbosity, const std::string& unit) const {
  return verbosity <= thresholdFor(unit);
}

bool CoreLog::shouldLog(int verbosity, const TOVAString& module, const TOVAString& component) const {
  return shouldLog(verbosity, getUnitString(module, component));
}

std::atomic<uint64_t> CoreLog::s_Generation{1};

bool CoreLog::ShouldLogHandler::refresh(int verbosity) const {
  // The generation is read before the threshold: a change in between leaves a stale
  // generation in the cache, which the next check refreshes again.
  const uint64_t generation = CoreLog::generation();
  // The threshold is kept offset by 0x8000 so that a negative one (log nothing) survives.
  const int threshold = std::clamp(CoreLog::getLogObject()->thresholdFor(m_Unit), -0x8000, 0x7FFF);
  m_Cached.store((generation << 16) | static_cast<uint64_t>(threshold + 0x8000),
                 std::memory_order_release);
  return verbosity <= threshold;
}

void CoreLog::get(TOVAString& out, uint32_t messageId, int insertCount,
                  const TOVAString* inserts) const {
  TOVAString text;
  {
    std::shared_lock lock(m_State->configMutex);
    auto it = m_State->catalogue.find(messageId);
    if (it != m_State->catalogue.end()) text = it->second;
  }
  std::vector<bool> used(insertCount > 0 ? insertCount : 0, false);
  std::u16string result;
  if (text.empty()) {
    result = TOVAString().build("message 0x%08X", messageId).u16();
  } else {
    const std::u16string& t = text.u16();
    for (size_t i = 0; i < t.size(); ++i) {
      if (t[i] == u'%' && i + 1 < t.size() && t[i + 1] >= u'1' && t[i + 1] <= u'9') {
        int index = t[i + 1] - u'1';
        if (index < insertCount && inserts != nullptr) {
          result += inserts[index].u16();
          used[index] = true;
        }
        ++i;
      } else {
        result += t[i];
      }
    }
  }
  // Inserts the text does not place are still worth seeing.
  for (int i = 0; i < insertCount && inserts != nullptr; ++i) {
    if (used[i]) continue;
    result += (i == 0 && text.empty()) ? u": " : u"; ";
    result += inserts[i].u16();
  }
  out = TOVAString(std::move(result));
}

void CoreLog::log(uint32_t messageId, int verbosity, const std::string& unit, const char* source,
                  int line, const char* function, int insertCount, const TOVAString* inserts) {
  if (!shouldLog(verbosity, unit)) return;
  LogRecord record;
  record.messageId = messageId;
  record.verbosity = verbosity;
  record.unit = unit;
  record.source = source ? source : "";
  record.line = line;
  record.function = function ? function : "";
  get(record.text, messageId, insertCount, inserts);
  std::lock_guard lock(m_State->sinkMutex);
  if (m_State->sink) m_State->sink->write(record);
}

void CoreLog::setVerbosity(int threshold) {
  {
    std::unique_lock lock(m_State->configMutex);
    m_State->threshold = threshold;
  }
  s_Generation.fetch_add(1, std::memory_order_acq_rel);
}

int CoreLog::getVerbosity() const {
  std::shared_lock lock(m_State->configMutex);
  return m_State->threshold;
}

void CoreLog::setUnitVerbosity(const std::string& unit, int threshold) {
  {
    std::unique_lock lock(m_State->configMutex);
    m_State->unitThresholds[unit] = threshold;
  }
  s_Generation.fetch_add(1, std::memory_order_acq_rel);
}

void CoreLog::clearUnitVerbosities() {
  {
    std::unique_lock lock(m_State->configMutex);
    m_State->unitThresholds.clear();
  }
  s_Generation.fetch_add(1, std::memory_order_acq_rel);
}

std::shared_ptr<LogSink> CoreLog::setSink(std::shared_ptr<LogSink> sink) {
  if (!sink) sink = std::make_shared<StderrSink>();
  std::lock_guard lock(m_State->sinkMutex);
  std::swap(sink, m_State->sink);
  return sink;
}

void CoreLog::registerMessage(uint32_t messageId, const TOVAString& text) {
  std::unique_lock lock(m_State->configMutex);
  m_State->catalogue[messageId] = text;
}

void StderrSink::write(const LogRecord& record) {
  std::string line = std::to_string(record.verbosity) + " " + record.unit + ": " +
                     record.text.string() + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
}

void CapturingSink::write(const LogRecord& record) {
  std::lock_guard lock(m_Mutex);
  m_Records.push_back(record);
}

std::vector<LogRecord> CapturingSink::records() const {
  std::lock_guard lock(m_Mutex);
  return m_Records;
}

std::string CapturingSink::texts() const {
  std::lock_guard lock(m_Mutex);
  std::string all;
  for (const LogRecord& r : m_Records) all += r.text.string() + "\n";
  return all;
}

void CapturingSink::clear() {
  std::lock_guard lock(m_Mutex);
  m_Records.clear();
}

void AssertionFailure(const char* expression, const char* source, int line) {
  g_AssertionCount.fetch_add(1, std::memory_order_relaxed);
  TOVAString text;
  text.build("Assertion failed: %s (%s, line %d)", expression ? expression : "", source ? source : "",
             line);
  CoreLog::getLogObject()->log(support::COMMON_LOG_LINE, 1, "Assertion@SUPPORT", source, line,
                               "support_dll::AssertionFailure", 1, &text);
}

uint64_t assertionFailureCount() { return g_AssertionCount.load(std::memory_order_relaxed); }

}  // namespace support_dll
