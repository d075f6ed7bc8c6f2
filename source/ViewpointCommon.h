#pragma once

#include <atomic>
#include <memory>
#include <vector>

#include "NUVA_o/Axis.h"
#include "NUVA_o/Cube.h"
#include "NUVA_o/OptionalCubeViewClause.h"
#include "NUVA_o/QueryPropertySetCommon.h"
#include "NUVA_o/ViewResultSet.h"
#include "NUVA_o/Viewpoint.h"
#include "common/ViewpointBase.h"
#include "common/ViewpointCommandExecutioner.h"
#include "common/ViewpointCommandManager.h"
#include "support/Locks.h"
#include "support/RefCountImpl.h"
#include "support/oleauto.h"

namespace common {

// Where a sort, filter or exception specification applies.
enum ClauseActivityScope { CAS_INACTIVE = 0, CAS_AXIS = 1, CAS_VIEW = 2 };

// The cube view. Unbound after construction; bound to a cube by initialise or clone; unbound
// again by disconnect or when the cube's connection closes. Every edit makes it dirty (drops the
// result set of the last query).
class VTQ_EXPORT ViewpointCommon : public NUVA_o::Viewpoint,
                        public ViewpointCommandExecutioner,
                        public NUVA_o::Cube::ConnectionListener,
                        public NUVA_o::Cube::Listener,
                        public NUVA_o::Axis::AxisListener,
                        public NUVA_o::OptionalCubeViewClause::OptionalCubeViewClauseListener,
                        public NUVA_o::ViewResultSet::ViewResultSetListener,
                        public NUVA_o::Calculation::CalculationEventHandler,
                        public NUVA_o::Parameter::ParameterListener,
                        public support::StrongRef {
 public:
  using ViewpointCommandManager = common::ViewpointCommandManager;

  ViewpointCommon();

  // Persistable
  void persist(XmlSupport& xml, DOMElement* parent) const override;
  void restore(DOMElement* element, NUVA_o::Cube* cube) override;

  // Viewpoint
  NUVA_o::Cube* getCube() const override { return m_pCube.get(); }
  NUVA_o::ViewResultSet* query() const override;
  void interrupt() override;
  void revert() override;
  TOVAString toXML() const override;
  const TOVAString& getUniqueName() const override { return m_UniqueName; }
  const std::vector<auto_unuse<NUVA_o::Axis>>& getAxes() const override { return m_Axes; }
  void moveAxisHierarchy(const NUVA_o::AxisHierarchy* axisHierarchy, NUVA_o::Axis* axis,
                         unsigned position) override;
  void moveAxisHierarchy(const TOVAString& uniqueName, NUVA_o::Axis* axis,
                         unsigned position) override;
  void swapAxisHierarchies(const NUVA_o::AxisHierarchy* first,
                           const NUVA_o::AxisHierarchy* second) override;
  void swapAxisHierarchies(const TOVAString& first, const TOVAString& second) override;
  void swapAxes(NUVA_o::Axis* first, NUVA_o::Axis* second) override;
  const std::vector<auto_unuse<NUVA_o::Sort>>& getSorts() const override { return m_Sorts; }
  NUVA_o::Sort* addSort(const NUVA_o::Tuple* tuple, NUVA_o::Sort::Direction direction,
                        bool unused) override;
  void removeSort(const NUVA_o::Sort* sort) override;
  const std::vector<auto_unuse<NUVA_o::Filter>>& getFilters() const override { return m_Filters; }
  NUVA_o::Filter* addFilter(const NUVA_o::Tuple* tuple, const NUVA_o::Expression* expression) override;
  void removeFilter(const NUVA_o::Filter* filter) override;
  const std::vector<auto_unuse<NUVA_o::ExceptionSpecification>>& getExceptionSpecifications()
      const override {
    return m_ExceptionSpecifications;
  }
  NUVA_o::ExceptionSpecification* addExceptionSpecification(const NUVA_o::Tuple* tuple,
                                                            const NUVA_o::Expression* expression,
                                                            int banding) override;
  void removeExceptionSpecification(const NUVA_o::ExceptionSpecification* specification) override;
  void addQueryProperty(NUVA_o::QueryProperty property) override;
  void removeQueryProperty(NUVA_o::QueryProperty property) override;
  bool hasQueryProperty(NUVA_o::QueryProperty property) const override;
  const std::vector<TOVAString>& getRepairDetails() const override { return m_RepairDetails; }
  void initialise(NUVA_o::Cube* cube, const TOVAString& xml) override;
  void initialise(NUVA_o::Cube* cube, unsigned viewAxes, unsigned sliceAxes) override;
  unsigned countViewAxes() const override;
  unsigned countSliceAxes() const override;
  NUVA_o::Viewpoint* clone() const override;
  void disconnect(bool connectionListener) override;
  bool _hasQueryProperty(NUVA_o::QueryProperty property) const override;

  // Further public operations.
  const NUVA_o::QueryPropertySet& getQueryProperties() const { return m_QueryProperties; }
  ViewpointBase* getDerivedViewpoint() const { return m_pDerivedViewpoint.get(); }
  // Owned by the view; null while it is unbound.
  ViewpointCommandManager* getCommandManager() const { return m_pCommandManager.get(); }
  const GUID& getGUID() const { return m_Guid; }
  const std::vector<auto_unuse<NUVA_o::Sort>>& getActiveSorts() const { return m_ActiveSorts; }
  const std::vector<auto_unuse<NUVA_o::Filter>>& getActiveFilters() const {
    return m_ActiveFilters;
  }
  const std::vector<auto_unuse<NUVA_o::ExceptionSpecification>>&
  getActiveExceptionSpecifications() const {
    return m_ActiveExceptionSpecifications;
  }
  std::vector<auto_unuse<NUVA_o::Sort>> getActiveSorts(unsigned axis) const;
  std::vector<auto_unuse<NUVA_o::Filter>> getActiveFilters(unsigned axis) const;
  std::vector<auto_unuse<NUVA_o::ExceptionSpecification>> getActiveExceptionSpecifications(
      unsigned axis) const;

  // ViewpointCommandExecutioner
  void execute(ViewpointCommand* command) override;
  // Cube::ConnectionListener
  bool connectionClosing() override;
  // Cube::Listener
  NUVA_o::Calculation::CalculationEventHandler* doYouCareAboutThis(
      NUVA_o::Calculation* calculation) override;
  void cubeChanged(NUVA_o::CubeEvent*) override {}
  void stopListening() override;
  // Axis::AxisListener
  void axisChanged(const NUVA_o::Axis* axis, AxisEvent event) override;
  void executingCommand(const NUVA_o::MemberSetCommand* command) override;
  // OptionalCubeViewClauseListener
  void optionalCubeViewClauseChanged(const NUVA_o::OptionalCubeViewClause* clause) override;
  // ViewResultSetListener
  void viewResultSetClosed() override;
  // CalculationEventHandler
  void expressionChanged(const NUVA_o::Calculation*) override { dirty_viewpoint(true); }
  void calculationRemoved(const NUVA_o::Calculation*) override {}
  void captionChanged(const NUVA_o::Calculation*) override {}
  void finish() override { unuse(); }
  void removeSpecs(const NUVA_o::Calculation* calculation) override;
  // ParameterListener: the layout follows the prompt (not a command; not undone). A hierarchy
  // the cube does not know is logged with COMMON_E_PARAMETER_UNKNOWN_HIERARCHY and changes
  // nothing.
  void parameterChanged(NUVA_o::Parameter* parameter) override;
  void swap_for_hierarchy_parameter(NUVA_o::Parameter& parameter);
  void persist_parameters(XmlSupport& xml, DOMElement* element) const;
  // Refused values become repair details; the parameter keeps what it had.
  void restore_parameters(DOMElement* element, std::vector<TOVAString>& repairs);
  void reset_for_key_date(NUVA_o::Parameter& parameter);
  void move_slices_for_parameter(NUVA_o::Parameter& parameter);

  // Internal steps; the commands call them, and they do not call back into the manager.
  // Throws InvalidArgumentException COMMON_E_FOREIGN_AXIS for an axis of another view,
  // COMMON_E_UNKNOWN_HIERARCHY for a hierarchy the cube does not know.
  void internal_move_axis_hierarchy(const TOVAString& uniqueName, NUVA_o::Axis* axis,
                                    unsigned position);
  // The three cases of a move: within its axis, from another axis, onto an axis from the cube.
  void move_within_axis(const TOVAString& uniqueName, NUVA_o::Axis* axis, unsigned position);
  void move_between_axes(const TOVAString& uniqueName, NUVA_o::Axis* source, NUVA_o::Axis* axis,
                         unsigned position);
  void place_from_cube(const TOVAString& uniqueName, NUVA_o::Axis* axis, unsigned position);
  // Without multiple-hierarchy queries, takes the placed hierarchy of the same dimension off
  // its axis, keeping `position` pointing at the same place of `axis`.
  void remove_other_hierarchy_of_dimension(const NUVA_o::Hierarchy& hierarchy,
                                           const TOVAString& uniqueName, NUVA_o::Axis* axis,
                                           unsigned& position);
  // Throws InvalidArgumentException when the cube does not know either name.
  void internal_swap_axis_hierarchies(const TOVAString& first, const TOVAString& second);
  void internal_swap_axes(NUVA_o::Axis* first, NUVA_o::Axis* second);
  // Put the clause into its list (and take it out), listening to it and giving it this view
  // as executioner while it is there; the active lists follow.
  void internal_add_sort(NUVA_o::Sort* sort);
  void internal_remove_sort(NUVA_o::Sort* sort);
  void internal_add_filter(NUVA_o::Filter* filter);
  void internal_remove_filter(NUVA_o::Filter* filter);
  void internal_add_exception_specification(NUVA_o::ExceptionSpecification* specification);
  void internal_remove_exception_specification(NUVA_o::ExceptionSpecification* specification);
  void update_active_specifications();
  void dirty_viewpoint(bool removeListener);
  bool viewpoint_contains_axis(const NUVA_o::Axis* axis) const;
  // Borrowed; null when no axis holds an axis hierarchy of that name.
  NUVA_o::Axis* find_axis_containing_hierarchy(const TOVAString& uniqueName) const;
  // Borrowed, with the index of the axis that holds it; null when none.
  NUVA_o::SubTotal* find_subtotal(const TOVAString& uniqueName, unsigned& axis) const;
  NUVA_o::DynamicCalculation* find_dynamic_calculation(const TOVAString& uniqueName,
                                                       unsigned& axis) const;
  ClauseActivityScope optional_clause_active(const NUVA_o::OptionalCubeViewClause* clause,
                                             unsigned& axis) const;

 protected:
  ~ViewpointCommon() override;

 private:
  // False (with an assertion report) when the cube is null or the view is already bound.
  bool common_initialise(NUVA_o::Cube* cube);
  void clear_viewpoint();
  void initialize_all_to_default(unsigned viewAxes, unsigned sliceAxes);
  void initialize_axes(unsigned viewAxes, unsigned sliceAxes);
  void initialize_orientation();
  void add_all_axis_hierarchies(NUVA_o::Dimension* dimension, unsigned axis);
  // The held result set with a reference for the caller, or null.
  auto_unuse<NUVA_o::ViewResultSet> held_result_set() const;
  // Leaves the held result set's listeners and drops it, and the parked closed one. `caller`
  // names the operation in the log line.
  void drop_result_sets(const char* caller);
  // The hierarchy's own unique name for any spelling the cube accepts; empty when the cube
  // does not know it.
  TOVAString resolve_hierarchy_name(const TOVAString& name) const;
  // Throws CubeViewStateException naming `operation` while the view is unbound.
  void require_bound(const char* operation) const;
  template <class T>
  void update_active(const std::vector<auto_unuse<T>>& all, std::vector<auto_unuse<T>>& active);
  template <class T>
  std::vector<auto_unuse<T>> active_on_axis(const std::vector<auto_unuse<T>>& all,
                                            unsigned axis) const;
  template <class T>
  void internal_add_clause(T* clause, std::vector<auto_unuse<T>>& all,
                           std::vector<auto_unuse<T>>& active);
  template <class T>
  void internal_remove_clause(T* clause, std::vector<auto_unuse<T>>& all,
                              std::vector<auto_unuse<T>>& active);
  // Refuses (InvalidExpressionException) what cannot be a filter or highlighting condition.
  void check_condition(const NUVA_o::Expression* expression) const;
  // restore under the view's lock; see restore.
  void restore_locked(DOMElement* element);
  // Refuses (InvalidXMLException) axes that are not one or two view axes followed by slice axes.
  void check_layout(const std::vector<auto_unuse<NUVA_o::Axis>>& axes) const;
  // Drops the axes, clauses, repair details and history, keeping the binding.
  void reset_content();
  // Puts every hierarchy that the restored axes left out on the first slice axis, with a
  // repair detail for each.
  void cover_dimensions();
  // The catalogue text of `code` with the insert, logged as a repair.
  TOVAString record_repair(uint32_t code, const TOVAString& insert) const;
  template <class T>
  void drop_clauses(std::vector<auto_unuse<T>>& all, std::vector<auto_unuse<T>>& active);

  bool m_bCubeListening = false;
  std::unique_ptr<ViewpointCommandManager> m_pCommandManager;
  auto_unuse<NUVA_o::Cube> m_pCube;
  // Guards the two result-set pointers only (never held while calling out), because listener
  // faces on provider threads and the unlocked first test of `query` read them without the
  // view's lock.
  mutable KorvelMutex m_ResultSetMutex;
  mutable auto_unuse<NUVA_o::ViewResultSet> m_pResultSet;
  // A result set that announced its closing: kept alive until its notification has surely
  // returned, that is until the next query, dirtying or destruction.
  mutable auto_unuse<NUVA_o::ViewResultSet> m_pClosedResultSet;
  TOVAString m_UniqueName;
  GUID m_Guid{};
  std::vector<auto_unuse<NUVA_o::Axis>> m_Axes;
  std::unique_ptr<ViewpointBase> m_pDerivedViewpoint;
  std::vector<auto_unuse<NUVA_o::Sort>> m_Sorts, m_ActiveSorts;
  std::vector<auto_unuse<NUVA_o::Filter>> m_Filters, m_ActiveFilters;
  std::vector<auto_unuse<NUVA_o::ExceptionSpecification>> m_ExceptionSpecifications,
      m_ActiveExceptionSpecifications;
  uint32_t m_nNextSortSolveOrder = 1;
  uint32_t m_nNextFilterOrder = 1;
  uint32_t m_nNextExceptionSolveOrder = 1;
  NUVA_o::QueryPropertySetCommon m_QueryProperties;
  // Lock order: this lock, then the command manager's mutex, then the locks of axes, axis
  // hierarchies, member sets and result sets, none of which is held while taking another.
  // Written by query, revert, the clause and property edits and every edit of the layout:
  // moves, swaps, execute, and through the command manager undo, redo and the recording of
  // member-set commands. An edit that calls back into the view on its own thread (a move whose
  // member-set reset is recorded) finds the lock held by itself and goes on
  // (KorvelSynchronizedEdit).
  mutable ReadWriteLock m_Lock;
  // Atomic: `interrupt` reads the current number without the lock.
  mutable std::atomic<uint32_t> m_nNextQueryNumber{1};
  mutable std::atomic<uint32_t> m_nCurrentQueryNumber{0};
  std::vector<TOVAString> m_RepairDetails;
};

}  // namespace common
