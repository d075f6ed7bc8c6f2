#pragma once

#include <functional>

#include "support/oleauto.h"

// A session of the platform's session service. The library hands it on without calling it.
class ISPorticoSession : public IUnknown {};

namespace common {

// The platform's session manager, as the session functions use it.
class ISessionManager : public IUnknown {
 public:
  // A session for `text`, with one reference for the caller, in `session`.
  virtual HRESULT GetSession(BSTR text, ISPorticoSession** session) = 0;
  // A session restored from its serialised text, with one reference for the caller.
  virtual HRESULT DeserializeSession(BSTR text, ISPorticoSession** session) = 0;
};

VTQ_EXPORT extern const IID IID_ISessionManager;

// Stands for the platform's class registration: returns a new manager with one reference,
// or null when none can be created.
using SessionManagerFactory = std::function<ISessionManager*()>;

// Makes `factory` the source of session managers for get_session and deserialize_session,
// replacing any earlier one. Thread-safe.
VTQ_EXPORT void registerSessionManager(SessionManagerFactory factory);
// Forgets the registered factory; the session functions then throw ConfigurationException.
VTQ_EXPORT void unregisterSessionManager();

}  // namespace common
