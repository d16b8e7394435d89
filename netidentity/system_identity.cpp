// Stamps the board's model code and the NIC's MAC into the SMBIOS system
// UUID, and records the change in the DMI variables that the platform's
// SMBIOS driver keeps.
#include "drvlib/drvlib.h"
#include "efi/smbios.h"
#include "netidentity/netidentity.h"

namespace {

const EFI_GUID kDmiVariableGuid = {0x4B3082A3, 0x80C6, 0x4D7E, {0x9C, 0xD0, 0x58, 0x39, 0x17, 0x26, 0x5D, 0xF1}};
const EFI_GUID kSmbiosEditGuid = SMBIOS_EDIT_PROTOCOL_GUID;
constexpr UINT32 kDmiAttributes = EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS | EFI_VARIABLE_RUNTIME_ACCESS;
const CHAR16 kModelCode[] = u"QR48T-K2V";
constexpr UINTN kModelCodeLength = 9;

// MACs at or below this, and all ones, are not the board's own.
constexpr UINT64 kLowestStampedMac = 0xF4B5206B0000ULL;
constexpr UINT64 kBroadcastMac = 0xFFFFFFFFFFFFULL;

// The change this driver records: UUID of the type-1 structure, handle 1.
constexpr UINT8 kEntryType = SMBIOS_TYPE_SYSTEM_INFORMATION;
constexpr UINT16 kEntryHandle = 1;
constexpr UINT8 kEntryOffset = SMBIOS_TYPE1_UUID_OFFSET;

// A structure copy must reach the end of the UUID.
constexpr UINT16 kMinStructureSize = SMBIOS_TYPE1_UUID_OFFSET + SMBIOS_TYPE1_UUID_SIZE;

bool MacIsStampable(const UINT8 *Mac) {
  UINT64 m = 0;
  for (UINTN i = 0; i < 6; i++) m = (m << 8) | Mac[i];
  return m != kBroadcastMac && m >= kLowestStampedMac;
}

bool IsOurDmiEntry(const UINT8 *Entry) {
  return Entry[0] == kEntryType && (UINT16)(Entry[1] | (Entry[2] << 8)) == kEntryHandle && Entry[3] == kEntryOffset;
}

void PutDmiEntry(UINT8 *Entry) {
  Entry[0] = kEntryType;
  Entry[1] = (UINT8)kEntryHandle;
  Entry[2] = (UINT8)(kEntryHandle >> 8);
  Entry[3] = kEntryOffset;
}

// Model code as ASCII, a zero, then the MAC.
void BuildIdentityBlock(const UINT8 *Mac, UINT8 *Block) {
  CHAR16 text[10] = {u'X', u'X', u'X', u'X', u'X', u'-', u'X', u'X', u'X', 0};
  Utf16PrintBounded(text, sizeof(text), u"%s", kModelCode);
  // Converted into a buffer of the full 20-byte limit, so no source could
  // run past the 16-byte block; the block takes the nine characters.
  CHAR8 ascii[20] = {};
  Utf16ToAsciiBounded(text, ascii, sizeof(ascii));
  __builtin_memcpy(Block, ascii, kModelCodeLength);
  Block[kModelCodeLength] = 0;
  __builtin_memcpy(Block + 10, Mac, 6);
}

// Adds our entry to DmiArray unless it is there. Only an array that does not
// exist is created; one that cannot be read is left as it is.
void RecordInDmiArray(UINT8 *Stored, UINT8 *Fresh) {
  EFI_RUNTIME_SERVICES *rt = gNetIdentityRuntimeServices;
  UINTN size = DMI_ARRAY_SIZE;
  EFI_STATUS status = rt->GetVariable(u"DmiArray", &kDmiVariableGuid, nullptr, &size, Stored);
  if (status == EFI_NOT_FOUND) {
    Fresh[0] = 1;
    PutDmiEntry(Fresh + DMI_ARRAY_ENTRY_SIZE);
    rt->SetVariable(u"DmiArray", &kDmiVariableGuid, kDmiAttributes, DMI_ARRAY_SIZE, Fresh);
    return;
  }
  if (EFI_ERROR(status) || size > DMI_ARRAY_SIZE) return;

  // Entries that lie past the stored bytes were never read: not ours.
  const UINTN count = size > 0 ? Stored[0] : 0;
  for (UINTN k = 1; k <= count; k++) {
    const UINTN at = k * DMI_ARRAY_ENTRY_SIZE;
    if (at + DMI_ARRAY_ENTRY_SIZE > size) break;
    if (IsOurDmiEntry(Stored + at)) return;
  }
  // A full array cannot count one more entry, and entry 256 would lie past
  // the buffer: leave it.
  if (count >= DMI_ARRAY_MAX_ENTRIES) return;

  const UINTN next = count + 1;
  const UINTN end = (next + 1) * DMI_ARRAY_ENTRY_SIZE;  // one past the new entry
  if (size < end) {
    // Stored too short for the new entry: write it back long enough, with the
    // bytes that were never stored as zero, so the count claims only stored
    // entries.
    __builtin_memset(Stored + size, 0, end - size);
    size = end;
  }
  Stored[0] = (UINT8)next;
  PutDmiEntry(Stored + next * DMI_ARRAY_ENTRY_SIZE);
  rt->SetVariable(u"DmiArray", &kDmiVariableGuid, kDmiAttributes, size, Stored);
}

// Takes the first free WriteOnceStatus entry for ours, unless ours comes
// first. A table that does not exist starts as sixteen free entries; one that
// cannot be read in full is left alone.
void RecordInWriteOnceStatus(VOID) {
  EFI_RUNTIME_SERVICES *rt = gNetIdentityRuntimeServices;
  UINT8 table[WRITE_ONCE_STATUS_SIZE];
  UINTN size = sizeof(table);
  EFI_STATUS status = rt->GetVariable(u"WriteOnceStatus", &kDmiVariableGuid, nullptr, &size, table);
  if (status == EFI_NOT_FOUND) {
    __builtin_memset(table, 0, sizeof(table));
    for (UINTN i = 0; i < sizeof(table); i += sizeof(WRITE_ONCE_ENTRY)) table[i] = WRITE_ONCE_ENTRY_FREE;
  } else if (EFI_ERROR(status) || size != sizeof(table)) {
    return;
  }

  for (UINTN i = 0; i < sizeof(table); i += sizeof(WRITE_ONCE_ENTRY)) {
    UINT8 *entry = table + i;
    if (entry[0] == WRITE_ONCE_ENTRY_FREE) {
      entry[0] = kEntryType;
      entry[1] = kEntryOffset;
      entry[2] = (UINT8)kEntryHandle;
      entry[3] = (UINT8)(kEntryHandle >> 8);
      rt->SetVariable(u"WriteOnceStatus", &kDmiVariableGuid, kDmiAttributes, sizeof(table), table);
      return;
    }
    if (entry[0] == kEntryType && entry[1] == kEntryOffset && (UINT16)(entry[2] | (entry[3] << 8)) == kEntryHandle) return;
  }
  // No free entry and no entry of ours: written back as read.
  rt->SetVariable(u"WriteOnceStatus", &kDmiVariableGuid, kDmiAttributes, sizeof(table), table);
}

}  // namespace

