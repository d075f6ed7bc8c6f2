// XmlSupport::parseXML + getXml of a generated document of about 1 MB, against parsing and
// serialising the same text with the Xerces DOM directly.

#include <xercesc/dom/DOM.hpp>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLString.hpp>
#include <xercesc/util/XMLUni.hpp>

#include <random>

#include "BenchRatio.h"
#include "XercesBaseline.h"
#include "support/XmlSupport.h"

namespace {

using namespace xercesc;

// A cube-view-like document: axes, hierarchies and member sets with attributes, fixed seed.
const TOVAString& document() {
  static const TOVAString text = [] {
    std::mt19937 random(20240607);
    XmlSupport doc;
    DOMElement* root = doc.addAChild(nullptr, "CubeView");
    XmlSupport::write_to(root, "Version", "11.5.8");
    for (int a = 0; TOVAString(doc.getXml()).length() * 2 < 1000000; ++a) {
      DOMElement* axis = doc.addAChild(root, "Axis");
      XmlSupport::write_to(axis, "Type", a % 2);
      for (int h = 0; h < 50; ++h) {
        DOMElement* hierarchy = doc.addAChild(axis, "AxisHierarchy");
        TOVAString name;
        name.build("[Dimension%d].[Hierarchy%u]", h, static_cast<unsigned>(random() % 1000));
        XmlSupport::write_to(hierarchy, "UniqueName", name);
        XmlSupport::write_to(hierarchy, "Level", static_cast<long>(random() % 5));
        for (int m = 0; m < 10; ++m) {
          DOMElement* member = doc.addAChild(hierarchy, "Member");
          TOVAString caption;
          caption.build("%s.[Member %u & <%u>]", name, static_cast<unsigned>(random()), m);
          XmlSupport::write_to(member, "UniqueName", caption);
          XmlSupport::write_to(member, "Visible", (random() & 1) != 0);
        }
      }
    }
    return doc.getXml();
  }();
  return text;
}

void BM_XmlSupportParseAndSerialise(benchmark::State& state) {
  const TOVAString& text = document();
  XmlSupport doc;
  for (auto _ : state) {
    if (!doc.parseXML(text)) state.SkipWithError("parse failed");
    TOVAString back = doc.getXml();
    benchmark::DoNotOptimize(back.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.length() * 2));
}
BENCHMARK(BM_XmlSupportParseAndSerialise)->Unit(benchmark::kMillisecond);

void BM_RawXercesParseAndSerialise(benchmark::State& state) {
  vtq_bench::rawXercesParseAndSerialise(state, document());
}
BENCHMARK(BM_RawXercesParseAndSerialise)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  return vtq_bench::runWithRatios(
      argc, argv, {{"BM_XmlSupportParseAndSerialise", "BM_RawXercesParseAndSerialise"}}, 1.2);
}
