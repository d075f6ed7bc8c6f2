// Feeds arbitrary text to setTextAndCreateTree, with a cube that knows the sample cube's names
// and without a cube. Only the library's own exceptions may come out.
#include <cstddef>
#include <cstdint>
#include <string>

#include "ExpressionTestCube.h"
#include "common/CommonExpression.h"
#include "olap_api/Exceptions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static auto* cube = new vtq_testing::ExpressionTestCube();
  TOVAString text(std::string(reinterpret_cast<const char*>(data), size));
  for (NUVA_o::Cube* c : {static_cast<NUVA_o::Cube*>(cube), static_cast<NUVA_o::Cube*>(nullptr)}) {
    auto_unuse<NUVA_o::Expression> e(createCommonExpression(c));
    try {
      if (e->setTextAndCreateTree(text)) {
        TOVAString printed = e->getTextFromTree();
        auto_unuse<NUVA_o::Expression> copy(e->clone());
        (void)copy->getTextFromTree();
        (void)printed;
      }
    } catch (const olap_api::ApiException&) {
    }
  }
  return 0;
}
