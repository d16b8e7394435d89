// SPDX-License-Identifier: BSD-2-Clause-Patent
// The UI driver's status-code reporting, and the library start-up it needs:
// the firmware table pointers every other file of the driver uses, and debug
// messages and assertions sent to the firmware's status-code service.
#pragma once
#include "efi/efi.h"
#include "efi/image_tables.h"
#include "efi/status_code.h"

// Debug levels; a message is reported when its level shares a bit with the mask.
#define EFI_D_INIT 0x00000001
#define EFI_D_WARN 0x00000002
#define EFI_D_LOAD 0x00000004
#define EFI_D_INFO 0x00000040
#define EFI_D_ERROR 0x80000000
#define DEBUG_MASK_DEFAULT 0x80000004ULL

// Keeps the table pointers and looks up the debug mask on the image handle.
// Runs at load and again at the start of every run; always EFI_SUCCESS.
EFI_STATUS EfiInitializeDriverLib(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);

// Reports an ASCII debug message when ErrorLevel shares a bit with the mask.
// Arguments are 64-bit slots; the record carries those the format uses.
VOID EFIAPI EfiDebugPrint(UINTN ErrorLevel, const CHAR8 *Format, ...);

// Reports a failed assertion and stops the driver at a breakpoint.
VOID EfiDebugAssert(const CHAR8 *FileName, UINTN LineNumber, const CHAR8 *Description);

// Sends one status code; EFI_UNSUPPORTED without boot services or the protocol.
EFI_STATUS EfiLibReportStatusCode(UINT32 Type, UINT32 Value, UINT32 Instance, const EFI_GUID *CallerId, VOID *Data);

#define DEBUG(Args) EfiDebugPrint Args
#define ASSERT(Expression)                                              \
  do {                                                                  \
    if (!(Expression)) EfiDebugAssert(__FILE__, __LINE__, #Expression); \
  } while (0)

#ifdef EFI_HOST_TEST
// Host tests stop an assertion here instead of at a breakpoint; the hook must not return.
extern VOID (*gDriverLibAssertStop)(VOID);
#endif
#ifdef EFI_HOST_TEST
// Each host test brings its own platform, so the cached interfaces are dropped between tests.
VOID DriverLibForgetInterfaces(VOID);
#endif
