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
#define PREEMPTION_POINT() \
  do { \
    if (ScreenPreemptionHook != nullptr) ScreenPreemptionHook(); \
  } while (0)
#else
#define PREEMPTION_POINT() \
  do { \
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

static inline UI_LIST_ENTRY *ReadLink(UI_LIST_ENTRY *const *Slot) {
  return *(UI_LIST_ENTRY *const volatile *)Slot;
}

static BOOLEAN IsAttached(UI_WINDOW *Window) {
  for (UI_LIST_ENTRY *e = ReadLink(&CellScreen.WindowList.BackLink); e != &CellScreen.WindowList; e = ReadLink(&e->BackLink))
    if (e == &Window->Link) return 1;
  return 0;
}

// ---- Page-sized cell arrays ----

static UINTN PagesFor(UINTN Bytes) {
  return Bytes / EFI_PAGE_SIZE + ((Bytes % EFI_PAGE_SIZE) != 0 ? 1 : 0);
}

static EFI_STATUS AllocateCellArray(UINTN Count, UINTN ElementSize, VOID **Array) {
  UINTN bytes;
  if (__builtin_mul_overflow(Count, ElementSize, &bytes)) return EFI_OUT_OF_RESOURCES;
  UINTN pages = PagesFor(bytes);
  EFI_PHYSICAL_ADDRESS address = 0;
  EFI_STATUS status = gBS->AllocatePages(AllocateAnyPages, EfiBootServicesData, pages, &address);
  if (EFI_ERROR(status)) return status;
  gBS->SetMem((VOID *)(UINTN)address, pages * EFI_PAGE_SIZE, 0);
  *Array = (VOID *)(UINTN)address;
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

  UINTN chosen = 0;
  for (INT32 mode = CellScreen.SavedConsoleMode.MaxMode - 1; mode >= 0; mode--) {
    UINTN columns = 0, rows = 0;
    EFI_STATUS status = CellScreen.ScreenConsole->QueryMode(CellScreen.ScreenConsole, (UINTN)mode, &columns, &rows);
    if (!EFI_ERROR(status) && columns == SCREEN_PREFERRED_COLUMNS && rows == SCREEN_PREFERRED_ROWS) {
      chosen = (UINTN)mode;
      break;
    }
  }

  CellScreen.ScreenConsole->SetAttribute(CellScreen.ScreenConsole, (UINTN)CellScreen.SavedConsoleMode.Attribute);
  CellScreen.ScreenConsole->SetCursorPosition(CellScreen.ScreenConsole, 0, 0);
  CellScreen.ScreenConsole->SetMode(CellScreen.ScreenConsole, chosen);
  CellScreen.ScreenConsole->ClearScreen(CellScreen.ScreenConsole);
  CellScreen.ScreenConsole->EnableCursor(CellScreen.ScreenConsole, 0);

  UINTN columns = 0, rows = 0;
  EFI_STATUS status = CellScreen.ScreenConsole->QueryMode(CellScreen.ScreenConsole, (UINTN)CellScreen.ScreenConsole->Mode->Mode, &columns, &rows);
  if (EFI_ERROR(status)) return status;
  // A console too small to hold a character screen above the picture rows.
  if (columns == 0 || rows <= SCREEN_PICTURE_ROWS) return EFI_UNSUPPORTED;
  CellScreen.ScreenColumns = columns;
  CellScreen.ScreenRows = rows - SCREEN_PICTURE_ROWS;

  CellScreen.RepaintEvent = nullptr;
  RepaintPeriod = SCREEN_REPAINT_PERIOD;
  CellScreen.WindowList.ForwardLink = &CellScreen.WindowList;
  CellScreen.WindowList.BackLink = &CellScreen.WindowList;

  UINTN stride;
  if (__builtin_add_overflow(CellScreen.ScreenColumns, 1, &stride) || __builtin_mul_overflow(stride, CellScreen.ScreenRows, &ShadowCells))
    return EFI_OUT_OF_RESOURCES;
  status = AllocateCellArray(ShadowCells, sizeof(UINT8), (VOID **)&CellScreen.ScreenPriority);
  if (EFI_ERROR(status)) return status;
  status = AllocateCellArray(ShadowCells, sizeof(UINT8), (VOID **)&CellScreen.ScreenFlags);
  if (EFI_ERROR(status)) return status;
  status = AllocateCellArray(ShadowCells, sizeof(CHAR16), (VOID **)&CellScreen.ScreenChars);
  if (EFI_ERROR(status)) return status;
  status = AllocateCellArray(ShadowCells, sizeof(UINT64), (VOID **)&CellScreen.ScreenAttrs);
  if (EFI_ERROR(status)) return status;

  CellScreen.DefaultAttribute = Attribute;
  for (UINTN i = 0; i < ShadowCells; i++) {
    CellScreen.ScreenPriority[i] = WINDOW_DEFAULT_PRIORITY;
    CellScreen.ScreenFlags[i] = CELL_DIRTY;
    CellScreen.ScreenChars[i] = 0;
    CellScreen.ScreenAttrs[i] = Attribute;
  }

  status = gBS->CreateEvent(EVT_TIMER | EVT_NOTIFY_SIGNAL, TPL_CALLBACK, ScreenRepaint, nullptr, &CellScreen.RepaintEvent);
  if (EFI_ERROR(status)) {
    CellScreen.RepaintEvent = nullptr;
    return status;
  }
  return gBS->SetTimer(CellScreen.RepaintEvent, TimerPeriodic, RepaintPeriod);
}

// Claims the window's visible cells for it where its priority is not below
// the cell's, and copies every claimed cell that changed into the shadow.
static VOID ComposeWindow(UI_WINDOW *Window) {
  UINTN left = Window->Column, top = Window->Row;
  if (left >= CellScreen.ScreenColumns || top >= CellScreen.ScreenRows) return;
  UINTN width = Window->Width, height = Window->Height;
  UINTN columns = CellScreen.ScreenColumns - left < width ? CellScreen.ScreenColumns - left : width;
  UINTN rows = CellScreen.ScreenRows - top < height ? CellScreen.ScreenRows - top : height;
  UINT8 priority = Window->Priority;
  UINTN stride = CellScreen.ScreenColumns + 1;

  for (UINTN r = 0; r < rows; r++) {
    UINT8 *flags = Window->CellFlags + r * width;
    CHAR16 *chars = Window->CellChars + r * width;
    UINT64 *attrs = Window->CellAttrs + r * width;
    UINTN s = (top + r) * stride + left;
    for (UINTN c = 0; c < columns; c++, s++) {
      UINT8 f = flags[c];
      if (priority < CellScreen.ScreenPriority[s]) {
        if (f & CELL_DIRTY) flags[c] = f & ~CELL_DIRTY;
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
          flags[c] = f & ~CELL_DIRTY;
        }
        continue;
      }
      CellScreen.ScreenPriority[s] = priority;
      CHAR16 ch = chars[c];
      // Consoles refuse bit 7, so it is compared as written: a highlighted
      // cell goes out once, not on every pass of an idle screen.
      UINT64 attr = attrs[c] & ~0x80ULL;
      if ((f & CELL_DIRTY) || ch != CellScreen.ScreenChars[s] || attr != CellScreen.ScreenAttrs[s]) {
        CellScreen.ScreenChars[s] = ch;
        CellScreen.ScreenAttrs[s] = attr;
        CellScreen.ScreenFlags[s] = f | CELL_DIRTY;
        if (f & CELL_DIRTY) flags[c] = f & ~CELL_DIRTY;
      }
    }
  }
}

