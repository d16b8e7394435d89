// SPDX-License-Identifier: BSD-2-Clause-Patent
// Entry of the demo flash tool (BOOTX64.EFI of the demo disk). On the board
// image (plan "board") the firmware has dispatched everything from flash and
// the tool only checks that. On a stock PC (plan "stock") it loads the UI
// driver and the graphics console adapter from its disk. Otherwise it brings the platform up as a board's
// firmware would have it when the tool starts: the
// stand-ins for the outside components first (the PCD stand-in before any of
// our drivers), then our pictures and drivers volumes handed to the DXE core
// and dispatched by it. It checks that every driver of the volume started,
// then, in the demo plan, runs the flash tool on the UI, and powers off.
#include "examples/flash_tool/demo.h"

EFI_HANDLE gDemoImage;  // the tool's own image, whose disk it reads
EFI_SYSTEM_TABLE *gST;
EFI_BOOT_SERVICES *gBS;
EFI_RUNTIME_SERVICES *gRT;

static const EFI_GUID UiGuid = UI_SCREEN_PROTOCOL_GUID;
static const EFI_GUID FileSystemGuid = EFI_SIMPLE_FILE_SYSTEM_PROTOCOL_GUID;

static BOOLEAN NameIs(const CHAR8 *A, const CHAR8 *B) {
  while (*A && *A == *B) A++, B++;
  return *A == *B;
}

static void Begin(const CHAR8 *Name) { DemoBeginStep(Name); }
static void End() { DemoEndStep(); }

// The components a board brings before our drivers, loaded from the tool's
// disk when they are there: the debug print protocol, then the PCD protocol.
static void LoadBoardComponents() {
  static const CHAR16 *const Names[] = {u"DebugPrintStandIn", u"PcdStandIn"};
  for (const CHAR16 *name : Names) {
    EFI_HANDLE image = nullptr;
    EFI_STATUS entry = EFI_SUCCESS;
    EFI_STATUS status = DemoLoadAndStart(name, &image, &entry);
    DemoPrint("@demo component %s %r %r\n", name, status, entry);
  }
}

// Brings the platform up on a stock firmware with our volumes and checks
// what the dispatcher started; returns the UI protocol when it is there.
static UI_SCREEN_PROTOCOL *BringUp(const DemoPlan &Plan) {
  Begin("demo.bring-up");
  LoadBoardComponents();
  EFI_STATUS status = DemoEnsureGraphicsConsole();
  DEMO_CHECK(!EFI_ERROR(status), "graphics console: %r", status);
  status = DemoProcessVolume(u"\\demo\\pictures.fv");
  DEMO_CHECK(!EFI_ERROR(status), "ProcessFirmwareVolume(pictures.fv): %r", status);
  status = DemoProcessVolume(u"\\demo\\drivers.fv");
  DEMO_CHECK(!EFI_ERROR(status), "ProcessFirmwareVolume(drivers.fv): %r", status);
  status = DemoDispatch();
  DEMO_CHECK(!EFI_ERROR(status), "Dispatch: %r", status);
  DemoPrint("@demo dispatched %r\n", status);

  UI_SCREEN_PROTOCOL *ui = (UI_SCREEN_PROTOCOL *)DemoLocate(UiGuid);
  for (UINTN i = 0; i < Plan.DriverCount; i++) {
    const DemoDriver &d = Plan.Drivers[i];
    EFI_HANDLE image = DemoFindDispatchedImage(d.File);
    DemoPrint("@demo driver %a %a\n", d.Name, image ? "started" : "missing");
    DEMO_CHECK(image != nullptr, "%a (file %g) was not started from the volume", d.Name, &d.File);
    if (image != nullptr && NameIs(d.Name, "TarvexUIV4x64"))
      DEMO_CHECK(ui != nullptr && ui->ImageHandle == image, "UI_SCREEN_PROTOCOL is not the volume's UI driver's");
  }
  End();
  return ui;
}