EFI_SYSTEM_TABLE *gNetIdentitySystemTable;
EFI_BOOT_SERVICES *gNetIdentityBootServices;
EFI_RUNTIME_SERVICES *gNetIdentityRuntimeServices;

EFI_STATUS StampSystemIdentity(VOID) {
  UINT8 freshArray[DMI_ARRAY_SIZE] = {};
  UINT8 identity[IDENTITY_BLOCK_SIZE] = {};

  const NIC_PROBE_RESULT &nic = NicProbeResult[0];
  if (nic.Found == 0 || !MacIsStampable(nic.Mac)) return EFI_UNSUPPORTED;

  EFI_BOOT_SERVICES *bs = gNetIdentityBootServices;
  VOID *iface = nullptr;
  if (EFI_ERROR(bs->LocateProtocol(&kSmbiosEditGuid, nullptr, &iface)) || iface == nullptr) return EFI_UNSUPPORTED;
  SMBIOS_EDIT_PROTOCOL *smbios = static_cast<SMBIOS_EDIT_PROTOCOL *>(iface);

  VOID *copy = nullptr;
  UINT16 size = 0;
  if (EFI_ERROR(smbios->ReadStructureByType(SMBIOS_TYPE_SYSTEM_INFORMATION, 1, &copy, &size)) || copy == nullptr) {
    return EFI_UNSUPPORTED;
  }
  UINT8 *structure = static_cast<UINT8 *>(copy);
  // A copy too short to hold the UUID cannot be compared or stamped; nor can
  // a structure whose own length ends before the UUID (an early-version
  // table): its bytes there are its strings.
  if (size < kMinStructureSize || structure[SMBIOS_HEADER_LENGTH_OFFSET] < kMinStructureSize) {
    bs->FreePool(copy);
    return EFI_UNSUPPORTED;
  }
  if (__builtin_memcmp(structure + SMBIOS_TYPE1_UUID_OFFSET + 10, nic.Mac, 6) == 0) {
    bs->FreePool(copy);
    return EFI_UNSUPPORTED;  // already stamped
  }

  BuildIdentityBlock(nic.Mac, identity);

  VOID *stored = nullptr;
  if (EFI_ERROR(bs->AllocatePool(EfiBootServicesData, DMI_ARRAY_SIZE, &stored)) || stored == nullptr) {
    bs->FreePool(copy);
    return EFI_UNSUPPORTED;
  }
  __builtin_memset(stored, 0, DMI_ARRAY_SIZE);
  RecordInDmiArray(static_cast<UINT8 *>(stored), freshArray);

  gNetIdentityRuntimeServices->SetVariable(u"DmiVar0100010800", &kDmiVariableGuid, kDmiAttributes, sizeof(identity), identity);
  RecordInWriteOnceStatus();

  __builtin_memcpy(structure + SMBIOS_TYPE1_UUID_OFFSET, identity, sizeof(identity));
  const UINT16 handle = (UINT16)(structure[SMBIOS_HEADER_HANDLE_OFFSET] | (structure[SMBIOS_HEADER_HANDLE_OFFSET + 1] << 8));
  smbios->WriteStructureByHandle(handle, structure, size);

  bs->FreePool(copy);
  bs->FreePool(stored);
  return EFI_SUCCESS;
}
