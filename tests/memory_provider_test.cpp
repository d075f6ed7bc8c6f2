// The in-memory reference provider: cubes built in code and read from definition files,
// member objects, member sets and their commands, name classification, broken definitions.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "NUVA_o/Cube.h"
#include "NUVA_o/MemberSet.h"
#include "VtqTest.h"
#include "common/CreationRecord.h"
#include "common/ProviderLibrary.h"
#include "common/ViewpointBase.h"
#include "provider/memory/MemoryCube.h"
#include "support/Exceptions.h"

namespace {

using NUVA_o::CreateSetAs;

std::string fixture(const std::string& name) {
  return vtq_testing::sourceDir() + "/tests/fixtures/memory/" + name;
}

// The cube of tests/fixtures/memory/shop.cube.xml, built in code.
memory::MemoryCube* build_shop() {
  memory::CubeBuilder b("Shop");
  b.addDimension("Time");
  EXPECT_EQ(TOVAString("[Time].[Calendar]"), b.addHierarchy("Time", "Calendar", {"Year", "Month"}, true));
  b.addHierarchy("Time", "Season", {"Season", "Month"}, false, false);
  b.addLevelProperty("[Time].[Calendar].[Month]", "Days");
  struct Month { const char* key; const char* year; const char* name; const char* label; const char* season; const char* days; };
  for (const Month& m : {Month{"2024-01", "2024", "Jan", "January", "Winter", "31"},
                         Month{"2024-02", "2024", "Feb", "February", "Winter", "29"},
                         Month{"2024-07", "2024", "Jul", "July", "Summer", "31"},
                         Month{"2025-01", "2025", "Jan", "January", "Winter", "31"}}) {
    b.addPath("[Time].[Calendar]", m.key, {m.year, m.name});
    b.setMemberProperty(TOVAString().build("[Time].[Calendar].[%s].[%s]", m.year, m.name), "Days", m.days);
    b.addPath("[Time].[Season]", m.key, {m.season, m.name});
    b.setCaption(TOVAString().build("[Time].[Season].[%s].[%s]", m.season, m.name), m.label);
  }
  b.setDefaultMember("[Time].[Season]", "[Time].[Season].[Summer]");
  b.addDimension("Store");
  EXPECT_EQ(TOVAString("[Store]"), b.addHierarchy("Store", "Store", {"Country", "Store"}));
  b.addPath("[Store]", "North", {"Norway", "North"});
  b.addPath("[Store]", "South", {"Spain", "South"});
  b.addPath("[Store]", "Main, Street", {"Spain", "Main, Street"});
  b.addCalculation("[Store]", "Nordics", "[Store].[Norway]", NUVA_o::CF_DEFAULT);
  b.addMeasure("Revenue");
  b.addMeasure("Units", true);
  b.addCalculation("[Measures]", "Price", "[Measures].[Revenue] / [Measures].[Units]", NUVA_o::CF_NUMBER);
  b.addCalculation("[Measures]", "Share", "[Measures].[Revenue] / 100", NUVA_o::CF_PERCENT);
  b.addFact(std::vector<TOVAString>{"2024-01", "North"}, {100.5, 3});
  b.addFact(std::vector<TOVAString>{"2024-01", "South"}, {40, 2});
  b.addFact(std::vector<TOVAString>{"2024-02", "Main, Street"}, {12.25, 1});
  b.addFact(std::vector<TOVAString>{"2024-07", "North"}, {80, 4});
  b.addFact(std::vector<TOVAString>{"2025-01", "South"}, {7, 1});
  b.setCapability(NUVA_o::Cube::SUPPORTS_PARAMETERS, true);
  b.setStringColumnDisplaySize(20);
  b.setTechnicalNamesSupported(true);
  b.setDefaultAxisNullFilter(true);
  return b.build();
}

std::string join(const std::vector<TOVAString>& names) {
  std::string out;
  for (const TOVAString& name : names) out += (out.empty() ? "" : ", ") + name.string();
  return out;
}

std::vector<TOVAString> members_of(NUVA_o::MemberSet* set) { return memory::memberUniqueNames(set); }

// Everything the interfaces tell about a cube, as text.
std::string describe(memory::MemoryCube* cube) {
  std::ostringstream out;
  TOVAString provider;
  cube->getProviderName(provider);
  out << "cube " << cube->getName().string() << " provider=" << provider.string()
      << " facts=" << cube->getFactCount() << " caps=" << cube->supports(10) << cube->supports(12)
      << cube->supports(18) << " size=" << cube->getStringColumnDisplaySize()
      << " tech=" << cube->supportsTechnicalNames() << " nullfilter=" << cube->getDefaultAxisNullFilter()
      << " calcdim=" << (cube->getCalculationDimension() ? cube->getCalculationDimension()->getUniqueName().string() : "-")
      << "\n";
  for (NUVA_o::Dimension* dimension : cube->getDimensions()) {
    out << "D " << dimension->getUniqueName().string() << " default="
        << dimension->getDefaultHierarchy()->getUniqueName().string() << "\n";
    for (NUVA_o::Hierarchy* hierarchy : dimension->getHierarchies()) {
      auto_unuse<NUVA_o::Member> member(hierarchy->getDefaultMember());
      out << " H " << hierarchy->getUniqueName().string() << " name=" << hierarchy->getName().string()
          << " levels=" << hierarchy->getLevelCount() << " default=" << member->getUniqueName().string() << "\n";
      for (int l = 0; l < hierarchy->getLevelCount(); ++l) {
        NUVA_o::Level* level = hierarchy->getLevel(l);
        auto_unuse<NUVA_o::MemberSet> set(level->createMemberSet(NUVA_o::CS_CREATEALL));
        out << "  L" << level->getLevelNumber() << " " << level->getUniqueName().string() << ":";
        for (const TOVAString& name : members_of(set.get())) {
          member->moveTo(name);
          out << " " << name.string();
          if (member->getCaption() != name.substr(name.rfind(u'[') + 1, name.size() - name.rfind(u'[') - 2))
            out << "'" << member->getCaption().string() << "'";
        }
        out << "\n";
        auto_unuse<NUVA_o::Field> field(hierarchy->getFieldByName(level->getUniqueName()));
        if (field)
          out << "   field " << field->getUniqueName().string() << " type=" << field->getDataType()
              << " category=" << field->getFieldCategory() << " level=" << field->getLevelNumber() << "\n";
      }
      std::vector<NUVA_o::MemberProperty*> properties;
      hierarchy->getMemberProperties(properties);
      for (auto* property : properties) out << "  P " << property->getUniqueName().string() << "\n";
      std::map<TOVAString, NUVA_o::Calculation*> calculations;
      hierarchy->getCalculations(calculations);
      for (auto& [name, calculation] : calculations)
        out << "  C " << name.string() << " format=" << calculation->getCalculationFormat() << "\n";
    }
  }
  return out.str();
}

const char* const kShopDescription =
    "cube Shop provider=memory facts=5 caps=001 size=20 tech=1 nullfilter=1 calcdim=[Measures]\n"
    "D [Time] default=[Time].[Calendar]\n"
    " H [Time].[Calendar] name=Calendar levels=3 default=[Time].[Calendar].[All]\n"
    "  L0 [Time].[Calendar].[(All)]: [Time].[Calendar].[All]\n"
    "  L1 [Time].[Calendar].[Year]: [Time].[Calendar].[2024] [Time].[Calendar].[2025]\n"
    "   field [Time].[Calendar].[Year] type=17 category=0 level=1\n"
    "  L2 [Time].[Calendar].[Month]: [Time].[Calendar].[2024].[Jan] [Time].[Calendar].[2024].[Feb] "
    "[Time].[Calendar].[2024].[Jul] [Time].[Calendar].[2025].[Jan]\n"
    "   field [Time].[Calendar].[Month] type=17 category=0 level=2\n"
    "  P [Time].[Calendar].[Month].[Days]\n"
    " H [Time].[Season] name=Season levels=2 default=[Time].[Season].[Summer]\n"
    "  L0 [Time].[Season].[Season]: [Time].[Season].[Winter] [Time].[Season].[Summer]\n"
    "   field [Time].[Season].[Season] type=17 category=0 level=0\n"
    "  L1 [Time].[Season].[Month]: [Time].[Season].[Winter].[Jan]'January' "
    "[Time].[Season].[Winter].[Feb]'February' [Time].[Season].[Summer].[Jul]'July'\n"
    "   field [Time].[Season].[Month] type=17 category=0 level=1\n"
    "D [Store] default=[Store]\n"
    " H [Store] name=Store levels=3 default=[Store].[All]\n"
    "  L0 [Store].[(All)]: [Store].[All]\n"
    "  L1 [Store].[Country]: [Store].[Norway] [Store].[Spain]\n"
    "   field [Store].[Country] type=17 category=0 level=1\n"
    "  L2 [Store].[Store]: [Store].[Norway].[North] [Store].[Spain].[South] [Store].[Spain].[Main, Street]\n"
    "   field [Store].[Store] type=17 category=0 level=2\n"
    "  C [Store].[Nordics] format=0\n"
    "D [Measures] default=[Measures]\n"
    " H [Measures] name=Measures levels=1 default=[Measures].[Units]\n"
    "  L0 [Measures].[MeasuresLevel]: [Measures].[Revenue] [Measures].[Units] [Measures].[Price] [Measures].[Share]\n"
    "  C [Measures].[Price] format=1\n"
    "  C [Measures].[Share] format=2\n";

enum class Source { Builder, File };

class MemoryCubeTest : public vtq_testing::VtqTest, public ::testing::WithParamInterface<Source> {
 protected:
  void SetUp() override {
    VtqTest::SetUp();
    m_Cube.reset(GetParam() == Source::Builder ? build_shop() : memory::loadCube(fixture("shop.cube.xml")));
  }
  void TearDown() override {
    m_Cube.reset();
    VtqTest::TearDown();
  }
  NUVA_o::Hierarchy* hierarchy(const char* uniqueName) {
    auto_unuse<NUVA_o::Hierarchy> h(m_Cube->getHierarchyByUniqueName(uniqueName));
    EXPECT_TRUE(h) << uniqueName;
    return h.get();  // borrowed: the cube holds its hierarchies
  }

