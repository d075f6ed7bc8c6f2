#pragma once

#include "NUVA_o/QueryProperty.h"
#include "support/TOVAString.h"
#include "support/XmlSupport.h"

// The persistent name of a query property identifier ("IS_FILTERED" for 0 ...), or the shared
// empty string for a value outside 0 to 17 (negative values too). Valid until unload.
VTQ_EXPORT const TOVAString& getQueryPropertyName(int id);

namespace NUVA_o {

// The library's query property set: a plain value member of a cube view or a member set
// proxy, persisted as a "QueryProperties" element.
class VTQ_EXPORT QueryPropertySetCommon : public QueryPropertySet {
 public:
  QueryPropertySetCommon() = default;
  QueryPropertySetCommon(const QueryPropertySetCommon&) = default;
  QueryPropertySetCommon& operator=(const QueryPropertySetCommon&) = default;
  ~QueryPropertySetCommon() override;

  // Adds "QueryProperties" to `parent` with one "QueryProperty" ("Name") per identifier, in
  // ascending order; an empty set writes an empty element.
  void persist(XmlSupport& xml, DOMElement* parent) const override;
  // Adds the identifiers named under the "QueryProperties" child of `parent`; the set is not
  // emptied first. Unknown names and a missing element are reported as assertions and
  // skipped. `cube` is not used.
  void restore(DOMElement* parent, Cube* cube) override;
};

}  // namespace NUVA_o
