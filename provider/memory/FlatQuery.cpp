#include "FlatQuery.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <unordered_map>
#include <vector>

#include "NUVA_o/TOVALOVUniqueRowFilter.h"
#include "QueryEngine.h"
#include "common/CommonParameter.h"
#include "common/FlatQueryPlan.h"

namespace memory {

using common::FlatCondition;
using common::FlatQueryPlan;

namespace {

// Rows per block of the scan, and per morsel handed to one thread.
constexpr size_t kScanBlock = 4096;
constexpr size_t kScanMorsel = size_t(1) << 16;

const MeasureColumn* measure_column(const CubeImpl& cube, const NUVA_o::Field* field) {
  const FieldImpl& impl = own_field(cube, field);
  const auto* hierarchy = static_cast<const HierarchyImpl*>(impl.getHierarchy());
  int32_t member = hierarchy->findMember(impl.getUniqueName());
  const FactTable& facts = cube.facts();
  if (member < 0 || static_cast<size_t>(member) >= facts.values.size())
    raise_query<InvalidArgumentExceptionImpl>(MEMORY_E_QUERY, "a measure without values");
  return &facts.values[static_cast<size_t>(member)];
}

// A condition compiled against the facts: conditions on one dimension become a mask over its
// leaf keys; conditions on measures stay predicates tested per fact row.
struct RowTest {
  FlatCondition::Kind kind = FlatCondition::FC_PREDICATE;
  std::unique_ptr<RowTest> left, right;
  int keyColumn = -1;          // mask: the fact key column it reads
  std::vector<uint8_t> mask;   // mask: 1 for leaf keys that pass
  const MeasureColumn* values = nullptr;
  const FlatCondition* predicate = nullptr;

  bool passes(const FactTable& facts, size_t row) const {
    switch (kind) {
      case FlatCondition::FC_AND: return left->passes(facts, row) && right->passes(facts, row);
      case FlatCondition::FC_OR: return left->passes(facts, row) || right->passes(facts, row);
      default:
        return values ? predicate->matches(values->at(row))
                      : mask[facts.keys[static_cast<size_t>(keyColumn)].at(row)];
    }
  }
};

class FlatScan {
 public:
  FlatScan(CubeImpl& cube, const FlatQueryPlan& plan) : m_Cube(cube), m_Plan(plan) {
    const auto& dimensions = cube.dimensions();
    for (size_t d = 0, column = 0; d < dimensions.size(); ++d)
      m_KeyColumn.push_back(dimensions[d]->m_IsMeasures ? -1 : static_cast<int>(column++));
  }

  NUVA_o::RowsetDataModel* run() {
    std::vector<FlatQueryPlan::Groups> groups;
    for (const FlatQueryPlan::Grouping& grouping : m_Plan.groupings())
      groups.push_back(compute(grouping));
    return m_Plan.makeRowset(groups);
  }

 private:
  // The groups of one grouping: one pass over the facts.
  FlatQueryPlan::Groups compute(const FlatQueryPlan::Grouping& grouping) {
    FlatQueryPlan::Groups groups;
    const auto& fields = grouping.groupFields;
    const size_t dimensionCount = m_KeyColumn.size();
    // Per dimension: the offset that each leaf key adds to a fact's group, -1 when filtered.
    std::vector<std::vector<int64_t>> offsets(dimensionCount);
    GroupNumbering numbering(m_Cube, fields);
    groups.values = numbering.texts;
    for (size_t f = 0; f < fields.size(); ++f)
      numbering.addOffsets(f, offset_table(offsets, numbering.sources[f].dimension));
    // Conditions on one dimension of a top-level AND chain filter through the offset tables;
    // what remains is tested per row.
    std::vector<std::unique_ptr<RowTest>> residual;
    if (const FlatCondition* condition = m_Plan.condition()) {
      std::vector<const FlatCondition*> conjuncts;
      condition->collectConjuncts(conjuncts);
      for (const FlatCondition* c : conjuncts) {
        std::unique_ptr<RowTest> test = compile(*c);
        if (test->kind == FlatCondition::FC_PREDICATE && !test->values) {
          std::vector<int64_t>& table = offset_table(offsets, dimension_of(test->keyColumn));
          for (size_t k = 0; k < table.size(); ++k)
            if (!test->mask[k]) table[k] = -1;
        } else {
          residual.push_back(std::move(test));
        }
      }
    }
    apply_key_dates(offsets);
    std::vector<const MeasureColumn*> measures;
    for (const NUVA_o::Field* field : grouping.measureFields)
      measures.push_back(measure_column(m_Cube, field));
    scan(offsets, residual, measures, numbering.total, fields.size(), numbering.strides,
         numbering.cardinality, groups);
    return groups;
  }

