#include "support/XmlSupport.h"

#include <algorithm>
#include <charconv>
#include <functional>
#include <mutex>
#include <string>
#include <typeinfo>

#include <xercesc/dom/DOMLSInput.hpp>
#include <xercesc/dom/DOMLSParser.hpp>
#include <xercesc/dom/DOMLSSerializer.hpp>
#include <xercesc/dom/impl/DOMAttrImpl.hpp>
#include <xercesc/dom/impl/DOMAttrMapImpl.hpp>
#include <xercesc/dom/impl/DOMElementImpl.hpp>
#include <xercesc/dom/impl/DOMNodeVector.hpp>
#include <xercesc/dom/impl/DOMTextImpl.hpp>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/framework/Wrapper4InputSource.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLChar.hpp>
#include <xercesc/util/XMLException.hpp>
#include <xercesc/util/XMLString.hpp>
#include <xercesc/util/XMLUni.hpp>

#include "support/CoreLog.h"

using namespace xercesc;

namespace {

// Xerces is initialised once per process and never terminated: documents of other libraries
// may outlive any one owner, and static destructors may still touch the DOM.
bool initialiseXerces() {
  static std::once_flag once;
  static bool ok = false;
  std::call_once(once, [] {
    try {
      XMLPlatformUtils::Initialize();
      ok = true;
    } catch (...) {
      ok = false;
    }
  });
  return ok;
}

DOMImplementationLS* implementation() {
  static const XMLCh kFeatures[] = u"LS";
  return static_cast<DOMImplementationLS*>(
      DOMImplementationRegistry::getDOMImplementation(kFeatures));
}

TOVAString fromXMLCh(const XMLCh* text) { return text ? TOVAString(text) : TOVAString(); }

// Records the first error the parser or serialiser reports, with its position.
class FirstError : public DOMErrorHandler {
 public:
  bool handleError(const DOMError& error) override {
    if (error.getSeverity() == DOMError::DOM_SEVERITY_WARNING) return true;
    if (m_Text.empty()) {
      const DOMLocator* where = error.getLocation();
      if (where && where->getLineNumber() > 0)
        m_Text.build("line %u, column %u: ", static_cast<unsigned long long>(where->getLineNumber()),
                     static_cast<unsigned long long>(where->getColumnNumber()));
      m_Text.append(fromXMLCh(error.getMessage()));
      if (m_Text.empty()) m_Text = "the XML text is malformed";
    }
    return false;  // stop at the first error
  }
  const TOVAString& text() const { return m_Text; }
  void clear() { m_Text.clear(); }

