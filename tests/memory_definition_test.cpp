// Cube definition files and the builder's refusals: the sample cube as shipped, and broken
// definitions and tables that must fail with a message naming the file, the line and the
// problem, leaving nothing behind.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

#include "cube_command.h"
#include "FuzzFileSet.h"
#include "NUVA_o/Cube.h"
#include "VtqTest.h"
#include "provider/memory/MemoryCube.h"
#include "support/Exceptions.h"

namespace {

namespace fs = std::filesystem;

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void write_file(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

void replace(std::string& text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  ASSERT_NE(std::string::npos, at) << from;
  text.replace(at, from.size(), to);
}

class MemoryDefinitionTest : public vtq_testing::VtqTest {
 protected:
  void SetUp() override {
    VtqTest::SetUp();
    m_Dir = fs::path(::testing::TempDir()) /
            ("memory_definition_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(m_Dir);
    fs::create_directories(m_Dir);
    for (const char* name : {"shop.cube.xml", "months.csv", "stores.csv", "facts.csv"})
      fs::copy_file(fs::path(vtq_testing::sourceDir()) / "tests/fixtures/memory" / name, m_Dir / name);
  }
  void TearDown() override {
    fs::remove_all(m_Dir);
    VtqTest::TearDown();
  }

  // Applies `edit` to a copy of the fixture file `name`, loads the cube and returns the
  // message of the exception it must throw.
  template <class Exception = olap_api::ApiException>
  std::string load_failure(const char* name, const std::string& from, const std::string& to) {
    std::string text = read_file(m_Dir / name);
    replace(text, from, to);
    write_file(m_Dir / name, text);
    return load_failure<Exception>();
  }
  template <class Exception = olap_api::ApiException>
  std::string load_failure() {
    try {
      auto_unuse<memory::MemoryCube> cube(memory::loadCube((m_Dir / "shop.cube.xml").string()));
      ADD_FAILURE() << "the broken definition loaded";
    } catch (const Exception& e) {
      return e.getMessage().string();
    }
    return "";
  }
  std::string path(const char* name) const { return (m_Dir / name).string(); }

  fs::path m_Dir;
};

TEST_F(MemoryDefinitionTest, TheSampleCubeHasTheDocumentedShape) {
  auto_unuse<memory::MemoryCube> cube(memory::loadCube(vtq_testing::sampleCubePath()));
  EXPECT_EQ(TOVAString("Sales"), cube->getName());
  EXPECT_GE(cube->getFactCount(), 10000);
  std::string hierarchies;
  for (NUVA_o::Dimension* dimension : cube->getDimensions())
    for (NUVA_o::Hierarchy* hierarchy : dimension->getHierarchies()) {
      long members = 0;
      for (int l = 0; l < hierarchy->getLevelCount(); ++l) members += hierarchy->getLevel(l)->getMemberCount();
      hierarchies += dimension->getUniqueName().string() + " " + hierarchy->getUniqueName().string() + " " +
                     std::to_string(hierarchy->getLevelCount()) + " " + std::to_string(members) + "\n";
    }
  EXPECT_EQ("[Time] [Time].[Calendar] 4 52\n"
            "[Time] [Time].[Fiscal] 4 53\n"
            "[Product] [Product] 4 43\n"
            "[Geography] [Geography] 4 27\n"
            "[Measures] [Measures] 1 5\n",
            hierarchies);
  EXPECT_EQ(TOVAString("[Time].[Calendar]"), cube->getDimensionByName("Time")->getDefaultHierarchy()->getUniqueName());

  auto check_member = [&](const char* hierarchyName, const char* member, const char* caption, int level) {
    auto_unuse<NUVA_o::Hierarchy> hierarchy(cube->getHierarchyByUniqueName(hierarchyName));
    ASSERT_TRUE(hierarchy) << hierarchyName;
    auto_unuse<NUVA_o::Member> m(hierarchy->getDefaultMember());
    m->moveTo(member);
    EXPECT_EQ(0, m->getMemberType()) << member;
    EXPECT_EQ(TOVAString(caption), m->getCaption()) << member;
    EXPECT_EQ(level, m->getLevelNumber()) << member;
  };
  check_member("[Time].[Calendar]", "[Time].[Calendar].[All]", "All", 0);
  check_member("[Time].[Calendar]", "[Time].[Calendar].[2024].[Q1].[Jan]", "Jan", 3);
  check_member("[Time].[Calendar]", "[Time].[Calendar].[2025].[Q4].[Dec]", "Dec", 3);
  check_member("[Time].[Fiscal]", "[Time].[Fiscal].[FY2024].[Q1].[Jul]", "Jul", 3);
  check_member("[Time].[Fiscal]", "[Time].[Fiscal].[FY2024].[Q3].[Jan]", "Jan", 3);
  check_member("[Product]", "[Product].[All]", "All", 0);
  check_member("[Product]", "[Product].[Bikes].[Road]", "Road", 2);
  check_member("[Geography]", "[Geography].[Europe].[France].[Paris]", "Paris", 3);
  check_member("[Measures]", "[Measures].[Quantity]", "Quantity", 0);

  auto_unuse<NUVA_o::Hierarchy> measures(cube->getHierarchyByUniqueName("[Measures]"));
  auto_unuse<NUVA_o::Member> sales(measures->getDefaultMember());
  EXPECT_EQ(TOVAString("[Measures].[Sales]"), sales->getUniqueName());
  auto_unuse<NUVA_o::Hierarchy> product(cube->getHierarchyByUniqueName("[Product]"));
  EXPECT_EQ(TOVAString("[Product].[Category]"), product->getLevel(1)->getUniqueName());
  EXPECT_EQ(TOVAString("[Product].[Item]"), product->getLevel(3)->getUniqueName());
  EXPECT_TRUE(cube->supports(NUVA_o::Cube::SUPPORTS_MULTIPLE_HIERARCHY_QUERY));

  TOVAString token;
  EXPECT_EQ(6, cube->classifyName("Sales", token));
  EXPECT_EQ(4, cube->classifyName("[Product].[Category]", token));
  EXPECT_EQ(8u, cube->classifyBracedName("[Product].[Category]", 0));
  EXPECT_EQ(16u, cube->classifyBracedName("Sales", 0));
}

// The line of the first occurrence of `text` in a fixture file.
int line_of(const fs::path& file, const std::string& text) {
  const std::string content = read_file(file);
  const size_t at = content.find(text);
  EXPECT_NE(std::string::npos, at) << text;
  return 1 + static_cast<int>(std::count(content.begin(), content.begin() + static_cast<long>(at), '\n'));
}

TEST_F(MemoryDefinitionTest, BrokenDefinitionsNameTheFileTheLineAndTheProblem) {
  const std::string cube = path("shop.cube.xml");
  auto at = [&](const char* file, int line) { return path(file) + ", line " + std::to_string(line) + ": "; };

  EXPECT_NE(std::string::npos, load_failure<olap_api::InvalidXMLException>(
                                   "shop.cube.xml", "level=\"Month\"", "level=\"Day\"")
                                   .find(at("shop.cube.xml", line_of(cube, "level=\"Day\"")) +
                                         "unknown level 'Day': the bottom level of dimension 'Time' is 'Month'"));
  SetUp();
  EXPECT_NE(std::string::npos,
            load_failure<olap_api::InvalidXMLException>("shop.cube.xml", "column=\"days\"", "column=\"weekdays\"")
                .find(at("shop.cube.xml", line_of(cube, "weekdays")) + "table '" + path("months.csv") +
                      "' has no column 'weekdays'"));
  SetUp();
  EXPECT_NE(std::string::npos,
            load_failure<olap_api::InvalidXMLException>("shop.cube.xml", "all=\"false\"", "al=\"false\"")
                .find(at("shop.cube.xml", line_of(cube, "al=\"false\"")) +
                      "element 'Hierarchy' has an unknown attribute 'al'"));
  SetUp();
  EXPECT_NE(std::string::npos,
            load_failure<olap_api::InvalidXMLException>("shop.cube.xml", "default=\"true\"/>", "default=\"yes\"/>")
                .find("attribute 'default' must be true or false, not 'yes'"));
  SetUp();
  EXPECT_NE(std::string::npos, load_failure<olap_api::InvalidXMLException>(
                                   "shop.cube.xml", "<Measures>", "<Measures><Bogus/>")
                                   .find("unknown element 'Bogus' in Measures"));
  SetUp();
  EXPECT_NE(std::string::npos,
            load_failure<olap_api::InvalidXMLException>("shop.cube.xml", "<Key dimension=\"Store\" column=\"store\"/>", "")
                .find("Facts has no key of dimension 'Store'"));
  SetUp();
  // Malformed XML: the parser's line comes through.
  const std::string malformed =
      load_failure<olap_api::MalformedXMLException>("shop.cube.xml", "</Measures>", "</Measure>");
  EXPECT_NE(std::string::npos, malformed.find(at("shop.cube.xml", line_of(cube, "</Measure>")))) << malformed;
  SetUp();
  EXPECT_NE(std::string::npos,
            load_failure<olap_api::InvalidArgumentException>("shop.cube.xml", "stores.csv", "nostores.csv")
                .find(path("nostores.csv") + ", line 0: cannot open the file"));
}

TEST_F(MemoryDefinitionTest, BrokenTablesNameTheRecordsLine) {
  auto at = [&](const char* file, int line) { return path(file) + ", line " + std::to_string(line) + ": "; };
  EXPECT_NE(std::string::npos, load_failure<olap_api::InvalidArgumentException>("facts.csv", "12.25", "12.x5")
                                   .find(at("facts.csv", 4) + "'12.x5' in column 'revenue' is not a number"));
  SetUp();
  EXPECT_NE(std::string::npos, load_failure<olap_api::InvalidArgumentException>("facts.csv", "2025-01,South", "2025-01,West")
                                   .find(at("facts.csv", 6) + "unknown Store 'West' in column 'store'"));
  SetUp();
  EXPECT_NE(std::string::npos, load_failure<olap_api::InvalidArgumentException>("stores.csv", "South,Spain", "South")
                                   .find(at("stores.csv", 3) + "the record has 1 fields; the header has 2"));
  SetUp();
  EXPECT_NE(std::string::npos, load_failure<olap_api::InvalidArgumentException>("stores.csv", "\"Main, Street\"", "\"Main, Street")
                                   .find(at("stores.csv", 4) + "a quoted field is not closed"));
  SetUp();
  EXPECT_NE(std::string::npos,
            load_failure<olap_api::InvalidArgumentException>("months.csv", "2025-01,2025", "2024-01,2025")
                .find(at("months.csv", 5) + "Invalid cube: key '2024-01' is placed twice in hierarchy '[Time].[Calendar]'"));
  SetUp();
  EXPECT_NE(std::string::npos, load_failure<olap_api::InvalidArgumentException>("months.csv", "2024-07,2024,Jul", "2024-07,,Jul")
                                   .find(at("months.csv", 4) + "column 'year' of level 'Year' is empty"));
}

// Tables read alike whatever their records hold and however their lines end: records without a
// quote are split a word at a time, the others by the general reading, and the two meet at
// every record boundary (blank lines, a quoted field spanning lines, a quote inside a field,
// fields longer than a word, a last record without a line end).
TEST_F(MemoryDefinitionTest, EveryRecordFormReadsAlikeWithEveryLineEnd) {
  const std::string definition =
      "<Cube name='Forms'><Dimension name='D' table='d.csv' key='k'><Hierarchy name='D'>"
      "<Level name='Name' column='name'/></Hierarchy></Dimension><Measures><Measure name='M' "
      "column='m'/></Measures><Facts table='f.csv'><Key dimension='D' column='k'/></Facts></Cube>";
  for (const std::string eol : {"\n", "\r\n", "\r"}) {
    const std::string table = "k,name" + eol + "k1,Plain" + eol + "k2,\"Quoted, with comma\"" + eol +
                              "k3,\"Doubled \"\"quote\"\"\"" + eol + eol + "k4,Mid\"quote" + eol +
                              "k5,\"Two" + eol + "lines\"" + eol + "k6,A name longer than two words" + eol +
                              "k7,Last";
    std::string facts = "k,m" + eol;
    for (int i = 1; i <= 7; ++i) facts += "k" + std::to_string(i) + "," + std::to_string(i) + eol + (i == 3 ? eol : "");
    memory::FileSet files{{"/t/c.cube.xml", definition}, {"/t/d.csv", table}, {"/t/f.csv", facts}};
    auto_unuse<memory::MemoryCube> cube(memory::loadCube("/t/c.cube.xml", files));
    EXPECT_EQ(7, cube->getFactCount());
    NUVA_o::Level* level = cube->getDimensionByName("D")->getDefaultHierarchy()->getLevel(1);
    auto_unuse<NUVA_o::MemberSet> set(level->createMemberSet(NUVA_o::CS_CREATEALL));
    std::string names;
    for (const TOVAString& name : memory::memberUniqueNames(set.get())) names += name.string() + "|";
    EXPECT_EQ("[D].[Plain]|[D].[Quoted, with comma]|[D].[Doubled \"quote\"]|[D].[Mid\"quote]|[D].[Two" + eol +
                  "lines]|[D].[A name longer than two words]|[D].[Last]|",
              names);

    // Errors name the record's own line, counted across blank lines and the two-line field.
    std::string badTable = table;
    replace(badTable, "k6,A name", "k6,,A name");
    files["/t/d.csv"] = badTable;
    try {
      auto_unuse<memory::MemoryCube> broken(memory::loadCube("/t/c.cube.xml", files));
      ADD_FAILURE() << "loaded a record of three fields";
    } catch (const olap_api::InvalidArgumentException& e) {
      EXPECT_EQ("/t/d.csv, line 9: the record has 3 fields; the header has 2", e.getMessage().string());
    }
    files["/t/d.csv"] = table;
    std::string badFacts = facts;
    replace(badFacts, "k6,6", "k6,6x");
    files["/t/f.csv"] = badFacts;
    try {
      auto_unuse<memory::MemoryCube> broken(memory::loadCube("/t/c.cube.xml", files));
      ADD_FAILURE() << "loaded a value that is no number";
    } catch (const olap_api::InvalidArgumentException& e) {
      EXPECT_EQ("/t/f.csv, line 8: '6x' in column 'm' is not a number", e.getMessage().string());
    }
  }
}

// Each case once loaded silently, merged different data or read the wrong bytes.
TEST_F(MemoryDefinitionTest, HostileTablesFailNamingTheFileTheLineAndTheProblem) {
  auto at = [&](const char* file, int line) { return path(file) + ", line " + std::to_string(line) + ": "; };
  // Latin-1 bytes: two stores that differ only in a non-UTF-8 byte must not merge as U+FFFD.
  std::string stores = read_file(m_Dir / "stores.csv");
  replace(stores, "South,Spain", "South,Espa\xF1" "a");
  write_file(m_Dir / "stores.csv", stores);
  EXPECT_NE(std::string::npos,
            load_failure<olap_api::InvalidArgumentException>().find(
                at("stores.csv", 3) + "the text is not valid UTF-8 (byte offset " +
                std::to_string(stores.find("Espa") + 4) + ")"));
  SetUp();
  // A byte order mark is skipped; a UTF-16 table is refused by name.
  write_file(m_Dir / "stores.csv", "\xEF\xBB\xBF" + read_file(m_Dir / "stores.csv"));
  auto_unuse<memory::MemoryCube>(memory::loadCube(path("shop.cube.xml")));
  write_file(m_Dir / "stores.csv", std::string("\xFF\xFEs\0t\0", 6));
  EXPECT_NE(std::string::npos, load_failure<olap_api::InvalidArgumentException>().find(
                                   at("stores.csv", 1) + "UTF-16 is not supported, save as UTF-8"));
  SetUp();
  // Numbers: one strict reading, the same as the library's own.
  for (const char* bad : {"+-12.25", "12.2.5", "0x10", "1e", "nan", "inf", "12,25"}) {
    std::string facts = read_file(m_Dir / "facts.csv");
    replace(facts, "\"Main, Street\",12.25", std::string("\"Main, Street\",\"") + bad + "\"");
    write_file(m_Dir / "facts.csv", facts);
    EXPECT_NE(std::string::npos, load_failure<olap_api::InvalidArgumentException>().find(at("facts.csv", 4)))
        << bad;
    SetUp();
  }
  // Lines end in CR alone: errors still name the record's own line.
  std::string months = read_file(m_Dir / "months.csv");
  std::replace(months.begin(), months.end(), '\n', '\r');
  replace(months, "2024-07,2024,Jul", "2024-07,,Jul");
  write_file(m_Dir / "months.csv", months);
  EXPECT_NE(std::string::npos, load_failure<olap_api::InvalidArgumentException>().find(
                                   at("months.csv", 4) + "column 'year' of level 'Year' is empty"));
  SetUp();
  // One member, two values of one property (or caption): the last row used to win.
  months = read_file(m_Dir / "months.csv");
  replace(months, "2025-01,2025,Jan,January", "2025-01,2025,Jan,Janvier");
  write_file(m_Dir / "months.csv", months);
  EXPECT_NE(std::string::npos,
            load_failure<olap_api::InvalidArgumentException>().find(
                at("months.csv", 5) + "member '[Time].[Season].[Winter].[Jan]' has the caption 'Janvier' here but "
                                      "'January' on line 2"));
  SetUp();
  months = read_file(m_Dir / "months.csv");
  replace(months, "2024-02,2024,Feb,February,Winter,29", "2024-02,2024,Feb,February,Winter,29\n2024-03,2024,Feb,February,Winter,28");
  write_file(m_Dir / "months.csv", months);
  EXPECT_NE(std::string::npos,
            load_failure<olap_api::InvalidArgumentException>().find(
                at("months.csv", 4) + "member '[Time].[Calendar].[2024].[Feb]' has property 'Days' '28' here but "
                                      "'29' on line 3"));
  SetUp();
  // A table of only a header: the hierarchy is named, not the cube.
  write_file(m_Dir / "stores.csv", "store,country\n");
  EXPECT_NE(std::string::npos, load_failure<olap_api::InvalidXMLException>().find(
                                   at("shop.cube.xml", line_of(m_Dir / "shop.cube.xml", "<Hierarchy name=\"Store\">")) +
                                   "hierarchy 'Store' has no members"));
}

TEST_F(MemoryDefinitionTest, TablesAndDefinitionsMustBeBoundedRegularFiles) {
  const std::string cube = read_file(m_Dir / "shop.cube.xml");
  auto with_table = [&](const std::string& table) {
    std::string text = cube;
    replace(text, "table=\"stores.csv\"", "table=\"" + table + "\"");
    write_file(m_Dir / "shop.cube.xml", text);
    return load_failure<olap_api::InvalidArgumentException>();
  };
  fs::create_directory(m_Dir / "adir");
  EXPECT_NE(std::string::npos, with_table("adir").find("a table must be a regular file; this is a directory"));
  EXPECT_NE(std::string::npos,
            with_table("/dev/zero").find("/dev/zero, line 0: a table must be a regular file; this is a character device"));
  ASSERT_EQ(0, mkfifo((m_Dir / "fifo").c_str(), 0600));
  EXPECT_NE(std::string::npos, with_table("fifo").find("this is a FIFO"));
  // A sparse file just above the limit: refused before anything is read.
  {
    std::ofstream big(m_Dir / "big.csv", std::ios::binary);
  }
  fs::resize_file(m_Dir / "big.csv", memory::kMaxTableBytes + 1);
  EXPECT_NE(std::string::npos, with_table("big.csv").find("the file is larger than 1073741824 bytes, the limit for a table"));
  write_file(m_Dir / "shop.cube.xml", cube);

  auto definition_failure = [&](const fs::path& file) {
    try {
      auto_unuse<memory::MemoryCube> loaded(memory::loadCube(file.string()));
      ADD_FAILURE() << file << " loaded";
    } catch (const olap_api::ApiException& e) {
      return e.getMessage().string();
    }
    return std::string();
  };
  EXPECT_NE(std::string::npos, definition_failure(m_Dir).find("a cube definition must be a regular file; this is a directory"));
  fs::resize_file(m_Dir / "big.csv", memory::kMaxDefinitionBytes + 1);
  EXPECT_NE(std::string::npos, definition_failure(m_Dir / "big.csv").find("the limit for a cube definition"));
}

TEST_F(MemoryDefinitionTest, DefinitionsAreReadInTheirDeclaredEncoding) {
  const std::string sample = vtq_testing::sourceDir() + "/examples/sales/";
  const fs::path dir = m_Dir / "sales";
  fs::create_directory(dir);
  for (const char* table : {"months.csv", "products.csv", "cities.csv", "facts.csv"})
    fs::copy_file(sample + table, dir / table);
  auto shape = [](memory::MemoryCube* cube) {
    std::string text;
    for (NUVA_o::Dimension* dimension : cube->getDimensions())
      for (NUVA_o::Hierarchy* hierarchy : dimension->getHierarchies())
        text += hierarchy->getUniqueName().string() + " " + std::to_string(hierarchy->getLevelCount()) + "\n";
    return text;
  };
  const std::string original = read_file(sample + "sales.cube.xml");
  auto_unuse<memory::MemoryCube> plain(memory::loadCube(sample + "sales.cube.xml"));

  // A byte order mark used to make the document malformed at line 1, column 1.
  write_file(dir / "bom.cube.xml", "\xEF\xBB\xBF" + original);
  auto_unuse<memory::MemoryCube> bom(memory::loadCube((dir / "bom.cube.xml").string()));
  EXPECT_EQ(shape(plain.get()), shape(bom.get()));

  // Latin-1 bytes under their declaration are read as Latin-1 ...
  std::string latin = original;
  replace(latin, "encoding=\"UTF-8\"", "encoding=\"ISO-8859-1\"");
  replace(latin, "<Dimension name=\"Product\"", "<Dimension name=\"Caf\xE9\"");
  replace(latin, "dimension=\"Product\"", "dimension=\"Caf\xE9\"");
  replace(latin, "hierarchy=\"[Product]\"", "hierarchy=\"[Caf\xE9].[Product]\"");
  replace(latin, "default=\"[Product].[Bikes]\"", "default=\"[Caf\xE9].[Product].[Bikes]\"");
  write_file(dir / "latin.cube.xml", latin);
  auto_unuse<memory::MemoryCube> cafe(memory::loadCube((dir / "latin.cube.xml").string()));
  ASSERT_NE(nullptr, cafe->getDimensionByName(TOVAString(u"Caf\u00E9")));
  EXPECT_EQ(TOVAString(u"[Caf\u00E9]"), cafe->getDimensionByName(TOVAString(u"Caf\u00E9"))->getUniqueName());

  // ... and without it they are not UTF-8: malformed, at the line of the bad byte.
  std::string undeclared = latin;
  replace(undeclared, "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n", "");
  write_file(m_Dir / "shop.cube.xml", undeclared);
  const std::string message = load_failure<olap_api::MalformedXMLException>();
  EXPECT_NE(std::string::npos,
            message.find(path("shop.cube.xml") + ", line " + std::to_string(line_of(m_Dir / "shop.cube.xml", "Caf")) +
                         ": malformed XML: the text is not valid UTF-8 (byte offset " +
                         std::to_string(undeclared.find("Caf") + 3) + ")"))
      << message;
  write_file(m_Dir / "shop.cube.xml", std::string("\xFF\xFE<\0C\0", 6));
  EXPECT_NE(std::string::npos, load_failure().find("UTF-16 is not supported, save as UTF-8"));
}

TEST_F(MemoryDefinitionTest, NumericAttributesAndCalculationsAreCheckedWhenLoaded) {
  // Values out of int's range were converted without a check (undefined behaviour).
  for (const char* size : {"2147483648", "1e10", "1e300", "-2", "2.5", "+-1", "big"}) {
    EXPECT_NE(std::string::npos,
              load_failure<olap_api::InvalidXMLException>("shop.cube.xml", "stringColumnDisplaySize=\"20\"",
                                                          std::string("stringColumnDisplaySize=\"") + size + "\"")
                  .find(path("shop.cube.xml") + ", line 4: attribute 'stringColumnDisplaySize' must be a whole "
                                                "number from -1 to 2147483647, not '" + size + "'"))
        << size;
    SetUp();
  }
  EXPECT_EQ(2147483647, [&] {
    std::string text = read_file(m_Dir / "shop.cube.xml");
    replace(text, "stringColumnDisplaySize=\"20\"", "stringColumnDisplaySize=\"2147483647\"");
    write_file(m_Dir / "shop.cube.xml", text);
    auto_unuse<memory::MemoryCube> cube(memory::loadCube(path("shop.cube.xml")));
    return cube->getStringColumnDisplaySize();
  }());
  SetUp();

  // Broken calculations loaded silently and failed only when a view used them.
  const std::string cube = path("shop.cube.xml");
  for (const char* expression : {"((( [Measures", "[Measures].[Nope] * 2"}) {
    const std::string message = load_failure<olap_api::InvalidXMLException>(
        "shop.cube.xml", "expression=\"[Measures].[Revenue] / 100\"", std::string("expression=\"") + expression + "\"");
    EXPECT_NE(std::string::npos,
              message.find(cube + ", line " + std::to_string(line_of(m_Dir / "shop.cube.xml", "name=\"Share\"")) +
                           ": the expression of calculation 'Share' does not parse: "))
        << message;
    EXPECT_NE(std::string::npos, message.find("Unknown name")) << message;
    SetUp();
  }
  // A calculation may name another one.
  std::string text = read_file(m_Dir / "shop.cube.xml");
  replace(text, "expression=\"[Measures].[Revenue] / 100\"", "expression=\"[Measures].[Price] * 2\"");
  write_file(m_Dir / "shop.cube.xml", text);
  auto_unuse<memory::MemoryCube>(memory::loadCube(path("shop.cube.xml")));
}

// The fuzz target's seeds and the inputs it once failed on, replayed as it feeds them: each
// loads and prints, or fails with the library's exception.
TEST_F(MemoryDefinitionTest, FuzzRegressionInputs) {
  int loaded = 0;
  for (const auto& entry : fs::directory_iterator(fs::path(vtq_testing::sourceDir()) / "fuzz/corpus/cube_definition")) {
    const memory::FileSet files = vtq_testing::fileSetFromText(read_file(entry.path()));
    try {
      auto_unuse<memory::MemoryCube> cube(memory::loadCube(vtq_testing::kFuzzDefinitionPath, files));
      std::ostringstream out;
      vtq::printCube(cube.get(), out);
      EXPECT_FALSE(out.str().empty()) << entry.path();
      ++loaded;
    } catch (const olap_api::ApiException&) {
    }
  }
  EXPECT_GE(loaded, 2) << "the seeds must load";
}

// The same definition from the disk and from memory: one reader, the same cube.
TEST_F(MemoryDefinitionTest, AFileSetLoadsLikeTheDisk) {
  memory::FileSet files;
  for (const char* name : {"shop.cube.xml", "months.csv", "stores.csv", "facts.csv"})
    files[path(name)] = read_file(m_Dir / name);
  auto text = [](memory::MemoryCube* cube) {
    std::ostringstream out;
    vtq::printCube(cube, out);
    return out.str() + std::to_string(cube->getFactCount());
  };
  auto_unuse<memory::MemoryCube> fromDisk(memory::loadCube(path("shop.cube.xml")));
  auto_unuse<memory::MemoryCube> fromMemory(memory::loadCube(path("shop.cube.xml"), files));
  EXPECT_EQ(text(fromDisk.get()), text(fromMemory.get()));
  files.erase(path("stores.csv"));
  try {
    auto_unuse<memory::MemoryCube> cube(memory::loadCube(path("shop.cube.xml"), files));
    ADD_FAILURE() << "loaded without its table";
  } catch (const olap_api::InvalidArgumentException& e) {
    EXPECT_EQ(path("stores.csv") + ", line 0: cannot open the file (no such file in the file set)", e.getMessage().string());
  }
}

TEST_F(MemoryDefinitionTest, TheBuilderRefusesBrokenCubesAndStaysUsable) {
  memory::CubeBuilder b("Tiny");
  b.addDimension("Place");
  EXPECT_THROW(b.addDimension("Place"), olap_api::InvalidArgumentException);
  EXPECT_THROW(b.addDimension("Measures"), olap_api::InvalidArgumentException);
  EXPECT_THROW(b.addHierarchy("Nowhere", "H", {"L"}), olap_api::InvalidArgumentException);
  EXPECT_THROW(b.addHierarchy("Place", "Place", {}), olap_api::InvalidArgumentException);
  EXPECT_THROW(b.addHierarchy("Place", "Place", {"A", "A"}), olap_api::InvalidArgumentException);
  EXPECT_EQ(TOVAString("[Place]"), b.addHierarchy("Place", "Place", {"Country", "City"}));
  EXPECT_EQ(TOVAString("[Place].[Flat]"), b.addHierarchy("Place", "Flat", {"City"}, true, false));
  EXPECT_THROW(b.addHierarchy("Place", "Other", {"City"}, true), olap_api::InvalidArgumentException);
  b.addPath("[Place]", "oslo", {"Norway", "Oslo"});
  b.addPath("[Place].[Flat]", "oslo", {"Oslo"});
  b.addPath("[Place]", "bergen", {"Norway", "Bergen"});
  EXPECT_THROW(b.addPath("[Place]", "oslo", {"Norway", "Oslo"}), olap_api::InvalidArgumentException);
  EXPECT_THROW(b.addPath("[Place]", "tromso", {"Tromso"}), olap_api::InvalidArgumentException);
  EXPECT_THROW(b.addPath("[Place]", "x", {"All", "X"}), olap_api::InvalidArgumentException);
  EXPECT_THROW(b.addPath("[Place]", "", {"Norway", "Nowhere"}), olap_api::InvalidArgumentException);
  EXPECT_EQ(-1, b.leafIndex("Place", "tromso")) << "a refused path left a key behind";
  EXPECT_EQ(1, b.leafIndex("Place", "bergen"));
  EXPECT_THROW(b.setCaption("[Place].[Sweden]", "S"), olap_api::InvalidArgumentException);
  EXPECT_THROW(b.setMemberProperty("[Place].[Norway]", "Size", "1"), olap_api::InvalidArgumentException);
  EXPECT_THROW(b.setDefaultMember("[Place]", "[Place].[Sweden]"), olap_api::InvalidArgumentException);
  b.addMeasure("Count");
  EXPECT_THROW(b.addMeasure("Count"), olap_api::InvalidArgumentException);
  b.addMeasure("Weight", true);
  EXPECT_THROW(b.addMeasure("Size", true), olap_api::InvalidArgumentException);
  EXPECT_THROW(b.addFact(std::vector<TOVAString>{"tromso"}, {1, 2}), olap_api::InvalidArgumentException);
  EXPECT_THROW(b.addFact(std::vector<TOVAString>{"oslo"}, {1}), olap_api::InvalidArgumentException);
  EXPECT_THROW(b.addFact(std::vector<int32_t>{7}, {1, 2}), olap_api::InvalidArgumentException);
  b.addFact(std::vector<TOVAString>{"oslo"}, {1, 2});
  EXPECT_THROW(b.addMeasure("Late"), olap_api::InvalidArgumentException);
  EXPECT_THROW(b.addDimension("Late"), olap_api::InvalidArgumentException);
  // The flat hierarchy does not place "bergen" yet.
  try {
    auto_unuse<memory::MemoryCube> cube(b.build());
    ADD_FAILURE() << "built a cube with an unplaced key";
  } catch (const olap_api::InvalidArgumentException& e) {
    EXPECT_EQ("Invalid cube: hierarchy '[Place].[Flat]' does not place key 'bergen' of dimension 'Place'",
              e.getMessage().string());
  }
  b.addPath("[Place].[Flat]", "bergen", {"Bergen"});
  auto_unuse<memory::MemoryCube> cube(b.build());
  EXPECT_EQ(1, cube->getFactCount());
  EXPECT_EQ(TOVAString("[Place].[Flat]"), cube->getDimensionByName("Place")->getDefaultHierarchy()->getUniqueName());
  auto_unuse<NUVA_o::Hierarchy> measures(cube->getHierarchyByUniqueName("[Measures]"));
  auto_unuse<NUVA_o::Member> weight(measures->getDefaultMember());
  EXPECT_EQ(TOVAString("[Measures].[Weight]"), weight->getUniqueName());
}

}  // namespace
