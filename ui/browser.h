// SPDX-License-Identifier: BSD-2-Clause-Patent
// The browser of a run's first screens as drawn: the list of file-system
// volumes and, for the volume chosen from it, the BIOS image files of its root
// directory with the highlighted file's name and date. What is listed comes
// from bios_files.h; the key states decide when each operation runs.
#pragma once
#include "efi/efi.h"
#include "ui/bios_files.h"
#include "ui/screen.h"

// Rows of each list that show entries.
#define VOLUME_LIST_ROWS 4
#define FILE_LIST_ROWS 7

// Column of the scroll marks in FileListWindow (the last column of its text
// width of 16, so a mark replaces the last visible name character).
#define SCROLL_MARK_COLUMN 15

// Marks drawn in the lists.
#define MARK_POINTER u'\x25BA'
#define MARK_SCROLL_UP u'\x25B2'
#define MARK_SCROLL_DOWN u'\x25BC'

// ---- Browser state (the key states read and move the selections) ----

// Where each list stands. A selection of all ones (Up from 0) is drawn as 0.
typedef struct {
  UINTN VolumeSelection;  // highlighted volume
  UINTN VolumeListTop;    // first volume shown
  UINTN FileSelection;    // highlighted file
  UINTN FileListTop;      // first file shown
} BROWSER_LISTS;

extern BROWSER_LISTS BrowserLists;

// ---- Operations ----

// Enumerates the volumes again and draws the list. Confirmed FALSE draws the
// list as having the focus, TRUE as just confirmed (before the focus leaves).
// *Selection is clamped to the list; nothing is drawn when enumeration fails.
EFI_STATUS ShowVolumeList(BOOLEAN Confirmed, UINTN *Selection);

// Draws the file list around *Selection (clamped); EFI_INVALID_PARAMETER and
// nothing drawn when there is no file.
EFI_STATUS ShowFileList(BOOLEAN Confirmed, UINTN *Selection);

// Draws "File Date    : <name> (mm/dd/yyyy) " for the highlighted file in
// FileInfoWindow.
EFI_STATUS ShowFileDate(UINTN *Selection);

// Scroll marks in column SCROLL_MARK_COLUMN of a FileListWindow row.
VOID ShowScrollUpMark(UINTN Row);
VOID ShowScrollDownMark(UINTN Row);
