#include "viewpointcommands.h"

#include <vector>

#include "NUVA_o/AxisHierarchy.h"
#include "ViewpointCommon.h"
#include "SubTotalCommon.h"
#include "axiscommon.h"
#include "dynamiccalculationcommon.h"
#include "optionalcubeviewclausecommon.h"
#include "common/ComponentLog.h"
#include "common/ViewpointFactory.h"
#include "support/CoreLog.h"
#include "support/ErrorCodes.h"
#include "support/Exceptions.h"

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
  commandsLog().logAt(4, [&] { return execute_message(); });
  if (m_bExecuted) {
    support_dll::AssertionFailure("! m_bExecuted", "viewpointcommands", __LINE__);
    return;
  }
  do_execute();
  m_bExecuted = true;
}

void ViewpointCommand::undo() {
  commandsLog().logAt(4, [&] { return undo_message(); });
  if (!m_bExecuted) {
    support_dll::AssertionFailure("m_bExecuted", "viewpointcommands", __LINE__);
    return;
  }
  do_undo();
  m_bExecuted = false;
}

ViewpointCommandManager* getViewpointCommandManager(NUVA_o::Viewpoint* view) {
  auto* common = dynamic_cast<ViewpointCommon*>(view);
  return common ? common->getCommandManager() : nullptr;
}

namespace {
// Unique names of the axis hierarchies on each axis, in order.
using Layout = std::vector<std::vector<TOVAString>>;

Layout layout_of(const ViewpointCommon& view) {
  Layout layout;
  for (const auto& axis : view.getAxes()) {
    std::vector<TOVAString> names;
    for (const auto& axisHierarchy : axis->getAxisHierarchies())
      names.push_back(axisHierarchy->getUniqueName());
    layout.push_back(std::move(names));
  }
  return layout;
}

uint32_t index_of_axis(const ViewpointCommon& view, const NUVA_o::Axis* axis) {
  const auto& axes = view.getAxes();
  for (uint32_t i = 0; i < axes.size(); ++i)
    if (axes[i].get() == axis) return i;
  return UINT32_MAX;
}
}  // namespace

MoveAxisHierarchyCommand::MoveAxisHierarchyCommand(ViewpointCommon* view,
                                                   const TOVAString& uniqueName, uint32_t toAxis,
                                                   uint32_t toPosition)
    : ViewpointCommand("MoveAxisHierarchyCommand", view),
      m_UniqueName(uniqueName),
      m_nToAxis(toAxis),
      m_nToPosition(toPosition) {
  note_origin();
}

void MoveAxisHierarchyCommand::note_origin() {
  NUVA_o::Axis* source = m_pViewpoint->find_axis_containing_hierarchy(m_UniqueName);
  m_bFromNoAxis = source == nullptr;
  m_nFromAxis = m_bFromNoAxis ? 0 : index_of_axis(*m_pViewpoint, source);
  m_nFromPosition = m_bFromNoAxis ? 0 : source->getAxisHierarchyPosition(m_UniqueName);
}

NUVA_o::Axis* MoveAxisHierarchyCommand::axis_at(uint32_t index) const {
  const auto& axes = m_pViewpoint->getAxes();
  // The layout is only ever changed by commands, so an index recorded by one is still valid
  // when it is undone; a view rebuilt in between is refused rather than guessed at.
  if (index >= axes.size())
    support::raise<InvalidArgumentExceptionImpl>(moduleName(), support::COMMON_E_FOREIGN_AXIS);
  return axes[index].get();
}

TOVAString MoveAxisHierarchyCommand::execute_message() const {
  return TOVAString().build(
      "Executing command MoveAxisHierarchy; Hierarchy %s moving from Axis %u to Axis %u, from "
      "position %u to position %u",
      m_UniqueName, m_nFromAxis, m_nToAxis, m_nFromPosition, m_nToPosition);
}

TOVAString MoveAxisHierarchyCommand::undo_message() const {
  return TOVAString().build(
      "Undoing command MoveAxisHierarchy; Hierarchy %s moveing from Axis %u to Axis %u, from "
      "position %u to position %u",
      m_UniqueName, m_nToAxis, m_nFromAxis, m_nToPosition, m_nFromPosition);
}

