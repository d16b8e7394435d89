// SPDX-License-Identifier: BSD-2-Clause-Patent
// The demo flash tool: a firmware utility outside the driver set that brings
// the platform up the way a board's firmware would (stand-ins for the outside
// components, then our drivers dispatched from their firmware volume) and
// drives one UI run as a small flash utility. Milestones go to QEMU's debug
// console as "@demo ..." lines, which the host script follows.
#pragma once
#include "efi/efi.h"
#include "ui_screen.h"

extern EFI_HANDLE gDemoImage;
extern EFI_SYSTEM_TABLE *gST;
extern EFI_BOOT_SERVICES *gBS;
extern EFI_RUNTIME_SERVICES *gRT;

// ---- The report on the debug console (port.cpp) ----

// Formats and writes one piece of a line: %a ASCII and %s UTF-16 strings,
// %u %x (32-bit; with l: 64-bit) with a width and 0 flag, %r a status name,
// %g a GUID pointer.
extern "C" VOID EFIAPI DemoPrint(const CHAR8 *Format, ...);
extern "C" VOID DemoPrintV(const CHAR8 *Format, EFI_VA_LIST Args);
// A step the host counts as passed or failed: its checks between Begin and End.
void DemoBeginStep(const CHAR8 *Name);
void DemoEndStep();
void EFIAPI DemoFail(const CHAR8 *Format, ...);
#define DEMO_CHECK(cond, ...)           \
  do {                                  \
    if (!(cond)) DemoFail(__VA_ARGS__); \
  } while (0)

// ---- The boot disk (boot_disk.cpp) ----

VOID *DemoLocate(const EFI_GUID &Guid);
EFI_LOADED_IMAGE_PROTOCOL *DemoLoadedImage(EFI_HANDLE Image);
// Reads a whole file of the boot disk into pool memory (caller frees).
EFI_STATUS DemoReadFile(const CHAR16 *Path, VOID **Data, UINTN *Size);
// Loads \efi\<Name>.efi of the boot disk and starts it; the entry's status in *EntryStatus.
EFI_STATUS DemoLoadAndStart(const CHAR16 *Name, EFI_HANDLE *Image, EFI_STATUS *EntryStatus);

// ---- Platform bring-up (platform.cpp) ----

// One driver expected in the drivers volume: its firmware file name and image name.
struct DemoDriver {
  EFI_GUID File;
  CHAR8 Name[32];
};

#define DEMO_MAX_DRIVERS 8

struct DemoPlan {
  CHAR8 Mode[16];  // "board" and "stock" (the flash tool run), "bench" (figures)
  UINTN DriverCount;
  DemoDriver Drivers[DEMO_MAX_DRIVERS];
  BOOLEAN HasPictureFile;
  EFI_GUID PictureFile;  // the first picture file; its section 0 is a bitmap
};

// Reads \demo\plan.txt of the boot disk (DemoParsePlan).
EFI_STATUS DemoReadPlan(DemoPlan *Plan);
// The mode on the first line, then one "GUID Name" line per driver and a
// "pictures GUID" line for the first picture file; other lines are skipped. EFI_NOT_FOUND when there is no mode.
EFI_STATUS DemoParsePlan(const CHAR8 *Text, UINTN Size, DemoPlan *Plan);

// Hands a firmware volume file of the boot disk to the DXE core
// (ProcessFirmwareVolume). The volume's memory stays with the firmware.
EFI_STATUS DemoProcessVolume(const CHAR16 *Path);
// Runs the DXE dispatcher over every volume handed in so far.
EFI_STATUS DemoDispatch(VOID);

// The image handle the dispatcher loaded from firmware file File, or null.
EFI_HANDLE DemoFindDispatchedImage(const EFI_GUID &File);

// Makes sure a graphics console protocol is present: the board's stand-in
// when it is on the disk, else the tool's own small one (backdrop.cpp).
EFI_STATUS DemoEnsureGraphicsConsole(VOID);
EFI_STATUS DemoInstallOwnGraphicsConsole(VOID);

// The processor's time stamp counter, and its rate measured against Stall.
UINT64 DemoTicks(VOID);
UINT64 DemoTicksPerMillisecond(VOID);

// Parses "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX" (36 characters).
BOOLEAN DemoParseGuid(const CHAR8 *Text, EFI_GUID *Guid);

// ---- The emulated flash part (flash_part.cpp) ----
// A NOR-like part in memory the tool owns: erase sets whole blocks to 0xFF,
// programming can only clear bits, and each operation takes time as a real
// part's would, so a progress bar has something to show.

#define FLASH_BLOCK_SIZE 0x10000
#define FLASH_PAGE_SIZE 0x1000

struct FlashPart {
  UINT8 *Base;
  UINTN Size;                 // whole blocks
  UINTN EraseMicroseconds;    // per block
  UINTN ProgramMicroseconds;  // per page
  UINTN Erases;
  UINTN Programs;
};

EFI_STATUS FlashOpen(FlashPart *Part, UINTN Size);
VOID FlashClose(FlashPart *Part);
EFI_STATUS FlashEraseBlock(FlashPart *Part, UINTN Offset);
// Programs Length bytes at Offset; bits can only go from 1 to 0, so a range
// that was not erased keeps the AND of old and new data (and fails to verify).
EFI_STATUS FlashProgram(FlashPart *Part, UINTN Offset, const UINT8 *Data, UINTN Length);
// Offset of the first byte that differs from Data, or Length when all match.
UINTN FlashCompare(const FlashPart *Part, UINTN Offset, const UINT8 *Data, UINTN Length);

// ---- The flash tool's run (flash_tool.cpp) ----

EFI_STATUS DemoRunFlashTool(UI_SCREEN_PROTOCOL *Ui);

// ---- Firmware figures (bench.cpp) ----

// A run without hooks that reports, on the debug port, the time to the first
// full screen and the console characters written for each key.
EFI_STATUS DemoRunBench(UI_SCREEN_PROTOCOL *Ui);
