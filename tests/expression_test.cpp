#include <gtest/gtest.h>

#include <pthread.h>

#include <filesystem>
#include <fstream>
#include <thread>
#include <tuple>
#include <functional>
#include <limits>
#include <cmath>
#include <future>
#include <sstream>
#include <string>
#include <vector>

#include "ExpressionTestCube.h"
#include "KELLexer.h"
#include "KELParser.h"
#include "VtqTest.h"
#include "common/CommonExpression.h"
#include "provider/memory/MemoryCube.h"
#include "support/Exceptions.h"
#include "support/XmlSupport.h"

using NUVA_o::Expression;
using vtq_testing::ExpressionTestCube;

namespace {

using Holder = auto_unuse<Expression>;

// Renders a tree one node a line: type, string value, number or boolean value.
std::string dump(Expression* e, int depth = 0) {
  std::string out(static_cast<size_t>(depth) * 2, ' ');
  out += std::to_string(e->getType());
  if (!e->getStringValue().empty()) out += " '" + e->getStringValue().string() + "'";
  VARIANT& v = e->getValue();
  if (v.vt == VT_R8) out += " =" + std::to_string(v.dblVal);
  if (v.vt == VT_BOOL) out += v.boolVal ? " =true" : " =false";
  out += "\n";
  for (Expression* child : e->getExpressions()) out += dump(child, depth + 1);
  return out;
}

// Same types, string values, values and children in order; texts too except on the roots,
// which hold the text each was parsed from.
bool sameTree(Expression* a, Expression* b, bool root = true) {
  if (a->getType() != b->getType() || a->getStringValue() != b->getStringValue()) return false;
  if (!root && a->getText() != b->getText()) return false;
  VARIANT& x = a->getValue();
  VARIANT& y = b->getValue();
  if (x.vt != y.vt || (x.vt == VT_R8 && x.dblVal != y.dblVal) ||
      (x.vt == VT_BOOL && x.boolVal != y.boolVal))
    return false;
  auto& p = a->getExpressions();
  auto& q = b->getExpressions();
  if (p.size() != q.size()) return false;
  for (size_t i = 0; i < p.size(); ++i)
    if (!sameTree(p[i], q[i], false)) return false;
  return true;
}

std::vector<std::string> corpus() {
  std::ifstream in(vtq_testing::sourceDir() + "/tests/fixtures/expressions.txt");
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) lines.push_back(line);
  return lines;
}

// Runs `body` on a thread with a 1 MiB stack.
void onSmallStack(const std::function<void()>& body) {
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, 1 << 20);
  pthread_t thread;
  auto run = [](void* p) -> void* {
    (*static_cast<const std::function<void()>*>(p))();
    return nullptr;
  };
  ASSERT_EQ(0, pthread_create(&thread, &attr, run, const_cast<std::function<void()>*>(&body)));
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attr);
}

class ExpressionTest : public vtq_testing::VtqTest {
 protected:
  void SetUp() override {
    VtqTest::SetUp();
    m_Cube.reset(new ExpressionTestCube());
  }
  void TearDown() override {
    m_Cube.reset();
    VtqTest::TearDown();
  }

  Holder parse(const std::string& text, NUVA_o::Cube* cube) {
    Holder e(createCommonExpression(cube));
    e->setTextAndCreateTree(text);
    return e;
  }
  Holder parse(const std::string& text) { return parse(text, m_Cube.get()); }
  std::string print(const std::string& text) { return parse(text)->getTextFromTree().string(); }

  // The code of the exception that parsing `text` raises; 0 when it parses.
  uint32_t failure(const std::string& text, NUVA_o::Cube* cube, std::vector<std::string>* inserts = nullptr) {
    Holder e(createCommonExpression(cube));
    try {
      e->setTextAndCreateTree(text);
    } catch (const olap_api::ApiException& x) {
      if (inserts)
        for (const TOVAString& s : x.getInserts()) inserts->push_back(s.string());
      // The expression stays usable.
      EXPECT_TRUE(e->setTextAndCreateTree("1 + 2"));
      EXPECT_EQ(" 1 + 2 ", e->getTextFromTree().string());
      return x.getCode();
    }
    return 0;
  }
  uint32_t failure(const std::string& text) { return failure(text, m_Cube.get()); }

  auto_unuse<ExpressionTestCube> m_Cube;
};

// ---- lexer ----

std::vector<int> tokens(const std::string& text, NUVA_o::Cube* cube, std::string* lastText = nullptr,
                        double* lastNumber = nullptr) {
  KELLexer lexer(TOVAString(text), cube);
  lexer.setResolveNames(cube != nullptr);
  std::vector<int> out;
  for (int t = lexer.nextToken(); t != KT_END; t = lexer.nextToken()) {
    out.push_back(t);
    if (t == KT_NUMBER && lastNumber) *lastNumber = lexer.takeNumberValue();
    if (lastText) *lastText = TOVAString(lexer.getTokenText()).string();
  }
  return out;
}

