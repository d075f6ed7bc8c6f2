#pragma once

#include <cstdint>
#include <limits>

// Every code the library raises or logs, with the inserts its message text takes. The message
// catalogue gives each its English text; tests and callers compare codes by these names.
namespace support {

// The inserts line up in one column so that the list reads as a table.
// clang-format off
enum ErrorCode : uint32_t {
  // Log lines and the exception family's default codes.
  COMMON_LOG_ERROR = 0xC2011000,                   // %1 text
  COMMON_LOG_LINE = 0xC2011F00,                    // %1 text
  COMMON_E_INVALID_ARGUMENT = 0xC2011001,          // [%1 low, %2 high] or "NULL"
  COMMON_E_INVALID_POINTER = 0xC2011002,           // %1 class, %2 operation, %3 what was null
  COMMON_E_INVALID_XML = 0xC2011003,
  COMMON_E_MALFORMED_XML = 0xC2011004,
  COMMON_E_UNKNOWN_NAME = 0xC2011005,              // %1 expression, %2 name
  COMMON_E_INVALID_CAST = 0xC2011006,
  COMMON_E_UNSUPPORTED = 0xC2011007,               // %1 operation
  COMMON_E_NOT_BOUND = 0xC2011008,                 // %1 operation
  COMMON_E_QUERY_TOO_LARGE = 0xC2011009,
  COMMON_E_RUN_TIME = 0xC201100A,

  // Cube view documents and their elements.
  COMMON_E_SORT_NEEDS_TUPLE = 0xC2011013,
  COMMON_E_FILTER_NEEDS_TUPLE = 0xC2011014,
  COMMON_E_XML_ELEMENT = 0xC2011016,               // %1 attribute or child, %2 problem (handle), %3 element
  COMMON_M_XML_MISSING = 0xC2011017,               // handle: "is missing or empty"
  COMMON_M_XML_REPEATED = 0xC2011018,              // handle: "occurs more than once"
  COMMON_E_RESTORE_WITHOUT_CUBE = 0xC2011019,
  COMMON_E_RESTORE_UNKNOWN_HIERARCHY = 0xC201101A, // %1 element, %2 hierarchy
  COMMON_R_SORT_DROPPED = 0xC201101E,              // repair detail: %1 why
  COMMON_R_FILTER_DROPPED = 0xC201101F,            // repair detail: %1 why
  COMMON_E_NOT_A_CUBE_VIEW = 0xC2011020,           // %1 why; the view is left unbound
  COMMON_E_NO_VIEW_AXIS = 0xC2011027,
  COMMON_E_TOO_MANY_VIEW_AXES = 0xC2011028,
  COMMON_E_NO_SLICE_AXIS = 0xC2011029,
  COMMON_E_EMPTY_VIEW_AXIS = 0xC201102A,
  COMMON_R_EXCEPTION_SPECIFICATION_DROPPED = 0xC201102B,  // repair detail: %1 why
  COMMON_E_FOREIGN_AXIS = 0xC201102C,
  COMMON_E_UNKNOWN_HIERARCHY = 0xC2011035,         // %1 hierarchy
  COMMON_E_INVALID_NUMBER = 0xC2011036,            // %1 number or operand, %2 expression
  COMMON_E_OPERANDS_NOT_NUMBERS = 0xC2011037,
  COMMON_E_HIERARCHY_NOT_PLACED = 0xC2011045,      // %1 hierarchy
  COMMON_E_DIFFERENT_DIMENSIONS = 0xC2011046,      // %1 dimension
  COMMON_E_AGGREGATE_UNSUPPORTED = 0xC2011047,     // %1 expression
  COMMON_E_EXPRESSION_ELEMENT = 0xC2011048,        // %1 what, %2 value
  COMMON_E_FOREIGN_MEMBER_SET = 0xC201104B,        // %1 set's hierarchy, %2 axis hierarchy
  COMMON_R_AXIS_HIERARCHY_DROPPED = 0xC201105A,    // repair detail
  COMMON_R_DYNAMIC_CALCULATION_DROPPED = 0xC201105B,  // repair detail
  COMMON_R_ACTIVE_SLICE_RESET = 0xC201105D,        // repair detail: %1 hierarchy
  COMMON_R_HIERARCHY_ADDED = 0xC201105E,           // repair detail: %1 hierarchy
  COMMON_R_LAYOUT_RESET = 0xC201105F,              // repair detail

