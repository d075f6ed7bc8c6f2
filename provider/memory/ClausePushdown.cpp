// Filters that a cube's fact source computes itself: comparisons of summed measures with numbers
// become a condition on the sums of the axis's tuples, TopCount and BottomCount a ranking of
// the set's tuples by one sum. A filter goes to the source only where its answer is provably the
// one the evaluator gives on the grid; any other stays there.

#include <algorithm>
#include <cmath>
#include <map>

#include "Calculations.h"
#include "FactRequest.h"
#include "common/ComponentLog.h"
#include "common/GridClauses.h"

namespace memory {

namespace {

using NUVA_o::Expression;

const common::ComponentLog& clause_log() {
  static const common::ComponentLog log(moduleName(), "ClausePushdown");
  return log;
}

// The expression inside parentheses and wrappers of one operand.
Expression& unwrap(Expression& e) {
  Expression* at = &e;
  for (;;) {
    const auto type = at->getType();
    auto& k = at->getExpressions();
    if (k.size() != 1 || (type != Expression::ET_PARENTHESES && type != Expression::ET_UNARY_PLUS &&
                          type != Expression::ET_VALUE && type != Expression::ET_MEMBER &&
                          type != Expression::ET_MEMBER_GROUP && type != Expression::ET_TUPLE))
      return *at;
    at = k[0];
  }
}

bool number_of(Expression& operand, double& out) {
  Expression& e = unwrap(operand);
  if (e.getType() == Expression::ET_NEGATE && e.getExpressions().size() == 1) {
    if (!number_of(*e.getExpressions()[0], out)) return false;
    out = -out;
    return true;
  }
  if (e.getType() != Expression::ET_NUMBER || e.getValue().vt != VT_R8) return false;
  out = e.getValue().dblVal;
  return std::isfinite(out);
}

bool passes(SumCondition::Comparison comparison, double a, double b) {
  switch (comparison) {
    case SumCondition::SC_EQ: return a == b;
    case SumCondition::SC_NE: return a != b;
    case SumCondition::SC_LT: return a < b;
    case SumCondition::SC_LE: return a <= b;
    case SumCondition::SC_GT: return a > b;
    case SumCondition::SC_GE: return a >= b;
  }
  return false;
}

// Whether a tuple no fact row reaches passes: the evaluator compares its empty sums as zero.
bool passes_when_empty(const SumCondition& c) {
  switch (c.kind) {
    case SumCondition::SC_AND: return passes_when_empty(*c.left) && passes_when_empty(*c.right);
    case SumCondition::SC_OR: return passes_when_empty(*c.left) || passes_when_empty(*c.right);
    case SumCondition::SC_COMPARE: break;
  }
  return passes(c.comparison, 0.0, c.number);
}

// A stored or a calculated member of a hierarchy, found by unique name.
struct Found {
  size_t dimension = 0;
  const HierarchyImpl* hierarchy = nullptr;
  int32_t member = -1;
};

class Pusher {
 public:
  Pusher(CubeImpl* cube, const ResolvedQuery& resolved, const std::atomic<bool>* interrupt)
      : m_pCube(cube), m_Resolved(resolved), m_pInterrupt(interrupt) {
    const auto& dimensions = cube->dimensions();
    for (size_t d = 0; d < dimensions.size(); ++d)
      if (dimensions[d]->m_IsMeasures && !dimensions[d]->m_Hierarchies.empty() && !m_pMeasures)
        m_pMeasures = dimensions[d]->m_Hierarchies.front().get();
  }

  // Applies the filters of axis `a` that the source computes to the axis and removes them from
  // `filters`.
  void push(size_t a, std::vector<GridFilter>& filters, ResolvedAxis& axis) {
    for (auto it = filters.begin(); it != filters.end();) {
      if (it->axis != a) {
        ++it;
        continue;
      }
      TOVAString reason;
      if (push_one(*it, axis, reason)) {
        clause_log().logAt(5, "%s of axis %d: computed by the fact source", it->context, static_cast<int>(a));
        it = filters.erase(it);
      } else {
        clause_log().logAt(5, "%s of axis %d: stays on the grid: %s", it->context, static_cast<int>(a), reason);
        ++it;
      }
    }
  }