 private:
  TOVAString m_Text;
};

// XML 1.0 allows tab, LF, CR and the code points from U+0020 except surrogates, U+FFFE, U+FFFF.
bool isXmlChar(char16_t c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
         (c >= 0xE000 && c <= 0xFFFD);
}

// Attribute values come from users' data; characters XML cannot carry become U+FFFD so that
// the document always reads back. Returns the value itself when it needs no change (nearly
// always; no copy then), else `out`.
const char16_t* xmlSafeText(const TOVAString& value, std::u16string& out) {
  const std::u16string& in = value.u16();
  size_t i = 0;
  while (i < in.size() && isXmlChar(in[i])) ++i;
  if (i == in.size()) return value.c_str();
  out.assign(in, 0, i);
  for (; i < in.size(); ++i) {
    char16_t c = in[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < in.size() && in[i + 1] >= 0xDC00 &&
        in[i + 1] <= 0xDFFF) {
      out += c;
      out += in[++i];
    } else {
      out += isXmlChar(c) ? c : u'\xFFFD';
    }
  }
  return out.c_str();
}

// Element and attribute names are the library's own constants; an invalid one is a coding
// error, reported, and replaced by a valid name so that the document stays well formed.
// Returns the name itself when valid (no copy then), else `fixed`.
const char16_t* xmlName(const TOVAString& name, int line, std::u16string& fixed) {
  if (!name.empty() && XMLChar1_0::isValidName(name.c_str(), name.length())) return name.c_str();
  support_dll::AssertionFailure("XMLChar1_0::isValidName(name)", "XmlSupport", line);
  for (size_t i = 0; i < name.length(); ++i) {
    char16_t c = name[i];
    bool ok = fixed.empty() ? XMLChar1_0::isFirstNameChar(c) : XMLChar1_0::isNameChar(c);
    fixed += ok ? c : u'_';
  }
  if (fixed.empty()) fixed = u"_";
  return fixed.c_str();
}

std::string asciiValue(const TOVAString& text) {
  std::string out;
  out.reserve(text.length());
  for (char16_t c : text.u16()) {
    if (c > 0x7F) return std::string();  // cannot be a number
    out += static_cast<char>(c);
  }
  // XML whitespace around a number is tolerated.
  size_t b = out.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return std::string();
  size_t e = out.find_last_not_of(" \t\r\n");
  out = out.substr(b, e - b + 1);
  if (out.size() > 1 && out[0] == '+' && out[1] != '-') out.erase(0, 1);
  return out;
}

// Attribute text escaped as the serialiser escapes it for a UTF-16 string.
void appendAttributeText(const XMLCh* text, std::u16string& out) {
  for (; *text; ++text) {
    switch (*text) {
      case u'&':
        out += u"&amp;";
        break;
      case u'<':
        out += u"&lt;";
        break;
      case u'"':
        out += u"&quot;";
        break;
      case u'\n':
        out += u"&#xA;";
        break;
      case u'\r':
        out += u"&#xD;";
        break;
      case u'\t':
        out += u"&#x9;";
        break;
      default:
        out += *text;
    }
  }
}

// Appends `element` as the serialiser writes it (no pretty printing, no namespaces): the
// serialiser reaches every node through casts that cost it four times what this walk does.
// False when the tree holds anything but elements with specified, plain-text attributes
// (text, comments, namespaces, entity references, deep nesting), which is left to it.
bool appendElement(const DOMElement* element, std::u16string& out, int depth) {
  if (depth > 200 || element->getNamespaceURI() || element->getPrefix()) return false;
  const XMLCh* name = element->getTagName();
  out += u'<';
  out += name;
  const DOMNamedNodeMap* attributes = element->getAttributes();
  const XMLSize_t count = attributes ? attributes->getLength() : 0;
  for (XMLSize_t i = 0; i < count; ++i) {
    const DOMNode* node = attributes->item(i);
    if (node->getNodeType() != DOMNode::ATTRIBUTE_NODE) return false;
    const auto* attribute = static_cast<const DOMAttr*>(node);
    if (!attribute->getSpecified() || attribute->getNamespaceURI() || attribute->getPrefix())
      return false;
    out += u' ';
    out += attribute->getName();
    out += u"=\"";
    for (const DOMNode* part = attribute->getFirstChild(); part; part = part->getNextSibling()) {
      if (part->getNodeType() != DOMNode::TEXT_NODE) return false;
      appendAttributeText(part->getNodeValue(), out);
    }
    out += u'"';
  }
  const DOMNode* child = element->getFirstChild();
  if (!child) {
    out += u"/>";
    return true;
  }
  out += u'>';
  for (; child; child = child->getNextSibling()) {
    if (child->getNodeType() != DOMNode::ELEMENT_NODE ||
        !appendElement(static_cast<const DOMElement*>(child), out, depth + 1))
      return false;
  }
  out += u"</";
  out += name;
  out += u'>';
  return true;
}

// The DOM finds the parts of a node it links (node, parent and sibling records) through one
// dynamic cast each, six or more per append, which made building a saved view cost several
// times the links themselves. Nodes of these exact classes are reached directly instead.
bool node_parts(DOMNode* node, DOMNodeImpl*& impl, DOMChildNode*& links) {
  const std::type_info& type = typeid(*node);
  if (type == typeid(DOMElementImpl)) {
    auto* element = static_cast<DOMElementImpl*>(node);
    impl = &element->fNode;
    links = &element->fChild;
    return true;
  }
  if (type == typeid(DOMTextImpl)) {
    auto* text = static_cast<DOMTextImpl*>(node);
    impl = &text->fNode;
    links = &text->fChild;
    return true;
  }
  return false;
}

// The element behind `node`, found without a cast for the class every element of ours has.
DOMElementImpl* element_impl(DOMNode* node) {
  if (node == nullptr) return nullptr;
  if (typeid(*node) == typeid(DOMElementImpl)) return static_cast<DOMElementImpl*>(node);
  return dynamic_cast<DOMElementImpl*>(node);
}

// Appends a new node of the parent's own document as the DOM's unchecked append does (owner,
// flags, and the first child's back link to the last), handing any node of another class to
// that append.
void append_new_child(DOMParentNode& parent, DOMNode* child) {
  DOMNodeImpl *childImpl, *firstImpl, *lastImpl;
  DOMChildNode *childLinks, *firstLinks, *lastLinks;
  DOMNode* first = parent.fFirstChild;
  DOMNode* last = nullptr;
  if (!node_parts(child, childImpl, childLinks) ||
      (first && (!node_parts(first, firstImpl, firstLinks) ||
                 (last = firstLinks->previousSibling) == nullptr ||
                 !node_parts(last, lastImpl, lastLinks)))) {
    parent.appendChildFast(child);
    return;
  }
  childImpl->fOwnerNode = parent.fContainingNode;
  childImpl->isOwned(true);
  if (first) {
    lastLinks->nextSibling = child;
    childLinks->previousSibling = last;
    firstLinks->previousSibling = child;
  } else {
    parent.fFirstChild = child;
    childImpl->isFirstChild(true);
    childLinks->previousSibling = child;
  }
}

// Inserts a new attribute at `position` of an element's map as the map's unchecked insert does,
// without the cast that insert makes to reach the attribute's node record.
void insert_attribute(DOMAttrMapImpl& map, DOMAttrImpl* attribute, XMLSize_t position) {
  // The map's storage and owner are only visible to its own class family.
  struct Access : DOMAttrMapImpl {
    static DOMNodeVector* nodes(DOMAttrMapImpl& m) { return m.*(&Access::fNodes); }
    static DOMNode* owner(DOMAttrMapImpl& m) { return m.*(&Access::fOwnerNode); }
  };
  attribute->fNode.fOwnerNode = Access::owner(map);
  attribute->fNode.isOwned(true);
  Access::nodes(map)->insertElementAt(attribute, position);
}

}  // namespace

