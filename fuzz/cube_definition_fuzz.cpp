// Loads a cube definition with its tables from one input (see FuzzFileSet.h) and walks the cube
// as `vtq cube` does. Only the library's own exceptions may come out.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string_view>

#include "FuzzFileSet.h"
#include "cube_command.h"
#include "olap_api/Exceptions.h"
#include "provider/memory/MemoryCube.h"
#include "support/RefCountImpl.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const memory::FileSet files =
      vtq_testing::fileSetFromText(std::string_view(reinterpret_cast<const char*>(data), size));
  try {
    auto_unuse<memory::MemoryCube> cube(memory::loadCube(vtq_testing::kFuzzDefinitionPath, files));
    std::ostringstream out;
    vtq::printCube(cube.get(), out);
  } catch (const olap_api::ApiException&) {
  }
  return 0;
}
