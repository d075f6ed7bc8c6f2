#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "NUVA_o/MemberSet.h"
#include "NUVA_o/Parameter.h"
#include "NUVA_o/Persistable.h"
#include "olap_api/RefCount.h"
#include "support/DataType.h"
#include "support/NamedPart.h"
#include "support/RefCountImpl.h"
#include "support/TOVAString.h"

// The provider's objects as the library reaches them. Pointers returned without a documented
// reference are borrowed and stay valid while the cube lives.

namespace NUVA_o {

class Calculation;
class CubeEvent;
class Dimension;
class Field;
class Hierarchy;
class Level;
class Member;
class MemberProperty;
class RowsetDataModel;
namespace tovasql_parser {
class TOVASQLExpression;
}

// Format of a calculation's values.
enum CalculationFormat : int32_t {
  CF_DEFAULT = 0,
  CF_NUMBER = 1,
  CF_PERCENT = 2,
};

class VTQ_EXPORT Calculation : public virtual olap_api::RefCount {
 public:
  using CalculationFormat = NUVA_o::CalculationFormat;

  // Told about changes of a calculation; handed out by Cube::Listener::doYouCareAboutThis.
  class VTQ_EXPORT CalculationEventHandler {
   public:
    virtual ~CalculationEventHandler() = default;
    virtual void expressionChanged(const Calculation* calculation) = 0;
    virtual void calculationRemoved(const Calculation* calculation) = 0;
    virtual void captionChanged(const Calculation* calculation) = 0;
    // The calculation is done with the handler; the last call it receives.
    virtual void finish() = 0;
    virtual void removeSpecs(const Calculation* calculation) = 0;
  };

  ~Calculation() override = default;
  virtual const TOVAString& getUniqueName() const = 0;
  virtual CalculationFormat getCalculationFormat() const = 0;
  virtual const TOVAString& getName() const = 0;
  virtual const TOVAString& getExpression() const = 0;
};

class VTQ_EXPORT Cube : public virtual olap_api::RefCount {
 public:
  // Capability numbers of supports().
  enum Capability : int {
    // The expression language admits the keyword AGGREGATE.
    SUPPORTS_AGGREGATE = 10,
    // Several hierarchies of one dimension may take part in one query.
    SUPPORTS_MULTIPLE_HIERARCHY_QUERY = 12,
    // The cube has parameters that a view listens to.
    SUPPORTS_PARAMETERS = 18,
  };

  // Told when the cube's connection goes away.
  class VTQ_EXPORT ConnectionListener {
   public:
    virtual ~ConnectionListener() = default;
    virtual bool connectionClosing() = 0;
  };

  // Told about calculations and changes of the cube.
  class VTQ_EXPORT Listener {
   public:
    virtual ~Listener() = default;
    // The handler that wants the calculation's events, or null. The cube calls the handler's
    // finish when it no longer calls it.
    virtual Calculation::CalculationEventHandler* doYouCareAboutThis(Calculation* calculation) = 0;
    virtual void cubeChanged(CubeEvent* event) = 0;
    virtual void stopListening() = 0;
  };

  ~Cube() override = default;

