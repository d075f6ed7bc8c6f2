#pragma once

#include <cstdint>
#include <vector>

#include "NUVA_o/Persistable.h"
#include "NUVA_o/QueryProperty.h"
#include "olap_api/RefCount.h"
#include "support/TOVAString.h"

namespace common {
class CreationRecord;
}

namespace NUVA_o {

class Hierarchy;
class Member;
class MemberProperty;
class MemberSet;
class MemberSetCommand;
// Provider-defined argument of Queryable::query; the library only passes null.
class QueryArgument;

// How a member set is made. The numbers are handed to the provider unchanged and are part of
// the contract with it; 6 and 9 have no enumerator and behave as CS_CREATEEMPTY.
enum CreateSetAs : int32_t {
  CS_CREATEDEFAULT = 0,
  CS_CREATEALL = 1,
  CS_CREATEBASE = 2,
  CS_CREATENOPARENTS = 3,
  CS_CREATEUSERCALC = 4,
  CS_CREATESERVERCALC = 5,
  CS_CREATECALC = 7,
  CS_CREATEEMPTY = 8,
  CS_CREATEFROMEXPRESSION = 10,
  CS_CREATESERVERPROVIDED = 11,
};

// An edit that can be run and taken back.
class VTQ_EXPORT Command : public virtual olap_api::RefCount {
 public:
  ~Command() override = default;
  virtual void execute() = 0;
  // Takes back the last execute; does nothing when the command has not run.
  virtual void undo() = 0;
};

// An edit of a member set, handed out by MemberSet::createCommand. The edits are recorded
// first and applied by execute.
class VTQ_EXPORT MemberSetCommand : public Command {
 public:
  // The command will empty the set before adding anything.
  virtual void makeEmpty() = 0;
  // The command will add the member of that unique name.
  virtual void addMember(const TOVAString& uniqueName) = 0;
  // The command will add that set's members; the set must outlive the command's execute.
  virtual void addMemberSet(const MemberSet* memberSet) = 0;
  // The set the command works on (borrowed; the command holds a reference).
  virtual MemberSet* getCommandMemberSet() const = 0;
};

// A change of a member object (re-targeting), as reported to member listeners.
class VTQ_EXPORT MemberCommand : public Command {
 public:
  // The member the command works on (borrowed; the command holds a reference).
  virtual Member* getCommandMember() const = 0;
};

// Something that can be evaluated by the provider.
class VTQ_EXPORT Queryable : public virtual olap_api::RefCount {
 public:
  ~Queryable() override = default;
  // `argument` is provider-defined and may be null.
  virtual void query(QueryArgument* argument) = 0;
};

// A set of members of one hierarchy. The library's proxy and the provider's server set
// implement the same operations; the proxy forwards to the server set once it exists.
class VTQ_EXPORT MemberSet : public Queryable, public Persistable {
 public:
  // Told about edits of the set. Listener lists hold plain pointers; a listener removes
  // itself before it dies.
  class VTQ_EXPORT MemberSetListener {
   public:
    virtual ~MemberSetListener() = default;
    // Before a command of the set changes it.
    virtual void preMemberSetCommandExecute(const MemberSetCommand* command) = 0;
    // After a command (or null for a change without one) changed the set. `out` is the
    // listener's answer, false unless the listener documents otherwise.
    virtual void memberSetChanged(const MemberSetCommand* command, bool& out) = 0;
    virtual void memberSetDestroyed(const MemberSet* memberSet) = 0;
    // The set can no longer be evaluated. True: the listener lets go; the caller removes it
    // and then calls memberSetListenerFinish.
    virtual bool memberSetInactivated() = 0;
    virtual void memberSetListenerFinish() = 0;
  };

  // A recipe that stands for the content of a set at the time it was made.
  class VTQ_EXPORT HistoricalReference : public virtual olap_api::RefCount, public Persistable {
   public:
    ~HistoricalReference() override = default;
    // The set the reference designates (borrowed; the reference holds it).
    virtual MemberSet* getMemberSet() = 0;
    virtual const TOVAString& getGuid() const = 0;
  };

  ~MemberSet() override = default;

  virtual void setGuid(const TOVAString& guid) = 0;
  virtual const TOVAString& getGuid() const = 0;
  virtual void setName(const TOVAString& name) = 0;
  virtual const TOVAString& getName() const = 0;
  // With one reference for the caller.
  virtual HistoricalReference* getHistoricalReference() const = 0;
  virtual TOVAString getServerText() const = 0;
  // Writes the creation record as attributes of `element`.
  virtual void persistCreationRecord(XmlSupport& xml, DOMElement* element) const = 0;
  virtual void executeOnServer() = 0;
  // Listeners are not owned and are called in registration order.
  virtual void addMemberSetListener(MemberSetListener* listener) = 0;
  // Removes the first registration of `listener`, if any.
  virtual void removeMemberSetListener(MemberSetListener* listener) = 0;
  virtual const common::CreationRecord& getCreationRecord() const = 0;
  // The provider's set behind this one (this set itself for a provider set); borrowed, valid
  // while this set lives. Creates it when it does not exist yet.
  virtual MemberSet* getServerMemberSet() const = 0;
  virtual void setServerOption(long option) = 0;
  virtual int32_t getMemberSetOrder() const = 0;
  virtual void setMemberSetOrder(int32_t order) = 0;
  virtual int getSizeHint() const = 0;
  virtual int getDepthHint() const = 0;
  virtual bool isServerFlagA() const = 0;
  virtual bool isServerFlagB() const = 0;
  virtual void serverOperationA() = 0;
  // A new command on this set, with one reference for the caller.
  virtual MemberSetCommand* createCommand() = 0;
  // Borrowed; never null for a set made by a hierarchy or level.
  virtual Hierarchy* getHierarchy() const = 0;
  virtual void serverOperationB() = 0;
  virtual void serverOperationC() = 0;
  virtual void serverOperationD() = 0;
  virtual void serverOperationE() = 0;
  // Index of the set's level within its hierarchy; -1 for no particular level.
  virtual int32_t getLevelIndex() const = 0;
  virtual void setServerValue(long value) = 0;
  // Number of members in the set.
  virtual long getServerCount() const = 0;
  // True exactly when the query properties do not hold UNRESTRICTED.
  virtual bool isRestricted() const = 0;
  virtual void setRestricted(bool restricted) = 0;
  virtual void serverOperationF() = 0;
  virtual void addQueryProperty(int id) = 0;
  virtual void removeQueryProperty(int id) = 0;
  virtual bool hasQueryProperty(int id) const = 0;
  // Owned by the set.
  virtual const QueryPropertySet* getQueryPropertySet() const = 0;
  virtual void clearQueryProperties() = 0;
  // The set takes its own reference.
  virtual void addMemberProperty(MemberProperty* property) = 0;
  // Removes the first property of the same unique name, if any.
  virtual void removeMemberProperty(MemberProperty* property) = 0;
  virtual void clearMemberProperties() = 0;
  // The set's properties in order of addition; the set holds a reference to each.
  virtual const std::vector<MemberProperty*>& getMemberProperties() const = 0;
  virtual void makeEmpty() = 0;
  // Takes over the content of `other` (members, query and member properties, restricted
  // flag, order); `other` is not changed.
  virtual void assign(const MemberSet* other) = 0;
};

}  // namespace NUVA_o
