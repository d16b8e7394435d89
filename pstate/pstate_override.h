// PstateOverrideDxe's step; it reads the tables its entry kept (gRT).
#pragma once
#include "efi/efi.h"

// Rewrites the P-state definition registers from the stored P-state data on
// family 15h models 6xh; always EFI_SUCCESS.
EFI_STATUS PstateOverride(VOID);

extern "C" EFI_STATUS EFIAPI PstateOverrideEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);
