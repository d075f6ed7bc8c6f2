// Server member sets of the memory provider: real lists of members, their commands and
// historical references, and their "Memberset" element.

#include <algorithm>
#include <mutex>

#include "MemoryCubeImpl.h"
#include "NUVA_o/QueryPropertySetCommon.h"
#include "common/CreationRecord.h"
#include "support/Exceptions.h"

namespace memory {

namespace {

class MemoryMemberSet;

// The memory set behind a set: the set itself, or a library proxy's server set (created when
// needed). Null for a set of another provider.
const MemoryMemberSet* as_memory_set(const NUVA_o::MemberSet* set);

class MemoryMemberSet final : public support::RefCountImpl, public NUVA_o::MemberSet {
 public:
  MemoryMemberSet(HierarchyImpl* hierarchy, const common::CreationRecord& record,
                  std::vector<int32_t> members)
      : RefCountImpl("MemoryMemberSet", support::nextInstanceNumber<MemoryMemberSet>()),
        m_pHierarchy(hierarchy),
        m_Record(record),
        m_Members(std::move(members)) {
    m_pHierarchy->use();
  }

  uint32_t use() override { return RefCountImpl::use(); }
  uint32_t unuse() override { return RefCountImpl::unuse(); }

  // Queryable: the members are always evaluated.
  void query(NUVA_o::QueryArgument*) override {}

  void persist(XmlSupport& xml, DOMElement* parent) const override;
  void restore(DOMElement* element, NUVA_o::Cube* cube) override;

  void setGuid(const TOVAString& guid) override { m_Guid = guid; }
  const TOVAString& getGuid() const override { return m_Guid; }
  void setName(const TOVAString& name) override { m_Name = name; }
  const TOVAString& getName() const override { return m_Name; }
  HistoricalReference* getHistoricalReference() const override;
  TOVAString getServerText() const override;
  void persistCreationRecord(XmlSupport& xml, DOMElement* element) const override {
    m_Record.persist(xml, element);
  }
  void executeOnServer() override {}
  void addMemberSetListener(MemberSetListener* listener) override { m_Listeners.add(listener); }
  void removeMemberSetListener(MemberSetListener* listener) override {
    m_Listeners.remove(listener);
  }
  const common::CreationRecord& getCreationRecord() const override { return m_Record; }
  NUVA_o::MemberSet* getServerMemberSet() const override { return const_cast<MemoryMemberSet*>(this); }
  void setServerOption(long option) override { m_ServerOption = option; }
  int32_t getMemberSetOrder() const override { return m_Order; }
  void setMemberSetOrder(int32_t order) override { m_Order = order; }
  int getSizeHint() const override { return static_cast<int>(m_Members.size()); }
  int getDepthHint() const override;
  bool isServerFlagA() const override { return false; }
  bool isServerFlagB() const override { return false; }
  void serverOperationA() override {}
  NUVA_o::MemberSetCommand* createCommand() override;
  NUVA_o::Hierarchy* getHierarchy() const override { return m_pHierarchy; }
  void serverOperationB() override {}
  void serverOperationC() override {}
  void serverOperationD() override {}
  void serverOperationE() override {}
  int32_t getLevelIndex() const override { return m_Record.m_LevelIndex; }
  void setServerValue(long value) override { m_ServerValue = value; }
  long getServerCount() const override { return static_cast<long>(m_Members.size()); }
  bool isRestricted() const override { return !hasQueryProperty(NUVA_o::UNRESTRICTED); }
  void setRestricted(bool restricted) override {
    if (restricted)
      removeQueryProperty(NUVA_o::UNRESTRICTED);
    else
      addQueryProperty(NUVA_o::UNRESTRICTED);
  }
  void serverOperationF() override {}
  void addQueryProperty(int id) override {
    check_query_property(id);
    m_QueryProperties.insert(static_cast<NUVA_o::QueryProperty>(id));
  }
  void removeQueryProperty(int id) override { m_QueryProperties.erase(static_cast<NUVA_o::QueryProperty>(id)); }
  bool hasQueryProperty(int id) const override {
    return m_QueryProperties.count(static_cast<NUVA_o::QueryProperty>(id)) != 0;
  }
  const NUVA_o::QueryPropertySet* getQueryPropertySet() const override { return &m_QueryProperties; }
  void clearQueryProperties() override { m_QueryProperties.clear(); }
  void addMemberProperty(NUVA_o::MemberProperty* property) override {
    if (!property) raise<InvalidArgumentExceptionImpl>(MEMORY_E_FOREIGN_OBJECT, "MemberSet::addMemberProperty(null)");
    m_MemberProperties.push_back(auto_unuse<NUVA_o::MemberProperty>::share(property));
    m_MemberPropertyList.push_back(property);
  }
  void removeMemberProperty(NUVA_o::MemberProperty* property) override {
    if (!property) return;
    for (size_t i = 0; i < m_MemberPropertyList.size(); ++i)
      if (m_MemberPropertyList[i]->getUniqueName() == property->getUniqueName()) {
        m_MemberPropertyList.erase(m_MemberPropertyList.begin() + static_cast<long>(i));
        m_MemberProperties.erase(m_MemberProperties.begin() + static_cast<long>(i));
        return;
      }
  }
  void clearMemberProperties() override {
    m_MemberPropertyList.clear();
    m_MemberProperties.clear();
  }
  const std::vector<NUVA_o::MemberProperty*>& getMemberProperties() const override {
    return m_MemberPropertyList;
  }
  void makeEmpty() override {
    m_Members.clear();
    m_Record.m_CreateSetAs = NUVA_o::CS_CREATEEMPTY;
    notify_changed(nullptr);
  }
  void assign(const NUVA_o::MemberSet* other) override;

