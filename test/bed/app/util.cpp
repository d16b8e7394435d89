// SPDX-License-Identifier: BSD-2-Clause-Patent
// Helpers of the test application: files and images of the test disk,
// stand-in drivers, variables, memory searches and requests to the runner.
#include "test/bed/app/app.h"

static const EFI_GUID LoadedImageGuid = EFI_LOADED_IMAGE_PROTOCOL_GUID;
static const EFI_GUID DevicePathGuid = EFI_DEVICE_PATH_PROTOCOL_GUID;
static const EFI_GUID FileSystemGuid = EFI_SIMPLE_FILE_SYSTEM_PROTOCOL_GUID;
static const EFI_GUID FileInfoGuid = EFI_FILE_INFO_GUID;

BOOLEAN BedMemEqual(const VOID *A, const VOID *B, UINTN Length) {
  const UINT8 *a = (const UINT8 *)A, *b = (const UINT8 *)B;
  for (UINTN i = 0; i < Length; i++)
    if (a[i] != b[i]) return 0;
  return 1;
}

void BedHexDump(const CHAR8 *Label, const VOID *Data, UINTN Length) {
  const UINT8 *p = (const UINT8 *)Data;
  BedPrint("@bed note %a:", Label);
  for (UINTN i = 0; i < Length; i++) BedPrint(" %02x", p[i]);
  BedWrite("\n");
}

UINT32 BedFamily(UINT32 Leaf) {
  UINT32 eax, ebx, ecx, edx;
  __asm__ volatile("cpuid" : "=a"(eax), "=b"(ebx), "=c"(ecx), "=d"(edx) : "a"(Leaf), "c"(0));
  return eax & 0x0FFF0F00;
}

// ---- Runner requests ----

void BedShot(const CHAR8 *Name) {
  // Let the repaint timer catch up first, then give the runner time to take
  // the screenshot while nothing changes on the screen.
  gBS->Stall(400 * 1000);
  BedPrint("@bed shot %a\n", Name);
  gBS->Stall(1200 * 1000);
}

void BedKeys(const CHAR8 *Keys) { BedPrint("@bed keys %a\n", Keys); }

void BedTimeStart(const CHAR8 *Name) { BedPrint("@bed time %a start\n", Name); }

void BedTimeStop(const CHAR8 *Name, UINTN ExpectMs) { BedPrint("@bed time %a stop %u\n", Name, (UINT32)ExpectMs); }

// ---- Files and images ----

EFI_LOADED_IMAGE_PROTOCOL *BedLoadedImage(EFI_HANDLE Image) {
  VOID *li = nullptr;
  if (EFI_ERROR(gBS->HandleProtocol(Image, &LoadedImageGuid, &li))) return nullptr;
  return (EFI_LOADED_IMAGE_PROTOCOL *)li;
}

static EFI_STATUS OpenRoot(EFI_FILE_PROTOCOL **Root) {
  EFI_LOADED_IMAGE_PROTOCOL *self = BedLoadedImage(gBedImage);
  if (self == nullptr) return EFI_NOT_FOUND;
  VOID *fs = nullptr;
  EFI_STATUS status = gBS->HandleProtocol(self->DeviceHandle, &FileSystemGuid, &fs);
  if (EFI_ERROR(status)) return status;
  return ((EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *)fs)->OpenVolume((EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *)fs, Root);
}

EFI_STATUS BedReadFile(const CHAR16 *Path, VOID **Data, UINTN *Size) {
  EFI_FILE_PROTOCOL *root = nullptr, *file = nullptr;
  EFI_STATUS status = OpenRoot(&root);
  if (EFI_ERROR(status)) return status;
  status = root->Open(root, &file, (CHAR16 *)Path, EFI_FILE_MODE_READ, 0);
  root->Close(root);
  if (EFI_ERROR(status)) return status;
  UINT8 infoBuffer[SIZE_OF_EFI_FILE_INFO + 512];
  UINTN infoSize = sizeof infoBuffer;
  status = file->GetInfo(file, &FileInfoGuid, &infoSize, infoBuffer);
  if (!EFI_ERROR(status)) {
    UINTN size = (UINTN)((EFI_FILE_INFO *)infoBuffer)->FileSize;
    VOID *data = nullptr;
    status = gBS->AllocatePool(EfiBootServicesData, size ? size : 1, &data);
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
  }
  file->Close(file);
  return status;
}