struct XmlSupport::Impl {
  DOMDocument* document = nullptr;
  DOMLSParser* parser = nullptr;
  FirstError parseErrors;
  TOVAString parseError;

  ~Impl() {
    if (document) document->release();
    if (parser) parser->release();
  }

  void newDocument() {
    if (document) document->release();
    document = nullptr;
    try {
      document = static_cast<DOMImplementation*>(implementation())->createDocument();
    } catch (...) {
      document = nullptr;
    }
  }

  DOMLSParser* getParser() {
    if (parser) return parser;
    parser = implementation()->createLSParser(DOMImplementationLS::MODE_SYNCHRONOUS, nullptr);
    DOMConfiguration* config = parser->getDomConfig();
    // No DOCTYPE means no entity declarations: no expansion bombs and no external entities.
    config->setParameter(XMLUni::fgDOMDisallowDoctype, true);
    config->setParameter(XMLUni::fgXercesLoadExternalDTD, false);
    config->setParameter(XMLUni::fgXercesDisableDefaultEntityResolution, true);
    config->setParameter(XMLUni::fgDOMValidate, false);
    config->setParameter(XMLUni::fgXercesSchema, false);
    config->setParameter(XMLUni::fgXercesLoadSchema, false);
    config->setParameter(XMLUni::fgDOMNamespaces, false);
    config->setParameter(XMLUni::fgXercesUserAdoptsDOMDocument, true);
    config->setParameter(XMLUni::fgDOMErrorHandler, static_cast<DOMErrorHandler*>(&parseErrors));
    return parser;
  }

