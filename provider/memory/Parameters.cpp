// The cube's prompts: their provider descriptions with the checks a value must pass, and the
// library's parameters over them, which the cube holds.

#include <algorithm>

#include "MemoryCubeImpl.h"
#include "common/CommonParameter.h"
#include "support/StringConverters.h"

namespace memory {

namespace {

using NUVA_o::Parameter;

class ServerParameterImpl final : public support::RefCountImpl, public NUVA_o::ServerParameter {
 public:
  // `cube` is borrowed: the cube holds the parameter that holds this description.
  ServerParameterImpl(const CubeImpl* cube, ParameterDefinition definition, HierarchyImpl* hierarchy)
      : RefCountImpl("MemoryServerParameter", support::nextInstanceNumber<ServerParameterImpl>()),
        m_pCube(cube),
        m_Definition(std::move(definition)),
        m_pHierarchy(hierarchy),
        m_UniqueName(bracket(m_Definition.name)) {}

  uint32_t use() override { return RefCountImpl::use(); }
  uint32_t unuse() override { return RefCountImpl::unuse(); }
  const TOVAString& getUniqueName() const override { return m_UniqueName; }
  const TOVAString& getUniqueID() const override { return m_UniqueName; }
  const TOVAString& getCaption() const override { return m_Definition.caption; }
  const TOVAString& getDescription() const override { return m_Definition.description; }
  int32_t getType() const override { return m_Definition.type; }
  int32_t getEntryType() const override { return 0; }
  const TOVAString& getDimensionUniqueName() const override { return m_Definition.dimension; }
  const TOVAString& getHierarchyUniqueName() const override { return m_Definition.hierarchy; }
  NUVA_o::Hierarchy* getHierarchy() const override { return m_pHierarchy; }
  const TOVAString& getDefaultValue() const override { return m_Definition.defaultValue; }
  std::vector<TOVAString> getSetOfValues() const override { return m_Definition.values; }
  void getHierarchyNames(std::vector<TOVAString>& out) const override {
    if (m_Definition.type == Parameter::PT_HIERARCHY)
      out.insert(out.end(), m_Definition.values.begin(), m_Definition.values.end());
  }
  Parameter* getDependancy() const override { return nullptr; }
  bool validateParameterValue(const std::vector<TOVAString>&, const TOVAString& value,
                              const std::vector<TOVAString>&) const override {
    return admitted(value);
  }

  void validateNumericValue(double number) const override {
    if (number < m_Definition.minimum || number > m_Definition.maximum)
      refuse(StringConverters::convertRealToString(number, 15),
             TOVAString().build("outside %s to %s", StringConverters::convertRealToString(m_Definition.minimum, 15),
                                StringConverters::convertRealToString(m_Definition.maximum, 15)));
  }

  void validateMemberRangeValue(const NUVA_o::Member* start, const NUVA_o::Member* end) const override {
    member_index(start->getUniqueName());
    member_index(end->getUniqueName());
  }

  void validateMemberSetValue(const NUVA_o::MemberSet* memberSet) const override {
    if (m_pHierarchy && memberSet->getHierarchy() != m_pHierarchy)
      refuse(memberSet->getServerText(), "a set of another hierarchy");
  }

  TOVAString validateStringValue(const TOVAString& text) const override {
    if (m_Definition.type == Parameter::PT_HIERARCHY) {
      HierarchyImpl* hierarchy = m_pCube->findHierarchy(text);
      if (!hierarchy) refuse(text, "no such hierarchy");
      if (hierarchy->getDimension()->getUniqueName() != m_Definition.dimension)
        refuse(text, TOVAString("not a hierarchy of ") + m_Definition.dimension);
      if (!admitted(hierarchy->getUniqueName())) refuse(text, "not among the admitted hierarchies");
      return hierarchy->getUniqueName();
    }
    if (m_pHierarchy) {
      // A member of the prompt's hierarchy, in the hierarchy's spelling.
      const TOVAString& name = m_pHierarchy->member(member_index(text)).uniqueName;
      if (!admitted(name)) refuse(text, "not among the admitted values");
      return name;
    }
    if (!admitted(text)) refuse(text, "not among the admitted values");
    return text;
  }

  unsigned getFieldCount() const override { return 0; }
  NUVA_o::Field* getField(unsigned) const override { return nullptr; }

 private:
  ~ServerParameterImpl() override = default;

  bool admitted(const TOVAString& value) const {
    const auto& values = m_Definition.values;
    return values.empty() || std::find(values.begin(), values.end(), value) != values.end();
  }

  int32_t member_index(const TOVAString& uniqueName) const {
    if (!m_pHierarchy) refuse(uniqueName, "the parameter has no hierarchy");
    const int32_t index = m_pHierarchy->findMember(uniqueName);
    if (index < 0) refuse(uniqueName, TOVAString("no such member in ") + m_pHierarchy->getUniqueName());
    return index;
  }

  [[noreturn]] void refuse(const TOVAString& value, const TOVAString& why) const {
    raise<InvalidArgumentExceptionImpl>(MEMORY_E_PARAMETER_VALUE, m_UniqueName, value, why);
  }

