// SPDX-License-Identifier: BSD-2-Clause-Patent
// Our drivers packed as firmware files, dispatched by the stock OVMF's own
// DXE dispatcher from drivers.fv handed to it ("dispatch" group): the
// dependency expressions hold back every driver that needs the PCD protocol
// until it is there, and each driver then starts with its own effect.
#include "test/bed/app/app.h"
#include "test/contract.h"
#include "ui_screen.h"

static const EFI_GUID UiGuid = UI_SCREEN_PROTOCOL_GUID;
static const EFI_GUID GraphicsConsoleGuid = {0xFBC9449A, 0x681C, 0x4517, {0xAB, 0x91, 0x09, 0x72, 0xAC, 0xDE, 0x77, 0xB4}};
static const EFI_GUID SetupGuid = CONTRACT_SETUP_VARIABLE_GUID;

static UINT64 Ticks() {
  UINT32 lo, hi;
  __asm__ volatile("rdtsc" : "=a"(lo), "=d"(hi));
  return (UINT64)hi << 32 | lo;
}

// A stall only ever overruns (the host may run another process meanwhile),
// which inflates the rate: the least of a few is the truest.
static UINT64 TicksPerMillisecond() {
  UINT64 rate = ~0ULL;
  for (int i = 0; i < 3; i++) {
    UINT64 t0 = Ticks();
    gBS->Stall(100 * 1000);
    UINT64 r = (Ticks() - t0) / 100;
    if (r < rate) rate = r;
  }
  return rate ? rate : 1;
}

static void DriversVolume() {
  BedLibEnv env;
  BED_REQUIRE(BedLibEnvOpen(&env), "the PCD and debug print stand-ins did not start");
  EFI_HANDLE console = nullptr;
  if (BedLocate(GraphicsConsoleGuid) == nullptr) {
    EFI_STATUS status = BedLoadStandIn(u"GraphicsConsoleStandIn", &console);
    BED_CHECK(!EFI_ERROR(status), "graphics console stand-in: %r", status);
  }

  // First without the PCD protocol: only the UI, which needs nothing, starts.
  BED_REQUIRE(!EFI_ERROR(env.Pcd->Withdraw(0)), "the PCD stand-in could not withdraw the PCD protocol");
  EFI_STATUS status = BedProcessVolume(u"\\bed\\pictures.fv");
  BED_CHECK(!EFI_ERROR(status), "ProcessFirmwareVolume(pictures.fv): %r", status);
  status = BedProcessVolume(u"\\bed\\drivers.fv");
  BED_CHECK(!EFI_ERROR(status), "ProcessFirmwareVolume(drivers.fv): %r", status);
  status = BedDispatch();
  BED_CHECK(!EFI_ERROR(status), "Dispatch without the PCD protocol: %r", status);
  for (const BedOurDriver &d : BedOurDrivers) {
    BOOLEAN started = BedDispatchedImage(d.File) != nullptr;
    BED_CHECK(started == !d.Library, "%a %a without the PCD protocol", d.Name, started ? "started" : "did not start");
  }
  status = env.Pcd->Restore();
  BED_CHECK(!EFI_ERROR(status), "restoring the PCD protocol: %r", status);

  // Now the rest start. BootDelayDxe's own effect: a one-second hold while
  // the dispatcher runs it.
  UINT8 setup[CONTRACT_SETUP_SIZE] = {};
  setup[CONTRACT_SETUP_BOOT_DELAY] = 1;
  status = BedSetVariable(u"Setup", SetupGuid, setup, sizeof setup);
  BED_CHECK(!EFI_ERROR(status), "setting Setup: %r", status);
  UINT64 ticksPerMs = TicksPerMillisecond();
  UINT64 began = Ticks();
  status = BedDispatch();
  UINT64 tookMs = (Ticks() - began) / ticksPerMs;
  BED_CHECK(!EFI_ERROR(status), "Dispatch: %r", status);
  BED_CHECK(tookMs >= 950 && tookMs < 1900, "dispatching took %u ms, not the one second BootDelayDxe holds", (UINT32)tookMs);
  BedDeleteVariable(u"Setup", SetupGuid);
  BedPrint("@bed note dispatched in %u ms\n", (UINT32)tookMs);

  UI_SCREEN_PROTOCOL *ui = (UI_SCREEN_PROTOCOL *)BedLocate(UiGuid);
  for (const BedOurDriver &d : BedOurDrivers) {
    EFI_HANDLE image = BedDispatchedImage(d.File);
    BED_CHECK(image != nullptr, "%a (file %g) was not started from the volume", d.Name, &d.File);
    if (image == nullptr) continue;
    if (!d.Library) {
      // The UI's effect: its protocol, on its own image handle.
      BED_REQUIRE(ui != nullptr, "UI_SCREEN_PROTOCOL is not installed");
      BED_CHECK(ui->ImageHandle == image, "the protocol names another image handle");
      BED_CHECK(ui->Revision == UI_SCREEN_PROTOCOL_REVISION, "revision %u", (UINT32)ui->Revision);
    } else {
      // The library's effect: the configuration buffer filled from the PCD stand-in.
      BED_CHECK(BedFindInImage(image, BedExpectedCfgPcdBuffer, sizeof BedExpectedCfgPcdBuffer) != nullptr,
                "%a: no filled configuration buffer in its image", d.Name);
    }
  }
}

extern const BedScenario DispatchScenarios[] = {
    {"dispatch.drivers-volume", "dispatch", DriversVolume},
    {nullptr, nullptr, nullptr},
};
