// The provider over a server: SQL text that carries any bytes safely, answers read in pieces,
// grid queries equal to SQLite's sums on one server and on the two-shard cluster, and errors
// that name the server but never the password, after which the cube keeps working.
// The tests that need servers expect the ones the ctest fixture starts (tests/clickhouse/);
// without the server packages they are skipped.

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "SampleOracle.h"
#include "VtqTest.h"
#include "olap_api/Exceptions.h"
#include "provider/clickhouse/ClickHouse.h"
#include "provider/memory/MemoryCube.h"
#include "provider/memory/MemoryQuery.h"
#include "result_grid.h"

namespace {

using clickhouse::ServerConnection;
using clickhouse::ServerSettings;
using memory::GridAxis;
using memory::GridCoordinate;
using memory::GridQuery;

bool servers_installed() {
  return std::system("command -v clickhouse-server > /dev/null 2>&1") == 0;
}

#define REQUIRE_SERVERS() \
  if (!servers_installed()) GTEST_SKIP() << "clickhouse-server is not installed: skipped"

ServerConnection server(long timeoutMs = 30000, const std::string& url = "http://127.0.0.1:8123") {
  ServerSettings settings;
  settings.url = url;
  settings.database = "vtq_sales";
  settings.timeoutMs = timeoutMs;
  settings.connectTimeoutMs = 1000;
  return ServerConnection(settings);
}

std::vector<std::vector<std::string>> select(const ServerConnection& connection,
                                             const std::string& sql) {
  std::vector<std::vector<std::string>> rows;
  connection.select(
      sql, "a test", nullptr, [&](const std::vector<std::string>& f) { rows.push_back(f); },
      nullptr);
  return rows;
}

std::string cluster_definition() {
  const char* dir = std::getenv("VTQ_CLICKHOUSE_DIR");
  return std::string(dir ? dir : "/tmp/vtq-clickhouse") + "/sales.cluster.xml";
}

uint32_t code_of(const std::function<void()>& run) {
  try {
    run();
  } catch (const olap_api::ApiException& e) {
    return e.getCode();
  }
  return 0;
}

std::string message_of(const std::function<void()>& run) {
  try {
    run();
  } catch (const olap_api::ApiException& e) {
    return e.getMessage().string();
  }
  return "";
}

const std::string kNasty[] = {std::string("O'Brien"),
                              std::string("back\\slash\\"),
                              std::string("nul\0byte", 8),
                              std::string("two\nlines\r\n"),
                              std::string("tab\there"),
                              std::string("\xE2\x82\xAC \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x9A\xB2"),
                              std::string("\x01\x1F\x7F"),
                              std::string("') OR 1=1 --"),
                              std::string("\\'"),
                              std::string()};

TEST(ClickHouseSqlTest, LiteralsCarryEveryByteAndIdentifiersArePlainNames) {
  for (const std::string& text : kNasty) {
    const std::string literal = clickhouse::quoteLiteral(text);
    // Only the enclosing quotes are bare; no raw control byte reaches the statement.
    EXPECT_EQ(std::string::npos,
              literal.substr(1, literal.size() - 2).find_first_of(std::string("\n\r\0", 3)));
    std::string back;
    ASSERT_TRUE(clickhouse::unquoteLiteral(literal, back)) << literal;
    EXPECT_EQ(text, back);
  }
  // The fuzz target's seeds and past findings, through the same round trip.
  for (const auto& entry :
       std::filesystem::directory_iterator(vtq_testing::sourceDir() + "/fuzz/corpus/sql_literal")) {
    std::ifstream file(entry.path(), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)),
                            std::istreambuf_iterator<char>());
    std::string back;
    EXPECT_TRUE(clickhouse::unquoteLiteral(clickhouse::quoteLiteral(bytes), back) && back == bytes)
        << entry.path();
  }
  std::string ignored;
  for (const char* bad : {"'a'b'", "'a\\'", "a", "'", "'\\q'", "'\\x41'", "'\n'"})
    EXPECT_FALSE(clickhouse::unquoteLiteral(bad, ignored)) << bad;

  EXPECT_EQ("`facts_2024`", clickhouse::quoteIdentifier("facts_2024"));
  for (const char* bad : {"", "1facts", "facts; DROP TABLE x", "fa`cts", "f.acts", "caf\xC3\xA9"})
    EXPECT_EQ(clickhouse::CLICKHOUSE_E_IDENTIFIER,
              code_of([&] { clickhouse::quoteIdentifier(bad); }))
        << bad;
}

TEST(ClickHouseSqlTest, TabSeparatedAnswersReadByteByByteAndRefuseBrokenRecords) {
  std::vector<std::vector<std::string>> rows;
  clickhouse::TabSeparatedReader reader(
      [&](const std::vector<std::string>& f) { rows.push_back(f); });
  const std::string text =
      "a\tb\nString\tNullable(String)\nx\\ty\t\\N\nline\\nbreak\tback\\\\slash\\0\n";
  for (char c : text) ASSERT_TRUE(reader.feed(std::string_view(&c, 1))) << reader.problem();
  ASSERT_TRUE(reader.finish());
  EXPECT_EQ((std::vector<std::string>{"a", "b"}), reader.names());
  EXPECT_EQ((std::vector<std::string>{"String", "Nullable(String)"}), reader.types());
  ASSERT_EQ(2u, rows.size());
  EXPECT_EQ((std::vector<std::string>{"x\ty", ""}), rows[0]);
  EXPECT_EQ((std::vector<std::string>{"line\nbreak", std::string("back\\slash\0", 11)}), rows[1]);

  clickhouse::TabSeparatedReader extra([](const std::vector<std::string>&) {});
  EXPECT_FALSE(extra.feed("a\nString\nx\ty\n"));
  EXPECT_NE(std::string::npos, extra.problem().find("2 fields for 1 columns"));
  clickhouse::TabSeparatedReader cut([](const std::vector<std::string>&) {});
  EXPECT_TRUE(cut.feed("a\nString\nhalf a rec"));
  EXPECT_FALSE(cut.finish());
  clickhouse::TabSeparatedReader escape([](const std::vector<std::string>&) {});
  EXPECT_FALSE(escape.feed("a\nString\n\\q\n"));
}

