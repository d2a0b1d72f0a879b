#include "app/qt/qt_icon.h"

#include <QImage>
#include <QPixmap>

namespace mfu {
namespace {

// The 16 colours of the classic Windows palette.
constexpr QRgb kPalette[16] = {
    0xFF000000, 0xFF800000, 0xFF008000, 0xFF808000, 0xFF000080, 0xFF800080, 0xFF008080, 0xFFC0C0C0,
    0xFF808080, 0xFFFF0000, 0xFF00FF00, 0xFFFFFF00, 0xFF0000FF, 0xFFFF00FF, 0xFF00FFFF, 0xFFFFFFFF,
};

// An external modem seen from the front, with its lights, below a down arrow:
// new firmware going into the modem. One character per pixel: '.' is
// transparent, a hex digit is a palette index.
constexpr const char* kPicture[32] = {
    "................................",
    "..............CCCC..............",
    "..............CCCC..............",
    "..............CCCC..............",
    "..............CCCC..............",
    "..............CCCC..............",
    "..............CCCC..............",
    "..........CCCCCCCCCCCC..........",
    "...........CCCCCCCCCC...........",
    "............CCCCCCCC............",
    ".............CCCCCC.............",
    "..............CCCC..............",
    "...............CC...............",
    "................................",
    "................................",
    "......FFFFFFFFFFFFFFFFFFFF......",
    ".....F77777777777777777777F.....",
    "....F7777777777777777777777F....",
    "...F777777777777777777777777F...",
    "..F77777777777777777777777778...",
    "..F77777777777777777777777778...",
    "..F77A77A77A77977B7777777778....",
    "..F77777777777777777777777778...",
    "..F77777777777777777777777778...",
    "..F88888888888888888888888880...",
    "...00000000000000000000000000...",
    "....8........................8..",
    "....88......................88..",
    "................................",
    "................................",
    "................................",
    "................................",
};

}  // namespace

QIcon MakeAppIcon() {
  QImage image(32, 32, QImage::Format_ARGB32);
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 32; ++x) {
      const char c = kPicture[y][x];
      QRgb colour = 0x00000000;
      if (c >= '0' && c <= '9') colour = kPalette[c - '0'];
      if (c >= 'A' && c <= 'F') colour = kPalette[c - 'A' + 10];
      image.setPixel(x, y, colour);
    }
  }
  return QIcon(QPixmap::fromImage(image));
}

}  // namespace mfu
