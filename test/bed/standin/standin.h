// SPDX-License-Identifier: BSD-2-Clause-Patent
// What every stand-in driver of the test bed shares: the firmware tables and
// installing its interfaces on its own image handle, so that unloading the
// image takes them away again.
#pragma once
#include "test/bed/bed.h"

extern EFI_BOOT_SERVICES *gBS;
extern EFI_SYSTEM_TABLE *gST;

// One interface a stand-in publishes.
struct StandInInterface {
  EFI_GUID Guid;
  VOID *Interface;
};

// Keeps the tables, installs the interfaces on ImageHandle and makes the image
// unloadable with Unload (which should call StandInUninstall).
EFI_STATUS StandInStart(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable, const StandInInterface *Interfaces, UINTN Count,
                        EFI_IMAGE_UNLOAD Unload);
EFI_STATUS StandInUninstall(EFI_HANDLE ImageHandle, const StandInInterface *Interfaces, UINTN Count);
