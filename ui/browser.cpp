// The volume and BIOS-file browser. Everything here runs from the key states
// at TPL_APPLICATION; drawing only changes window cells, which the repaint
// timer brings to the console.
#include "ui/browser.h"

#include "ui/driver_lib.h"
#include "ui/layout.h"
#include "ui/window_text.h"

EFI_HANDLE *VolumeHandles;
UINTN VolumeCount;
UINTN VolumeSelection;
UINTN VolumeListTop;
EFI_FILE_PROTOCOL *RootDirectory;
EFI_FILE_INFO **BiosFileList;
UINTN BiosFileCount;
UINTN FileSelection;
UINTN FileListTop;
UINT64 BiosFileUnitSize;
UINT64 BiosFileMaxSize;

#define ATTR_NORMAL 0x0F
#define ATTR_HIGHLIGHT 0x0E
#define ATTR_VOLUME_ACTIVE 0x0D
// Light magenta on light grey; the compositor passes the console only the
// seven attribute bits.
#define ATTR_FILE_ACTIVE 0xFD

static VOID ZeroBytes(VOID *Buffer, UINTN Size) { __builtin_memset(Buffer, 0, Size); }

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

  if (VolumeHandles != nullptr) {
    gBS->FreePool(VolumeHandles);
    VolumeHandles = nullptr;
  }
  VolumeCount = 0;

  EFI_HANDLE *Handles = nullptr;
  UINTN Count = 0;
  EFI_STATUS Status = gBS->LocateHandleBuffer(ByProtocol, &gEfiSimpleFileSystemProtocolGuid, nullptr, &Count, &Handles);
  if (EFI_ERROR(Status)) {
    if (Handles != nullptr) gBS->FreePool(Handles);
    *Selection = 0;
    return Status;
  }
  if (Handles == nullptr) Count = 0;
  VolumeHandles = Handles;
  VolumeCount = Count;

  ClampSelection(Selection, VolumeCount);
  UINT64 Clear = ATTR_NORMAL;
  WindowClear(VolumeListWindow, &Clear);
  Put(VolumeListWindow, 0, VolumeListWindow->Height - 1, ATTR_HIGHLIGHT, u"Total FFS : %d", (UINTN)VolumeCount);
  if (VolumeCount == 0) return Status;

  UINTN Start = ListStart(*Selection, VolumeCount, VOLUME_LIST_ROWS, VolumeListTop);
  UINTN End = Min(Start + VOLUME_LIST_ROWS, VolumeCount);
  for (UINTN Index = Start; Index < End; Index++) {
    if (Index == *Selection)
      Put(VolumeListWindow, 0, Index - Start, Confirmed ? ATTR_HIGHLIGHT : ATTR_VOLUME_ACTIVE, u"  %cfs%d  ",
          (UINTN)MARK_POINTER, Index);
    else
      Put(VolumeListWindow, 0, Index - Start, ATTR_NORMAL, u"   fs%d  ", Index);
  }
  VolumeListTop = Start;
  return Status;
}

// Releases every file record and the array; the list is then empty.
static VOID ReleaseBiosFileList(VOID) {
  if (BiosFileList != nullptr) {
    for (UINTN Index = 0; Index < BiosFileCount; Index++)
      if (BiosFileList[Index] != nullptr) gBS->FreePool(BiosFileList[Index]);
    gBS->FreePool(BiosFileList);
  }
  BiosFileList = nullptr;
  BiosFileCount = 0;
}