// A server on a loopback port of its own that answers one request with `answer`, bytes as
// given, and closes the connection.
class OneShotServer {
 public:
  explicit OneShotServer(std::string answer) {
    m_Socket = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(m_Socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(m_Socket, 1) != 0 ||
        getsockname(m_Socket, reinterpret_cast<sockaddr*>(&address), &length) != 0)
      ADD_FAILURE() << "no loopback socket";
    m_Port = ntohs(address.sin_port);
    m_Thread = std::thread([this, answer = std::move(answer)] {
      const int client = accept(m_Socket, nullptr, nullptr);
      if (client < 0) return;
      // The whole request: headers, then the statement (curl sends no more than it announces).
      std::string request;
      char buffer[4096];
      while (request.find("FORMAT TabSeparatedWithNamesAndTypes") == std::string::npos) {
        const ssize_t n = read(client, buffer, sizeof buffer);
        if (n <= 0) break;
        request.append(buffer, static_cast<size_t>(n));
      }
      if (write(client, answer.data(), answer.size()) < 0) ADD_FAILURE() << "write";
      close(client);
    });
  }
  ~OneShotServer() {
    shutdown(m_Socket, SHUT_RDWR);
    m_Thread.join();
    close(m_Socket);
  }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(m_Port); }

 private:
  int m_Socket = -1;
  int m_Port = 0;
  std::thread m_Thread;
};

std::string http(const std::string& status, const std::string& body, size_t announced = 0) {
  return "HTTP/1.1 " + status +
         "\r\nContent-Length: " + std::to_string(announced ? announced : body.size()) +
         "\r\nConnection: close\r\n\r\n" + body;
}

// The code and message of the error that a select against a server answering `response` throws.
std::pair<uint32_t, std::string> failure_of(const std::string& response, int& records) {
  OneShotServer fake(response);
  try {
    server(2000, fake.url())
        .select(
            "SELECT 1", "a test against a fake", nullptr, [&](const auto&) { ++records; }, nullptr);
  } catch (const olap_api::ApiException& e) {
    return {e.getCode(), e.getMessage().string()};
  }
  return {0, ""};
}

TEST(ClickHouseSqlTest, BrokenAnswersAreCodedErrorsNamingTheServer) {
  int records = 0;
  // Closed in the middle of the answer: fewer bytes than announced.
  const auto cut = failure_of(http("200 OK", "x\nUInt8\n1\n", 100), records);
  EXPECT_EQ(clickhouse::CLICKHOUSE_E_BAD_RESPONSE, cut.first);
  EXPECT_NE(std::string::npos, cut.second.find("closed in the middle of the answer")) << cut.second;
  EXPECT_NE(std::string::npos, cut.second.find("http://127.0.0.1:")) << cut.second;
  EXPECT_NE(std::string::npos, cut.second.find("a test against a fake")) << cut.second;

  // A server error: its first line, code and all, without what follows.
  const auto refused =
      failure_of(http("500 Internal Server Error",
                      "Code: 241, e.displayText() = DB::Exception: Memory limit\nstack\n"),
                 records);
  EXPECT_EQ(clickhouse::CLICKHOUSE_E_SERVER_ERROR, refused.first);
  EXPECT_NE(
      std::string::npos,
      refused.second.find("(HTTP 500): Code: 241, e.displayText() = DB::Exception: Memory limit"))
      << refused.second;
  EXPECT_EQ(std::string::npos, refused.second.find("stack"));

  // Records of another width than the names line (never handed on), and an answer without its
  // types line. Records that arrived before a failure may have been handed on: callers drop
  // what they built from them.
  records = 0;
  const auto ragged = failure_of(http("200 OK", "a\tb\nUInt8\tUInt8\n1\n"), records);
  EXPECT_EQ(clickhouse::CLICKHOUSE_E_BAD_RESPONSE, ragged.first);
  EXPECT_NE(std::string::npos, ragged.second.find("record 1 has 1 fields for 2 columns"))
      << ragged.second;
  EXPECT_EQ(clickhouse::CLICKHOUSE_E_BAD_RESPONSE,
            failure_of(http("200 OK", "a\n"), records).first);
  EXPECT_EQ(0, records);
}

TEST(ClickHouseServerTest, TheServerParsesEveryLiteralBackToItsBytes) {
  REQUIRE_SERVERS();
  const ServerConnection connection = server();
  for (const std::string& text : kNasty) {
    const auto rows = select(connection, "SELECT " + clickhouse::quoteLiteral(text) + " AS s");
    ASSERT_EQ(1u, rows.size());
    EXPECT_EQ(text, rows[0][0]);
  }
}

