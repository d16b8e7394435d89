// SPDX-License-Identifier: BSD-2-Clause-Patent
// The steps only the network identity driver's build of the library runs:
// runtime scratch blocks, the platform MMIO base with its "SbRun" name rule,
// and the SMM presence flag.
#include <gtest/gtest.h>

#include "test/drvlib/lib_support.h"
#include "test/fake/impl.h"
#include "test/fake/pcd.h"
#include "test/fake/smm.h"

namespace {

const EFI_GUID kMarkerGuid = SMM_LIB_READY_PROTOCOL_GUID;

class FullStartup : public ::testing::Test {
 protected:
  void SetUp() override { libtest::ResetDrvLib(); }
  void TearDown() override {
    for (auto &[p, a] : platform.Allocations()) EXPECT_EQ(a.type, EfiRuntimeServicesData) << "boot-services pool leaked";
    libtest::ReleaseRuntimeScratch(platform);
    EXPECT_EQ(platform.LivePoolCount(), 0u);
  }
  void Start() { DrvLibStartup(platform.NewImageHandle(), platform.SystemTable()); }
  // The SMM driver's "library ready" marker, on a handle of its own.
  static void InstallMarker(fake::Smm &smm) {
    static int marker;
    EFI_HANDLE h = nullptr;
    smm.Install(&h, kMarkerGuid, &marker);
  }
  std::vector<std::pair<size_t, EFI_MEMORY_TYPE>> Blocks() const {
    std::vector<std::pair<size_t, EFI_MEMORY_TYPE>> v;
    for (auto &[p, a] : platform.Allocations()) v.push_back({a.size, a.type});
    std::sort(v.begin(), v.end());
    return v;
  }

