#include "common/ComponentLog.h"

namespace common {

const TOVAString& moduleName() {
  static const TOVAString name("COMMONMODULE");
  return name;
}

ComponentLog::ComponentLog(const TOVAString& module, const TOVAString& component)
    : m_Module(module),
      m_Component(component),
      m_Handler(support_dll::CoreLog::getUnitString(module, component)) {}

void ComponentLog::log(const TOVAString& text, int verbosity) const {
  if (!shouldLog(verbosity)) return;
  support_dll::CoreLog::getLogObject()->log(support::COMMON_LOG_LINE, verbosity, unit(),
                                            "componentlog", 81, "ComponentLog::log", 1, &text);
}

void ComponentLog::log(uint32_t messageId, int verbosity, int insertCount,
                       const TOVAString* inserts) const {
  if (!shouldLog(verbosity)) return;
  support_dll::CoreLog::getLogObject()->log(messageId, verbosity, unit(), "componentlog", 92,
                                            "ComponentLog::log", insertCount, inserts);
}

void ComponentLog::write(const LogSite& site, int verbosity, const TOVAString& text) const {
  support_dll::CoreLog::getLogObject()->log(site.messageId, verbosity, unit(), site.source,
                                            site.line, site.function, 1, &text);
}

// Function-level statics so that other libraries' static initialisers may log safely.
const ComponentLog& viewpointLog() {
  static const ComponentLog log(moduleName(), "ViewpointCommon");
  return log;
}
const ComponentLog& axisLog() {
  static const ComponentLog log(moduleName(), "AxisCommon");
  return log;
}
const ComponentLog& axisHierarchyLog() {
  static const ComponentLog log(moduleName(), "AxisHierarchyCommon");
  return log;
}
const ComponentLog& xmlQueryProcessorLog() {
  static const ComponentLog log(moduleName(), "Tovaxmlqueryprocessorcommon");
  return log;
}
const ComponentLog& refCountLog() {
  static const ComponentLog log("MEMORY", "RefCount");
  return log;
}

namespace {
// The static component logs exist from load time on, as the rest of the library expects.
[[maybe_unused]] const bool g_LogsCreated = (viewpointLog(), axisLog(), axisHierarchyLog(),
                                             xmlQueryProcessorLog(), refCountLog(), true);
}  // namespace

}  // namespace common
