#include "NUVA_o/TOVAOrExpressionProcessor.h"

#include "common/ComponentLog.h"
#include "support/ErrorCodes.h"
#include "support/Exceptions.h"

namespace NUVA_o::tovasql_parser {

namespace {

// Holds the reference that getChild hands out on a const node.
auto_unuse<TOVASQLExpression> held(const TOVASQLExpression* node) {
  return auto_unuse<TOVASQLExpression>(const_cast<TOVASQLExpression*>(node));
}

[[noreturn]] void raise_null(const char* item) {
  support::raise<InvalidPointerExceptionImpl>(common::moduleName(),
                                              support::COMMON_E_INVALID_POINTER,
                                              "TOVAOrExpressionProcessorCommon", "replaceOrNode",
                                              item);
}

// How many OR-free trees `node` splits into, counted up to `limit` + 1: an OR adds its
// operands' counts, any other node multiplies its children's.
size_t count_alternatives(const TOVASQLExpression& node, size_t limit) {
  const bool isOr = node.getType() == TOVASQLExpression::TOVASQL_ET_OR;
  size_t count = isOr ? 0 : 1;
  for (unsigned i = 0; i < node.getNumChildren(); ++i) {
    auto_unuse<TOVASQLExpression> child = held(node.getChild(i));
    const size_t c = count_alternatives(*child, limit);
    count = isOr ? count + c : (c != 0 && count > limit / c ? limit + 1 : count * c);
    if (count > limit) return limit + 1;
  }
  return isOr && count == 0 ? 1 : count;
}

}  // namespace

TOVAOrExpressionProcessorCommon::TOVAOrExpressionProcessorCommon(
    auto_unuse<TOVASQLExpression> root)
    : RefCountImpl("TOVAOREXPRESSIONPROCESSORCOMMON",
                   support::nextInstanceNumber<TOVAOrExpressionProcessorCommon>()) {
  if (root) m_WorkList.push_back(std::move(root));
}

const TOVASQLExpression* TOVAOrExpressionProcessorCommon::checkOrNode(
    const TOVASQLExpression& tree) {
  if (tree.getType() == TOVASQLExpression::TOVASQL_ET_OR) return &tree;
  for (unsigned i = 0; i < tree.getNumChildren(); ++i) {
    auto_unuse<TOVASQLExpression> child = held(tree.getChild(i));
    if (const TOVASQLExpression* found = checkOrNode(*child)) return found;
  }
  return nullptr;
}

bool TOVAOrExpressionProcessorCommon::replaceOrNode(TOVASQLExpression* parent,
                                                    const TOVASQLExpression& current,
                                                    unsigned index, unsigned branch) const {
  if (current.getType() == TOVASQLExpression::TOVASQL_ET_OR) {
    if (!parent) raise_null("parent");
    const TOVASQLExpression* operand = current.getChild(branch);
    if (!operand) raise_null("current");
    parent->replaceChild(index, operand);
    return true;
  }
  // Only this alternative's own copy is changed, so a node it reaches is never shared.
  auto* self = const_cast<TOVASQLExpression*>(&current);
  for (unsigned i = 0; i < current.getNumChildren(); ++i) {
    auto_unuse<TOVASQLExpression> child = held(current.getChild(i));
    if (replaceOrNode(self, *child, i, branch)) return true;
  }
  return false;
}

auto_unuse<TOVASQLExpression> TOVAOrExpressionProcessorCommon::alternative(
    const TOVASQLExpression& tree, unsigned branch) const {
  // A deep copy per alternative: replaceChild changes nodes in place, and on shared nodes the
  // change would reach the other alternative and the caller's tree.
  auto_unuse<TOVASQLExpression> copy(tree.clone());
  replaceOrNode(nullptr, *copy, 0, branch);
  return copy;
}

void TOVAOrExpressionProcessorCommon::generateQueries() {
  // Worked on copies so that a refused expansion leaves the processor as it was.
  std::deque<auto_unuse<TOVASQLExpression>> work = m_WorkList;
  Queries queries = m_Queries;
  auto_unuse<TOVASQLExpression> lastOr = m_pOrNode;
  // Refused before any copy is made.
  size_t expected = queries.size();
  for (const auto& tree : work) expected += count_alternatives(*tree, MAX_QUERIES);
  if (expected > MAX_QUERIES)
    support::raise<QueryTooLargeExceptionImpl>(common::moduleName(),
                                               support::COMMON_E_OR_TOO_MANY_QUERIES,
                                               static_cast<long long>(MAX_QUERIES));
  while (!work.empty()) {
    auto_unuse<TOVASQLExpression> tree = std::move(work.front());
    work.pop_front();
    const TOVASQLExpression* orNode = checkOrNode(*tree);
    if (!orNode) {
      queries.push_back(std::move(tree));
      continue;
    }
    lastOr = auto_unuse<TOVASQLExpression>::share(const_cast<TOVASQLExpression*>(orNode));
    for (unsigned branch = 0; branch < 2; ++branch) {
      m_Branch = branch;
      auto_unuse<TOVASQLExpression> alt = alternative(*tree, branch);
      work.emplace_back(alt.release());
    }
  }
  m_WorkList.clear();
  m_Queries = std::move(queries);
  m_pOrNode = std::move(lastOr);
}

}  // namespace NUVA_o::tovasql_parser
