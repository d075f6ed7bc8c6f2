#pragma once

#include <memory>
#include <vector>

#include <xercesc/dom/DOM.hpp>

#include "support/TOVAString.h"

using xercesc::DOMDocument;
using xercesc::DOMElement;
using xercesc::DOMNode;
using xercesc::DOMNodeList;

// One DOM document and the operations the library reads and writes XML with. Xerces is
// initialised on first use. No Xerces exception leaves this class.
class VTQ_EXPORT XmlSupport {
 public:
  // An empty document (no root element until addAChild(nullptr, name) or parseXML).
  XmlSupport();
  ~XmlSupport();
  XmlSupport(const XmlSupport&) = delete;
  XmlSupport& operator=(const XmlSupport&) = delete;

  // Replaces the document by the parsed text. False, with the document emptied, on malformed
  // text or on a DOCTYPE (no entity expansion, no external reads). The reason is kept.
  bool parseXML(const TOVAString& text);
  // As parseXML, from the bytes of a document as stored: a byte order mark and the encoding
  // declaration decide how they are read (UTF-8 by default, where bytes that are not UTF-8
  // make the document malformed). `name` stands for the document in parser messages.
  bool parseXMLBytes(std::string_view bytes, const TOVAString& name = TOVAString());
  // Why the last parseXML failed; empty after a success.
  const TOVAString& getParseError() const;

  // The root element, or null.
  DOMElement* getDocumentElement() const;
  // Elements of that tag name anywhere in the document, owned by the document.
  DOMNodeList* getElementsByTagName(const TOVAString& name) const;
  // The document serialised as text (UTF-16, no XML declaration); empty without a root.
  TOVAString getXml() const;
  // Creates an element and appends it to `parent`; with a null parent it becomes the root
  // (replacing any former root). Returns the new element, owned by the document. An invalid
  // name is reported with AssertionFailure and its offending characters replaced by '_'.
  DOMElement* addAChild(DOMElement* parent, const TOVAString& name);
  DOMDocument* getDocument() const;

  // Attribute access; a null element has no attributes. An absent attribute reads as the
  // empty text. The number readers take decimal text ('.' as separator, surrounding
  // whitespace allowed) and read an absent, malformed or out-of-range value as 0 or 0.0.
  static TOVAString getAttribute(const DOMElement* element, const TOVAString& name);
  static bool hasAttribute(const DOMElement* element, const TOVAString& name);
  static long getNumberAttribute(const DOMElement* element, const TOVAString& name);
  // "true"/"1" (any case) read as true, everything else (absent included) as false.
  static bool getBooleanAttribute(const DOMElement* element, const TOVAString& name);
  static double getRealAttribute(const DOMElement* element, const TOVAString& name);
  // Sets one attribute (numbers in decimal, booleans as "true"/"false"). Characters that XML
  // cannot carry are written as U+FFFD. An invalid name is reported with AssertionFailure and
  // replaced by a valid one, as in addAChild.
  static void write_to(DOMElement* element, const TOVAString& name, const TOVAString& value);
  static void write_to(DOMElement* element, const TOVAString& name, const char* value);
  static void write_to(DOMElement* element, const TOVAString& name, int value);
  static void write_to(DOMElement* element, const TOVAString& name, long value);
  static void write_to(DOMElement* element, const TOVAString& name, bool value);

  // The first direct child element of that name, or null.
  static DOMElement* findChild(const DOMElement* element, const TOVAString& name);
  static DOMElement* getFirstChildElement(const DOMElement* element);
  // Descendant elements of that name ("*": all), in document order; owned by the document.
  static std::vector<DOMElement*> getDescendantElementsByTagName(const DOMElement* element,
                                                                 const TOVAString& name);
  // The same for several names in one walk: one list per name, in the order of `names`.
  static std::vector<std::vector<DOMElement*>> getDescendantElementsByTagNames(
      const DOMElement* element, const std::vector<TOVAString>& names);
  static TOVAString getNodeName(const DOMNode* node);

 private:
  struct Impl;
  std::unique_ptr<Impl> m_pImpl;
};
