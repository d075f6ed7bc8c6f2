#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "NUVA_o/Cube.h"
#include "support/TOVAString.h"

// The in-memory reference provider (library vtq_provider_memory). Loading the library
// registers it as provider "memory".
namespace memory {

// "memory": the provider name of every cube of this provider.
VTQ_EXPORT const TOVAString& providerName();
// "MEMORYPROVIDER": the module of the provider's exceptions and log units.
VTQ_EXPORT const TOVAString& moduleName();

// A prompt the cube declares. `hierarchy` is a hierarchy unique name (member, member set and
// interval prompts), `dimension` a dimension unique name (hierarchy prompts, which choose among
// `values`, hierarchy unique names). For other prompts a non-empty `values` lists the admitted
// texts; numeric prompts admit `minimum` to `maximum`.
struct ParameterDefinition {
  int32_t type = 0;
  TOVAString name;
  TOVAString caption;
  TOVAString description;
  TOVAString hierarchy;
  TOVAString dimension;
  TOVAString defaultValue;
  std::vector<TOVAString> values;
  double minimum = -1e308;
  double maximum = 1e308;
};

// A cube held in memory: a NUVA_o::Cube whose settings can be changed after it is built.
// Dimensions, hierarchies, levels, member properties, calculations and the fields of levels and
// measures share the cube's reference count: a reference to any of them keeps the cube alive.
class VTQ_EXPORT MemoryCube : public NUVA_o::Cube {
 public:
  ~MemoryCube() override = default;

  // Capability numbers of supports() (10, 12, 18 and any other number).
  virtual void setCapability(int capability, bool on) = 0;
  virtual void setStringColumnDisplaySize(int size) = 0;
  virtual void setTechnicalNamesSupported(bool on) = 0;
  virtual void setDefaultAxisNullFilter(bool on) = 0;
  // Member sets made by the cube's hierarchies and levels since the cube was built.
  virtual uint64_t getMemberSetsCreated() const = 0;
  // Number of fact rows.
  virtual long getFactCount() const = 0;
  // Grid queries of more cells than this are refused as too large.
  static constexpr uint64_t DEFAULT_QUERY_CELL_LIMIT = 4000000;
  virtual void setQueryCellLimit(uint64_t cells) = 0;
  virtual uint64_t getQueryCellLimit() const = 0;
  // Threads that scan the facts of one query (0, the default: the hardware's). Tables of fewer
  // than a morsel of rows are scanned on the calling thread whatever the setting.
  virtual void setScanThreads(unsigned threads) = 0;
  // The thread count scans use (the hardware's when set to 0).
  virtual unsigned getScanThreads() const = 0;
  // Bytes the fact table's columns hold.
  virtual uint64_t getFactBytes() const = 0;
  // Calls connectionClosing on every connection listener (a copy of the list is walked, so
  // listeners may remove themselves).
  virtual void closeConnection() = 0;
  // Declares a prompt; throws InvalidArgumentException (MEMORY_E_PARAMETER_DEFINITION) for an
  // unknown hierarchy or dimension, a duplicate name or a default value the prompt refuses.
  virtual void addParameter(const ParameterDefinition& definition) = 0;
};

// Reads a cube definition file (XML naming dimensions, hierarchies, levels, member tables,
// measures and the fact table; CSV paths are relative to the file). Returns the cube with one
// reference for the caller. A missing or broken definition or CSV file throws an exception of
// the olap_api family whose message names the file, the line and the problem; nothing of a
// failed load survives.
VTQ_EXPORT MemoryCube* loadCube(const std::string& path);

// Files held in memory, by path: the contents a cube definition and its tables would have on
// disk.
using FileSet = std::map<std::string, std::string>;
// As loadCube, reading the definition at `path` and its tables from `files` instead of the
// disk (table paths resolve against the definition's directory as they would on disk).
VTQ_EXPORT MemoryCube* loadCube(const std::string& path, const FileSet& files);

// The largest definition and table files a load reads, in bytes; larger ones are refused.
constexpr size_t kMaxDefinitionBytes = size_t(64) << 20;
constexpr size_t kMaxTableBytes = size_t(1) << 30;

// The unique names of the members of a set, in the set's order. A library proxy is asked
// through its server set (which is created when needed). Throws InvalidArgumentException
// for a null set or a set of another provider.
VTQ_EXPORT std::vector<TOVAString> memberUniqueNames(const NUVA_o::MemberSet* set);

// Builds a cube in code. Unique names: dimension "[D]"; hierarchy "[D].[H]", or "[D]" when
// the hierarchy is named like its dimension; level "<hierarchy>.[L]"; member "<hierarchy>"
// followed by the member's path below the All member ("[Product].[Bikes].[Road]"); All
// member "<hierarchy>.[All]"; measure "[Measures].[M]". Every call that names an unknown
// object, or repeats one, throws InvalidArgumentException; a builder that threw stays usable.
class FactTableBuilder;

class VTQ_EXPORT CubeBuilder {
 public:
  explicit CubeBuilder(const TOVAString& cubeName);
  ~CubeBuilder();
  CubeBuilder(const CubeBuilder&) = delete;
  CubeBuilder& operator=(const CubeBuilder&) = delete;

