// SPDX-License-Identifier: BSD-2-Clause-Patent
// ConsolePrint writes the formatted text to the system table's console output.
#include <gtest/gtest.h>

#include "test/fake/fake.h"
#include "format_support.h"
#include "ui/status_report.h"

using uitest::Ascii;

namespace {

class ConsolePrintTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DriverLibForgetInterfaces();
    EfiInitializeDriverLib(Platform.NewImageHandle(), Platform.SystemTable());
    Platform.ClearConsoleLog();
  }
  void TearDown() override {
    EXPECT_EQ(Platform.LivePoolCount(), 0u);
    EXPECT_EQ(Platform.LivePageCount(), 0u);
    DriverLibForgetInterfaces();
  }
  fake::Platform Platform;
};

TEST_F(ConsolePrintTest, WritesTheMessageWithTheStatusName) {
  UINTN Count = ConsolePrint(u"LocateProtocol gAdvancedGcProtocolGuid error %r\n", EFI_NOT_FOUND);
  EXPECT_EQ(Platform.ConsoleTranscript(), "LocateProtocol gAdvancedGcProtocolGuid error Not Found\r\n");
  EXPECT_EQ(Count, strlen("LocateProtocol gAdvancedGcProtocolGuid error Not Found\r\n") + 1);
  ASSERT_EQ(Platform.ConsoleLog().size(), 1u);
  EXPECT_EQ(Platform.ConsoleLog()[0].name, "OutputString");
}

TEST_F(ConsolePrintTest, LongTextIsCutAtThreeHundredNineteenCharacters) {
  std::u16string Long(500, u'x');
  EXPECT_EQ(ConsolePrint(u"%s", Long.c_str()), 320u);
  EXPECT_EQ(Platform.ConsoleTranscript(), std::string(319, 'x'));
}

TEST_F(ConsolePrintTest, WithoutAConsoleOnlyFormats) {
  Platform.SystemTable()->ConOut = nullptr;
  EXPECT_EQ(ConsolePrint(u"abc %d", (UINT64)12), 7u);
  EXPECT_TRUE(Platform.ConsoleLog().empty());
}

}  // namespace
