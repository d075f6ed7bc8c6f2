#include "ExpressionBase.h"

#include "common/CommonExpression.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <cstdio>
#include <string>

#include "ExpressionNodeTypes.h"
#include "KELLexer.h"
#include "KELParseContext.h"
#include "NUVA_o/Cube.h"
#include "common/CommonParameter.h"
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

using node_types::NodeType;

// What a number outside the types prints as: a function without a keyword.
constexpr NodeType kUnknownType{static_cast<node_types::Type>(-1), nullptr, node_types::SH_FUNCTION};

const NodeType& row_of(int type) {
  const NodeType* row = node_types::find(type);
  return row ? *row : kUnknownType;
}

// The keyword, or "" with the assertion report for a type that has none.
const char* printed_keyword(const NodeType& row) {
  if (row.keyword == nullptr) {
    support_dll::AssertionFailure(
        "! \"Default type processing in ExpressionBase::convert_node_to_string()\"",
        "ExpressionBase.cpp", __LINE__);
    return "";
  }
  return row.keyword;
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

// An infinite or NaN number has no text that reads back, so no tree holds one: refused with
// the code the parser gives a number out of range.
double finite_or_refused(double value) {
  if (!std::isfinite(value))
    support::raise<InvalidExpressionExceptionImpl>(moduleName(), support::COMMON_E_INVALID_NUMBER,
                                                   TOVAString(std::isnan(value) ? "NaN" : "Infinity"));
  return value;
}

// A number as printing and saving write it: plain decimal notation, since the language reads
// no exponent after a blank and older readers of saved documents expect plain digits.
TOVAString number_text(double value) {
  return StringConverters::convertRealToPlainString(finite_or_refused(value));
}

// Refuses a subtree that holds a number node with an infinite or NaN value.
void refuse_unreadable_numbers(Expression* tree) {
  std::vector<Expression*> work{tree};
  while (!work.empty()) {
    Expression* node = work.back();
    work.pop_back();
    if (node == nullptr) continue;
    const VARIANT& value = node->getValue();
    if (node->getType() == Expression::ET_NUMBER && value.vt == VT_R8) finite_or_refused(value.dblVal);
    work.insert(work.end(), node->getExpressions().begin(), node->getExpressions().end());
  }
}

// The value of a number node's element: '.' as the decimal separator, else the exponent form
// older documents hold. A value beyond the range of a double (either way, as the parser sees
// it) reads as infinity, which the caller refuses; text that is no number is refused here
// rather than read as 0.
double number_attribute(DOMElement* element) {
  const TOVAString text = XmlSupport::getAttribute(element, "ExpressionValue");
  double value = 0.0;
  if (text.empty() || StringConverters::convertStringToReal(text, value)) return value;
  const std::string ascii = text.string();
  const char* end = ascii.data() + ascii.size();
  const auto [stop, error] = std::from_chars(ascii.data(), end, value);
  if (error == std::errc::result_out_of_range && stop == end)
    return std::numeric_limits<double>::infinity();
  if (error != std::errc() || stop != end)
    support::raise<InvalidXMLExceptionImpl>(moduleName(), support::COMMON_E_EXPRESSION_ELEMENT, "ExpressionValue", text);
  return value;
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
  if (child != nullptr) {
    auto_unuse<Expression> refused(child);
    refuse_unreadable_numbers(child);
    refused.release();
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
  for (Expression* child : children) refuse_unreadable_numbers(child);
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
                                       std::vector<auto_unuse<NUVA_o::Parameter>>& parameters) {
  std::vector<ExpressionBase*> placeholders;
  std::vector<ExpressionBase*> work{this};
  while (!work.empty()) {
    ExpressionBase* node = work.back();
    work.pop_back();
    if (node->m_Type == ET_PLACEHOLDER) placeholders.push_back(node);
    for (Expression* child : node->m_Expressions)
      if (auto* base = dynamic_cast<ExpressionBase*>(child)) work.push_back(base);
  }
  if (!cube) cube = m_pCube;
  // Every name is found before any node changes, so that an unknown one changes nothing.
  std::vector<NUVA_o::Parameter*> found;
  for (ExpressionBase* node : placeholders) {
    auto it = std::find_if(parameters.begin(), parameters.end(), [node](const auto& parameter) {
      return parameter && parameter->getUniqueName() == node->m_StringValue;
    });
    if (it == parameters.end()) {
      auto_unuse<NUVA_o::Parameter> parameter(cube ? cube->getParameterByName(node->m_StringValue) : nullptr);
      if (!parameter)
        support::raise<InvalidExpressionExceptionImpl>(moduleName(), support::COMMON_E_UNKNOWN_PARAMETER,
                                                       node->m_StringValue);
      parameters.push_back(std::move(parameter));
      it = parameters.end() - 1;
    }
    found.push_back(it->get());
  }
  for (size_t i = 0; i < placeholders.size(); ++i) placeholders[i]->substitute_value(*found[i], cube);
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
    if (node->m_Type == ET_PLACEHOLDER && node->m_StringValue == parameter->getUniqueName())
      node->replace_parameter_with_value(parameter, true);
  }
}

void ExpressionBase::replace_parameter_with_value(const NUVA_o::Parameter* parameter, bool replace) {
  if (!replace || !parameter) return;
  const ExpressionBase* root = this;
  while (auto* parent = dynamic_cast<const ExpressionBase*>(root->m_pParentExpression)) root = parent;
  substitute_value(*parameter, root->m_pCube ? root->m_pCube : parameter->getCube());
}

void ExpressionBase::substitute_value(const NUVA_o::Parameter& parameter, NUVA_o::Cube* cube) {
  auto values = parameter.hasAValue() ? parameter.getParameterValues() : parameter.getParameterDefaultValues();
  TOVAString text;
  for (const auto& value : values) {
    if (value->getValueType() == NUVA_o::ParameterValue::PV_NONE) continue;
    if (!text.empty()) text.append(", ");
    text.append(parameterValueText(*value));
  }
  if (text.empty())
    support::raise<InvalidExpressionExceptionImpl>(moduleName(), support::COMMON_E_PARAMETER_WITHOUT_VALUE,
                                                   parameter.getUniqueName());
  // Several values of a complex parameter stand as one set.
  if (values.size() > 1) text = TOVAString("{") + text + "}";
  auto_unuse<ExpressionBase> parsed(new ExpressionBase(cube));
  parsed->setTextAndCreateTree(text);
  m_bPlaceholderPending = false;
  adopt_contents(*parsed);
}

// ---- listeners ----

void ExpressionBase::addListener(ExpressionListener* listener) const { m_Listeners.add(listener); }

void ExpressionBase::removeListener(ExpressionListener* listener) const { m_Listeners.remove(listener); }

void ExpressionBase::notify_listeners() const {
  // Outside any lock: a listener may re-read, edit or re-parse this expression.
  m_Listeners.notify([this](ExpressionListener* listener) {
    listener->expressionModified(const_cast<ExpressionBase*>(this));
  });
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

using namespace node_types;

void write_leaf(Printer& printer, Expression& node, const NodeType& row) {
  if (row.shape == SH_SILENT) return;
  printer.write(" ");
  switch (row.shape) {
    case SH_QUOTED_NAME:
      printer.write(KELLexer::quoteName(node.getStringValue()));
      break;
    case SH_NUMBER: {
      const VARIANT& value = node.getValue();
      if (value.vt != VT_R8)
        support_dll::AssertionFailure("VV_VT(fValue) == VT_R8", "ExpressionBase.cpp", __LINE__);
      printer.write(number_text(value.vt == VT_R8 ? value.dblVal : 0.0));
      break;
    }
    case SH_BOOLEAN:
      printer.write(node.getValue().vt == VT_BOOL && node.getValue().boolVal ? "True" : "False");
      break;
    case SH_PLACEHOLDER:
      printer.write("<<");
      printer.write(node.getStringValue());
      printer.write(">>");
      break;
    default:
      printer.write(printed_keyword(row));
      break;
  }
  printer.write(" ");
}

// What a node writes before its first operand; `operands` is how many it prints.
void open_node(Printer& printer, Expression& node, const NodeType& row, size_t operands) {
  switch (row.shape) {
    case SH_NATIVE:
      printer.write(" Native ( ");
      printer.write(KELLexer::quoteName(node.getStringValue()));
      printer.write(" ) ");
      break;
    case SH_FUNCTION:
      printer.write(printed_keyword(row));
      printer.write(" (");
      break;
    case SH_NAME_FUNCTION:
      printer.write(printed_keyword(row));
      printer.write(" ( ");
      break;
    case SH_SIGN:
      printer.write(row.affix);
      break;
    case SH_IS_NULL: case SH_CALL: case SH_WRAPPER:
      printer.write(" ");
      break;
    case SH_GROUP:
      if (operands > 0) printer.write(" ( ");
      break;
    case SH_PROPERTY:
      printer.write(" Property( ");
      break;
    default:
      break;
  }
}

// What a node writes before `operand`, any operand but its first.
void between_operands(Printer& printer, const NodeType& row, Expression* operand) {
  switch (row.shape) {
    case SH_BINARY: {
      const char* keyword = printed_keyword(row);
      if (is_word(keyword))
        printer.write_word_operator(keyword);
      else
        printer.write(keyword);
      break;
    }
    case SH_CALL:
      printer.write("(");
      break;
    case SH_RANGE:
      printer.write(":");
      break;
    default:
      // An absent optional word takes its comma with it.
      if (operand == nullptr || row_of(operand->getType()).shape != SH_SILENT) printer.write(",");
      break;
  }
}

void close_node(Printer& printer, const NodeType& row, size_t operands) {
  switch (row.shape) {
    case SH_IS_NULL: printer.write(" Is Null "); break;
    case SH_CALL: printer.write(") "); break;
    case SH_WRAPPER: printer.write(" "); break;
    case SH_GROUP: if (operands > 0) printer.write(" ) "); break;
    case SH_PROPERTY: printer.write(" )"); break;
    case SH_NAME_FUNCTION: printer.write(" ) "); break;
    case SH_FUNCTION:
      if (row.affix) printer.write(row.affix);
      printer.write(") ");
      break;
    default: break;
  }
}

// Whether an operand at `index` with `operand`'s level needs parentheses under `parent`: it
// binds looser than the operator, or as tightly on the side that does not group that way.
bool binds_looser(const NodeType& parent, size_t index, const NodeType& operand) {
  if (parent.level == LV_NONE || operand.level == LV_NONE) return false;
  if (operand.level != parent.level) return operand.level < parent.level;
  if (parent.shape == SH_SIGN) return false;  // "- -1": a sign takes a signed operand
  return index == 0 ? parent.grouping != GR_LEFT : parent.grouping != GR_RIGHT;
}

}  // namespace

bool ExpressionBase::operand_needs_parentheses(int parentType, size_t index, Expression* operand) {
  // Through parentheses the tree holds as nodes: they print as they are, and the ones the
  // operand needs come on top of them.
  const int limit = MAX_DEPTH;
  for (int depth = 0; operand != nullptr && depth < limit; ++depth) {
    const NodeType& row = row_of(operand->getType());
    if (row.shape != SH_GROUP || operand->getExpressions().empty())
      return binds_looser(row_of(parentType), index, row);
    operand = operand->getExpressions().front();
  }
  return false;
}

void ExpressionBase::settle_placeholder() {
  if (!m_bPlaceholderPending) return;
  m_Type = ET_PLACEHOLDER;
  m_StringValue = m_PlaceholderText;
  m_bPlaceholderPending = false;
}

void ExpressionBase::print_into(TOVAString& out) {
  struct Frame {
    ExpressionBase* node;
    const NodeType* row;
    size_t next;
    size_t count;  // operands it prints
    bool wrapped;  // the operand being printed was opened with " ( "
  };
  Printer printer(out);
  std::vector<Frame> stack;
  auto enter = [&](ExpressionBase* node) {
    node->settle_placeholder();
    const NodeType& row = row_of(node->m_Type);
    size_t count = 0;
    if (is_leaf(row.shape)) {
      write_leaf(printer, *node, row);
    } else {
      count = std::min(printed_operands(row.shape), node->m_Expressions.size());
      open_node(printer, *node, row, count);
    }
    stack.push_back(Frame{node, &row, 0, count, false});
  };

  enter(this);
  while (!stack.empty()) {
    Frame& frame = stack.back();
    if (frame.wrapped) {
      printer.write(" ) ");
      frame.wrapped = false;
    }
    if (frame.next >= frame.count) {
      close_node(printer, *frame.row, frame.count);
      stack.pop_back();
      continue;
    }
    const size_t index = frame.next++;
    Expression* child = frame.node->m_Expressions[index];
    if (index > 0) between_operands(printer, *frame.row, child);
    if (child == nullptr) continue;
    if (operand_needs_parentheses(frame.node->m_Type, index, child)) {
      printer.write(" ( ");
      frame.wrapped = true;
    }
    if (auto* base = dynamic_cast<ExpressionBase*>(child))
      enter(base);  // after this, `frame` may have moved
    else
      printer.write(child->getTextFromTree());
  }
}

TOVAString ExpressionBase::getTextFromTree() {
  TOVAString out;
  print_into(out);
  return out;
}

// ---- questions ----

bool ExpressionBase::isRankingExpression() {
  bool ranking = (row_of(m_Type).flags & NF_RANKING) != 0;
  expression_log().logAt(5, "ExpressionBase[%u]::isRankingExpression: %s %s a ranking expression",
                         getInstanceNumber(), m_Text, ranking ? "is" : "is not");
  return ranking;
}

bool ExpressionBase::isAggregateExpression() {
  bool aggregate = false;
  for (Expression* child : m_Expressions)
    if (child && (row_of(child->getType()).flags & NF_AGGREGATE) != 0) aggregate = true;
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
    const NodeType& row = row_of(node->m_Type);
    if (row.shape == SH_BOOLEAN)
      XmlSupport::write_to(at, "ExpressionValue",
                           node->m_Value.vt == VT_BOOL && node->m_Value.boolVal != 0);
    else if (row.shape == SH_NUMBER)
      XmlSupport::write_to(at, "ExpressionValue",
                           number_text(node->m_Value.vt == VT_R8 ? node->m_Value.dblVal : 0.0));
    else if (row.flags & NF_STRING_VALUED)
      XmlSupport::write_to(at, "ExpressionText", node->m_StringValue);
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
  // The depth and the numbers first, so that a refused document leaves the node as it was.
  {
    const TOVAString numberType(std::to_string(ET_NUMBER));
    const int depth = depth_of(this);
    std::vector<std::pair<DOMElement*, int>> work{{element, depth}};
    while (!work.empty()) {
      DOMElement* at = work.back().first;
      const int level = work.back().second;
      work.pop_back();
      if (level > MAX_DEPTH) too_deep();
      if (XmlSupport::getAttribute(at, "ExpressionType") == numberType)
        finite_or_refused(number_attribute(at));
      for_each_child_element(at, [&](DOMElement* child) { work.emplace_back(child, level + 1); });
    }
  }
  std::vector<std::pair<ExpressionBase*, DOMElement*>> work{{this, element}};
  while (!work.empty()) {
    ExpressionBase* node = work.back().first;
    DOMElement* at = work.back().second;
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
    const NodeType& row = row_of(type);
    if (row.shape == SH_BOOLEAN) {
      value_clear(node->m_Value);
      node->m_Value.vt = VT_BOOL;
      node->m_Value.boolVal =
          XmlSupport::getBooleanAttribute(at, "ExpressionValue") ? VARIANT_TRUE : VARIANT_FALSE;
    } else if (row.shape == SH_NUMBER) {
      value_clear(node->m_Value);
      node->m_Value.vt = VT_R8;
      node->m_Value.dblVal = number_attribute(at);
    } else if (row.flags & NF_STRING_VALUED) {
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
  const common::node_types::NodeType* row = common::node_types::find(type);
  return row && row->keyword ? row->keyword : "";
}