TEST_F(ExpressionTest, LexerNumbersKeywordsAndNames) {
  std::string text;
  double number = -1;
  EXPECT_EQ(std::vector<int>{KT_NUMBER}, tokens("1 000.5k", nullptr, &text, &number));
  EXPECT_EQ("1000.5", text);
  EXPECT_EQ(1000500.0, number);
  tokens("20%", nullptr, nullptr, &number);
  EXPECT_EQ(0.2, number);
  tokens("3m", nullptr, nullptr, &number);
  EXPECT_EQ(0.003, number);
  tokens("3M", nullptr, nullptr, &number);
  EXPECT_EQ(3000000.0, number);
  tokens(".5u", nullptr, nullptr, &number);
  EXPECT_EQ(0.5e-6, number);

  EXPECT_EQ(std::vector<int>{KT_SELF_AND_AFTER}, tokens("SELF_AND_AFTER", nullptr));
  EXPECT_EQ(std::vector<int>{KT_IDENT}, tokens("SELFISH", nullptr, &text));
  EXPECT_EQ("SELFISH", text);
  EXPECT_EQ((std::vector<int>{KT_CROSSJOIN, KT_CROSSJOIN, KT_CROSSJOIN}),
            tokens("crossjoin CrossJoin CROSSJOIN", nullptr));
  EXPECT_EQ((std::vector<int>{KT_STDDEV, KT_STDDEV, KT_VARIANCEP, KT_VARIANCEP, KT_Y_T_D, KT_YTD}),
            tokens("Stdev StdDev VarP VarianceP Y_T_D YTD", nullptr));
  // A signed exponent belongs to the number; "E" after a blank is still the operator.
  for (auto [text, value] : {std::pair{"1E3", 1e3}, {"1e-3", 1e-3}, {"2.5E-2", 2.5e-2}, {"1e+3", 1e3}}) {
    EXPECT_EQ(std::vector<int>{KT_NUMBER}, tokens(text, nullptr, nullptr, &number)) << text;
    EXPECT_EQ(value, number) << text;
  }
  EXPECT_EQ((std::vector<int>{KT_NUMBER, KT_E, KT_NUMBER}), tokens("1 E 3", nullptr));
  EXPECT_EQ((std::vector<int>{KT_NE, KT_NE, KT_LE, KT_GE, KT_LT, KT_GT}),
            tokens("<> >< <= >= < >", nullptr));
  EXPECT_EQ(std::vector<int>{KT_IDENT}, tokens("{Sales}}Q1}", nullptr, &text));
  EXPECT_EQ("Sales}Q1", text);

  // Regression: a scale letter after a blank swallowed the next word ("7 MOD 3" read as 7
  // million and "OD"); "%" before an operand is the operator.
  EXPECT_EQ((std::vector<int>{KT_NUMBER, KT_MOD, KT_NUMBER}), tokens("7 MOD 3", nullptr));
  EXPECT_EQ((std::vector<int>{KT_NUMBER, KT_MOD, KT_NUMBER}), tokens("7 mod 3", nullptr));
  EXPECT_EQ((std::vector<int>{KT_NUMBER, KT_MOD, KT_NUMBER}), tokens("7MOD 3", nullptr));
  EXPECT_EQ((std::vector<int>{KT_NUMBER, KT_PERCENT, KT_NUMBER}), tokens("5 % 3", nullptr));
  EXPECT_EQ((std::vector<int>{KT_NUMBER, KT_PERCENT, KT_LPAREN, KT_NUMBER, KT_RPAREN}),
            tokens("5%(3)", nullptr));
  EXPECT_EQ((std::vector<int>{KT_NUMBER, KT_MINUS, KT_NUMBER}), tokens("20% - 1", nullptr, nullptr, &number));
  EXPECT_EQ((std::vector<int>{KT_NUMBER, KT_OR, KT_IDENT}), tokens("5% OR x", nullptr));
  EXPECT_EQ((std::vector<int>{KT_NUMBER, KT_IDENT}), tokens("3 milli", nullptr, &text));
  EXPECT_EQ("milli", text);
  // Regression: a keyword prefix split a name ("Count_Orders" read as COUNT and "_Orders").
  for (const char* name : {"Count_Orders", "Sum1", "Item2", "Date_Key", "SELF_X", "E2"}) {
    EXPECT_EQ(std::vector<int>{KT_IDENT}, tokens(name, nullptr, &text)) << name;
    EXPECT_EQ(name, text);
  }
  // Regression: a bare name ended at an operator character inside square brackets.
  EXPECT_EQ((std::vector<int>{KT_IDENT, KT_PLUS, KT_NUMBER}),
            tokens("[Product].[Bikes].[Road].[Road-150] + 1", nullptr));
  tokens("[Product].[Bikes].[Road].[Road-150]", nullptr, &text);
  EXPECT_EQ("[Product].[Bikes].[Road].[Road-150]", text);
  tokens("[New York].[a]]b]", nullptr, &text);
  EXPECT_EQ("[New York].[a]]b]", text);
  EXPECT_EQ((std::vector<int>{KT_LPAREN, KT_PLACEHOLDER, KT_RPAREN}), tokens("(<<[Rate]>>)", nullptr));
  tokens("<<[a>]]>>]>>", nullptr, &text);
  EXPECT_EQ("[a>]]>>]", text);
  EXPECT_EQ((std::vector<int>{KT_LT, KT_LT, KT_IDENT}), tokens("<<open", nullptr));
  // A bare name ends at a parenthesis or comma, which stay tokens of their own.
  EXPECT_EQ((std::vector<int>{KT_IDENT, KT_LPAREN, KT_IDENT, KT_COMMA, KT_IDENT, KT_RPAREN}),
            tokens("f([a].[b],c)", nullptr));
  // Without name resolution no cube is asked.
  KELLexer lexer("Sales {[Measures].[Sales]}", m_Cube.get());
  lexer.setResolveNames(false);
  EXPECT_EQ(KT_IDENT, lexer.nextToken());
  EXPECT_EQ(KT_IDENT, lexer.nextToken());
  EXPECT_EQ(0, m_Cube->m_Calls.load());
  // With it, bare and braced spellings of a name reach the same terminal.
  EXPECT_EQ((std::vector<int>{KT_MEASURE_NAME, KT_MEASURE_NAME, KT_LEVEL_NAME, KT_LEVEL_NAME,
                              KT_MEMBER_NAME, KT_DIMENSION_NAME, KT_NAME1}),
            tokens("Sales {Sales} Category {[Product].[Category]} {[Product].[Bikes]} {[Product]} Days",
                   m_Cube.get()));
}

TEST_F(ExpressionTest, LexerCharacterReading) {
  KELLexer lexer("ab", nullptr);
  EXPECT_EQ(u'a', lexer.nextChar());
  EXPECT_EQ(u'b', lexer.nextChar());
  EXPECT_EQ(0, lexer.nextChar());
  EXPECT_EQ(0, lexer.nextChar());
  // Reads past the end are undone first, then characters are stepped back over.
  EXPECT_EQ(0, lexer.pushBack());
  EXPECT_EQ(0, lexer.pushBack());
  EXPECT_EQ(u'b', lexer.pushBack());
  EXPECT_EQ(1u, lexer.position());
  KELLexer words("  first second", nullptr);
  TOVAString word;
  words.getNextWord(word);
  EXPECT_EQ("first", word);
  KELLexer blank("   ", nullptr);
  blank.getNextWord(word);
  EXPECT_EQ("   ", word);
  KELLexer keyword("Abc", nullptr);
  EXPECT_FALSE(keyword.matchKeyword("AB"));  // followed by a letter
  EXPECT_EQ(0u, keyword.position());
  EXPECT_TRUE(keyword.matchKeyword("ABC"));
  EXPECT_EQ(TOVAString("{a}}b}"), KELLexer::quoteName("a}b"));
}

// ---- parsing and printing ----

