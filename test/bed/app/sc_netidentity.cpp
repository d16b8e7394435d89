// SPDX-License-Identifier: BSD-2-Clause-Patent
// NetIdentityDxe in real firmware: it starts, waits for the End-of-DXE group
// (which the test application signals again, as the firmware did before the
// application ran), and, since no network controller answers at the board's
// fixed location under QEMU, changes neither the SMBIOS system identity nor
// any DMI variable.
#include "efi/smbios.h"
#include "test/bed/app/app.h"
#include "test/bed/app/window.h"
#include "test/contract.h"

static const EFI_GUID EndOfDxeGroup = EFI_END_OF_DXE_EVENT_GROUP_GUID;
static const EFI_GUID DmiGuid = CONTRACT_DMI_VARIABLE_GUID;
static const EFI_GUID SmbiosEditGuid = SMBIOS_EDIT_PROTOCOL_GUID;
static const EFI_GUID SmbiosProbeGuid = BED_SMBIOS_PROBE_GUID;
static const CHAR16 *const DmiVariables[] = {u"DmiArray", u"DmiVar0100010800", u"WriteOnceStatus"};

// A copy of the live type-1 structure, read through the stand-in.
static UINTN ReadType1(UINT8 *Copy, UINTN Capacity) {
  SMBIOS_EDIT_PROTOCOL *edit = (SMBIOS_EDIT_PROTOCOL *)BedLocate(SmbiosEditGuid);
  if (edit == nullptr) return 0;
  VOID *s = nullptr;
  UINT16 size = 0;
  if (EFI_ERROR(edit->ReadStructureByType(SMBIOS_TYPE_SYSTEM_INFORMATION, 1, &s, &size))) return 0;
  UINTN n = size < Capacity ? size : Capacity;
  gBS->CopyMem(Copy, s, n);
  gBS->FreePool(s);
  return n;
}

static void NetIdentityNoNic() {
  for (const CHAR16 *name : DmiVariables) BedDeleteVariable(name, DmiGuid);
  BedLibEnv env;
  if (!BedLibEnvOpen(&env)) return;
  EFI_HANDLE smbiosImage = nullptr;
  EFI_STATUS status = BedLoadStandIn(u"SmbiosEditStandIn", &smbiosImage);
  BED_CHECK(!EFI_ERROR(status), "SMBIOS edit stand-in: %r", status);
  BED_SMBIOS_PROBE *probe = (BED_SMBIOS_PROBE *)BedLocate(SmbiosProbeGuid);
  UINT8 before[256], after[256];
  UINTN beforeSize = ReadType1(before, sizeof before);
  BED_CHECK(beforeSize >= 24, "no type-1 structure in the firmware's SMBIOS table (%u bytes)", (UINT32)beforeSize);
  if (probe) probe->ReadCount = probe->WriteCount = 0;

  EFI_HANDLE image = nullptr;
  EFI_STATUS entry = EFI_LOAD_ERROR;
  status = BedLoadAndStart(u"NetIdentityDxe", &image, &entry);
  BED_CHECK(!EFI_ERROR(status), "LoadImage: %r", status);
  if (!EFI_ERROR(status)) {
    BED_CHECK(entry == EFI_SUCCESS, "entry returned %r", entry);
    BED_CHECK(BedFindInImage(image, BedExpectedCfgPcdBuffer, sizeof BedExpectedCfgPcdBuffer) != nullptr, "CfgPcdBuffer not filled");
    BED_CHECK(env.Debug->Count == 0, "%u debug messages, first: %a", (UINT32)env.Debug->Count, env.Debug->Messages[0].Text);
    // Twice: the notification must run once and then be gone.
    BED_CHECK(BedSignalGroup(EndOfDxeGroup) == EFI_SUCCESS, "signalling End of DXE");
    BED_CHECK(BedSignalGroup(EndOfDxeGroup) == EFI_SUCCESS, "signalling End of DXE again");
    if (probe) {
      BED_CHECK(probe->ReadCount == 0 && probe->WriteCount == 0 && probe->OtherCount == 0,
                "without a network controller the SMBIOS edit protocol was called (%u reads, %u writes, %u others)",
                (UINT32)probe->ReadCount, (UINT32)probe->WriteCount, (UINT32)probe->OtherCount);
    }
    UINTN afterSize = ReadType1(after, sizeof after);
    BED_CHECK(afterSize == beforeSize && BedMemEqual(before, after, beforeSize), "the type-1 structure changed");
    for (const CHAR16 *name : DmiVariables) {
      UINT8 data[8];
      UINTN size = sizeof data;
      EFI_STATUS got = BedGetVariable(name, DmiGuid, data, &size, nullptr);
      BED_CHECK(got == EFI_NOT_FOUND, "variable %s: %r", name, got);
    }
  }
  if (smbiosImage) BED_CHECK(BedUnloadStandIn(smbiosImage) == EFI_SUCCESS, "unloading the SMBIOS stand-in");
  BedLibEnvClose(&env);
}

