#include "common/ViewpointCommand.h"

#include "common/ComponentLog.h"
#include "support/CoreLog.h"

namespace common {

namespace {
const ComponentLog& commandsLog() {
  static const ComponentLog log(moduleName(), "COMMANDS");
  return log;
}
}  // namespace

ViewpointCommand::ViewpointCommand(const TOVAString& traceName, ViewpointCommon* view)
    : support::RefCountImpl(traceName, support::nextInstanceNumber<ViewpointCommand>()),
      m_pViewpoint(view) {}

ViewpointCommand::~ViewpointCommand() = default;

void ViewpointCommand::execute() {
  if (commandsLog().shouldLog(4)) commandsLog().log(execute_message(), 4);
  if (m_bExecuted) {
    support_dll::AssertionFailure("! m_bExecuted", "viewpointcommands", __LINE__);
    return;
  }
  do_execute();
  m_bExecuted = true;
}

void ViewpointCommand::undo() {
  if (commandsLog().shouldLog(4)) commandsLog().log(undo_message(), 4);
  if (!m_bExecuted) {
    support_dll::AssertionFailure("m_bExecuted", "viewpointcommands", __LINE__);
    return;
  }
  do_undo();
  m_bExecuted = false;
}

}  // namespace common