  // Replaces the document by the one `makeInput` reads; false, with the document emptied and
  // the reason kept, when it cannot be parsed.
  // `hasDoctype` is asked only when the text is refused: searching a large document for a
  // DOCTYPE that is nearly never there was a measurable part of loading a view.
  bool parse(const std::function<DOMLSInput*()>& makeInput,
             const std::function<bool()>& hasDoctype) {
    parseError.clear();
    parseErrors.clear();
    if (!initialiseXerces()) {
      parseError = "the XML parser could not be initialised";
      return false;
    }
    DOMDocument* parsed = nullptr;
    DOMLSInput* input = nullptr;
    try {
      DOMLSParser* lsParser = getParser();
      input = makeInput();
      parsed = lsParser->parse(input);
    } catch (const XMLException& e) {
      parseError = fromXMLCh(e.getMessage());
    } catch (const DOMException& e) {
      parseError = fromXMLCh(e.getMessage());
    } catch (const OutOfMemoryException&) {
      parseError = "out of memory while parsing XML";
    } catch (...) {
      parseError = "the XML text could not be parsed";
    }
    if (input) input->release();
    if (parseError.empty()) parseError = parseErrors.text();
    if (parsed && (!parseError.empty() || parsed->getDocumentElement() == nullptr)) {
      if (parseError.empty()) parseError = "the XML text has no root element";
      parsed->release();
      parsed = nullptr;
    }
    if (parsed == nullptr) {
      if (parseError.empty()) parseError = "the XML text could not be parsed";
      // The parser's own words for a refused DOCTYPE are only "invalid document structure".
      if (hasDoctype()) parseError.append(" (DOCTYPE declarations are not allowed)");
      newDocument();
      return false;
    }
    if (document) document->release();
    document = parsed;
    return true;
  }
};

XmlSupport::XmlSupport() : m_pImpl(std::make_unique<Impl>()) {
  if (initialiseXerces()) m_pImpl->newDocument();
}

XmlSupport::~XmlSupport() = default;

bool XmlSupport::parseXML(const TOVAString& text) {
  if (text.find(u'\0') != TOVAString::npos) {
    // The parser reads up to the first null; what follows would silently be dropped.
    m_pImpl->parseErrors.clear();
    m_pImpl->parseError = "the XML text contains a null character";
    m_pImpl->newDocument();
    return false;
  }
  return m_pImpl->parse(
      [&] {
        DOMLSInput* input = implementation()->createLSInput();
        input->setStringData(text.c_str());
        return input;
      },
      [&] { return text.find(TOVAString("<!DOCTYPE")) != TOVAString::npos; });
}

bool XmlSupport::parseXMLBytes(std::string_view bytes, const TOVAString& name) {
  const TOVAString systemId = name.empty() ? TOVAString("XML") : name;
  return m_pImpl->parse(
      [&]() -> DOMLSInput* {
        // The wrapper adopts the source; the source reads the caller's bytes without a copy.
        return new Wrapper4InputSource(
            new MemBufInputSource(reinterpret_cast<const XMLByte*>(bytes.data()), bytes.size(),
                                  systemId.c_str()),
            true);
      },
      [&] { return bytes.find("<!DOCTYPE") != std::string_view::npos; });
}

const TOVAString& XmlSupport::getParseError() const { return m_pImpl->parseError; }

DOMElement* XmlSupport::getDocumentElement() const {
  return m_pImpl->document ? m_pImpl->document->getDocumentElement() : nullptr;
}

DOMNodeList* XmlSupport::getElementsByTagName(const TOVAString& name) const {
  return m_pImpl->document ? m_pImpl->document->getElementsByTagName(name.c_str()) : nullptr;
}

DOMDocument* XmlSupport::getDocument() const { return m_pImpl->document; }

