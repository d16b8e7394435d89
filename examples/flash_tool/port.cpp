// SPDX-License-Identifier: BSD-2-Clause-Patent
// The tool's report on QEMU's debug console (port 0x402): its milestones and
// the result of each step, as lines the host script follows.
#include "examples/flash_tool/demo.h"

#define DEMO_DEBUG_PORT 0x402

static VOID PortWrite(const CHAR8 *Text, UINTN Length) {
  for (UINTN i = 0; i < Length; i++) __asm__ volatile("outb %0, %1" : : "a"((UINT8)Text[i]), "Nd"((UINT16)DEMO_DEBUG_PORT));
}

static const CHAR8 *const StatusNames[] = {
    "Success",        "Load Error",           "Invalid Parameter",  "Unsupported",      "Bad Buffer Size", "Buffer Too Small",
    "Not Ready",      "Device Error",         "Write Protected",    "Out of Resources", "Volume Corrupt",  "Volume Full",
    "No Media",       "Media changed",        "Not Found",          "Access Denied",    "No Response",     "No mapping",
    "Time out",       "Not started",          "Already started",    "Aborted",          "ICMP Error",      "TFTP Error",
    "Protocol Error", "Incompatible Version", "Security Violation", "CRC Error",        "End of Media",
};

namespace {

// Appends to a bounded line; what does not fit is dropped.
struct Line {
  CHAR8 Text[512];
  UINTN Length;
  void Put(CHAR8 c) {
    if (Length < sizeof Text) Text[Length++] = c;
  }
  void Str(const CHAR8 *s) {
    while (s && *s) Put(*s++);
  }
  void Number(UINT64 value, UINT32 base, UINTN width, CHAR8 pad) {
    CHAR8 digits[24];
    UINTN n = 0;
    do {
      UINT32 d = (UINT32)(value % base);
      digits[n++] = (CHAR8)(d < 10 ? '0' + d : 'A' + d - 10);
      value /= base;
    } while (value != 0);
    for (UINTN i = n; i < width; i++) Put(pad);
    while (n) Put(digits[--n]);
  }
};

}  // namespace

extern "C" VOID DemoPrintV(const CHAR8 *Format, EFI_VA_LIST Args) {
  Line out{};
  for (const CHAR8 *f = Format; *f; f++) {
    if (*f != '%') {
      out.Put(*f);
      continue;
    }
    f++;
    CHAR8 pad = *f == '0' ? '0' : ' ';
    UINTN width = 0, longs = 0;
    while (*f >= '0' && *f <= '9') width = width * 10 + (UINTN)(*f++ - '0');
    while (*f == 'l') longs++, f++;
    switch (*f) {
      case 'a':
        out.Str(EFI_VA_ARG(Args, const CHAR8 *));
        break;
      case 's':
        for (const CHAR16 *s = EFI_VA_ARG(Args, const CHAR16 *); s && *s; s++) out.Put(*s < 0x80 ? (CHAR8)*s : '?');
        break;
      case 'u':
      case 'x': {
        UINT64 v = longs ? EFI_VA_ARG(Args, UINT64) : EFI_VA_ARG(Args, unsigned int);
        out.Number(v, *f == 'u' ? 10 : 16, width, pad);
        break;
      }
      case 'r': {
        EFI_STATUS status = EFI_VA_ARG(Args, EFI_STATUS);
        UINTN code = status & ~EFI_ERROR_BIT;
        if (status == EFI_SUCCESS || (EFI_ERROR(status) && code < sizeof StatusNames / sizeof StatusNames[0])) {
          out.Str(StatusNames[status == EFI_SUCCESS ? 0 : code]);
        } else {
          out.Str("0x");
          out.Number(status, 16, 0, '0');
        }
        break;
      }
      case 'g': {
        const EFI_GUID *g = EFI_VA_ARG(Args, const EFI_GUID *);
        if (g == nullptr) break;
        out.Number(g->Data1, 16, 8, '0');
        out.Put('-');
        out.Number(g->Data2, 16, 4, '0');
        out.Put('-');
        out.Number(g->Data3, 16, 4, '0');
        out.Put('-');
        for (int i = 0; i < 8; i++) {
          if (i == 2) out.Put('-');
          out.Number(g->Data4[i], 16, 2, '0');
        }
        break;
      }
      case '%':
        out.Put('%');
        break;
      default:  // not one of ours: shows as '?' so the mistake is seen
        out.Put('?');
        if (*f == 0) f--;
        break;
    }
  }
  PortWrite(out.Text, out.Length);
}

extern "C" VOID EFIAPI DemoPrint(const CHAR8 *Format, ...) {
  EFI_VA_LIST args;
  EFI_VA_START(args, Format);
  DemoPrintV(Format, args);
  EFI_VA_END(args);
}

// ---- Steps: the host counts each as passed or failed ----

static const CHAR8 *CurrentStep = "";
static UINTN StepFailures;

void DemoBeginStep(const CHAR8 *Name) {
  CurrentStep = Name;
  StepFailures = 0;
  DemoPrint("@bed start %a\n", Name);
}

void EFIAPI DemoFail(const CHAR8 *Format, ...) {
  StepFailures++;
  DemoPrint("@bed check %a ", CurrentStep);
  EFI_VA_LIST args;
  EFI_VA_START(args, Format);
  DemoPrintV(Format, args);
  EFI_VA_END(args);
  DemoPrint("\n");
}

void DemoEndStep() { DemoPrint("@bed result %a %a\n", CurrentStep, StepFailures ? "fail" : "pass"); }