TOVAString MoveAxisHierarchyCommand::getDescription() const {
  return TOVAString().build("move %s %u %u", m_UniqueName, m_nToAxis, m_nToPosition);
}

void MoveAxisHierarchyCommand::do_execute() {
  NUVA_o::Axis* target = axis_at(m_nToAxis);
  note_origin();
  m_PushedOut = TOVAString();
  if (!m_bFromNoAxis) {
    m_pViewpoint->internal_move_axis_hierarchy(m_UniqueName, target, m_nToPosition);
    return;
  }
  // Only a hierarchy that comes onto the axes can push another one off: find out which by
  // comparing the layouts, so that the exclusion rule lives in one place (the view).
  Layout before = layout_of(*m_pViewpoint);
  m_pViewpoint->internal_move_axis_hierarchy(m_UniqueName, target, m_nToPosition);
  for (uint32_t a = 0; a < before.size(); ++a)
    for (uint32_t p = 0; p < before[a].size(); ++p)
      if (!m_pViewpoint->find_axis_containing_hierarchy(before[a][p])) {
        m_PushedOut = before[a][p];
        m_nPushedOutAxis = a;
        m_nPushedOutPosition = p;
        return;
      }
}

void MoveAxisHierarchyCommand::do_undo() {
  if (!m_bFromNoAxis) {
    m_pViewpoint->internal_move_axis_hierarchy(m_UniqueName, axis_at(m_nFromAxis),
                                               m_nFromPosition);
    return;
  }
  NUVA_o::Axis* holder = m_pViewpoint->find_axis_containing_hierarchy(m_UniqueName);
  if (!holder) return;
  if (!m_PushedOut.empty()) {
    // Bringing the pushed-out hierarchy back pushes this one off again. The view lowers the
    // position by one when the hierarchy it removes stood before it on the same axis, so the
    // position is given as if that one were still there.
    NUVA_o::Axis* home = axis_at(m_nPushedOutAxis);
    uint32_t position = m_nPushedOutPosition;
    if (holder == home && position >= home->getAxisHierarchyPosition(m_UniqueName)) ++position;
    m_pViewpoint->internal_move_axis_hierarchy(m_PushedOut, home, position);
    if (!m_pViewpoint->find_axis_containing_hierarchy(m_UniqueName)) return;
    // A cube that admits both hierarchies after all: take this one off as well.
    holder = m_pViewpoint->find_axis_containing_hierarchy(m_UniqueName);
  }
  auto_unuse<NUVA_o::AxisHierarchy> removed(holder->removeAxisHierarchy(m_UniqueName));
  m_pViewpoint->update_active_specifications();
  m_pViewpoint->dirty_viewpoint(true);
}

SwapAxisHierarchiesCommand::SwapAxisHierarchiesCommand(ViewpointCommon* view,
                                                       const TOVAString& first,
                                                       const TOVAString& second)
    : ViewpointCommand("SwapAxisHierarchiesCommand", view), m_First(first), m_Second(second) {}

TOVAString SwapAxisHierarchiesCommand::execute_message() const {
  return TOVAString().build(
      "Executing command SwapAxisHierarchies; Hierarchy %s swapping with Hierarchy %s", m_First,
      m_Second);
}

TOVAString SwapAxisHierarchiesCommand::undo_message() const {
  return TOVAString().build(
      "Undoing command SwapAxisHierarchies; Hierarchy %s swapping with Hierarchy %s", m_Second,
      m_First);
}

TOVAString SwapAxisHierarchiesCommand::getDescription() const {
  return TOVAString().build("swap %s %s", m_First, m_Second);
}

void SwapAxisHierarchiesCommand::do_execute() {
  m_pViewpoint->internal_swap_axis_hierarchies(m_First, m_Second);
}

void SwapAxisHierarchiesCommand::do_undo() {
  m_pViewpoint->internal_swap_axis_hierarchies(m_First, m_Second);
}

SwapAxesCommand::SwapAxesCommand(ViewpointCommon* view, NUVA_o::Axis* first,
                                 NUVA_o::Axis* second)
    : ViewpointCommand("SwapAxesCommand", view),
      m_pFirst(auto_unuse<NUVA_o::Axis>::share(first)),
      m_pSecond(auto_unuse<NUVA_o::Axis>::share(second)) {}

