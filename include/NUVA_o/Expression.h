#pragma once

#include <vector>

#include "olap_api/RefCount.h"
#include "support/RefCountImpl.h"
#include "support/TOVAString.h"
#include "support/XmlSupport.h"
#include "support/oleauto.h"

namespace NUVA_o {

class Cube;
class OptionalCubeViewClause;
class Parameter;

// A node of an expression tree in the MDX-like calculation language. The root holds the whole
// text; children are owned by their parent (one reference each).
class VTQ_EXPORT Expression : public virtual olap_api::RefCount {
 public:
  // Node types; the numbers are stored in XML and never change.
  enum ExpressionType : int32_t {
    ET_BETWEEN = 0,
    ET_OUTSIDE = 1,
    ET_NATIVE = 2,
    ET_CURRENTSET = 3,
    ET_CORRELATION = 4,
    ET_COVARIANCE = 5,
    ET_COVARIANCEN = 6,
    ET_LINREGVARIANCE = 7,
    ET_LINREGR2 = 8,
    ET_LINREGSLOPE = 9,
    ET_LINREGINTERCEPT = 10,
    ET_LINREGPOINT = 11,
    ET_NAMETOSET = 12,
    ET_NONEMPTYCROSSJOIN = 13,
    ET_MEMBER_CALL = 14,
    ET_TOGGLEDRILLSTATE_RECURSIVE = 15,
    ET_TOGGLEDRILLSTATE = 16,
    ET_PARALLELPERIOD = 17,
    ET_ISNULL_18 = 18,
    ET_MEMBER_ISNULL = 19,
    ET_LEVEL_ISNULL = 20,
    ET_LEVEL_IS = 21,
    ET_SET_IS = 22,
    ET_MEMBER_IS = 23,
    ET_IS_24 = 24,
    ET_ADDCALCULATEDMEMBERS = 25,
    ET_GENERATE = 26,
    ET_GENERATE_ALL = 27,
    ET_DRILLDOWNLEVELTOP_VALUE = 28,
    ET_DRILLDOWNLEVELBOTTOM_VALUE = 29,
    ET_DRILLDOWNLEVELBOTTOM = 30,
    ET_DRILLDOWNLEVELTOP = 31,
    ET_ASC = 32,
    ET_DESC = 33,
    ET_BASC = 34,
    ET_BDESC = 35,
    ET_ORDER = 36,
    ET_FILTER = 37,
    ET_TOPSUM = 38,
    ET_BOTTOMSUM = 39,
    ET_TOPPERCENT = 40,
    ET_BOTTOMPERCENT = 41,
    ET_CURRENT = 42,
    ET_SET = 43,
    ET_EXTRACT = 44,
    ET_DIMENSIONS = 45,
    ET_DIMENSION = 46,
    ET_PERIODSTODATE = 47,
    ET_COALESCEEMPTY = 48,
    ET_OPENINGPERIOD = 49,
    ET_CLOSINGPERIOD = 50,
    ET_DEFAULTMEMBER = 51,
    ET_WRAPPER_52 = 52,
    ET_DRILLDOWNMEMBERTOP_RECURSIVE = 53,
    ET_DRILLDOWNMEMBERTOP = 54,
    ET_DRILLDOWNMEMBERBOTTOM_RECURSIVE = 55,
    ET_DRILLDOWNMEMBERBOTTOM = 56,
    ET_UNION_ALL = 57,
    ET_UNION = 58,
    ET_SUBSET = 59,
    ET_LASTPERIODS = 60,
    ET_HIERARCHIZE_POST = 61,
    ET_HIERARCHIZE = 62,
    ET_EXCEPT_ALL = 63,
    ET_EXCEPT = 64,
    ET_DRILLUPMEMBER = 65,
    ET_DRILLDOWNMEMBER = 66,
    ET_DRILLDOWNMEMBER_RECURSIVE = 67,
    ET_DRILLDOWNLEVEL = 68,
    ET_DRILLDOWNLEVEL_INDEX = 69,
    ET_DRILLUPLEVEL = 70,
    ET_BOTTOMCOUNT = 71,
    ET_TOPCOUNT = 72,
    ET_ISEMPTY = 73,
    ET_ISGENERATION = 74,
    ET_ISLEAF = 75,
    ET_ISSIBLING = 76,
    ET_ISANCESTOR = 77,
    ET_LASTSIBLING = 78,
    ET_FIRSTSIBLING = 79,
    ET_LASTCHILD = 80,
    ET_FIRSTCHILD = 81,
    ET_LAG = 82,
    ET_LEAD = 83,
    ET_ITEM = 84,
    ET_SIBLINGS = 85,
    ET_VALUE = 86,
    ET_TAIL = 87,
    ET_DISTINCT = 88,
    ET_CROSSJOIN = 89,
    ET_LEVEL = 90,
    ET_STRIPCALCULATEDMEMBERS = 91,
    ET_INTERSECT = 92,
    ET_INTERSECT_ALL = 93,
    ET_ROLLUP_PLUS = 94,
    ET_ROLLUP_MINUS = 95,
    ET_ROLLUP_DIVIDE = 96,
    ET_ROLLUP_MULTIPLY = 97,
    ET_ROLLUP_PERCENT = 98,
    ET_ROLLUPCHILDREN = 99,
    ET_RANK = 100,
    ET_VAR = 101,
    ET_VARP = 102,
    ET_STDEV = 103,
    ET_STDEVP = 104,
    ET_MEDIAN = 105,
    ET_AVG = 106,
    ET_COUNT_EXCLUDEEMPTY = 107,
    ET_COUNT_INCLUDEEMPTY = 108,
    ET_COUNT_TUPLE = 109,
    ET_COUNT_DIMENSION = 110,
    ET_DISTINCTCOUNT = 111,
    ET_IIF = 112,
    ET_ORDINAL = 113,
    ET_DESCENDANTS = 114,
    ET_SELF = 115,
    ET_AFTER = 116,
    ET_BEFORE = 117,
    ET_LEAVES = 118,
    ET_BEFORE_AND_AFTER = 119,
    ET_SELF_AND_AFTER = 120,
    ET_SELF_AND_BEFORE = 121,
    ET_SELF_BEFORE_AFTER = 122,
    ET_LEVEL_NAME = 123,
    ET_QUOTED_NAME_124 = 124,
    ET_ANCESTOR = 125,
    ET_COUSIN = 126,
    ET_NEXTMEMBER = 127,
    ET_PREVMEMBER = 128,
    ET_ALLMEMBERS = 129,
    ET_ANCESTORS = 130,
    ET_ASCENDANTS = 131,
    ET_AXIS = 132,
    ET_CHILDREN = 133,
    ET_HEAD = 134,
    ET_CURRENTMEMBER = 135,
    ET_LEVELS = 136,
    ET_MEMBERS = 137,
    ET_TUPLE_CALL = 138,
    ET_PARENT = 139,
    ET_TUPLE = 140,
    ET_EMPTY = 141,
    ET_NUMBER = 142,
    ET_BOOLEAN = 143,
    ET_PERCENT = 144,
    ET_EQ = 145,
    ET_NE = 146,
    ET_LT = 147,
    ET_LE = 148,
    ET_GT = 149,
    ET_GE = 150,
    ET_AND = 151,
    ET_OR = 152,
    ET_NOT = 153,
    ET_XOR = 154,
    ET_EQV = 155,
    ET_IMP = 156,
    ET_NEGATE = 157,
    ET_PLUS = 158,
    ET_MINUS = 159,
    ET_MULTIPLY = 160,
    ET_DIVIDE = 161,
    ET_INTEGER_DIVIDE = 162,
    ET_POWER = 163,
    ET_ABS = 164,
    ET_COS = 165,
    ET_SIN = 166,
    ET_TAN = 167,
    ET_ATN = 168,
    ET_ACOS = 169,
    ET_ASIN = 170,
    ET_LOG = 171,
    ET_SQR = 172,
    ET_MOD = 173,
    ET_INT = 174,
    ET_SGN = 175,
    ET_EXP = 176,
    ET_MIN = 177,
    ET_MAX = 178,
    ET_SUM = 179,
    ET_OPERATOR_180 = 180,
    ET_REMAINDER = 181,
    ET_FIX = 182,
    ET_ROUND = 183,
    ET_COUNT_LEVEL = 184,
    ET_NULL = 185,
    ET_CURRENTDIMENSIONFILTEREDSET = 186,
    ET_CURRENTDIMENSIONSET = 187,
    ET_CURRENTAXISFILTEREDSET = 188,
    ET_CURRENTAXISSET = 189,
    ET_PARENTHESES = 190,
    ET_UNARY_PLUS = 191,
    ET_MEMBER_GROUP = 192,
    ET_MEMBER_NAME = 193,
    ET_DIMENSION_NAME = 194,
    ET_MEMBER_RANGE = 195,
    ET_ALL = 196,
    ET_PLACEHOLDER = 197,
    ET_NO_ALL = 198,
    ET_TYPE_199 = 199,
    ET_GENERATESET = 200,
    ET_TYPE_201 = 201,
    ET_NAME_PROPERTY = 202,
    ET_UNIQUENAME_PROPERTY = 203,
    ET_PROPERTY = 204,
    ET_CAPTION_PROPERTY = 205,
    ET_PROPERTY_PARENTHESES = 206,
    ET_NAME_TEXT = 207,
    ET_EXISTS = 208,
    ET_LEVEL_PROPERTY = 209,
    ET_YTD = 210,
    ET_QTD = 211,
    ET_MTD = 212,
    ET_WTD = 213,
    ET_NO_INHERIT = 214,
    ET_INHERIT = 215,
    ET_SHOWTUPLE = 216,
    ET_HIDETUPLE = 217,
    ET_GETNAME = 218,
    ET_GETUNIQUENAME = 219,
    ET_GETCAPTION = 220,
    ET_MEMBER = 221,
    ET_H_T_D = 222,
    ET_Y_T_D = 223,
    ET_S_T_D = 224,
    ET_P_T_D = 225,
    ET_Q_T_D = 226,
    ET_M_T_D = 227,
    ET_W_T_D = 228,
    ET_D_T_D = 229,
    ET_AGGREGATE = 230,
    ET_DATE = 231,
  };
  static constexpr int ET_COUNT = 232;

