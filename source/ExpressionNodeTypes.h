#pragma once

// What each expression node type is: its keyword, how it prints, its role in the questions a
// tree answers, and how tightly it binds as an operator. Printing, saving, loading and the
// classification read this table; a new node type is one new row.

#include <cstdint>

#include "NUVA_o/Expression.h"

namespace common::node_types {

using Type = NUVA_o::Expression::ExpressionType;
using enum NUVA_o::Expression::ExpressionType;

// How a node prints. Leaves print no children, whatever they hold.
enum Shape : uint8_t {
  SH_KEYWORD,         // leaf: " keyword "
  SH_QUOTED_NAME,     // leaf: the string value as a quoted name
  SH_NUMBER,          // leaf: the VT_R8 value in plain decimal notation
  SH_BOOLEAN,         // leaf: "True" or "False"
  SH_PLACEHOLDER,     // leaf: "<<" string value ">>"
  SH_SILENT,          // leaf: an absent optional word, prints nothing
  SH_EMPTY,           // nothing
  SH_NATIVE,          // " Native ( " quoted text " ) "
  SH_FUNCTION,        // keyword " (" operands separated by "," affix ") "
  SH_NAME_FUNCTION,   // keyword " ( " operand " ) "
  SH_BINARY,          // operand keyword operand
  SH_SIGN,            // affix operand
  SH_IS_NULL,         // " " operand " Is Null "
  SH_CALL,            // " " operand "(" operand ") "
  SH_WRAPPER,         // " " operand " "
  SH_GROUP,           // " ( " operand " ) ", nothing without an operand
  SH_PROPERTY,        // " Property( " operand " )"
  SH_RANGE,           // operand ":" operand
};

constexpr bool is_leaf(Shape shape) { return shape <= SH_SILENT; }

// How many children a shape prints; kAllOperands for a function.
constexpr size_t kAllOperands = static_cast<size_t>(-1);
constexpr size_t printed_operands(Shape shape) {
  switch (shape) {
    case SH_FUNCTION: return kAllOperands;
    case SH_BINARY: case SH_CALL: case SH_RANGE: return 2;
    case SH_NAME_FUNCTION: case SH_SIGN: case SH_IS_NULL: case SH_WRAPPER: case SH_GROUP:
    case SH_PROPERTY: return 1;
    default: return 0;
  }
}

enum Flags : uint8_t {
  NF_RANKING = 1,        // a root of this type is a ranking expression
  NF_AGGREGATE = 2,      // a child of this type makes its parent an aggregate expression
  NF_STRING_VALUED = 4,  // XML keeps the string value in "ExpressionText"
};

// How tightly an operator binds, as the grammar reads it (higher binds tighter); LV_NONE for
// everything that is not an operator or that prints its own parentheses (NOT, MOD, IS).
enum Level : uint8_t {
  LV_NONE,
  LV_IMP,
  LV_EQV,
  LV_OR,
  LV_AND,
  LV_COMPARE,
  LV_ADD,
  LV_MULTIPLY,
  LV_POWER,
  LV_SIGN,
};

// Which operand of a binary operator may be one of the same level without parentheses.
enum Grouping : uint8_t { GR_LEFT, GR_RIGHT, GR_NONE };

struct NodeType {
  Type type;
  const char* keyword;        // null where the type has none
  Shape shape;
  const char* affix = nullptr;  // a function's text before ")", or a sign's text
  uint8_t flags = 0;
  Level level = LV_NONE;
  Grouping grouping = GR_LEFT;
};

inline constexpr NodeType kNodeTypes[] = {
    {ET_BETWEEN, "Between", SH_FUNCTION},
    {ET_OUTSIDE, "Outside", SH_FUNCTION},
    {ET_NATIVE, nullptr, SH_NATIVE, nullptr, NF_STRING_VALUED},
    {ET_CURRENTSET, "CurrentSet", SH_FUNCTION},
    {ET_CORRELATION, "Correlation", SH_FUNCTION},
    {ET_COVARIANCE, "Covariance", SH_FUNCTION},
    {ET_COVARIANCEN, "CovarianceN", SH_FUNCTION},
    {ET_LINREGVARIANCE, "LinRegVariance", SH_FUNCTION},
    {ET_LINREGR2, "LinRegR2", SH_FUNCTION},
    {ET_LINREGSLOPE, "LinRegSlope", SH_FUNCTION},
    {ET_LINREGINTERCEPT, "LinRegIntercept", SH_FUNCTION},
    {ET_LINREGPOINT, "LinRegPoint", SH_FUNCTION},
    {ET_NAMETOSET, "NameToSet", SH_FUNCTION},
    {ET_NONEMPTYCROSSJOIN, "NonEmptyCrossJoin", SH_FUNCTION},
    {ET_MEMBER_CALL, nullptr, SH_CALL},
    {ET_TOGGLEDRILLSTATE_RECURSIVE, "ToggleDrillState", SH_FUNCTION, ", RECURSIVE"},
    {ET_TOGGLEDRILLSTATE, "ToggleDrillState", SH_FUNCTION},
    {ET_PARALLELPERIOD, "ParallelPeriod", SH_FUNCTION},
    {ET_ISNULL_18, nullptr, SH_IS_NULL},
    {ET_MEMBER_ISNULL, nullptr, SH_IS_NULL},
    {ET_LEVEL_ISNULL, nullptr, SH_IS_NULL},
    {ET_LEVEL_IS, "Is", SH_BINARY},
    {ET_SET_IS, "Is", SH_BINARY},
    {ET_MEMBER_IS, "Is", SH_BINARY},
    {ET_IS_24, "Is", SH_BINARY},
    {ET_ADDCALCULATEDMEMBERS, "AddCalculatedMembers", SH_FUNCTION},
    {ET_GENERATE, "Generate", SH_FUNCTION},
    {ET_GENERATE_ALL, "Generate", SH_FUNCTION, ", ALL"},
    {ET_DRILLDOWNLEVELTOP_VALUE, "DrillDownLevelTop", SH_FUNCTION},
    {ET_DRILLDOWNLEVELBOTTOM_VALUE, "DrillDownLevelBottom", SH_FUNCTION},
    {ET_DRILLDOWNLEVELBOTTOM, "DrillDownLevelBottom", SH_FUNCTION},
    {ET_DRILLDOWNLEVELTOP, "DrillDownLevelTop", SH_FUNCTION},
    {ET_ASC, "ASC", SH_KEYWORD},
    {ET_DESC, "DESC", SH_KEYWORD},
    {ET_BASC, "BASC", SH_KEYWORD},
    {ET_BDESC, "BDESC", SH_KEYWORD},
    {ET_ORDER, "Order", SH_FUNCTION},
    {ET_FILTER, "Filter", SH_FUNCTION},
    {ET_TOPSUM, "TopSum", SH_FUNCTION, nullptr, NF_RANKING},
    {ET_BOTTOMSUM, "BottomSum", SH_FUNCTION, nullptr, NF_RANKING},
    {ET_TOPPERCENT, "TopPercent", SH_FUNCTION, nullptr, NF_RANKING},
    {ET_BOTTOMPERCENT, "BottomPercent", SH_FUNCTION, nullptr, NF_RANKING},
    {ET_CURRENT, "Current", SH_FUNCTION},
    {ET_SET, "Set", SH_FUNCTION},
    {ET_EXTRACT, "Extract", SH_FUNCTION},
    {ET_DIMENSIONS, "Dimensions", SH_FUNCTION},
    {ET_DIMENSION, "Dimension", SH_FUNCTION},
    {ET_PERIODSTODATE, "PeriodsToDate", SH_FUNCTION},
    {ET_COALESCEEMPTY, "Coalesceempty", SH_FUNCTION},
    {ET_OPENINGPERIOD, "OpeningPeriod", SH_FUNCTION},
    {ET_CLOSINGPERIOD, "ClosingPeriod", SH_FUNCTION},
    {ET_DEFAULTMEMBER, "DefaultMember", SH_FUNCTION},
    {ET_WRAPPER_52, nullptr, SH_WRAPPER},
    {ET_DRILLDOWNMEMBERTOP_RECURSIVE, "DrillDownMemberTop", SH_FUNCTION, ", RECURSIVE"},
    {ET_DRILLDOWNMEMBERTOP, "DrillDownMemberTop", SH_FUNCTION},
    {ET_DRILLDOWNMEMBERBOTTOM_RECURSIVE, "DrillDownMemberBottom", SH_FUNCTION, ", RECURSIVE"},
    {ET_DRILLDOWNMEMBERBOTTOM, "DrillDownMemberBottom", SH_FUNCTION},
    {ET_UNION_ALL, "Union", SH_FUNCTION, ", ALL"},
    {ET_UNION, "Union", SH_FUNCTION},
    {ET_SUBSET, "SubSet", SH_FUNCTION},
    {ET_LASTPERIODS, "LastPeriods", SH_FUNCTION},
    {ET_HIERARCHIZE_POST, "Hierarchize", SH_FUNCTION, ", POST"},
    {ET_HIERARCHIZE, "Hierarchize", SH_FUNCTION},
    {ET_EXCEPT_ALL, "Except", SH_FUNCTION, ", ALL"},
    {ET_EXCEPT, "Except", SH_FUNCTION},
    {ET_DRILLUPMEMBER, "DrillUpMember", SH_FUNCTION},
    {ET_DRILLDOWNMEMBER, "DrillDownMember", SH_FUNCTION},
    {ET_DRILLDOWNMEMBER_RECURSIVE, "DrillDownMember", SH_FUNCTION, ", RECURSIVE"},
    {ET_DRILLDOWNLEVEL, "DrillDownLevel", SH_FUNCTION},
    {ET_DRILLDOWNLEVEL_INDEX, "DrillDownLevel", SH_FUNCTION},
    {ET_DRILLUPLEVEL, "DrillUpLevel", SH_FUNCTION},
    {ET_BOTTOMCOUNT, "BottomCount", SH_FUNCTION, nullptr, NF_RANKING},
    {ET_TOPCOUNT, "TopCount", SH_FUNCTION, nullptr, NF_RANKING},
    {ET_ISEMPTY, "IsEmpty", SH_FUNCTION},
    {ET_ISGENERATION, "IsGeneration", SH_FUNCTION},
    {ET_ISLEAF, "IsLeaf", SH_FUNCTION},
    {ET_ISSIBLING, "IsSibling", SH_FUNCTION},
    {ET_ISANCESTOR, "IsAncestor", SH_FUNCTION},
    {ET_LASTSIBLING, "LastSibling", SH_FUNCTION},
    {ET_FIRSTSIBLING, "FirstSibling", SH_FUNCTION},
    {ET_LASTCHILD, "LastChild", SH_FUNCTION},
    {ET_FIRSTCHILD, "FirstChild", SH_FUNCTION},
    {ET_LAG, "Lag", SH_FUNCTION},
    {ET_LEAD, "Lead", SH_FUNCTION},
    {ET_ITEM, "Item", SH_FUNCTION},
    {ET_SIBLINGS, "Siblings", SH_FUNCTION},
    {ET_VALUE, nullptr, SH_WRAPPER},
    {ET_TAIL, "Tail", SH_FUNCTION},
    {ET_DISTINCT, "Distinct", SH_FUNCTION},
    {ET_CROSSJOIN, "Crossjoin", SH_FUNCTION},
    {ET_LEVEL, "Level", SH_FUNCTION},
    {ET_STRIPCALCULATEDMEMBERS, "StripCalculatedMembers", SH_FUNCTION},
    {ET_INTERSECT, "Intersect", SH_FUNCTION},
    {ET_INTERSECT_ALL, "Intersect", SH_FUNCTION, ", ALL"},
    {ET_ROLLUP_PLUS, "+", SH_KEYWORD},
    {ET_ROLLUP_MINUS, "-", SH_KEYWORD},
    {ET_ROLLUP_DIVIDE, "/", SH_KEYWORD},
    {ET_ROLLUP_MULTIPLY, "*", SH_KEYWORD},
    {ET_ROLLUP_PERCENT, "%", SH_KEYWORD},
    {ET_ROLLUPCHILDREN, "RollupChildren", SH_FUNCTION},
    {ET_RANK, "Rank", SH_FUNCTION},
    {ET_VAR, "Var", SH_FUNCTION},
    {ET_VARP, "VarP", SH_FUNCTION},
    {ET_STDEV, "Stdev", SH_FUNCTION},
    {ET_STDEVP, "StdevP", SH_FUNCTION},
    {ET_MEDIAN, "Median", SH_FUNCTION},
    {ET_AVG, "Avg", SH_FUNCTION},
    {ET_COUNT_EXCLUDEEMPTY, "Count", SH_FUNCTION, ", ExcludeEmpty"},
    {ET_COUNT_INCLUDEEMPTY, "Count", SH_FUNCTION, ", IncludeEmpty"},
    {ET_COUNT_TUPLE, "Count", SH_FUNCTION},
    {ET_COUNT_DIMENSION, "Count", SH_FUNCTION},
    {ET_DISTINCTCOUNT, "DistinctCount", SH_FUNCTION},
    {ET_IIF, "IIf", SH_FUNCTION},
    {ET_ORDINAL, "Ordinal", SH_FUNCTION},
    {ET_DESCENDANTS, "Descendants", SH_FUNCTION},
    {ET_SELF, "SELF", SH_KEYWORD},
    {ET_AFTER, "AFTER", SH_KEYWORD},
    {ET_BEFORE, "BEFORE", SH_KEYWORD},
    {ET_LEAVES, "LEAVES", SH_KEYWORD},
    {ET_BEFORE_AND_AFTER, "BEFORE_AND_AFTER", SH_KEYWORD},
    {ET_SELF_AND_AFTER, "SELF_AND_AFTER", SH_KEYWORD},
    {ET_SELF_AND_BEFORE, "SELF_AND_BEFORE", SH_KEYWORD},
    {ET_SELF_BEFORE_AFTER, "SELF_BEFORE_AFTER", SH_KEYWORD},
    {ET_LEVEL_NAME, nullptr, SH_QUOTED_NAME, nullptr, NF_STRING_VALUED},
    {ET_QUOTED_NAME_124, nullptr, SH_QUOTED_NAME, nullptr, NF_STRING_VALUED},
    {ET_ANCESTOR, "Ancestor", SH_FUNCTION},
    {ET_COUSIN, "Cousin", SH_FUNCTION},
    {ET_NEXTMEMBER, "NextMember", SH_FUNCTION},
    {ET_PREVMEMBER, "PrevMember", SH_FUNCTION},
    {ET_ALLMEMBERS, "AllMembers", SH_FUNCTION},
    {ET_ANCESTORS, "Ancestors", SH_FUNCTION},
    {ET_ASCENDANTS, "Ascendants", SH_FUNCTION},  // reads back as the keyword it came from
    {ET_AXIS, "Axis", SH_FUNCTION},
    {ET_CHILDREN, "Children", SH_FUNCTION},
    {ET_HEAD, "Head", SH_FUNCTION},
    {ET_CURRENTMEMBER, "CurrentMember", SH_FUNCTION},
    {ET_LEVELS, "Levels", SH_FUNCTION},
    {ET_MEMBERS, "Members", SH_FUNCTION},
    {ET_TUPLE_CALL, nullptr, SH_CALL},
    {ET_PARENT, "Parent", SH_FUNCTION},
    {ET_TUPLE, "Tuple", SH_FUNCTION},
    {ET_EMPTY, nullptr, SH_EMPTY},
    {ET_NUMBER, nullptr, SH_NUMBER},
    {ET_BOOLEAN, nullptr, SH_BOOLEAN},
    {ET_PERCENT, "%", SH_BINARY, nullptr, 0, LV_MULTIPLY},
    {ET_EQ, "=", SH_BINARY, nullptr, 0, LV_COMPARE, GR_NONE},
    {ET_NE, "<>", SH_BINARY, nullptr, 0, LV_COMPARE, GR_NONE},
    {ET_LT, "<", SH_BINARY, nullptr, 0, LV_COMPARE, GR_NONE},
    {ET_LE, "<=", SH_BINARY, nullptr, 0, LV_COMPARE, GR_NONE},
    {ET_GT, ">", SH_BINARY, nullptr, 0, LV_COMPARE, GR_NONE},
    {ET_GE, ">=", SH_BINARY, nullptr, 0, LV_COMPARE, GR_NONE},
    {ET_AND, "AND", SH_BINARY, nullptr, 0, LV_AND},
    {ET_OR, "OR", SH_BINARY, nullptr, 0, LV_OR},
    {ET_NOT, "NOT", SH_FUNCTION},
    {ET_XOR, "XOR", SH_BINARY, nullptr, 0, LV_OR},
    {ET_EQV, "EQV", SH_BINARY, nullptr, 0, LV_EQV},
    {ET_IMP, "IMP", SH_BINARY, nullptr, 0, LV_IMP},
    {ET_NEGATE, "-", SH_SIGN, " -", 0, LV_SIGN},
    {ET_PLUS, "+", SH_BINARY, nullptr, 0, LV_ADD},
    {ET_MINUS, "-", SH_BINARY, nullptr, 0, LV_ADD},
    {ET_MULTIPLY, "*", SH_BINARY, nullptr, 0, LV_MULTIPLY},
    {ET_DIVIDE, "/", SH_BINARY, nullptr, 0, LV_MULTIPLY},
    {ET_INTEGER_DIVIDE, "\\", SH_BINARY, nullptr, 0, LV_MULTIPLY},  // its own operator, so it reads back as itself
    {ET_POWER, "^ ", SH_BINARY, nullptr, 0, LV_POWER, GR_RIGHT},
    {ET_ABS, "Abs", SH_FUNCTION},
    {ET_COS, "Cos", SH_FUNCTION},
    {ET_SIN, "Sin", SH_FUNCTION},
    {ET_TAN, "Tan", SH_FUNCTION},
    {ET_ATN, "Atn", SH_FUNCTION},
    {ET_ACOS, "Acos", SH_FUNCTION},
    {ET_ASIN, "Asin", SH_FUNCTION},
    {ET_LOG, "Log", SH_FUNCTION},
    {ET_SQR, "Sqr", SH_FUNCTION},
    {ET_MOD, "Mod", SH_FUNCTION},
    {ET_INT, "Int", SH_FUNCTION},
    {ET_SGN, "Sgn", SH_FUNCTION},
    {ET_EXP, "Exp", SH_FUNCTION},
    {ET_MIN, "Min", SH_FUNCTION},
    {ET_MAX, "Max", SH_FUNCTION},
    {ET_SUM, "sum", SH_FUNCTION},
    {ET_OPERATOR_180, nullptr, SH_BINARY},
    {ET_REMAINDER, "Remainder", SH_FUNCTION},
    {ET_FIX, "Fix", SH_FUNCTION},
    {ET_ROUND, "Round", SH_FUNCTION},
    {ET_COUNT_LEVEL, "Count", SH_FUNCTION},
    {ET_NULL, "Null", SH_KEYWORD},
    {ET_CURRENTDIMENSIONFILTEREDSET, "CurrentDimensionFilteredSet", SH_FUNCTION},
    {ET_CURRENTDIMENSIONSET, "CurrentDimensionSet", SH_FUNCTION},
    {ET_CURRENTAXISFILTEREDSET, "CurrentAxisFilteredSet", SH_FUNCTION},
    {ET_CURRENTAXISSET, "CurrentAxisSet", SH_FUNCTION},
    {ET_PARENTHESES, nullptr, SH_GROUP},
    {ET_UNARY_PLUS, nullptr, SH_SIGN, " +", 0, LV_SIGN},
    {ET_MEMBER_GROUP, nullptr, SH_WRAPPER},
    {ET_MEMBER_NAME, nullptr, SH_QUOTED_NAME, nullptr, NF_STRING_VALUED},
    {ET_DIMENSION_NAME, nullptr, SH_QUOTED_NAME, nullptr, NF_STRING_VALUED},
    {ET_MEMBER_RANGE, nullptr, SH_RANGE},
    {ET_ALL, "All", SH_KEYWORD},
    {ET_PLACEHOLDER, nullptr, SH_PLACEHOLDER, nullptr, NF_STRING_VALUED},
    {ET_NO_ALL, nullptr, SH_SILENT},
    {ET_TYPE_199, nullptr, SH_FUNCTION},
    {ET_GENERATESET, "GenerateSet", SH_FUNCTION},
    {ET_TYPE_201, nullptr, SH_FUNCTION},
    {ET_NAME_PROPERTY, "Name", SH_KEYWORD},
    {ET_UNIQUENAME_PROPERTY, "UniqueName", SH_KEYWORD},
    {ET_PROPERTY, "Property", SH_PROPERTY},
    {ET_CAPTION_PROPERTY, "Caption", SH_KEYWORD},
    {ET_PROPERTY_PARENTHESES, nullptr, SH_GROUP},
    {ET_NAME_TEXT, nullptr, SH_QUOTED_NAME},
    {ET_EXISTS, "EXISTS", SH_BINARY},
    {ET_LEVEL_PROPERTY, "Level", SH_KEYWORD},  // written as the keyword it is read from
    {ET_YTD, "Ytd", SH_FUNCTION},  // the short to-date functions print as the words they are read from
    {ET_QTD, "Qtd", SH_FUNCTION},
    {ET_MTD, "Mtd", SH_FUNCTION},
    {ET_WTD, "Wtd", SH_FUNCTION},
    {ET_NO_INHERIT, nullptr, SH_SILENT},
    {ET_INHERIT, "INHERIT", SH_KEYWORD},
    {ET_SHOWTUPLE, "ShowTuple", SH_FUNCTION},
    {ET_HIDETUPLE, "HideTuple", SH_FUNCTION},
    {ET_GETNAME, "GetName", SH_NAME_FUNCTION},
    {ET_GETUNIQUENAME, "GetUniqueName", SH_NAME_FUNCTION},
    {ET_GETCAPTION, "GetCaption", SH_NAME_FUNCTION},
    {ET_MEMBER, "Member", SH_NAME_FUNCTION},
    {ET_H_T_D, "H_T_D", SH_FUNCTION},
    {ET_Y_T_D, "Y_T_D", SH_FUNCTION},
    {ET_S_T_D, "S_T_D", SH_FUNCTION},
    {ET_P_T_D, "P_T_D", SH_FUNCTION},
    {ET_Q_T_D, "Q_T_D", SH_FUNCTION},
    {ET_M_T_D, "M_T_D", SH_FUNCTION},
    {ET_W_T_D, "W_T_D", SH_FUNCTION},
    {ET_D_T_D, "D_T_D", SH_FUNCTION},
    {ET_AGGREGATE, "Aggregate", SH_FUNCTION, nullptr, NF_AGGREGATE},
    {ET_DATE, "Date", SH_FUNCTION},
};

static_assert(sizeof(kNodeTypes) / sizeof(kNodeTypes[0]) == NUVA_o::Expression::ET_COUNT,
              "one row per node type");
static_assert(
    [] {
      for (int i = 0; i < NUVA_o::Expression::ET_COUNT; ++i)
        if (kNodeTypes[i].type != i) return false;
      return true;
    }(),
    "each row in the place of its type");

// The row of `type`, or null for a number outside the types.
constexpr const NodeType* find(int type) {
  return type >= 0 && type < NUVA_o::Expression::ET_COUNT ? &kNodeTypes[type] : nullptr;
}

}  // namespace common::node_types
