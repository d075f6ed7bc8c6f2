#pragma once

// Runs the registered benchmarks and prints, for each pair (candidate, baseline), the ratio of
// their real times per iteration measured in this run.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace vtq_bench {

class RecordingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    // With repetitions the median stands for the benchmark; otherwise its one run does.
    for (const Run& r : runs) {
      std::string name = r.run_name.str();
      if (r.run_type == Run::RT_Aggregate && r.aggregate_name == "median") {
        m_Times[name] = r.GetAdjustedRealTime();
        m_Medians.insert(name);
      } else if (r.run_type == Run::RT_Iteration && r.iterations > 0 && !m_Medians.count(name)) {
        m_Times[name] = r.GetAdjustedRealTime();
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  double time(const std::string& name) const {
    auto it = m_Times.find(name);
    return it == m_Times.end() ? 0.0 : it->second;
  }

 private:
  std::map<std::string, double> m_Times;
  std::set<std::string> m_Medians;
};

// One ratio of a program and its goal: CANDIDATE / BASELINE at most (or, with `atLeast`, at
// least) the goal.
struct Ratio {
  std::string candidate;
  std::string baseline;
  double goal = 1.0;
  bool atLeast = false;
};

// Prints one ratio in the form bench/run_all.sh gathers into its summary table:
// "ratio CANDIDATE / BASELINE = R (goal <= G)" (or ">=").
inline void printRatio(const Ratio& ratio, double value) {
  std::printf("ratio %s / %s = %.2f (goal %s %.2f)\n", ratio.candidate.c_str(), ratio.baseline.c_str(), value,
              ratio.atLeast ? ">=" : "<=", ratio.goal);
  std::fflush(stdout);
}

inline int runWithRatios(int argc, char** argv, const std::vector<Ratio>& ratios) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  for (const Ratio& ratio : ratios) {
    double c = reporter.time(ratio.candidate), b = reporter.time(ratio.baseline);
    if (c > 0 && b > 0) printRatio(ratio, c / b);
  }
  benchmark::Shutdown();
  return 0;
}

// Every pair with the same "at most" goal.
inline int runWithRatios(int argc, char** argv,
                         const std::vector<std::pair<std::string, std::string>>& pairs,
                         double goal) {
  std::vector<Ratio> ratios;
  for (const auto& [candidate, baseline] : pairs) ratios.push_back(Ratio{candidate, baseline, goal, false});
  return runWithRatios(argc, argv, ratios);
}

}  // namespace vtq_bench
