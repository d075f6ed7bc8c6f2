#include "tovasqlexpressioncommon.h"

#include <algorithm>
#include <cassert>
#include <utility>

#include "common/ColumnInfoBase.h"
#include "common/ComponentLog.h"
#include "support/CoreLog.h"
#include "support/ErrorCodes.h"
#include "support/Exceptions.h"
#include "support/StringConverters.h"
#include "tovasqllexer.h"
#include "tovasqlparsecontext.h"

using NUVA_o::tovasql_parser::TOVASQLExpression;

namespace common {

namespace {

using Type = TOVASQLExpression::TOVASQLExpressionType;

const char* type_name(Type type) {
  static const char* const names[] = {
      "TOVASQL_ET_NONE", "TOVASQL_ET_SELECT", "TOVASQL_ET_FIELDLIST", "TOVASQL_ET_FIELD",
      "TOVASQL_ET_FROM", "TOVASQL_ET_HIERARCHY", "TOVASQL_ET_WHERE", "TOVASQL_ET_AND",
      "TOVASQL_ET_OR", "TOVASQL_ET_EQUAL", "TOVASQL_ET_NOTEQUAL", "TOVASQL_ET_LESS",
      "TOVASQL_ET_LESSEQUAL", "TOVASQL_ET_GREATER", "TOVASQL_ET_GREATEREQUAL",
      "TOVASQL_ET_BETWEEN", "TOVASQL_ET_NOTBETWEEN", "TOVASQL_ET_INLIST", "TOVASQL_ET_NOTINLIST",
      "TOVASQL_ET_LIKE", "TOVASQL_ET_NOTLIKE", "TOVASQL_ET_PARAMETER", "TOVASQL_ET_STRINGVALUE",
      "TOVASQL_ET_NUMERICVALUE", "TOVASQL_ET_UNARYMINUS", "TOVASQL_ET_LIST",
      "TOVASQL_ET_GROUPBY", "TOVASQL_ET_GROUPINGSET"};
  const auto index = static_cast<unsigned>(type);
  return index < std::size(names) ? names[index] : "<unknown>";
}

bool is_comparison(Type type) {
  return type >= TOVASQLExpression::TOVASQL_ET_EQUAL &&
         type <= TOVASQLExpression::TOVASQL_ET_NOTBETWEEN;
}

bool is_value(Type type) {
  return type == TOVASQLExpression::TOVASQL_ET_STRINGVALUE ||
         type == TOVASQLExpression::TOVASQL_ET_NUMERICVALUE;
}

// Holds the reference that getChild hands out on a const node.
auto_unuse<TOVASQLExpression> held(const TOVASQLExpression* node) {
  return auto_unuse<TOVASQLExpression>(const_cast<TOVASQLExpression*>(node));
}

int height_of(const TOVASQLExpression* node) {
  auto* common = dynamic_cast<const TOVASQLExpressionCommon*>(node);
  return common ? common->height() : 1;
}

// Whether `name` scans back as one identifier; otherwise it is printed in double quotes.
bool reads_as_identifier(const TOVAString& name) {
  if (name.empty()) return false;
  const char16_t first = name[0];
  if (TOVAFormatLexer::isDigit(first) || first == u'.' || first == u'\n' || first == 0) return false;
  switch (first) {
    case u'"': case u'\'': case u',': case u':': case u';': case u'(': case u')': case u'-':
    case u'*': case u'=': case u'<': case u'>':
      return false;
    default:
      break;
  }
  if (TOVASQLLexer::startsKeyword(name)) return false;
  for (size_t i = 0; i < name.length(); ++i) {
    const char16_t c = name[i];
    if (TOVAFormatLexer::isBlank(c) || TOVAFormatLexer::isOperator(c) || c == u',' ||
        c == u';' || c == u'\'' || c == u'"')
      return false;
  }
  return true;
}

void append_quoted(TOVAString& out, const TOVAString& text, char16_t quote) {
  out.append(quote);
  for (size_t i = 0; i < text.length(); ++i) {
    // Doubled, as the scanner reads a doubled quote as one: printing is the inverse of scanning.
    if (text[i] == quote) out.append(quote);
    out.append(text[i]);
  }
  out.append(quote);
}

void append_name(TOVAString& out, const TOVAString& name) {
  if (reads_as_identifier(name))
    out.append(name);
  else
    append_quoted(out, name, u'"');
}

}  // namespace

TOVASQLExpressionCommon::TOVASQLExpressionCommon(NUVA_o::Cube* cube)
    : RefCountImpl("TOVASQLEXPRESSION", support::nextInstanceNumber<TOVASQLExpressionCommon>()),
      m_pCube(auto_unuse<NUVA_o::Cube>::share(cube)) {
  if (!cube) support_dll::AssertionFailure("pCube != NULL", "tovasqlexpressioncommon", 54);
}

TOVASQLExpressionCommon::TOVASQLExpressionCommon(NUVA_o::Field* field)
    : TOVASQLExpressionCommon(static_cast<NUVA_o::Cube*>(nullptr), TOVASQL_ET_FIELD) {
  if (!field) support_dll::AssertionFailure("pField != NULL", "tovasqlexpressioncommon", 66);
  m_pField = auto_unuse<NUVA_o::Field>::share(field);
}

TOVASQLExpressionCommon::TOVASQLExpressionCommon(NUVA_o::Hierarchy* hierarchy)
    : TOVASQLExpressionCommon(static_cast<NUVA_o::Cube*>(nullptr), TOVASQL_ET_HIERARCHY) {
  if (!hierarchy)
    support_dll::AssertionFailure("pHierarchy != NULL", "tovasqlexpressioncommon", 78);
  m_pHierarchy = auto_unuse<NUVA_o::Hierarchy>::share(hierarchy);
}

TOVASQLExpressionCommon::TOVASQLExpressionCommon(NUVA_o::Parameter* parameter,
                                                 NUVA_o::Field* field)
    : TOVASQLExpressionCommon(static_cast<NUVA_o::Cube*>(nullptr), TOVASQL_ET_PARAMETER) {
  if (!parameter)
    support_dll::AssertionFailure("pParameter != NULL", "tovasqlexpressioncommon", 90);
  m_pParameter = auto_unuse<NUVA_o::Parameter>::share(parameter);
  m_pField = auto_unuse<NUVA_o::Field>::share(field);
}

TOVASQLExpressionCommon::TOVASQLExpressionCommon(NUVA_o::Cube* cube, Type type)
    : RefCountImpl("TOVASQLEXPRESSION", support::nextInstanceNumber<TOVASQLExpressionCommon>()),
      m_pCube(auto_unuse<NUVA_o::Cube>::share(cube)),
      m_Type(type) {}

TOVASQLExpressionCommon::TOVASQLExpressionCommon(const TOVASQLExpressionCommon& other)
    : RefCountImpl("TOVASQLEXPRESSION", support::nextInstanceNumber<TOVASQLExpressionCommon>()),
      m_pCube(other.m_pCube),
      m_pHierarchy(other.m_pHierarchy),
      m_pField(other.m_pField),
      m_pParameter(other.m_pParameter),
      m_Type(other.m_Type),
      m_Children(other.m_Children),
      m_StringValue(other.m_StringValue),
      m_NumericValue(other.m_NumericValue),
      m_bNumericValid(other.m_bNumericValid),
      m_IndexValue(other.m_IndexValue),
      m_bNotPending(other.m_bNotPending),
      m_bGroupingSet(other.m_bGroupingSet),
      m_LowerFilterFields(other.m_LowerFilterFields),
      m_Height(other.m_Height) {}

TOVASQLExpressionCommon::~TOVASQLExpressionCommon() = default;

auto_unuse<TOVASQLExpressionCommon> TOVASQLExpressionCommon::make_node(Type type) const {
  return auto_unuse<Node>(new TOVASQLExpressionCommon(m_pCube.get(), type));
}

void TOVASQLExpressionCommon::adopt(Node& node) const {
  if (!node.m_pCube) node.m_pCube = m_pCube;
}

void TOVASQLExpressionCommon::update_height() {
  int height = 1;
  for (const auto& c : m_Children) height = std::max(height, height_of(c.get()) + 1);
  m_Height = height;
}

void TOVASQLExpressionCommon::raise_sequence(const char* step, size_t needed) const {
  support::raise<InvalidArgumentExceptionImpl>(moduleName(),
                                               support::COMMON_E_TOVASQL_BUILD_SEQUENCE, step,
                                               static_cast<long long>(needed));
}

void TOVASQLExpressionCommon::raise_wrong_kind(const char* operation) const {
  support::raise<UnsupportedOperationExceptionImpl>(
      moduleName(), support::COMMON_E_TOVASQL_WRONG_KIND, operation, type_name(m_Type));
}

// ---- Children and values ----

const TOVASQLExpression* TOVASQLExpressionCommon::getChild(unsigned index) const {
  if (index >= m_Children.size()) return nullptr;
  return m_Children[index].share();
}

void TOVASQLExpressionCommon::replaceChild(unsigned index, const TOVASQLExpression* child) {
  auto_unuse<TOVASQLExpression> taken = held(child);
  if (index >= m_Children.size()) return;
  m_Children[index] = std::move(taken);
  update_height();
}

const TOVAString& TOVASQLExpressionCommon::getStringValue() const {
  switch (m_Type) {
    case TOVASQL_ET_STRINGVALUE:
    case TOVASQL_ET_PARAMETER:
      return m_StringValue;
    case TOVASQL_ET_FIELD:
      return m_pField ? m_pField->getUniqueName() : m_StringValue;
    case TOVASQL_ET_HIERARCHY:
      return m_pHierarchy ? m_pHierarchy->getUniqueName() : m_StringValue;
    default:
      support_dll::AssertionFailure(
          "TOVASQL_ET_STRINGVALUE == m_Type || TOVASQL_ET_FIELD == m_Type || "
          "TOVASQL_ET_HIERARCHY == m_Type || TOVASQL_ET_PARAMETER == m_Type",
          "tovasqlexpressioncommon", 526);
      raise_wrong_kind("getStringValue");
  }
}

void TOVASQLExpressionCommon::set_numeric_value(const TOVAString& text) {
  m_StringValue = text;
  double value = 0.0;
  m_bNumericValid = StringConverters::convertStringToReal(text, value);
  m_NumericValue = m_bNumericValid ? value : 0.0;
}

double TOVASQLExpressionCommon::getDoubleValue() const {
  if (m_Type != TOVASQL_ET_NUMERICVALUE) {
    support_dll::AssertionFailure("TOVASQL_ET_NUMERICVALUE == m_Type", "tovasqlexpressioncommon",
                                  545);
    raise_wrong_kind("getDoubleValue");
  }
  if (!m_bNumericValid)
    support::raise<InvalidCastExceptionImpl>(moduleName(), support::COMMON_E_INVALID_CAST,
                                             "TOVASQLExpressionCommon", "getDoubleValue",
                                             "m_StringValue", "double", m_StringValue);
  return m_NumericValue;
}

int TOVASQLExpressionCommon::getIndexValue() const {
  if (m_Type != TOVASQL_ET_FIELD)
    support_dll::AssertionFailure("TOVASQL_ET_FIELD == m_Type", "tovasqlexpressioncommon", 561);
  return m_IndexValue;
}

// ---- Building ----

void TOVASQLExpressionCommon::write_queue(auto_unuse<Node> node, bool front) {
  if (front)
    m_OperationQueue.push_front(std::move(node));
  else
    m_OperationQueue.push_back(std::move(node));
}

auto_unuse<TOVASQLExpressionCommon> TOVASQLExpressionCommon::read_queue(bool front) {
  // A malformed building sequence must not read past the queue.
  if (m_OperationQueue.empty()) raise_sequence("read_queue", 1);
  auto_unuse<Node> node;
  if (front) {
    node = std::move(m_OperationQueue.front());
    m_OperationQueue.pop_front();
  } else {
    node = std::move(m_OperationQueue.back());
    m_OperationQueue.pop_back();
  }
  return node;
}

void TOVASQLExpressionCommon::clear_queue() {
  m_OperationQueue.clear();
  m_bNotPending = false;
}

void TOVASQLExpressionCommon::add_child_node(auto_unuse<Node> node) {
  const int height = node->m_Height + 1;
  m_Children.emplace_back(std::move(node));
  m_Height = std::max(m_Height, height);
}

NUVA_o::Hierarchy* TOVASQLExpressionCommon::find_hierarchy(const TOVAString& name) const {
  return find_hierarchy(m_pCube.get(), name);
}

NUVA_o::Field* TOVASQLExpressionCommon::find_field(const TOVAString& name) const {
  return find_field(m_pCube.get(), name);
}

NUVA_o::Hierarchy* TOVASQLExpressionCommon::find_hierarchy(const NUVA_o::Cube* cube,
                                                           const TOVAString& name) {
  if (!cube) return nullptr;
  const auto& dimensions = cube->getDimensions();
  for (NUVA_o::Dimension* dimension : dimensions) {
    if (dimension->getUniqueName() == name) {
      if (NUVA_o::Hierarchy* hierarchy = dimension->getHierarchy(name)) return hierarchy;
      break;
    }
  }
  for (NUVA_o::Dimension* dimension : dimensions)
    if (NUVA_o::Hierarchy* hierarchy = dimension->getHierarchy(name)) return hierarchy;
  return nullptr;
}

NUVA_o::Field* TOVASQLExpressionCommon::find_field(const NUVA_o::Cube* cube,
                                                   const TOVAString& name) {
  if (name.empty() || !cube) return nullptr;
  for (NUVA_o::Dimension* dimension : cube->getDimensions()) {
    for (NUVA_o::Hierarchy* hierarchy : dimension->getHierarchies()) {
      const TOVAString& prefix = hierarchy->getUniqueName();
      if (name.length() >= prefix.length() && name.strncmp(prefix, prefix.length(), 0) == 0)
        return hierarchy->getFieldByName(name);
    }
  }
  return nullptr;
}

void TOVASQLExpressionCommon::add_string_node(const TOVAString& text) {
  if (NUVA_o::Hierarchy* hierarchy = find_hierarchy(text)) {
    auto_unuse<Node> node(new TOVASQLExpressionCommon(hierarchy));
    adopt(*node);
    write_queue(std::move(node), false);
    return;
  }
  if (auto_unuse<NUVA_o::Field> field{find_field(text)}) {
    auto_unuse<Node> node(new TOVASQLExpressionCommon(field.get()));
    adopt(*node);
    write_queue(std::move(node), false);
    return;
  }
  auto_unuse<Node> node = make_node(TOVASQL_ET_STRINGVALUE);
  node->m_StringValue = text;
  write_queue(std::move(node), false);
}

void TOVASQLExpressionCommon::add_numeric_node(const TOVAString& text) {
  auto_unuse<Node> node = make_node(TOVASQL_ET_NUMERICVALUE);
  node->set_numeric_value(text);
  write_queue(std::move(node), false);
}

void TOVASQLExpressionCommon::add_expression_node(Type type) {
  switch (type) {
    case TOVASQL_ET_SELECT: {
      auto_unuse<Node> fields = read_queue(true);
      auto_unuse<Node> from = make_node(TOVASQL_ET_FROM);
      while (!m_OperationQueue.empty()) {
        auto_unuse<Node> item = read_queue(true);
        if (item->m_Type != TOVASQL_ET_HIERARCHY)
          support::raise<InvalidExpressionExceptionImpl>(
              moduleName(), support::COMMON_E_TOVASQL_NOT_A_HIERARCHY, item->getText(false));
        from->add_child_node(std::move(item));
      }
      m_Type = TOVASQL_ET_SELECT;
      add_child_node(std::move(fields));
      add_child_node(std::move(from));
      break;
    }
    case TOVASQL_ET_FROM: {
      auto_unuse<Node> fields = make_node(TOVASQL_ET_FIELDLIST);
      while (!m_OperationQueue.empty()) {
        auto_unuse<Node> item = read_queue(true);
        if (item->m_Type != TOVASQL_ET_FIELD && item->m_Type != TOVASQL_ET_PARAMETER)
          support::raise<InvalidExpressionExceptionImpl>(
              moduleName(), support::COMMON_E_TOVASQL_NOT_A_FIELD, item->getText(false));
        fields->add_child_node(std::move(item));
      }
      write_queue(std::move(fields), false);
      break;
    }
    case TOVASQL_ET_WHERE: {
      if (m_OperationQueue.size() != 1)
        support_dll::AssertionFailure("m_OperationQueue.size( ) == 1", "tovasqlexpressioncommon",
                                      851);
      auto_unuse<Node> where = make_node(TOVASQL_ET_WHERE);
      where->add_child_node(read_queue(true));
      add_child_node(std::move(where));
      break;
    }
    case TOVASQL_ET_AND:
    case TOVASQL_ET_OR: {
      if (m_OperationQueue.size() < 2) {
        support_dll::AssertionFailure("m_OperationQueue.size( ) >= 2", "tovasqlexpressioncommon",
                                      978);
        raise_sequence(type == TOVASQL_ET_AND ? "AND" : "OR", 2);
      }
      auto_unuse<Node> b = read_queue(false);
      auto_unuse<Node> a = read_queue(false);
      if (std::max(a->m_Height, b->m_Height) + 1 > MAX_DEPTH)
        support::raise<InvalidExpressionExceptionImpl>(moduleName(),
                                                       support::COMMON_E_PARSER_STACK);
      auto_unuse<Node> node = make_node(type);
      node->add_child_node(std::move(a));
      node->add_child_node(std::move(b));
      write_queue(std::move(node), false);
      break;
    }
    case TOVASQL_ET_EQUAL: case TOVASQL_ET_NOTEQUAL: case TOVASQL_ET_LESS:
    case TOVASQL_ET_LESSEQUAL: case TOVASQL_ET_GREATER: case TOVASQL_ET_GREATEREQUAL:
    case TOVASQL_ET_NOTBETWEEN: case TOVASQL_ET_NOTINLIST: case TOVASQL_ET_NOTLIKE:
    case TOVASQL_ET_BETWEEN: case TOVASQL_ET_INLIST: case TOVASQL_ET_LIKE: {
      Type made = type;
      if (m_bNotPending && (type == TOVASQL_ET_BETWEEN || type == TOVASQL_ET_INLIST ||
                            type == TOVASQL_ET_LIKE)) {
        made = static_cast<Type>(type + 1);
        m_bNotPending = false;
      }
      write_queue(make_node(made), true);
      break;
    }
    case TOVASQL_ET_GROUPBY: {
      if (m_OperationQueue.empty())
        support_dll::AssertionFailure("m_OperationQueue.size( ) >= 1", "tovasqlexpressioncommon",
                                      868);
      auto_unuse<Node> groupBy = make_node(TOVASQL_ET_GROUPBY);
      while (!m_OperationQueue.empty()) {
        auto_unuse<Node> item = read_queue(true);
        if (item->m_Type != TOVASQL_ET_GROUPINGSET)
          support::raise<InvalidExpressionExceptionImpl>(
              moduleName(), support::COMMON_E_TOVASQL_NOT_A_FIELD, item->getText(false));
        groupBy->add_child_node(std::move(item));
      }
      add_child_node(std::move(groupBy));
      break;
    }
    case TOVASQL_ET_GROUPINGSET: {
      if (m_OperationQueue.empty())
        support_dll::AssertionFailure("m_OperationQueue.size( ) >= 1", "tovasqlexpressioncommon",
                                      891);
      auto_unuse<Node> set = make_node(TOVASQL_ET_GROUPINGSET);
      bool measure = false;
      while (!m_OperationQueue.empty()) {
        auto_unuse<Node> item = read_queue(false);
        if (item->m_Type != TOVASQL_ET_FIELD) {
          write_queue(std::move(item), false);
          break;
        }
        measure = measure || (item->m_pField && item->m_pField->isNumeric());
        set->add_child_node(std::move(item));
      }
      if (!measure)
        support::raise<InvalidXMLExceptionImpl>(
            moduleName(), support::COMMON_E_XMLQ_GROUPING_SET_MEASURE, set->getText(true));
      if (!set->m_Children.empty()) write_queue(std::move(set), false);
      break;
    }
    default:
      break;
  }
}

void TOVASQLExpressionCommon::add_expression_node(Type type, unsigned operands) {
  if (m_OperationQueue.size() < operands) raise_sequence(type_name(type), operands);
  auto_unuse<Node> node = make_node(type);
  for (unsigned i = 0; i < operands; ++i) node->add_child_node(read_queue(false));
  write_queue(std::move(node), false);
}

void TOVASQLExpressionCommon::build_constraint(unsigned operands) {
  if (m_OperationQueue.size() < 1 + size_t{operands}) {
    support_dll::AssertionFailure("m_OperationQueue.size( ) >= 1 + nOperands",
                                  "tovasqlexpressioncommon", 1014);
    if (operands > 0) return;
    raise_sequence("build_constraint", 1);
  }
  if (operands > 0) {
    auto_unuse<Node> op = read_queue(true);
    switch (op->m_Type) {
      case TOVASQL_ET_EQUAL: case TOVASQL_ET_NOTEQUAL: case TOVASQL_ET_LESS:
      case TOVASQL_ET_LESSEQUAL: case TOVASQL_ET_GREATER: case TOVASQL_ET_GREATEREQUAL:
      case TOVASQL_ET_LIKE: case TOVASQL_ET_NOTLIKE: {
        auto_unuse<Node> right = read_queue(false);
        auto_unuse<Node> left = read_queue(false);
        op->add_child_node(std::move(left));
        op->add_child_node(std::move(right));
        write_queue(std::move(op), false);
        break;
      }
      case TOVASQL_ET_BETWEEN: case TOVASQL_ET_NOTBETWEEN: {
        if (m_OperationQueue.size() < 3) raise_sequence("BETWEEN", 3);
        auto_unuse<Node> high = read_queue(false);
        auto_unuse<Node> low = read_queue(false);
        auto_unuse<Node> operand = read_queue(false);
        op->add_child_node(std::move(operand));
        op->add_child_node(std::move(low));
        op->add_child_node(std::move(high));
        write_queue(std::move(op), false);
        break;
      }
      default:
        break;
    }
    return;
  }
  auto_unuse<Node> op = read_queue(true);
  if (op->m_Type != TOVASQL_ET_INLIST && op->m_Type != TOVASQL_ET_NOTINLIST) {
    support_dll::AssertionFailure("nOperands > 0", "tovasqlexpressioncommon", 1064);
    return;
  }
  auto_unuse<Node> list = make_node(TOVASQL_ET_LIST);
  for (;;) {
    // The operand ends the values; a queue without one is a malformed sequence.
    auto_unuse<Node> item = read_queue(false);
    if (is_value(item->m_Type)) {
      list->add_child_node(std::move(item));
      continue;
    }
    op->add_child_node(std::move(item));
    op->add_child_node(std::move(list));
    break;
  }
  write_queue(std::move(op), false);
}

void TOVASQLExpressionCommon::reset_tree() {
  clear_queue();
  m_Children.clear();
  m_Type = TOVASQL_ET_NONE;
  m_Height = 1;
}

void TOVASQLExpressionCommon::setTextAndCreateTree(const TOVAString& text) {
  if (!m_pCube) return;
  reset_tree();
  TOVASQLLexer lexer(text, m_pCube.get());
  try {
    TovasqlParseContext context(lexer, *this);
    context.parse();
  } catch (...) {
    reset_tree();
    throw;
  }
  clear_queue();
}

// ---- Printing ----

TOVAString TOVASQLExpressionCommon::getText(bool spaced) const {
  TOVAString out;
  print_into(out, spaced);
  return out;
}

namespace {

void print_child(TOVAString& out, const TOVASQLExpression* child, bool spaced) {
  if (!child) return;
  if (auto* common = dynamic_cast<const TOVASQLExpressionCommon*>(child))
    common->print(out, spaced);
  else
    out.append(child->getText(spaced));
}

}  // namespace

void TOVASQLExpressionCommon::print(TOVAString& out, bool spaced) const { print_into(out, spaced); }

void TOVASQLExpressionCommon::print_into(TOVAString& out, bool spaced) const {
  if (spaced && m_Type != TOVASQL_ET_SELECT && m_Type != TOVASQL_ET_FIELDLIST &&
      !is_comparison(m_Type))
    out.append(u' ');
  auto list = [&](const char* head, const char* tail, bool childSpaced, bool reversed) {
    out.append(head);
    const size_t n = m_Children.size();
    for (size_t i = 0; i < n; ++i) {
      if (i > 0) out.append(u',');
      print_child(out, m_Children[reversed ? n - 1 - i : i].get(), childSpaced);
    }
    out.append(tail);
  };
  switch (m_Type) {
    case TOVASQL_ET_SELECT:
      out.append("SELECT");
      for (const auto& c : m_Children) print_child(out, c.get(), true);
      break;
    case TOVASQL_ET_FIELDLIST: list("", "", spaced, false); break;
    case TOVASQL_ET_FROM: list("FROM", "", spaced, false); break;
    case TOVASQL_ET_GROUPBY: list("GROUP BY", "", spaced, false); break;
    case TOVASQL_ET_GROUPINGSET: list("{ ", " }", spaced, false); break;
    // The values are held last first (the IN form collects them from the back of the
    // queue); printed in the order they were written, so that the text reads back the same.
    case TOVASQL_ET_LIST: list("(", ")", true, true); break;
    case TOVASQL_ET_FIELD:
    case TOVASQL_ET_HIERARCHY:
      append_name(out, getStringValue());
      break;
    case TOVASQL_ET_WHERE:
      out.append("WHERE");
      print_child(out, child(0), true);
      break;
    case TOVASQL_ET_AND:
    case TOVASQL_ET_OR:
      print_child(out, child(0), true);
      out.append(m_Type == TOVASQL_ET_AND ? " AND " : " OR ");
      print_child(out, child(1), true);
      break;
    case TOVASQL_ET_EQUAL: case TOVASQL_ET_NOTEQUAL: case TOVASQL_ET_LESS:
    case TOVASQL_ET_LESSEQUAL: case TOVASQL_ET_GREATER: case TOVASQL_ET_GREATEREQUAL: {
      static const char* const ops[] = {" =", " <>", " <", " <=", " >", " >="};
      print_child(out, child(0), true);
      out.append(ops[m_Type - TOVASQL_ET_EQUAL]);
      print_child(out, child(1), true);
      break;
    }
    case TOVASQL_ET_BETWEEN:
    case TOVASQL_ET_NOTBETWEEN:
      print_child(out, child(0), true);
      out.append(m_Type == TOVASQL_ET_NOTBETWEEN ? " NOT BETWEEN" : " BETWEEN");
      print_child(out, child(1), true);
      out.append(" AND");
      print_child(out, child(2), true);
      break;
    case TOVASQL_ET_INLIST:
    case TOVASQL_ET_NOTINLIST:
      print_child(out, child(0), true);
      out.append(m_Type == TOVASQL_ET_NOTINLIST ? " NOT IN" : " IN");
      print_child(out, child(1), true);
      break;
    case TOVASQL_ET_LIKE:
    case TOVASQL_ET_NOTLIKE:
      print_child(out, child(0), true);
      out.append(m_Type == TOVASQL_ET_NOTLIKE ? " NOT LIKE" : " LIKE");
      print_child(out, child(1), true);
      break;
    case TOVASQL_ET_PARAMETER:
      out.append(m_StringValue);
      if (m_pField) {
        out.append(u' ');
        append_name(out, m_pField->getUniqueName());
      }
      break;
    case TOVASQL_ET_STRINGVALUE:
      append_quoted(out, m_StringValue, u'\'');
      break;
    case TOVASQL_ET_NUMERICVALUE:
      out.append(m_StringValue);
      break;
    default:
      break;
  }
}

void TOVASQLExpressionCommon::toString(TOVAString& out) const {
  out.clear();
  TOVAString prefix;
  dump_into(out, prefix);
}

void TOVASQLExpressionCommon::dump_into(TOVAString& out, TOVAString& prefix) const {
  out.append(prefix);
  out.buildAppend("Type:%s, chld:%lu", type_name(m_Type), m_Children.size());
  if (m_Type == TOVASQL_ET_FIELD || m_Type == TOVASQL_ET_STRINGVALUE ||
      m_Type == TOVASQL_ET_HIERARCHY || m_Type == TOVASQL_ET_PARAMETER) {
    out.append(", str:");
    out.append(getStringValue());
  }
  out.append(u'\n');
  const size_t length = prefix.length();
  prefix.append("|-");
  for (const auto& c : m_Children) {
    if (auto* common = dynamic_cast<const TOVASQLExpressionCommon*>(c.get())) {
      common->dump_into(out, prefix);
    } else {
      TOVAString other;
      c->toString(other);
      out.append(other);
    }
  }
  prefix.u16().resize(length);
}

// ---- Columns ----

void TOVASQLExpressionCommon::set_display_size(NUVA_o::ColumnInfo& column) const {
  int size = -1;
  switch (column.getDataType()) {
    case support::DT_SI8: size = 4; break;
    case support::DT_UI8: size = 3; break;
    case support::DT_SI16: size = 6; break;
    case support::DT_UI16: size = 5; break;
    case support::DT_SI32: size = 11; break;
    case support::DT_UI32: case support::DT_DATE: size = 10; break;
    case support::DT_SI64: case support::DT_UI64: size = 20; break;
    case support::DT_FLOAT: size = 13; break;
    case support::DT_DOUBLE: size = 22; break;
    case support::DT_CURRENCY: size = 21; break;
    case support::DT_BOOLEAN: size = 1; break;
    case support::DT_TIME: size = 8; break;
    case support::DT_DATETIME: size = 29; break;
    case support::DT_NULL: case support::DT_UCS2: case support::DT_UTF8:
    case support::DT_PTR_UCS2: case support::DT_PTR_UTF8:
      size = m_pCube ? m_pCube->getStringColumnDisplaySize() : -1;
      break;
    default:
      break;
  }
  if (size == -1) {
    support_dll::AssertionFailure("-1 != displaySize", "tovasqlexpressioncommon", 1340);
    return;
  }
  column.setColumnDisplaySize(static_cast<unsigned>(size));
}

void TOVASQLExpressionCommon::push_fields(const TOVASQLExpression& node, ColumnInfos& out) const {
  if (auto* field = const_cast<NUVA_o::Field*>(node.getField())) {
    auto_unuse<NUVA_o::ColumnInfo> column(
        new ColumnInfoBase(field, static_cast<unsigned>(out.size())));
    set_display_size(*column);
    out.push_back(std::move(column));
  }
  for (unsigned i = 0; i < node.getNumChildren(); ++i) {
    auto_unuse<TOVASQLExpression> c = held(node.getChild(i));
    push_fields(*c, out);
  }
}

void TOVASQLExpressionCommon::getColumnInfos(ColumnInfos& out) const {
  out.clear();
  if (m_Type != TOVASQL_ET_SELECT) {
    support_dll::AssertionFailure("TOVASQL_ET_SELECT == m_Type", "tovasqlexpressioncommon", 587);
    return;
  }
  if (!m_pCube) support_dll::AssertionFailure("m_pCube", "tovasqlexpressioncommon", 596);
  if (const TOVASQLExpression* fields = child(0)) push_fields(*fields, out);
}

void TOVASQLExpressionCommon::getColumnInfosForGroupingSet(unsigned set, ColumnInfos& out) const {
  if (m_Type != TOVASQL_ET_SELECT) {
    support_dll::AssertionFailure("TOVASQL_ET_SELECT == m_Type", "tovasqlexpressioncommon", 607);
    return;
  }
  const TOVASQLExpression* groupBy = child(2);
  if (groupBy && groupBy->getType() != TOVASQL_ET_GROUPBY) groupBy = child(3);
  if (!groupBy || groupBy->getType() != TOVASQL_ET_GROUPBY) return;
  auto_unuse<TOVASQLExpression> grouping = held(groupBy->getChild(set));
  if (!grouping || grouping->getType() != TOVASQL_ET_GROUPINGSET) return;
  ColumnInfos all;
  getColumnInfos(all);
  for (unsigned i = 0; i < grouping->getNumChildren(); ++i) {
    auto_unuse<TOVASQLExpression> item = held(grouping->getChild(i));
    auto* field = const_cast<NUVA_o::Field*>(item->getField());
    if (!field) continue;
    for (const auto& column : all) {
      if (column->getUniqueName() == field->getUniqueName()) {
        auto_unuse<NUVA_o::ColumnInfo> copy(new ColumnInfoBase(field, column->getOrdinal()));
        set_display_size(*copy);
        out.push_back(std::move(copy));
        break;
      }
    }
  }
}

void TOVASQLExpressionCommon::getExtraDatasetColumnInfos(ColumnInfos& out, unsigned list) const {
  if (m_Type != TOVASQL_ET_SELECT)
    support_dll::AssertionFailure("TOVASQL_ET_SELECT == m_Type", "tovasqlexpressioncommon", 1538);
  if (list >= m_LowerFilterFields.size()) return;
  for (const auto& field : m_LowerFilterFields[list]) {
    if (!field) continue;
    auto_unuse<NUVA_o::ColumnInfo> column(
        new ColumnInfoBase(field.get(), static_cast<unsigned>(out.size())));
    set_display_size(*column);
    out.push_back(std::move(column));
  }
}

void TOVASQLExpressionCommon::setLowerFilterFieldsAddedToRowFields(const FieldLists& lists) {
  m_LowerFilterFields = lists;
}

// ---- Copies ----

TOVASQLExpression* TOVASQLExpressionCommon::invert() const {
  Type inverted;
  switch (m_Type) {
    case TOVASQL_ET_EQUAL: inverted = TOVASQL_ET_NOTEQUAL; break;
    case TOVASQL_ET_NOTEQUAL: inverted = TOVASQL_ET_EQUAL; break;
    case TOVASQL_ET_LESS: inverted = TOVASQL_ET_GREATEREQUAL; break;
    case TOVASQL_ET_LESSEQUAL: inverted = TOVASQL_ET_GREATER; break;
    case TOVASQL_ET_GREATER: inverted = TOVASQL_ET_LESSEQUAL; break;
    case TOVASQL_ET_GREATEREQUAL: inverted = TOVASQL_ET_LESS; break;
    case TOVASQL_ET_BETWEEN: inverted = TOVASQL_ET_NOTBETWEEN; break;
    case TOVASQL_ET_NOTBETWEEN: inverted = TOVASQL_ET_BETWEEN; break;
    case TOVASQL_ET_INLIST: inverted = TOVASQL_ET_NOTINLIST; break;
    case TOVASQL_ET_NOTINLIST: inverted = TOVASQL_ET_INLIST; break;
    case TOVASQL_ET_LIKE: inverted = TOVASQL_ET_NOTLIKE; break;
    case TOVASQL_ET_NOTLIKE: inverted = TOVASQL_ET_LIKE; break;
    default: return nullptr;
  }
  auto* copy = new TOVASQLExpressionCommon(*this);
  copy->m_Type = inverted;
  return copy;
}

TOVASQLExpression* TOVASQLExpressionCommon::clone() const {
  auto_unuse<TOVASQLExpressionCommon> copy(new TOVASQLExpressionCommon(*this));
  copy->m_OperationQueue.clear();
  for (auto& c : copy->m_Children) c = auto_unuse<TOVASQLExpression>(c->clone());
  return copy.release();
}

// ---- Lists of values ----

bool TOVASQLExpressionCommon::useRegularLOVRowset() const {
  const TOVASQLExpression* fields = child(0);
  if (!fields || fields->getNumChildren() == 0) return false;
  auto_unuse<TOVASQLExpression> first = held(fields->getChild(0));
  const NUVA_o::Field* field = first->getField();
  if (!field || !field->getHierarchy() || field->isNumeric()) return false;
  const TOVAString dimension = field->getHierarchy()->getDimension()->getUniqueName();
  const TOVAString& level = field->getLevelUniqueName();
  unsigned levelNumber = field->getLevelNumber();
  for (unsigned i = 1; i < fields->getNumChildren(); ++i) {
    auto_unuse<TOVASQLExpression> entry = held(fields->getChild(i));
    const NUVA_o::Field* other = entry->getField();
    if (!other || other->getLevelUniqueName() != level || other->isNumeric()) return false;
    levelNumber = other->getLevelNumber();
  }
  const TOVASQLExpression* where = child(2);
  if (!where || where->getType() != TOVASQL_ET_WHERE || where->getNumChildren() == 0) return true;
  auto_unuse<TOVASQLExpression> condition = held(where->getChild(0));
  return condition->checkRegularLOVWhereNode(dimension, levelNumber);
}

bool TOVASQLExpressionCommon::checkRegularLOVWhereNode(const TOVAString& dimension,
                                                       unsigned level) const {
  unsigned filters = 0;
  if (m_Type != TOVASQL_ET_AND) return checkRegularLOVFilterNode(dimension, level, filters);
  const TOVASQLExpression* left = child(0);
  const TOVASQLExpression* right = child(1);
  return left && right && left->checkRegularLOVFilterNode(dimension, level, filters) &&
         right->checkRegularLOVFilterNode(dimension, level, filters);
}

bool TOVASQLExpressionCommon::checkRegularLOVFilterNode(const TOVAString& dimension,
                                                        unsigned level,
                                                        unsigned& filters) const {
  if (m_Type == TOVASQL_ET_AND) return false;
  if (++filters == 2) return false;
  const TOVASQLExpression* operand = child(0);
  const NUVA_o::Field* field = operand ? operand->getField() : nullptr;
  if (!field || !field->getHierarchy() ||
      field->getHierarchy()->getDimension()->getUniqueName() != dimension)
    return false;
  if (field->getLevelNumber() > level) return false;
  if (field->getLevelNumber() == level) return true;
  const TOVASQLExpression* values = child(1);
  return (m_Type == TOVASQL_ET_INLIST || m_Type == TOVASQL_ET_EQUAL) &&
         field->getFieldCategory() == 0 && values && values->getNumChildren() <= 1;
}

}  // namespace common
