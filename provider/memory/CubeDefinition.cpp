// Reads a cube definition file: an XML document that names the cube's dimensions,
// hierarchies, levels, member tables, measures and fact table (see examples/sales/ and the
// README of this directory for the format).

#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <optional>
#include <unordered_map>

#include "Csv.h"
#include "FactRequest.h"
#include "InputFile.h"
#include "KeyIndex.h"
#include "MemoryCubeImpl.h"
#include "NUVA_o/Expression.h"
#include "common/CommonExpression.h"
#include "support/StringConverters.h"

namespace memory {

namespace {

// The line of each start tag of the text, in document order (which is also the order of a
// depth-first walk of the DOM's elements). Comments, CDATA sections, processing instructions
// and declarations hold no start tags.
std::vector<int> start_tag_lines(const std::string& text) {
  std::vector<int> lines;
  int line = 1;
  size_t i = 0;
  // "\r\n", "\n" and a lone "\r" each end a line, as the XML parser counts them.
  auto ends_line = [&](size_t at) {
    return text[at] == '\n' || (text[at] == '\r' && (at + 1 >= text.size() || text[at + 1] != '\n'));
  };
  auto skip_to = [&](const char* end) {
    const size_t length = std::strlen(end);
    while (i < text.size() && text.compare(i, length, end) != 0) {
      if (ends_line(i)) ++line;
      ++i;
    }
    i = std::min(text.size(), i + length);
  };
  while (i < text.size()) {
    const char c = text[i];
    if (ends_line(i)) ++line;
    if (c != '<') {
      ++i;
      continue;
    }
    if (text.compare(i, 4, "<!--") == 0) {
      skip_to("-->");
    } else if (text.compare(i, 9, "<![CDATA[") == 0) {
      skip_to("]]>");
    } else if (text.compare(i, 2, "<?") == 0) {
      skip_to("?>");
    } else if (text.compare(i, 2, "<!") == 0 || text.compare(i, 2, "</") == 0) {
      skip_to(">");
    } else {
      lines.push_back(line);
      // Attribute values may hold '>' and line breaks.
      char quote = 0;
      for (++i; i < text.size(); ++i) {
        if (ends_line(i)) ++line;
        if (quote) {
          if (text[i] == quote) quote = 0;
        } else if (text[i] == '"' || text[i] == '\'') {
          quote = text[i];
        } else if (text[i] == '>') {
          ++i;
          break;
        }
      }
    }
  }
  return lines;
}

// Whether the document is to be read as UTF-8: it declares no other encoding in its XML
// declaration.
bool declares_utf8(std::string_view text) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  if (!text.starts_with("<?xml")) return true;
  const std::string_view declaration = text.substr(0, text.find("?>"));
  const size_t at = declaration.find("encoding");
  if (at == std::string_view::npos) return true;
  const size_t open = declaration.find_first_of("\"'", at);
  if (open == std::string_view::npos) return true;
  const size_t close = declaration.find(declaration[open], open + 1);
  TOVAString name(std::string(declaration.substr(open + 1, close == std::string_view::npos ? 0 : close - open - 1)));
  name.toUpper();
  return name == "UTF-8" || name == "UTF8";
}

struct LevelDefinition {
  TOVAString name;
  int column = -1;
  int captionColumn = -1;
  std::vector<std::pair<TOVAString, int>> properties;  // name, column
};

class DefinitionReader {
 public:
  DefinitionReader(std::string path, const FileSet* files) : m_Path(std::move(path)), m_pFiles(files) {}

  MemoryCube* load();

 private:
  [[noreturn]] void fail(const DOMElement* element, const TOVAString& problem) const {
    raise<InvalidXMLExceptionImpl>(MEMORY_E_DEFINITION, TOVAString(m_Path), line_of(element), problem);
  }
  template <class... Args>
  [[noreturn]] void failf(const DOMElement* element, const char* format, const Args&... args) const {
    fail(element, TOVAString().build(format, args...));
  }
  int line_of(const DOMElement* element) const {
    auto it = m_Lines.find(element);
    return it == m_Lines.end() ? 0 : it->second;
  }
  void index_lines(const std::string& text, DOMElement* root);

