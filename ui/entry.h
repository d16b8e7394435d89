// SPDX-License-Identifier: BSD-2-Clause-Patent
// The UI driver's entry point, its unload function and the protocol functions
// besides Run that callers use while a run is in progress.
#pragma once
#include "efi/efi.h"
#include "ui_screen.h"

EFI_EXTERN_C EFI_STATUS EFIAPI UiScreenEntryPoint(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);
EFI_STATUS EFIAPI DriverUnload(EFI_HANDLE ImageHandle);

UINTN EFIAPI Print(UI_TEXT_POSITION *Position, UINT32 *Attribute, const CHAR16 *Format, ...);
EFI_STATUS EFIAPI Clear(UINT32 Window, UINT64 *Attribute);
EFI_STATUS EFIAPI ClearLine(UINT32 Window, UINT64 Row, UINT64 *Attribute);
EFI_STATUS EFIAPI NoOperation(VOID);
EFI_STATUS EFIAPI DrawProgressFrame(VOID);
EFI_STATUS EFIAPI SetProgress(UINT8 Percent, UINT32 Style);
