#pragma once

#include <cstdint>
#include <string>
#include <type_traits>

#include "support/CoreLog.h"
#include "support/ErrorCodes.h"
#include "support/TOVAString.h"

namespace common {

// "COMMONMODULE": the module of every log unit and exception of the library.
VTQ_EXPORT const TOVAString& moduleName();

// Where a line is written from, for lines that name their own source position and function,
// and the message it is written as (a text insert alone by default).
struct LogSite {
  const char* source;
  int line;
  const char* function;
  uint32_t messageId = support::COMMON_LOG_LINE;
};

// The diagnostic channel of one component or topic. Every line of the library goes through
// logAt, which builds the text only when shouldLog() says the line will be recorded.
class VTQ_EXPORT ComponentLog {
 public:
  ComponentLog(const TOVAString& module, const TOVAString& component);

  bool shouldLog(int verbosity) const { return m_Handler.shouldLog(verbosity); }
  const std::string& unit() const { return m_Handler.unit(); }

  // Writes the text as the one insert of message COMMON_LOG_LINE.
  void log(const TOVAString& text, int verbosity) const;
  void log(uint32_t messageId, int verbosity, int insertCount, const TOVAString* inserts) const;

  // At verbosity 6: formats and writes the text. A null format writes an empty line.
  template <class... Args>
  void logf(const char* format, const Args&... args) const {
    if (!shouldLog(6)) return;
    TOVAString text;
    if (format) text.build(format, args...);
    log(text, 6);
  }

  // Formats and writes at `verbosity`, building the text only when it will be recorded.
  template <class... Args>
  void logAt(int verbosity, const char* format, const Args&... args) const {
    if (!shouldLog(verbosity)) return;
    TOVAString text;
    text.build(format, args...);
    log(text, verbosity);
  }

  // The same, written from `site`.
  template <class... Args>
  void logAt(const LogSite& site, int verbosity, const char* format, const Args&... args) const {
    if (!shouldLog(verbosity)) return;
    TOVAString text;
    text.build(format, args...);
    write(site, verbosity, text);
  }

  // Writes the text that `make()` returns, calling it only when the line will be recorded.
  template <class Make, std::enable_if_t<std::is_invocable_r_v<TOVAString, Make&>, int> = 0>
  void logAt(int verbosity, Make&& make) const {
    if (!shouldLog(verbosity)) return;
    log(make(), verbosity);
  }

 private:
  void write(const LogSite& site, int verbosity, const TOVAString& text) const;

  TOVAString m_Module;
  TOVAString m_Component;
  support_dll::CoreLog::ShouldLogHandler m_Handler;
};

// The static component logs of the library.
VTQ_EXPORT const ComponentLog& viewpointLog();
VTQ_EXPORT const ComponentLog& axisLog();
VTQ_EXPORT const ComponentLog& axisHierarchyLog();
VTQ_EXPORT const ComponentLog& xmlQueryProcessorLog();
VTQ_EXPORT const ComponentLog& refCountLog();

}  // namespace common
