// The program's icon: one 32 x 32 image in 16 colours, drawn in code.
#pragma once

#include <QIcon>

namespace mfu {

QIcon MakeAppIcon();

}  // namespace mfu
