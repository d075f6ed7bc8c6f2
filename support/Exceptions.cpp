#include "support/Exceptions.h"

#include "support/CoreLog.h"

TOVAString ExceptionCommon::getMessage() const {
  TOVAString text;
  support_dll::CoreLog::getLogObject()->get(text, m_Code, static_cast<int>(m_Inserts.size()),
                                            m_Inserts.data());
  return text;
}

void ExceptionCommon::addNumericInsert(long long value) {
  m_Inserts.push_back(TOVAString().build("%d", value));
}

void ExceptionCommon::addHandleInsert(uint32_t messageId) {
  TOVAString text;
  support_dll::CoreLog::getLogObject()->get(text, messageId, 0, nullptr);
  m_Inserts.push_back(text);
}

void ExceptionCommon::addExceptionInsert(const olap_api::ApiException& other) {
  m_Inserts.push_back(other.getMessage());
}

void ExceptionCommon::log() const {
  support_dll::CoreLog* core = support_dll::CoreLog::getLogObject();
  std::string unit = support_dll::CoreLog::getUnitString(m_Module, "Exception");
  if (!core->shouldLog(3, unit)) return;
  TOVAString text;
  text.build("Exception 0x%08X: %s", m_Code, getMessage());
  core->log(support::COMMON_LOG_LINE, 3, unit, "ExceptionCommon", 0, "ExceptionCommon::log", 1,
            &text);
}