// ReadNextBiosFile with the entries still allowed in this pass of the
// directory in *Budget; an exhausted budget ends the directory.
static EFI_STATUS ReadNextBiosFileWithin(EFI_FILE_PROTOCOL *Directory, EFI_FILE_INFO **File, UINTN *Budget) {
  if (File == nullptr) return EFI_INVALID_PARAMETER;
  *File = nullptr;
  if (Directory == nullptr) return EFI_INVALID_PARAMETER;

  EFI_FILE_INFO *Info = nullptr;
  EFI_STATUS Status = gBS->AllocatePool(EfiBootServicesData, BIOS_FILE_INFO_SIZE, (VOID **)&Info);
  if (EFI_ERROR(Status)) return Status;
  if (BiosFileUnitSize == 0) BiosFileUnitSize = BIOS_FILE_DEFAULT_UNIT;

  for (;;) {
    if (*Budget == 0) {
      gBS->FreePool(Info);
      return EFI_LOAD_ERROR;
    }
    (*Budget)--;
    // Zeroed before every read so nothing of a skipped entry shows through a
    // shorter one, and so an unterminated name ends inside the record.
    ZeroBytes(Info, BIOS_FILE_INFO_SIZE);
    UINTN Size = BIOS_FILE_INFO_SIZE;
    Status = Directory->Read(Directory, &Size, Info);
    // An entry too large for the buffer fails the read; the listing ends
    // there. A read that claims more than the buffer is treated the same.
    if (EFI_ERROR(Status) || Size == 0 || Size > BIOS_FILE_INFO_SIZE) {
      gBS->FreePool(Info);
      return EFI_LOAD_ERROR;
    }
    // A record without its fixed part says nothing usable about a file.
    if (Size < SIZE_OF_EFI_FILE_INFO) continue;
    Info->FileName[(BIOS_FILE_INFO_SIZE - SIZE_OF_EFI_FILE_INFO) / sizeof(CHAR16) - 1] = 0;
    // Hooks may size copies by the record's own Size; never beyond what came.
    if (Info->Size > Size) Info->Size = Size;

    // Any entry with the directory bit is a directory, whatever else is set.
    if ((Info->Attribute & EFI_FILE_DIRECTORY) != 0) continue;
    UINT64 FileSize = Info->FileSize;
    if (FileSize == 0 || FileSize % BiosFileUnitSize != 0 || FileSize > BiosFileMaxSize) continue;
    *File = Info;
    return Status;
  }
}

EFI_STATUS ReadNextBiosFile(EFI_FILE_PROTOCOL *Directory, EFI_FILE_INFO **File) {
  UINTN Budget = BIOS_DIRECTORY_MAX_ENTRIES;
  return ReadNextBiosFileWithin(Directory, File, &Budget);
}

EFI_STATUS OpenBiosVolume(EFI_HANDLE Handle) {
  EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *Volume = nullptr;
  EFI_STATUS Status = gBS->HandleProtocol(Handle, &gEfiSimpleFileSystemProtocolGuid, (VOID **)&Volume);
  if (EFI_ERROR(Status)) return Status;
  if (Volume == nullptr) return EFI_UNSUPPORTED;
  EFI_FILE_PROTOCOL *Root = nullptr;
  Status = Volume->OpenVolume(Volume, &Root);
  if (EFI_ERROR(Status)) return Status;
  if (Root == nullptr) return EFI_DEVICE_ERROR;

  // The new root replaces the previous one, which nothing refers to once its
  // records are gone; closing it keeps volume switches from leaking handles.
  ReleaseBiosFileList();
  if (RootDirectory != nullptr) RootDirectory->Close(RootDirectory);
  RootDirectory = Root;

  // Counting pass: the array is sized exactly. Both passes read the same
  // bounded prefix of the directory.
  Root->SetPosition(Root, 0);
  UINTN Count = 0, Budget = BIOS_DIRECTORY_MAX_ENTRIES;
  EFI_FILE_INFO *Info = nullptr;
  while (!EFI_ERROR(Status = ReadNextBiosFileWithin(Root, &Info, &Budget))) {
    Count++;
    gBS->FreePool(Info);
  }
  if (Count == 0) return Status;

  UINTN Bytes;
  if (__builtin_mul_overflow(Count, sizeof(EFI_FILE_INFO *), &Bytes)) return EFI_OUT_OF_RESOURCES;
  EFI_FILE_INFO **List = nullptr;
  Status = gBS->AllocatePool(EfiBootServicesData, Bytes, (VOID **)&List);
  if (EFI_ERROR(Status)) return Status;
  ZeroBytes(List, Bytes);

  // Filling pass. An entry that can no longer be read (the directory changed
  // since the count) is left out rather than kept as a hole, so every listed
  // entry can be drawn and handed to the hooks.
  Root->SetPosition(Root, 0);
  UINTN Filled = 0;
  Budget = BIOS_DIRECTORY_MAX_ENTRIES;
  for (UINTN Index = 0; Index < Count; Index++) {
    Status = ReadNextBiosFileWithin(Root, &Info, &Budget);
    if (!EFI_ERROR(Status)) List[Filled++] = Info;
  }
  if (Filled == 0) {
    gBS->FreePool(List);
    return Status;
  }
  BiosFileList = List;
  BiosFileCount = Filled;
  return Status;
}

