#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "NUVA_o/Cube.h"
#include "NUVA_o/MemberSet.h"
#include "NUVA_o/QueryPropertySetCommon.h"
#include "common/CreationRecord.h"
#include "support/RefCountImpl.h"

namespace NUVA_o {

// The library's member set: stands for a provider ("server") member set that is made from
// the creation record only when first needed. Until then it records the settings made on it
// (name, order, query and member properties, listeners, restricted flag) and hands them to
// the server set when it creates it; from then on it forwards every operation to that set,
// except that it keeps its own GUID. Not guarded: used from one thread at a time.
class VTQ_EXPORT MemberSetProxy : public support::StrongRef, public MemberSet {
 public:
  // `hierarchy` may be null only for a proxy that is never created; the proxy holds a
  // reference to it. The record is copied.
  MemberSetProxy(Hierarchy* hierarchy, const common::CreationRecord& record);

  // A proxy restored from a "MembersetProxy" element (or a provider's member set element),
  // with one reference for the caller. Throws InvalidArgumentException COMMON_E_FOREIGN_MEMBER_SET
  // when the element names another hierarchy, InvalidArgumentException for a null argument, and
  // passes on the provider's failure to read its own element.
  static MemberSet* createFromXML(DOMElement* element, Hierarchy* hierarchy);

  // Queryable
  void query(QueryArgument* argument) override;

  // Persistable
  void persist(XmlSupport& xml, DOMElement* parent) const override;
  void restore(DOMElement* element, Cube* cube) override;

  // MemberSet
  void setGuid(const TOVAString& guid) override;
  const TOVAString& getGuid() const override;
  void setName(const TOVAString& name) override;
  const TOVAString& getName() const override;
  HistoricalReference* getHistoricalReference() const override;
  TOVAString getServerText() const override;
  void persistCreationRecord(XmlSupport& xml, DOMElement* element) const override;
  void executeOnServer() override;
  void addMemberSetListener(MemberSetListener* listener) override;
  void removeMemberSetListener(MemberSetListener* listener) override;
  const common::CreationRecord& getCreationRecord() const override;
  // Creates the server set on first call; throws what the provider throws, or an
  // InvalidArgument/InvalidPointer exception when the record names no level or the provider
  // gives no set. The proxy is unchanged when creation fails.
  MemberSet* getServerMemberSet() const override;
  void setServerOption(long option) override;
  int32_t getMemberSetOrder() const override;
  void setMemberSetOrder(int32_t order) override;
  int getSizeHint() const override;
  int getDepthHint() const override;
  bool isServerFlagA() const override;
  bool isServerFlagB() const override;
  void serverOperationA() override;
  MemberSetCommand* createCommand() override;
  Hierarchy* getHierarchy() const override;
  void serverOperationB() override;
  void serverOperationC() override;
  void serverOperationD() override;
  void serverOperationE() override;
  int32_t getLevelIndex() const override;
  void setServerValue(long value) override;
  long getServerCount() const override;
  bool isRestricted() const override;
  void setRestricted(bool restricted) override;
  void serverOperationF() override;
  // Throws InvalidArgumentException for an identifier outside 0 to 17.
  void addQueryProperty(int id) override;
  void removeQueryProperty(int id) override;
  bool hasQueryProperty(int id) const override;
  const QueryPropertySet* getQueryPropertySet() const override;
  void clearQueryProperties() override;
  // Throws InvalidArgumentException for a null property.
  void addMemberProperty(MemberProperty* property) override;
  void removeMemberProperty(MemberProperty* property) override;
  void clearMemberProperties() override;
  const std::vector<MemberProperty*>& getMemberProperties() const override;
  void makeEmpty() override;
  // Throws InvalidArgumentException for a null set.
  void assign(const MemberSet* other) override;

  // True once the server set exists.
  bool isCreated() const { return static_cast<bool>(m_pServerMemberSet); }

 protected:
  ~MemberSetProxy() override;

 private:
  MemberSet* create_server_member_set();
  // Makes `serverSet` the server set after a restore, handing it the listeners recorded so
  // far (its own state comes from the document).
  void install_restored_set(auto_unuse<MemberSet> serverSet);
  void check_empty_invariant() const;
  void release_member_properties();

  auto_unuse<MemberSet> m_pServerMemberSet;
  TOVAString m_Guid;
  TOVAString m_Name;
  common::CreationRecord m_CreationRecord;
  auto_unuse<HistoricalReference> m_pHistoricalReference;
  auto_unuse<Hierarchy> m_pHierarchy;
  std::unique_ptr<QueryPropertySetCommon> m_pQueryPropertySet;
  std::vector<MemberProperty*> m_MemberProperties;
  // Listeners recorded until the server set exists. Never notified and used from one thread,
  // so a plain vector rather than support::ListenerList; the server set's list notifies.
  std::vector<MemberSetListener*> m_Listeners;
  int32_t m_MemberSetOrder = 0;
  bool m_bRestricted = true;
};

}  // namespace NUVA_o