  // A dimension whose facts are identified by leaf keys (e.g. "2024-01").
  void addDimension(const TOVAString& name);
  // A hierarchy of the dimension with its levels from the top down. The first hierarchy of a
  // dimension is its default unless another is added with isDefault. With `hasAll` the
  // hierarchy has an All level (level 0) holding the All member. Returns the unique name.
  TOVAString addHierarchy(const TOVAString& dimension, const TOVAString& name,
                    const std::vector<TOVAString>& levels, bool isDefault = false,
                    bool hasAll = true);
  // Places a leaf key of the hierarchy's dimension under `path` (one member name per level
  // below All, top first). Members are created as paths name them, in order of appearance.
  // A key placed twice in one hierarchy throws.
  void addPath(const TOVAString& hierarchyUniqueName, const TOVAString& leafKey,
               const std::vector<TOVAString>& path);
  // Captions default to the member names.
  void setCaption(const TOVAString& memberUniqueName, const TOVAString& caption);
  // Declares a member property of a level ("<level>.[P]").
  void addLevelProperty(const TOVAString& levelUniqueName, const TOVAString& property);
  void setMemberProperty(const TOVAString& memberUniqueName, const TOVAString& property,
                         const TOVAString& value);
  // Default: the All member, or the first member of a hierarchy without All.
  void setDefaultMember(const TOVAString& hierarchyUniqueName, const TOVAString& memberUniqueName);
  // A measure of the Measures dimension (created with the first measure). The first measure
  // is the default member unless another is added with isDefault.
  void addMeasure(const TOVAString& name, bool isDefault = false);
  // A calculation of a hierarchy ("<hierarchy>.[name]").
  void addCalculation(const TOVAString& hierarchyUniqueName, const TOVAString& name,
                      const TOVAString& expression, NUVA_o::CalculationFormat format);
  // The leaf index of a key of a dimension, or -1.
  int32_t leafIndex(const TOVAString& dimension, const TOVAString& key) const;
  // A fact row: one leaf key per dimension (in the order the dimensions were added, Measures
  // excluded) and one value per measure (in order). Unknown keys throw.
  void addFact(const std::vector<TOVAString>& keys, const std::vector<double>& values);
  // The same with leaf indexes (leafIndex), for bulk loading.
  void addFact(const std::vector<int32_t>& leafIndexes, const std::vector<double>& values);
  // Makes room for `rows` more fact rows, so that bulk loading grows no column twice. Only a
  // hint: room that cannot be had is not reserved.
  void reserveFacts(size_t rows);

  void setCapability(int capability, bool on);
  void setStringColumnDisplaySize(int size);
  void setTechnicalNamesSupported(bool on);
  void setDefaultAxisNullFilter(bool on);

  // The cube, with one reference for the caller. Throws when a hierarchy leaves a leaf key
  // of its dimension unplaced. The builder is empty afterwards.
  MemoryCube* build();

 private:
  // The definition loader appends checked leaf indexes and values to the columns directly.
  friend FactTableBuilder& factColumns(CubeBuilder& builder);

  struct State;
  std::unique_ptr<State> m_pState;
};

}  // namespace memory
