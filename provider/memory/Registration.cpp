// Makes the memory provider known as provider "memory" when the library is loaded.

#include "MemoryCubeImpl.h"
#include "common/ProviderLibrary.h"
#include "common/ViewpointBase.h"

namespace memory {

namespace {

// The provider's companion of a cube view. Evaluating views is not built yet: executeQuery
// refuses with a clear exception rather than returning an empty result.
class MemoryViewpoint final : public common::ViewpointBase {
 public:
  // The view owns its companion; the companion does not need the view until it evaluates it.
  explicit MemoryViewpoint(NUVA_o::Viewpoint*) {}
  NUVA_o::ViewResultSet* executeQuery() override {
    raise<UnsupportedOperationExceptionImpl>(MEMORY_E_UNSUPPORTED, "query execution");
  }
  void interrupt() override {}
  void dirty() override {}
  bool isQueryTooLarge() override { return false; }
};

class MemoryProviderLibrary final : public common::ProviderLibrary {
 public:
  common::ViewpointBase* createDerivedViewpoint(NUVA_o::Viewpoint* view) override {
    return new MemoryViewpoint(view);
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
