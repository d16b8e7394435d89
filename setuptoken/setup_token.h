// SPDX-License-Identifier: BSD-2-Clause-Patent
// The Setup token bridge's module-wide values and the pieces that share them:
// the start-up fills the values, the driver entry registers the handler, and
// the handler passes each accepted record to the translation.
#pragma once
#include "efi/debug_print.h"
#include "efi/efi.h"
#include "efi/image_tables.h"
#include "setuptoken/buffer_check.h"
#include "setuptoken/token_service.h"

extern EFI_SMM_SYSTEM_TABLE2 *gSmst;
extern SMM_BUFFER_CHECK_PROTOCOL *gSmmBufferCheck;  // null: every request is refused
extern PCD_PROTOCOL *gPcd;                          // located on first use
extern EFI_HANDLE gDispatchHandle;
extern DEBUG_PRINT_PROTOCOL *gSmmDebugPrint;  // located on first message

extern const EFI_GUID gSettingsRequestGuid;
extern const EFI_GUID gSmmBufferCheckProtocolGuid;
extern const EFI_GUID gTokenServiceProtocolGuid;

EFI_EXTERN_C EFI_STATUS EFIAPI SetupTokenSmmEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);
EFI_STATUS SetupTokenDriverEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);
EFI_STATUS EFIAPI SettingsRequestHandler(EFI_HANDLE DispatchHandle, const VOID *Context, VOID *CommBuffer, UINTN *CommBufferSize);

// Writes every option of the record that is not at its auto value as a token.
EFI_STATUS TranslateSettings(const VOID *Record, TOKEN_SERVICE_PROTOCOL *Service);