// Writes the dirty shadow cells in runs of one attribute. The cursor is hidden
// before the first write only, so a pass with nothing to write makes no
// console call. Returns whether anything was written.
static BOOLEAN WriteDirtyCells(VOID) {
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *con = CellScreen.ScreenConsole;
  CHAR16 run[SCREEN_RUN_CHARS];
  UINTN length = 0;
  BOOLEAN open = 0, wrote = 0;
  UINTN stride = CellScreen.ScreenColumns + 1;

  for (UINTN y = 0; y < CellScreen.ScreenRows; y++) {
    UINTN base = y * stride;
    CellScreen.ScreenChars[base + CellScreen.ScreenColumns] = 0;
    // The bottom-right cell is never written, so the console never scrolls.
    UINTN end = (y == CellScreen.ScreenRows - 1) ? CellScreen.ScreenColumns - 1 : CellScreen.ScreenColumns;
    for (UINTN x = 0; x < end; x++) {
      UINTN s = base + x;
      UINT8 f = CellScreen.ScreenFlags[s];
      // A cell given up in this pass waits one pass for a window to claim it.
      if (f & CELL_TRANSPARENT) {
        CellScreen.ScreenFlags[s] = CELL_DIRTY;
        continue;
      }
      if (!(f & CELL_DIRTY)) continue;
      CellScreen.ScreenFlags[s] = f & ~CELL_DIRTY;
      UINT64 attr = CellScreen.ScreenAttrs[s];
      if (!open) {
        if (!wrote) {
          con->EnableCursor(con, 0);
          wrote = 1;
        }
        con->SetCursorPosition(con, x, y);
        con->SetAttribute(con, (UINTN)attr);
        open = 1;
        length = 0;
      }
      CHAR16 ch = CellScreen.ScreenChars[s];
      // Control characters would move the console's cursor away from the
      // cell the shadow believes it wrote; they go out as spaces.
      run[length++] = ch < 0x20 ? u' ' : ch;
      BOOLEAN close = ch == 0 || length == SCREEN_RUN_CHARS - 1 || x + 1 >= end ||
                      !(CellScreen.ScreenFlags[s + 1] & CELL_DIRTY) || CellScreen.ScreenAttrs[s + 1] != attr;
      if (close) {
        run[length] = 0;
        con->OutputString(con, run);
        open = 0;
      }
    }
  }
  return wrote;
}

