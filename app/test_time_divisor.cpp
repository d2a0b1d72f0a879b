// Linked only into modem-update-test, the end-to-end tests' build of the
// console program: every time of the program (its pauses, its read limits,
// the line's 250 ms quiet gap that ends each answer) runs 20 times faster, so
// that a whole update of 728 answers takes seconds instead of four minutes.
// The divisor is a constant-initialised atomic, so setting it from a static
// initialiser is safe whatever the order of initialisation.
#include "platform/clock.h"

namespace {
[[maybe_unused]] const bool kTimesRunFaster = (mfu::SetTimeDivisor(20), true);
}  // namespace
