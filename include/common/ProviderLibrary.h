#pragma once

#include "support/TOVAString.h"

class ISPorticoSession;
namespace NUVA_o {
class Viewpoint;
}

namespace common {

class ViewpointBase;

// What a provider library offers the cube view: its companion of a view, and sessions.
// Provider library objects live as long as the process; the registry does not own them.
class VTQ_EXPORT ProviderLibrary {
 public:
  virtual ~ProviderLibrary() = default;
  // A new companion of `view` that evaluates it; the view owns the result.
  virtual ViewpointBase* createDerivedViewpoint(NUVA_o::Viewpoint* view) = 0;
  // A session restored from its serialised text, or null when the text names none.
  virtual ISPorticoSession* deserializeSession(const TOVAString& text) = 0;
};

// Makes `library` the provider library of `providerName` (replacing any earlier one).
VTQ_EXPORT void registerProviderLibrary(const TOVAString& providerName, ProviderLibrary* library);
// Forgets the provider library of that name, if any.
VTQ_EXPORT void unregisterProviderLibrary(const TOVAString& providerName);
// The provider library registered under `providerName` (not owned by the caller).
// Throws ConfigurationException COMMON_E_UNKNOWN_PROVIDER with the name as insert when none is
// registered.
VTQ_EXPORT ProviderLibrary* createProviderLibrary(const TOVAString& providerName);

}  // namespace common