TOVAString SwapAxesCommand::execute_message() const { return "Executing command SwapAxes"; }

TOVAString SwapAxesCommand::undo_message() const { return "Undoing command SwapAxes"; }

TOVAString SwapAxesCommand::getDescription() const {
  return TOVAString().build("swap-axes %u %u", index_of_axis(*m_pViewpoint, m_pFirst.get()),
                            index_of_axis(*m_pViewpoint, m_pSecond.get()));
}

void SwapAxesCommand::swap() {
  if (!m_pViewpoint->viewpoint_contains_axis(m_pFirst.get()) ||
      !m_pViewpoint->viewpoint_contains_axis(m_pSecond.get()))
    support::raise<UnsupportedOperationExceptionImpl>(moduleName(), support::COMMON_E_FOREIGN_AXIS);
  m_pViewpoint->internal_swap_axes(m_pFirst.get(), m_pSecond.get());
}

void SwapAxesCommand::do_execute() { swap(); }

void SwapAxesCommand::do_undo() { swap(); }

// ---------------------------------------------------------------------------------------------
// Clauses

namespace {

// The name of a clause kind in log lines, and the word of the shell command that adds one.
template <class Clause>
struct ClauseKind;
template <>
struct ClauseKind<NUVA_o::Sort> {
  static constexpr const char* name = "Sort";
  static constexpr const char* word = "sort";
};
template <>
struct ClauseKind<NUVA_o::Filter> {
  static constexpr const char* name = "Filter";
  static constexpr const char* word = "filter";
};
template <>
struct ClauseKind<NUVA_o::ExceptionSpecification> {
  static constexpr const char* name = "ExceptionSpecification";
  static constexpr const char* word = "highlight";
};

}  // namespace

template <class Clause>
ClauseCommand<Clause>::ClauseCommand(const char* traceName, ViewpointCommon* view,
                                     const Clause* clause, bool add)
    : ViewpointCommand(traceName, view),
      m_pClause(auto_unuse<Clause>::share(const_cast<Clause*>(clause))),
      m_bAdd(add) {}

template <class Clause>
TOVAString ClauseCommand<Clause>::execute_message() const {
  const char* name = ClauseKind<Clause>::name;
  return TOVAString().build("Executing command %s%s; %s %s %s", m_bAdd ? "Add" : "Remove", name,
                            m_bAdd ? "Adding" : "Removing", name, m_pClause->getGuid());
}

template <class Clause>
TOVAString ClauseCommand<Clause>::undo_message() const {
  const char* name = ClauseKind<Clause>::name;
  return TOVAString().build("Undoing command %s%s; %s %s %s", m_bAdd ? "Add" : "Remove", name,
                            m_bAdd ? "Removing" : "Adding", name, m_pClause->getGuid());
}

template <class Clause>
TOVAString ClauseCommand<Clause>::getDescription() const {
  return TOVAString().build("%s %s %s", m_bAdd ? "add" : "remove", ClauseKind<Clause>::word,
                            m_pClause->getGuid());
}

namespace {
void add_clause(ViewpointCommon& view, NUVA_o::Sort* sort) { view.internal_add_sort(sort); }
void add_clause(ViewpointCommon& view, NUVA_o::Filter* filter) { view.internal_add_filter(filter); }
void add_clause(ViewpointCommon& view, NUVA_o::ExceptionSpecification* specification) {
  view.internal_add_exception_specification(specification);
}
void remove_clause(ViewpointCommon& view, NUVA_o::Sort* sort) { view.internal_remove_sort(sort); }
void remove_clause(ViewpointCommon& view, NUVA_o::Filter* filter) {
  view.internal_remove_filter(filter);
}
void remove_clause(ViewpointCommon& view, NUVA_o::ExceptionSpecification* specification) {
  view.internal_remove_exception_specification(specification);
}
}  // namespace

template <class Clause>
void ClauseCommand<Clause>::apply(bool add) {
  if (add)
    add_clause(*m_pViewpoint, m_pClause.get());
  else
    remove_clause(*m_pViewpoint, m_pClause.get());
}

template <class Clause>
void ClauseCommand<Clause>::do_execute() {
  apply(m_bAdd);
}

