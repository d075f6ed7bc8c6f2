#pragma once

// Private structures of the memory provider. Everything below a cube (dimensions,
// hierarchies, levels, properties, calculations, static fields) is owned by the cube and
// forwards its reference counting to it.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "provider/memory/CubeSource.h"
#include "FactTable.h"
#include "ScanPool.h"
#include "provider/memory/MemoryCube.h"
#include "support/Exceptions.h"
#include "support/ListenerList.h"
#include "support/RefCountImpl.h"

namespace memory {

class CubeImpl;
class DimensionImpl;
class HierarchyImpl;
class LevelImpl;

// Reference counting of objects owned by a cube: a reference to the part is one to the cube.
#define MEMORY_CUBE_PART_REFCOUNT                                   \
  uint32_t use() override { return cubeRefCount().use(); }         \
  uint32_t unuse() override { return cubeRefCount().unuse(); }

// "[name]" with "]" doubled.
TOVAString bracket(const TOVAString& name);
// Upper-case copy, for case-insensitive look-ups.
TOVAString upper(const TOVAString& text);
// The fact columns a builder fills; leaf indexes appended there are not checked again.
FactTableBuilder& factColumns(CubeBuilder& builder);

// One member of a hierarchy. Members are stored in depth-first order; a member covers the
// leaf positions [firstLeaf, endLeaf) of its hierarchy.
struct MemberNode {
  TOVAString name;
  TOVAString caption;
  TOVAString uniqueName;
  int32_t level = 0;
  int32_t parent = -1;
  std::vector<int32_t> children;
  int32_t firstLeaf = 0;
  int32_t endLeaf = 0;
  // Values of the level's properties, in the level's order (empty text when unset).
  std::vector<TOVAString> properties;
  // Of a calculated measure: its index in the hierarchy's calculations; -1 for a stored member.
  int32_t calculation = -1;
};

class MemberPropertyImpl final : public NUVA_o::MemberProperty {
 public:
  MemberPropertyImpl(CubeImpl* cube, TOVAString name, TOVAString uniqueName)
      : m_pCube(cube), m_Name(std::move(name)), m_UniqueName(std::move(uniqueName)) {}
  MEMORY_CUBE_PART_REFCOUNT
  const TOVAString& getUniqueName() const override { return m_UniqueName; }
  const TOVAString& getName() const override { return m_Name; }

 private:
  olap_api::RefCount& cubeRefCount() const;
  CubeImpl* m_pCube;
  TOVAString m_Name;
  TOVAString m_UniqueName;
};

// What a field stands for; also its category number.
enum FieldKind { FK_LEVEL = 0, FK_MEASURE = 1, FK_PROPERTY = 2, FK_CALCULATED = 3 };

// Which attribute of a level's members an FK_LEVEL field shows.
enum LevelAttribute { LA_NAME = 0, LA_CAPTION = 1, LA_KEY = 2 };

struct FieldDescription {
  FieldKind kind = FK_LEVEL;
  LevelAttribute attribute = LA_NAME;
  // Of FK_PROPERTY fields: the property's position in its level.
  int property = -1;
  TOVAString name;
  TOVAString uniqueName;
  TOVAString caption;
  TOVAString description;
  NUVA_o::Hierarchy* hierarchy = nullptr;
  TOVAString levelUniqueName;
  unsigned levelNumber = 0;
};

// Shared implementation of the Field operations.
template <class Base>
class FieldOperations : public Base {
 public:
  explicit FieldOperations(FieldDescription description) : m_Description(std::move(description)) {}
  const TOVAString& getName() const override { return m_Description.name; }
  const TOVAString& getUniqueName() const override { return m_Description.uniqueName; }
  const TOVAString& getCaption() const override { return m_Description.caption; }
  const TOVAString& getDescription() const override { return m_Description.description; }
  support::DataType getDataType() const override { return isNumeric() ? support::DT_DOUBLE : support::DT_UCS2; }
  int getFieldCategory() const override { return m_Description.kind; }
  NUVA_o::Hierarchy* getHierarchy() const override { return m_Description.hierarchy; }
  const TOVAString& getLevelUniqueName() const override { return m_Description.levelUniqueName; }
  unsigned getLevelNumber() const override { return m_Description.levelNumber; }
  bool isNumeric() const override {
    return m_Description.kind == FK_MEASURE || m_Description.kind == FK_CALCULATED;
  }

