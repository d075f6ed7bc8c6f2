#pragma once

#include <cstdint>

#include "NUVA_o/MemberSet.h"
#include "support/RefCountImpl.h"

namespace common {

class ViewpointCommon;

// Base of the undoable edits of a cube view. execute and undo write the command's message
// (component "COMMANDS", verbosity 4), refuse to run twice in the same direction (reported as
// an assertion), and leave the command's state unchanged when the action throws.
class VTQ_EXPORT ViewpointCommand : public support::RefCountImpl, public NUVA_o::Command {
 public:
  void execute() final;
  void undo() final;

  bool isExecuted() const { return m_bExecuted; }
  // One line saying what the command does, for histories shown to a user.
  virtual TOVAString getDescription() const = 0;

 protected:
  // `view` is not held (the view owns the history that owns the command); null for commands
  // that edit an object of their own.
  ViewpointCommand(const TOVAString& traceName, ViewpointCommon* view);
  ~ViewpointCommand() override;

  virtual TOVAString execute_message() const = 0;
  virtual TOVAString undo_message() const = 0;
  virtual void do_execute() = 0;
  virtual void do_undo() = 0;

  ViewpointCommon* m_pViewpoint;

 private:
  bool m_bExecuted = false;
};

}  // namespace common