TEST_F(ExpressionTest, PrintsTheForms) {
  EXPECT_EQ("Union (Members ( {[Product].[Category]} ) ,Members ( {[Geography].[Region]} ) , ALL) ",
            print("Members({[Product].[Category]}) + Members({[Geography].[Region]})"));
  EXPECT_EQ("Crossjoin (Members ( {[Product].[Category]} ) ,Members ( {[Geography].[Region]} ) ) ",
            print("Members({[Product].[Category]}) * Members({[Geography].[Region]})"));
  EXPECT_EQ("Count (Members ( {[Product].[Category]} ) , ExcludeEmpty) ",
            print("Count(Members({[Product].[Category]}), EXCLUDEEMPTY)"));
  EXPECT_EQ(" 1000500 ", print("1 000.5k"));
  EXPECT_EQ(" 0.2 ", print("20%"));
  EXPECT_EQ(" 1500 ", print("1.5E3"));
  EXPECT_EQ("Members ( {[Product].[Category]} , All ) ", print("Members({[Product].[Category]}, ALL)"));
  EXPECT_EQ("DrillDownMember (Members ( {Year} ) ,Members ( {Year} ) , All , RECURSIVE) ",
            print("DrillDownMember(Members(Year), Members(Year), RECURSIVE, ALL)"));
  EXPECT_EQ("Head (Members ( {Year} ) , 3 ) ", print("TopCount(Members(Year), 3)"));
  EXPECT_EQ("Set (  {[Product].[Bikes]}  :  {[Product].[All]}  ) ",
            print("Set({[Product].[Bikes]} : {[Product].[All]})"));
  EXPECT_EQ("Ascendants ( {Paris} ) ", print("Ascendants(Paris)"));
  EXPECT_EQ(" 7 \\ 2 ", print("7 \\ 2"));
  EXPECT_EQ(" - 3 ", print("-3"));
  EXPECT_EQ(" Native ( {x}}y} ) ", print("Native({x}}y})"));
  EXPECT_EQ("GenerateSet ( Name = {Bike} , {[Product]} ) ",
            print("GenerateSet(Name = {Bike}, {[Product]})"));
  EXPECT_EQ("GenerateSet ( (  Property(  {Days}  )= 30 OR Level = 2  ) AND Property(  {Days}  )EXISTS True ) ",
            print("GenerateSet((Property(Days) = 30 OR Level = 2) AND Property(Days) EXISTS TRUE)"));
  EXPECT_EQ("GenerateSet ( Property(  {Days}  )< -3 ) ", print("GenerateSet(Property(Days) < -3)"));
  // Parentheses a logical operator needs are kept; word operators stay apart from words.
  EXPECT_EQ(" ( IsLeaf ( {Paris} ) OR IsEmpty (  {Sales}  )  ) AND IsLeaf ( {Bikes} ) ",
            print("(IsLeaf(Paris) OR IsEmpty(Sales)) AND IsLeaf(Bikes)"));
  EXPECT_EQ(" Aggregate (Members ( {Year} ) )  ", print("Aggregate(Members(Year))"));
}

TEST_F(ExpressionTest, BuildsTheNodesOfTheRules) {
  EXPECT_EQ("72\n  137\n    123 '[Product].[Category]'\n    198\n  142 =10.000000\n  86\n    193 '[Measures].[Sales]'\n",
            dump(parse("TopCount(Members({[Product].[Category]}), 10, {[Measures].[Sales]})").get()));
  // Count of a level: one operand, one child.
  EXPECT_EQ("184\n  123 'Year'\n", dump(parse("Count(Year)").get()));
  EXPECT_EQ("109\n", dump(parse("Count(Dimensions)").get()));
  EXPECT_EQ("13\n  137\n    123 'Year'\n    198\n  137\n    123 'City'\n    198\n  142 =3.000000\n",
            dump(parse("NonEmptyCrossJoin(Members(Year), Members(City), 3)").get()));
  EXPECT_EQ("151\n  149\n    86\n      193 'Sales'\n    142 =1.000000\n  153\n    143 =false\n",
            dump(parse("Sales > 1 AND NOT FALSE").get()));
}

TEST_F(ExpressionTest, RankingAndAggregate) {
  auto& log = captureLog(5);
  Holder top = parse("TopCount(Members({[Product].[Category]}), 10, {[Measures].[Sales]})");
  EXPECT_TRUE(top->isRankingExpression());
  EXPECT_FALSE(parse("Filter(Members({[Product].[Category]}), {[Measures].[Sales]} > 100)")->isRankingExpression());
  for (const char* ranking : {"TopSum(Members(Year), 1, Sales)", "BottomPercent(Members(Year), 1, Sales)",
                              "BottomCount(Members(Year), 1, Sales)"})
    EXPECT_TRUE(parse(ranking)->isRankingExpression()) << ranking;
  EXPECT_NE(std::string::npos, log.texts().find("is a ranking expression"));
  // Only direct children count: the aggregate member is the operand of the value root.
  EXPECT_TRUE(parse("Aggregate(Members(Year))")->isAggregateExpression());
  EXPECT_FALSE(parse("Abs(Aggregate(Members(Year)))")->isAggregateExpression());
  EXPECT_NE(std::string::npos, log.texts().find("is not a aggregate expression"));
}

TEST_F(ExpressionTest, EmptyTextAndNativeText) {
  struct Counter : Expression::ExpressionListener {
    int calls = 0;
    void expressionModified(Expression*) override { ++calls; }
  } counter;
  Holder e(createCommonExpression(m_Cube.get()));
  e->addListener(&counter);
  EXPECT_TRUE(e->setTextAndCreateTree("Sum(Members(Year))"));
  EXPECT_EQ(1, counter.calls);
  EXPECT_FALSE(e->setTextAndCreateTree(""));
  EXPECT_EQ(Expression::ET_EMPTY, e->getType());
  EXPECT_TRUE(e->getExpressions().empty());
  EXPECT_EQ("", e->getTextFromTree().string());
  e->setNativeText("SELECT 1");
  EXPECT_EQ(2, counter.calls);
  EXPECT_EQ(Expression::ET_NATIVE, e->getType());
  EXPECT_EQ("SELECT 1", e->getStringValue().string());
  e->setNativeText("SELECT 1");  // the same text: nothing happens
  EXPECT_EQ(2, counter.calls);
  e->removeListener(&counter);
  e->setNativeText("other");
  EXPECT_EQ(2, counter.calls);
}

// Regression: listeners were called with the expression's lock held, so a listener that had
// another thread register a listener on the same expression waited for ever.
TEST_F(ExpressionTest, ListenersAreToldOutsideTheLock) {
  struct Recorder : Expression::ExpressionListener {
    std::function<void(Expression*)> body;
    int calls = 0;
    void expressionModified(Expression* e) override {
      ++calls;
      if (body) body(e);
    }
  } first, second, third;
  Holder e(createCommonExpression(m_Cube.get()));
  bool otherThreadDone = false;
  first.body = [&](Expression* told) {
    auto other = std::async(std::launch::async, [&] { told->addListener(&third); });
    otherThreadDone = other.wait_for(std::chrono::seconds(2)) == std::future_status::ready;
    told->removeListener(&second);  // not called later in this notification
  };
  e->addListener(&first);
  e->addListener(&second);
  e->addListener(&second);
  e->setNativeText("one");
  EXPECT_TRUE(otherThreadDone);
  EXPECT_EQ(1, first.calls);
  EXPECT_EQ(0, second.calls);
  EXPECT_EQ(0, third.calls);  // added during the notification: told from the next one
  first.body = nullptr;
  e->setNativeText("two");
  EXPECT_EQ(2, first.calls);
  EXPECT_EQ(0, second.calls);
  EXPECT_EQ(1, third.calls);
  // One removal takes every registration of a listener.
  e->addListener(&second);
  e->addListener(&second);
  e->removeListener(&second);
  e->removeListener(&first);
  e->removeListener(&third);
  e->setNativeText("three");
  EXPECT_EQ(0, second.calls);
  EXPECT_EQ(2, first.calls);
}