 private:
  bool push_one(const GridFilter& filter, ResolvedAxis& axis, TOVAString& reason) {
    for (const ResolvedCoordinate& c : axis.hierarchies)
      if (c.isMeasures) return refuse(reason, "the axis holds measures");
    // The grid refuses such an axis with its own error.
    if (axis.tupleCount > m_pCube->getQueryCellLimit()) return refuse(reason, "the axis has too many tuples");
    auto_unuse<Expression> tree = parse_clause(m_pCube, filter.expression, filter.context);
    Expression& root = unwrap(*tree);
    if (root.getType() == Expression::ET_TOPCOUNT || root.getType() == Expression::ET_BOTTOMCOUNT)
      return push_ranking(filter, root, axis, reason);
    std::vector<FactRequest::Term> terms;
    std::unique_ptr<SumCondition> condition = condition_of(root, terms);
    if (!condition) return refuse(reason, "not comparisons of summed measures with numbers");
    if (passes_when_empty(*condition)) return refuse(reason, "a tuple without facts passes it");
    for (const ResolvedCoordinate& c : axis.hierarchies)
      if (!one_level(*c.hierarchy, c.members)) return refuse(reason, "a hierarchy of the axis holds members of several levels");
    FactRequest request;
    if (!tuple_request(axis, {}, std::move(terms), request, reason)) return false;
    std::vector<CellSums> cells;
    if (!select(request, condition.get(), nullptr, cells)) return refuse(reason, "the source selects no cells");
    std::vector<uint8_t> keep(static_cast<size_t>(axis.tupleCount), 0);
    for (const CellSums& cell : cells)
      if (cell.cell >= 0 && static_cast<uint64_t>(cell.cell) < axis.tupleCount) keep[static_cast<size_t>(cell.cell)] = 1;
    keep_tuples(axis, keep);
    return true;
  }

  bool push_ranking(const GridFilter& filter, Expression& root, ResolvedAxis& axis, TOVAString& reason) {
    auto& k = root.getExpressions();
    const bool top = root.getType() == Expression::ET_TOPCOUNT;
    double count = 0;
    if (k.size() != 3 || !number_of(*k[1], count)) return refuse(reason, "not a count and a value");
    std::unique_ptr<common::CellSource> source = make_cell_source(m_pCube, m_Resolved, m_pInterrupt);
    const int32_t measure = source->contextMember(source->measuresHierarchy());
    // The set is evaluated as the grid would; only its tuples' values are left to the source.
    auto set = common::CompiledSet::compile(*source, *k[0], measure, filter.context);
    if (set->hierarchies().size() != 1) return refuse(reason, "the set's tuples are not of one hierarchy");
    const std::vector<int32_t> members = set->evaluate();
    const Found setHierarchy = hierarchy_at(set->hierarchies().front());
    if (!setHierarchy.hierarchy || setHierarchy.hierarchy == m_pMeasures)
      return refuse(reason, "the set is of measures");
    if (!(count >= 1) || count >= static_cast<double>(members.size()))
      return refuse(reason, "the count keeps every tuple of the set or none");
    const size_t take = static_cast<size_t>(count);
    std::vector<int32_t> sorted = members;
    std::sort(sorted.begin(), sorted.end());
    if (std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end())
      return refuse(reason, "the set holds a tuple twice");
    if (!one_level(*setHierarchy.hierarchy, members)) return refuse(reason, "the set holds members of several levels");

    // The value: a measure, alone or in a tuple with members of other hierarchies.
    std::vector<FactRequest::Term> terms;
    std::vector<ResolvedCoordinate> at;
    Expression& value = unwrap(*k[2]);
    std::vector<Expression*> parts;
    if (value.getType() == Expression::ET_TUPLE)
      for (Expression* part : value.getExpressions()) parts.push_back(&unwrap(*part));
    else
      parts.push_back(&value);
    for (Expression* part : parts) {
      if (part->getType() != Expression::ET_MEMBER_NAME) return refuse(reason, "the value is not a tuple of members");
      const Found found = find_member(part->getStringValue());
      if (!found.hierarchy) return refuse(reason, "the value names an unknown member");
      if (found.hierarchy == m_pMeasures) {
        if (!terms.empty()) return refuse(reason, "the value names two measures");
        FactRequest::Term term;
        if (!summed_term(*m_pCube, *m_pMeasures, found.member, 0, term))
          return refuse(reason, "the value's measure is not summed from the facts");
        terms.push_back(std::move(term));
        continue;
      }
      if (found.hierarchy == setHierarchy.hierarchy) return refuse(reason, "the value names the set's hierarchy");
      if (is_calculated(*found.hierarchy, found.member)) return refuse(reason, "the value names a calculated member");
      for (const ResolvedCoordinate& c : at)
        if (c.hierarchy == found.hierarchy) return refuse(reason, "the value names a hierarchy twice");
      ResolvedCoordinate& c = at.emplace_back();
      c.hierarchy = found.hierarchy;
      c.dimension = found.dimension;
      c.members.push_back(found.member);
    }
    if (terms.empty()) return refuse(reason, "the value names no measure");

    ResolvedAxis ranked;
    ResolvedCoordinate& c = ranked.hierarchies.emplace_back();
    c.hierarchy = setHierarchy.hierarchy;
    c.dimension = setHierarchy.dimension;
    c.members = members;
    finish_axis(ranked);
    FactRequest request;
    if (!tuple_request(ranked, at, std::move(terms), request, reason)) return false;
    SumRanking ranking;
    ranking.descending = top;
    // One more than kept: whether the last kept tuple ties with the next one.
    ranking.limit = take + 1;
    std::vector<CellSums> cells;
    if (!select(request, nullptr, &ranking, cells)) return refuse(reason, "the source ranks no cells");
    // Sums that are not numbers order differently here and there.
    for (const CellSums& cell : cells)
      if (cell.sums.empty() || !std::isfinite(cell.sums.front())) return refuse(reason, "a sum is not a finite number");
    if (cells.size() > take && cells[take - 1].sums.front() == cells[take].sums.front())
      return refuse(reason, "tuples tie at the count's boundary");
    // The evaluator ranks tuples without facts last, in the set's order.
    std::vector<uint8_t> chosen(members.size(), 0);
    size_t kept = 0;
    for (size_t i = 0; i < cells.size() && kept < take; ++i) {
      const int64_t cell = cells[i].cell;
      if (cell < 0 || static_cast<size_t>(cell) >= members.size() || chosen[static_cast<size_t>(cell)])
        return refuse(reason, "the source answered a cell outside the request");
      chosen[static_cast<size_t>(cell)] = 1;
      ++kept;
    }
    for (size_t i = 0; i < members.size() && kept < take; ++i)
      if (!chosen[i]) chosen[i] = 1, ++kept;
    std::vector<int32_t> topMembers;
    for (size_t i = 0; i < members.size(); ++i)
      if (chosen[i]) topMembers.push_back(members[i]);

    std::vector<uint64_t> tuples = current_tuples(axis);
    const common::EvaluationRows rows = axis_rows(*source, axis, tuples);
    const std::vector<size_t> inSet = common::rowsInSet(rows, set->hierarchies(), topMembers, filter.context);
    std::vector<uint8_t> keep(static_cast<size_t>(axis.tupleCount), 0);
    for (size_t r : inSet) keep[static_cast<size_t>(tuples[r])] = 1;
    keep_tuples(axis, keep);
    return true;
  }

