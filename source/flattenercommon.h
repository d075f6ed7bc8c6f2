#pragma once

#include "NUVA_o/Cube.h"
#include "NUVA_o/Flattener.h"
#include "support/RefCountImpl.h"

namespace common {

// The relational view of a cube: makes queries and has the cube execute their trees.
class VTQ_EXPORT FlattenerCommon : public support::RefCountImpl, public NUVA_o::Flattener {
 public:
  // Keeps a reference to `cube`; a null cube is reported and leaves the flattener unbound.
  explicit FlattenerCommon(NUVA_o::Cube* cube);

  NUVA_o::FlattenerQuery* createQuery() override;

  // Parses `text` into a tree and has the cube execute it; the rows with one reference for
  // the caller. Parse errors pass through before anything reaches the cube.
  NUVA_o::RowsetDataModel* execute_query(const TOVAString& text);

  // True when `text` is an XML document: its first character that is not blank (after a
  // byte order mark) is '<'. Anything else is a statement.
  static bool is_xml_document(const TOVAString& text);

 protected:
  ~FlattenerCommon() override = default;

 private:
  auto_unuse<NUVA_o::Cube> m_pCube;
};

class VTQ_EXPORT FlattenerQueryCommon : public support::RefCountImpl,
                                        public NUVA_o::FlattenerQuery {
 public:
  // Keeps a reference to `flattener`; a null flattener is reported and leaves the query
  // unbound (execute then returns null).
  explicit FlattenerQueryCommon(FlattenerCommon* flattener);

  void setQueryText(const TOVAString& text) override { m_QueryText = text; }
  const TOVAString& getQueryText() const override { return m_QueryText; }
  NUVA_o::RowsetDataModel* execute() override;

 protected:
  ~FlattenerQueryCommon() override = default;

 private:
  TOVAString m_QueryText;
  auto_unuse<FlattenerCommon> m_pFlattener;
};

}  // namespace common
