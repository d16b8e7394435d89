// SPDX-License-Identifier: BSD-2-Clause-Patent
// Stand-in for the platform SMBIOS driver's edit protocol, working on the
// firmware's real SMBIOS table (found through the configuration table): a read
// returns a pool copy of a structure with its strings, a write replaces a live
// structure of the same handle and size in place.
#include "efi/smbios.h"
#include "test/bed/standin/standin.h"
#include "test/contract.h"

static const EFI_GUID Smbios3Guid = CONTRACT_SMBIOS3_TABLE_GUID;
static const EFI_GUID SmbiosGuid = CONTRACT_SMBIOS_TABLE_GUID;

static BED_SMBIOS_PROBE Probe;
static SMBIOS_EDIT_PROTOCOL Protocol;
static UINT8 *Table;     // the structure table
static UINTN TableSize;  // its length (or maximum size)

static EFI_STATUS FindTable() {
  for (UINTN i = 0; i < gST->NumberOfTableEntries; i++) {
    const EFI_CONFIGURATION_TABLE &e = gST->ConfigurationTable[i];
    const UINT8 *eps = (const UINT8 *)e.VendorTable;
    if (GuidEqual(e.VendorGuid, Smbios3Guid)) {
      Table = (UINT8 *)(UINTN) * (const UINT64 *)(eps + 0x10);
      TableSize = *(const UINT32 *)(eps + 0x0C);
      return EFI_SUCCESS;
    }
    if (GuidEqual(e.VendorGuid, SmbiosGuid)) {
      Table = (UINT8 *)(UINTN) * (const UINT32 *)(eps + 0x18);
      TableSize = *(const UINT16 *)(eps + 0x16);
      return EFI_SUCCESS;
    }
  }
  return EFI_NOT_FOUND;
}

// Walks to the next structure: formatted area, then strings up to the double
// zero. Returns the structure's whole size, or 0 when it runs off the table.
static UINTN StructureSize(const UINT8 *S) {
  UINTN limit = (UINTN)(Table + TableSize - S);
  if (limit < 4 || S[1] < 4 || S[1] > limit) return 0;
  for (UINTN i = S[1]; i + 1 < limit; i++)
    if (S[i] == 0 && S[i + 1] == 0) return i + 2;
  return 0;
}

// The Instance-th (1-based) structure of Type, or the one with Handle when
// ByHandle is set.
static UINT8 *Find(UINT8 Type, UINT8 Instance, UINT16 Handle, BOOLEAN ByHandle, UINTN *Size) {
  UINT8 seen = 0;
  for (UINT8 *s = Table; s < Table + TableSize;) {
    UINTN size = StructureSize(s);
    if (size == 0) return nullptr;
    UINT16 handle = (UINT16)(s[2] | (s[3] << 8));
    if (ByHandle ? handle == Handle : (s[0] == Type && ++seen == Instance)) {
      *Size = size;
      return s;
    }
    if (s[0] == 127) return nullptr;  // end of table
    s += size;
  }
  return nullptr;
}

static EFI_STATUS EFIAPI ReadStructureByType(UINT8 Type, UINT8 Instance, VOID **Structure, UINT16 *Size) {
  Probe.ReadCount++;
  if (Structure == nullptr || Size == nullptr || Instance == 0) return EFI_INVALID_PARAMETER;
  if (EFI_ERROR(FindTable())) return EFI_NOT_FOUND;
  UINTN size = 0;
  UINT8 *s = Find(Type, Instance, 0, 0, &size);
  if (s == nullptr) return EFI_NOT_FOUND;
  if (size > 0xFFFF) return EFI_BAD_BUFFER_SIZE;
  EFI_STATUS status = gBS->AllocatePool(EfiBootServicesData, size, Structure);
  if (EFI_ERROR(status)) return status;
  gBS->CopyMem(*Structure, s, size);
  *Size = (UINT16)size;
  return EFI_SUCCESS;
}

