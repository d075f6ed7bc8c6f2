// The expression language on the shared corpus (tests/fixtures/expressions.txt) against the
// sample cube of the reference provider: the lexer alone is the baseline of the whole parse;
// printing and cloning are measured on the parsed trees.
#include <benchmark/benchmark.h>

#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include "KELLexer.h"
#include "KELParser.h"
#include "common/CommonExpression.h"
#include "provider/memory/MemoryCube.h"

namespace {

struct Corpus {
  std::vector<TOVAString> texts;
  int64_t bytes = 0;
  auto_unuse<memory::MemoryCube> cube{
      memory::loadCube(std::string(VTQ_SOURCE_DIR) + "/examples/sales/sales.cube.xml")};
  std::vector<auto_unuse<NUVA_o::Expression>> trees;

  Corpus() {
    std::ifstream in(std::string(VTQ_SOURCE_DIR) + "/tests/fixtures/expressions.txt");
    for (std::string line; std::getline(in, line);) {
      if (line.empty()) continue;
      texts.emplace_back(line);
      bytes += static_cast<int64_t>(line.size());
    }
    for (const TOVAString& text : texts) {
      trees.emplace_back(createCommonExpression(cube.get()));
      trees.back()->setTextAndCreateTree(text);
    }
  }
};

Corpus& corpus() {
  static Corpus* c = new Corpus();
  return *c;
}

// What the parser asks of the lexer: every token, with number values and name texts taken.
size_t lex_all(const Corpus& c) {
  size_t tokens = 0;
  for (const TOVAString& text : c.texts) {
    KELLexer lexer(text, c.cube.get());
    for (int t = lexer.nextToken(); t != KT_END; t = lexer.nextToken()) {
      ++tokens;
      if (t == KT_NUMBER) benchmark::DoNotOptimize(lexer.takeNumberValue());
      else benchmark::DoNotOptimize(lexer.takeTokenText());
    }
  }
  return tokens;
}

void parse_all(const Corpus& c, NUVA_o::Expression* target) {
  for (const TOVAString& text : c.texts) benchmark::DoNotOptimize(target->setTextAndCreateTree(text));
}

void BM_Lexer(benchmark::State& state) {
  Corpus& c = corpus();
  for (auto _ : state) benchmark::DoNotOptimize(lex_all(c));
  state.SetBytesProcessed(state.iterations() * c.bytes);
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(c.texts.size()));
}
BENCHMARK(BM_Lexer)->Unit(benchmark::kMicrosecond);

void BM_Parse(benchmark::State& state) {
  Corpus& c = corpus();
  auto_unuse<NUVA_o::Expression> target(createCommonExpression(c.cube.get()));
  for (auto _ : state) parse_all(c, target.get());
  state.SetBytesProcessed(state.iterations() * c.bytes);
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(c.texts.size()));
}
BENCHMARK(BM_Parse)->Unit(benchmark::kMicrosecond);

double thread_seconds() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Both in one run, alternating, so that the ratio compares like with like; timed in thread
// CPU time so that other processes on the machine do not tilt it.
void BM_ParseOverLexer(benchmark::State& state) {
  Corpus& c = corpus();
  auto_unuse<NUVA_o::Expression> target(createCommonExpression(c.cube.get()));
  double lex = 0, parse = 0;
  for (auto _ : state) {
    double t0 = thread_seconds();
    benchmark::DoNotOptimize(lex_all(c));
    double t1 = thread_seconds();
    parse_all(c, target.get());
    double t2 = thread_seconds();
    lex += t1 - t0;
    parse += t2 - t1;
  }
  const double n = static_cast<double>(state.iterations()) * static_cast<double>(c.texts.size());
  state.counters["lex_us_per_expr"] = lex * 1e6 / n;
  state.counters["parse_us_per_expr"] = parse * 1e6 / n;
  state.counters["lex_MB_per_s"] = static_cast<double>(state.iterations()) * static_cast<double>(c.bytes) / lex / 1e6;
  state.counters["parse_MB_per_s"] = static_cast<double>(state.iterations()) * static_cast<double>(c.bytes) / parse / 1e6;
  state.counters["parse_over_lex"] = parse / lex;
}
BENCHMARK(BM_ParseOverLexer)->Unit(benchmark::kMillisecond);

void BM_GetTextFromTree(benchmark::State& state) {
  Corpus& c = corpus();
  for (auto _ : state)
    for (auto& tree : c.trees) benchmark::DoNotOptimize(tree->getTextFromTree());
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(c.trees.size()));
  state.SetBytesProcessed(state.iterations() * c.bytes);
}
BENCHMARK(BM_GetTextFromTree)->Unit(benchmark::kMicrosecond);

void BM_Clone(benchmark::State& state) {
  Corpus& c = corpus();
  for (auto _ : state)
    for (auto& tree : c.trees) auto_unuse<NUVA_o::Expression> copy(tree->clone());
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(c.trees.size()));
}
BENCHMARK(BM_Clone)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