TEST_F(ExpressionTest, CorpusRoundTripsThroughTextAndXml) {
  std::vector<std::string> lines = corpus();
  ASSERT_GE(lines.size(), 200u);
  for (const std::string& line : lines) {
    Holder first = parse(line);
    TOVAString text = first->getTextFromTree();
    Holder second = parse(text.string());
    EXPECT_EQ(text, second->getTextFromTree()) << line;
    EXPECT_TRUE(sameTree(first.get(), second.get())) << line;

    XmlSupport xml;
    DOMElement* element = xml.addAChild(nullptr, "Expression");
    first->save(xml, 0, element);
    XmlSupport reread;
    ASSERT_TRUE(reread.parseXML(xml.getXml()));
    Holder loaded(createCommonExpression(m_Cube.get()));
    loaded->load(reread.getDocumentElement(), m_Cube.get());
    EXPECT_TRUE(sameTree(first.get(), loaded.get())) << line;
    EXPECT_EQ(text, loaded->getTextFromTree()) << line;
  }
}

TEST_F(ExpressionTest, XmlAttributes) {
  Holder e = parse("Filter(Members({[Product].[Category]}), Sales > 1234.56789012)");
  XmlSupport xml;
  DOMElement* root = xml.addAChild(nullptr, "Expression");
  e->save(xml, 3, root);
  EXPECT_EQ("3", XmlSupport::getAttribute(root, "Index").string());
  EXPECT_EQ("37", XmlSupport::getAttribute(root, "ExpressionType").string());
  DOMElement* vector = XmlSupport::findChild(root, "Vector");
  ASSERT_NE(nullptr, vector);
  EXPECT_EQ("ExpressionVector", XmlSupport::getAttribute(vector, "UniqueName").string());
  DOMElement* members = XmlSupport::getFirstChildElement(vector);
  DOMElement* level = XmlSupport::getFirstChildElement(XmlSupport::findChild(members, "Vector"));
  // A quoted name saves its string value as its text.
  EXPECT_EQ("123", XmlSupport::getAttribute(level, "ExpressionType").string());
  EXPECT_EQ("[Product].[Category]", XmlSupport::getAttribute(level, "ExpressionText").string());
  // A number saves the shortest digits that read back as the same double.
  DOMNodeList* all = xml.getElementsByTagName("Expression");
  bool found = false;
  for (XMLSize_t i = 0; i < all->getLength(); ++i) {
    auto* el = static_cast<DOMElement*>(all->item(i));
    if (XmlSupport::getAttribute(el, "ExpressionType") == "142") {
      EXPECT_EQ("1234.56789012", XmlSupport::getAttribute(el, "ExpressionValue").string());
      found = true;
    }
  }
  EXPECT_TRUE(found);

  // A bad type is refused with the library's exception; the node stays usable.
  XmlSupport bad;
  ASSERT_TRUE(bad.parseXML("<Expression ExpressionType=\"999\" ExpressionText=\"x\"/>"));
  Holder target(createCommonExpression(nullptr));
  EXPECT_THROW(target->load(bad.getDocumentElement(), nullptr), olap_api::InvalidXMLException);
  // Older documents hold ten significant digits, some in exponent form.
  ASSERT_TRUE(bad.parseXML("<Expression ExpressionType=\"142\" ExpressionValue=\"2.5\"/>"));
  Holder number(createCommonExpression(nullptr));
  number->load(bad.getDocumentElement(), nullptr);
  EXPECT_EQ(" 2.5 ", number->getTextFromTree().string());
  ASSERT_TRUE(bad.parseXML("<Expression ExpressionType=\"142\" ExpressionValue=\"1.23456789e+14\"/>"));
  Holder old(createCommonExpression(nullptr));
  old->load(bad.getDocumentElement(), nullptr);
  EXPECT_EQ(" 123456789000000 ", old->getTextFromTree().string());
}

// Regression: numbers printed and saved with ten significant digits lost the rest.
TEST_F(ExpressionTest, NumbersKeepEveryDigitInTextAndXml) {
  for (const char* text : {"1234567.891234", "123456789012345", "0.1", "1e-7", "0.30000000000000004",
                           "1.7976931348623157e308"}) {
    Holder e = parse(text);
    ASSERT_EQ(Expression::ET_NUMBER, e->getType()) << text;
    const double value = e->getValue().dblVal;
    TOVAString printed = e->getTextFromTree();
    EXPECT_EQ(std::string::npos, printed.string().find_first_of("eE")) << printed.string();
    EXPECT_EQ(value, parse(printed.string())->getValue().dblVal) << text;
    XmlSupport xml;
    DOMElement* element = xml.addAChild(nullptr, "Expression");
    e->save(xml, 0, element);
    XmlSupport reread;
    ASSERT_TRUE(reread.parseXML(xml.getXml()));
    Holder loaded(createCommonExpression(nullptr));
    loaded->load(reread.getDocumentElement(), nullptr);
    EXPECT_EQ(value, loaded->getValue().dblVal) << text;
    EXPECT_EQ(printed, loaded->getTextFromTree()) << text;
  }
  EXPECT_EQ(" 1234567.891234 ", print("1234567.891234"));
  EXPECT_EQ(" 123456789012345 ", print("123456789012345"));
  EXPECT_EQ(" 0.0000001 ", print("1e-7"));
  // Scales and exponents are applied to the decimal digits, not by a rounding multiplication.
  EXPECT_EQ(" 1100 ", print("1.1k"));
  EXPECT_EQ(" 0.07 ", print("7%"));
}

TEST_F(ExpressionTest, CloneCompareAndPlaceholders) {
  Holder e = parse("Sum(Members(Year), Sales * 2)");
  Holder copy(e->clone());
  EXPECT_EQ(m_Cube.get(), copy->getCube());
  EXPECT_TRUE(sameTree(e.get(), copy.get()));
  EXPECT_EQ(e->getTextFromTree(), copy->getTextFromTree());
  // Equality compares the child objects themselves, not their content.
  EXPECT_FALSE(*e == *copy);
  Expression* child = e->getExpressions()[0];
  EXPECT_EQ(nullptr, child->getCube());
  EXPECT_EQ(e.get(), child->GetParentExpression());
  Holder twin(createCommonExpression(m_Cube.get()));
  twin->setType(e->getType());
  TOVAString text = e->getText();
  twin->setText(text);
  twin->setExpressions(e->getExpressions());
  EXPECT_TRUE(*e == *twin);
  twin->RemoveAllChildren();

  Holder p(createCommonExpression(nullptr));
  Expression* placeholder = p->AddNewChild();
  p->setType(Expression::ET_ABS);
  placeholder->setType(Expression::ET_PLACEHOLDER);
  placeholder->setStringValue("[Rate]");
  EXPECT_EQ("Abs ( <<[Rate]>> ) ", p->getTextFromTree().string());
  placeholder->replaceNode(Expression::ET_NUMBER, "[Rate]");
  EXPECT_EQ(Expression::ET_NUMBER, placeholder->getType());
  // Printing turns a replaced placeholder back into the placeholder.
  EXPECT_EQ("Abs ( <<[Rate]>> ) ", p->getTextFromTree().string());
  EXPECT_EQ(Expression::ET_PLACEHOLDER, placeholder->getType());
  p->RemoveChild(placeholder);
  EXPECT_TRUE(p->getExpressions().empty());
}

