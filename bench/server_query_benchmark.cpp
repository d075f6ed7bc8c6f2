// Grid query of a cube over a server against the same statement sent by a bare HTTP client in
// the same run: 2,000,000 generated facts, Product at Subcategory on rows and Time at Month on
// columns, the sum of Sales in each cell. The provider's own overhead is the ratio (goal <= 1.2).
// The same view on the memory provider and on the two-shard cluster (a Distributed table over
// servers 1 and 2) is timed too. Needs the test servers (scripts/clickhouse-start.sh) and
// clickhouse-client; without them it says so and measures nothing. The tables are loaded once
// into databases vtq_bench and vtq_bench_cluster.

#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "BenchRatio.h"
#include "GeneratedFacts.h"
#include "SummingHandler.h"
#include "NUVA_o/Viewpoint.h"
#include "ViewTesting.h"
#include "common/ViewpointFactory.h"
#include "provider/clickhouse/ClickHouse.h"
#include "provider/memory/MemoryCube.h"
#include "provider/memory/MemoryQuery.h"
#include "support/CoreLog.h"
#include "support/RefCountImpl.h"

namespace {

constexpr size_t kFacts = 2000000;
const std::string kDir = std::filesystem::temp_directory_path().string() + "/vtq-server-bench";

bool run(const std::string& command) { return std::system(command.c_str()) == 0; }

// The definition of the generated cube over CSV files in kDir, or over `database` on a server.
std::string definition(const std::string& database) {
  std::string source;
  if (!database.empty())
    source = "  <Source kind=\"clickhouse\" url=\"http://127.0.0.1:8123\" database=\"" + database +
             "\" timeout=\"600000\"/>\n";
  const std::string suffix = database.empty() ? ".csv" : "";
  return "<Cube name=\"Generated\">\n" + source + "  <Dimension name=\"Time\" table=\"months" +
         suffix +
         "\" key=\"month\">\n"
         "    <Hierarchy name=\"Calendar\"><Level name=\"Year\" column=\"year\"/>"
         "<Level name=\"Quarter\" column=\"quarter\"/><Level name=\"Month\" "
         "column=\"name\"/></Hierarchy>\n"
         "  </Dimension>\n  <Dimension name=\"Product\" table=\"products" +
         suffix +
         "\" key=\"item\">\n"
         "    <Hierarchy name=\"Product\"><Level name=\"Category\" column=\"category\"/>"
         "<Level name=\"Subcategory\" column=\"subcategory\"/><Level name=\"Item\" "
         "column=\"item\"/></Hierarchy>\n"
         "  </Dimension>\n  <Dimension name=\"Geography\" table=\"cities" +
         suffix +
         "\" key=\"city\">\n"
         "    <Hierarchy name=\"Geography\"><Level name=\"City\" column=\"city\"/></Hierarchy>\n  "
         "</Dimension>\n"
         "  <Measures><Measure name=\"Sales\" column=\"sales\"/><Measure name=\"Cost\" "
         "column=\"cost\"/></Measures>\n"
         "  <Facts table=\"facts" +
         suffix +
         "\"><Key dimension=\"Time\" column=\"month\"/>"
         "<Key dimension=\"Product\" column=\"item\"/><Key dimension=\"Geography\" "
         "column=\"city\"/></Facts>\n"
         "</Cube>\n";
}

void write_tables() {
  const vtq_bench::GeneratedFacts g(kFacts);
  std::filesystem::create_directories(kDir);
  std::ofstream months(kDir + "/months.csv"), products(kDir + "/products.csv"),
      cities(kDir + "/cities.csv");
  months << "month,year,quarter,name\n";
  for (const auto& m : g.months)
    months << m.key << ',' << m.year << ',' << m.quarter << ',' << m.name << '\n';
  products << "item,subcategory,category\n";
  for (const auto& i : g.items)
    products << i.name << ',' << i.subcategory << ',' << i.category << '\n';
  cities << "city,region\n";
  for (const auto& c : g.cities) cities << c.name << ',' << c.region << '\n';
  FILE* facts = std::fopen((kDir + "/facts.csv").c_str(), "w");
  std::fprintf(facts, "month,item,city,sales,cost\n");
  for (size_t r = 0; r < kFacts; ++r)
    std::fprintf(facts, "%s,%s,%s,%.2f,%.2f\n",
                 g.months[static_cast<size_t>(g.factMonth[r])].key.c_str(),
                 g.items[static_cast<size_t>(g.factItem[r])].name.c_str(),
                 g.cities[static_cast<size_t>(g.factCity[r])].name.c_str(), g.factSales[r],
                 std::floor(g.factSales[r] * 0.6));
  std::fclose(facts);
  std::ofstream(kDir + "/memory.xml") << definition("");
  std::ofstream(kDir + "/single.xml") << definition("vtq_bench");
  std::ofstream(kDir + "/cluster.xml") << definition("vtq_bench_cluster");
}

bool load_servers() {
  const std::string client = "clickhouse-client --host 127.0.0.1 --port ";
  const std::string dims =
      "CREATE TABLE months (month String, year String, quarter String, name String) ENGINE = "
      "TinyLog;"
      "CREATE TABLE products (item String, subcategory String, category String) ENGINE = TinyLog;"
      "CREATE TABLE cities (city String, region String) ENGINE = TinyLog;";
  const std::string facts = "(month String, item String, city String, sales Float64, cost Float64)";
  auto q = [&](int port, const std::string& db, const std::string& sql) {
    return run(client + std::to_string(port) + (db.empty() ? "" : " --database " + db) +
               " --multiquery --query \"" + sql + "\"");
  };
  auto insert = [&](int port, const std::string& db, const std::string& table,
                    const std::string& file, const std::string& settings) {
    return run(client + std::to_string(port) + " --database " + db + settings +
               " --query \"INSERT INTO " + table + " FORMAT CSVWithNames\" < " + kDir + "/" + file);
  };
  bool ok =
      q(9000, "", "DROP DATABASE IF EXISTS vtq_bench; CREATE DATABASE vtq_bench") &&
      q(9000, "vtq_bench",
        dims + "CREATE TABLE facts " + facts + " ENGINE = MergeTree ORDER BY (month, item, city)");
  for (const char* t : {"months", "products", "cities", "facts"})
    ok = ok && insert(9000, "vtq_bench", t, std::string(t) + ".csv", "");
  for (int port : {9000, 9001})
    ok =
        ok &&
        q(port, "",
          "DROP DATABASE IF EXISTS vtq_bench_cluster; CREATE DATABASE vtq_bench_cluster") &&
        q(port, "vtq_bench_cluster",
          "CREATE TABLE facts_local " + facts + " ENGINE = MergeTree ORDER BY (month, item, city)");
  ok = ok && q(9000, "vtq_bench_cluster",
               dims +
                   "CREATE TABLE facts AS facts_local ENGINE = Distributed(vtq_two_shards, "
                   "vtq_bench_cluster, "
                   "facts_local, rand())");
  for (const char* t : {"months", "products", "cities"})
    ok = ok && insert(9000, "vtq_bench_cluster", t, std::string(t) + ".csv", "");
  return ok &&
         insert(9000, "vtq_bench_cluster", "facts", "facts.csv", " --insert_distributed_sync=1");
}

struct Fixture {
  auto_unuse<memory::MemoryCube> cubes[3];
  auto_unuse<NUVA_o::Viewpoint> views[3];  // memory, single server, cluster
  std::string sql;                         // the statement of the single server's view query
  bool ready = false;