  const CubeImpl* m_pCube;
  ParameterDefinition m_Definition;
  HierarchyImpl* m_pHierarchy;
  TOVAString m_UniqueName;
};

// Cube references that a parameter value holds through the provider's objects it keeps.
uint32_t references_of(const NUVA_o::ParameterValue& value) {
  switch (value.getValueType()) {
    case NUVA_o::ParameterValue::PV_MEMBER:
    case NUVA_o::ParameterValue::PV_MEMBERSET:
      return 1;
    case NUVA_o::ParameterValue::PV_MEMBERRANGE:
      return 2;
    default:
      return 0;
  }
}

}  // namespace

void CubeImpl::addParameter(const ParameterDefinition& definition) {
  auto refuse = [&definition](const TOVAString& problem) {
    raise<InvalidArgumentExceptionImpl>(MEMORY_E_PARAMETER_DEFINITION, definition.name, problem);
  };
  if (definition.name.empty()) refuse("a parameter needs a name");
  auto_unuse<NUVA_o::Parameter> existing(getParameterByName(definition.name));
  if (existing) refuse("declared twice");
  HierarchyImpl* hierarchy = nullptr;
  if (!definition.hierarchy.empty()) {
    hierarchy = findHierarchy(definition.hierarchy);
    if (!hierarchy) refuse(TOVAString("unknown hierarchy ") + definition.hierarchy);
  }
  if (definition.type == Parameter::PT_HIERARCHY) {
    if (!getDimensionByName(definition.dimension)) refuse(TOVAString("unknown dimension ") + definition.dimension);
    for (const TOVAString& name : definition.values) {
      HierarchyImpl* choice = findHierarchy(name);
      if (!choice || choice->getDimension()->getUniqueName() != definition.dimension)
        refuse(name + " is not a hierarchy of " + definition.dimension);
    }
  }
  ParameterDefinition copy = definition;
  if (hierarchy) {
    copy.hierarchy = hierarchy->getUniqueName();
    if (copy.dimension.empty()) copy.dimension = hierarchy->getDimension()->getUniqueName();
  }
  auto_unuse<ServerParameterImpl> server(new ServerParameterImpl(this, std::move(copy), hierarchy));
  if (!definition.defaultValue.empty()) {
    try {
      if (definition.type == Parameter::PT_NUMERIC) {
        double number = 0;
        if (!StringConverters::convertStringToReal(definition.defaultValue, number))
          refuse(TOVAString("the default '") + definition.defaultValue + "' is not a number");
        server->validateNumericValue(number);
      } else {
        // A member-set default is one member's unique name.
        (void)server->validateStringValue(definition.defaultValue);
      }
    } catch (const InvalidArgumentExceptionImpl& e) {
      refuse(TOVAString("the default value is refused: ") + e.getMessage());
    }
  }
  auto_unuse<NUVA_o::Parameter> parameter(createCommonParameter(this, server.get()));
  std::lock_guard<std::mutex> lock(m_ParameterMutex);
  m_Parameters.push_back(std::move(parameter));
  const uint32_t bound = m_ParameterReferenceBound.load();
  m_ParameterReferenceBound = definition.type == Parameter::PT_COMPLEX || bound > UINT32_MAX - 4
                                  ? UINT32_MAX
                                  : bound + 4;
  m_bHasParameters = true;
}

NUVA_o::Parameter* CubeImpl::getParameterByName(const TOVAString& name) const {
  std::lock_guard<std::mutex> lock(m_ParameterMutex);
  for (const auto& parameter : m_Parameters)
    if (parameter->getUniqueName() == name || parameter->getUniqueName() == bracket(name))
      return auto_unuse<NUVA_o::Parameter>::share(parameter.get()).release();
  return nullptr;
}

std::vector<auto_unuse<NUVA_o::Parameter>> CubeImpl::getParameters() const {
  std::lock_guard<std::mutex> lock(m_ParameterMutex);
  return m_Parameters;
}

bool CubeImpl::hasParameters() const { return m_bHasParameters.load(); }

uint32_t CubeImpl::references_held_by_parameters() const {
  uint32_t held = 0;
  std::lock_guard<std::mutex> lock(m_ParameterMutex);
  for (const auto& parameter : m_Parameters) {
    for (const auto& value : parameter->getParameterValues()) held += references_of(*value);
    for (const auto& value : parameter->getParameterDefaultValues()) held += references_of(*value);
  }
  return held;
}

uint32_t CubeImpl::unuse() {
  const uint32_t count = RefCountImpl::unuse();
  // Every flat tree node holds the cube: counting what the parameters hold on each release
  // was most of the cost of dropping a tree, and cannot matter while more is held than they
  // can hold.
  if (count == 0 || !m_bHasParameters.load() || count > m_ParameterReferenceBound.load()) return count;
  // Parameter values hold members and sets, which hold the cube. When they are all that holds
  // it, nobody can reach the parameters any more: let them go, and the cube with them.
  if (count != references_held_by_parameters()) return count;
  std::vector<auto_unuse<NUVA_o::Parameter>> parameters;
  {
    std::lock_guard<std::mutex> lock(m_ParameterMutex);
    parameters.swap(m_Parameters);
    m_bHasParameters = false;
  }
  // Releasing them may destroy this cube: nothing of it is touched afterwards.
  parameters.clear();
  return 0;
}

}  // namespace memory
