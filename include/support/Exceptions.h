#pragma once

#include <cstdint>
#include <vector>

#include "olap_api/Exceptions.h"

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

VTQ_DECLARE_EXCEPTION_IMPL(InvalidArgumentException, 0xC2011001)
VTQ_DECLARE_EXCEPTION_IMPL(InvalidPointerException, 0xC2011002)
VTQ_DECLARE_EXCEPTION_IMPL(InvalidXMLException, 0xC2011003)
VTQ_DECLARE_EXCEPTION_IMPL(MalformedXMLException, 0xC2011004)
VTQ_DECLARE_EXCEPTION_IMPL(InvalidExpressionException, 0xC2011005)
VTQ_DECLARE_EXCEPTION_IMPL(InvalidCastException, 0xC2011006)
VTQ_DECLARE_EXCEPTION_IMPL(UnsupportedOperationException, 0xC2011007)
VTQ_DECLARE_EXCEPTION_IMPL(CubeViewStateException, 0xC2011008)
VTQ_DECLARE_EXCEPTION_IMPL(QueryTooLargeException, 0xC2011009)
VTQ_DECLARE_EXCEPTION_IMPL(ConfigurationException, 0xC201B249)
VTQ_DECLARE_EXCEPTION_IMPL(RunTimeException, 0xC201100A)
VTQ_DECLARE_EXCEPTION_IMPL(COMException, 0x80004005)

#undef VTQ_DECLARE_EXCEPTION_IMPL

// Builds an exception of type E from the module name and a code with the given inserts
// (strings as string inserts, integers as numeric inserts), logs it and throws it.
namespace support {
template <class E>
inline void addInsert(E& e, const TOVAString& s) { e.addStringInsert(s); }
template <class E>
inline void addInsert(E& e, const char* s) { e.addStringInsert(s); }
template <class E, class I, std::enable_if_t<std::is_integral_v<I>, int> = 0>
inline void addInsert(E& e, I v) { e.addNumericInsert(static_cast<long long>(v)); }

template <class E, class... Inserts>
[[noreturn]] void raise(const TOVAString& module, uint32_t code, const Inserts&... inserts) {
  E e(module, code);
  (addInsert(e, inserts), ...);
  e.log();
  throw e;
}
}  // namespace support
