#include "common/FlatQueryPlan.h"

#include <algorithm>
#include <numeric>
#include <utility>

#include "common/ComponentLog.h"
#include "common/RowBase.h"
#include "common/RowsetDataModelBase.h"
#include "support/ErrorCodes.h"
#include "support/Exceptions.h"

namespace common {

using NUVA_o::tovasql_parser::TOVASQLExpression;
using T = TOVASQLExpression;

namespace {

// Child `index`, borrowed: the parent keeps it alive.
const TOVASQLExpression* child(const TOVASQLExpression& node, unsigned index) {
  const TOVASQLExpression* c = node.getChild(index);
  if (c) const_cast<TOVASQLExpression*>(c)->unuse();
  return c;
}

[[noreturn]] void malformed(const char* what) {
  support::raise<InvalidExpressionExceptionImpl>(moduleName(),
                                                 support::COMMON_E_FLAT_MALFORMED_TREE, what);
}

char16_t fold(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; }

// SQL LIKE: '%' matches any run, '_' one character. Backtracks only to the last '%'.
bool like(const TOVAString& value, const TOVAString& pattern) {
  size_t v = 0, p = 0, starP = TOVAString::npos, starV = 0;
  while (v < value.size()) {
    if (p < pattern.size() && pattern[p] == u'%') {
      starP = p++;
      starV = v;
    } else if (p < pattern.size() && (pattern[p] == u'_' || fold(pattern[p]) == fold(value[v]))) {
      ++p;
      ++v;
    } else if (starP != TOVAString::npos) {
      p = starP + 1;
      v = ++starV;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == u'%') ++p;
  return p == pattern.size();
}

template <class V>
bool compare(FlatCondition::Operator op, const V& value, const std::vector<V>& operands) {
  switch (op) {
    case FlatCondition::FO_EQUAL: return value == operands[0];
    case FlatCondition::FO_LESS: return value < operands[0];
    case FlatCondition::FO_LESSEQUAL: return !(operands[0] < value);
    case FlatCondition::FO_GREATER: return operands[0] < value;
    case FlatCondition::FO_GREATEREQUAL: return !(value < operands[0]);
    case FlatCondition::FO_BETWEEN: return !(value < operands[0]) && !(operands[1] < value);
    case FlatCondition::FO_IN: return std::binary_search(operands.begin(), operands.end(), value);
    case FlatCondition::FO_LIKE: return false;
  }
  return false;
}

}  // namespace

bool FlatCondition::matches(const TOVAString& value) const {
  bool result = op == FO_LIKE ? like(value, texts[0]) : compare(op, value, texts);
  return result != negated;
}

bool FlatCondition::matches(double value) const {
  return compare(op, value, numbers) != negated;
}

void FlatCondition::collectConjuncts(std::vector<const FlatCondition*>& out) const {
  if (kind != FC_AND) {
    out.push_back(this);
    return;
  }
  left->collectConjuncts(out);
  right->collectConjuncts(out);
}

FlatQueryPlan::FlatQueryPlan(const TOVASQLExpression& root) : m_Root(root) {
  if (root.getType() != T::TOVASQL_ET_SELECT || root.getNumChildren() < 2) malformed("no SELECT");
  const TOVASQLExpression* fields = child(root, 0);
  const TOVASQLExpression* from = child(root, 1);
  if (fields->getType() != T::TOVASQL_ET_FIELDLIST || from->getType() != T::TOVASQL_ET_FROM)
    malformed("no field list or FROM list");
  std::vector<TOVAString> hierarchies;
  for (unsigned i = 0; i < from->getNumChildren(); ++i)
    hierarchies.push_back(child(*from, i)->getStringValue());
  for (unsigned i = 0; i < fields->getNumChildren(); ++i)
    add_field(*child(*fields, i), hierarchies);
  const TOVASQLExpression* groupBy = nullptr;
  for (unsigned i = 2; i < root.getNumChildren(); ++i) {
    const TOVASQLExpression* clause = child(root, i);
    if (clause->getType() == T::TOVASQL_ET_GROUPBY && !groupBy) {
      groupBy = clause;
      continue;
    }
    if (clause->getType() != T::TOVASQL_ET_WHERE || clause->getNumChildren() != 1 ||
        m_pCondition || groupBy)
      malformed("a clause other than WHERE and GROUP BY");
    m_pCondition = normalise(*child(*clause, 0));
  }
  if (!groupBy) {
    m_Groupings.push_back(make_grouping(nullptr));
    return;
  }
  for (unsigned i = 0; i < groupBy->getNumChildren(); ++i) {
    const TOVASQLExpression* set = child(*groupBy, i);
    if (set->getType() != T::TOVASQL_ET_GROUPINGSET) malformed("GROUP BY without grouping sets");
    m_Groupings.push_back(make_grouping(set));
  }
  if (m_Groupings.empty()) malformed("GROUP BY without grouping sets");
}

FlatQueryPlan::Grouping FlatQueryPlan::make_grouping(const TOVASQLExpression* set) const {
  // The unique names the set names; every one must be a selected column's.
  std::vector<TOVAString> named;
  for (unsigned i = 0; set && i < set->getNumChildren(); ++i) {
    const NUVA_o::Field* field = child(*set, i)->getField();
    if (!field) malformed("a grouping set item that is no field");
    const TOVAString& name = field->getUniqueName();
    if (std::none_of(m_Columns.begin(), m_Columns.end(),
                     [&](const Column& c) { return c.field->getUniqueName() == name; }))
      support::raise<InvalidExpressionExceptionImpl>(
          moduleName(), support::COMMON_E_FLAT_GROUPING_SET_FIELD, name);
    named.push_back(name);
  }
  auto in_set = [&](const NUVA_o::Field* field) {
    return !set || std::find(named.begin(), named.end(), field->getUniqueName()) != named.end();
  };
  Grouping grouping;
  std::vector<int> groupSlot(m_GroupFields.size(), -1), measureSlot(m_MeasureFields.size(), -1);
  for (size_t f = 0; f < m_GroupFields.size(); ++f)
    if (in_set(m_GroupFields[f])) {
      groupSlot[f] = static_cast<int>(grouping.groupFields.size());
      grouping.groupFields.push_back(m_GroupFields[f]);
    }
  for (size_t f = 0; f < m_MeasureFields.size(); ++f)
    if (in_set(m_MeasureFields[f])) {
      measureSlot[f] = static_cast<int>(grouping.measureFields.size());
      grouping.measureFields.push_back(m_MeasureFields[f]);
    }
  for (const Column& column : m_Columns)
    grouping.columnSlots.push_back(column.measure ? measureSlot[column.slot] : groupSlot[column.slot]);
  return grouping;
}

FlatQueryPlan::~FlatQueryPlan() = default;

NUVA_o::Field* FlatQueryPlan::keep(const NUVA_o::Field* field) {
  auto* f = const_cast<NUVA_o::Field*>(field);
  m_Kept.push_back(auto_unuse<NUVA_o::Field>::share(f));
  return f;
}

void FlatQueryPlan::add_field(const TOVASQLExpression& node, const std::vector<TOVAString>& from) {
  const NUVA_o::Field* field = node.getField();
  if (node.getType() != T::TOVASQL_ET_FIELD || !field)
    support::raise<InvalidExpressionExceptionImpl>(
        moduleName(), support::COMMON_E_FLAT_UNKNOWN_FIELD, node.getText(false));
  std::vector<NUVA_o::Field*>& list = field->isNumeric() ? m_MeasureFields : m_GroupFields;
  if (!field->isNumeric()) {
    const NUVA_o::Hierarchy* hierarchy = field->getHierarchy();
    if (!hierarchy) malformed("a text field of no hierarchy");
    if (std::find(from.begin(), from.end(), hierarchy->getUniqueName()) == from.end())
      support::raise<InvalidExpressionExceptionImpl>(
          moduleName(), support::COMMON_E_FLAT_FIELD_NOT_IN_FROM, field->getUniqueName(),
          hierarchy->getUniqueName());
  }
  // A field named twice is computed once and shown in both columns.
  auto same = std::find_if(list.begin(), list.end(), [&](const NUVA_o::Field* f) {
    return f->getUniqueName() == field->getUniqueName();
  });
  unsigned slot = static_cast<unsigned>(same - list.begin());
  if (same == list.end()) list.push_back(keep(field));
  m_Columns.push_back({list[slot], field->isNumeric(), slot});
}

std::unique_ptr<FlatCondition> FlatQueryPlan::normalise(const TOVASQLExpression& node) {
  auto out = std::make_unique<FlatCondition>();
  T::TOVASQLExpressionType type = node.getType();
  if (type == T::TOVASQL_ET_AND || type == T::TOVASQL_ET_OR) {
    if (node.getNumChildren() != 2) malformed("AND or OR without two operands");
    out->kind = type == T::TOVASQL_ET_AND ? FlatCondition::FC_AND : FlatCondition::FC_OR;
    out->left = normalise(*child(node, 0));
    out->right = normalise(*child(node, 1));
    return out;
  }
  unsigned operands = 2;
  switch (type) {
    case T::TOVASQL_ET_NOTEQUAL: out->negated = true; [[fallthrough]];
    case T::TOVASQL_ET_EQUAL: out->op = FlatCondition::FO_EQUAL; break;
    case T::TOVASQL_ET_LESS: out->op = FlatCondition::FO_LESS; break;
    case T::TOVASQL_ET_LESSEQUAL: out->op = FlatCondition::FO_LESSEQUAL; break;
    case T::TOVASQL_ET_GREATER: out->op = FlatCondition::FO_GREATER; break;
    case T::TOVASQL_ET_GREATEREQUAL: out->op = FlatCondition::FO_GREATEREQUAL; break;
    case T::TOVASQL_ET_NOTBETWEEN: out->negated = true; [[fallthrough]];
    case T::TOVASQL_ET_BETWEEN: out->op = FlatCondition::FO_BETWEEN; operands = 3; break;
    case T::TOVASQL_ET_NOTINLIST: out->negated = true; [[fallthrough]];
    case T::TOVASQL_ET_INLIST: out->op = FlatCondition::FO_IN; break;
    case T::TOVASQL_ET_NOTLIKE: out->negated = true; [[fallthrough]];
    case T::TOVASQL_ET_LIKE: out->op = FlatCondition::FO_LIKE; break;
    default: malformed("a condition that is no comparison");
  }
  if (node.getNumChildren() != operands) malformed("a comparison with a wrong operand count");
  const TOVASQLExpression* subject = child(node, 0);
  if (subject->getType() != T::TOVASQL_ET_FIELD || !subject->getField())
    support::raise<InvalidExpressionExceptionImpl>(
        moduleName(), support::COMMON_E_FLAT_UNKNOWN_FIELD, subject->getText(false));
  out->field = keep(subject->getField());
  const bool numeric = out->field->isNumeric();
  std::vector<const TOVASQLExpression*> values;
  if (out->op == FlatCondition::FO_IN) {
    const TOVASQLExpression* list = child(node, 1);
    if (list->getType() != T::TOVASQL_ET_LIST) malformed("IN without a list");
    for (unsigned i = 0; i < list->getNumChildren(); ++i) values.push_back(child(*list, i));
  } else {
    for (unsigned i = 1; i < operands; ++i) values.push_back(child(node, i));
  }
  for (const TOVASQLExpression* value : values) {
    if (numeric && value->getType() == T::TOVASQL_ET_NUMERICVALUE && out->op != FlatCondition::FO_LIKE)
      out->numbers.push_back(value->getDoubleValue());
    else if (!numeric && value->getType() == T::TOVASQL_ET_STRINGVALUE)
      out->texts.push_back(value->getStringValue());
    else
      support::raise<InvalidExpressionExceptionImpl>(
          moduleName(), support::COMMON_E_FLAT_WRONG_TYPE, out->field->getUniqueName(),
          value->getText(false));
  }
  std::sort(out->texts.begin() + (out->op == FlatCondition::FO_IN ? 0 : out->texts.size()),
            out->texts.end());
  std::sort(out->numbers.begin() + (out->op == FlatCondition::FO_IN ? 0 : out->numbers.size()),
            out->numbers.end());
  return out;
}

NUVA_o::RowsetDataModel* FlatQueryPlan::makeRowset(const std::vector<Groups>& computed) const {
  if (computed.size() != m_Groupings.size()) malformed("groups computed for other groupings");
  RowsetDataModelBase::ColumnInfos columns;
  m_Root.getColumnInfos(columns);
  RowsetDataModelBase::Rows rows;
  const auto width = static_cast<unsigned>(m_Columns.size());
  for (size_t s = 0; s < m_Groupings.size(); ++s) {
    const Grouping& grouping = m_Groupings[s];
    const Groups& groups = computed[s];
    const size_t keyWidth = grouping.groupFields.size(), sumWidth = grouping.measureFields.size();
    size_t count = keyWidth ? groups.keys.size() / keyWidth
                            : (sumWidth ? groups.sums.size() / sumWidth : 0);
    std::vector<size_t> order(count);
    std::iota(order.begin(), order.end(), size_t{0});
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
      return std::lexicographical_compare(
          groups.keys.begin() + static_cast<ptrdiff_t>(a * keyWidth),
          groups.keys.begin() + static_cast<ptrdiff_t>((a + 1) * keyWidth),
          groups.keys.begin() + static_cast<ptrdiff_t>(b * keyWidth),
          groups.keys.begin() + static_cast<ptrdiff_t>((b + 1) * keyWidth));
    });
    const size_t first = rows.size();
    for (size_t g : order) {
      auto_unuse<RowBase> row(new RowBase(width));
      for (unsigned c = 0; c < width; ++c) {
        const int slot = grouping.columnSlots[c];
        if (slot < 0) continue;  // a column this grouping set leaves empty
        const auto at = static_cast<size_t>(slot);
        const NUVA_o::Field* field = m_Columns[c].field;
        if (m_Columns[c].measure)
          row->addDatum(c, NUVA_o::CellValue::real(field->getDataType(), groups.sums[g * sumWidth + at]));
        else
          row->addDatum(c, NUVA_o::CellValue::text(field->getDataType(),
                                                   groups.values[at][groups.keys[g * keyWidth + at]]));
      }
      rows.emplace_back(row.release());
    }
    // Aggregates without grouping make one row even over no facts, as in SQL.
    if (keyWidth == 0 && rows.size() == first && width > 0) rows.emplace_back(new RowBase(width));
  }
  return new RowsetDataModelBase(std::move(columns), std::move(rows));
}

}  // namespace common