  static bool refuse(TOVAString& reason, const char* why) {
    reason = TOVAString(why);
    return false;
  }

  // The members are of one level and none is calculated.
  static bool one_level(const HierarchyImpl& hierarchy, const std::vector<int32_t>& members) {
    for (int32_t m : members)
      if (m < 0 || is_calculated(hierarchy, m) || hierarchy.member(m).level != hierarchy.member(members.front()).level)
        return false;
    return true;
  }

  Found hierarchy_at(int32_t index) const {
    Found out;
    int32_t n = 0;
    const auto& dimensions = m_pCube->dimensions();
    for (size_t d = 0; d < dimensions.size(); ++d)
      for (const auto& h : dimensions[d]->m_Hierarchies)
        if (n++ == index) {
          out.dimension = d;
          out.hierarchy = h.get();
        }
    return out;
  }

  Found find_member(const TOVAString& uniqueName) const {
    Found out;
    const auto& dimensions = m_pCube->dimensions();
    for (size_t d = 0; d < dimensions.size() && !out.hierarchy; ++d)
      for (const auto& h : dimensions[d]->m_Hierarchies) {
        const int32_t m = h->findMember(uniqueName);
        if (m >= 0) {
          out = {d, h.get(), m};
          break;
        }
      }
    return out;
  }

  // The term of a measure operand, shared by every comparison that reads it; -1 when the
  // operand is no measure summed from the facts.
  int term_of(Expression& operand, std::vector<FactRequest::Term>& terms) {
    Expression& e = unwrap(operand);
    if (e.getType() != Expression::ET_MEMBER_NAME || !m_pMeasures) return -1;
    const int32_t member = m_pMeasures->findMember(e.getStringValue());
    if (member < 0) return -1;
    FactRequest::Term term;
    if (!summed_term(*m_pCube, *m_pMeasures, member, 0, term)) return -1;
    for (size_t t = 0; t < terms.size(); ++t)
      if (terms[t].measure == term.measure && terms[t].coefficients == term.coefficients) return static_cast<int>(t);
    terms.push_back(std::move(term));
    return static_cast<int>(terms.size() - 1);
  }

