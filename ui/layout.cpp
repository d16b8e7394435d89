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
  const UINTN rows[] = {2, 4, 15, CellScreen.ScreenRows - 4};
  for (UINTN row : rows)
    for (UINTN x = 1; x + 1 < CellScreen.ScreenColumns; x++) RedCell(x, row);
  for (UINTN y = 5; y + 5 <= CellScreen.ScreenRows; y++) RedCell(SEPARATOR_COLUMN, y);
}

EFI_STATUS InitialDrawFunction(VOID) {
  EFI_STATUS status = ScreenInit(ATTR_WHITE_ON_BLACK);
  if (EFI_ERROR(status)) return status;

  UI_WINDOW_GEOMETRY background = {CellScreen.ScreenColumns, CellScreen.ScreenRows, ATTR_WHITE_ON_BLACK};
  UI_FRAME blank = {u' ', u' ', u' ', u' ', u' ', u' ', u' ', u' ', u' ', ATTR_LIGHT_RED_ON_BLACK};
  status = WindowCreateFramed(&background, &blank, &RunWindows.BackgroundWindow);
  if (EFI_ERROR(status)) return status;
  // Through the compositor, so that a pass that saw the window at its framed
  // place and priority cannot leave a copy of it there.
  WindowSetPriority(RunWindows.BackgroundWindow, BACKGROUND_PRIORITY);
  WindowMove(RunWindows.BackgroundWindow, 0, 0);
  // The background's border takes text like any other cell.
  for (UINTN i = 0; i < CellScreen.ScreenColumns * CellScreen.ScreenRows; i++) RunWindows.BackgroundWindow->CellFlags[i] &= ~CELL_PROTECTED;
  DrawRedLines();

  // Each new window sits beneath the background at priority 16, so it is
  // placed first and raised last: it never shows anywhere but in its place.
  for (const LIST_WINDOW_LAYOUT &layout : ListWindows) {
    UINTN width = layout.RightSide ? CellScreen.ScreenColumns - 23 : LIST_WINDOW_WIDTH;
    UINTN textWidth = layout.RightSide ? width : LIST_TEXT_WIDTH;
    if (layout.RightSide && CellScreen.ScreenColumns <= 23) return EFI_UNSUPPORTED;
    status = WindowCreate(width, layout.Height, textWidth, layout.Attribute, layout.Window);
    if (EFI_ERROR(status)) return status;
    UI_WINDOW *w = *layout.Window;
    w->Column = layout.RightSide ? RIGHT_WINDOWS_COLUMN : 0;
    w->Row = layout.Row;
    __atomic_signal_fence(__ATOMIC_SEQ_CST);
    w->Priority = LIST_WINDOW_PRIORITY;
  }

  MESSAGE_BOX_CELLS cells = MessageBoxCells();
  UI_WINDOW_GEOMETRY box = {cells.Width, cells.Height, ATTR_WHITE_ON_BLUE};
  UI_FRAME single = {u'\x250C', u'\x2500', u'\x2510', u'\x2502', u' ', u'\x2502', u'\x2514', u'\x2500', u'\x2518',
                     ATTR_WHITE_ON_BLUE};
  status = WindowCreateFramed(&box, &single, &RunWindows.MessageBox);
  if (EFI_ERROR(status)) return status;
  WindowSetPriority(RunWindows.MessageBox, MESSAGE_BOX_HIDDEN_PRIORITY);
  WindowMove(RunWindows.MessageBox, cells.Column, cells.Row);
  return EFI_SUCCESS;
}

VOID MessageBoxArea(MESSAGE_BOX_AREA *Area) {
  MESSAGE_BOX_CELLS cells = MessageBoxCells();
  Area->X = TEXT_ORIGIN_X + TEXT_CELL_PIXEL_WIDTH * cells.Column;
  Area->Y = TEXT_ORIGIN_Y + TEXT_CELL_PIXEL_HEIGHT * cells.Row;
  Area->Width = TEXT_CELL_PIXEL_WIDTH * cells.Width;
  Area->Height = TEXT_CELL_PIXEL_HEIGHT * cells.Height;
}

VOID ShadeMessageBoxArea(VOID) {
  MESSAGE_BOX_AREA area;
  MessageBoxArea(&area);
  UINTN pixels, bytes;
  if (__builtin_mul_overflow(area.Width, area.Height, &pixels) ||
      __builtin_mul_overflow(pixels, sizeof(EFI_GRAPHICS_OUTPUT_BLT_PIXEL), &bytes) || bytes == 0)
    return;

  EFI_GRAPHICS_OUTPUT_BLT_PIXEL *buffer = nullptr;
  if (EFI_ERROR(gBS->AllocatePool(EfiBootServicesData, bytes, (VOID **)&buffer))) return;
  gBS->SetMem(buffer, bytes, 0);

  ADVANCED_GC_PROTOCOL *console = nullptr;
  EFI_GRAPHICS_OUTPUT_PROTOCOL *output = nullptr;
  if (!EFI_ERROR(gBS->LocateProtocol(&gAdvancedGcProtocolGuid, nullptr, (VOID **)&console)) &&
      !EFI_ERROR(gBS->LocateProtocol(&gEfiGraphicsOutputProtocolGuid, nullptr, (VOID **)&output)) &&
      console != nullptr && output != nullptr && console->SetBackdrop != nullptr) {
    output->Blt(output, buffer, EfiBltVideoToBltBuffer, area.X, area.Y, 0, 0, area.Width, area.Height, 0);
    for (UINTN i = 0; i < pixels; i++) {
      buffer[i].Blue = MESSAGE_BOX_SHADE;
      buffer[i].Green = MESSAGE_BOX_SHADE;
      buffer[i].Red = MESSAGE_BOX_SHADE;
    }
    // The graphics console keeps its own copy of the backdrop.
    console->SetBackdrop(buffer, area.X, area.Y, area.Width, area.Height);
  }
  gBS->FreePool(buffer);
}

VOID UnshadeMessageBoxArea(VOID) {
  ADVANCED_GC_PROTOCOL *console = nullptr;
  if (EFI_ERROR(gBS->LocateProtocol(&gAdvancedGcProtocolGuid, nullptr, (VOID **)&console))) return;
  if (console == nullptr || console->ClearBackdrop == nullptr) return;
  MESSAGE_BOX_AREA area;
  MessageBoxArea(&area);
  console->ClearBackdrop(area.X, area.Y, area.Width, area.Height);
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
