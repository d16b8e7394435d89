// SPDX-License-Identifier: BSD-2-Clause-Patent
// Text placement into window cells. Border cells (CELL_PROTECTED) are skipped
// so text flows around a frame. Stored cells are not forced dirty: the repaint
// pass compares each cell with what the console shows, so a list that is
// cleared and printed again costs only the cells that really changed.
#include "ui/window_text.h"

#include "ui/format.h"

#define CHAR_CR 0x000D
#define CHAR_LF 0x000A

// Text never goes past the window's own width, whatever TextWidth says.
static UINTN TextColumns(const UI_WINDOW *Window) { return Window->TextWidth < Window->Width ? Window->TextWidth : Window->Width; }

static VOID StoreCell(UI_WINDOW *Window, UINTN Index, CHAR16 Char, UINT64 Attribute) {
  Window->CellChars[Index] = Char;
  if (Attribute != CELL_KEEP_ATTRIBUTE) Window->CellAttrs[Index] = Attribute;
}

UINTN WindowWriteText(UI_WINDOW *Window, CHAR16 *Text, UI_CELL_POSITION *Position, BOOLEAN Wrap) {
  if (Window == nullptr || Position == nullptr || Text == nullptr || Position->Row >= Window->Height) return 0;
  UINTN Limit = TextColumns(Window);
  UINTN Column = Position->Column, Row = Position->Row, Count = 0;

  while (*Text != 0) {
    if (Column >= Limit) {
      if (!Wrap) break;
      Row++;
      Column = 0;
      if (Row >= Window->Height) break;
    }
    UINTN i = Row * Window->Width + Column;
    if (Window->CellFlags[i] & CELL_PROTECTED) {
      Column++;
      continue;
    }
    CHAR16 Ch = *Text++;
    if (Ch == CHAR_CR) {
      Column = 0;
    } else if (Ch == CHAR_LF) {
      Row++;
      if (Row >= Window->Height) break;
    } else {
      StoreCell(Window, i, Ch, Position->Attribute);
      Column++;
      Count++;
    }
  }
  return Count;
}

UINTN WindowWriteTextRight(UI_WINDOW *Window, CHAR16 *Text, UI_CELL_POSITION *Position) {
  if (Window == nullptr || Position == nullptr || Text == nullptr || Position->Row >= Window->Height) return 0;
  UINTN Limit = TextColumns(Window);
  if (Position->Column >= Limit) return 0;
  UINTN Column = Limit - Position->Column - 1;
  if (Column == 0) return 0;

  UINTN Remaining = 0;
  while (Text[Remaining] != 0) Remaining++;
  UINTN Base = Position->Row * Window->Width, Count = 0;

  // From the last character backwards; column 0 is never written.
  while (Remaining > 0) {
    UINTN i = Base + Column;
    if (Window->CellFlags[i] & CELL_PROTECTED) {
      if (--Column == 0) break;
      continue;
    }
    CHAR16 Ch = Text[--Remaining];
    if (Ch == CHAR_CR || Ch == CHAR_LF) continue;
    StoreCell(Window, i, Ch, Position->Attribute);
    if (--Column == 0) break;  // stored, but not counted
    Count++;
  }
  return Count;
}

UINTN WindowWriteTextCentred(UI_WINDOW *Window, CHAR16 *Text, UI_CELL_POSITION *Position) {
  if (Window == nullptr || Position == nullptr || Text == nullptr || Text[0] == 0) return 0;
  UINTN n = 0;
  while (Text[n] != 0 && Text[n] != CHAR_CR && Text[n] != CHAR_LF) n++;
  if (Text[n] != 0) Text[n] = 0;  // only the first line is written
  if (n == 0) return 0;

  UINTN t = Window->TextWidth, c = Position->Column, Start = 0;
  if (n < t) Start = n / 2 < c ? c - n / 2 : (t - n) / 2;
  if (Start + n >= t) Start = n < t ? (t - n) / 2 : 0;
  Position->Column = Start;
  return WindowWriteText(Window, Text, Position, 0);
}

UINTN WindowPrintV(UI_WINDOW *Window, UI_CELL_POSITION *Position, UINT32 Mode, const CHAR16 *Format, EFI_VA_LIST Args) {
  if (Window == nullptr || Format == nullptr) return 0;
  UI_CELL_POSITION At = {0, 0, CELL_KEEP_ATTRIBUTE};
  if (Position != nullptr) {
    if (Mode != TEXT_MODE_CENTRE && (Position->Column >= Window->Width || Position->Row >= Window->Height)) return 0;
    At = *Position;
  }

  CHAR16 Buffer[WINDOW_PRINT_BUFFER_SIZE / sizeof(CHAR16)];
  UINTN Formatted = FormatStringV(Buffer, sizeof(Buffer), Format, Args);

  switch (Mode) {
    case TEXT_MODE_LEFT:
      return WindowWriteText(Window, Buffer, &At, 0);
    case TEXT_MODE_WRAP:
      return WindowWriteText(Window, Buffer, &At, 1);
    case TEXT_MODE_RIGHT:
      return WindowWriteTextRight(Window, Buffer, &At);
    case TEXT_MODE_CENTRE:
      return WindowWriteTextCentred(Window, Buffer, &At);
    default:
      return Formatted;
  }
}

UINTN EFIAPI WindowPrint(UI_WINDOW *Window, UI_CELL_POSITION *Position, UINT32 Mode, const CHAR16 *Format, ...) {
  EFI_VA_LIST Args;
  EFI_VA_START(Args, Format);
  UINTN Count = WindowPrintV(Window, Position, Mode, Format, Args);
  EFI_VA_END(Args);
  return Count;
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
  UINTN Base = Row * Window->Width;
  for (UINTN c = 0; c < Window->Width; c++) {
    Window->CellChars[Base + c] = u' ';
    if (Attribute != nullptr) Window->CellAttrs[Base + c] = *Attribute;
  }
  return EFI_SUCCESS;
}
