#pragma once

#include <cstdint>

#include "NUVA_o/Axis.h"
#include "NUVA_o/DynamicCalculation.h"
#include "NUVA_o/Tuple.h"
#include "NUVA_o/OptionalCubeViewClause.h"
#include "common/ViewpointCommand.h"
#include "support/RefCountImpl.h"
#include "support/TOVAString.h"

namespace common {

class ViewpointCommon;

// Moves an axis hierarchy to a position on an axis of the view. Undo puts back exactly what the
// move changed: the hierarchy's old place, or no place at all when it came from no axis, and the
// hierarchy of the same dimension that the move pushed off the axes, if any.
class MoveAxisHierarchyCommand : public ViewpointCommand {
 public:
  // Axis indices are indices in the view's axes list; `from` is taken from the view as it is now.
  MoveAxisHierarchyCommand(ViewpointCommon* view, const TOVAString& uniqueName, uint32_t toAxis,
                           uint32_t toPosition);
  TOVAString getDescription() const override;

  // No axis held the hierarchy before the move.
  bool cameFromNoAxis() const { return m_bFromNoAxis; }
  // The hierarchy that the move pushed off the axes; empty when none.
  const TOVAString& getPushedOut() const { return m_PushedOut; }

 protected:
  TOVAString execute_message() const override;
  TOVAString undo_message() const override;
  void do_execute() override;
  void do_undo() override;

 private:
  void note_origin();
  NUVA_o::Axis* axis_at(uint32_t index) const;

  TOVAString m_UniqueName;
  uint32_t m_nFromAxis = 0;
  uint32_t m_nToAxis;
  uint32_t m_nFromPosition = 0;
  uint32_t m_nToPosition;
  bool m_bFromNoAxis = false;
  TOVAString m_PushedOut;
  uint32_t m_nPushedOutAxis = 0;
  uint32_t m_nPushedOutPosition = 0;
};

// Swaps two axis hierarchies (given by unique name); undo swaps them back.
class SwapAxisHierarchiesCommand : public ViewpointCommand {
 public:
  SwapAxisHierarchiesCommand(ViewpointCommon* view, const TOVAString& first,
                             const TOVAString& second);
  TOVAString getDescription() const override;

 protected:
  TOVAString execute_message() const override;
  TOVAString undo_message() const override;
  void do_execute() override;
  void do_undo() override;

 private:
  TOVAString m_First;
  TOVAString m_Second;
};

// Swaps the contents of two axes; undo swaps them back. Holds references to both axes and
// refuses (UnsupportedOperationException COMMON_E_FOREIGN_AXIS) when either no longer belongs to
// the view.
class SwapAxesCommand : public ViewpointCommand {
 public:
  SwapAxesCommand(ViewpointCommon* view, NUVA_o::Axis* first, NUVA_o::Axis* second);
  TOVAString getDescription() const override;

 protected:
  TOVAString execute_message() const override;
  TOVAString undo_message() const override;
  void do_execute() override;
  void do_undo() override;

 private:
  void swap();

  auto_unuse<NUVA_o::Axis> m_pFirst;
  auto_unuse<NUVA_o::Axis> m_pSecond;
};

class OptionalCubeViewClauseCommon;

// Adds or removes one sort, filter or exception specification of the view; undo does the
// opposite. Holds a reference to the clause. `Clause` is NUVA_o::Sort, NUVA_o::Filter or
// NUVA_o::ExceptionSpecification.
template <class Clause>
class ClauseCommand : public ViewpointCommand {
 public:
  ClauseCommand(const char* traceName, ViewpointCommon* view, const Clause* clause, bool add);
  TOVAString getDescription() const override;
  Clause* getClause() const { return m_pClause.get(); }

 protected:
  TOVAString execute_message() const override;
  TOVAString undo_message() const override;
  void do_execute() override;
  void do_undo() override;

 private:
  void apply(bool add);

  auto_unuse<Clause> m_pClause;
  bool m_bAdd;
};

// The six commands by their names.
class AddSortCommand : public ClauseCommand<NUVA_o::Sort> {
 public:
  AddSortCommand(ViewpointCommon* view, const NUVA_o::Sort* sort)
      : ClauseCommand("AddSortCommand", view, sort, true) {}
};
class RemoveSortCommand : public ClauseCommand<NUVA_o::Sort> {
 public:
  RemoveSortCommand(ViewpointCommon* view, const NUVA_o::Sort* sort)
      : ClauseCommand("RemoveSortCommand", view, sort, false) {}
};
class AddFilterCommand : public ClauseCommand<NUVA_o::Filter> {
 public:
  AddFilterCommand(ViewpointCommon* view, const NUVA_o::Filter* filter)
      : ClauseCommand("AddFilterCommand", view, filter, true) {}
};
class RemoveFilterCommand : public ClauseCommand<NUVA_o::Filter> {
 public:
  RemoveFilterCommand(ViewpointCommon* view, const NUVA_o::Filter* filter)
      : ClauseCommand("RemoveFilterCommand", view, filter, false) {}
};
class AddExceptionSpecificationCommand : public ClauseCommand<NUVA_o::ExceptionSpecification> {
 public:
  AddExceptionSpecificationCommand(ViewpointCommon* view,
                                   const NUVA_o::ExceptionSpecification* specification)
      : ClauseCommand("AddExceptionSpecificationCommand", view, specification, true) {}
};
class RemoveExceptionSpecificationCommand
    : public ClauseCommand<NUVA_o::ExceptionSpecification> {
 public:
  RemoveExceptionSpecificationCommand(ViewpointCommon* view,
                                      const NUVA_o::ExceptionSpecification* specification)
      : ClauseCommand("RemoveExceptionSpecificationCommand", view, specification, false) {}
};

// Sets the disabled flag of a clause; undo sets the opposite. Edits the clause itself (no
// view), which tells its listeners; holds a reference to it.
class ChangeClauseDisabledCommand : public ViewpointCommand {
 public:
  ChangeClauseDisabledCommand(OptionalCubeViewClauseCommon* clause, bool disabled);
  TOVAString getDescription() const override;

