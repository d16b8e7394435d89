// SPDX-License-Identifier: BSD-2-Clause-Patent
// The SMM buffer check, an SMM driver: tells an SMI handler whether a buffer
// handed in from outside SMM may be used. It refuses any buffer that has a
// byte in SMRAM (the ranges SMM Access2 reports at load) and, once the UEFI
// memory map has been taken at the end of DXE, any buffer that does not lie
// wholly in memory the firmware keeps for itself after boot: runtime-services
// data, reserved memory or ACPI NVS, the only kinds an SMM core takes a
// communication buffer from. Past the lock point without a map it refuses
// everything. All of its state lives in SMRAM.
#include "adapters/start.h"
#include "efi/efi.h"
#include "setuptoken/buffer_check.h"

EFI_SMM_SYSTEM_TABLE2 *gSmst;

const EFI_GUID gEfiSmmAccess2ProtocolGuid = EFI_SMM_ACCESS2_PROTOCOL_GUID;
const EFI_GUID gEfiSmmEndOfDxeProtocolGuid = EFI_SMM_END_OF_DXE_PROTOCOL_GUID;
const EFI_GUID gEfiSmmReadyToLockProtocolGuid = EFI_SMM_READY_TO_LOCK_PROTOCOL_GUID;
const EFI_GUID gSmmBufferCheckProtocolGuid = SMM_BUFFER_CHECK_PROTOCOL_GUID;

