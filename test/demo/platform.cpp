// Platform bring-up for the demo: the plan the host wrote, firmware volumes
// handed to the DXE core and dispatched, and the images the dispatcher started.
#include "efi/dxe_services.h"
#include "test/demo/demo.h"

static const EFI_GUID DxeServicesGuid = EFI_DXE_SERVICES_TABLE_GUID;
static const EFI_GUID LoadedImageGuid = EFI_LOADED_IMAGE_PROTOCOL_GUID;

static EFI_DXE_SERVICES *DxeServices() {
  for (UINTN i = 0; i < gST->NumberOfTableEntries; i++) {
    EFI_CONFIGURATION_TABLE *entry = &gST->ConfigurationTable[i];
    if (BedGuidEqual(entry->VendorGuid, DxeServicesGuid)) {
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
  UINT64 t0 = DemoTicks();
  gBS->Stall(100 * 1000);
  UINT64 rate = (DemoTicks() - t0) / 100;
  return rate ? rate : 1;
}

// ---- The plan ----

static INT32 HexValue(CHAR8 c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

BOOLEAN DemoParseGuid(const CHAR8 *Text, EFI_GUID *Guid) {
  // Registry form: the first three groups are stored little-endian, the last
  // two as the bytes they spell.
  static const UINT8 Groups[] = {8, 4, 4, 4, 12};
  UINT8 bytes[16];
  UINTN at = 0, n = 0;
  for (UINTN g = 0; g < 5; g++) {
    if (g > 0 && Text[at++] != '-') return 0;
    for (UINTN i = 0; i < Groups[g]; i += 2) {
      INT32 hi = HexValue(Text[at]);
      INT32 lo = hi < 0 ? -1 : HexValue(Text[at + 1]);
      if (lo < 0) return 0;
      bytes[n++] = (UINT8)(hi << 4 | lo);
      at += 2;
    }
  }
  Guid->Data1 = (UINT32)bytes[0] << 24 | (UINT32)bytes[1] << 16 | (UINT32)bytes[2] << 8 | bytes[3];
  Guid->Data2 = (UINT16)(bytes[4] << 8 | bytes[5]);
  Guid->Data3 = (UINT16)(bytes[6] << 8 | bytes[7]);
  for (UINTN i = 0; i < 8; i++) Guid->Data4[i] = bytes[8 + i];
  return 1;
}

EFI_STATUS DemoReadPlan(DemoPlan *Plan) {
  *Plan = {};
  VOID *data = nullptr;
  UINTN size = 0;
  EFI_STATUS status = BedReadFile(u"\\demo\\plan.txt", &data, &size);
  if (EFI_ERROR(status)) return status;
  const CHAR8 *text = (const CHAR8 *)data;
  UINTN line = 0;
  for (UINTN at = 0; at < size;) {
    UINTN end = at;
    while (end < size && text[end] != '\n') end++;
    UINTN length = end - at;
    if (line == 0) {
      UINTN n = 0;
      for (; n < length && n + 1 < sizeof Plan->Mode && text[at + n] > ' '; n++) Plan->Mode[n] = text[at + n];
      Plan->Mode[n] = 0;
    } else if (length >= 38 && Plan->DriverCount < DEMO_MAX_DRIVERS) {
      DemoDriver *d = &Plan->Drivers[Plan->DriverCount];
      if (DemoParseGuid(text + at, &d->File) && text[at + 36] == ' ') {
        UINTN n = 0;
        for (UINTN i = at + 37; i < end && text[i] > ' ' && n + 1 < sizeof d->Name; i++) d->Name[n++] = text[i];
        d->Name[n] = 0;
        Plan->DriverCount++;
      }
    }
    line++;
    at = end + 1;
  }
  gBS->FreePool(data);
  return Plan->Mode[0] ? EFI_SUCCESS : EFI_NOT_FOUND;
}

// ---- Volumes and the dispatcher ----

EFI_STATUS DemoProcessVolume(const CHAR16 *Path) {
  EFI_DXE_SERVICES *ds = DxeServices();
  if (ds == nullptr) return EFI_UNSUPPORTED;
  VOID *data = nullptr;
  UINTN size = 0;
  EFI_STATUS status = BedReadFile(Path, &data, &size);
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
    if (node[0] == 4 && node[1] == 6 && length == 20) return BedMemEqual(node + 4, &File, sizeof File);
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
    EFI_LOADED_IMAGE_PROTOCOL *li = BedLoadedImage(handles[i]);
    if (li != nullptr && CameFromFile(li, File)) found = handles[i];
  }
  gBS->FreePool(handles);
  return found;
}

// ---- Graphics console ----

static const EFI_GUID GraphicsConsoleGuid = {0xFBC9449A, 0x681C, 0x4517, {0xAB, 0x91, 0x09, 0x72, 0xAC, 0xDE, 0x77, 0xB4}};

EFI_STATUS DemoEnsureGraphicsConsole(VOID) {
  if (BedLocate(GraphicsConsoleGuid) != nullptr) return EFI_SUCCESS;
  // The test bed's stand-in, under the names it may carry.
  static const CHAR16 *const Names[] = {u"GraphicsConsoleStandIn", u"AdvancedGcStandIn", u"GcStandIn"};
  for (const CHAR16 *name : Names) {
    EFI_HANDLE image = nullptr;
    if (!EFI_ERROR(BedLoadStandIn(name, &image)) && BedLocate(GraphicsConsoleGuid) != nullptr) {
      BedPrint("@demo graphics-console %s\n", name);
      return EFI_SUCCESS;
    }
  }
  BedPrint("@demo graphics-console own\n");
  return DemoInstallOwnGraphicsConsole();
}
