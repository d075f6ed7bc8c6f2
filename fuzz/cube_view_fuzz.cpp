// Loads a CubeView document into a fresh view of the sample cube (initialise from XML) and, when
// it loads, saves it again. Only the library's own exceptions may come out, and a view that
// failed to load is either unbound or whole.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "NUVA_o/Viewpoint.h"
#include "common/ViewpointFactory.h"
#include "olap_api/Exceptions.h"
#include "provider/memory/MemoryCube.h"
#include "support/RefCountImpl.h"

namespace {
memory::MemoryCube* sampleCube() {
  static memory::MemoryCube* const cube =
      memory::loadCube(std::string(VTQ_SOURCE_DIR) + "/examples/sales/sales.cube.xml");
  return cube;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto_unuse<NUVA_o::Viewpoint> view(createCommonViewpoint());
  const TOVAString text(std::string(reinterpret_cast<const char*>(data), size));
  try {
    view->initialise(sampleCube(), text);
  } catch (const olap_api::ApiException&) {
  }
  if (view->getCube()) {
    if (view->getAxes().empty()) std::abort();  // half bound
    (void)view->toXML();
  }
  return 0;
}
