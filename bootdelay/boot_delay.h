// SPDX-License-Identifier: BSD-2-Clause-Patent
// BootDelayDxe's step; it reads the tables its entry kept (gBS, gRT).
#pragma once
#include "efi/efi.h"

// Vendor GUID of the "Setup" variable.
// clang-format off
#define SETUP_VARIABLE_GUID {0xEC87D643, 0xEBA4, 0x4BB5, {0xA1, 0xE5, 0x3F, 0x3E, 0x36, 0xB2, 0x0D, 0xA9}}
// clang-format on

// Stalls one second per second of Setup's boot delay (plus one on family 19h
// models 6xh with an "F" at brand character 16); always EFI_SUCCESS.
EFI_STATUS BootDelay(VOID);

extern "C" EFI_STATUS EFIAPI BootDelayEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);