  // The deepest tree an expression holds, counted in nodes from the root to a leaf. Parsing,
  // loading and adding children refuse a deeper tree with InvalidExpressionException
  // COMMON_E_PARSER_STACK, so that every tree can be saved as XML and printed on a 1 MiB thread
  // stack.
  static constexpr int MAX_DEPTH = 1000;

  // Told when a tree was re-parsed or given native text. Called outside the expression's locks,
  // so a listener may add or remove listeners or edit the expression.
  class ExpressionListener {
   public:
    virtual void expressionModified(Expression* expression) = 0;

   protected:
    virtual ~ExpressionListener() = default;
  };

  // Writes the node on `element` (created by the caller) and its children below it.
  virtual void save(XmlSupport& document, const int& index, DOMElement* element) = 0;
  // Reads the node from `element` and appends its children. Throws InvalidXMLException, or
  // InvalidExpressionException COMMON_E_PARSER_STACK (nothing read) for a tree deeper than
  // MAX_DEPTH.
  virtual void load(DOMElement* element, Cube* cube) = 0;
  // A deep copy with one reference for the caller.
  virtual Expression* clone() = 0;
  // Adopts the caller's reference to `child`; returns it (borrowed). A child that would make
  // the tree deeper than MAX_DEPTH is released and refused (InvalidExpressionException).
  virtual Expression* AddNewChild(Expression* child) = 0;
  // Appends a new empty child; returns it (borrowed). Refused below MAX_DEPTH levels, as above.
  virtual Expression* AddNewChild() = 0;
  virtual void RemoveAllChildren() = 0;
  virtual void RemoveChild(Expression* child) = 0;
  virtual void SetParentExpression(Expression* parent) = 0;
  virtual Expression* GetParentExpression() const = 0;
  virtual void SetParent(OptionalCubeViewClause* clause) = 0;
  virtual OptionalCubeViewClause* GetParent() const = 0;
  // Parses `text` into this node's tree. False for empty text. Throws InvalidExpressionException
  // on bad input; the node then stays usable.
  virtual bool setTextAndCreateTree(const TOVAString& text) = 0;
  virtual void setNativeText(const TOVAString& text) = 0;
  virtual TOVAString getTextFromTree() = 0;
  // Same type, texts, value and the same child objects in order.
  virtual bool operator==(Expression& other) = 0;
  virtual std::vector<Expression*>& getExpressions() = 0;
  // Replaces the children; the node adds its own reference to each. Refused, with the children
  // unchanged, when one would make the tree deeper than MAX_DEPTH.
  virtual void setExpressions(const std::vector<Expression*>& children) = 0;
  virtual ExpressionType getType() const = 0;
  virtual void setType(ExpressionType type) = 0;
  virtual const TOVAString& getText() const = 0;
  virtual void setText(TOVAString& text) = 0;
  virtual VARIANT& getValue() = 0;
  virtual const TOVAString& getStringValue() const = 0;
  virtual void setStringValue(const TOVAString& value) = 0;
  // Replaces every "<<name>>" placeholder by the current value of that parameter (its default
  // when it has none), found in `parameters` or else through `cube` (null: the expression's
  // cube) and then appended to `parameters`. Throws InvalidExpressionException for an unknown
  // name (nothing changes) or a parameter without any value. Use a clone to keep placeholders.
  virtual void resolveParameters(Cube* cube, std::vector<auto_unuse<Parameter>>& parameters) = 0;
  virtual void replaceNode(ExpressionType type, const TOVAString& text) = 0;
  // The same for the placeholders of one parameter, matched by its unique name.
  virtual void replaceParameter(const Parameter* parameter) = 0;
  // The cube of a root (borrowed), null on children.
  virtual Cube* getCube() const = 0;
  virtual bool isRankingExpression() = 0;
  virtual bool isAggregateExpression() = 0;
  // The listener is not owned; it removes itself before it dies. Null is ignored.
  virtual void addListener(ExpressionListener* listener) const = 0;
  // Removes every registration of the listener.
  virtual void removeListener(ExpressionListener* listener) const = 0;
  virtual void notify_listeners() const = 0;

 protected:
  virtual void replace_parameter_with_value(const Parameter* parameter, bool replace) = 0;
};

}  // namespace NUVA_o