TEST_F(ExpressionTest, KeywordlessTypesReportAnAssertion) {
  Holder e(createCommonExpression(nullptr));
  e->setType(static_cast<Expression::ExpressionType>(199));
  uint64_t before = support_dll::assertionFailureCount();
  EXPECT_EQ(" () ", e->getTextFromTree().string());
  EXPECT_EQ(before + 1, support_dll::assertionFailureCount());
  e->setType(Expression::ET_NUMBER);  // a number without a VT_R8 value
  EXPECT_EQ(" 0 ", e->getTextFromTree().string());
  EXPECT_EQ(before + 2, support_dll::assertionFailureCount());
}

// ---- bad input ----

TEST_F(ExpressionTest, FailuresCarryTheirCodesAndLeaveTheExpressionUsable) {
  std::vector<std::string> inserts;
  EXPECT_EQ(support::COMMON_E_SYNTAX, failure("Sum(Members(Year)", m_Cube.get(), &inserts));
  ASSERT_EQ(2u, inserts.size());
  EXPECT_EQ("Sum(Members(Year)", inserts[1]);
  inserts.clear();
  EXPECT_EQ(support::COMMON_E_SYNTAX, failure("Abs(3))", m_Cube.get(), &inserts));
  EXPECT_EQ(")", inserts.at(0));
  inserts.clear();
  EXPECT_EQ(support::COMMON_E_UNKNOWN_NAME,
            failure("Sum(Members(Nowhere))", m_Cube.get(), &inserts));
  EXPECT_EQ((std::vector<std::string>{"Sum(Members(Nowhere))", "Nowhere"}), inserts);
  EXPECT_EQ(support::COMMON_E_OPERANDS_NOT_NUMBERS, failure("Sales E 3"));
  EXPECT_EQ(support::COMMON_E_INVALID_NUMBER, failure("-" + std::string(400, '9')));
  auto_unuse<ExpressionTestCube> plain(new ExpressionTestCube(false));
  EXPECT_EQ(support::COMMON_E_AGGREGATE_UNSUPPORTED,
            failure("Aggregate(Members(Year))", plain.get()));
  EXPECT_EQ(support::COMMON_E_AGGREGATE_UNSUPPORTED, failure("Aggregate(Members(Year))", nullptr));
  // Without a cube a name is only text: it cannot stand for a level.
  EXPECT_EQ(support::COMMON_E_SYNTAX, failure("Members({[Product].[Category]})", nullptr));
  EXPECT_EQ(0u, failure("Native(anything) + 1", nullptr));

  // Regression: text after a line feed was silently dropped.
  EXPECT_EQ(support::COMMON_E_SYNTAX, failure("Sum(Members(Year))\nAND more"));
  EXPECT_EQ(0u, failure("Sum(Members(Year))\n  \r\n"));

  // Regression: a failed parse left the process-wide parser lock held.
  EXPECT_EQ(support::COMMON_E_SYNTAX, failure("((("));
  bool parsed = false;
  std::thread other([&] { parsed = parse("1 + 1", nullptr)->getType() == Expression::ET_PLUS; });
  other.join();
  EXPECT_TRUE(parsed);
}

TEST_F(ExpressionTest, DeepAndHostileInput) {
  // 10,000 parentheses exhaust the parser stack.
  EXPECT_EQ(support::COMMON_E_PARSER_STACK,
            failure(std::string(10000, '(') + "1" + std::string(10000, ')')));
  // Very long names and numbers.
  EXPECT_EQ(support::COMMON_E_UNKNOWN_NAME,
            failure("Sum(Members(" + std::string(100000, 'x') + "))"));
  EXPECT_EQ(0u, failure("Native({" + std::string(100000, 'y') + "})"));
  EXPECT_EQ(0u, failure(std::string(300, '7') + " + 1"));
  // Regression: a number beyond the range of a double was read as infinity.
  EXPECT_EQ(support::COMMON_E_INVALID_NUMBER, failure(std::string(5000, '7') + " + 1"));
  EXPECT_EQ(support::COMMON_E_INVALID_NUMBER, failure("1e400"));
  EXPECT_EQ(support::COMMON_E_INVALID_NUMBER, failure("1e-400"));
  EXPECT_EQ(support::COMMON_E_INVALID_NUMBER, failure("1" + std::string(300, '0') + "T"));
  EXPECT_EQ(support::COMMON_E_INVALID_NUMBER, failure("1 E 400"));
  // Every character value, alone and inside an expression, and every prefix of a long one:
  // parsed or refused with the library's exception, never anything else.
  std::string sample = corpus().front();
  for (int c = 0; c < 256; ++c) {
    for (std::string text : {std::string(1, static_cast<char>(c)),
                             "Sum(Members(Year), " + std::string(1, static_cast<char>(c)) + ")"}) {
      for (NUVA_o::Cube* cube : {static_cast<NUVA_o::Cube*>(m_Cube.get()), static_cast<NUVA_o::Cube*>(nullptr)}) {
        Holder e(createCommonExpression(cube));
        try {
          e->setTextAndCreateTree(text);
        } catch (const olap_api::ApiException&) {
        }
      }
    }
  }
  for (size_t n = 0; n <= sample.size(); ++n) {
    Holder e(createCommonExpression(m_Cube.get()));
    try {
      e->setTextAndCreateTree(sample.substr(0, n));
    } catch (const olap_api::ApiException&) {
    }
  }
}

