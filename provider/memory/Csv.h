#pragma once

// A small reader of comma-separated tables: a header line, then one record per line ("\r\n",
// "\n" or a lone "\r" ends a line). Fields may be quoted with '"' ("" stands for one quote
// inside) and then hold commas and line breaks. Tables are UTF-8, with or without a byte order
// mark.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "InputFile.h"
#include "provider/memory/CubeSource.h"
#include "support/TOVAString.h"

namespace memory {

// The bytes a reader holds: its own block, which grows without clearing the bytes it adds (every
// byte used is read from the file first), or the whole table handed to it.
class CsvBlock {
 public:
  CsvBlock() = default;
  explicit CsvBlock(std::string bytes)
      : m_Given(std::move(bytes)), m_pData(m_Given.data()), m_Size(m_Given.size()) {}
  // m_pData may point into m_Given's own storage.
  CsvBlock(const CsvBlock&) = delete;
  CsvBlock& operator=(const CsvBlock&) = delete;

  char* data() { return m_pData; }
  const char* data() const { return m_pData; }
  size_t size() const { return m_Size; }
  char operator[](size_t i) const { return m_pData[i]; }
  // Grows or shrinks to `size` bytes keeping those before it; bytes added are not set.
  void resize(size_t size);

 private:
  std::string m_Given;
  std::unique_ptr<char[]> m_pOwned;
  char* m_pData = nullptr;
  size_t m_Size = 0;
};

// Reads a table record by record from blocks of its bytes, so that a large fact table is never
// held whole, and hands out fields as views into the block instead of strings. Every problem
// throws the CSV exception (InvalidArgumentException) naming the file and the line: a file
// that cannot be read (line 0), text that is not UTF-8 (with the byte offset), a missing
// header, a column named twice, an unterminated quote or a record whose number of fields
// differs from the header's.
class CsvReader {
 public:
  // Reads the file at `path`, refusing one above `limit` bytes.
  CsvReader(std::string path, size_t limit);
  // Reads a table whose bytes are already in memory.
  CsvReader(std::string path, std::string bytes);
  CsvReader(const CsvReader&) = delete;
  CsvReader& operator=(const CsvReader&) = delete;

  const std::string& path() const { return m_Path; }
  const std::vector<TOVAString>& header() const { return m_Header; }
  // Index of a header column, or -1.
  int column(const TOVAString& name) const;
  // The next record, or false at the end; `line` is the line it starts on. The views stay valid
  // until the next call.
  bool next(std::vector<std::string_view>& fields, int& line);
  // How many records the table holds, estimated from the line breaks of its first block (exact
  // when the whole table fits in it); a size to reserve, not a promise.
  size_t estimatedRecords() const { return m_Estimate; }

 private:
  enum ParseResult { PR_RECORD, PR_MORE, PR_END };

  void start();
  // The next record with any number of fields; false at the end of the text.
  bool next_record(std::vector<std::string_view>& fields, int& line);
  // One record from the checked bytes; PR_MORE when it may continue past them.
  ParseResult parse_record(std::vector<std::string_view>& fields, int& line);
  // Keeps the unread part of the block, reads more bytes behind it and checks them.
  void refill();
  void read_more();
  // Checks the bytes up to the last line break read (all of them at the end of the file).
  void check_more();

  std::string m_Path;
  InputFile m_File;
  bool m_bFromFile = false;
  // Bytes [m_Begin, m_End) of the block are not parsed yet; those before m_Checked are known
  // to be UTF-8. m_Offset is the file offset of the block's first byte.
  CsvBlock m_Block;
  size_t m_Begin = 0;
  size_t m_End = 0;
  size_t m_Checked = 0;
  size_t m_Offset = 0;
  bool m_bEof = false;
  int m_Line = 1;
  size_t m_Estimate = 0;
  std::vector<TOVAString> m_Header;
  // Quoted fields holding "" are copied here without the doubled quotes.
  std::string m_Unquoted;
  std::vector<std::pair<size_t, std::pair<size_t, size_t>>> m_UnquotedFields;
};

// A small table read whole, its fields as text (dimension tables).
class CsvTable {
 public:
  // Reads every record of `reader`; throws as the reader does.
  static CsvTable read(CsvReader& reader);
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
