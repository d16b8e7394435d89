// SPDX-License-Identifier: BSD-2-Clause-Patent
// The cell-window compositor. Writers change window cells; ScreenRepaint,
// a periodic TPL_CALLBACK notification, compares every visible window cell
// with the shadow screen and writes only what changed. Because the repaint
// may interrupt a writer at any instruction and nothing is locked, the window
// list is only ever walked by back links and its links are published in an
// order that keeps that walk consistent at every step.
#include "ui/screen.h"

#include "ui/status_report.h"

UI_SCREEN CellScreen = {.WindowList = {&CellScreen.WindowList, &CellScreen.WindowList}};

// Set from the moment ScreenInit touches the console until ScreenShutdown
// gave it back, so a run that failed earlier leaves the console alone.
static BOOLEAN ScreenStarted;
static UINT64 RepaintPeriod;
static UINTN ShadowCells;  // elements of each shadow array

#ifdef EFI_HOST_TEST
VOID (*ScreenPreemptionHook)(VOID);
#define PREEMPTION_POINT()                                       \
  do {                                                           \
    if (ScreenPreemptionHook != nullptr) ScreenPreemptionHook(); \
  } while (0)
#else
#define PREEMPTION_POINT() \
  do {                     \
  } while (0)
#endif

// ---- List links seen by an interrupting repaint ----

// A store the compiler may neither drop, merge nor move across its neighbours:
// the repaint that interrupts us must see the links in program order.
static inline VOID PublishLink(UI_LIST_ENTRY **Slot, UI_LIST_ENTRY *Value) {
  __atomic_signal_fence(__ATOMIC_SEQ_CST);
  *(UI_LIST_ENTRY *volatile *)Slot = Value;
  __atomic_signal_fence(__ATOMIC_SEQ_CST);
  PREEMPTION_POINT();
}

static inline UI_LIST_ENTRY *ReadLink(UI_LIST_ENTRY *const *Slot) { return *(UI_LIST_ENTRY *const volatile *)Slot; }

static BOOLEAN IsAttached(UI_WINDOW *Window) {
  for (UI_LIST_ENTRY *e = ReadLink(&CellScreen.WindowList.BackLink); e != &CellScreen.WindowList; e = ReadLink(&e->BackLink))
    if (e == &Window->Link) return 1;
  return 0;
}

// ---- Page-sized cell arrays ----

static UINTN PagesFor(UINTN Bytes) { return Bytes / EFI_PAGE_SIZE + ((Bytes % EFI_PAGE_SIZE) != 0 ? 1 : 0); }

static EFI_STATUS AllocateCellArray(UINTN Count, UINTN ElementSize, VOID **Array) {
  UINTN Bytes;
  if (__builtin_mul_overflow(Count, ElementSize, &Bytes)) return EFI_OUT_OF_RESOURCES;
  UINTN Pages = PagesFor(Bytes);
  EFI_PHYSICAL_ADDRESS Address = 0;
  EFI_STATUS Status = gBS->AllocatePages(AllocateAnyPages, EfiBootServicesData, Pages, &Address);
  if (EFI_ERROR(Status)) return Status;
  gBS->SetMem((VOID *)(UINTN)Address, Pages * EFI_PAGE_SIZE, 0);
  *Array = (VOID *)(UINTN)Address;
  return EFI_SUCCESS;
}

// Count and ElementSize are those the array was allocated with, so the
// product cannot overflow here.
static VOID FreeCellArray(VOID *Array, UINTN Count, UINTN ElementSize) {
  if (Array == nullptr) return;
  gBS->FreePages((EFI_PHYSICAL_ADDRESS)(UINTN)Array, PagesFor(Count * ElementSize));
}

// ---- Screen ----