// The live table cannot grow here, so a replacement must keep the size, type
// and handle of the structure it replaces.
static EFI_STATUS EFIAPI WriteStructureByHandle(UINT16 Handle, VOID *Structure, UINT16 Size) {
  Probe.WriteCount++;
  if (Structure == nullptr) return EFI_INVALID_PARAMETER;
  if (EFI_ERROR(FindTable())) return EFI_NOT_FOUND;
  UINTN size = 0;
  UINT8 *s = Find(0, 0, Handle, 1, &size);
  if (s == nullptr) return EFI_NOT_FOUND;
  const UINT8 *n = (const UINT8 *)Structure;
  if (Size != size || n[0] != s[0] || n[1] != s[1] || n[2] != s[2] || n[3] != s[3]) return EFI_BAD_BUFFER_SIZE;
  gBS->CopyMem(s, Structure, size);
  return EFI_SUCCESS;
}

static EFI_STATUS EFIAPI Other(VOID) {
  Probe.OtherCount++;
  return EFI_UNSUPPORTED;
}

static const StandInInterface Interfaces[] = {
    {SMBIOS_EDIT_PROTOCOL_GUID, &Protocol},
    {BED_SMBIOS_PROBE_GUID, &Probe},
};

static EFI_STATUS EFIAPI Unload(EFI_HANDLE ImageHandle) { return StandInUninstall(ImageHandle, Interfaces, 2); }

#ifdef BED_BOARD
// A board's SMBIOS driver applies the stored DMI changes at every boot, so a
// change written once survives into the next boot's table. Each entry of
// "DmiArray" (type, handle, offset, spare) names a variable "DmiVarTTHHHHOOSS"
// whose bytes go into the first structure of that type at that offset.
static const EFI_GUID DmiGuid = CONTRACT_DMI_VARIABLE_GUID;

static VOID Hex(CHAR16 *To, UINTN Value, UINTN Digits) {
  for (UINTN i = 0; i < Digits; i++) To[i] = (CHAR16) "0123456789ABCDEF"[(Value >> (4 * (Digits - 1 - i))) & 0xF];
}

static VOID EFIAPI ApplyStoredChanges(EFI_EVENT Event, VOID *) {
  gBS->CloseEvent(Event);
  static UINT8 array[1280];
  UINTN size = sizeof array;
  if (EFI_ERROR(gST->RuntimeServices->GetVariable((CHAR16 *)u"DmiArray", &DmiGuid, nullptr, &size, array))) return;
  if (EFI_ERROR(FindTable())) return;
  for (UINTN k = 1; k <= array[0] && 5 * k + 4 < size; k++) {
    const UINT8 *e = &array[5 * k];
    CHAR16 name[17] = u"DmiVar";
    Hex(name + 6, e[0], 2);
    Hex(name + 8, (UINTN)(e[1] | (e[2] << 8)), 4);
    Hex(name + 12, e[3], 2);
    Hex(name + 14, e[4], 2);
    name[16] = 0;
    UINT8 value[64];
    UINTN valueSize = sizeof value;
    if (EFI_ERROR(gST->RuntimeServices->GetVariable(name, &DmiGuid, nullptr, &valueSize, value))) continue;
    UINTN structureSize = 0;
    UINT8 *s = Find(e[0], 1, 0, 0, &structureSize);
    if (s == nullptr || e[3] + valueSize > s[1]) continue;  // only inside the formatted area
    gBS->CopyMem(s + e[3], value, valueSize);
    Probe.AppliedCount++;
  }
}
#endif

extern "C" EFI_STATUS EFIAPI SmbiosEditStandInEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  gST = SystemTable;
  gBS = SystemTable->BootServices;
  EFI_STATUS status = EFI_SUCCESS;
#ifdef BED_BOARD
  // Dispatched from flash before the table exists: it is looked up at each
  // call. The stored changes go in ahead of End-of-DXE's other readers.
  static const EFI_GUID endOfDxe = EFI_END_OF_DXE_EVENT_GROUP_GUID;
  EFI_EVENT event = nullptr;
  status = gBS->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_NOTIFY, ApplyStoredChanges, nullptr, &endOfDxe, &event);
  if (EFI_ERROR(status)) return status;
#else
  status = FindTable();
  if (EFI_ERROR(status)) return status;
#endif
  for (VOID *&slot : Protocol.Reserved) slot = (VOID *)Other;
  Protocol.ReadStructureByType = ReadStructureByType;
  Protocol.WriteStructureByHandle = WriteStructureByHandle;
  return StandInStart(ImageHandle, SystemTable, Interfaces, 2, Unload);
}
