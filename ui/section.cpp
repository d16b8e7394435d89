// SPDX-License-Identifier: BSD-2-Clause-Patent
// Raw-section reads from the firmware volumes: every volume that publishes
// the firmware volume protocol is asked in turn, in the order the handle
// database lists them, and the first that has the section answers.
#include "ui/section.h"

#include "ui/status_report.h"

EFI_STATUS ReadRawSection(const EFI_GUID *NameGuid, VOID **Buffer, UINTN *Size, UINTN Instance) {
  if (NameGuid == nullptr || Buffer == nullptr || Size == nullptr) return EFI_INVALID_PARAMETER;

  UINTN Count = 0;
  EFI_HANDLE *Handles = nullptr;
  EFI_STATUS Status = gBS->LocateHandleBuffer(ByProtocol, &gFirmwareVolumeProtocolGuid, nullptr, &Count, &Handles);
  if (EFI_ERROR(Status)) return Status;

  EFI_STATUS Result = EFI_NOT_FOUND;
  for (UINTN i = 0; i < Count; i++) {
    EFI_FIRMWARE_VOLUME2_PROTOCOL *Volume = nullptr;
    Status = gBS->HandleProtocol(Handles[i], &gFirmwareVolumeProtocolGuid, (VOID **)&Volume);
    if (EFI_ERROR(Status)) {
      Result = Status;
      break;
    }
    // ReadSection allocates the buffer itself when it is given a null one.
    *Buffer = nullptr;
    *Size = 0;
    UINT32 Authentication = 0;
    Status = Volume->ReadSection(Volume, NameGuid, RAW_SECTION_TYPE, Instance, Buffer, Size, &Authentication);
    if (!EFI_ERROR(Status)) {
      Result = EFI_SUCCESS;
      break;
    }
  }
  gBS->FreePool(Handles);

  // A failed read must not leave the caller something that looks like a buffer.
  if (EFI_ERROR(Result)) {
    *Buffer = nullptr;
    *Size = 0;
  }
  return Result;
}
