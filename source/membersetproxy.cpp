#include "NUVA_o/MemberSetProxy.h"

#include <algorithm>
#include <set>
#include <utility>

#include "common/ComponentLog.h"
#include "support/CoreLog.h"
#include "support/Exceptions.h"
#include "support/StringConverters.h"
#include "support/SystemSupport.h"

namespace NUVA_o {

namespace {

const TOVAString& traceName() {
  static const TOVAString name("MemberSetProxy");
  return name;
}

const TOVAString& historicalReferenceTraceName() {
  static const TOVAString name("HistoricalReferenceProxy");
  return name;
}

// Restore's lines are logged under a unit without a class name.
const common::ComponentLog& restoreLog() {
  static const common::ComponentLog log(common::moduleName(), TOVAString());
  return log;
}

TOVAString new_guid_text() {
  return StringConverters::convertGUIDToString(SystemSupport::GenerateGUID());
}

[[noreturn]] void raise_null_argument() {
  support::raise<InvalidArgumentExceptionImpl>(
      common::moduleName(), support::COMMON_E_INVALID_ARGUMENT, support::null_insert);
}

// The reference a proxy hands out for `assign`: a fresh proxy on the same recipe, whose
// server set is made when the reference is first followed.
class HistoricalReferenceProxy : public support::RefCountImpl,
                                 public MemberSet::HistoricalReference {
 public:
  HistoricalReferenceProxy(Hierarchy* hierarchy, const common::CreationRecord& record)
      : support::RefCountImpl(historicalReferenceTraceName(),
                              support::nextInstanceNumber<HistoricalReferenceProxy>()),
        m_pMemberSet(new MemberSetProxy(hierarchy, record)) {}

  void persist(XmlSupport& xml, DOMElement* parent) const override {
    m_pMemberSet->persistCreationRecord(xml, parent);
  }
  void restore(DOMElement* /*element*/, Cube* /*cube*/) override {
    support_dll::AssertionFailure("! \"HistoricalReferenceProxy::restore not implemented yet\"",
                                  "membersetproxy", __LINE__);
  }
  MemberSet* getMemberSet() override { return m_pMemberSet->getServerMemberSet(); }
  const TOVAString& getGuid() const override { return m_pMemberSet->getGuid(); }

 protected:
  ~HistoricalReferenceProxy() override = default;

 private:
  auto_unuse<MemberSetProxy> m_pMemberSet;
};

}  // namespace

MemberSetProxy::MemberSetProxy(Hierarchy* hierarchy, const common::CreationRecord& record)
    : support::StrongRef(traceName(), 0),
      m_Guid(new_guid_text()),
      m_CreationRecord(record),
      m_pHierarchy(auto_unuse<Hierarchy>::share(hierarchy)),
      m_pQueryPropertySet(std::make_unique<QueryPropertySetCommon>()) {}

MemberSetProxy::~MemberSetProxy() { release_member_properties(); }

void MemberSetProxy::release_member_properties() {
  // Taken out first so that a property's destruction never sees a half-emptied list.
  std::vector<MemberProperty*> properties;
  properties.swap(m_MemberProperties);
  for (MemberProperty* property : properties)
    if (property) property->unuse();
}

void MemberSetProxy::check_empty_invariant() const {
  if (m_CreationRecord.m_CreateSetAs != CS_CREATEEMPTY)
    support_dll::AssertionFailure("CS_CREATEEMPTY == m_CreationRecord.m_CreateSetAs",
                                  "membersetproxy", __LINE__);
}

// ---- creation ------------------------------------------------------------------------------

MemberSet* MemberSetProxy::getServerMemberSet() const {
  if (m_pServerMemberSet) return m_pServerMemberSet.get();
  // Creation changes only the proxy's own bookkeeping; callers see a const set either way.
  return const_cast<MemberSetProxy*>(this)->create_server_member_set();
}

MemberSet* MemberSetProxy::create_server_member_set() {
  if (m_pServerMemberSet) return m_pServerMemberSet.get();
  if (!m_pHierarchy)
    support::raise<InvalidPointerExceptionImpl>(
        common::moduleName(), support::COMMON_E_INVALID_POINTER,
        "MemberSetProxy: no hierarchy to create the member set from");

  auto_unuse<MemberSet> serverSet;
  if (m_CreationRecord.m_CreateSetAs == CS_CREATEFROMEXPRESSION) {
    serverSet.reset(m_pHierarchy->createMemberSetFromExpression(
        m_CreationRecord.m_Expression, m_CreationRecord.m_ExpressionLanguage));
  } else if (m_CreationRecord.m_LevelIndex == -1) {
    serverSet.reset(m_pHierarchy->createMemberSet(m_CreationRecord.m_CreateSetAs));
  } else {
    Level* level = m_pHierarchy->getLevel(m_CreationRecord.m_LevelIndex);
    // A record restored from a document may name a level the hierarchy no longer has.
    if (!level)
      support::raise<InvalidArgumentExceptionImpl>(
          common::moduleName(), support::COMMON_E_INVALID_ARGUMENT, m_pHierarchy->getUniqueName(),
          m_CreationRecord.m_LevelIndex);
    serverSet.reset(level->createMemberSet(m_CreationRecord.m_CreateSetAs));
  }
  if (!serverSet)
    support::raise<InvalidPointerExceptionImpl>(
        common::moduleName(), support::COMMON_E_INVALID_POINTER, m_pHierarchy->getUniqueName());

  // The settings are handed over in a fixed order; the proxy's own lists are emptied only
  // once every step succeeded, so that a provider failure leaves the proxy as it was.
  size_t listenersAdded = 0;
  try {
    serverSet->setGuid(m_Guid);
    serverSet->setName(m_Name);
    if (m_pHistoricalReference) {
      check_empty_invariant();
      serverSet->assign(m_pHistoricalReference->getMemberSet());
    }
    for (QueryProperty id : *m_pQueryPropertySet) serverSet->addQueryProperty(id);
    for (MemberProperty* property : m_MemberProperties) serverSet->addMemberProperty(property);
    for (MemberSetListener* listener : m_Listeners) {
      serverSet->addMemberSetListener(listener);
      ++listenersAdded;
    }
    serverSet->setRestricted(m_bRestricted);
    serverSet->setMemberSetOrder(m_MemberSetOrder);
  } catch (...) {
    // The abandoned set must not call our listeners when it goes away.
    for (size_t i = 0; i < listenersAdded; ++i) serverSet->removeMemberSetListener(m_Listeners[i]);
    throw;
  }

  m_pServerMemberSet = std::move(serverSet);
  m_pHistoricalReference.reset();
  m_pQueryPropertySet->clear();
  release_member_properties();
  m_Listeners.clear();
  return m_pServerMemberSet.get();
}

void MemberSetProxy::install_restored_set(auto_unuse<MemberSet> serverSet) {
  if (!serverSet)
    support::raise<InvalidPointerExceptionImpl>(
        common::moduleName(), support::COMMON_E_INVALID_POINTER,
        m_pHierarchy ? m_pHierarchy->getUniqueName() : TOVAString());
  for (MemberSetListener* listener : m_Listeners) serverSet->addMemberSetListener(listener);
  m_Listeners.clear();
  m_pHistoricalReference.reset();
  m_pServerMemberSet = std::move(serverSet);
}

// ---- operations ----------------------------------------------------------------------------

void MemberSetProxy::query(QueryArgument* argument) {
  if (m_pServerMemberSet) {
    m_pServerMemberSet->query(argument);
    return;
  }
  getServerMemberSet()->query(nullptr);
}

void MemberSetProxy::setGuid(const TOVAString& /*guid*/) {}

const TOVAString& MemberSetProxy::getGuid() const { return m_Guid; }

void MemberSetProxy::setName(const TOVAString& name) {
  m_Name = name;
  if (m_pServerMemberSet) m_pServerMemberSet->setName(name);
}

const TOVAString& MemberSetProxy::getName() const {
  if (m_pServerMemberSet) return m_pServerMemberSet->getName();
  return m_Name;
}

MemberSet::HistoricalReference* MemberSetProxy::getHistoricalReference() const {
  if (m_pServerMemberSet) return m_pServerMemberSet->getHistoricalReference();
  if (m_pHistoricalReference) {
    check_empty_invariant();
    return m_pHistoricalReference.share();
  }
  return new HistoricalReferenceProxy(m_pHierarchy.get(), m_CreationRecord);
}

TOVAString MemberSetProxy::getServerText() const { return getServerMemberSet()->getServerText(); }

void MemberSetProxy::persistCreationRecord(XmlSupport& xml, DOMElement* element) const {
  if (m_pServerMemberSet) {
    m_pServerMemberSet->persistCreationRecord(xml, element);
    return;
  }
  m_CreationRecord.persist(xml, element);
}

void MemberSetProxy::executeOnServer() { getServerMemberSet()->executeOnServer(); }

void MemberSetProxy::addMemberSetListener(MemberSetListener* listener) {
  if (m_pServerMemberSet) {
    m_pServerMemberSet->addMemberSetListener(listener);
    return;
  }
  if (listener) m_Listeners.push_back(listener);
}

void MemberSetProxy::removeMemberSetListener(MemberSetListener* listener) {
  if (m_pServerMemberSet) {
    m_pServerMemberSet->removeMemberSetListener(listener);
    return;
  }
  // Every occurrence, as the server set's own list removes them.
  std::erase(m_Listeners, listener);
}

const common::CreationRecord& MemberSetProxy::getCreationRecord() const {
  if (m_pServerMemberSet) return m_pServerMemberSet->getCreationRecord();
  return m_CreationRecord;
}

void MemberSetProxy::setServerOption(long option) {
  if (m_pServerMemberSet) m_pServerMemberSet->setServerOption(option);
}

int32_t MemberSetProxy::getMemberSetOrder() const {
  if (m_pServerMemberSet) return m_pServerMemberSet->getMemberSetOrder();
  return m_MemberSetOrder;
}

void MemberSetProxy::setMemberSetOrder(int32_t order) {
  if (m_pServerMemberSet) {
    m_pServerMemberSet->setMemberSetOrder(order);
    return;
  }
  m_MemberSetOrder = order;
}

int MemberSetProxy::getSizeHint() const {
  return m_pServerMemberSet ? m_pServerMemberSet->getSizeHint() : 4;
}

int MemberSetProxy::getDepthHint() const {
  return m_pServerMemberSet ? m_pServerMemberSet->getDepthHint() : 1;
}

bool MemberSetProxy::isServerFlagA() const {
  return m_pServerMemberSet ? m_pServerMemberSet->isServerFlagA() : false;
}

bool MemberSetProxy::isServerFlagB() const {
  return m_pServerMemberSet ? m_pServerMemberSet->isServerFlagB() : false;
}

void MemberSetProxy::serverOperationA() { getServerMemberSet()->serverOperationA(); }

MemberSetCommand* MemberSetProxy::createCommand() { return getServerMemberSet()->createCommand(); }

Hierarchy* MemberSetProxy::getHierarchy() const {
  if (m_pServerMemberSet) return m_pServerMemberSet->getHierarchy();
  return m_pHierarchy.get();
}

void MemberSetProxy::serverOperationB() { getServerMemberSet()->serverOperationB(); }
void MemberSetProxy::serverOperationC() { getServerMemberSet()->serverOperationC(); }
void MemberSetProxy::serverOperationD() { getServerMemberSet()->serverOperationD(); }
void MemberSetProxy::serverOperationE() { getServerMemberSet()->serverOperationE(); }

int32_t MemberSetProxy::getLevelIndex() const {
  if (m_pServerMemberSet) return m_pServerMemberSet->getLevelIndex();
  return m_CreationRecord.m_LevelIndex;
}

void MemberSetProxy::setServerValue(long value) {
  if (m_pServerMemberSet) m_pServerMemberSet->setServerValue(value);
}

long MemberSetProxy::getServerCount() const {
  if (m_pServerMemberSet) return m_pServerMemberSet->getServerCount();
  // A set assigned from another one is recorded as empty but takes over the other set's
  // members when it is made, so only a truly empty recipe can answer without the provider.
  if (m_CreationRecord.m_CreateSetAs == CS_CREATEEMPTY && !m_pHistoricalReference) return 0;
  return getServerMemberSet()->getServerCount();
}

bool MemberSetProxy::isRestricted() const {
  if (m_pServerMemberSet) return m_pServerMemberSet->isRestricted();
  return m_bRestricted;
}

void MemberSetProxy::setRestricted(bool restricted) {
  if (m_pServerMemberSet) {
    m_pServerMemberSet->setRestricted(restricted);
    return;
  }
  if (restricted)
    removeQueryProperty(UNRESTRICTED);
  else
    addQueryProperty(UNRESTRICTED);
}

void MemberSetProxy::serverOperationF() { getServerMemberSet()->serverOperationF(); }

void MemberSetProxy::addQueryProperty(int id) {
  // Inserts: the identifier, then the range it must lie in.
  if (id < 0 || id >= QUERY_PROPERTY_COUNT)
    support::raise<InvalidArgumentExceptionImpl>(
        common::moduleName(), support::COMMON_E_INVALID_ARGUMENT, id, 0, QUERY_PROPERTY_COUNT - 1);
  if (m_pServerMemberSet) {
    m_pServerMemberSet->addQueryProperty(id);
    return;
  }
  m_pQueryPropertySet->insert(static_cast<QueryProperty>(id));
  if (id == UNRESTRICTED) m_bRestricted = false;
}

void MemberSetProxy::removeQueryProperty(int id) {
  if (m_pServerMemberSet) {
    m_pServerMemberSet->removeQueryProperty(id);
    return;
  }
  if (!m_pHistoricalReference) {
    if (id < 0 || id >= QUERY_PROPERTY_COUNT) return;
    if (m_pQueryPropertySet->erase(static_cast<QueryProperty>(id)) && id == UNRESTRICTED)
      m_bRestricted = true;
    return;
  }
  check_empty_invariant();
  if (!hasQueryProperty(id)) return;
  getServerMemberSet()->removeQueryProperty(id);
}

bool MemberSetProxy::hasQueryProperty(int id) const {
  if (m_pServerMemberSet) return m_pServerMemberSet->hasQueryProperty(id);
  if (id < 0 || id >= QUERY_PROPERTY_COUNT) return false;
  return m_pQueryPropertySet->count(static_cast<QueryProperty>(id)) != 0;
}

const QueryPropertySet* MemberSetProxy::getQueryPropertySet() const {
  if (m_pServerMemberSet) return m_pServerMemberSet->getQueryPropertySet();
  return m_pQueryPropertySet.get();
}

void MemberSetProxy::clearQueryProperties() {
  if (m_pServerMemberSet)
    m_pServerMemberSet->clearQueryProperties();
  else
    m_pQueryPropertySet->clear();
  m_bRestricted = true;
}

void MemberSetProxy::addMemberProperty(MemberProperty* property) {
  if (!property) raise_null_argument();
  if (m_pServerMemberSet) {
    m_pServerMemberSet->addMemberProperty(property);
    return;
  }
  m_MemberProperties.reserve(m_MemberProperties.size() + 1);
  property->use();
  m_MemberProperties.push_back(property);
}

void MemberSetProxy::removeMemberProperty(MemberProperty* property) {
  if (!property) raise_null_argument();
  if (m_pServerMemberSet) {
    m_pServerMemberSet->removeMemberProperty(property);
    return;
  }
  if (!m_pHistoricalReference) {
    const TOVAString& uniqueName = property->getUniqueName();
    auto it = std::find_if(m_MemberProperties.begin(), m_MemberProperties.end(),
                           [&](MemberProperty* p) { return p->getUniqueName() == uniqueName; });
    if (it == m_MemberProperties.end()) return;
    MemberProperty* removed = *it;
    m_MemberProperties.erase(it);
    removed->unuse();
    return;
  }
  check_empty_invariant();
  getServerMemberSet()->removeMemberProperty(property);
}

void MemberSetProxy::clearMemberProperties() {
  if (m_pServerMemberSet) m_pServerMemberSet->clearMemberProperties();
  release_member_properties();
}

const std::vector<MemberProperty*>& MemberSetProxy::getMemberProperties() const {
  if (m_pServerMemberSet) return m_pServerMemberSet->getMemberProperties();
  return m_MemberProperties;
}

void MemberSetProxy::makeEmpty() {
  if (m_pServerMemberSet) {
    m_pServerMemberSet->makeEmpty();
    return;
  }
  m_CreationRecord.m_CreateSetAs = CS_CREATEEMPTY;
  m_pHistoricalReference.reset();
}

void MemberSetProxy::assign(const MemberSet* other) {
  if (!other) raise_null_argument();
  if (m_pServerMemberSet) {
    m_pServerMemberSet->assign(other);
    return;
  }
  // Everything is read from `other` before anything of ours changes, so that assigning a
  // set to itself (or to a set that reads through us) sees consistent values.
  auto_unuse<HistoricalReference> reference(other->getHistoricalReference());
  std::set<QueryProperty> queryProperties;
  if (const QueryPropertySet* source = other->getQueryPropertySet())
    queryProperties.insert(source->begin(), source->end());
  std::vector<auto_unuse<MemberProperty>> properties;
  for (MemberProperty* property : other->getMemberProperties())
    if (property) properties.push_back(auto_unuse<MemberProperty>::share(property));
  const bool restricted = other->isRestricted();
  const int32_t order = other->getMemberSetOrder();

  m_pHistoricalReference = std::move(reference);
  m_CreationRecord.m_CreateSetAs = CS_CREATEEMPTY;
  m_pQueryPropertySet->clear();
  m_pQueryPropertySet->insert(queryProperties.begin(), queryProperties.end());
  release_member_properties();
  m_MemberProperties.reserve(properties.size());
  for (auto_unuse<MemberProperty>& property : properties)
    m_MemberProperties.push_back(property.release());
  m_bRestricted = restricted;
  m_MemberSetOrder = order;
}

// ---- persistence ---------------------------------------------------------------------------

void MemberSetProxy::persist(XmlSupport& xml, DOMElement* parent) const {
  // The members of a set assigned from another exist only once it is made.
  if (m_pHistoricalReference) getServerMemberSet();

  DOMElement* element = xml.addAChild(parent, "MembersetProxy");
  persistCreationRecord(xml, element);
  if (m_pServerMemberSet) {
    m_pServerMemberSet->persist(xml, element);
    return;
  }
  XmlSupport::write_to(element, "MemberSetOrder", static_cast<int>(m_MemberSetOrder));
  m_pQueryPropertySet->persist(xml, element);
  DOMElement* properties = xml.addAChild(element, "MemberProperties");
  for (MemberProperty* property : m_MemberProperties) {
    DOMElement* child = xml.addAChild(properties, "MemberProperty");
    XmlSupport::write_to(child, "UniqueName", property->getUniqueName());
  }
}

void MemberSetProxy::restore(DOMElement* element, Cube* cube) {
  if (!element) raise_null_argument();
  if (m_pServerMemberSet) {
    // The server set is never replaced; its state came from the provider.
    support_dll::AssertionFailure("m_pServerMemberSet == NULL", "membersetproxy", __LINE__);
    return;
  }

  if (XmlSupport::getNodeName(element) != "MembersetProxy") {
    if (!m_pHierarchy) raise_null_argument();
    install_restored_set(auto_unuse<MemberSet>(m_pHierarchy->createMemberSetFromXML(element)));
    return;
  }
  if (DOMElement* serverElement = XmlSupport::findChild(element, "Memberset")) {
    if (!m_pHierarchy) raise_null_argument();
    install_restored_set(
        auto_unuse<MemberSet>(m_pHierarchy->createMemberSetFromXML(serverElement)));
    return;
  }

  if (DOMElement* propertiesElement = XmlSupport::findChild(element, "MemberProperties")) {
    const std::vector<DOMElement*> list =
        XmlSupport::getDescendantElementsByTagName(propertiesElement, "MemberProperty");
    std::vector<MemberProperty*> known;
    if (!list.empty() && m_pHierarchy) m_pHierarchy->getMemberProperties(known);
    for (DOMElement* node : list) {
      const TOVAString uniqueName = XmlSupport::getAttribute(node, "UniqueName");
      auto it = std::find_if(known.begin(), known.end(), [&](MemberProperty* p) {
        return p && p->getUniqueName() == uniqueName;
      });
      if (it != known.end()) {
        m_MemberProperties.reserve(m_MemberProperties.size() + 1);
        (*it)->use();
        m_MemberProperties.push_back(*it);
        restoreLog().logAt({"membersetproxy", __LINE__, "NUVA_o::MemberSetProxy::restore"}, 5,
                           "MemberSetProxy[%u]::restore: Successfully restored Member Property %s",
                           getInstanceNumber(), uniqueName);
      } else {
        restoreLog().logAt({"membersetproxy", __LINE__, "NUVA_o::MemberSetProxy::restore"}, 4,
                           "MemberSetProxy[%u]::restore: Unable to locate Member Property %s. The "
                           "Property will be removed",
                           getInstanceNumber(), uniqueName);
      }
    }
  }

  if (XmlSupport::findChild(element, "QueryProperties"))
    m_pQueryPropertySet->restore(element, cube);
  m_bRestricted = m_pQueryPropertySet->count(UNRESTRICTED) == 0;

  if (XmlSupport::hasAttribute(element, "MemberSetOrder"))
    setMemberSetOrder(
        static_cast<int32_t>(XmlSupport::getNumberAttribute(element, "MemberSetOrder")));
}

MemberSet* MemberSetProxy::createFromXML(DOMElement* element, Hierarchy* hierarchy) {
  if (!element || !hierarchy) raise_null_argument();
  const common::CreationRecord record =
      common::CreationRecord::s_CreateCreationRecordFromXML(element);
  if (record.m_HierarchyName != hierarchy->getUniqueName())
    support::raise<InvalidArgumentExceptionImpl>(
        common::moduleName(), support::COMMON_E_FOREIGN_MEMBER_SET, record.m_HierarchyName,
        hierarchy->getUniqueName());
  auto_unuse<MemberSetProxy> proxy(new MemberSetProxy(hierarchy, record));
  proxy->restore(element, nullptr);
  return proxy.release();
}

}  // namespace NUVA_o
