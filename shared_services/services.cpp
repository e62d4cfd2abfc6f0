#include <pthread.h>

#include <mutex>

#include "shared_services/default_services.hpp"
#include "shared_services/shared_services.hpp"
#include "support/at_fork.hpp"
#include "support/no_destructor.hpp"
#include "support/process_state.hpp"

namespace lumirex {

namespace {

struct Registry {
  std::mutex mutex;
  std::shared_ptr<SharedServices> installed;
};

// Never destroyed, like the default instance below: a call still running on
// another thread while the host exits holds a reference to the services.
Registry& registry() {
  return ProcessState<Registry>();
}

// One default instance for the process: it holds no state of its own, and
// handing back the same one keeps Services() stable across restores.
const std::shared_ptr<SharedServices>& DefaultInstance() {
  static NoDestructor<const std::shared_ptr<SharedServices>> instance(MakeDefaultServices());
  return *instance;
}
const BuiltAtLoad<&DefaultInstance> defaultInstanceBuiltAtLoad;

}  // namespace

std::shared_ptr<SharedServices> Services() {
  std::lock_guard lock(registry().mutex);
  if (!registry().installed) registry().installed = DefaultInstance();
  return registry().installed;
}

std::shared_ptr<SharedServices> InstallServices(std::shared_ptr<SharedServices> services) {
  std::lock_guard lock(registry().mutex);
  std::shared_ptr<SharedServices> previous =
      registry().installed ? registry().installed : DefaultInstance();
  registry().installed = services ? std::move(services) : DefaultInstance();
  return previous;
}

std::shared_ptr<SharedServices> MakeDefaultServices() {
  return std::make_shared<DefaultServices>();
}

}  // namespace lumirex
