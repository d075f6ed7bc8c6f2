// Makes the server provider known as provider "clickhouse" and as the reader of Source
// elements of that kind when the library is loaded.

#include <mutex>

#include "QueryViewpoint.h"
#include "Source.h"
#include "common/ProviderLibrary.h"
#include "common/ViewpointBase.h"
#include "support/CoreLog.h"

namespace clickhouse {

const TOVAString& providerName() {
  static const TOVAString name("clickhouse");
  return name;
}

const TOVAString& moduleName() {
  static const TOVAString name("CLICKHOUSEPROVIDER");
  return name;
}

void registerMessages() {
  static std::once_flag once;
  std::call_once(once, [] {
    support_dll::CoreLog* log = support_dll::CoreLog::getLogObject();
    log->registerMessage(CLICKHOUSE_E_SOURCE, "Invalid server source: %1.");
    log->registerMessage(CLICKHOUSE_E_UNREACHABLE, "The server %1 cannot be reached for %2: %3.");
    log->registerMessage(CLICKHOUSE_E_TIMEOUT, "The server %1 did not finish %2 within %3 ms.");
    log->registerMessage(CLICKHOUSE_E_SERVER_ERROR, "The server %1 refused %2 (HTTP %3): %4");
    log->registerMessage(CLICKHOUSE_E_BAD_RESPONSE, "The server %1 answered %2 unexpectedly: %3.");
    log->registerMessage(CLICKHOUSE_E_INTERRUPTED,
                         "%1 was interrupted; the server %2 was told to stop it.");
    log->registerMessage(
        CLICKHOUSE_E_IDENTIFIER,
        "'%1' is not a plain name (a letter or underscore, then letters, digits and underscores).");
  });
}

namespace {

// Cubes over a server are memory-provider cubes: their views are the memory provider's.
class ServerProviderLibrary final : public common::ProviderLibrary {
 public:
  common::ViewpointBase* createDerivedViewpoint(NUVA_o::Viewpoint* view) override {
    return memory::createMemoryViewpoint(view);
  }
  ISPorticoSession* deserializeSession(const TOVAString&) override { return nullptr; }
};

struct Registrar {
  Registrar() {
    registerMessages();
    common::registerProviderLibrary(providerName(), &library);
    memory::registerCubeSource("clickhouse", openSource);
  }
  ~Registrar() {
    memory::unregisterCubeSource("clickhouse");
    common::unregisterProviderLibrary(providerName());
  }
  mutable ServerProviderLibrary library;
};

const Registrar registrar;

}  // namespace

void registerProvider() {
  if (!common::createProviderLibrary(providerName()))
    common::registerProviderLibrary(providerName(), &registrar.library);
  memory::registerCubeSource("clickhouse", openSource);
}

}  // namespace clickhouse