namespace {

// An address range with its last byte, so that a range may end at the top of
// the address space.
struct MEMORY_RANGE {
  UINT64 First;
  UINT64 Last;
};

// SMRAM as reported at load: each descriptor's CPU and physical ranges.
MEMORY_RANGE *SmramRanges;
UINTN SmramRangeCount;
// The ranges a communication buffer may lie in, sorted and merged; taken
// from the UEFI memory map at the end of DXE.
MEMORY_RANGE *UsableRanges;
UINTN UsableRangeCount;
BOOLEAN MapTaken;
BOOLEAN Locked;

SMM_BUFFER_CHECK_PROTOCOL BufferCheck;
EFI_HANDLE CheckHandle;
VOID *EndOfDxeRegistration;
VOID *ReadyToLockRegistration;

// The memory kinds that stay the firmware's after boot and that an SMM core
// accepts a communication buffer in.
const UINT32 UsableTypes[] = {EfiRuntimeServicesData, EfiReservedMemoryType, EfiACPIMemoryNVS};

// The range of Size bytes at Start; false when it is empty. A range that
// would run past the top of the address space is cut there.
bool RangeOf(UINT64 Start, UINT64 Size, MEMORY_RANGE *Range) {
  if (Size == 0) return false;
  Range->First = Start;
  if (__builtin_add_overflow(Start, Size - 1, &Range->Last)) Range->Last = ~0ULL;
  return true;
}

bool Overlaps(const MEMORY_RANGE &A, const MEMORY_RANGE &B) { return A.First <= B.Last && B.First <= A.Last; }

bool Contains(const MEMORY_RANGE &Outer, const MEMORY_RANGE &Inner) { return Outer.First <= Inner.First && Inner.Last <= Outer.Last; }

bool UsableType(UINT32 Type) {
  for (UINT32 t : UsableTypes)
    if (Type == t) return true;
  return false;
}

EFI_STATUS EFIAPI CheckBuffer(const VOID *Buffer, UINTN Size) {
  MEMORY_RANGE Range;
  UINT64 Start = (UINT64)(UINTN)Buffer;
  if (Buffer == nullptr || Size == 0 || __builtin_add_overflow(Start, (UINT64)Size - 1, &Range.Last)) return EFI_INVALID_PARAMETER;
  Range.First = Start;
  for (UINTN i = 0; i < SmramRangeCount; i++)
    if (Overlaps(SmramRanges[i], Range)) return EFI_ACCESS_DENIED;
  if (!MapTaken) return Locked ? EFI_ACCESS_DENIED : EFI_SUCCESS;
  for (UINTN i = 0; i < UsableRangeCount; i++)
    if (Contains(UsableRanges[i], Range)) return EFI_SUCCESS;
  return EFI_ACCESS_DENIED;
}

// Keeps every descriptor's CPU and physical range: a buffer may name either.
EFI_STATUS TakeSmramMap(VOID) {
  EFI_SMM_ACCESS2_PROTOCOL *Access = nullptr;
  EFI_STATUS Status = gBS->LocateProtocol(&gEfiSmmAccess2ProtocolGuid, nullptr, (VOID **)&Access);
  if (EFI_ERROR(Status)) return Status;
  if (Access == nullptr) return EFI_NOT_FOUND;
  UINTN MapSize = 0;
  Status = Access->GetCapabilities(Access, &MapSize, nullptr);
  if (Status != EFI_BUFFER_TOO_SMALL) return EFI_ERROR(Status) ? Status : EFI_NOT_FOUND;
  UINTN Count = MapSize / sizeof(EFI_SMRAM_DESCRIPTOR), Bytes = 0;
  if (Count == 0 || __builtin_mul_overflow(Count, 2 * sizeof(MEMORY_RANGE), &Bytes)) return EFI_NOT_FOUND;
  EFI_SMRAM_DESCRIPTOR *Map = nullptr;
  Status = gSmst->SmmAllocatePool(EfiRuntimeServicesData, Count * sizeof(EFI_SMRAM_DESCRIPTOR), (VOID **)&Map);
  if (EFI_ERROR(Status)) return Status;
  MapSize = Count * sizeof(EFI_SMRAM_DESCRIPTOR);
  Status = Access->GetCapabilities(Access, &MapSize, Map);
  if (!EFI_ERROR(Status)) {
    Count = MapSize / sizeof(EFI_SMRAM_DESCRIPTOR) < Count ? MapSize / sizeof(EFI_SMRAM_DESCRIPTOR) : Count;
    Status = gSmst->SmmAllocatePool(EfiRuntimeServicesData, Bytes, (VOID **)&SmramRanges);
  }
  if (!EFI_ERROR(Status)) {
    SmramRangeCount = 0;
    for (UINTN i = 0; i < Count; i++) {
      if (RangeOf(Map[i].CpuStart, Map[i].PhysicalSize, &SmramRanges[SmramRangeCount])) SmramRangeCount++;
      if (RangeOf(Map[i].PhysicalStart, Map[i].PhysicalSize, &SmramRanges[SmramRangeCount])) SmramRangeCount++;
    }
    // An SMRAM map of empty descriptors protects nothing: refuse to start.
    if (SmramRangeCount == 0) {
      gSmst->SmmFreePool(SmramRanges);
      SmramRanges = nullptr;
      Status = EFI_NOT_FOUND;
    }
  }
  gSmst->SmmFreePool(Map);
  return Status;
}

// Turns the memory map in Buffer into sorted, merged usable ranges, written
// over the map itself (a range is smaller than a descriptor).
UINTN UsableRangesOf(UINT8 *Buffer, UINTN MapSize, UINTN DescriptorSize) {
  MEMORY_RANGE *Ranges = (MEMORY_RANGE *)Buffer;
  UINTN Count = 0;
  for (UINTN Offset = 0; MapSize - Offset >= DescriptorSize; Offset += DescriptorSize) {
    const EFI_MEMORY_DESCRIPTOR *d = (const EFI_MEMORY_DESCRIPTOR *)(Buffer + Offset);
    UINT64 Bytes = 0;
    if (!UsableType(d->Type) || __builtin_mul_overflow(d->NumberOfPages, (UINT64)EFI_PAGE_SIZE, &Bytes)) continue;
    MEMORY_RANGE Range;
    if (RangeOf(d->PhysicalStart, Bytes, &Range)) Ranges[Count++] = Range;
  }
  // Insertion sort by start: a map holds a few hundred descriptors at most.
  for (UINTN i = 1; i < Count; i++) {
    MEMORY_RANGE Range = Ranges[i];
    UINTN j = i;
    for (; j > 0 && Ranges[j - 1].First > Range.First; j--) Ranges[j] = Ranges[j - 1];
    Ranges[j] = Range;
  }
  UINTN Merged = 0;
  for (UINTN i = 0; i < Count; i++) {
    if (Merged > 0 && (Ranges[Merged - 1].Last == ~0ULL || Ranges[i].First <= Ranges[Merged - 1].Last + 1)) {
      if (Ranges[i].Last > Ranges[Merged - 1].Last) Ranges[Merged - 1].Last = Ranges[i].Last;
    } else {
      Ranges[Merged++] = Ranges[i];
    }
  }
  return Merged;
}

// The UEFI memory map, read through boot services while DXE still runs. A
// map that cannot be read leaves the check on SMRAM alone until the lock point.
VOID TakeMemoryMap(VOID) {
  if (MapTaken) return;
  UINT8 *Buffer = nullptr;
  UINTN MapSize = 0, MapKey = 0, DescriptorSize = 0;
  UINT32 Version = 0;
  EFI_STATUS Status = gBS->GetMemoryMap(&MapSize, nullptr, &MapKey, &DescriptorSize, &Version);
  // The map is read into SMRAM, which does not change it; a few tries cover a
  // map that grows in between all the same.
  for (UINTN Try = 0; Try < 4 && Status == EFI_BUFFER_TOO_SMALL; Try++) {
    if (Buffer != nullptr) gSmst->SmmFreePool(Buffer);
    Buffer = nullptr;
    UINTN Room = 0;
    if (__builtin_add_overflow(MapSize, 8 * DescriptorSize, &Room) ||
        EFI_ERROR(gSmst->SmmAllocatePool(EfiRuntimeServicesData, Room, (VOID **)&Buffer))) {
      Buffer = nullptr;
      break;
    }
    MapSize = Room;
    Status = gBS->GetMemoryMap(&MapSize, (EFI_MEMORY_DESCRIPTOR *)Buffer, &MapKey, &DescriptorSize, &Version);
  }
  if (Buffer != nullptr && Status == EFI_SUCCESS && DescriptorSize >= sizeof(EFI_MEMORY_DESCRIPTOR)) {
    UsableRanges = (MEMORY_RANGE *)Buffer;
    UsableRangeCount = UsableRangesOf(Buffer, MapSize, DescriptorSize);
    MapTaken = 1;
  } else if (Buffer != nullptr) {
    gSmst->SmmFreePool(Buffer);
  }
}

EFI_STATUS EFIAPI EndOfDxe(const EFI_GUID *, VOID *, EFI_HANDLE) {
  TakeMemoryMap();
  return EFI_SUCCESS;
}

// From the lock point on, code outside SMRAM (boot services among it) is not
// called any more: without a map by then, nothing is vouched for.
EFI_STATUS EFIAPI ReadyToLock(const EFI_GUID *, VOID *, EFI_HANDLE) {
  Locked = 1;
  return EFI_SUCCESS;
}

VOID ReleaseAll(VOID) {
  if (EndOfDxeRegistration != nullptr) gSmst->SmmRegisterProtocolNotify(&gEfiSmmEndOfDxeProtocolGuid, nullptr, &EndOfDxeRegistration);
  if (ReadyToLockRegistration != nullptr)
    gSmst->SmmRegisterProtocolNotify(&gEfiSmmReadyToLockProtocolGuid, nullptr, &ReadyToLockRegistration);
  if (SmramRanges != nullptr) gSmst->SmmFreePool(SmramRanges);
  if (UsableRanges != nullptr) gSmst->SmmFreePool(UsableRanges);
  EndOfDxeRegistration = ReadyToLockRegistration = nullptr;
  SmramRanges = UsableRanges = nullptr;
  SmramRangeCount = UsableRangeCount = 0;
}

}  // namespace