  // Saving and loading a whole cube view.
  COMMON_E_NO_AXIS_ELEMENT = 0xC2011021,
  COMMON_E_CUBE_VIEW_LAYOUT = 0xC2011022,          // %1 view axes, %2 slice axes
  COMMON_E_RESTORE_OTHER_CUBE = 0xC2011023,

  // Tuples, sorts, filters and exception specifications.
  COMMON_E_RESTORE_UNKNOWN_MEMBER = 0xC201101C,    // %1 member
  COMMON_M_XML_OUT_OF_RANGE = 0xC201101B,          // handle: "is out of range"
  COMMON_M_XML_NOT_A_GUID = 0xC201101D,            // handle: "is not a GUID"
  COMMON_E_NATIVE_EXPRESSION = 0xC2011044,
  COMMON_E_UNKNOWN_DIRECTION = 0xC2011049,         // %1 direction

  // Subtotals and dynamic calculations.
  COMMON_E_TOO_MANY_SUBTOTALS = 0xC2011070,        // %1 limit
  COMMON_E_UNKNOWN_SUBTOTAL_VALUE = 0xC2011071,    // %1 operation, type or position, %2 value
  COMMON_E_UNKNOWN_CALCULATION_TYPE = 0xC2011072,  // %1 type
  COMMON_R_SUBTOTAL_DROPPED = 0xC2011073,          // repair detail

  // Expressions.
  COMMON_E_BAD_EXPRESSION = 0xC201110E,
  COMMON_E_SYNTAX = 0xC2011113,                    // %1 token, %2 text
  COMMON_E_CUBE_CHANGED = 0xC2011117,              // %1 what changed
  COMMON_E_PARSER_STACK = 0x02017066,

  // TOVASQL trees and statements.
  COMMON_E_TOVASQL_WRONG_KIND = 0xC201103D,        // %1 operation, %2 node type
  COMMON_E_TOVASQL_NOT_A_FIELD = 0xC201103F,       // %1 item
  COMMON_E_TOVASQL_NOT_A_HIERARCHY = 0xC2011040,   // %1 item
  COMMON_E_TOVASQL_UNTERMINATED_TEXT = 0xC2011118, // %1 statement, %2 text read so far
  COMMON_E_TOVASQL_BUILD_SEQUENCE = 0xC2011119,    // %1 building step, %2 queued items it needs

  // Flat requests: the expression builder, the flattener and statement plans.
  COMMON_E_TOVASQL_DUPLICATE_COLUMN = 0xC2011130,  // %1 field, %2 column index
  COMMON_E_TOVASQL_UNKNOWN_COLUMN = 0xC2011131,    // %1 column index
  COMMON_E_FLAT_MALFORMED_TREE = 0xC2011133,       // %1 what is wrong
  COMMON_E_FLAT_UNKNOWN_FIELD = 0xC2011134,        // %1 name
  COMMON_E_FLAT_FIELD_NOT_IN_FROM = 0xC2011135,    // %1 field, %2 its hierarchy
  COMMON_E_FLAT_WRONG_TYPE = 0xC2011136,           // %1 field, %2 value
  COMMON_E_FLAT_GROUPING_SET_FIELD = 0xC2011138,   // %1 field of a grouping set that no column selects
  COMMON_E_XMLQ_NOT_WELL_FORMED = 0xC2011139,      // %1 parser's reason
  COMMON_E_XMLQ_MISSING_ELEMENT = 0xC201113A,      // %1 element, %2 where it is required
  COMMON_E_XMLQ_UNEXPECTED_ELEMENT = 0xC201113B,   // %1 element, %2 where it stands
  COMMON_E_XMLQ_BAD_VALUE = 0xC201113C,            // %1 attribute, %2 value
  COMMON_E_XMLQ_CONSTANT_COUNT = 0xC201113D,       // %1 operator, %2 constants found
  COMMON_E_XMLQ_CONSTANT_ATTRIBUTE = 0xC201113E,   // %1 attribute name
  COMMON_E_XMLQ_UNKNOWN_KEY = 0xC201113F,          // %1 key
  COMMON_E_XMLQ_UNSUPPORTED_OPERATOR = 0xC201115A, // %1 operator
  COMMON_E_XMLQ_LIMIT = 0xC201115B,                // %1 what, %2 limit
  COMMON_E_XMLQ_INCOMPLETE = 0xC201115C,           // %1 why (an exception)
  COMMON_E_XMLQ_HIERARCHY_MAP = 0xC201115D,        // %1 why
  COMMON_E_XMLQ_GROUPING_SET_MEASURE = 0xC201115E, // %1 grouping set
  COMMON_E_XMLQ_SECOND_HIERARCHY = 0xC2019003,     // %1 hierarchy, %2 hierarchy of its dimension already used

