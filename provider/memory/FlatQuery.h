#pragma once

// Flat requests on the columnar facts: the storage side of a statement plan.

#include "MemoryCubeImpl.h"
#include "NUVA_o/Flattener.h"
#include "NUVA_o/TOVASQLExpression.h"

namespace common {
struct FlatCondition;
}

namespace memory {

// Executes a SELECT tree in one pass over the facts; the rows with one reference for the
// caller. Throws the plan's exceptions (nothing is scanned then), InvalidArgumentException for
// a field of another cube and QueryTooLargeException when the groups cannot be numbered.
NUVA_o::RowsetDataModel* execute_flat_query(CubeImpl& cube,
                                            const NUVA_o::tovasql_parser::TOVASQLExpression& root);

// A text field as the facts see it: each leaf key of its dimension maps to one value.
struct TextSource {
  const HierarchyImpl* hierarchy = nullptr;
  size_t dimension = 0;  // index in CubeImpl::dimensions()
  const FieldDescription* description = nullptr;

  // The field's text for the member `index` of its level.
  const TOVAString& text(int32_t index) const {
    const MemberNode& m = hierarchy->member(index);
    if (description->kind == FK_PROPERTY) {
      static const TOVAString empty;
      auto p = static_cast<size_t>(description->property);
      return p < m.properties.size() ? m.properties[p] : empty;
    }
    switch (description->attribute) {
      case LA_CAPTION: return m.caption;
      case LA_KEY: return m.uniqueName;
      default: return m.name;
    }
  }
  // The field's level member above each leaf key of the dimension (-1 when there is none).
  std::vector<int32_t> leaf_members() const {
    std::vector<int32_t> out(hierarchy->m_LeafPosition.size(), -1);
    const auto level = static_cast<int32_t>(description->levelNumber);
    for (size_t k = 0; k < out.size(); ++k) {
      int32_t m = hierarchy->m_LeafMember[static_cast<size_t>(hierarchy->m_LeafPosition[k])];
      while (m >= 0 && hierarchy->member(m).level > level) m = hierarchy->member(m).parent;
      if (m >= 0 && hierarchy->member(m).level == level) out[k] = m;
    }
    return out;
  }
};

// The field as a cube's own; throws InvalidArgumentException for a field of another cube.
const FieldImpl& own_field(const CubeImpl& cube, const NUVA_o::Field* field);
TextSource text_source(const CubeImpl& cube, const NUVA_o::Field* field);

// How the groups of a grouping's text fields are numbered: each field's value ids follow its
// level's members, one per distinct text, and a group is the sum of its value ids times their
// fields' strides (the last field varies fastest). Throws QueryTooLargeException when the groups
// cannot be numbered.
struct GroupNumbering {
  GroupNumbering(const CubeImpl& cube, const std::vector<NUVA_o::Field*>& fields);

  // Adds field f's value id times its stride to each leaf key's offset in `table` (its
  // dimension's), and marks keys without a value (-1).
  void addOffsets(size_t f, std::vector<int64_t>& table) const;

  std::vector<TextSource> sources;                    // per field
  std::vector<std::vector<TOVAString>> texts;         // per field, by value id
  std::vector<std::vector<int32_t>> leafValues;       // per field, per leaf key: value id or -1
  std::vector<uint64_t> cardinality, strides;         // per field
  uint64_t total = 1;
};

// What the cube's key-date parameters keep of a dimension: the facts whose leaf in `hierarchy`
// comes before `endLeaf`, the leaf after the last one under the parameter's member (its value,
// else its default). Flat requests honour them wherever the facts are.
struct KeyDateCut {
  size_t dimension;  // index in CubeImpl::dimensions()
  const HierarchyImpl* hierarchy;
  int32_t endLeaf;
};
std::vector<KeyDateCut> key_date_cuts(const CubeImpl& cube);

// The dimension all text predicates of `c` read (-1: several or none); `measures` tells whether
// a measure predicate occurs.
int single_dimension(const CubeImpl& cube, const common::FlatCondition& c, bool& measures);

// Per leaf key of the one dimension that the predicates of `c` read, 1 when it satisfies `c`.
std::vector<uint8_t> key_mask(const CubeImpl& cube, const common::FlatCondition& c);

}  // namespace memory
