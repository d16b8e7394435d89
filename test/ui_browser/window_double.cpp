// TEST DOUBLE of the window text and layout functions the browser draws with,
// used only until the compositor's own sources land: left-aligned formatted
// writes, blanking, priorities, and counters for the message-box backdrop.
// Windows are plain host arrays made by MakeDoubleWindow.
#include "window_double.h"

#include "ui/format.h"

UI_WINDOW *BackgroundWindow;
UI_WINDOW *VolumeListWindow;
UI_WINDOW *FileListWindow;
UI_WINDOW *FileInfoWindow;
UI_WINDOW *CallerWindow;
UI_WINDOW *MessageBox;

int DoubleShadeCalls;
int DoubleUnshadeCalls;

UI_WINDOW *MakeDoubleWindow(UINTN Width, UINTN Height, UINTN TextWidth, UINT64 Attribute) {
  UI_WINDOW *w = new UI_WINDOW{};
  w->Width = Width;
  w->Height = Height;
  w->TextWidth = TextWidth;
  w->Priority = 16;
  w->CellFlags = new UINT8[Width * Height]();
  w->CellChars = new CHAR16[Width * Height]();
  w->CellAttrs = new UINT64[Width * Height];
  for (UINTN i = 0; i < Width * Height; i++) w->CellAttrs[i] = Attribute;
  return w;
}

void FreeDoubleWindow(UI_WINDOW *&w) {
  if (!w) return;
  delete[] w->CellFlags;
  delete[] w->CellChars;
  delete[] w->CellAttrs;
  delete w;
  w = nullptr;
}

UINTN WindowPrintV(UI_WINDOW *Window, UI_CELL_POSITION *Position, UINT32 Mode, const CHAR16 *Format, EFI_VA_LIST Args) {
  if (!Window || Mode != TEXT_MODE_LEFT) return 0;
  UI_CELL_POSITION p = {0, 0, CELL_KEEP_ATTRIBUTE};
  if (Position) {
    if (Position->Column >= Window->Width || Position->Row >= Window->Height) return 0;
    p = *Position;
  }
  CHAR16 Buffer[WINDOW_PRINT_BUFFER_SIZE / 2];
  FormatStringV(Buffer, sizeof Buffer, Format, Args);
  UINTN Count = 0, Column = p.Column;
  for (const CHAR16 *c = Buffer; *c && Column < Window->TextWidth; c++) {
    UINTN i = p.Row * Window->Width + Column;
    if (Window->CellFlags[i] & CELL_PROTECTED) {
      Column++;
      c--;
      continue;
    }
    Window->CellChars[i] = *c;
    Window->CellFlags[i] |= CELL_DIRTY;
    if (p.Attribute != CELL_KEEP_ATTRIBUTE) Window->CellAttrs[i] = p.Attribute;
    Column++;
    Count++;
  }
  return Count;
}

UINTN EFIAPI WindowPrint(UI_WINDOW *Window, UI_CELL_POSITION *Position, UINT32 Mode, const CHAR16 *Format, ...) {
  EFI_VA_LIST Args;
  EFI_VA_START(Args, Format);
  UINTN n = WindowPrintV(Window, Position, Mode, Format, Args);
  EFI_VA_END(Args);
  return n;
}

EFI_STATUS WindowClear(UI_WINDOW *Window, UINT64 *Attribute) {
  if (!Window) return EFI_INVALID_PARAMETER;
  for (UINTN i = Window->Width * Window->Height; i-- > 0;) {
    Window->CellFlags[i] |= CELL_DIRTY;
    if (!(Window->CellFlags[i] & CELL_PROTECTED)) Window->CellChars[i] = u' ';
    if (Attribute) Window->CellAttrs[i] = *Attribute;
  }
  return EFI_SUCCESS;
}

EFI_STATUS WindowClearRow(UI_WINDOW *Window, UINTN Row, UINT64 *Attribute) {
  if (!Window || Row >= Window->Height) return EFI_INVALID_PARAMETER;
  for (UINTN c = 0; c < Window->Width; c++) {
    Window->CellChars[Row * Window->Width + c] = u' ';
    if (Attribute) Window->CellAttrs[Row * Window->Width + c] = *Attribute;
  }
  return EFI_SUCCESS;
}

EFI_STATUS WindowSetPriority(UI_WINDOW *Window, UINT8 Priority) {
  if (!Window) return EFI_INVALID_PARAMETER;
  if (Priority != WINDOW_KEEP_PRIORITY) Window->Priority = Priority;
  return EFI_SUCCESS;
}

VOID ShadeMessageBoxArea(VOID) { DoubleShadeCalls++; }
VOID UnshadeMessageBoxArea(VOID) { DoubleUnshadeCalls++; }
