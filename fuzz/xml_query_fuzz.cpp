// Feeds arbitrary text to an XML query processor on the sample cube and executes the tree it
// makes, then prints and copies it. Only the library's own exceptions may come out, and no
// parameter may be left in a transaction.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "NUVA_o/Flattener.h"
#include "common/TOVAXMLQueryProcessor.h"
#include "olap_api/Exceptions.h"
#include "provider/memory/MemoryCube.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static auto* cube =
      memory::loadCube(std::string(VTQ_SOURCE_DIR) + "/examples/sales/sales.cube.xml");
  TOVAString text(std::string(reinterpret_cast<const char*>(data), size));
  auto_unuse<common::TOVAXMLQueryProcessor> processor(createCommonXMLQueryProcessor(cube));
  try {
    auto_unuse<NUVA_o::tovasql_parser::TOVASQLExpression> tree(processor->parseXML(text));
    (void)tree->getText(true);
    auto_unuse<NUVA_o::tovasql_parser::TOVASQLExpression> copy(tree->clone());
    auto_unuse<NUVA_o::RowsetDataModel> rows(cube->executeQuery(copy.get()));
  } catch (const olap_api::ApiException&) {
  }
  for (const auto& parameter : cube->getParameters())
    if (parameter->isInTransaction()) std::abort();
  return 0;
}
