// SPDX-License-Identifier: BSD-2-Clause-Patent
// PcdCacheLiteDxe: the library start-up alone, built with the HOB-list lookup
// that yields the pointer.
#include "drvlib/drvlib.h"

extern "C" EFI_STATUS EFIAPI PcdCacheLiteEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  DrvLibStartup(ImageHandle, SystemTable);
  return EFI_SUCCESS;
}
