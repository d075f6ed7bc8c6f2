#pragma once

#include "optionalcubeviewclausecommon.h"

namespace common {

// A highlighting rule of a cube view: an expression with a group name and a band number.
class VTQ_EXPORT ExceptionSpecificationCommon : public NUVA_o::ExceptionSpecification,
                                                public virtual OptionalCubeViewClauseCommon {
 public:
  ExceptionSpecificationCommon();
  // A null expression is reported as an assertion and leaves the rule without one.
  ExceptionSpecificationCommon(const NUVA_o::Tuple* tuple, const NUVA_o::Expression* expression);

  void persist(XmlSupport& xml, DOMElement* parent) const override;
  void restore(DOMElement* element, NUVA_o::Cube* cube) override;
  NUVA_o::Expression* getExpression() const override;
  const TOVAString& getGroup() const override { return m_Group; }
  void setGroup(const TOVAString& group) override;
  int getBanding() const override { return m_nBanding; }
  void setBanding(int banding) override;
  NUVA_o::ExceptionSpecification* clone() const override;

 protected:
  ExceptionSpecificationCommon(const ExceptionSpecificationCommon& other);
  ~ExceptionSpecificationCommon() override;

 private:
  ClauseExpressionHolder m_Expression{*this};
  int m_nBanding = -1;
  TOVAString m_Group;
};

}  // namespace common