  HierarchyImpl* hierarchy() const { return m_pHierarchy; }
  const std::vector<int32_t>& members() const { return m_Members; }
  // Replaces the members; used by commands, which notify themselves.
  void set_members(std::vector<int32_t> members) { m_Members = std::move(members); }
  const support::ListenerList<MemberSetListener>& listeners() const { return m_Listeners; }
  void notify_changed(const NUVA_o::MemberSetCommand* command) const {
    m_Listeners.notify([&](MemberSetListener* listener) {
      bool out = false;
      listener->memberSetChanged(command, out);
    });
  }
  // A copy of the content (members, settings), with no listeners, for historical references.
  MemoryMemberSet* snapshot() const;

  static void check_query_property(int id) {
    if (id < 0 || id >= NUVA_o::QUERY_PROPERTY_COUNT)
      raise<InvalidArgumentExceptionImpl>(support::COMMON_E_INVALID_ARGUMENT, 0,
                                          NUVA_o::QUERY_PROPERTY_COUNT - 1);
  }

 private:
  ~MemoryMemberSet() override { m_pHierarchy->unuse(); }

  HierarchyImpl* m_pHierarchy;  // holds a reference to the cube
  common::CreationRecord m_Record;
  std::vector<int32_t> m_Members;
  TOVAString m_Guid;
  TOVAString m_Name;
  NUVA_o::QueryPropertySetCommon m_QueryProperties;
  std::vector<auto_unuse<NUVA_o::MemberProperty>> m_MemberProperties;
  std::vector<NUVA_o::MemberProperty*> m_MemberPropertyList;
  int32_t m_Order = 0;
  long m_ServerOption = 0;
  long m_ServerValue = 0;
  support::ListenerList<MemberSetListener> m_Listeners;
};

const MemoryMemberSet* as_memory_set(const NUVA_o::MemberSet* set) {
  if (!set) return nullptr;
  if (auto* memorySet = dynamic_cast<const MemoryMemberSet*>(set)) return memorySet;
  NUVA_o::MemberSet* server = set->getServerMemberSet();
  return server == set ? nullptr : dynamic_cast<const MemoryMemberSet*>(server);
}

const MemoryMemberSet& require_same_hierarchy(const NUVA_o::MemberSet* set, const HierarchyImpl* hierarchy,
                                              const char* operation) {
  const MemoryMemberSet* memorySet = as_memory_set(set);
  if (!memorySet) raise<InvalidArgumentExceptionImpl>(MEMORY_E_FOREIGN_OBJECT, operation);
  if (memorySet->hierarchy() != hierarchy)
    raise<InvalidArgumentExceptionImpl>(support::COMMON_E_FOREIGN_MEMBER_SET,
                                        memorySet->hierarchy()->getUniqueName(),
                                        hierarchy->getUniqueName());
  return *memorySet;
}

// Takes back or re-applies a command's change of a set.
class MemoryMemberSetCommand final : public support::RefCountImpl, public NUVA_o::MemberSetCommand {
 public:
  explicit MemoryMemberSetCommand(MemoryMemberSet* set)
      : RefCountImpl("MemoryMemberSetCommand", support::nextInstanceNumber<MemoryMemberSetCommand>()),
        m_Set(auto_unuse<MemoryMemberSet>::share(set)) {}

