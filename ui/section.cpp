// Raw-section reads from the firmware volumes: every volume that publishes
// the firmware volume protocol is asked in turn, in the order the handle
// database lists them, and the first that has the section answers.
#include "ui/section.h"

#include "ui/status_report.h"


EFI_STATUS ReadRawSection(const EFI_GUID *NameGuid, VOID **Buffer, UINTN *Size, UINTN Instance) {
  if (NameGuid == nullptr || Buffer == nullptr || Size == nullptr) return EFI_INVALID_PARAMETER;

  UINTN count = 0;
  EFI_HANDLE *handles = nullptr;
  EFI_STATUS status = gBS->LocateHandleBuffer(ByProtocol, &gFirmwareVolumeProtocolGuid, nullptr, &count, &handles);
  if (EFI_ERROR(status)) return status;

  EFI_STATUS result = EFI_NOT_FOUND;
  for (UINTN i = 0; i < count; i++) {
    EFI_FIRMWARE_VOLUME2_PROTOCOL *volume = nullptr;
    status = gBS->HandleProtocol(handles[i], &gFirmwareVolumeProtocolGuid, (VOID **)&volume);
    if (EFI_ERROR(status)) {
      result = status;
      break;
    }
    // ReadSection allocates the buffer itself when it is given a null one.
    *Buffer = nullptr;
    *Size = 0;
    UINT32 authentication = 0;
    status = volume->ReadSection(volume, NameGuid, RAW_SECTION_TYPE, Instance, Buffer, Size, &authentication);
    if (!EFI_ERROR(status)) {
      result = EFI_SUCCESS;
      break;
    }
  }
  gBS->FreePool(handles);

  // A failed read must not leave the caller something that looks like a buffer.
  if (EFI_ERROR(result)) {
    *Buffer = nullptr;
    *Size = 0;
  }
  return result;
}
