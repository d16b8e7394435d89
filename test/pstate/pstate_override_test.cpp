// SPDX-License-Identifier: BSD-2-Clause-Patent
// PstateOverrideDxe: the seven P-state definition registers of family 15h
// models 6xh take FID, DID and VID from the stored data; everything else in
// them, and every other register, is left as it was.
#include <gtest/gtest.h>

#include <vector>

#include "pstate/pstate_override.h"
#include "test/drvlib/lib_support.h"
#include "test/drvlib/var_probe.h"
#include "test/fake/hw_model.h"
#include "test/fake/pcd.h"
#include "test/contract.h"

namespace {

const EFI_GUID kPstateGuid = CONTRACT_PSTATE_VARIABLE_GUID;
constexpr uint32_t kFamily15Model60 = 0x00660F01;
constexpr uint32_t kFirst = 0xC0010064, kLast = 0xC001006A, kEighth = 0xC001006B;

class PstateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    libtest::ResetDrvLib();
    // Every register starts with a distinct pattern, bit 63 clear on some.
    for (uint32_t msr = kFirst; msr <= kEighth; msr++) {
      uint64_t v = 0x2468ACE013579BDFULL ^ ((uint64_t)(msr - kFirst) << 40) ^ ((uint64_t)(msr - kFirst) * 0x1111);
      if (msr & 1) v |= 1ULL << 63;
      before[msr] = v;
      hw.SetMsr(msr, v);
    }
    hw.SetCpuid(1, {kFamily15Model60, 0, 0, 0});
  }
  void TearDown() override { EXPECT_EQ(platform.LivePoolCount(), 0u); }

  void SetData(uint8_t enable, uint8_t fid, uint8_t did, uint8_t vid, size_t size = 29) {
    std::vector<uint8_t> data(size, 0xCC);
    uint8_t fields[8] = {enable, 0xCC, 0xCC, 0xCC, 0xCC, fid, did, vid};
    for (size_t i = 0; i < size && i < 8; i++) data[i] = fields[i];
    platform.SetVar("TAMDPstateData", kPstateGuid, data);
  }
  EFI_STATUS Run() { return PstateOverrideEntry(platform.NewImageHandle(), platform.SystemTable()); }
  size_t MsrAccesses() const { return hw.Count(fake::HwAccess::MsrRead) + hw.Count(fake::HwAccess::MsrWrite); }
  void ExpectAllUntouched() {
    EXPECT_EQ(MsrAccesses(), 0u);
    for (auto &[msr, v] : before) EXPECT_EQ(hw.Msr(msr), v) << std::hex << msr;
  }

  fake::Platform platform;
  fake::HwModel hw;
  fake::FakePcd pcd{platform};
  libtest::DebugPrintDouble debug{platform};
  std::map<uint32_t, uint64_t> before;
};

TEST_F(PstateTest, WritesIdsIntoSevenRegistersKeepingTheRest) {
  SetData(1, 0x10, 0x01, 0x50);
  EXPECT_EQ(Run(), EFI_SUCCESS);
  for (uint32_t msr = kFirst; msr <= kLast; msr++) {
    const uint64_t v = hw.Msr(msr);
    EXPECT_EQ(v & 0x1FFFF, 0xA050u) << std::hex << msr;
    EXPECT_EQ(v >> 63, 1u) << "P-state enabled, even where bit 63 was clear: " << std::hex << msr;
    EXPECT_EQ(v & 0x7FFFFFFFFFFE0000ULL, before[msr] & 0x7FFFFFFFFFFE0000ULL) << "bits 62:17 kept: " << std::hex << msr;
  }
  EXPECT_EQ(hw.Msr(kEighth), before[kEighth]);

  // Read-modify-write of each register in ascending order; C001_006Bh never accessed.
  std::vector<std::pair<fake::HwAccess::Kind, uint64_t>> msrLog;
  for (const fake::HwAccess &a : hw.Log())
    if (a.kind == fake::HwAccess::MsrRead || a.kind == fake::HwAccess::MsrWrite) msrLog.push_back({a.kind, a.address});
  ASSERT_EQ(msrLog.size(), 14u);
  for (uint32_t i = 0; i < 7; i++) {
    EXPECT_EQ(msrLog[2 * i], std::make_pair(fake::HwAccess::MsrRead, (uint64_t)kFirst + i));
    EXPECT_EQ(msrLog[2 * i + 1], std::make_pair(fake::HwAccess::MsrWrite, (uint64_t)kFirst + i));
  }
}