 protected:
  FieldDescription m_Description;
};

// A field of a level, a level property or a measure, owned by its hierarchy.
class FieldImpl final : public FieldOperations<NUVA_o::Field> {
 public:
  FieldImpl(CubeImpl* cube, FieldDescription description)
      : FieldOperations(std::move(description)), m_pCube(cube) {}
  MEMORY_CUBE_PART_REFCOUNT
  const FieldDescription& description() const { return m_Description; }
  CubeImpl* cube() const { return m_pCube; }

 private:
  olap_api::RefCount& cubeRefCount() const;
  CubeImpl* m_pCube;
};

class CalculationImpl final : public NUVA_o::Calculation {
 public:
  CalculationImpl(CubeImpl* cube, HierarchyImpl* hierarchy, TOVAString name, TOVAString uniqueName,
                  TOVAString expression, NUVA_o::CalculationFormat format)
      : m_pCube(cube), m_pHierarchy(hierarchy), m_Name(std::move(name)),
        m_UniqueName(std::move(uniqueName)), m_Expression(std::move(expression)), m_Format(format) {}
  MEMORY_CUBE_PART_REFCOUNT
  const TOVAString& getUniqueName() const override { return m_UniqueName; }
  NUVA_o::CalculationFormat getCalculationFormat() const override { return m_Format; }
  const TOVAString& getName() const override { return m_Name; }
  const TOVAString& getExpression() const override { return m_Expression; }
  HierarchyImpl* hierarchy() const { return m_pHierarchy; }
  void redefine(TOVAString expression, NUVA_o::CalculationFormat format) {
    m_Expression = std::move(expression);
    m_Format = format;
  }

 private:
  olap_api::RefCount& cubeRefCount() const;
  CubeImpl* m_pCube;
  HierarchyImpl* m_pHierarchy;
  TOVAString m_Name;
  TOVAString m_UniqueName;
  TOVAString m_Expression;
  NUVA_o::CalculationFormat m_Format;
};

class LevelImpl final : public NUVA_o::Level {
 public:
  LevelImpl(HierarchyImpl* hierarchy, TOVAString name, TOVAString uniqueName, int number)
      : m_pHierarchy(hierarchy), m_Name(std::move(name)), m_UniqueName(std::move(uniqueName)),
        m_Number(number) {}
  MEMORY_CUBE_PART_REFCOUNT
  const TOVAString& getName() const override { return m_Name; }
  const TOVAString& getUniqueName() const override { return m_UniqueName; }
  NUVA_o::MemberSet* createMemberSet(NUVA_o::CreateSetAs kind) const override;
  NUVA_o::Hierarchy* getHierarchy() const override;
  int getLevelNumber() const override { return m_Number; }
  long getMemberCount() const override { return static_cast<long>(m_Members.size()); }

  HierarchyImpl* hierarchy() const { return m_pHierarchy; }
  // Member indexes of the level, in hierarchy order.
  std::vector<int32_t> m_Members;
  std::vector<std::unique_ptr<MemberPropertyImpl>> m_Properties;

 private:
  olap_api::RefCount& cubeRefCount() const;
  HierarchyImpl* m_pHierarchy;
  TOVAString m_Name;
  TOVAString m_UniqueName;
  int m_Number;
};

class HierarchyImpl final : public NUVA_o::Hierarchy {
 public:
  HierarchyImpl(DimensionImpl* dimension, TOVAString name, TOVAString uniqueName)
      : m_pDimension(dimension), m_Name(std::move(name)), m_UniqueName(std::move(uniqueName)) {}
  MEMORY_CUBE_PART_REFCOUNT
  const TOVAString& getName() const override { return m_Name; }
  const TOVAString& getUniqueName() const override { return m_UniqueName; }
  NUVA_o::Dimension* getDimension() const override;
  NUVA_o::Level* getLevel(int index) const override;
  NUVA_o::Level* getFirstLevel() const override { return getLevel(0); }
  NUVA_o::MemberSet* createMemberSet(NUVA_o::CreateSetAs kind) const override;
  NUVA_o::MemberSet* createMemberSetFromExpression(const TOVAString& expression,
                                                   const TOVAString& language) const override;
  NUVA_o::MemberSet* createMemberSetFromXML(DOMElement* element) const override;
  void getMemberProperties(std::vector<NUVA_o::MemberProperty*>& out) const override;
  void getCalculations(std::map<TOVAString, NUVA_o::Calculation*>& out) const override;
  NUVA_o::Member* getDefaultMember() const override;
  NUVA_o::Field* getFieldByName(const TOVAString& name) const override;
  NUVA_o::Field* getCalculatedField(const TOVAString& expression) const override;
  NUVA_o::Field* getAttributeField(const TOVAString& name) const override;
  int getLevelCount() const override { return static_cast<int>(m_Levels.size()); }

