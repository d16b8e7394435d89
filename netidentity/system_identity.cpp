// SPDX-License-Identifier: BSD-2-Clause-Patent
// Stamps the board's model code and the NIC's MAC into the SMBIOS system
// UUID, and records the change in the DMI variables that the platform's
// SMBIOS driver keeps.
#include "drvlib/drvlib.h"
#include "efi/smbios.h"
#include "netidentity/netidentity.h"

namespace {

const EFI_GUID gDmiVariableGuid = DMI_VARIABLE_GUID;
const EFI_GUID gSmbiosEditProtocolGuid = SMBIOS_EDIT_PROTOCOL_GUID;
constexpr UINT32 DMI_ATTRIBUTES = EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS | EFI_VARIABLE_RUNTIME_ACCESS;
const CHAR16 ModelCode[] = u"QR48T-K2V";
constexpr UINTN MODEL_CODE_LENGTH = 9;

// MACs at or below this, and all ones, are not the board's own.
constexpr UINT64 LOWEST_STAMPED_MAC = 0xF4B5206B0000ULL;
constexpr UINT64 BROADCAST_MAC = 0xFFFFFFFFFFFFULL;

// The change this driver records: UUID of the type-1 structure, handle 1.
constexpr UINT8 ENTRY_TYPE = SMBIOS_TYPE_SYSTEM_INFORMATION;
constexpr UINT16 ENTRY_HANDLE = 1;
constexpr UINT8 ENTRY_OFFSET = SMBIOS_TYPE1_UUID_OFFSET;

// A structure copy must reach the end of the UUID.
constexpr UINT16 MIN_STRUCTURE_SIZE = SMBIOS_TYPE1_UUID_OFFSET + SMBIOS_TYPE1_UUID_SIZE;

bool MacIsStampable(const UINT8 *Mac) {
  UINT64 m = 0;
  for (UINTN i = 0; i < 6; i++) m = (m << 8) | Mac[i];
  return m != BROADCAST_MAC && m >= LOWEST_STAMPED_MAC;
}

// Entry k (from 1) of a DmiArray buffer; byte 0 is the count. The records are
// packed, so any byte position is a valid place for one.
DMI_ARRAY_ENTRY *DmiEntryAt(UINT8 *Array, UINTN Index) {
  return reinterpret_cast<DMI_ARRAY_ENTRY *>(Array + Index * sizeof(DMI_ARRAY_ENTRY));
}

bool IsOurDmiEntry(const DMI_ARRAY_ENTRY *Entry) {
  return Entry->Type == ENTRY_TYPE && Entry->Handle == ENTRY_HANDLE && Entry->Offset == ENTRY_OFFSET;
}

// The fifth byte is left as it was: zero in a new array, and in an array
// whose stored bytes end before the entry.
void PutDmiEntry(DMI_ARRAY_ENTRY *Entry) {
  Entry->Type = ENTRY_TYPE;
  Entry->Handle = ENTRY_HANDLE;
  Entry->Offset = ENTRY_OFFSET;
}

bool IsOurWriteOnceEntry(const WRITE_ONCE_ENTRY *Entry) {
  return Entry->Type == ENTRY_TYPE && Entry->Offset == ENTRY_OFFSET && Entry->Handle == ENTRY_HANDLE;
}

// Model code as ASCII, a zero, then the MAC.
void BuildIdentityBlock(const UINT8 *Mac, UINT8 *Block) {
  CHAR16 Text[10] = {u'X', u'X', u'X', u'X', u'X', u'-', u'X', u'X', u'X', 0};
  Utf16PrintBounded(Text, sizeof(Text), u"%s", ModelCode);
  // Converted into a buffer of the full 20-byte limit, so no source could
  // run past the 16-byte block; the block takes the nine characters.
  CHAR8 Ascii[20] = {};
  Utf16ToAsciiBounded(Text, Ascii, sizeof(Ascii));
  __builtin_memcpy(Block, Ascii, MODEL_CODE_LENGTH);
  Block[MODEL_CODE_LENGTH] = 0;
  __builtin_memcpy(Block + 10, Mac, 6);
}

// Adds our entry to DmiArray unless it is there. Only an array that does not
// exist is created; one that cannot be read is left as it is.
void RecordInDmiArray(UINT8 *Stored, UINT8 *Fresh) {
  EFI_RUNTIME_SERVICES *Rt = gRT;
  UINTN Size = DMI_ARRAY_SIZE;
  EFI_STATUS Status = Rt->GetVariable(u"DmiArray", &gDmiVariableGuid, nullptr, &Size, Stored);
  if (Status == EFI_NOT_FOUND) {
    Fresh[0] = 1;
    PutDmiEntry(DmiEntryAt(Fresh, 1));
    Rt->SetVariable(u"DmiArray", &gDmiVariableGuid, DMI_ATTRIBUTES, DMI_ARRAY_SIZE, Fresh);
    return;
  }
  if (EFI_ERROR(Status) || Size > DMI_ARRAY_SIZE) return;

  // Entries that lie past the stored bytes were never read: not ours.
  const UINTN Count = Size > 0 ? Stored[0] : 0;
  for (UINTN k = 1; k <= Count; k++) {
    if ((k + 1) * sizeof(DMI_ARRAY_ENTRY) > Size) break;
    if (IsOurDmiEntry(DmiEntryAt(Stored, k))) return;
  }
  // A full array cannot count one more entry, and entry 256 would lie past
  // the buffer: leave it.
  if (Count >= DMI_ARRAY_MAX_ENTRIES) return;

  const UINTN Next = Count + 1;
  const UINTN End = (Next + 1) * DMI_ARRAY_ENTRY_SIZE;  // one past the new entry
  if (Size < End) {
    // Stored too short for the new entry: write it back long enough, with the
    // bytes that were never stored as zero, so the count claims only stored
    // entries.
    __builtin_memset(Stored + Size, 0, End - Size);
    Size = End;
  }
  Stored[0] = (UINT8)Next;
  PutDmiEntry(DmiEntryAt(Stored, Next));
  Rt->SetVariable(u"DmiArray", &gDmiVariableGuid, DMI_ATTRIBUTES, Size, Stored);
}

// Takes the first free WriteOnceStatus entry for ours, unless ours comes
// first. A table that does not exist starts as sixteen free entries; one that
// cannot be read in full is left alone.
void RecordInWriteOnceStatus(VOID) {
  EFI_RUNTIME_SERVICES *Rt = gRT;
  WRITE_ONCE_ENTRY Table[WRITE_ONCE_STATUS_SIZE / sizeof(WRITE_ONCE_ENTRY)];
  UINTN Size = sizeof(Table);
  EFI_STATUS Status = Rt->GetVariable(u"WriteOnceStatus", &gDmiVariableGuid, nullptr, &Size, Table);
  if (Status == EFI_NOT_FOUND) {
    for (WRITE_ONCE_ENTRY &Entry : Table) Entry = WRITE_ONCE_ENTRY{WRITE_ONCE_ENTRY_FREE, 0, 0};
  } else if (EFI_ERROR(Status) || Size != sizeof(Table)) {
    return;
  }

  for (WRITE_ONCE_ENTRY &Entry : Table) {
    if (Entry.Type == WRITE_ONCE_ENTRY_FREE) {
      Entry = WRITE_ONCE_ENTRY{ENTRY_TYPE, ENTRY_OFFSET, ENTRY_HANDLE};
      Rt->SetVariable(u"WriteOnceStatus", &gDmiVariableGuid, DMI_ATTRIBUTES, sizeof(Table), Table);
      return;
    }
    if (IsOurWriteOnceEntry(&Entry)) return;
  }
  // No free entry and no entry of ours: written back as read.
  Rt->SetVariable(u"WriteOnceStatus", &gDmiVariableGuid, DMI_ATTRIBUTES, sizeof(Table), Table);
}

}  // namespace

