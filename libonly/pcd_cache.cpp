// SPDX-License-Identifier: BSD-2-Clause-Patent
// PcdCacheDxe: nothing but the library start-up, which caches the platform
// configuration values inside this image.
#include "drvlib/drvlib.h"

extern "C" EFI_STATUS EFIAPI PcdCacheEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  DrvLibStartup(ImageHandle, SystemTable);
  return EFI_SUCCESS;
}
