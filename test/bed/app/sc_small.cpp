// SPDX-License-Identifier: BSD-2-Clause-Patent
// The small drivers that link the shared library: the two library-only
// drivers, the boot delay and the P-state override, started in real firmware
// over the PCD and debug print stand-ins.
#include "test/bed/app/app.h"
#include "test/contract.h"

static const EFI_GUID SetupGuid = CONTRACT_SETUP_VARIABLE_GUID;
static const EFI_GUID PstateGuid = CONTRACT_PSTATE_VARIABLE_GUID;
static const UINT8 FilledSignature[5] = {0x01, 0x03, 0x80, 0x00, 0x01};

static const CHAR8 PcdMissing[] = "[CfgPcdBufLibDxeConstructor] LocateProtocol: gPcdProtocolGuid, Status: Not Found\n";
static const CHAR8 PiPcdMissing[] = "[CfgPcdBufLibDxeConstructor] LocateProtocol: gEfiPcdProtocolGuid, Status: Not Found\n";

static BOOLEAN TextEqual(const CHAR8 *A, const CHAR8 *B) {
  while (*A && *A == *B) A++, B++;
  return *A == *B;
}

// The firmware's HOB list, from the configuration table.
static VOID *HobList() {
  static const EFI_GUID hobListGuid = EFI_HOB_LIST_GUID;
  for (UINTN i = 0; i < gST->NumberOfTableEntries; i++)
    if (GuidEqual(gST->ConfigurationTable[i].VendorGuid, hobListGuid)) return gST->ConfigurationTable[i].VendorTable;
  return nullptr;
}

// Starts Name; its entry must succeed, CfgPcdBuffer must hold the stand-in's
// values and the HOB-list pointer must have been found, with no message sent.
static void StartsWithFilledBuffer(const CHAR16 *Name) {
  BedLibEnv env;
  if (!BedLibEnvOpen(&env)) return;
  EFI_HANDLE image = nullptr;
  EFI_STATUS entry = EFI_LOAD_ERROR;
  EFI_STATUS status = BedLoadAndStart(Name, &image, &entry);
  BED_CHECK(!EFI_ERROR(status), "LoadImage %s: %r", Name, status);
  if (!EFI_ERROR(status)) {
    BED_CHECK(entry == EFI_SUCCESS, "%s entry returned %r", Name, entry);
    BED_CHECK(BedFindInImage(image, BedExpectedCfgPcdBuffer, sizeof BedExpectedCfgPcdBuffer) != nullptr,
              "%s: CfgPcdBuffer with the stand-in's token values not found in the image", Name);
    VOID *hobs = HobList();
    BED_CHECK(hobs != nullptr && BedFindInImage(image, &hobs, sizeof hobs) != nullptr, "%s did not keep the HOB list %p", Name, hobs);
    BED_CHECK(env.Pcd->GetCount == 11, "%s asked %u PCD values, expected the 11 cached tokens", Name, (UINT32)env.Pcd->GetCount);
    BED_CHECK(env.Pcd->UnknownGets == 0, "%s asked for %u tokens the platform does not define", Name, (UINT32)env.Pcd->UnknownGets);
    BED_CHECK(env.Debug->Count == 0, "%s sent %u debug messages, first: %a", Name, (UINT32)env.Debug->Count, env.Debug->Messages[0].Text);
  }
  BedLibEnvClose(&env);
}

// With one PCD protocol withdrawn the start-up reports it once and leaves the
// buffer unfilled, and the entry still succeeds.
static void StartsWithoutPcd(const CHAR16 *Name, UINTN Pi, const CHAR8 *Message) {
  BedLibEnv env;
  if (!BedLibEnvOpen(&env)) return;
  EFI_STATUS status = env.Pcd->Withdraw(Pi);
  BED_CHECK(status == EFI_SUCCESS, "withdrawing the PCD protocol: %r", status);
  EFI_HANDLE image = nullptr;
  EFI_STATUS entry = EFI_LOAD_ERROR;
  status = BedLoadAndStart(Name, &image, &entry);
  env.Pcd->Restore();
  BED_CHECK(!EFI_ERROR(status), "LoadImage %s: %r", Name, status);
  if (!EFI_ERROR(status)) {
    BED_CHECK(entry == EFI_SUCCESS, "%s entry returned %r", Name, entry);
    BED_CHECK(env.Debug->Count == 1, "%s sent %u debug messages, expected 1", Name, (UINT32)env.Debug->Count);
    BED_CHECK(env.Debug->Messages[0].Level == 0x80000000ULL, "message level %lx", env.Debug->Messages[0].Level);
    BED_CHECK(TextEqual(env.Debug->Messages[0].Text, Message), "message \"%a\"", env.Debug->Messages[0].Text);
    BED_CHECK(BedFindInImage(image, FilledSignature, sizeof FilledSignature) == nullptr, "%s filled CfgPcdBuffer anyway", Name);
    BED_CHECK(env.Pcd->GetCount == 0, "%s read %u PCD values", Name, (UINT32)env.Pcd->GetCount);
  }
  BedLibEnvClose(&env);
}

static void PcdCacheFilled() { StartsWithFilledBuffer(u"PcdCacheDxe"); }
static void PcdCacheLiteFilled() { StartsWithFilledBuffer(u"PcdCacheLiteDxe"); }
static void PcdCacheWithoutPcd() { StartsWithoutPcd(u"PcdCacheDxe", 0, PcdMissing); }
static void PcdCacheLiteWithoutPiPcd() { StartsWithoutPcd(u"PcdCacheLiteDxe", 1, PiPcdMissing); }

// ---- Boot delay ----

