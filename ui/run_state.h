// SPDX-License-Identifier: BSD-2-Clause-Patent
// What one run of the UI protocol keeps while it lasts: the caller's hooks and
// context, the graphics devices located at its start, the caller's event and
// whether a run is in progress. run.cpp owns the one record and hands it to
// the parts that need it.
#pragma once
#include "efi/efi.h"
#include "efi/graphics_console.h"
#include "ui_screen.h"

typedef struct {
  // The caller's hooks as the run copied them (null where not given).
  UI_FILE_ENTER_HOOK FileChosenEnterHook;
  UI_KEY_HOOK FileChosenKeyHook;
  UI_FILE_ENTER_HOOK FileFollowUpEnterHook;
  UI_KEY_HOOK FileFollowUpKeyHook;
  UI_ESCAPE_ENTER_HOOK EscapeEnterHook;
  UI_KEY_HOOK EscapeKeyHook;
  VOID *HookContext;
  // Located at the start of the run; null before that and after it.
  ADVANCED_GC_PROTOCOL *GraphicsConsole;
  EFI_GRAPHICS_OUTPUT_PROTOCOL *GraphicsOutput;
  EFI_EVENT CallerEvent;  // the caller's own event, null when it gave none
  UINT8 Active;           // 1 from the start-up to the end of the clean-up
} UI_RUN;
