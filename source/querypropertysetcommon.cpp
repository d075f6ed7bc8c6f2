#include "NUVA_o/QueryPropertySetCommon.h"

#include <array>

#include "support/CoreLog.h"

const TOVAString& getQueryPropertyName(int id) {
  // A function-local static is built once even when two threads ask first at the same time.
  static const std::array<TOVAString, NUVA_o::QUERY_PROPERTY_COUNT> names = {
      "IS_FILTERED",
      "IS_RANKED",
      "IS_SORTED_ASCENDING",
      "IS_SORTED_DESCENDING",
      "IS_EXCEPTION_HIGHLIGHTED",
      "IS_NULL_FILTERED",
      "IS_CALCULATION",
      "IS_CLIENT_CALCULATION",
      "IS_SERVER_CALCULATION",
      "PARENT_SAME_AS_PREVIOUS",
      "IS_DRILLED",
      "USE_NON_EMPTY_CROSSJOIN",
      "IS_FILTERED_NOT_RANKED",
      "IS_SUBTOTAL",
      "IS_DYNAMIC_CALCULATION",
      "USE_CHUNKING",
      "UNRESTRICTED",
      "CELL_FORMATTING_OFF",
  };
  if (static_cast<unsigned>(id) >= names.size()) return TOVAString::nullString();
  return names[static_cast<unsigned>(id)];
}

namespace NUVA_o {

QueryPropertySetCommon::~QueryPropertySetCommon() = default;

void QueryPropertySetCommon::persist(XmlSupport& xml, DOMElement* parent) const {
  DOMElement* properties = xml.addAChild(parent, "QueryProperties");
  if (!properties) return;
  for (QueryProperty id : *this) {
    DOMElement* property = xml.addAChild(properties, "QueryProperty");
    if (property) XmlSupport::write_to(property, "Name", getQueryPropertyName(id));
  }
}

void QueryPropertySetCommon::restore(DOMElement* parent, Cube* /*cube*/) {
  DOMElement* properties = parent ? XmlSupport::findChild(parent, "QueryProperties") : nullptr;
  if (!properties) {
    support_dll::AssertionFailure("! \"QueryProperties element not found\"",
                                  "querypropertysetcommon", __LINE__);
    return;
  }
  for (DOMElement* node : XmlSupport::getDescendantElementsByTagName(properties, "QueryProperty")) {
    const TOVAString name = XmlSupport::getAttribute(node, "Name");
    bool found = false;
    for (int id = 0; !getQueryPropertyName(id).empty(); ++id) {
      if (getQueryPropertyName(id) == name) {
        insert(static_cast<QueryProperty>(id));
        found = true;
        break;
      }
    }
    if (!found)
      support_dll::AssertionFailure("! \"Query property enumeration not found\"",
                                    "querypropertysetcommon", __LINE__);
  }
}

}  // namespace NUVA_o
