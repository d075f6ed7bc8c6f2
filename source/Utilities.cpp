#include "common/Utilities.h"

#include <cstring>
#include <mutex>

#include "common/ComponentLog.h"
#include "common/Session.h"
#include "support/Exceptions.h"

// {6C1E5F0A-3B7D-4E42-9A1B-5D2C8E7F9A31}
const IID common::IID_ISessionManager = {
    0x6C1E5F0A, 0x3B7D, 0x4E42, {0x9A, 0x1B, 0x5D, 0x2C, 0x8E, 0x7F, 0x9A, 0x31}};

namespace common {

namespace {

const ComponentLog& utilitiesLog() {
  static const ComponentLog log(moduleName(), "utilities");
  return log;
}

// A VARIANT cleared on every path out.
struct ScopedVariant {
  VARIANT v;
  ScopedVariant() { VariantInit(&v); }
  ~ScopedVariant() { VariantClear(&v); }
  ScopedVariant(const ScopedVariant&) = delete;
  ScopedVariant& operator=(const ScopedVariant&) = delete;
};

// Releases a COM interface when it goes out of scope.
template <class T>
struct ComRef {
  T* p = nullptr;
  ComRef() = default;
  explicit ComRef(T* q) : p(q) {}
  ~ComRef() {
    if (p) p->Release();
  }
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;
};

struct Bstr {
  BSTR s = nullptr;
  ~Bstr() { SysFreeString(s); }
  TOVAString text() const { return s ? TOVAString(s, SysStringLen(s)) : TOVAString(); }
};

std::mutex g_SessionMutex;
SessionManagerFactory g_SessionFactory;

// Creates the session manager as the platform would; throws when there is none.
ISessionManager* create_session_manager() {
  SessionManagerFactory factory;
  {
    std::lock_guard lock(g_SessionMutex);
    factory = g_SessionFactory;
  }
  ISessionManager* manager = factory ? factory() : nullptr;
  if (manager == nullptr)
    support::raise<ConfigurationExceptionImpl>(moduleName(), support::COMMON_E_NO_SESSION_MANAGER);
  return manager;
}

enum class SessionCall { GET, DESERIALIZE };

ISPorticoSession* call_session_manager(const TOVAString& text, SessionCall call,
                                       const char* function, int line) {
  ComRef<ISessionManager> manager(create_session_manager());
  Bstr argument;
  Bstr given;
  given.s = text.createBSTR();
  if (call == SessionCall::GET) {
    HRESULT hr = VarBstrCat(given.s, Bstr{TOVAString("SERVER").createBSTR()}.s, &argument.s);
    if (FAILED(hr)) support::raise<COMExceptionImpl>(moduleName(), static_cast<uint32_t>(hr));
  } else {
    std::swap(argument.s, given.s);
  }
  ISPorticoSession* session = nullptr;
  HRESULT hr = call == SessionCall::GET ? manager.p->GetSession(argument.s, &session)
                                        : manager.p->DeserializeSession(argument.s, &session);
  if (FAILED(hr)) {
    if (session) session->Release();
    session = nullptr;
    TOVAString description, source;
    obtainErrorInformation(hr, manager.p, IID_ISessionManager, description, source);
    utilitiesLog().logAt({"Utilities", line, function, support::COMMON_LOG_ERROR}, 3, "%s",
                         description);
  }
  return session;
}

}  // namespace

void registerSessionManager(SessionManagerFactory factory) {
  std::lock_guard lock(g_SessionMutex);
  g_SessionFactory = std::move(factory);
}

void unregisterSessionManager() {
  std::lock_guard lock(g_SessionMutex);
  g_SessionFactory = nullptr;
}

bool CompareTwoVariants(const VARIANT& a, const VARIANT& b) {
  ScopedVariant x, y;
  HRESULT hr = VariantCopy(&x.v, &a);
  if (SUCCEEDED(hr)) hr = VariantCopy(&y.v, &b);
  if (FAILED(hr)) support::raise<COMExceptionImpl>(moduleName(), static_cast<uint32_t>(hr));
  if (x.v.vt == VT_NULL && y.v.vt == VT_NULL) return true;
  if (x.v.vt != y.v.vt) return false;
  return VarCmp(&x.v, &y.v, LOCALE_USER_DEFAULT, 0) == VARCMP_EQ;
}

void obtainErrorInformation(long /*result*/, IUnknown* object, const GUID& iid,
                            TOVAString& description, TOVAString& source) {
  description.clear();
  source.clear();
  if (object == nullptr) return;
  ComRef<ISupportErrorInfo> support;
  if (FAILED(object->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&support.p))) ||
      support.p == nullptr)
    return;
  // S_FALSE is a success code that means "not supported": the thread's error object then
  // belongs to somebody else.
  if (support.p->InterfaceSupportsErrorInfo(iid) != S_OK) return;
  ComRef<IErrorInfo> info;
  if (GetErrorInfo(0, &info.p) != S_OK || info.p == nullptr) return;
  Bstr text, from, helpFile;
  if (SUCCEEDED(info.p->GetDescription(&text.s))) description = text.text();
  if (SUCCEEDED(info.p->GetSource(&from.s))) source = from.text();
  uint32_t helpContext = 0;
  info.p->GetHelpFile(&helpFile.s);
  info.p->GetHelpContext(&helpContext);
}

ISPorticoSession* get_session(const TOVAString& text) {
  return call_session_manager(text, SessionCall::GET, "common::get_session", __LINE__);
}

ISPorticoSession* deserialize_session(const TOVAString& text) {
  return call_session_manager(text, SessionCall::DESERIALIZE, "common::deserialize_session",
                              __LINE__);
}

}  // namespace common
