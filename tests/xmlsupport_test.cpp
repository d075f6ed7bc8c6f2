#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "VtqTest.h"
#include "support/CoreLog.h"
#include "support/XmlSupport.h"

namespace {

using vtq_testing::VtqTest;

class XmlSupportTest : public VtqTest {};

// Renders an element tree as "Name(attr=value,...)[children]" for whole-tree comparisons.
std::string render(const DOMElement* e) {
  if (e == nullptr) return "<null>";
  std::string out = XmlSupport::getNodeName(e).string() + "(";
  const xercesc::DOMNamedNodeMap* attrs = e->getAttributes();
  for (XMLSize_t i = 0; i < attrs->getLength(); ++i) {
    if (i) out += ",";
    out += XmlSupport::getNodeName(attrs->item(i)).string() + "=" +
           TOVAString(attrs->item(i)->getNodeValue()).string();
  }
  out += ")";
  if (XmlSupport::getFirstChildElement(e)) {
    out += "[";
    for (const DOMElement* c = e->getFirstElementChild(); c; c = c->getNextElementSibling())
      out += render(c);
    out += "]";
  }
  return out;
}

TEST_F(XmlSupportTest, BuiltDocumentSurvivesSerialiseAndParse) {
  XmlSupport doc;
  EXPECT_EQ(nullptr, doc.getDocumentElement());
  EXPECT_TRUE(doc.getXml().empty());

  DOMElement* root = doc.addAChild(nullptr, "CubeView");
  XmlSupport::write_to(root, "Version", "11.5.8");
  XmlSupport::write_to(root, "Count", 42);
  XmlSupport::write_to(root, "Big", -1234567890123L);
  XmlSupport::write_to(root, "Dirty", true);
  XmlSupport::write_to(root, "Name", TOVAString(u"Ümlaut <&> \"quoted\" 'single' \U0001F600"));
  XmlSupport::write_to(root, "Lines", "a\nb\tc\rd");
  DOMElement* axis = doc.addAChild(root, "Axis");
  XmlSupport::write_to(axis, "Type", 0);
  doc.addAChild(axis, "AxisHierarchy");
  doc.addAChild(root, "Axis");

  TOVAString text = doc.getXml();
  EXPECT_EQ(std::string::npos, text.string().find("<?xml")) << text.string();

  XmlSupport back;
  ASSERT_TRUE(back.parseXML(text)) << back.getParseError().string();
  EXPECT_TRUE(back.getParseError().empty());
  EXPECT_EQ(render(doc.getDocumentElement()), render(back.getDocumentElement()));
  EXPECT_EQ(text, back.getXml());

  const DOMElement* r = back.getDocumentElement();
  EXPECT_EQ("11.5.8", XmlSupport::getAttribute(r, "Version"));
  EXPECT_EQ(42, XmlSupport::getNumberAttribute(r, "Count"));
  EXPECT_EQ(-1234567890123L, XmlSupport::getNumberAttribute(r, "Big"));
  EXPECT_TRUE(XmlSupport::getBooleanAttribute(r, "Dirty"));
  EXPECT_EQ(TOVAString(u"Ümlaut <&> \"quoted\" 'single' \U0001F600"),
            XmlSupport::getAttribute(r, "Name"));
  EXPECT_EQ("a\nb\tc\rd", XmlSupport::getAttribute(r, "Lines"));
  EXPECT_EQ(2u, back.getElementsByTagName("Axis")->getLength());
  EXPECT_EQ(1u, XmlSupport::getDescendantElementsByTagName(r, "AxisHierarchy").size());
  DOMElement* firstAxis = XmlSupport::findChild(r, "Axis");
  EXPECT_EQ(firstAxis, XmlSupport::getFirstChildElement(r));
  EXPECT_EQ(nullptr, XmlSupport::findChild(r, "AxisHierarchy"));  // not a direct child
  EXPECT_NE(nullptr, XmlSupport::findChild(firstAxis, "AxisHierarchy"));
}

TEST_F(XmlSupportTest, AbsentAndMalformedAttributesReadAsDefaults) {
  XmlSupport doc;
  ASSERT_TRUE(doc.parseXML(
      "<E empty='' n=' 17 ' plus='+5' neg='-3' junk='12abc' huge='99999999999999999999999' "
      "r='2.5e3' rc='2,5' rbad='x' b1='TRUE' b2='1' b3='yes' b4='false'/>"));
  const DOMElement* e = doc.getDocumentElement();
  EXPECT_FALSE(XmlSupport::hasAttribute(e, "absent"));
  EXPECT_TRUE(XmlSupport::hasAttribute(e, "empty"));
  EXPECT_EQ(TOVAString(), XmlSupport::getAttribute(e, "absent"));
  EXPECT_EQ(0, XmlSupport::getNumberAttribute(e, "absent"));
  EXPECT_EQ(0, XmlSupport::getNumberAttribute(e, "empty"));
  EXPECT_EQ(17, XmlSupport::getNumberAttribute(e, "n"));
  EXPECT_EQ(5, XmlSupport::getNumberAttribute(e, "plus"));
  EXPECT_EQ(-3, XmlSupport::getNumberAttribute(e, "neg"));
  EXPECT_EQ(0, XmlSupport::getNumberAttribute(e, "junk"));
  EXPECT_EQ(0, XmlSupport::getNumberAttribute(e, "huge"));
  EXPECT_DOUBLE_EQ(2500.0, XmlSupport::getRealAttribute(e, "r"));
  EXPECT_DOUBLE_EQ(0.0, XmlSupport::getRealAttribute(e, "rc"));
  EXPECT_DOUBLE_EQ(0.0, XmlSupport::getRealAttribute(e, "rbad"));
  EXPECT_DOUBLE_EQ(0.0, XmlSupport::getRealAttribute(e, "absent"));
  EXPECT_TRUE(XmlSupport::getBooleanAttribute(e, "b1"));
  EXPECT_TRUE(XmlSupport::getBooleanAttribute(e, "b2"));
  EXPECT_FALSE(XmlSupport::getBooleanAttribute(e, "b3"));
  EXPECT_FALSE(XmlSupport::getBooleanAttribute(e, "b4"));
  EXPECT_FALSE(XmlSupport::getBooleanAttribute(e, "absent"));
  // Null elements are tolerated by every reader.
  EXPECT_EQ(TOVAString(), XmlSupport::getAttribute(nullptr, "x"));
  EXPECT_EQ(nullptr, XmlSupport::findChild(nullptr, "x"));
  EXPECT_EQ(TOVAString(), XmlSupport::getNodeName(nullptr));
}

TEST_F(XmlSupportTest, MalformedTextFailsWithReasonAndLeavesUsableObject) {
  XmlSupport doc;
  ASSERT_TRUE(doc.parseXML("<Root a='1'/>"));
  const char* bad[] = {"", "   ", "<Root>", "<Root></Other>", "<a b='1' b='2'/>", "not xml",
                       "<Root/><Second/>", "<Root a=1/>", "<Root>&undefined;</Root>"};
  for (const char* text : bad) {
    EXPECT_FALSE(doc.parseXML(text)) << text;
    EXPECT_FALSE(doc.getParseError().empty()) << text;
    EXPECT_EQ(nullptr, doc.getDocumentElement()) << text;
  }
  // A null character would otherwise cut the text short and hide what follows.
  EXPECT_FALSE(doc.parseXML(TOVAString(u"<Root/>\0<junk", 13)));
  // The same object parses and builds again afterwards.
  EXPECT_TRUE(doc.parseXML("<?xml version='1.0' encoding='UTF-8'?><Root x='\xC3\xA9'/>"));
  EXPECT_EQ(TOVAString(u"é"), XmlSupport::getAttribute(doc.getDocumentElement(), "x"));
  doc.addAChild(nullptr, "Other");
  EXPECT_EQ("<Other/>", doc.getXml());
}

// Bytes used to be converted to text first, with bad sequences replaced, so the encoding
// declaration was ignored and a byte order mark made the document malformed.
TEST_F(XmlSupportTest, BytesAreReadInTheirDeclaredEncoding) {
  XmlSupport doc;
  ASSERT_TRUE(doc.parseXMLBytes("<?xml version='1.0' encoding='ISO-8859-1'?><R a='Caf\xE9'/>"))
      << doc.getParseError().string();
  EXPECT_EQ(TOVAString(u"Caf\u00E9"), XmlSupport::getAttribute(doc.getDocumentElement(), "a"));
  ASSERT_TRUE(doc.parseXMLBytes("\xEF\xBB\xBF<R a='Caf\xC3\xA9'/>")) << doc.getParseError().string();
  EXPECT_EQ(TOVAString(u"Caf\u00E9"), XmlSupport::getAttribute(doc.getDocumentElement(), "a"));
  // Undeclared text must be UTF-8; a failure empties the document and names the source.
  EXPECT_FALSE(doc.parseXMLBytes("<R a='Caf\xE9'/>", "latin.xml"));
  EXPECT_EQ(nullptr, doc.getDocumentElement());
  EXPECT_FALSE(doc.getParseError().empty());
  EXPECT_FALSE(doc.parseXMLBytes(std::string("<R>\0</R>", 8)));
  EXPECT_TRUE(doc.parseXMLBytes("<R/>"));
}

TEST_F(XmlSupportTest, DoctypeAndEntitiesAreRefused) {
  std::string secret = testing::TempDir() + "xmlsupport_secret.txt";
  std::ofstream(secret) << "SECRET";
  const std::string documents[] = {
      "<!DOCTYPE Root><Root/>",
      "<!DOCTYPE Root [<!ENTITY e 'x'>]><Root>&e;</Root>",
      // Exponential expansion.
      "<!DOCTYPE lolz [<!ENTITY lol 'lol'><!ENTITY lol2 '&lol;&lol;&lol;&lol;&lol;'>"
      "<!ENTITY lol3 '&lol2;&lol2;&lol2;&lol2;&lol2;'>]><lolz>&lol3;</lolz>",
      // External entity reading a local file.
      "<!DOCTYPE Root [<!ENTITY xxe SYSTEM 'file://" + secret + "'>]><Root a='&xxe;'>&xxe;</Root>",
      "<!DOCTYPE Root SYSTEM 'file://" + secret + "'><Root/>",
      "<!DOCTYPE Root PUBLIC '-//x//y' 'http://127.0.0.1:9/none.dtd'><Root/>",
  };
  XmlSupport doc;
  for (const std::string& text : documents) {
    EXPECT_FALSE(doc.parseXML(text)) << text;
    EXPECT_NE(std::string::npos, doc.getParseError().string().find("DOCTYPE declarations are not allowed"))
        << doc.getParseError().string();
    EXPECT_EQ(std::string::npos, doc.getXml().string().find("SECRET"));
    // The same guard holds for documents read from their bytes.
    EXPECT_FALSE(doc.parseXMLBytes(text)) << text;
    EXPECT_EQ(std::string::npos, doc.getXml().string().find("SECRET"));
  }
  std::remove(secret.c_str());
}

TEST_F(XmlSupportTest, UnrepresentableCharactersAndBadNamesKeepDocumentWellFormed) {
  XmlSupport doc;
  DOMElement* root = doc.addAChild(nullptr, "Root");
  TOVAString value(u"a\x01" u"b");
  value.append(static_cast<char16_t>(0xD800));  // lone surrogate
  value.append(u"c");
  XmlSupport::write_to(root, "V", value);
  uint64_t before = support_dll::assertionFailureCount();
  {
    auto& log = captureLog(1);
    DOMElement* odd = doc.addAChild(root, "1 bad<name");
    ASSERT_NE(nullptr, odd);
    EXPECT_EQ("__bad_name", XmlSupport::getNodeName(odd));
    EXPECT_NE(std::string::npos, log.texts().find("isValidName"));
  }
  EXPECT_EQ(before + 1, support_dll::assertionFailureCount());

  XmlSupport back;
  ASSERT_TRUE(back.parseXML(doc.getXml())) << back.getParseError().string();
  EXPECT_EQ(TOVAString(u"a\uFFFDb\uFFFDc"), XmlSupport::getAttribute(back.getDocumentElement(), "V"));
}

TEST_F(XmlSupportTest, ReplacingTheRootAndParsingFromSeveralThreads) {
  XmlSupport doc;
  doc.addAChild(nullptr, "First");
  doc.addAChild(nullptr, "Second");
  EXPECT_EQ("<Second/>", doc.getXml());

  std::vector<std::thread> threads;
  std::vector<int> ok(4, 0);
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t, &ok] {
      for (int i = 0; i < 50; ++i) {
        XmlSupport x;
        TOVAString text;
        text.build("<T n=\"%d\"><C/></T>", t * 1000 + i);
        if (x.parseXML(text) &&
            XmlSupport::getNumberAttribute(x.getDocumentElement(), "n") == t * 1000 + i &&
            x.getXml() == text)
          ++ok[t];
      }
    });
  for (auto& th : threads) th.join();
  for (int t = 0; t < 4; ++t) EXPECT_EQ(50, ok[t]);
}