// Checks a stored variable's attributes (non-volatile, boot and runtime
// access), size and bytes.
void BedExpectVariable(const EFI_GUID &Guid, const CHAR16 *Name, const UINT8 *Expected, UINTN Size) {
  UINT8 data[1400];
  UINTN size = sizeof data;
  UINT32 attributes = 0;
  EFI_STATUS status = BedGetVariable(Name, Guid, data, &size, &attributes);
  BED_REQUIRE(!EFI_ERROR(status), "variable %s: %r", Name, status);
  BED_CHECK(attributes == 7, "variable %s attributes %x", Name, attributes);
  BED_CHECK(size == Size, "variable %s is %u bytes, expected %u", Name, (UINT32)size, (UINT32)Size);
  for (UINTN i = 0; i < size && i < Size; i++) {
    if (data[i] == Expected[i]) continue;
    BedFail("variable %s byte %u is %02x, expected %02x", Name, (UINT32)i, data[i], Expected[i]);
    return;
  }
}

static UINTN DevicePathSize(const EFI_DEVICE_PATH_PROTOCOL *Path) {
  const UINT8 *p = (const UINT8 *)Path;
  for (;;) {
    const EFI_DEVICE_PATH_PROTOCOL *node = (const EFI_DEVICE_PATH_PROTOCOL *)p;
    UINTN length = node->Length[0] | (node->Length[1] << 8);
    if (node->Type == 0x7F && node->SubType == 0xFF) return (UINTN)(p - (const UINT8 *)Path);
    if (length < 4) return (UINTN)(p - (const UINT8 *)Path);  // malformed: stop here
    p += length;
  }
}

EFI_STATUS BedLoadImage(const CHAR16 *Name, EFI_HANDLE *Image) {
  EFI_LOADED_IMAGE_PROTOCOL *self = BedLoadedImage(gBedImage);
  if (self == nullptr) return EFI_NOT_FOUND;
  VOID *devicePath = nullptr;
  EFI_STATUS status = gBS->HandleProtocol(self->DeviceHandle, &DevicePathGuid, &devicePath);
  if (EFI_ERROR(status)) return status;

  CHAR16 path[80];
  const CHAR16 prefix[] = u"\\efi\\";
  const CHAR16 suffix[] = u".efi";
  UINTN n = 0;
  for (UINTN i = 0; prefix[i]; i++) path[n++] = prefix[i];
  for (UINTN i = 0; Name[i] && n < 70; i++) path[n++] = Name[i];
  for (UINTN i = 0; suffix[i]; i++) path[n++] = suffix[i];
  path[n++] = 0;

  UINTN head = DevicePathSize((const EFI_DEVICE_PATH_PROTOCOL *)devicePath);
  UINTN fileNode = 4 + n * sizeof(CHAR16);
  UINT8 *full = nullptr;
  status = gBS->AllocatePool(EfiBootServicesData, head + fileNode + 4, (VOID **)&full);
  if (EFI_ERROR(status)) return status;
  gBS->CopyMem(full, devicePath, head);
  UINT8 *node = full + head;
  node[0] = 4;  // media device path
  node[1] = 4;  // file path
  node[2] = (UINT8)fileNode;
  node[3] = (UINT8)(fileNode >> 8);
  gBS->CopyMem(node + 4, path, n * sizeof(CHAR16));
  UINT8 *end = node + fileNode;
  end[0] = 0x7F;
  end[1] = 0xFF;
  end[2] = 4;
  end[3] = 0;
  status = gBS->LoadImage(0, gBedImage, (EFI_DEVICE_PATH_PROTOCOL *)full, nullptr, 0, Image);
  gBS->FreePool(full);
  return status;
}

