#pragma once

#include "NUVA_o/TOVASQLExpression.h"
#include "olap_api/RefCount.h"
#include "support/TOVAString.h"

namespace NUVA_o {
class Cube;
}

namespace common {

// Turns an XML query document (DPCOMMANDS/DPCOMMAND/DP/QUERY with QUERYRESULT, an optional
// QUERYCONDITION and optional GROUPINGSETS) into a TOVASQL tree for its cube. One processor
// serves one document.
class VTQ_EXPORT TOVAXMLQueryProcessor : public virtual olap_api::RefCount {
 public:
  ~TOVAXMLQueryProcessor() override = default;
  // The root of the tree with one reference for the caller. A key-date filter of the
  // document becomes the value of its parameter. Throws InvalidXMLException (and
  // UnsupportedOperationException for operators that are not supported) for a document that
  // makes no tree; any parameter value it set is then rolled back.
  virtual NUVA_o::tovasql_parser::TOVASQLExpression* parseXML(const TOVAString& xml) = 0;
};

}  // namespace common

// A processor on `cube` with a builder of its own, with one reference for the caller; null,
// after an assertion report, for a null cube.
extern "C" VTQ_EXPORT common::TOVAXMLQueryProcessor* createCommonXMLQueryProcessor(NUVA_o::Cube* cube);