// Writes "Setup" with Size bytes and the count at byte 197, then starts the
// driver inside a span the runner times with the host clock.
static void BootDelayRun(const CHAR8 *Span, UINTN Size, UINT16 Count, UINTN ExpectMs) {
  UINT8 setup[256];
  for (UINTN i = 0; i < sizeof setup; i++) setup[i] = (UINT8)(0xA0 + i);  // only bytes 197 and 198 may count
  setup[197] = (UINT8)Count;
  setup[198] = (UINT8)(Count >> 8);
  EFI_STATUS status = Size ? BedSetVariable(u"Setup", SetupGuid, setup, Size) : BedDeleteVariable(u"Setup", SetupGuid);
  BED_REQUIRE(!EFI_ERROR(status), "writing Setup: %r", status);
  BedLibEnv env;
  if (!BedLibEnvOpen(&env)) return;
  EFI_HANDLE image = nullptr;
  EFI_STATUS entry = EFI_LOAD_ERROR;
  status = BedLoadImage(u"BootDelayDxe", &image);
  BED_CHECK(!EFI_ERROR(status), "LoadImage: %r", status);
  if (!EFI_ERROR(status)) {
    BedTimeStart(Span);
    entry = gBS->StartImage(image, nullptr, nullptr);
    BedTimeStop(Span, ExpectMs);
    BED_CHECK(entry == EFI_SUCCESS, "entry returned %r", entry);
    BED_CHECK(BedFindInImage(image, BedExpectedCfgPcdBuffer, sizeof BedExpectedCfgPcdBuffer) != nullptr, "CfgPcdBuffer not filled");
  }
  BedLibEnvClose(&env);
  BedDeleteVariable(u"Setup", SetupGuid);
}

static void BootDelayCount0() { BootDelayRun("bootdelay.count0.delay", 205, 0, 0); }
static void BootDelayCount2() { BootDelayRun("bootdelay.count2.delay", 205, 2, 2000); }
static void BootDelayNoSetup() { BootDelayRun("bootdelay.no-setup.delay", 0, 0, 0); }
static void BootDelayOversizedSetup() { BootDelayRun("bootdelay.setup-206-bytes.delay", 206, 2, 0); }
static void BootDelayShortSetup() { BootDelayRun("bootdelay.setup-198-bytes.delay", 198, 2, 0); }
// Family 19h model 60h with "F" at brand character 16: one second more.
static void BootDelayCount2ExtraSecond() { BootDelayRun("bootdelay.fam19f-count2.delay", 205, 2, 3000); }
static void BootDelayCount0ExtraSecond() { BootDelayRun("bootdelay.fam19f-count0.delay", 205, 0, 1000); }
// The same family without "F" at character 16: no extra second.
static void BootDelayFamilyWithoutF() { BootDelayRun("bootdelay.fam19-count2.delay", 205, 2, 2000); }

// ---- P-state override ----

// Under TCG the P-state registers read 0 and ignore writes, so this proves
// that the driver runs to success in firmware (on its family it reaches the
// register writes); the register values themselves are checked on the host.
static void PstateRun(UINTN Size) {
  UINT8 data[29] = {1, 0, 0, 0, 0, 0x10, 0x01, 0x50};
  EFI_STATUS status = BedSetVariable(u"TAMDPstateData", PstateGuid, data, Size);
  BED_REQUIRE(!EFI_ERROR(status), "writing TAMDPstateData: %r", status);
  BedLibEnv env;
  if (!BedLibEnvOpen(&env)) return;
  EFI_HANDLE image = nullptr;
  EFI_STATUS entry = EFI_LOAD_ERROR;
  status = BedLoadAndStart(u"PstateOverrideDxe", &image, &entry);
  BED_CHECK(!EFI_ERROR(status), "LoadImage: %r", status);
  if (!EFI_ERROR(status)) {
    BED_CHECK(entry == EFI_SUCCESS, "entry returned %r", entry);
    BED_CHECK(BedFindInImage(image, BedExpectedCfgPcdBuffer, sizeof BedExpectedCfgPcdBuffer) != nullptr, "CfgPcdBuffer not filled");
  }
  BedLibEnvClose(&env);
  BedDeleteVariable(u"TAMDPstateData", PstateGuid);
}

static void PstateVariableSet() { PstateRun(29); }
static void PstateShortVariable() { PstateRun(5); }

extern const BedScenario SmallDriverScenarios[] = {
    {"pcdcache.filled-buffer", "default", PcdCacheFilled},
    {"pcdcachelite.filled-buffer", "default", PcdCacheLiteFilled},
    {"pcdcache.without-pcd-protocol", "default", PcdCacheWithoutPcd},
    {"pcdcachelite.without-pi-pcd-protocol", "default", PcdCacheLiteWithoutPiPcd},
    {"bootdelay.count0", "default", BootDelayCount0},
    {"bootdelay.count2", "default", BootDelayCount2},
    {"bootdelay.no-setup", "default", BootDelayNoSetup},
    {"bootdelay.setup-206-bytes", "default", BootDelayOversizedSetup},
    {"bootdelay.setup-198-bytes", "default", BootDelayShortSetup},
    {"bootdelay.fam19f-count2", "fam19f", BootDelayCount2ExtraSecond},
    {"bootdelay.fam19f-count0", "fam19f", BootDelayCount0ExtraSecond},
    {"bootdelay.fam19-count2", "fam19", BootDelayFamilyWithoutF},
    {"pstate.other-family", "default", PstateVariableSet},
    {"pstate.fam15-variable-set", "fam15", PstateVariableSet},
    {"pstate.fam15-short-variable", "fam15", PstateShortVariable},
    {nullptr, nullptr, nullptr},
};