EFI_STATUS ScreenInit(UINT64 Attribute) {
  CellScreen.ScreenConsole = gST->ConOut;
  CellScreen.SavedConsoleMode = *CellScreen.ScreenConsole->Mode;
  ScreenStarted = 1;
  // No window may be sized from an earlier run's screen if this one fails.
  CellScreen.ScreenColumns = 0;
  CellScreen.ScreenRows = 0;

  UINTN Chosen = 0;
  for (INT32 Mode = CellScreen.SavedConsoleMode.MaxMode - 1; Mode >= 0; Mode--) {
    UINTN Columns = 0, Rows = 0;
    EFI_STATUS Status = CellScreen.ScreenConsole->QueryMode(CellScreen.ScreenConsole, (UINTN)Mode, &Columns, &Rows);
    if (!EFI_ERROR(Status) && Columns == SCREEN_PREFERRED_COLUMNS && Rows == SCREEN_PREFERRED_ROWS) {
      Chosen = (UINTN)Mode;
      break;
    }
  }

  CellScreen.ScreenConsole->SetAttribute(CellScreen.ScreenConsole, (UINTN)CellScreen.SavedConsoleMode.Attribute);
  CellScreen.ScreenConsole->SetCursorPosition(CellScreen.ScreenConsole, 0, 0);
  CellScreen.ScreenConsole->SetMode(CellScreen.ScreenConsole, Chosen);
  CellScreen.ScreenConsole->ClearScreen(CellScreen.ScreenConsole);
  CellScreen.ScreenConsole->EnableCursor(CellScreen.ScreenConsole, 0);

  UINTN Columns = 0, Rows = 0;
  EFI_STATUS Status =
      CellScreen.ScreenConsole->QueryMode(CellScreen.ScreenConsole, (UINTN)CellScreen.ScreenConsole->Mode->Mode, &Columns, &Rows);
  if (EFI_ERROR(Status)) return Status;
  // A console too small to hold a character screen above the picture rows.
  if (Columns == 0 || Rows <= SCREEN_PICTURE_ROWS) return EFI_UNSUPPORTED;
  CellScreen.ScreenColumns = Columns;
  CellScreen.ScreenRows = Rows - SCREEN_PICTURE_ROWS;

  CellScreen.RepaintEvent = nullptr;
  RepaintPeriod = SCREEN_REPAINT_PERIOD;
  CellScreen.WindowList.ForwardLink = &CellScreen.WindowList;
  CellScreen.WindowList.BackLink = &CellScreen.WindowList;

  UINTN Stride;
  if (__builtin_add_overflow(CellScreen.ScreenColumns, 1, &Stride) || __builtin_mul_overflow(Stride, CellScreen.ScreenRows, &ShadowCells))
    return EFI_OUT_OF_RESOURCES;
  Status = AllocateCellArray(ShadowCells, sizeof(UINT8), (VOID **)&CellScreen.ScreenPriority);
  if (EFI_ERROR(Status)) return Status;
  Status = AllocateCellArray(ShadowCells, sizeof(UINT8), (VOID **)&CellScreen.ScreenFlags);
  if (EFI_ERROR(Status)) return Status;
  Status = AllocateCellArray(ShadowCells, sizeof(CHAR16), (VOID **)&CellScreen.ScreenChars);
  if (EFI_ERROR(Status)) return Status;
  Status = AllocateCellArray(ShadowCells, sizeof(UINT64), (VOID **)&CellScreen.ScreenAttrs);
  if (EFI_ERROR(Status)) return Status;

  CellScreen.DefaultAttribute = Attribute;
  for (UINTN i = 0; i < ShadowCells; i++) {
    CellScreen.ScreenPriority[i] = WINDOW_DEFAULT_PRIORITY;
    CellScreen.ScreenFlags[i] = CELL_DIRTY;
    CellScreen.ScreenChars[i] = 0;
    CellScreen.ScreenAttrs[i] = Attribute;
  }

  Status = gBS->CreateEvent(EVT_TIMER | EVT_NOTIFY_SIGNAL, TPL_CALLBACK, ScreenRepaint, nullptr, &CellScreen.RepaintEvent);
  if (EFI_ERROR(Status)) {
    CellScreen.RepaintEvent = nullptr;
    return Status;
  }
  return gBS->SetTimer(CellScreen.RepaintEvent, TimerPeriodic, RepaintPeriod);
}