EFI_STATUS BedLoadAndStart(const CHAR16 *Name, EFI_HANDLE *Image, EFI_STATUS *EntryStatus) {
  EFI_STATUS status = BedLoadImage(Name, Image);
  if (EFI_ERROR(status)) {
    BedPrint("@bed note LoadImage %s: %r\n", Name, status);
    return status;
  }
  BedPrint("@bed note start %s\n", Name);
  *EntryStatus = gBS->StartImage(*Image, nullptr, nullptr);
  BedPrint("@bed note started %s: %r\n", Name, *EntryStatus);
  return EFI_SUCCESS;
}

EFI_STATUS BedLoadStandIn(const CHAR16 *Name, EFI_HANDLE *Image) {
  EFI_STATUS entry = EFI_SUCCESS;
  EFI_STATUS status = BedLoadAndStart(Name, Image, &entry);
  if (EFI_ERROR(status)) return status;
  if (EFI_ERROR(entry)) BedPrint("@bed note stand-in %s: %r\n", Name, entry);
  return entry;
}

EFI_STATUS BedUnloadStandIn(EFI_HANDLE Image) {
  EFI_STATUS status = gBS->UnloadImage(Image);
  BedPrint("@bed note unloaded a stand-in: %r\n", status);
  return status;
}

VOID *BedLocate(const EFI_GUID &Guid) {
  VOID *iface = nullptr;
  if (EFI_ERROR(gBS->LocateProtocol(&Guid, nullptr, &iface))) return nullptr;
  return iface;
}

// ---- Variables ----

EFI_STATUS BedSetVariable(const CHAR16 *Name, const EFI_GUID &Guid, const VOID *Data, UINTN Size) {
  return gRT->SetVariable(Name, &Guid, EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS | EFI_VARIABLE_RUNTIME_ACCESS, Size,
                          Data);
}

EFI_STATUS BedDeleteVariable(const CHAR16 *Name, const EFI_GUID &Guid) {
  EFI_STATUS status = gRT->SetVariable(Name, &Guid, 0, 0, nullptr);
  return status == EFI_NOT_FOUND ? EFI_SUCCESS : status;
}

EFI_STATUS BedGetVariable(const CHAR16 *Name, const EFI_GUID &Guid, VOID *Buffer, UINTN *Size, UINT32 *Attributes) {
  return gRT->GetVariable(Name, &Guid, Attributes, Size, Buffer);
}

// ---- Memory and events ----

const UINT8 *BedFindInImage(EFI_HANDLE Image, const VOID *Pattern, UINTN Length) {
  EFI_LOADED_IMAGE_PROTOCOL *li = BedLoadedImage(Image);
  if (li == nullptr || Length == 0 || li->ImageSize < Length) return nullptr;
  const UINT8 *base = (const UINT8 *)li->ImageBase;
  for (UINTN i = 0; i + Length <= li->ImageSize; i++)
    if (BedMemEqual(base + i, Pattern, Length)) return base + i;
  return nullptr;
}

static VOID EFIAPI NoNotify(EFI_EVENT, VOID *) {}

EFI_STATUS BedSignalGroup(const EFI_GUID &Group) {
  EFI_EVENT event = nullptr;
  EFI_STATUS status = gBS->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, NoNotify, nullptr, &Group, &event);
  if (EFI_ERROR(status)) return status;
  status = gBS->SignalEvent(event);
  gBS->CloseEvent(event);
  return status;
}

// ---- Scenario results, in the line protocol the runner reads ----

static UINTN Failures;
static const CHAR8 *CurrentScenario = "";

void EFIAPI BedFail(const CHAR8 *Format, ...) {
  Failures++;
  BedPrint("@bed check %a ", CurrentScenario);
  EFI_VA_LIST args;
  EFI_VA_START(args, Format);
  BedPrintV(Format, args);
  EFI_VA_END(args);
  BedWrite("\n");
}

UINTN BedFailures() { return Failures; }

void BedBeginScenario(const CHAR8 *Name) {
  CurrentScenario = Name;
  Failures = 0;
  BedPrint("@bed start %a\n", Name);
}

void BedEndScenario() { BedPrint("@bed result %a %a\n", CurrentScenario, Failures ? "fail" : "pass"); }
