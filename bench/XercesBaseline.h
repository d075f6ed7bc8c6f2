#pragma once

// The baselines of the XML benchmarks: Xerces alone parsing a document text (and serialising it
// again), with nothing of the library in between.

#include <benchmark/benchmark.h>
#include <xercesc/dom/DOM.hpp>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLString.hpp>
#include <xercesc/util/XMLUni.hpp>

#include "support/TOVAString.h"

namespace vtq_bench {

inline void rawXercesParseAndSerialise(benchmark::State& state, const TOVAString& text) {
  using namespace xercesc;
  XMLPlatformUtils::Initialize();
  {
    XercesDOMParser parser;
    DOMImplementation* impl = DOMImplementationRegistry::getDOMImplementation(u"LS");
    for (auto _ : state) {
      MemBufInputSource input(reinterpret_cast<const XMLByte*>(text.data()), text.length() * 2,
                              "bench", false);
      input.setEncoding(XMLUni::fgXMLChEncodingString);
      parser.parse(input);
      DOMLSSerializer* serializer = static_cast<DOMImplementationLS*>(impl)->createLSSerializer();
      serializer->getDomConfig()->setParameter(XMLUni::fgDOMXMLDeclaration, false);
      XMLCh* out = serializer->writeToString(parser.getDocument());
      benchmark::DoNotOptimize(out);
      XMLString::release(&out);
      serializer->release();
      parser.resetDocumentPool();  // the parser would otherwise keep every document
    }
  }
  XMLPlatformUtils::Terminate();
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.length() * 2));
}

// Xerces alone parsing the document text into a DOM, nothing more.
inline void rawXercesParse(benchmark::State& state, const TOVAString& text) {
  using namespace xercesc;
  XMLPlatformUtils::Initialize();
  {
    XercesDOMParser parser;
    for (auto _ : state) {
      MemBufInputSource input(reinterpret_cast<const XMLByte*>(text.data()), text.length() * 2,
                              "bench", false);
      input.setEncoding(XMLUni::fgXMLChEncodingString);
      parser.parse(input);
      benchmark::DoNotOptimize(parser.getDocument());
      parser.resetDocumentPool();
    }
  }
  XMLPlatformUtils::Terminate();
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.length() * 2));
}

}  // namespace vtq_bench