// Claims the window's visible cells for it where its priority is not below
// the cell's, and copies every claimed cell that changed into the shadow.
static VOID ComposeWindow(UI_WINDOW *Window) {
  UINTN Left = Window->Column, Top = Window->Row;
  if (Left >= CellScreen.ScreenColumns || Top >= CellScreen.ScreenRows) return;
  UINTN Width = Window->Width, Height = Window->Height;
  UINTN Columns = CellScreen.ScreenColumns - Left < Width ? CellScreen.ScreenColumns - Left : Width;
  UINTN Rows = CellScreen.ScreenRows - Top < Height ? CellScreen.ScreenRows - Top : Height;
  UINT8 Priority = Window->Priority;
  UINTN Stride = CellScreen.ScreenColumns + 1;

  for (UINTN r = 0; r < Rows; r++) {
    UINT8 *Flags = Window->CellFlags + r * Width;
    CHAR16 *Chars = Window->CellChars + r * Width;
    UINT64 *Attrs = Window->CellAttrs + r * Width;
    UINTN s = (Top + r) * Stride + Left;
    for (UINTN c = 0; c < Columns; c++, s++) {
      UINT8 f = Flags[c];
      if (Priority < CellScreen.ScreenPriority[s]) {
        if (f & CELL_DIRTY) Flags[c] = f & ~CELL_DIRTY;
        continue;
      }
      if (f & CELL_TRANSPARENT) {
        // Give the cell up so that the window beneath can take it back at the
        // next pass; if none does, that pass shows the bare screen there.
        if (f & CELL_DIRTY) {
          CellScreen.ScreenPriority[s] = 0;
          CellScreen.ScreenChars[s] = 0;
          CellScreen.ScreenAttrs[s] = CellScreen.DefaultAttribute;
          CellScreen.ScreenFlags[s] = CELL_TRANSPARENT;
          Flags[c] = f & ~CELL_DIRTY;
        }
        continue;
      }
      CellScreen.ScreenPriority[s] = Priority;
      CHAR16 Ch = Chars[c];
      // Consoles refuse bit 7, so it is compared as written: a highlighted
      // cell goes out once, not on every pass of an idle screen.
      UINT64 Attr = Attrs[c] & ~0x80ULL;
      if ((f & CELL_DIRTY) || Ch != CellScreen.ScreenChars[s] || Attr != CellScreen.ScreenAttrs[s]) {
        CellScreen.ScreenChars[s] = Ch;
        CellScreen.ScreenAttrs[s] = Attr;
        CellScreen.ScreenFlags[s] = f | CELL_DIRTY;
        if (f & CELL_DIRTY) Flags[c] = f & ~CELL_DIRTY;
      }
    }
  }
}

