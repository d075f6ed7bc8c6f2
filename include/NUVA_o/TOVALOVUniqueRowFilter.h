#pragma once

#include <set>

#include "olap_api/RefCount.h"
#include "support/RefCountImpl.h"
#include "support/TOVAString.h"

namespace NUVA_o {

// The values a list-of-values rowset has passed, so that each value passes once.
class VTQ_EXPORT TOVALOVUniqueRowFilter : public virtual olap_api::RefCount {
 public:
  ~TOVALOVUniqueRowFilter() override = default;
  // True, and the key is kept, when the key has not passed yet; false otherwise.
  virtual bool checkAndAddRow(const TOVAString& key) = 0;
  virtual bool exists(const TOVAString& key) const = 0;
  // Forgets every key: a new rowset starts.
  virtual void clearRowset() = 0;
};

class VTQ_EXPORT TOVALOVUniqueRowFilterCommon : public support::RefCountImpl,
                                                public TOVALOVUniqueRowFilter {
 public:
  TOVALOVUniqueRowFilterCommon();

  bool checkAndAddRow(const TOVAString& key) override { return m_Keys.insert(key).second; }
  bool exists(const TOVAString& key) const override { return m_Keys.count(key) != 0; }
  void clearRowset() override { m_Keys.clear(); }

 protected:
  ~TOVALOVUniqueRowFilterCommon() override = default;

 private:
  std::set<TOVAString> m_Keys;
};

}  // namespace NUVA_o
