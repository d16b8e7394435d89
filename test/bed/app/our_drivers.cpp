// SPDX-License-Identifier: BSD-2-Clause-Patent
// The DXE drivers of ours that a firmware dispatcher starts from a volume
// (the board's flash, or drivers.fv handed to the DXE core), and how a boot
// program finds the image the dispatcher made of each.
#include "efi/dxe_services.h"
#include "test/bed/app/app.h"

static const EFI_GUID LoadedImageGuid = EFI_LOADED_IMAGE_PROTOCOL_GUID;
static const EFI_GUID DxeServicesGuid = EFI_DXE_SERVICES_TABLE_GUID;

extern const BedOurDriver BedOurDrivers[BED_OUR_DRIVER_COUNT] = {
    {"TarvexUIV4x64", {0x391081C1, 0xFA9D, 0x4AEB, {0xBC, 0x5D, 0xA1, 0x57, 0x3F, 0x26, 0x9C, 0x2E}}, 0},
    {"NetIdentityDxe", {0xC34A3A5A, 0xBF3A, 0x4F73, {0xBF, 0x40, 0xE7, 0xF9, 0x82, 0x3B, 0xE4, 0x4E}}, 1},
    {"BootDelayDxe", {0x99D82239, 0x6836, 0x4747, {0xA5, 0x22, 0x20, 0xF7, 0x1C, 0xCE, 0xAA, 0x01}}, 1},
    {"PstateOverrideDxe", {0x0A999C5B, 0x161A, 0x424F, {0x9F, 0xF8, 0xBE, 0x9B, 0x7B, 0xE9, 0x94, 0xA6}}, 1},
    {"PcdCacheDxe", {0xA564EEF6, 0xED30, 0x4DF5, {0xB1, 0xCD, 0x06, 0x42, 0x3A, 0xD4, 0x68, 0xF3}}, 1},
    {"PcdCacheLiteDxe", {0x95C8BF7A, 0xE948, 0x425D, {0xAB, 0x69, 0x4A, 0xCD, 0xEA, 0xA5, 0x2B, 0xBF}}, 1},
};

EFI_HANDLE BedDispatchedImage(const EFI_GUID &File) {
  UINTN count = 0;
  EFI_HANDLE *handles = nullptr;
  if (EFI_ERROR(gBS->LocateHandleBuffer(ByProtocol, &LoadedImageGuid, nullptr, &count, &handles))) return nullptr;
  EFI_HANDLE found = nullptr;
  for (UINTN i = 0; i < count && !found; i++) {
    EFI_LOADED_IMAGE_PROTOCOL *li = BedLoadedImage(handles[i]);
    for (const UINT8 *p = li ? (const UINT8 *)li->FilePath : nullptr; p && p[0] != 0x7F;) {
      UINT16 len = (UINT16)(p[2] | (p[3] << 8));
      if (len < 4) break;
      if (p[0] == 4 && p[1] == 6 && len == 20 && GuidEqual(*(const EFI_GUID *)(p + 4), File)) found = handles[i];
      p += len;
    }
  }
  gBS->FreePool(handles);
  return found;
}

static EFI_DXE_SERVICES *DxeServices() {
  for (UINTN i = 0; i < gST->NumberOfTableEntries; i++)
    if (GuidEqual(gST->ConfigurationTable[i].VendorGuid, DxeServicesGuid)) return (EFI_DXE_SERVICES *)gST->ConfigurationTable[i].VendorTable;
  return nullptr;
}

EFI_STATUS BedProcessVolume(const CHAR16 *Path) {
  EFI_DXE_SERVICES *ds = DxeServices();
  if (ds == nullptr) return EFI_UNSUPPORTED;
  VOID *data = nullptr;
  UINTN size = 0;
  EFI_STATUS status = BedReadFile(Path, &data, &size);
  if (EFI_ERROR(status)) return status;
  // The firmware reads the volume in place from now on: it keeps these pages.
  EFI_PHYSICAL_ADDRESS volume = 0;
  status = gBS->AllocatePages(AllocateAnyPages, EfiBootServicesData, EFI_SIZE_TO_PAGES(size), &volume);
  if (!EFI_ERROR(status)) {
    gBS->CopyMem((VOID *)(UINTN)volume, data, size);
    EFI_HANDLE handle = nullptr;
    status = ds->ProcessFirmwareVolume((VOID *)(UINTN)volume, size, &handle);
    if (EFI_ERROR(status)) gBS->FreePages(volume, EFI_SIZE_TO_PAGES(size));
  }
  gBS->FreePool(data);
  return status;
}

EFI_STATUS BedDispatch() {
  EFI_DXE_SERVICES *ds = DxeServices();
  return ds == nullptr ? EFI_UNSUPPORTED : ds->Dispatch();
}
