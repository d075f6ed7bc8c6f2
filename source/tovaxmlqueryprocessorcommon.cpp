#include "tovaxmlqueryprocessorcommon.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <string_view>
#include <utility>

#include "common/ComponentLog.h"
#include "support/ErrorCodes.h"
#include "support/Exceptions.h"
#include "support/StringConverters.h"
#include "tovasqlexpressionbuildercommon.h"

namespace common {

namespace {

using NUVA_o::Parameter;
using Tree = NUVA_o::tovasql_parser::TOVASQLExpression;
using Type = Tree::TOVASQLExpressionType;

[[noreturn]] void missing(const char* element, const char* where) {
  support::raise<InvalidXMLExceptionImpl>(moduleName(), support::COMMON_E_XMLQ_MISSING_ELEMENT,
                                          element, where);
}

DOMElement* required_child(const DOMElement* parent, const char16_t* name, const char* where) {
  DOMElement* child = XmlSupport::findChild(parent, name);
  if (!child) missing(TOVAString(name).string().c_str(), where);
  return child;
}

// A column or grouping index: decimal digits with an optional sign, within int's range.
int parse_index(const TOVAString& text, const char* attribute) {
  const std::string digits = text.string();
  int value = 0;
  const char* end = digits.data() + digits.size();
  auto [stop, error] = std::from_chars(digits.data(), end, value);
  if (digits.empty() || error != std::errc() || stop != end)
    support::raise<InvalidXMLExceptionImpl>(moduleName(), support::COMMON_E_XMLQ_BAD_VALUE,
                                            attribute, text);
  return value;
}

// An OPERATORCONDITION: its node type and the number of constants it takes (0: one or more).
struct Comparison {
  Type type;
  unsigned constants;
};

Comparison comparison_of(const TOVAString& name) {
  static const std::pair<const char*, Comparison> table[] = {
      {"Equal", {Tree::TOVASQL_ET_EQUAL, 1}},
      {"NotEqual", {Tree::TOVASQL_ET_NOTEQUAL, 1}},
      {"Greater", {Tree::TOVASQL_ET_GREATER, 1}},
      {"GreaterOrEqual", {Tree::TOVASQL_ET_GREATEREQUAL, 1}},
      {"Less", {Tree::TOVASQL_ET_LESS, 1}},
      {"LessOrEqual", {Tree::TOVASQL_ET_LESSEQUAL, 1}},
      {"Like", {Tree::TOVASQL_ET_LIKE, 1}},
      {"NotLike", {Tree::TOVASQL_ET_NOTLIKE, 1}},
      {"Between", {Tree::TOVASQL_ET_BETWEEN, 2}},
      {"NotBetween", {Tree::TOVASQL_ET_NOTBETWEEN, 2}},
      {"InList", {Tree::TOVASQL_ET_INLIST, 0}},
      {"NotInList", {Tree::TOVASQL_ET_NOTINLIST, 0}},
  };
  for (const auto& [text, comparison] : table)
    if (name == text) return comparison;
  for (const char* unsupported : {"StartsWith", "NotStartsWith", "IsNull", "NotIsNull"})
    if (name == unsupported)
      support::raise<UnsupportedOperationExceptionImpl>(
          moduleName(), support::COMMON_E_XMLQ_UNSUPPORTED_OPERATOR, name);
  support::raise<InvalidXMLExceptionImpl>(moduleName(), support::COMMON_E_XMLQ_BAD_VALUE,
                                          "OPERATORCONDITION", name);
}

// The constants of a FILTER's CONDITION, checked against what its operator takes.
std::vector<XmlQueryConstant> constants_for(const DOMElement* filter, Comparison& comparison) {
  const DOMElement* condition = requiredCondition(filter);
  const TOVAString name = XmlSupport::getAttribute(condition, u"OPERATORCONDITION");
  comparison = comparison_of(name);
  std::vector<XmlQueryConstant> constants = readConstants(condition);
  const bool fits = comparison.constants == 0 ? !constants.empty()
                                              : constants.size() == comparison.constants;
  if (!fits)
    support::raise<InvalidXMLExceptionImpl>(moduleName(), support::COMMON_E_XMLQ_CONSTANT_COUNT,
                                            name, constants.size());
  return constants;
}

bool is_named(const DOMElement* element, const char16_t* name) {
  return element && std::u16string_view(element->getTagName()) == name;
}

}  // namespace

TOVAXMLQueryProcessorCommon::TOVAXMLQueryProcessorCommon(
    auto_unuse<TOVASQLExpressionBuilder> builder, NUVA_o::Cube* cube)
    : RefCountImpl("TOVAXMLQUERYPROCESSORCOMMON",
                   support::nextInstanceNumber<TOVAXMLQueryProcessorCommon>()),
      m_pCube(auto_unuse<NUVA_o::Cube>::share(cube)),
      m_pBuilder(std::move(builder)),
      m_pResolver(new TOVAXMLQueryResolver(cube)) {}

TOVAXMLQueryProcessorCommon::~TOVAXMLQueryProcessorCommon() {
  // A processor released between a key-date step and its end must not leave the parameter's
  // events held.
  end_keydate(false);
}

Tree* TOVAXMLQueryProcessorCommon::parseXML(const TOVAString& xml) { return parse_xml(xml, {}); }

Tree* TOVAXMLQueryProcessorCommon::parse_xml(const TOVAString& xml,
                                             const std::function<void(const Tree&)>& accept) {
  if (!m_pCube || !m_pBuilder)
    support::raise<InvalidArgumentExceptionImpl>(moduleName(), support::COMMON_E_NOT_BOUND,
                                                 "TOVAXMLQueryProcessorCommon::parseXML");
  XmlSupport document;
  // A byte order mark that survived decoding marks the text, it is no part of the document.
  const bool marked = !xml.empty() && xml[0] == u'\uFEFF';
  if (!document.parseXML(marked ? xml.substr(1) : xml))
    support::raise<InvalidXMLExceptionImpl>(moduleName(), support::COMMON_E_XMLQ_NOT_WELL_FORMED,
                                            document.getParseError());
  DOMElement* root = document.getDocumentElement();
  DOMElement* commands = is_named(root, u"DPCOMMANDS") ? root : XmlSupport::findChild(root, u"DPCOMMANDS");
  if (!commands) missing("DPCOMMANDS", "as the document element or its child");
  DOMElement* command = required_child(commands, u"DPCOMMAND", "in DPCOMMANDS");
  DOMElement* dp = required_child(command, u"DP", "in DPCOMMAND");
  DOMElement* query = required_child(dp, u"QUERY", "in DP");
  DOMElement* result = required_child(query, u"QUERYRESULT", "in QUERY");
  const std::vector<DOMElement*> objects =
      XmlSupport::getDescendantElementsByTagName(result, u"QUERYOBJECT");
  if (objects.empty()) missing("QUERYOBJECT", "in QUERYRESULT");
  DOMElement* where = XmlSupport::findChild(XmlSupport::findChild(query, u"QUERYCONDITION"), u"WHERE");
  m_pWhere = where && where->hasChildNodes() ? XmlSupport::getFirstChildElement(where) : nullptr;
  m_KeyDates.clear();
  if (m_pCube->hasParameters())
    for (auto& parameter : m_pCube->getParameters())
      if (parameter->isServerProvided() && parameter->getType() == Parameter::PT_KEYDATE)
        m_KeyDates.push_back(std::move(parameter));
  // The whole condition is checked before anything is built or any parameter touched.
  unsigned filters = 0, keyDates = 0;
  if (m_pWhere) check_conditions(m_pWhere, 1, filters, keyDates);
  const std::vector<DOMElement*> sets = XmlSupport::getDescendantElementsByTagName(
      XmlSupport::findChild(query, u"GROUPINGSETS"), u"GROUPINGSET");

  m_FromHierarchies.clear();
  m_pBuilder->buildNewExpression(m_pCube.get());
  try {
    if (m_pWhere) processKeydateVariable(m_pWhere);
    buildQueryColumns(objects);
    m_pBuilder->buildExpressionNode(Tree::TOVASQL_ET_FROM);
    for (const TOVAString& hierarchy : m_FromHierarchies) m_pBuilder->buildStringNode(hierarchy);
    m_pBuilder->buildExpressionNode(Tree::TOVASQL_ET_SELECT);
    if (m_pWhere && processWhereNodeClause(m_pWhere))
      m_pBuilder->buildExpressionNode(Tree::TOVASQL_ET_WHERE);
    buildGroupingSets(sets);
    auto_unuse<Tree> tree(m_pBuilder->takeRoot());
    if (!tree || tree->getType() != Tree::TOVASQL_ET_SELECT)
      missing("QUERYOBJECT", "that makes a column");
    if (const Tree* last = tree->getChild(tree->getNumChildren() - 1)) {
      tree->setGroupingSetStatus(last->getType() == Tree::TOVASQL_ET_GROUPBY);
      const_cast<Tree*>(last)->unuse();  // getChild gave a reference
    }
    if (accept) accept(*tree);
    end_keydate(true);
    m_pWhere = nullptr;
    return tree.release();
  } catch (const olap_api::InvalidArgumentException& e) {
    end_keydate(false);
    m_pWhere = nullptr;
    // A building step that found too little on the queue: the document, not the caller, is
    // at fault.
    if (e.getCode() == support::COMMON_E_TOVASQL_BUILD_SEQUENCE)
      support::raise<InvalidXMLExceptionImpl>(moduleName(), support::COMMON_E_XMLQ_INCOMPLETE, e);
    throw;
  } catch (...) {
    end_keydate(false);
    m_pWhere = nullptr;
    throw;
  }
}

void TOVAXMLQueryProcessorCommon::check_conditions(const DOMElement* element, unsigned depth,
                                                   unsigned& filters, unsigned& keyDates) const {
  if (depth > MAX_NESTING)
    support::raise<InvalidXMLExceptionImpl>(moduleName(), support::COMMON_E_XMLQ_LIMIT,
                                            "levels of nested conditions", MAX_NESTING);
  if (is_named(element, u"FILTER")) {
    if (++filters > MAX_CONDITIONS)
      support::raise<InvalidXMLExceptionImpl>(moduleName(), support::COMMON_E_XMLQ_LIMIT,
                                              "FILTER conditions", MAX_CONDITIONS);
    // One key date per document: a second would be dropped without a word.
    if (keydate_parameter(XmlSupport::getAttribute(element, u"KEY")) && ++keyDates > 1)
      support::raise<InvalidXMLExceptionImpl>(moduleName(), support::COMMON_E_XMLQ_LIMIT,
                                              "key-date filters", 1);
    return;
  }
  if (!is_named(element, u"OPERATOR"))
    support::raise<InvalidXMLExceptionImpl>(moduleName(),
                                            support::COMMON_E_XMLQ_UNEXPECTED_ELEMENT,
                                            XmlSupport::getNodeName(element), "in a condition");
  const TOVAString value = XmlSupport::getAttribute(element, u"VALUE");
  if (value != "AND" && value != "OR")
    support::raise<InvalidXMLExceptionImpl>(moduleName(), support::COMMON_E_XMLQ_BAD_VALUE,
                                            "OPERATOR", value);
  bool any = false;
  for (DOMNode* child = element->getFirstChild(); child; child = child->getNextSibling()) {
    if (child->getNodeType() != DOMNode::ELEMENT_NODE) continue;
    check_conditions(static_cast<DOMElement*>(child), depth + 1, filters, keyDates);
    any = true;
  }
  if (!any) missing("FILTER or OPERATOR", "in an OPERATOR");
}

// ---- key dates

auto_unuse<NUVA_o::Parameter> TOVAXMLQueryProcessorCommon::keydate_parameter(
    const TOVAString& key) const {
  // Compared with the few key-date prompts found once per document: asking the cube for
  // every filter's key was a tenth of the work.
  for (const auto& parameter : m_KeyDates) {
    const TOVAString& name = parameter->getUniqueName();
    if (key == name || (key.size() + 2 == name.size() && name[0] == u'[' &&
                        name.u16().compare(1, key.size(), key.u16()) == 0))
      return auto_unuse<NUVA_o::Parameter>::share(parameter.get());
  }
  return auto_unuse<NUVA_o::Parameter>();
}

bool TOVAXMLQueryProcessorCommon::find_keydate_filter(const DOMElement* condition,
                                                      const DOMElement*& filter,
                                                      auto_unuse<NUVA_o::Parameter>& parameter) const {
  if (is_named(condition, u"FILTER")) {
    parameter = keydate_parameter(XmlSupport::getAttribute(condition, u"KEY"));
    if (parameter) filter = condition;
    return static_cast<bool>(parameter);
  }
  for (DOMNode* child = condition->getFirstChild(); child; child = child->getNextSibling())
    if (child->getNodeType() == DOMNode::ELEMENT_NODE &&
        find_keydate_filter(static_cast<DOMElement*>(child), filter, parameter))
      return true;
  return false;
}

void TOVAXMLQueryProcessorCommon::processKeydateVariable(const DOMElement* condition) {
  const DOMElement* filter = nullptr;
  auto_unuse<NUVA_o::Parameter> parameter;
  if (!find_keydate_filter(condition, filter, parameter)) return;
  Comparison comparison{};
  const std::vector<XmlQueryConstant> constants = constants_for(filter, comparison);
  if (comparison.type != Tree::TOVASQL_ET_EQUAL)
    support::raise<InvalidXMLExceptionImpl>(
        moduleName(), support::COMMON_E_XMLQ_BAD_VALUE, "OPERATORCONDITION",
        XmlSupport::getAttribute(requiredCondition(filter), u"OPERATORCONDITION"));
  parameter->beginParameterTransaction();
  // Whatever fails between begin and commit must not leave the parameter's events held.
  try {
    parameter->clearParameterValues();
    auto_unuse<NUVA_o::ParameterValue> value(parameter->createParameterValue(true));
    value->setStringValue(constants.front().value, false);
  } catch (...) {
    parameter->rollbackParameterTransaction();
    throw;
  }
  m_pKeyDate = std::move(parameter);
  xmlQueryProcessorLog().logAt(4, "Key date %s set to %s for an XML query.",
                               m_pKeyDate->getUniqueName(), constants.front().value);
}

void TOVAXMLQueryProcessorCommon::end_keydate(bool commit) {
  auto_unuse<NUVA_o::Parameter> parameter = std::move(m_pKeyDate);
  if (!parameter || !parameter->isInTransaction()) return;
  if (commit)
    parameter->commitParameterTransaction();
  else
    parameter->rollbackParameterTransaction();
}

// ---- columns

void TOVAXMLQueryProcessorCommon::use_field(const NUVA_o::Field& field) {
  const NUVA_o::Hierarchy* hierarchy = field.getHierarchy();
  if (m_bSingleHierarchy) insert_hierarchy_into_map(hierarchy);
  if (!hierarchy || field.isNumeric()) return;
  const TOVAString& name = hierarchy->getUniqueName();
  if (std::find(m_FromHierarchies.begin(), m_FromHierarchies.end(), name) == m_FromHierarchies.end())
    m_FromHierarchies.push_back(name);
}

auto_unuse<NUVA_o::Field> TOVAXMLQueryProcessorCommon::resolve_variable(
    const TOVAString& key, NUVA_o::Parameter& parameter) const {
  const TOVAString path = keyPathAfterVariable(key);
  auto_unuse<NUVA_o::Field> field;
  if (parameter.getType() == Parameter::PT_HIERARCHY) {
    // The hierarchy the prompt chooses now, else its default.
    auto values = parameter.getParameterValues();
    if (values.size() == 1 && !values[0]->getStringValue().empty())
      field = m_pResolver->resolveToField(values[0]->getStringValue() + path);
    if (!field) field = m_pResolver->resolveToFieldFromVariableDefaultValues(key, &parameter);
    if (!field) field = m_pResolver->resolveToFieldFromHierarchyVariable(key, &parameter);
    return field;
  }
  field = m_pResolver->resolveToFieldFromVariableDefaultValues(key, &parameter);
  // A member prompt stands for its hierarchy.
  if (!field && !path.empty() && parameter.getHierarchy())
    field = m_pResolver->resolveToField(parameter.getHierarchy()->getUniqueName() + path);
  return field;
}

void TOVAXMLQueryProcessorCommon::buildQueryColumns(const std::vector<DOMElement*>& objects) {
  m_bSingleHierarchy = !m_pCube->supports(NUVA_o::Cube::SUPPORTS_MULTIPLE_HIERARCHY_QUERY);
  for (const DOMElement* object : objects) {
    const TOVAString key = XmlSupport::getAttribute(object, u"KEY");
    const bool hasIndex = XmlSupport::hasAttribute(object, u"INDEX");
    const int index = hasIndex ? parse_index(XmlSupport::getAttribute(object, u"INDEX"), "INDEX") : 0;
    auto_unuse<NUVA_o::Field> field = m_pResolver->resolveToField(key);
    if (!field && key.empty()) {
      const TOVAString expression = XmlSupport::getAttribute(object, u"EXPRESSION");
      field = m_pResolver->resolveToCalculatedField(expression);
      if (!field)
        support::raise<InvalidXMLExceptionImpl>(moduleName(), support::COMMON_E_XMLQ_UNKNOWN_KEY,
                                                expression);
    }
    if (field) {
      use_field(*field);
      m_pBuilder->buildFieldNode(std::move(field), hasIndex, index);
      continue;
    }
    // A key that names no field names a parameter (a variable).
    auto resolved = m_pResolver->resolveToParameterField(key);
    auto_unuse<NUVA_o::Parameter> parameter = std::move(resolved.second);
    field = std::move(resolved.first);
    const bool ownField = static_cast<bool>(field);
    if (parameter && !field) field = resolve_variable(key, *parameter);
    if (!field)
      support::raise<InvalidXMLExceptionImpl>(moduleName(), support::COMMON_E_XMLQ_UNKNOWN_KEY, key);
    if (m_bSingleHierarchy && parameter->getType() != Parameter::PT_HIERARCHY)
      insert_hierarchy_into_map_by_unique_name(parameter->getDimensionUniqueName(),
                                               parameter->getHierarchyUniqueName());
    use_field(*field);
    if (parameter->getType() == Parameter::PT_HIERARCHY && ownField)
      m_pBuilder->buildParameterNode(std::move(parameter), std::move(field));
    else
      m_pBuilder->buildParameterFieldNode(std::move(parameter), std::move(field), hasIndex, index);
  }
}

// ---- conditions

bool TOVAXMLQueryProcessorCommon::processWhereNodeClause(const DOMElement* element) {
  if (is_named(element, u"FILTER")) return buildFilterClause(element);
  if (is_named(element, u"OPERATOR")) return buildOperatorClause(element);
  support::raise<InvalidXMLExceptionImpl>(moduleName(), support::COMMON_E_XMLQ_UNEXPECTED_ELEMENT,
                                          XmlSupport::getNodeName(element), "in a condition");
}

bool TOVAXMLQueryProcessorCommon::buildOperatorClause(const DOMElement* element) {
  const TOVAString value = XmlSupport::getAttribute(element, u"VALUE");
  if (value != "AND" && value != "OR")
    support::raise<InvalidXMLExceptionImpl>(moduleName(), support::COMMON_E_XMLQ_BAD_VALUE,
                                            "OPERATOR", value);
  const Type type = value == "AND" ? Tree::TOVASQL_ET_AND : Tree::TOVASQL_ET_OR;
  unsigned emitted = 0;
  for (DOMNode* child = element->getFirstChild(); child; child = child->getNextSibling()) {
    if (child->getNodeType() != DOMNode::ELEMENT_NODE) continue;
    // A key-date filter emits nothing: its value went to its parameter.
    if (!processWhereNodeClause(static_cast<DOMElement*>(child))) continue;
    if (++emitted > 1) m_pBuilder->buildExpressionNode(type);
  }
  return emitted > 0;
}

const DOMElement* TOVAXMLQueryProcessorCommon::findVariableFilterInWhereNodeClause(
    const DOMElement* element, const TOVAString& variable) const {
  if (is_named(element, u"FILTER"))
    return XmlSupport::getAttribute(element, u"KEY") == variable ? element : nullptr;
  for (DOMNode* child = element->getFirstChild(); child; child = child->getNextSibling()) {
    if (child->getNodeType() != DOMNode::ELEMENT_NODE) continue;
    if (const DOMElement* found =
            findVariableFilterInWhereNodeClause(static_cast<DOMElement*>(child), variable))
      return found;
  }
  return nullptr;
}

bool TOVAXMLQueryProcessorCommon::buildFilterClause(const DOMElement* element) {
  const TOVAString key = XmlSupport::getAttribute(element, u"KEY");
  if (keydate_parameter(key)) return false;
  Comparison comparison{};
  const std::vector<XmlQueryConstant> constants = constants_for(element, comparison);
  auto_unuse<NUVA_o::Field> field;
  if (key.empty()) {
    const TOVAString expression = XmlSupport::getAttribute(element, u"EXPRESSION");
    field = m_pResolver->resolveToCalculatedField(expression);
    if (!field)
      support::raise<InvalidXMLExceptionImpl>(moduleName(), support::COMMON_E_XMLQ_UNKNOWN_KEY,
                                              expression);
  } else {
    field = m_pResolver->resolveToField(key);
  }
  if (!field) {
    // A variable: the field it filters, through its own filter elsewhere in the condition
    // when there is one.
    auto resolved = m_pResolver->resolveToParameterField(key);
    field = std::move(resolved.first);
    if (!field && resolved.second) {
      const TOVAString variable = key.substr(0, key.find(u'.'));
      const DOMElement* own = findVariableFilterInWhereNodeClause(m_pWhere, variable);
      if (own && own != element)
        field = m_pResolver->resolveToFieldFromFilter(key, const_cast<DOMElement*>(own));
      if (!field) field = resolve_variable(key, *resolved.second);
    }
    if (!field)
      support::raise<InvalidXMLExceptionImpl>(moduleName(), support::COMMON_E_XMLQ_UNKNOWN_KEY, key);
  }
  const bool numeric = field->isNumeric();
  const TOVAString fieldName = field->getUniqueName();
  // The field node itself rather than its name: the tree's name search knows no technical
  // names, and a name that is also a hierarchy's would become a HIERARCHY node.
  m_pBuilder->buildFieldNode(std::move(field), false, 0);
  m_pBuilder->buildExpressionNode(comparison.type);
  for (const XmlQueryConstant& constant : constants) {
    if (!numeric) {
      // A value, never resolved as a name: a caption may spell a hierarchy's unique name.
      m_pBuilder->buildStringValueNode(constant.value);
      continue;
    }
    double number = 0;
    if (!StringConverters::convertStringToReal(constant.value, number))
      support::raise<InvalidExpressionExceptionImpl>(
          moduleName(), support::COMMON_E_FLAT_WRONG_TYPE, fieldName, constant.value);
    m_pBuilder->buildNumericNode(constant.value);
  }
  m_pBuilder->linkFilterConstraint(comparison.constants == 0 ? 0 : comparison.constants + 1);
  return true;
}

// ---- grouping sets

void TOVAXMLQueryProcessorCommon::buildGroupingSets(const std::vector<DOMElement*>& sets) {
  bool any = false;
  for (const DOMElement* set : sets) {
    const std::vector<DOMElement*> items = XmlSupport::getDescendantElementsByTagName(set, u"INDEX");
    if (items.empty()) continue;
    for (const DOMElement* item : items)
      m_pBuilder->buildGroupingSetItemNode(
          parse_index(XmlSupport::getAttribute(item, u"VALUE"), "INDEX VALUE"));
    m_pBuilder->buildExpressionNode(Tree::TOVASQL_ET_GROUPINGSET);
    any = true;
  }
  if (any) m_pBuilder->buildExpressionNode(Tree::TOVASQL_ET_GROUPBY);
}

// ---- the hierarchy map

void TOVAXMLQueryProcessorCommon::insert_hierarchy_into_map(const NUVA_o::Hierarchy* hierarchy) {
  if (!hierarchy) return;
  update_hierarchy_map(hierarchy->getDimension()->getUniqueName(), hierarchy->getUniqueName());
}

void TOVAXMLQueryProcessorCommon::insert_hierarchy_into_map_by_unique_name(
    const TOVAString& dimension, const TOVAString& hierarchy) {
  if (dimension.empty() || hierarchy.empty()) {
    xmlQueryProcessorLog().logAt(
        3, "Unable to add to Hierarchy Map because of missing information: dimension( %s ), hierarchy( %s ).",
        dimension, hierarchy);
    return;
  }
  update_hierarchy_map(dimension, hierarchy);
}

void TOVAXMLQueryProcessorCommon::update_hierarchy_map(const TOVAString& dimension,
                                                       const TOVAString& hierarchy) {
  if (m_pCube->supports(NUVA_o::Cube::SUPPORTS_MULTIPLE_HIERARCHY_QUERY))
    support::raise<RunTimeExceptionImpl>(
        moduleName(), support::COMMON_E_XMLQ_HIERARCHY_MAP,
        "Calling update_hierarchy_map(...) againts a provider that supports multiple hierarchy "
        "queries is a programming error.");
  auto found = m_HierarchyMap.find(dimension);
  if (found == m_HierarchyMap.end()) {
    m_HierarchyMap.emplace(dimension, hierarchy);
    xmlQueryProcessorLog().logAt(
        4, "Updating hierarchy map with the following data: map<%s,%s>.", dimension, hierarchy);
  } else if (found->second == hierarchy) {
    xmlQueryProcessorLog().logAt(
        4, "Not updating hierarchy map because the following data already exist: map<%s,%s>.",
        dimension, hierarchy);
  } else {
    support::raise<UnsupportedOperationExceptionImpl>(
        moduleName(), support::COMMON_E_XMLQ_SECOND_HIERARCHY, hierarchy, found->second);
  }
}

}  // namespace common

common::TOVAXMLQueryProcessor* createCommonXMLQueryProcessor(NUVA_o::Cube* cube) {
  if (!cube) {
    support_dll::AssertionFailure("NULL != pCube", "tovaxmlqueryprocessorcommon", 83);
    return nullptr;
  }
  return new common::TOVAXMLQueryProcessorCommon(
      auto_unuse<common::TOVASQLExpressionBuilder>(new common::TOVASQLExpressionBuilderCommon),
      cube);
}
