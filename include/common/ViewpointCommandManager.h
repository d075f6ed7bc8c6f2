#pragma once

#include <cstdint>
#include <memory>

#include "NUVA_o/MemberSet.h"
#include "common/CommandManagerCommon.h"

namespace NUVA_o {
class Viewpoint;
}

namespace common {

// The command manager of a cube view (the view names it ViewpointCommon::ViewpointCommandManager).
// Besides the view's own commands it records the member-set commands that run on the view's
// axis hierarchies, so that one history undoes both.
class VTQ_EXPORT ViewpointCommandManager : public CommandManagerCommon {
 public:
  // A member-set command in the history. Remembers what the set held before the command ran
  // (its historical reference); undo puts exactly that back with a new command on the set,
  // redo runs the recorded command again.
  class VTQ_EXPORT MemberSetCommandPackage : public CommandPackage {
   public:
    // Holds references to the command and to `before`; neither may be null.
    MemberSetCommandPackage(NUVA_o::MemberSetCommand* command,
                            NUVA_o::MemberSet::HistoricalReference* before);
    ~MemberSetCommandPackage() override;
    void undo() override;

   private:
    NUVA_o::MemberSetCommand* m_pMemberSetCommand;
    auto_unuse<NUVA_o::MemberSet::HistoricalReference> m_pHistoricalReference;
  };

  // `viewLock` (not owned, may be null) is the view's lock: every edit of the history takes its
  // write lock, unless this thread holds it already, before the manager's mutex.
  explicit ViewpointCommandManager(uint32_t limit, ReadWriteLock* viewLock = nullptr);
  ~ViewpointCommandManager() override;

  bool undo() override;
  bool redo() override;
  bool revert() override;
  void _execute(NUVA_o::Command* command) override;

  // Called before a member-set command of one of the view's axis hierarchies runs. A command
  // started while one of the view's commands executes is part of that command (undone with
  // it); one started by an undo, redo or revert is not recorded; any other is a new edit and
  // empties the redo history. A set that cannot say what it holds now (no historical reference)
  // is reported as an assertion and the command is not recorded.
  void recordMemberSetCommand(const NUVA_o::MemberSetCommand* command);

 private:
  ReadWriteLock* m_pViewLock;
};

// The command history of a cube view made by this library: owned by the view and replaced when
// the view is bound again; null for an unbound view or a view made elsewhere.
VTQ_EXPORT ViewpointCommandManager* getViewpointCommandManager(NUVA_o::Viewpoint* view);

}  // namespace common
