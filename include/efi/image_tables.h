// SPDX-License-Identifier: BSD-2-Clause-Patent
// The firmware's tables, one set per image: the image's entry point keeps them
// once (through its library start-up) and every other file reads them here.
#pragma once
#include "efi/efi.h"

extern EFI_HANDLE gImageHandle;
extern EFI_SYSTEM_TABLE *gST;
extern EFI_BOOT_SERVICES *gBS;
extern EFI_RUNTIME_SERVICES *gRT;
