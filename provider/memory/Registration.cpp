// Makes the memory provider known as provider "memory" when the library is loaded.

#include "MemoryCubeImpl.h"
#include "QueryViewpoint.h"
#include "common/ProviderLibrary.h"
#include "common/ViewpointBase.h"

namespace memory {

namespace {

class MemoryProviderLibrary final : public common::ProviderLibrary {
 public:
  common::ViewpointBase* createDerivedViewpoint(NUVA_o::Viewpoint* view) override {
    return createMemoryViewpoint(view);
  }
  ISPorticoSession* deserializeSession(const TOVAString&) override { return nullptr; }
};

struct Registrar {
  Registrar() {
    registerMessages();
    common::registerProviderLibrary(providerName(), &library);
  }
  ~Registrar() { common::unregisterProviderLibrary(providerName()); }
  MemoryProviderLibrary library;
};

const Registrar registrar;

}  // namespace

}  // namespace memory
