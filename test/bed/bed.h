// SPDX-License-Identifier: BSD-2-Clause-Patent
// The firmware test bed's shared pieces: the debug-port line output that the
// runner on the host reads, a small formatter, and the probe interfaces through
// which the test application inspects and steers the stand-in drivers.
#pragma once
#include "efi/efi.h"

// ---- Debug port (QEMU's isa-debugcon at 0x402; OVMF itself stays silent there) ----

#define BED_DEBUG_PORT 0x402

extern "C" {

VOID BedWrite(const CHAR8 *Text);
VOID BedWriteN(const CHAR8 *Text, UINTN Length);

// Formats into Buffer (always terminated when Size > 0) and returns the length.
// Directives: %a ASCII string, %s UTF-16 string, %c character, %d %u %x (32-bit;
// with l or ll: 64-bit), %p pointer, %r status name, %g GUID pointer; flags 0 and
// a width. Unknown directives are copied as they are.
UINTN BedFormatV(CHAR8 *Buffer, UINTN Size, const CHAR8 *Format, EFI_VA_LIST Args);
UINTN EFIAPI BedFormat(CHAR8 *Buffer, UINTN Size, const CHAR8 *Format, ...);

// Formats and writes to the debug port (at most 1023 characters per call).
VOID EFIAPI BedPrint(const CHAR8 *Format, ...);
VOID BedPrintV(const CHAR8 *Format, EFI_VA_LIST Args);

// The name under which the test bed prints a status ("Not Found", ...).
const CHAR8 *BedStatusName(EFI_STATUS Status);

}  // extern "C"

// ---- Probe of the PCD stand-in ----
// The stand-in answers the platform's configuration tokens in place of the
// firmware's own PCD protocol, which it displaces with
// ReinstallProtocolInterface at load and puts back at unload.

// clang-format off
#define BED_PCD_PROBE_GUID {0x3c1f6a52, 0x8e0b, 0x4b7e, {0xa1, 0x55, 0x2d, 0x4e, 0x90, 0x6b, 0x71, 0x01}}
// clang-format on

#define BED_PCD_MAX_TOKENS 32
#define BED_PCD_LOG 32

typedef struct {
  UINT64 Token;
  UINT64 Value;
} BED_PCD_ENTRY;

// The library's cached tokens and the values the stand-in answers for them,
// chosen so that every field differs from its neighbours and a swapped or
// misplaced field shows.
#define BED_LIB_TOKENS                                                                                                            \
  {846, 1}, {1179, 0}, {1103, 0x11}, {1178, 0x22}, {1184, 0x33}, {1182, 0x44}, {1183, 0xA1B2C3D4}, {1180, 1}, {1112, 0x11223344}, \
      {1111, 0x55667788}, {                                                                                                       \
    1181, 0x55                                                                                                                    \
  }

typedef struct BED_PCD_PROBE BED_PCD_PROBE;
struct BED_PCD_PROBE {
  // Adds or changes a token's value.
  EFI_STATUS(EFIAPI *SetToken)(UINTN Token, UINT64 Value);
  // Withdraws the PCD protocol (Pi = 0) or the PI PCD protocol (Pi = 1) from
  // the platform until Restore, so a driver finds it missing.
  EFI_STATUS(EFIAPI *Withdraw)(UINTN Pi);
  EFI_STATUS(EFIAPI *Restore)(VOID);
  // Every Set* call since the last ClearLog (token and value), and the number
  // of Get* calls that asked for an unknown token.
  VOID(EFIAPI *ClearLog)(VOID);
  UINTN SetCount;
  BED_PCD_ENTRY Sets[BED_PCD_LOG];
  UINTN GetCount;
  UINTN UnknownGets;
};

// ---- Probe of the debug print stand-in ----
// Keeps the last messages, formatted, besides writing them to the debug port.

// clang-format off
#define BED_DEBUG_PRINT_PROBE_GUID {0x3c1f6a52, 0x8e0b, 0x4b7e, {0xa1, 0x55, 0x2d, 0x4e, 0x90, 0x6b, 0x71, 0x02}}
// clang-format on

#define BED_DEBUG_MESSAGES 8
#define BED_DEBUG_MESSAGE_SIZE 160

typedef struct {
  UINT64 Level;
  CHAR8 Text[BED_DEBUG_MESSAGE_SIZE];
} BED_DEBUG_MESSAGE;