  uint32_t use() override { return RefCountImpl::use(); }
  uint32_t unuse() override { return RefCountImpl::unuse(); }

  void makeEmpty() override {
    m_bEmpty = true;
    m_Additions.clear();
  }
  void addMember(const TOVAString& uniqueName) override {
    const int32_t index = m_Set->hierarchy()->findMember(uniqueName);
    if (index < 0)
      raise<InvalidArgumentExceptionImpl>(MEMORY_E_UNKNOWN_MEMBER, m_Set->hierarchy()->getUniqueName(), uniqueName);
    m_Additions.push_back(index);
  }
  void addMemberSet(const NUVA_o::MemberSet* set) override {
    const MemoryMemberSet& source = require_same_hierarchy(set, m_Set->hierarchy(), "MemberSetCommand::addMemberSet");
    m_Additions.insert(m_Additions.end(), source.members().begin(), source.members().end());
  }
  NUVA_o::MemberSet* getCommandMemberSet() const override { return m_Set.get(); }

  void execute() override {
    m_Set->listeners().notify([&](auto* listener) { listener->preMemberSetCommandExecute(this); });
    std::vector<int32_t> before = m_Set->members();
    std::vector<int32_t> after = m_bEmpty ? std::vector<int32_t>() : before;
    std::vector<bool> present(static_cast<size_t>(m_Set->hierarchy()->memberCount()), false);
    for (int32_t index : after) present[static_cast<size_t>(index)] = true;
    for (int32_t index : m_Additions)
      if (!present[static_cast<size_t>(index)]) {
        present[static_cast<size_t>(index)] = true;
        after.push_back(index);
      }
    m_Set->set_members(std::move(after));
    m_Before = std::move(before);
    m_bExecuted = true;
    m_Set->notify_changed(this);
  }

  void undo() override {
    if (!m_bExecuted) return;
    m_Set->listeners().notify([&](auto* listener) { listener->preMemberSetCommandExecute(this); });
    m_Set->set_members(m_Before);
    m_bExecuted = false;
    m_Set->notify_changed(this);
  }

 private:
  ~MemoryMemberSetCommand() override = default;

