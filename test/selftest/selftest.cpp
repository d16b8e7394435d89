// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "selftest.h"

static EFI_BOOT_SERVICES *gBS;
static const EFI_GUID gSelfTestProtocolGuid = SELFTEST_PROTOCOL_GUID;
static const EFI_GUID gLoadedImageGuid = EFI_LOADED_IMAGE_PROTOCOL_GUID;

static UINT64 EFIAPI Sum(UINT64 a, UINT64 b) { return a + b; }

static UINT64 EFIAPI CallCount(void) {
  static UINT64 calls;  // a function-local static: needs -fno-threadsafe-statics
  return ++calls;
}

// A frame over 4 KiB, filled and copied: the compiler emits memset/memcpy and,
// without -mno-stack-arg-probe, a __chkstk call.
static UINT64 FrameChecksum(UINT8 seed) {
  UINT8 a[5000];
  UINT8 b[5000];
  __builtin_memset(a, seed, sizeof a);
  a[4999] = 1;
  __builtin_memcpy(b, a, sizeof b);
  UINT64 sum = 0;
  for (UINTN i = 0; i < sizeof b; i++) sum = sum * 31 + b[i];
  return sum;
}

EFI_STATUS EFIAPI SelfTestEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  gBS = SystemTable->BootServices;
  SELFTEST_PROTOCOL *proto;
  EFI_STATUS status = gBS->AllocatePool(EfiBootServicesData, sizeof *proto, (VOID **)&proto);
  if (EFI_ERROR(status)) return status;
  gBS->SetMem(proto, sizeof *proto, 0);
  proto->Revision = 1;
  proto->EntryChecksum = FrameChecksum(0x5A);
  proto->Sum = Sum;
  proto->CallCount = CallCount;

  EFI_HANDLE handle = ImageHandle;
  status = gBS->InstallProtocolInterface(&handle, &gSelfTestProtocolGuid, EFI_NATIVE_INTERFACE, proto);
  if (EFI_ERROR(status)) {
    gBS->FreePool(proto);
    return status;
  }
  EFI_LOADED_IMAGE_PROTOCOL *image;
  status = gBS->OpenProtocol(ImageHandle, &gLoadedImageGuid, (VOID **)&image, ImageHandle, nullptr, EFI_OPEN_PROTOCOL_GET_PROTOCOL);
  if (!EFI_ERROR(status)) image->Unload = SelfTestUnload;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI SelfTestUnload(EFI_HANDLE ImageHandle) {
  SELFTEST_PROTOCOL *proto;
  EFI_STATUS status = gBS->HandleProtocol(ImageHandle, &gSelfTestProtocolGuid, (VOID **)&proto);
  if (EFI_ERROR(status)) return status;
  status = gBS->UninstallProtocolInterface(ImageHandle, &gSelfTestProtocolGuid, proto);
  if (EFI_ERROR(status)) return status;
  gBS->FreePool(proto);
  return EFI_SUCCESS;
}