TOVAString XmlSupport::getXml() const {
  DOMDocument* doc = m_pImpl->document;
  if (doc == nullptr || doc->getDocumentElement() == nullptr) return TOVAString();
  if (doc->getFirstChild() == doc->getDocumentElement() &&
      doc->getDocumentElement()->getNextSibling() == nullptr) {
    std::u16string out;
    if (appendElement(doc->getDocumentElement(), out, 0)) return TOVAString(std::move(out));
  }
  DOMLSSerializer* serializer = nullptr;
  XMLCh* text = nullptr;
  FirstError errors;
  try {
    serializer = implementation()->createLSSerializer();
    DOMConfiguration* config = serializer->getDomConfig();
    config->setParameter(XMLUni::fgDOMXMLDeclaration, false);
    config->setParameter(XMLUni::fgDOMErrorHandler, static_cast<DOMErrorHandler*>(&errors));
    text = serializer->writeToString(doc);
  } catch (...) {
    text = nullptr;
  }
  TOVAString result;
  if (text) {
    result = TOVAString(text);
    XMLString::release(&text);
  }
  if (serializer) serializer->release();
  return result;
}

DOMElement* XmlSupport::addAChild(DOMElement* parent, const TOVAString& name) {
  DOMDocument* doc = parent ? parent->getOwnerDocument() : m_pImpl->document;
  if (doc == nullptr) return nullptr;
  try {
    std::u16string fixed;
    DOMElement* child = doc->createElement(xmlName(name, __LINE__, fixed));
    if (DOMElementImpl* impl = element_impl(parent)) {
      // The checked appendChild costs a third more than the unchecked append the parser itself
      // uses; a new element of the parent's own document passes every check.
      append_new_child(impl->fParent, child);
    } else if (parent) {
      parent->appendChild(child);
    } else {
      if (DOMElement* old = doc->getDocumentElement()) doc->removeChild(old)->release();
      doc->appendChild(child);
    }
    return child;
  } catch (...) {
    return nullptr;
  }
}

TOVAString XmlSupport::getAttribute(const DOMElement* element, const TOVAString& name) {
  if (element == nullptr) return TOVAString();
  const DOMAttr* attribute = element->getAttributeNode(name.c_str());
  if (attribute == nullptr) return TOVAString();
  // A value of one text node, read without the cast getValue makes to find that out.
  const DOMNode* text = attribute->getFirstChild();
  if (text && text->getNodeType() == DOMNode::TEXT_NODE && text->getNextSibling() == nullptr)
    return fromXMLCh(text->getNodeValue());
  return fromXMLCh(attribute->getValue());
}

bool XmlSupport::hasAttribute(const DOMElement* element, const TOVAString& name) {
  return element != nullptr && element->getAttributeNode(name.c_str()) != nullptr;
}

long XmlSupport::getNumberAttribute(const DOMElement* element, const TOVAString& name) {
  std::string text = asciiValue(getAttribute(element, name));
  long value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return 0;
  return value;
}

bool XmlSupport::getBooleanAttribute(const DOMElement* element, const TOVAString& name) {
  TOVAString text = getAttribute(element, name);
  text.toLower();
  return text == "true" || text == "1";
}

double XmlSupport::getRealAttribute(const DOMElement* element, const TOVAString& name) {
  std::string text = asciiValue(getAttribute(element, name));
  double value = 0.0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return 0.0;
  return value;
}

