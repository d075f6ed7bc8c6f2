#pragma once

#include <cstdint>

#include "support/DataType.h"
#include "support/TOVAString.h"
#include "support/oleauto.h"

class ISPorticoSession;  // common/Session.h

namespace common {

// Size in bytes of a value of that type; -1 for variable-length text. Types without a fixed
// size (currency, dates, others) report an assertion and give 0.
VTQ_EXPORT int32_t sizeOfDataType(support::DataType type);
// True for the four text types (DT_UCS2, DT_UTF8, DT_PTR_UCS2, DT_PTR_UTF8).
VTQ_EXPORT bool isStringDataType(support::DataType type);
// The label of the row dump, "[DT_SI32]"; "[DT_UNKNOWN]" for a value outside the enumeration.
VTQ_EXPORT const char* dataTypeLabel(support::DataType type);

// True when both variants have the same type and compare equal; two VT_NULL values are equal.
// Throws COMException when a value cannot be copied.
VTQ_EXPORT bool CompareTwoVariants(const VARIANT& a, const VARIANT& b);

// Fills description and source from the error object that `object` reports for `iid`; both
// stay empty when there is none. The result code is not used.
VTQ_EXPORT void obtainErrorInformation(long result, IUnknown* object, const GUID& iid,
                                       TOVAString& description, TOVAString& source);

// A platform session from the registered session manager, or null when the manager refuses.
// Throws ConfigurationException COMMON_E_NO_SESSION_MANAGER when no session manager is registered.
VTQ_EXPORT ISPorticoSession* get_session(const TOVAString& text);
VTQ_EXPORT ISPorticoSession* deserialize_session(const TOVAString& text);

}  // namespace common