 protected:
  TOVAString execute_message() const override;
  TOVAString undo_message() const override;
  void do_execute() override;
  void do_undo() override;

 private:
  auto_unuse<OptionalCubeViewClauseCommon> m_pClause;
  bool m_bDisabled;
};

class SubTotalCommon;

// Sets the disabled flag of a subtotal; undo sets the opposite. Edits the subtotal itself (no
// view), which tells its axis; holds a reference to it.
class ChangeSubTotalDisabled : public ViewpointCommand {
 public:
  ChangeSubTotalDisabled(SubTotalCommon* subTotal, bool disabled);
  TOVAString getDescription() const override;

 protected:
  TOVAString execute_message() const override;
  TOVAString undo_message() const override;
  void do_execute() override;
  void do_undo() override;

 private:
  auto_unuse<SubTotalCommon> m_pSubTotal;
  bool m_bDisabled;
};

// Adds a subtotal to an axis of the view, or removes one; undo does the opposite and puts a
// removed subtotal back at its place. The same subtotal object comes back on redo, so tuples
// naming it stay valid. Refuses (UnsupportedOperationException COMMON_E_FOREIGN_AXIS) when the axis no
// longer belongs to the view.
class SubTotalCommand : public ViewpointCommand {
 public:
  // Adds a new subtotal of these values on its first execution.
  SubTotalCommand(ViewpointCommon* view, NUVA_o::Axis* axis,
                  NUVA_o::SubTotal::SubTotalOperation operation,
                  NUVA_o::SubTotal::SubTotalType type,
                  NUVA_o::SubTotal::SubTotalPosition position);
  // Removes `subTotal` from the axis.
  SubTotalCommand(ViewpointCommon* view, NUVA_o::Axis* axis, NUVA_o::SubTotal* subTotal);
  TOVAString getDescription() const override;
  // Null before the first execution of an add.
  NUVA_o::SubTotal* getSubTotal() const { return m_pSubTotal.get(); }

 protected:
  TOVAString execute_message() const override;
  TOVAString undo_message() const override;
  void do_execute() override;
  void do_undo() override;

 private:
  void apply(bool add);

  auto_unuse<NUVA_o::Axis> m_pAxis;
  auto_unuse<NUVA_o::SubTotal> m_pSubTotal;
  NUVA_o::SubTotal::SubTotalOperation m_Operation{};
  NUVA_o::SubTotal::SubTotalType m_Type{};
  NUVA_o::SubTotal::SubTotalPosition m_Position{};
  bool m_bAdd;
  uint32_t m_nIndex = 0;
};

class DynamicCalculationCommon;

// Sets the disabled flag of a dynamic calculation; undo sets the opposite. Edits the
// calculation itself (no view), which tells its axis; holds a reference to it.
class ChangeDynamicCalculationDisabled : public ViewpointCommand {
 public:
  ChangeDynamicCalculationDisabled(DynamicCalculationCommon* calculation, bool disabled);
  TOVAString getDescription() const override;

 protected:
  TOVAString execute_message() const override;
  TOVAString undo_message() const override;
  void do_execute() override;
  void do_undo() override;

 private:
  auto_unuse<DynamicCalculationCommon> m_pCalculation;
  bool m_bDisabled;
};

// Adds a dynamic calculation to an axis of the view, or removes one; undo does the opposite
// and puts a removed calculation back at its place. The same calculation object comes back on
// redo. Refuses (UnsupportedOperationException COMMON_E_FOREIGN_AXIS) when the axis no longer belongs to
// the view.
class DynamicCalculationCommand : public ViewpointCommand {
 public:
  // Adds a new calculation over a copy of `tuple` on its first execution.
  DynamicCalculationCommand(ViewpointCommon* view, NUVA_o::Axis* axis, const NUVA_o::Tuple* tuple,
                            NUVA_o::DynamicCalculationType type);
  // Removes `calculation` from the axis.
  DynamicCalculationCommand(ViewpointCommon* view, NUVA_o::Axis* axis,
                            NUVA_o::DynamicCalculation* calculation);
  TOVAString getDescription() const override;
  // Null before the first execution of an add.
  NUVA_o::DynamicCalculation* getCalculation() const { return m_pCalculation.get(); }

 protected:
  TOVAString execute_message() const override;
  TOVAString undo_message() const override;
  void do_execute() override;
  void do_undo() override;

 private:
  void apply(bool add);

  auto_unuse<NUVA_o::Axis> m_pAxis;
  auto_unuse<NUVA_o::Tuple> m_pTuple;
  auto_unuse<NUVA_o::DynamicCalculation> m_pCalculation;
  NUVA_o::DynamicCalculationType m_Type{};
  bool m_bAdd;
  uint32_t m_nIndex = 0;
};

}  // namespace common
