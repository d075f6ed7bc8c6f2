#include "tovaxmlqueryresolver.h"

#include <array>

#include "common/ComponentLog.h"
#include "support/ErrorCodes.h"
#include "support/Exceptions.h"
#include "tovasqlexpressioncommon.h"

namespace common {

namespace {

using NUVA_o::Parameter;

TOVAString upper(TOVAString text) {
  text.toUpper();
  return text;
}

// The text after the last ".", upper-cased; empty without a ".".
TOVAString last_suffix(const TOVAString& name) {
  const size_t dot = name.rfind(u'.');
  return dot == TOVAString::npos ? TOVAString() : upper(name.substr(dot + 1));
}

bool is_one_of(const TOVAString& text, std::initializer_list<const char*> names) {
  for (const char* name : names)
    if (text == name) return true;
  return false;
}

[[noreturn]] void unknown_key(const TOVAString& key) {
  support::raise<InvalidXMLExceptionImpl>(moduleName(), support::COMMON_E_XMLQ_UNKNOWN_KEY, key);
}

}  // namespace

TOVAString keyPathAfterVariable(const TOVAString& key) {
  const size_t dot = key.find(u'.');
  return dot == TOVAString::npos ? TOVAString() : key.substr(dot);
}

DOMElement* requiredCondition(const DOMElement* filter) {
  DOMElement* condition = XmlSupport::findChild(filter, u"CONDITION");
  if (!condition || !condition->hasChildNodes())
    support::raise<InvalidXMLExceptionImpl>(moduleName(), support::COMMON_E_XMLQ_MISSING_ELEMENT,
                                            "CONDITION", "with CONSTANT elements in a FILTER");
  return condition;
}

std::vector<XmlQueryConstant> readConstants(const DOMElement* condition) {
  std::vector<XmlQueryConstant> constants;
  for (DOMElement* constant : XmlSupport::getDescendantElementsByTagName(condition, u"CONSTANT")) {
    const xercesc::DOMNamedNodeMap* attributes = constant->getAttributes();
    const DOMNode* first = attributes && attributes->getLength() ? attributes->item(0) : nullptr;
    TOVAString name = first ? XmlSupport::getNodeName(first) : TOVAString();
    if (!is_one_of(name, {"CAPTION", "TECH_NAME", "NAME", "VALUE"}))
      support::raise<InvalidXMLExceptionImpl>(moduleName(),
                                              support::COMMON_E_XMLQ_CONSTANT_ATTRIBUTE, name);
    constants.push_back({name, TOVAString(first->getNodeValue())});
  }
  return constants;
}

TOVAXMLQueryResolver::TOVAXMLQueryResolver(NUVA_o::Cube* cube)
    : RefCountImpl("TOVAXMLQUERYRESOLVER", support::nextInstanceNumber<TOVAXMLQueryResolver>()),
      m_pCube(cube) {}

bool TOVAXMLQueryResolver::does_field_name_have_property(const TOVAString& name) {
  return is_one_of(last_suffix(name),
                   {"[CAPTION]", "[LEVEL]", "[TECH_NAME]", "[DESCRIPTION]", "[NAME]", "[VALUE]"});
}

TOVAString TOVAXMLQueryResolver::normalised(const TOVAString& key) const {
  TOVAString out;
  if (m_pCube) m_pCube->normalizeKey(out, key);
  return out.empty() ? key : out;
}

NUVA_o::Hierarchy* TOVAXMLQueryResolver::find_hierarchy(const TOVAString& name) const {
  return TOVASQLExpressionCommon::find_hierarchy(m_pCube, name);
}

TOVAXMLQueryResolver::FieldRef TOVAXMLQueryResolver::find_field(const TOVAString& name) const {
  FieldRef field(TOVASQLExpressionCommon::find_field(m_pCube, name));
  if (field || !m_pCube || name.empty() || !m_pCube->supportsTechnicalNames()) return field;
  // A technical name: "<dimension>.<hierarchy>.<object>" with an optional property suffix.
  TOVAString rest = name;
  const TOVAString suffix = last_suffix(rest);
  if (is_one_of(suffix, {"[CAPTION]", "[TECH_NAME]", "[DESCRIPTION]", "[NAME]", "[VALUE]",
                         "[UNIT]", "[FORMATTEDVALUE]"})) {
    rest = rest.substr(0, rest.rfind(u'.'));
    if (suffix == "[VALUE]") {
      const size_t dot = rest.rfind(u'.');
      if (dot == TOVAString::npos) return field;
      rest = rest.substr(0, dot);
    }
  }
  const size_t dot = rest.rfind(u'.');
  if (dot == TOVAString::npos) return field;
  const TOVAString owner = rest.substr(0, dot);
  NUVA_o::Dimension* dimension = m_pCube->getDimensionByName(owner);
  NUVA_o::Hierarchy* hierarchy = dimension ? dimension->getHierarchy(owner) : nullptr;
  if (hierarchy) field.reset(hierarchy->getFieldByName(name));
  return field;
}

TOVAXMLQueryResolver::FieldRef TOVAXMLQueryResolver::resolveToField(const TOVAString& key) const {
  // Documents name the same few fields over and over; the cube does not change meanwhile.
  auto known = m_Fields.find(key);
  if (known == m_Fields.end()) known = m_Fields.emplace(key, find_field(normalised(key))).first;
  return FieldRef::share(known->second.get());
}

TOVAXMLQueryResolver::FieldRef TOVAXMLQueryResolver::resolveToCalculatedField(
    const TOVAString& expression) const {
  if (!m_pCube) return FieldRef();
  NUVA_o::Dimension* dimension = m_pCube->getCalculationDimension();
  NUVA_o::Hierarchy* hierarchy = dimension ? dimension->getDefaultHierarchy() : nullptr;
  return FieldRef(hierarchy ? hierarchy->getCalculatedField(expression) : nullptr);
}

std::pair<TOVAXMLQueryResolver::FieldRef, TOVAXMLQueryResolver::ParameterRef>
TOVAXMLQueryResolver::resolveToParameterField(const TOVAString& key) const {
  std::pair<FieldRef, ParameterRef> result;
  const size_t dot = key.find(u'.');
  if (!m_pCube || dot == TOVAString::npos || !m_pCube->hasParameters()) return result;
  result.second.reset(m_pCube->getParameterByName(key.substr(0, dot)));
  Parameter* parameter = result.second.get();
  if (!parameter || !parameter->isServerProvided()) return result;
  const TOVAString name = normalised(key);
  switch (parameter->getType()) {
    case Parameter::PT_HIERARCHY: case Parameter::PT_MEMBER: case Parameter::PT_MEMBERSET:
    case Parameter::PT_INTERVAL: case Parameter::PT_COMPLEX: case Parameter::PT_KEYDATE:
      // The parameter's own fields, by unique name.
      for (unsigned i = 0, n = parameter->getFieldCount(); i < n && !result.first; ++i) {
        NUVA_o::Field* field = parameter->getField(i);
        if (field && field->getUniqueName() == name) result.first = FieldRef::share(field);
      }
      break;
    case Parameter::PT_MEMBER_OR_TEXT: case Parameter::PT_MEMBERSET_DERIVED: {
      // The second path component names a hierarchy, unless it is a level.
      const TOVAString path = key.substr(dot + 1);
      const size_t end = path.find(u'.');
      const TOVAString second = path.substr(0, end);
      NUVA_o::Hierarchy* hierarchy = nullptr;
      if (second.find(TOVAString("[LEVEL")) == TOVAString::npos) hierarchy = find_hierarchy(second);
      if (!hierarchy) hierarchy = parameter->getHierarchy();
      if (hierarchy) result.first.reset(hierarchy->getFieldByName(name));
      if (!result.first) unknown_key(key);
      break;
    }
    default:
      break;
  }
  return result;
}

TOVAXMLQueryResolver::FieldRef TOVAXMLQueryResolver::resolveToFieldFromHierarchyVariable(
    const TOVAString& key, Parameter* parameter) const {
  if (!parameter) {
    support_dll::AssertionFailure("parameter", "tovaxmlqueryresolver", 562);
    return FieldRef();
  }
  if (parameter->getType() != Parameter::PT_HIERARCHY) return FieldRef();
  NUVA_o::Dimension* dimension = parameter->getDimension();
  NUVA_o::Hierarchy* hierarchy = dimension ? dimension->getDefaultHierarchy() : nullptr;
  if (!hierarchy) return FieldRef();
  TOVAString name = hierarchy->getUniqueName() + keyPathAfterVariable(key);
  FieldRef field = resolveToField(name);
  if (field) return field;
  if (!does_field_name_have_property(name)) name += ".[CAPTION]";
  return FieldRef(hierarchy->getAttributeField(name));
}

TOVAXMLQueryResolver::FieldRef TOVAXMLQueryResolver::resolveToFieldFromVariableDefaultValues(
    const TOVAString& key, Parameter* parameter) const {
  if (!parameter) {
    support_dll::AssertionFailure("parameter", "tovaxmlqueryresolver", 447);
    return FieldRef();
  }
  // The single default value of a hierarchy parameter, or empty.
  auto default_text = [](Parameter& p) -> TOVAString {
    if (!p.hasADefaultValue()) return TOVAString();
    auto values = p.getParameterDefaultValues();
    if (values.size() != 1) {
      support_dll::AssertionFailure("defaultValues.size( ) == 1", "tovaxmlqueryresolver", 455);
      return TOVAString();
    }
    return values[0]->getStringValue();
  };
  const TOVAString path = keyPathAfterVariable(key);
  const int type = parameter->getType();
  if (type == Parameter::PT_HIERARCHY) {
    const TOVAString value = default_text(*parameter);
    return value.empty() ? FieldRef() : resolveToField(value + path);
  }
  if ((type != Parameter::PT_MEMBER_OR_TEXT && type != Parameter::PT_MEMBERSET_DERIVED) || !m_pCube)
    return FieldRef();
  for (const auto& other : m_pCube->getParameters()) {
    if (other->getType() != Parameter::PT_HIERARCHY ||
        other->getDimensionUniqueName() != parameter->getDimensionUniqueName())
      continue;
    const TOVAString value = default_text(*other);
    if (value.empty()) continue;
    const TOVAString name = value + path;
    if (FieldRef field = resolveToField(name)) return field;
    NUVA_o::Dimension* dimension = parameter->getDimension();
    NUVA_o::Hierarchy* hierarchy = dimension ? dimension->getHierarchy(value) : nullptr;
    if (hierarchy) {
      FieldRef field(hierarchy->getFieldByName(name));
      if (field) return field;
    }
  }
  return FieldRef();
}

TOVAXMLQueryResolver::FieldRef TOVAXMLQueryResolver::resolveToFieldFromFilter(
    const TOVAString& key, DOMElement* filter) const {
  if (!filter || !m_pCube) return FieldRef();
  const std::vector<XmlQueryConstant> constants = readConstants(requiredCondition(filter));
  const size_t dot = key.find(u'.');
  const TOVAString variable = key.substr(0, dot);
  const TOVAString property = dot == TOVAString::npos ? TOVAString() : key.substr(dot + 1);
  auto parameter_of = [&]() {
    ParameterRef parameter(m_pCube->getParameterByName(variable));
    if (!parameter) unknown_key(key);
    return parameter;
  };
  for (const XmlQueryConstant& constant : constants) {
    if (constant.attribute == "TECH_NAME" && dot != TOVAString::npos) {
      // The object part of a technical name ends with its first "].".
      const size_t end = constant.value.find(TOVAString("]."));
      const TOVAString object =
          end == TOVAString::npos ? constant.value : constant.value.substr(0, end + 1);
      const TOVAString name = object + "." + property;
      if (FieldRef field = resolveToField(name)) return field;
      ParameterRef parameter = parameter_of();
      NUVA_o::Dimension* dimension = parameter->getDimension();
      NUVA_o::Hierarchy* hierarchy = dimension ? dimension->getHierarchy(object) : nullptr;
      if (!hierarchy) return FieldRef();
      FieldRef field(hierarchy->getFieldByName(name));
      if (!field && !does_field_name_have_property(name))
        field.reset(hierarchy->getAttributeField(name));
      return field;
    }
    if (constant.attribute == "CAPTION" || dot == TOVAString::npos) {
      ParameterRef parameter = parameter_of();
      // Only a hierarchy prompt chooses by caption; a document may say otherwise, which is
      // bad input rather than a broken invariant: no field.
      if (!parameter->isServerProvided() || parameter->getType() != Parameter::PT_HIERARCHY)
        return FieldRef();
      NUVA_o::Dimension* dimension = parameter->getDimension();
      if (!dimension) return FieldRef();
      for (NUVA_o::Hierarchy* hierarchy : dimension->getHierarchies()) {
        if (hierarchy->getName() != constant.value && hierarchy->getUniqueName() != constant.value)
          continue;
        TOVAString name = hierarchy->getUniqueName();
        if (!property.empty()) name += TOVAString(".") + property;
        return FieldRef(hierarchy->getFieldByName(name));
      }
      return FieldRef();
    }
  }
  return FieldRef();
}

}  // namespace common
