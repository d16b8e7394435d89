// SPDX-License-Identifier: BSD-2-Clause-Patent
// Debug-port output and the formatter shared by the test application and the
// stand-in drivers. The runner on the host reads the port as lines.
#include "test/bed/bed.h"

// The test bed runs only in the firmware, so it talks to QEMU's debug console
// directly rather than through the drivers' hardware seam.
static inline VOID PortOut8(UINT16 Port, UINT8 Value) { __asm__ volatile("outb %0, %1" : : "a"(Value), "Nd"(Port)); }

extern "C" VOID BedWriteN(const CHAR8 *Text, UINTN Length) {
  for (UINTN i = 0; i < Length; i++) PortOut8(BED_DEBUG_PORT, (UINT8)Text[i]);
}

extern "C" VOID BedWrite(const CHAR8 *Text) {
  while (*Text) PortOut8(BED_DEBUG_PORT, (UINT8)*Text++);
}

static const CHAR8 *const ErrorNames[] = {
    "Success",        "Load Error",           "Invalid Parameter",  "Unsupported",      "Bad Buffer Size", "Buffer Too Small",
    "Not Ready",      "Device Error",         "Write Protected",    "Out of Resources", "Volume Corrupt",  "Volume Full",
    "No Media",       "Media changed",        "Not Found",          "Access Denied",    "No Response",     "No mapping",
    "Time out",       "Not started",          "Already started",    "Aborted",          "ICMP Error",      "TFTP Error",
    "Protocol Error", "Incompatible Version", "Security Violation", "CRC Error",        "End of Media",    "Reserved (29)",
    "Reserved (30)",  "End of File",          "Invalid Language",   "Compromised Data",
};

extern "C" const CHAR8 *BedStatusName(EFI_STATUS Status) {
  UINTN code = Status & ~EFI_ERROR_BIT;
  if (Status == EFI_SUCCESS) return ErrorNames[0];
  if (EFI_ERROR(Status) && code < sizeof ErrorNames / sizeof ErrorNames[0]) return ErrorNames[code];
  return nullptr;
}

namespace {

// Appends to a bounded buffer; Length counts what would have been written.
struct Out {
  CHAR8 *Buffer;
  UINTN Size;
  UINTN Length;
  void Put(CHAR8 c) {
    if (Length + 1 < Size) Buffer[Length] = c;
    Length++;
  }
  void Str(const CHAR8 *s) {
    while (*s) Put(*s++);
  }
  void Number(UINT64 value, UINT32 base, BOOLEAN negative, UINTN width, CHAR8 pad) {
    CHAR8 digits[24];
    UINTN n = 0;
    do {
      UINT32 d = (UINT32)(value % base);
      digits[n++] = (CHAR8)(d < 10 ? '0' + d : 'A' + d - 10);
      value /= base;
    } while (value != 0);
    if (negative) {
      if (pad == '0') {
        Put('-');
      } else {
        digits[n++] = '-';
      }
      if (width) width--;
    }
    for (UINTN i = n; i < width; i++) Put(pad);
    while (n) Put(digits[--n]);
  }
};

}  // namespace

extern "C" UINTN BedFormatV(CHAR8 *Buffer, UINTN Size, const CHAR8 *Format, EFI_VA_LIST Args) {
  Out out{Buffer, Size, 0};
  for (const CHAR8 *f = Format; *f; f++) {
    if (*f != '%') {
      out.Put(*f);
      continue;
    }
    const CHAR8 *start = f++;
    CHAR8 pad = ' ';
    UINTN width = 0;
    UINTN longs = 0;
    if (*f == '0') pad = '0';
    while (*f >= '0' && *f <= '9') width = width * 10 + (UINTN)(*f++ - '0');
    while (*f == 'l') {
      longs++;
      f++;
    }
    switch (*f) {
      case 'a': {
        const CHAR8 *s = EFI_VA_ARG(Args, const CHAR8 *);
        out.Str(s ? s : "(null)");
        break;
      }
      case 's': {
        const CHAR16 *s = EFI_VA_ARG(Args, const CHAR16 *);
        if (s == nullptr) {
          out.Str("(null)");
          break;
        }
        for (; *s; s++) out.Put(*s < 0x80 ? (CHAR8)*s : '?');
        break;
      }
      case 'c':
        out.Put((CHAR8)EFI_VA_ARG(Args, int));
        break;
      case 'd': {
        INT64 v = longs ? EFI_VA_ARG(Args, INT64) : EFI_VA_ARG(Args, int);
        out.Number(v < 0 ? (UINT64)0 - (UINT64)v : (UINT64)v, 10, v < 0, width, pad);
        break;
      }
      case 'u':
      case 'x': {
        UINT64 v = longs ? EFI_VA_ARG(Args, UINT64) : EFI_VA_ARG(Args, unsigned int);
        out.Number(v, *f == 'u' ? 10 : 16, 0, width, pad);
        break;
      }
      case 'p':
        out.Str("0x");
        out.Number((UINT64)(UINTN)EFI_VA_ARG(Args, VOID *), 16, 0, 0, '0');
        break;
      case 'r': {
        EFI_STATUS status = EFI_VA_ARG(Args, EFI_STATUS);
        const CHAR8 *name = BedStatusName(status);
        if (name) {
          out.Str(name);
        } else {
          out.Str("0x");
          out.Number(status, 16, 0, 0, '0');
        }
        break;
      }
      case 'g': {
        const EFI_GUID *g = EFI_VA_ARG(Args, const EFI_GUID *);
        if (g == nullptr) {
          out.Str("(null)");
          break;
        }
        out.Number(g->Data1, 16, 0, 8, '0');
        out.Put('-');
        out.Number(g->Data2, 16, 0, 4, '0');
        out.Put('-');
        out.Number(g->Data3, 16, 0, 4, '0');
        out.Put('-');
        for (int i = 0; i < 8; i++) {
          if (i == 2) out.Put('-');
          out.Number(g->Data4[i], 16, 0, 2, '0');
        }
        break;
      }
      case '%':
        out.Put('%');
        break;
      default:
        // Unknown directive: copy it, so a mistake shows in the output.
        for (const CHAR8 *c = start; c <= f && *c; c++) out.Put(*c);
        if (*f == 0) f--;
        break;
    }
  }
  if (Size) Buffer[out.Length < Size ? out.Length : Size - 1] = 0;
  return out.Length < Size ? out.Length : (Size ? Size - 1 : 0);
}

extern "C" UINTN EFIAPI BedFormat(CHAR8 *Buffer, UINTN Size, const CHAR8 *Format, ...) {
  EFI_VA_LIST args;
  EFI_VA_START(args, Format);
  UINTN n = BedFormatV(Buffer, Size, Format, args);
  EFI_VA_END(args);
  return n;
}

extern "C" VOID BedPrintV(const CHAR8 *Format, EFI_VA_LIST Args) {
  CHAR8 line[1024];
  UINTN n = BedFormatV(line, sizeof line, Format, Args);
  BedWriteN(line, n);
}

extern "C" VOID EFIAPI BedPrint(const CHAR8 *Format, ...) {
  EFI_VA_LIST args;
  EFI_VA_START(args, Format);
  BedPrintV(Format, args);
  EFI_VA_END(args);
}
