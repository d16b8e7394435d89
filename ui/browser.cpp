// SPDX-License-Identifier: BSD-2-Clause-Patent
// The volume and BIOS-file browser's view: the two lists and the file date,
// drawn from what bios_files.cpp read. Everything here runs from the key
// states at TPL_APPLICATION; drawing only changes window cells, which the
// repaint timer brings to the console.
#include "ui/browser.h"

#include "ui/layout.h"
#include "ui/status_report.h"
#include "ui/window_text.h"

BROWSER_LISTS BrowserLists;

// Writes formatted text left-aligned at (Column, Row) of Window; returns the
// number of characters stored.
static UINTN EFIAPI Put(UI_WINDOW *Window, UINTN Column, UINTN Row, UINT64 Attribute, const CHAR16 *Format, ...) {
  UI_CELL_POSITION Position = {Column, Row, Attribute};
  EFI_VA_LIST Args;
  EFI_VA_START(Args, Format);
  UINTN Count = WindowPrintV(Window, &Position, TEXT_MODE_LEFT, Format, Args);
  EFI_VA_END(Args);
  return Count;
}

// A selection of all ones (Up from entry 0) means the first entry; one at or
// beyond the end means the last (all ones again when the list is empty).
static VOID ClampSelection(UINTN *Selection, UINTN Count) {
  if (*Selection == (UINTN)-1) *Selection = 0;
  if (*Selection >= Count) *Selection = Count - 1;
}

// First entry of a list window of Rows rows, moved by at most one row from
// the previous top so the highlight scrolls a row at a time. A list that
// shrank under an old top (a volume vanished) is pulled back so the
// highlighted entry stays visible and no row is wasted.
static UINTN ListStart(UINTN Selection, UINTN Count, UINTN Rows, UINTN PreviousTop) {
  UINTN Start = (Selection != 0 && Count >= Rows) ? PreviousTop : 0;
  if (Selection < Start)
    Start--;
  else if (Selection >= Start + Rows)
    Start++;
  if (Selection < Start) Start = Selection;
  if (Selection >= Start + Rows) Start = Selection - Rows + 1;
  if (Count >= Rows && Start > Count - Rows) Start = Count - Rows;
  return Start;
}

static UINTN Min(UINTN A, UINTN B) { return A < B ? A : B; }

// Room for any name a directory record can carry (511 characters).
#define NAME_CHARS ((BIOS_FILE_INFO_SIZE - SIZE_OF_EFI_FILE_INFO) / sizeof(CHAR16))

// File names come from the file system and are drawn on one row. A control
// character would move the rest of the name elsewhere (or, on a serial
// console, start a terminal sequence), so a list could show a name that is
// not the file chosen; each is shown as '?', which no FAT name can hold.
static const CHAR16 *VisibleName(const CHAR16 *Name, CHAR16 (&Buffer)[NAME_CHARS]) {
  UINTN i = 0;
  for (; i + 1 < NAME_CHARS && Name[i] != 0; i++) {
    CHAR16 Ch = Name[i];
    Buffer[i] = (Ch < 0x20 || (Ch >= 0x7F && Ch < 0xA0)) ? u'?' : Ch;
  }
  Buffer[i] = 0;
  return Buffer;
}

EFI_STATUS ShowVolumeList(BOOLEAN Confirmed, UINTN *Selection) {
  UINTN Unused = 0;
  if (Selection == nullptr) Selection = &Unused;

  EFI_STATUS Status = FindVolumes();
  if (EFI_ERROR(Status)) {
    *Selection = 0;
    return Status;
  }

  ClampSelection(Selection, BiosFiles.VolumeCount);
  UINT64 Clear = ATTR_WHITE_ON_BLACK;
  WindowClear(RunWindows.VolumeListWindow, &Clear);
  Put(RunWindows.VolumeListWindow, 0, RunWindows.VolumeListWindow->Height - 1, ATTR_YELLOW_ON_BLACK, u"Total FFS : %d",
      (UINTN)BiosFiles.VolumeCount);
  if (BiosFiles.VolumeCount == 0) return Status;

  UINTN Start = ListStart(*Selection, BiosFiles.VolumeCount, VOLUME_LIST_ROWS, BrowserLists.VolumeListTop);
  UINTN End = Min(Start + VOLUME_LIST_ROWS, BiosFiles.VolumeCount);
  for (UINTN Index = Start; Index < End; Index++) {
    if (Index == *Selection)
      Put(RunWindows.VolumeListWindow, 0, Index - Start, Confirmed ? ATTR_YELLOW_ON_BLACK : ATTR_LIGHT_MAGENTA_ON_BLACK, u"  %cfs%d  ",
          (UINTN)MARK_POINTER, Index);
    else
      Put(RunWindows.VolumeListWindow, 0, Index - Start, ATTR_WHITE_ON_BLACK, u"   fs%d  ", Index);
  }
  BrowserLists.VolumeListTop = Start;
  return Status;
}

