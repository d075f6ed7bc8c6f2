#pragma once

#include <unordered_map>
#include <utility>
#include <vector>

#include "NUVA_o/Cube.h"
#include "NUVA_o/Parameter.h"
#include "support/RefCountImpl.h"
#include "support/XmlSupport.h"

namespace common {

// Maps the keys of an XML query document to the cube's objects: a field (a unique name,
// perhaps with a property suffix such as ".[CAPTION]"), a calculated field, or a parameter
// with the field it stands for. Empty results mean "not found"; the caller raises the error.
class VTQ_EXPORT TOVAXMLQueryResolver : public support::RefCountImpl {
 public:
  using FieldRef = auto_unuse<NUVA_o::Field>;
  using ParameterRef = auto_unuse<NUVA_o::Parameter>;

  // The cube is borrowed: the processor that makes a resolver holds it.
  explicit TOVAXMLQueryResolver(NUVA_o::Cube* cube);

  // The key normalised by the cube, then searched as a field; remembered per key, so a
  // resolver serves one document of one unchanging cube.
  FieldRef resolveToField(const TOVAString& key) const;
  // The calculated field of the cube's calculation dimension for `expression`.
  FieldRef resolveToCalculatedField(const TOVAString& expression) const;
  // The parameter named by the key's first path component with the field that the rest of
  // the key names for it; (empty, empty) for a key without "." or of no parameter. Throws
  // InvalidXMLException when a member parameter's hierarchy has no such field.
  std::pair<FieldRef, ParameterRef> resolveToParameterField(const TOVAString& key) const;
  // Hierarchy parameters only: the key's path under the default hierarchy of the parameter's
  // dimension, else that hierarchy's attribute field.
  FieldRef resolveToFieldFromHierarchyVariable(const TOVAString& key,
                                               NUVA_o::Parameter* parameter) const;
  // The key's path under the hierarchy that a hierarchy parameter's default value names (for
  // member parameters: under a hierarchy parameter of the same dimension).
  FieldRef resolveToFieldFromVariableDefaultValues(const TOVAString& key,
                                                   NUVA_o::Parameter* parameter) const;
  // The key's path under what the variable's own filter element (FILTER, or null) selects.
  // Throws InvalidXMLException for a filter without a usable CONDITION or of no parameter.
  FieldRef resolveToFieldFromFilter(const TOVAString& key, DOMElement* filter) const;

  // Whether the text after the key's last "." is a property suffix.
  static bool does_field_name_have_property(const TOVAString& name);

 protected:
  ~TOVAXMLQueryResolver() override = default;

 private:
  FieldRef find_field(const TOVAString& name) const;
  NUVA_o::Hierarchy* find_hierarchy(const TOVAString& name) const;
  TOVAString normalised(const TOVAString& key) const;

  NUVA_o::Cube* m_pCube;
  // What resolveToField found for each key (empty for nothing).
  mutable std::unordered_map<TOVAString, FieldRef> m_Fields;
};

// The text after the key's first "." with that "." ("" when there is none).
TOVAString keyPathAfterVariable(const TOVAString& key);

// One CONSTANT of a condition: the attribute that gives it (CAPTION, TECH_NAME, NAME or VALUE)
// and its text.
struct XmlQueryConstant {
  TOVAString attribute;
  TOVAString value;
};
// The CONDITION child of a FILTER element; InvalidXMLException when it is absent or empty.
DOMElement* requiredCondition(const DOMElement* filter);
// The CONSTANT descendants of a CONDITION in document order; InvalidXMLException for one whose
// first attribute is not one of the four.
std::vector<XmlQueryConstant> readConstants(const DOMElement* condition);

}  // namespace common
