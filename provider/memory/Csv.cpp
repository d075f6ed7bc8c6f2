#include "Csv.h"

#include "InputFile.h"
#include "MemoryCubeImpl.h"

namespace memory {

void csvError(const std::string& path, int line, const TOVAString& problem) {
  raise<InvalidArgumentExceptionImpl>(MEMORY_E_CSV, TOVAString(path), line, problem);
}

int CsvTable::column(const TOVAString& name) const {
  for (size_t i = 0; i < m_Header.size(); ++i)
    if (m_Header[i] == name) return static_cast<int>(i);
  return -1;
}

int CsvReader::column(const TOVAString& name) const {
  for (size_t i = 0; i < m_Header.size(); ++i)
    if (m_Header[i] == name) return static_cast<int>(i);
  return -1;
}

CsvReader::CsvReader(std::string path, std::string bytes) : m_Path(std::move(path)), m_Text(std::move(bytes)) {
  const TOVAString utf16 = utf16Problem(m_Text);
  if (!utf16.empty()) csvError(m_Path, 1, utf16);
  // Text that is not UTF-8 would reach the cube with its bad bytes replaced, so that two
  // different names read alike and merge silently.
  const size_t bad = support::firstInvalidUtf8(m_Text);
  if (bad != std::string::npos)
    csvError(m_Path, lineOfOffset(m_Text, bad),
             TOVAString().build("the text is not valid UTF-8 (byte offset %u); save the table as UTF-8", bad));
  if (m_Text.compare(0, 3, "\xEF\xBB\xBF") == 0) m_Position = 3;
  int line = 0;
  if (!next_record(m_Header, line)) csvError(m_Path, 1, "the file has no header line");
  for (size_t a = 0; a < m_Header.size(); ++a)
    for (size_t b = a + 1; b < m_Header.size(); ++b)
      if (m_Header[a] == m_Header[b])
        csvError(m_Path, line, TOVAString().build("column '%s' appears twice in the header", m_Header[a]));
}

bool CsvReader::next(std::vector<TOVAString>& fields, int& line) {
  if (!next_record(fields, line)) return false;
  if (fields.size() != m_Header.size())
    csvError(m_Path, line,
             TOVAString().build("the record has %u fields; the header has %u", fields.size(), m_Header.size()));
  return true;
}

bool CsvReader::next_record(std::vector<TOVAString>& fields, int& line) {
  const std::string& text = m_Text;
  size_t& i = m_Position;
  while (i < text.size()) {
    const int recordLine = m_Line;
    fields.clear();
    bool blank = true;
    for (;;) {
      m_Field.clear();
      if (i < text.size() && text[i] == '"') {
        blank = false;
        ++i;
        for (;;) {
          if (i >= text.size()) csvError(m_Path, recordLine, "a quoted field is not closed");
          const char c = text[i++];
          if (c == '"') {
            if (i < text.size() && text[i] == '"') {
              m_Field += '"';
              ++i;
              continue;
            }
            break;
          }
          if (c == '\n' || (c == '\r' && (i >= text.size() || text[i] != '\n'))) ++m_Line;
          m_Field += c;
        }
        if (i < text.size() && text[i] != ',' && text[i] != '\n' && text[i] != '\r')
          csvError(m_Path, m_Line, "unexpected text after a quoted field");
      } else {
        const size_t start = i;
        while (i < text.size() && text[i] != ',' && text[i] != '\n' && text[i] != '\r') ++i;
        m_Field.assign(text, start, i - start);
        if (!m_Field.empty()) blank = false;
      }
      fields.emplace_back(m_Field);
      if (i < text.size() && text[i] == ',') {
        blank = false;
        ++i;
        continue;
      }
      break;
    }
    if (i < text.size() && (text[i] == '\r' || text[i] == '\n')) {
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      ++i;
      ++m_Line;
    }
    if (blank) continue;  // empty lines carry no record
    line = recordLine;
    return true;
  }
  return false;
}

CsvTable CsvTable::read(const std::string& path, std::string bytes) {
  CsvReader reader(path, std::move(bytes));
  CsvTable table;
  table.m_Path = path;
  table.m_Header = reader.header();
  std::vector<TOVAString> fields;
  int line = 0;
  while (reader.next(fields, line)) {
    table.m_Rows.push_back(fields);
    table.m_Lines.push_back(line);
  }
  return table;
}

CsvTable CsvTable::fromRows(SourceTable table) {
  CsvTable out;
  out.m_Path = std::move(table.name);
  out.m_Header = std::move(table.header);
  out.m_Rows = std::move(table.rows);
  out.m_Lines.resize(out.m_Rows.size());
  for (size_t i = 0; i < out.m_Lines.size(); ++i) out.m_Lines[i] = static_cast<int>(i) + 2;
  return out;
}

}  // namespace memory
