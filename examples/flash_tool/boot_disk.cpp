// SPDX-License-Identifier: BSD-2-Clause-Patent
// What the tool needs of the disk it was started from: whole files read into
// memory, and images of its \efi folder loaded and started by their path.
#include "examples/flash_tool/demo.h"

static const EFI_GUID LoadedImageGuid = EFI_LOADED_IMAGE_PROTOCOL_GUID;
static const EFI_GUID FileSystemGuid = EFI_SIMPLE_FILE_SYSTEM_PROTOCOL_GUID;
static const EFI_GUID FileInfoGuid = EFI_FILE_INFO_GUID;
static const EFI_GUID DevicePathGuid = EFI_DEVICE_PATH_PROTOCOL_GUID;

VOID *DemoLocate(const EFI_GUID &Guid) {
  VOID *iface = nullptr;
  return EFI_ERROR(gBS->LocateProtocol(&Guid, nullptr, &iface)) ? nullptr : iface;
}

EFI_LOADED_IMAGE_PROTOCOL *DemoLoadedImage(EFI_HANDLE Image) {
  VOID *li = nullptr;
  return EFI_ERROR(gBS->HandleProtocol(Image, &LoadedImageGuid, &li)) ? nullptr : (EFI_LOADED_IMAGE_PROTOCOL *)li;
}

EFI_STATUS DemoReadFile(const CHAR16 *Path, VOID **Data, UINTN *Size) {
  EFI_LOADED_IMAGE_PROTOCOL *self = DemoLoadedImage(gDemoImage);
  if (self == nullptr) return EFI_NOT_FOUND;
  EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *fs = nullptr;
  EFI_STATUS status = gBS->HandleProtocol(self->DeviceHandle, &FileSystemGuid, (VOID **)&fs);
  EFI_FILE_PROTOCOL *root = nullptr, *file = nullptr;
  if (!EFI_ERROR(status)) status = fs->OpenVolume(fs, &root);
  if (EFI_ERROR(status)) return status;
  status = root->Open(root, &file, (CHAR16 *)Path, EFI_FILE_MODE_READ, 0);
  root->Close(root);
  if (EFI_ERROR(status)) return status;
  UINT8 info[SIZE_OF_EFI_FILE_INFO + 512];
  UINTN infoSize = sizeof info;
  status = file->GetInfo(file, &FileInfoGuid, &infoSize, info);
  VOID *data = nullptr;
  UINTN size = EFI_ERROR(status) ? 0 : (UINTN)((EFI_FILE_INFO *)info)->FileSize;
  if (!EFI_ERROR(status)) status = gBS->AllocatePool(EfiBootServicesData, size ? size : 1, &data);
  if (!EFI_ERROR(status)) {
    UINTN read = size;
    status = file->Read(file, &read, data);
    if (!EFI_ERROR(status) && read != size) status = EFI_END_OF_FILE;
    if (EFI_ERROR(status)) {
      gBS->FreePool(data);
    } else {
      *Data = data;
      *Size = size;
    }
  }
  file->Close(file);
  return status;
}

// Loads \efi\<Name>.efi by its device path, so the image carries its file
// path as one the firmware loaded would.
static EFI_STATUS LoadImage(const CHAR16 *Name, EFI_HANDLE *Image) {
  EFI_LOADED_IMAGE_PROTOCOL *self = DemoLoadedImage(gDemoImage);
  if (self == nullptr) return EFI_NOT_FOUND;
  const UINT8 *disk = nullptr;
  EFI_STATUS status = gBS->HandleProtocol(self->DeviceHandle, &DevicePathGuid, (VOID **)&disk);
  if (EFI_ERROR(status)) return status;
  UINTN head = 0;
  for (UINTN length; !(disk[head] == 0x7F && disk[head + 1] == 0xFF); head += length) {
    length = disk[head + 2] | (UINTN)disk[head + 3] << 8;
    if (length < 4) return EFI_INVALID_PARAMETER;
  }
  CHAR16 path[80];
  UINTN n = 0;
  for (const CHAR16 *p = u"\\efi\\"; *p;) path[n++] = *p++;
  for (UINTN i = 0; Name[i] && n < 70; i++) path[n++] = Name[i];
  for (const CHAR16 *p = u".efi"; *p;) path[n++] = *p++;
  path[n++] = 0;
  UINTN node = 4 + n * sizeof(CHAR16);
  UINT8 *full = nullptr;
  status = gBS->AllocatePool(EfiBootServicesData, head + node + 4, (VOID **)&full);
  if (EFI_ERROR(status)) return status;
  gBS->CopyMem(full, (VOID *)disk, head);
  UINT8 *file = full + head;
  file[0] = 4;  // media device path
  file[1] = 4;  // file path
  file[2] = (UINT8)node;
  file[3] = (UINT8)(node >> 8);
  gBS->CopyMem(file + 4, path, n * sizeof(CHAR16));
  UINT8 *end = file + node;
  end[0] = 0x7F;
  end[1] = 0xFF;
  end[2] = 4;
  end[3] = 0;
  status = gBS->LoadImage(0, gDemoImage, (EFI_DEVICE_PATH_PROTOCOL *)full, nullptr, 0, Image);
  gBS->FreePool(full);
  return status;
}

EFI_STATUS DemoLoadAndStart(const CHAR16 *Name, EFI_HANDLE *Image, EFI_STATUS *EntryStatus) {
  EFI_STATUS status = LoadImage(Name, Image);
  if (EFI_ERROR(status)) return status;
  *EntryStatus = gBS->StartImage(*Image, nullptr, nullptr);
  return EFI_SUCCESS;
}
