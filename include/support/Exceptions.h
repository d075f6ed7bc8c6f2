#pragma once

#include <cstdint>
#include <type_traits>
#include <vector>

#include "olap_api/Exceptions.h"
#include "support/ErrorCodes.h"

// The concrete exceptions of the API support library. Each is built from a module text
// ("COMMONMODULE") and a code, carries inserts, logs itself with log() and is thrown by value.
class VTQ_EXPORT ExceptionCommon : public virtual olap_api::ApiException {
 public:
  ExceptionCommon(const TOVAString& module, uint32_t code) : m_Module(module), m_Code(code) {}
  ~ExceptionCommon() override = default;

  uint32_t getCode() const override { return m_Code; }
  TOVAString getMessage() const override;
  const TOVAString& getModule() const override { return m_Module; }
  const std::vector<TOVAString>& getInserts() const override { return m_Inserts; }

  void addStringInsert(const TOVAString& text) { m_Inserts.push_back(text); }
  void addNumericInsert(long long value);
  // A message handle: the catalogue text of `messageId` rendered as one insert.
  void addHandleInsert(uint32_t messageId);
  // Another exception's message as one insert.
  void addExceptionInsert(const olap_api::ApiException& other);

  // Writes the exception to the process logger (verbosity 3, the module's unit).
  void log() const;

  // A heap copy of the same dynamic type, owned by the caller.
  virtual ExceptionCommon* duplicate() const = 0;
  // Throws a copy of the same dynamic type.
  [[noreturn]] virtual void rethrow() const = 0;

 private:
  TOVAString m_Module;
  uint32_t m_Code;
  std::vector<TOVAString> m_Inserts;
};

#define VTQ_DECLARE_EXCEPTION_IMPL(Name, DefaultCode)                                          \
  class VTQ_EXPORT Name##Impl : public virtual olap_api::Name, public ExceptionCommon {        \
   public:                                                                                      \
    explicit Name##Impl(const TOVAString& module, uint32_t code = DefaultCode)                  \
        : ExceptionCommon(module, code) {}                                                      \
    ExceptionCommon* duplicate() const override { return new Name##Impl(*this); }              \
    [[noreturn]] void rethrow() const override { throw Name##Impl(*this); }                    \
    VTQ_EXCEPTION_EXTRA_##Name                                                                  \
  };

#define VTQ_EXCEPTION_EXTRA_InvalidArgumentException                   \
  /* Adds the range that was violated as two numeric inserts. */      \
  void setOutOfRange(long long low, long long high) {                  \
    addNumericInsert(low);                                             \
    addNumericInsert(high);                                            \
  }                                                                    \
  /* Says that a null was passed where an object was required. */     \
  void setNULL() { addStringInsert("NULL"); }
#define VTQ_EXCEPTION_EXTRA_InvalidExpressionException                \
  /* Adds the token that the scanner did not know. */                 \
  void setUnknownToken(const TOVAString& token) { addStringInsert(token); }
#define VTQ_EXCEPTION_EXTRA_InvalidPointerException
#define VTQ_EXCEPTION_EXTRA_InvalidXMLException
#define VTQ_EXCEPTION_EXTRA_MalformedXMLException
#define VTQ_EXCEPTION_EXTRA_InvalidCastException
#define VTQ_EXCEPTION_EXTRA_UnsupportedOperationException
#define VTQ_EXCEPTION_EXTRA_CubeViewStateException
#define VTQ_EXCEPTION_EXTRA_QueryTooLargeException
#define VTQ_EXCEPTION_EXTRA_ConfigurationException
#define VTQ_EXCEPTION_EXTRA_RunTimeException
#define VTQ_EXCEPTION_EXTRA_COMException

VTQ_DECLARE_EXCEPTION_IMPL(InvalidArgumentException, support::COMMON_E_INVALID_ARGUMENT)
VTQ_DECLARE_EXCEPTION_IMPL(InvalidPointerException, support::COMMON_E_INVALID_POINTER)
VTQ_DECLARE_EXCEPTION_IMPL(InvalidXMLException, support::COMMON_E_INVALID_XML)
VTQ_DECLARE_EXCEPTION_IMPL(MalformedXMLException, support::COMMON_E_MALFORMED_XML)
VTQ_DECLARE_EXCEPTION_IMPL(InvalidExpressionException, support::COMMON_E_UNKNOWN_NAME)
VTQ_DECLARE_EXCEPTION_IMPL(InvalidCastException, support::COMMON_E_INVALID_CAST)
VTQ_DECLARE_EXCEPTION_IMPL(UnsupportedOperationException, support::COMMON_E_UNSUPPORTED)
VTQ_DECLARE_EXCEPTION_IMPL(CubeViewStateException, support::COMMON_E_NOT_BOUND)
VTQ_DECLARE_EXCEPTION_IMPL(QueryTooLargeException, support::COMMON_E_QUERY_TOO_LARGE)
VTQ_DECLARE_EXCEPTION_IMPL(ConfigurationException, support::COMMON_E_NO_SESSION_MANAGER)
VTQ_DECLARE_EXCEPTION_IMPL(RunTimeException, support::COMMON_E_RUN_TIME)
VTQ_DECLARE_EXCEPTION_IMPL(COMException, support::COM_E_FAIL)

#undef VTQ_DECLARE_EXCEPTION_IMPL

// The one way to raise: support::raise<E>(module, code, inserts...) builds an exception of type E,
// logs it and throws it. Inserts are strings, integers and enumerators (numeric inserts), Handle (a
// catalogue message rendered as one insert), null_insert ("NULL": a null where an object was
// required) and other exceptions (their message). support::make builds the same exception without
// logging or throwing it, for a failure that is recorded now and thrown later.
namespace support {

struct Handle {
  uint32_t code;
};

struct NullInsert {};
inline constexpr NullInsert null_insert{};

template <class E>
inline void addInsert(E& e, const TOVAString& s) {
  e.addStringInsert(s);
}
template <class E>
inline void addInsert(E& e, const char* s) {
  e.addStringInsert(s);
}
template <class E>
inline void addInsert(E& e, Handle handle) {
  e.addHandleInsert(handle.code);
}
template <class E>
inline void addInsert(E& e, NullInsert) {
  e.addStringInsert("NULL");
}
template <class E, class I, std::enable_if_t<std::is_integral_v<I> || std::is_enum_v<I>, int> = 0>
inline void addInsert(E& e, I v) {
  e.addNumericInsert(static_cast<long long>(v));
}
template <class E, class X, std::enable_if_t<std::is_base_of_v<olap_api::ApiException, X>, int> = 0>
inline void addInsert(E& e, const X& other) {
  e.addExceptionInsert(other);
}

template <class E, class... Inserts>
E make(const TOVAString& module, uint32_t code, const Inserts&... inserts) {
  E e(module, code);
  (addInsert(e, inserts), ...);
  return e;
}

template <class E, class... Inserts>
[[noreturn]] void raise(const TOVAString& module, uint32_t code, const Inserts&... inserts) {
  E e = make<E>(module, code, inserts...);
  e.log();
  throw e;
}
}  // namespace support
