// Dialog template 102 as the resource compiler built it: the dialog's
// caption, place, size, font and styles, and the eight controls with their
// ids, classes, texts, styles and positions, in template (tab) order.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace mfu {
namespace {

// A reader of the extended dialog template (DLGTEMPLATEEX / DLGITEMTEMPLATEEX).
class TemplateReader {
 public:
  explicit TemplateReader(const std::uint8_t* data) : base_(data), at_(data) {}
  std::uint16_t Word() {
    std::uint16_t value;
    std::memcpy(&value, at_, 2);
    at_ += 2;
    return value;
  }
  std::uint32_t Dword() {
    std::uint32_t value;
    std::memcpy(&value, at_, 4);
    at_ += 4;
    return value;
  }
  std::int16_t Short() { return static_cast<std::int16_t>(Word()); }
  std::string Text() {  // NUL-terminated UTF-16, Latin-1 characters only here
    std::string text;
    for (std::uint16_t c = Word(); c != 0; c = Word()) text += static_cast<char>(c);
    return text;
  }
  // A class or text field: 0xFFFF and an ordinal, or a text.
  std::string NameOrOrdinal() {
    std::uint16_t first;
    std::memcpy(&first, at_, 2);
    if (first == 0xFFFF) {
      at_ += 2;
      switch (const std::uint16_t ordinal = Word()) {
        case 0x80: return "button";
        case 0x81: return "edit";
        case 0x82: return "static";
        default: return std::string(1, '#').append(std::to_string(ordinal));
      }
    }
    return Text();
  }
  void AlignDword() {
    while ((at_ - base_) % 4 != 0) ++at_;
  }
  void Skip(std::size_t bytes) { at_ += bytes; }

 private:
  const std::uint8_t* base_;
  const std::uint8_t* at_;
};

struct Item {
  int id;
  std::string cls;
  std::string text;
  DWORD style;
  int x, y, cx, cy;
};

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

TEST(Win32DialogTemplate, Template102IsTheUpdateWindow) {
  HMODULE module = ::GetModuleHandleA(nullptr);
  HRSRC found = ::FindResourceA(module, MAKEINTRESOURCEA(102), MAKEINTRESOURCEA(5));  // RT_DIALOG
  ASSERT_NE(found, nullptr);
  const auto* data = static_cast<const std::uint8_t*>(::LockResource(::LoadResource(module, found)));
  ASSERT_NE(data, nullptr);

  TemplateReader reader(data);
  ASSERT_EQ(reader.Word(), 1);       // dlgVer
  ASSERT_EQ(reader.Word(), 0xFFFF);  // signature: extended template
  reader.Dword();                    // help id
  EXPECT_EQ(reader.Dword(), static_cast<DWORD>(WS_EX_APPWINDOW));
  EXPECT_EQ(reader.Dword(),
            static_cast<DWORD>(WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT));
  const int count = reader.Word();
  EXPECT_EQ(reader.Short(), 0);
  EXPECT_EQ(reader.Short(), 0);
  EXPECT_EQ(reader.Short(), 200);
  EXPECT_EQ(reader.Short(), 280);
  EXPECT_EQ(reader.NameOrOrdinal(), "");  // no menu
  EXPECT_EQ(reader.NameOrOrdinal(), "");  // the dialog class
  EXPECT_EQ(reader.Text(), "Modem Flash Update");
  EXPECT_EQ(reader.Word(), 8);  // points
  reader.Word();                // weight
  reader.Skip(2);               // italic, charset
  EXPECT_EQ(reader.Text(), "MS Sans Serif");

  std::vector<Item> items;
  for (int i = 0; i < count; ++i) {
    reader.AlignDword();
    reader.Dword();  // help id
    EXPECT_EQ(reader.Dword(), 0u) << "item " << i << " has an extended style";
    Item item;
    item.style = reader.Dword();
    item.x = reader.Short();
    item.y = reader.Short();
    item.cx = reader.Short();
    item.cy = reader.Short();
    item.id = static_cast<int>(reader.Dword());
    item.cls = Lower(reader.NameOrOrdinal());
    item.text = reader.NameOrOrdinal();
    reader.Skip(reader.Word());  // creation data
    items.push_back(item);
  }

  const DWORD base = WS_CHILD | WS_VISIBLE;
  const std::vector<Item> expected = {
      {IDOK, "button", "Beenden", base | BS_DEFPUSHBUTTON | WS_TABSTOP, 75, 258, 60, 14},
      {1011, "msctls_progress32", "Generic1", base | WS_BORDER, 18, 212, 160, 14},
      {1006, "button", "Update Starten", base | BS_PUSHBUTTON | WS_TABSTOP, 28, 232, 60, 14},
      {1007, "button", "Hilfe", base | BS_PUSHBUTTON | WS_TABSTOP, 112, 232, 60, 14},
      {1008, "button", "Ablauf-Zustand...", base | BS_GROUPBOX | WS_GROUP, 12, 198, 170, 52},
      {1009, "edit", "",
       base | ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY | WS_VSCROLL | WS_BORDER | WS_TABSTOP, 20, 12, 160, 156},
      {1010, "button", "Update Log", base | BS_GROUPBOX, 12, 2, 170, 188},
      {1012, "button", "Log Speichern", base | BS_PUSHBUTTON | WS_TABSTOP, 70, 172, 60, 14},
  };
  ASSERT_EQ(items.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE("control " + std::to_string(expected[i].id));
    EXPECT_EQ(items[i].id, expected[i].id);
    EXPECT_EQ(items[i].cls, expected[i].cls);
    EXPECT_EQ(items[i].text, expected[i].text);
    EXPECT_EQ(items[i].style, expected[i].style);
    EXPECT_EQ(items[i].x, expected[i].x);
    EXPECT_EQ(items[i].y, expected[i].y);
    EXPECT_EQ(items[i].cx, expected[i].cx);
    EXPECT_EQ(items[i].cy, expected[i].cy);
  }
}

}  // namespace
}  // namespace mfu
