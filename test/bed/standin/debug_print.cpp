// SPDX-License-Identifier: BSD-2-Clause-Patent
// Stand-in for the platform's debug print protocol: formats each message
// (%a, %r and the usual integer directives), writes it to the debug port as
// a "DBG" line, and keeps the first few for the test application to read.
#include "efi/debug_print.h"
#include "test/bed/standin/standin.h"

static BED_DEBUG_PRINT_PROBE Probe;

static VOID EFIAPI ClearMessages(VOID) {
  Probe.Count = 0;
  for (BED_DEBUG_MESSAGE &m : Probe.Messages) {
    m.Level = 0;
    m.Text[0] = 0;
  }
}

static EFI_STATUS EFIAPI Print(UINTN ErrorLevel, const CHAR8 *Format, EFI_VA_LIST Args) {
  if (Format == nullptr) return EFI_INVALID_PARAMETER;
  CHAR8 text[BED_DEBUG_MESSAGE_SIZE];
  BedFormatV(text, sizeof text, Format, Args);
  if (Probe.Count < BED_DEBUG_MESSAGES) {
    BED_DEBUG_MESSAGE &m = Probe.Messages[Probe.Count];
    m.Level = ErrorLevel;
    for (UINTN i = 0; i < sizeof text; i++) m.Text[i] = text[i];
  }
  Probe.Count++;
  BedPrint("DBG %lx %a", (UINT64)ErrorLevel, text);
  return EFI_SUCCESS;
}

static DEBUG_PRINT_PROTOCOL Protocol = {Print};

static const StandInInterface Interfaces[] = {
    {DEBUG_PRINT_PROTOCOL_GUID, &Protocol},
    {BED_DEBUG_PRINT_PROBE_GUID, &Probe},
};

static EFI_STATUS EFIAPI Unload(EFI_HANDLE ImageHandle) { return StandInUninstall(ImageHandle, Interfaces, 2); }

extern "C" EFI_STATUS EFIAPI DebugPrintStandInEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  Probe.Clear = ClearMessages;
  return StandInStart(ImageHandle, SystemTable, Interfaces, 2, Unload);
}