template <class Clause>
void ClauseCommand<Clause>::do_undo() {
  apply(!m_bAdd);
}

template class ClauseCommand<NUVA_o::Sort>;
template class ClauseCommand<NUVA_o::Filter>;
template class ClauseCommand<NUVA_o::ExceptionSpecification>;

ChangeClauseDisabledCommand::ChangeClauseDisabledCommand(OptionalCubeViewClauseCommon* clause,
                                                         bool disabled)
    : ViewpointCommand("ChangeClauseDisabledCommand", nullptr),
      m_pClause(auto_unuse<OptionalCubeViewClauseCommon>::share(clause)),
      m_bDisabled(disabled) {}

TOVAString ChangeClauseDisabledCommand::execute_message() const {
  return TOVAString().build("Executing command ChangeClauseDisabled; Changing Clause %s to %d",
                            m_pClause->getGuid(), int(m_bDisabled));
}

TOVAString ChangeClauseDisabledCommand::undo_message() const {
  return TOVAString().build("Undoing command ChangeClauseDisabled; Changing Clause %s to %d",
                            m_pClause->getGuid(), int(!m_bDisabled));
}

TOVAString ChangeClauseDisabledCommand::getDescription() const {
  return TOVAString().build("%s %s", m_bDisabled ? "disable" : "enable", m_pClause->getGuid());
}

void ChangeClauseDisabledCommand::do_execute() { m_pClause->internal_set_disabled(m_bDisabled); }

void ChangeClauseDisabledCommand::do_undo() { m_pClause->internal_set_disabled(!m_bDisabled); }

// ---------------------------------------------------------------------------------------------
// Subtotals

ChangeSubTotalDisabled::ChangeSubTotalDisabled(SubTotalCommon* subTotal, bool disabled)
    : ViewpointCommand("ChangeSubTotalDisabled", nullptr),
      m_pSubTotal(auto_unuse<SubTotalCommon>::share(subTotal)),
      m_bDisabled(disabled) {}

TOVAString ChangeSubTotalDisabled::execute_message() const {
  return TOVAString().build("Executing command ChangeSubTotalDisabled; Changing SubTotal %s to %d",
                            m_pSubTotal->getUniqueName(), int(m_bDisabled));
}

TOVAString ChangeSubTotalDisabled::undo_message() const {
  return TOVAString().build("Undoing command ChangeSubTotalDisabled; Changing SubTotal %s to %d",
                            m_pSubTotal->getUniqueName(), int(!m_bDisabled));
}

TOVAString ChangeSubTotalDisabled::getDescription() const {
  return TOVAString().build("%s %s", m_bDisabled ? "disable" : "enable",
                            m_pSubTotal->getUniqueName());
}

void ChangeSubTotalDisabled::do_execute() { m_pSubTotal->internal_set_disabled(m_bDisabled); }

void ChangeSubTotalDisabled::do_undo() { m_pSubTotal->internal_set_disabled(!m_bDisabled); }

namespace {
AxisCommon& common_axis_of(const ViewpointCommon& view, NUVA_o::Axis* axis) {
  auto* common = dynamic_cast<AxisCommon*>(axis);
  if (!common || !view.viewpoint_contains_axis(axis))
    support::raise<UnsupportedOperationExceptionImpl>(moduleName(), support::COMMON_E_FOREIGN_AXIS);
  return *common;
}
}  // namespace

SubTotalCommand::SubTotalCommand(ViewpointCommon* view, NUVA_o::Axis* axis,
                                 NUVA_o::SubTotal::SubTotalOperation operation,
                                 NUVA_o::SubTotal::SubTotalType type,
                                 NUVA_o::SubTotal::SubTotalPosition position)
    : ViewpointCommand("SubTotalCommand", view),
      m_pAxis(auto_unuse<NUVA_o::Axis>::share(axis)),
      m_Operation(operation),
      m_Type(type),
      m_Position(position),
      m_bAdd(true) {}

SubTotalCommand::SubTotalCommand(ViewpointCommon* view, NUVA_o::Axis* axis,
                                 NUVA_o::SubTotal* subTotal)
    : ViewpointCommand("SubTotalCommand", view),
      m_pAxis(auto_unuse<NUVA_o::Axis>::share(axis)),
      m_pSubTotal(auto_unuse<NUVA_o::SubTotal>::share(subTotal)),
      m_bAdd(false) {}

