// Cost of running a hierarchy move through the command history (command object, package,
// history bookkeeping, undo and redo) against calling the view's internal move directly.
// Both run the same sequence on the same view: move, move back, move again.

#include <benchmark/benchmark.h>

#include <string>

#include "ViewpointCommon.h"
#include "NUVA_o/Axis.h"
#include "common/ViewpointCommandManager.h"
#include "common/ViewpointFactory.h"
#include "provider/memory/MemoryCube.h"

namespace {

struct Fixture {
  Fixture() {
    cube.reset(memory::loadCube(std::string(VTQ_SOURCE_DIR) + "/examples/sales/sales.cube.xml"));
    view.reset(createCommonViewpoint());
    view->initialise(cube.get(), 2, 1);
    view->moveAxisHierarchy("[Time].[Calendar]", axis(0), 0);
    view->moveAxisHierarchy("[Geography]", axis(1), 0);
  }
  NUVA_o::Axis* axis(size_t i) const { return view->getAxes()[i].get(); }

  auto_unuse<memory::MemoryCube> cube;
  auto_unuse<NUVA_o::Viewpoint> view;
};

constexpr int64_t kMoves = 10000;

void BM_MoveUndoRedoThroughManager(benchmark::State& state) {
  Fixture f;
  common::ViewpointCommandManager* manager = common::getViewpointCommandManager(f.view.get());
  int64_t i = 0;
  for (auto _ : state) {
    f.view->moveAxisHierarchy("[Product]", f.axis(i++ % 2), 0);
    manager->undo();
    manager->redo();
  }
  state.SetItemsProcessed(state.iterations() * 3);
}
BENCHMARK(BM_MoveUndoRedoThroughManager)->Iterations(kMoves);

void BM_MoveUndoRedoDirect(benchmark::State& state) {
  Fixture f;
  auto* view = static_cast<common::ViewpointCommon*>(f.view.get());
  const TOVAString name("[Product]");
  NUVA_o::Axis* slice = f.axis(2);
  int64_t i = 0;
  for (auto _ : state) {
    NUVA_o::Axis* target = f.axis(i++ % 2);
    NUVA_o::Axis* from = view->find_axis_containing_hierarchy(name);
    const unsigned position = from ? from->getAxisHierarchyPosition(name) : 0;
    view->internal_move_axis_hierarchy(name, target, 0);
    view->internal_move_axis_hierarchy(name, from ? from : slice, position);
    view->internal_move_axis_hierarchy(name, target, 0);
  }
  state.SetItemsProcessed(state.iterations() * 3);
}
BENCHMARK(BM_MoveUndoRedoDirect)->Iterations(kMoves);

}  // namespace

BENCHMARK_MAIN();