// What the library's serialiser would write for the same document.
TOVAString serialisedByXerces(const XmlSupport& doc) {
  auto* ls = static_cast<xercesc::DOMImplementationLS*>(
      xercesc::DOMImplementationRegistry::getDOMImplementation(u"LS"));
  xercesc::DOMLSSerializer* serializer = ls->createLSSerializer();
  serializer->getDomConfig()->setParameter(xercesc::XMLUni::fgDOMXMLDeclaration, false);
  XMLCh* text = serializer->writeToString(doc.getDocument());
  TOVAString result(text);
  xercesc::XMLString::release(&text);
  serializer->release();
  return result;
}

TEST_F(XmlSupportTest, TheTextIsWhatTheDomSerialiserWrites) {
  // Built documents: every character class of attribute values, empty values and elements,
  // an attribute set twice.
  XmlSupport built;
  DOMElement* root = built.addAChild(nullptr, "Root");
  TOVAString all;
  for (char16_t c = 1; c < 0x100; ++c) all.append(c);
  all.append(u"\u2028\uFFFD\U0001F600]]>");
  XmlSupport::write_to(root, "All", all);
  XmlSupport::write_to(root, "Empty", "");
  XmlSupport::write_to(built.addAChild(root, "Child"), "Twice", "first");
  DOMElement* child = built.addAChild(root, "Child");
  XmlSupport::write_to(child, "Twice", "first");
  XmlSupport::write_to(child, "Twice", "a&b<c>d\"e'f");
  built.addAChild(built.addAChild(child, "Inner"), "Leaf");
  EXPECT_EQ(serialisedByXerces(built), built.getXml());

  // Parsed documents, with what the walk leaves to the serialiser too.
  for (const char* text :
       {"<a x=\"1\" y=\"&amp;&lt;&gt;&quot;&apos;&#9;&#10;&#13;\"><b/><c z=\"\"/></a>",
        "<a>text &amp; more</a>", "<a><!-- note --><b/></a>", "<a><![CDATA[x<y]]></a>",
        "<?pi data?><a/>", "<a/><!-- after -->", "<a xmlns=\"urn:x\" xmlns:p=\"urn:p\"><p:b/></a>",
        "<a x='single \"quoted\"'>\n  <b/>\n</a>"}) {
    XmlSupport parsed;
    ASSERT_TRUE(parsed.parseXML(text)) << text;
    EXPECT_EQ(serialisedByXerces(parsed), parsed.getXml()) << text;
  }
}