class ClickHouseOracleTest : public vtq_testing::VtqTest,
                             public ::testing::WithParamInterface<std::string> {
 protected:
  std::string path() const {
    if (GetParam() == "memory") return vtq_testing::sampleCubePath();
    if (GetParam() == "single")
      return vtq_testing::sourceDir() + "/examples/sales/sales.clickhouse.xml";
    return cluster_definition();
  }
};

// The grid as "row|column=value" lines, empty cells left out.
std::map<std::string, double> cells_of(memory::MemoryCube* cube, const GridQuery& query) {
  auto_unuse<memory::MemoryResultSet> result(memory::executeGridQuery(cube, query));
  const vtq::ResultGrid grid = vtq::readResultGrid(result.get());
  std::map<std::string, double> out;
  for (size_t r = 0; r < grid.rowCaptions.size(); ++r)
    for (size_t c = 0; c < grid.columnHeaders.size(); ++c) {
      const auto& cell = grid.cells[r * grid.columnHeaders.size() + c];
      if (cell) out[grid.rowCaptions[r].back() + "|" + grid.columnHeaders[c]] = *cell;
    }
  return out;
}

void expect_same(const std::map<std::string, double>& expected,
                 const std::map<std::string, double>& actual) {
  ASSERT_EQ(expected.size(), actual.size());
  for (const auto& [key, value] : expected) {
    auto it = actual.find(key);
    ASSERT_NE(actual.end(), it) << key;
    EXPECT_NEAR(value, it->second, 1e-9 * std::max(1.0, std::fabs(value))) << key;
  }
}

const char* const kJoined =
    " FROM facts f JOIN products p ON p.item = f.item JOIN cities c ON c.city = f.city"
    " JOIN months m ON m.month = f.month";

std::map<std::string, double> oracle(const std::string& sql) {
  std::map<std::string, double> out;
  for (const auto& row : vtq_testing::SampleOracle::get().rows(sql))
    out[row[0] + "|" + row[1]] = std::stod(row[2]);
  return out;
}

TEST_P(ClickHouseOracleTest, GridSumsEqualSqliteOverTheCsvFiles) {
  if (GetParam() != "memory") REQUIRE_SERVERS();
  auto_unuse<memory::MemoryCube> cube(memory::loadCube(path()));
  EXPECT_EQ(10740, cube->getFactCount());

  // Categories by year, Sales by default.
  GridQuery query;
  query.axes.push_back(GridAxis{{GridCoordinate{
      "[Time].[Calendar]",
      {"[Time].[Calendar].[2023]", "[Time].[Calendar].[2024]", "[Time].[Calendar].[2025]"}}}});
  query.axes.push_back(
      GridAxis{{GridCoordinate{"[Product]",
                               {"[Product].[Bikes]", "[Product].[Components]",
                                "[Product].[Clothing]", "[Product].[Accessories]"}}}});
  expect_same(
      oracle(std::string("SELECT p.category, m.year, SUM(f.sales)") + kJoined + " GROUP BY 1, 2"),
      cells_of(cube.get(), query));

  // Members of two levels that overlap on one axis (a region and one of its countries), a
  // fiscal-year slicer and Quantity: a fact row reaches both the region's and the country's cells.
  GridQuery overlapping;
  overlapping.axes.push_back(GridAxis{{GridCoordinate{"[Measures]", {"[Measures].[Quantity]"}}}});
  overlapping.axes.push_back(GridAxis{
      {GridCoordinate{"[Geography]", {"[Geography].[Europe]", "[Geography].[Europe].[France]"}}}});
  overlapping.slicer.push_back(GridCoordinate{"[Time].[Fiscal]", {"[Time].[Fiscal].[FY2024]"}});
  auto expected = oracle(std::string("SELECT c.region, 'Quantity', SUM(f.quantity)") + kJoined +
                         " WHERE m.fiscal_year = 'FY2024' AND c.region = 'Europe' GROUP BY 1");
  const auto france =
      oracle(std::string("SELECT c.country, 'Quantity', SUM(f.quantity)") + kJoined +
             " WHERE m.fiscal_year = 'FY2024' AND c.country = 'France' GROUP BY 1");
  expected.insert(france.begin(), france.end());
  expect_same(expected, cells_of(cube.get(), overlapping));

  // A calculated measure beside a stored one: its cells come from the stored sums.
  GridQuery margin;
  margin.axes.push_back(
      GridAxis{{GridCoordinate{"[Measures]", {"[Measures].[Cost]", "[Measures].[Margin]"}}}});
  margin.axes.push_back(GridAxis{{GridCoordinate{"[Product]", {"[Product].[Clothing]"}}}});
  expect_same(
      oracle(std::string("SELECT p.category, 'Cost', SUM(f.cost)") + kJoined +
             " WHERE p.category = 'Clothing' GROUP BY 1 UNION ALL SELECT p.category, 'Margin', "
             "SUM(f.sales) - SUM(f.cost)" +
             kJoined + " WHERE p.category = 'Clothing' GROUP BY 1"),
      cells_of(cube.get(), margin));
}

