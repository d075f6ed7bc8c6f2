#pragma once

#include <vector>

#include "NUVA_o/Cube.h"
#include "NUVA_o/TOVASQLExpression.h"
#include "support/RefCountImpl.h"

namespace vtq_testing {

// A cube in front of another that counts the flat requests reaching it and forwards the
// rest (parameters included); it has no calculation dimension and no technical names.
class CountingCube : public support::RefCountImpl, public NUVA_o::Cube {
 public:
  explicit CountingCube(NUVA_o::Cube* cube)
      : RefCountImpl("CountingCube", support::nextInstanceNumber<CountingCube>()),
        m_pCube(auto_unuse<NUVA_o::Cube>::share(cube)) {}
  int executed = 0;

  NUVA_o::RowsetDataModel* executeQuery(NUVA_o::tovasql_parser::TOVASQLExpression* root) override {
    ++executed;
    return m_pCube->executeQuery(root);
  }
  void prepareForFlattening() override { m_pCube->prepareForFlattening(); }
  void getProviderName(TOVAString& out) const override { m_pCube->getProviderName(out); }
  void addConnectionListener(ConnectionListener*) override {}
  bool addListener(Listener*) override { return false; }
  void removeConnectionListener(ConnectionListener*) override {}
  void removeListener(Listener*) override {}
  const std::vector<NUVA_o::Dimension*>& getDimensions() const override {
    return m_pCube->getDimensions();
  }
  NUVA_o::Dimension* getCalculationDimension() const override { return nullptr; }
  NUVA_o::Dimension* getDimensionByName(const TOVAString& n) const override {
    return m_pCube->getDimensionByName(n);
  }
  bool supports(int c) const override { return m_pCube->supports(c); }
  void persistCalculatedMembers(XmlSupport&, DOMElement*) const override {}
  void restoreCalculatedMembers(DOMElement*) override {}
  int classifyName(const TOVAString& n, TOVAString& t) const override {
    return m_pCube->classifyName(n, t);
  }
  unsigned classifyBracedName(const TOVAString& n, int p) const override {
    return m_pCube->classifyBracedName(n, p);
  }
  NUVA_o::Parameter* getParameterByName(const TOVAString& n) const override {
    return m_pCube->getParameterByName(n);
  }
  std::vector<auto_unuse<NUVA_o::Parameter>> getParameters() const override {
    return m_pCube->getParameters();
  }
  bool hasParameters() const override { return m_pCube->hasParameters(); }
  NUVA_o::Hierarchy* getHierarchyByUniqueName(const TOVAString& n) const override {
    return m_pCube->getHierarchyByUniqueName(n);
  }
  bool getDefaultAxisNullFilter() const override { return false; }
  int getStringColumnDisplaySize() const override { return m_pCube->getStringColumnDisplaySize(); }
  bool supportsTechnicalNames() const override { return false; }
  void normalizeKey(TOVAString& out, const TOVAString& key) const override { out = key; }
  const TOVAString& getName() const override { return m_pCube->getName(); }

 private:
  ~CountingCube() override = default;
  auto_unuse<NUVA_o::Cube> m_pCube;
};

}  // namespace vtq_testing