  // Providers and the platform.
  COMMON_E_NO_PROVIDER_OBJECT = 0xC2011200,
  COMMON_E_UNKNOWN_PROVIDER = 0xC201B241,          // %1 provider name
  COMMON_E_NO_SESSION_MANAGER = 0xC201B249,

  // Evaluation of expressions (common::CompiledExpression).
  COMMON_E_EVAL_UNSUPPORTED = 0xC2011140,          // %1 function or form, %2 what is evaluated
  COMMON_E_EVAL_RECURSION = 0xC2011141,            // %1 calculated member
  COMMON_E_EVAL_UNKNOWN_NAME = 0xC2011142,         // %1 name, %2 what is evaluated
  COMMON_E_EVAL_INVALID = 0xC2011143,              // %1 problem, %2 what is evaluated

  // Parameters and their values.
  COMMON_E_PARAMETER_MEMBER_UNRESOLVED = 0xC201102D,  // %1 member, %2 parameter
  COMMON_E_PARAMETER_FOREIGN_MEMBER = 0xC201102E,     // %1 member, %2 parameter
  COMMON_E_PARAMETER_FOREIGN_SET = 0xC201102F,        // %1 set's hierarchy, %2 parameter
  COMMON_E_PARAMETER_NOT_MEMBER = 0xC2011030,         // %1 parameter, %2 type
  COMMON_E_PARAMETER_NOT_TEXT = 0xC2011031,           // %1 parameter, %2 type
  COMMON_E_PARAMETER_NOT_NUMBER = 0xC2011034,         // %1 parameter, %2 type
  COMMON_E_PARAMETER_NOT_RANGE = 0xC2011039,          // %1 parameter, %2 type
  COMMON_E_PARAMETER_BOOL_PART = 0xC201103A,          // %1 parameter
  COMMON_E_PARAMETER_INT_PART = 0xC201103B,           // %1 parameter
  COMMON_E_PARAMETER_SINGLE_VALUE = 0xC201103C,       // %1 parameter
  COMMON_E_PARAMETER_NOT_HIERARCHY = 0xC2011043,      // %1 parameter
  COMMON_E_PARAMETER_DEPENDENCY_EMPTY = 0xC2015034,   // %1 parameter, %2 dependency
  COMMON_E_PARAMETER_NO_TRANSACTION = 0xC2011150,     // %1 parameter
  COMMON_E_UNKNOWN_PARAMETER = 0xC2011151,            // %1 name
  COMMON_E_PARAMETER_UNKNOWN_HIERARCHY = 0xC2011152,  // %1 parameter, %2 hierarchy
  COMMON_E_PARAMETER_WITHOUT_VALUE = 0xC2011153,      // %1 parameter
  COMMON_E_PARAMETER_TRANSACTION_OPEN = 0xC2011154,   // %1 parameter
  COMMON_R_PARAMETER_NOT_RESTORED = 0xC2011155,       // repair detail: %1 why

  // Splitting OR conditions and binding rows into consumer buffers.
  COMMON_E_OR_TOO_MANY_QUERIES = 0xC2011170,       // %1 limit
  COMMON_E_BINDING_OUTSIDE_BUFFER = 0xC2011171,    // %1 binding, %2 part, %3 buffer size
  COMMON_E_BINDING_COLUMN = 0xC2011172,            // %1 binding, %2 column, %3 column count
  COMMON_E_BINDING_TYPE = 0xC2011173,              // %1 binding, %2 type

  // The command history.
  COMMON_W_NOTHING_TO_REVERT = 0x42018008,         // %1 why (handle)

  // The platform's unspecified failure, the default code of a COM exception.
  COM_E_FAIL = 0x80004005,
};
// clang-format on

// "Not found" for positions and indexes.
inline constexpr uint32_t NO_POSITION = std::numeric_limits<uint32_t>::max();

}  // namespace support
