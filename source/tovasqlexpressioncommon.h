#pragma once

#include <deque>
#include <vector>

#include "NUVA_o/TOVASQLExpression.h"
#include "support/RefCountImpl.h"

class TOVASQLLexer;

namespace common {

// A node of a TOVASQL tree. A root (made from a cube) is also where a tree is built: the
// statement parser and the expression builder push operands at the back of its operation
// queue, pending operators at its front, and combine them with the building steps below.
// Every node holds the cube of its root.
class VTQ_EXPORT TOVASQLExpressionCommon : public support::RefCountImpl,
                                           public NUVA_o::tovasql_parser::TOVASQLExpression {
 public:
  using Node = TOVASQLExpressionCommon;
  using Type = TOVASQLExpressionType;

  // A root (type NONE) on `cube`; keeps a reference on the cube.
  explicit TOVASQLExpressionCommon(NUVA_o::Cube* cube);
  // FIELD, HIERARCHY and PARAMETER nodes; each keeps a reference on what it is given. The
  // unique name that a PARAMETER node prints is its string value (set_string_value).
  explicit TOVASQLExpressionCommon(NUVA_o::Field* field);
  explicit TOVASQLExpressionCommon(NUVA_o::Hierarchy* hierarchy);
  TOVASQLExpressionCommon(NUVA_o::Parameter* parameter, NUVA_o::Field* field);
  // Shares the children of `other` (a reference on each); the queue is not copied.
  TOVASQLExpressionCommon(const TOVASQLExpressionCommon& other);

  void toString(TOVAString& out) const override;
  void setTextAndCreateTree(const TOVAString& text) override;
  Type getType() const override { return m_Type; }
  TOVAString getText(bool spaced) const override;
  unsigned getNumChildren() const override { return static_cast<unsigned>(m_Children.size()); }
  const TOVASQLExpression* getChild(unsigned index) const override;
  void replaceChild(unsigned index, const TOVASQLExpression* child) override;
  const TOVAString& getStringValue() const override;
  double getDoubleValue() const override;
  int getIndexValue() const override;
  void getColumnInfos(ColumnInfos& out) const override;
  void getColumnInfosForGroupingSet(unsigned set, ColumnInfos& out) const override;
  const NUVA_o::Field* getField() const override { return m_pField.get(); }
  const NUVA_o::Parameter* getParameter() const override { return m_pParameter.get(); }
  TOVASQLExpression* invert() const override;
  TOVASQLExpression* clone() const override;
  bool doesExpressionContainGroupingSet() const override { return m_bGroupingSet; }
  void setGroupingSetStatus(bool status) override { m_bGroupingSet = status; }
  bool useRegularLOVRowset() const override;
  bool checkRegularLOVWhereNode(const TOVAString& dimension, unsigned level) const override;
  bool checkRegularLOVFilterNode(const TOVAString& dimension, unsigned level,
                                 unsigned& filters) const override;
  void getExtraDatasetColumnInfos(ColumnInfos& out, unsigned list) const override;
  void setLowerFilterFieldsAddedToRowFields(const FieldLists& lists) override;

  // Borrowed; null for a node made without a cube.
  NUVA_o::Cube* getCube() const { return m_pCube.get(); }
  // Child `index`, borrowed; null when out of range.
  const TOVASQLExpression* child(unsigned index) const {
    return index < m_Children.size() ? m_Children[index].get() : nullptr;
  }

  // Levels of the subtree, 1 for a leaf.
  int height() const { return m_Height; }
  // Appends the statement text of the subtree, as getText.
  void print(TOVAString& out, bool spaced) const;

  // Building steps. Each throws an exception of the library's family for a sequence that
  // cannot make a tree (InvalidArgumentException when an operand or operator is missing from
  // the queue); the queue may then hold partial work, which clear_queue drops.

  // Pushes a HIERARCHY, FIELD or STRINGVALUE node: `text` resolved as a hierarchy, then as a
  // field, else kept as a value.
  void add_string_node(const TOVAString& text);
  // Pushes a NUMERICVALUE node holding `text`.
  void add_numeric_node(const TOVAString& text);
  void add_expression_node(Type type);
  // A node of `type` whose children are the last `operands` queued items, last first.
  void add_expression_node(Type type, unsigned operands);
  // Combines the pending operator at the front with its operands at the back; 0 is the IN
  // form, whose values are all queued values at the back.
  void build_constraint(unsigned operands);
  // Takes over the reference of `node`.
  void write_queue(auto_unuse<Node> node, bool front);
  auto_unuse<Node> read_queue(bool front);
  void clear_queue();
  size_t queue_size() const { return m_OperationQueue.size(); }
  // Appends `node` as the last child, taking over its reference.
  void add_child_node(auto_unuse<Node> node);
  void set_node_type(Type type) { m_Type = type; }
  void set_string_value(const TOVAString& value) { m_StringValue = value; }
  void set_numeric_value(const TOVAString& text);
  void set_index_value(int index) { m_IndexValue = index; }
  // The next BETWEEN, IN or LIKE operator is made negated.
  void set_not_pending() { m_bNotPending = true; }
  // Gives `node` this root's cube when it has none.
  void adopt(Node& node) const;
  // Borrowed, or null.
  NUVA_o::Hierarchy* find_hierarchy(const TOVAString& name) const;
  // With one reference for the caller, or null.
  NUVA_o::Field* find_field(const TOVAString& name) const;
  // The same searches on any cube (null gives null): a hierarchy by the unique name of its
  // dimension first, then by its own; a field in the first hierarchy whose unique name begins
  // the name (compared without case), found there or not at all.
  static NUVA_o::Hierarchy* find_hierarchy(const NUVA_o::Cube* cube, const TOVAString& name);
  static NUVA_o::Field* find_field(const NUVA_o::Cube* cube, const TOVAString& name);

 protected:
  ~TOVASQLExpressionCommon() override;

 private:
  TOVASQLExpressionCommon(NUVA_o::Cube* cube, Type type);
  auto_unuse<Node> make_node(Type type) const;
  void print_into(TOVAString& out, bool spaced) const;
  void dump_into(TOVAString& out, TOVAString& prefix) const;
  void set_display_size(NUVA_o::ColumnInfo& column) const;
  void push_fields(const TOVASQLExpression& node, ColumnInfos& out) const;
  void update_height();
  [[noreturn]] void raise_sequence(const char* step, size_t needed) const;
  [[noreturn]] void raise_wrong_kind(const char* operation) const;
  void reset_tree();

  auto_unuse<NUVA_o::Cube> m_pCube;
  auto_unuse<NUVA_o::Hierarchy> m_pHierarchy;
  auto_unuse<NUVA_o::Field> m_pField;
  auto_unuse<NUVA_o::Parameter> m_pParameter;
  Type m_Type = TOVASQL_ET_NONE;
  std::vector<auto_unuse<TOVASQLExpression>> m_Children;
  TOVAString m_StringValue;
  // Converted when the text is set, so that reading it needs no change of shared nodes.
  double m_NumericValue = 0.0;
  bool m_bNumericValid = false;
  int m_IndexValue = 0;
  std::deque<auto_unuse<Node>> m_OperationQueue;
  bool m_bNotPending = false;
  bool m_bGroupingSet = false;
  FieldLists m_LowerFilterFields;
  // Levels of the subtree (1 for a leaf), for the depth bound.
  int m_Height = 1;
};

}  // namespace common
