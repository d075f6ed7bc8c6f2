#include "Csv.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>

#include "MemoryCubeImpl.h"

namespace memory {

void csvError(const std::string& path, int line, const TOVAString& problem) {
  raise<InvalidArgumentExceptionImpl>(MEMORY_E_CSV, TOVAString(path), line, problem);
}

bool parseNumber(const TOVAString& text, double& out) {
  std::string narrow = text.string();
  size_t begin = 0, end = narrow.size();
  while (begin < end && narrow[begin] == ' ') ++begin;
  while (end > begin && narrow[end - 1] == ' ') --end;
  if (begin == end) return false;
  if (narrow[begin] == '+') ++begin;
  auto [ptr, ec] = std::from_chars(narrow.data() + begin, narrow.data() + end, out);
  return ec == std::errc() && ptr == narrow.data() + end && std::isfinite(out);
}

int CsvTable::column(const TOVAString& name) const {
  for (size_t i = 0; i < m_Header.size(); ++i)
    if (m_Header[i] == name) return static_cast<int>(i);
  return -1;
}

CsvTable CsvTable::read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) csvError(path, 0, TOVAString().build("cannot open the file (%s)", std::strerror(errno)));
  std::ostringstream buffer;
  buffer << in.rdbuf();
  const std::string text = buffer.str();

  CsvTable table;
  table.m_Path = path;
  size_t i = 0;
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) i = 3;
  int line = 1;
  bool haveHeader = false;
  std::vector<TOVAString> fields;
  std::string field;
  while (i < text.size()) {
    const int recordLine = line;
    fields.clear();
    bool blank = true;
    // One record.
    for (;;) {
      field.clear();
      if (i < text.size() && text[i] == '"') {
        blank = false;
        ++i;
        for (;;) {
          if (i >= text.size()) csvError(path, recordLine, "a quoted field is not closed");
          const char c = text[i++];
          if (c == '"') {
            if (i < text.size() && text[i] == '"') {
              field += '"';
              ++i;
              continue;
            }
            break;
          }
          if (c == '\n') ++line;
          field += c;
        }
        if (i < text.size() && text[i] != ',' && text[i] != '\n' && text[i] != '\r')
          csvError(path, line, "unexpected text after a quoted field");
      } else {
        while (i < text.size() && text[i] != ',' && text[i] != '\n' && text[i] != '\r') field += text[i++];
        if (!field.empty()) blank = false;
      }
      fields.emplace_back(field);
      if (i < text.size() && text[i] == ',') {
        blank = false;
        ++i;
        continue;
      }
      break;
    }
    if (i < text.size() && text[i] == '\r') ++i;
    if (i < text.size() && text[i] == '\n') {
      ++i;
      ++line;
    }
    if (blank) continue;  // empty lines carry no record
    if (!haveHeader) {
      table.m_Header = fields;
      for (size_t a = 0; a < fields.size(); ++a)
        for (size_t b = a + 1; b < fields.size(); ++b)
          if (fields[a] == fields[b])
            csvError(path, recordLine, TOVAString().build("column '%s' appears twice in the header", fields[a]));
      haveHeader = true;
      continue;
    }
    if (fields.size() != table.m_Header.size())
      csvError(path, recordLine,
               TOVAString().build("the record has %u fields; the header has %u", fields.size(),
                                  table.m_Header.size()));
    table.m_Rows.push_back(fields);
    table.m_Lines.push_back(recordLine);
  }
  if (!haveHeader) csvError(path, 1, "the file has no header line");
  return table;
}

}  // namespace memory