// ---- A controller behind the board's bridges ----

// The runner gives the default machine an RTL8139 with this address; its I/O
// registers start with the MAC, as the driver's I/O probe expects.
static const UINT8 Mac[6] = {0xF4, 0xB5, 0x20, 0x6B, 0x00, 0x01};
static const UINT8 Identity[16] = {'Q', 'R', '4', '8', 'T', '-', 'K', '2', 'V', 0, 0xF4, 0xB5, 0x20, 0x6B, 0x00, 0x01};

// The bus the controller ends up on: 1 on most processors, 3 on the
// family-0x00660F00 route.
static UINTN NicBus() { return BedFamily(1) == 0x00660F00 ? 3 : 1; }

// Lays the board's route out in the window, for the table row (0, 2, 1, 0).
// Most processors: bridge 00:02.1 names bus 0 as its secondary (S), so the
// next bridge is (S + 1):01.0, whose secondary bus 1 holds the controller.
// Family 0x00660F00: the row names bridge 02:01.0 itself, whose secondary
// bus 3 holds it. The controller carries the real device's I/O base.
static void LayOutRoute(UINT8 *W, UINT32 Bar) {
  if (NicBus() == 3) {
    W[BedWindowOffset(2, 1, 0, 0x19)] = 3;
  } else {
    W[BedWindowOffset(0, 2, 1, 0x19)] = 0;
    W[BedWindowOffset(1, 1, 0, 0x19)] = 1;
  }
  UINT8 *nic = W + BedWindowOffset(NicBus(), 0, 0, 0);
  nic[0x04] = 0x00;
  for (UINTN i = 0; i < 4; i++) nic[0x10 + i] = (UINT8)(Bar >> (8 * i));
}

