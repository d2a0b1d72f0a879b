#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "resources/resources.h"

namespace mfu {
namespace {

std::string Load(unsigned id, int limit = 256) {
  char buffer[512];
  std::memset(buffer, 'X', sizeof buffer);
  const int n = LoadText(id, buffer, limit);
  EXPECT_EQ(n, static_cast<int>(std::strlen(buffer)));
  return std::string(buffer, static_cast<std::size_t>(n));
}

TEST(TextTable, HoldsExactlyTheProgramsEntries) {
  int count = 0;
  const TextEntry* table = TextTable(count);
  ASSERT_EQ(count, 73);
  int longest = 0;
  for (int i = 0; i < count; ++i) {
    const bool known = (table[i].id >= 16 && table[i].id <= 33) || (table[i].id >= 35 && table[i].id <= 48) ||
                       (table[i].id >= 60 && table[i].id <= 66) ||
                       (table[i].id >= 2001 && table[i].id <= 2021) ||
                       (table[i].id >= 2029 && table[i].id <= 2034) || (table[i].id >= 2040 && table[i].id <= 2046);
    EXPECT_TRUE(known) << table[i].id;
    EXPECT_EQ(table[i].length, static_cast<int>(std::strlen(table[i].text)));
    longest = std::max(longest, table[i].length);
  }
  EXPECT_EQ(longest, 151);  // text 26, the dialout advice
}

TEST(TextTable, UmlautsAreWindows1252Bytes) {
  EXPECT_EQ(Load(2005), "\r\nUpdate l\xE4uft ...\r\n");
  EXPECT_EQ(Load(19), "Diese Log-Datei kann nicht ge\xF6" "ffnet werden");
  EXPECT_EQ(Load(2015), "\r\nDas Modem wird gepr\xFC" "ft, bitte warten ...\r\n");
  EXPECT_EQ(static_cast<unsigned char>(Load(2005)[10]), 0xE4u);
  EXPECT_EQ(Load(20), "Die Log-Datei konnte nicht vollst\xE4ndig geschrieben werden");
  EXPECT_EQ(Load(33), "Keine grafische Oberfl\xE4" "che gefunden. Starten Sie das Programm mit --console im Terminal.");
}

TEST(TextTable, RetryHintHasTwoBlanksBetweenItsHalves) {
  const std::string hint = Load(2001) + Load(2002);
  EXPECT_NE(hint.find("einschalten,  und dann"), std::string::npos);
  EXPECT_EQ(hint.substr(hint.size() - 2), "\r\n");
}

TEST(TextTable, LimitCountsTheNul) {
  EXPECT_EQ(Load(2029, 13), "bc2780ix.bin");  // 12 characters and the NUL
  EXPECT_EQ(Load(2029, 12), "bc2780ix.bi");
  EXPECT_EQ(Load(2029, 1), "");
  char untouched[4] = {'a', 'b', 'c', '\0'};
  EXPECT_EQ(LoadText(2029, untouched, 0), 0);
  EXPECT_STREQ(untouched, "abc");
}

TEST(TextTable, MissingIdLoadsAsEmptyText) {
  EXPECT_EQ(Load(2022), "");
  EXPECT_EQ(Load(0), "");
  EXPECT_EQ(Load(2047), "");
}

TEST(TextTable, FormatTextsCarryOnePlaceholder) {
  for (unsigned id : {2011u, 2013u, 2032u, 2033u, 24u, 25u, 26u, 28u, 35u, 36u, 37u, 42u, 46u}) {
    const std::string text = Load(id);
    const auto first = text.find("%s");
    ASSERT_NE(first, std::string::npos) << id;
    EXPECT_EQ(text.find('%', first + 1), std::string::npos) << id;
  }
  EXPECT_EQ(Load(2012).find('%'), std::string::npos);
  EXPECT_EQ(Load(27), "%s wird von einem anderen Programm benutzt%s.\r\n");
  EXPECT_EQ(Load(47), "%s ist nicht erreichbar: %s.\r\n");
  EXPECT_EQ(Load(31).rfind("Achtung: %s ist auch von %s (PID %d) ge\xF6" "ffnet. Dieses", 0), 0u);
  EXPECT_EQ(Load(30), "Gepr\xFC" "fte Schnittstellen:\r\n");
  EXPECT_EQ(Load(46), "Das Protokoll dieses Laufs kann nicht gespeichert werden: %s.\r\n");
}

TEST(BuiltInFirmware, IsTheStandInImageOfTheRealSize) {
  FirmwareImage image;
  EXPECT_EQ(FindFirmwareImage(image), FirmwareLookup::kNotFound);  // not installed yet
  SetResourceSource(&BuiltInResources());
  ASSERT_EQ(FindFirmwareImage(image), FirmwareLookup::kFound);
  SetResourceSource(nullptr);
  ASSERT_NE(image.data, nullptr);
  EXPECT_EQ(image.size, 372528u);
  const std::string tag(reinterpret_cast<const char*>(image.data) + 727 * 512, 25);
  EXPECT_EQ(tag, "KELVORA stand-in firmware");
}

}  // namespace
}  // namespace mfu
