#pragma once

// Private side of the server provider: messages and the raising helper.

#include "provider/clickhouse/ClickHouse.h"
#include "support/Exceptions.h"

namespace clickhouse {

// Registers the provider's message texts (idempotent).
void registerMessages();

template <class E, class... Inserts>
[[noreturn]] void raise(uint32_t code, const Inserts&... inserts) {
  registerMessages();
  support::raise<E>(moduleName(), code, inserts...);
}

}  // namespace clickhouse