VOID EFIAPI ScreenRepaint(EFI_EVENT Event, VOID *Context) {
  (VOID)Event;
  (VOID)Context;
  if (CellScreen.ScreenConsole == nullptr || CellScreen.ScreenPriority == nullptr || CellScreen.ScreenFlags == nullptr || CellScreen.ScreenChars == nullptr ||
      CellScreen.ScreenAttrs == nullptr)
    return;
  SIMPLE_TEXT_OUTPUT_MODE before = *CellScreen.ScreenConsole->Mode;

  // Oldest to newest, by back links only (see WindowAttach and WindowDetach).
  for (UI_LIST_ENTRY *e = ReadLink(&CellScreen.WindowList.BackLink); e != &CellScreen.WindowList; e = ReadLink(&e->BackLink))
    ComposeWindow((UI_WINDOW *)e);

  if (!WriteDirtyCells()) return;
  CellScreen.ScreenConsole->SetAttribute(CellScreen.ScreenConsole, (UINTN)before.Attribute);
  CellScreen.ScreenConsole->SetCursorPosition(CellScreen.ScreenConsole, (UINTN)before.CursorColumn, (UINTN)before.CursorRow);
  CellScreen.ScreenConsole->EnableCursor(CellScreen.ScreenConsole, before.CursorVisible);
}

VOID ScreenInvalidate(VOID) {
  if (CellScreen.ScreenPriority == nullptr || CellScreen.ScreenFlags == nullptr || CellScreen.ScreenChars == nullptr || CellScreen.ScreenAttrs == nullptr) return;
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
    EFI_EVENT event = CellScreen.RepaintEvent;
    CellScreen.RepaintEvent = nullptr;
    gBS->CloseEvent(event);
  }

  while (ReadLink(&CellScreen.WindowList.BackLink) != &CellScreen.WindowList) {
    UI_WINDOW *oldest = (UI_WINDOW *)ReadLink(&CellScreen.WindowList.BackLink);
    WindowDestroy(oldest);
  }

  FreeCellArray(CellScreen.ScreenPriority, ShadowCells, sizeof(UINT8));
  CellScreen.ScreenPriority = nullptr;
  FreeCellArray(CellScreen.ScreenFlags, ShadowCells, sizeof(UINT8));
  CellScreen.ScreenFlags = nullptr;
  FreeCellArray(CellScreen.ScreenChars, ShadowCells, sizeof(CHAR16));
  CellScreen.ScreenChars = nullptr;
  FreeCellArray(CellScreen.ScreenAttrs, ShadowCells, sizeof(UINT64));
  CellScreen.ScreenAttrs = nullptr;

  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *con = CellScreen.ScreenConsole;
  con->SetAttribute(con, (UINTN)CellScreen.SavedConsoleMode.Attribute);
  con->SetMode(con, (UINTN)CellScreen.SavedConsoleMode.Mode);
  con->ClearScreen(con);
  con->SetCursorPosition(con, (UINTN)CellScreen.SavedConsoleMode.CursorColumn, (UINTN)CellScreen.SavedConsoleMode.CursorRow);
  con->EnableCursor(con, CellScreen.SavedConsoleMode.CursorVisible);
  ScreenStarted = 0;
}