TOVAString SubTotalCommand::execute_message() const {
  return TOVAString().build("Executing command %s; SubTotal %s", m_bAdd ? "AddSubTotal" : "RemoveSubTotal",
                            m_pSubTotal ? m_pSubTotal->getUniqueName() : TOVAString("(new)"));
}

TOVAString SubTotalCommand::undo_message() const {
  return TOVAString().build("Undoing command %s; SubTotal %s", m_bAdd ? "AddSubTotal" : "RemoveSubTotal",
                            m_pSubTotal ? m_pSubTotal->getUniqueName() : TOVAString("(new)"));
}

TOVAString SubTotalCommand::getDescription() const {
  return TOVAString().build("%s %s", m_bAdd ? "subtotal" : "remove",
                            m_pSubTotal ? m_pSubTotal->getUniqueName() : TOVAString("(new)"));
}

void SubTotalCommand::apply(bool add) {
  AxisCommon& axis = common_axis_of(*m_pViewpoint, m_pAxis.get());
  if (!add) {
    m_nIndex = axis.subtotal_index(m_pSubTotal.get());
    axis.removeAxisSubTotal(m_pSubTotal.get());
  } else if (!m_pSubTotal) {
    m_pSubTotal.reset(axis.addAxisSubTotal(m_Position, m_Type, m_Operation));
  } else {
    axis.insert_subtotal(m_pSubTotal.get(), m_bAdd ? uint32_t(axis.getAxisSubTotals().size())
                                                   : m_nIndex);
  }
}

void SubTotalCommand::do_execute() { apply(m_bAdd); }

void SubTotalCommand::do_undo() { apply(!m_bAdd); }

// ---------------------------------------------------------------------------------------------
// Dynamic calculations

ChangeDynamicCalculationDisabled::ChangeDynamicCalculationDisabled(
    DynamicCalculationCommon* calculation, bool disabled)
    : ViewpointCommand("ChangeDynamicCalculationDisabled", nullptr),
      m_pCalculation(auto_unuse<DynamicCalculationCommon>::share(calculation)),
      m_bDisabled(disabled) {}

TOVAString ChangeDynamicCalculationDisabled::execute_message() const {
  return TOVAString().build(
      "Executing command ChangeDynamicCalculationDisabled; Changing DynamicCalculation %s to %d",
      m_pCalculation->getUniqueName(), int(m_bDisabled));
}

TOVAString ChangeDynamicCalculationDisabled::undo_message() const {
  return TOVAString().build(
      "Undoing command ChangeDynamicCalculationDisabled; Changing DynamicCalculation %s to %d",
      m_pCalculation->getUniqueName(), int(!m_bDisabled));
}

TOVAString ChangeDynamicCalculationDisabled::getDescription() const {
  return TOVAString().build("%s %s", m_bDisabled ? "disable" : "enable",
                            m_pCalculation->getUniqueName());
}

void ChangeDynamicCalculationDisabled::do_execute() {
  m_pCalculation->internal_set_disabled(m_bDisabled);
}

void ChangeDynamicCalculationDisabled::do_undo() {
  m_pCalculation->internal_set_disabled(!m_bDisabled);
}

DynamicCalculationCommand::DynamicCalculationCommand(ViewpointCommon* view, NUVA_o::Axis* axis,
                                                     const NUVA_o::Tuple* tuple,
                                                     NUVA_o::DynamicCalculationType type)
    : ViewpointCommand("DynamicCalculationCommand", view),
      m_pAxis(auto_unuse<NUVA_o::Axis>::share(axis)),
      m_pTuple(tuple ? tuple->clone() : nullptr),
      m_Type(type),
      m_bAdd(true) {}

DynamicCalculationCommand::DynamicCalculationCommand(ViewpointCommon* view, NUVA_o::Axis* axis,
                                                     NUVA_o::DynamicCalculation* calculation)
    : ViewpointCommand("DynamicCalculationCommand", view),
      m_pAxis(auto_unuse<NUVA_o::Axis>::share(axis)),
      m_pCalculation(auto_unuse<NUVA_o::DynamicCalculation>::share(calculation)),
      m_bAdd(false) {}

