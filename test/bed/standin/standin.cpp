// SPDX-License-Identifier: BSD-2-Clause-Patent
// Installing and removing a stand-in's interfaces on its image handle.
#include "test/bed/standin/standin.h"

EFI_BOOT_SERVICES *gBS;
EFI_SYSTEM_TABLE *gST;

static const EFI_GUID LoadedImageGuid = EFI_LOADED_IMAGE_PROTOCOL_GUID;

EFI_STATUS StandInUninstall(EFI_HANDLE ImageHandle, const StandInInterface *Interfaces, UINTN Count) {
  EFI_STATUS result = EFI_SUCCESS;
  for (UINTN i = 0; i < Count; i++) {
    EFI_STATUS status = gBS->UninstallProtocolInterface(ImageHandle, &Interfaces[i].Guid, Interfaces[i].Interface);
    if (EFI_ERROR(status) && status != EFI_NOT_FOUND) result = status;
  }
  return result;
}

EFI_STATUS StandInStart(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable, const StandInInterface *Interfaces, UINTN Count,
                        EFI_IMAGE_UNLOAD Unload) {
  gST = SystemTable;
  gBS = SystemTable->BootServices;
  for (UINTN i = 0; i < Count; i++) {
    EFI_HANDLE handle = ImageHandle;
    EFI_STATUS status = gBS->InstallProtocolInterface(&handle, &Interfaces[i].Guid, EFI_NATIVE_INTERFACE, Interfaces[i].Interface);
    if (EFI_ERROR(status)) {
      StandInUninstall(ImageHandle, Interfaces, i);
      return status;
    }
  }
  VOID *li = nullptr;
  if (!EFI_ERROR(gBS->HandleProtocol(ImageHandle, &LoadedImageGuid, &li))) ((EFI_LOADED_IMAGE_PROTOCOL *)li)->Unload = Unload;
  return EFI_SUCCESS;
}