// ---- Windows ----

// A window with its cells filled but not yet in the list, so no pass sees it
// half made.
// Releases a detached window's cell arrays (those it has) and its record.
static EFI_STATUS FreeWindow(UI_WINDOW *Window) {
  UINTN cells = Window->Width * Window->Height;  // checked at creation
  FreeCellArray(Window->CellFlags, cells, sizeof(UINT8));
  FreeCellArray(Window->CellChars, cells, sizeof(CHAR16));
  FreeCellArray(Window->CellAttrs, cells, sizeof(UINT64));
  return gBS->FreePool(Window);
}

// A new window, not yet attached; on a failure nothing of it is left.
static EFI_STATUS CreateDetachedWindow(UINTN Width, UINTN Height, UINTN TextWidth, UINT64 Attribute, UI_WINDOW **Window) {
  if (Window == nullptr) return EFI_INVALID_PARAMETER;
  *Window = nullptr;
  if (Width == 0 || Height == 0 || TextWidth == 0) return EFI_INVALID_PARAMETER;
  UINTN cells;
  if (__builtin_mul_overflow(Width, Height, &cells)) return EFI_INVALID_PARAMETER;

  UI_WINDOW *window = nullptr;
  EFI_STATUS status = gBS->AllocatePool(EfiBootServicesData, sizeof(UI_WINDOW), (VOID **)&window);
  if (EFI_ERROR(status)) return status;
  gBS->SetMem(window, sizeof(UI_WINDOW), 0);
  window->Link.ForwardLink = &window->Link;
  window->Link.BackLink = &window->Link;
  window->Width = Width;
  window->Height = Height;
  window->TextWidth = TextWidth;
  window->Priority = WINDOW_DEFAULT_PRIORITY;

  status = AllocateCellArray(cells, sizeof(UINT8), (VOID **)&window->CellFlags);
  if (!EFI_ERROR(status)) status = AllocateCellArray(cells, sizeof(CHAR16), (VOID **)&window->CellChars);
  if (!EFI_ERROR(status)) status = AllocateCellArray(cells, sizeof(UINT64), (VOID **)&window->CellAttrs);
  if (EFI_ERROR(status)) {
    FreeWindow(window);
    return status;
  }

  for (UINTN i = 0; i < cells; i++) {
    window->CellFlags[i] = CELL_DIRTY;
    window->CellChars[i] = 0;
    window->CellAttrs[i] = Attribute;
  }
  *Window = window;
  return EFI_SUCCESS;
}

