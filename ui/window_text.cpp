// Text placement into window cells. Border cells (CELL_PROTECTED) are skipped
// so text flows around a frame. Stored cells are not forced dirty: the repaint
// pass compares each cell with what the console shows, so a list that is
// cleared and printed again costs only the cells that really changed.
#include "ui/window_text.h"

#include "ui/format.h"

#define CHAR_CR 0x000D
#define CHAR_LF 0x000A

// Text never goes past the window's own width, whatever TextWidth says.
static UINTN TextColumns(const UI_WINDOW *Window) {
  return Window->TextWidth < Window->Width ? Window->TextWidth : Window->Width;
}

static VOID StoreCell(UI_WINDOW *Window, UINTN Index, CHAR16 Char, UINT64 Attribute) {
  Window->CellChars[Index] = Char;
  if (Attribute != CELL_KEEP_ATTRIBUTE) Window->CellAttrs[Index] = Attribute;
}

UINTN WindowWriteText(UI_WINDOW *Window, CHAR16 *Text, UI_CELL_POSITION *Position, BOOLEAN Wrap) {
  if (Window == nullptr || Position == nullptr || Text == nullptr || Position->Row >= Window->Height) return 0;
  UINTN limit = TextColumns(Window);
  UINTN column = Position->Column, row = Position->Row, count = 0;

  while (*Text != 0) {
    if (column >= limit) {
      if (!Wrap) break;
      row++;
      column = 0;
      if (row >= Window->Height) break;
    }
    UINTN i = row * Window->Width + column;
    if (Window->CellFlags[i] & CELL_PROTECTED) {
      column++;
      continue;
    }
    CHAR16 ch = *Text++;
    if (ch == CHAR_CR) {
      column = 0;
    } else if (ch == CHAR_LF) {
      row++;
      if (row >= Window->Height) break;
    } else {
      StoreCell(Window, i, ch, Position->Attribute);
      column++;
      count++;
    }
  }
  return count;
}

UINTN WindowWriteTextRight(UI_WINDOW *Window, CHAR16 *Text, UI_CELL_POSITION *Position) {
  if (Window == nullptr || Position == nullptr || Text == nullptr || Position->Row >= Window->Height) return 0;
  UINTN limit = TextColumns(Window);
  if (Position->Column >= limit) return 0;
  UINTN column = limit - Position->Column - 1;
  if (column == 0) return 0;

  UINTN remaining = 0;
  while (Text[remaining] != 0) remaining++;
  UINTN base = Position->Row * Window->Width, count = 0;

  // From the last character backwards; column 0 is never written.
  while (remaining > 0) {
    UINTN i = base + column;
    if (Window->CellFlags[i] & CELL_PROTECTED) {
      if (--column == 0) break;
      continue;
    }
    CHAR16 ch = Text[--remaining];
    if (ch == CHAR_CR || ch == CHAR_LF) continue;
    StoreCell(Window, i, ch, Position->Attribute);
    if (--column == 0) break;  // stored, but not counted
    count++;
  }
  return count;
}

UINTN WindowWriteTextCentred(UI_WINDOW *Window, CHAR16 *Text, UI_CELL_POSITION *Position) {
  if (Window == nullptr || Position == nullptr || Text == nullptr || Text[0] == 0) return 0;
  UINTN n = 0;
  while (Text[n] != 0 && Text[n] != CHAR_CR && Text[n] != CHAR_LF) n++;
  if (Text[n] != 0) Text[n] = 0;  // only the first line is written
  if (n == 0) return 0;

  UINTN t = Window->TextWidth, c = Position->Column, start = 0;
  if (n < t) start = n / 2 < c ? c - n / 2 : (t - n) / 2;
  if (start + n >= t) start = n < t ? (t - n) / 2 : 0;
  Position->Column = start;
  return WindowWriteText(Window, Text, Position, 0);
}

UINTN WindowPrintV(UI_WINDOW *Window, UI_CELL_POSITION *Position, UINT32 Mode, const CHAR16 *Format, EFI_VA_LIST Args) {
  if (Window == nullptr || Format == nullptr) return 0;
  UI_CELL_POSITION position = {0, 0, CELL_KEEP_ATTRIBUTE};
  if (Position != nullptr) {
    if (Mode != TEXT_MODE_CENTRE && (Position->Column >= Window->Width || Position->Row >= Window->Height)) return 0;
    position = *Position;
  }

  CHAR16 buffer[WINDOW_PRINT_BUFFER_SIZE / sizeof(CHAR16)];
  UINTN formatted = FormatStringV(buffer, sizeof(buffer), Format, Args);

  switch (Mode) {
    case TEXT_MODE_LEFT:
      return WindowWriteText(Window, buffer, &position, 0);
    case TEXT_MODE_WRAP:
      return WindowWriteText(Window, buffer, &position, 1);
    case TEXT_MODE_RIGHT:
      return WindowWriteTextRight(Window, buffer, &position);
    case TEXT_MODE_CENTRE:
      return WindowWriteTextCentred(Window, buffer, &position);
    default:
      return formatted;
  }
}

UINTN EFIAPI WindowPrint(UI_WINDOW *Window, UI_CELL_POSITION *Position, UINT32 Mode, const CHAR16 *Format, ...) {
  EFI_VA_LIST args;
  EFI_VA_START(args, Format);
  UINTN count = WindowPrintV(Window, Position, Mode, Format, args);
  EFI_VA_END(args);
  return count;
}

EFI_STATUS WindowClear(UI_WINDOW *Window, UINT64 *Attribute) {
  if (Window == nullptr) return EFI_INVALID_PARAMETER;
  for (UINTN i = Window->Width * Window->Height; i-- > 0;) {
    if (!(Window->CellFlags[i] & CELL_PROTECTED)) Window->CellChars[i] = u' ';
    if (Attribute != nullptr) Window->CellAttrs[i] = *Attribute;
  }
  return EFI_SUCCESS;
}

EFI_STATUS WindowClearRow(UI_WINDOW *Window, UINTN Row, UINT64 *Attribute) {
  if (Window == nullptr || Row >= Window->Height) return EFI_INVALID_PARAMETER;
  UINTN base = Row * Window->Width;
  for (UINTN c = 0; c < Window->Width; c++) {
    Window->CellChars[base + c] = u' ';
    if (Attribute != nullptr) Window->CellAttrs[base + c] = *Attribute;
  }
  return EFI_SUCCESS;
}