typedef struct {
  VOID(EFIAPI *Clear)(VOID);
  UINTN Count;  // messages since Clear; the first BED_DEBUG_MESSAGES are kept
  BED_DEBUG_MESSAGE Messages[BED_DEBUG_MESSAGES];
} BED_DEBUG_PRINT_PROBE;

// ---- Probe of the token service and buffer check stand-ins ----

// clang-format off
#define BED_TOKEN_PROBE_GUID {0x3c1f6a52, 0x8e0b, 0x4b7e, {0xa1, 0x55, 0x2d, 0x4e, 0x90, 0x6b, 0x71, 0x03}}
// clang-format on

// Calls of the token service, in order.
#define BED_TOKEN_CALL_FINISH 1
#define BED_TOKEN_CALL_OPEN 15
#define BED_TOKEN_CALL_CLOSE 16
#define BED_TOKEN_CALL_BOOL 18
#define BED_TOKEN_CALL_8 20
#define BED_TOKEN_CALL_16 22
#define BED_TOKEN_CALL_32 24
#define BED_TOKEN_CALL_LEVEL 27
#define BED_TOKEN_CALL_OTHER 99  // an entry the translation must never call
#define BED_TOKEN_LOG 256

typedef struct {
  UINT32 Entry;  // BED_TOKEN_CALL_*
  UINT32 Level;
  UINT32 Token;
  UINT32 Value;
  UINT64 Extra;  // the opening call's second argument
} BED_TOKEN_CALL;

// Like SMM Base2, the stand-in stays resident: a started SMM driver keeps the
// buffer check it found. Withdraw uninstalls the interfaces named by a mask.
#define BED_TOKEN_WITHDRAW_SERVICE 1
#define BED_TOKEN_WITHDRAW_CHECK 2
#define BED_TOKEN_WITHDRAW_ALL 7

typedef struct {
  VOID(EFIAPI *Reset)(VOID);
  EFI_STATUS(EFIAPI *Withdraw)(UINTN What);
  EFI_STATUS OpenStatus;   // what the opening call answers
  EFI_STATUS CheckStatus;  // what the buffer check answers
  UINTN CheckCount;        // buffer checks since Reset
  UINT64 CheckedBuffer;    // the last checked buffer and size
  UINT64 CheckedSize;
  UINTN CallCount;  // token service calls since Reset (all counted)
  BED_TOKEN_CALL Calls[BED_TOKEN_LOG];
} BED_TOKEN_PROBE;

// ---- Probe of the SMM Base2 stand-in ----

// clang-format off
#define BED_SMM_PROBE_GUID {0x3c1f6a52, 0x8e0b, 0x4b7e, {0xa1, 0x55, 0x2d, 0x4e, 0x90, 0x6b, 0x71, 0x04}}
// clang-format on

// The stand-in cannot be unloaded: firmware modules notified of SMM Base2 may
// keep its interfaces, so Withdraw only uninstalls them and the code stays.
typedef struct {
  EFI_STATUS(EFIAPI *Withdraw)(VOID);
  UINTN HandlerCount;         // handlers registered so far
  UINTN NotifyCount;          // protocol notifications registered so far
  EFI_STATUS RegisterStatus;  // what SmiHandlerRegister answers (success by default)
} BED_SMM_PROBE;

// ---- Probe of the SMBIOS edit stand-in ----

// clang-format off
#define BED_SMBIOS_PROBE_GUID {0x3c1f6a52, 0x8e0b, 0x4b7e, {0xa1, 0x55, 0x2d, 0x4e, 0x90, 0x6b, 0x71, 0x05}}
// clang-format on

typedef struct {
  UINTN ReadCount;
  UINTN WriteCount;
  UINTN OtherCount;    // calls of members the drivers are not expected to use
  UINTN AppliedCount;  // board image: stored DMI changes applied at End-of-DXE
} BED_SMBIOS_PROBE;

// ---- Probe of the graphics console stand-in ----

// clang-format off
#define BED_GC_PROBE_GUID {0x3c1f6a52, 0x8e0b, 0x4b7e, {0xa1, 0x55, 0x2d, 0x4e, 0x90, 0x6b, 0x71, 0x06}}
// clang-format on

typedef struct {
  UINTN ShowCount;      // function 3 calls
  UINTN WithdrawCount;  // function 4 calls
  UINTN Active;         // backdrops currently kept
  UINT64 LastX, LastY, LastWidth, LastHeight;
  UINT32 LastPixel;  // the first pixel of the last backdrop (B, G, R, reserved)
} BED_GC_PROBE;
