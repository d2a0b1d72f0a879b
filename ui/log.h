// The progress log: the three ways the program tells the user something, and
// the help text. Texts are Windows-1252 bytes from the text table.
//
// Any thread. Each call formats into a buffer of its own, so that texts of
// different threads never overwrite one another; two texts appended at the
// same moment by two threads may come out in either order, each whole.
#pragma once

#include <initializer_list>
#include <string>

namespace mfu {

// Capacity of a message text buffer: 255 characters and the NUL.
inline constexpr int kMessageBufferSize = 256;

// Adds `text` at the end of the log pane, unchanged.
void AppendLog(const char* text);

// Loads text `id` (limit 256) and appends it; an id without an entry appends
// nothing visible.
void AppendLogString(unsigned id);

// Appends `text`, then the retry hint (texts 2001 and 2002), so that every
// reported failure ends in the hint.
void ReportFailure(const char* text);

// Appends `text`, then `cause` (the line that says why, when not null), then
// the retry hint.
void ReportFailure(const char* text, const char* cause);

// Appends text `id` formatted with one string argument in place of its "%s"
// (texts 2011, 2013, 2032, 2033, 25 ...). The text is loaded with the limit
// of 256; the argument is placed whole, however long (a port path may take
// up to 4095 characters).
void AppendLogFormatted(unsigned id, const char* argument);

// The same with several arguments, placed in order at the text's "%s", "%d"
// and "%u" marks (texts 27, 31, 38, 39; a number is passed as its decimal
// text). A mark without an argument left is dropped; any other "%" stays as
// it is.
void AppendLogFormatted(unsigned id, std::initializer_list<const char*> arguments);

// The text AppendLogFormatted appends, for a caller that appends it itself.
std::string FormatLogText(unsigned id, std::initializer_list<const char*> arguments);

// The help text of "Hilfe": texts 2040 to 2046, each loaded with a limit of
// 128, joined without separator (454 characters, four paragraphs).
std::string HelpText();

}  // namespace mfu
