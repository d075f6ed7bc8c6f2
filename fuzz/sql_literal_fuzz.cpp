// Arbitrary bytes as SQL text for the server provider: a literal must read back as exactly
// the bytes it was made from and hold no bare quote or control byte; an identifier is either a
// back-quoted plain name or refused with the provider's code.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "olap_api/Exceptions.h"
#include "provider/clickhouse/ClickHouse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::string literal = clickhouse::quoteLiteral(bytes);
  std::string back;
  if (!clickhouse::unquoteLiteral(literal, back) || back != bytes) std::abort();
  try {
    const std::string name = clickhouse::quoteIdentifier(bytes);
    if (name != "`" + bytes + "`" || bytes.find_first_of("`'\\ ;.\n") != std::string::npos)
      std::abort();
  } catch (const olap_api::ApiException& e) {
    if (e.getCode() != clickhouse::CLICKHOUSE_E_IDENTIFIER) std::abort();
  }
  return 0;
}
