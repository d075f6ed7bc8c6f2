#pragma once

#include <vector>

#include "NUVA_o/Expression.h"
#include "support/ListenerList.h"
#include "support/Locks.h"
#include "support/RefCountImpl.h"

namespace common {

// A node of an expression tree; a root also holds the whole text and its cube. Children are
// held with one reference each. Trees of any depth are printed, copied, compared, loaded and
// released without recursion.
class VTQ_EXPORT ExpressionBase : public support::RefCountImpl, public NUVA_o::Expression {
 public:
  // A root on `cube` (borrowed; may be null).
  explicit ExpressionBase(NUVA_o::Cube* cube);

  // Nodes come and go by the thousand while parsing; each thread keeps a few freed ones.
  static void* operator new(size_t size);
  static void operator delete(void* block, size_t size);

  void save(XmlSupport& document, const int& index, DOMElement* element) override;
  void load(DOMElement* element, NUVA_o::Cube* cube) override;
  NUVA_o::Expression* clone() override;
  NUVA_o::Expression* AddNewChild(NUVA_o::Expression* child) override;
  NUVA_o::Expression* AddNewChild() override;
  void RemoveAllChildren() override;
  void RemoveChild(NUVA_o::Expression* child) override;
  void SetParentExpression(NUVA_o::Expression* parent) override;
  NUVA_o::Expression* GetParentExpression() const override;
  void SetParent(NUVA_o::OptionalCubeViewClause* clause) override;
  NUVA_o::OptionalCubeViewClause* GetParent() const override;
  bool setTextAndCreateTree(const TOVAString& text) override;
  void setNativeText(const TOVAString& text) override;
  TOVAString getTextFromTree() override;
  bool operator==(NUVA_o::Expression& other) override;
  std::vector<NUVA_o::Expression*>& getExpressions() override;
  void setExpressions(const std::vector<NUVA_o::Expression*>& children) override;
  ExpressionType getType() const override;
  void setType(ExpressionType type) override;
  const TOVAString& getText() const override;
  void setText(TOVAString& text) override;
  VARIANT& getValue() override;
  const TOVAString& getStringValue() const override;
  void setStringValue(const TOVAString& value) override;
  void resolveParameters(NUVA_o::Cube* cube,
                         std::vector<auto_unuse<NUVA_o::Parameter>>& parameters) override;
  void replaceNode(ExpressionType type, const TOVAString& text) override;
  void replaceParameter(const NUVA_o::Parameter* parameter) override;
  NUVA_o::Cube* getCube() const override;
  bool isRankingExpression() override;
  bool isAggregateExpression() override;
  void addListener(ExpressionListener* listener) const override;
  void removeListener(ExpressionListener* listener) const override;
  void notify_listeners() const override;

  // A detached node for the parser: no cube, no parent, room for `children` children.
  static ExpressionBase* createNode(size_t children);
  // Moves `node`'s type, values and children into this root (used when a parse completes).
  void adopt_contents(ExpressionBase& node);
  void take_text(TOVAString&& text) { m_Text = std::move(text); }
  // Appends `child`, taking over the caller's reference.
  void adopt_child(ExpressionBase* child);
  // Whether `operand`, at `index` under an operator of `parentType`, prints in parentheses to
  // keep its grouping. Such parentheses add no node when read back.
  static bool operand_needs_parentheses(int parentType, size_t index, NUVA_o::Expression* operand);

 protected:
  // A child of `parent` (not owned) with room for `reserve` children.
  explicit ExpressionBase(NUVA_o::Expression* parent, size_t reserve = 5);
  ~ExpressionBase() override;
  void replace_parameter_with_value(const NUVA_o::Parameter* parameter, bool replace) override;

 private:
  void print_into(TOVAString& out);
  // A placeholder that replaceNode renamed becomes a placeholder again before printing.
  void settle_placeholder();
  // Becomes the tree of the parameter's current value (its default when it has none); throws
  // InvalidExpressionException COMMON_E_PARAMETER_WITHOUT_VALUE when it has neither.
  void substitute_value(const NUVA_o::Parameter& parameter, NUVA_o::Cube* cube);
  void log_text_change(const char* replacingFormat, const TOVAString& text) const;

  NUVA_o::Cube* m_pCube;
  std::vector<NUVA_o::Expression*> m_Expressions;
  NUVA_o::Expression* m_pParentExpression;
  NUVA_o::OptionalCubeViewClause* m_pParentClause;
  mutable support::ListenerList<ExpressionListener> m_Listeners;
  ExpressionType m_Type;
  TOVAString m_Text;
  VARIANT m_Value;
  TOVAString m_StringValue;
  bool m_bPlaceholderPending;
  TOVAString m_PlaceholderText;
};

}  // namespace common