  // Called once before a flattener is built on the cube.
  virtual void prepareForFlattening() = 0;
  // The name under which the provider library is registered.
  virtual void getProviderName(TOVAString& out) const = 0;
  // Listeners are not owned; each stays registered until its removal.
  virtual void addConnectionListener(ConnectionListener* listener) = 0;
  // True when the cube will call `listener`; only then must it be removed.
  virtual bool addListener(Listener* listener) = 0;
  virtual void removeConnectionListener(ConnectionListener* listener) = 0;
  virtual void removeListener(Listener* listener) = 0;
  // All dimensions in the cube's order.
  virtual const std::vector<Dimension*>& getDimensions() const = 0;
  // The dimension whose default hierarchy carries calculated fields; may be null.
  virtual Dimension* getCalculationDimension() const = 0;
  // Null when the cube has no dimension of that name (or unique name).
  virtual Dimension* getDimensionByName(const TOVAString& name) const = 0;
  virtual bool supports(int capability) const = 0;
  // Writes the cube's calculated members inside `parent` ("CalculatedMembers").
  virtual void persistCalculatedMembers(XmlSupport& xml, DOMElement* parent) const = 0;
  virtual void restoreCalculatedMembers(DOMElement* element) = 0;
  // Kind of a bare name for the expression lexer: 0 unknown, 1 another known name (e.g. a
  // member property), 2 dimension or hierarchy, 4 level, 5 member, 6 measure. `tokenText`
  // receives the text the token stands for.
  virtual int classifyName(const TOVAString& name, TOVAString& tokenText) const = 0;
  // Kind of a braced name as bits: 1 another known name, 2 dimension or hierarchy, 8 level,
  // 16 measure, 32 member; 0 unknown. `pass` is 0 first, 1 for a second, looser try.
  virtual unsigned classifyBracedName(const TOVAString& name, int pass) const = 0;
  // With one reference for the caller, or null.
  virtual Parameter* getParameterByName(const TOVAString& name) const = 0;
  // The cube's parameters, copied; each entry holds its own reference.
  virtual std::vector<auto_unuse<Parameter>> getParameters() const = 0;
  virtual bool hasParameters() const = 0;
  // With one reference for the caller, or null.
  virtual Hierarchy* getHierarchyByUniqueName(const TOVAString& uniqueName) const = 0;
  // The null filter of each new axis.
  virtual bool getDefaultAxisNullFilter() const = 0;
  // Executes a flat request; the rowset comes with one reference for the caller, or null.
  virtual RowsetDataModel* executeQuery(tovasql_parser::TOVASQLExpression* root) = 0;
  // Display size of string-like columns; -1 means unknown.
  virtual int getStringColumnDisplaySize() const = 0;
  // Whether field search may fall back to technical names.
  virtual bool supportsTechnicalNames() const = 0;
  // The provider's normal form of a field key.
  virtual void normalizeKey(TOVAString& out, const TOVAString& key) const = 0;
  // False unless the provider says otherwise.
  virtual bool checkCapability(unsigned /*capability*/) const { return false; }
  // The cube's own name, e.g. "Sales".
  virtual const TOVAString& getName() const = 0;
};

class VTQ_EXPORT Dimension : public virtual olap_api::RefCount, public support::NamedPart {
 public:
  ~Dimension() override = default;
  // The dimension's hierarchies in order.
  virtual std::vector<Hierarchy*> getHierarchies() const = 0;
  // By name or unique name; null when none.
  virtual Hierarchy* getHierarchy(const TOVAString& name) const = 0;
  // Never null.
  virtual Hierarchy* getDefaultHierarchy() const = 0;
};

// The face of objects that belong to a dimension.
class VTQ_EXPORT DimensionPart : public virtual olap_api::RefCount {
 public:
  ~DimensionPart() override = default;
  // Never null.
  virtual Dimension* getDimension() const = 0;
};

class VTQ_EXPORT Hierarchy : public virtual olap_api::RefCount,
                             public support::NamedPart,
                             public DimensionPart {
 public:
  // Told about changes of the hierarchy.
  class VTQ_EXPORT Listener {
   public:
    virtual ~Listener() = default;
    virtual void hierarchyChanged(const Hierarchy* hierarchy) = 0;
  };

  ~Hierarchy() override = default;

  // Null when `index` is out of range.
  virtual Level* getLevel(int index) const = 0;
  // Level 0; null for a hierarchy without levels.
  virtual Level* getFirstLevel() const = 0;
  // A new provider set with one reference for the caller.
  virtual MemberSet* createMemberSet(CreateSetAs kind) const = 0;
  // A new provider set with one reference for the caller; throws when the expression cannot
  // be evaluated.
  virtual MemberSet* createMemberSetFromExpression(const TOVAString& expression,
                                                   const TOVAString& language) const = 0;
  // A new provider set restored from the provider's own element, with one reference for the
  // caller; throws on an element it cannot read.
  virtual MemberSet* createMemberSetFromXML(DOMElement* element) const = 0;
  // Appends the hierarchy's member properties (borrowed) to `out`.
  virtual void getMemberProperties(std::vector<MemberProperty*>& out) const = 0;
  // Adds the hierarchy's calculations (borrowed) to `out`, keyed by unique name.
  virtual void getCalculations(std::map<TOVAString, Calculation*>& out) const = 0;
  // A new member object on the default member, with one reference for the caller; the
  // caller may re-target it without affecting other member objects.
  virtual Member* getDefaultMember() const = 0;
  // Fields with one reference for the caller, or null.
  virtual Field* getFieldByName(const TOVAString& name) const = 0;
  virtual Field* getCalculatedField(const TOVAString& expression) const = 0;
  virtual Field* getAttributeField(const TOVAString& name) const = 0;
  // Number of levels.
  virtual int getLevelCount() const = 0;
};

class VTQ_EXPORT Level : public virtual olap_api::RefCount, public support::NamedPart {
 public:
  ~Level() override = default;
  // A new provider set with one reference for the caller.
  virtual MemberSet* createMemberSet(CreateSetAs kind) const = 0;
  // Never null.
  virtual Hierarchy* getHierarchy() const = 0;
  // 0 for the top level.
  virtual int getLevelNumber() const = 0;
  virtual long getMemberCount() const = 0;
};

// A member object: a position on one member of a hierarchy that can be moved.
class VTQ_EXPORT Member : public virtual olap_api::RefCount {
 public:
  // getMemberType values.
  enum MemberType : int {
    MT_REGULAR = 0,
    MT_FORMULA = 4,
    // The member object no longer designates a member of its hierarchy.
    MT_UNRESOLVED = 5,
  };

