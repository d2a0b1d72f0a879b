#include <cstring>

#include "resources/resources.h"

namespace mfu {
namespace {

#define MFU_TEXT(id, text) {id, text, static_cast<int>(sizeof(text) - 1)},
constexpr TextEntry kTexts[] = {
#include "resources/string_table.inc"
};
#undef MFU_TEXT

// Until the program installs its own resources: the compiled-in texts and no
// firmware image.
class TextsOnly final : public ResourceSource {
 public:
  int LoadText(unsigned id, char* buffer, int limit) override { return LoadCompiledInText(id, buffer, limit); }
  FirmwareLookup FindFirmwareImage(FirmwareImage&) override { return FirmwareLookup::kNotFound; }
};

TextsOnly g_texts_only;
ResourceSource* g_source = &g_texts_only;

}  // namespace

const TextEntry* TextTable(int& count) {
  count = static_cast<int>(sizeof kTexts / sizeof kTexts[0]);
  return kTexts;
}

int CopyText(const char* text, int length, char* buffer, int limit) {
  if (buffer == nullptr || limit < 1) return 0;
  int copied = length < limit - 1 ? length : limit - 1;
  if (copied < 0) copied = 0;
  if (copied > 0) std::memcpy(buffer, text, static_cast<std::size_t>(copied));
  buffer[copied] = '\0';
  return copied;
}

int LoadCompiledInText(unsigned id, char* buffer, int limit) {
  for (const TextEntry& entry : kTexts) {
    if (entry.id == id) return CopyText(entry.text, entry.length, buffer, limit);
  }
  return CopyText("", 0, buffer, limit);
}

int LoadText(unsigned id, char* buffer, int limit) { return g_source->LoadText(id, buffer, limit); }

FirmwareLookup FindFirmwareImage(FirmwareImage& image) { return g_source->FindFirmwareImage(image); }

bool FirmwareIsStandIn() { return g_source->ImageIsStandIn(); }

void SetResourceSource(ResourceSource* source) { g_source = source != nullptr ? source : &g_texts_only; }

}  // namespace mfu
