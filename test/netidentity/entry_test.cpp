// SPDX-License-Identifier: BSD-2-Clause-Patent
// The driver as the firmware runs it: entry, then the End-of-DXE signal,
// with the hardware model standing in for the board.
#include <gtest/gtest.h>

#include "netidentity/netidentity.h"
#include "test/drvlib/lib_support.h"
#include "test/fake/hw_model.h"
#include "test/fake/impl.h"
#include "test/fake/pcd.h"
#include "test/netidentity/smbios_double.h"
#include "test/contract.h"

namespace {

const EFI_GUID kEndOfDxe = {0x02CE967A, 0xDD7E, 0x4FFC, {0x9E, 0xE7, 0x81, 0x0C, 0xF0, 0x47, 0x08, 0x80}};
const EFI_GUID kDmiGuid = CONTRACT_DMI_VARIABLE_GUID;

EFI_STATUS EFIAPI FailCreateEventEx(UINT32, EFI_TPL, EFI_EVENT_NOTIFY, const VOID *, const EFI_GUID *, EFI_EVENT *) {
  return EFI_OUT_OF_RESOURCES;
}

class NetIdentity : public ::testing::Test {
 protected:
  void SetUp() override {
    libtest::ResetDrvLib();
    NicLocationTable[0] = {NIC_KIND_IO, 2, 1, 0, {0, 0}};
    memset(NicProbeResult, 0, sizeof(NicProbeResult));
    hw.SetCpuid(1, {0x00A60F12, 0, 0, 0});
  }
  void TearDown() override {
    for (auto &[p, a] : platform.Allocations()) EXPECT_EQ(a.type, EfiRuntimeServicesData) << "boot-services pool leaked";
    libtest::ReleaseRuntimeScratch(platform);
    EXPECT_EQ(platform.LivePoolCount(), 0u);
  }
  // The board: root port 00:02.1 -> bus 3; bridge 04:01.0 -> bus 7; NIC at 07:00.0.
  void Board(const uint8_t mac[6]) {
    hw.AddPciFunction(0, 2, 1)[0x19] = 3;
    hw.AddPciFunction(4, 1, 0)[0x19] = 7;
    auto &nic = hw.AddPciFunction(7, 0, 0);
    nic[0x10] = 0x01, nic[0x11] = 0xE0;
    for (int i = 0; i < 6; i++) hw.SetPort((uint16_t)(0xE000 + i), mac[i]);
  }
  EFI_STATUS Load() { return NetIdentityEntry(platform.NewImageHandle(), platform.SystemTable()); }

  fake::Platform platform;
  fake::HwModel hw;
  fake::FakePcd pcd{platform};
  libtest::DebugPrintDouble debug{platform};
  nettest::SmbiosEditDouble smbios{platform};
};

TEST_F(NetIdentity, EntryRegistersOneEndOfDxeNotificationAndStampsWhenSignalled) {
  const uint8_t mac[6] = {0xF4, 0xB5, 0x20, 0x6B, 0x10, 0x20};
  Board(mac);
  EXPECT_EQ(Load(), EFI_SUCCESS);
  EXPECT_EQ(CfgPcdBuffer.EndMark, 2) << "the library start-up ran first";
  EXPECT_EQ(gRT, platform.RuntimeServices());
  auto events = platform.GroupEvents(kEndOfDxe);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(fake::E(events[0])->type, (UINT32)EVT_NOTIFY_SIGNAL);
  EXPECT_EQ(fake::E(events[0])->tpl, (EFI_TPL)TPL_CALLBACK);
  EXPECT_EQ(fake::E(events[0])->context, nullptr);
  EXPECT_TRUE(smbios.Writes().empty()) << "nothing happens before the end of DXE";

  platform.SignalGroup(kEndOfDxe);
  EXPECT_EQ(NicProbeResult[0].Found, 1u);
  ASSERT_EQ(smbios.Writes().size(), 1u);
  EXPECT_EQ(smbios.Live()[23], 0x20);
  EXPECT_FALSE(platform.IsLiveEvent(events[0])) << "the notification closes its event";
  EXPECT_TRUE(platform.GroupEvents(kEndOfDxe).empty());

  platform.SignalGroup(kEndOfDxe);  // a second signal finds no member
  EXPECT_EQ(smbios.Writes().size(), 1u);
}

TEST_F(NetIdentity, NoControllerAtTheFixedLocationWritesNothing) {
  EXPECT_EQ(Load(), EFI_SUCCESS);
  const std::vector<uint8_t> live = smbios.Live();
  platform.SignalGroup(kEndOfDxe);
  EXPECT_EQ(NicProbeResult[0].Found, 0u);
  EXPECT_EQ(platform.SetVariableCalls(), 0u);
  EXPECT_FALSE(platform.HasVar("DmiArray", kDmiGuid));
  EXPECT_EQ(smbios.Live(), live);
  EXPECT_EQ(smbios.Reads(), 0);
  EXPECT_EQ(platform.LiveEventCount(), 0u);
}

TEST_F(NetIdentity, EntrySucceedsEvenWhenTheEventCannotBeCreated) {
  platform.BootServices()->CreateEventEx = FailCreateEventEx;
  EXPECT_EQ(Load(), EFI_SUCCESS);
}

TEST_F(NetIdentity, EntryRunsTheFullLibraryStartup) {
  EXPECT_EQ(Load(), EFI_SUCCESS);
  EXPECT_NE(RuntimeScratch32, nullptr);
  EXPECT_EQ(PlatformMmioBase, 0xFED80000u);
  EXPECT_EQ(PlatformMmioBaseEvent, nullptr) << "NetIdentityDxe is not an SbRun module";
  EXPECT_EQ(SmmLibReady, 0) << "a DXE driver outside SMM";
}

}  // namespace
