// Built-in resources: the message texts by number and the firmware image.
// The Linux build compiles both in; the Windows build reads them from the
// program's own resources (LoadStringA, FindResourceA). Tests may install
// other resources (a shorter image, no image at all).
#pragma once

#include <cstdint>

namespace mfu {

// Loads text `id` into `buffer` with LoadStringA's limit rules: at most
// limit - 1 bytes are copied and a NUL is always written (limit counts the
// NUL); an id without an entry loads as the empty text. Returns the number of
// bytes copied, without the NUL. A limit below 1 copies nothing and returns 0.
// Windows-1252 bytes. Any thread.
int LoadText(unsigned id, char* buffer, int limit);

struct FirmwareImage {
  const std::uint8_t* data = nullptr;  // read-only, lives as long as the program
  std::uint32_t size = 0;
};

enum class FirmwareLookup {
  kFound,
  kNotFound,    // "Can't FindResource"
  kNotLoadable  // "Can't LoadResource"
};

// Finds the firmware image of the program (type "RT_RCDATA", id 1005).
FirmwareLookup FindFirmwareImage(FirmwareImage& image);

// True when the program carries the stand-in image, not real firmware (a
// build without a firmware file of its own): it must then never be sent to a
// real modem. Any thread.
bool FirmwareIsStandIn();

// The seam behind both calls. Until a program installs its own resources
// (BuiltInResources(), at start-up), the compiled-in texts are used and no
// firmware image is found.
class ResourceSource {
 public:
  virtual ~ResourceSource() = default;
  virtual int LoadText(unsigned id, char* buffer, int limit) = 0;
  virtual FirmwareLookup FindFirmwareImage(FirmwareImage& image) = 0;
  virtual bool ImageIsStandIn() { return false; }
};

// The program's own resources (compiled in, or the Windows resource section).
ResourceSource& BuiltInResources();

// Installs the source of both calls; nullptr goes back to the compiled-in
// texts without image. Set it before threads start.
void SetResourceSource(ResourceSource* source);

// The compiled-in text table, shared by every build (the Windows build's
// resource script is generated from the same table).
struct TextEntry {
  unsigned id;
  const char* text;
  int length;  // bytes, without the NUL
};
const TextEntry* TextTable(int& count);

// The compiled-in text `id`, by the LoadStringA rules above.
int LoadCompiledInText(unsigned id, char* buffer, int limit);

// Copies `text` (length bytes) by the LoadStringA rules above.
int CopyText(const char* text, int length, char* buffer, int limit);

}  // namespace mfu
