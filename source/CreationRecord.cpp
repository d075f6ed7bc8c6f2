#include "common/CreationRecord.h"

#include <iterator>

namespace common {

namespace {

// "CreatedAs" texts by kind value; 6 and 9 have no text of their own.
const char* const kCreatedAsTexts[] = {
    "CreateDefault",    "CreateAll",        "CreateBase",  "CreateNoParents",
    "CreateUserCalc",   "CreateServerCalc", "CreateEmpty", "CreateCalc",
    "CreateEmpty",      "CreateEmpty",      "CreateFromExpression",
    "CreateServerProvided",
};

// The order in which a read text is matched; the first equal text sets the kind.
struct CreatedAsMatch {
  const char* text;
  NUVA_o::CreateSetAs kind;
};
const CreatedAsMatch kCreatedAsMatches[] = {
    {"CreateAll", NUVA_o::CS_CREATEALL},
    {"CreateDefault", NUVA_o::CS_CREATEDEFAULT},
    {"CreateEmpty", NUVA_o::CS_CREATEEMPTY},
    {"CreateBase", NUVA_o::CS_CREATEBASE},
    {"CreateNoParents", NUVA_o::CS_CREATENOPARENTS},
    {"CreateUserCalc", NUVA_o::CS_CREATEUSERCALC},
    {"CreateServerCalc", NUVA_o::CS_CREATESERVERCALC},
    {"CreateCalc", NUVA_o::CS_CREATECALC},
    {"CreateFromExpression", NUVA_o::CS_CREATEFROMEXPRESSION},
    {"CreateServerProvided", NUVA_o::CS_CREATESERVERPROVIDED},
};

// The "Hierarchy" of the nearest enclosing "AxisHierarchy" element, or empty when the walk
// reaches the document without finding one.
TOVAString enclosing_hierarchy_name(const DOMElement* element) {
  for (const DOMNode* node = element->getParentNode(); node; node = node->getParentNode()) {
    if (node->getNodeType() != DOMNode::ELEMENT_NODE) continue;
    if (XmlSupport::getNodeName(node) == "AxisHierarchy")
      return XmlSupport::getAttribute(static_cast<const DOMElement*>(node), "Hierarchy");
  }
  return TOVAString();
}

}  // namespace

CreationRecord::CreationRecord()
    : m_LevelIndex(-1), m_CreateSetAs(NUVA_o::CS_CREATEEMPTY) {}

CreationRecord::CreationRecord(const TOVAString& hierarchyName, int32_t levelIndex,
                               NUVA_o::CreateSetAs createSetAs, const TOVAString& expression,
                               const TOVAString& expressionLanguage)
    : m_HierarchyName(hierarchyName),
      m_LevelIndex(levelIndex),
      m_CreateSetAs(createSetAs),
      m_Expression(expression),
      m_ExpressionLanguage(expressionLanguage) {}

CreationRecord::CreationRecord(const CreationRecord& other) = default;
CreationRecord& CreationRecord::operator=(const CreationRecord& other) = default;
CreationRecord::~CreationRecord() = default;

const char* CreationRecord::createdAsText(int createSetAs) {
  if (createSetAs < 0 || createSetAs >= static_cast<int>(std::size(kCreatedAsTexts)))
    return "CreateEmpty";
  return kCreatedAsTexts[createSetAs];
}

void CreationRecord::persist(XmlSupport& /*xml*/, DOMElement* element) const {
  if (!element) return;
  XmlSupport::write_to(element, "Hierarchy", m_HierarchyName);
  XmlSupport::write_to(element, "CreatedAs", createdAsText(m_CreateSetAs));
  if (m_CreateSetAs == NUVA_o::CS_CREATEFROMEXPRESSION) {
    XmlSupport::write_to(element, "Expression", m_Expression);
    XmlSupport::write_to(element, "Expression_Language", m_ExpressionLanguage);
  }
  XmlSupport::write_to(element, "LevelIndex", static_cast<int>(m_LevelIndex));
}

void CreationRecord::restore(DOMElement* element, NUVA_o::Cube* /*cube*/) {
  if (!element) return;
  m_HierarchyName = XmlSupport::getAttribute(element, "Hierarchy");
  if (m_HierarchyName.empty()) m_HierarchyName = enclosing_hierarchy_name(element);

  const TOVAString createdAs = XmlSupport::getAttribute(element, "CreatedAs");
  if (!createdAs.empty()) {
    for (const CreatedAsMatch& match : kCreatedAsMatches) {
      if (createdAs == match.text) {
        m_CreateSetAs = match.kind;
        break;
      }
    }
  }

  if (m_CreateSetAs == NUVA_o::CS_CREATEFROMEXPRESSION) {
    m_Expression = XmlSupport::getAttribute(element, "Expression");
    m_ExpressionLanguage = XmlSupport::getAttribute(element, "Expression_Language");
  }

  // A missing level index keeps the level the record had rather than turning into level 0.
  if (XmlSupport::hasAttribute(element, "LevelIndex"))
    m_LevelIndex = static_cast<int32_t>(XmlSupport::getNumberAttribute(element, "LevelIndex"));
}

CreationRecord CreationRecord::s_CreateCreationRecordFromXML(DOMElement* element) {
  CreationRecord record;
  if (element && XmlSupport::getAttribute(element, "SaveMode") != "Members")
    record.restore(element, nullptr);
  return record;
}

CubeStructureChangedExceptionImpl::CubeStructureChangedExceptionImpl(const TOVAString& text)
    : ExceptionCommon(text, support::COMMON_E_CUBE_CHANGED) {}

CubeStructureChangedExceptionImpl::CubeStructureChangedExceptionImpl(const TOVAString& text,
                                                                     uint32_t code)
    : ExceptionCommon(text, code) {}

CubeStructureChangedExceptionImpl::CubeStructureChangedExceptionImpl(
    const CubeStructureChangedExceptionImpl& other) = default;

CubeStructureChangedExceptionImpl::~CubeStructureChangedExceptionImpl() = default;

ExceptionCommon* CubeStructureChangedExceptionImpl::duplicate() const {
  return new CubeStructureChangedExceptionImpl(*this);
}

void CubeStructureChangedExceptionImpl::rethrow() const {
  throw CubeStructureChangedExceptionImpl(*this);
}

}  // namespace common
