#pragma once

// The provider over a columnar SQL server reached by HTTP (library vtq_provider_clickhouse).
// Loading the library registers it as provider "clickhouse" and as the reader of cube
// definitions whose Source element has kind="clickhouse"; such cubes are memory-provider cubes
// whose members come from the server's dimension tables and whose grid queries are aggregated
// by the server.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "support/Export.h"
#include "support/TOVAString.h"

namespace clickhouse {

// Registers the provider and the reader of its Source elements. Loading the library does it;
// a program that uses nothing else of the library calls this so that the library is linked.
VTQ_EXPORT void registerProvider();

// "clickhouse": the provider name of the cubes over a server.
VTQ_EXPORT const TOVAString& providerName();
// "CLICKHOUSEPROVIDER": the module of the provider's exceptions and log units.
VTQ_EXPORT const TOVAString& moduleName();

// Exceptions of the provider, codes 0xC2032xxx. Every text names the server by its URL and
// user, never by its password.
enum : uint32_t {
  CLICKHOUSE_E_SOURCE = 0xC2032001,       // %1 problem
  CLICKHOUSE_E_UNREACHABLE = 0xC2032002,  // %1 server, %2 purpose, %3 why
  CLICKHOUSE_E_TIMEOUT = 0xC2032003,      // %1 server, %2 purpose, %3 milliseconds
  CLICKHOUSE_E_SERVER_ERROR =
      0xC2032004,  // %1 server, %2 purpose, %3 HTTP status, %4 server's text
  CLICKHOUSE_E_BAD_RESPONSE = 0xC2032005,  // %1 server, %2 purpose, %3 problem
  CLICKHOUSE_E_INTERRUPTED = 0xC2032006,   // %1 purpose, %2 server
  CLICKHOUSE_E_IDENTIFIER = 0xC2032007,    // %1 text
};

// A single-quoted SQL string literal holding exactly `bytes`: quotes, backslashes, NUL bytes
// and control characters are escaped, other bytes (multi-byte text too) pass as they are.
VTQ_EXPORT std::string quoteLiteral(std::string_view bytes);
// The bytes of a literal that quoteLiteral writes; false for any other text (an unescaped
// quote, a raw control character, an unknown escape, a missing quote).
VTQ_EXPORT bool unquoteLiteral(std::string_view literal, std::string& bytes);
// `name` in back quotes when it is a plain identifier (a letter or underscore, then letters,
// digits and underscores, at most 128 bytes); throws InvalidArgumentException
// (CLICKHOUSE_E_IDENTIFIER) for anything else.
VTQ_EXPORT std::string quoteIdentifier(std::string_view name);

// Reads TabSeparatedWithNamesAndTypes text fed in pieces of any size: the names line, the
// types line, then one call of the row handler per record, fields unescaped (\N, NULL, reads
// as empty text). Never holds more than one record.
class VTQ_EXPORT TabSeparatedReader {
 public:
  using RowHandler = std::function<void(const std::vector<std::string>& fields)>;
  explicit TabSeparatedReader(RowHandler onRow) : m_OnRow(std::move(onRow)) {}
  // False, with problem(), when the text is malformed: an unknown escape, or a record whose
  // number of fields differs from the names line's.
  bool feed(std::string_view bytes);
  // False, with problem(), when the text stopped inside a record or before the types line.
  bool finish();
  const std::vector<std::string>& names() const { return m_Names; }
  const std::vector<std::string>& types() const { return m_Types; }
  const std::string& problem() const { return m_Problem; }
  uint64_t rows() const { return m_Rows; }

 private:
  bool end_record();

  RowHandler m_OnRow;
  std::vector<std::string> m_Names;
  std::vector<std::string> m_Types;
  std::vector<std::string> m_Fields;
  std::string m_Field;
  bool m_bEscape = false;
  bool m_bStarted = false;  // the current record has a byte
  int m_Line = 0;           // records ended so far, the header lines included
  uint64_t m_Rows = 0;
  std::string m_Problem;
};

// Where a server is and how long it may take.
struct ServerSettings {
  std::string url = "http://127.0.0.1:8123";
  std::string database = "default";
  std::string user = "default";
  // The environment variable holding the password; the password is read when a request is
  // made and is never logged or shown.
  std::string passwordVariable = "VTQ_CLICKHOUSE_PASSWORD";
  long connectTimeoutMs = 2000;
  long timeoutMs = 30000;
};

// One server: statements sent over HTTP, results read as they arrive. Thread-safe: every
// request has its own connection.
class VTQ_EXPORT ServerConnection {
 public:
  explicit ServerConnection(ServerSettings settings);
  const ServerSettings& settings() const { return m_Settings; }
  // "URL (user U)": how errors name the server.
  std::string describe() const;
  // Runs `sql` (a SELECT, answered as TabSeparatedWithNamesAndTypes) and hands each record to
  // `onRow` as it arrives (after a failure the caller drops what it built from them); `checkTypes`
  // (may be null) sees the names and types first and returns the empty text or what is wrong with
  // them. Throws RunTimeException with a CLICKHOUSE_E_* code naming the server and `purpose` when
  // the server is down, slow, refuses the statement, closes mid-answer or answers otherwise than
  // expected. When `interrupt` (may be null) is set the request is closed, the server is told to
  // kill the query, and CLICKHOUSE_E_INTERRUPTED is thrown.
  void select(const std::string& sql, const TOVAString& purpose,
              const std::function<std::string(const std::vector<std::string>& names,
                                              const std::vector<std::string>& types)>& checkTypes,
              const TabSeparatedReader::RowHandler& onRow,
              const std::atomic<bool>* interrupt) const;
  // Runs a statement whose answer is ignored (KILL QUERY, DDL); throws as select does.
  void execute(const std::string& sql, const TOVAString& purpose) const;

 private:
  ServerSettings m_Settings;
};

}  // namespace clickhouse
