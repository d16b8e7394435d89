// PstateOverrideDxe's step and the table pointers it keeps for its own calls.
#pragma once
#include "efi/efi.h"

extern EFI_SYSTEM_TABLE *gPstateSystemTable;
extern EFI_RUNTIME_SERVICES *gPstateRuntimeServices;

// Rewrites the P-state definition registers from the stored P-state data on
// family 15h models 6xh; always EFI_SUCCESS.
EFI_STATUS PstateOverride(EFI_SYSTEM_TABLE *SystemTable);

extern "C" EFI_STATUS EFIAPI PstateOverrideEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);
