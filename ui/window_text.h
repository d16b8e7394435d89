// SPDX-License-Identifier: BSD-2-Clause-Patent
// Text into the cells of a window: left-aligned with or without wrapping,
// right-aligned, centred, formatted, and blanking. Only window cells change;
// the next repaint pass shows them. Border cells are never written by text.
#pragma once
#include "efi/efi.h"
#include "ui/screen.h"
#include "ui_screen.h"  // TEXT_MODE_*

// An attribute of all ones keeps each cell's attribute.
#define CELL_KEEP_ATTRIBUTE 0xFFFFFFFFFFFFFFFFULL

// The buffer a formatted window write formats into.
#define WINDOW_PRINT_BUFFER_SIZE 640

typedef struct {
  UINTN Column;  // right-aligned: distance from the right end; centred: the centre (updated to the start)
  UINTN Row;
  UINT64 Attribute;  // CELL_KEEP_ATTRIBUTE keeps each cell's attribute
} UI_CELL_POSITION;

#ifdef __cplusplus
static_assert(sizeof(UI_CELL_POSITION) == 24, "UI_CELL_POSITION");
#endif

// Left-aligned from Position; CR returns to column 0, LF moves one row down.
// Returns the characters stored.
UINTN WindowWriteText(UI_WINDOW *Window, CHAR16 *Text, UI_CELL_POSITION *Position, BOOLEAN Wrap);
// Right-aligned, ending Position->Column cells before the end of the text
// area; never writes column 0, cuts a long text at its beginning.
UINTN WindowWriteTextRight(UI_WINDOW *Window, CHAR16 *Text, UI_CELL_POSITION *Position);
// Centred on Position->Column (updated to the start column); only the first
// line of Text is written, and a CR or LF ending it is overwritten with 0.
UINTN WindowWriteTextCentred(UI_WINDOW *Window, CHAR16 *Text, UI_CELL_POSITION *Position);
// Formats (FormatStringV) and writes with one of the TEXT_MODE_* operations.
// Position null: column 0, row 0, each cell's attribute kept.
UINTN EFIAPI WindowPrint(UI_WINDOW *Window, UI_CELL_POSITION *Position, UINT32 Mode, const CHAR16 *Format, ...);
UINTN WindowPrintV(UI_WINDOW *Window, UI_CELL_POSITION *Position, UINT32 Mode, const CHAR16 *Format, EFI_VA_LIST Args);
// Blanks every cell but the border's characters; Attribute (when given)
// recolours every cell, border included.
EFI_STATUS WindowClear(UI_WINDOW *Window, UINT64 *Attribute);
// Blanks one row, border cells included.
EFI_STATUS WindowClearRow(UI_WINDOW *Window, UINTN Row, UINT64 *Attribute);
