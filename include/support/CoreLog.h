#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "support/TOVAString.h"

namespace support_dll {

// One recorded message as the sinks see it.
struct LogRecord {
  uint32_t messageId = 0;
  int verbosity = 0;
  std::string unit;
  std::string source;
  int line = 0;
  std::string function;
  TOVAString text;  // the catalogue text of the id with the inserts in place
};

// Where recorded messages go. Called under the logger's sink lock, from any thread.
class VTQ_EXPORT LogSink {
 public:
  virtual ~LogSink() = default;
  virtual void write(const LogRecord& record) = 0;
};

// Writes "V unit: text" lines to stderr; the default sink.
class VTQ_EXPORT StderrSink : public LogSink {
 public:
  void write(const LogRecord& record) override;
};

// Keeps every record in memory, for tests.
class VTQ_EXPORT CapturingSink : public LogSink {
 public:
  void write(const LogRecord& record) override;
  std::vector<LogRecord> records() const;
  // The texts of all records, one per line.
  std::string texts() const;
  void clear();

 private:
  mutable std::mutex m_Mutex;
  std::vector<LogRecord> m_Records;
};

// The process-wide logger. Verbosity grows with detail: 1 errors, 2 and 3 warnings, 4
// operations, 5 listener traffic and creation, 6 detail. A message is recorded when its
// verbosity is at most the threshold of its unit (default threshold 3).
class VTQ_EXPORT CoreLog {
 public:
  // Remembers the logger's decision for one unit so that a check is one atomic load while
  // the configuration does not change.
  class VTQ_EXPORT ShouldLogHandler {
   public:
    explicit ShouldLogHandler(std::string unit) : m_Unit(std::move(unit)) {}
    // Inline: reference counting asks this on every use and unuse.
    bool shouldLog(int verbosity) const {
      const uint64_t cached = m_Cached.load(std::memory_order_acquire);
      if ((cached >> 16) != s_Generation.load(std::memory_order_acquire)) return refresh(verbosity);
      return verbosity <= static_cast<int>(cached & 0xFFFF) - 0x8000;
    }
    const std::string& unit() const { return m_Unit; }

   private:
    bool refresh(int verbosity) const;

    std::string m_Unit;
    mutable std::atomic<uint64_t> m_Cached{0};  // generation << 16 | threshold + 0x8000; 0 = unknown
  };

  static CoreLog* getLogObject();
  // "component@module": the unit a message of that component is recorded under.
  static std::string getUnitString(const TOVAString& module, const TOVAString& component);

  void log(uint32_t messageId, int verbosity, const std::string& unit, const char* source,
           int line, const char* function, int insertCount, const TOVAString* inserts);
  bool shouldLog(int verbosity, const TOVAString& module, const TOVAString& component) const;
  bool shouldLog(int verbosity, const std::string& unit) const;
  // Renders the catalogue text of `messageId` with the inserts (%1, %2, ...) into `out`.
  void get(TOVAString& out, uint32_t messageId, int insertCount, const TOVAString* inserts) const;

  // Configuration.
  void setVerbosity(int threshold);
  int getVerbosity() const;
  void setUnitVerbosity(const std::string& unit, int threshold);
  void clearUnitVerbosities();
  // Replaces the sink; null restores the stderr sink. Returns the previous one.
  std::shared_ptr<LogSink> setSink(std::shared_ptr<LogSink> sink);
  // Adds or replaces the catalogue text of a message id.
  void registerMessage(uint32_t messageId, const TOVAString& text);

  int thresholdFor(const std::string& unit) const;
  // Grows with every configuration change, so that a cached decision knows when it is stale.
  static uint64_t generation() { return s_Generation.load(std::memory_order_acquire); }

 private:
  CoreLog();
  struct State;
  std::unique_ptr<State> m_State;
  // Process-wide, not per logger, so that a check reaches it without a call: there is one
  // logger.
  static std::atomic<uint64_t> s_Generation;
};

// Reports a broken internal invariant through the log (verbosity 1) and returns.
VTQ_EXPORT void AssertionFailure(const char* expression, const char* source, int line);
// How many assertion reports the process has made.
VTQ_EXPORT uint64_t assertionFailureCount();

}  // namespace support_dll
