// Saving a cube view (toXML) and loading it into a new view (initialise from XML) against parsing
// and serialising the same document text with the Xerces DOM directly. The view: 4 axes, 8
// hierarchies whose view member sets hold 1,000 members each, 20 sorts, 20 filters, 20
// highlighting rules, 10 subtotals and 10 dynamic calculations. Fixed data, no randomness.

#include <xercesc/dom/DOM.hpp>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLString.hpp>
#include <xercesc/util/XMLUni.hpp>

#include "BenchRatio.h"
#include "XercesBaseline.h"
#include "NUVA_o/Axis.h"
#include "NUVA_o/Expression.h"
#include "NUVA_o/OptionalCubeViewClause.h"
#include "NUVA_o/Tuple.h"
#include "ViewTesting.h"
#include "common/CommonExpression.h"
#include "common/CommonTuple.h"
#include "common/ViewpointFactory.h"

namespace {

using namespace xercesc;

constexpr int kHierarchies = 8;
constexpr int kMembers = 1000;

TOVAString hierarchyName(int h) { return TOVAString().build("[D%d]", h); }

memory::MemoryCube* cube() {
  static memory::MemoryCube* const built = [] {
    memory::CubeBuilder b("Bench");
    for (int h = 0; h < kHierarchies; ++h) {
      const TOVAString dimension = TOVAString().build("D%d", h);
      b.addDimension(dimension);
      b.addHierarchy(dimension, dimension, {"Group", "Leaf"});
      for (int m = 0; m < kMembers; ++m)
        b.addPath(hierarchyName(h), TOVAString().build("k%d", m),
                  {TOVAString().build("G%d", m / 100), TOVAString().build("M%d", m)});
    }
    b.addMeasure("Sales", true);
    return b.build();
  }();
  return built;
}

NUVA_o::Viewpoint* benchView() {
  auto_unuse<NUVA_o::Viewpoint> view(createCommonViewpoint());
  view->initialise(cube(), 2, 2);
  for (int h = 0; h < kHierarchies; ++h) {
    const TOVAString name = hierarchyName(h);
    view->moveAxisHierarchy(name, view->getAxes()[h / 2].get(), 0);
    vtq_testing::setViewMembersToLevel(*view, name, 2);
  }
  auto_unuse<NUVA_o::Expression> condition(createCommonExpression(cube()));
  condition->setTextAndCreateTree("[Measures].[Sales] > 10");
  for (int i = 0; i < 20; ++i) {
    auto_unuse<NUVA_o::Hierarchy> hierarchy(cube()->getHierarchyByUniqueName(hierarchyName(i % 2)));
    auto_unuse<NUVA_o::Member> member(hierarchy->getDefaultMember());
    member->moveTo(hierarchyName(i % 2) + TOVAString().build(".[G%d].[M%d]", i * 10 / 100, i * 10));
    auto_unuse<NUVA_o::Tuple> tuple(createCommonTuple());
    tuple->addMember(member.get());
    auto_unuse<NUVA_o::Sort>(view->addSort(tuple.get(), NUVA_o::Sort::Direction(i % 4), false));
    auto_unuse<NUVA_o::Filter>(view->addFilter(tuple.get(), condition.get()));
    auto_unuse<NUVA_o::ExceptionSpecification>(
        view->addExceptionSpecification(tuple.get(), condition.get(), i));
  }
  for (int i = 0; i < 10; ++i) {
    NUVA_o::Axis& axis = *view->getAxes()[i % 4];
    auto_unuse<NUVA_o::SubTotal>(common::addAxisSubTotal(
        *view, axis, NUVA_o::SubTotal::SubTotalPosition(i % 2),
        NUVA_o::SubTotal::SubTotalType(i / 2 % 2), NUVA_o::SubTotal::SubTotalOperation(i % 5)));
    // Over every hierarchy of the axis, so that the calculation is active.
    auto_unuse<NUVA_o::Tuple> tuple(createCommonTuple());
    for (const auto& axisHierarchy : axis.getAxisHierarchies()) {
      auto_unuse<NUVA_o::Member> member(axisHierarchy->getHierarchy()->getDefaultMember());
      tuple->addMember(member.get());
    }
    auto_unuse<NUVA_o::DynamicCalculation>(common::addDynamicCalculation(
        *view, axis, *tuple, NUVA_o::DynamicCalculationType(i % 6)));
  }
  return view.release();
}

const TOVAString& document() {
  static const TOVAString text = [] {
    auto_unuse<NUVA_o::Viewpoint> view(benchView());
    return view->toXML();
  }();
  return text;
}

void BM_CubeViewSaveAndLoad(benchmark::State& state) {
  auto_unuse<NUVA_o::Viewpoint> view(benchView());
  size_t bytes = 0;
  for (auto _ : state) {
    const TOVAString text = view->toXML();
    auto_unuse<NUVA_o::Viewpoint> loaded(createCommonViewpoint());
    loaded->initialise(cube(), text);
    if (!loaded->getRepairDetails().empty()) state.SkipWithError("the view needed repairs");
    bytes = text.length() * 2;
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes));
}
BENCHMARK(BM_CubeViewSaveAndLoad)->Unit(benchmark::kMillisecond);

void BM_RawXercesParseAndSerialise(benchmark::State& state) {
  vtq_bench::rawXercesParseAndSerialise(state, document());
}
BENCHMARK(BM_RawXercesParseAndSerialise)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  return vtq_bench::runWithRatios(
      argc, argv, {{"BM_CubeViewSaveAndLoad", "BM_RawXercesParseAndSerialise"}}, 1.5);
}
