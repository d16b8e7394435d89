// SPDX-License-Identifier: BSD-2-Clause-Patent
// BootDelayDxe: the delay comes from Setup's 16-bit count plus the one extra
// second of family 19h models 6xh with an "F" at brand character 16.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bootdelay/boot_delay.h"
#include "test/drvlib/lib_support.h"
#include "test/drvlib/var_probe.h"
#include "test/fake/hw_model.h"
#include "test/fake/pcd.h"
#include "test/contract.h"

namespace {

const EFI_GUID kSetupGuid = CONTRACT_SETUP_VARIABLE_GUID;

std::vector<UINTN> g_stalls;
EFI_STATUS EFIAPI RecordStall(UINTN us) {
  g_stalls.push_back(us);
  return EFI_SUCCESS;
}

// Family 19h, extended model 6, base model 1 (model 61h), stepping 2.
constexpr uint32_t kFamily19Model61 = 0x00A60F12;

class BootDelayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    libtest::ResetDrvLib();
    g_stalls.clear();
    platform.BootServices()->Stall = RecordStall;
  }
  void TearDown() override { EXPECT_EQ(platform.LivePoolCount(), 0u); }

  void SetCount(uint8_t low, uint8_t high, size_t size = 205) {
    std::vector<uint8_t> setup(size, 0xEE);
    if (size > 197) setup[197] = low;
    if (size > 198) setup[198] = high;
    platform.SetVar("Setup", kSetupGuid, setup);
  }
  // Brand-string character 16 is the low byte of leaf 0x80000003's EAX.
  void SetCpu(uint32_t eax80000001, char brand16) {
    hw.SetCpuid(0x80000001, {eax80000001, 0, 0, 0});
    std::string brand = "TestBed CPU 0000X 6-Core Processor";
    brand[16] = brand16;
    hw.SetBrand(brand);
  }
  EFI_STATUS Run() { return BootDelayEntry(platform.NewImageHandle(), platform.SystemTable()); }
  size_t OneSecondStalls() const {
    for (UINTN us : g_stalls) EXPECT_EQ(us, 1000000u);
    return g_stalls.size();
  }

  fake::Platform platform;
  fake::HwModel hw;
  fake::FakePcd pcd{platform};
  libtest::DebugPrintDouble debug{platform};
};

TEST_F(BootDelayTest, ExtraSecondOnlyForFOnFamily19Model6x) {
  struct Case {
    uint8_t count;
    uint32_t family;
    char brand16;
    size_t stalls;
  } cases[] = {
      {3, kFamily19Model61, 'F', 4}, {3, kFamily19Model61, 'X', 3}, {3, kFamily19Model61, 'f', 3},  // the character is compared exactly
      {0, kFamily19Model61, 'F', 1}, {0, 0x00A60FFF, 'F', 1},                                       // base model and stepping do not matter
      {0, 0x00A50F00, 'F', 0},                                                                      // model 5xh
      {0, 0x00B40F00, 'F', 0},                                                                      // another family 19h+ signature
      {0, 0x00660F00, 'F', 0},       {0, 0x00800F00, 'X', 0},
  };
  for (const Case &c : cases) {
    SetUp();
    SetCount(c.count, 0);
    SetCpu(c.family, c.brand16);
    EXPECT_EQ(Run(), EFI_SUCCESS);
    EXPECT_EQ(OneSecondStalls(), c.stalls) << "count " << int(c.count) << " family " << std::hex << c.family << " char " << c.brand16;
  }
}

TEST_F(BootDelayTest, CountIsSixteenBitsLittleEndian) {
  SetCount(2, 1);
  SetCpu(0x00800F00, 'F');
  EXPECT_EQ(Run(), EFI_SUCCESS);
  EXPECT_EQ(OneSecondStalls(), 258u);
}

TEST_F(BootDelayTest, LargestCountPlusExtraSecondDoesNotWrap) {
  SetCount(0xFF, 0xFF);
  SetCpu(kFamily19Model61, 'F');
  EXPECT_EQ(Run(), EFI_SUCCESS);
  EXPECT_EQ(OneSecondStalls(), 65536u);
}

TEST_F(BootDelayTest, ReadsSetupAs205BytesWithoutAttributes) {
  libtest::GetVariableProbe probe(platform);
  SetCount(1, 0);
  SetCpu(0x00800F00, 'X');
  EXPECT_EQ(Run(), EFI_SUCCESS);
  ASSERT_EQ(probe.Reads().size(), 1u);
  EXPECT_EQ(probe.Reads()[0].name, "Setup");
  EXPECT_EQ(probe.Reads()[0].size_in, 205u);
  EXPECT_FALSE(probe.Reads()[0].wants_attributes);
  EXPECT_EQ(OneSecondStalls(), 1u);
}

TEST_F(BootDelayTest, UnreadableSetupGivesNoDelayEvenWithTheExtraSecond) {
  SetCpu(kFamily19Model61, 'F');
  EXPECT_EQ(Run(), EFI_SUCCESS);  // no Setup at all
  EXPECT_EQ(OneSecondStalls(), 0u);

  SetUp();
  SetCount(5, 0, 206);  // too large for the 205-byte buffer
  EXPECT_EQ(Run(), EFI_SUCCESS);
  EXPECT_EQ(OneSecondStalls(), 0u);

  SetUp();
  SetCount(5, 0);
  platform.FailGetVariable(EFI_DEVICE_ERROR);
  EXPECT_EQ(Run(), EFI_SUCCESS);
  EXPECT_EQ(OneSecondStalls(), 0u);
}

// A Setup too short to hold both count bytes counts as a count of 0; the
// bytes GetVariable did not return are never looked at.
TEST_F(BootDelayTest, ShortSetupCountsAsZero) {
  libtest::GetVariableProbe probe(platform, 0x07);
  SetCpu(0x00800F00, 'X');
  SetCount(9, 9, 198);  // byte 198 missing
  EXPECT_EQ(Run(), EFI_SUCCESS);
  EXPECT_EQ(OneSecondStalls(), 0u);

  SetUp();
  SetCount(9, 0, 197);  // both missing
  EXPECT_EQ(Run(), EFI_SUCCESS);
  EXPECT_EQ(OneSecondStalls(), 0u);

  SetUp();
  SetCount(2, 0, 199);  // just long enough
  EXPECT_EQ(Run(), EFI_SUCCESS);
  EXPECT_EQ(OneSecondStalls(), 2u);

  // Like any count of 0, the extra second of the "F" part still applies.
  SetUp();
  SetCpu(kFamily19Model61, 'F');
  SetCount(9, 9, 198);
  EXPECT_EQ(Run(), EFI_SUCCESS);
  EXPECT_EQ(OneSecondStalls(), 1u);
}

TEST_F(BootDelayTest, EntryRunsLibraryStartupFirstAndKeepsTheTables) {
  SetCount(1, 0);
  SetCpu(0x00800F00, 'X');
  EXPECT_EQ(Run(), EFI_SUCCESS);
  EXPECT_EQ(CfgPcdBuffer.EndMark, 2) << "the library start-up ran";
  EXPECT_EQ(gST, platform.SystemTable());
  EXPECT_EQ(gBS, platform.BootServices());
  EXPECT_EQ(gRT, platform.RuntimeServices());

  // A second run works from the tables the entry kept.
  EXPECT_EQ(BootDelay(), EFI_SUCCESS);
  EXPECT_EQ(gST, platform.SystemTable());
  EXPECT_EQ(OneSecondStalls(), 2u);
  EXPECT_EQ(platform.SetVariableCalls(), 0u) << "the driver writes nothing";
}

}  // namespace