// Every child of `node` as "name" (elements), "#text" or "#comment", walked forwards and then
// backwards from the last child, with a '!' after any child whose parent is not `node`.
std::string children(const DOMNode* node) {
  std::string forward, backward;
  for (const DOMNode* c = node->getFirstChild(); c; c = c->getNextSibling())
    forward += XmlSupport::getNodeName(c).string() + (c->getParentNode() == node ? " " : "! ");
  for (const DOMNode* c = node->getLastChild(); c; c = c->getPreviousSibling())
    backward = XmlSupport::getNodeName(c).string() + " " + backward;
  return forward == backward ? forward : forward + "| backwards: " + backward;
}

// Regression guard for the direct linking of new nodes: a tree built here, alone or mixed into
// parsed content of other node kinds, must walk the same both ways, report its parents and
// attribute owners, and survive removal, cloning and the DOM's own serialiser.
TEST_F(XmlSupportTest, BuiltNodesAreLinkedForEveryDomWalk) {
  XmlSupport doc;
  ASSERT_TRUE(doc.parseXML("<a><!-- c --><b/>text<?pi x?></a>"));
  DOMElement* root = doc.getDocumentElement();
  DOMElement* first = doc.addAChild(root, "n1");
  doc.addAChild(root, "n2");
  XmlSupport::write_to(first, "v", "one");
  XmlSupport::write_to(first, "w", "");
  doc.addAChild(first, "inner");
  EXPECT_EQ("#comment b #text pi n1 n2 ", children(root));
  EXPECT_EQ("inner ", children(first));
  const xercesc::DOMAttr* v = first->getAttributeNode(u"v");
  ASSERT_NE(nullptr, v);
  EXPECT_EQ(first, v->getOwnerElement());
  EXPECT_TRUE(v->getSpecified());
  EXPECT_EQ(TOVAString("one"), TOVAString(v->getValue()));
  EXPECT_EQ("#text ", children(v));
  EXPECT_EQ(TOVAString(""), TOVAString(first->getAttribute(u"w")));
  // Written out of order: the map's own look-ups must still find each one and its owner.
  DOMElement* many = doc.addAChild(root, "many");
  for (const char* name : {"m", "z", "a", "q", "b"}) XmlSupport::write_to(many, name, name);
  XmlSupport::write_to(many, "q", "again");
  std::string found;
  for (const char16_t* name : {u"a", u"b", u"m", u"q", u"z"}) {
    const xercesc::DOMAttr* attribute = many->getAttributeNode(name);
    if (attribute && attribute->getOwnerElement() == many)
      found += TOVAString(attribute->getValue()).string() + " ";
  }
  EXPECT_EQ("a b m again z ", found);

  XmlSupport built;
  DOMElement* top = built.addAChild(nullptr, "top");
  for (const char* name : {"x", "y", "z"})
    XmlSupport::write_to(built.addAChild(top, name), "k", name);
  EXPECT_EQ("x y z ", children(top));
  top->removeChild(top->getFirstElementChild()->getNextElementSibling())->release();
  EXPECT_EQ("x z ", children(top));
  built.addAChild(top, "after");
  EXPECT_EQ("x z after ", children(top));
  EXPECT_EQ(serialisedByXerces(built), built.getXml());
  EXPECT_EQ(TOVAString("<top><x k=\"x\"/><z k=\"z\"/><after/></top>"), built.getXml());
  DOMNode* copy = top->cloneNode(true);
  EXPECT_EQ("x z after ", children(copy));
  EXPECT_EQ(TOVAString("z"),
            TOVAString(static_cast<DOMElement*>(copy->getLastChild()->getPreviousSibling())
                           ->getAttribute(u"k")));
  copy->release();
}

