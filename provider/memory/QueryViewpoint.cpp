// The companion of a cube view: reads the view's layout through its interfaces and evaluates it
// as a grid query.

#include "QueryViewpoint.h"

#include <atomic>

#include "NUVA_o/Axis.h"
#include "NUVA_o/AxisHierarchy.h"
#include "NUVA_o/Expression.h"
#include "NUVA_o/MemberSet.h"
#include "NUVA_o/Parameter.h"
#include "NUVA_o/OptionalCubeViewClause.h"
#include "NUVA_o/DynamicCalculation.h"
#include "NUVA_o/SubTotal.h"
#include "NUVA_o/Tuple.h"
#include "NUVA_o/Viewpoint.h"
#include "QueryEngine.h"
#include "common/GridClauses.h"
#include "common/ViewpointBase.h"

namespace memory {

namespace {

// The text the engine evaluates: placeholders replaced by the current values of their
// parameters, on a copy, so that the view's clause keeps its placeholders for the next query.
TOVAString evaluated_text(NUVA_o::Expression& expression, NUVA_o::Cube* cube) {
  if (expression.getText().find(TOVAString("<<")) == TOVAString::npos) return expression.getText();
  auto_unuse<NUVA_o::Expression> copy(expression.clone());
  std::vector<auto_unuse<NUVA_o::Parameter>> parameters;
  copy->resolveParameters(cube, parameters);
  return copy->getTextFromTree();
}

class MemoryViewpoint final : public common::ViewpointBase {
 public:
  explicit MemoryViewpoint(NUVA_o::Viewpoint* view) : m_pView(view) {}

  // Called by the view under its write lock, so the layout cannot change meanwhile.
  NUVA_o::ViewResultSet* executeQuery() override {
    CubeImpl* cube = view_cube();
    const GridQuery grid = grid_of_view();
    ResolvedQuery query = resolve_query(*cube, grid);
    // An interrupt that came before this evaluation does not stop it.
    m_bInterrupt.store(false);
    return make_result_set(evaluate_query(cube, grid, std::move(query), &m_bInterrupt));
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
    add_clauses(grid);
    add_highlights(grid);
    add_subtotals(grid);
    return grid;
  }

  // The view axis (0 the first) that holds a hierarchy of the tuple, or -1.
  int view_axis_of(const NUVA_o::Tuple* tuple) const {
    if (!tuple) return -1;
    int index = 0;
    for (const auto& axis : m_pView->getAxes()) {
      if (axis->getAxisType() != NUVA_o::Axis::AT_VIEW) continue;
      for (const auto& placed : axis->getAxisHierarchies())
        for (const TOVAString& name : tuple->getHierarchyUniqueNames())
          if (placed->getUniqueName().compare(name, 0) == 0) return index;
      ++index;
    }
    return -1;
  }

  // Active filters apply to the axis of their tuple (the rows when it has none); active sorts,
  // in solve order, to the rows unless their tuple stands on the rows, then to the columns.
  void add_clauses(GridQuery& grid) const {
    const size_t rows = grid.axes.size() > 1 ? 1 : 0;
    if (grid.axes.empty()) return;
    for (const auto& filter : m_pView->getFilters()) {
      if (!filter->isActive()) continue;
      auto_unuse<NUVA_o::Tuple> tuple(filter->getTuple());
      auto_unuse<NUVA_o::Expression> expression(filter->getExpression());
      if (!expression) continue;
      const int axis = view_axis_of(tuple.get());
      grid.filters.push_back({axis >= 0 ? static_cast<size_t>(axis) : rows,
                              evaluated_text(*expression, m_pView->getCube()),
                              TOVAString().build("filter %s", filter->getGuid())});
    }
    std::vector<NUVA_o::Sort*> sorts;
    for (const auto& sort : m_pView->getSorts())
      if (sort->isActive()) sorts.push_back(sort.get());
    std::stable_sort(sorts.begin(), sorts.end(), [](const NUVA_o::Sort* a, const NUVA_o::Sort* b) {
      return a->getSolveOrder() < b->getSolveOrder();
    });
    for (const NUVA_o::Sort* sort : sorts) {
      auto_unuse<NUVA_o::Tuple> tuple(sort->getTuple());
      if (!tuple || tuple->getMembers().empty()) continue;
      TOVAString text("Tuple(");
      for (const TOVAString& name : tuple->getMemberUniqueNames()) {
        if (text.length() > 6) text += ", ";
        text += name;
      }
      text += ")";
      const int standing = view_axis_of(tuple.get());
      const size_t axis = standing == static_cast<int>(rows) ? 0 : rows;
      const NUVA_o::Sort::Direction direction = sort->getDirection();
      grid.sorts.push_back({axis, text,
                            direction == NUVA_o::Sort::SD_DESCENDING || direction == NUVA_o::Sort::SD_BDESC,
                            direction == NUVA_o::Sort::SD_ASCENDING || direction == NUVA_o::Sort::SD_DESCENDING,
                            TOVAString().build("sort %s", sort->getGuid())});
    }
  }

  // Active highlights; the engine evaluates them over the final cells.
  void add_highlights(GridQuery& grid) const {
    for (const auto& spec : m_pView->getExceptionSpecifications()) {
      if (!spec->isActive()) continue;
      auto_unuse<NUVA_o::Expression> expression(spec->getExpression());
      if (!expression) continue;
      grid.highlights.push_back({evaluated_text(*expression, m_pView->getCube()), spec->getGroup(), spec->getBanding(), spec->getSolveOrder(),
                                 TOVAString().build("highlight %s", spec->getGuid())});
    }
  }

  // Active calculations and subtotals that are not disabled, per view axis in the axis's order.
  void add_subtotals(GridQuery& grid) const {
    size_t index = 0;
    for (const auto& axis : m_pView->getAxes()) {
      if (axis->getAxisType() != NUVA_o::Axis::AT_VIEW) continue;
      for (const auto& calculation : axis->getDynamicCalculations()) {
        if (!calculation->isActive()) continue;
        auto_unuse<NUVA_o::Tuple> tuple(calculation->getTuple());
        if (!tuple) continue;
        const int type = calculation->getType();
        grid.calculations.push_back({index, type, tuple->getMemberUniqueNames(),
                                     calculation->getCaption().length() ? calculation->getCaption()
                                                                        : common::calculationTypeName(type),
                                     calculation->getUniqueName(),
                                     TOVAString().build("calculation %s", calculation->getUniqueName())});
      }
      for (const auto& subtotal : axis->getAxisSubTotals()) {
        if (subtotal->isDisabled()) continue;
        const int operation = subtotal->getOperation();
        grid.subtotals.push_back({index, operation, subtotal->getType(), subtotal->getPosition(),
                                  subtotal->getCaption().length() ? subtotal->getCaption()
                                                                  : common::subtotalOperationName(operation),
                                  subtotal->getUniqueName(),
                                  TOVAString().build("subtotal %s", subtotal->getUniqueName())});
      }
      ++index;
    }
  }

  NUVA_o::Viewpoint* m_pView;
  std::atomic<bool> m_bInterrupt{false};
};

}  // namespace

common::ViewpointBase* createMemoryViewpoint(NUVA_o::Viewpoint* view) {
  return new MemoryViewpoint(view);
}

}  // namespace memory
