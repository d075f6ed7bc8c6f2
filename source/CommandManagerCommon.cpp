#include "common/CommandManagerCommon.h"

#include <utility>

#include "common/ComponentLog.h"
#include "common/ViewpointCommand.h"
#include "support/Exceptions.h"

namespace common {

CommandPackage::CommandPackage(NUVA_o::Command* command)
    : m_pCommand(auto_unuse<NUVA_o::Command>::share(command)) {}

CommandPackage::~CommandPackage() = default;

void CommandPackage::redo() { m_pCommand->execute(); }

void CommandPackage::undo() { m_pCommand->undo(); }

void CommandPackage::undoAll() {
  // The command's own undo may reset what it caused (a hierarchy moved back onto a view axis
  // gets its default members); restoring the caused edits afterwards leaves them as they were.
  undo();
  for (auto caused = m_Caused.rbegin(); caused != m_Caused.rend(); ++caused) (*caused)->undoAll();
}

void CommandPackage::attach(std::unique_ptr<CommandPackage> caused) {
  m_Caused.push_back(std::move(caused));
}

// Counts the packages being replayed, so that commands recorded by their side effects can be
// told apart from the user's own edits.
class CommandManagerCommon::ReplayScope {
 public:
  explicit ReplayScope(CommandManagerCommon& manager) : m_Manager(manager) {
    ++m_Manager.m_ReplayDepth;
  }
  ~ReplayScope() { --m_Manager.m_ReplayDepth; }
  ReplayScope(const ReplayScope&) = delete;
  ReplayScope& operator=(const ReplayScope&) = delete;

 private:
  CommandManagerCommon& m_Manager;
};

CommandManagerCommon::CommandManagerCommon(uint32_t limit) : m_HistoryLimit(limit) {}

CommandManagerCommon::~CommandManagerCommon() {
  clear_stack(m_RedoHistory);
  clear_stack(m_UndoHistory);
}

void CommandManagerCommon::clear_stack(History& history) {
  // Newest first, so that a package never outlives one that was recorded before it.
  while (!history.empty()) history.pop_back();
}

void CommandManagerCommon::push_command(History& history, std::unique_ptr<CommandPackage> package,
                                        uint32_t limit) {
  if (limit > 0) {
    while (history.size() >= limit) history.pop_front();
  }
  history.push_back(std::move(package));
}

void CommandManagerCommon::_execute(NUVA_o::Command* command) {
  if (!command)
    support::raise<InvalidArgumentExceptionImpl>(moduleName(), support::COMMON_E_INVALID_ARGUMENT,
                                                 support::null_insert);
  KorvelSynchronized guard(m_Mutex);
  // The package is made first so that a failure to allocate it cannot leave an executed
  // command unrecorded.
  auto package = std::make_unique<CommandPackage>(command);
  {
    // Edits recorded while the command runs are its own effects and join its package.
    CommandPackage* const outer = m_pExecuting;
    m_pExecuting = package.get();
    try {
      command->execute();
    } catch (...) {
      m_pExecuting = outer;
      throw;
    }
    m_pExecuting = outer;
  }
  // Only a command that ran invalidates what could be redone.
  clear_stack(m_RedoHistory);
  push_command(m_UndoHistory, std::move(package), m_HistoryLimit);
  note_change();
}

void CommandManagerCommon::execute(ViewpointCommand* command) {
  _execute(static_cast<NUVA_o::Command*>(command));
}

bool CommandManagerCommon::undo() {
  KorvelSynchronized guard(m_Mutex);
  if (m_UndoHistory.empty()) return false;
  // Off the history before it runs: whatever its undo records lands on a history that no
  // longer holds it.
  std::unique_ptr<CommandPackage> package = std::move(m_UndoHistory.back());
  m_UndoHistory.pop_back();
  try {
    ReplayScope replaying(*this);
    package->undoAll();
  } catch (...) {
    m_UndoHistory.push_back(std::move(package));
    throw;
  }
  package->setMarked(false);
  push_command(m_RedoHistory, std::move(package), m_HistoryLimit);
  note_change();
  return true;
}

bool CommandManagerCommon::redo() {
  KorvelSynchronized guard(m_Mutex);
  if (m_RedoHistory.empty()) return false;
  std::unique_ptr<CommandPackage> package = std::move(m_RedoHistory.back());
  m_RedoHistory.pop_back();
  try {
    ReplayScope replaying(*this);
    package->redo();
  } catch (...) {
    m_RedoHistory.push_back(std::move(package));
    throw;
  }
  push_command(m_UndoHistory, std::move(package), m_HistoryLimit);
  note_change();
  return true;
}

void CommandManagerCommon::mark() {
  KorvelSynchronized guard(m_Mutex);
  if (!m_UndoHistory.empty()) m_UndoHistory.back()->setMarked(true);
  m_bEverMarked = true;
  m_bChangedSinceMark = false;
}

long CommandManagerCommon::revert_target() const {
  // The newest package is never the target: right after a query it carries the mark, and
  // reverting then means going back to the query before.
  for (size_t i = m_UndoHistory.empty() ? 0 : m_UndoHistory.size() - 1; i > 0; --i)
    if (m_UndoHistory[i - 1]->isMarked()) return long(i - 1);
  return -1;
}

CommandManagerCommon::RevertRefusal CommandManagerCommon::getRevertRefusal() const {
  KorvelSynchronized guard(m_Mutex);
  if (revert_target() >= 0) return RR_NONE;
  if (!m_bEverMarked) return RR_NO_MARK;
  return m_bChangedSinceMark ? RR_MARK_GONE : RR_UNCHANGED_SINCE_MARK;
}

bool CommandManagerCommon::revert() {
  KorvelSynchronized guard(m_Mutex);
  const long target = revert_target();
  if (target < 0) return false;
  const size_t marked = size_t(target);

  ReplayScope replaying(*this);
  while (m_UndoHistory.size() > marked + 1) {
    std::unique_ptr<CommandPackage> package = std::move(m_UndoHistory.back());
    m_UndoHistory.pop_back();
    try {
      package->undoAll();
    } catch (...) {
      // What was reverted so far stays reverted; the package that failed stays applied.
      m_UndoHistory.push_back(std::move(package));
      note_change();
      throw;
    }
  }
  clear_stack(m_RedoHistory);
  // Back at the marked state, as if it had just been queried.
  m_bChangedSinceMark = false;
  return true;
}

namespace {
std::vector<CommandManagerCommon::Entry> snapshot(const CommandManagerCommon::History& history) {
  std::vector<CommandManagerCommon::Entry> entries;
  entries.reserve(history.size());
  for (const auto& package : history)
    entries.push_back({auto_unuse<NUVA_o::Command>::share(package->getCommand()),
                       package->isMarked()});
  return entries;
}
}  // namespace

std::vector<CommandManagerCommon::Entry> CommandManagerCommon::getUndoHistory() const {
  KorvelSynchronized guard(m_Mutex);
  return snapshot(m_UndoHistory);
}

std::vector<CommandManagerCommon::Entry> CommandManagerCommon::getRedoHistory() const {
  KorvelSynchronized guard(m_Mutex);
  return snapshot(m_RedoHistory);
}

}  // namespace common
