// SPDX-License-Identifier: BSD-2-Clause-Patent
// The pointer of a run: prepared at the start and switched off again at once,
// so that a run is driven by keys alone.
#pragma once
#include "efi/efi.h"
#include "ui/screen.h"

typedef struct {
  EFI_SIMPLE_POINTER_PROTOCOL *Device;  // null when absent or switched off
  EFI_EVENT Event;
  UI_WINDOW *Layer;  // full-screen, every cell transparent
} UI_POINTER;

// The run's pointer; every field is null outside a run.
extern UI_POINTER RunPointer;

VOID StartPointer(VOID);
VOID StopPointer(VOID);
