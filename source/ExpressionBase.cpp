#include "ExpressionBase.h"

#include "common/CommonExpression.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>

#include "KELLexer.h"
#include "KELParseContext.h"
#include "NUVA_o/Cube.h"
#include "common/ComponentLog.h"
#include "common/Utilities.h"
#include "support/StringConverters.h"
#include "support/CoreLog.h"
#include "support/Exceptions.h"

namespace common {

using NUVA_o::Expression;

namespace {

const ComponentLog& expression_log() {
  static const ComponentLog log(moduleName(), "Expression");
  return log;
}

// Every parse runs under this lock. Each parse keeps its own state, so the lock only keeps
// parses (and their log lines) one at a time as callers have always seen them.
KorvelMutex& parser_lock() {
  static KorvelMutex* const lock = new KorvelMutex();
  return *lock;
}

const TOVAString& trace_name() {
  static const TOVAString name("ExpressionBase");
  return name;
}

[[maybe_unused]] const bool g_StaticsCreated = [] {
  parser_lock();
  expression_log();
  return true;
}();

// Keywords that printing writes, by node type; null where a type has none.
const char* keyword_of(int type) {
  static const char* const table[Expression::ET_COUNT] = {
      "Between", "Outside", nullptr, "CurrentSet", "Correlation", "Covariance", "CovarianceN",
      "LinRegVariance", "LinRegR2", "LinRegSlope", "LinRegIntercept", "LinRegPoint",
      "NameToSet", "NonEmptyCrossJoin", nullptr, "ToggleDrillState", "ToggleDrillState",
      "ParallelPeriod", nullptr, nullptr, nullptr, "Is", "Is", "Is", "Is",
      "AddCalculatedMembers", "Generate", "Generate", "DrillDownLevelTop",
      "DrillDownLevelBottom", "DrillDownLevelBottom", "DrillDownLevelTop", "ASC", "DESC",
      "BASC", "BDESC", "Order", "Filter", "TopSum", "BottomSum", "TopPercent", "BottomPercent",
      "Current", "Set", "Extract", "Dimensions", "Dimension", "PeriodsToDate", "Coalesceempty",
      "OpeningPeriod", "ClosingPeriod", "DefaultMember", nullptr, "DrillDownMemberTop",
      "DrillDownMemberTop", "DrillDownMemberBottom", "DrillDownMemberBottom", "Union", "Union",
      "SubSet", "LastPeriods", "Hierarchize", "Hierarchize", "Except", "Except",
      "DrillUpMember", "DrillDownMember", "DrillDownMember", "DrillDownLevel",
      "DrillDownLevel", "DrillUpLevel", "BottomCount", "TopCount", "IsEmpty", "IsGeneration",
      "IsLeaf", "IsSibling", "IsAncestor", "LastSibling", "FirstSibling", "LastChild",
      "FirstChild", "Lag", "Lead", "Item", "Siblings", nullptr, "Tail", "Distinct",
      "Crossjoin", "Level", "StripCalculatedMembers", "Intersect", "Intersect", "+", "-", "/",
      "*", "%", "RollupChildren", "Rank", "Var", "VarP", "Stdev", "StdevP", "Median", "Avg",
      "Count", "Count", "Count", "Count", "DistinctCount", "IIf", "Ordinal", "Descendants",
      "SELF", "AFTER", "BEFORE", "LEAVES", "BEFORE_AND_AFTER", "SELF_AND_AFTER",
      "SELF_AND_BEFORE", "SELF_BEFORE_AFTER", nullptr, nullptr, "Ancestor", "Cousin",
      "NextMember", "PrevMember", "AllMembers", "Ancestors",
      // Written "Ascendants" so that it reads back as the keyword it came from.
      "Ascendants", "Axis", "Children", "Head", "CurrentMember", "Levels", "Members", nullptr,
      "Parent", "Tuple", nullptr, nullptr, nullptr, "%", "=", "<>", "<", "<=", ">", ">=", "AND",
      "OR", "NOT", "XOR", "EQV", "IMP", "-", "+", "-", "*", "/",
      // Integer division keeps its own operator so that it reads back as itself.
      "\\", "^ ", "Abs", "Cos", "Sin", "Tan", "Atn", "Acos", "Asin", "Log", "Sqr", "Mod", "Int",
      "Sgn", "Exp", "Min", "Max", "sum", nullptr, "Remainder", "Fix", "Round", "Count", "Null",
      "CurrentDimensionFilteredSet", "CurrentDimensionSet", "CurrentAxisFilteredSet",
      "CurrentAxisSet", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, "All", nullptr,
      nullptr, nullptr, "GenerateSet", nullptr, "Name", "UniqueName", "Property", "Caption",
      nullptr, nullptr, "EXISTS",
      // The level property: written as the keyword it is read from.
      "Level",
      // The short to-date functions have no keyword of their own in the type table; they
      // print as the words they are read from.
      "Ytd", "Qtd", "Mtd", "Wtd", nullptr, "INHERIT", "ShowTuple", "HideTuple", "GetName",
      "GetUniqueName", "GetCaption", "Member", "H_T_D", "Y_T_D", "S_T_D", "P_T_D", "Q_T_D",
      "M_T_D", "W_T_D", "D_T_D", "Aggregate", "Date"};
  if (type < 0 || type >= Expression::ET_COUNT) return nullptr;
  return table[type];
}

// The keyword, or "" with the assertion report for a type that has none.
const char* keyword_for_printing(int type) {
  const char* keyword = keyword_of(type);
  if (keyword == nullptr) {
    support_dll::AssertionFailure(
        "! \"Default type processing in ExpressionBase::convert_node_to_string()\"",
        "ExpressionBase.cpp", __LINE__);
    return "";
  }
  return keyword;
}

bool is_quoted_name(int type) {
  return type == 123 || type == 124 || type == 193 || type == 194 || type == 207;
}

bool is_leaf_type(int type) {
  return (type >= 32 && type <= 35) || (type >= 94 && type <= 98) ||
         (type >= 115 && type <= 124) || type == 142 || type == 143 || type == 185 ||
         type == 193 || type == 194 || type == 196 || type == 197 || type == 198 ||
         type == 202 || type == 203 || type == 205 || type == 207 || type == 209 ||
         type == 214 || type == 215;
}

bool is_binary_type(int type) {
  return (type >= 21 && type <= 24) || (type >= 144 && type <= 152) ||
         (type >= 154 && type <= 156) || (type >= 158 && type <= 163) || type == 180 ||
         type == 208;
}

// How tightly a logical operator binds, as the grammar reads it (higher binds tighter; all
// group to the left); 0 for any other type.
int logical_level(int type) {
  switch (type) {
    case 156: return 1;            // IMP
    case 155: return 2;            // EQV
    case 152: case 154: return 3;  // OR, XOR
    case 151: return 4;            // AND
    default: return 0;
  }
}

[[noreturn]] void too_deep() {
  support::raise<InvalidExpressionExceptionImpl>(moduleName(), support::COMMON_E_PARSER_STACK);
}

// Nodes from the root down to `node`, itself included. The walk stops past the limit.
int depth_of(const Expression* node) {
  int depth = 0;
  for (; node != nullptr && depth <= Expression::MAX_DEPTH; node = node->GetParentExpression()) ++depth;
  return depth;
}

// Levels of the tree below and including `node`; stops counting past the limit.
int height_of(Expression* node) {
  if (node == nullptr) return 0;
  int height = 0;
  std::vector<std::pair<Expression*, int>> work{{node, 1}};
  while (!work.empty()) {
    auto [at, level] = work.back();
    work.pop_back();
    height = std::max(height, level);
    if (level > Expression::MAX_DEPTH) return level;
    for (Expression* child : at->getExpressions())
      if (child) work.emplace_back(child, level + 1);
  }
  return height;
}

const char* suffix_of(int type) {
  switch (type) {
    case 61: return ", POST";
    case 15: case 53: case 55: case 67: return ", RECURSIVE";
    case 27: case 57: case 63: case 93: return ", ALL";
    case 107: return ", ExcludeEmpty";
    case 108: return ", IncludeEmpty";
    default: return "";
  }
}

void value_clear(VARIANT& v) {
  VariantClear(&v);
  v.llVal = 0;
}

void value_copy(VARIANT& to, const VARIANT& from) {
  if (&to == &from) return;
  VariantClear(&to);
  if (FAILED(VariantCopy(&to, &from))) to.vt = VT_EMPTY;
}

// Releases the children of dying nodes one at a time, so that releasing a tree of any depth
// takes no stack per level: a node dying while the queue drains only adds its children to it.
static thread_local bool t_ReleaseQueueGone __attribute__((tls_model("initial-exec"))) = false;

struct ReleaseQueue {
  std::vector<Expression*> pending;
  bool draining = false;
  ~ReleaseQueue() { t_ReleaseQueueGone = true; }
};

void release_children(std::vector<Expression*>& children) {
  if (children.empty()) return;
  if (t_ReleaseQueueGone) {
    // The thread is ending (static destructors): release directly.
    std::vector<Expression*> list;
    list.swap(children);
    for (Expression* child : list)
      if (child) child->unuse();
    return;
  }
  static thread_local ReleaseQueue queue __attribute__((tls_model("initial-exec")));
  queue.pending.insert(queue.pending.end(), children.begin(), children.end());
  children.clear();
  if (queue.draining) return;
  queue.draining = true;
  while (!queue.pending.empty()) {
    Expression* child = queue.pending.back();
    queue.pending.pop_back();
    if (child) child->unuse();
  }
  queue.draining = false;
}

}  // namespace

void* ExpressionBase::operator new(size_t size) {
#if VTQ_NODE_POOL
  if (size == sizeof(ExpressionBase)) {
    NodePool* pool = node_pool();
    if (pool && !pool->blocks.empty()) {
      void* block = pool->blocks.back();
      pool->blocks.pop_back();
      return block;
    }
  }
#endif
  return ::operator new(size);
}

void ExpressionBase::operator delete(void* block, size_t size) {
#if VTQ_NODE_POOL
  if (size == sizeof(ExpressionBase)) {
    NodePool* pool = node_pool();
    if (pool && pool->blocks.size() < NodePool::kLimit) {
      if (pool->blocks.capacity() == 0) pool->blocks.reserve(NodePool::kLimit);
      pool->blocks.push_back(block);
      return;
    }
  }
#else
  (void)size;
#endif
  ::operator delete(block);
}

namespace {

// A number as printing and saving write it: plain decimal notation, since the language reads
// no exponent after a blank and older readers of saved documents expect plain digits.
TOVAString number_text(double value) {
  if (std::isinf(value)) {
    // No double reads back as infinity; these digits are refused as out of range.
    return TOVAString(std::string(value < 0 ? "-1" : "1") + std::string(309, '0'));
  }
  return StringConverters::convertRealToPlainString(value);
}

}  // namespace

ExpressionBase::ExpressionBase(NUVA_o::Cube* cube)
    : RefCountImpl(trace_name(), support::nextInstanceNumber<ExpressionBase>()),
      m_pCube(cube),
      m_pParentExpression(nullptr),
      m_pParentClause(nullptr),
      m_Type(ET_EMPTY),
      m_bPlaceholderPending(false) {
  VariantInit(&m_Value);
  m_Value.llVal = 0;
  if (m_pCube) m_pCube->use();
}

ExpressionBase::ExpressionBase(NUVA_o::Expression* parent, size_t reserve)
    : RefCountImpl(trace_name(), support::nextInstanceNumber<ExpressionBase>()),
      m_pCube(nullptr),
      m_pParentExpression(parent),
      m_pParentClause(nullptr),
      m_Type(ET_EMPTY),
      m_bPlaceholderPending(false) {
  VariantInit(&m_Value);
  m_Value.llVal = 0;
  if (reserve > 0) m_Expressions.reserve(reserve);
}

ExpressionBase::~ExpressionBase() {
  release_children(m_Expressions);
  value_clear(m_Value);
  if (m_pCube) m_pCube->unuse();
}

ExpressionBase* ExpressionBase::createNode(size_t children) {
  return new ExpressionBase(static_cast<NUVA_o::Expression*>(nullptr), children);
}

void ExpressionBase::adopt_contents(ExpressionBase& node) {
  RemoveAllChildren();
  m_Type = node.m_Type;
  value_copy(m_Value, node.m_Value);
  m_StringValue = std::move(node.m_StringValue);
  m_Expressions = std::move(node.m_Expressions);
  node.m_Expressions.clear();
  for (Expression* child : m_Expressions) child->SetParentExpression(this);
}

void ExpressionBase::adopt_child(ExpressionBase* child) {
  child->m_pParentExpression = this;
  m_Expressions.push_back(child);
}

// ---- tree edits and accessors ----

Expression* ExpressionBase::AddNewChild(Expression* child) {
  if (child != nullptr && depth_of(this) + height_of(child) > MAX_DEPTH) {
    child->unuse();
    too_deep();
  }
  m_Text.clear();
  if (child == nullptr) return nullptr;
  child->SetParentExpression(this);
  m_Expressions.push_back(child);
  return child;
}

Expression* ExpressionBase::AddNewChild() {
  if (depth_of(this) + 1 > MAX_DEPTH) too_deep();
  m_Text.clear();
  ExpressionBase* child = new ExpressionBase(static_cast<Expression*>(this));
  m_Expressions.push_back(child);
  return child;
}

void ExpressionBase::RemoveAllChildren() { release_children(m_Expressions); }

void ExpressionBase::RemoveChild(Expression* child) {
  for (auto it = m_Expressions.begin(); it != m_Expressions.end(); ++it) {
    if (*it != child) continue;
    m_Expressions.erase(it);
    std::vector<Expression*> one{child};
    release_children(one);
    return;
  }
}

void ExpressionBase::SetParentExpression(Expression* parent) { m_pParentExpression = parent; }
Expression* ExpressionBase::GetParentExpression() const { return m_pParentExpression; }
void ExpressionBase::SetParent(NUVA_o::OptionalCubeViewClause* clause) { m_pParentClause = clause; }
NUVA_o::OptionalCubeViewClause* ExpressionBase::GetParent() const { return m_pParentClause; }
std::vector<Expression*>& ExpressionBase::getExpressions() { return m_Expressions; }

void ExpressionBase::setExpressions(const std::vector<Expression*>& children) {
  const int depth = depth_of(this);
  for (Expression* child : children)
    if (child && depth + height_of(child) > MAX_DEPTH) too_deep();
  // References first: the new list may share nodes with the old one.
  for (Expression* child : children)
    if (child) child->use();
  std::vector<Expression*> old;
  old.swap(m_Expressions);
  for (Expression* child : children) {
    if (child == nullptr) continue;
    child->SetParentExpression(this);
    m_Expressions.push_back(child);
  }
  release_children(old);
}

Expression::ExpressionType ExpressionBase::getType() const { return m_Type; }
void ExpressionBase::setType(ExpressionType type) { m_Type = type; }
const TOVAString& ExpressionBase::getText() const { return m_Text; }
void ExpressionBase::setText(TOVAString& text) { m_Text = text; }
VARIANT& ExpressionBase::getValue() { return m_Value; }
const TOVAString& ExpressionBase::getStringValue() const { return m_StringValue; }
void ExpressionBase::setStringValue(const TOVAString& value) { m_StringValue = value; }
NUVA_o::Cube* ExpressionBase::getCube() const { return m_pCube; }

// ---- parameters ----

void ExpressionBase::resolveParameters(NUVA_o::Cube* cube,
                                       std::vector<auto_unuse<NUVA_o::Parameter>>& /*parameters*/) {
  if (cube) (void)cube->getParameters();
}

void ExpressionBase::replaceNode(ExpressionType type, const TOVAString& text) {
  if (m_Type != ET_PLACEHOLDER) return;
  m_bPlaceholderPending = true;
  m_PlaceholderText = text;
  m_Type = type;
  m_StringValue = text;
}

void ExpressionBase::replaceParameter(const NUVA_o::Parameter* parameter) {
  if (parameter == nullptr) return;
  // The parameter's unique name comes from its name face.
  const auto* named = dynamic_cast<const support::NamedPart*>(parameter);
  std::vector<ExpressionBase*> work{this};
  while (!work.empty()) {
    ExpressionBase* node = work.back();
    work.pop_back();
    // Children before their parent, as a recursive walk would visit them.
    for (auto it = node->m_Expressions.rbegin(); it != node->m_Expressions.rend(); ++it) {
      if (auto* child = dynamic_cast<ExpressionBase*>(*it))
        work.push_back(child);
      else if (*it)
        (*it)->replaceParameter(parameter);
    }
    if (node->m_Type == ET_PLACEHOLDER && named && node->m_StringValue == named->getUniqueName())
      node->replace_parameter_with_value(parameter, true);
  }
}

void ExpressionBase::replace_parameter_with_value(const NUVA_o::Parameter*, bool) {}

// ---- listeners ----

void ExpressionBase::addListener(ExpressionListener* listener) const {
  KorvelSynchronized lock(m_ListenerLock);
  m_Listeners.push_back(listener);
}

void ExpressionBase::removeListener(ExpressionListener* listener) const {
  KorvelSynchronized lock(m_ListenerLock);
  for (auto it = m_Listeners.begin(); it != m_Listeners.end(); ++it) {
    if (*it == listener) {
      m_Listeners.erase(it);
      return;
    }
  }
}

void ExpressionBase::notify_listeners() const {
  KorvelSynchronized lock(m_ListenerLock);
  // A copy: a listener may unregister itself while it is told.
  std::vector<ExpressionListener*> listeners = m_Listeners;
  for (ExpressionListener* listener : listeners)
    listener->expressionModified(const_cast<ExpressionBase*>(this));
}

// ---- text ----

void ExpressionBase::log_text_change(const char* replacingFormat, const TOVAString& text) const {
  const bool native = replacingFormat[0] == 'N';
  const LogSite site{"ExpressionBase.cpp", __LINE__,
                     native ? "common::ExpressionBase::setNativeText"
                            : "common::ExpressionBase::setTextAndCreateTree"};
  if (m_Text.empty())
    expression_log().logAt(site, 4,
                           native ? "Expression[%u]: Setting native expression text '%s'"
                                  : "Expression[%u]: Setting expression text '%s'",
                           getInstanceNumber(), text);
  else
    expression_log().logAt(
        site, 4,
        native ? "Expression[%u]: Replacing expression '%s' with native expression '%s'"
               : "Expression[%u]: Replacing expression '%s' with expression '%s'",
        getInstanceNumber(), m_Text, text);
}

bool ExpressionBase::setTextAndCreateTree(const TOVAString& text) {
  log_text_change("P", text);
  RemoveAllChildren();
  m_Type = ET_EMPTY;
  value_clear(m_Value);
  m_StringValue.clear();
  m_bPlaceholderPending = false;
  m_Text = text;
  if (text.empty()) return false;

  {
    KorvelSynchronized lock(parser_lock());
    KELLexer lexer(text, m_pCube);
    lexer.setResolveNames(m_pCube != nullptr);
    KelParseContext context(lexer);
    int result = kelparse(&context);
    if (result == 2) context.record_failure(support::COMMON_E_PARSER_STACK);
    else if (result != 0) context.record_failure(support::COMMON_E_SYNTAX);
    // Failures were logged when they were recorded; the lock and the nodes of the
    // aborted parse are released on the way out.
    if (ExceptionCommon* failure = context.failure()) failure->rethrow();
    auto_unuse<ExpressionBase> top = context.takeResult();
    if (top) adopt_contents(*top);
  }
  notify_listeners();
  return true;
}

void ExpressionBase::setNativeText(const TOVAString& text) {
  if (text == m_Text) return;
  log_text_change("N", text);
  RemoveAllChildren();
  m_Type = ET_NATIVE;
  m_Text = text;
  m_StringValue = text;
  notify_listeners();
}

namespace {

// Writes text, first putting a blank between a word operator and a word that follows it.
class Printer {
 public:
  explicit Printer(TOVAString& out) : m_Out(out.u16()) {}

