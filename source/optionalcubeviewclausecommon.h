#pragma once

#include "NUVA_o/Expression.h"
#include "NUVA_o/OptionalCubeViewClause.h"
#include "NUVA_o/Tuple.h"
#include "support/ListenerList.h"
#include "support/RefCountImpl.h"
#include "support/oleauto.h"

namespace common {

class ViewpointCommandExecutioner;

// The part that sorts, filters and exception specifications share. The cube view creates the
// clauses, gives them their solve orders and executioner, decides their activity and listens
// to them. Only the listener list is guarded; the rest belongs to the thread that edits the
// view.
class VTQ_EXPORT OptionalCubeViewClauseCommon : public support::RefCountImpl,
                                                public virtual NUVA_o::OptionalCubeViewClause {
 public:
  const TOVAString& getGuid() const override { return m_GuidText; }
  const GUID& getGUID() const { return m_Guid; }
  NUVA_o::Tuple* getTuple() const override { return m_pTuple.share(); }
  bool isActive() const override { return m_bActive && !m_bDisabled; }
  void setActive(bool active) override { m_bActive = active; }
  int getSolveOrder() const override { return m_nSolveOrder; }
  void setSolveOrder(int order) override { m_nSolveOrder = order; }
  bool isDisabled() const override { return m_bDisabled; }
  void setDisabled(bool disabled) override;
  void addListener(OptionalCubeViewClauseListener* listener) const override;
  void removeListener(OptionalCubeViewClauseListener* listener) const override;

  // The view whose history records setDisabled (not held); null for a clause of no view.
  void setCommandExecutioner(ViewpointCommandExecutioner* executioner) {
    m_pExecutioner = executioner;
  }
  ViewpointCommandExecutioner* getCommandExecutioner() const { return m_pExecutioner; }
  // The step that the disabled-change command runs: stores and notifies when it differs.
  void internal_set_disabled(bool disabled);
  // Throws InvalidXMLException COMMON_E_XML_ELEMENT naming the attribute, the problem (a message handle)
  // and the element; shared by every element of a cube view document.
  [[noreturn]] static void raise_restore_exception(const char* attribute, uint32_t handle,
                                                   const char* element);

 protected:
  // A fresh GUID; the tuple, when given, is shared.
  OptionalCubeViewClauseCommon(const TOVAString& traceName, uint32_t instanceNumber,
                               const NUVA_o::Tuple* tuple);
  // Same GUID, solve order, activity and disabled flag; a clone of the tuple; no listeners.
  OptionalCubeViewClauseCommon(const TOVAString& traceName, uint32_t instanceNumber,
                               const OptionalCubeViewClauseCommon& other);
  ~OptionalCubeViewClauseCommon() override;

  void notify() const;
  // "Version", "Guid", "Order", "Disabled" (only when set) and the tuple, onto the
  // concrete class's element.
  void persist_base(XmlSupport& xml, DOMElement* element) const;
  // Reads what persist_base wrote. Throws InvalidXMLException COMMON_E_XML_ELEMENT for a missing or
  // malformed "Guid", and what the tuple's restore throws; nothing is changed then.
  void restore_base(DOMElement* element, NUVA_o::Cube* cube, const char* elementName);

 private:
  friend class ClauseExpressionHolder;

  TOVAString m_GuidText;
  GUID m_Guid{};
  auto_unuse<NUVA_o::Tuple> m_pTuple;
  int m_nSolveOrder = 0;
  bool m_bActive = false;
  bool m_bDisabled = false;
  ViewpointCommandExecutioner* m_pExecutioner = nullptr;
  mutable support::ListenerList<OptionalCubeViewClauseListener> m_Listeners;
};

class VTQ_EXPORT SortCommon : public NUVA_o::Sort, public virtual OptionalCubeViewClauseCommon {
 public:
  // Empty, for restore.
  SortCommon();
  explicit SortCommon(const NUVA_o::Tuple* tuple);

  void persist(XmlSupport& xml, DOMElement* parent) const override;
  // Throws as restore_base; the sort is unchanged then.
  void restore(DOMElement* element, NUVA_o::Cube* cube) override;
  Direction getDirection() const override { return m_Direction; }
  void setDirection(const Direction& direction) override;
  NUVA_o::Sort* clone() const override;

 protected:
  SortCommon(const SortCommon& other);
  ~SortCommon() override;

 private:
  Direction m_Direction = SD_ASCENDING;
};

// The expression part of filters and exception specifications: holds the expression and
// listens to it, telling the clause's listeners of every change.
class VTQ_EXPORT ClauseExpressionHolder : public NUVA_o::Expression::ExpressionListener {
 public:
  explicit ClauseExpressionHolder(const OptionalCubeViewClauseCommon& clause) : m_Clause(clause) {}
  ~ClauseExpressionHolder() override;
  ClauseExpressionHolder(const ClauseExpressionHolder&) = delete;
  ClauseExpressionHolder& operator=(const ClauseExpressionHolder&) = delete;

  NUVA_o::Expression* get() const { return m_pExpression.get(); }
  // Holds `expression` (sharing it) in place of the current one.
  void hold(NUVA_o::Expression* expression);
  // Holds a new expression over `cube` parsed from `text`. A text that does not parse is
  // kept as the expression's own text, so that it is written back unchanged.
  void restore(NUVA_o::Cube* cube, const TOVAString& text);
  TOVAString text() const;

  void expressionModified(NUVA_o::Expression* expression) override;

 private:
  const OptionalCubeViewClauseCommon& m_Clause;
  auto_unuse<NUVA_o::Expression> m_pExpression;
};

class VTQ_EXPORT FilterCommon : public NUVA_o::Filter, public virtual OptionalCubeViewClauseCommon {
 public:
  FilterCommon();
  // The expression is shared and listened to.
  FilterCommon(const NUVA_o::Tuple* tuple, const NUVA_o::Expression* expression);

  void persist(XmlSupport& xml, DOMElement* parent) const override;
  void restore(DOMElement* element, NUVA_o::Cube* cube) override;
  int getFilterMode() const override { return m_nFilterMode; }
  void setFilterMode(const int& mode) override;
  NUVA_o::Expression* getExpression() const override;
  NUVA_o::Filter* clone() const override;

 protected:
  FilterCommon(const FilterCommon& other);
  ~FilterCommon() override;

 private:
  int m_nFilterMode = 1;
  ClauseExpressionHolder m_Expression{*this};
};

}  // namespace common