EFI_STATUS WindowCreate(UINTN Width, UINTN Height, UINTN TextWidth, UINT64 Attribute, UI_WINDOW **Window) {
  EFI_STATUS status = CreateDetachedWindow(Width, Height, TextWidth, Attribute, Window);
  if (EFI_ERROR(status)) return status;
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
  if (Geometry == nullptr || Window == nullptr || Geometry->Width == 0 || Geometry->Height == 0)
    return EFI_INVALID_PARAMETER;

  EFI_STATUS status = CreateDetachedWindow(Geometry->Width, Geometry->Height, Geometry->Width, Geometry->Attribute, Window);
  if (EFI_ERROR(status)) return status;
  UI_WINDOW *w = *Window;

  UI_FRAME frame = {u'\x250C', u'\x2500', u'\x2510', u'\x2502', u' ', u'\x2502', u'\x2514', u'\x2500', u'\x2518',
                    Geometry->Attribute};
  if (Frame != nullptr) frame = *Frame;

  w->Priority = FRAMED_WINDOW_PRIORITY;
  w->Column = CellScreen.ScreenColumns * FRAMED_WINDOW_PLACE_PERCENT / 100;
  w->Row = CellScreen.ScreenRows * FRAMED_WINDOW_PLACE_PERCENT / 100;

  UINTN right = w->Width - 1, bottom = w->Height - 1;
  for (UINTN r = 0; r < w->Height; r++) {
    for (UINTN c = 0; c < w->Width; c++) w->CellChars[r * w->Width + c] = frame.Fill;
    SetBorderCell(w, 0, r, frame.Left, frame.Attribute);
    SetBorderCell(w, right, r, frame.Right, frame.Attribute);
  }
  for (UINTN c = 0; c < w->Width; c++) {
    SetBorderCell(w, c, 0, frame.Top, frame.Attribute);
    SetBorderCell(w, c, bottom, frame.Bottom, frame.Attribute);
  }
  SetBorderCell(w, 0, 0, frame.TopLeft, frame.Attribute);
  SetBorderCell(w, right, 0, frame.TopRight, frame.Attribute);
  SetBorderCell(w, 0, bottom, frame.BottomLeft, frame.Attribute);
  SetBorderCell(w, right, bottom, frame.BottomRight, frame.Attribute);

  return WindowAttach(w);
}

// Insertion at the head: the new entry's own links first, then the old first
// entry's back link (from here on a backward walk sees the window), then the
// head's forward link.
EFI_STATUS WindowAttach(UI_WINDOW *Window) {
  if (Window == nullptr) return EFI_INVALID_PARAMETER;
  // A second insertion would tie the list into a loop.
  if (IsAttached(Window)) return EFI_ALREADY_STARTED;
  UI_LIST_ENTRY *entry = &Window->Link;
  UI_LIST_ENTRY *first = ReadLink(&CellScreen.WindowList.ForwardLink);
  PublishLink(&entry->ForwardLink, first);
  PublishLink(&entry->BackLink, &CellScreen.WindowList);
  PublishLink(&first->BackLink, entry);
  PublishLink(&CellScreen.WindowList.ForwardLink, entry);
  return EFI_SUCCESS;
}

// Removal: the newer neighbour's forward link first, then the older
// neighbour's back link, which takes the window out of the backward walk. A
// pass already standing on the window still finds its way on through it.
EFI_STATUS WindowDetach(UI_WINDOW *Window) {
  if (Window != nullptr && IsAttached(Window)) {
    UI_LIST_ENTRY *entry = &Window->Link;
    UI_LIST_ENTRY *newer = ReadLink(&entry->BackLink);
    UI_LIST_ENTRY *older = ReadLink(&entry->ForwardLink);
    PublishLink(&newer->ForwardLink, older);
    PublishLink(&older->BackLink, newer);
    PublishLink(&entry->ForwardLink, entry);
    PublishLink(&entry->BackLink, entry);
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
  if (CellScreen.ScreenPriority == nullptr || CellScreen.ScreenFlags == nullptr || CellScreen.ScreenChars == nullptr || CellScreen.ScreenAttrs == nullptr) return;
  if (Column >= CellScreen.ScreenColumns || Row >= CellScreen.ScreenRows) return;
  UINTN columns = CellScreen.ScreenColumns - Column < Window->Width ? CellScreen.ScreenColumns - Column : Window->Width;
  UINTN rows = CellScreen.ScreenRows - Row < Window->Height ? CellScreen.ScreenRows - Row : Window->Height;
  UINTN stride = CellScreen.ScreenColumns + 1;
  for (UINTN r = 0; r < rows; r++) {
    for (UINTN c = 0; c < columns; c++) {
      UINTN s = (Row + r) * stride + Column + c;
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
  UINTN oldColumn = Window->Column, oldRow = Window->Row;
  *(volatile UINTN *)&Window->Column = Column;
  PREEMPTION_POINT();
  *(volatile UINTN *)&Window->Row = Row;
  PREEMPTION_POINT();
  ReleaseArea(Window, oldColumn, oldRow);
  if (Column != oldColumn && Row != oldRow) ReleaseArea(Window, Column, oldRow);
  return EFI_SUCCESS;
}