// The board image: everything is in flash and was dispatched by the firmware
// before the tool started; the tool loads nothing and processes no volume, it
// only checks what the board brought up and finds the UI protocol.
static UI_SCREEN_PROTOCOL *FindOnBoard(const DemoPlan &Plan) {
  static const EFI_GUID GraphicsConsoleGuid = {0xFBC9449A, 0x681C, 0x4517, {0xAB, 0x91, 0x09, 0x72, 0xAC, 0xDE, 0x77, 0xB4}};
  static const EFI_GUID Fv2Guid = EFI_FIRMWARE_VOLUME2_PROTOCOL_GUID;
  Begin("demo.board");
  UI_SCREEN_PROTOCOL *ui = (UI_SCREEN_PROTOCOL *)DemoLocate(UiGuid);
  DEMO_CHECK(DemoLocate(GraphicsConsoleGuid) != nullptr, "the board has no graphics console");
  for (UINTN i = 0; i < Plan.DriverCount; i++) {
    const DemoDriver &d = Plan.Drivers[i];
    EFI_HANDLE image = DemoFindDispatchedImage(d.File);
    DemoPrint("@demo driver %a %a\n", d.Name, image ? "started from flash" : "missing");
    DEMO_CHECK(image != nullptr, "%a (file %g) was not started from flash", d.Name, &d.File);
    if (image && NameIs(d.Name, "TarvexUIV4x64"))
      DEMO_CHECK(ui != nullptr && ui->ImageHandle == image, "UI_SCREEN_PROTOCOL is not the flash driver's");
  }
  // The pictures: a firmware volume of the board serves the digits file.
  UINTN count = 0;
  EFI_HANDLE *handles = nullptr;
  BOOLEAN pictures = 0;
  if (Plan.HasPictureFile && !EFI_ERROR(gBS->LocateHandleBuffer(ByProtocol, &Fv2Guid, nullptr, &count, &handles))) {
    for (UINTN i = 0; i < count && !pictures; i++) {
      EFI_FIRMWARE_VOLUME2_PROTOCOL *fv = nullptr;
      VOID *section = nullptr;
      UINTN size = 0;
      UINT32 authentication = 0;
      if (EFI_ERROR(gBS->HandleProtocol(handles[i], &Fv2Guid, (VOID **)&fv))) continue;
      if (!EFI_ERROR(fv->ReadSection(fv, &Plan.PictureFile, EFI_SECTION_RAW, 0, &section, &size, &authentication))) {
        pictures = section != nullptr && size > 2 && ((const UINT8 *)section)[0] == 'B' && ((const UINT8 *)section)[1] == 'M';
        gBS->FreePool(section);
      }
    }
    gBS->FreePool(handles);
  }
  DEMO_CHECK(pictures, "no firmware volume of the board holds the pictures");
  DemoPrint("@demo pictures %a\n", pictures ? "in flash" : "missing");
  End();
  return ui;
}

