#include <gtest/gtest.h>

#include <sstream>

#include "../tools/vtq/shell_command.h"
#include "NUVA_o/MemberSet.h"
#include "VtqTest.h"
#include "common/ViewpointFactory.h"
#include "view_testing.h"

namespace {

class ShellTest : public vtq_testing::VtqTest {
 protected:
  void TearDown() override {
    m_pCube.reset();
    VtqTest::TearDown();
  }
  // Runs the script; returns "status|stdout|stderr".
  std::string run(const std::string& script, bool bail = false) {
    std::istringstream in(script);
    std::ostringstream out, err;
    const int status = vtq::runShell(m_pCube.get(), in, out, err, vtq::ShellOptions{bail});
    return std::to_string(status) + "|" + out.str() + "|" + err.str();
  }
  auto_unuse<memory::MemoryCube> m_pCube;
};

TEST_F(ShellTest, LayoutOfTheSampleCubeWithAndWithoutMultipleHierarchies) {
  m_pCube.reset(memory::loadCube(vtq_testing::sourceDir() + "/examples/sales/sales.cube.xml"));
  m_pCube->setCapability(NUVA_o::Cube::SUPPORTS_MULTIPLE_HIERARCHY_QUERY, false);
  EXPECT_EQ(
      "0|0 view: \n1 view: \n2 slice: [Time].[Calendar], [Product], [Geography], [Measures]\n|",
      run("layout\n"));
  m_pCube->setCapability(NUVA_o::Cube::SUPPORTS_MULTIPLE_HIERARCHY_QUERY, true);
  EXPECT_EQ(
      "0|0 view: \n1 view: \n2 slice: [Time].[Calendar], [Time].[Fiscal], [Product], "
      "[Geography], [Measures]\n|",
      run("# comment\n\nlayout\n"));
}

TEST_F(ShellTest, ErrorsArePrintedAndTheShellGoesOnUnlessItBails) {
  m_pCube.reset(vtq_testing::buildTestCube(false));
  const std::string script =
      "frobnicate\nlevel [Nowhere] 1\nlevel [Product] 7\nlevel [Product] x\n.mode xml\n"
      ".mode csv\nlevel [Product] 1\nlayout\n";
  EXPECT_EQ(
      "0|0 view: \n1 view: \n2 slice: [Time].[Calendar], [Product], [Measures]\n|"
      "error: unknown command 'frobnicate' (.help lists the commands)\n"
      "error: no axis holds hierarchy '[Nowhere]'\n"
      "error: hierarchy '[Product]' has no level 7\n"
      "error: level number 'x' is not a number of 0 or more\n"
      "error: usage: .mode csv|table\n",
      run(script));
  EXPECT_EQ("2||error: unknown command 'frobnicate' (.help lists the commands)\n",
            run(script, true));
  EXPECT_NE(std::string::npos, run(".help\n").find("level H N"));
}

TEST_F(ShellTest, LevelMakesTheViewSetAllMembersOfThatLevel) {
  m_pCube.reset(vtq_testing::buildTestCube(false));
  auto_unuse<NUVA_o::Viewpoint> view(createCommonViewpoint());
  view->initialise(m_pCube.get(), 1, 1);
  NUVA_o::AxisHierarchy* product = view->getAxes()[1]->getAxisHierarchies()[1].get();
  auto_unuse<NUVA_o::MemberSet> set(product->getViewMemberSet());
  vtq::setViewSetToLevel(*view, "[Product]", 2);
  EXPECT_EQ("[Product].[Bikes].[Road], [Product].[Gear].[Helmet], [Product].[Gear].[Glove]",
            vtq_testing::members(set.get()));
  vtq::setViewSetToLevel(*view, "[Product]", 1);
  EXPECT_EQ("[Product].[Bikes], [Product].[Gear]", vtq_testing::members(set.get()));
  EXPECT_EQ("0||", run("level [Product] 2\nlevel [Time].[Calendar] 1\n"));
}

}  // namespace
