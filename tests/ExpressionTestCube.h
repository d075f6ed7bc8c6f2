#pragma once

#include <atomic>
#include <map>
#include <vector>

#include "NUVA_o/Cube.h"
#include "support/RefCountImpl.h"

namespace vtq_testing {

// A cube that knows the names of the sample cube "Sales" and answers the two name
// classifications the way the reference provider does: dimensions and hierarchies kind 2 /
// bit 2, levels 4 / 8, members 5 / 32, measures 6 / 16, level properties 1 / 1.
class ExpressionTestCube : public support::RefCountImpl, public NUVA_o::Cube {
 public:
  explicit ExpressionTestCube(bool aggregate = true)
      : RefCountImpl("ExpressionTestCube", support::nextInstanceNumber<ExpressionTestCube>()),
        m_bAggregate(aggregate) {
    for (const char* n : {"[Time]", "[Time].[Calendar]", "[Time].[Fiscal]", "[Product]",
                          "[Geography]", "[Measures]", "Time", "Product", "Geography"})
      m_Names[n] |= 2;
    for (const char* n : {"[Time].[Calendar].[Year]", "[Time].[Calendar].[Quarter]",
                          "[Time].[Calendar].[Month]", "[Time].[Fiscal].[Year]",
                          "[Product].[Category]", "[Product].[Subcategory]", "[Product].[Item]",
                          "[Geography].[Region]", "[Geography].[Country]",
                          "[Geography].[City]", "Year", "Category", "Region", "City"})
      m_Names[n] |= 8;
    for (const char* n :
         {"[Time].[Calendar].[2024]", "[Time].[Calendar].[2024].[Q1]",
          "[Time].[Calendar].[2024].[Q1].[Jan]", "[Time].[Calendar].[2023]",
          "[Product].[All]", "[Product].[Bikes]", "[Product].[Bikes].[Road]",
          "[Product].[Bikes].[Road].[Road-150]", "[Product].[Accessories]",
          "[Geography].[Europe]", "[Geography].[Europe].[France]",
          "[Geography].[Europe].[France].[Paris]", "[Geography].[Pacific]", "Bikes", "Paris"})
      m_Names[n] |= 32;
    for (const char* n : {"[Measures].[Sales]", "[Measures].[Quantity]", "[Measures].[Cost]",
                          "[Measures].[Margin]", "Sales", "Quantity", "Cost"})
      m_Names[n] |= 16;
    for (const char* n : {"[Time].[Calendar].[Month].[Days]", "Days"}) m_Names[n] |= 1;
  }

  mutable std::atomic<int> m_Calls{0};

  // Makes `name` known with the classification `bits` (those of classifyBracedName).
  void addName(const char* name, unsigned bits) { m_Names[name] |= bits; }

  int classifyName(const TOVAString& name, TOVAString& tokenText) const override {
    ++m_Calls;
    tokenText = name;
    auto it = m_Names.find(name);
    if (it == m_Names.end()) return 0;
    unsigned bits = it->second;
    if (bits & 2) return 2;
    if (bits & 8) return 4;
    if (bits & 16) return 6;
    if (bits & 32) return 5;
    return bits & 1 ? 1 : 0;
  }
  unsigned classifyBracedName(const TOVAString& name, int pass) const override {
    ++m_Calls;
    if (pass != 0) return 0;
    auto it = m_Names.find(name);
    return it == m_Names.end() ? 0U : it->second;
  }
  bool supports(int capability) const override { return capability == 10 && m_bAggregate; }

  void prepareForFlattening() override {}
  void getProviderName(TOVAString& out) const override { out = "test"; }
  void addConnectionListener(ConnectionListener*) override {}
  bool addListener(Listener*) override { return false; }
  void removeConnectionListener(ConnectionListener*) override {}
  void removeListener(Listener*) override {}
  const std::vector<NUVA_o::Dimension*>& getDimensions() const override { return m_Dimensions; }
  NUVA_o::Dimension* getCalculationDimension() const override { return nullptr; }
  NUVA_o::Dimension* getDimensionByName(const TOVAString&) const override { return nullptr; }
  void persistCalculatedMembers(XmlSupport&, DOMElement*) const override {}
  void restoreCalculatedMembers(DOMElement*) override {}
  NUVA_o::Parameter* getParameterByName(const TOVAString&) const override { return nullptr; }
  std::vector<auto_unuse<NUVA_o::Parameter>> getParameters() const override {
    ++m_ParameterCalls;
    return {};
  }
  bool hasParameters() const override { return false; }
  NUVA_o::Hierarchy* getHierarchyByUniqueName(const TOVAString&) const override { return nullptr; }
  bool getDefaultAxisNullFilter() const override { return false; }
  NUVA_o::RowsetDataModel* executeQuery(NUVA_o::tovasql_parser::TOVASQLExpression*) override {
    return nullptr;
  }
  int getStringColumnDisplaySize() const override { return -1; }
  bool supportsTechnicalNames() const override { return false; }
  void normalizeKey(TOVAString& out, const TOVAString& key) const override { out = key; }
  const TOVAString& getName() const override { return m_Name; }

  mutable int m_ParameterCalls = 0;

 private:
  bool m_bAggregate;
  std::map<TOVAString, unsigned> m_Names;
  std::vector<NUVA_o::Dimension*> m_Dimensions;
  TOVAString m_Name{"Sales"};
};

}  // namespace vtq_testing