  CubeImpl* cube() const;
  DimensionImpl* dimension() const { return m_pDimension; }
  // Index of the member of that unique name, or -1.
  int32_t findMember(const TOVAString& uniqueName) const;
  const MemberNode& member(int32_t index) const { return m_Members[static_cast<size_t>(index)]; }
  int32_t memberCount() const { return static_cast<int32_t>(m_Members.size()); }
  LevelImpl* level(int32_t index) const { return m_Levels[static_cast<size_t>(index)].get(); }
  // Makes calculation `k` a member of the first level, after every member so far, so that
  // stored measures keep the indexes of their fact columns.
  void add_calculated_member(size_t k);

  std::vector<std::unique_ptr<LevelImpl>> m_Levels;
  std::vector<MemberNode> m_Members;
  std::unordered_map<TOVAString, int32_t> m_MemberIndex;
  // Upper-cased unique names, for look-ups without regard to case.
  std::unordered_map<TOVAString, int32_t> m_UpperMemberIndex;
  int32_t m_DefaultMember = 0;
  bool m_HasAll = true;
  // Leaf position of each leaf key of the dimension, and the leaf member at each position.
  std::vector<int32_t> m_LeafPosition;
  std::vector<int32_t> m_LeafMember;
  std::vector<std::unique_ptr<CalculationImpl>> m_Calculations;
  // Level attribute, property and measure fields.
  std::vector<std::unique_ptr<FieldImpl>> m_Fields;

 private:
  olap_api::RefCount& cubeRefCount() const;
  NUVA_o::Field* find_field(const TOVAString& name, bool attributesOnly) const;

  DimensionImpl* m_pDimension;
  TOVAString m_Name;
  TOVAString m_UniqueName;
};

class DimensionImpl final : public NUVA_o::Dimension {
 public:
  DimensionImpl(CubeImpl* cube, TOVAString name, TOVAString uniqueName)
      : m_pCube(cube), m_Name(std::move(name)), m_UniqueName(std::move(uniqueName)) {}
  MEMORY_CUBE_PART_REFCOUNT
  const TOVAString& getName() const override { return m_Name; }
  const TOVAString& getUniqueName() const override { return m_UniqueName; }
  std::vector<NUVA_o::Hierarchy*> getHierarchies() const override;
  NUVA_o::Hierarchy* getHierarchy(const TOVAString& name) const override;
  NUVA_o::Hierarchy* getDefaultHierarchy() const override;

  CubeImpl* cube() const { return m_pCube; }
  void setCube(CubeImpl* cube) { m_pCube = cube; }

  std::vector<std::unique_ptr<HierarchyImpl>> m_Hierarchies;
  size_t m_DefaultHierarchy = 0;
  bool m_IsMeasures = false;
  // Leaf keys (fact keys) of the dimension; empty for Measures.
  std::vector<TOVAString> m_LeafKeys;
  std::unordered_map<TOVAString, int32_t> m_LeafIndex;

 private:
  olap_api::RefCount& cubeRefCount() const;
  CubeImpl* m_pCube;
  TOVAString m_Name;
  TOVAString m_UniqueName;
};

// Settings of a cube that callers may change.
struct CubeSettings {
  std::vector<bool> capabilities = std::vector<bool>(32, false);
  int stringColumnDisplaySize = -1;
  bool technicalNames = false;
  bool defaultAxisNullFilter = false;
};

class CubeImpl final : public support::RefCountImpl, public MemoryCube {
 public:
  CubeImpl(TOVAString name, std::vector<std::unique_ptr<DimensionImpl>> dimensions,
           FactTable facts, CubeSettings settings);