TEST_F(PstateTest, OversizedIdsDoNotSpillIntoNeighbouringFields) {
  SetData(1, 0xFF, 0xFF, 0x00);
  EXPECT_EQ(Run(), EFI_SUCCESS);
  for (uint32_t msr = kFirst; msr <= kLast; msr++) {
    EXPECT_EQ(hw.Msr(msr) & 0x1FFFF, 0x1FFu) << "FID 3Fh, DID 7, VID 0";
    EXPECT_EQ(hw.Msr(msr) & 0x7FFFFFFFFFFE0000ULL, before[msr] & 0x7FFFFFFFFFFE0000ULL);
  }
  SetUp();
  SetData(1, 0x00, 0x00, 0xFF);
  EXPECT_EQ(Run(), EFI_SUCCESS);
  EXPECT_EQ(hw.Msr(kFirst) & 0x1FFFF, 0x1FE00u) << "VID fills bits 16:9 only";
  EXPECT_EQ(hw.Msr(kFirst) & 0x7FFFFFFFFFFE0000ULL, before[kFirst] & 0x7FFFFFFFFFFE0000ULL);
}

TEST_F(PstateTest, OtherProcessorsAreLeftAlone) {
  SetData(1, 0x10, 0x01, 0x50);
  for (uint32_t family : {0x00630F00u /* 15h model 3xh */, 0x00800F11u /* 17h */, 0x00A60F12u /* 19h */, 0x00670F00u}) {
    hw.SetCpuid(1, {family, 0, 0, 0});
    hw.ClearLog();
    libtest::GetVariableProbe probe(platform);
    EXPECT_EQ(Run(), EFI_SUCCESS);
    ExpectAllUntouched();
    EXPECT_TRUE(probe.Reads().empty()) << "the variable is not even read";
  }
}

TEST_F(PstateTest, StepsAndBaseModelDoNotMatter) {
  hw.SetCpuid(1, {0x00660FFF, 0, 0, 0});
  SetData(1, 0x10, 0x01, 0x50);
  EXPECT_EQ(Run(), EFI_SUCCESS);
  EXPECT_EQ(hw.Msr(kFirst) & 0x1FFFF, 0xA050u);
}

TEST_F(PstateTest, DisabledMissingOrUnreadableDataTouchesNothing) {
  SetData(0, 0x10, 0x01, 0x50);  // enable byte 0
  EXPECT_EQ(Run(), EFI_SUCCESS);
  ExpectAllUntouched();

  platform.DeleteVar("TAMDPstateData", kPstateGuid);  // absent
  EXPECT_EQ(Run(), EFI_SUCCESS);
  ExpectAllUntouched();

  SetData(1, 0x10, 0x01, 0x50, 30);  // larger than 29 bytes
  EXPECT_EQ(Run(), EFI_SUCCESS);
  ExpectAllUntouched();

  SetData(1, 0x10, 0x01, 0x50);
  platform.FailGetVariable(EFI_DEVICE_ERROR);
  EXPECT_EQ(Run(), EFI_SUCCESS);
  ExpectAllUntouched();
}

// A variable shorter than 8 bytes does not hold the IDs: it is treated as
// absent, and no byte past what GetVariable returned is used.
TEST_F(PstateTest, ShortDataIsTreatedAsAbsent) {
  libtest::GetVariableProbe probe(platform, 0x3F);
  SetData(1, 0x10, 0x01, 0x50, 7);
  EXPECT_EQ(Run(), EFI_SUCCESS);
  ExpectAllUntouched();
  ASSERT_EQ(probe.Reads().size(), 1u);
  EXPECT_EQ(probe.Reads()[0].size_in, 29u);
  EXPECT_FALSE(probe.Reads()[0].wants_attributes);

  SetData(1, 0x10, 0x01, 0x50, 8);  // just long enough
  EXPECT_EQ(Run(), EFI_SUCCESS);
  EXPECT_EQ(hw.Msr(kLast) & 0x1FFFF, 0xA050u);
}

TEST_F(PstateTest, EntryRunsLibraryStartupAndKeepsTheTables) {
  EXPECT_EQ(Run(), EFI_SUCCESS);
  EXPECT_EQ(CfgPcdBuffer.EndMark, 2);
  EXPECT_EQ(gST, platform.SystemTable());
  EXPECT_EQ(gRT, platform.RuntimeServices());
  EXPECT_EQ(platform.SetVariableCalls(), 0u);
}

}  // namespace