// Writes the dirty shadow cells in runs of one attribute. The cursor is hidden
// before the first write only, so a pass with nothing to write makes no
// console call. Returns whether anything was written.
static BOOLEAN WriteDirtyCells(VOID) {
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *Con = CellScreen.ScreenConsole;
  CHAR16 Run[SCREEN_RUN_CHARS];
  UINTN Length = 0;
  BOOLEAN Open = 0, Wrote = 0;
  UINTN Stride = CellScreen.ScreenColumns + 1;

  for (UINTN y = 0; y < CellScreen.ScreenRows; y++) {
    UINTN Base = y * Stride;
    CellScreen.ScreenChars[Base + CellScreen.ScreenColumns] = 0;
    // The bottom-right cell is never written, so the console never scrolls.
    UINTN End = (y == CellScreen.ScreenRows - 1) ? CellScreen.ScreenColumns - 1 : CellScreen.ScreenColumns;
    for (UINTN x = 0; x < End; x++) {
      UINTN s = Base + x;
      UINT8 f = CellScreen.ScreenFlags[s];
      // A cell given up in this pass waits one pass for a window to claim it.
      if (f & CELL_TRANSPARENT) {
        CellScreen.ScreenFlags[s] = CELL_DIRTY;
        continue;
      }
      if (!(f & CELL_DIRTY)) continue;
      CellScreen.ScreenFlags[s] = f & ~CELL_DIRTY;
      UINT64 Attr = CellScreen.ScreenAttrs[s];
      if (!Open) {
        if (!Wrote) {
          Con->EnableCursor(Con, 0);
          Wrote = 1;
        }
        Con->SetCursorPosition(Con, x, y);
        Con->SetAttribute(Con, (UINTN)Attr);
        Open = 1;
        Length = 0;
      }
      CHAR16 Ch = CellScreen.ScreenChars[s];
      // Control characters would move the console's cursor away from the
      // cell the shadow believes it wrote; they go out as spaces.
      Run[Length++] = Ch < 0x20 ? u' ' : Ch;
      BOOLEAN Close = Ch == 0 || Length == SCREEN_RUN_CHARS - 1 || x + 1 >= End || !(CellScreen.ScreenFlags[s + 1] & CELL_DIRTY) ||
                      CellScreen.ScreenAttrs[s + 1] != Attr;
      if (Close) {
        Run[Length] = 0;
        Con->OutputString(Con, Run);
        Open = 0;
      }
    }
  }
  return Wrote;
}

VOID EFIAPI ScreenRepaint(EFI_EVENT Event, VOID *Context) {
  (VOID) Event;
  (VOID) Context;
  if (CellScreen.ScreenConsole == nullptr || CellScreen.ScreenPriority == nullptr || CellScreen.ScreenFlags == nullptr ||
      CellScreen.ScreenChars == nullptr || CellScreen.ScreenAttrs == nullptr)
    return;
  SIMPLE_TEXT_OUTPUT_MODE Before = *CellScreen.ScreenConsole->Mode;

  // Oldest to newest, by back links only (see WindowAttach and WindowDetach).
  for (UI_LIST_ENTRY *e = ReadLink(&CellScreen.WindowList.BackLink); e != &CellScreen.WindowList; e = ReadLink(&e->BackLink))
    ComposeWindow((UI_WINDOW *)e);

  if (!WriteDirtyCells()) return;
  CellScreen.ScreenConsole->SetAttribute(CellScreen.ScreenConsole, (UINTN)Before.Attribute);
  CellScreen.ScreenConsole->SetCursorPosition(CellScreen.ScreenConsole, (UINTN)Before.CursorColumn, (UINTN)Before.CursorRow);
  CellScreen.ScreenConsole->EnableCursor(CellScreen.ScreenConsole, Before.CursorVisible);
}

VOID ScreenInvalidate(VOID) {
  if (CellScreen.ScreenPriority == nullptr || CellScreen.ScreenFlags == nullptr || CellScreen.ScreenChars == nullptr ||
      CellScreen.ScreenAttrs == nullptr)
    return;
  for (UINTN i = 0; i < ShadowCells; i++) {
    CellScreen.ScreenPriority[i] = 0;
    CellScreen.ScreenFlags[i] = CELL_DIRTY;
    CellScreen.ScreenChars[i] = 0;
    CellScreen.ScreenAttrs[i] = CellScreen.DefaultAttribute;
  }
  if (CellScreen.RepaintEvent != nullptr) gBS->SignalEvent(CellScreen.RepaintEvent);
}

