#pragma once

#include <functional>
#include <map>
#include <vector>

#include "NUVA_o/Cube.h"
#include "common/TOVAXMLQueryProcessor.h"
#include "common/TOVASQLExpressionBuilder.h"
#include "support/RefCountImpl.h"
#include "support/XmlSupport.h"
#include "tovaxmlqueryresolver.h"

namespace common {

// The processor behind XML query documents: resolves every key through a resolver and emits
// the tree through the builder it is given.
class VTQ_EXPORT TOVAXMLQueryProcessorCommon : public support::RefCountImpl,
                                               public TOVAXMLQueryProcessor {
 public:
  using Tree = NUVA_o::tovasql_parser::TOVASQLExpression;

  // Bounds on what one document may ask for, so that a hostile one fails early and cleanly.
  static constexpr unsigned MAX_CONDITIONS = 512;
  static constexpr unsigned MAX_NESTING = 64;

  // Keeps references to both.
  TOVAXMLQueryProcessorCommon(auto_unuse<TOVASQLExpressionBuilder> builder, NUVA_o::Cube* cube);

  Tree* parseXML(const TOVAString& xml) override;
  // As parseXML; `accept` sees the tree while a key-date value of the document is still
  // uncommitted, and what it throws rolls that value back too.
  Tree* parse_xml(const TOVAString& xml, const std::function<void(const Tree&)>& accept);

  // Single-hierarchy mode: records the dimension of `hierarchy` as queried through it; null
  // does nothing. Throws as update_hierarchy_map.
  void insert_hierarchy_into_map(const NUVA_o::Hierarchy* hierarchy);
  // Logs and records nothing when either name is empty.
  void insert_hierarchy_into_map_by_unique_name(const TOVAString& dimension,
                                                const TOVAString& hierarchy);
  // Throws RunTimeException on a cube that queries several hierarchies of a dimension, and
  // UnsupportedOperationException (COMMON_E_XMLQ_SECOND_HIERARCHY) for a second hierarchy of a
  // dimension already mapped.
  void update_hierarchy_map(const TOVAString& dimension, const TOVAString& hierarchy);
  // Dimension unique name to the unique name of the hierarchy the query uses.
  const std::map<TOVAString, TOVAString>& hierarchy_map() const { return m_HierarchyMap; }

 protected:
  ~TOVAXMLQueryProcessorCommon() override;

 private:
  // Names, operator values, nesting and counts of the whole condition, before anything is
  // built.
  void check_conditions(const DOMElement* element, unsigned depth, unsigned& filters,
                        unsigned& keyDates) const;
  void processKeydateVariable(const DOMElement* condition);
  bool find_keydate_filter(const DOMElement* condition, const DOMElement*& filter,
                           auto_unuse<NUVA_o::Parameter>& parameter) const;
  // The key-date prompt the key names, or empty.
  auto_unuse<NUVA_o::Parameter> keydate_parameter(const TOVAString& key) const;
  void buildQueryColumns(const std::vector<DOMElement*>& objects);
  void use_field(const NUVA_o::Field& field);
  bool processWhereNodeClause(const DOMElement* element);
  bool buildOperatorClause(const DOMElement* element);
  bool buildFilterClause(const DOMElement* element);
  auto_unuse<NUVA_o::Field> resolve_variable(const TOVAString& key,
                                             NUVA_o::Parameter& parameter) const;
  const DOMElement* findVariableFilterInWhereNodeClause(const DOMElement* element,
                                                        const TOVAString& variable) const;
  void buildGroupingSets(const std::vector<DOMElement*>& sets);
  void end_keydate(bool commit);

  auto_unuse<NUVA_o::Cube> m_pCube;
  auto_unuse<TOVASQLExpressionBuilder> m_pBuilder;
  std::map<TOVAString, TOVAString> m_HierarchyMap;
  auto_unuse<TOVAXMLQueryResolver> m_pResolver;
  bool m_bSingleHierarchy = false;
  // The WHERE condition of the document being processed, or null.
  const DOMElement* m_pWhere = nullptr;
  // Hierarchies of the selected text fields, in first-use order: the FROM list.
  std::vector<TOVAString> m_FromHierarchies;
  // The cube's key-date prompts, by unique name or by the name inside its brackets.
  std::vector<auto_unuse<NUVA_o::Parameter>> m_KeyDates;
  // The key-date parameter whose transaction the document holds open until it is done.
  auto_unuse<NUVA_o::Parameter> m_pKeyDate;
};

}  // namespace common