// Level of the lines that say why no stamp was made: informational, since on
// most boots the identity is already in place.
#define STAMP_DEBUG_LEVEL 0x00000040ULL

EFI_STATUS StampSystemIdentity(VOID) {
  UINT8 FreshArray[DMI_ARRAY_SIZE] = {};
  UINT8 Identity[IDENTITY_BLOCK_SIZE] = {};
  EFI_BOOT_SERVICES *Bs = gBS;
  const NIC_PROBE_RESULT &Nic = NicProbeResult[0];
  VOID *Iface = nullptr;
  VOID *Copy = nullptr;
  VOID *Stored = nullptr;
  UINT16 Size = 0;

  // Each refusal names its cause; callers see EFI_UNSUPPORTED for all of them.
  const CHAR8 *Refusal = nullptr;
  if (Nic.Found == 0) {
    Refusal = "no network controller";
  } else if (!MacIsStampable(Nic.Mac)) {
    Refusal = "the MAC is not the board's own";
  } else if (EFI_ERROR(Bs->LocateProtocol(&gSmbiosEditProtocolGuid, nullptr, &Iface)) || Iface == nullptr) {
    Refusal = "no SMBIOS edit protocol";
  } else if (EFI_ERROR(static_cast<SMBIOS_EDIT_PROTOCOL *>(Iface)->ReadStructureByType(SMBIOS_TYPE_SYSTEM_INFORMATION, 1, &Copy, &Size)) ||
             Copy == nullptr) {
    Copy = nullptr;  // a failed read hands out nothing to free
    Refusal = "no type-1 structure";
  } else if (Size < MIN_STRUCTURE_SIZE || static_cast<UINT8 *>(Copy)[SMBIOS_HEADER_LENGTH_OFFSET] < MIN_STRUCTURE_SIZE) {
    // A copy too short to hold the UUID cannot be compared or stamped; nor
    // can a structure whose own length ends before the UUID (an
    // early-version table): its bytes there are its strings.
    Refusal = "the type-1 structure ends before its UUID";
  } else if (__builtin_memcmp(static_cast<UINT8 *>(Copy) + SMBIOS_TYPE1_UUID_OFFSET + 10, Nic.Mac, 6) == 0) {
    Refusal = "the identity is already in place";
  } else if (EFI_ERROR(Bs->AllocatePool(EfiBootServicesData, DMI_ARRAY_SIZE, &Stored)) || Stored == nullptr) {
    Stored = nullptr;
    Refusal = "no pool for the DmiArray buffer";
  }

  if (Refusal == nullptr) {
    SMBIOS_EDIT_PROTOCOL *Smbios = static_cast<SMBIOS_EDIT_PROTOCOL *>(Iface);
    UINT8 *Structure = static_cast<UINT8 *>(Copy);
    BuildIdentityBlock(Nic.Mac, Identity);
    __builtin_memset(Stored, 0, DMI_ARRAY_SIZE);
    RecordInDmiArray(static_cast<UINT8 *>(Stored), FreshArray);
    // A record that cannot be stored does not stop the stamp: the live
    // structure is what this boot needs, and the next boot writes again.
    gRT->SetVariable(u"DmiVar0100010800", &gDmiVariableGuid, DMI_ATTRIBUTES, sizeof(Identity), Identity);
    RecordInWriteOnceStatus();

    __builtin_memcpy(Structure + SMBIOS_TYPE1_UUID_OFFSET, Identity, sizeof(Identity));
    const UINT16 Handle = (UINT16)(Structure[SMBIOS_HEADER_HANDLE_OFFSET] | (Structure[SMBIOS_HEADER_HANDLE_OFFSET + 1] << 8));
    // Nothing is left to undo when the write fails; the UUID then still differs
    // from the MAC, so the next boot tries again.
    Smbios->WriteStructureByHandle(Handle, Structure, Size);
  } else {
    DebugPrint(STAMP_DEBUG_LEVEL, "[StampSystemIdentity] not stamped: %a\n", Refusal);
  }

  if (Copy != nullptr) Bs->FreePool(Copy);
  if (Stored != nullptr) Bs->FreePool(Stored);
  return Refusal == nullptr ? EFI_SUCCESS : EFI_UNSUPPORTED;
}