// A calculated measure that is a difference of stored ones is summed in the grid's one
// statement, on an axis and in the slicer; a ratio beside it is still computed on the grid.
// Each cell equals SQLite's and the memory provider's.
TEST_P(ClickHouseOracleTest, LinearCalculatedMeasuresAreSummedByTheServer) {
  if (GetParam() != "memory") REQUIRE_SERVERS();
  auto_unuse<memory::MemoryCube> cube(memory::loadCube(path()));
  auto& log = captureLog(5);

  GridQuery query;
  query.axes.push_back(GridAxis{{GridCoordinate{
      "[Measures]", {"[Measures].[Margin]", "[Measures].[Sales]", "[Measures].[Margin %]"}}}});
  query.axes.push_back(
      GridAxis{{GridCoordinate{"[Product]",
                               {"[Product].[Bikes]", "[Product].[Components]",
                                "[Product].[Clothing]", "[Product].[Accessories]"}}}});
  query.slicer.push_back(GridCoordinate{"[Time].[Calendar]", {"[Time].[Calendar].[2024]"}});
  const std::string where = std::string(kJoined) + " WHERE m.year = '2024' GROUP BY 1";
  const auto expected =
      oracle("SELECT p.category, 'Margin', SUM(f.sales) - SUM(f.cost)" + where +
             " UNION ALL SELECT p.category, 'Sales', SUM(f.sales)" + where +
             " UNION ALL SELECT p.category, 'Margin %', (SUM(f.sales) - SUM(f.cost)) / "
             "SUM(f.sales)" +
             where);
  const auto cells = cells_of(cube.get(), query);
  expect_same(expected, cells);
  auto_unuse<memory::MemoryCube> inMemory(memory::loadCube(vtq_testing::sampleCubePath()));
  expect_same(cells_of(inMemory.get(), query), cells);

  // The measure only in the slicer, by region.
  GridQuery sliced;
  sliced.axes.push_back(GridAxis{{GridCoordinate{
      "[Time].[Calendar]", {"[Time].[Calendar].[2023]", "[Time].[Calendar].[2025]"}}}});
  sliced.axes.push_back(GridAxis{
      {GridCoordinate{"[Geography]", {"[Geography].[Europe]", "[Geography].[North America]"}}}});
  sliced.slicer.push_back(GridCoordinate{"[Measures]", {"[Measures].[Margin]"}});
  expect_same(oracle(std::string("SELECT c.region, m.year, SUM(f.sales) - SUM(f.cost)") + kJoined +
                     " WHERE m.year IN ('2023', '2025') AND c.region IN ('Europe', "
                     "'North America') GROUP BY 1, 2"),
              cells_of(cube.get(), sliced));

  const std::string lines = log.texts();
  const std::string difference = "(toFloat64(sum(`sales`)) - toFloat64(sum(`cost`)))";
  if (GetParam() == "memory") {
    EXPECT_EQ(std::string::npos, lines.find("summed by the server")) << lines;
  } else {
    // Both grids said so, and their statements carry the difference of sums.
    const std::string pushed =
        "calculated measures summed by the server: [Measures].[Margin] as " + difference;
    size_t said = 0;
    for (size_t at = lines.find(pushed); at != std::string::npos; at = lines.find(pushed, at + 1))
      ++said;
    EXPECT_EQ(2u, said) << lines;
    EXPECT_NE(std::string::npos, lines.find(difference + " AS v0, ")) << lines;
    // The ratio is not linear: no term of the statement names it.
    EXPECT_EQ(std::string::npos, lines.find("Margin %] as")) << lines;
  }
}

// The grid as text: per row its captions and cells, in the grid's order.
std::string shown(memory::MemoryCube* cube, const GridQuery& query) {
  auto_unuse<memory::MemoryResultSet> result(memory::executeGridQuery(cube, query));
  const vtq::ResultGrid grid = vtq::readResultGrid(result.get());
  std::string out;
  for (size_t r = 0; r < grid.rowCaptions.size(); ++r) {
    for (const std::string& caption : grid.rowCaptions[r]) out += caption + " ";
    out += ":";
    for (size_t c = 0; c < grid.columnHeaders.size(); ++c) {
      const auto& cell = grid.cells[r * grid.columnHeaders.size() + c];
      out += cell ? " " + std::to_string(*cell) : std::string(" -");
    }
    out += "\n";
  }
  return out;
}

// The last row captions of the grid, in order.
std::vector<std::string> row_names(memory::MemoryCube* cube, const GridQuery& query) {
  auto_unuse<memory::MemoryResultSet> result(memory::executeGridQuery(cube, query));
  const vtq::ResultGrid grid = vtq::readResultGrid(result.get());
  std::vector<std::string> out;
  for (const auto& captions : grid.rowCaptions) out.push_back(captions.back());
  return out;
}

std::vector<std::string> oracle_names(const std::string& sql) {
  std::vector<std::string> out;
  for (const auto& row : vtq_testing::SampleOracle::get().rows(sql)) out.push_back(row[0]);
  return out;
}