  Fixture() {
    if (!run("curl -sf 'http://127.0.0.1:8123/?query=SELECT%201' > /dev/null && "
             "curl -sf 'http://127.0.0.1:8124/?query=SELECT%201' > /dev/null && command -v "
             "clickhouse-client > /dev/null")) {
      std::fprintf(stderr,
                   "no test servers on 127.0.0.1:8123 and 8124 (scripts/clickhouse-start.sh): "
                   "nothing measured\n");
      return;
    }
    write_tables();
    if (!load_servers()) {
      std::fprintf(stderr, "the generated tables could not be loaded into the servers\n");
      return;
    }
    const char* names[] = {"memory.xml", "single.xml", "cluster.xml"};
    for (int i = 0; i < 3; ++i) {
      cubes[i].reset(memory::loadCube(kDir + "/" + names[i]));
      views[i].reset(createCommonViewpoint());
      views[i]->initialise(cubes[i].get(), 2, 1);
      vtq_testing::layOut(*views[i], "[Time].[Calendar]", 0, 3);
      vtq_testing::layOut(*views[i], "[Product]", 1, 2);
    }
    // The statement the provider sends, as its log records it.
    auto* log = support_dll::CoreLog::getLogObject();
    auto sink = std::make_shared<support_dll::CapturingSink>();
    auto previous = log->setSink(sink);
    log->setUnitVerbosity("ServerConnection@CLICKHOUSEPROVIDER", 4);
    auto_unuse<NUVA_o::ViewResultSet>(views[1]->query());
    log->setUnitVerbosity("ServerConnection@CLICKHOUSEPROVIDER", 1);
    log->setSink(previous);
    for (const auto& record : sink->records()) {
      const std::string text = record.text.string();
      const size_t at = text.find(", query vtq-");
      if (at != std::string::npos) sql = text.substr(text.find(": ", at) + 2);
    }
    ready = !sql.empty();
  }
};

Fixture& fixture() {
  static Fixture f;
  return f;
}

// Every cell read and summed, as a consumer would.
double read_cells(NUVA_o::Viewpoint& view) {
  auto_unuse<NUVA_o::ViewResultSet> held(view.query());
  auto* result = static_cast<memory::MemoryResultSet*>(held.get());
  vtq_bench::SummingHandler handler;
  result->fetchChunksRange(&handler, 0, result->getCellCount());
  result->close();
  return handler.total;
}

// The same statement through libcurl alone: the answer read whole and its lines counted.
size_t bare_http(const std::string& sql) {
  CURL* easy = curl_easy_init();
  const std::string body = sql + "\nFORMAT TabSeparatedWithNamesAndTypes";
  std::string answer;
  curl_easy_setopt(
      easy, CURLOPT_URL,
      "http://127.0.0.1:8123/?database=vtq_bench&wait_end_of_query=1&max_query_size=268435456");
  curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body.data());
  curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
  curl_easy_setopt(
      easy, CURLOPT_WRITEFUNCTION, +[](char* data, size_t size, size_t count, void* user) {
        static_cast<std::string*>(user)->append(data, size * count);
        return size * count;
      });
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &answer);
  if (curl_easy_perform(easy) != CURLE_OK) std::abort();
  curl_easy_cleanup(easy);
  size_t lines = 0;
  for (char c : answer) lines += c == '\n';
  return lines;
}

