#pragma once

#include <cstddef>
#include <vector>

#include "NUVA_o/ColumnInfo.h"
#include "NUVA_o/Row.h"
#include "olap_api/RefCount.h"
#include "support/RefCountImpl.h"
#include "support/TOVAString.h"

namespace NUVA_o {

// The rows and columns of an executed flat request. Filled before it is handed out; read-only
// afterwards.
class VTQ_EXPORT RowsetDataModel : public virtual olap_api::RefCount {
 public:
  ~RowsetDataModel() override = default;
  // The columns in ordinal order (borrowed).
  virtual const std::vector<auto_unuse<ColumnInfo>>& getColumnInfos() const = 0;
  virtual size_t getRowCount() const = 0;
  // Borrowed; null when `index` is out of range.
  virtual const Row* getRow(size_t index) const = 0;
};

// A request against a cube seen as a relational source: a TOVASQL statement or an XML query
// document, executed afresh at every execute.
class VTQ_EXPORT FlattenerQuery : public virtual olap_api::RefCount {
 public:
  ~FlattenerQuery() override = default;
  virtual void setQueryText(const TOVAString& text) = 0;
  virtual const TOVAString& getQueryText() const = 0;
  // The provider's rows with one reference for the caller, or null for an unbound query.
  // Throws the parser's or the provider's exception; nothing reaches the provider when the
  // text does not parse.
  virtual RowsetDataModel* execute() = 0;
};

// The relational view of one cube.
class VTQ_EXPORT Flattener : public virtual olap_api::RefCount {
 public:
  ~Flattener() override = default;
  // A new query with an empty text, with one reference for the caller.
  virtual FlattenerQuery* createQuery() = 0;
};

}  // namespace NUVA_o