TOVAString DynamicCalculationCommand::execute_message() const {
  return TOVAString().build("Executing command %s; DynamicCalculation %s",
                            m_bAdd ? "AddDynamicCalculation" : "RemoveDynamicCalculation",
                            m_pCalculation ? m_pCalculation->getUniqueName() : TOVAString("(new)"));
}

TOVAString DynamicCalculationCommand::undo_message() const {
  return TOVAString().build("Undoing command %s; DynamicCalculation %s",
                            m_bAdd ? "AddDynamicCalculation" : "RemoveDynamicCalculation",
                            m_pCalculation ? m_pCalculation->getUniqueName() : TOVAString("(new)"));
}

TOVAString DynamicCalculationCommand::getDescription() const {
  return TOVAString().build("%s %s", m_bAdd ? "calc" : "remove",
                            m_pCalculation ? m_pCalculation->getUniqueName() : TOVAString("(new)"));
}

void DynamicCalculationCommand::apply(bool add) {
  AxisCommon& axis = common_axis_of(*m_pViewpoint, m_pAxis.get());
  if (!add) {
    m_nIndex = axis.dynamic_calculation_index(m_pCalculation.get());
    axis.removeDynamicCalculation(m_pCalculation.get());
  } else if (!m_pCalculation) {
    m_pCalculation.reset(axis.addDynamicCalculation(m_pTuple.get(), m_Type));
  } else {
    axis.insert_dynamic_calculation(
        m_pCalculation.get(),
        m_bAdd ? uint32_t(axis.getDynamicCalculations().size()) : m_nIndex);
  }
}

void DynamicCalculationCommand::do_execute() { apply(m_bAdd); }

void DynamicCalculationCommand::do_undo() { apply(!m_bAdd); }

// ---------------------------------------------------------------------------------------------
// The undoable axis edits

namespace {
// The view as this library made it; the axis is checked when the command runs.
ViewpointCommon& common_view(NUVA_o::Viewpoint& view) {
  auto* common = dynamic_cast<ViewpointCommon*>(&view);
  if (!common)
    support::raise<UnsupportedOperationExceptionImpl>(moduleName(), support::COMMON_E_FOREIGN_AXIS);
  return *common;
}
}  // namespace

NUVA_o::SubTotal* addAxisSubTotal(NUVA_o::Viewpoint& view, NUVA_o::Axis& axis,
                                  NUVA_o::SubTotal::SubTotalPosition position,
                                  NUVA_o::SubTotal::SubTotalType type,
                                  NUVA_o::SubTotal::SubTotalOperation operation) {
  ViewpointCommon& common = common_view(view);
  auto_unuse<SubTotalCommand> command(
      new SubTotalCommand(&common, &axis, operation, type, position));
  common.execute(command.get());
  return auto_unuse<NUVA_o::SubTotal>::share(command->getSubTotal()).release();
}

void removeAxisSubTotal(NUVA_o::Viewpoint& view, NUVA_o::Axis& axis, NUVA_o::SubTotal& subTotal) {
  ViewpointCommon& common = common_view(view);
  auto_unuse<SubTotalCommand> command(new SubTotalCommand(&common, &axis, &subTotal));
  common.execute(command.get());
}

NUVA_o::DynamicCalculation* addDynamicCalculation(NUVA_o::Viewpoint& view, NUVA_o::Axis& axis,
                                                  const NUVA_o::Tuple& tuple,
                                                  NUVA_o::DynamicCalculationType type) {
  ViewpointCommon& common = common_view(view);
  auto_unuse<DynamicCalculationCommand> command(
      new DynamicCalculationCommand(&common, &axis, &tuple, type));
  common.execute(command.get());
  return auto_unuse<NUVA_o::DynamicCalculation>::share(command->getCalculation()).release();
}

void removeDynamicCalculation(NUVA_o::Viewpoint& view, NUVA_o::Axis& axis,
                              NUVA_o::DynamicCalculation& calculation) {
  ViewpointCommon& common = common_view(view);
  auto_unuse<DynamicCalculationCommand> command(
      new DynamicCalculationCommand(&common, &axis, &calculation));
  common.execute(command.get());
}

}  // namespace common
