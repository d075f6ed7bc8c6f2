#pragma once

#include <cstdint>
#include <vector>

#include "support/TOVAString.h"

namespace olap_api {

// The library's exception family. Implementations are thrown by value and caught through
// these interfaces, e.g. `catch (const olap_api::ApiException& e)`.
class VTQ_EXPORT ApiException {
 public:
  virtual ~ApiException() = default;
  // 32-bit message code, e.g. COMMON_E_SYNTAX.
  virtual uint32_t getCode() const = 0;
  // The message rendered from the catalogue text of the code and the inserts.
  virtual TOVAString getMessage() const = 0;
  // The module that raised it ("COMMONMODULE" for this library).
  virtual const TOVAString& getModule() const = 0;
  // The inserts, in the order they were added, rendered as text.
  virtual const std::vector<TOVAString>& getInserts() const = 0;
};

#define VTQ_DECLARE_API_EXCEPTION(Name) \
  class VTQ_EXPORT Name : public virtual ApiException {};

VTQ_DECLARE_API_EXCEPTION(InvalidArgumentException)
VTQ_DECLARE_API_EXCEPTION(InvalidPointerException)
VTQ_DECLARE_API_EXCEPTION(InvalidXMLException)
VTQ_DECLARE_API_EXCEPTION(MalformedXMLException)
VTQ_DECLARE_API_EXCEPTION(InvalidExpressionException)
VTQ_DECLARE_API_EXCEPTION(InvalidCastException)
VTQ_DECLARE_API_EXCEPTION(UnsupportedOperationException)
VTQ_DECLARE_API_EXCEPTION(CubeViewStateException)
VTQ_DECLARE_API_EXCEPTION(QueryTooLargeException)
VTQ_DECLARE_API_EXCEPTION(ConfigurationException)
VTQ_DECLARE_API_EXCEPTION(RunTimeException)
VTQ_DECLARE_API_EXCEPTION(CubeStructureChangedException)
VTQ_DECLARE_API_EXCEPTION(COMException)

#undef VTQ_DECLARE_API_EXCEPTION

}  // namespace olap_api
