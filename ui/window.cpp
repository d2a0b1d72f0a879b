#include "ui/window.h"

#include <atomic>

namespace mfu {
namespace {
std::atomic<Window*> g_main_window{nullptr};
}  // namespace

Window* MainDialog() { return g_main_window.load(std::memory_order_acquire); }
void SetMainDialog(Window* window) { g_main_window.store(window, std::memory_order_release); }

}  // namespace mfu
