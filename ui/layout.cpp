// SPDX-License-Identifier: BSD-2-Clause-Patent
// The screen of a run: a framed background with red separator lines, the two
// lists on the left, the information and caller windows on the right, and a
// message box that waits beneath the background until something is written
// into it. While the box is shown, the pixels under it are replaced by a flat
// grey backdrop through the graphics console protocol.
#include "ui/layout.h"

#include "efi/graphics_console.h"
#include "ui/status_report.h"
#include "ui/guids.h"
#include "ui/window_text.h"

RUN_WINDOWS RunWindows;

// Column of the line that separates the lists from the windows on the right.
#define SEPARATOR_COLUMN 21
#define RIGHT_WINDOWS_COLUMN 22
#define LIST_WINDOW_WIDTH 21
#define LIST_TEXT_WIDTH 16

// The four windows that share the list layout, as data for one loop.
typedef struct {
  UI_WINDOW **Window;
  BOOLEAN RightSide;  // width ScreenColumns - 23, else LIST_WINDOW_WIDTH
  UINTN Height;
  UINT64 Attribute;
  UINTN Row;
} LIST_WINDOW_LAYOUT;

static const LIST_WINDOW_LAYOUT ListWindows[] = {
    {&RunWindows.VolumeListWindow, 0, 5, ATTR_WHITE_ON_BLACK, 5},
    {&RunWindows.FileListWindow, 0, 7, ATTR_WHITE_ON_GREEN, 16},
    {&RunWindows.FileInfoWindow, 1, 5, ATTR_WHITE_ON_BLACK, 5},
    {&RunWindows.CallerWindow, 1, 7, ATTR_WHITE_ON_BLACK, 16},
};

// The message box's place on the character screen, in cells.
typedef struct {
  UINTN Column;
  UINTN Row;
  UINTN Width;
  UINTN Height;
} MESSAGE_BOX_CELLS;

static MESSAGE_BOX_CELLS MessageBoxCells(VOID) {
  return {CellScreen.ScreenColumns * MESSAGE_BOX_LEFT_PERCENT / 100, CellScreen.ScreenRows * MESSAGE_BOX_TOP_PERCENT / 100,
          CellScreen.ScreenColumns * MESSAGE_BOX_WIDTH_PERCENT / 100, CellScreen.ScreenRows * MESSAGE_BOX_HEIGHT_PERCENT / 100};
}

// Recolours one background cell of a red line.
static VOID RedCell(UINTN Column, UINTN Row) {
  UI_WINDOW *w = RunWindows.BackgroundWindow;
  if (Column >= w->Width || Row >= w->Height) return;
  UINTN i = Row * w->Width + Column;
  w->CellChars[i] = u' ';
  w->CellAttrs[i] = ATTR_LIGHT_RED_ON_BLACK;
  w->CellFlags[i] |= CELL_DIRTY;
}

static VOID DrawRedLines(VOID) {
  for (UINTN x = 0; x < CellScreen.ScreenColumns; x++) RedCell(x, CellScreen.ScreenRows - 2);
  const UINTN Rows[] = {2, 4, 15, CellScreen.ScreenRows - 4};
  for (UINTN Row : Rows)
    for (UINTN x = 1; x + 1 < CellScreen.ScreenColumns; x++) RedCell(x, Row);
  for (UINTN y = 5; y + 5 <= CellScreen.ScreenRows; y++) RedCell(SEPARATOR_COLUMN, y);
}

EFI_STATUS InitialDrawFunction(VOID) {
  EFI_STATUS Status = ScreenInit(ATTR_WHITE_ON_BLACK);
  if (EFI_ERROR(Status)) return Status;

  UI_WINDOW_GEOMETRY Background = {CellScreen.ScreenColumns, CellScreen.ScreenRows, ATTR_WHITE_ON_BLACK};
  UI_FRAME Blank = {u' ', u' ', u' ', u' ', u' ', u' ', u' ', u' ', u' ', ATTR_LIGHT_RED_ON_BLACK};
  Status = WindowCreateFramed(&Background, &Blank, &RunWindows.BackgroundWindow);
  if (EFI_ERROR(Status)) return Status;
  // Through the compositor, so that a pass that saw the window at its framed
  // place and priority cannot leave a copy of it there.
  WindowSetPriority(RunWindows.BackgroundWindow, BACKGROUND_PRIORITY);
  WindowMove(RunWindows.BackgroundWindow, 0, 0);
  // The background's border takes text like any other cell.
  for (UINTN i = 0; i < CellScreen.ScreenColumns * CellScreen.ScreenRows; i++) RunWindows.BackgroundWindow->CellFlags[i] &= ~CELL_PROTECTED;
  DrawRedLines();

  // Each new window sits beneath the background at priority 16, so it is
  // placed first and raised last: it never shows anywhere but in its place.
  for (const LIST_WINDOW_LAYOUT &Layout : ListWindows) {
    UINTN Width = Layout.RightSide ? CellScreen.ScreenColumns - 23 : LIST_WINDOW_WIDTH;
    UINTN TextWidth = Layout.RightSide ? Width : LIST_TEXT_WIDTH;
    if (Layout.RightSide && CellScreen.ScreenColumns <= 23) return EFI_UNSUPPORTED;
    Status = WindowCreate(Width, Layout.Height, TextWidth, Layout.Attribute, Layout.Window);
    if (EFI_ERROR(Status)) return Status;
    UI_WINDOW *w = *Layout.Window;
    w->Column = Layout.RightSide ? RIGHT_WINDOWS_COLUMN : 0;
    w->Row = Layout.Row;
    __atomic_signal_fence(__ATOMIC_SEQ_CST);
    w->Priority = LIST_WINDOW_PRIORITY;
  }

  MESSAGE_BOX_CELLS Cells = MessageBoxCells();
  UI_WINDOW_GEOMETRY Box = {Cells.Width, Cells.Height, ATTR_WHITE_ON_BLUE};
  UI_FRAME Single = {u'\x250C', u'\x2500', u'\x2510', u'\x2502', u' ', u'\x2502', u'\x2514', u'\x2500', u'\x2518', ATTR_WHITE_ON_BLUE};
  Status = WindowCreateFramed(&Box, &Single, &RunWindows.MessageBox);
  if (EFI_ERROR(Status)) return Status;
  WindowSetPriority(RunWindows.MessageBox, MESSAGE_BOX_HIDDEN_PRIORITY);
  WindowMove(RunWindows.MessageBox, Cells.Column, Cells.Row);
  return EFI_SUCCESS;
}

