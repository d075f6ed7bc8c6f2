#pragma once

#include <map>
#include <memory>
#include <string>

#include "Provider.h"
#include "provider/memory/CubeSource.h"

namespace clickhouse {

// The source of a Source element of kind "clickhouse": attributes url, database, user,
// passwordVariable, timeout and connectTimeout (milliseconds). Throws InvalidArgumentException
// (CLICKHOUSE_E_SOURCE) for an unknown attribute or a bad value.
std::unique_ptr<memory::CubeSource> openSource(const std::map<std::string, TOVAString>& attributes,
                                               const std::string& definitionPath);

}  // namespace clickhouse
