// SPDX-License-Identifier: BSD-2-Clause-Patent
// DebugPrintDxe: the debug print protocol that the library drivers send their
// messages to, written to the platform's debug output: the debug I/O port,
// 0x402 on the boards this is built for (QEMU's debug console on OVMF). It
// formats %a, %s, %c, %d, %i, %u, %x, %X, %p, %g, %r and %% (with flags 0 and
// -, a width, and l or ll), and lets the error, warning and information
// levels through. No buffer and no allocation: it can be called at any TPL.
// Built with DEBUG_PRINT_SMM it is DebugPrintSmm, which installs the same
// protocol in the SMM protocol database for the SMM driver.
#include "adapters/start.h"
#include "efi/debug_print.h"
#include "efi/efi.h"
#include "hw.h"

namespace {

const EFI_GUID gDebugPrintProtocolGuid = DEBUG_PRINT_PROTOCOL_GUID;

// The debug output; a board that routes its debug output elsewhere changes it here.
constexpr UINT16 DEBUG_PORT = 0x402;
// Error (0x80000000), init, warn, load, fs and info: the levels an EDK II
// platform prints by default; verbose and the finer levels are dropped.
constexpr UINTN DEBUG_LEVELS_SHOWN = 0x8000004F;

const CHAR8 *const ErrorNames[] = {
    "Success",        "Load Error",           "Invalid Parameter",  "Unsupported",      "Bad Buffer Size",     "Buffer Too Small",
    "Not Ready",      "Device Error",         "Write Protected",    "Out of Resources", "Volume Corrupt",      "Volume Full",
    "No Media",       "Media changed",        "Not Found",          "Access Denied",    "No Response",         "No mapping",
    "Time out",       "Not started",          "Already started",    "Aborted",          "ICMP Error",          "TFTP Error",
    "Protocol Error", "Incompatible Version", "Security Violation", "CRC Error",        "End of Media",        "Reserved (29)",
    "Reserved (30)",  "End of File",          "Invalid Language",   "Compromised Data", "IP Address Conflict", "HTTP Error",
};
const CHAR8 *const WarningNames[] = {
    "Success",
    "Warning Unknown Glyph",
    "Warning Delete Failure",
    "Warning Write Failure",
    "Warning Buffer Too Small",
    "Warning Stale Data",
    "Warning File System",
    "Warning Reset Required",
};

VOID Put(CHAR8 c) { HwOut8(DEBUG_PORT, static_cast<UINT8>(c)); }

// One directive's text padded to Width: on the left with Pad, or on the right
// with spaces when LeftAlign is set.
struct FIELD {
  UINTN Width;
  CHAR8 Pad;
  bool LeftAlign;
};

VOID PutPadded(const CHAR8 *Text, UINTN Length, const FIELD &F) {
  UINTN Fill = F.Width > Length ? F.Width - Length : 0;
  // A zero pad goes after the sign.
  if (!F.LeftAlign && F.Pad == '0' && Length > 0 && Text[0] == '-') {
    Put('-');
    Text++;
    Length--;
  }
  if (!F.LeftAlign)
    for (UINTN i = 0; i < Fill; i++) Put(F.Pad);
  for (UINTN i = 0; i < Length; i++) Put(Text[i]);
  if (F.LeftAlign)
    for (UINTN i = 0; i < Fill; i++) Put(' ');
}

VOID PutNumber(UINT64 Value, UINT32 Base, bool Negative, bool Upper, const FIELD &F) {
  CHAR8 Digits[24];
  UINTN n = sizeof Digits;
  const CHAR8 *Set = Upper ? "0123456789ABCDEF" : "0123456789abcdef";
  do {
    Digits[--n] = Set[Value % Base];
    Value /= Base;
  } while (Value != 0);
  if (Negative) Digits[--n] = '-';
  PutPadded(Digits + n, sizeof Digits - n, F);
}

VOID PutString(const CHAR8 *Text, const FIELD &F) {
  if (Text == nullptr) Text = "(null)";
  UINTN Length = 0;
  while (Text[Length]) Length++;
  PutPadded(Text, Length, F);
}

VOID PutStatus(EFI_STATUS Status, const FIELD &F) {
  UINTN Code = Status & ~EFI_ERROR_BIT;
  if (EFI_ERROR(Status) && Code < sizeof ErrorNames / sizeof ErrorNames[0]) return PutString(ErrorNames[Code], F);
  if (!EFI_ERROR(Status) && Code < sizeof WarningNames / sizeof WarningNames[0]) return PutString(WarningNames[Code], F);
  FIELD Hex{F.Width, '0', F.LeftAlign};
  PutString("0x", {0, ' ', false});
  PutNumber(Status, 16, false, true, Hex);
}

VOID PutGuid(const EFI_GUID *Guid) {
  if (Guid == nullptr) return PutString(nullptr, {0, ' ', false});
  const FIELD Eight{8, '0', false}, Four{4, '0', false}, Two{2, '0', false};
  PutNumber(Guid->Data1, 16, false, true, Eight);
  Put('-');
  PutNumber(Guid->Data2, 16, false, true, Four);
  Put('-');
  PutNumber(Guid->Data3, 16, false, true, Four);
  Put('-');
  for (UINTN i = 0; i < 8; i++) {
    if (i == 2) Put('-');
    PutNumber(Guid->Data4[i], 16, false, true, Two);
  }
}

VOID Format(const CHAR8 *Text, EFI_VA_LIST Args) {
  for (const CHAR8 *f = Text; *f; f++) {
    if (*f != '%') {
      Put(*f);
      continue;
    }
    const CHAR8 *Directive = f++;
    FIELD F{0, ' ', false};
    for (;; f++) {
      if (*f == '-') {
        F.LeftAlign = true;
      } else if (*f == '0') {
        F.Pad = '0';
      } else {
        break;
      }
    }
    while (*f >= '0' && *f <= '9' && F.Width < 1000) F.Width = F.Width * 10 + static_cast<UINTN>(*f++ - '0');
    bool Long = false;
    while (*f == 'l') {
      Long = true;
      f++;
    }
    switch (*f) {
      case 'a':
        PutString(EFI_VA_ARG(Args, const CHAR8 *), F);
        break;
      case 's': {
        const CHAR16 *Wide = EFI_VA_ARG(Args, const CHAR16 *);
        if (Wide == nullptr) {
          PutString(nullptr, F);
          break;
        }
        UINTN Length = 0;
        while (Wide[Length]) Length++;
        for (UINTN i = Length; !F.LeftAlign && i < F.Width; i++) Put(' ');
        for (UINTN i = 0; i < Length; i++) Put(Wide[i] < 0x80 ? static_cast<CHAR8>(Wide[i]) : '?');
        for (UINTN i = Length; F.LeftAlign && i < F.Width; i++) Put(' ');
        break;
      }
      case 'c': {
        const CHAR8 One[1] = {static_cast<CHAR8>(EFI_VA_ARG(Args, int))};
        PutPadded(One, 1, F);
        break;
      }
      case 'd':
      case 'i': {
        INT64 Value = Long ? EFI_VA_ARG(Args, INT64) : EFI_VA_ARG(Args, INT32);
        UINT64 Magnitude = Value < 0 ? 0 - static_cast<UINT64>(Value) : static_cast<UINT64>(Value);
        PutNumber(Magnitude, 10, Value < 0, false, F);
        break;
      }
      case 'u':
      case 'x':
      case 'X': {
        UINT64 Value = Long ? EFI_VA_ARG(Args, UINT64) : EFI_VA_ARG(Args, UINT32);
        PutNumber(Value, *f == 'u' ? 10 : 16, false, *f == 'X', F);
        break;
      }
      case 'p':
        PutString("0x", {0, ' ', false});
        PutNumber(reinterpret_cast<UINTN>(EFI_VA_ARG(Args, VOID *)), 16, false, true, {16, '0', false});
        break;
      case 'g':
        PutGuid(EFI_VA_ARG(Args, const EFI_GUID *));
        break;
      case 'r':
        PutStatus(EFI_VA_ARG(Args, EFI_STATUS), F);
        break;
      case '%':
        Put('%');
        break;
      default:
        // Not a directive: the text goes out as written, and the format ends with it.
        for (const CHAR8 *c = Directive; c <= f && *c; c++) Put(*c);
        if (*f == 0) return;
        break;
    }
  }
}

EFI_STATUS EFIAPI Print(UINTN ErrorLevel, const CHAR8 *Text, EFI_VA_LIST Args) {
  if (Text == nullptr) return EFI_INVALID_PARAMETER;
  if ((ErrorLevel & DEBUG_LEVELS_SHOWN) == 0) return EFI_SUCCESS;
  Format(Text, Args);
  return EFI_SUCCESS;
}

DEBUG_PRINT_PROTOCOL Protocol = {Print};

}  // namespace

extern "C" EFI_STATUS EFIAPI DebugPrintEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  if (EFI_STATUS Kept = AdapterKeepTables(ImageHandle, SystemTable); EFI_ERROR(Kept)) return Kept;
  EFI_HANDLE Handle = ImageHandle;
#ifdef DEBUG_PRINT_SMM
  EFI_SMM_SYSTEM_TABLE2 *Smst = nullptr;
  if (EFI_STATUS Status = AdapterLocateSmst(&Smst); EFI_ERROR(Status)) return Status;
  // A new SMM handle: the image handle belongs to the boot services' database.
  Handle = nullptr;
  return Smst->SmmInstallProtocolInterface(&Handle, &gDebugPrintProtocolGuid, EFI_NATIVE_INTERFACE, &Protocol);
#else
  return gBS->InstallProtocolInterface(&Handle, &gDebugPrintProtocolGuid, EFI_NATIVE_INTERFACE, &Protocol);
#endif
}
