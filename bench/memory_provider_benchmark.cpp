// The memory provider's loading paths against plain baselines measured in the same run:
// - bulk facts through CubeBuilder against pushing the same values into bare vectors;
// - loading the sample cube from its definition against only splitting its CSV files into
//   fields, and against the first baseline, which also converted every numeric field.

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <fstream>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "BenchRatio.h"
#include "provider/memory/MemoryCube.h"
#include "support/RefCountImpl.h"

namespace {

constexpr int kItems = 200;
constexpr int kCities = 50;
constexpr int kMonths = 36;

std::vector<std::vector<int32_t>> random_keys(int64_t rows) {
  std::mt19937 rng(42);
  std::vector<std::vector<int32_t>> keys(static_cast<size_t>(rows), std::vector<int32_t>(3));
  for (auto& row : keys) {
    row[0] = static_cast<int32_t>(rng() % kMonths);
    row[1] = static_cast<int32_t>(rng() % kItems);
    row[2] = static_cast<int32_t>(rng() % kCities);
  }
  return keys;
}

void define_dimensions(memory::CubeBuilder& b) {
  b.addDimension("Time");
  b.addHierarchy("Time", "Time", {"Year", "Month"});
  for (int m = 0; m < kMonths; ++m)
    b.addPath("[Time]", TOVAString().build("m%d", m), {TOVAString().build("%d", 2023 + m / 12), TOVAString().build("M%d", m % 12 + 1)});
  b.addDimension("Product");
  b.addHierarchy("Product", "Product", {"Category", "Item"});
  for (int i = 0; i < kItems; ++i)
    b.addPath("[Product]", TOVAString().build("i%d", i), {TOVAString().build("c%d", i % 10), TOVAString().build("i%d", i)});
  b.addDimension("Geography");
  b.addHierarchy("Geography", "Geography", {"Country", "City"});
  for (int c = 0; c < kCities; ++c)
    b.addPath("[Geography]", TOVAString().build("t%d", c), {TOVAString().build("k%d", c % 7), TOVAString().build("t%d", c)});
  b.addMeasure("Sales");
  b.addMeasure("Quantity");
  b.addMeasure("Cost");
}

void BM_BuilderFacts(benchmark::State& state) {
  const auto keys = random_keys(state.range(0));
  std::vector<double> values{10.5, 2, 7.25};
  for (auto _ : state) {
    memory::CubeBuilder b("Bench");
    define_dimensions(b);
    for (const auto& row : keys) b.addFact(row, values);
    auto_unuse<memory::MemoryCube> cube(b.build());
    benchmark::DoNotOptimize(cube->getFactCount());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_BuilderFacts)->Arg(1 << 20)->Unit(benchmark::kMillisecond);

// Baseline: the same rows pushed into six bare columns.
void BM_BaselineColumns(benchmark::State& state) {
  const auto keys = random_keys(state.range(0));
  std::vector<double> values{10.5, 2, 7.25};
  for (auto _ : state) {
    std::vector<std::vector<int32_t>> keyColumns(3);
    std::vector<std::vector<double>> valueColumns(3);
    for (const auto& row : keys) {
      for (size_t i = 0; i < 3; ++i) keyColumns[i].push_back(row[i]);
      for (size_t i = 0; i < 3; ++i) valueColumns[i].push_back(values[i]);
    }
    benchmark::DoNotOptimize(keyColumns.data());
    benchmark::DoNotOptimize(valueColumns.data());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_BaselineColumns)->Arg(1 << 20)->Unit(benchmark::kMillisecond);

const std::string kSales = std::string(VTQ_SOURCE_DIR) + "/examples/sales/";

void BM_LoadSampleCube(benchmark::State& state) {
  for (auto _ : state) {
    auto_unuse<memory::MemoryCube> cube(memory::loadCube(kSales + "sales.cube.xml"));
    benchmark::DoNotOptimize(cube->getFactCount());
  }
}
BENCHMARK(BM_LoadSampleCube)->Unit(benchmark::kMillisecond);

// Baseline: read the four CSV files in blocks and split them into fields: a plain loop over the
// bytes finding separators and line ends, each record's fields as views, counted.
void BM_BaselineSplitCsv(benchmark::State& state) {
  std::vector<char> block(size_t(1) << 20);
  std::vector<std::string_view> record;
  for (auto _ : state) {
    size_t fields = 0;
    for (const char* name : {"months.csv", "products.csv", "cities.csv", "facts.csv"}) {
      const int file = ::open((kSales + name).c_str(), O_RDONLY | O_CLOEXEC);
      if (file < 0) {
        state.SkipWithError("cannot open a sample table");
        return;
      }
      // The sample tables fit in one block, so no record is cut.
      const ssize_t size = ::read(file, block.data(), block.size());
      ::close(file);
      size_t start = 0;
      for (size_t i = 0; i < static_cast<size_t>(std::max<ssize_t>(size, 0)); ++i) {
        const char c = block[i];
        if (c != ',' && c != '\n') continue;
        record.emplace_back(block.data() + start, i - start);
        start = i + 1;
        if (c == '\n') {
          fields += record.size();
          benchmark::DoNotOptimize(record.data());
          record.clear();
        }
      }
    }
    benchmark::DoNotOptimize(fields);
  }
}
BENCHMARK(BM_BaselineSplitCsv)->Unit(benchmark::kMillisecond);

// The first baseline of loading: each line read as a string, split at commas and every field
// converted as a number where it is one.
void BM_BaselineSplitAndConvertCsv(benchmark::State& state) {
  for (auto _ : state) {
    size_t fields = 0;
    double sum = 0;
    for (const char* name : {"months.csv", "products.csv", "cities.csv", "facts.csv"}) {
      std::ifstream in(kSales + name);
      std::string line;
      while (std::getline(in, line)) {
        size_t start = 0;
        for (;;) {
          const size_t comma = line.find(',', start);
          const std::string_view field(line.data() + start, (comma == std::string::npos ? line.size() : comma) - start);
          double value = 0;
          if (std::from_chars(field.data(), field.data() + field.size(), value).ec == std::errc()) sum += value;
          ++fields;
          if (comma == std::string::npos) break;
          start = comma + 1;
        }
      }
    }
    benchmark::DoNotOptimize(fields);
    benchmark::DoNotOptimize(sum);
  }
}
BENCHMARK(BM_BaselineSplitAndConvertCsv)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  return vtq_bench::runWithRatios(argc, argv,
                                  {{"BM_LoadSampleCube", "BM_BaselineSplitCsv", 2.0},
                                   {"BM_LoadSampleCube", "BM_BaselineSplitAndConvertCsv", 2.0}});
}