  // NUVA_o::Cube
  void prepareForFlattening() override {}
  void getProviderName(TOVAString& out) const override {
    out = m_pFactSource ? m_pFactSource->providerName() : providerName();
  }
  void addConnectionListener(ConnectionListener* listener) override;
  bool addListener(Listener* listener) override;
  void removeConnectionListener(ConnectionListener* listener) override;
  void removeListener(Listener* listener) override;
  const std::vector<NUVA_o::Dimension*>& getDimensions() const override { return m_DimensionList; }
  NUVA_o::Dimension* getCalculationDimension() const override;
  NUVA_o::Dimension* getDimensionByName(const TOVAString& name) const override;
  bool supports(int capability) const override;
  void persistCalculatedMembers(XmlSupport& xml, DOMElement* parent) const override;
  void restoreCalculatedMembers(DOMElement* element) override;
  int classifyName(const TOVAString& name, TOVAString& tokenText) const override;
  unsigned classifyBracedName(const TOVAString& name, int pass) const override;
  NUVA_o::Parameter* getParameterByName(const TOVAString& name) const override;
  std::vector<auto_unuse<NUVA_o::Parameter>> getParameters() const override;
  bool hasParameters() const override;
  NUVA_o::Hierarchy* getHierarchyByUniqueName(const TOVAString& uniqueName) const override;
  bool getDefaultAxisNullFilter() const override { return m_bDefaultAxisNullFilter.load(); }
  NUVA_o::RowsetDataModel* executeQuery(NUVA_o::tovasql_parser::TOVASQLExpression* root) override;
  // The size the cube was given, or when it was given none (-1) the widest text a flat field
  // can hold, since string columns must have a size.
  int getStringColumnDisplaySize() const override;
  bool supportsTechnicalNames() const override { return m_bTechnicalNames.load(); }
  void normalizeKey(TOVAString& out, const TOVAString& key) const override;
  const TOVAString& getName() const override { return m_Name; }

  // MemoryCube
  void setCapability(int capability, bool on) override;
  void setStringColumnDisplaySize(int size) override { m_StringColumnDisplaySize = size; }
  void setTechnicalNamesSupported(bool on) override { m_bTechnicalNames = on; }
  void setDefaultAxisNullFilter(bool on) override { m_bDefaultAxisNullFilter = on; }
  uint64_t getMemberSetsCreated() const override { return m_MemberSetsCreated.load(); }
  long getFactCount() const override {
    return m_pFactSource ? m_pFactSource->factCount() : static_cast<long>(m_Facts.rowCount());
  }
  void setQueryCellLimit(uint64_t cells) override { m_QueryCellLimit = cells; }
  uint64_t getQueryCellLimit() const override { return m_QueryCellLimit.load(); }
  void setScanThreads(unsigned threads) override { m_ScanThreads = threads; }
  unsigned getScanThreads() const override;
  uint64_t getFactBytes() const override { return m_Facts.bytes(); }
  void closeConnection() override;
  void addParameter(const ParameterDefinition& definition) override;

  uint32_t use() override { return RefCountImpl::use(); }
  uint32_t unuse() override;

  // Rebuilds the name indexes after the cube's parts were made.
  void reindex();
  // Counts a member set made by one of the cube's hierarchies or levels.
  void countMemberSet() const { m_MemberSetsCreated.fetch_add(1, std::memory_order_relaxed); }
  HierarchyImpl* findHierarchy(const TOVAString& uniqueName) const;
  const FactTable& facts() const { return m_Facts; }
  // Facts held elsewhere, aggregated by the source instead of the fact table; null for a cube
  // whose facts are in memory. Set once, before the cube is handed out.
  const FactSource* factSource() const { return m_pFactSource.get(); }
  void setFactSource(std::shared_ptr<const FactSource> source) { m_pFactSource = std::move(source); }
  // What the definition's facts are called in the source, for the requests made of it.
  FactLayout m_FactLayout;
  // The pool that scans of the cube share, or null when they run on the calling thread only.
  std::shared_ptr<ScanPool> scanPool() const;
  // The column of calculated measure `calculation` (an index into the Measures hierarchy's
  // calculations) when its expression is a sum of stored measures times integer constants,
  // made on first need and kept; null otherwise.
  const MeasureColumn* linearColumn(const HierarchyImpl& measures, size_t calculation) const;
  const std::vector<std::unique_ptr<DimensionImpl>>& dimensions() const { return m_Dimensions; }

 private:
  ~CubeImpl() override;
  void index_names();
  uint32_t references_held_by_parameters() const;
  void add_calculation_names(const CalculationImpl& calculation);
  void register_name(const TOVAString& text, int kind);

  TOVAString m_Name;
  std::vector<std::unique_ptr<DimensionImpl>> m_Dimensions;
  std::vector<NUVA_o::Dimension*> m_DimensionList;
  std::unordered_map<TOVAString, HierarchyImpl*> m_HierarchyIndex;
  // Name classification: exact texts and upper-cased texts to a kind of classifyName.
  std::unordered_map<TOVAString, int> m_NameKinds;
  std::unordered_map<TOVAString, int> m_UpperNameKinds;
  FactTable m_Facts;
  std::shared_ptr<const FactSource> m_pFactSource;
  std::atomic<unsigned> m_ScanThreads{0};  // 0: the hardware's
  mutable std::mutex m_PoolMutex;
  mutable std::shared_ptr<ScanPool> m_pPool;
  // Linear calculated measures as columns, by expression text (null: not linear).
  mutable std::mutex m_LinearMutex;
  mutable std::unordered_map<TOVAString, std::shared_ptr<const MeasureColumn>> m_LinearColumns;

