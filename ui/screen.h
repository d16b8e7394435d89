// SPDX-License-Identifier: BSD-2-Clause-Patent
// The character-cell screen of a run: a shadow copy of the text console and
// rectangular windows that overlap by priority. Writers change window cells
// only; a 10 ms timer notification composes the windows into the shadow and
// writes the cells that changed. Nothing is locked and the TPL is never
// raised, so every structure here must stay readable by a repaint pass that
// interrupts a writer at any instruction.
#pragma once
#include "efi/efi.h"

// Per-cell flags of a window and of the shadow screen.
#define CELL_DIRTY 0x80        // write at the next pass even if it looks unchanged
#define CELL_PROTECTED 0x40    // border cell: text flows around it, clearing keeps its character
#define CELL_TRANSPARENT 0x20  // never drawn; what lies beneath shows through

// Priority of a new window, and of a screen cell that no window holds.
#define WINDOW_DEFAULT_PRIORITY 16
#define FRAMED_WINDOW_PRIORITY 48
// A new framed window's top-left cell, in percent of the screen's width and height.
#define FRAMED_WINDOW_PLACE_PERCENT 30
// WindowSetPriority with this value releases the window's area and keeps its priority.
#define WINDOW_KEEP_PRIORITY 0xFF

// The bottom console rows that the character screen leaves to the pictures.
#define SCREEN_PICTURE_ROWS 4
#define SCREEN_PREFERRED_COLUMNS 100
#define SCREEN_PREFERRED_ROWS 31
// Repaint period in 100 ns units (10 ms).
#define SCREEN_REPAINT_PERIOD 100000
// Longest run of one attribute sent in one OutputString, terminator included.
#define SCREEN_RUN_CHARS 320

typedef struct UI_LIST_ENTRY {
  struct UI_LIST_ENTRY *ForwardLink;
  struct UI_LIST_ENTRY *BackLink;
} UI_LIST_ENTRY;

// Cells are stored row by row: cell (c, r) is element r * Width + c. The three
// arrays are separate page allocations.
typedef struct {
  UI_LIST_ENTRY Link;  // first, so a list entry is its window; a lone window links to itself
  UINTN Width;
  UINTN Height;
  UINTN TextWidth;  // columns from the left that text output may use, at most Width
  UINT8 Priority;   // higher draws over lower; equal: the newer window shows
  UINTN Column;     // screen position of the top-left cell
  UINTN Row;
  UINT8 *CellFlags;
  CHAR16 *CellChars;
  UINT64 *CellAttrs;
} UI_WINDOW;

typedef struct {
  UINTN Width;
  UINTN Height;
  UINT64 Attribute;  // of every cell
} UI_WINDOW_GEOMETRY;

// Border and fill characters of a framed window, then the border attribute.
typedef struct {
  CHAR16 TopLeft;
  CHAR16 Top;
  CHAR16 TopRight;
  CHAR16 Left;
  CHAR16 Fill;
  CHAR16 Right;
  CHAR16 BottomLeft;
  CHAR16 Bottom;
  CHAR16 BottomRight;
  UINT64 Attribute;
} UI_FRAME;

#ifdef __cplusplus
static_assert(sizeof(UI_LIST_ENTRY) == 16, "UI_LIST_ENTRY");
static_assert(offsetof(UI_WINDOW, Link) == 0, "UI_WINDOW.Link");
static_assert(offsetof(UI_WINDOW, Width) == 16, "UI_WINDOW.Width");
static_assert(offsetof(UI_WINDOW, Priority) == 40, "UI_WINDOW.Priority");
static_assert(offsetof(UI_WINDOW, Column) == 48, "UI_WINDOW.Column");
static_assert(offsetof(UI_WINDOW, CellFlags) == 64, "UI_WINDOW.CellFlags");
static_assert(sizeof(UI_WINDOW) == 88, "UI_WINDOW");
static_assert(sizeof(UI_WINDOW_GEOMETRY) == 24, "UI_WINDOW_GEOMETRY");
static_assert(offsetof(UI_FRAME, Attribute) == 24, "UI_FRAME.Attribute");
static_assert(sizeof(UI_FRAME) == 32, "UI_FRAME");
#endif

// ---- Screen state of the run ----
typedef struct {
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *ScreenConsole;
  SIMPLE_TEXT_OUTPUT_MODE SavedConsoleMode;  // the console as ScreenInit found it
  UINTN ScreenColumns;
  UINTN ScreenRows;  // console rows less SCREEN_PICTURE_ROWS
  // Shadow arrays of (ScreenColumns + 1) * ScreenRows elements: each row has
  // one spare element after its last column that is never written to the console.
  UINT8 *ScreenPriority;
  // CELL_DIRTY: to be written at the end of this pass. CELL_TRANSPARENT: given
  // up by a transparent window in this pass, written at the next one.
  UINT8 *ScreenFlags;
  CHAR16 *ScreenChars;
  UINT64 *ScreenAttrs;
  UINT64 DefaultAttribute;   // of cells that no window covers
  UI_LIST_ENTRY WindowList;  // every window, newest at the head
  EFI_EVENT RepaintEvent;
} UI_SCREEN;

extern UI_SCREEN CellScreen;

// ---- Screen ----
// Picks the 100 x 31 console mode (mode 0 when there is none), allocates the
// shadow and starts the periodic repaint.
EFI_STATUS ScreenInit(UINT64 Attribute);
// One repaint pass: compose the windows into the shadow, write what changed.
VOID EFIAPI ScreenRepaint(EFI_EVENT Event, VOID *Context);
// Forgets what the console shows, so the next pass (signalled now) writes every cell.
VOID ScreenInvalidate(VOID);
// Stops the repaint, destroys the remaining windows, frees the shadow and
// gives the console back as ScreenInit found it. Does nothing unless
// ScreenInit ran since the last shutdown.
VOID ScreenShutdown(VOID);

// ---- Windows ----
// A new window of blank cells (character 0), priority 16 at (0, 0), already
// attached. On a failure *Window is null and nothing was kept.
EFI_STATUS WindowCreate(UINTN Width, UINTN Height, UINTN TextWidth, UINT64 Attribute, UI_WINDOW **Window);
// A window with a protected border (Frame null: single-line box drawing),
// priority 48, placed at 30 % of the screen's width and height.
EFI_STATUS WindowCreateFramed(UI_WINDOW_GEOMETRY *Geometry, UI_FRAME *Frame, UI_WINDOW **Window);
EFI_STATUS WindowAttach(UI_WINDOW *Window);
EFI_STATUS WindowDetach(UI_WINDOW *Window);
EFI_STATUS WindowDestroy(UI_WINDOW *Window);
// Changes a visible window's priority and hands the area it covered back to
// every window, so the next pass redraws it (WINDOW_KEEP_PRIORITY: only that).
EFI_STATUS WindowSetPriority(UI_WINDOW *Window, UINT8 Priority);
// Moves a visible window; the area it leaves is redrawn by the next pass.
EFI_STATUS WindowMove(UI_WINDOW *Window, UINTN Column, UINTN Row);

#ifdef EFI_HOST_TEST
// Host tests run a repaint pass here to model the timer firing between the
// individual stores of list insertion, removal, priority changes and moves.
extern VOID (*ScreenPreemptionHook)(VOID);
#endif