VOID MessageBoxArea(MESSAGE_BOX_AREA *Area) {
  MESSAGE_BOX_CELLS Cells = MessageBoxCells();
  Area->X = TEXT_ORIGIN_X + TEXT_CELL_PIXEL_WIDTH * Cells.Column;
  Area->Y = TEXT_ORIGIN_Y + TEXT_CELL_PIXEL_HEIGHT * Cells.Row;
  Area->Width = TEXT_CELL_PIXEL_WIDTH * Cells.Width;
  Area->Height = TEXT_CELL_PIXEL_HEIGHT * Cells.Height;
}

VOID ShadeMessageBoxArea(VOID) {
  MESSAGE_BOX_AREA Area;
  MessageBoxArea(&Area);
  UINTN Pixels, Bytes;
  if (__builtin_mul_overflow(Area.Width, Area.Height, &Pixels) ||
      __builtin_mul_overflow(Pixels, sizeof(EFI_GRAPHICS_OUTPUT_BLT_PIXEL), &Bytes) || Bytes == 0)
    return;

  EFI_GRAPHICS_OUTPUT_BLT_PIXEL *Buffer = nullptr;
  if (EFI_ERROR(gBS->AllocatePool(EfiBootServicesData, Bytes, (VOID **)&Buffer))) return;
  gBS->SetMem(Buffer, Bytes, 0);

  ADVANCED_GC_PROTOCOL *Console = nullptr;
  EFI_GRAPHICS_OUTPUT_PROTOCOL *Output = nullptr;
  if (!EFI_ERROR(gBS->LocateProtocol(&gAdvancedGcProtocolGuid, nullptr, (VOID **)&Console)) &&
      !EFI_ERROR(gBS->LocateProtocol(&gEfiGraphicsOutputProtocolGuid, nullptr, (VOID **)&Output)) && Console != nullptr &&
      Output != nullptr && Console->SetBackdrop != nullptr) {
    Output->Blt(Output, Buffer, EfiBltVideoToBltBuffer, Area.X, Area.Y, 0, 0, Area.Width, Area.Height, 0);
    for (UINTN i = 0; i < Pixels; i++) {
      Buffer[i].Blue = MESSAGE_BOX_SHADE;
      Buffer[i].Green = MESSAGE_BOX_SHADE;
      Buffer[i].Red = MESSAGE_BOX_SHADE;
    }
    // The graphics console keeps its own copy of the backdrop.
    Console->SetBackdrop(Buffer, Area.X, Area.Y, Area.Width, Area.Height);
  }
  gBS->FreePool(Buffer);
}

VOID UnshadeMessageBoxArea(VOID) {
  ADVANCED_GC_PROTOCOL *Console = nullptr;
  if (EFI_ERROR(gBS->LocateProtocol(&gAdvancedGcProtocolGuid, nullptr, (VOID **)&Console))) return;
  if (Console == nullptr || Console->ClearBackdrop == nullptr) return;
  MESSAGE_BOX_AREA Area;
  MessageBoxArea(&Area);
  Console->ClearBackdrop(Area.X, Area.Y, Area.Width, Area.Height);
}

EFI_STATUS ShowMessageBox(BOOLEAN Show, UI_WINDOW *Window) {
  if (Window == nullptr) return EFI_INVALID_PARAMETER;
  if (Show) {
    EFI_STATUS Status = WindowSetPriority(Window, MESSAGE_BOX_SHOWN_PRIORITY);
    ShadeMessageBoxArea();
    return Status;
  }
  UINT64 Blank = ATTR_WHITE_ON_BLUE;
  WindowClear(Window, &Blank);
  EFI_STATUS Status = WindowSetPriority(Window, MESSAGE_BOX_HIDDEN_PRIORITY);
  UnshadeMessageBoxArea();
  return Status;
}
