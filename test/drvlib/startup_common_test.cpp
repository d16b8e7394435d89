// SPDX-License-Identifier: BSD-2-Clause-Patent
// Start-up behaviour that every build of the library shares: the cached
// configuration buffer, the missing-protocol messages, debug printing, PCD
// access and the HOB-list lookup. Compiled into each library image's test.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "test/drvlib/lib_support.h"
#include "test/fake/pcd.h"

namespace {

using libtest::DebugPrintDouble;

const EFI_GUID kOtherGuid = {0x12345678, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}};

std::vector<uint8_t> BufferBytes() {
  const uint8_t *b = reinterpret_cast<const uint8_t *>(&CfgPcdBuffer);
  return std::vector<uint8_t>(b, b + sizeof(CfgPcdBuffer));
}

size_t BootServicesPoolLive(const fake::Platform &p) {
  size_t n = 0;
  for (auto &[ptr, a] : p.Allocations()) n += a.type != EfiRuntimeServicesData;
  return n;
}

class LibStartup : public ::testing::Test {
 protected:
  void SetUp() override { libtest::ResetDrvLib(); }
  void TearDown() override {
    EXPECT_EQ(BootServicesPoolLive(platform), 0u) << "boot-services pool leaked";
    libtest::ReleaseRuntimeScratch(platform);
  }

  // Distinct values, so that a field read from the wrong token or written at
  // the wrong offset shows.
  void SetDistinctTokens() {
    pcd.Set(846, 1);
    pcd.Set(1179, 0);
    pcd.Set(1103, 0x11);
    pcd.Set(1178, 0x22);
    pcd.Set(1184, 0x33);
    pcd.Set(1182, 0x44);
    pcd.Set(1183, 0xA1B2C3D4);
    pcd.Set(1180, 1);
    pcd.Set(1112, 0x55667788);
    pcd.Set(1111, 0x99AABBCC);
    pcd.Set(1181, 0x5A);
  }
  void Start() { DrvLibStartup(platform.NewImageHandle(), platform.SystemTable()); }

  fake::Platform platform;
  fake::FakePcd pcd{platform};
  DebugPrintDouble debug{platform};
};

TEST_F(LibStartup, FillsBufferFieldByFieldWithBothPcdProtocols) {
  SetDistinctTokens();
  Start();
  const std::vector<uint8_t> want = {0x01, 0x03, 0x80, 0x00, 0x01, 0x01, 0x00, 0x11, 0x22, 0x33, 0x44, 0xD4, 0xC3,
                                     0xB2, 0xA1, 0x01, 0x88, 0x77, 0x66, 0x55, 0xCC, 0xBB, 0xAA, 0x99, 0x5A, 0x02};
  EXPECT_EQ(BufferBytes(), want);
  EXPECT_TRUE(debug.Messages().empty());

  // Each token once, in buffer order, through the getter of its width; the PI
  // protocol is only checked for, never called.
  const std::vector<std::pair<std::string, UINTN>> calls = {{"GetBool", 846}, {"GetBool", 1179}, {"Get8", 1103},  {"Get8", 1178},
                                                            {"Get8", 1184},   {"Get8", 1182},    {"Get32", 1183}, {"GetBool", 1180},
                                                            {"Get32", 1112},  {"Get32", 1111},   {"Get8", 1181}};
  ASSERT_EQ(pcd.Log().size(), calls.size());
  for (size_t i = 0; i < calls.size(); i++) {
    EXPECT_EQ(pcd.Log()[i].fn, calls[i].first) << i;
    EXPECT_EQ(pcd.Log()[i].token, calls[i].second) << i;
  }
  EXPECT_EQ(gDrvLibPcd, pcd.Pcd()) << "the PCD protocol is cached by its first use";
  EXPECT_EQ(gST, platform.SystemTable());
  EXPECT_EQ(gBS, platform.BootServices());
  EXPECT_EQ(gRT, platform.RuntimeServices());
}

