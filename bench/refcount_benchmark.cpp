// use + unuse of a counted object with tracing off, against copying and destroying a
// std::shared_ptr, the usual shared-ownership baseline.

#include <memory>
#include <thread>

#include "BenchRatio.h"
#include "support/CoreLog.h"
#include "support/RefCountImpl.h"

namespace {

class Counted : public support::RefCountImpl {
 public:
  Counted() : RefCountImpl("BenchCounted", support::nextInstanceNumber<Counted>()) {}
};

void BM_RefCountUseUnuse(benchmark::State& state) {
  support_dll::CoreLog::getLogObject()->setVerbosity(3);  // reference traces are level 5 and 6
  auto_unuse<Counted> object(new Counted());
  olap_api::RefCount* counted = object.get();
  for (auto _ : state) {
    counted->use();
    counted->unuse();
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RefCountUseUnuse);

void BM_SharedPtrCopyDestroy(benchmark::State& state) {
  auto shared = std::make_shared<int>(1);
  for (auto _ : state) {
    std::shared_ptr<int> copy = shared;
    benchmark::DoNotOptimize(copy);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SharedPtrCopyDestroy);

}  // namespace

int main(int argc, char** argv) {
  // The library lives in multi-threaded programs. Once a thread has existed, std::shared_ptr
  // counts with atomic operations as RefCountImpl always does; before that, libstdc++ lets it
  // use plain increments, which would not be the baseline a real caller gets.
  std::thread([] {}).join();
  return vtq_bench::runWithRatios(argc, argv, {{"BM_RefCountUseUnuse", "BM_SharedPtrCopyDestroy"}},
                                  1.5);
}
