// Opens the sample cube, lays out Sales by product category (columns) and calendar year (rows),
// queries the view and prints the grid. Build it against an installed vtq_common:
//   cmake -S examples/api -B build-api -DCMAKE_PREFIX_PATH=/opt/vtq && cmake --build build-api
//   build-api/query_sales /opt/vtq/share/vtq/examples/sales/sales.cube.xml
#include <cstdio>
#include <string>
#include <vector>

#include "NUVA_o/Axis.h"
#include "NUVA_o/AxisHierarchy.h"
#include "NUVA_o/Cube.h"
#include "NUVA_o/MemberSet.h"
#include "NUVA_o/Viewpoint.h"
#include "common/SynchronousChunkHandlerCommon.h"
#include "common/ViewpointFactory.h"
#include "olap_api/Exceptions.h"
#include "provider/memory/MemoryCube.h"
#include "provider/memory/MemoryQuery.h"

namespace {

// The view members of a hierarchy become every member of one of its levels.
void showLevel(NUVA_o::Viewpoint& view, const char* hierarchy, int level) {
  for (const auto& axis : view.getAxes()) {
    auto_unuse<NUVA_o::AxisHierarchy> placed(axis->getAxisHierarchy(TOVAString(hierarchy)));
    if (!placed) continue;
    auto_unuse<NUVA_o::MemberSet> members(
        placed->getHierarchy()->getLevel(level)->createMemberSet(NUVA_o::CS_CREATEALL));
    auto_unuse<NUVA_o::MemberSet> viewSet(placed->getViewMemberSet());
    auto_unuse<NUVA_o::MemberSetCommand> command(viewSet->createCommand());
    command->makeEmpty();
    command->addMemberSet(members.get());
    command->execute();
  }
}

// Every chunk a handler delivers, in order.
template <typename Chunk, typename Take>
void readChunks(SynchronousChunkHandlerCommon* handler, Take take) {
  handler->StartFetch();
  while (auto_unuse<NUVA_o::Chunk> chunk{handler->GetChunk()})
    take(dynamic_cast<Chunk&>(*chunk));
}

std::vector<std::string> captions(memory::MemoryResultSet* result, long axis) {
  std::vector<std::string> out;
  auto_unuse<SynchronousChunkHandlerCommon> handler(
      new SynchronousChunkHandlerCommon(result, axis, 0, -1));
  readChunks<memory::MemoryAxisChunk>(handler.get(), [&](memory::MemoryAxisChunk& chunk) {
    for (long t = 0; t < chunk.getTupleCount(); ++t)
      out.push_back(chunk.getMemberCaption(t, 0).string());
  });
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CUBE_DEFINITION\n", argv[0]);
    return 1;
  }
  try {
    auto_unuse<memory::MemoryCube> cube(memory::loadCube(argv[1]));
    auto_unuse<NUVA_o::Viewpoint> view(createCommonViewpoint());
    view->initialise(cube.get(), 2, 1);
    view->moveAxisHierarchy(TOVAString("[Product]"), view->getAxes()[0].get(), 0);
    view->moveAxisHierarchy(TOVAString("[Time].[Calendar]"), view->getAxes()[1].get(), 0);
    showLevel(*view, "[Product]", 1);
    showLevel(*view, "[Time].[Calendar]", 1);

    auto_unuse<NUVA_o::ViewResultSet> resultSet(view->query());
    auto* result = dynamic_cast<memory::MemoryResultSet*>(resultSet.get());
    const std::vector<std::string> columns = captions(result, 0);
    const std::vector<std::string> rows = captions(result, 1);
    std::vector<std::string> cells(columns.size() * rows.size());
    char number[32];
    auto_unuse<SynchronousChunkHandlerCommon> handler(new SynchronousChunkHandlerCommon(result, 0, -1));
    readChunks<memory::MemoryCellDataChunk>(handler.get(), [&](memory::MemoryCellDataChunk& chunk) {
      for (long i = 0; i < chunk.getCellCount(); ++i)
        if (!chunk.isEmpty(i)) {
          std::snprintf(number, sizeof number, "%.2f", chunk.getValue(i));
          cells[static_cast<size_t>(chunk.getFirstCell() + i)] = number;
        }
    });

    std::printf("%-8s", "Sales");
    for (const auto& column : columns) std::printf(" %16s", column.c_str());
    std::printf("\n");
    for (size_t r = 0; r < rows.size(); ++r) {
      std::printf("%-8s", rows[r].c_str());
      for (size_t c = 0; c < columns.size(); ++c)
        std::printf(" %16s", cells[r * columns.size() + c].c_str());
      std::printf("\n");
    }
    return 0;
  } catch (const olap_api::ApiException& e) {
    std::fprintf(stderr, "error 0x%08X: %s\n", e.getCode(), e.getMessage().string().c_str());
    return 2;
  }
}