  void write(const char* text) {
    if (*text == '\0') return;
    separate(static_cast<char16_t>(static_cast<unsigned char>(*text)));
    while (*text) m_Out += static_cast<char16_t>(static_cast<unsigned char>(*text++));
  }
  void write(const TOVAString& text) {
    if (text.empty()) return;
    separate(text[0]);
    m_Out += text.u16();
  }
  // A keyword that must stand apart from the words around it.
  void write_word_operator(const char* keyword) {
    if (!m_Out.empty()) {
      char16_t last = m_Out.back();
      if (!(TOVAFormatLexer::isBlank(last) || last == u')' || last == u'}' || last == u'(' ||
            last == u','))
        m_Out += u' ';
    }
    write(keyword);
    m_bSeparate = true;
  }

 private:
  void separate(char16_t first) {
    if (m_bSeparate && !TOVAFormatLexer::isBlank(first)) m_Out += u' ';
    m_bSeparate = false;
  }

  std::u16string& m_Out;
  bool m_bSeparate = false;
};

bool is_word(const char* keyword) {
  return (keyword[0] >= 'A' && keyword[0] <= 'Z') || (keyword[0] >= 'a' && keyword[0] <= 'z');
}

// How many children a node type prints.
size_t printed_children(int type, size_t count) {
  if (is_leaf_type(type) || type == Expression::ET_EMPTY || type == Expression::ET_NATIVE)
    return 0;
  if (is_binary_type(type) || type == 14 || type == 138 || type == 195)
    return count < 2 ? count : 2;
  if ((type >= 18 && type <= 20) || type == 52 || type == 86 || type == 192 || type == 190 ||
      type == 206 || type == 204 || (type >= 218 && type <= 221) || type == 157 || type == 191)
    return count < 1 ? count : 1;
  return count;
}

}  // namespace

void ExpressionBase::print_into(TOVAString& out) {
  struct Frame {
    ExpressionBase* node;
    size_t next;
    size_t count;
    bool wrapped;  // the child being printed was opened with " ( "
  };
  Printer printer(out);
  std::vector<Frame> stack;

  // Writes what comes before a node's first child; returns how many children it prints.
  auto enter = [&](ExpressionBase* node) -> size_t {
    if (node->m_bPlaceholderPending) {
      node->m_Type = ET_PLACEHOLDER;
      node->m_StringValue = node->m_PlaceholderText;
      node->m_bPlaceholderPending = false;
    }
    const int type = node->m_Type;
    if (is_leaf_type(type)) {
      if (type == 198 || type == 214) return 0;
      printer.write(" ");
      if (is_quoted_name(type)) {
        printer.write(KELLexer::quoteName(node->m_StringValue));
      } else if (type == ET_NUMBER) {
        double value = 0.0;
        if (node->m_Value.vt == VT_R8)
          value = node->m_Value.dblVal;
        else
          support_dll::AssertionFailure("VV_VT(fValue) == VT_R8", "ExpressionBase.cpp", __LINE__);
        printer.write(number_text(value));
      } else if (type == ET_BOOLEAN) {
        printer.write(node->m_Value.vt == VT_BOOL && node->m_Value.boolVal ? "True" : "False");
      } else if (type == ET_PLACEHOLDER) {
        printer.write("<<");
        printer.write(node->m_StringValue);
        printer.write(">>");
      } else {
        printer.write(keyword_for_printing(type));
      }
      printer.write(" ");
      return 0;
    }
    const size_t count = printed_children(type, node->m_Expressions.size());
    switch (type) {
      case ET_EMPTY:
        return 0;
      case ET_NATIVE:
        printer.write(" Native ( ");
        printer.write(KELLexer::quoteName(node->m_StringValue));
        printer.write(" ) ");
        return 0;
      case 18: case 19: case 20: case 14: case 138: case 52: case 86: case 192:
        printer.write(" ");
        return count;
      case 190: case 206:
        if (count > 0) printer.write(" ( ");
        return count;
      case 204:
        printer.write(" Property( ");
        return count;
      case 218: case 219: case 220: case 221:
        printer.write(keyword_for_printing(type));
        printer.write(" ( ");
        return count;
      case 157:
        printer.write(" -");
        return count;
      case 191:
        printer.write(" +");
        return count;
      case 195:
        return count;
      default:
        break;
    }
    if (is_binary_type(type)) return count;
    printer.write(keyword_for_printing(type));
    printer.write(" (");
    return count;
  };

  // Between children.
  auto between = [&](ExpressionBase* node, size_t index) {
    const int type = node->m_Type;
    if (is_binary_type(type)) {
      const char* keyword = keyword_for_printing(type);
      if (is_word(keyword))
        printer.write_word_operator(keyword);
      else
        printer.write(keyword);
      return;
    }
    switch (type) {
      case 14: case 138: printer.write("("); return;
      case 195: printer.write(":"); return;
      default: break;
    }
    Expression* child = node->m_Expressions[index];
    int childType = child ? child->getType() : -1;
    if (childType != 198 && childType != 214) printer.write(",");
  };

  auto leave = [&](ExpressionBase* node, size_t count) {
    const int type = node->m_Type;
    if (is_leaf_type(type) || type == ET_EMPTY || type == ET_NATIVE || type == 157 ||
        type == 191 || type == 195 || is_binary_type(type))
      return;
    switch (type) {
      case 18: case 19: case 20: printer.write(" Is Null "); return;
      case 14: case 138: printer.write(") "); return;
      case 52: case 86: case 192: printer.write(" "); return;
      case 190: case 206: if (count > 0) printer.write(" ) "); return;
      case 204: printer.write(" )"); return;
      case 218: case 219: case 220: case 221: printer.write(" ) "); return;
      default: break;
    }
    printer.write(suffix_of(type));
    printer.write(") ");
  };

  stack.push_back(Frame{this, 0, enter(this), false});
  while (!stack.empty()) {
    Frame& frame = stack.back();
    if (frame.wrapped) {
      printer.write(" ) ");
      frame.wrapped = false;
    }
    if (frame.next >= frame.count) {
      ExpressionBase* node = frame.node;
      size_t count = frame.count;
      stack.pop_back();
      leave(node, count);
      continue;
    }
    const size_t index = frame.next++;
    ExpressionBase* node = frame.node;
    if (index > 0) between(node, index);
    Expression* child = node->m_Expressions[index];
    if (child == nullptr) continue;
    // Logical operators keep their grouping: an operand that is a looser operator (or, on the
    // right, one of the same level) is parenthesised, which adds no node when read back.
    const int level = logical_level(node->m_Type);
    const int childLevel = logical_level(child->getType());
    bool wrap = level > 0 && childLevel > 0 && (index == 0 ? childLevel < level : childLevel <= level);
    if (wrap) {
      printer.write(" ( ");
      frame.wrapped = true;
    }
    auto* base = dynamic_cast<ExpressionBase*>(child);
    if (base == nullptr) {
      printer.write(child->getTextFromTree());
      continue;
    }
    size_t count = enter(base);
    stack.push_back(Frame{base, 0, count, false});
  }
}

TOVAString ExpressionBase::getTextFromTree() {
  TOVAString out;
  print_into(out);
  return out;
}

// ---- questions ----

bool ExpressionBase::isRankingExpression() {
  bool ranking = (m_Type >= 38 && m_Type <= 41) || m_Type == 71 || m_Type == 72;
  expression_log().logAt(5, "ExpressionBase[%u]::isRankingExpression: %s %s a ranking expression",
                         getInstanceNumber(), m_Text, ranking ? "is" : "is not");
  return ranking;
}

bool ExpressionBase::isAggregateExpression() {
  bool aggregate = false;
  for (Expression* child : m_Expressions)
    if (child && child->getType() == ET_AGGREGATE) aggregate = true;
  expression_log().logAt(5,
                         "ExpressionBase[%u]::isAggregateExpression: %s %s a aggregate expression",
                         getInstanceNumber(), m_Text, aggregate ? "is" : "is not");
  return aggregate;
}

bool ExpressionBase::operator==(Expression& other) {
  if (m_Type != other.getType() || m_Text != other.getText() ||
      m_StringValue != other.getStringValue() || !CompareTwoVariants(m_Value, other.getValue()))
    return false;
  return m_Expressions == other.getExpressions();
}

// ---- copies ----

Expression* ExpressionBase::clone() {
  auto copy_fields = [](ExpressionBase& to, const ExpressionBase& from) {
    to.m_pParentClause = from.m_pParentClause;
    to.m_StringValue = from.m_StringValue;
    to.m_Text = from.m_Text;
    to.m_Type = from.m_Type;
    value_copy(to.m_Value, from.m_Value);
    to.m_bPlaceholderPending = from.m_bPlaceholderPending;
    to.m_PlaceholderText = from.m_PlaceholderText;
  };
  ExpressionBase* root = m_pCube ? new ExpressionBase(m_pCube) : new ExpressionBase(m_pParentExpression);
  auto_unuse<ExpressionBase> holder(root);
  copy_fields(*root, *this);
  std::vector<std::pair<ExpressionBase*, ExpressionBase*>> work{{this, root}};
  while (!work.empty()) {
    auto [from, to] = work.back();
    work.pop_back();
    to->m_Expressions.reserve(from->m_Expressions.size());
    for (Expression* child : from->m_Expressions) {
      if (child == nullptr) continue;
      auto* base = dynamic_cast<ExpressionBase*>(child);
      if (base == nullptr) {
        Expression* foreign = child->clone();
        foreign->SetParentExpression(to);
        to->m_Expressions.push_back(foreign);
        continue;
      }
      ExpressionBase* copy = new ExpressionBase(static_cast<Expression*>(to));
      to->m_Expressions.push_back(copy);
      copy_fields(*copy, *base);
      work.emplace_back(base, copy);
    }
  }
  return holder.release();
}

// ---- XML ----

void ExpressionBase::save(XmlSupport& document, const int& index, DOMElement* element) {
  (void)document;
  struct Item {
    ExpressionBase* node;
    DOMElement* element;
    int index;
  };
  std::vector<Item> work{{this, element, index}};
  while (!work.empty()) {
    Item item = work.back();
    work.pop_back();
    ExpressionBase* node = item.node;
    DOMElement* at = item.element;
    XmlSupport::write_to(at, "Index", item.index);
    XmlSupport::write_to(at, "ExpressionType", static_cast<int>(node->m_Type));
    XmlSupport::write_to(at, "ExpressionText", node->m_Text);
    switch (node->m_Type) {
      case ET_BOOLEAN:
        XmlSupport::write_to(at, "ExpressionValue",
                             node->m_Value.vt == VT_BOOL && node->m_Value.boolVal != 0);
        break;
      case ET_NUMBER:
        XmlSupport::write_to(at, "ExpressionValue",
                             number_text(node->m_Value.vt == VT_R8 ? node->m_Value.dblVal : 0.0));
        break;
      case 2: case 123: case 124: case 193: case 194: case 197:
        XmlSupport::write_to(at, "ExpressionText", node->m_StringValue);
        break;
      default:
        break;
    }
    if (node->m_Expressions.empty()) continue;
    DOMElement* vector = document.addAChild(at, "Vector");
    XmlSupport::write_to(vector, "UniqueName", "ExpressionVector");
    std::vector<Item> children;
    int childIndex = 0;
    for (Expression* child : node->m_Expressions) {
      if (child == nullptr) continue;
      DOMElement* childElement = document.addAChild(vector, "Expression");
      if (auto* base = dynamic_cast<ExpressionBase*>(child))
        children.push_back(Item{base, childElement, childIndex});
      else
        child->save(document, childIndex, childElement);
      ++childIndex;
    }
    work.insert(work.end(), children.rbegin(), children.rend());
  }
}

namespace {

[[noreturn]] void invalid_element(const char* what, const TOVAString& value) {
  support::raise<InvalidXMLExceptionImpl>(moduleName(), support::COMMON_E_EXPRESSION_ELEMENT, what, value);
}

// Calls `visit` with the element of each child node of `element`, in document order.
template <typename Visit>
void for_each_child_element(DOMElement* element, Visit visit) {
  for (DOMNode* n = element->getFirstChild(); n != nullptr; n = n->getNextSibling()) {
    if (n->getNodeType() != DOMNode::ELEMENT_NODE) continue;
    auto* vector = static_cast<DOMElement*>(n);
    if (XmlSupport::getAttribute(vector, "UniqueName") != "ExpressionVector") continue;
    for (DOMNode* c = vector->getFirstChild(); c != nullptr; c = c->getNextSibling())
      if (c->getNodeType() == DOMNode::ELEMENT_NODE) visit(static_cast<DOMElement*>(c));
  }
}

}  // namespace

void ExpressionBase::load(DOMElement* element, NUVA_o::Cube* /*cube*/) {
  if (element == nullptr) invalid_element("element", "null");
  // The depth first, so that a refused document leaves the node as it was.
  {
    const int depth = depth_of(this);
    std::vector<std::pair<DOMElement*, int>> work{{element, depth}};
    while (!work.empty()) {
      auto [at, level] = work.back();
      work.pop_back();
      if (level > MAX_DEPTH) too_deep();
      for_each_child_element(at, [&](DOMElement* child) { work.emplace_back(child, level + 1); });
    }
  }
  std::vector<std::pair<ExpressionBase*, DOMElement*>> work{{this, element}};
  while (!work.empty()) {
    auto [node, at] = work.back();
    work.pop_back();
    TOVAString typeText = XmlSupport::getAttribute(at, "ExpressionType");
    std::string narrow = typeText.string();
    int type = -1;
    auto parsed = std::from_chars(narrow.data(), narrow.data() + narrow.size(), type);
    if (parsed.ec != std::errc() || parsed.ptr != narrow.data() + narrow.size() || type < 0 ||
        type >= ET_COUNT)
      invalid_element("ExpressionType", typeText);
    node->m_Type = static_cast<ExpressionType>(type);
    node->m_Text = XmlSupport::getAttribute(at, "ExpressionText");
    if (type == ET_BOOLEAN) {
      value_clear(node->m_Value);
      node->m_Value.vt = VT_BOOL;
      node->m_Value.boolVal =
          XmlSupport::getBooleanAttribute(at, "ExpressionValue") ? VARIANT_TRUE : VARIANT_FALSE;
    } else if (type == ET_NUMBER) {
      value_clear(node->m_Value);
      node->m_Value.vt = VT_R8;
      double value = 0.0;
      if (!StringConverters::convertStringToReal(XmlSupport::getAttribute(at, "ExpressionValue"), value))
        value = XmlSupport::getRealAttribute(at, "ExpressionValue");
      node->m_Value.dblVal = value;
    } else if (type == 2 || type == 123 || type == 124 || type == 193 || type == 194 ||
               type == 197) {
      node->m_StringValue = node->m_Text;
    }
    std::vector<std::pair<ExpressionBase*, DOMElement*>> children;
    for_each_child_element(at, [&](DOMElement* c) {
      auto* child = new ExpressionBase(static_cast<Expression*>(node));
      node->m_Expressions.push_back(child);
      children.emplace_back(child, c);
    });
    work.insert(work.end(), children.rbegin(), children.rend());
  }
}

}  // namespace common

extern "C" VTQ_EXPORT NUVA_o::Expression* createCommonExpression(NUVA_o::Cube* cube) {
  return new common::ExpressionBase(cube);
}

extern "C" VTQ_EXPORT const char* expressionTypeKeyword(int type) {
  const char* keyword = common::keyword_of(type);
  return keyword ? keyword : "";
}
