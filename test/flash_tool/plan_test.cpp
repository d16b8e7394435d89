// SPDX-License-Identifier: BSD-2-Clause-Patent
// The plan the host script writes for the demo tool: the mode line and the
// drivers expected in the volume, as the tool reads them back.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "examples/flash_tool/demo.h"

namespace {

DemoPlan Parse(const std::string &text, EFI_STATUS want = EFI_SUCCESS) {
  DemoPlan plan;
  EXPECT_EQ(DemoParsePlan(text.data(), text.size(), &plan), want);
  return plan;
}

TEST(DemoPlan, ModeAndDriversAsThePackagingNamesThem) {
  DemoPlan plan = Parse(
      "demo\n"
      "pictures 6C2AB33E-77F8-46B9-8106-760B4A81A500\n"
      "391081C1-FA9D-4AEB-BC5D-A1573F269C2E TarvexUIV4x64\r\n"
      "c34a3a5a-bf3a-4f73-bf40-e7f9823be44e NetIdentityDxe\n");
  EXPECT_STREQ(plan.Mode, "demo");
  ASSERT_EQ(plan.DriverCount, 2u);
  EXPECT_STREQ(plan.Drivers[0].Name, "TarvexUIV4x64");
  EXPECT_STREQ(plan.Drivers[1].Name, "NetIdentityDxe") << "a CR before the line feed is not part of the name";
  // Stored as EFI_GUID: the first three groups as numbers, the rest byte by byte.
  const EFI_GUID &g = plan.Drivers[0].File;
  EXPECT_EQ(g.Data1, 0x391081C1u);
  EXPECT_EQ(g.Data2, 0xFA9D);
  EXPECT_EQ(g.Data3, 0x4AEB);
  const UINT8 tail[8] = {0xBC, 0x5D, 0xA1, 0x57, 0x3F, 0x26, 0x9C, 0x2E};
  EXPECT_EQ(memcmp(g.Data4, tail, 8), 0);
  EXPECT_EQ(plan.Drivers[1].File.Data1, 0xC34A3A5Au) << "lower case hex";
  EXPECT_TRUE(plan.HasPictureFile);
  EXPECT_EQ(plan.PictureFile.Data1, 0x6C2AB33Eu);
  EXPECT_FALSE(Parse("demo\npictures 6C2AB33E-77F8-46B9-8106-760B4A81A50\n").HasPictureFile) << "a short GUID";
}

TEST(DemoPlan, MalformedLinesAreSkippedAndTheTableIsBounded) {
  std::string text = "dispatch\n";
  text += "391081C1-FA9D-4AEB-BC5D-A1573F269C2 Short\n";    // 35 hex digits
  text += "391081C1+FA9D-4AEB-BC5D-A1573F269C2E Dash\n";    // wrong separator
  text += "391081C1-FA9D-4AEB-BC5D-A1573F269C2G Letter\n";  // not hex
  text += "391081C1-FA9D-4AEB-BC5D-A1573F269C2E \n";        // no name
  text += "391081C1-FA9D-4AEB-BC5D-A1573F269C2EGlued\n";    // no blank after the GUID
  for (int i = 0; i < DEMO_MAX_DRIVERS + 3; i++) text += "391081C1-FA9D-4AEB-BC5D-A1573F269C2E " + std::string(40, 'N') + "\n";
  DemoPlan plan = Parse(text);
  EXPECT_STREQ(plan.Mode, "dispatch");
  EXPECT_EQ(plan.DriverCount, (UINTN)DEMO_MAX_DRIVERS) << "only the valid lines, at most the table's size";
  EXPECT_EQ(strlen(plan.Drivers[0].Name), sizeof plan.Drivers[0].Name - 1) << "long names are cut, terminated";
}

TEST(DemoPlan, NoModeIsNotAPlan) {
  Parse("", EFI_NOT_FOUND);
  Parse("\n391081C1-FA9D-4AEB-BC5D-A1573F269C2E TarvexUIV4x64\n", EFI_NOT_FOUND);
  DemoPlan plan = Parse("averyveryverylongmodename and more");
  EXPECT_EQ(strlen(plan.Mode), sizeof plan.Mode - 1);
  // The text need not end with a line feed, nor hold a terminator.
  std::string exact = "bench\n391081C1-FA9D-4AEB-BC5D-A1573F269C2E X";
  DemoPlan last = Parse(exact);
  EXPECT_EQ(last.DriverCount, 1u);
  EXPECT_STREQ(last.Drivers[0].Name, "X");
}

}  // namespace
