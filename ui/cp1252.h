// Windows-1252, the code page of the log pane's texts, to and from Unicode.
// The toolkit shows Unicode; the pane's text, the log file and the text table
// stay Windows-1252 bytes. Any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace mfu {

// The code point of one Windows-1252 byte. The five bytes that the code page
// leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the C1 control of the
// same value, as the Windows conversion does, so that every byte survives a
// round trip.
char32_t Cp1252ToCodePoint(std::uint8_t byte);

// The Windows-1252 byte of `code_point`; false when the code page has none.
bool CodePointToCp1252(char32_t code_point, std::uint8_t& byte);

// Whole texts. Unicode goes as UTF-16 (the toolkit's own form) or UTF-8.
std::u16string Cp1252ToUtf16(std::string_view text);
std::string Cp1252ToUtf8(std::string_view text);

// Characters the code page cannot hold become `replacement`, as
// WideCharToMultiByte's default character does; a lone surrogate counts as
// such a character, as does a malformed UTF-8 sequence (one per bad byte).
std::string Utf16ToCp1252(std::u16string_view text, char replacement = '?');
std::string Utf8ToCp1252(std::string_view text, char replacement = '?');

}  // namespace mfu