TEST_F(LibStartup, BooleansAreStoredAsOneByteZeroOrOne) {
  pcd.Set(846, 0);
  pcd.Set(1179, 0x100);  // any non-zero value is TRUE
  pcd.Set(1180, 0);
  Start();
  EXPECT_EQ(CfgPcdBuffer.Pcd846, 0);
  EXPECT_EQ(CfgPcdBuffer.Pcd1179, 1);
  EXPECT_EQ(CfgPcdBuffer.Pcd1180, 0);
  EXPECT_EQ(CfgPcdBuffer.EndMark, 2);
}

TEST_F(LibStartup, MissingPcdProtocolReportsOnceAndLeavesBufferZero) {
  pcd.UninstallPcd();
  Start();
  ASSERT_EQ(debug.Messages().size(), 1u);
  const libtest::DebugMessage &m = debug.Messages()[0];
  EXPECT_EQ(m.level, 0x80000000u);
  EXPECT_EQ(m.format, "[%a] LocateProtocol: gPcdProtocolGuid, Status: %r\n");
  EXPECT_EQ(m.text, "[CfgPcdBufLibDxeConstructor] LocateProtocol: gPcdProtocolGuid, Status: Not Found\n");
  EXPECT_EQ(BufferBytes(), std::vector<uint8_t>(26, 0));
  EXPECT_EQ(pcd.Calls(), 0u);
}

TEST_F(LibStartup, MissingPiPcdProtocolReportsOnceAndLeavesBufferZero) {
  SetDistinctTokens();
  pcd.UninstallPiPcd();
  Start();
  ASSERT_EQ(debug.Messages().size(), 1u);
  EXPECT_EQ(debug.Messages()[0].level, 0x80000000u);
  EXPECT_EQ(debug.Messages()[0].text, "[CfgPcdBufLibDxeConstructor] LocateProtocol: gEfiPcdProtocolGuid, Status: Not Found\n");
  EXPECT_EQ(BufferBytes(), std::vector<uint8_t>(26, 0));
  EXPECT_EQ(pcd.Calls(), 0u) << "no token is read without the PI PCD protocol";
}

TEST_F(LibStartup, NoPcdProtocolAtAllGivesOnlyTheFirstMessage) {
  pcd.UninstallPcd();
  pcd.UninstallPiPcd();
  Start();
  ASSERT_EQ(debug.Messages().size(), 1u);
  EXPECT_NE(debug.Messages()[0].text.find("gPcdProtocolGuid"), std::string::npos);
}

TEST_F(LibStartup, LookupFailureStatusIsTheOneReported) {
  platform.FailLocate(fake::FakePcd::PcdGuid(), EFI_ACCESS_DENIED);
  Start();
  ASSERT_EQ(debug.Messages().size(), 1u);
  EXPECT_EQ(debug.Messages()[0].text, "[CfgPcdBufLibDxeConstructor] LocateProtocol: gPcdProtocolGuid, Status: Access Denied\n");
}

TEST_F(LibStartup, MissingDebugProtocolDropsMessagesAndStartupGoesOn) {
  debug.Uninstall();
  pcd.UninstallPcd();
  int hob = 0;
  platform.AddConfigTable(libtest::HobListGuid(), &hob);
  Start();
  EXPECT_TRUE(debug.Messages().empty());
  EXPECT_EQ(HobListPointer, &hob) << "later steps still run";
  EXPECT_EQ(gDrvLibDebugPrint, nullptr) << "a failed lookup is not cached";

  // The next message looks again and gets through.
  debug.Install();
  EXPECT_EQ(DebugPrint(0x80000000, "[%a] %r\n", "X", EFI_NOT_FOUND), EFI_SUCCESS);
  ASSERT_EQ(debug.Messages().size(), 1u);
  EXPECT_EQ(debug.Messages()[0].text, "[X] Not Found\n");
}

