// SPDX-License-Identifier: BSD-2-Clause-Patent
// PstateOverrideDxe's step; it reads the tables its entry kept (gRT).
#pragma once
#include "efi/efi.h"

// Vendor GUID of the "TAMDPstateData" variable.
// clang-format off
#define PSTATE_DATA_VARIABLE_GUID {0x5A7935F7, 0xD0A5, 0x4C6D, {0xA1, 0x2F, 0x55, 0x2F, 0xEC, 0x44, 0xDE, 0x60}}
// clang-format on

// Rewrites the P-state definition registers from the stored P-state data on
// family 15h models 6xh; always EFI_SUCCESS.
EFI_STATUS PstateOverride(VOID);

extern "C" EFI_STATUS EFIAPI PstateOverrideEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);
