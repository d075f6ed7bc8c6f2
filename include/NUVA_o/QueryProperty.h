#pragma once

#include <set>

#include "NUVA_o/Persistable.h"

namespace NUVA_o {

// Switches that travel with a query request. The numbers are not persisted; the names of
// getQueryPropertyName are.
enum QueryProperty {
  IS_FILTERED = 0,
  IS_RANKED = 1,
  IS_SORTED_ASCENDING = 2,
  IS_SORTED_DESCENDING = 3,
  IS_EXCEPTION_HIGHLIGHTED = 4,
  IS_NULL_FILTERED = 5,
  IS_CALCULATION = 6,
  IS_CLIENT_CALCULATION = 7,
  IS_SERVER_CALCULATION = 8,
  PARENT_SAME_AS_PREVIOUS = 9,
  IS_DRILLED = 10,
  USE_NON_EMPTY_CROSSJOIN = 11,
  IS_FILTERED_NOT_RANKED = 12,
  IS_SUBTOTAL = 13,
  IS_DYNAMIC_CALCULATION = 14,
  USE_CHUNKING = 15,
  UNRESTRICTED = 16,
  CELL_FORMATTING_OFF = 17,
};

// Number of query property identifiers (0 to QUERY_PROPERTY_COUNT - 1).
inline constexpr int QUERY_PROPERTY_COUNT = 18;

// An ordered set of query properties (ascending numbers, each at most once). A plain value
// member of its owner: not counted, not shared, no listeners.
class VTQ_EXPORT QueryPropertySet : public std::set<QueryProperty>, public Persistable {
 public:
  ~QueryPropertySet() override = default;
  // Adds a "QueryProperties" child to `parent`, one "QueryProperty" child per identifier.
  void persist(XmlSupport& xml, DOMElement* parent) const override = 0;
  // Reads the "QueryProperties" child of `parent` (the element persist was given) and adds
  // its identifiers to the set; `cube` is not used.
  void restore(DOMElement* parent, Cube* cube) override = 0;
};

}  // namespace NUVA_o
