#include "serial/modem_list.h"

#include <atomic>

namespace mfu {
namespace {

// Installed by tests and by --port before the search runs; read by it.
std::atomic<InstalledModemList*> g_modem_list{nullptr};

}  // namespace

InstalledModemList& TheModemList() {
  InstalledModemList* list = g_modem_list.load();
  return list != nullptr ? *list : PlatformModemList();
}

void SetModemList(InstalledModemList* list) { g_modem_list.store(list); }

}  // namespace mfu
