#pragma once

#include <vector>

#include "NUVA_o/Tuple.h"
#include "support/RefCountImpl.h"

namespace common {

// A cell coordinate: members (one per hierarchy) and references by unique name to subtotals
// and dynamic calculations. Not guarded: it belongs to the thread that edits its owner.
class VTQ_EXPORT TupleCommon : public NUVA_o::Tuple, public support::RefCountImpl {
 public:
  TupleCommon();

  // Persistable. restore throws InvalidArgumentException when `cube` is null and
  // InvalidXMLException for a hierarchy or member the cube does not know; the tuple is then
  // left as it was before the call.
  void persist(XmlSupport& xml, DOMElement* parent) const override;
  void restore(DOMElement* element, NUVA_o::Cube* cube) override;

  void addMember(const NUVA_o::Member* member) override;
  void removeMember(const TOVAString& hierarchyUniqueName) override;
  void removeMember(const NUVA_o::Member* member) override;
  void addDynamicCalculation(const NUVA_o::DynamicCalculation* calculation) override;
  void addSubTotal(const NUVA_o::SubTotal* subTotal) override;
  const std::vector<auto_unuse<NUVA_o::Member>>& getMembers() const override { return m_Members; }
  NUVA_o::Member* getMember(const TOVAString& hierarchyUniqueName) const override;
  std::vector<TOVAString> getHierarchyUniqueNames() const override;
  std::vector<TOVAString> getMemberUniqueNames() const override;
  const std::vector<TOVAString>& getDynamicCalculationUniqueNames() const override {
    return m_DynamicCalculations;
  }
  const std::vector<TOVAString>& getSubTotalUniqueNames() const override { return m_SubTotals; }
  bool contains(const TOVAString& memberUniqueName) const override;
  NUVA_o::Tuple* clone() const override;

 protected:
  TupleCommon(const TupleCommon& other);
  ~TupleCommon() override;

 private:
  std::vector<auto_unuse<NUVA_o::Member>> m_Members;
  std::vector<TOVAString> m_DynamicCalculations;
  std::vector<TOVAString> m_SubTotals;
};

}  // namespace common