  // Told about re-targeting of a member object. Not owned; removes itself before it dies.
  class VTQ_EXPORT MemberListener {
   public:
    virtual ~MemberListener() = default;
    virtual void memberChanged(const MemberCommand* command) = 0;
    virtual void memberDestroyed(const Member* member) = 0;
    // True: the listener lets go; the caller removes it and calls memberListenerFinish.
    virtual bool memberInactivated() = 0;
    virtual void memberListenerFinish() = 0;
  };

  ~Member() override = default;

  // The unique name the object designates (also when it no longer resolves).
  virtual const TOVAString& getUniqueName() const = 0;
  virtual int getMemberType() const = 0;
  // Re-targets this object; a name that does not resolve makes the type MT_UNRESOLVED.
  virtual void moveTo(const TOVAString& uniqueName) = 0;
  virtual void moveTo(const Member* other) = 0;
  // Listeners are not owned and are called in registration order.
  virtual void addMemberListener(MemberListener* listener) = 0;
  virtual void removeMemberListener(MemberListener* listener) = 0;
  // Never null.
  virtual Hierarchy* getHierarchy() const = 0;
  virtual bool isDefaultMember() const = 0;
  // Empty when the member does not resolve.
  virtual const TOVAString& getCaption() const = 0;
  // -1 when the member does not resolve.
  virtual int getLevelNumber() const = 0;
};

class VTQ_EXPORT MemberProperty : public virtual olap_api::RefCount {
 public:
  ~MemberProperty() override = default;
  virtual const TOVAString& getUniqueName() const = 0;
  virtual const TOVAString& getName() const = 0;
};

// A column of a flat request: a level attribute or a measure.
class VTQ_EXPORT Field : public virtual olap_api::RefCount, public support::NamedPart {
 public:
  ~Field() override = default;
  virtual const TOVAString& getCaption() const = 0;
  virtual const TOVAString& getDescription() const = 0;
  virtual support::DataType getDataType() const = 0;
  // Provider-defined; 0 admits a single-value filter on a higher level.
  virtual int getFieldCategory() const = 0;
  // Borrowed, or null for a field of no hierarchy.
  virtual Hierarchy* getHierarchy() const = 0;
  virtual const TOVAString& getLevelUniqueName() const = 0;
  virtual unsigned getLevelNumber() const = 0;
  virtual bool isNumeric() const = 0;
};

// The provider's description of a cube parameter.
class VTQ_EXPORT ServerParameter : public virtual olap_api::RefCount {
 public:
  ~ServerParameter() override = default;
  virtual const TOVAString& getUniqueName() const = 0;
  virtual const TOVAString& getUniqueID() const = 0;
  virtual const TOVAString& getCaption() const = 0;
  virtual const TOVAString& getDescription() const = 0;
  // The parameter type number (3 hierarchy, 4 member, 5 member set, 6 numeric, ...).
  virtual int32_t getType() const = 0;
  virtual int32_t getEntryType() const = 0;
  virtual const TOVAString& getDimensionUniqueName() const = 0;
  virtual const TOVAString& getHierarchyUniqueName() const = 0;
  // Borrowed, or null.
  virtual Hierarchy* getHierarchy() const = 0;
  // The default value as text; empty for none.
  virtual const TOVAString& getDefaultValue() const = 0;
  virtual std::vector<TOVAString> getSetOfValues() const = 0;
  // Appends the unique names of the hierarchies the parameter may stand for.
  virtual void getHierarchyNames(std::vector<TOVAString>& out) const = 0;
  // The parameter this one depends on (borrowed), or null.
  virtual Parameter* getDependancy() const = 0;
  virtual bool validateParameterValue(const std::vector<TOVAString>& names,
                                      const TOVAString& value,
                                      const std::vector<TOVAString>& values) const = 0;
  // Throw an exception of the library's family when the value is refused.
  virtual void validateNumericValue(double number) const = 0;
  virtual void validateMemberRangeValue(const Member* start, const Member* end) const = 0;
  virtual void validateMemberSetValue(const MemberSet* memberSet) const = 0;
  // The normalised text; throws when the text is refused.
  virtual TOVAString validateStringValue(const TOVAString& text) const = 0;
  virtual unsigned getFieldCount() const = 0;
  // Borrowed, or null when `index` is out of range.
  virtual Field* getField(unsigned index) const = 0;
};

}  // namespace NUVA_o
