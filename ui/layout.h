// SPDX-License-Identifier: BSD-2-Clause-Patent
// The screen of a run: the compositor set up with six windows of fixed
// geometry, colours and priorities, and the grey backdrop behind the message
// box on the graphics output.
#pragma once
#include "efi/efi.h"
#include "ui/screen.h"
#include "ui/theme.h"

// The windows of a run; null outside a run (the run's clean-up destroys them).
typedef struct {
  UI_WINDOW *BackgroundWindow;
  UI_WINDOW *VolumeListWindow;
  UI_WINDOW *FileListWindow;
  UI_WINDOW *FileInfoWindow;
  UI_WINDOW *CallerWindow;
  UI_WINDOW *MessageBox;
} RUN_WINDOWS;

extern RUN_WINDOWS RunWindows;

// The message box's rectangle in pixels of the graphics output.
typedef struct {
  UINTN X;
  UINTN Y;
  UINTN Width;
  UINTN Height;
} MESSAGE_BOX_AREA;
VOID MessageBoxArea(MESSAGE_BOX_AREA *Area);

// Sets up the screen and creates the six windows; the first failure is returned.
EFI_STATUS InitialDrawFunction(VOID);
// A flat grey backdrop under the message box while it is shown, and its removal.
VOID ShadeMessageBoxArea(VOID);
VOID UnshadeMessageBoxArea(VOID);
// Brings the message box to the front over a grey backdrop (Show TRUE), or
// blanks it and sends it back behind the other windows.
EFI_STATUS ShowMessageBox(BOOLEAN Show, UI_WINDOW *Window);