// A stock UEFI PC (plan "stock"): nothing of ours is in its firmware, so the
// tool brings it along on its own disk, as on a USB stick: the graphics
// console adapter first (the UI draws its backdrop through it), then the UI
// driver, and the pictures' volume handed to the DXE core so the UI finds
// them in a firmware volume as on a board.
static UI_SCREEN_PROTOCOL *BringUpStock() {
  static const EFI_GUID GraphicsConsoleGuid = {0xFBC9449A, 0x681C, 0x4517, {0xAB, 0x91, 0x09, 0x72, 0xAC, 0xDE, 0x77, 0xB4}};
  Begin("demo.stock");
  DEMO_CHECK(DemoLocate(UiGuid) == nullptr && DemoLocate(GraphicsConsoleGuid) == nullptr,
            "the firmware already has the UI or a graphics console: not a stock PC");
  EFI_STATUS status = DemoProcessVolume(u"\\demo\\pictures.fv");
  DEMO_CHECK(!EFI_ERROR(status), "ProcessFirmwareVolume(pictures.fv): %r", status);
  DemoPrint("@demo pictures %a\n", EFI_ERROR(status) ? "missing" : "from the disk");
  static const CHAR16 *const Images[] = {u"AdvancedGcDxe", u"TarvexUIV4x64"};
  EFI_HANDLE ui = nullptr;
  for (const CHAR16 *name : Images) {
    EFI_HANDLE image = nullptr;
    EFI_STATUS entry = EFI_SUCCESS;
    status = DemoLoadAndStart(name, &image, &entry);
    DEMO_CHECK(!EFI_ERROR(status) && !EFI_ERROR(entry), "%s: load %r, entry %r", name, status, entry);
    DemoPrint("@demo driver %s %a\n", name, !EFI_ERROR(status) && !EFI_ERROR(entry) ? "started from the disk" : "missing");
    ui = image;
  }
  DEMO_CHECK(DemoLocate(GraphicsConsoleGuid) != nullptr, "the graphics console adapter installed no graphics console");
  UI_SCREEN_PROTOCOL *screen = (UI_SCREEN_PROTOCOL *)DemoLocate(UiGuid);
  DEMO_CHECK(screen != nullptr && screen->ImageHandle == ui, "UI_SCREEN_PROTOCOL is not the loaded UI driver's");
  End();
  return screen;
}

// Names the file-system volumes in the order the UI lists them, by the
// DEMOVOL.TXT marker the host put on its own volumes.
static void ListVolumes() {
  UINTN count = 0;
  EFI_HANDLE *handles = nullptr;
  if (EFI_ERROR(gBS->LocateHandleBuffer(ByProtocol, &FileSystemGuid, nullptr, &count, &handles))) return;
  for (UINTN i = 0; i < count; i++) {
    EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *fs = nullptr;
    EFI_FILE_PROTOCOL *root = nullptr, *file = nullptr;
    CHAR8 label[17] = "-";
    if (!EFI_ERROR(gBS->HandleProtocol(handles[i], &FileSystemGuid, (VOID **)&fs)) && !EFI_ERROR(fs->OpenVolume(fs, &root))) {
      if (!EFI_ERROR(root->Open(root, &file, u"DEMOVOL.TXT", EFI_FILE_MODE_READ, 0))) {
        UINTN size = sizeof label - 1;
        if (!EFI_ERROR(file->Read(file, &size, label))) {
          UINTN n = 0;
          while (n < size && label[n] > ' ') n++;
          label[n] = 0;
        }
        file->Close(file);
      }
      root->Close(root);
    }
    DemoPrint("@demo volume %u %a\n", (UINT32)i, label);
  }
  gBS->FreePool(handles);
}

extern "C" EFI_STATUS EFIAPI DemoEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  gDemoImage = ImageHandle;
  gST = SystemTable;
  gBS = SystemTable->BootServices;
  gRT = SystemTable->RuntimeServices;
  gBS->SetWatchdogTimer(0, 0, 0, nullptr);

  DemoPlan plan;
  EFI_STATUS status = DemoReadPlan(&plan);
  DemoPrint("@bed begin %a\n", EFI_ERROR(status) ? "(no plan)" : plan.Mode);
  BOOLEAN board = NameIs(plan.Mode, "board"), stock = NameIs(plan.Mode, "stock");
  UI_SCREEN_PROTOCOL *ui = board ? FindOnBoard(plan) : stock ? BringUpStock() : BringUp(plan);
  UINTN scenarios = 1;

  if (ui != nullptr) {
    ListVolumes();
    BOOLEAN bench = NameIs(plan.Mode, "bench");
    Begin(bench ? "demo.bench" : "demo.flash-tool");
    status = bench ? DemoRunBench(ui) : DemoRunFlashTool(ui);
    DEMO_CHECK(!EFI_ERROR(status), "the run ended with %r", status);
    End();
    scenarios++;
  }
  DemoPrint("@bed end %u\n", (UINT32)scenarios);
  gRT->ResetSystem(EfiResetShutdown, EFI_SUCCESS, 0, nullptr);
  return EFI_SUCCESS;
}
