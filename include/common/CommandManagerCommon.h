#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "NUVA_o/CommandManager.h"
#include "NUVA_o/MemberSet.h"
#include "support/Locks.h"
#include "support/RefCountImpl.h"

namespace common {

class ViewpointCommand;

// One executed command in a history. Holds a reference to the command.
class VTQ_EXPORT CommandPackage {
 public:
  // Takes its own reference; `command` must not be null.
  explicit CommandPackage(NUVA_o::Command* command);
  virtual ~CommandPackage();
  // Runs the command again after an undo; the edits it caused happen again with it.
  virtual void redo();
  virtual void undo();
  // The command's undo, then that of the edits it caused, newest first: one step back.
  void undoAll();
  // Records an edit that ran while the command executed (a member-set reset made by a move).
  void attach(std::unique_ptr<CommandPackage> caused);

  bool isMarked() const { return m_bMarked; }
  void setMarked(bool marked) { m_bMarked = marked; }
  // Borrowed; valid while the package lives.
  NUVA_o::Command* getCommand() const { return m_pCommand.get(); }

  CommandPackage(const CommandPackage&) = delete;
  CommandPackage& operator=(const CommandPackage&) = delete;

 private:
  bool m_bMarked = false;
  auto_unuse<NUVA_o::Command> m_pCommand;
  std::vector<std::unique_ptr<CommandPackage>> m_Caused;
};

// Undo and redo histories of executed commands, each at most `limit` packages long (0: no
// limit), newest at the back. Every operation runs under one re-entrant mutex, so a command may
// have further commands recorded while it runs (on the same thread).
class VTQ_EXPORT CommandManagerCommon : public NUVA_o::CommandManager {
 public:
  using History = std::deque<std::unique_ptr<CommandPackage>>;

  // A history entry as seen from outside: the command (one reference) and its mark.
  struct Entry {
    auto_unuse<NUVA_o::Command> command;
    bool marked = false;
  };

  // Why revert has nothing to go back to.
  enum RevertRefusal {
    RR_NONE = 0,             // it has: revert would succeed
    RR_NO_MARK,              // mark was never called (no query was made)
    RR_UNCHANGED_SINCE_MARK, // nothing was done since the last mark
    RR_MARK_GONE,            // the last mark was undone or fell off the history
  };

  explicit CommandManagerCommon(uint32_t limit);
  ~CommandManagerCommon() override;

  bool undo() override;
  bool redo() override;
  void mark() override;
  bool revert() override;
  // Throws InvalidArgumentException for a null command. When the command throws, both
  // histories are left as they were.
  void _execute(NUVA_o::Command* command) override;

  void execute(ViewpointCommand* command);

  RevertRefusal getRevertRefusal() const;

  uint32_t getHistoryLimit() const { return m_HistoryLimit; }
  // Snapshots, oldest first.
  std::vector<Entry> getUndoHistory() const;
  std::vector<Entry> getRedoHistory() const;

  static void clear_stack(History& history);
  static void push_command(History& history, std::unique_ptr<CommandPackage> package,
                           uint32_t limit);

  CommandManagerCommon(const CommandManagerCommon&) = delete;
  CommandManagerCommon& operator=(const CommandManagerCommon&) = delete;

 protected:
  // True while undo, redo or revert runs a package (on any thread; callers hold the mutex).
  bool is_replaying() const { return m_ReplayDepth > 0; }
  // The package whose command is executing, or null (callers hold the mutex).
  CommandPackage* executing() const { return m_pExecuting; }
  // The state moved away from the last mark (callers hold the mutex).
  void note_change() { m_bChangedSinceMark = true; }

  uint32_t m_HistoryLimit;
  History m_UndoHistory;
  History m_RedoHistory;
  mutable KorvelMutex m_Mutex;

 private:
  class ReplayScope;
  uint32_t m_ReplayDepth = 0;
  CommandPackage* m_pExecuting = nullptr;
  bool m_bEverMarked = false;
  bool m_bChangedSinceMark = false;
  // Index of the newest package that revert keeps applied, or -1 when there is none.
  long revert_target() const;
};

}  // namespace common