  std::unique_ptr<SumCondition> condition_of(Expression& operand, std::vector<FactRequest::Term>& terms) {
    Expression& e = unwrap(operand);
    auto& k = e.getExpressions();
    const auto type = e.getType();
    auto out = std::make_unique<SumCondition>();
    if ((type == Expression::ET_AND || type == Expression::ET_OR) && k.size() == 2) {
      out->kind = type == Expression::ET_AND ? SumCondition::SC_AND : SumCondition::SC_OR;
      out->left = condition_of(*k[0], terms);
      out->right = out->left ? condition_of(*k[1], terms) : nullptr;
      return out->right ? std::move(out) : nullptr;
    }
    static const std::map<int, std::pair<SumCondition::Comparison, SumCondition::Comparison>> comparisons = {
        // The comparison, and the same with its sides swapped.
        {Expression::ET_EQ, {SumCondition::SC_EQ, SumCondition::SC_EQ}},
        {Expression::ET_NE, {SumCondition::SC_NE, SumCondition::SC_NE}},
        {Expression::ET_LT, {SumCondition::SC_LT, SumCondition::SC_GT}},
        {Expression::ET_LE, {SumCondition::SC_LE, SumCondition::SC_GE}},
        {Expression::ET_GT, {SumCondition::SC_GT, SumCondition::SC_LT}},
        {Expression::ET_GE, {SumCondition::SC_GE, SumCondition::SC_LE}}};
    auto found = comparisons.find(static_cast<int>(type));
    if (found == comparisons.end() || k.size() != 2) return nullptr;
    for (size_t side = 0; side < 2; ++side) {
      if (!number_of(*k[1 - side], out->number)) continue;
      const int term = term_of(*k[side], terms);
      if (term < 0) return nullptr;
      out->term = static_cast<size_t>(term);
      out->comparison = side == 0 ? found->second.first : found->second.second;
      return out;
    }
    return nullptr;
  }

  // The request summing `terms` over the tuples of `axis`, one cell per tuple numbered as in
  // the axis's cross join, under the query's slicer with `at` in place of its coordinates of the
  // same hierarchies. False where a leaf key would reach several tuples, or where a hierarchy
  // left out stands at a default member that is not its one top member: the grid reads such
  // values otherwise.
  bool tuple_request(const ResolvedAxis& axis, const std::vector<ResolvedCoordinate>& at,
                     std::vector<FactRequest::Term> terms, FactRequest& out, TOVAString& reason) const {
    ResolvedQuery query;
    query.axes.push_back(axis);
    query.slicer = at;
    auto given = [&](const HierarchyImpl* h) {
      for (const ResolvedCoordinate& c : query.slicer)
        if (c.hierarchy == h) return true;
      for (const ResolvedCoordinate& c : axis.hierarchies)
        if (c.hierarchy == h) return true;
      return false;
    };
    for (const ResolvedCoordinate& c : m_Resolved.slicer)
      if (!c.isMeasures && !given(c.hierarchy)) query.slicer.push_back(c);
    for (const auto& dimension : m_pCube->dimensions()) {
      if (dimension->m_IsMeasures) continue;
      for (const auto& h : dimension->m_Hierarchies) {
        if (given(h.get())) continue;
        if (h->m_Levels.empty() || h->level(0)->m_Members.size() != 1 ||
            h->level(0)->m_Members.front() != h->m_DefaultMember)
          return refuse(reason, "a hierarchy left out stands at a default member below its top");
      }
    }
    GridData scratch;
    scratch.cellStrides.assign(1, 1);
    out = make_fact_request(*m_pCube, query, scratch);
    for (const FactRequest::Dimension& d : out.dimensions)
      for (const std::vector<int64_t>& offsets : d.offsets)
        if (offsets.size() != 1) return refuse(reason, "members of the axis overlap");
    out.terms = std::move(terms);
    out.purpose = TOVAString().build("a filter of cube '%s'", m_pCube->getName());
    return true;
  }

  bool select(const FactRequest& request, const SumCondition* condition, const SumRanking* ranking,
              std::vector<CellSums>& cells) const {
    // A dimension none of whose keys is asked for leaves every cell empty.
    for (const FactRequest::Dimension& d : request.dimensions)
      if (d.keys.empty()) return true;
    return m_pCube->factSource()->selectCells(request, condition, ranking, cells, m_pInterrupt);
  }

