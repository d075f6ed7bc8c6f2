#include "MemoryCubeImpl.h"

#include <algorithm>
#include <limits>

#include "FactRequest.h"
#include "FlatQuery.h"
#include "QueryEngine.h"
#include "common/ComponentLog.h"
#include "support/CoreLog.h"
#include "support/Exceptions.h"

namespace memory {

const TOVAString& providerName() {
  static const TOVAString name("memory");
  return name;
}

const TOVAString& moduleName() {
  static const TOVAString name("MEMORYPROVIDER");
  return name;
}

void registerMessages() {
  static std::once_flag once;
  std::call_once(once, [] {
    support_dll::CoreLog* log = support_dll::CoreLog::getLogObject();
    log->registerMessage(MEMORY_E_DEFINITION_FILE, "Cannot read the cube definition '%1': %2.");
    log->registerMessage(MEMORY_E_DEFINITION_XML, "%1, line %2: malformed XML: %3");
    log->registerMessage(MEMORY_E_DEFINITION, "%1, line %2: %3");
    log->registerMessage(MEMORY_E_CSV, "%1, line %2: %3");
    log->registerMessage(MEMORY_E_BUILDER, "Invalid cube: %1");
    log->registerMessage(MEMORY_E_EXPRESSION, "The member set expression '%1' is not supported: %2");
    log->registerMessage(MEMORY_E_UNKNOWN_MEMBER, "Hierarchy '%1' has no member '%2'.");
    log->registerMessage(MEMORY_E_UNSUPPORTED, "The memory provider does not support %1.");
    log->registerMessage(MEMORY_E_MEMBERSET_XML, "Invalid member set element: %1");
    log->registerMessage(MEMORY_E_FOREIGN_OBJECT, "%1: the object does not belong to the memory provider.");
    log->registerMessage(MEMORY_E_PARAMETER_DEFINITION, "Parameter %1: %2.");
    log->registerMessage(MEMORY_E_PARAMETER_VALUE, "Parameter %1 does not admit %2: %3.");
  });
}

TOVAString bracket(const TOVAString& name) {
  TOVAString out("[");
  for (char16_t c : name.u16()) {
    out.append(c);
    if (c == u']') out.append(c);
  }
  out.append(u']');
  return out;
}

TOVAString upper(const TOVAString& text) {
  TOVAString out(text);
  out.toUpper();
  return out;
}

// ---- parts owned by the cube --------------------------------------------------------------

olap_api::RefCount& MemberPropertyImpl::cubeRefCount() const { return *m_pCube; }
olap_api::RefCount& FieldImpl::cubeRefCount() const { return *m_pCube; }
olap_api::RefCount& CalculationImpl::cubeRefCount() const { return *m_pCube; }
olap_api::RefCount& LevelImpl::cubeRefCount() const { return *m_pHierarchy->cube(); }
olap_api::RefCount& HierarchyImpl::cubeRefCount() const { return *cube(); }
olap_api::RefCount& DimensionImpl::cubeRefCount() const { return *m_pCube; }

NUVA_o::Hierarchy* LevelImpl::getHierarchy() const { return m_pHierarchy; }

CubeImpl* HierarchyImpl::cube() const { return m_pDimension->cube(); }
NUVA_o::Dimension* HierarchyImpl::getDimension() const { return m_pDimension; }

NUVA_o::Level* HierarchyImpl::getLevel(int index) const {
  if (index < 0 || static_cast<size_t>(index) >= m_Levels.size()) return nullptr;
  return m_Levels[static_cast<size_t>(index)].get();
}

int32_t HierarchyImpl::findMember(const TOVAString& uniqueName) const {
  auto it = m_MemberIndex.find(uniqueName);
  if (it != m_MemberIndex.end()) return it->second;
  // Unique names are compared without regard to case as a second chance.
  auto upperIt = m_UpperMemberIndex.find(upper(uniqueName));
  return upperIt == m_UpperMemberIndex.end() ? -1 : upperIt->second;
}

void HierarchyImpl::getMemberProperties(std::vector<NUVA_o::MemberProperty*>& out) const {
  for (const auto& level : m_Levels)
    for (const auto& property : level->m_Properties) out.push_back(property.get());
}

void HierarchyImpl::getCalculations(std::map<TOVAString, NUVA_o::Calculation*>& out) const {
  for (const auto& calculation : m_Calculations)
    out[calculation->getUniqueName()] = calculation.get();
}

void HierarchyImpl::add_calculated_member(size_t k) {
  const CalculationImpl& calculation = *m_Calculations[k];
  MemberNode node;
  node.name = calculation.getName();
  node.caption = calculation.getName();
  node.uniqueName = calculation.getUniqueName();
  node.calculation = static_cast<int32_t>(k);
  if (!m_Levels.empty()) node.properties.resize(m_Levels.front()->m_Properties.size());
  const auto index = static_cast<int32_t>(m_Members.size());
  m_MemberIndex.emplace(node.uniqueName, index);
  m_UpperMemberIndex.emplace(upper(node.uniqueName), index);
  m_Members.push_back(std::move(node));
  if (!m_Levels.empty()) m_Levels.front()->m_Members.push_back(index);
}

NUVA_o::Member* HierarchyImpl::getDefaultMember() const {
  if (m_Members.empty()) return nullptr;
  return new MemberImpl(const_cast<HierarchyImpl*>(this), m_DefaultMember);
}

NUVA_o::Field* HierarchyImpl::find_field(const TOVAString& name, bool attributesOnly) const {
  const FieldImpl* found = nullptr;
  for (const auto& field : m_Fields) {
    if (attributesOnly && field->getFieldCategory() == FK_MEASURE) continue;
    if (field->getUniqueName() == name || field->getName() == name) {
      found = field.get();
      break;
    }
  }
  if (!found) {
    for (const auto& field : m_Fields) {
      if (attributesOnly && field->getFieldCategory() == FK_MEASURE) continue;
      if (field->getUniqueName().compare(name, 0) == 0 || field->getName().compare(name, 0) == 0) {
        found = field.get();
        break;
      }
    }
  }
  if (!found) return nullptr;
  auto* field = const_cast<FieldImpl*>(found);
  field->use();
  return field;
}

NUVA_o::Field* HierarchyImpl::getFieldByName(const TOVAString& name) const {
  return find_field(name, false);
}

NUVA_o::Field* HierarchyImpl::getAttributeField(const TOVAString& name) const {
  return find_field(name, true);
}

namespace {

// A field made for an expression: a counted object of its own that keeps the cube alive.
class CalculatedField final : public support::RefCountImpl,
                              public FieldOperations<NUVA_o::Field> {
 public:
  CalculatedField(CubeImpl* cube, FieldDescription description)
      : RefCountImpl("MemoryCalculatedField", support::nextInstanceNumber<CalculatedField>()),
        FieldOperations(std::move(description)),
        m_Cube(auto_unuse<CubeImpl>::share(cube)) {}
  uint32_t use() override { return RefCountImpl::use(); }
  uint32_t unuse() override { return RefCountImpl::unuse(); }

 private:
  ~CalculatedField() override = default;
  auto_unuse<CubeImpl> m_Cube;
};

}  // namespace

NUVA_o::Field* HierarchyImpl::getCalculatedField(const TOVAString& expression) const {
  if (expression.empty()) return nullptr;
  FieldDescription description;
  description.kind = FK_CALCULATED;
  description.name = expression;
  description.caption = expression;
  description.hierarchy = const_cast<HierarchyImpl*>(this);
  // An expression naming one of the hierarchy's calculations takes over its names.
  for (const auto& calculation : m_Calculations) {
    if (calculation->getUniqueName().compare(expression, 0) == 0 ||
        calculation->getExpression() == expression) {
      description.name = calculation->getName();
      description.caption = calculation->getName();
      description.uniqueName = calculation->getUniqueName();
      description.description = calculation->getExpression();
      break;
    }
  }
  if (description.uniqueName.empty()) {
    description.uniqueName = expression;
    description.description = expression;
  }
  return new CalculatedField(cube(), std::move(description));
}

std::vector<NUVA_o::Hierarchy*> DimensionImpl::getHierarchies() const {
  std::vector<NUVA_o::Hierarchy*> out;
  out.reserve(m_Hierarchies.size());
  for (const auto& hierarchy : m_Hierarchies) out.push_back(hierarchy.get());
  return out;
}

NUVA_o::Hierarchy* DimensionImpl::getHierarchy(const TOVAString& name) const {
  for (const auto& hierarchy : m_Hierarchies)
    if (hierarchy->getName() == name || hierarchy->getUniqueName() == name) return hierarchy.get();
  return nullptr;
}

NUVA_o::Hierarchy* DimensionImpl::getDefaultHierarchy() const {
  return m_Hierarchies.empty() ? nullptr : m_Hierarchies[m_DefaultHierarchy].get();
}

// ---- the cube ----------------------------------------------------------------------------

unsigned CubeImpl::getScanThreads() const {
  const unsigned threads = m_ScanThreads.load();
  return threads == 0 ? ScanPool::hardwareThreads() : threads;
}

std::shared_ptr<ScanPool> CubeImpl::scanPool() const {
  const unsigned threads = getScanThreads();
  std::lock_guard<std::mutex> lock(m_PoolMutex);
  if (threads <= 1) return nullptr;
  // A scan still running on a pool of another size keeps that pool until it ends.
  if (!m_pPool || m_pPool->threads() != threads) m_pPool = std::make_shared<ScanPool>(threads);
  return m_pPool;
}

CubeImpl::CubeImpl(TOVAString name, std::vector<std::unique_ptr<DimensionImpl>> dimensions,
                   FactTable facts, CubeSettings settings)
    : RefCountImpl("MemoryCube", support::nextInstanceNumber<CubeImpl>()),
      m_Name(std::move(name)),
      m_Dimensions(std::move(dimensions)),
      m_Facts(std::move(facts)) {
  for (auto& dimension : m_Dimensions) {
    dimension->setCube(this);
    m_DimensionList.push_back(dimension.get());
    for (auto& hierarchy : dimension->m_Hierarchies)
      m_HierarchyIndex.emplace(hierarchy->getUniqueName(), hierarchy.get());
  }
  for (size_t i = 0; i < settings.capabilities.size(); ++i)
    if (settings.capabilities[i]) setCapability(static_cast<int>(i), true);
  m_StringColumnDisplaySize = settings.stringColumnDisplaySize;
  m_bTechnicalNames = settings.technicalNames;
  m_bDefaultAxisNullFilter = settings.defaultAxisNullFilter;
}

void CubeImpl::reindex() {
  m_NameKinds.clear();
  m_UpperNameKinds.clear();
  index_names();
}

CubeImpl::~CubeImpl() = default;

void CubeImpl::addConnectionListener(ConnectionListener* listener) {
  m_ConnectionListeners.add(listener);
}

void CubeImpl::removeConnectionListener(ConnectionListener* listener) {
  m_ConnectionListeners.remove(listener);
}

bool CubeImpl::addListener(Listener* listener) {
  if (!listener) return false;
  m_Listeners.add(listener);
  return true;
}

void CubeImpl::removeListener(Listener* listener) {
  m_Listeners.remove(listener);
}

void CubeImpl::closeConnection() {
  // The listeners may drop their references to the cube while being told.
  auto_unuse<CubeImpl> keepAlive = auto_unuse<CubeImpl>::share(this);
  m_ConnectionListeners.notify([](ConnectionListener* listener) { listener->connectionClosing(); });
}

NUVA_o::Dimension* CubeImpl::getCalculationDimension() const {
  for (const auto& dimension : m_Dimensions)
    if (dimension->m_IsMeasures) return dimension.get();
  return nullptr;
}

NUVA_o::Dimension* CubeImpl::getDimensionByName(const TOVAString& name) const {
  for (const auto& dimension : m_Dimensions)
    if (dimension->getName() == name || dimension->getUniqueName() == name) return dimension.get();
  return nullptr;
}

void CubeImpl::setCapability(int capability, bool on) {
  if (capability < 0 || capability >= 64) return;
  const uint64_t bit = uint64_t{1} << capability;
  if (on)
    m_Capabilities.fetch_or(bit);
  else
    m_Capabilities.fetch_and(~bit);
}

int CubeImpl::getStringColumnDisplaySize() const {
  const int given = m_StringColumnDisplaySize.load();
  if (given >= 0) return given;
  int widest = m_WidestText.load();
  if (widest >= 0) return widest;
  size_t longest = 1;
  for (const auto& dimension : m_Dimensions)
    for (const auto& hierarchy : dimension->m_Hierarchies)
      for (int32_t m = 0; m < hierarchy->memberCount(); ++m) {
        const MemberNode& member = hierarchy->member(m);
        longest = std::max({longest, member.uniqueName.length(), member.name.length(),
                            member.caption.length()});
        for (const TOVAString& value : member.properties) longest = std::max(longest, value.length());
      }
  widest = static_cast<int>(std::min<size_t>(longest, std::numeric_limits<int>::max()));
  m_WidestText.store(widest);
  return widest;
}

bool CubeImpl::supports(int capability) const {
  if (capability < 0 || capability >= 64) return false;
  return (m_Capabilities.load() >> capability) & 1U;
}

HierarchyImpl* CubeImpl::findHierarchy(const TOVAString& uniqueName) const {
  auto it = m_HierarchyIndex.find(uniqueName);
  if (it != m_HierarchyIndex.end()) return it->second;
  for (const auto& [name, hierarchy] : m_HierarchyIndex)
    if (name.compare(uniqueName, 0) == 0) return hierarchy;
  return nullptr;
}

NUVA_o::Hierarchy* CubeImpl::getHierarchyByUniqueName(const TOVAString& uniqueName) const {
  HierarchyImpl* hierarchy = findHierarchy(uniqueName);
  if (hierarchy) hierarchy->use();
  return hierarchy;
}



NUVA_o::RowsetDataModel* CubeImpl::executeQuery(NUVA_o::tovasql_parser::TOVASQLExpression* root) {
  if (!root) raise_query<InvalidArgumentExceptionImpl>(MEMORY_E_QUERY, "a flat request without a tree");
  if (m_pFactSource) return execute_flat_elsewhere(*this, *root);
  return execute_flat_query(*this, *root);
}

void CubeImpl::normalizeKey(TOVAString& out, const TOVAString& key) const {
  // Blanks around the key are not part of it; a key naming a field in another letter case
  // becomes the field's unique name.
  size_t begin = 0, end = key.size();
  while (begin < end && (key[begin] == u' ' || key[begin] == u'\t')) ++begin;
  while (end > begin && (key[end - 1] == u' ' || key[end - 1] == u'\t')) --end;
  out = key.substr(begin, end - begin);
  for (const auto& dimension : m_Dimensions)
    for (const auto& hierarchy : dimension->m_Hierarchies)
      for (const auto& field : hierarchy->m_Fields)
        if (field->getUniqueName().compare(out, 0) == 0) {
          out = field->getUniqueName();
          return;
        }
}

// ---- name classification -----------------------------------------------------------------

namespace {

// Bits of classifyBracedName.
enum : unsigned {
  NB_OTHER = 1,
  NB_DIMENSION = 2,
  NB_LEVEL = 8,
  NB_MEASURE = 16,
  NB_MEMBER = 32,
};

int kind_of_bits(unsigned bits) {
  if (bits & NB_DIMENSION) return 2;
  if (bits & NB_LEVEL) return 4;
  if (bits & NB_MEASURE) return 6;
  if (bits & NB_MEMBER) return 5;
  if (bits & NB_OTHER) return 1;
  return 0;
}

}  // namespace

void CubeImpl::register_name(const TOVAString& text, int bits) {
  if (text.empty()) return;
  m_NameKinds[text] |= bits;
  m_UpperNameKinds[upper(text)] |= bits;
}

void CubeImpl::add_calculation_names(const CalculationImpl& calculation) {
  const int bits = calculation.hierarchy()->dimension()->m_IsMeasures ? NB_MEASURE : NB_MEMBER;
  register_name(calculation.getUniqueName(), bits);
  register_name(calculation.getName(), bits);
}

void CubeImpl::index_names() {
  // Room for every name up front: most are members' unique names, names and captions.
  size_t names = 0;
  for (const auto& dimension : m_Dimensions)
    for (const auto& hierarchy : dimension->m_Hierarchies) names += 2 * hierarchy->m_Members.size() + 16;
  m_NameKinds.reserve(names);
  m_UpperNameKinds.reserve(names);
  for (const auto& dimension : m_Dimensions) {
    register_name(dimension->getUniqueName(), NB_DIMENSION);
    register_name(dimension->getName(), NB_DIMENSION);
    for (const auto& hierarchy : dimension->m_Hierarchies) {
      register_name(hierarchy->getUniqueName(), NB_DIMENSION);
      register_name(hierarchy->getName(), NB_DIMENSION);
      for (const auto& level : hierarchy->m_Levels) {
        register_name(level->getUniqueName(), NB_LEVEL);
        register_name(level->getName(), NB_LEVEL);
        for (const auto& property : level->m_Properties) {
          register_name(property->getUniqueName(), NB_OTHER);
          register_name(property->getName(), NB_OTHER);
        }
      }
      const int memberBits = dimension->m_IsMeasures ? NB_MEASURE : NB_MEMBER;
      for (const MemberNode& member : hierarchy->m_Members) {
        register_name(member.uniqueName, memberBits);
        register_name(member.name, memberBits);
        // A caption is most often the name, registered just above.
        if (member.caption != member.name) register_name(member.caption, memberBits);
      }
      for (const auto& calculation : hierarchy->m_Calculations) add_calculation_names(*calculation);
    }
  }
}

int CubeImpl::classifyName(const TOVAString& name, TOVAString& tokenText) const {
  tokenText = name;
  auto it = m_NameKinds.find(name);
  if (it != m_NameKinds.end()) return kind_of_bits(static_cast<unsigned>(it->second));
  auto upperIt = m_UpperNameKinds.find(upper(name));
  if (upperIt != m_UpperNameKinds.end()) return kind_of_bits(static_cast<unsigned>(upperIt->second));
  return 0;
}

unsigned CubeImpl::classifyBracedName(const TOVAString& name, int pass) const {
  if (pass == 0) {
    auto it = m_NameKinds.find(name);
    return it == m_NameKinds.end() ? 0U : static_cast<unsigned>(it->second);
  }
  auto it = m_UpperNameKinds.find(upper(name));
  return it == m_UpperNameKinds.end() ? 0U : static_cast<unsigned>(it->second);
}

// ---- calculated members ------------------------------------------------------------------

void CubeImpl::persistCalculatedMembers(XmlSupport& xml, DOMElement* parent) const {
  DOMElement* members = xml.addAChild(parent, "CalculatedMembers");
  for (const auto& dimension : m_Dimensions)
    for (const auto& hierarchy : dimension->m_Hierarchies)
      for (const auto& calculation : hierarchy->m_Calculations) {
        DOMElement* element = xml.addAChild(members, "CalculatedMember");
        XmlSupport::write_to(element, "Hierarchy", hierarchy->getUniqueName());
        XmlSupport::write_to(element, "Name", calculation->getName());
        XmlSupport::write_to(element, "Expression", calculation->getExpression());
        XmlSupport::write_to(element, "Format", static_cast<int>(calculation->getCalculationFormat()));
      }
}

void CubeImpl::restoreCalculatedMembers(DOMElement* element) {
  if (!element) return;
  DOMElement* members = XmlSupport::getNodeName(element) == "CalculatedMembers"
                            ? element
                            : XmlSupport::findChild(element, "CalculatedMembers");
  if (!members) return;
  static const common::ComponentLog log(moduleName(), "MemoryCube");
  std::vector<const CalculationImpl*> changed;
  for (DOMElement* child = XmlSupport::getFirstChildElement(members); child;
       child = child->getNextElementSibling()) {
    if (XmlSupport::getNodeName(child) != "CalculatedMember") continue;
    const TOVAString hierarchyName = XmlSupport::getAttribute(child, "Hierarchy");
    const TOVAString name = XmlSupport::getAttribute(child, "Name");
    const TOVAString expression = XmlSupport::getAttribute(child, "Expression");
    const long format = XmlSupport::getNumberAttribute(child, "Format");
    HierarchyImpl* hierarchy = findHierarchy(hierarchyName);
    if (!hierarchy || name.empty()) {
      log.logAt(3, "MemoryCube::restoreCalculatedMembers: skipping calculated member '%s' of "
                   "hierarchy '%s'", name, hierarchyName);
      continue;
    }
    const TOVAString uniqueName = hierarchy->getUniqueName() + TOVAString(".") + bracket(name);
    const int32_t member = hierarchy->findMember(uniqueName);
    if (member >= 0 && hierarchy->member(member).calculation < 0) {
      // A calculation may not hide a member of the cube: queries would not know which is meant.
      log.logAt(3, "MemoryCube::restoreCalculatedMembers: skipping calculated member '%s', a member "
                   "of hierarchy '%s' has its name", name, hierarchyName);
      continue;
    }
    auto existing = std::find_if(hierarchy->m_Calculations.begin(), hierarchy->m_Calculations.end(),
                                 [&](const auto& c) { return c->getUniqueName() == uniqueName; });
    if (existing != hierarchy->m_Calculations.end()) {
      if ((*existing)->getExpression() != expression) {
        // Changed in place: pointers handed out stay valid.
        (*existing)->redefine(expression, static_cast<NUVA_o::CalculationFormat>(format));
        changed.push_back(existing->get());
      }
      continue;
    }
    hierarchy->m_Calculations.push_back(std::make_unique<CalculationImpl>(
        this, hierarchy, name, uniqueName, expression, static_cast<NUVA_o::CalculationFormat>(format)));
    add_calculation_names(*hierarchy->m_Calculations.back());
    if (hierarchy->dimension()->m_IsMeasures) hierarchy->add_calculated_member(hierarchy->m_Calculations.size() - 1);
  }
  if (changed.empty()) return;
  for (const CalculationImpl* calculation : changed)
    m_Listeners.notify([&](Listener* listener) {
      auto* mutableCalculation = const_cast<CalculationImpl*>(calculation);
      if (auto* handler = listener->doYouCareAboutThis(mutableCalculation)) {
        handler->expressionChanged(calculation);
        handler->finish();
      }
    });
}

// ---- member objects ----------------------------------------------------------------------

MemberImpl::MemberImpl(HierarchyImpl* hierarchy, int32_t index)
    : RefCountImpl("MemoryMember", support::nextInstanceNumber<MemberImpl>()),
      m_pHierarchy(hierarchy),
      m_UniqueName(hierarchy->member(index).uniqueName),
      m_Index(index) {
  m_pHierarchy->use();
}

MemberImpl::~MemberImpl() { m_pHierarchy->unuse(); }

int32_t MemberImpl::index() const {
  std::lock_guard<std::mutex> lock(m_Mutex);
  return m_Index;
}

const TOVAString& MemberImpl::getUniqueName() const { return m_UniqueName; }

int MemberImpl::getMemberType() const {
  const int32_t i = index();
  if (i < 0) return MT_UNRESOLVED;
  return m_pHierarchy->member(i).calculation >= 0 ? MT_FORMULA : MT_REGULAR;
}

bool MemberImpl::isDefaultMember() const { return index() == m_pHierarchy->m_DefaultMember; }

const TOVAString& MemberImpl::getCaption() const {
  const int32_t i = index();
  return i < 0 ? TOVAString::nullString() : m_pHierarchy->member(i).caption;
}

int MemberImpl::getLevelNumber() const {
  const int32_t i = index();
  return i < 0 ? -1 : m_pHierarchy->member(i).level;
}

void MemberImpl::moveTo(const TOVAString& uniqueName) {
  const int32_t target = m_pHierarchy->findMember(uniqueName);
  move_to(target < 0 ? uniqueName : m_pHierarchy->member(target).uniqueName, target);
}

void MemberImpl::moveTo(const NUVA_o::Member* other) {
  if (!other) raise<InvalidArgumentExceptionImpl>(MEMORY_E_FOREIGN_OBJECT, "Member::moveTo(null)");
  if (other == this) return;
  auto* same = dynamic_cast<const MemberImpl*>(other);
  if (same && same->m_pHierarchy == m_pHierarchy) {
    const int32_t target = same->index();
    move_to(target < 0 ? same->getUniqueName() : m_pHierarchy->member(target).uniqueName, target);
    return;
  }
  moveTo(other->getUniqueName());
}

void MemberImpl::move_to(const TOVAString& uniqueName, int32_t target) {
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    if (target == m_Index && uniqueName == m_UniqueName) return;
    m_Index = target;
    m_UniqueName = uniqueName;
  }
  m_Listeners.notify([](MemberListener* listener) { listener->memberChanged(nullptr); });
}

void MemberImpl::addMemberListener(MemberListener* listener) { m_Listeners.add(listener); }

void MemberImpl::removeMemberListener(MemberListener* listener) { m_Listeners.remove(listener); }

}  // namespace memory
