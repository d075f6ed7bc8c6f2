// Peak memory while a cube definition loads a large fact table, against the memory the finished
// cube holds. The rows are the generated benchmark facts (--facts N, default 20,000,000), written
// as CSV with a cube definition into a scratch directory (--dir DIR keeps them there; default:
// a fresh directory under $TMPDIR, removed afterwards) and loaded by a second run of this program,
// so that the generator's own memory is not counted. Both figures are resident memory above what
// the process held before loading. Goal: the peak at most 1.5 times the finished cube.

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "GeneratedFacts.h"
#include "provider/memory/MemoryCube.h"
#include "support/Exceptions.h"
#include "support/RefCountImpl.h"

extern char** environ;

namespace {

constexpr double kGoal = 1.5;

// A field of /proc/self/status in bytes ("VmRSS", "VmHWM"), or 0.
size_t status_bytes(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const std::string prefix = std::string(field) + ":";
  while (std::getline(status, line))
    if (line.compare(0, prefix.size(), prefix) == 0) return std::strtoull(line.c_str() + prefix.size(), nullptr, 10) * 1024;
  return 0;
}

bool write_definition(const std::string& dir) {
  std::ofstream out(dir + "/generated.cube.xml");
  out << R"(<?xml version="1.0" encoding="UTF-8"?>
<Cube name="Generated">
  <Dimension name="Time" table="months.csv" key="month_id">
    <Hierarchy name="Calendar">
      <Level name="Year" column="year"/>
      <Level name="Quarter" column="quarter"/>
      <Level name="Month" column="month"/>
    </Hierarchy>
  </Dimension>
  <Dimension name="Product" table="products.csv" key="item_id">
    <Hierarchy name="Product">
      <Level name="Category" column="category"/>
      <Level name="Subcategory" column="subcategory"/>
      <Level name="Item" column="item"/>
    </Hierarchy>
  </Dimension>
  <Dimension name="Geography" table="cities.csv" key="city_id">
    <Hierarchy name="Geography">
      <Level name="Region" column="region"/>
      <Level name="City" column="city"/>
    </Hierarchy>
  </Dimension>
  <Measures>
    <Measure name="Sales" column="sales" default="true"/>
  </Measures>
  <Facts table="facts.csv">
    <Key dimension="Time" column="month_id"/>
    <Key dimension="Product" column="item_id"/>
    <Key dimension="Geography" column="city_id"/>
  </Facts>
</Cube>
)";
  return static_cast<bool>(out.flush());
}

int load(const std::string& dir) {
  const size_t before = status_bytes("VmRSS");
  const auto start = std::chrono::steady_clock::now();
  try {
    auto_unuse<memory::MemoryCube> cube(memory::loadCube(dir + "/generated.cube.xml"));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const size_t finished = status_bytes("VmRSS") - before;
    const size_t peak = status_bytes("VmHWM") - before;
    const double mib = 1024.0 * 1024.0;
    std::printf("loaded %ld facts in %.2f s: peak %.1f MiB while loading, %.1f MiB held by the cube (%.2f bytes a fact)\n",
                cube->getFactCount(), seconds, peak / mib, finished / mib,
                static_cast<double>(finished) / static_cast<double>(cube->getFactCount()));
    std::printf("ratio load_peak / finished_cube = %.2f (goal <= %.2f)\n",
                static_cast<double>(peak) / static_cast<double>(finished), kGoal);
  } catch (const olap_api::ApiException& e) {
    std::fprintf(stderr, "loading failed: %s\n", e.getMessage().string().c_str());
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  size_t facts = 20000000;
  std::string dir;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--load" && i + 1 < argc) return load(argv[i + 1]);
    if (arg == "--facts" && i + 1 < argc) {
      facts = std::strtoull(argv[++i], nullptr, 10);
    } else if (arg == "--dir" && i + 1 < argc) {
      dir = argv[++i];
    } else {
      std::fprintf(stderr, "usage: %s [--facts N] [--dir DIR]\n", argv[0]);
      return 2;
    }
  }
  if (facts == 0) {
    std::fprintf(stderr, "--facts needs a positive number\n");
    return 2;
  }
  const bool scratch = dir.empty();
  if (scratch) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/vtq-load-XXXXXX";
    if (!mkdtemp(pattern.data())) {
      std::perror("mkdtemp");
      return 1;
    }
    dir = pattern;
  } else {
    std::filesystem::create_directories(dir);
  }
  {
    const vtq_bench::GeneratedFacts generated(facts);
    if (!generated.dumpCsv(dir) || !write_definition(dir)) {
      std::fprintf(stderr, "cannot write the tables into %s\n", dir.c_str());
      return 1;
    }
  }
  std::string self = "/proc/self/exe", mode = "--load";
  char* child[] = {self.data(), mode.data(), dir.data(), nullptr};
  pid_t pid = 0;
  int status = 1;
  if (posix_spawn(&pid, self.c_str(), nullptr, nullptr, child, environ) != 0 || waitpid(pid, &status, 0) != pid)
    status = 1;
  if (scratch) std::filesystem::remove_all(dir);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