  auto_unuse<memory::MemoryCube> m_Cube;
};

TEST_P(MemoryCubeTest, DescribesTheSameCubeWhetherBuiltOrRead) {
  EXPECT_EQ(kShopDescription, describe(m_Cube.get()));
  auto_unuse<memory::MemoryCube> other(GetParam() == Source::Builder ? memory::loadCube(fixture("shop.cube.xml"))
                                                                     : build_shop());
  EXPECT_EQ(describe(other.get()), describe(m_Cube.get()));
}

TEST_P(MemoryCubeTest, FindsObjectsByNameAndHandsOutReferences) {
  EXPECT_EQ(nullptr, m_Cube->getHierarchyByUniqueName("[Time]"));
  EXPECT_EQ(nullptr, m_Cube->getHierarchyByUniqueName("[Nowhere]"));
  NUVA_o::Dimension* time = m_Cube->getDimensionByName("Time");
  ASSERT_NE(nullptr, time);
  EXPECT_EQ(time, m_Cube->getDimensionByName("[Time]"));
  EXPECT_EQ(time->getHierarchy("Season"), time->getHierarchy("[Time].[Season]"));
  EXPECT_EQ(nullptr, time->getHierarchy("Fiscal"));
  EXPECT_EQ(nullptr, hierarchy("[Store]")->getLevel(3));
  EXPECT_EQ(nullptr, hierarchy("[Store]")->getLevel(-1));
  EXPECT_EQ(time, hierarchy("[Time].[Season]")->getDimension());

  // A hierarchy reference keeps the whole cube alive after the cube's own reference is gone.
  NUVA_o::Hierarchy* calendar = m_Cube->getHierarchyByUniqueName("[Time].[Calendar]");
  m_Cube.reset();
  EXPECT_EQ(TOVAString("[Time].[Calendar].[Year]"), calendar->getLevel(1)->getUniqueName());
  auto_unuse<NUVA_o::Member> member(calendar->getDefaultMember());
  calendar->unuse();
  member->moveTo("[Time].[Calendar].[2025].[Jan]");
  EXPECT_EQ(0, member->getMemberType());
}

TEST_P(MemoryCubeTest, FieldsOfLevelsPropertiesMeasuresAndExpressions) {
  NUVA_o::Hierarchy* measures = hierarchy("[Measures]");
  auto_unuse<NUVA_o::Field> units(measures->getFieldByName("[measures].[units]"));
  ASSERT_TRUE(units);
  EXPECT_EQ(TOVAString("[Measures].[Units]"), units->getUniqueName());
  EXPECT_EQ(TOVAString("Units"), units->getName());
  EXPECT_EQ(support::DT_DOUBLE, units->getDataType());
  EXPECT_TRUE(units->isNumeric());
  EXPECT_EQ(measures, units->getHierarchy());
  EXPECT_EQ(TOVAString("[Measures].[MeasuresLevel]"), units->getLevelUniqueName());
  // Measures are not attributes.
  EXPECT_FALSE(auto_unuse<NUVA_o::Field>(measures->getAttributeField("Units")));

  NUVA_o::Hierarchy* calendar = hierarchy("[Time].[Calendar]");
  auto_unuse<NUVA_o::Field> days(calendar->getAttributeField("[Time].[Calendar].[Month].[Days]"));
  ASSERT_TRUE(days);
  EXPECT_EQ(2, days->getFieldCategory());
  EXPECT_FALSE(days->isNumeric());
  EXPECT_EQ(TOVAString("[Time].[Calendar].[Month]"), days->getLevelUniqueName());
  EXPECT_EQ(2u, days->getLevelNumber());
  EXPECT_FALSE(auto_unuse<NUVA_o::Field>(calendar->getFieldByName("[Time].[Calendar].[Week]")));

  auto_unuse<NUVA_o::Field> price(measures->getCalculatedField("[Measures].[Revenue] / [Measures].[Units]"));
  ASSERT_TRUE(price);
  EXPECT_EQ(TOVAString("[Measures].[Price]"), price->getUniqueName());
  EXPECT_TRUE(price->isNumeric());
  auto_unuse<NUVA_o::Field> adhoc(measures->getCalculatedField("[Measures].[Units] * 2"));
  ASSERT_TRUE(adhoc);
  EXPECT_EQ(TOVAString("[Measures].[Units] * 2"), adhoc->getUniqueName());
  EXPECT_FALSE(auto_unuse<NUVA_o::Field>(measures->getCalculatedField("")));

  TOVAString key;
  m_Cube->normalizeKey(key, "  [time].[calendar].[year] ");
  EXPECT_EQ(TOVAString("[Time].[Calendar].[Year]"), key);
  m_Cube->normalizeKey(key, "Unknown");
  EXPECT_EQ(TOVAString("Unknown"), key);
}

TEST_P(MemoryCubeTest, ClassifiesNamesOfTheCube) {
  struct Case { const char* name; int kind; unsigned bits; };
  for (const Case& c : {Case{"Time", 2, 2}, Case{"[Time]", 2, 2}, Case{"[Time].[Season]", 2, 2},
                        Case{"Season", 2, 10},  // a hierarchy and a level of that name
                        Case{"Store", 2, 10}, Case{"[Store].[Store]", 4, 8}, Case{"Year", 4, 8},
                        Case{"[Time].[Calendar].[Month]", 4, 8}, Case{"Units", 6, 16},
                        Case{"[Measures].[Revenue]", 6, 16}, Case{"Price", 6, 16},
                        Case{"[Store].[Spain].[Main, Street]", 5, 32}, Case{"January", 5, 32},
                        Case{"[Store].[Nordics]", 5, 32}, Case{"Days", 1, 1},
                        Case{"[Time].[Calendar].[Month].[Days]", 1, 1}, Case{"Weekday", 0, 0},
                        Case{"", 0, 0}}) {
    TOVAString token;
    EXPECT_EQ(c.kind, m_Cube->classifyName(c.name, token)) << c.name;
    EXPECT_EQ(TOVAString(c.name), token);
    EXPECT_EQ(c.bits, m_Cube->classifyBracedName(c.name, 0)) << c.name;
    EXPECT_EQ(c.bits, m_Cube->classifyBracedName(c.name, 1)) << c.name;
  }
  // Letter case only matters to the first pass of braced names.
  TOVAString token;
  EXPECT_EQ(6, m_Cube->classifyName("units", token));
  EXPECT_EQ(0u, m_Cube->classifyBracedName("[measures].[units]", 0));
  EXPECT_EQ(16u, m_Cube->classifyBracedName("[measures].[units]", 1));
}

class RecordingMemberListener : public NUVA_o::Member::MemberListener {
 public:
  void memberChanged(const NUVA_o::MemberCommand*) override { ++changed; }
  void memberDestroyed(const NUVA_o::Member*) override { ++destroyed; }
  bool memberInactivated() override { return false; }
  void memberListenerFinish() override {}
  int changed = 0;
  int destroyed = 0;
};

TEST_P(MemoryCubeTest, MemberObjectsMoveIndependentlyAndReportUnresolvedTargets) {
  NUVA_o::Hierarchy* season = hierarchy("[Time].[Season]");
  auto_unuse<NUVA_o::Member> a(season->getDefaultMember());
  auto_unuse<NUVA_o::Member> b(season->getDefaultMember());
  ASSERT_NE(a.get(), b.get());
  RecordingMemberListener listener;
  a->addMemberListener(&listener);
  EXPECT_TRUE(a->isDefaultMember());
  EXPECT_EQ(TOVAString("[Time].[Season].[Summer]"), a->getUniqueName());
  EXPECT_EQ(0, a->getLevelNumber());

  a->moveTo("[time].[season].[winter].[feb]");  // resolved without regard to case
  EXPECT_EQ(TOVAString("[Time].[Season].[Winter].[Feb]"), a->getUniqueName());
  EXPECT_EQ(TOVAString("February"), a->getCaption());
  EXPECT_FALSE(a->isDefaultMember());
  EXPECT_EQ(1, listener.changed);
  EXPECT_TRUE(b->isDefaultMember()) << "moving one member object moved another";

  a->moveTo("[Time].[Season].[Winter].[Feb]");  // no change, no notice
  EXPECT_EQ(1, listener.changed);

  a->moveTo("[Time].[Season].[Autumn]");
  EXPECT_EQ(NUVA_o::Member::MT_UNRESOLVED, a->getMemberType());
  EXPECT_EQ(TOVAString("[Time].[Season].[Autumn]"), a->getUniqueName());
  EXPECT_TRUE(a->getCaption().empty());
  EXPECT_EQ(-1, a->getLevelNumber());
  EXPECT_FALSE(a->isDefaultMember());
  EXPECT_EQ(2, listener.changed);

  b->moveTo(a.get());  // an unresolved target travels as such
  EXPECT_EQ(5, b->getMemberType());
  a->moveTo("[Time].[Season].[Summer].[Jul]");
  b->moveTo(a.get());
  EXPECT_EQ(0, b->getMemberType());
  EXPECT_EQ(TOVAString("[Time].[Season].[Summer].[Jul]"), b->getUniqueName());
  EXPECT_EQ(season, b->getHierarchy());

  // A member of another hierarchy does not resolve here.
  auto_unuse<NUVA_o::Member> store(hierarchy("[Store]")->getDefaultMember());
  b->moveTo(store.get());
  EXPECT_EQ(5, b->getMemberType());

  a->removeMemberListener(&listener);
  a->moveTo("[Time].[Season].[Winter]");
  EXPECT_EQ(3, listener.changed);
  EXPECT_EQ(0, listener.destroyed);
  EXPECT_THROW(a->moveTo(static_cast<const NUVA_o::Member*>(nullptr)), olap_api::InvalidArgumentException);
}

class RecordingSetListener : public NUVA_o::MemberSet::MemberSetListener {
 public:
  void preMemberSetCommandExecute(const NUVA_o::MemberSetCommand* command) override {
    log += "pre(" + std::string(command ? "cmd" : "null") + ") ";
  }
  void memberSetChanged(const NUVA_o::MemberSetCommand* command, bool& out) override {
    log += "changed(" + std::string(command ? "cmd" : "null") + ") ";
    out = true;
  }
  void memberSetDestroyed(const NUVA_o::MemberSet*) override { log += "destroyed "; }
  bool memberSetInactivated() override { return false; }
  void memberSetListenerFinish() override {}
  std::string log;
};

TEST_P(MemoryCubeTest, MemberSetsHoldTheMembersTheirKindNames) {
  NUVA_o::Hierarchy* calendar = hierarchy("[Time].[Calendar]");
  const uint64_t before = m_Cube->getMemberSetsCreated();
  auto names = [&](NUVA_o::MemberSet* set) {
    auto_unuse<NUVA_o::MemberSet> held(set);
    return join(members_of(held.get()));
  };
  EXPECT_EQ("[Time].[Calendar].[All], [Time].[Calendar].[2024], [Time].[Calendar].[2024].[Jan], "
            "[Time].[Calendar].[2024].[Feb], [Time].[Calendar].[2024].[Jul], [Time].[Calendar].[2025], "
            "[Time].[Calendar].[2025].[Jan]",
            names(calendar->createMemberSet(NUVA_o::CS_CREATEALL)));
  EXPECT_EQ(names(calendar->createMemberSet(NUVA_o::CS_CREATEALL)),
            names(calendar->createMemberSet(NUVA_o::CS_CREATEDEFAULT)));
  EXPECT_EQ("", names(calendar->createMemberSet(NUVA_o::CS_CREATEEMPTY)));
  EXPECT_EQ("", names(calendar->createMemberSet(static_cast<CreateSetAs>(6))));
  EXPECT_EQ("", names(calendar->createMemberSet(NUVA_o::CS_CREATECALC)));
  EXPECT_EQ("[Time].[Calendar].[2024].[Jan], [Time].[Calendar].[2024].[Feb], [Time].[Calendar].[2024].[Jul], "
            "[Time].[Calendar].[2025].[Jan]",
            names(calendar->createMemberSet(NUVA_o::CS_CREATEBASE)));
  EXPECT_EQ("[Time].[Calendar].[All]", names(calendar->createMemberSet(NUVA_o::CS_CREATESERVERPROVIDED)));
  EXPECT_EQ("[Time].[Calendar].[All]", names(calendar->getLevel(0)->createMemberSet(NUVA_o::CS_CREATEALL)));
  EXPECT_EQ("[Time].[Calendar].[2024], [Time].[Calendar].[2025]",
            names(calendar->getLevel(1)->createMemberSet(NUVA_o::CS_CREATEDEFAULT)));
  EXPECT_EQ("", names(calendar->getLevel(1)->createMemberSet(NUVA_o::CS_CREATEEMPTY)));
  EXPECT_THROW(calendar->createMemberSet(static_cast<CreateSetAs>(12)), olap_api::InvalidArgumentException);
  EXPECT_THROW(calendar->getLevel(1)->createMemberSet(static_cast<CreateSetAs>(-1)), olap_api::InvalidArgumentException);
  EXPECT_EQ(before + 11, m_Cube->getMemberSetsCreated());

  auto_unuse<NUVA_o::MemberSet> level(calendar->getLevel(1)->createMemberSet(NUVA_o::CS_CREATEALL));
  EXPECT_EQ(1, level->getLevelIndex());
  EXPECT_EQ(TOVAString("[Time].[Calendar]"), level->getCreationRecord().m_HierarchyName);
  EXPECT_EQ(TOVAString("{[Time].[Calendar].[2024], [Time].[Calendar].[2025]}"), level->getServerText());
}

TEST_P(MemoryCubeTest, CommandsChangeSetsAndTellListeners) {
  NUVA_o::Hierarchy* store = hierarchy("[Store]");
  auto_unuse<NUVA_o::MemberSet> set(store->createMemberSet(NUVA_o::CS_CREATEEMPTY));
  RecordingSetListener listener;
  set->addMemberSetListener(&listener);

  auto_unuse<NUVA_o::MemberSetCommand> add(set->createCommand());
  EXPECT_EQ(set.get(), add->getCommandMemberSet());
  add->addMember("[Store].[Spain]");
  add->addMember("[Store].[Norway].[North]");
  add->addMember("[Store].[Spain]");
  EXPECT_THROW(add->addMember("[Store].[France]"), olap_api::InvalidArgumentException);
  EXPECT_EQ("", join(members_of(set.get()))) << "recording a command changed the set";
  add->execute();
  EXPECT_EQ("pre(cmd) changed(cmd) ", listener.log);
  EXPECT_EQ("[Store].[Spain], [Store].[Norway].[North]", join(members_of(set.get())));

  auto_unuse<NUVA_o::MemberSet> countries(store->getLevel(1)->createMemberSet(NUVA_o::CS_CREATEALL));
  auto_unuse<NUVA_o::MemberSetCommand> replace(set->createCommand());
  replace->makeEmpty();
  replace->addMemberSet(countries.get());
  replace->addMember("[Store].[Spain].[Main, Street]");
  replace->execute();
  EXPECT_EQ("[Store].[Norway], [Store].[Spain], [Store].[Spain].[Main, Street]", join(members_of(set.get())));
  replace->undo();
  EXPECT_EQ("[Store].[Spain], [Store].[Norway].[North]", join(members_of(set.get())));
  replace->undo();  // nothing to take back
  EXPECT_EQ("pre(cmd) changed(cmd) pre(cmd) changed(cmd) pre(cmd) changed(cmd) ", listener.log);

  // Sets of another hierarchy are refused before anything changes.
  auto_unuse<NUVA_o::MemberSet> months(hierarchy("[Time].[Calendar]")->createMemberSet(NUVA_o::CS_CREATEALL));
  auto_unuse<NUVA_o::MemberSetCommand> wrong(set->createCommand());
  EXPECT_THROW(wrong->addMemberSet(months.get()), olap_api::InvalidArgumentException);
  EXPECT_THROW(set->assign(months.get()), olap_api::InvalidArgumentException);
  EXPECT_EQ("[Store].[Spain], [Store].[Norway].[North]", join(members_of(set.get())));

  set->removeMemberSetListener(&listener);
  set->makeEmpty();
  EXPECT_EQ(0, set->getServerCount());
  EXPECT_EQ("pre(cmd) changed(cmd) pre(cmd) changed(cmd) pre(cmd) changed(cmd) ", listener.log);
}

TEST_P(MemoryCubeTest, SetsKeepTheirSettingsAndTakeOverOtherSets) {
  NUVA_o::Hierarchy* calendar = hierarchy("[Time].[Calendar]");
  auto_unuse<NUVA_o::MemberSet> source(calendar->getLevel(2)->createMemberSet(NUVA_o::CS_CREATEALL));
  EXPECT_TRUE(source->isRestricted());
  source->setRestricted(false);
  EXPECT_TRUE(source->hasQueryProperty(NUVA_o::UNRESTRICTED));
  source->addQueryProperty(NUVA_o::IS_SORTED_ASCENDING);
  EXPECT_THROW(source->addQueryProperty(18), olap_api::InvalidArgumentException);
  std::vector<NUVA_o::MemberProperty*> properties;
  calendar->getMemberProperties(properties);
  ASSERT_EQ(1u, properties.size());
  source->addMemberProperty(properties[0]);
  source->setMemberSetOrder(3);
  source->setName("months");

  // A historical reference keeps the content of its time.
  auto_unuse<NUVA_o::MemberSet::HistoricalReference> reference(source->getHistoricalReference());
  auto_unuse<NUVA_o::MemberSetCommand> clear(source->createCommand());
  clear->makeEmpty();
  clear->execute();
  EXPECT_EQ(4, reference->getMemberSet()->getServerCount());

  auto_unuse<NUVA_o::MemberSet> target(calendar->createMemberSet(NUVA_o::CS_CREATEALL));
  RecordingSetListener listener;
  target->addMemberSetListener(&listener);
  target->assign(reference->getMemberSet());
  EXPECT_EQ("changed(null) ", listener.log);
  EXPECT_EQ(4, target->getServerCount());
  EXPECT_FALSE(target->isRestricted());
  EXPECT_TRUE(target->hasQueryProperty(NUVA_o::IS_SORTED_ASCENDING));
  ASSERT_EQ(1u, target->getMemberProperties().size());
  EXPECT_EQ(properties[0], target->getMemberProperties()[0]);
  EXPECT_EQ(3, target->getMemberSetOrder());
  target->removeMemberProperty(properties[0]);
  EXPECT_TRUE(target->getMemberProperties().empty());
  target->clearQueryProperties();
  EXPECT_TRUE(target->isRestricted());
  target->removeMemberSetListener(&listener);
}

TEST_P(MemoryCubeTest, PersistedSetsComeBackWithTheSameMembers) {
  NUVA_o::Hierarchy* store = hierarchy("[Store]");
  auto_unuse<NUVA_o::MemberSet> set(store->createMemberSet(NUVA_o::CS_CREATEEMPTY));
  auto_unuse<NUVA_o::MemberSetCommand> add(set->createCommand());
  for (const char* name : {"[Store].[Spain].[Main, Street]", "[Store].[All]", "[Store].[Norway]"}) add->addMember(name);
  add->execute();
  set->setGuid("{00000000-0000-0000-0000-000000000001}");
  set->setName("picked");
  set->setRestricted(false);
  set->setMemberSetOrder(-2);

  XmlSupport xml;
  DOMElement* root = xml.addAChild(nullptr, "Root");
  set->persist(xml, root);
  DOMElement* element = XmlSupport::findChild(root, "Memberset");
  ASSERT_NE(nullptr, element);
  const uint64_t before = m_Cube->getMemberSetsCreated();
  auto_unuse<NUVA_o::MemberSet> restored(store->createMemberSetFromXML(element));
  EXPECT_EQ(before + 1, m_Cube->getMemberSetsCreated());
  EXPECT_EQ(join(members_of(set.get())), join(members_of(restored.get())));
  EXPECT_EQ("[Store].[Spain].[Main, Street], [Store].[All], [Store].[Norway]", join(members_of(restored.get())));
  EXPECT_EQ(TOVAString("picked"), restored->getName());
  EXPECT_EQ(set->getGuid(), restored->getGuid());
  EXPECT_FALSE(restored->isRestricted());
  EXPECT_EQ(-2, restored->getMemberSetOrder());
  EXPECT_EQ(NUVA_o::CS_CREATEEMPTY, restored->getCreationRecord().m_CreateSetAs);

  // Elements this hierarchy cannot read are refused and create nothing.
  EXPECT_THROW(auto_unuse<NUVA_o::MemberSet>(hierarchy("[Time].[Season]")->createMemberSetFromXML(element)),
               olap_api::InvalidArgumentException);
  EXPECT_THROW(auto_unuse<NUVA_o::MemberSet>(store->createMemberSetFromXML(root)), olap_api::InvalidXMLException);
  XmlSupport::write_to(XmlSupport::getFirstChildElement(XmlSupport::findChild(element, "Members")), "UniqueName",
                       "[Store].[Gone]");
  EXPECT_THROW(auto_unuse<NUVA_o::MemberSet>(store->createMemberSetFromXML(element)), olap_api::InvalidXMLException);
  EXPECT_EQ(before + 1, m_Cube->getMemberSetsCreated());
}

TEST_P(MemoryCubeTest, SetsFromBracedListsOfMembers) {
  NUVA_o::Hierarchy* store = hierarchy("[Store]");
  auto_unuse<NUVA_o::MemberSet> set(store->createMemberSetFromExpression(
      " { [Store].[Spain].[Main, Street] ,[store].[norway],[Store].[Norway] } ", "MDX"));
  EXPECT_EQ("[Store].[Spain].[Main, Street], [Store].[Norway]", join(members_of(set.get())));
  EXPECT_EQ(NUVA_o::CS_CREATEFROMEXPRESSION, set->getCreationRecord().m_CreateSetAs);
  EXPECT_EQ(TOVAString("MDX"), set->getCreationRecord().m_ExpressionLanguage);
  auto_unuse<NUVA_o::MemberSet> empty(store->createMemberSetFromExpression("{}", ""));
  EXPECT_EQ(0, empty->getServerCount());
  for (const char* refused : {"[Store].[Spain]", "{[Store].[Spain]", "{[Store].[Spain]} x",
                              "{[Store].[Spain], }", "{[Store].[Spain}", "{[Store].[Peru]}",
                              "Children([Store].[Spain])", ""}) {
    try {
      auto_unuse<NUVA_o::MemberSet> bad(store->createMemberSetFromExpression(refused, "MDX"));
      ADD_FAILURE() << "accepted: " << refused;
    } catch (const olap_api::InvalidExpressionException& e) {
      EXPECT_NE(std::string::npos, e.getMessage().string().find("is not supported")) << e.getMessage().string();
    }
  }
}

class CountingCubeListener : public NUVA_o::Cube::Listener,
                             public NUVA_o::Cube::ConnectionListener,
                             public NUVA_o::Calculation::CalculationEventHandler {
 public:
  NUVA_o::Calculation::CalculationEventHandler* doYouCareAboutThis(NUVA_o::Calculation*) override { return this; }
  void cubeChanged(NUVA_o::CubeEvent*) override {}
  void stopListening() override {}
  bool connectionClosing() override {
    ++closing;
    return true;
  }
  void expressionChanged(const NUVA_o::Calculation* c) override { log += "expr " + c->getExpression().string() + "; "; }
  void calculationRemoved(const NUVA_o::Calculation*) override {}
  void captionChanged(const NUVA_o::Calculation*) override {}
  void finish() override { log += "finish; "; }
  void removeSpecs(const NUVA_o::Calculation*) override {}
  int closing = 0;
  std::string log;
};

TEST_P(MemoryCubeTest, CalculatedMembersRoundTripAndListenersHearOfChanges) {
  CountingCubeListener listener;
  EXPECT_TRUE(m_Cube->addListener(&listener));
  m_Cube->addConnectionListener(&listener);
  XmlSupport xml;
  DOMElement* root = xml.addAChild(nullptr, "CubeView");
  m_Cube->persistCalculatedMembers(xml, root);
  DOMElement* members = XmlSupport::findChild(root, "CalculatedMembers");
  ASSERT_NE(nullptr, members);
  // Change one expression and add a calculation to another hierarchy.
  DOMElement* price = XmlSupport::getFirstChildElement(members)->getNextElementSibling();
  ASSERT_EQ(TOVAString("Price"), XmlSupport::getAttribute(price, "Name"));
  XmlSupport::write_to(price, "Expression", "[Measures].[Revenue]");
  DOMElement* added = xml.addAChild(members, "CalculatedMember");
  XmlSupport::write_to(added, "Hierarchy", "[Time].[Season]");
  XmlSupport::write_to(added, "Name", "Warm");
  XmlSupport::write_to(added, "Expression", "[Time].[Season].[Summer]");
  DOMElement* lost = xml.addAChild(members, "CalculatedMember");
  XmlSupport::write_to(lost, "Hierarchy", "[Nowhere]");
  XmlSupport::write_to(lost, "Name", "X");
  // A new calculated measure joins the measures level; one named like a stored measure does not.
  DOMElement* doubled = xml.addAChild(members, "CalculatedMember");
  XmlSupport::write_to(doubled, "Hierarchy", "[Measures]");
  XmlSupport::write_to(doubled, "Name", "Double");
  XmlSupport::write_to(doubled, "Expression", "2 * [Measures].[Units]");
  DOMElement* shadow = xml.addAChild(members, "CalculatedMember");
  XmlSupport::write_to(shadow, "Hierarchy", "[Measures]");
  XmlSupport::write_to(shadow, "Name", "Units");
  XmlSupport::write_to(shadow, "Expression", "0");

  m_Cube->restoreCalculatedMembers(root);
  EXPECT_EQ("expr [Measures].[Revenue]; finish; ", listener.log);
  std::map<TOVAString, NUVA_o::Calculation*> calculations;
  hierarchy("[Time].[Season]")->getCalculations(calculations);
  ASSERT_EQ(1u, calculations.count("[Time].[Season].[Warm]"));
  TOVAString token;
  EXPECT_EQ(5, m_Cube->classifyName("Warm", token));
  // Regression: the shadowing one became a second member of the same unique name.
  auto_unuse<NUVA_o::MemberSet> level(hierarchy("[Measures]")->getLevel(0)->createMemberSet(NUVA_o::CS_CREATEALL));
  EXPECT_EQ((std::vector<TOVAString>{"[Measures].[Revenue]", "[Measures].[Units]", "[Measures].[Price]",
                                     "[Measures].[Share]", "[Measures].[Double]"}),
            members_of(level.get()));
  auto_unuse<NUVA_o::Member> member(hierarchy("[Measures]")->getDefaultMember());
  EXPECT_EQ(NUVA_o::Member::MT_REGULAR, member->getMemberType());
  member->moveTo("[Measures].[Double]");
  EXPECT_EQ(NUVA_o::Member::MT_FORMULA, member->getMemberType());

  m_Cube->closeConnection();
  EXPECT_EQ(1, listener.closing);
  m_Cube->removeConnectionListener(&listener);
  m_Cube->removeListener(&listener);
  m_Cube->closeConnection();
  EXPECT_EQ(1, listener.closing);
  EXPECT_THROW(m_Cube->executeQuery(nullptr), olap_api::InvalidArgumentException);
}

TEST_P(MemoryCubeTest, TheProviderNameLeadsToTheRegisteredProviderLibrary) {
  TOVAString name;
  m_Cube->getProviderName(name);
  common::ProviderLibrary* library = common::createProviderLibrary(name);
  ASSERT_NE(nullptr, library);
  std::unique_ptr<common::ViewpointBase> companion(library->createDerivedViewpoint(nullptr));
  ASSERT_TRUE(companion);
  EXPECT_FALSE(companion->isQueryTooLarge());
  companion->dirty();
  // A companion without a view has nothing to evaluate.
  EXPECT_THROW(companion->executeQuery(), olap_api::InvalidPointerException);
  EXPECT_EQ(nullptr, library->deserializeSession("session"));
}

INSTANTIATE_TEST_SUITE_P(BuiltAndRead, MemoryCubeTest, ::testing::Values(Source::Builder, Source::File),
                         [](const auto& info) { return info.param == Source::Builder ? "Builder" : "File"; });

}  // namespace
