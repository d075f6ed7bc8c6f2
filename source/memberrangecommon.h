#pragma once

#include "NUVA_o/Tuple.h"
#include "support/RefCountImpl.h"

namespace common {

// An inclusive range of members of one hierarchy. The range holds member objects of its own,
// moved onto the members it was given, so that a caller re-targeting its objects changes
// nothing here.
class VTQ_EXPORT MemberRangeCommon : public NUVA_o::MemberRange, public support::RefCountImpl {
 public:
  // Both null or of different hierarchies: reported as an assertion, the range stays empty.
  MemberRangeCommon(const NUVA_o::Member* start, const NUVA_o::Member* end);

  TOVAString getStartUniqueName() const override;
  TOVAString getEndUniqueName() const override;
  NUVA_o::Member* getStart() const override { return m_pStart.share(); }
  NUVA_o::Member* getEnd() const override { return m_pEnd.share(); }
  void setStart(const NUVA_o::Member* member) override;
  void setEnd(const NUVA_o::Member* member) override;

 protected:
  ~MemberRangeCommon() override;

 private:
  auto_unuse<NUVA_o::Member> m_pStart;
  auto_unuse<NUVA_o::Member> m_pEnd;
};

}  // namespace common