// Inputs the fuzz target once tripped over, replayed as the fuzz target feeds them.
TEST_F(ExpressionTest, FuzzRegressionInputs) {
  namespace fs = std::filesystem;
  fs::path dir = fs::path(vtq_testing::sourceDir()) / "fuzz" / "corpus" / "expression";
  int replayed = 0;
  for (const auto& entry : fs::directory_iterator(dir)) {
    std::ifstream in(entry.path(), std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    for (NUVA_o::Cube* cube : {static_cast<NUVA_o::Cube*>(m_Cube.get()), static_cast<NUVA_o::Cube*>(nullptr)}) {
      Holder e(createCommonExpression(cube));
      try {
        if (e->setTextAndCreateTree(bytes.str())) {
          Holder copy(e->clone());
          EXPECT_EQ(e->getTextFromTree(), copy->getTextFromTree()) << entry.path();
        }
      } catch (const olap_api::ApiException&) {
      }
    }
    ++replayed;
  }
  EXPECT_GT(replayed, 0);
}

TEST_F(ExpressionTest, OperatorsPlaceholdersAndLogicalLevelsReadBack) {
  // Each form prints as text that parses back to the same tree and the same text.
  const std::vector<std::pair<std::string, std::string>> forms = {
      {"7 MOD 3", "173\n  142 =7.000000\n  142 =3.000000\n"},
      {"7 mod 3", "173\n  142 =7.000000\n  142 =3.000000\n"},
      {"5 % 3", "144\n  142 =5.000000\n  142 =3.000000\n"},
      {"Abs(<<[Rate]>>)", "164\n  197 '[Rate]'\n"},
      {"Sales > <<[Threshold]>> * 2", "149\n  86\n    193 'Sales'\n  160\n    197 '[Threshold]'\n    142 =2.000000\n"},
      {"Sales > 1 AND Sales < 2 OR Sales = 3",
       "152\n  151\n    149\n      86\n        193 'Sales'\n      142 =1.000000\n    147\n      86\n        193 'Sales'\n"
       "      142 =2.000000\n  145\n    86\n      193 'Sales'\n    142 =3.000000\n"},
      {"TRUE OR FALSE AND TRUE", "152\n  143 =true\n  151\n    143 =false\n    143 =true\n"},
      {"TRUE XOR FALSE OR TRUE", "152\n  154\n    143 =true\n    143 =false\n  143 =true\n"},
      {"TRUE AND FALSE AND TRUE", "151\n  151\n    143 =true\n    143 =false\n  143 =true\n"},
      {"NOT TRUE AND FALSE", "151\n  153\n    143 =true\n  143 =false\n"},
      {"TRUE IMP FALSE EQV TRUE OR FALSE", "156\n  143 =true\n  155\n    143 =false\n    152\n      143 =true\n      143 =false\n"},
      {"GenerateSet(Name = {a} OR Name = {b} AND Name = {c})",
       "200\n  152\n    145\n      202\n      207 'a'\n    151\n      145\n        202\n        207 'b'\n      145\n        202\n        207 'c'\n"},
  };
  for (const auto& [text, tree] : forms) {
    Holder first = parse(text);
    EXPECT_EQ(tree, dump(first.get())) << text;
    TOVAString printed = first->getTextFromTree();
    Holder second = parse(printed.string());
    EXPECT_EQ(tree, dump(second.get())) << text << " printed as " << printed.string();
    EXPECT_EQ(printed, second->getTextFromTree()) << text;
  }
  EXPECT_EQ("Mod ( 7 , 3 ) ", print("7 MOD 3"));
  EXPECT_EQ(" 5 % 3 ", print("5 % 3"));

  // Trees built by hand keep their grouping: the printed text adds the parentheses the
  // levels need, and they add no node when read back.
  auto boolean = [](Expression* node, bool value) {
    node->setType(Expression::ET_BOOLEAN);
    node->getValue().vt = VT_BOOL;
    node->getValue().boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
  };
  for (auto [outer, inner, innerFirst] : {std::tuple{151, 152, true}, {152, 152, false}, {151, 151, false},
                                          {154, 156, true}, {155, 151, false}}) {
    Holder built(createCommonExpression(nullptr));
    built->setType(static_cast<Expression::ExpressionType>(outer));
    Expression* first = built->AddNewChild();
    Expression* second = built->AddNewChild();
    Expression* nested = innerFirst ? first : second;
    boolean(innerFirst ? second : first, true);
    nested->setType(static_cast<Expression::ExpressionType>(inner));
    boolean(nested->AddNewChild(), false);
    boolean(nested->AddNewChild(), true);
    TOVAString printed = built->getTextFromTree();
    EXPECT_EQ(dump(built.get()), dump(parse(printed.string()).get())) << printed.string();
  }
  // Regression: a hand-built *(+(1,2),3) printed as "1 + 2 * 3", which reads back as another
  // tree. Every binary operator under every other that takes its kind of operand, on either
  // side, and under and over a sign, prints as text that reads back to the same tree.
  auto number = [](Expression* node, double value) {
    node->setType(Expression::ET_NUMBER);
    node->getValue().vt = VT_R8;
    node->getValue().dblVal = value;
  };
  const std::vector<int> arithmetic = {158, 159, 160, 161, 162, 163, 144};
  const std::vector<int> comparisons = {145, 146, 147, 148, 149, 150};
  const std::vector<int> logical = {151, 152, 154, 155, 156};
  // An operand: an operator over two leaves, or a leaf; numbers unless `truth`.
  auto operand = [&](Expression* node, int type, bool truth, double seed) {
    if (type < 0) {
      if (truth) boolean(node, seed > 2); else number(node, seed);
      return;
    }
    node->setType(static_cast<Expression::ExpressionType>(type));
    const bool leavesTruth = truth && type >= 151;  // a comparison takes numbers
    Expression* a = node->AddNewChild();
    Expression* b = node->AddNewChild();
    if (leavesTruth) { boolean(a, true); boolean(b, false); } else { number(a, seed); number(b, seed + 1); }
  };
  auto readsBack = [&](int outer, int inner, bool innerFirst, bool outerTruth, bool innerTruth) {
    Holder built(createCommonExpression(nullptr));
    built->setType(static_cast<Expression::ExpressionType>(outer));
    Expression* first = built->AddNewChild();
    if (outer == 157 || outer == 191) {
      operand(first, inner, false, 1);
    } else {
      Expression* second = built->AddNewChild();
      operand(first, innerFirst ? inner : -1, innerFirst ? innerTruth : outerTruth, 1);
      operand(second, innerFirst ? -1 : inner, innerFirst ? outerTruth : innerTruth, 4);
    }
    TOVAString printed = built->getTextFromTree();
    std::string tree;
    try {
      tree = dump(parse(printed.string(), nullptr).get());
    } catch (const olap_api::ApiException& x) {
      tree = "refused";
    }
    EXPECT_EQ(dump(built.get()), tree) << outer << " over " << inner << " printed as " << printed.string();
  };
  for (bool innerFirst : {true, false}) {
    for (int outer : arithmetic)
      for (int inner : arithmetic) readsBack(outer, inner, innerFirst, false, false);
    for (int outer : comparisons)
      for (int inner : arithmetic) readsBack(outer, inner, innerFirst, false, false);
    for (int outer : logical) {
      for (int inner : comparisons) readsBack(outer, inner, innerFirst, true, true);
      for (int inner : logical) readsBack(outer, inner, innerFirst, true, true);
    }
  }
  for (int sign : {157, 191})
    for (int inner : arithmetic) readsBack(sign, inner, true, false, false);
  {
    Holder built(createCommonExpression(nullptr));
    built->setType(Expression::ET_MULTIPLY);
    operand(built->AddNewChild(), 158, false, 1);
    number(built->AddNewChild(), 3);
    EXPECT_EQ(" (  1 + 2  ) * 3 ", built->getTextFromTree().string());
  }
  // Parentheses written in the text print as they were; the ones the grouping needs add no
  // node, others stay a group node, and a group held as a node keeps its own pair.
  EXPECT_EQ(" (  1 + 2  ) * 3 ", print("(1 + 2) * 3"));
  EXPECT_EQ("160\n  158\n    142 =1.000000\n    142 =2.000000\n  142 =3.000000\n",
            dump(parse("(1 + 2) * 3").get()));
  EXPECT_EQ(" (  1 * 2  ) + 3 ", print("(1 * 2) + 3"));
  EXPECT_EQ("158\n  190\n    160\n      142 =1.000000\n      142 =2.000000\n  142 =3.000000\n",
            dump(parse("(1 * 2) + 3").get()));
  for (const char* text : {"((1 + 2)) * 3", "1 - (2 - 3)", "2 ^ 3 ^ 2", "(2 ^ 3) ^ 2", "-(1 + 2)",
                           "(1 + 2) < 3", "(TRUE OR FALSE) AND TRUE"}) {
    Holder first = parse(text, nullptr);
    TOVAString printed = first->getTextFromTree();
    EXPECT_EQ(dump(first.get()), dump(parse(printed.string(), nullptr).get())) << text;
    EXPECT_EQ(printed, parse(printed.string(), nullptr)->getTextFromTree()) << text;
  }

  Holder placeholder(createCommonExpression(nullptr));
  placeholder->setType(Expression::ET_ABS);
  placeholder->AddNewChild()->setType(Expression::ET_PLACEHOLDER);
  placeholder->getExpressions()[0]->setStringValue("[Rate]");
  EXPECT_EQ("Abs ( <<[Rate]>> ) ", placeholder->getTextFromTree().string());
  EXPECT_EQ(dump(placeholder.get()), dump(parse("Abs ( <<[Rate]>> ) ", nullptr).get()));
}

// Regression: a number node holding infinity or NaN, built by hand or loaded from XML, printed
// text that did not read back; such a value is refused as the parser refuses "1e400".
TEST_F(ExpressionTest, NonFiniteNumbersAreRefused) {
  for (double bad : {std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                     std::numeric_limits<double>::quiet_NaN()}) {
    auto code = [](const std::function<void()>& body) -> uint32_t {
      try {
        body();
      } catch (const olap_api::InvalidExpressionException& x) {
        return x.getCode();
      }
      return 0;
    };
    auto numberNode = [](double value) {
      Expression* node = createCommonExpression(nullptr);
      node->setType(Expression::ET_NUMBER);
      node->getValue().vt = VT_R8;
      node->getValue().dblVal = value;
      return node;
    };
    // Built by hand: refused when attached, and when printed or saved if set afterwards.
    Holder root(createCommonExpression(nullptr));
    root->setType(Expression::ET_ABS);
    EXPECT_EQ(0xC2011036u, code([&] { root->AddNewChild(numberNode(bad)); }));
    Holder loose(numberNode(bad));
    EXPECT_EQ(0xC2011036u, code([&] { root->setExpressions({loose.get()}); }));
    EXPECT_TRUE(root->getExpressions().empty());
    Expression* late = root->AddNewChild(numberNode(2));
    EXPECT_EQ("Abs ( 2 ) ", root->getTextFromTree().string());
    late->getValue().dblVal = bad;
    EXPECT_EQ(0xC2011036u, code([&] { root->getTextFromTree(); }));
    XmlSupport out;
    EXPECT_EQ(0xC2011036u, code([&] { root->save(out, 0, out.addAChild(nullptr, "Expression")); }));
    late->getValue().dblVal = 2;
    EXPECT_EQ("Abs ( 2 ) ", root->getTextFromTree().string());  // still usable

    // Loaded: a document whose number is out of range is refused with nothing read.
    XmlSupport xml;
    DOMElement* element = xml.addAChild(nullptr, "Expression");
    root->save(xml, 0, element);
    auto* numberElement = static_cast<DOMElement*>(element->getFirstChild()->getFirstChild());
    XmlSupport::write_to(numberElement, "ExpressionValue",
                         TOVAString(std::isnan(bad) ? "nan" : bad > 0 ? "inf" : "-inf"));
    Holder loaded(createCommonExpression(nullptr));
    EXPECT_EQ(0xC2011036u, code([&] { loaded->load(element, nullptr); }));
    EXPECT_EQ(Expression::ET_EMPTY, loaded->getType());
    EXPECT_TRUE(loaded->getExpressions().empty());
  }

  // Regression: a saved value beyond a double, or no number at all, loaded silently as 0.
  auto load_value = [this](const char* value) -> std::string {
    auto saved = parse("Abs(2)", nullptr);
    XmlSupport xml;
    DOMElement* element = xml.addAChild(nullptr, "Expression");
    saved->save(xml, 0, element);
    auto* number = static_cast<DOMElement*>(element->getFirstChild()->getFirstChild());
    XmlSupport::write_to(number, "ExpressionValue", TOVAString(value));
    Holder loaded(createCommonExpression(nullptr));
    try {
      loaded->load(element, nullptr);
    } catch (const olap_api::ApiException& x) {
      return "error " + std::to_string(x.getCode());
    }
    return loaded->getTextFromTree().string();
  };
  EXPECT_EQ("Abs ( 1500 ) ", load_value("1.5E3"));  // older documents' exponent form
  EXPECT_EQ("error " + std::to_string(0xC2011036u), load_value("1e400"));
  EXPECT_EQ("error " + std::to_string(0xC2011036u), load_value("1e-400"));
  EXPECT_EQ("error " + std::to_string(0xC2011048u), load_value("twelve"));
}

// Names that start with a keyword or hold operator characters in brackets, on a cube that
// knows them.
TEST_F(ExpressionTest, KeywordPrefixedAndBracketedNames) {
  m_Cube->addName("Count_Orders", 16);
  m_Cube->addName("Sum1", 16);
  m_Cube->addName("Date_Key", 8);
  EXPECT_EQ("149\n  86\n    193 'Count_Orders'\n  142 =1.000000\n", dump(parse("Count_Orders > 1").get()));
  EXPECT_EQ("158\n  86\n    193 'Sum1'\n  86\n    193 '[Product].[Bikes].[Road].[Road-150]'\n",
            dump(parse("Sum1 + [Product].[Bikes].[Road].[Road-150]").get()));
  EXPECT_EQ("137\n  123 'Date_Key'\n  198\n", dump(parse("Members(Date_Key)").get()));
  for (const char* text : {"Count_Orders > 1", "Sum1 * 2", "[Product].[Bikes].[Road].[Road-150]",
                           "Members(Date_Key)", "Count(Members(Date_Key))"}) {
    Holder first = parse(text);
    Holder second = parse(first->getTextFromTree().string());
    EXPECT_TRUE(sameTree(first.get(), second.get())) << text;
  }
}

TEST_F(ExpressionTest, TreesDeeperThanTheLimitAreRefusedEverywhere) {
  const int limit = Expression::MAX_DEPTH;
  auto chain = [](int terms) {
    std::string text = "1";
    for (int i = 1; i < terms; ++i) text += "+1";
    return text;
  };
  // Regression: a left-associative chain built a tree as deep as its length, which crashed
  // the XML serialiser.
  Holder parsed = parse(chain(limit));
  EXPECT_EQ(support::COMMON_E_PARSER_STACK, failure(chain(limit + 1)));
  EXPECT_EQ(support::COMMON_E_PARSER_STACK, failure(chain(65000)));
  EXPECT_EQ(support::COMMON_E_PARSER_STACK, failure(std::string(limit, '-') + "1"));
  EXPECT_EQ(0u, failure(std::string(limit - 1, '-') + "1"));

  // Built through the interface: the deepest chain, then one level more is refused.
  Holder built(createCommonExpression(nullptr));
  Expression* at = built.get();
  for (int i = 1; i < limit; ++i) {
    at->setType(Expression::ET_NEGATE);
    at = at->AddNewChild();
  }
  at->setType(Expression::ET_NUMBER);
  at->getValue().vt = VT_R8;
  at->getValue().dblVal = 1;
  try {
    at->AddNewChild();
    ADD_FAILURE() << "a node below the limit was added";
  } catch (const olap_api::InvalidExpressionException& x) {
    EXPECT_EQ(support::COMMON_E_PARSER_STACK, x.getCode());
  }
  EXPECT_TRUE(at->getExpressions().empty());
  // A subtree that would reach below the limit is refused and released (the fixture counts).
  Holder two(createCommonExpression(nullptr));
  two->AddNewChild()->setType(Expression::ET_EMPTY);
  EXPECT_THROW(at->GetParentExpression()->setExpressions({two.get()}), olap_api::InvalidExpressionException);
  EXPECT_EQ(at, at->GetParentExpression()->getExpressions().at(0));
  EXPECT_THROW(at->AddNewChild(two.release()), olap_api::InvalidExpressionException);

  // Loaded from XML: the deepest tree loads, a deeper one is refused with nothing read.
  XmlSupport xml;
  DOMElement* element = xml.addAChild(nullptr, "Expression");
  built->save(xml, 0, element);
  Holder loaded(createCommonExpression(nullptr));
  loaded->load(element, nullptr);
  EXPECT_EQ(built->getTextFromTree(), loaded->getTextFromTree());
  Holder holder(createCommonExpression(nullptr));
  holder->setType(Expression::ET_NEGATE);
  EXPECT_THROW(holder->AddNewChild()->load(element, nullptr), olap_api::InvalidExpressionException);
  EXPECT_TRUE(holder->getExpressions().at(0)->getExpressions().empty());

  // The deepest trees print, copy, save as text and load again on a 1 MiB stack.
  onSmallStack([&] {
    for (Expression* tree : {parsed.get(), built.get()}) {
      TOVAString text = tree->getTextFromTree();
      Holder copy(tree->clone());
      EXPECT_EQ(text, copy->getTextFromTree());
      XmlSupport document;
      tree->save(document, 0, document.addAChild(nullptr, "Expression"));
      TOVAString saved = document.getXml();
      XmlSupport reread;
      ASSERT_TRUE(reread.parseXML(saved));
      Holder back(createCommonExpression(nullptr));
      back->load(reread.getDocumentElement(), nullptr);
      EXPECT_EQ(text, back->getTextFromTree());
    }
    parsed.reset();
    built.reset();
    loaded.reset();
  });
  EXPECT_EQ(nullptr, parsed.get());
}

// The same language against the reference provider's sample cube, which classifies names from
// its own unique names.
class SampleCubeExpressionTest : public vtq_testing::VtqTest {
 protected:
  void SetUp() override {
    VtqTest::SetUp();
    m_Cube.reset(memory::loadCube(vtq_testing::sampleCubePath()));
  }
  void TearDown() override {
    m_Cube.reset();
    VtqTest::TearDown();
  }
  Holder parse(const std::string& text) {
    Holder e(createCommonExpression(m_Cube.get()));
    e->setTextAndCreateTree(text);
    return e;
  }
  auto_unuse<memory::MemoryCube> m_Cube;
};

TEST_F(SampleCubeExpressionTest, CorpusParsesAndRoundTrips) {
  for (const std::string& line : corpus()) {
    Holder first = parse(line);
    TOVAString text = first->getTextFromTree();
    Holder second = parse(text.string());
    EXPECT_EQ(text, second->getTextFromTree()) << line;
    EXPECT_TRUE(sameTree(first.get(), second.get())) << line;
  }
  EXPECT_TRUE(parse("TopCount(Members({[Product].[Category]}), 10, {[Measures].[Sales]})")->isRankingExpression());
  EXPECT_FALSE(parse("Filter(Members({[Product].[Category]}), {[Measures].[Sales]} > 100)")->isRankingExpression());
  // A bare name and the same name in braces reach the same terminal.
  EXPECT_EQ(dump(parse("Members({[Product].[Category]})").get()), dump(parse("Members([Product].[Category])").get()));
  EXPECT_EQ("86\n  193 '[Measures].[Sales]'\n", dump(parse("[Measures].[Sales]").get()));
}

TEST_F(SampleCubeExpressionTest, AggregateNeedsTheCapability) {
  EXPECT_TRUE(parse("Aggregate(Members({[Product].[Category]}))")->isAggregateExpression());
  m_Cube->setCapability(10, false);
  Holder e(createCommonExpression(m_Cube.get()));
  try {
    e->setTextAndCreateTree("Aggregate(Members({[Product].[Category]}))");
    ADD_FAILURE() << "AGGREGATE accepted without capability 10";
  } catch (const olap_api::InvalidExpressionException& x) {
    EXPECT_EQ(support::COMMON_E_AGGREGATE_UNSUPPORTED, x.getCode());
  }
  try {
    e->setTextAndCreateTree("Sum(Members({[Product].[Colour]}))");
    ADD_FAILURE() << "an unknown name was accepted";
  } catch (const olap_api::InvalidExpressionException& x) {
    EXPECT_EQ(support::COMMON_E_SYNTAX, x.getCode());  // an unknown braced name is a plain name
  }
}

}  // namespace