EFI_EXTERN_C EFI_STATUS EFIAPI BufferCheckSmmEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  if (EFI_STATUS Kept = AdapterKeepTables(ImageHandle, SystemTable); EFI_ERROR(Kept)) return Kept;
  gSmst = nullptr;
  MapTaken = Locked = 0;
  SmramRanges = UsableRanges = nullptr;
  SmramRangeCount = UsableRangeCount = 0;
  EndOfDxeRegistration = ReadyToLockRegistration = nullptr;
  CheckHandle = nullptr;

  EFI_STATUS Status = AdapterLocateSmst(&gSmst);
  if (EFI_ERROR(Status)) return Status;

  // Without the SMRAM map no buffer can be vouched for: better no check at all.
  Status = TakeSmramMap();
  if (!EFI_ERROR(Status)) Status = gSmst->SmmRegisterProtocolNotify(&gEfiSmmEndOfDxeProtocolGuid, EndOfDxe, &EndOfDxeRegistration);
  if (!EFI_ERROR(Status)) Status = gSmst->SmmRegisterProtocolNotify(&gEfiSmmReadyToLockProtocolGuid, ReadyToLock, &ReadyToLockRegistration);
  if (!EFI_ERROR(Status)) {
    // Started after the end of DXE: the map is taken now, unless the lock
    // point has passed too.
    VOID *Interface = nullptr;
    Locked = !EFI_ERROR(gSmst->SmmLocateProtocol(&gEfiSmmReadyToLockProtocolGuid, nullptr, &Interface));
    if (!Locked && !EFI_ERROR(gSmst->SmmLocateProtocol(&gEfiSmmEndOfDxeProtocolGuid, nullptr, &Interface))) TakeMemoryMap();
    BufferCheck.CheckBuffer = CheckBuffer;
    Status = gSmst->SmmInstallProtocolInterface(&CheckHandle, &gSmmBufferCheckProtocolGuid, EFI_NATIVE_INTERFACE, &BufferCheck);
  }
  if (EFI_ERROR(Status)) ReleaseAll();
  return Status;
}
