// Feeds arbitrary text to setTextAndCreateTree of a TOVASQL root over the sample cube, then
// prints, dumps and copies what parsed. Only the library's own exceptions may come out.
#include <cstddef>
#include <cstdint>
#include <string>

#include "olap_api/Exceptions.h"
#include "provider/memory/MemoryCube.h"
#include "tovasqlexpressioncommon.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static auto* cube =
      memory::loadCube(std::string(VTQ_SOURCE_DIR) + "/examples/sales/sales.cube.xml");
  TOVAString text(std::string(reinterpret_cast<const char*>(data), size));
  auto_unuse<common::TOVASQLExpressionCommon> root(new common::TOVASQLExpressionCommon(cube));
  try {
    root->setTextAndCreateTree(text);
    TOVAString printed = root->getText(true);
    TOVAString dump;
    root->toString(dump);
    auto_unuse<NUVA_o::tovasql_parser::TOVASQLExpression> copy(root->clone());
    (void)copy->getText(true);
  } catch (const olap_api::ApiException&) {
  }
  return 0;
}