VOID ScreenShutdown(VOID) {
  if (!ScreenStarted) return;

  if (CellScreen.RepaintEvent != nullptr) {
    EFI_EVENT Event = CellScreen.RepaintEvent;
    CellScreen.RepaintEvent = nullptr;
    gBS->CloseEvent(Event);
  }

  while (ReadLink(&CellScreen.WindowList.BackLink) != &CellScreen.WindowList) {
    UI_WINDOW *Oldest = (UI_WINDOW *)ReadLink(&CellScreen.WindowList.BackLink);
    WindowDestroy(Oldest);
  }

  FreeCellArray(CellScreen.ScreenPriority, ShadowCells, sizeof(UINT8));
  CellScreen.ScreenPriority = nullptr;
  FreeCellArray(CellScreen.ScreenFlags, ShadowCells, sizeof(UINT8));
  CellScreen.ScreenFlags = nullptr;
  FreeCellArray(CellScreen.ScreenChars, ShadowCells, sizeof(CHAR16));
  CellScreen.ScreenChars = nullptr;
  FreeCellArray(CellScreen.ScreenAttrs, ShadowCells, sizeof(UINT64));
  CellScreen.ScreenAttrs = nullptr;

  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *Con = CellScreen.ScreenConsole;
  Con->SetAttribute(Con, (UINTN)CellScreen.SavedConsoleMode.Attribute);
  Con->SetMode(Con, (UINTN)CellScreen.SavedConsoleMode.Mode);
  Con->ClearScreen(Con);
  Con->SetCursorPosition(Con, (UINTN)CellScreen.SavedConsoleMode.CursorColumn, (UINTN)CellScreen.SavedConsoleMode.CursorRow);
  Con->EnableCursor(Con, CellScreen.SavedConsoleMode.CursorVisible);
  ScreenStarted = 0;
}

// ---- Windows ----

// A window with its cells filled but not yet in the list, so no pass sees it
// half made.
// Releases a detached window's cell arrays (those it has) and its record.
static EFI_STATUS FreeWindow(UI_WINDOW *Window) {
  UINTN Cells = Window->Width * Window->Height;  // checked at creation
  FreeCellArray(Window->CellFlags, Cells, sizeof(UINT8));
  FreeCellArray(Window->CellChars, Cells, sizeof(CHAR16));
  FreeCellArray(Window->CellAttrs, Cells, sizeof(UINT64));
  return gBS->FreePool(Window);
}

// A new window, not yet attached; on a failure nothing of it is left.
static EFI_STATUS CreateDetachedWindow(UINTN Width, UINTN Height, UINTN TextWidth, UINT64 Attribute, UI_WINDOW **Window) {
  if (Window == nullptr) return EFI_INVALID_PARAMETER;
  *Window = nullptr;
  if (Width == 0 || Height == 0 || TextWidth == 0) return EFI_INVALID_PARAMETER;
  UINTN Cells;
  if (__builtin_mul_overflow(Width, Height, &Cells)) return EFI_INVALID_PARAMETER;

  UI_WINDOW *NewWindow = nullptr;
  EFI_STATUS Status = gBS->AllocatePool(EfiBootServicesData, sizeof(UI_WINDOW), (VOID **)&NewWindow);
  if (EFI_ERROR(Status)) return Status;
  gBS->SetMem(NewWindow, sizeof(UI_WINDOW), 0);
  NewWindow->Link.ForwardLink = &NewWindow->Link;
  NewWindow->Link.BackLink = &NewWindow->Link;
  NewWindow->Width = Width;
  NewWindow->Height = Height;
  NewWindow->TextWidth = TextWidth;
  NewWindow->Priority = WINDOW_DEFAULT_PRIORITY;

  Status = AllocateCellArray(Cells, sizeof(UINT8), (VOID **)&NewWindow->CellFlags);
  if (!EFI_ERROR(Status)) Status = AllocateCellArray(Cells, sizeof(CHAR16), (VOID **)&NewWindow->CellChars);
  if (!EFI_ERROR(Status)) Status = AllocateCellArray(Cells, sizeof(UINT64), (VOID **)&NewWindow->CellAttrs);
  if (EFI_ERROR(Status)) {
    FreeWindow(NewWindow);
    return Status;
  }

  for (UINTN i = 0; i < Cells; i++) {
    NewWindow->CellFlags[i] = CELL_DIRTY;
    NewWindow->CellChars[i] = 0;
    NewWindow->CellAttrs[i] = Attribute;
  }
  *Window = NewWindow;
  return EFI_SUCCESS;
}

