// NetIdentityDxe in real firmware: it starts, waits for the End-of-DXE group
// (which the test application signals again, as the firmware did before the
// application ran), and, since no network controller answers at the board's
// fixed location under QEMU, changes neither the SMBIOS system identity nor
// any DMI variable.
#include "efi/smbios.h"
#include "test/bed/app/app.h"

static const EFI_GUID EndOfDxeGroup = EFI_END_OF_DXE_EVENT_GROUP_GUID;
static const EFI_GUID DmiGuid = {0x4B3082A3, 0x80C6, 0x4D7E, {0x9C, 0xD0, 0x58, 0x39, 0x17, 0x26, 0x5D, 0xF1}};
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
    BED_CHECK(BedFindInImage(image, BedExpectedCfgPcdBuffer, sizeof BedExpectedCfgPcdBuffer) != nullptr,
              "CfgPcdBuffer not filled");
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

extern const BedScenario NetIdentityScenarios[] = {
    {"netidentity.no-nic-writes-nothing", "default fam15", NetIdentityNoNic},
    {nullptr, nullptr, nullptr},
};