TEST_F(XmlSupportTest, DescendantsComeInDocumentOrder) {
  XmlSupport doc;
  ASSERT_TRUE(doc.parseXML(
      "<a><b n=\"1\"><b n=\"2\"/>text<!-- c --></b><c><b n=\"3\"/></c><b n=\"4\"/></a>"));
  std::string order;
  for (DOMElement* b : XmlSupport::getDescendantElementsByTagName(doc.getDocumentElement(), "b"))
    order += XmlSupport::getAttribute(b, "n").string();
  EXPECT_EQ("1234", order);
  EXPECT_EQ(5u, XmlSupport::getDescendantElementsByTagName(doc.getDocumentElement(), "*").size());
  EXPECT_TRUE(XmlSupport::getDescendantElementsByTagName(nullptr, "b").empty());
  // Climbing out of several levels at once, past the end of the element asked about.
  ASSERT_TRUE(doc.parseXML("<r><a><x><y><b n=\"1\"/></y></x><b n=\"2\"/></a><b n=\"3\"/></r>"));
  order.clear();
  for (DOMElement* b : XmlSupport::getDescendantElementsByTagName(
           doc.getDocumentElement()->getFirstElementChild(), "b"))
    order += XmlSupport::getAttribute(b, "n").string();
  EXPECT_EQ("12", order);
  ASSERT_TRUE(doc.parseXML(
      "<a><b n=\"1\"><b n=\"2\"/>text<!-- c --></b><c><b n=\"3\"/></c><b n=\"4\"/></a>"));
  // Several names in one walk: a list per name, each in document order.
  const auto lists = XmlSupport::getDescendantElementsByTagNames(doc.getDocumentElement(),
                                                                 {"c", "b", "none", "*", "b"});
  ASSERT_EQ(5u, lists.size());
  std::vector<size_t> sizes;
  for (const auto& list : lists) sizes.push_back(list.size());
  EXPECT_EQ((std::vector<size_t>{1, 4, 0, 5, 4}), sizes);
  EXPECT_EQ(TOVAString("3"), XmlSupport::getAttribute(lists[1][2], "n"));
  EXPECT_EQ(lists[0][0], lists[3][2]);
  // The element itself is not its own descendant.
  EXPECT_TRUE(XmlSupport::getDescendantElementsByTagName(doc.getDocumentElement(), "a").empty());
}

}  // namespace
