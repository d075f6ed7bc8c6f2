// An XML query document of 50 result objects and 200 conditions turned into a TOVASQL tree on
// the sample cube, against Xerces parsing the same document alone. Fixed document, no
// randomness.

#include <string>
#include <vector>

#include "BenchRatio.h"
#include "XercesBaseline.h"
#include "common/TOVAXMLQueryProcessor.h"
#include "provider/memory/MemoryCube.h"

namespace {

memory::MemoryCube* cube() {
  static memory::MemoryCube* const loaded =
      memory::loadCube(std::string(VTQ_SOURCE_DIR) + "/examples/sales/sales.cube.xml");
  return loaded;
}

const TOVAString& documentText() {
  static const TOVAString text = [] {
    const std::vector<std::string> fields = {
        "[Time].[Calendar].[Year]", "[Time].[Calendar].[Quarter]", "[Time].[Calendar].[Month]",
        "[Time].[Calendar].[Year].[Caption]", "[Time].[Calendar].[Month].[Key]",
        "[Time].[Calendar].[Month].[Days]", "[Product].[Category]", "[Product].[Subcategory]",
        "[Product].[Item]", "[Product].[Item].[Key]", "[Geography].[Region]",
        "[Geography].[Country]", "[Geography].[City]", "[Geography].[City].[Caption]",
        "[Measures].[Sales]", "[Measures].[Quantity]", "[Measures].[Cost]"};
    std::string d = "<DPCOMMANDS><DPCOMMAND><DP><QUERY><QUERYRESULT>";
    for (int i = 0; i < 50; ++i)
      d += "<QUERYOBJECT KEY=\"" + fields[static_cast<size_t>(i) % fields.size()] + "\" INDEX=\"" +
           std::to_string(i) + "\"/>";
    d += "</QUERYRESULT><QUERYCONDITION><WHERE><OPERATOR VALUE=\"OR\">";
    const char* ops[] = {"Equal", "NotEqual", "Like", "InList", "Between"};
    for (int i = 0; i < 200; ++i) {
      const bool measure = i % 4 == 3;
      const char* op = measure ? "Greater" : ops[i % 5];
      d += std::string("<FILTER KEY=\"") + (measure ? "[Measures].[Sales]" : "[Product].[Item]") +
           "\"><CONDITION OPERATORCONDITION=\"" + op + "\">";
      const int constants = std::string(op) == "InList" ? 4 : std::string(op) == "Between" ? 2 : 1;
      for (int c = 0; c < constants; ++c)
        d += measure ? "<CONSTANT VALUE=\"" + std::to_string(100 * i + c) + "\"/>"
                     : "<CONSTANT CAPTION=\"Road-" + std::to_string(i + c) + "\"/>";
      d += "</CONDITION></FILTER>";
    }
    d += "</OPERATOR></WHERE></QUERYCONDITION></QUERY></DP></DPCOMMAND></DPCOMMANDS>";
    return TOVAString(d);
  }();
  return text;
}

void BM_XmlQueryToTree(benchmark::State& state) {
  memory::MemoryCube* c = cube();
  const TOVAString& text = documentText();
  for (auto _ : state) {
    auto_unuse<common::TOVAXMLQueryProcessor> processor(createCommonXMLQueryProcessor(c));
    auto_unuse<NUVA_o::tovasql_parser::TOVASQLExpression> tree(processor->parseXML(text));
    benchmark::DoNotOptimize(tree.get());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.length() * 2));
}
BENCHMARK(BM_XmlQueryToTree)->Unit(benchmark::kMicrosecond);

void BM_RawXercesParse(benchmark::State& state) { vtq_bench::rawXercesParse(state, documentText()); }
BENCHMARK(BM_RawXercesParse)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  return vtq_bench::runWithRatios(argc, argv, {{"BM_XmlQueryToTree", "BM_RawXercesParse"}}, 2.0);
}
