#include "MessageCatalogue.h"

#include "support/ErrorCodes.h"

namespace support_dll {

// English texts of the messages the product raises or logs. %1, %2, ... stand for the inserts
// in order; an insert that a text does not use is appended by the renderer.
const std::vector<CatalogueEntry>& builtinCatalogue() {
  using namespace support;
  static const std::vector<CatalogueEntry> entries = {
      {COMMON_LOG_ERROR, "%1"},
      {COMMON_LOG_LINE, "%1"},
      {COMMON_E_INVALID_ARGUMENT, "Invalid argument."},
      {COMMON_E_UNSUPPORTED, "The operation is not supported: %1"},
      {COMMON_E_XML_ELEMENT, "Invalid XML: '%1' %2 (element '%3')."},
      {COMMON_M_XML_MISSING, "is missing or empty"},
      {COMMON_M_XML_REPEATED, "occurs more than once"},
      {COMMON_E_INVALID_POINTER, "Invalid pointer: %1::%2 found '%3' null."},
      {COMMON_E_NOT_BOUND, "The cube view is not bound to a cube; '%1' cannot be done."},
      {COMMON_E_SORT_NEEDS_TUPLE, "A sort needs a tuple."},
      {COMMON_E_FILTER_NEEDS_TUPLE, "A filter needs a tuple."},
      {COMMON_E_RESTORE_WITHOUT_CUBE, "An element of a cube view cannot be restored without a cube."},
      {COMMON_E_RESTORE_UNKNOWN_HIERARCHY,
       "Element '%1' names hierarchy '%2', which the cube does not have."},
      {COMMON_E_NOT_A_CUBE_VIEW,
       "The text cannot be loaded as a cube view, which is left unbound: %1"},
      {COMMON_E_NO_VIEW_AXIS, "A cube view needs at least one view axis."},
      {COMMON_E_TOO_MANY_VIEW_AXES, "A cube view has at most two view axes."},
      {COMMON_E_NO_SLICE_AXIS, "A cube view needs at least one slice axis."},
      {COMMON_E_FOREIGN_AXIS, "The axis does not belong to this cube view."},
      {COMMON_E_HIERARCHY_NOT_PLACED, "Hierarchy '%1' is on no axis of the cube view."},
      {COMMON_E_UNKNOWN_HIERARCHY, "The cube has no hierarchy '%1'."},
      {COMMON_E_QUERY_TOO_LARGE, "The query would produce more cells than the cube allows."},
      {COMMON_E_EMPTY_VIEW_AXIS,
       "A view axis holds no hierarchy: the cube view cannot be queried."},
      {COMMON_E_DIFFERENT_DIMENSIONS,
       "Hierarchies of different dimensions cannot be swapped (dimension '%1'): the cube "
       "allows one hierarchy per dimension in a view."},
      {COMMON_E_UNKNOWN_NAME, "Unknown name '%2' in the expression '%1'."},
      {COMMON_E_AGGREGATE_UNSUPPORTED, "The cube does not support AGGREGATE in expressions: '%1'."},
      {COMMON_E_EXPRESSION_ELEMENT, "Invalid expression element: %1 '%2'."},
      {COMMON_E_BAD_EXPRESSION, "The expression is missing or cannot be used here."},
      {COMMON_R_SORT_DROPPED,
       "A sort specification could not be restored and was removed from the view: %1"},
      {COMMON_R_FILTER_DROPPED,
       "A filter specification could not be restored and was removed from the view: %1"},
      {COMMON_R_EXCEPTION_SPECIFICATION_DROPPED,
       "An exception specification could not be restored and was removed from the view: %1"},
      {COMMON_E_FOREIGN_MEMBER_SET,
       "The member set belongs to hierarchy '%1', not to hierarchy '%2'."},
      {COMMON_R_AXIS_HIERARCHY_DROPPED,
       "An axis hierarchy could not be restored and was removed from its axis."},
      {COMMON_R_DYNAMIC_CALCULATION_DROPPED,
       "A dynamic calculation could not be restored and was removed from its axis."},
      {COMMON_R_ACTIVE_SLICE_RESET,
       "The active slice of hierarchy '%1' no longer exists; the default member is used "
       "instead."},
      {COMMON_R_HIERARCHY_ADDED,
       "Hierarchy '%1' was on no axis of the saved view; it was added to the first slice "
       "axis."},
      {COMMON_R_LAYOUT_RESET,
       "The axes of the saved view could not be restored; the view was reset to its default "
       "layout."},
      {COMMON_E_INVALID_NUMBER, "Invalid number or signed operand '%1' in '%2'."},
      {COMMON_E_OPERANDS_NOT_NUMBERS, "The operands of this operator must be numbers."},
      {COMMON_E_NO_PROVIDER_OBJECT, "A required object is missing: the provider returned none."},
      {COMMON_E_SYNTAX, "Syntax error at '%1' in '%2'."},
      {COMMON_E_CUBE_CHANGED, "The structure of the cube changed: %1"},
      {COMMON_E_PARSER_STACK, "The expression is too deeply nested."},
      {COMMON_W_NOTHING_TO_REVERT, "There is nothing to revert: %1."},
      {COMMON_E_NO_SESSION_MANAGER,
       "The session manager could not be created: no session provider is registered."},
      {COMMON_E_UNKNOWN_PROVIDER, "Unknown provider '%1'."},
      {COMMON_E_INVALID_CAST, "%1::%2 cannot convert %3 '%5' to %4."},
      {COMMON_E_TOVASQL_WRONG_KIND, "%1 cannot be asked of a node of type %2."},
      {COMMON_E_TOVASQL_NOT_A_FIELD, "'%1' is no field: only fields may be selected."},
      {COMMON_E_TOVASQL_NOT_A_HIERARCHY, "'%1' is no hierarchy: only hierarchies may follow FROM."},
      {COMMON_E_TOVASQL_UNTERMINATED_TEXT, "Unterminated quoted text '%2' in '%1'."},
      {COMMON_E_TOVASQL_BUILD_SEQUENCE, "The statement cannot be built: %1 needs %2 queued items."},
      {COMMON_E_RESTORE_UNKNOWN_MEMBER, "Member '%1' does not exist in the cube."},
      {COMMON_M_XML_OUT_OF_RANGE, "is out of range"},
      {COMMON_M_XML_NOT_A_GUID, "is not a GUID"},
      {COMMON_E_NATIVE_EXPRESSION, "A native expression cannot be used as a filter or highlighting condition."},
      {COMMON_E_UNKNOWN_DIRECTION, "Unknown sort direction %1."},
      {COMMON_E_NO_AXIS_ELEMENT, "The cube view document has no 'Axis' element."},
      {COMMON_E_CUBE_VIEW_LAYOUT, "The saved view has %1 view axes and %2 slice axes: a cube view needs one or two view axes, followed by at least one slice axis."},
      {COMMON_E_RESTORE_OTHER_CUBE, "A cube view is restored against the cube it is bound to."},
      {COMMON_E_RUN_TIME, "Run-time failure: %1"},
      {COMMON_E_TOO_MANY_SUBTOTALS, "An axis holds at most %1 subtotals."},
      {COMMON_E_UNKNOWN_SUBTOTAL_VALUE, "Unknown subtotal %1 %2."},
      {COMMON_E_UNKNOWN_CALCULATION_TYPE, "Unknown dynamic calculation type %1."},
      {COMMON_R_SUBTOTAL_DROPPED, "A subtotal could not be restored and was removed from its axis."},
      {COMMON_E_EVAL_UNSUPPORTED, "The evaluator does not evaluate %1 (in '%2')."},
      {COMMON_E_EVAL_RECURSION, "The calculated member '%1' refers to itself."},
      {COMMON_E_EVAL_UNKNOWN_NAME, "Unknown name '%1' in '%2'."},
      {COMMON_E_EVAL_INVALID, "Cannot evaluate '%2': %1."},
  };
  return entries;
}

}  // namespace support_dll