void XmlSupport::write_to(DOMElement* element, const TOVAString& name, const TOVAString& value) {
  if (element == nullptr) return;
  try {
    std::u16string fixedName, fixedValue;
    const char16_t* attributeName = xmlName(name, __LINE__, fixedName);
    DOMElementImpl* impl = element_impl(element);
    // The map keeps its attributes sorted by name: a negative point is where a new one goes.
    const int point = impl && impl->fAttributes && !impl->fNode.isReadOnly()
                          ? impl->fAttributes->findNamePoint(attributeName)
                          : 0;
    if (point < 0) {
      // A new attribute the way the parser adds one: the checked setAttribute costs half as
      // much again, and its checks (read-only, foreign or owned nodes) cannot fail here.
      DOMDocument* document = impl->getOwnerDocument();
      auto* attribute = static_cast<DOMAttrImpl*>(document->createAttribute(attributeName));
      // The value as one text node, as the parser stores it.
      append_new_child(attribute->fParent,
                       document->createTextNode(xmlSafeText(value, fixedValue)));
      attribute->fNode.isSpecified(true);
      // The unchecked insert needs the map's storage made first.
      if (impl->fAttributes->getLength() == 0) impl->fAttributes->reserve(4);
      insert_attribute(*impl->fAttributes, attribute, static_cast<XMLSize_t>(-1 - point));
    } else {
      element->setAttribute(attributeName, xmlSafeText(value, fixedValue));
    }
  } catch (...) {
    support_dll::AssertionFailure("setAttribute succeeds", "XmlSupport", __LINE__);
  }
}

void XmlSupport::write_to(DOMElement* element, const TOVAString& name, const char* value) {
  write_to(element, name, TOVAString(value));
}

void XmlSupport::write_to(DOMElement* element, const TOVAString& name, int value) {
  write_to(element, name, static_cast<long>(value));
}

void XmlSupport::write_to(DOMElement* element, const TOVAString& name, long value) {
  char buffer[24];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  (void)ec;
  write_to(element, name, TOVAString(std::string(buffer, end)));
}

void XmlSupport::write_to(DOMElement* element, const TOVAString& name, bool value) {
  write_to(element, name, TOVAString(value ? "true" : "false"));
}

DOMElement* XmlSupport::findChild(const DOMElement* element, const TOVAString& name) {
  if (element == nullptr) return nullptr;
  for (DOMElement* child = element->getFirstElementChild(); child;
       child = child->getNextElementSibling())
    if (name == child->getTagName()) return child;
  return nullptr;
}

DOMElement* XmlSupport::getFirstChildElement(const DOMElement* element) {
  return element ? element->getFirstElementChild() : nullptr;
}

std::vector<DOMElement*> XmlSupport::getDescendantElementsByTagName(const DOMElement* element,
                                                                    const TOVAString& name) {
  return std::move(getDescendantElementsByTagNames(element, {name})[0]);
}

std::vector<std::vector<DOMElement*>> XmlSupport::getDescendantElementsByTagNames(
    const DOMElement* element, const std::vector<TOVAString>& names) {
  std::vector<std::vector<DOMElement*>> found(names.size());
  if (element == nullptr) return found;
  // A walk in document order that keeps its own path of ancestors: the DOM's list climbs back
  // up through casts and walks the whole tree again for each name, which made restoring views
  // with large member lists slow. First child and next sibling are the DOM's only steps that
  // cost no cast. One walk serves every name: each walk of a large document misses the cache
  // on most of its nodes.
  std::vector<std::u16string_view> wanted;
  for (const TOVAString& name : names) wanted.emplace_back(name.u16());
  std::vector<const DOMNode*> path;
  const DOMNode* node = element->getFirstChild();
  while (node) {
    if (node->getNodeType() == DOMNode::ELEMENT_NODE) {
      auto* e = static_cast<DOMElement*>(const_cast<DOMNode*>(node));
      const std::u16string_view tag(e->getTagName());
      for (size_t i = 0; i < wanted.size(); ++i)
        if (tag == wanted[i] || wanted[i] == std::u16string_view(u"*")) found[i].push_back(e);
    }
    if (const DOMNode* child = node->getFirstChild()) {
      path.push_back(node);
      node = child;
      continue;
    }
    // The next node is the next sibling of this one or of the nearest ancestor that has one.
    const DOMNode* next = node->getNextSibling();
    while (!next && !path.empty()) {
      next = path.back()->getNextSibling();
      path.pop_back();
    }
    node = next;
  }
  return found;
}

TOVAString XmlSupport::getNodeName(const DOMNode* node) {
  return node ? fromXMLCh(node->getNodeName()) : TOVAString();
}
