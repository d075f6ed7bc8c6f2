#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "NUVA_o/Expression.h"
#include "NUVA_o/OptionalCubeViewClause.h"
#include "NUVA_o/Tuple.h"
#include "NUVA_o/ViewResultSet.h"
#include "VtqTest.h"
#include "ViewTesting.h"
#include "common/CommonExpression.h"
#include "common/CommonTuple.h"
#include "common/ViewpointFactory.h"
#include "support/CoreLog.h"
#include "support/ErrorCodes.h"
#include "support/XmlSupport.h"

namespace {

using vtq_testing::layout;
using vtq_testing::thrownCode;

class CubeViewPersistenceTest : public vtq_testing::VtqTest {
 protected:
  void SetUp() override {
    VtqTest::SetUp();
    m_pCube.reset(vtq_testing::buildTestCube(false));
  }
  void TearDown() override {
    m_pCube.reset();
    VtqTest::TearDown();
  }

  // Calendar years on the columns, product categories on the rows, two sorts (solve orders 1
  // and 3), a filter, a disabled highlight and a query property.
  NUVA_o::Viewpoint* editedView() {
    auto_unuse<NUVA_o::Viewpoint> view(createCommonViewpoint());
    view->initialise(m_pCube.get(), 2, 1);
    vtq_testing::layOut(*view, "[Time].[Calendar]", 0, 1);
    vtq_testing::layOut(*view, "[Product]", 1, 1);
    auto_unuse<NUVA_o::Tuple> tuple(tupleOf("[Time].[Calendar].[2024]"));
    for (int i = 0; i < 3; ++i) auto_unuse<NUVA_o::Sort>(view->addSort(tuple.get(), {}, false));
    view->removeSort(view->getSorts()[1].get());
    auto_unuse<NUVA_o::Tuple> rows(tupleOf("[Product].[Bikes]"));
    auto_unuse<NUVA_o::Expression> condition(createCommonExpression(m_pCube.get()));
    condition->setTextAndCreateTree("[Measures].[Sales] > 10");
    auto_unuse<NUVA_o::Filter>(view->addFilter(rows.get(), condition.get()));
    auto_unuse<NUVA_o::ExceptionSpecification> rule(
        view->addExceptionSpecification(nullptr, condition.get(), 2));
    rule->setDisabled(true);
    view->addQueryProperty(NUVA_o::IS_FILTERED);
    return view.release();
  }

  NUVA_o::Tuple* tupleOf(const char* memberName) {
    const std::string name = memberName;
    auto_unuse<NUVA_o::Hierarchy> hierarchy(
        m_pCube->getHierarchyByUniqueName(TOVAString(name.substr(0, name.rfind("].[") + 1))));
    auto_unuse<NUVA_o::Member> member(hierarchy->getDefaultMember());
    member->moveTo(memberName);
    auto_unuse<NUVA_o::Tuple> tuple(createCommonTuple());
    tuple->addMember(member.get());
    return tuple.release();
  }

  static std::string childNames(const TOVAString& xml) {
    XmlSupport document;
    EXPECT_TRUE(document.parseXML(xml));
    std::string names;
    for (DOMNode* node = document.getDocumentElement()->getFirstChild(); node;
         node = node->getNextSibling())
      names += (names.empty() ? "" : " ") + XmlSupport::getNodeName(node).string();
    return names;
  }

  static std::string text(uint32_t code, const TOVAString& insert = TOVAString()) {
    TOVAString out;
    support_dll::CoreLog::getLogObject()->get(out, code, insert.empty() ? 0 : 1, &insert);
    return out.string();
  }