TEST_F(LibStartup, DebugPrintForwardsLevelArgumentsAndStatus) {
  Start();
  debug.ReturnStatus(EFI_DEVICE_ERROR);
  // No level filter of its own: any level reaches the protocol.
  EXPECT_EQ(DebugPrint(0x40, "%a=%d %a\n", "n", 42, "end"), EFI_DEVICE_ERROR);
  ASSERT_EQ(debug.Messages().size(), 1u);
  EXPECT_EQ(debug.Messages()[0].level, 0x40u);
  EXPECT_EQ(debug.Messages()[0].text, "n=42 end\n");
}

TEST_F(LibStartup, DebugPrintReturnsTheLookupFailure) {
  Start();
  debug.Uninstall();
  gDrvLibDebugPrint = nullptr;
  platform.FailLocate(libtest::DebugPrintGuid(), EFI_ACCESS_DENIED);
  EXPECT_EQ(DebugPrint(0x80000000, "x\n"), EFI_ACCESS_DENIED);
  platform.FailLocate(libtest::DebugPrintGuid(), 0);
  EXPECT_EQ(DebugPrint(0x80000000, "x\n"), EFI_NOT_FOUND);
  EXPECT_TRUE(debug.Messages().empty());
}

TEST_F(LibStartup, PcdAccessRetriesUntilFoundThenKeepsIt) {
  pcd.UninstallPcd();
  pcd.UninstallPiPcd();
  Start();
  EXPECT_EQ(GetPcdProtocol(), nullptr);
  pcd.InstallPcd();
  EXPECT_EQ(GetPcdProtocol(), pcd.Pcd());
  pcd.UninstallPcd();
  EXPECT_EQ(GetPcdProtocol(), pcd.Pcd()) << "kept for the life of the image";
}

// ---- HOB list ----

class HobList : public LibStartup {
 protected:
  void UseTable(std::vector<EFI_CONFIGURATION_TABLE> entries) {
    table_ = std::move(entries);
    saved_ = {platform.SystemTable()->NumberOfTableEntries, platform.SystemTable()->ConfigurationTable};
    platform.SystemTable()->NumberOfTableEntries = table_.size();
    platform.SystemTable()->ConfigurationTable = table_.empty() ? nullptr : table_.data();
  }
  void TearDown() override {
    if (saved_.second || saved_.first) {
      platform.SystemTable()->NumberOfTableEntries = saved_.first;
      platform.SystemTable()->ConfigurationTable = saved_.second;
    }
    LibStartup::TearDown();
  }
  std::vector<EFI_CONFIGURATION_TABLE> table_;
  std::pair<UINTN, EFI_CONFIGURATION_TABLE *> saved_{0, nullptr};
  int first_ = 1, second_ = 2, other_ = 3;
};

TEST_F(HobList, FirstOfTwoHobListsWins) {
  UseTable({{kOtherGuid, &other_}, {libtest::HobListGuid(), &first_}, {libtest::HobListGuid(), &second_}});
  Start();
  EXPECT_EQ(HobListPointer, &first_);
  EXPECT_EQ(LocateHobList(), EFI_SUCCESS);
  EXPECT_EQ(LocateHobListPointer(), &first_);
}

TEST_F(HobList, EmptyTableLeavesPointerNull) {
  UseTable({});
  Start();
  EXPECT_EQ(HobListPointer, nullptr);
  EXPECT_EQ(LocateHobList(), EFI_NOT_FOUND);
  EXPECT_EQ(LocateHobListPointer(), nullptr);
}

TEST_F(HobList, BothHalvesOfTheGuidMustMatch) {
  EFI_GUID lowOnly = libtest::HobListGuid();
  lowOnly.Data4[7] ^= 1;  // high half differs
  EFI_GUID highOnly = libtest::HobListGuid();
  highOnly.Data1 ^= 1;  // low half differs
  UseTable({{lowOnly, &first_}, {highOnly, &second_}});
  Start();
  EXPECT_EQ(HobListPointer, nullptr);
}

TEST_F(HobList, FoundPointerIsKept) {
  UseTable({{libtest::HobListGuid(), &first_}});
  Start();
  table_[0].VendorTable = &second_;
  EXPECT_EQ(LocateHobListPointer(), &first_);
}

}  // namespace
