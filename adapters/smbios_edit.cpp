// SPDX-License-Identifier: BSD-2-Clause-Patent
// SmbiosEditDxe: the SMBIOS edit protocol that the identity driver calls, over
// the platform's PI SMBIOS protocol. A read is a pool copy of a record with
// its strings; a write replaces the record of that handle (removed and added
// again under the same handle and producer, or put back as it was when the
// new one is refused). At End-of-DXE, ahead of the drivers' own End-of-DXE
// work, the DMI changes stored in "DmiArray" are applied to the live records,
// so a change written at one boot is in the table at the next.
#include "adapters/start.h"
#include "efi/efi.h"
#include "efi/smbios.h"

// clang-format off
#define DMI_VARIABLE_GUID {0x4B3082A3, 0x80C6, 0x4D7E, {0x9C, 0xD0, 0x58, 0x39, 0x17, 0x26, 0x5D, 0xF1}}
// clang-format on

namespace {

const EFI_GUID gEfiSmbiosProtocolGuid = EFI_SMBIOS_PROTOCOL_GUID;
const EFI_GUID gSmbiosEditProtocolGuid = SMBIOS_EDIT_PROTOCOL_GUID;
const EFI_GUID gDmiVariableGuid = DMI_VARIABLE_GUID;
const EFI_GUID gEfiEndOfDxeEventGroupGuid = EFI_END_OF_DXE_EVENT_GROUP_GUID;

constexpr UINTN SMBIOS_HEADER_SIZE = sizeof(EFI_SMBIOS_TABLE_HEADER);
constexpr UINTN DMI_ARRAY_SIZE = 1280;  // a count byte and 255 five-byte entries
constexpr UINTN DMI_ENTRY_SIZE = 5;
constexpr UINTN DMI_VALUE_MAX = 255;  // no formatted area is longer

EFI_SMBIOS_PROTOCOL *Smbios;
SMBIOS_EDIT_PROTOCOL Edit;
UINT8 DmiArray[DMI_ARRAY_SIZE];
UINT8 DmiValue[DMI_VALUE_MAX];

// The bytes a record takes: formatted area, strings, double zero; 0 when the
// double zero is not within Limit bytes or the formatted area is too short.
UINTN RecordSize(const UINT8 *Record, UINTN Limit) {
  if (Limit < SMBIOS_HEADER_SIZE + 2 || Record[1] < SMBIOS_HEADER_SIZE) return 0;
  for (UINTN i = Record[1]; i + 1 < Limit; i++)
    if (Record[i] == 0 && Record[i + 1] == 0) return i + 2;
  return 0;
}

// A live record, found by type and 1-based instance, or by handle. Record
// points into the platform's store and is good until the table next changes.
struct LIVE_RECORD {
  UINT8 *Record;
  UINTN Size;
  EFI_HANDLE Producer;
};

EFI_STATUS FindRecord(bool ByHandle, UINT8 Type, UINT8 Instance, EFI_SMBIOS_HANDLE Handle, LIVE_RECORD *Found) {
  EFI_SMBIOS_HANDLE Next = SMBIOS_HANDLE_PI_RESERVED;
  EFI_SMBIOS_TYPE WantedType = Type;
  UINT8 Seen = 0;
  for (;;) {
    EFI_SMBIOS_TABLE_HEADER *Header = nullptr;
    EFI_HANDLE Producer = nullptr;
    EFI_STATUS Status = Smbios->GetNext(Smbios, &Next, ByHandle ? nullptr : &WantedType, &Header, &Producer);
    if (EFI_ERROR(Status) || Next == SMBIOS_HANDLE_PI_RESERVED || Header == nullptr) return EFI_NOT_FOUND;
    if (ByHandle ? Next != Handle : ++Seen != Instance) continue;
    Found->Record = reinterpret_cast<UINT8 *>(Header);
    Found->Size = RecordSize(Found->Record, 0x10000);
    Found->Producer = Producer;
    // A 16-bit size cannot describe a longer record.
    return Found->Size == 0 ? EFI_BAD_BUFFER_SIZE : EFI_SUCCESS;
  }
}

EFI_STATUS PoolCopy(const UINT8 *From, UINTN Size, UINT8 **Copy) {
  VOID *Buffer = nullptr;
  EFI_STATUS Status = gBS->AllocatePool(EfiBootServicesData, Size, &Buffer);
  if (EFI_ERROR(Status)) return Status;
  gBS->CopyMem(Buffer, const_cast<UINT8 *>(From), Size);
  *Copy = static_cast<UINT8 *>(Buffer);
  return EFI_SUCCESS;
}

// Puts Replacement (Size bytes, a whole record) in the place of the live record
// of Handle, keeping the handle and the producer. A replacement the platform
// refuses leaves the old record in the table.
EFI_STATUS Replace(EFI_SMBIOS_HANDLE Handle, const UINT8 *Replacement, UINTN Size) {
  LIVE_RECORD Live{};
  EFI_STATUS Status = FindRecord(true, 0, 0, Handle, &Live);
  if (EFI_ERROR(Status)) return Status;
  if (Live.Record[0] != Replacement[0]) return EFI_INVALID_PARAMETER;  // a handle keeps its type
  UINT8 *Old = nullptr, *New = nullptr;
  Status = PoolCopy(Live.Record, Live.Size, &Old);
  if (!EFI_ERROR(Status)) Status = PoolCopy(Replacement, Size, &New);
  if (!EFI_ERROR(Status)) {
    reinterpret_cast<EFI_SMBIOS_TABLE_HEADER *>(New)->Handle = Handle;
    Status = Smbios->Remove(Smbios, Handle);
  }
  if (!EFI_ERROR(Status)) {
    EFI_SMBIOS_HANDLE Added = Handle;
    Status = Smbios->Add(Smbios, Live.Producer, &Added, reinterpret_cast<EFI_SMBIOS_TABLE_HEADER *>(New));
    if (EFI_ERROR(Status)) {
      EFI_SMBIOS_HANDLE Restored = Handle;
      // The old record went in once under this handle, so it goes in again.
      Smbios->Add(Smbios, Live.Producer, &Restored, reinterpret_cast<EFI_SMBIOS_TABLE_HEADER *>(Old));
    }
  }
  if (Old != nullptr) gBS->FreePool(Old);
  if (New != nullptr) gBS->FreePool(New);
  return Status;
}

EFI_STATUS EFIAPI ReadStructureByType(UINT8 Type, UINT8 Instance, VOID **Structure, UINT16 *Size) {
  if (Structure == nullptr || Size == nullptr || Instance == 0) return EFI_INVALID_PARAMETER;
  LIVE_RECORD Live{};
  EFI_STATUS Status = FindRecord(false, Type, Instance, 0, &Live);
  if (!EFI_ERROR(Status) && Live.Size > 0xFFFF) Status = EFI_BAD_BUFFER_SIZE;
  UINT8 *Copy = nullptr;
  if (!EFI_ERROR(Status)) Status = PoolCopy(Live.Record, Live.Size, &Copy);
  if (EFI_ERROR(Status)) return Status;
  *Structure = Copy;
  *Size = static_cast<UINT16>(Live.Size);
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI WriteStructureByHandle(UINT16 Handle, VOID *Structure, UINT16 Size) {
  if (Structure == nullptr) return EFI_INVALID_PARAMETER;
  // The caller's record must be whole within Size: the platform copies up to its double zero.
  UINTN Whole = RecordSize(static_cast<const UINT8 *>(Structure), Size);
  if (Whole == 0) return EFI_INVALID_PARAMETER;
  return Replace(Handle, static_cast<const UINT8 *>(Structure), Whole);
}

EFI_STATUS EFIAPI NotProvided(VOID) { return EFI_UNSUPPORTED; }

VOID Hex(CHAR16 *To, UINTN Value, UINTN Digits) {
  for (UINTN i = 0; i < Digits; i++) To[i] = static_cast<CHAR16>("0123456789ABCDEF"[(Value >> (4 * (Digits - 1 - i))) & 0xF]);
}

// One stored change: the value of "DmiVarTTHHHHOOSS" goes into the first record
// of type TT at offset OO. Only bytes of the formatted area past the header
// are changed; a value that would reach the header or past the formatted area
// is left unapplied.
VOID ApplyChange(const UINT8 *Entry) {
  CHAR16 Name[17] = u"DmiVar";
  Hex(Name + 6, Entry[0], 2);
  Hex(Name + 8, static_cast<UINTN>(Entry[1] | Entry[2] << 8), 4);
  Hex(Name + 12, Entry[3], 2);
  Hex(Name + 14, Entry[4], 2);
  Name[16] = 0;
  UINTN ValueSize = sizeof DmiValue;
  if (EFI_ERROR(gRT->GetVariable(Name, &gDmiVariableGuid, nullptr, &ValueSize, DmiValue)) || ValueSize == 0) return;
  LIVE_RECORD Live{};
  if (EFI_ERROR(FindRecord(false, Entry[0], 1, 0, &Live))) return;
  UINTN Offset = Entry[3];
  if (Offset < SMBIOS_HEADER_SIZE || Offset + ValueSize > Live.Record[1]) return;
  bool Same = true;
  for (UINTN i = 0; i < ValueSize; i++) Same = Same && Live.Record[Offset + i] == DmiValue[i];
  if (Same) return;
  UINT8 *Copy = nullptr;
  if (EFI_ERROR(PoolCopy(Live.Record, Live.Size, &Copy))) return;
  gBS->CopyMem(Copy + Offset, DmiValue, ValueSize);
  EFI_SMBIOS_HANDLE Handle = reinterpret_cast<EFI_SMBIOS_TABLE_HEADER *>(Copy)->Handle;
  // A change the platform refuses leaves the record as it was; the next boot tries again.
  Replace(Handle, Copy, Live.Size);
  gBS->FreePool(Copy);
}

VOID EFIAPI ApplyStoredChanges(EFI_EVENT Event, VOID *) {
  // Once per boot.
  gBS->CloseEvent(Event);
  UINTN Size = sizeof DmiArray;
  if (EFI_ERROR(gRT->GetVariable(u"DmiArray", &gDmiVariableGuid, nullptr, &Size, DmiArray))) return;
  for (UINTN k = 1; Size > 0 && k <= DmiArray[0] && DMI_ENTRY_SIZE * k + DMI_ENTRY_SIZE <= Size; k++)
    ApplyChange(&DmiArray[DMI_ENTRY_SIZE * k]);
}

}  // namespace

extern "C" EFI_STATUS EFIAPI SmbiosEditEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  if (EFI_STATUS Kept = AdapterKeepTables(ImageHandle, SystemTable); EFI_ERROR(Kept)) return Kept;
  VOID *Interface = nullptr;
  EFI_STATUS Status = gBS->LocateProtocol(&gEfiSmbiosProtocolGuid, nullptr, &Interface);
  if (EFI_ERROR(Status)) return Status;
  if (Interface == nullptr) return EFI_NOT_FOUND;
  Smbios = static_cast<EFI_SMBIOS_PROTOCOL *>(Interface);
  for (VOID *&Slot : Edit.Reserved) Slot = reinterpret_cast<VOID *>(NotProvided);
  Edit.ReadStructureByType = ReadStructureByType;
  Edit.WriteStructureByHandle = WriteStructureByHandle;

  // TPL_NOTIFY: the stored changes are in the table before the End-of-DXE
  // notifications at TPL_CALLBACK (the identity driver's) read it.
  EFI_EVENT Event = nullptr;
  Status = gBS->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_NOTIFY, ApplyStoredChanges, nullptr, &gEfiEndOfDxeEventGroupGuid, &Event);
  if (EFI_ERROR(Status)) return Status;
  EFI_HANDLE Handle = ImageHandle;
  Status = gBS->InstallProtocolInterface(&Handle, &gSmbiosEditProtocolGuid, EFI_NATIVE_INTERFACE, &Edit);
  // A failed start leaves no event behind.
  if (EFI_ERROR(Status)) gBS->CloseEvent(Event);
  return Status;
}
