// SPDX-License-Identifier: BSD-2-Clause-Patent
// The pointer of a run. Every run prepares the Simple Pointer device, its wait
// event and a full-screen transparent layer, and the run then switches the
// device off again, so that a run is driven by keys alone.
#include "ui/pointer.h"

#include "ui/status_report.h"
#include "ui/guids.h"
#include "ui/theme.h"

UI_POINTER RunPointer;

// The event is closed before anything waits on it; should it ever be
// signalled, it must not draw, since no pointer takes part in a run.
static VOID EFIAPI PointerNotify(EFI_EVENT, VOID *) {}

VOID StartPointer(VOID) {
  VOID *Device = nullptr;
  if (EFI_ERROR(gBS->LocateProtocol(&gEfiSimplePointerProtocolGuid, nullptr, &Device)) || Device == nullptr) {
    RunPointer.Device = nullptr;
    return;
  }
  RunPointer.Device = static_cast<EFI_SIMPLE_POINTER_PROTOCOL *>(Device);

  if (EFI_ERROR(gBS->CreateEvent(EVT_NOTIFY_WAIT, TPL_CALLBACK, PointerNotify, nullptr, &RunPointer.Event))) {
    RunPointer.Event = nullptr;
    return;
  }
  if (EFI_ERROR(
          WindowCreate(CellScreen.ScreenColumns, CellScreen.ScreenRows, CellScreen.ScreenColumns, ATTR_WHITE_ON_RED, &RunPointer.Layer)))
    return;

  // The cells become transparent before the layer is raised, so a repaint
  // that runs in between never shows the layer's own colour.
  UINTN Cells = RunPointer.Layer->Width * RunPointer.Layer->Height;
  for (UINTN Index = 0; Index < Cells; Index++) RunPointer.Layer->CellFlags[Index] = CELL_TRANSPARENT;
  RunPointer.Layer->Column = 0;
  RunPointer.Layer->Row = 0;
  RunPointer.Layer->Priority = POINTER_LAYER_PRIORITY;
}

VOID StopPointer(VOID) {
  if (RunPointer.Event != nullptr) {
    gBS->CloseEvent(RunPointer.Event);
    RunPointer.Event = nullptr;
  }
  RunPointer.Device = nullptr;
}
