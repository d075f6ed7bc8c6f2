#include "provider/memory/MemoryCube.h"

#include <unordered_map>

#include "MemoryCubeImpl.h"
#include "support/Exceptions.h"

namespace memory {

namespace {

struct NodeSpec {
  TOVAString name;
  TOVAString caption;
  TOVAString uniqueName;
  int32_t level = 0;
  int32_t parent = -1;
  std::vector<int32_t> children;
  std::vector<int32_t> leafKeys;
  std::vector<TOVAString> properties;
};

struct CalculationSpec {
  TOVAString name;
  TOVAString expression;
  NUVA_o::CalculationFormat format;
};

struct HierarchySpec {
  TOVAString name;
  TOVAString uniqueName;
  // Level names from the top, the All level included when there is one.
  std::vector<TOVAString> levels;
  std::vector<std::vector<TOVAString>> levelProperties;
  bool hasAll = true;
  std::vector<NodeSpec> nodes;
  std::unordered_map<TOVAString, int32_t> nodeIndex;
  // Leaf node of each leaf key of the dimension; -1 while unplaced.
  std::vector<int32_t> leafNode;
  int32_t defaultMember = -1;
  std::vector<CalculationSpec> calculations;
};

struct DimensionSpec {
  TOVAString name;
  TOVAString uniqueName;
  std::vector<HierarchySpec> hierarchies;
  size_t defaultHierarchy = 0;
  bool defaultChosen = false;
  bool isMeasures = false;
  std::vector<TOVAString> leafKeys;
  std::unordered_map<TOVAString, int32_t> leafIndex;
};

[[noreturn]] void fail(const TOVAString& problem) {
  raise<InvalidArgumentExceptionImpl>(MEMORY_E_BUILDER, problem);
}

template <class... Args>
[[noreturn]] void failf(const char* format, const Args&... args) {
  fail(TOVAString().build(format, args...));
}

}  // namespace

struct CubeBuilder::State {
  TOVAString cubeName;
  // Dimensions in order; the Measures dimension, when there is one, is kept apart.
  std::vector<DimensionSpec> dimensions;
  std::unique_ptr<DimensionSpec> measures;
  FactTableBuilder facts;
  CubeSettings settings;

  DimensionSpec* findDimension(const TOVAString& name) {
    for (auto& dimension : dimensions)
      if (dimension.name == name || dimension.uniqueName == name) return &dimension;
    if (measures && (measures->name == name || measures->uniqueName == name)) return measures.get();
    return nullptr;
  }

  // The hierarchy of that unique name and its dimension.
  std::pair<DimensionSpec*, HierarchySpec*> findHierarchy(const TOVAString& uniqueName) {
    for (auto& dimension : dimensions)
      for (auto& hierarchy : dimension.hierarchies)
        if (hierarchy.uniqueName == uniqueName) return {&dimension, &hierarchy};
    if (measures && measures->hierarchies[0].uniqueName == uniqueName)
      return {measures.get(), &measures->hierarchies[0]};
    return {nullptr, nullptr};
  }

  std::pair<DimensionSpec*, HierarchySpec*> requireHierarchy(const TOVAString& uniqueName) {
    auto found = findHierarchy(uniqueName);
    if (!found.second) failf("unknown hierarchy '%s'", uniqueName);
    return found;
  }

  // The member of that unique name in any hierarchy.
  std::pair<HierarchySpec*, NodeSpec*> findMember(const TOVAString& uniqueName) {
    auto search = [&](DimensionSpec& dimension) -> std::pair<HierarchySpec*, NodeSpec*> {
      for (auto& hierarchy : dimension.hierarchies) {
        auto it = hierarchy.nodeIndex.find(uniqueName);
        if (it != hierarchy.nodeIndex.end())
          return {&hierarchy, &hierarchy.nodes[static_cast<size_t>(it->second)]};
      }
      return {nullptr, nullptr};
    };
    for (auto& dimension : dimensions) {
      auto found = search(dimension);
      if (found.second) return found;
    }
    if (measures) return search(*measures);
    return {nullptr, nullptr};
  }

