#include "common/ProviderLibrary.h"

#include <map>
#include <mutex>

#include "common/OLAPBrowsable.h"
#include "support/Exceptions.h"

namespace common {

namespace {

std::mutex& registryMutex() {
  static std::mutex m;
  return m;
}

std::map<TOVAString, ProviderLibrary*>& registry() {
  static std::map<TOVAString, ProviderLibrary*> libraries;
  return libraries;
}

}  // namespace

void registerProviderLibrary(const TOVAString& providerName, ProviderLibrary* library) {
  std::lock_guard lock(registryMutex());
  if (library) registry()[providerName] = library;
  else registry().erase(providerName);
}

void unregisterProviderLibrary(const TOVAString& providerName) {
  std::lock_guard lock(registryMutex());
  registry().erase(providerName);
}

ProviderLibrary* createProviderLibrary(const TOVAString& providerName) {
  {
    std::lock_guard lock(registryMutex());
    auto it = registry().find(providerName);
    if (it != registry().end()) return it->second;
  }
  support::raise<ConfigurationExceptionImpl>("COMMONMODULE", support::COMMON_E_UNKNOWN_PROVIDER,
                                             providerName);
}

OLAPBrowsable::OLAPBrowsable() = default;
OLAPBrowsable::~OLAPBrowsable() = default;

}  // namespace common
