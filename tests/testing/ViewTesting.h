#pragma once

// Helpers shared by the cube view suites and the benchmarks: header only, no test framework.

#include <stdexcept>
#include <string>
#include <vector>

#include "NUVA_o/Axis.h"
#include "NUVA_o/AxisHierarchy.h"
#include "NUVA_o/Cube.h"
#include "NUVA_o/MemberSet.h"
#include "NUVA_o/Viewpoint.h"
#include "provider/memory/MemoryCube.h"
#include "support/Exceptions.h"

namespace vtq_testing {

// "0 view: A, B\n1 slice: C\n": one line per axis, as the shell's layout command prints it.
inline std::string layout(const NUVA_o::Viewpoint& view) {
  std::string out;
  const auto& axes = view.getAxes();
  for (size_t i = 0; i < axes.size(); ++i) {
    out += std::to_string(i) +
           (axes[i]->getAxisType() == NUVA_o::Axis::AT_VIEW ? " view: " : " slice: ");
    const auto& hierarchies = axes[i]->getAxisHierarchies();
    for (size_t j = 0; j < hierarchies.size(); ++j) {
      if (j) out += ", ";
      out += hierarchies[j]->getUniqueName().string();
    }
    out += "\n";
  }
  return out;
}

// The view members of `hierarchy`, wherever it is placed, become every member of level `level`,
// through a command of the view member set as a user's edit would. Throws std::invalid_argument
// when no axis holds the hierarchy.
inline void setViewMembersToLevel(NUVA_o::Viewpoint& view, const TOVAString& hierarchy, int level) {
  auto_unuse<NUVA_o::AxisHierarchy> placed;
  for (const auto& axis : view.getAxes())
    if (!placed) placed.reset(axis->getAxisHierarchy(hierarchy));
  if (!placed) throw std::invalid_argument("no axis holds " + hierarchy.string());
  auto_unuse<NUVA_o::MemberSet> members(
      placed->getHierarchy()->getLevel(level)->createMemberSet(NUVA_o::CS_CREATEALL));
  auto_unuse<NUVA_o::MemberSet> viewSet(placed->getViewMemberSet());
  auto_unuse<NUVA_o::MemberSetCommand> command(viewSet->createCommand());
  command->makeEmpty();
  command->addMemberSet(members.get());
  command->execute();
}

// Moves `hierarchy` to the front of axis `axis` and shows level `level` of it.
inline void layOut(NUVA_o::Viewpoint& view, const TOVAString& hierarchy, size_t axis, int level) {
  view.moveAxisHierarchy(hierarchy, view.getAxes()[axis].get(), 0);
  setViewMembersToLevel(view, hierarchy, level);
}

// "A, B": the hierarchy unique names of one axis.
inline std::string hierarchyNames(const NUVA_o::Axis& axis) {
  std::string out;
  for (const auto& h : axis.getAxisHierarchies()) {
    if (!out.empty()) out += ", ";
    out += h->getUniqueName().string();
  }
  return out;
}

// "a, b": the unique names of the members of a set.
inline std::string members(const NUVA_o::MemberSet* set) {
  std::string out;
  for (const TOVAString& name : memory::memberUniqueNames(set)) {
    if (!out.empty()) out += ", ";
    out += name.string();
  }
  return out;
}

// A small cube: Time with the hierarchies Calendar (default) and Fiscal, Product, and the
// measure Sales. Capability 12 (several hierarchies of one dimension) as asked.
inline memory::MemoryCube* buildTestCube(bool multipleHierarchies) {
  memory::CubeBuilder b("Test");
  b.addDimension("Time");
  b.addHierarchy("Time", "Calendar", {"Year", "Month"});
  b.addHierarchy("Time", "Fiscal", {"Year", "Month"});
  b.addDimension("Product");
  b.addHierarchy("Product", "Product", {"Category", "Item"});
  b.addMeasure("Sales");
  const char* months[] = {"2023-12", "2024-01", "2024-02"};
  const char* calendarYears[] = {"2023", "2024", "2024"};
  const char* fiscalYears[] = {"FY2024", "FY2024", "FY2024"};
  const char* names[] = {"Dec", "Jan", "Feb"};
  for (int i = 0; i < 3; ++i) {
    b.addPath("[Time].[Calendar]", months[i], {calendarYears[i], names[i]});
    b.addPath("[Time].[Fiscal]", months[i], {fiscalYears[i], names[i]});
  }
  b.addPath("[Product]", "road", {"Bikes", "Road"});
  b.addPath("[Product]", "helmet", {"Gear", "Helmet"});
  b.addPath("[Product]", "glove", {"Gear", "Glove"});
  b.addFact(std::vector<TOVAString>{"2024-01", "road"}, {100});
  b.addFact(std::vector<TOVAString>{"2024-02", "helmet"}, {20});
  b.setCapability(NUVA_o::Cube::SUPPORTS_MULTIPLE_HIERARCHY_QUERY, multipleHierarchies);
  return b.build();
}

// Calls `body` and returns the code of the API exception it throws; 0 when it throws none.
template <class F>
uint32_t thrownCode(F&& body) {
  try {
    body();
  } catch (const olap_api::ApiException& e) {
    return e.getCode();
  }
  return 0;
}

}  // namespace vtq_testing
