// SPDX-License-Identifier: BSD-2-Clause-Patent
// Platform bring-up for the demo: the plan the host wrote, firmware volumes
// handed to the DXE core and dispatched, and the images the dispatcher started.
#include "efi/dxe_services.h"
#include "examples/flash_tool/demo.h"

static const EFI_GUID DxeServicesGuid = EFI_DXE_SERVICES_TABLE_GUID;
static const EFI_GUID LoadedImageGuid = EFI_LOADED_IMAGE_PROTOCOL_GUID;

static EFI_DXE_SERVICES *DxeServices() {
  for (UINTN i = 0; i < gST->NumberOfTableEntries; i++) {
    EFI_CONFIGURATION_TABLE *entry = &gST->ConfigurationTable[i];
    if (GuidEqual(entry->VendorGuid, DxeServicesGuid)) {
      EFI_DXE_SERVICES *ds = (EFI_DXE_SERVICES *)entry->VendorTable;
      return ds->Hdr.Signature == EFI_DXE_SERVICES_SIGNATURE ? ds : nullptr;
    }
  }
  return nullptr;
}

// ---- Time ----

UINT64 DemoTicks(VOID) {
  UINT32 lo, hi;
  __asm__ volatile("rdtsc" : "=a"(lo), "=d"(hi));
  return (UINT64)hi << 32 | lo;
}

UINT64 DemoTicksPerMillisecond(VOID) {
  // A stall only ever overruns (the host may run another process meanwhile),
  // which inflates the rate: the least of a few is the truest.
  UINT64 rate = ~0ULL;
  for (int i = 0; i < 3; i++) {
    UINT64 t0 = DemoTicks();
    gBS->Stall(100 * 1000);
    UINT64 r = (DemoTicks() - t0) / 100;
    if (r < rate) rate = r;
  }
  return rate ? rate : 1;
}

// ---- The plan ----

EFI_STATUS DemoReadPlan(DemoPlan *Plan) {
  *Plan = {};
  VOID *data = nullptr;
  UINTN size = 0;
  EFI_STATUS status = DemoReadFile(u"\\demo\\plan.txt", &data, &size);
  if (EFI_ERROR(status)) return status;
  status = DemoParsePlan((const CHAR8 *)data, size, Plan);
  gBS->FreePool(data);
  return status;
}

// ---- Volumes and the dispatcher ----

EFI_STATUS DemoProcessVolume(const CHAR16 *Path) {
  EFI_DXE_SERVICES *ds = DxeServices();
  if (ds == nullptr) return EFI_UNSUPPORTED;
  VOID *data = nullptr;
  UINTN size = 0;
  EFI_STATUS status = DemoReadFile(Path, &data, &size);
  if (EFI_ERROR(status)) return status;
  // The firmware reads the volume in place from now on, so it gets page-aligned
  // memory of its own that is never given back.
  EFI_PHYSICAL_ADDRESS volume = 0;
  status = gBS->AllocatePages(AllocateAnyPages, EfiBootServicesData, (size + 4095) / 4096, &volume);
  if (!EFI_ERROR(status)) {
    gBS->CopyMem((VOID *)(UINTN)volume, data, size);
    EFI_HANDLE handle = nullptr;
    status = ds->ProcessFirmwareVolume((VOID *)(UINTN)volume, size, &handle);
    if (EFI_ERROR(status)) gBS->FreePages(volume, (size + 4095) / 4096);
  }
  gBS->FreePool(data);
  return status;
}

EFI_STATUS DemoDispatch(VOID) {
  EFI_DXE_SERVICES *ds = DxeServices();
  if (ds == nullptr) return EFI_UNSUPPORTED;
  return ds->Dispatch();
}

// The firmware file a loaded image came from: the last node of its file path
// is a firmware-file node (media type 4, sub-type 6) holding the file's name.
static BOOLEAN CameFromFile(EFI_LOADED_IMAGE_PROTOCOL *Image, const EFI_GUID &File) {
  const UINT8 *node = (const UINT8 *)Image->FilePath;
  if (node == nullptr) return 0;
  for (UINTN guard = 0; guard < 64; guard++) {
    UINTN length = node[2] | (UINTN)node[3] << 8;
    if (node[0] == 0x7F || length < 4) return 0;
    if (node[0] == 4 && node[1] == 6 && length == 20) return GuidEqual(*(const EFI_GUID *)(node + 4), File);
    node += length;
  }
  return 0;
}

EFI_HANDLE DemoFindDispatchedImage(const EFI_GUID &File) {
  UINTN count = 0;
  EFI_HANDLE *handles = nullptr;
  if (EFI_ERROR(gBS->LocateHandleBuffer(ByProtocol, &LoadedImageGuid, nullptr, &count, &handles))) return nullptr;
  EFI_HANDLE found = nullptr;
  for (UINTN i = 0; i < count && found == nullptr; i++) {
    EFI_LOADED_IMAGE_PROTOCOL *li = DemoLoadedImage(handles[i]);
    if (li != nullptr && CameFromFile(li, File)) found = handles[i];
  }
  gBS->FreePool(handles);
  return found;
}

// ---- Graphics console ----

static const EFI_GUID GraphicsConsoleGuid = {0xFBC9449A, 0x681C, 0x4517, {0xAB, 0x91, 0x09, 0x72, 0xAC, 0xDE, 0x77, 0xB4}};

EFI_STATUS DemoEnsureGraphicsConsole(VOID) {
  if (DemoLocate(GraphicsConsoleGuid) != nullptr) return EFI_SUCCESS;
  // The board's stand-in, under the names it may carry.
  static const CHAR16 *const Names[] = {u"GraphicsConsoleStandIn", u"AdvancedGcStandIn", u"GcStandIn"};
  for (const CHAR16 *name : Names) {
    EFI_HANDLE image = nullptr;
    EFI_STATUS entry = EFI_SUCCESS;
    if (!EFI_ERROR(DemoLoadAndStart(name, &image, &entry)) && !EFI_ERROR(entry) && DemoLocate(GraphicsConsoleGuid) != nullptr) {
      DemoPrint("@demo graphics-console %s\n", name);
      return EFI_SUCCESS;
    }
  }
  DemoPrint("@demo graphics-console own\n");
  return DemoInstallOwnGraphicsConsole();
}
