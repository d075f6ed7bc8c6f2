#pragma once

// A small reader of comma-separated tables: a header line, then one record per line ("\r\n",
// "\n" or a lone "\r" ends a line). Fields may be quoted with '"' ("" stands for one quote
// inside) and then hold commas and line breaks. Tables are UTF-8, with or without a byte order
// mark.

#include <string>
#include <vector>

#include "provider/memory/CubeSource.h"
#include "support/TOVAString.h"

namespace memory {

// Reads a table record by record, so that large fact tables are never held as text.
class CsvReader {
 public:
  // Takes the bytes of the file at `path` and reads the header. Throws like CsvTable::read.
  CsvReader(std::string path, std::string bytes);
  const std::string& path() const { return m_Path; }
  const std::vector<TOVAString>& header() const { return m_Header; }
  int column(const TOVAString& name) const;
  // The next record, or false at the end; `line` is the line it starts on.
  bool next(std::vector<TOVAString>& fields, int& line);

 private:
  // The next record with any number of fields; false at the end of the text.
  bool next_record(std::vector<TOVAString>& fields, int& line);

  std::string m_Path;
  std::string m_Text;
  size_t m_Position = 0;
  int m_Line = 1;
  std::vector<TOVAString> m_Header;
  std::string m_Field;
};

class CsvTable {
 public:
  // Reads the table from the bytes of the file at `path`. Throws (InvalidArgumentException)
  // naming the file, the line and the problem for text that is not UTF-8 (with the byte
  // offset), a missing header, an unterminated quote or a record whose number of fields differs
  // from the header's.
  static CsvTable read(const std::string& path, std::string bytes);
  // The table read elsewhere; its records count lines from 2, after a header line.
  static CsvTable fromRows(SourceTable table);

  const std::string& path() const { return m_Path; }
  const std::vector<TOVAString>& header() const { return m_Header; }
  // Index of a header column, or -1.
  int column(const TOVAString& name) const;
  size_t rowCount() const { return m_Rows.size(); }
  const std::vector<TOVAString>& row(size_t i) const { return m_Rows[i]; }
  // The line of the file on which record i starts (the header is line 1).
  int line(size_t i) const { return m_Lines[i]; }

 private:
  std::string m_Path;
  std::vector<TOVAString> m_Header;
  std::vector<std::vector<TOVAString>> m_Rows;
  std::vector<int> m_Lines;
};

// Raises the CSV exception: "<file>, line <line>: <problem>".
[[noreturn]] void csvError(const std::string& path, int line, const TOVAString& problem);

}  // namespace memory