  fake::Platform platform;
  fake::FakePcd pcd{platform};
  libtest::DebugPrintDouble debug{platform};
};

TEST_F(FullStartup, AllocatesThreeRuntimeBlocksAndZeroesTwo) {
  Start();
  using B = std::pair<size_t, EFI_MEMORY_TYPE>;
  EXPECT_EQ(Blocks(), (std::vector<B>{{8, EfiRuntimeServicesData}, {32, EfiRuntimeServicesData}, {100, EfiRuntimeServicesData}}));
  ASSERT_TRUE(RuntimeScratch100 && RuntimeScratch8 && RuntimeScratch32);
  const uint8_t *b100 = static_cast<uint8_t *>(RuntimeScratch100), *b8 = static_cast<uint8_t *>(RuntimeScratch8);
  EXPECT_EQ(std::count(b100, b100 + 100, 0), 100);
  EXPECT_EQ(std::count(b8, b8 + 8, 0), 8);
  EXPECT_EQ(platform.TypeOf(RuntimeScratch32), EfiRuntimeServicesData);
}

TEST_F(FullStartup, FailedScratchAllocationsAreNotUsed) {
  platform.FailAllocation(1);  // the 32-byte block
  Start();
  EXPECT_EQ(platform.Allocations().size(), 0u) << "no 100- or 8-byte block without the 32-byte one";
  EXPECT_EQ(RuntimeScratch100, nullptr);
  EXPECT_EQ(CfgPcdBuffer.EndMark, 2) << "the start-up goes on";

  libtest::ResetDrvLib();
  DrvLibKeepTables(platform.NewImageHandle(), platform.SystemTable());
  platform.FailAllocation(2);  // the 100-byte block: nothing is written through null
  RuntimeScratchConstructor();
  EXPECT_EQ(RuntimeScratch100, nullptr);
  ASSERT_NE(RuntimeScratch8, nullptr);
  EXPECT_EQ(static_cast<uint8_t *>(RuntimeScratch8)[7], 0);
}

TEST_F(FullStartup, SbRunNameRuleComparesOverTheBaseNameLength) {
  struct Case {
    const char *name;
    bool event;
  } cases[] = {{"SbRun", true},           {"Sb", true},     {"S", true},     {"", true}, {"SbRunX", false}, {"SbRunDxe", false},
               {"NetIdentityDxe", false}, {"sbrun", false}, {"SbRum", false}};
  for (const Case &c : cases) {
    EXPECT_EQ(ModuleNameIsSbRun(c.name), c.event ? 1 : 0) << '"' << c.name << '"';
    libtest::ReleaseRuntimeScratch(platform);
    libtest::ResetDrvLib();
    DrvLibModuleBaseName = c.name;
    const size_t events = platform.LiveEventCount();
    Start();
    EXPECT_EQ(PlatformMmioBase, 0xFED80000u);
    EXPECT_EQ(platform.LiveEventCount() - events, c.event ? 1u : 0u) << '"' << c.name << '"';
    if (c.event) {
      ASSERT_NE(PlatformMmioBaseEvent, nullptr);
      EXPECT_EQ(fake::E(PlatformMmioBaseEvent)->type, 0x60000202u);
      EXPECT_EQ(fake::E(PlatformMmioBaseEvent)->tpl, (EFI_TPL)TPL_NOTIFY);
      EXPECT_EQ(fake::E(PlatformMmioBaseEvent)->context, nullptr);
      platform.BootServices()->CloseEvent(PlatformMmioBaseEvent);
    }
  }
}

TEST_F(FullStartup, NetIdentityDxeGetsNoVirtualAddressEvent) {
  Start();
  EXPECT_EQ(std::string(DrvLibModuleBaseName), "NetIdentityDxe");
  EXPECT_EQ(PlatformMmioBaseEvent, nullptr);
  EXPECT_EQ(platform.LiveEventCount(), 0u);
  EXPECT_EQ(PlatformMmioBase, 0xFED80000u);
}

TEST_F(FullStartup, VirtualAddressChangeConvertsTheMmioBase) {
  DrvLibModuleBaseName = "SbRun";
  Start();
  platform.SetVirtualOffset(0x100000000LL);
  ASSERT_EQ(platform.BootServices()->SignalEvent(PlatformMmioBaseEvent), EFI_SUCCESS);
  EXPECT_EQ(PlatformMmioBase, 0x1FED80000ull);
  ASSERT_EQ(platform.ConvertedPointers().size(), 1u);
  EXPECT_EQ(reinterpret_cast<UINTN>(platform.ConvertedPointers()[0]), 0xFED80000u);
}

TEST_F(FullStartup, OutsideSmmTheFlagStaysClearWithoutNotification) {
  fake::Smm smm(platform);
  smm.SetInSmm(false);
  InstallMarker(smm);
  Start();
  EXPECT_EQ(SmmLibReady, 0);
  EXPECT_EQ(smm.NotifyCount(kMarkerGuid), 0u);
  EXPECT_EQ(smm.LocateCalls(kMarkerGuid), 0u);
  EXPECT_EQ(SmmLibReadyRegistration, nullptr);
}

TEST_F(FullStartup, InSmmThePresentMarkerSetsTheFlag) {
  fake::Smm smm(platform);
  InstallMarker(smm);
  Start();
  EXPECT_EQ(SmmLibReady, 1);
  EXPECT_EQ(smm.NotifyCount(kMarkerGuid), 0u);
}

TEST_F(FullStartup, InSmmALaterMarkerSetsTheFlagThroughOneNotification) {
  fake::Smm smm(platform);
  Start();
  EXPECT_EQ(SmmLibReady, 0);
  EXPECT_EQ(smm.NotifyCount(kMarkerGuid), 1u);
  EXPECT_NE(SmmLibReadyRegistration, nullptr);

  SmmPresenceConstructor();  // already registered: not again
  EXPECT_EQ(smm.NotifyCount(kMarkerGuid), 1u);

  InstallMarker(smm);
  EXPECT_EQ(SmmLibReady, 1);
}

}  // namespace