  void apply_key_dates(std::vector<std::vector<int64_t>>& offsets) {
    for (const KeyDateCut& cut : key_date_cuts(m_Cube)) {
      std::vector<int64_t>& table = offset_table(offsets, cut.dimension);
      for (size_t k = 0; k < table.size(); ++k)
        if (cut.hierarchy->m_LeafPosition[k] >= cut.endLeaf) table[k] = -1;
    }
  }

 public:
  // A list of values of one text field: the texts of its level's members that facts passing
  // the condition reach, each text once (members of a level may share a text), in the order
  // of their first members in the level as every flat result is. Null when the request is no
  // list of values this path serves.
  NUVA_o::RowsetDataModel* run_values() {
    // Grouping sets and key dates (which cut facts of another dimension) take the general path.
    if (m_Plan.groupings().size() != 1 || m_Plan.columns().size() != 1 ||
        m_Plan.groupFields().size() != 1 || !key_date_cuts(m_Cube).empty())
      return nullptr;
    const TextSource source = text_source(m_Cube, m_Plan.groupFields()[0]);
    const FlatCondition* condition = m_Plan.condition();
    if (condition && !reads_only(*condition, source.dimension)) return nullptr;
    std::vector<uint8_t> passes = condition
        ? key_mask(m_Cube, *condition)
        : std::vector<uint8_t>(m_Cube.dimensions()[source.dimension]->m_LeafKeys.size(), 1);
    const FactTable& facts = m_Cube.facts();
    std::vector<uint8_t> reached(passes.size(), 0);
    facts.keys[static_cast<size_t>(m_KeyColumn[source.dimension])].visit([&](const auto* keys) {
      for (size_t row = 0, rows = facts.rowCount(); row < rows; ++row)
        reached[static_cast<size_t>(keys[row])] = passes[static_cast<size_t>(keys[row])];
    });
    const std::vector<int32_t> members = source.leaf_members();
    std::vector<uint8_t> memberReached(static_cast<size_t>(source.hierarchy->memberCount()), 0);
    for (size_t k = 0; k < members.size(); ++k)
      if (reached[k] && members[k] >= 0) memberReached[static_cast<size_t>(members[k])] = 1;
    const auto& level =
        source.hierarchy->level(static_cast<int32_t>(source.description->levelNumber))->m_Members;
    auto_unuse<NUVA_o::TOVALOVUniqueRowFilterCommon> reachedTexts(new NUVA_o::TOVALOVUniqueRowFilterCommon);
    for (int32_t m : level)
      if (memberReached[static_cast<size_t>(m)]) reachedTexts->checkAndAddRow(source.text(m));
    // A text is listed where its first member stands in the level, reached or not.
    auto_unuse<NUVA_o::TOVALOVUniqueRowFilterCommon> listed(new NUVA_o::TOVALOVUniqueRowFilterCommon);
    FlatQueryPlan::Groups groups;
    groups.values.emplace_back();
    for (int32_t m : level) {
      const TOVAString& text = source.text(m);
      if (!reachedTexts->exists(text) || !listed->checkAndAddRow(text)) continue;
      groups.keys.push_back(static_cast<uint32_t>(groups.values[0].size()));
      groups.values[0].push_back(text);
    }
    return m_Plan.makeRowset({groups});
  }

 private:
  size_t dimension_of(int keyColumn) const {
    return static_cast<size_t>(std::find(m_KeyColumn.begin(), m_KeyColumn.end(), keyColumn) -
                               m_KeyColumn.begin());
  }

  std::vector<int64_t>& offset_table(std::vector<std::vector<int64_t>>& offsets, size_t d) {
    if (offsets[d].empty())
      offsets[d].assign(m_Cube.dimensions()[d]->m_LeafKeys.size(), 0);
    return offsets[d];
  }

