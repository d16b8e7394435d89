// SPDX-License-Identifier: BSD-2-Clause-Patent
// The browser's model: the file-system volumes and, for the volume opened
// last, the BIOS image files of its root directory. A BIOS file is recognised
// by its size alone (a non-zero multiple of BiosFileUnitSize, at most
// BiosFileMaxSize).
#pragma once
#include "efi/efi.h"
#include "ui/guids.h"  // the volumes are the handles with gEfiSimpleFileSystemProtocolGuid

// Directory reads use one buffer of the fixed part of EFI_FILE_INFO plus room
// for a 511-character name and its terminator.
#define BIOS_FILE_INFO_SIZE (SIZE_OF_EFI_FILE_INFO + 1024)
static_assert(BIOS_FILE_INFO_SIZE == 1104, "directory read buffer");

// Entries read from a directory in one pass before the browser takes it as
// ended. A FAT directory holds at most 65,536 entries, so no real volume
// reaches it; a file system that never reports the end (a looping cluster
// chain, a broken driver) would otherwise hang the UI.
#ifndef BIOS_DIRECTORY_MAX_ENTRIES  // the fuzz target lowers it to stay fast
#define BIOS_DIRECTORY_MAX_ENTRIES 65536
#endif

// ReadNextBiosFile's answer when the directory yields no further BIOS file:
// its end, BIOS_DIRECTORY_MAX_ENTRIES entries read, or a failed read. The
// value is a status so it can travel as one, but it is this module's signal,
// not a failure the firmware reported.
#define BIOS_FILES_END EFI_LOAD_ERROR

// Granularity used when the caller gives none (64 KiB).
#define BIOS_FILE_DEFAULT_UNIT 0x10000ULL

typedef struct {
  // Every Simple File System handle, in the firmware's order; renewed by
  // FindVolumes, each time the volume list is drawn. Volumes are named fs<index>.
  EFI_HANDLE *VolumeHandles;
  UINTN VolumeCount;
  // Root directory of the volume opened last; handed to the caller's hooks.
  EFI_FILE_PROTOCOL *RootDirectory;
  // The accepted files of RootDirectory in directory order, each its own
  // BIOS_FILE_INFO_SIZE pool record. Entries [0, BiosFileCount) are never
  // null; BiosFileList is null whenever BiosFileCount is 0.
  EFI_FILE_INFO **BiosFileList;
  UINTN BiosFileCount;
  // The caller's size rule, copied from the run parameters when a run starts.
  // A unit of 0 becomes 64 KiB at the first directory read; a maximum of all
  // ones means no limit.
  UINT64 BiosFileUnitSize;
  UINT64 BiosFileMaxSize;
} BIOS_FILES;

extern BIOS_FILES BiosFiles;

// Enumerates the volumes again into VolumeHandles and VolumeCount; on a
// failure the list is empty.
EFI_STATUS FindVolumes(VOID);

// Opens the volume's root directory and rebuilds BiosFileList. When the
// volume cannot be opened, the previous list and root stay as they were.
EFI_STATUS OpenBiosVolume(EFI_HANDLE Handle);

// Reads Directory up to its next accepted entry and returns it in a new
// BIOS_FILE_INFO_SIZE pool record (the caller frees it). BIOS_FILES_END when
// there is none; *File is then null.
EFI_STATUS ReadNextBiosFile(EFI_FILE_PROTOCOL *Directory, EFI_FILE_INFO **File);

// Forgets the volume buffer without releasing it: the previous run's
// ReleaseFileBrowser already did. Called when a run starts.
VOID ResetVolumeList(VOID);

// Releases the file records, the open root directory and the volume buffer
// at the end of a run.
VOID ReleaseFileBrowser(VOID);