  std::atomic<uint64_t> m_Capabilities{0};
  std::atomic<int> m_StringColumnDisplaySize{-1};
  mutable std::atomic<int> m_WidestText{-1};  // computed on first need
  std::atomic<bool> m_bTechnicalNames{false};
  std::atomic<bool> m_bDefaultAxisNullFilter{false};
  mutable std::atomic<uint64_t> m_MemberSetsCreated{0};
  std::atomic<uint64_t> m_QueryCellLimit{DEFAULT_QUERY_CELL_LIMIT};

  support::ListenerList<ConnectionListener> m_ConnectionListeners;
  support::ListenerList<Listener> m_Listeners;
  mutable std::mutex m_ParameterMutex;
  std::vector<auto_unuse<NUVA_o::Parameter>> m_Parameters;
  std::atomic<bool> m_bHasParameters{false};
  // The most cube references the parameters' values can hold: 4 for a parameter of one value
  // and one default (a member range holds 2), no bound once a complex parameter is declared.
  std::atomic<uint32_t> m_ParameterReferenceBound{0};
};

// A member object: a movable position on one member of a hierarchy.
class MemberImpl final : public support::RefCountImpl, public NUVA_o::Member {
 public:
  MemberImpl(HierarchyImpl* hierarchy, int32_t index);

  uint32_t use() override { return RefCountImpl::use(); }
  uint32_t unuse() override { return RefCountImpl::unuse(); }
  const TOVAString& getUniqueName() const override;
  int getMemberType() const override;
  void moveTo(const TOVAString& uniqueName) override;
  void moveTo(const NUVA_o::Member* other) override;
  void addMemberListener(MemberListener* listener) override;
  void removeMemberListener(MemberListener* listener) override;
  NUVA_o::Hierarchy* getHierarchy() const override { return m_pHierarchy; }
  bool isDefaultMember() const override;
  const TOVAString& getCaption() const override;
  int getLevelNumber() const override;

  // -1 when the member object does not resolve.
  int32_t index() const;

 private:
  ~MemberImpl() override;
  void move_to(const TOVAString& uniqueName, int32_t index);

  HierarchyImpl* m_pHierarchy;  // holds a reference to the cube
  mutable std::mutex m_Mutex;
  TOVAString m_UniqueName;
  int32_t m_Index;
  support::ListenerList<MemberListener> m_Listeners;
};

// Exceptions of the provider: module "MEMORYPROVIDER", codes 0xC2031xxx.
enum : uint32_t {
  MEMORY_E_DEFINITION_FILE = 0xC2031001,  // %1 file, %2 reason
  MEMORY_E_DEFINITION_XML = 0xC2031002,   // %1 file, %2 line, %3 problem
  MEMORY_E_DEFINITION = 0xC2031003,       // %1 file, %2 line, %3 problem
  MEMORY_E_CSV = 0xC2031004,              // %1 file, %2 line, %3 problem
  MEMORY_E_BUILDER = 0xC2031005,          // %1 problem
  MEMORY_E_EXPRESSION = 0xC2031006,       // %1 expression, %2 problem
  MEMORY_E_UNKNOWN_MEMBER = 0xC2031007,   // %1 hierarchy, %2 member
  MEMORY_E_UNSUPPORTED = 0xC2031008,      // %1 operation
  MEMORY_E_MEMBERSET_XML = 0xC2031009,    // %1 problem
  MEMORY_E_FOREIGN_OBJECT = 0xC203100A,   // %1 operation
  MEMORY_E_PARAMETER_DEFINITION = 0xC203100B,  // %1 parameter, %2 problem
  MEMORY_E_PARAMETER_VALUE = 0xC203100C,       // %1 parameter, %2 value, %3 why
};

// Registers the provider's message texts (idempotent).
void registerMessages();

template <class E, class... Inserts>
[[noreturn]] void raise(uint32_t code, const Inserts&... inserts) {
  registerMessages();
  support::raise<E>(moduleName(), code, inserts...);
}

}  // namespace memory
