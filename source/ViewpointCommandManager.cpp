#include "common/ViewpointCommandManager.h"

#include <utility>

#include "common/ComponentLog.h"
#include "support/CoreLog.h"
#include "support/Exceptions.h"

namespace common {

ViewpointCommandManager::MemberSetCommandPackage::MemberSetCommandPackage(
    NUVA_o::MemberSetCommand* command, NUVA_o::MemberSet::HistoricalReference* before)
    : CommandPackage(command),
      m_pMemberSetCommand(command),
      m_pHistoricalReference(auto_unuse<NUVA_o::MemberSet::HistoricalReference>::share(before)) {}

ViewpointCommandManager::MemberSetCommandPackage::~MemberSetCommandPackage() = default;

void ViewpointCommandManager::MemberSetCommandPackage::undo() {
  NUVA_o::MemberSet* memberSet = m_pMemberSetCommand->getCommandMemberSet();
  NUVA_o::MemberSet* before = m_pHistoricalReference->getMemberSet();
  if (!memberSet || !before)
    support::raise<InvalidPointerExceptionImpl>(moduleName(), support::COMMON_E_NO_PROVIDER_OBJECT);
  auto_unuse<NUVA_o::MemberSetCommand> restore(memberSet->createCommand());
  if (!restore)
    support::raise<InvalidPointerExceptionImpl>(moduleName(), support::COMMON_E_NO_PROVIDER_OBJECT);
  // Adding the old members alone would keep whatever the recorded command added.
  restore->makeEmpty();
  restore->addMemberSet(before);
  restore->execute();
}

ViewpointCommandManager::ViewpointCommandManager(uint32_t limit, ReadWriteLock* viewLock)
    : CommandManagerCommon(limit), m_pViewLock(viewLock) {}

ViewpointCommandManager::~ViewpointCommandManager() = default;

// The commands change the view's layout and member sets, which a query reads under the view's
// write lock; that lock comes first, then the manager's mutex.
bool ViewpointCommandManager::undo() {
  KorvelSynchronizedEdit edit(m_pViewLock);
  return CommandManagerCommon::undo();
}

bool ViewpointCommandManager::redo() {
  KorvelSynchronizedEdit edit(m_pViewLock);
  return CommandManagerCommon::redo();
}

bool ViewpointCommandManager::revert() {
  KorvelSynchronizedEdit edit(m_pViewLock);
  return CommandManagerCommon::revert();
}

void ViewpointCommandManager::_execute(NUVA_o::Command* command) {
  KorvelSynchronizedEdit edit(m_pViewLock);
  CommandManagerCommon::_execute(command);
}

void ViewpointCommandManager::recordMemberSetCommand(const NUVA_o::MemberSetCommand* command) {
  if (!command) {
    support_dll::AssertionFailure("pCommand != NULL", "viewpointcommands", __LINE__);
    return;
  }
  // The history holds references and runs the command again on redo.
  auto* recorded = const_cast<NUVA_o::MemberSetCommand*>(command);
  // Held by this thread already when a command of the view caused this one.
  KorvelSynchronizedEdit edit(m_pViewLock);
  NUVA_o::MemberSet* memberSet = recorded->getCommandMemberSet();
  // Taken before the manager's mutex: the set may have to ask its provider.
  auto_unuse<NUVA_o::MemberSet::HistoricalReference> before(
      memberSet ? memberSet->getHistoricalReference() : nullptr);
  if (!before) {
    support_dll::AssertionFailure("pHistoricalReference != NULL", "viewpointcommands", __LINE__);
    return;
  }
  KorvelSynchronized guard(m_Mutex);
  // The compensating commands of an undo, redo or revert are not edits of their own.
  if (is_replaying()) return;
  auto package = std::make_unique<MemberSetCommandPackage>(recorded, before.get());
  if (CommandPackage* cause = executing()) return cause->attach(std::move(package));
  clear_stack(m_RedoHistory);
  push_command(m_UndoHistory, std::move(package), m_HistoryLimit);
  note_change();
}

}  // namespace common