  // Whether every predicate of `c` compares a text field of dimension `d`.
  bool reads_only(const FlatCondition& c, size_t d) const {
    if (c.kind != FlatCondition::FC_PREDICATE) return reads_only(*c.left, d) && reads_only(*c.right, d);
    return c.field && !c.field->isNumeric() && text_source(m_Cube, c.field).dimension == d;
  }

  std::unique_ptr<RowTest> compile(const FlatCondition& c) {
    auto test = std::make_unique<RowTest>();
    bool measures = false;
    int d = single_dimension(m_Cube, c, measures);
    if (!measures && d >= 0) {
      test->keyColumn = m_KeyColumn[static_cast<size_t>(d)];
      test->mask = key_mask(m_Cube, c);
    } else if (c.kind == FlatCondition::FC_PREDICATE) {
      test->values = measure_column(m_Cube, c.field);
      test->predicate = &c;
    } else {
      test->kind = c.kind;
      test->left = compile(*c.left);
      test->right = compile(*c.right);
    }
    return test;
  }

  // What one thread adds up: sums per group and measure, integer-stored measures exactly.
  struct Partial {
    bool ready = false;
    std::vector<double> sums;
    std::vector<int64_t> scaled;
    std::vector<uint8_t> hit;
    std::unordered_map<uint64_t, size_t> sparse;  // group to slot, when groups are not dense
    std::vector<uint64_t> sparseKeys;
    std::vector<int64_t> group;  // per row of a block
  };

  void scan(const std::vector<std::vector<int64_t>>& offsets,
            const std::vector<std::unique_ptr<RowTest>>& residual,
            const std::vector<const MeasureColumn*>& measures, uint64_t total, size_t keyWidth,
            const std::vector<uint64_t>& strides, const std::vector<uint64_t>& cardinality,
            FlatQueryPlan::Groups& groups) const {
    const FactTable& facts = m_Cube.facts();
    const size_t rows = facts.rowCount(), width = measures.size();
    std::vector<std::pair<const KeyColumn*, const int64_t*>> lookups;
    for (size_t d = 0; d < offsets.size(); ++d)
      if (!offsets[d].empty())
        lookups.emplace_back(&facts.keys[static_cast<size_t>(m_KeyColumn[d])], offsets[d].data());
    // Groups are numbered densely while they fit comfortably, else through a hash table.
    constexpr uint64_t kDenseLimit = 1u << 22;
    const bool dense = total <= kDenseLimit;
    auto prepare = [&](Partial& p) {
      if (dense) {
        p.sums.assign(static_cast<size_t>(total) * width, 0.0);
        p.scaled.assign(static_cast<size_t>(total) * width, 0);
        p.hit.assign(static_cast<size_t>(total), 0);
      }
      p.group.resize(kScanBlock);
      p.ready = true;
    };
    auto slot_of = [&](Partial& p, uint64_t group) -> size_t {
      if (dense) {
        p.hit[static_cast<size_t>(group)] = 1;
        return static_cast<size_t>(group);
      }
      auto [it, added] = p.sparse.emplace(group, p.sparseKeys.size());
      if (added) {
        p.sparseKeys.push_back(group);
        p.sums.resize(p.sums.size() + width, 0.0);
        p.scaled.resize(p.scaled.size() + width, 0);
      }
      return it->second;
    };
    const size_t morsels = (rows + kScanMorsel - 1) / kScanMorsel;
    // Each thread sums into groups of its own: dense ones only when well below the rows.
    const bool threads = morsels > 1 && (!dense || total * std::max<size_t>(width, 1) <= rows / 8);
    std::shared_ptr<ScanPool> pool = threads ? m_Cube.scanPool() : nullptr;
    std::vector<Partial> partials(pool ? pool->threads() : 1);
    auto task = [&](unsigned worker, size_t morsel) {
      Partial& p = partials[worker];
      if (!p.ready) prepare(p);
      const size_t end = std::min(rows, (morsel + 1) * kScanMorsel);
      for (size_t base = morsel * kScanMorsel; base < end; base += kScanBlock) {
        const size_t n = std::min(kScanBlock, end - base);
        int64_t* group = p.group.data();
        if (lookups.empty()) std::fill(group, group + n, 0);
        for (size_t l = 0; l < lookups.size(); ++l)
          addKeyOffsets(*lookups[l].first, base, n, lookups[l].second, group, l == 0);
        for (size_t i = 0; i < n; ++i) {
          if (group[i] < 0) continue;
          const size_t row = base + i;
          bool passes = true;
          for (const auto& test : residual)
            if (!(passes = test->passes(facts, row))) break;
          if (!passes) continue;
          const size_t at = slot_of(p, static_cast<uint64_t>(group[i])) * width;
          for (size_t j = 0; j < width; ++j) {
            if (measures[j]->isInteger())
              p.scaled[at + j] += measures[j]->scaledAt(row);
            else
              p.sums[at + j] += measures[j]->at(row);
          }
        }
      }
    };
    if (pool) {
      pool->run(morsels, task);
    } else {
      for (size_t morsel = 0; morsel < morsels; ++morsel) task(0, morsel);
    }
    // The threads' partials add into the first.
    Partial& first = partials.front();
    if (!first.ready) prepare(first);
    for (size_t w = 1; w < partials.size(); ++w) {
      Partial& p = partials[w];
      if (!p.ready) continue;
      if (dense) {
        for (size_t g = 0; g < p.hit.size(); ++g) first.hit[g] |= p.hit[g];
        for (size_t i = 0; i < p.sums.size(); ++i) {
          first.sums[i] += p.sums[i];
          first.scaled[i] += p.scaled[i];
        }
        continue;
      }
      for (size_t k = 0; k < p.sparseKeys.size(); ++k) {
        const size_t at = slot_of(first, p.sparseKeys[k]) * width;
        for (size_t j = 0; j < width; ++j) {
          first.sums[at + j] += p.sums[k * width + j];
          first.scaled[at + j] += p.scaled[k * width + j];
        }
      }
    }
    auto emit = [&](uint64_t group, size_t slot) {
      for (size_t f = 0; f < keyWidth; ++f)
        groups.keys.push_back(static_cast<uint32_t>((group / strides[f]) % cardinality[f]));
      for (size_t j = 0; j < width; ++j)
        groups.sums.push_back(measures[j]->isInteger()
                                  ? static_cast<double>(first.scaled[slot * width + j]) /
                                        static_cast<double>(measures[j]->scale())
                                  : first.sums[slot * width + j]);
    };
    if (dense) {
      for (size_t g = 0; g < first.hit.size(); ++g)
        if (first.hit[g]) emit(g, g);
    } else {
      for (size_t i = 0; i < first.sparseKeys.size(); ++i) emit(first.sparseKeys[i], i);
    }
  }

