#pragma once

#include "support/Export.h"

namespace NUVA_o {

class Command;

// Runs commands and keeps their undo and redo histories. Not counted: its owner (a cube view)
// deletes it.
class VTQ_EXPORT CommandManager {
 public:
  // Takes back the newest command; false when there is nothing to undo.
  virtual bool undo() = 0;
  // Runs the newest undone command again; false when there is nothing to redo.
  virtual bool redo() = 0;
  // Marks the newest command as the point that revert returns to.
  virtual void mark() = 0;
  // Undoes and discards every command above the newest mark below the newest command; false
  // when there is no such mark.
  virtual bool revert() = 0;
  // Runs the command and records it; throws what the command throws, recording nothing then.
  // The manager takes its own reference.
  virtual void _execute(Command* command) = 0;
  virtual ~CommandManager() = default;
};

}  // namespace NUVA_o