static void NetIdentityStamps() {
  INTN dev = BedPciFind(0x813910EC);
  BED_REQUIRE(dev >= 0, "no RTL8139 in this machine");
  UINT32 bar = BedPciRead32((UINTN)dev, 0, 0x10);
  UINT16 command = (UINT16)BedPciRead32((UINTN)dev, 0, 0x04);
  BedPciWrite16((UINTN)dev, 0, 0x04, command | 1);  // I/O decoding for the MAC registers
  UINT16 io = (UINT16)(bar & 0xFFFC);
  UINT8 mac[6];
  for (UINTN i = 0; i < 6; i++) mac[i] = BedIn8((UINT16)(io + i));
  BED_CHECK(BedMemEqual(mac, Mac, 6), "the RTL8139 at port %x does not show the MAC", io);

  for (const CHAR16 *name : DmiVariables) BedDeleteVariable(name, DmiGuid);
  UINT8 writeOnce[64];
  for (UINTN i = 0; i < 64; i++) writeOnce[i] = (i % 4 == 0) ? 0x7F : (UINT8)i;  // sixteen free entries
  BED_CHECK(BedSetVariable(u"WriteOnceStatus", DmiGuid, writeOnce, 64) == EFI_SUCCESS, "writing WriteOnceStatus");

  BedLibEnv env;
  if (!BedLibEnvOpen(&env)) return;
  EFI_HANDLE smbiosImage = nullptr;
  BedLoadStandIn(u"SmbiosEditStandIn", &smbiosImage);
  BED_SMBIOS_PROBE *probe = (BED_SMBIOS_PROBE *)BedLocate(SmbiosProbeGuid);
  UINT8 before[256], after[256];
  UINTN size = ReadType1(before, sizeof before);
  if (probe) probe->ReadCount = probe->WriteCount = 0;

  BedWindow window;
  EFI_STATUS status = BedWindowMap(&window);
  BED_CHECK(!EFI_ERROR(status), "mapping the configuration window: %r", status);
  if (!EFI_ERROR(status)) {
    LayOutRoute(window.Memory, bar);
    EFI_HANDLE image = nullptr;
    EFI_STATUS entry = EFI_LOAD_ERROR;
    status = BedLoadAndStart(u"NetIdentityDxe", &image, &entry);
    BED_CHECK(!EFI_ERROR(status) && entry == EFI_SUCCESS, "NetIdentityDxe: %r, entry %r", status, entry);
    BedSignalGroup(EndOfDxeGroup);
    // The probe restores the command register it set for the read.
    BED_CHECK(window.Memory[BedWindowOffset(NicBus(), 0, 0, 0x04)] == 0x00, "command register left at %02x",
              window.Memory[BedWindowOffset(NicBus(), 0, 0, 0x04)]);
    BedSignalGroup(EndOfDxeGroup);  // closed after the first: nothing more
    BedWindowUnmap(&window);
  }
  BedPciWrite16((UINTN)dev, 0, 0x04, command);

  if (probe) BED_CHECK(probe->WriteCount == 1, "%u structure writes, expected 1", (UINT32)probe->WriteCount);
  BED_CHECK(ReadType1(after, sizeof after) == size && size >= 24, "the type-1 structure changed size");
  BED_CHECK(BedMemEqual(after + 8, Identity, 16), "UUID is not the model code and the MAC");
  BED_CHECK(BedMemEqual(after, before, 8) && BedMemEqual(after + 24, before + 24, size - 24), "bytes outside the UUID changed");
  BedHexDump("type-1 UUID", after + 8, 16);

  UINT8 array[1280] = {};
  array[0] = 1;
  array[5] = 1, array[6] = 1, array[7] = 0, array[8] = 8, array[9] = 0;
  BedExpectVariable(DmiGuid, u"DmiArray", array, sizeof array);
  BedExpectVariable(DmiGuid, u"DmiVar0100010800", Identity, 16);
  writeOnce[0] = 1, writeOnce[1] = 8, writeOnce[2] = 1, writeOnce[3] = 0;
  BedExpectVariable(DmiGuid, u"WriteOnceStatus", writeOnce, 64);

  // A later boot finds the identity in place: nothing is written again.
  if (probe && !EFI_ERROR(BedWindowMap(&window))) {
    LayOutRoute(window.Memory, bar);
    BedPciWrite16((UINTN)dev, 0, 0x04, command | 1);
    EFI_HANDLE image = nullptr;
    EFI_STATUS entry = EFI_LOAD_ERROR;
    BedLoadAndStart(u"NetIdentityDxe", &image, &entry);
    BedSignalGroup(EndOfDxeGroup);
    BedWindowUnmap(&window);
    BedPciWrite16((UINTN)dev, 0, 0x04, command);
    BED_CHECK(probe->ReadCount >= 2 && probe->WriteCount == 1, "second pass: %u reads, %u writes", (UINT32)probe->ReadCount,
              (UINT32)probe->WriteCount);
  }
  if (smbiosImage) BedUnloadStandIn(smbiosImage);
  BedLibEnvClose(&env);
}

extern const BedScenario NetIdentityScenarios[] = {
    {"netidentity.no-nic-writes-nothing", "default fam15", NetIdentityNoNic},
    {"netidentity.stamps-identity", "default fam15", NetIdentityStamps},
    {nullptr, nullptr, nullptr},
};