  TOVAString required(const DOMElement* element, const char* attribute) const {
    TOVAString value = XmlSupport::getAttribute(element, attribute);
    if (value.empty())
      failf(element, "element '%s' needs the attribute '%s'", XmlSupport::getNodeName(element), attribute);
    return value;
  }
  bool flag(const DOMElement* element, const char* attribute, bool byDefault) const {
    if (!XmlSupport::hasAttribute(element, attribute)) return byDefault;
    const TOVAString value = XmlSupport::getAttribute(element, attribute);
    if (value == "true") return true;
    if (value == "false") return false;
    failf(element, "attribute '%s' must be true or false, not '%s'", attribute, value);
  }
  void check_attributes(const DOMElement* element, std::initializer_list<const char*> allowed) const;
  std::vector<DOMElement*> children(const DOMElement* element) const;
  std::string table_path(const TOVAString& table) const;
  template <class Table>
  int table_column(const DOMElement* element, const Table& table, const TOVAString& column) const {
    const int index = table.column(column);
    if (index < 0)
      failf(element, "table '%s' has no column '%s'", TOVAString(table.path()), column);
    return index;
  }
  NUVA_o::CalculationFormat format(const DOMElement* element) const;

  void read_cube_settings(const DOMElement* cube);
  void read_dimension(const DOMElement* dimension);
  // Reads one hierarchy of a dimension and its members from the dimension's table; returns the
  // name of its bottom level.
  TOVAString read_hierarchy(const TOVAString& dimension, const DOMElement* hierarchy,
                            const CsvTable& table, int key);
  std::vector<LevelDefinition> read_levels(const DOMElement* hierarchy, const CsvTable& table,
                                           std::vector<const DOMElement*>& calculations);
  void add_members(const TOVAString& hierarchyUniqueName, const std::vector<LevelDefinition>& levels,
                   const CsvTable& table, int key);
  void read_measures(const DOMElement* measures);
  void read_parameter(MemoryCube& cube, const DOMElement* element) const;
  double real_number(const DOMElement* element, const char* attribute, double fallback) const;
  void read_calculation(const DOMElement* calculation, const TOVAString& hierarchyUniqueName);
  void read_facts(const DOMElement* facts);
  void read_source(const DOMElement* source);

  // Reads the file at `path` from the file set or the disk into `bytes`; returns the empty text,
  // or why it cannot be read.
  TOVAString read_file(const std::string& path, size_t limit, const char* what, std::string& bytes) const;
  // The table at `path`, from the file set or read from the disk in blocks.
  std::unique_ptr<CsvReader> open_table(const std::string& path) const;
  int whole_number(const DOMElement* element, const char* attribute, int minimum, int maximum) const;
  // Refuses a second, different value for one member's caption or property.
  void check_single_value(const CsvTable& table, size_t row, const TOVAString& member, const TOVAString& what,
                          const TOVAString& value);

