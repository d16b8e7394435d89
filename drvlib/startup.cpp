// SPDX-License-Identifier: BSD-2-Clause-Patent
// The library start-up that each linked driver runs first in its entry point,
// and the firmware table pointers it keeps.
#include "drvlib/drvlib.h"

EFI_HANDLE gImageHandle;
EFI_SYSTEM_TABLE *gST;
EFI_BOOT_SERVICES *gBS;
EFI_RUNTIME_SERVICES *gRT;

VOID DrvLibKeepTables(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  gImageHandle = ImageHandle;
  gST = SystemTable;
  gBS = SystemTable->BootServices;
  gRT = SystemTable->RuntimeServices;
}

// Step results are ignored on purpose: a missing protocol or table only
// leaves its cache empty, and the driver's own work goes on regardless.
VOID DrvLibStartup(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  if (SystemTable == nullptr || SystemTable->BootServices == nullptr) return;
  DrvLibKeepTables(ImageHandle, SystemTable);
  CfgPcdBufLibDxeConstructor(ImageHandle, SystemTable);
#if DRVLIB_FULL_STARTUP
  RuntimeScratchConstructor();
  PlatformMmioBaseConstructor();
#endif
#if DRVLIB_HOB_YIELDS_POINTER
  LocateHobListPointer();
#else
  LocateHobList();
#endif
#if DRVLIB_FULL_STARTUP
  SmmPresenceConstructor();
#endif
}