size_t occurrences(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

GridAxis subcategories() {
  GridCoordinate c{"[Product]", {}};
  for (const auto& row : vtq_testing::SampleOracle::get().rows(
           "SELECT category, subcategory FROM products GROUP BY 1, 2 ORDER BY min(rowid)"))
    c.members.push_back("[Product].[" + row[0] + "].[" + row[1] + "]");
  return GridAxis{{c}};
}

GridAxis cities() {
  GridCoordinate c{"[Geography]", {}};
  for (const auto& row :
       vtq_testing::SampleOracle::get().rows("SELECT region, country, city FROM cities"))
    c.members.push_back("[Geography].[" + row[0] + "].[" + row[1] + "].[" + row[2] + "]");
  return GridAxis{{c}};
}

GridAxis years() {
  return GridAxis{{GridCoordinate{
      "[Time].[Calendar]",
      {"[Time].[Calendar].[2023]", "[Time].[Calendar].[2024]", "[Time].[Calendar].[2025]"}}}};
}

// Filters that compare summed measures with numbers keep the tuples SQLite's HAVING keeps, in
// the axis's order, and the server computes them where that provably gives the grid's answer: a
// comparison that an empty tuple passes, or members that overlap, stay on the grid. Every grid
// equals the memory provider's.
TEST_P(ClickHouseOracleTest, FiltersOnSumsKeepTheTuplesOfTheGrid) {
  if (GetParam() != "memory") REQUIRE_SERVERS();
  auto_unuse<memory::MemoryCube> cube(memory::loadCube(path()));
  auto_unuse<memory::MemoryCube> inMemory(memory::loadCube(vtq_testing::sampleCubePath()));
  auto& log = captureLog(5);
  auto filtered = [](GridAxis rows, const std::string& filter) {
    GridQuery query;
    query.axes.push_back(years());
    query.axes.push_back(std::move(rows));
    query.filters.push_back(memory::GridFilter{1, TOVAString(filter), TOVAString("the filter")});
    return query;
  };
  const std::string bySubcategory = std::string(" FROM facts f JOIN products p ON p.item = f.item") +
                                    " GROUP BY p.category, p.subcategory HAVING ";
  const std::string inAxisOrder =
      " ORDER BY (SELECT min(rowid) FROM products q WHERE q.subcategory = p.subcategory)";

  // A stored and a calculated measure, the number on either side.
  GridQuery both =
      filtered(subcategories(), "600000 < [Measures].[Sales] AND [Measures].[Margin] >= 300000");
  EXPECT_EQ(oracle_names("SELECT p.subcategory" + bySubcategory +
                         "SUM(f.sales) > 600000 AND SUM(f.sales) - SUM(f.cost) >= 300000" +
                         inAxisOrder),
            row_names(cube.get(), both));
  EXPECT_EQ(shown(inMemory.get(), both), shown(cube.get(), both));
  GridQuery either =
      filtered(subcategories(), "[Measures].[Quantity] > 12000 OR ([Measures].[Sales] >= 4000000)");
  EXPECT_EQ(oracle_names("SELECT p.subcategory" + bySubcategory +
                         "SUM(f.quantity) > 12000 OR SUM(f.sales) >= 4000000" + inAxisOrder),
            row_names(cube.get(), either));
  EXPECT_EQ(shown(inMemory.get(), either), shown(cube.get(), either));

  // One item in one month reaches 5 of the 16 cities. An empty city compares as 0: it fails
  // "> 2" but passes "< 4", which the server's groups cannot tell.
  auto sliced = [&](const std::string& filter) {
    GridQuery query = filtered(cities(), filter);
    query.axes[0] = GridAxis{{GridCoordinate{"[Measures]", {"[Measures].[Quantity]", "[Measures].[Margin]"}}}};
    query.slicer.push_back(GridCoordinate{"[Product]", {"[Product].[Bikes].[Road].[Road-550]"}});
    query.slicer.push_back(
        GridCoordinate{"[Time].[Calendar]", {"[Time].[Calendar].[2023].[Q1].[Mar]"}});
    return query;
  };
  const std::vector<std::string> some = {"Lyon", "Berlin", "Munich"};
  EXPECT_EQ(some, row_names(cube.get(), sliced("[Measures].[Quantity] > 2")));
  // Regression: the empty cities must be kept, not dropped with the groups the server has not.
  const std::vector<std::string> emptyToo = {"Paris", "Lyon", "Hamburg", "Milan", "Rome",
                                             "New York", "Chicago", "Seattle", "Toronto",
                                             "Vancouver", "Sydney", "Melbourne", "Tokyo", "Osaka"};
  EXPECT_EQ(emptyToo, row_names(cube.get(), sliced("[Measures].[Quantity] < 4")));

  // A region and one of its countries overlap: a fact row reaches both tuples.
  GridQuery overlapping = filtered(
      GridAxis{{GridCoordinate{"[Geography]", {"[Geography].[Europe]", "[Geography].[Europe].[France]",
                                               "[Geography].[Pacific]"}}}},
      "[Measures].[Sales] > 9000000");
  EXPECT_EQ(shown(inMemory.get(), overlapping), shown(cube.get(), overlapping));

  const std::string lines = log.texts();
  if (GetParam() == "memory") {
    EXPECT_EQ(0u, occurrences(lines, "ClausePushdown")) << lines;
    return;
  }
  // The first two grids are read twice: their rows' names, then their text.
  EXPECT_EQ(5u, occurrences(lines, "the filter of axis 1: computed by the fact source")) << lines;
  EXPECT_EQ(5u, occurrences(lines, " HAVING ")) << lines;
  EXPECT_EQ(2u, occurrences(lines, " HAVING (v0 > toFloat64(600000)) AND (v1 >= toFloat64(300000))")) << lines;
  EXPECT_EQ(1u, occurrences(lines, "stays on the grid: a tuple without facts passes it")) << lines;
  EXPECT_EQ(1u, occurrences(lines, "stays on the grid: a hierarchy of the axis holds members of several levels"))
      << lines;
}

// TopCount and BottomCount over a level's members are ranked by the server; where the last kept
// tuple ties with the next one they stay on the grid, whose order among ties is the set's, and
// where fewer tuples have facts than are asked for, the empty ones follow in the set's order as
// on the grid. Every grid equals the memory provider's.
TEST_P(ClickHouseOracleTest, RankingsKeepTheGridsTiesAndEmptyTuples) {
  if (GetParam() != "memory") REQUIRE_SERVERS();
  auto_unuse<memory::MemoryCube> cube(memory::loadCube(path()));
  auto_unuse<memory::MemoryCube> inMemory(memory::loadCube(vtq_testing::sampleCubePath()));
  auto& log = captureLog(5);
  auto ranked = [](GridAxis rows, const std::string& filter) {
    GridQuery query;
    query.axes.push_back(years());
    query.axes.push_back(std::move(rows));
    query.filters.push_back(memory::GridFilter{1, TOVAString(filter), TOVAString("the ranking")});
    return query;
  };
  GridQuery top = ranked(subcategories(), "TopCount(Members([Product].[Subcategory]), 3, [Measures].[Sales])");
  std::vector<std::string> expected = oracle_names(
      "SELECT p.subcategory FROM facts f JOIN products p ON p.item = f.item GROUP BY 1 "
      "ORDER BY SUM(f.sales) DESC LIMIT 3");
  std::vector<std::string> names = row_names(cube.get(), top);
  std::sort(expected.begin(), expected.end());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(expected, names);
  EXPECT_EQ(shown(inMemory.get(), top), shown(cube.get(), top));
  GridQuery bottom =
      ranked(subcategories(), "BottomCount(Members([Product].[Subcategory]), 2, [Measures].[Margin])");
  expected = oracle_names(
      "SELECT p.subcategory FROM facts f JOIN products p ON p.item = f.item GROUP BY 1 "
      "ORDER BY SUM(f.sales) - SUM(f.cost) LIMIT 2");
  names = row_names(cube.get(), bottom);
  std::sort(expected.begin(), expected.end());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(expected, names);
  EXPECT_EQ(shown(inMemory.get(), bottom), shown(cube.get(), bottom));

  // Quantities of one item in one month by city: Berlin 4, Munich 4, Lyon 3, New York 2,
  // Vancouver 2, no facts in the 11 other cities.
  auto byCity = [&](const char* form, int count) {
    return ranked(cities(), std::string(form) + "(Members([Geography].[City]), " + std::to_string(count) +
                                ", Tuple([Measures].[Quantity], [Product].[Bikes].[Road].[Road-550], "
                                "[Time].[Calendar].[2023].[Q1].[Mar]))");
  };
  const std::vector<std::vector<std::string>> expectedByCity = {
      {"Berlin"},                                                      // Top 1: a tie
      {"Berlin", "Munich"},                                            // Top 2
      {"Lyon", "Berlin", "Munich", "New York"},                        // Top 4: a tie
      {"Paris", "Lyon", "Berlin", "Munich", "Hamburg", "Milan", "New York", "Vancouver"},  // Top 8
      {"New York"},                                                    // Bottom 1: a tie
      {"Lyon", "New York", "Vancouver"}};                              // Bottom 3
  const std::vector<GridQuery> queries = {byCity("TopCount", 1),    byCity("TopCount", 2),
                                          byCity("TopCount", 4),    byCity("TopCount", 8),
                                          byCity("BottomCount", 1), byCity("BottomCount", 3)};
  for (size_t i = 0; i < queries.size(); ++i) {
    EXPECT_EQ(expectedByCity[i], row_names(cube.get(), queries[i])) << i;
    EXPECT_EQ(shown(inMemory.get(), queries[i]), shown(cube.get(), queries[i])) << i;
  }

  const std::string lines = log.texts();
  if (GetParam() == "memory") {
    EXPECT_EQ(0u, occurrences(lines, "ClausePushdown")) << lines;
    return;
  }
  // Each statement asks for one more tuple than is kept, to see a tie at the boundary; every
  // grid is read twice: its rows' names, then its text.
  EXPECT_EQ(2u, occurrences(lines, "ORDER BY v0 DESC LIMIT 4")) << lines;
  EXPECT_EQ(2u, occurrences(lines, "ORDER BY v0 ASC LIMIT 3")) << lines;
  EXPECT_EQ(10u, occurrences(lines, "the ranking of axis 1: computed by the fact source")) << lines;
  EXPECT_EQ(6u, occurrences(lines, "the ranking of axis 1: stays on the grid: tuples tie at the count's boundary"))
      << lines;
}

// A sum of a whole axis whose cells are sums of facts is read from the rollup rows of the grid's
// statement and equals SQLite's sums; an axis that a filter thins, members that overlap (the
// grid's total counts a fact under both), or a measure computed from others keep the total on
// the grid. Every grid equals the memory provider's.
TEST_P(ClickHouseOracleTest, SumsOfAxesAreTheRollupRowsOfTheGridStatement) {
  if (GetParam() != "memory") REQUIRE_SERVERS();
  auto_unuse<memory::MemoryCube> cube(memory::loadCube(path()));
  auto_unuse<memory::MemoryCube> inMemory(memory::loadCube(vtq_testing::sampleCubePath()));
  auto& log = captureLog(5);
  auto totalled = [](GridAxis columns, GridAxis rows) {
    GridQuery query;
    query.axes.push_back(std::move(columns));
    query.axes.push_back(std::move(rows));
    query.subtotals.push_back(memory::GridSubtotal{1, 0, 0, 1, TOVAString("Sum"), TOVAString("[Sum]"),
                                                   TOVAString("the sum")});
    query.subtotals.push_back(memory::GridSubtotal{1, 1, 0, 0, TOVAString("Average"),
                                                   TOVAString("[Average]"), TOVAString("the average")});
    return query;
  };
  GridQuery bySubcategory = totalled(years(), subcategories());
  std::map<std::string, double> sums;
  for (const auto& [key, value] : cells_of(cube.get(), bySubcategory))
    if (key.rfind("Sum|", 0) == 0) sums[key] = value;
  expect_same(oracle(std::string("SELECT 'Sum', m.year, SUM(f.sales)") + kJoined + " GROUP BY 2"), sums);
  EXPECT_EQ(shown(inMemory.get(), bySubcategory), shown(cube.get(), bySubcategory));
  // A linear measure beside a stored one, the years totalled on the columns.
  GridQuery margins = totalled(
      GridAxis{{GridCoordinate{"[Measures]", {"[Measures].[Sales]", "[Measures].[Margin]"}}}}, years());
  margins.axes[0].hierarchies.push_back(
      GridCoordinate{"[Geography]", {"[Geography].[Europe]", "[Geography].[Pacific]"}});
  EXPECT_EQ(shown(inMemory.get(), margins), shown(cube.get(), margins));

  GridQuery thinned = totalled(years(), subcategories());
  thinned.filters.push_back(memory::GridFilter{1, TOVAString("[Measures].[Sales] > 600000"), TOVAString("the filter")});
  EXPECT_EQ(shown(inMemory.get(), thinned), shown(cube.get(), thinned));
  // Regression: France's facts lie under Europe too, and the grid's total counts them twice.
  GridQuery overlapping = totalled(
      years(), GridAxis{{GridCoordinate{"[Geography]", {"[Geography].[Europe]", "[Geography].[Europe].[France]"}}}});
  const auto overlapped = cells_of(cube.get(), overlapping);
  EXPECT_NEAR(overlapped.at("Europe|2024") + overlapped.at("France|2024"), overlapped.at("Sum|2024"), 1e-6);
  EXPECT_EQ(shown(inMemory.get(), overlapping), shown(cube.get(), overlapping));
  GridQuery ratios = totalled(
      GridAxis{{GridCoordinate{"[Measures]", {"[Measures].[Sales]", "[Measures].[Margin %]"}}}}, subcategories());
  EXPECT_EQ(shown(inMemory.get(), ratios), shown(cube.get(), ratios));

  const std::string lines = log.texts();
  if (GetParam() == "memory") {
    EXPECT_EQ(0u, occurrences(lines, "ClausePushdown")) << lines;
    return;
  }
  // The first grid is read twice: its cells, then its text.
  EXPECT_EQ(3u, occurrences(lines, "the sum of axis 1: added up by the fact source with the cells")) << lines;
  EXPECT_EQ(3u, occurrences(lines, " WITH ROLLUP")) << lines;
  EXPECT_EQ(1u, occurrences(lines, "the sum of axis 1 stays on the grid: a filter removes tuples of the axis"))
      << lines;
  EXPECT_EQ(2u, occurrences(lines, "the sum of axis 1 stays on the grid: a hierarchy of the axis holds members of "
                                   "several levels"))
      << lines;
  EXPECT_EQ(1u, occurrences(lines, "the sum of axis 1 stays on the grid: a measure of the grid is computed from "
                                   "others"))
      << lines;
}

INSTANTIATE_TEST_SUITE_P(Configurations, ClickHouseOracleTest,
                         ::testing::Values("memory", "single", "cluster"));

using ClickHouseErrorTest = vtq_testing::VtqTest;

TEST_F(ClickHouseErrorTest, FailuresNameTheServerAndPurposeNeverThePassword) {
  REQUIRE_SERVERS();
  setenv("VTQ_CLICKHOUSE_PASSWORD", "pw-that-must-not-show", 1);
  const ServerConnection down = server(30000, "http://127.0.0.1:8199");
  const std::string unreachable = message_of([&] { select(down, "SELECT 1"); });
  EXPECT_EQ(clickhouse::CLICKHOUSE_E_UNREACHABLE, code_of([&] { select(down, "SELECT 1"); }));
  EXPECT_NE(std::string::npos, unreachable.find("http://127.0.0.1:8199 (user default)"))
      << unreachable;
  EXPECT_NE(std::string::npos, unreachable.find("a test")) << unreachable;
  EXPECT_EQ(std::string::npos, unreachable.find("pw-that-must-not-show"));
  unsetenv("VTQ_CLICKHOUSE_PASSWORD");

  // The server's own error text, code and all.
  const ServerConnection connection = server();
  const std::string refused =
      message_of([&] { select(connection, "SELECT no_such_column FROM facts"); });
  EXPECT_NE(std::string::npos, refused.find("Code: 47")) << refused;
  EXPECT_EQ(clickhouse::CLICKHOUSE_E_SERVER_ERROR,
            code_of([&] { select(connection, "SELECT no_such_column FROM facts"); }));

  // Slow: the request gives up at its timeout.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(clickhouse::CLICKHOUSE_E_TIMEOUT,
            code_of([&] { select(server(300), "SELECT sleep(2)"); }));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1900));

  // Unexpected types are refused before any record reaches the caller.
  int records = 0;
  EXPECT_EQ(clickhouse::CLICKHOUSE_E_BAD_RESPONSE, code_of([&] {
              connection.select(
                  "SELECT 'x' AS v", "a typed test",
                  [](const auto&, const std::vector<std::string>& types) {
                    return types[0] == "Float64" ? std::string() : "v is " + types[0];
                  },
                  [&](const auto&) { ++records; }, nullptr);
            }));
  EXPECT_EQ(0, records);

  // Definitions naming what the server lacks fail with the file's line; nothing leaks.
  const std::string dir = ::testing::TempDir();
  std::ifstream in(vtq_testing::sourceDir() + "/examples/sales/sales.clickhouse.xml");
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto write = [&](const std::string& name, const std::string& from, const std::string& to) {
    std::string changed = text;
    changed.replace(changed.find(from), from.size(), to);
    std::ofstream(dir + name) << changed;
    return dir + name;
  };
  const std::string noTable =
      message_of([&] { memory::loadCube(write("t1.xml", "table=\"facts\"", "table=\"nope\"")); });
  EXPECT_NE(std::string::npos, noTable.find("has no table 'nope'")) << noTable;
  const std::string injected = message_of([&] {
    memory::loadCube(write("t2.xml", "column=\"sales\"", "column=\"sales) FROM x --\""));
  });
  EXPECT_NE(std::string::npos, injected.find("is not a plain name")) << injected;
  const std::string badTimeout = message_of(
      [&] { memory::loadCube(write("t3.xml", "timeout=\"30000\"", "timeout=\"soon\"")); });
  EXPECT_NE(std::string::npos, badTimeout.find("line 8")) << badTimeout;
}