EFI_STATUS WindowCreate(UINTN Width, UINTN Height, UINTN TextWidth, UINT64 Attribute, UI_WINDOW **Window) {
  EFI_STATUS Status = CreateDetachedWindow(Width, Height, TextWidth, Attribute, Window);
  if (EFI_ERROR(Status)) return Status;
  return WindowAttach(*Window);
}

static VOID SetBorderCell(UI_WINDOW *Window, UINTN Column, UINTN Row, CHAR16 Char, UINT64 Attribute) {
  UINTN i = Row * Window->Width + Column;
  Window->CellChars[i] = Char;
  Window->CellAttrs[i] = Attribute;
  Window->CellFlags[i] |= CELL_PROTECTED;
}

EFI_STATUS WindowCreateFramed(UI_WINDOW_GEOMETRY *Geometry, UI_FRAME *Frame, UI_WINDOW **Window) {
  if (Window != nullptr) *Window = nullptr;
  if (Geometry == nullptr || Window == nullptr || Geometry->Width == 0 || Geometry->Height == 0) return EFI_INVALID_PARAMETER;

  EFI_STATUS Status = CreateDetachedWindow(Geometry->Width, Geometry->Height, Geometry->Width, Geometry->Attribute, Window);
  if (EFI_ERROR(Status)) return Status;
  UI_WINDOW *w = *Window;

  UI_FRAME Drawn = {u'\x250C', u'\x2500', u'\x2510', u'\x2502', u' ', u'\x2502', u'\x2514', u'\x2500', u'\x2518', Geometry->Attribute};
  if (Frame != nullptr) Drawn = *Frame;

  w->Priority = FRAMED_WINDOW_PRIORITY;
  w->Column = CellScreen.ScreenColumns * FRAMED_WINDOW_PLACE_PERCENT / 100;
  w->Row = CellScreen.ScreenRows * FRAMED_WINDOW_PLACE_PERCENT / 100;

  UINTN Right = w->Width - 1, Bottom = w->Height - 1;
  for (UINTN r = 0; r < w->Height; r++) {
    for (UINTN c = 0; c < w->Width; c++) w->CellChars[r * w->Width + c] = Drawn.Fill;
    SetBorderCell(w, 0, r, Drawn.Left, Drawn.Attribute);
    SetBorderCell(w, Right, r, Drawn.Right, Drawn.Attribute);
  }
  for (UINTN c = 0; c < w->Width; c++) {
    SetBorderCell(w, c, 0, Drawn.Top, Drawn.Attribute);
    SetBorderCell(w, c, Bottom, Drawn.Bottom, Drawn.Attribute);
  }
  SetBorderCell(w, 0, 0, Drawn.TopLeft, Drawn.Attribute);
  SetBorderCell(w, Right, 0, Drawn.TopRight, Drawn.Attribute);
  SetBorderCell(w, 0, Bottom, Drawn.BottomLeft, Drawn.Attribute);
  SetBorderCell(w, Right, Bottom, Drawn.BottomRight, Drawn.Attribute);

  return WindowAttach(w);
}

// Insertion at the head: the new entry's own links first, then the old first
// entry's back link (from here on a backward walk sees the window), then the
// head's forward link.
EFI_STATUS WindowAttach(UI_WINDOW *Window) {
  if (Window == nullptr) return EFI_INVALID_PARAMETER;
  // A second insertion would tie the list into a loop.
  if (IsAttached(Window)) return EFI_ALREADY_STARTED;
  UI_LIST_ENTRY *Entry = &Window->Link;
  UI_LIST_ENTRY *First = ReadLink(&CellScreen.WindowList.ForwardLink);
  PublishLink(&Entry->ForwardLink, First);
  PublishLink(&Entry->BackLink, &CellScreen.WindowList);
  PublishLink(&First->BackLink, Entry);
  PublishLink(&CellScreen.WindowList.ForwardLink, Entry);
  return EFI_SUCCESS;
}

