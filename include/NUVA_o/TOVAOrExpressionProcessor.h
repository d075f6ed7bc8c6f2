#pragma once

#include <deque>
#include <vector>

#include "NUVA_o/TOVASQLExpression.h"
#include "support/RefCountImpl.h"

namespace NUVA_o::tovasql_parser {

// Rewrites a tree whose conditions hold OR nodes into OR-free trees whose rows, taken
// together, are the rows of the tree. A row that several alternatives return is one row of
// the original: callers combine the results without counting it twice.
class VTQ_EXPORT TOVAOrExpressionProcessor : public virtual olap_api::RefCount {
 public:
  using Queries = std::vector<auto_unuse<TOVASQLExpression>>;

  ~TOVAOrExpressionProcessor() override = default;
  // Expands the tree given at construction. Throws InvalidPointerException for an OR node at
  // the root or without the chosen operand, QueryTooLargeException when the alternatives
  // would outnumber MAX_QUERIES; the processor is then as before the call.
  virtual void generateQueries() = 0;
  // The OR-free trees found so far (a copy; each holds a reference); empty before
  // generateQueries. Each is a tree of its own, sharing no node with another alternative or
  // with the input (a tree without OR is returned itself).
  virtual Queries getQueries() const = 0;
};

class VTQ_EXPORT TOVAOrExpressionProcessorCommon : public support::RefCountImpl,
                                                   public TOVAOrExpressionProcessor {
 public:
  // Each independent OR doubles the alternatives; past this many they are refused.
  static constexpr size_t MAX_QUERIES = 4096;

  // Keeps the reference on `root`, which must not be null.
  explicit TOVAOrExpressionProcessorCommon(auto_unuse<TOVASQLExpression> root);

  void generateQueries() override;
  Queries getQueries() const override { return m_Queries; }

 protected:
  ~TOVAOrExpressionProcessorCommon() override = default;

 private:
  // The first OR node of `tree` in pre-order, borrowed; null when there is none.
  static const TOVASQLExpression* checkOrNode(const TOVASQLExpression& tree);
  // Replaces the first OR node below `parent` (at `index` of it) by its operand `branch`.
  bool replaceOrNode(TOVASQLExpression* parent, const TOVASQLExpression& current,
                     unsigned index, unsigned branch) const;
  auto_unuse<TOVASQLExpression> alternative(const TOVASQLExpression& tree, unsigned branch) const;

  auto_unuse<TOVASQLExpression> m_pOrNode;
  std::deque<auto_unuse<TOVASQLExpression>> m_WorkList;
  unsigned m_Branch = 0;
  Queries m_Queries;
};

}  // namespace NUVA_o::tovasql_parser
