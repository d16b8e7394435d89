// BootDelayDxe's step; it reads the tables its entry kept (gBS, gRT).
#pragma once
#include "efi/efi.h"

// Stalls one second per second of Setup's boot delay (plus one on family 19h
// models 6xh with an "F" at brand character 16); always EFI_SUCCESS.
EFI_STATUS BootDelay(VOID);

extern "C" EFI_STATUS EFIAPI BootDelayEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);