  CubeImpl& m_Cube;
  const FlatQueryPlan& m_Plan;
  std::vector<int> m_KeyColumn;  // per dimension, its fact key column (-1 for Measures)
};

}  // namespace

NUVA_o::RowsetDataModel* execute_flat_query(CubeImpl& cube,
                                            const NUVA_o::tovasql_parser::TOVASQLExpression& root) {
  FlatQueryPlan plan(root);
  FlatScan scan(cube, plan);
  if (root.useRegularLOVRowset())
    if (NUVA_o::RowsetDataModel* values = scan.run_values()) return values;
  return scan.run();
}

int single_dimension(const CubeImpl& cube, const FlatCondition& c, bool& measures) {
  if (c.kind != FlatCondition::FC_PREDICATE) {
    const int l = single_dimension(cube, *c.left, measures), r = single_dimension(cube, *c.right, measures);
    return l == r ? l : -1;
  }
  if (c.field->isNumeric()) {
    measures = true;
    return -2;
  }
  return static_cast<int>(text_source(cube, c.field).dimension);
}

std::vector<uint8_t> key_mask(const CubeImpl& cube, const FlatCondition& c) {
  if (c.kind != FlatCondition::FC_PREDICATE) {
    std::vector<uint8_t> l = key_mask(cube, *c.left), r = key_mask(cube, *c.right);
    for (size_t k = 0; k < l.size(); ++k)
      l[k] = c.kind == FlatCondition::FC_AND ? (l[k] & r[k]) : (l[k] | r[k]);
    return l;
  }
  const TextSource source = text_source(cube, c.field);
  const std::vector<int32_t> members = source.leaf_members();
  // Each member's text is matched once, however many leaf keys it holds.
  std::vector<int8_t> memberPasses(static_cast<size_t>(source.hierarchy->memberCount()), -1);
  std::vector<uint8_t> out(members.size(), 0);
  for (size_t k = 0; k < members.size(); ++k) {
    if (members[k] < 0) continue;
    int8_t& passes = memberPasses[static_cast<size_t>(members[k])];
    if (passes < 0) passes = c.matches(source.text(members[k])) ? 1 : 0;
    out[k] = static_cast<uint8_t>(passes);
  }
  return out;
}

std::vector<KeyDateCut> key_date_cuts(const CubeImpl& cube) {
  std::vector<KeyDateCut> cuts;
  for (const auto& parameter : cube.getParameters()) {
    if (parameter->getType() != NUVA_o::Parameter::PT_KEYDATE) continue;
    const HierarchyImpl* hierarchy = cube.findHierarchy(parameter->getHierarchyUniqueName());
    if (!hierarchy) continue;
    auto values = parameter->getParameterValues();
    if (values.empty()) values = parameter->getParameterDefaultValues();
    if (values.empty()) continue;
    const int32_t member = hierarchy->findMember(common::parameterValueText(*values.front()));
    if (member < 0) continue;
    const auto& dimensions = cube.dimensions();
    for (size_t d = 0; d < dimensions.size(); ++d)
      if (dimensions[d].get() == hierarchy->dimension())
        cuts.push_back({d, hierarchy, hierarchy->member(member).endLeaf});
  }
  return cuts;
}

const FieldImpl& own_field(const CubeImpl& cube, const NUVA_o::Field* field) {
  const auto* impl = dynamic_cast<const FieldImpl*>(field);
  if (!impl || impl->cube() != &cube) raise<InvalidArgumentExceptionImpl>(MEMORY_E_FOREIGN_OBJECT, "a flat request");
  return *impl;
}

TextSource text_source(const CubeImpl& cube, const NUVA_o::Field* field) {
  const FieldImpl& impl = own_field(cube, field);
  TextSource source;
  source.description = &impl.description();
  source.hierarchy = cube.findHierarchy(impl.getHierarchy()->getUniqueName());
  const auto& dimensions = cube.dimensions();
  for (size_t d = 0; d < dimensions.size(); ++d)
    if (dimensions[d].get() == source.hierarchy->dimension()) source.dimension = d;
  return source;
}

GroupNumbering::GroupNumbering(const CubeImpl& cube, const std::vector<NUVA_o::Field*>& fields)
    : strides(fields.size()) {
  for (const NUVA_o::Field* field : fields) {
    sources.push_back(text_source(cube, field));
    const TextSource& source = sources.back();
    std::unordered_map<TOVAString, uint32_t> ids;
    std::vector<TOVAString> values;
    std::vector<int32_t> memberValue(static_cast<size_t>(source.hierarchy->memberCount()), -1);
    for (int32_t m : source.hierarchy->level(static_cast<int32_t>(source.description->levelNumber))->m_Members) {
      auto [it, added] = ids.emplace(source.text(m), static_cast<uint32_t>(values.size()));
      if (added) values.push_back(it->first);
      memberValue[static_cast<size_t>(m)] = static_cast<int32_t>(it->second);
    }
    std::vector<int32_t> leaves = source.leaf_members();
    for (int32_t& v : leaves) v = v < 0 ? -1 : memberValue[static_cast<size_t>(v)];
    leafValues.push_back(std::move(leaves));
    cardinality.push_back(std::max<uint64_t>(values.size(), 1));
    texts.push_back(std::move(values));
  }
  for (size_t f = fields.size(); f-- > 0;) {
    strides[f] = total;
    if (total > std::numeric_limits<uint64_t>::max() / cardinality[f] / 2)
      raise_query<QueryTooLargeExceptionImpl>(MEMORY_E_QUERY_TOO_LARGE, "flat groups", "2^63");
    total *= cardinality[f];
  }
}

void GroupNumbering::addOffsets(size_t f, std::vector<int64_t>& table) const {
  for (size_t k = 0; k < table.size(); ++k) {
    const int32_t v = k < leafValues[f].size() ? leafValues[f][k] : -1;
    table[k] = (v < 0 || table[k] < 0) ? -1 : table[k] + static_cast<int64_t>(static_cast<uint64_t>(v) * strides[f]);
  }
}

}  // namespace memory