  std::string m_Path;
  const FileSet* m_pFiles;
  std::unordered_map<const DOMElement*, int> m_Lines;
  // The value each member's caption or property was given first and the line that gave it,
  // by member unique name and property ("" for the caption).
  std::unordered_map<TOVAString, std::pair<TOVAString, int>> m_MemberValues;
  // Calculation elements, whose expressions are parsed once the cube exists.
  std::vector<const DOMElement*> m_Calculations;
  // Parameter elements, declared once the cube exists.
  std::vector<const DOMElement*> m_Parameters;
  std::unique_ptr<CubeBuilder> m_pBuilder;
  // Dimensions in order with the bottom level names of their hierarchies.
  std::vector<std::pair<TOVAString, std::vector<TOVAString>>> m_Dimensions;
  // Measure elements with their fact columns.
  std::vector<std::pair<const DOMElement*, TOVAString>> m_Measures;
  // The Source element's server or store, whose tables replace the CSV files; null without one.
  std::unique_ptr<CubeSource> m_pSource;
  const DOMElement* m_pSourceElement = nullptr;
  std::shared_ptr<FactSource> m_pFactSource;
  FactLayout m_FactLayout;
};

void DefinitionReader::index_lines(const std::string& text, DOMElement* root) {
  const std::vector<int> lines = start_tag_lines(text);
  std::vector<DOMElement*> order;
  std::vector<DOMElement*> stack{root};
  while (!stack.empty()) {
    DOMElement* element = stack.back();
    stack.pop_back();
    order.push_back(element);
    std::vector<DOMElement*> kids;
    for (DOMElement* child = element->getFirstElementChild(); child; child = child->getNextElementSibling())
      kids.push_back(child);
    stack.insert(stack.end(), kids.rbegin(), kids.rend());
  }
  // A mismatch would only come from markup the scanner does not know; lines are then left out.
  if (order.size() != lines.size()) return;
  for (size_t i = 0; i < order.size(); ++i) m_Lines.emplace(order[i], lines[i]);
}

void DefinitionReader::check_attributes(const DOMElement* element,
                                        std::initializer_list<const char*> allowed) const {
  const xercesc::DOMNamedNodeMap* attributes = element->getAttributes();
  for (XMLSize_t i = 0; attributes && i < attributes->getLength(); ++i) {
    const TOVAString name = XmlSupport::getNodeName(attributes->item(i));
    bool known = false;
    for (const char* a : allowed) known = known || name == a;
    if (!known)
      failf(element, "element '%s' has an unknown attribute '%s'", XmlSupport::getNodeName(element), name);
  }
}

std::vector<DOMElement*> DefinitionReader::children(const DOMElement* element) const {
  std::vector<DOMElement*> out;
  for (DOMElement* child = element->getFirstElementChild(); child; child = child->getNextElementSibling())
    out.push_back(child);
  return out;
}

TOVAString DefinitionReader::read_file(const std::string& path, size_t limit, const char* what,
                                       std::string& bytes) const {
  if (!m_pFiles) return readInputFile(path, limit, what, bytes);
  auto it = m_pFiles->find(path);
  if (it == m_pFiles->end()) return "cannot open the file (no such file in the file set)";
  if (it->second.size() > limit)
    return TOVAString().build("the file is larger than %u bytes, the limit for %s", limit, what);
  bytes = it->second;
  return TOVAString();
}

std::unique_ptr<CsvReader> DefinitionReader::open_table(const std::string& path) const {
  if (!m_pFiles) return std::make_unique<CsvReader>(path, kMaxTableBytes);
  std::string bytes;
  const TOVAString problem = read_file(path, kMaxTableBytes, "a table", bytes);
  if (!problem.empty()) csvError(path, 0, problem);
  return std::make_unique<CsvReader>(path, std::move(bytes));
}

int DefinitionReader::whole_number(const DOMElement* element, const char* attribute, int minimum,
                                   int maximum) const {
  double value = 0;
  // The range is checked on the real value: converting one outside int's range is undefined.
  if (!StringConverters::convertStringToReal(XmlSupport::getAttribute(element, attribute), value) ||
      value < minimum || value > maximum || value != std::trunc(value))
    failf(element, "attribute '%s' must be a whole number from %d to %d, not '%s'", attribute, minimum, maximum,
          XmlSupport::getAttribute(element, attribute));
  return static_cast<int>(value);
}

void DefinitionReader::check_single_value(const CsvTable& table, size_t row, const TOVAString& member,
                                          const TOVAString& what, const TOVAString& value) {
  TOVAString key = member;
  key.append(u'\n').append(what);
  auto [it, added] = m_MemberValues.try_emplace(std::move(key), value, table.line(row));
  if (added || it->second.first == value) return;
  csvError(table.path(), table.line(row),
           TOVAString().build("member '%s' has %s '%s' here but '%s' on line %d", member,
                              what.empty() ? TOVAString("the caption") : TOVAString("property '") + what + "'",
                              value, it->second.first, it->second.second));
}

std::string DefinitionReader::table_path(const TOVAString& table) const {
  std::filesystem::path path(table.string());
  if (path.is_relative()) path = std::filesystem::path(m_Path).parent_path() / path;
  return path.string();
}

NUVA_o::CalculationFormat DefinitionReader::format(const DOMElement* element) const {
  const TOVAString text = XmlSupport::getAttribute(element, "format");
  if (text.empty() || text == "default") return NUVA_o::CF_DEFAULT;
  if (text == "number") return NUVA_o::CF_NUMBER;
  if (text == "percent") return NUVA_o::CF_PERCENT;
  failf(element, "unknown calculation format '%s' (default, number or percent)", text);
}

void DefinitionReader::read_cube_settings(const DOMElement* cube) {
  check_attributes(cube, {"name", "aggregateKeyword", "multipleHierarchyQuery", "parameters",
                          "stringColumnDisplaySize", "technicalNames", "defaultAxisNullFilter"});
  m_pBuilder = std::make_unique<CubeBuilder>(required(cube, "name"));
  m_pBuilder->setCapability(NUVA_o::Cube::SUPPORTS_AGGREGATE, flag(cube, "aggregateKeyword", true));
  m_pBuilder->setCapability(NUVA_o::Cube::SUPPORTS_MULTIPLE_HIERARCHY_QUERY,
                            flag(cube, "multipleHierarchyQuery", true));
  m_pBuilder->setCapability(NUVA_o::Cube::SUPPORTS_PARAMETERS, flag(cube, "parameters", false));
  m_pBuilder->setTechnicalNamesSupported(flag(cube, "technicalNames", false));
  m_pBuilder->setDefaultAxisNullFilter(flag(cube, "defaultAxisNullFilter", false));
  if (XmlSupport::hasAttribute(cube, "stringColumnDisplaySize"))
    m_pBuilder->setStringColumnDisplaySize(
        whole_number(cube, "stringColumnDisplaySize", -1, std::numeric_limits<int>::max()));
}

void DefinitionReader::read_dimension(const DOMElement* element) {
  check_attributes(element, {"name", "table", "key"});
  const TOVAString name = required(element, "name");
  CsvTable table;
  if (m_pSource) {
    try {
      table = CsvTable::fromRows(m_pSource->readTable(required(element, "table")));
    } catch (const olap_api::ApiException& e) {
      fail(element, e.getMessage());
    }
  } else {
    table = CsvTable::read(*open_table(table_path(required(element, "table"))));
  }
  const int key = table_column(element, table, required(element, "key"));
  try {
    m_pBuilder->addDimension(name);
  } catch (const olap_api::ApiException& e) {
    fail(element, e.getMessage());
  }
  std::vector<TOVAString> bottomLevels;
  for (DOMElement* hierarchyElement : children(element)) {
    if (XmlSupport::getNodeName(hierarchyElement) != "Hierarchy")
      failf(hierarchyElement, "unknown element '%s' in a dimension", XmlSupport::getNodeName(hierarchyElement));
    bottomLevels.push_back(read_hierarchy(name, hierarchyElement, table, key));
  }
  if (bottomLevels.empty()) failf(element, "dimension '%s' has no hierarchy", name);
  m_Dimensions.emplace_back(name, std::move(bottomLevels));
}

TOVAString DefinitionReader::read_hierarchy(const TOVAString& dimension,
                                            const DOMElement* hierarchyElement,
                                            const CsvTable& table, int key) {
  check_attributes(hierarchyElement, {"name", "default", "all", "defaultMember"});
  const TOVAString hierarchyName = required(hierarchyElement, "name");
  std::vector<const DOMElement*> calculations;
  const std::vector<LevelDefinition> levels = read_levels(hierarchyElement, table, calculations);
  if (levels.empty()) failf(hierarchyElement, "hierarchy '%s' has no levels", hierarchyName);
  std::vector<TOVAString> levelNames;
  for (const auto& level : levels) levelNames.push_back(level.name);
  TOVAString uniqueName;
  const bool hasAll = flag(hierarchyElement, "all", true);
  const bool isDefault = flag(hierarchyElement, "default", false);
  try {
    uniqueName = m_pBuilder->addHierarchy(dimension, hierarchyName, levelNames, isDefault, hasAll);
    for (size_t l = 0; l < levels.size(); ++l)
      for (const auto& property : levels[l].properties)
        m_pBuilder->addLevelProperty(uniqueName + TOVAString(".") + bracket(levels[l].name), property.first);
  } catch (const olap_api::ApiException& e) {
    fail(hierarchyElement, e.getMessage());
  }
  // Said here rather than when the cube is built, where only the cube's line is known.
  if (table.rowCount() == 0)
    failf(hierarchyElement, "hierarchy '%s' has no members: table '%s' has no records", hierarchyName,
          TOVAString(table.path()));
  add_members(uniqueName, levels, table, key);
  if (XmlSupport::hasAttribute(hierarchyElement, "defaultMember")) {
    try {
      m_pBuilder->setDefaultMember(uniqueName, XmlSupport::getAttribute(hierarchyElement, "defaultMember"));
    } catch (const olap_api::ApiException& e) {
      fail(hierarchyElement, e.getMessage());
    }
  }
  for (const DOMElement* calculation : calculations) read_calculation(calculation, uniqueName);
  return levels.back().name;
}

std::vector<LevelDefinition> DefinitionReader::read_levels(
    const DOMElement* hierarchyElement, const CsvTable& table,
    std::vector<const DOMElement*>& calculations) {
  std::vector<LevelDefinition> levels;
  for (DOMElement* levelElement : children(hierarchyElement)) {
    const TOVAString tag = XmlSupport::getNodeName(levelElement);
    if (tag == "Calculation") {
      calculations.push_back(levelElement);
      continue;
    }
    if (tag != "Level") failf(levelElement, "unknown element '%s' in a hierarchy", tag);
    check_attributes(levelElement, {"name", "column", "captionColumn"});
    LevelDefinition level;
    level.name = required(levelElement, "name");
    level.column = table_column(levelElement, table, required(levelElement, "column"));
    if (XmlSupport::hasAttribute(levelElement, "captionColumn"))
      level.captionColumn = table_column(levelElement, table, required(levelElement, "captionColumn"));
    for (DOMElement* propertyElement : children(levelElement)) {
      if (XmlSupport::getNodeName(propertyElement) != "Property")
        failf(propertyElement, "unknown element '%s' in a level", XmlSupport::getNodeName(propertyElement));
      check_attributes(propertyElement, {"name", "column"});
      level.properties.emplace_back(required(propertyElement, "name"),
                                    table_column(propertyElement, table, required(propertyElement, "column")));
    }
    levels.push_back(std::move(level));
  }
  return levels;
}

// One member path per table row, with the captions and properties its levels name.
void DefinitionReader::add_members(const TOVAString& uniqueName,
                                   const std::vector<LevelDefinition>& levels,
                                   const CsvTable& table, int key) {
  std::vector<TOVAString> path(levels.size());
  for (size_t r = 0; r < table.rowCount(); ++r) {
    const auto& row = table.row(r);
    try {
      for (size_t l = 0; l < levels.size(); ++l) {
        path[l] = row[static_cast<size_t>(levels[l].column)];
        if (path[l].empty())
          csvError(table.path(), table.line(r),
                   TOVAString().build("column '%s' of level '%s' is empty", table.header()[static_cast<size_t>(levels[l].column)], levels[l].name));
      }
      if (row[static_cast<size_t>(key)].empty())
        csvError(table.path(), table.line(r), TOVAString().build("the key column '%s' is empty", table.header()[static_cast<size_t>(key)]));
      m_pBuilder->addPath(uniqueName, row[static_cast<size_t>(key)], path);
      TOVAString member = uniqueName;
      for (size_t l = 0; l < levels.size(); ++l) {
        member.append(".").append(bracket(path[l]));
        if (levels[l].captionColumn >= 0) {
          const TOVAString& caption = row[static_cast<size_t>(levels[l].captionColumn)];
          check_single_value(table, r, member, TOVAString(), caption);
          m_pBuilder->setCaption(member, caption);
        }
        for (const auto& property : levels[l].properties) {
          const TOVAString& value = row[static_cast<size_t>(property.second)];
          check_single_value(table, r, member, property.first, value);
          m_pBuilder->setMemberProperty(member, property.first, value);
        }
      }
    } catch (const InvalidArgumentExceptionImpl& e) {
      if (e.getCode() == MEMORY_E_CSV) throw;
      csvError(table.path(), table.line(r), e.getMessage());
    }
  }
}

void DefinitionReader::read_calculation(const DOMElement* element, const TOVAString& hierarchyUniqueName) {
  check_attributes(element, {"name", "expression", "format"});
  const TOVAString name = required(element, "name");
  const TOVAString expression = required(element, "expression");
  const NUVA_o::CalculationFormat calculationFormat = format(element);
  try {
    m_pBuilder->addCalculation(hierarchyUniqueName, name, expression, calculationFormat);
  } catch (const InvalidArgumentExceptionImpl& e) {
    fail(element, e.getMessage());
  }
  m_Calculations.push_back(element);
}

void DefinitionReader::read_measures(const DOMElement* element) {
  check_attributes(element, {});
  std::vector<const DOMElement*> calculations;
  for (DOMElement* child : children(element)) {
    const TOVAString tag = XmlSupport::getNodeName(child);
    if (tag == "Calculation") {
      calculations.push_back(child);
      continue;
    }
    if (tag != "Measure") failf(child, "unknown element '%s' in Measures", tag);
    check_attributes(child, {"name", "column", "default"});
    const TOVAString name = required(child, "name");
    const TOVAString column = required(child, "column");
    const bool isDefault = flag(child, "default", false);
    try {
      m_pBuilder->addMeasure(name, isDefault);
    } catch (const InvalidArgumentExceptionImpl& e) {
      fail(child, e.getMessage());
    }
    m_Measures.emplace_back(child, column);
  }
  if (m_Measures.empty()) failf(element, "Measures has no Measure");
  for (const DOMElement* calculation : calculations) read_calculation(calculation, "[Measures]");
}

void DefinitionReader::read_facts(const DOMElement* element) {
  check_attributes(element, {"table"});
  if (m_pSource) {
    m_FactLayout.table = required(element, "table");
    m_FactLayout.keyColumns.assign(m_Dimensions.size(), TOVAString());
  }
  std::unique_ptr<CsvReader> reader;
  if (!m_pSource) reader = open_table(table_path(required(element, "table")));
  std::vector<int> keyColumns(m_Dimensions.size(), -1);
  for (DOMElement* keyElement : children(element)) {
    if (XmlSupport::getNodeName(keyElement) != "Key")
      failf(keyElement, "unknown element '%s' in Facts", XmlSupport::getNodeName(keyElement));
    check_attributes(keyElement, {"dimension", "column", "level"});
    const TOVAString dimension = required(keyElement, "dimension");
    size_t d = 0;
    while (d < m_Dimensions.size() && m_Dimensions[d].first != dimension) ++d;
    if (d == m_Dimensions.size()) failf(keyElement, "unknown dimension '%s'", dimension);
    if (keyColumns[d] >= 0) failf(keyElement, "dimension '%s' has two keys", dimension);
    if (m_pSource) {
      keyColumns[d] = 0;
      m_FactLayout.keyColumns[d] = required(keyElement, "column");
    } else {
      keyColumns[d] = table_column(keyElement, *reader, required(keyElement, "column"));
    }
    // The keys name leaves: the bottom level of every hierarchy of the dimension.
    if (XmlSupport::hasAttribute(keyElement, "level")) {
      const TOVAString level = XmlSupport::getAttribute(keyElement, "level");
      for (const TOVAString& bottom : m_Dimensions[d].second)
        if (bottom != level)
          failf(keyElement, "unknown level '%s': the bottom level of dimension '%s' is '%s'", level,
                dimension, bottom);
    }
  }
  for (size_t d = 0; d < m_Dimensions.size(); ++d)
    if (keyColumns[d] < 0) failf(element, "Facts has no key of dimension '%s'", m_Dimensions[d].first);
  if (m_pSource) {
    // The facts stay in the source, which checks that their table and columns exist.
    for (const auto& measure : m_Measures) m_FactLayout.valueColumns.push_back(measure.second);
    try {
      m_pFactSource = m_pSource->openFacts(m_FactLayout);
    } catch (const olap_api::ApiException& e) {
      fail(element, e.getMessage());
    }
    return;
  }
  CsvReader& table = *reader;
  std::vector<int> valueColumns;
  for (const auto& [measureElement, column] : m_Measures) valueColumns.push_back(table_column(measureElement, table, column));

  std::vector<uint32_t> keys(m_Dimensions.size());
  // Each value is read as its digits where it is a plain decimal, so that an integer column
  // stores it without a round trip through a double; other text takes the general conversion.
  std::vector<StringConverters::PlainDecimal> decimals(valueColumns.size());
  std::vector<double> reals(valueColumns.size());
  std::vector<char> plain(valueColumns.size());
  // Each dimension's key texts as seen in the table: the builder is asked once per distinct key.
  std::vector<KeyIndex> leaves(m_Dimensions.size());
  m_pBuilder->reserveFacts(table.estimatedRecords());
  FactTableBuilder& columns = factColumns(*m_pBuilder);
  std::vector<std::string_view> row;
  int line = 0;
  while (table.next(row, line)) {
    for (size_t d = 0; d < keys.size(); ++d) {
      const std::string_view key = row[static_cast<size_t>(keyColumns[d])];
      int32_t leaf = leaves[d].find(key);
      if (leaf < 0) {
        const TOVAString text(support::utf8ToUtf16(key));
        leaf = m_pBuilder->leafIndex(m_Dimensions[d].first, text);
        if (leaf < 0)
          csvError(table.path(), line,
                   TOVAString().build("unknown %s '%s' in column '%s'", m_Dimensions[d].first, text,
                                      table.header()[static_cast<size_t>(keyColumns[d])]));
        leaves[d].insert(key, leaf);
      }
      keys[d] = static_cast<uint32_t>(leaf);
    }
    for (size_t m = 0; m < valueColumns.size(); ++m) {
      const std::string_view text = row[static_cast<size_t>(valueColumns[m])];
      plain[m] = StringConverters::readPlainDecimal(text, decimals[m]);
      if (!plain[m] && !StringConverters::convertUtf8ToReal(text, reals[m]))
        csvError(table.path(), line,
                 TOVAString().build("'%s' in column '%s' is not a number", std::string(text),
                                    table.header()[static_cast<size_t>(valueColumns[m])]));
    }
    // The whole row is read before any column grows, so that the columns stay of one length.
    for (size_t d = 0; d < keys.size(); ++d) columns.key(d).append(keys[d]);
    for (size_t m = 0; m < valueColumns.size(); ++m) {
      if (plain[m])
        columns.measure(m).appendDecimal(decimals[m]);
      else
        columns.measure(m).append(reals[m]);
    }
  }
}

MemoryCube* DefinitionReader::load() {
  std::string text;
  TOVAString problem = read_file(m_Path, kMaxDefinitionBytes, "a cube definition", text);
  if (problem.empty()) problem = utf16Problem(text);
  if (!problem.empty()) raise<InvalidArgumentExceptionImpl>(MEMORY_E_DEFINITION_FILE, TOVAString(m_Path), problem);

  // The parser gets the bytes as stored, so that a byte order mark, the encoding declaration
  // and the rule that undeclared text is well-formed UTF-8 all hold.
  XmlSupport xml;
  if (!xml.parseXMLBytes(text, TOVAString(m_Path))) {
    // The parser reports "line L, column C: problem".
    const std::string error = xml.getParseError().string();
    int line = 0;
    if (std::sscanf(error.c_str(), "line %d", &line) != 1) line = 0;
    // The parser decodes ahead of what it reads, so for bytes that are not UTF-8 it names the
    // start of the block it was decoding; the bad byte itself is found here.
    const size_t bad = support::firstInvalidUtf8(text);
    if (bad != std::string::npos && declares_utf8(text))
      raise<MalformedXMLExceptionImpl>(
          MEMORY_E_DEFINITION_XML, TOVAString(m_Path), lineOfOffset(text, bad),
          TOVAString().build("the text is not valid UTF-8 (byte offset %u); save it as UTF-8 or declare its "
                             "encoding",
                             bad));
    raise<MalformedXMLExceptionImpl>(MEMORY_E_DEFINITION_XML, TOVAString(m_Path), line, xml.getParseError());
  }
  DOMElement* root = xml.getDocumentElement();
  if (!root)
    raise<MalformedXMLExceptionImpl>(MEMORY_E_DEFINITION_XML, TOVAString(m_Path), 0, "the document is empty");
  index_lines(text, root);
  if (XmlSupport::getNodeName(root) != "Cube")
    failf(root, "the root element is '%s'; a cube definition starts with 'Cube'", XmlSupport::getNodeName(root));
  read_cube_settings(root);

  const DOMElement* facts = nullptr;
  const DOMElement* measures = nullptr;
  for (DOMElement* child : children(root)) {
    const TOVAString tag = XmlSupport::getNodeName(child);
    if (tag == "Source") {
      if (m_pSourceElement || measures || facts || !m_Dimensions.empty())
        failf(child, "one Source element, before the dimensions");
      read_source(child);
    } else if (tag == "Dimension") {
      if (measures || facts) failf(child, "dimensions come before Measures and Facts");
      read_dimension(child);
    } else if (tag == "Measures") {
      if (measures) failf(child, "a second Measures element");
      measures = child;
      read_measures(child);
    } else if (tag == "Facts") {
      if (facts) failf(child, "a second Facts element");
      facts = child;
    } else if (tag == "Parameter") {
      m_Parameters.push_back(child);
    } else {
      failf(child, "unknown element '%s' in Cube", tag);
    }
  }
  if (m_Dimensions.empty()) failf(root, "the cube has no Dimension");
  if (!measures) failf(root, "the cube has no Measures");
  if (!facts) failf(root, "the cube has no Facts");
  read_facts(facts);
  auto_unuse<MemoryCube> cube;
  try {
    cube.reset(m_pBuilder->build());
  } catch (const InvalidArgumentExceptionImpl& e) {
    fail(root, e.getMessage());
  }
  if (m_pFactSource) {
    auto* impl = static_cast<CubeImpl*>(cube.get());
    // As with a CSV fact table, a fact whose key no member holds is refused when the cube
    // opens: under the All member it would count, under no other member.
    size_t keyColumn = 0;
    for (const auto& dimension : impl->dimensions()) {
      if (dimension->m_IsMeasures) continue;
      try {
        m_pFactSource->checkKeys(keyColumn++, dimension->getName(), dimension->m_LeafKeys);
      } catch (const olap_api::ApiException& e) {
        fail(facts, e.getMessage());
      }
    }
    impl->m_FactLayout = m_FactLayout;
    impl->setFactSource(m_pFactSource);
  }
  // Calculations may name each other and any member, so they are parsed against the whole cube.
  for (const DOMElement* calculation : m_Calculations) {
    auto_unuse<NUVA_o::Expression> expression(createCommonExpression(cube.get()));
    try {
      expression->setTextAndCreateTree(XmlSupport::getAttribute(calculation, "expression"));
    } catch (const olap_api::ApiException& e) {
      failf(calculation, "the expression of calculation '%s' does not parse: %s",
            XmlSupport::getAttribute(calculation, "name"), e.getMessage());
    }
  }
  for (const DOMElement* parameter : m_Parameters) read_parameter(*cube, parameter);
  return cube.release();
}

double DefinitionReader::real_number(const DOMElement* element, const char* attribute, double fallback) const {
  if (!XmlSupport::hasAttribute(element, attribute)) return fallback;
  double value = 0;
  if (!StringConverters::convertStringToReal(XmlSupport::getAttribute(element, attribute), value))
    failf(element, "attribute '%s' must be a number, not '%s'", attribute, XmlSupport::getAttribute(element, attribute));
  return value;
}

void DefinitionReader::read_parameter(MemoryCube& cube, const DOMElement* element) const {
  check_attributes(element, {"name", "type", "caption", "description", "hierarchy", "dimension", "default",
                             "minimum", "maximum"});
  ParameterDefinition definition;
  definition.name = required(element, "name");
  definition.type = whole_number(element, "type", 1, 15);
  definition.caption = XmlSupport::getAttribute(element, "caption");
  definition.description = XmlSupport::getAttribute(element, "description");
  definition.hierarchy = XmlSupport::getAttribute(element, "hierarchy");
  definition.dimension = XmlSupport::getAttribute(element, "dimension");
  definition.defaultValue = XmlSupport::getAttribute(element, "default");
  definition.minimum = real_number(element, "minimum", definition.minimum);
  definition.maximum = real_number(element, "maximum", definition.maximum);
  for (DOMElement* value : children(element)) {
    if (XmlSupport::getNodeName(value) != "Value")
      failf(value, "unknown element '%s' in a parameter", XmlSupport::getNodeName(value));
    check_attributes(value, {"name"});
    definition.values.push_back(required(value, "name"));
  }
  try {
    cube.addParameter(definition);
  } catch (const olap_api::ApiException& e) {
    fail(element, e.getMessage());
  }
}

void DefinitionReader::read_source(const DOMElement* element) {
  m_pSourceElement = element;
  const TOVAString kind = required(element, "kind");
  std::map<std::string, TOVAString> attributes;
  const xercesc::DOMNamedNodeMap* list = element->getAttributes();
  for (XMLSize_t i = 0; list && i < list->getLength(); ++i) {
    const TOVAString name = XmlSupport::getNodeName(list->item(i));
    if (name != "kind") attributes[name.string()] = XmlSupport::getAttribute(element, name);
  }
  const CubeSourceFactory factory = cube_source_factory(kind.string());
  if (!factory) failf(element, "no provider that reads sources of kind '%s' is loaded", kind);
  try {
    m_pSource = factory(attributes, m_Path);
  } catch (const olap_api::ApiException& e) {
    fail(element, e.getMessage());
  }
  if (!m_pSource) failf(element, "the source of kind '%s' could not be opened", kind);
}

}  // namespace

MemoryCube* loadCube(const std::string& path) {
  DefinitionReader reader(path, nullptr);
  return reader.load();
}

MemoryCube* loadCube(const std::string& path, const FileSet& files) {
  DefinitionReader reader(path, &files);
  return reader.load();
}

}  // namespace memory