VOID ShowScrollUpMark(UINTN Row) {
  Put(RunWindows.FileListWindow, SCROLL_MARK_COLUMN, Row, ATTR_YELLOW_ON_BLACK, u"%c", (UINTN)MARK_SCROLL_UP);
}

VOID ShowScrollDownMark(UINTN Row) {
  Put(RunWindows.FileListWindow, SCROLL_MARK_COLUMN, Row, ATTR_YELLOW_ON_BLACK, u"%c", (UINTN)MARK_SCROLL_DOWN);
}

EFI_STATUS ShowFileList(BOOLEAN Confirmed, UINTN *Selection) {
  if (BiosFiles.BiosFileCount == 0 || BiosFiles.BiosFileList == nullptr) return EFI_INVALID_PARAMETER;
  UINTN Unused = 0;
  if (Selection == nullptr) Selection = &Unused;
  ClampSelection(Selection, BiosFiles.BiosFileCount);

  UINTN Start = ListStart(*Selection, BiosFiles.BiosFileCount, FILE_LIST_ROWS, BrowserLists.FileListTop);
  UINTN End = Min(Start + FILE_LIST_ROWS, BiosFiles.BiosFileCount);
  UINT64 Clear = ATTR_WHITE_ON_BLACK;
  WindowClear(RunWindows.FileListWindow, &Clear);
  CHAR16 Name[NAME_CHARS];
  for (UINTN Index = Start; Index < End; Index++) {
    UINTN Row = Index - Start;
    VisibleName(BiosFiles.BiosFileList[Index]->FileName, Name);
    if (Index == *Selection)
      Put(RunWindows.FileListWindow, 0, Row, Confirmed ? ATTR_YELLOW_ON_BLACK : ATTR_LIGHT_MAGENTA_ON_GREY, u"%c%s", (UINTN)MARK_POINTER,
          Name);
    else
      Put(RunWindows.FileListWindow, 0, Row, ATTR_WHITE_ON_BLACK, u" %s", Name);
  }

  // Marks tell that the list goes on beyond the window; the confirmed
  // highlight is left unmarked.
  for (UINTN Index = Start; Index < End; Index++) {
    if (Confirmed && Index == *Selection) continue;
    if (Index == End - 1 && End < BiosFiles.BiosFileCount)
      ShowScrollDownMark(Index - Start);
    else if (Index == Start && Start > 0)
      ShowScrollUpMark(Index - Start);
  }
  BrowserLists.FileListTop = Start;
  return EFI_SUCCESS;
}

EFI_STATUS ShowFileDate(UINTN *Selection) {
  if (BiosFiles.VolumeHandles == nullptr) return EFI_INVALID_PARAMETER;
  if (Selection == nullptr || BiosFiles.BiosFileList == nullptr || *Selection >= BiosFiles.BiosFileCount) return EFI_SUCCESS;
  EFI_FILE_INFO *Info = BiosFiles.BiosFileList[*Selection];

  WindowClearRow(RunWindows.FileInfoWindow, 4, nullptr);
  WindowClearRow(RunWindows.FileInfoWindow, 3, nullptr);
  // Each piece starts where the previous one ended.
  UINTN Column = 4;
  Column += Put(RunWindows.FileInfoWindow, Column, 3, ATTR_YELLOW_ON_BLACK, u"File Date    : ");
  CHAR16 Name[NAME_CHARS];
  Column += Put(RunWindows.FileInfoWindow, Column, 3, ATTR_WHITE_ON_BLACK, u"%s ", VisibleName(Info->FileName, Name));
  const EFI_TIME &Time = Info->ModificationTime;
  Put(RunWindows.FileInfoWindow, Column, 3, ATTR_WHITE_ON_BLACK, u"(%02d/%02d/%d) ", (UINTN)Time.Month, (UINTN)Time.Day, (UINTN)Time.Year);
  return EFI_SUCCESS;
}
