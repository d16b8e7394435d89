// SPDX-License-Identifier: BSD-2-Clause-Patent
// The test application (BOOTX64.EFI of the test disk): it loads the drivers
// under test from the disk, exercises them through their real interfaces and
// reports each scenario on the debug port, where the runner collects it.
#pragma once
#include "test/bed/bed.h"

extern EFI_HANDLE gBedImage;
extern EFI_SYSTEM_TABLE *gST;
extern EFI_BOOT_SERVICES *gBS;
extern EFI_RUNTIME_SERVICES *gRT;

// ---- Scenarios ----

// One scenario: a name the runner prints and the scenario groups (QEMU boots,
// one per processor model) it runs in, as a space-separated list.
struct BedScenario {
  const char *Name;
  const char *Groups;
  void (*Run)();
};

// Scenario tables, one per file; each ends with a null Name.
extern const BedScenario SelfTestScenarios[];
extern const BedScenario ScreenScenarios[];
extern const BedScenario SmallDriverScenarios[];
extern const BedScenario NetIdentityScenarios[];
extern const BedScenario SetupTokenScenarios[];
extern const BedScenario UiScenarios[];
extern const BedScenario BoardScenarios[];
extern const BedScenario DispatchScenarios[];

// Set when the plan's second word is "edk2": the board image was built from
// EDK II source with the package's adapters, so the test stand-ins' probes
// are not there and the checks look through the adapters and the platform.
extern BOOLEAN gBedSourceBoard;

// Records a failed check of the running scenario and prints why.
void EFIAPI BedFail(const CHAR8 *Format, ...);
UINTN BedFailures();
// Opens a scenario (its checks count from zero) and reports its result.
void BedBeginScenario(const CHAR8 *Name);
void BedEndScenario();

#define BED_CHECK(cond, ...)           \
  do {                                 \
    if (!(cond)) BedFail(__VA_ARGS__); \
  } while (0)
// Checks and leaves the scenario when the check fails.
#define BED_REQUIRE(cond, ...) \
  do {                         \
    if (!(cond)) {             \
      BedFail(__VA_ARGS__);    \
      return;                  \
    }                          \
  } while (0)

// ---- Requests to the runner ----

// Asks the runner for a screenshot and a text-grid snapshot under Name, and
// waits until it has surely taken them.
void BedShot(const CHAR8 *Name);
// Asks the runner to send keys ("down", "ret", "tab", "esc", ...) through the
// monitor; they arrive in the console input a moment later.
void BedKeys(const CHAR8 *Keys);
// Marks the start and end of a timed span; the runner measures it with the
// host clock and compares it with ExpectMs.
void BedTimeStart(const CHAR8 *Name);
void BedTimeStop(const CHAR8 *Name, UINTN ExpectMs);

// ---- Helpers ----

// Loads \efi\<Name>.efi of the test disk by its device path (so the image
// carries its file path as firmware-loaded drivers do).
EFI_STATUS BedLoadImage(const CHAR16 *Name, EFI_HANDLE *Image);
// Loads and starts; the entry status is returned in *EntryStatus.
EFI_STATUS BedLoadAndStart(const CHAR16 *Name, EFI_HANDLE *Image, EFI_STATUS *EntryStatus);
// Reads a whole file of the test disk into pool memory (caller frees).
EFI_STATUS BedReadFile(const CHAR16 *Path, VOID **Data, UINTN *Size);

// Stand-in drivers: load and start one (they stay until BedUnloadStandIn).
EFI_STATUS BedLoadStandIn(const CHAR16 *Name, EFI_HANDLE *Image);
EFI_STATUS BedUnloadStandIn(EFI_HANDLE Image);
VOID *BedLocate(const EFI_GUID &Guid);

// Variables of the tests; Delete removes the variable (missing is fine).
EFI_STATUS BedSetVariable(const CHAR16 *Name, const EFI_GUID &Guid, const VOID *Data, UINTN Size);
EFI_STATUS BedDeleteVariable(const CHAR16 *Name, const EFI_GUID &Guid);
// Reads into Buffer; *Size in: capacity, out: stored size.
EFI_STATUS BedGetVariable(const CHAR16 *Name, const EFI_GUID &Guid, VOID *Buffer, UINTN *Size, UINT32 *Attributes);

// Checks that the variable holds exactly Expected (Size bytes) with the
// non-volatile, boot and runtime attributes; leaves the scenario when it is missing.
void BedExpectVariable(const EFI_GUID &Guid, const CHAR16 *Name, const UINT8 *Expected, UINTN Size);

// The loaded image protocol of an image.
EFI_LOADED_IMAGE_PROTOCOL *BedLoadedImage(EFI_HANDLE Image);
// Finds Pattern inside an image's memory; returns its address or null.
const UINT8 *BedFindInImage(EFI_HANDLE Image, const VOID *Pattern, UINTN Length);

// Signals an event group the way the firmware does at its milestones.
EFI_STATUS BedSignalGroup(const EFI_GUID &Group);

BOOLEAN BedMemEqual(const VOID *A, const VOID *B, UINTN Length);
void BedHexDump(const CHAR8 *Label, const VOID *Data, UINTN Length);

// The CPUID family signature the scenarios choose their expectations by.
UINT32 BedFamily(UINT32 Leaf);

// ---- The platform around the drivers that link the shared driver library ----

// The PCD and debug print stand-ins, loaded together; the PCD stand-in
// answers the eleven cached tokens with distinct values.
struct BedLibEnv {
  VOID *FirmwarePcd;  // the firmware's own PCD protocol, back after Close
  EFI_HANDLE PcdImage;
  EFI_HANDLE DebugImage;
  BED_PCD_PROBE *Pcd;
  BED_DEBUG_PRINT_PROBE *Debug;
};
BOOLEAN BedLibEnvOpen(BedLibEnv *Env);
void BedLibEnvClose(BedLibEnv *Env);
// The 26 bytes CfgPcdBuffer must hold with the stand-in's token values.
extern const UINT8 BedExpectedCfgPcdBuffer[26];

// ---- Our drivers as a dispatcher starts them (our_drivers.cpp) ----

struct BedOurDriver {
  const CHAR8 *Name;
  EFI_GUID File;     // its firmware file name
  BOOLEAN Library;   // runs the shared library start-up
};
#define BED_OUR_DRIVER_COUNT 6
// The UI first, then the drivers that link the shared library.
extern const BedOurDriver BedOurDrivers[BED_OUR_DRIVER_COUNT];
// The image whose file path ends in the firmware-file node of File: one the
// dispatcher started and that stayed loaded (an entry that fails is unloaded).
EFI_HANDLE BedDispatchedImage(const EFI_GUID &File);
// Hands a firmware volume file of the test disk to the DXE core
// (ProcessFirmwareVolume); the firmware keeps the volume's memory.
EFI_STATUS BedProcessVolume(const CHAR16 *Path);
// Runs the DXE dispatcher over every volume handed in so far.
EFI_STATUS BedDispatch();
