#include "firmware/firmware.h"

#include <gtest/gtest.h>

#include <cstring>

#include "resources/resources.h"
#include "tests/support/diag_recorder.h"

namespace mfu::test {
namespace {

class FirmwareTest : public ::testing::Test {
 protected:
  void TearDown() override { SetResourceSource(nullptr); }
  DiagRecorder diags_;
};

TEST_F(FirmwareTest, TheBuiltInImageIsAnnouncedWithItsSizeDateAndFileInformation) {
  SetResourceSource(&BuiltInResources());
  FirmwareFile file;
  ASSERT_TRUE(FindFirmwareFile(file));
  EXPECT_NE(file.data, nullptr);
  EXPECT_EQ(file.size, 372528);
  EXPECT_EQ(file.date, 908296474);  // 1998-10-13 16:34:34 UTC
  const char expected[] = "bc2780ix.bin\0" "372528 6610700432 100666 ";
  EXPECT_EQ(std::memcmp(file.information, expected, sizeof expected), 0);
  for (std::size_t i = sizeof expected; i < sizeof file.information; ++i) ASSERT_EQ(file.information[i], 0) << i;
  EXPECT_TRUE(diags_.Lines().empty());
}

TEST_F(FirmwareTest, TheFileInformationKeepsItsTextInside128BytesWhateverTheSize) {
  std::uint8_t block[kFileInformationSize];
  std::memset(block, 0xEE, sizeof block);
  BuildFileInformation(block, 2147483647);
  const char expected[] = "bc2780ix.bin\0" "2147483647 6610700432 100666 ";
  EXPECT_EQ(std::memcmp(block, expected, sizeof expected), 0);
  for (std::size_t i = sizeof expected; i < sizeof block; ++i) ASSERT_EQ(block[i], 0) << i;
}

}  // namespace
}  // namespace mfu::test