void check_same(Fixture& f) {
  static bool checked = false;
  if (checked) return;
  const double memory = read_cells(*f.views[0]);
  for (int i = 1; i < 3; ++i) {
    const double other = read_cells(*f.views[i]);
    if (std::fabs(other - memory) > 1e-9 * std::fabs(memory)) {
      std::fprintf(stderr, "totals differ: %.2f on the memory provider, %.2f on server setup %d\n",
                   memory, other, i);
      std::abort();
    }
  }
  checked = true;
}

// The server's own time drifts with the load of this shared machine, so the provider's view
// query and the bare request alternate in both of their benchmarks, and each times only its own.
double seconds_of(const std::function<void()>& run) {
  const auto start = std::chrono::steady_clock::now();
  run();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void view_benchmark(benchmark::State& state, int which) {
  Fixture& f = fixture();
  if (!f.ready) {
    state.SkipWithError("no test servers");
    return;
  }
  check_same(f);
  for (auto _ : state) {
    if (which == 1) benchmark::DoNotOptimize(bare_http(f.sql));
    state.SetIterationTime(
        seconds_of([&] { benchmark::DoNotOptimize(read_cells(*f.views[which])); }));
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kFacts));
}

void BM_ServerView(benchmark::State& state) { view_benchmark(state, 1); }
void BM_ClusterView(benchmark::State& state) { view_benchmark(state, 2); }
void BM_MemoryView(benchmark::State& state) { view_benchmark(state, 0); }

void BM_BareHttp(benchmark::State& state) {
  Fixture& f = fixture();
  if (!f.ready) {
    state.SkipWithError("no test servers");
    return;
  }
  check_same(f);
  for (auto _ : state) {
    benchmark::DoNotOptimize(read_cells(*f.views[1]));
    state.SetIterationTime(seconds_of([&] { benchmark::DoNotOptimize(bare_http(f.sql)); }));
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kFacts));
}

BENCHMARK(BM_ServerView)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_BareHttp)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_ClusterView)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_MemoryView)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

}  // namespace

int main(int argc, char** argv) {
  clickhouse::registerProvider();
  curl_global_init(CURL_GLOBAL_DEFAULT);
  return vtq_bench::runWithRatios(
      argc, argv, {{"BM_ServerView/repeats:5/manual_time", "BM_BareHttp/repeats:5/manual_time"}},
      1.2);
}