  auto_unuse<MemoryMemberSet> m_Set;
  bool m_bEmpty = false;
  std::vector<int32_t> m_Additions;
  bool m_bExecuted = false;
  std::vector<int32_t> m_Before;
};

// Remembers the content of a set at the time it was made.
class MemoryHistoricalReference final : public support::RefCountImpl,
                                        public NUVA_o::MemberSet::HistoricalReference {
 public:
  explicit MemoryHistoricalReference(MemoryMemberSet* snapshot)
      : RefCountImpl("MemoryHistoricalReference", support::nextInstanceNumber<MemoryHistoricalReference>()),
        m_Snapshot(snapshot) {}

  uint32_t use() override { return RefCountImpl::use(); }
  uint32_t unuse() override { return RefCountImpl::unuse(); }
  void persist(XmlSupport& xml, DOMElement* parent) const override { m_Snapshot->persist(xml, parent); }
  void restore(DOMElement* element, NUVA_o::Cube*) override {
    auto_unuse<NUVA_o::MemberSet> restored(m_Snapshot->hierarchy()->createMemberSetFromXML(element));
    m_Snapshot.reset(static_cast<MemoryMemberSet*>(restored.release()));
  }
  NUVA_o::MemberSet* getMemberSet() override { return m_Snapshot.get(); }
  const TOVAString& getGuid() const override { return m_Snapshot->getGuid(); }

 private:
  ~MemoryHistoricalReference() override = default;
  auto_unuse<MemoryMemberSet> m_Snapshot;
};

MemoryMemberSet* MemoryMemberSet::snapshot() const {
  auto* copy = new MemoryMemberSet(m_pHierarchy, m_Record, m_Members);
  copy->m_Guid = m_Guid;
  copy->m_Name = m_Name;
  copy->m_QueryProperties = m_QueryProperties;
  for (NUVA_o::MemberProperty* property : m_MemberPropertyList) copy->addMemberProperty(property);
  copy->m_Order = m_Order;
  return copy;
}

NUVA_o::MemberSet::HistoricalReference* MemoryMemberSet::getHistoricalReference() const {
  return new MemoryHistoricalReference(snapshot());
}

NUVA_o::MemberSetCommand* MemoryMemberSet::createCommand() { return new MemoryMemberSetCommand(this); }

int MemoryMemberSet::getDepthHint() const {
  std::vector<bool> levels(static_cast<size_t>(m_pHierarchy->getLevelCount()), false);
  int depth = 0;
  for (int32_t index : m_Members) {
    const auto level = static_cast<size_t>(m_pHierarchy->member(index).level);
    if (!levels[level]) {
      levels[level] = true;
      ++depth;
    }
  }
  return std::max(depth, 1);
}

TOVAString MemoryMemberSet::getServerText() const {
  TOVAString text("{");
  for (size_t i = 0; i < m_Members.size(); ++i) {
    if (i) text.append(", ");
    text.append(m_pHierarchy->member(m_Members[i]).uniqueName);
  }
  text.append("}");
  return text;
}

void MemoryMemberSet::assign(const NUVA_o::MemberSet* other) {
  const MemoryMemberSet& source = require_same_hierarchy(other, m_pHierarchy, "MemberSet::assign");
  if (&source == this) return;
  // Settings come from `other` itself (a proxy keeps its own until it is created).
  std::vector<int32_t> members = source.members();
  NUVA_o::QueryPropertySetCommon properties;
  for (NUVA_o::QueryProperty id : *other->getQueryPropertySet()) properties.insert(id);
  std::vector<NUVA_o::MemberProperty*> memberProperties = other->getMemberProperties();
  const int32_t order = other->getMemberSetOrder();
  const bool restricted = other->isRestricted();

  m_Members = std::move(members);
  m_Record.m_CreateSetAs = NUVA_o::CS_CREATEEMPTY;
  m_QueryProperties = properties;
  clearMemberProperties();
  for (NUVA_o::MemberProperty* property : memberProperties) addMemberProperty(property);
  setRestricted(restricted);
  m_Order = order;
  notify_changed(nullptr);
}

// ---- the "Memberset" element -------------------------------------------------------------

void MemoryMemberSet::persist(XmlSupport& xml, DOMElement* parent) const {
  DOMElement* element = xml.addAChild(parent, "Memberset");
  m_Record.persist(xml, element);
  XmlSupport::write_to(element, "Guid", m_Guid);
  XmlSupport::write_to(element, "Name", m_Name);
  XmlSupport::write_to(element, "MemberSetOrder", static_cast<int>(m_Order));
  m_QueryProperties.persist(xml, element);
  DOMElement* properties = xml.addAChild(element, "MemberProperties");
  for (NUVA_o::MemberProperty* property : m_MemberPropertyList)
    XmlSupport::write_to(xml.addAChild(properties, "MemberProperty"), "UniqueName", property->getUniqueName());
  DOMElement* members = xml.addAChild(element, "Members");
  // Made once: converting the names for each of thousands of members was a tenth of the save.
  static const TOVAString kMember("Member"), kUniqueName("UniqueName");
  for (int32_t index : m_Members)
    XmlSupport::write_to(xml.addAChild(members, kMember), kUniqueName,
                         m_pHierarchy->member(index).uniqueName);
}

// Reads a "Memberset" element of `hierarchy` into a new set; throws before anything is made
// when the element is not one or names what the hierarchy lacks.
MemoryMemberSet* read_member_set(const HierarchyImpl* hierarchy, DOMElement* element) {
  if (!element)
    raise<InvalidArgumentExceptionImpl>(MEMORY_E_MEMBERSET_XML, "no element");
  if (XmlSupport::getNodeName(element) != "Memberset")
    raise<InvalidXMLExceptionImpl>(MEMORY_E_MEMBERSET_XML,
                                   TOVAString().build("'%s' is not a Memberset element", XmlSupport::getNodeName(element)));
  const TOVAString hierarchyName = XmlSupport::getAttribute(element, "Hierarchy");
  if (!hierarchyName.empty() && hierarchyName != hierarchy->getUniqueName())
    raise<InvalidArgumentExceptionImpl>(support::COMMON_E_FOREIGN_MEMBER_SET, hierarchyName,
                                        hierarchy->getUniqueName());
  common::CreationRecord record(hierarchy->getUniqueName(), -1, NUVA_o::CS_CREATEEMPTY);
  record.restore(element, nullptr);
  record.m_HierarchyName = hierarchy->getUniqueName();

  std::vector<int32_t> members;
  std::vector<bool> present(static_cast<size_t>(hierarchy->memberCount()), false);
  if (DOMElement* list = XmlSupport::findChild(element, "Members")) {
    static const TOVAString kUniqueName("UniqueName");
    for (DOMElement* child = XmlSupport::getFirstChildElement(list); child; child = child->getNextElementSibling()) {
      if (std::u16string_view(child->getTagName()) != std::u16string_view(u"Member")) continue;
      const TOVAString name = XmlSupport::getAttribute(child, kUniqueName);
      const int32_t index = hierarchy->findMember(name);
      if (index < 0)
        raise<InvalidXMLExceptionImpl>(MEMORY_E_UNKNOWN_MEMBER, hierarchy->getUniqueName(), name);
      if (!present[static_cast<size_t>(index)]) {
        present[static_cast<size_t>(index)] = true;
        members.push_back(index);
      }
    }
  }
  std::vector<NUVA_o::MemberProperty*> known;
  hierarchy->getMemberProperties(known);
  std::vector<NUVA_o::MemberProperty*> properties;
  if (DOMElement* list = XmlSupport::findChild(element, "MemberProperties")) {
    for (DOMElement* child = XmlSupport::getFirstChildElement(list); child; child = child->getNextElementSibling()) {
      const TOVAString name = XmlSupport::getAttribute(child, "UniqueName");
      auto it = std::find_if(known.begin(), known.end(),
                             [&](NUVA_o::MemberProperty* p) { return p->getUniqueName() == name; });
      if (it == known.end())
        raise<InvalidXMLExceptionImpl>(MEMORY_E_MEMBERSET_XML,
                                       TOVAString().build("hierarchy '%s' has no member property '%s'",
                                                          hierarchy->getUniqueName(), name));
      properties.push_back(*it);
    }
  }
  auto_unuse<MemoryMemberSet> set(new MemoryMemberSet(const_cast<HierarchyImpl*>(hierarchy), record, std::move(members)));
  set->setGuid(XmlSupport::getAttribute(element, "Guid"));
  set->setName(XmlSupport::getAttribute(element, "Name"));
  set->setMemberSetOrder(static_cast<int32_t>(XmlSupport::getNumberAttribute(element, "MemberSetOrder")));
  if (XmlSupport::findChild(element, "QueryProperties")) {
    NUVA_o::QueryPropertySetCommon queryProperties;
    queryProperties.restore(element, nullptr);
    for (NUVA_o::QueryProperty id : queryProperties) set->addQueryProperty(id);
  }
  for (NUVA_o::MemberProperty* property : properties) set->addMemberProperty(property);
  return set.release();
}

void MemoryMemberSet::restore(DOMElement* element, NUVA_o::Cube*) {
  auto_unuse<MemoryMemberSet> restored(read_member_set(m_pHierarchy, element));
  m_Record = restored->m_Record;
  m_Members = restored->m_Members;
  m_Guid = restored->m_Guid;
  m_Name = restored->m_Name;
  m_QueryProperties = restored->m_QueryProperties;
  m_MemberProperties = restored->m_MemberProperties;
  m_MemberPropertyList = restored->m_MemberPropertyList;
  m_Order = restored->m_Order;
  notify_changed(nullptr);
}

// ---- sets made by kind and from expressions ----------------------------------------------

bool is_known_kind(int kind) { return kind >= NUVA_o::CS_CREATEDEFAULT && kind <= NUVA_o::CS_CREATESERVERPROVIDED; }

// Members of `candidates` that the kind names.
std::vector<int32_t> members_of_kind(const HierarchyImpl& hierarchy, const std::vector<int32_t>& candidates,
                                     NUVA_o::CreateSetAs kind) {
  std::vector<int32_t> out;
  switch (kind) {
    case NUVA_o::CS_CREATEDEFAULT:
    case NUVA_o::CS_CREATEALL:
      return candidates;
    case NUVA_o::CS_CREATEBASE:
    case NUVA_o::CS_CREATENOPARENTS:
      // Base members: those with no children (the leaves).
      for (int32_t index : candidates)
        if (hierarchy.member(index).children.empty()) out.push_back(index);
      return out;
    case NUVA_o::CS_CREATESERVERPROVIDED:
      // The server's choice: the default member when it is among the candidates.
      for (int32_t index : candidates)
        if (index == hierarchy.m_DefaultMember) out.push_back(index);
      return out;
    case NUVA_o::CS_CREATESERVERCALC:
    case NUVA_o::CS_CREATECALC:
      // The cube's calculated measures; a user has no calculations of its own here.
      for (int32_t index : candidates)
        if (hierarchy.member(index).calculation >= 0) out.push_back(index);
      return out;
    default:
      // The user-calculation and empty kinds and a kind without an expression hold nothing.
      return out;
  }
}

[[noreturn]] void unknown_kind(int kind) {
  raise<InvalidArgumentExceptionImpl>(support::COMMON_E_INVALID_ARGUMENT, NUVA_o::CS_CREATEDEFAULT,
                                      NUVA_o::CS_CREATESERVERPROVIDED, kind);
}

// Parses "{[A].[B], [A].[C]}" into unique names; false for anything else.
bool parse_member_list(const TOVAString& text, std::vector<TOVAString>& names, TOVAString& problem) {
  const std::u16string& s = text.u16();
  size_t i = 0;
  auto skip = [&] {
    while (i < s.size() && (s[i] == u' ' || s[i] == u'\t' || s[i] == u'\r' || s[i] == u'\n')) ++i;
  };
  skip();
  if (i >= s.size() || s[i] != u'{') {
    problem = "only a braced list of member unique names is supported";
    return false;
  }
  ++i;
  skip();
  if (i < s.size() && s[i] == u'}') {
    ++i;
  } else {
    for (;;) {
      skip();
      TOVAString name;
      for (;;) {
        if (i >= s.size() || s[i] != u'[') {
          problem = TOVAString().build("a member unique name is expected at position %u", i + 1);
          return false;
        }
        name.append(u'[');
        ++i;
        for (;;) {
          if (i >= s.size()) {
            problem = "a name in brackets is not closed";
            return false;
          }
          if (s[i] == u']') {
            if (i + 1 < s.size() && s[i + 1] == u']') {
              name.append(u"]]");
              i += 2;
              continue;
            }
            ++i;
            break;
          }
          name.append(s[i++]);
        }
        name.append(u']');
        if (i < s.size() && s[i] == u'.') {
          name.append(u'.');
          ++i;
          continue;
        }
        break;
      }
      names.push_back(name);
      skip();
      if (i < s.size() && s[i] == u',') {
        ++i;
        continue;
      }
      if (i < s.size() && s[i] == u'}') {
        ++i;
        break;
      }
      problem = TOVAString().build("',' or '}' is expected at position %u", i + 1);
      return false;
    }
  }
  skip();
  if (i != s.size()) {
    problem = TOVAString().build("unexpected text after '}' at position %u", i + 1);
    return false;
  }
  return true;
}

}  // namespace

NUVA_o::MemberSet* LevelImpl::createMemberSet(NUVA_o::CreateSetAs kind) const {
  if (!is_known_kind(kind)) unknown_kind(kind);
  HierarchyImpl* hierarchy = m_pHierarchy;
  common::CreationRecord record(hierarchy->getUniqueName(), m_Number, kind);
  auto* set = new MemoryMemberSet(hierarchy, record, members_of_kind(*hierarchy, m_Members, kind));
  hierarchy->cube()->countMemberSet();
  return set;
}

NUVA_o::MemberSet* HierarchyImpl::createMemberSet(NUVA_o::CreateSetAs kind) const {
  if (!is_known_kind(kind)) unknown_kind(kind);
  std::vector<int32_t> all(m_Members.size());
  for (size_t i = 0; i < all.size(); ++i) all[i] = static_cast<int32_t>(i);
  common::CreationRecord record(m_UniqueName, -1, kind);
  auto* set = new MemoryMemberSet(const_cast<HierarchyImpl*>(this), record, members_of_kind(*this, all, kind));
  cube()->countMemberSet();
  return set;
}

NUVA_o::MemberSet* HierarchyImpl::createMemberSetFromExpression(const TOVAString& expression,
                                                                const TOVAString& language) const {
  std::vector<TOVAString> names;
  TOVAString problem;
  if (!parse_member_list(expression, names, problem))
    raise<InvalidExpressionExceptionImpl>(MEMORY_E_EXPRESSION, expression, problem);
  std::vector<int32_t> members;
  std::vector<bool> present(m_Members.size(), false);
  for (const TOVAString& name : names) {
    const int32_t index = findMember(name);
    if (index < 0)
      raise<InvalidExpressionExceptionImpl>(MEMORY_E_EXPRESSION, expression,
                                            TOVAString().build("hierarchy '%s' has no member '%s'", m_UniqueName, name));
    if (!present[static_cast<size_t>(index)]) {
      present[static_cast<size_t>(index)] = true;
      members.push_back(index);
    }
  }
  common::CreationRecord record(m_UniqueName, -1, NUVA_o::CS_CREATEFROMEXPRESSION, expression, language);
  auto* set = new MemoryMemberSet(const_cast<HierarchyImpl*>(this), record, std::move(members));
  cube()->countMemberSet();
  return set;
}

NUVA_o::MemberSet* HierarchyImpl::createMemberSetFromXML(DOMElement* element) const {
  MemoryMemberSet* set = read_member_set(this, element);
  cube()->countMemberSet();
  return set;
}

std::vector<TOVAString> memberUniqueNames(const NUVA_o::MemberSet* set) {
  const MemoryMemberSet* memorySet = as_memory_set(set);
  if (!memorySet) raise<InvalidArgumentExceptionImpl>(MEMORY_E_FOREIGN_OBJECT, "memberUniqueNames");
  std::vector<TOVAString> names;
  names.reserve(memorySet->members().size());
  for (int32_t index : memorySet->members()) names.push_back(memorySet->hierarchy()->member(index).uniqueName);
  return names;
}

}  // namespace memory
