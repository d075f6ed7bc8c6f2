// The companion of a cube view: reads the view's layout through its interfaces and evaluates it
// as a grid query.

#include "QueryViewpoint.h"

#include <atomic>

#include "NUVA_o/Axis.h"
#include "NUVA_o/AxisHierarchy.h"
#include "NUVA_o/MemberSet.h"
#include "NUVA_o/Viewpoint.h"
#include "QueryEngine.h"
#include "common/ViewpointBase.h"

namespace memory {

namespace {

class MemoryViewpoint final : public common::ViewpointBase {
 public:
  explicit MemoryViewpoint(NUVA_o::Viewpoint* view) : m_pView(view) {}

  // Called by the view under its write lock, so the layout cannot change meanwhile.
  NUVA_o::ViewResultSet* executeQuery() override {
    CubeImpl* cube = view_cube();
    ResolvedQuery query = resolve_query(*cube, grid_of_view());
    // An interrupt that came before this evaluation does not stop it.
    m_bInterrupt.store(false);
    return make_result_set(evaluate_grid(cube, std::move(query), &m_bInterrupt));
  }

  // Called without the view's lock, from any thread.
  void interrupt() override { m_bInterrupt.store(true); }

  // Nothing is cached between queries: each evaluation reads the view afresh.
  void dirty() override {}

  // A companion made without a view has nothing to evaluate, so nothing too large.
  bool isQueryTooLarge() override {
    if (!m_pView) return false;
    CubeImpl* cube = view_cube();
    return resolve_query(*cube, grid_of_view()).cellCount > cube->getQueryCellLimit();
  }

 private:
  CubeImpl* view_cube() const {
    if (!m_pView) raise_query<InvalidPointerExceptionImpl>(MEMORY_E_QUERY, "the companion has no cube view");
    auto* cube = dynamic_cast<CubeImpl*>(m_pView->getCube());
    if (!cube)
      raise_query<InvalidPointerExceptionImpl>(MEMORY_E_QUERY, "the view is not bound to a cube of this provider");
    return cube;
  }

  // View axes in order become the grid's axes (the first the columns, the second the rows),
  // each the cross join of its hierarchies' view member sets; every slice-axis hierarchy adds
  // its active slice to the slicer.
  GridQuery grid_of_view() const {
    GridQuery grid;
    for (const auto& axis : m_pView->getAxes()) {
      const bool view = axis->getAxisType() == NUVA_o::Axis::AT_VIEW;
      if (view) grid.axes.emplace_back();
      for (const auto& axisHierarchy : axis->getAxisHierarchies()) {
        GridCoordinate coordinate;
        coordinate.hierarchy = axisHierarchy->getUniqueName();
        if (view) {
          auto_unuse<NUVA_o::MemberSet> members(axisHierarchy->getViewMemberSet());
          coordinate.members = memberUniqueNames(members.get());
          grid.axes.back().hierarchies.push_back(std::move(coordinate));
        } else {
          auto_unuse<NUVA_o::Member> slice(axisHierarchy->getActiveSlice());
          coordinate.members.push_back(slice->getUniqueName());
          grid.slicer.push_back(std::move(coordinate));
        }
      }
    }
    return grid;
  }

  NUVA_o::Viewpoint* m_pView;
  std::atomic<bool> m_bInterrupt{false};
};

}  // namespace

common::ViewpointBase* createMemoryViewpoint(NUVA_o::Viewpoint* view) {
  return new MemoryViewpoint(view);
}

}  // namespace memory