  static std::vector<uint64_t> current_tuples(const ResolvedAxis& axis) {
    if (axis.ordered) return axis.order;
    std::vector<uint64_t> tuples(static_cast<size_t>(axis.tupleCount));
    for (size_t t = 0; t < tuples.size(); ++t) tuples[t] = t;
    return tuples;
  }

  // The axis keeps its tuples whose ordinal `keep` marks, in their order.
  static void keep_tuples(ResolvedAxis& axis, const std::vector<uint8_t>& keep) {
    std::vector<uint64_t> left;
    for (uint64_t t : current_tuples(axis))
      if (keep[static_cast<size_t>(t)]) left.push_back(t);
    axis.ordered = true;
    axis.order = std::move(left);
    shrink_cross_join(axis);
  }

  CubeImpl* m_pCube;
  const ResolvedQuery& m_Resolved;
  const std::atomic<bool>* m_pInterrupt;
  const HierarchyImpl* m_pMeasures = nullptr;
};

}  // namespace

void push_axis_filters(CubeImpl* cube, GridQuery& query, ResolvedQuery& resolved,
                       const std::atomic<bool>* interrupt) {
  if (!cube->factSource() || query.filters.empty()) return;
  Pusher pusher(cube, resolved, interrupt);
  for (size_t a = 0; a < resolved.axes.size(); ++a) pusher.push(a, query.filters, resolved.axes[a]);
  resolved.cellCount = 1;
  for (const ResolvedAxis& axis : resolved.axes) resolved.cellCount *= axis.tupleCount;
}

void choose_totals_axis(const CubeImpl& cube, const GridQuery& query, ResolvedQuery& resolved) {
  resolved.totalsAxis = -1;
  if (!cube.factSource() || query.subtotals.empty()) return;
  // Entries of an axis aggregate the grid's cells along it; the source's totals are those of
  // the grid before any axis has entries, so only the first axis with entries can read them.
  size_t a = resolved.axes.size();
  for (const GridSubtotal& s : query.subtotals) a = std::min(a, s.axis);
  for (const GridCalculation& c : query.calculations) a = std::min(a, c.axis);
  if (a >= resolved.axes.size()) return;
  bool sum = false;
  for (const GridSubtotal& s : query.subtotals) sum = sum || (s.axis == a && s.operation == 0 && s.type == 0);
  if (!sum) return;
  auto stays = [&](const char* why) {
    clause_log().logAt(5, "the sum of axis %d stays on the grid: %s", static_cast<int>(a), TOVAString(why));
  };
  for (const GridFilter& f : query.filters)
    if (f.axis == a) return stays("a filter removes tuples of the axis");
  const ResolvedAxis& axis = resolved.axes[a];
  for (const ResolvedCoordinate& c : axis.hierarchies) {
    if (c.isMeasures) return stays("the axis holds measures");
    for (int32_t m : c.members)
      if (is_calculated(*c.hierarchy, m) || c.hierarchy->member(m).level != c.hierarchy->member(c.members.front()).level)
        return stays("a hierarchy of the axis holds members of several levels");
    for (const auto& keys : covering(*cube.dimensions()[c.dimension], c))
      if (keys.size() > 1) return stays("members of the axis overlap");
    for (size_t b = 0; b < resolved.axes.size(); ++b)
      for (const ResolvedCoordinate& other : resolved.axes[b].hierarchies)
        if (b != a && !other.isMeasures && other.dimension == c.dimension)
          return stays("a dimension of the axis is on another axis too");
  }
  // Every cell must be a sum of facts: its measure stored or summed from stored ones.
  auto summed = [&](const ResolvedCoordinate& c) {
    if (!c.isMeasures) return true;
    for (int32_t m : c.members)
      if (is_calculated(*c.hierarchy, m) && !summed_with_facts(cube, *c.hierarchy, m)) return false;
    return true;
  };
  for (const ResolvedAxis& other : resolved.axes)
    for (const ResolvedCoordinate& c : other.hierarchies)
      if (!summed(c)) return stays("a measure of the grid is computed from others");
  for (const ResolvedCoordinate& c : resolved.slicer)
    if (!summed(c)) return stays("the measure is computed from others");
  resolved.totalsAxis = static_cast<int>(a);
  clause_log().logAt(5, "the sum of axis %d: added up by the fact source with the cells", static_cast<int>(a));
}

}  // namespace memory
