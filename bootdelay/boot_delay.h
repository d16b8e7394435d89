// BootDelayDxe's step and the table pointers it keeps for its own calls.
#pragma once
#include "efi/efi.h"

extern EFI_SYSTEM_TABLE *gBootDelaySystemTable;
extern EFI_BOOT_SERVICES *gBootDelayBootServices;
extern EFI_RUNTIME_SERVICES *gBootDelayRuntimeServices;

// Stalls one second per second of Setup's boot delay (plus one on family 19h
// models 6xh with an "F" at brand character 16); always EFI_SUCCESS.
EFI_STATUS BootDelay(EFI_SYSTEM_TABLE *SystemTable);

extern "C" EFI_STATUS EFIAPI BootDelayEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);
