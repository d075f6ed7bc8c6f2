// A streaming reader of the server's tab-separated answers.

#include "Provider.h"

namespace clickhouse {

bool TabSeparatedReader::feed(std::string_view bytes) {
  if (!m_Problem.empty()) return false;
  for (const char c : bytes) {
    if (m_bEscape) {
      m_bEscape = false;
      switch (c) {
        case 'N':
          break;  // NULL reads as empty text
        case 't':
          m_Field.push_back('\t');
          break;
        case 'n':
          m_Field.push_back('\n');
          break;
        case 'r':
          m_Field.push_back('\r');
          break;
        case 'b':
          m_Field.push_back('\b');
          break;
        case 'f':
          m_Field.push_back('\f');
          break;
        case '0':
          m_Field.push_back('\0');
          break;
        case '\\':
        case '\'':
        case '"':
        case '\n':
          m_Field.push_back(c);
          break;
        default:
          m_Problem = "an unknown escape '\\" + std::string(1, c) + "' in record " +
                      std::to_string(m_Line + 1);
          return false;
      }
      continue;
    }
    m_bStarted = true;
    if (c == '\\') {
      m_bEscape = true;
    } else if (c == '\t') {
      m_Fields.push_back(std::move(m_Field));
      m_Field.clear();
    } else if (c == '\n') {
      if (!end_record()) return false;
    } else {
      m_Field.push_back(c);
    }
  }
  return true;
}

bool TabSeparatedReader::end_record() {
  m_Fields.push_back(std::move(m_Field));
  m_Field.clear();
  m_bStarted = false;
  ++m_Line;
  if (m_Line == 1) {
    m_Names = std::move(m_Fields);
  } else if (m_Line == 2) {
    m_Types = std::move(m_Fields);
    if (m_Types.size() != m_Names.size()) {
      m_Problem = "the types line has " + std::to_string(m_Types.size()) + " fields for " +
                  std::to_string(m_Names.size()) + " columns";
      return false;
    }
  } else {
    if (m_Fields.size() != m_Names.size()) {
      m_Problem = "record " + std::to_string(m_Line - 2) + " has " +
                  std::to_string(m_Fields.size()) + " fields for " +
                  std::to_string(m_Names.size()) + " columns";
      return false;
    }
    ++m_Rows;
    m_OnRow(m_Fields);
  }
  m_Fields.clear();
  return true;
}

bool TabSeparatedReader::finish() {
  if (!m_Problem.empty()) return false;
  if (m_bStarted || m_bEscape || !m_Fields.empty()) {
    m_Problem = "the answer stops inside a record";
    return false;
  }
  if (m_Line < 2) {
    m_Problem = "the answer has no names and types lines";
    return false;
  }
  return true;
}

}  // namespace clickhouse
