#include "serial/modem_list.h"

#include <atomic>

namespace mfu {
namespace {

// Installed by tests before the search runs; read by it.
std::atomic<InstalledModemList*> g_modem_list{nullptr};
std::atomic<InstalledModemList*> g_second_list{nullptr};

}  // namespace

InstalledModemList& TheModemList() {
  InstalledModemList* list = g_modem_list.load();
  return list != nullptr ? *list : PlatformModemList();
}

InstalledModemList* TheSecondModemList() {
  return g_modem_list.load() != nullptr ? g_second_list.load() : PlatformSecondModemList();
}

void SetModemList(InstalledModemList* list) { SetModemLists(list, nullptr); }

void SetModemLists(InstalledModemList* first, InstalledModemList* second) {
  g_second_list.store(first != nullptr ? second : nullptr);
  g_modem_list.store(first);
}

}  // namespace mfu