  auto_unuse<memory::MemoryCube> m_pCube;
};

TEST_F(CubeViewPersistenceTest, SavedViewLoadsToTheSameTextAndGoesOnWhereItStopped) {
  auto_unuse<NUVA_o::Viewpoint> bare(createCommonViewpoint());
  bare->initialise(m_pCube.get(), 2, 1);
  EXPECT_EQ("QueryProperties CalculatedMembers Axes", childNames(bare->toXML()));

  auto_unuse<NUVA_o::Viewpoint> saved(editedView());
  const TOVAString xml = saved->toXML();
  EXPECT_EQ("QueryProperties CalculatedMembers Axes SortSpecifications FilterSpecifications "
            "ExceptionSpecifications",
            childNames(xml));

  auto_unuse<NUVA_o::Viewpoint> loaded(createCommonViewpoint());
  loaded->initialise(m_pCube.get(), xml);
  EXPECT_EQ(xml, loaded->toXML());
  EXPECT_TRUE(loaded->getRepairDetails().empty());
  EXPECT_EQ(layout(*saved), layout(*loaded));
  EXPECT_TRUE(loaded->hasQueryProperty(NUVA_o::IS_FILTERED));
  ASSERT_EQ(2u, loaded->getSorts().size());
  EXPECT_TRUE(loaded->getExceptionSpecifications()[0]->isDisabled());
  // Solve orders are never handed out twice: the next sort follows the highest loaded one.
  auto_unuse<NUVA_o::Tuple> tuple(tupleOf("[Time].[Calendar].[2023]"));
  auto_unuse<NUVA_o::Sort> next(loaded->addSort(tuple.get(), {}, false));
  EXPECT_EQ(4, next->getSolveOrder());
  auto_unuse<NUVA_o::ViewResultSet> result(loaded->query());
  EXPECT_TRUE(result);
}

TEST_F(CubeViewPersistenceTest, DamagedDocumentsRepairOrFailWithACodeAndLeaveNoHalfBoundView) {
  auto_unuse<NUVA_o::Viewpoint> saved(editedView());
  const std::string xml = saved->toXML().string();
  auto replaced = [&](const std::string& from, const std::string& to, bool all = false) {
    std::string out = xml;
    for (size_t at = out.find(from); at != std::string::npos;
         at = all ? out.find(from, at + to.size()) : std::string::npos)
      out.replace(at, from.size(), to);
    return out;
  };
  const std::string viewGuid = xml.substr(xml.find("Guid=\""), 45);
  const std::string sliceAxis = xml.substr(xml.find("<Axis AxisType=\"Slice\""),
                                           xml.find("</Axes>") - xml.find("<Axis AxisType=\"Slice\""));
  std::string manyAxes;
  for (int i = 0; i < 10000; ++i) manyAxes += sliceAxis;
  std::string deep = std::string(20000 * 3, ' ');
  for (int i = 0; i < 20000; ++i) deep.replace(i * 3, 3, "<n>");
  for (int i = 0; i < 20000; ++i) deep += "</n>";

  struct Case {
    const char* name;
    std::string text;
    uint32_t code;        // 0: loads
    std::string state;    // "unbound", "fallback" or the repair details joined by '|'
    size_t slices = 1;    // slice axes of the fallback layout
  };
  const std::string fallback = "fallback";
  const std::vector<Case> cases = {
      {"truncated", xml.substr(0, xml.size() / 2), support::COMMON_E_NOT_A_CUBE_VIEW, "unbound"},
      {"wrong root", replaced("CubeView", "CubeVue", true), support::COMMON_E_NOT_A_CUBE_VIEW,
       "unbound"},
      // The view is searched for in the root and everything below it.
      {"view wrapped in another element", "<Wrapper>" + xml + "</Wrapper>", 0, ""},
      {"two views", "<Wrapper>" + xml + xml + "</Wrapper>", support::COMMON_E_NOT_A_CUBE_VIEW,
       "unbound"},
      {"a view inside the view", replaced("<Axes>", "<Axes><CubeView/>"),
       support::COMMON_E_NOT_A_CUBE_VIEW, "unbound"},
      {"GUID of the wrong form", replaced(viewGuid, "Guid=\"{12-34}\""),
       support::COMMON_E_NOT_A_CUBE_VIEW, "unbound"},
      {"no axis", replaced("<Axis ", "<Axle ", true), support::COMMON_E_NOT_A_CUBE_VIEW,
       "unbound"},
      {"unknown axis type", replaced("AxisType=\"View\"", "AxisType=\"Sideways\""),
       support::COMMON_E_XML_ELEMENT, fallback},
      {"three view axes", replaced("AxisType=\"Slice\"", "AxisType=\"View\""),
       support::COMMON_E_CUBE_VIEW_LAYOUT, fallback},
      {"10,000 slice axes before the view axes", replaced("<Axes>", "<Axes>" + manyAxes),
       support::COMMON_E_CUBE_VIEW_LAYOUT, fallback, 10001},
      {"deep nesting", replaced("<Axes>", "<Axes>" + deep), 0, ""},
      {"unknown hierarchy", replaced("Hierarchy=\"[Product]\"", "Hierarchy=\"[Shop]\""), 0,
       "Element 'AxisHierarchy' names hierarchy '[Shop]', which the cube does not have.|" +
           text(support::COMMON_R_HIERARCHY_ADDED, "[Product]")},
      {"member that no longer exists",
       replaced("UniqueName=\"[Time].[Calendar].[2024]\"", "UniqueName=\"[Time].[Calendar].[1999]\"", true),
       0,
       "Hierarchy '[Time].[Calendar]' has no member '[Time].[Calendar].[1999]'.|" +
           text(support::COMMON_R_SORT_DROPPED,
                "Member '[Time].[Calendar].[1999]' does not exist in the cube.") + "|" +
           text(support::COMMON_R_SORT_DROPPED,
                "Member '[Time].[Calendar].[1999]' does not exist in the cube.") + "|" +
           text(support::COMMON_R_HIERARCHY_ADDED, "[Time].[Calendar]")},
      {"order out of range", replaced("Order=\"1\"", "Order=\"-1\"", true), 0,
       text(support::COMMON_R_SORT_DROPPED, "Invalid XML: 'Order' is out of range (element 'Sort').") + "|" +
           text(support::COMMON_R_FILTER_DROPPED, "Invalid XML: 'Order' is out of range (element 'Filter').") + "|" +
           text(support::COMMON_R_EXCEPTION_SPECIFICATION_DROPPED,
                "Invalid XML: 'Order' is out of range (element 'ExceptionSpecification').")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto_unuse<NUVA_o::Viewpoint> view(createCommonViewpoint());
    EXPECT_EQ(c.code, thrownCode([&] { view->initialise(m_pCube.get(), TOVAString(c.text)); }));
    if (c.state == "unbound") {
      EXPECT_EQ(nullptr, view->getCube());
      EXPECT_TRUE(view->getAxes().empty());
      continue;
    }
    ASSERT_EQ(m_pCube.get(), view->getCube());
    std::string repairs;
    for (const TOVAString& repair : view->getRepairDetails())
      repairs += (repairs.empty() ? "" : "|") + repair.string();
    if (c.state == fallback) {
      EXPECT_EQ(2u, view->countViewAxes());
      EXPECT_EQ(c.slices, view->countSliceAxes());
      EXPECT_EQ(text(support::COMMON_R_LAYOUT_RESET), repairs);
    } else {
      EXPECT_EQ(c.state, repairs);
    }
    // Whatever came of the document, the view is whole: it saves and loads again.
    auto_unuse<NUVA_o::Viewpoint> again(createCommonViewpoint());
    again->initialise(m_pCube.get(), view->toXML());
    EXPECT_TRUE(again->getRepairDetails().empty());
  }
  // Restoring into a bound view: a refused document leaves its layout as it was.
  const std::string before = layout(*saved);
  XmlSupport document;
  ASSERT_TRUE(document.parseXML(TOVAString(replaced(viewGuid, "Guid=\"\""))));
  EXPECT_EQ(support::COMMON_E_XML_ELEMENT,
            thrownCode([&] { saved->restore(document.getDocumentElement(), m_pCube.get()); }));
  EXPECT_EQ(before, layout(*saved));
  auto_unuse<memory::MemoryCube> other(vtq_testing::buildTestCube(false));
  EXPECT_EQ(support::COMMON_E_RESTORE_OTHER_CUBE,
            thrownCode([&] { saved->restore(document.getDocumentElement(), other.get()); }));
}

// The fuzz target's seeds (views the shell saved) and the inputs that once failed it.
TEST_F(CubeViewPersistenceTest, FuzzCorpusLoadsWholeOrNotAtAll) {
  namespace fs = std::filesystem;
  auto_unuse<memory::MemoryCube> sample(memory::loadCube(vtq_testing::sampleCubePath()));
  size_t files = 0;
  for (const auto& entry :
       fs::directory_iterator(fs::path(vtq_testing::sourceDir()) / "fuzz/corpus/cube_view")) {
    SCOPED_TRACE(entry.path().filename().string());
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    auto_unuse<NUVA_o::Viewpoint> view(createCommonViewpoint());
    thrownCode([&] { view->initialise(sample.get(), TOVAString(bytes)); });
    if (view->getCube()) {
      EXPECT_FALSE(view->getAxes().empty());
      auto_unuse<NUVA_o::Viewpoint> again(createCommonViewpoint());
      again->initialise(sample.get(), view->toXML());
      EXPECT_EQ(view->toXML(), again->toXML());
    }
    ++files;
  }
  EXPECT_GE(files, 3u);
}

}  // namespace
