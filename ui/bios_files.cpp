// SPDX-License-Identifier: BSD-2-Clause-Patent
// The browser's model: the file-system volumes and the BIOS files of the
// volume opened last, read through the Simple File System protocol. Nothing
// here draws; browser.cpp shows what is read here.
#include "ui/bios_files.h"

#include "ui/status_report.h"

BIOS_FILES BiosFiles;

static VOID ZeroBytes(VOID *Buffer, UINTN Size) { __builtin_memset(Buffer, 0, Size); }

EFI_STATUS FindVolumes(VOID) {
  if (BiosFiles.VolumeHandles != nullptr) {
    gBS->FreePool(BiosFiles.VolumeHandles);
    BiosFiles.VolumeHandles = nullptr;
  }
  BiosFiles.VolumeCount = 0;

  EFI_HANDLE *Handles = nullptr;
  UINTN Count = 0;
  EFI_STATUS Status = gBS->LocateHandleBuffer(ByProtocol, &gEfiSimpleFileSystemProtocolGuid, nullptr, &Count, &Handles);
  if (EFI_ERROR(Status)) {
    if (Handles != nullptr) gBS->FreePool(Handles);
    return Status;
  }
  if (Handles == nullptr) Count = 0;
  BiosFiles.VolumeHandles = Handles;
  BiosFiles.VolumeCount = Count;
  return Status;
}

// Releases every file record and the array; the list is then empty.
static VOID ReleaseBiosFileList(VOID) {
  if (BiosFiles.BiosFileList != nullptr) {
    for (UINTN Index = 0; Index < BiosFiles.BiosFileCount; Index++)
      if (BiosFiles.BiosFileList[Index] != nullptr) gBS->FreePool(BiosFiles.BiosFileList[Index]);
    gBS->FreePool(BiosFiles.BiosFileList);
  }
  BiosFiles.BiosFileList = nullptr;
  BiosFiles.BiosFileCount = 0;
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
  if (BiosFiles.BiosFileUnitSize == 0) BiosFiles.BiosFileUnitSize = BIOS_FILE_DEFAULT_UNIT;

  for (;;) {
    if (*Budget == 0) {
      gBS->FreePool(Info);
      return BIOS_FILES_END;
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
      return BIOS_FILES_END;
    }
    // A record without its fixed part says nothing usable about a file.
    if (Size < SIZE_OF_EFI_FILE_INFO) continue;
    Info->FileName[(BIOS_FILE_INFO_SIZE - SIZE_OF_EFI_FILE_INFO) / sizeof(CHAR16) - 1] = 0;
    // Hooks may size copies by the record's own Size; never beyond what came.
    if (Info->Size > Size) Info->Size = Size;

    // Any entry with the directory bit is a directory, whatever else is set.
    if ((Info->Attribute & EFI_FILE_DIRECTORY) != 0) continue;
    UINT64 FileSize = Info->FileSize;
    if (FileSize == 0 || FileSize % BiosFiles.BiosFileUnitSize != 0 || FileSize > BiosFiles.BiosFileMaxSize) continue;
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
  if (BiosFiles.RootDirectory != nullptr) BiosFiles.RootDirectory->Close(BiosFiles.RootDirectory);
  BiosFiles.RootDirectory = Root;

  // Counting pass: the array is sized exactly. Both passes read the same
  // bounded prefix of the directory. A rewind that fails leaves the reads
  // where the directory stands; the entry bound still ends each pass.
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
  BiosFiles.BiosFileList = List;
  BiosFiles.BiosFileCount = Filled;
  return Status;
}

VOID ResetVolumeList(VOID) {
  BiosFiles.VolumeHandles = nullptr;
  BiosFiles.VolumeCount = 0;
}

VOID ReleaseFileBrowser(VOID) {
  ReleaseBiosFileList();
  if (BiosFiles.RootDirectory != nullptr) {
    BiosFiles.RootDirectory->Close(BiosFiles.RootDirectory);
    BiosFiles.RootDirectory = nullptr;
  }
  if (BiosFiles.VolumeHandles != nullptr) {
    gBS->FreePool(BiosFiles.VolumeHandles);
    BiosFiles.VolumeHandles = nullptr;
  }
  BiosFiles.VolumeCount = 0;
}
