// The pointer of a run: prepared at the start and switched off again at once,
// so that a run is driven by keys alone.
#pragma once
#include "efi/efi.h"
#include "ui/screen.h"

extern EFI_SIMPLE_POINTER_PROTOCOL *PointerDevice;  // null when absent or switched off
extern EFI_EVENT PointerEvent;
extern UI_WINDOW *PointerLayer;  // full-screen, every cell transparent

VOID StartPointer(VOID);
VOID StopPointer(VOID);