VOID ShowScrollUpMark(UINTN Row) { Put(FileListWindow, SCROLL_MARK_COLUMN, Row, ATTR_HIGHLIGHT, u"%c", (UINTN)MARK_SCROLL_UP); }

VOID ShowScrollDownMark(UINTN Row) {
  Put(FileListWindow, SCROLL_MARK_COLUMN, Row, ATTR_HIGHLIGHT, u"%c", (UINTN)MARK_SCROLL_DOWN);
}

EFI_STATUS ShowFileList(BOOLEAN Confirmed, UINTN *Selection) {
  if (BiosFileCount == 0 || BiosFileList == nullptr) return EFI_INVALID_PARAMETER;
  UINTN Unused = 0;
  if (Selection == nullptr) Selection = &Unused;
  ClampSelection(Selection, BiosFileCount);

  UINTN Start = ListStart(*Selection, BiosFileCount, FILE_LIST_ROWS, FileListTop);
  UINTN End = Min(Start + FILE_LIST_ROWS, BiosFileCount);
  UINT64 Clear = ATTR_NORMAL;
  WindowClear(FileListWindow, &Clear);
  CHAR16 Name[NAME_CHARS];
  for (UINTN Index = Start; Index < End; Index++) {
    UINTN Row = Index - Start;
    VisibleName(BiosFileList[Index]->FileName, Name);
    if (Index == *Selection)
      Put(FileListWindow, 0, Row, Confirmed ? ATTR_HIGHLIGHT : ATTR_FILE_ACTIVE, u"%c%s", (UINTN)MARK_POINTER, Name);
    else
      Put(FileListWindow, 0, Row, ATTR_NORMAL, u" %s", Name);
  }

  // Marks tell that the list goes on beyond the window; the confirmed
  // highlight is left unmarked.
  for (UINTN Index = Start; Index < End; Index++) {
    if (Confirmed && Index == *Selection) continue;
    if (Index == End - 1 && End < BiosFileCount)
      ShowScrollDownMark(Index - Start);
    else if (Index == Start && Start > 0)
      ShowScrollUpMark(Index - Start);
  }
  FileListTop = Start;
  return EFI_SUCCESS;
}

EFI_STATUS ShowFileDate(UINTN *Selection) {
  if (VolumeHandles == nullptr) return EFI_INVALID_PARAMETER;
  if (Selection == nullptr || BiosFileList == nullptr || *Selection >= BiosFileCount) return EFI_SUCCESS;
  EFI_FILE_INFO *Info = BiosFileList[*Selection];

  WindowClearRow(FileInfoWindow, 4, nullptr);
  WindowClearRow(FileInfoWindow, 3, nullptr);
  // Each piece starts where the previous one ended.
  UINTN Column = 4;
  Column += Put(FileInfoWindow, Column, 3, ATTR_HIGHLIGHT, u"File Date    : ");
  CHAR16 Name[NAME_CHARS];
  Column += Put(FileInfoWindow, Column, 3, ATTR_NORMAL, u"%s ", VisibleName(Info->FileName, Name));
  const EFI_TIME &Time = Info->ModificationTime;
  Put(FileInfoWindow, Column, 3, ATTR_NORMAL, u"(%02d/%02d/%d) ", (UINTN)Time.Month, (UINTN)Time.Day, (UINTN)Time.Year);
  return EFI_SUCCESS;
}

EFI_STATUS ShowMessageBox(BOOLEAN Show, UI_WINDOW *Window) {
  if (Window == nullptr) return EFI_INVALID_PARAMETER;
  if (Show) {
    EFI_STATUS Status = WindowSetPriority(Window, 64);
    ShadeMessageBoxArea();
    return Status;
  }
  UINT64 Blank = 0x1F;
  WindowClear(Window, &Blank);
  EFI_STATUS Status = WindowSetPriority(Window, 16);
  UnshadeMessageBoxArea();
  return Status;
}

VOID ResetVolumeList(VOID) {
  VolumeHandles = nullptr;
  VolumeCount = 0;
}

VOID ReleaseFileBrowser(VOID) {
  ReleaseBiosFileList();
  if (RootDirectory != nullptr) {
    RootDirectory->Close(RootDirectory);
    RootDirectory = nullptr;
  }
  if (VolumeHandles != nullptr) {
    gBS->FreePool(VolumeHandles);
    VolumeHandles = nullptr;
  }
  VolumeCount = 0;
}