// Removal: the newer neighbour's forward link first, then the older
// neighbour's back link, which takes the window out of the backward walk. A
// pass already standing on the window still finds its way on through it.
EFI_STATUS WindowDetach(UI_WINDOW *Window) {
  if (Window != nullptr && IsAttached(Window)) {
    UI_LIST_ENTRY *Entry = &Window->Link;
    UI_LIST_ENTRY *Newer = ReadLink(&Entry->BackLink);
    UI_LIST_ENTRY *Older = ReadLink(&Entry->ForwardLink);
    PublishLink(&Newer->ForwardLink, Older);
    PublishLink(&Older->BackLink, Newer);
    PublishLink(&Entry->ForwardLink, Entry);
    PublishLink(&Entry->BackLink, Entry);
  }
  ScreenInvalidate();
  return EFI_SUCCESS;
}

EFI_STATUS WindowDestroy(UI_WINDOW *Window) {
  if (Window == nullptr) return EFI_INVALID_PARAMETER;
  WindowDetach(Window);
  return FreeWindow(Window);
}

// Hands the window's cells at (Column, Row) back: every window of priority 16
// or more may claim them at the next pass, and a cell that none claims shows
// the bare screen instead of what the window left there.
static VOID ReleaseArea(UI_WINDOW *Window, UINTN Column, UINTN Row) {
  if (CellScreen.ScreenPriority == nullptr || CellScreen.ScreenFlags == nullptr || CellScreen.ScreenChars == nullptr ||
      CellScreen.ScreenAttrs == nullptr)
    return;
  if (Column >= CellScreen.ScreenColumns || Row >= CellScreen.ScreenRows) return;
  UINTN Columns = CellScreen.ScreenColumns - Column < Window->Width ? CellScreen.ScreenColumns - Column : Window->Width;
  UINTN Rows = CellScreen.ScreenRows - Row < Window->Height ? CellScreen.ScreenRows - Row : Window->Height;
  UINTN Stride = CellScreen.ScreenColumns + 1;
  for (UINTN r = 0; r < Rows; r++) {
    for (UINTN c = 0; c < Columns; c++) {
      UINTN s = (Row + r) * Stride + Column + c;
      CellScreen.ScreenPriority[s] = WINDOW_DEFAULT_PRIORITY;
      CellScreen.ScreenChars[s] = 0;
      CellScreen.ScreenAttrs[s] = CellScreen.DefaultAttribute;
      CellScreen.ScreenFlags[s] = CELL_DIRTY;
      Window->CellFlags[r * Window->Width + c] |= CELL_DIRTY;
    }
  }
}

// The new priority is stored before the area is released: a pass that came
// between a release and the store would let the window claim its area again
// at the old priority and keep it.
EFI_STATUS WindowSetPriority(UI_WINDOW *Window, UINT8 Priority) {
  if (Window == nullptr) return EFI_INVALID_PARAMETER;
  if (Priority != WINDOW_KEEP_PRIORITY) {
    *(volatile UINT8 *)&Window->Priority = Priority;
    PREEMPTION_POINT();
  }
  ReleaseArea(Window, Window->Column, Window->Row);
  return EFI_SUCCESS;
}

// The position is stored first and the areas the window may have claimed on
// the way (the old one, and the new column on the old row) are released after.
EFI_STATUS WindowMove(UI_WINDOW *Window, UINTN Column, UINTN Row) {
  if (Window == nullptr) return EFI_INVALID_PARAMETER;
  UINTN OldColumn = Window->Column, OldRow = Window->Row;
  *(volatile UINTN *)&Window->Column = Column;
  PREEMPTION_POINT();
  *(volatile UINTN *)&Window->Row = Row;
  PREEMPTION_POINT();
  ReleaseArea(Window, OldColumn, OldRow);
  if (Column != OldColumn && Row != OldRow) ReleaseArea(Window, Column, OldRow);
  return EFI_SUCCESS;
}