  bool factsStarted() const { return !facts.empty(); }
};

CubeBuilder::CubeBuilder(const TOVAString& cubeName) : m_pState(std::make_unique<State>()) {
  m_pState->cubeName = cubeName;
}

CubeBuilder::~CubeBuilder() = default;

void CubeBuilder::addDimension(const TOVAString& name) {
  State& s = *m_pState;
  if (name.empty()) fail("a dimension needs a name");
  if (name == "Measures") fail("the Measures dimension is made by addMeasure");
  if (s.findDimension(bracket(name)) || s.findDimension(name)) failf("dimension '%s' is defined twice", name);
  if (s.factsStarted()) failf("dimension '%s' is added after fact rows", name);
  DimensionSpec dimension;
  dimension.name = name;
  dimension.uniqueName = bracket(name);
  s.dimensions.push_back(std::move(dimension));
  s.facts.addKeyColumn();
}

TOVAString CubeBuilder::addHierarchy(const TOVAString& dimensionName, const TOVAString& name,
                               const std::vector<TOVAString>& levels, bool isDefault, bool hasAll) {
  State& s = *m_pState;
  DimensionSpec* dimension = s.findDimension(dimensionName);
  if (!dimension || dimension->isMeasures) failf("unknown dimension '%s'", dimensionName);
  if (name.empty()) failf("a hierarchy of dimension '%s' needs a name", dimensionName);
  if (levels.empty()) failf("hierarchy '%s' of dimension '%s' has no levels", name, dimensionName);
  HierarchySpec hierarchy;
  hierarchy.name = name;
  hierarchy.uniqueName = name == dimension->name ? dimension->uniqueName
                                                 : dimension->uniqueName + TOVAString(".") + bracket(name);
  for (const auto& existing : dimension->hierarchies)
    if (existing.uniqueName == hierarchy.uniqueName || existing.name == name)
      failf("hierarchy '%s' is defined twice", hierarchy.uniqueName);
  hierarchy.hasAll = hasAll;
  if (hasAll) hierarchy.levels.push_back("(All)");
  for (const TOVAString& level : levels) {
    if (level.empty()) failf("a level of hierarchy '%s' has no name", hierarchy.uniqueName);
    for (const TOVAString& other : hierarchy.levels)
      if (other == level) failf("level '%s' of hierarchy '%s' is defined twice", level, hierarchy.uniqueName);
    hierarchy.levels.push_back(level);
  }
  hierarchy.levelProperties.resize(hierarchy.levels.size());
  if (hasAll) {
    NodeSpec all;
    all.name = "All";
    all.caption = "All";
    all.uniqueName = hierarchy.uniqueName + TOVAString(".[All]");
    hierarchy.nodeIndex.emplace(all.uniqueName, 0);
    hierarchy.nodes.push_back(std::move(all));
  }
  hierarchy.leafNode.assign(dimension->leafKeys.size(), -1);
  if (isDefault) {
    if (dimension->defaultChosen)
      failf("dimension '%s' has two default hierarchies", dimension->uniqueName);
    dimension->defaultChosen = true;
    dimension->defaultHierarchy = dimension->hierarchies.size();
  }
  TOVAString uniqueName = hierarchy.uniqueName;
  dimension->hierarchies.push_back(std::move(hierarchy));
  return uniqueName;
}

void CubeBuilder::addPath(const TOVAString& hierarchyUniqueName, const TOVAString& leafKey,
                          const std::vector<TOVAString>& path) {
  State& s = *m_pState;
  auto [dimension, hierarchy] = s.requireHierarchy(hierarchyUniqueName);
  if (dimension->isMeasures) fail("measures are added by addMeasure");
  const size_t firstLevel = hierarchy->hasAll ? 1 : 0;
  if (path.size() != hierarchy->levels.size() - firstLevel)
    failf("the path of key '%s' in hierarchy '%s' names %u members; the hierarchy has %u levels",
          leafKey, hierarchyUniqueName, path.size(), hierarchy->levels.size() - firstLevel);
  if (leafKey.empty()) failf("an empty leaf key in hierarchy '%s'", hierarchyUniqueName);
  for (const TOVAString& name : path)
    if (name.empty()) failf("the path of key '%s' in hierarchy '%s' has an empty member name", leafKey, hierarchyUniqueName);
  auto keyIt = dimension->leafIndex.find(leafKey);
  int32_t key = keyIt == dimension->leafIndex.end() ? -1 : keyIt->second;
  if (key >= 0 && static_cast<size_t>(key) < hierarchy->leafNode.size() && hierarchy->leafNode[key] >= 0)
    failf("key '%s' is placed twice in hierarchy '%s'", leafKey, hierarchyUniqueName);
  if (hierarchy->hasAll && path[0] == "All")
    failf("a top member of hierarchy '%s' may not be named 'All'", hierarchyUniqueName);
  // Check before changing anything, so that a refused path leaves the builder as it was. The
  // members found and the unique names of those to make are kept for the changes below.
  std::vector<int32_t> found(path.size(), -1);
  std::vector<TOVAString> uniqueNames(path.size());
  {
    TOVAString uniqueName = hierarchy->uniqueName;
    for (size_t i = 0; i < path.size(); ++i) {
      uniqueName.append(".").append(bracket(path[i]));
      auto it = hierarchy->nodeIndex.find(uniqueName);
      if (it == hierarchy->nodeIndex.end()) {
        uniqueNames[i] = uniqueName;
        continue;
      }
      if (hierarchy->nodes[static_cast<size_t>(it->second)].level != static_cast<int32_t>(i + firstLevel))
        failf("member '%s' is placed on two levels", uniqueName);
      found[i] = it->second;
    }
  }
  if (key < 0) {
    key = static_cast<int32_t>(dimension->leafKeys.size());
    dimension->leafKeys.push_back(leafKey);
    dimension->leafIndex.emplace(leafKey, key);
    for (auto& other : dimension->hierarchies) other.leafNode.push_back(-1);
  }
  int32_t parent = hierarchy->hasAll ? 0 : -1;
  for (size_t i = 0; i < path.size(); ++i) {
    int32_t node = found[i];
    if (node < 0) {
      node = static_cast<int32_t>(hierarchy->nodes.size());
      NodeSpec spec;
      spec.name = path[i];
      spec.caption = path[i];
      spec.uniqueName = uniqueNames[i];
      spec.level = static_cast<int32_t>(i + firstLevel);
      spec.parent = parent;
      hierarchy->nodeIndex.emplace(std::move(uniqueNames[i]), node);
      hierarchy->nodes.push_back(std::move(spec));
      if (parent >= 0) hierarchy->nodes[static_cast<size_t>(parent)].children.push_back(node);
    }
    parent = node;
  }
  hierarchy->nodes[static_cast<size_t>(parent)].leafKeys.push_back(key);
  hierarchy->leafNode[static_cast<size_t>(key)] = parent;
}

void CubeBuilder::setCaption(const TOVAString& memberUniqueName, const TOVAString& caption) {
  auto [hierarchy, node] = m_pState->findMember(memberUniqueName);
  if (!node) failf("unknown member '%s'", memberUniqueName);
  node->caption = caption;
}

void CubeBuilder::addLevelProperty(const TOVAString& levelUniqueName, const TOVAString& property) {
  State& s = *m_pState;
  if (property.empty()) failf("a property of level '%s' needs a name", levelUniqueName);
  auto visit = [&](DimensionSpec& dimension) {
    for (auto& hierarchy : dimension.hierarchies)
      for (size_t i = 0; i < hierarchy.levels.size(); ++i)
        if (hierarchy.uniqueName + TOVAString(".") + bracket(hierarchy.levels[i]) == levelUniqueName) {
          for (const TOVAString& existing : hierarchy.levelProperties[i])
            if (existing == property) failf("property '%s' of level '%s' is defined twice", property, levelUniqueName);
          hierarchy.levelProperties[i].push_back(property);
          return true;
        }
    return false;
  };
  for (auto& dimension : s.dimensions)
    if (visit(dimension)) return;
  if (s.measures && visit(*s.measures)) return;
  failf("unknown level '%s'", levelUniqueName);
}

void CubeBuilder::setMemberProperty(const TOVAString& memberUniqueName, const TOVAString& property,
                                    const TOVAString& value) {
  auto [hierarchy, node] = m_pState->findMember(memberUniqueName);
  if (!node) failf("unknown member '%s'", memberUniqueName);
  const auto& names = hierarchy->levelProperties[static_cast<size_t>(node->level)];
  for (size_t i = 0; i < names.size(); ++i)
    if (names[i] == property) {
      node->properties.resize(names.size());
      node->properties[i] = value;
      return;
    }
  failf("the level of member '%s' has no property '%s'", memberUniqueName, property);
}

void CubeBuilder::setDefaultMember(const TOVAString& hierarchyUniqueName,
                                   const TOVAString& memberUniqueName) {
  auto [dimension, hierarchy] = m_pState->requireHierarchy(hierarchyUniqueName);
  auto it = hierarchy->nodeIndex.find(memberUniqueName);
  if (it == hierarchy->nodeIndex.end())
    failf("hierarchy '%s' has no member '%s'", hierarchyUniqueName, memberUniqueName);
  hierarchy->defaultMember = it->second;
}

void CubeBuilder::addMeasure(const TOVAString& name, bool isDefault) {
  State& s = *m_pState;
  if (name.empty()) fail("a measure needs a name");
  if (s.factsStarted()) failf("measure '%s' is added after fact rows", name);
  if (!s.measures) {
    s.measures = std::make_unique<DimensionSpec>();
    s.measures->name = "Measures";
    s.measures->uniqueName = "[Measures]";
    s.measures->isMeasures = true;
    HierarchySpec hierarchy;
    hierarchy.name = "Measures";
    hierarchy.uniqueName = "[Measures]";
    hierarchy.levels.push_back("MeasuresLevel");
    hierarchy.levelProperties.resize(1);
    hierarchy.hasAll = false;
    s.measures->hierarchies.push_back(std::move(hierarchy));
  }
  HierarchySpec& hierarchy = s.measures->hierarchies[0];
  NodeSpec node;
  node.name = name;
  node.caption = name;
  node.uniqueName = TOVAString("[Measures].") + bracket(name);
  if (hierarchy.nodeIndex.count(node.uniqueName)) failf("measure '%s' is defined twice", name);
  const int32_t index = static_cast<int32_t>(hierarchy.nodes.size());
  if (isDefault) {
    if (hierarchy.defaultMember >= 0) failf("measure '%s' is the second default measure", name);
    hierarchy.defaultMember = index;
  }
  hierarchy.nodeIndex.emplace(node.uniqueName, index);
  hierarchy.nodes.push_back(std::move(node));
  s.facts.addMeasureColumn();
}

void CubeBuilder::addCalculation(const TOVAString& hierarchyUniqueName, const TOVAString& name,
                                 const TOVAString& expression, NUVA_o::CalculationFormat format) {
  auto [dimension, hierarchy] = m_pState->requireHierarchy(hierarchyUniqueName);
  if (name.empty()) failf("a calculation of hierarchy '%s' needs a name", hierarchyUniqueName);
  const TOVAString uniqueName = hierarchy->uniqueName + TOVAString(".") + bracket(name);
  for (const auto& calculation : hierarchy->calculations)
    if (calculation.name == name) failf("calculation '%s' is defined twice", uniqueName);
  if (hierarchy->nodeIndex.count(uniqueName)) failf("calculation '%s' has the name of a member", uniqueName);
  hierarchy->calculations.push_back(CalculationSpec{name, expression, format});
}

int32_t CubeBuilder::leafIndex(const TOVAString& dimensionName, const TOVAString& key) const {
  DimensionSpec* dimension = m_pState->findDimension(dimensionName);
  if (!dimension) return -1;
  auto it = dimension->leafIndex.find(key);
  return it == dimension->leafIndex.end() ? -1 : it->second;
}

void CubeBuilder::addFact(const std::vector<TOVAString>& keys, const std::vector<double>& values) {
  State& s = *m_pState;
  if (keys.size() != s.dimensions.size())
    failf("a fact row has %u keys; the cube has %u dimensions besides Measures", keys.size(), s.dimensions.size());
  std::vector<int32_t> indexes(keys.size());
  for (size_t i = 0; i < keys.size(); ++i) {
    auto it = s.dimensions[i].leafIndex.find(keys[i]);
    if (it == s.dimensions[i].leafIndex.end())
      failf("unknown key '%s' of dimension '%s'", keys[i], s.dimensions[i].name);
    indexes[i] = it->second;
  }
  addFact(indexes, values);
}

void CubeBuilder::addFact(const std::vector<int32_t>& leafIndexes, const std::vector<double>& values) {
  State& s = *m_pState;
  if (leafIndexes.size() != s.dimensions.size())
    failf("a fact row has %u keys; the cube has %u dimensions besides Measures", leafIndexes.size(), s.dimensions.size());
  if (values.size() != s.facts.measureColumns())
    failf("a fact row has %u values; the cube has %u measures", values.size(),
          s.facts.measureColumns());
  for (size_t i = 0; i < leafIndexes.size(); ++i)
    if (leafIndexes[i] < 0 || static_cast<size_t>(leafIndexes[i]) >= s.dimensions[i].leafKeys.size())
      failf("leaf index %d is out of range for dimension '%s'", leafIndexes[i], s.dimensions[i].name);
  s.facts.addRow(leafIndexes.data(), values.data());
}

FactTableBuilder& factColumns(CubeBuilder& builder) { return builder.m_pState->facts; }

void CubeBuilder::reserveFacts(size_t rows) {
  FactTableBuilder& facts = m_pState->facts;
  try {
    facts.reserve(facts.rows() + rows);
  } catch (const std::exception&) {
    // Too large an estimate (bad_alloc or length_error): the columns grow as rows come.
  }
}

void CubeBuilder::setCapability(int capability, bool on) {
  auto& capabilities = m_pState->settings.capabilities;
  if (capability < 0 || capability >= 64) failf("capability %d is out of range", capability);
  if (static_cast<size_t>(capability) >= capabilities.size()) capabilities.resize(static_cast<size_t>(capability) + 1);
  capabilities[static_cast<size_t>(capability)] = on;
}

void CubeBuilder::setStringColumnDisplaySize(int size) { m_pState->settings.stringColumnDisplaySize = size; }
void CubeBuilder::setTechnicalNamesSupported(bool on) { m_pState->settings.technicalNames = on; }
void CubeBuilder::setDefaultAxisNullFilter(bool on) { m_pState->settings.defaultAxisNullFilter = on; }

namespace {

// Turns a hierarchy's specification into its provider object: members in depth-first order,
// leaf positions in that order, levels, fields.
std::unique_ptr<HierarchyImpl> make_hierarchy(DimensionImpl* dimension, const DimensionSpec& dimensionSpec,
                                              const HierarchySpec& spec) {
  auto hierarchy = std::make_unique<HierarchyImpl>(dimension, spec.name, spec.uniqueName);
  hierarchy->m_HasAll = spec.hasAll;
  for (size_t i = 0; i < spec.levels.size(); ++i) {
    auto level = std::make_unique<LevelImpl>(hierarchy.get(), spec.levels[i],
                                             spec.uniqueName + TOVAString(".") + bracket(spec.levels[i]),
                                             static_cast<int>(i));
    for (const TOVAString& property : spec.levelProperties[i])
      level->m_Properties.push_back(std::make_unique<MemberPropertyImpl>(
          nullptr, property, level->getUniqueName() + TOVAString(".") + bracket(property)));
    hierarchy->m_Levels.push_back(std::move(level));
  }

  std::vector<int32_t> newIndex(spec.nodes.size(), -1);
  hierarchy->m_Members.reserve(spec.nodes.size());
  hierarchy->m_LeafPosition.assign(dimensionSpec.leafKeys.size(), -1);
  int32_t position = 0;
  // Iterative depth-first walk: (node, next child) pairs.
  std::vector<std::pair<int32_t, size_t>> stack;
  auto enter = [&](int32_t node) {
    const NodeSpec& n = spec.nodes[static_cast<size_t>(node)];
    const int32_t index = static_cast<int32_t>(hierarchy->m_Members.size());
    newIndex[static_cast<size_t>(node)] = index;
    MemberNode member;
    member.name = n.name;
    member.caption = n.caption;
    member.uniqueName = n.uniqueName;
    member.level = n.level;
    member.parent = n.parent < 0 ? -1 : newIndex[static_cast<size_t>(n.parent)];
    member.firstLeaf = position;
    member.properties = n.properties;
    member.properties.resize(spec.levelProperties[static_cast<size_t>(n.level)].size());
    if (member.parent >= 0) hierarchy->m_Members[static_cast<size_t>(member.parent)].children.push_back(index);
    for (int32_t key : n.leafKeys) {
      hierarchy->m_LeafPosition[static_cast<size_t>(key)] = position++;
      hierarchy->m_LeafMember.push_back(index);
    }
    hierarchy->m_Members.push_back(std::move(member));
    hierarchy->m_Levels[static_cast<size_t>(n.level)]->m_Members.push_back(index);
    stack.emplace_back(node, 0);
  };
  for (size_t root = 0; root < spec.nodes.size(); ++root) {
    if (spec.nodes[root].parent >= 0) continue;
    enter(static_cast<int32_t>(root));
    while (!stack.empty()) {
      auto& [node, next] = stack.back();
      const NodeSpec& n = spec.nodes[static_cast<size_t>(node)];
      if (next < n.children.size()) {
        enter(n.children[next++]);
      } else {
        hierarchy->m_Members[static_cast<size_t>(newIndex[static_cast<size_t>(node)])].endLeaf = position;
        stack.pop_back();
      }
    }
  }
  for (size_t i = 0; i < hierarchy->m_Members.size(); ++i) {
    hierarchy->m_MemberIndex.emplace(hierarchy->m_Members[i].uniqueName, static_cast<int32_t>(i));
    // The first member wins when two names differ only in letter case.
    hierarchy->m_UpperMemberIndex.emplace(upper(hierarchy->m_Members[i].uniqueName), static_cast<int32_t>(i));
  }
  hierarchy->m_DefaultMember = spec.defaultMember >= 0 ? newIndex[static_cast<size_t>(spec.defaultMember)] : 0;
  return hierarchy;
}

void add_fields(CubeImpl* cube, HierarchyImpl* hierarchy, bool isMeasures) {
  for (const auto& level : hierarchy->m_Levels) {
    if (isMeasures) break;
    if (hierarchy->m_HasAll && level->getLevelNumber() == 0) continue;
    FieldDescription field;
    field.kind = FK_LEVEL;
    field.name = level->getName();
    field.uniqueName = level->getUniqueName();
    field.caption = level->getName();
    field.hierarchy = hierarchy;
    field.levelUniqueName = level->getUniqueName();
    field.levelNumber = static_cast<unsigned>(level->getLevelNumber());
    hierarchy->m_Fields.push_back(std::make_unique<FieldImpl>(cube, field));
    auto hasProperty = [&](const char* name) {
      for (const auto& property : level->m_Properties)
        if (property->getName() == name) return true;
      return false;
    };
    // The members' captions and keys (unique names), unless a property takes the name.
    for (auto [attribute, name] : {std::pair{LA_CAPTION, "Caption"}, std::pair{LA_KEY, "Key"}}) {
      if (hasProperty(name)) continue;
      FieldDescription extra = field;
      extra.attribute = attribute;
      extra.name = name;
      extra.uniqueName = level->getUniqueName() + TOVAString(".") + bracket(name);
      extra.caption = name;
      hierarchy->m_Fields.push_back(std::make_unique<FieldImpl>(cube, extra));
    }
    for (size_t p = 0; p < level->m_Properties.size(); ++p) {
      const auto& property = level->m_Properties[p];
      field.kind = FK_PROPERTY;
      field.property = static_cast<int>(p);
      field.name = property->getName();
      field.uniqueName = property->getUniqueName();
      field.caption = property->getName();
      hierarchy->m_Fields.push_back(std::make_unique<FieldImpl>(cube, field));
    }
  }
  if (!isMeasures) return;
  for (const MemberNode& measure : hierarchy->m_Members) {
    if (measure.calculation >= 0) continue;
    FieldDescription field;
    field.kind = FK_MEASURE;
    field.name = measure.name;
    field.uniqueName = measure.uniqueName;
    field.caption = measure.caption;
    field.hierarchy = hierarchy;
    field.levelUniqueName = hierarchy->level(0)->getUniqueName();
    field.levelNumber = 0;
    hierarchy->m_Fields.push_back(std::make_unique<FieldImpl>(cube, field));
  }
}

}  // namespace

MemoryCube* CubeBuilder::build() {
  State& s = *m_pState;
  // Every hierarchy must place every leaf key of its dimension, or facts could not be
  // aggregated along it.
  for (const auto& dimension : s.dimensions) {
    if (dimension.hierarchies.empty()) failf("dimension '%s' has no hierarchy", dimension.uniqueName);
    for (const auto& hierarchy : dimension.hierarchies) {
      if (hierarchy.nodes.empty()) failf("hierarchy '%s' has no members", hierarchy.uniqueName);
      for (size_t key = 0; key < hierarchy.leafNode.size(); ++key)
        if (hierarchy.leafNode[key] < 0)
          failf("hierarchy '%s' does not place key '%s' of dimension '%s'", hierarchy.uniqueName,
                dimension.leafKeys[key], dimension.name);
    }
  }

  std::vector<std::unique_ptr<DimensionImpl>> dimensions;
  std::vector<const DimensionSpec*> specs;
  for (const auto& dimension : s.dimensions) specs.push_back(&dimension);
  if (s.measures) specs.push_back(s.measures.get());
  for (const DimensionSpec* spec : specs) {
    auto dimension = std::make_unique<DimensionImpl>(nullptr, spec->name, spec->uniqueName);
    dimension->m_IsMeasures = spec->isMeasures;
    dimension->m_DefaultHierarchy = spec->defaultHierarchy;
    dimension->m_LeafKeys = spec->leafKeys;
    dimension->m_LeafIndex = spec->leafIndex;
    for (const auto& hierarchy : spec->hierarchies)
      dimension->m_Hierarchies.push_back(make_hierarchy(dimension.get(), *spec, hierarchy));
    dimensions.push_back(std::move(dimension));
  }

  auto_unuse<CubeImpl> cube(
      new CubeImpl(s.cubeName, std::move(dimensions), s.facts.finish(), s.settings));
  // Parts that point at the cube are made once it exists; the cube indexes their names below.
  for (size_t d = 0; d < specs.size(); ++d) {
    DimensionImpl* dimension = cube->dimensions()[d].get();
    for (size_t h = 0; h < specs[d]->hierarchies.size(); ++h) {
      HierarchyImpl* hierarchy = dimension->m_Hierarchies[h].get();
      for (const auto& level : hierarchy->m_Levels)
        for (auto& property : level->m_Properties)
          property = std::make_unique<MemberPropertyImpl>(cube.get(), property->getName(), property->getUniqueName());
      for (const CalculationSpec& calculation : specs[d]->hierarchies[h].calculations)
        hierarchy->m_Calculations.push_back(std::make_unique<CalculationImpl>(
            cube.get(), hierarchy, calculation.name,
            hierarchy->getUniqueName() + TOVAString(".") + bracket(calculation.name),
            calculation.expression, calculation.format));
      add_fields(cube.get(), hierarchy, dimension->m_IsMeasures);
      // Calculated measures are members of the measures level like the stored ones, but no
      // fields of the facts.
      if (dimension->m_IsMeasures)
        for (size_t k = 0; k < hierarchy->m_Calculations.size(); ++k) hierarchy->add_calculated_member(k);
    }
  }
  cube->reindex();
  m_pState = std::make_unique<State>();
  return cube.release();
}

}  // namespace memory
