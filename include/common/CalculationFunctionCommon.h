#pragma once

#include "NUVA_o/DynamicCalculation.h"
#include "support/RefCountImpl.h"

// A plain record describing a function that calculations may use; callers fill it.
class VTQ_EXPORT CalculationFunctionCommon : public support::RefCountImpl,
                                             public NUVA_o::CalculationFunction {
 public:
  // All texts empty.
  CalculationFunctionCommon();

  const TOVAString& getName() const override { return m_Name; }
  const TOVAString& getDescription() const override { return m_Description; }
  const TOVAString& getSignature() const override { return m_Signature; }
  const TOVAString& getCategory() const override { return m_Category; }
  const TOVAString& getCaption() const override { return m_Caption; }
  void setName(const TOVAString& name) override { m_Name = name; }
  void setDescription(const TOVAString& description) override { m_Description = description; }
  void setSignature(const TOVAString& signature) override { m_Signature = signature; }
  void setCategory(const TOVAString& category) override { m_Category = category; }
  void setCaption(const TOVAString& caption) override { m_Caption = caption; }

 protected:
  ~CalculationFunctionCommon() override;

 private:
  TOVAString m_Name;
  TOVAString m_Description;
  TOVAString m_Signature;
  TOVAString m_Category;
  TOVAString m_Caption;
};