TEST_F(ClickHouseErrorTest, FactsWhoseKeysNoMemberHoldsAreRefusedOrReachNoCell) {
  REQUIRE_SERVERS();
  const ServerConnection connection = server();
  connection.execute("DROP TABLE IF EXISTS facts_strays", "a test");
  connection.execute(
      "CREATE TABLE facts_strays ENGINE = MergeTree ORDER BY month AS SELECT * FROM facts",
      "a test");
  std::ifstream in(vtq_testing::sourceDir() + "/examples/sales/sales.clickhouse.xml");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  text.replace(text.find("table=\"facts\""), 13, "table=\"facts_strays\"");
  const std::string path = ::testing::TempDir() + "strays.xml";
  std::ofstream(path) << text;
  auto_unuse<memory::MemoryCube> cube(memory::loadCube(path));

  // Rows of an unknown month and item arrive after the cube opened. A query over every year and
  // category filters no key, so they come back under no member: dropped, not added or refused.
  connection.execute(
      "INSERT INTO facts_strays VALUES ('1999-01', 'Road-150', 'Paris', 1e9, 1, 1), "
      "('2024-01', 'No such item', 'Paris', 1e9, 1, 1)",
      "a test");
  GridQuery query;
  query.axes.push_back(GridAxis{{GridCoordinate{
      "[Time].[Calendar]",
      {"[Time].[Calendar].[2023]", "[Time].[Calendar].[2024]", "[Time].[Calendar].[2025]"}}}});
  query.axes.push_back(
      GridAxis{{GridCoordinate{"[Product]",
                               {"[Product].[Bikes]", "[Product].[Components]",
                                "[Product].[Clothing]", "[Product].[Accessories]"}}}});
  expect_same(
      oracle(std::string("SELECT p.category, m.year, SUM(f.sales)") + kJoined + " GROUP BY 1, 2"),
      cells_of(cube.get(), query));
  cube.reset();

  // Regression: a fact of a city no member holds counted under the All member only, so that All
  // differed from the sum of the regions. Opening the cube now refuses it, as a CSV fact table is.
  connection.execute(
      "INSERT INTO facts_strays VALUES ('2024-01', 'Road-150', 'Atlantis', 1e9, 1, 1)", "a test");
  const std::string refused = message_of([&] { memory::loadCube(path); });
  EXPECT_NE(std::string::npos, refused.find("strays.xml, line ")) << refused;
  EXPECT_NE(std::string::npos,
            refused.find("'1999-01' in column 'month', which no member of dimension 'Time' holds"))
      << refused;
  connection.execute(
      "ALTER TABLE facts_strays DELETE WHERE month = '1999-01' OR item = 'No such item'", "a test");
  for (int i = 0;
       i < 50 && !select(connection, "SELECT 1 FROM facts_strays WHERE month = '1999-01'").empty();
       ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const std::string city = message_of([&] { memory::loadCube(path); });
  EXPECT_NE(
      std::string::npos,
      city.find("'Atlantis' in column 'city', which no member of dimension 'Geography' holds"))
      << city;
  connection.execute("DROP TABLE facts_strays", "a test");
}

TEST_F(ClickHouseErrorTest, InterruptionStopsTheServerQuery) {
  REQUIRE_SERVERS();
  const ServerConnection connection = server();
  std::atomic<bool> stop{false};
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    stop = true;
  });
  const auto start = std::chrono::steady_clock::now();
  const uint32_t code = code_of([&] {
    connection.select(
        "SELECT sleep(1) FROM system.numbers LIMIT 20 SETTINGS max_block_size = 1", "a long test",
        nullptr, [](const auto&) {}, &stop);
  });
  stopper.join();
  EXPECT_EQ(clickhouse::CLICKHOUSE_E_INTERRUPTED, code);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  // The server no longer runs it (KILL QUERY takes effect between blocks).
  size_t running = 1;
  for (int i = 0; i < 50 && running; ++i) {
    running =
        select(connection,
               "SELECT query_id FROM system.processes WHERE query LIKE '%system.numbers LIMIT 20%' "
               "AND query NOT LIKE '%processes%'")
            .size();
    if (running) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_EQ(0u, running);
  // The connection stays usable.
  EXPECT_EQ("1", select(connection, "SELECT 1")[0][0]);
}

}  // namespace
