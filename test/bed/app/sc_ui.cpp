// SPDX-License-Identifier: BSD-2-Clause-Patent
// The UI engine image in real firmware: load, refusal of a second instance,
// calls outside a run and unload; a run without the graphics console; and a
// whole run driven by keys that the runner sends through the QEMU monitor,
// with screenshots and text grids taken at each step (judged by checks.py)
// and the caller's hooks checking what they receive.
#include "efi/dxe_services.h"
#include "test/bed/app/app.h"
#include "ui_screen.h"

static const EFI_GUID UiGuid = UI_SCREEN_PROTOCOL_GUID;
static const EFI_GUID GcProbeGuid = BED_GC_PROBE_GUID;
static const EFI_GUID FileSystemGuid = EFI_SIMPLE_FILE_SYSTEM_PROTOCOL_GUID;

static UI_SCREEN_PROTOCOL *LoadUi(EFI_HANDLE *Image) {
  EFI_STATUS entry = EFI_LOAD_ERROR;
  EFI_STATUS status = BedLoadAndStart(u"TarvexUIV4x64", Image, &entry);
  BED_CHECK(!EFI_ERROR(status) && entry == EFI_SUCCESS, "loading the UI: %r, entry %r", status, entry);
  if (EFI_ERROR(status) || EFI_ERROR(entry)) return nullptr;
  return (UI_SCREEN_PROTOCOL *)BedLocate(UiGuid);
}

static void UiLoadTwiceAndUnload() {
  EFI_HANDLE image = nullptr;
  UI_SCREEN_PROTOCOL *ui = LoadUi(&image);
  BED_REQUIRE(ui != nullptr, "UI_SCREEN_PROTOCOL not installed");
  BED_CHECK(ui->Revision == 403, "revision %lu", ui->Revision);
  BED_CHECK(ui->ImageHandle == image && ui->SystemTable == gST, "image handle or system table not filled in");
  VOID *onImage = nullptr;
  BED_CHECK(!EFI_ERROR(gBS->HandleProtocol(image, &UiGuid, &onImage)) && onImage == ui, "protocol not on the image handle");

  EFI_HANDLE second = nullptr;
  EFI_STATUS entry = EFI_SUCCESS;
  EFI_STATUS status = BedLoadAndStart(u"TarvexUIV4x64", &second, &entry);
  BED_CHECK(!EFI_ERROR(status) && entry == EFI_ACCESS_DENIED, "second load: %r, entry %r", status, entry);
  BED_CHECK(BedLocate(UiGuid) == ui, "the first instance was disturbed");

  // Between runs only Run, NoOperation and the unload do anything.
  UI_TEXT_POSITION pos = {UI_WINDOW_CALLER, 0, 0, 0, TEXT_MODE_LEFT, 0};
  BED_CHECK(ui->Print(&pos, nullptr, u"%d", (UINT64)7) == 0, "Print outside a run wrote something");
  BED_CHECK(ui->Clear(1, nullptr) == EFI_NO_MAPPING, "Clear outside a run");
  BED_CHECK(ui->ClearLine(2, 0, nullptr) == EFI_NO_MAPPING, "ClearLine outside a run");
  BED_CHECK(ui->NoOperation() == EFI_SUCCESS, "NoOperation");
  BED_CHECK(ui->DrawProgressFrame() == EFI_SUCCESS && ui->SetProgress(5, 0) == EFI_SUCCESS, "progress outside a run");
  BED_CHECK(ui->Run(ui, nullptr) == EFI_INVALID_PARAMETER, "Run without parameters");

  status = gBS->UnloadImage(image);
  BED_CHECK(status == EFI_SUCCESS, "unload: %r", status);
  BED_CHECK(BedLocate(UiGuid) == nullptr, "protocol still installed after unload");
}

// Without the graphics console the run stops at once, says why on the
// console, and leaves the console mode alone.
static void UiWithoutGraphicsConsole() {
  EFI_HANDLE image = nullptr;
  UI_SCREEN_PROTOCOL *ui = LoadUi(&image);
  BED_REQUIRE(ui != nullptr, "UI not loaded");
  gST->ConOut->SetAttribute(gST->ConOut, 0x07);
  gST->ConOut->ClearScreen(gST->ConOut);
  INT32 mode = gST->ConOut->Mode->Mode;
  UI_RUN_PARAMETERS params = {};
  EFI_STATUS status = ui->Run(ui, &params);
  BED_CHECK(status == EFI_NOT_FOUND, "Run returned %r", status);
  BED_CHECK(gST->ConOut->Mode->Mode == mode, "console mode %d, was %d", gST->ConOut->Mode->Mode, mode);
  BedShot("ui.no-graphics-console");
  BED_CHECK(gBS->UnloadImage(image) == EFI_SUCCESS, "unload");
}

// ---- A whole run ----

// What the caller's hooks saw.
static struct {
  UI_SCREEN_PROTOCOL *Ui;
  EFI_EVENT Timer;
  BOOLEAN Due;
  UINTN Step;
  UINTN ChosenCalls, ChosenKeyCalls, FollowUpCalls, FollowUpKeyCalls, EscapeCalls, EventHookCalls;
  UINTN VolumeIndex;  // fs number of the volume with the BIOS files
  CHAR16 ChosenName[32];
  UINT64 ChosenSize;
  BOOLEAN ChosenRootOk;
} Run;

static UINTN Context = 0xC0FFEE;

static VOID EFIAPI TimerNotify(EFI_EVENT, VOID *) { Run.Due = 1; }

// The next step comes once the keys sent for this one have been handled.
static void ArmNextStep(UINTN Ms) { gBS->SetTimer(Run.Timer, TimerRelative, Ms * 10000); }

static VOID EFIAPI EventNotify(EFI_EVENT Event, VOID *Ctx) {
  if (Ctx != &Context) return;
  if (Run.Due) {
    Run.Due = 0;
    gBS->SignalEvent(Event);
  }
}

static void SendDowns(UINTN Count) {
  for (UINTN i = 0; i < Count; i++) BedKeys("down");
}

// The script: a screenshot of what the previous keys did, then the next keys.
static EFI_STATUS EFIAPI EventHook(VOID *Ctx) {
  Run.EventHookCalls++;
  BED_CHECK(Ctx == &Context, "EventHook context %p", Ctx);
  switch (Run.Step++) {
    case 0: {
      // Runs do not nest, not even from a hook; selectors and rows are checked.
      UI_RUN_PARAMETERS nested = {};
      BED_CHECK(Run.Ui->Run(Run.Ui, &nested) == EFI_ACCESS_DENIED, "a nested Run was not refused");
      BED_CHECK(Run.Ui->ClearLine(UI_WINDOW_FILE_LIST, 7, nullptr) == EFI_INVALID_PARAMETER, "ClearLine(2, 7) on the 7-row list");
      BED_CHECK(Run.Ui->Clear(9, nullptr) == EFI_INVALID_PARAMETER, "Clear with selector 9");
      BedShot("ui.volume-chosen");
      BedKeys("ret");
      break;
    }
    case 1:
      BedShot("ui.file-list");
      BedKeys("down");
      break;
    case 2:
      BedShot("ui.file-down");
      BedKeys("ret");  // the file-chosen enter hook runs
      break;
    case 3:
      BedShot("ui.file-chosen");
      BedKeys("ret");  // the chosen key hook succeeds: follow-up state
      break;
    case 4:
      BedShot("ui.follow-up");
      BedKeys("esc");  // the follow-up key hook ends the run
      break;
    default:
      BedFail("the run did not end after the follow-up key");
      return EFI_ABORTED;
  }
  ArmNextStep(1500);
  return EFI_SUCCESS;
}

static EFI_STATUS EFIAPI StartHook(UINTN Zero, UINT64 *Value, UINT8 *Byte) {
  BED_CHECK(Zero == 0 && Value && *Value == 0 && Byte && *Byte == 3, "StartHook arguments");
  BedShot("ui.first-screen");
  SendDowns(Run.VolumeIndex);
  ArmNextStep(1500);
  return EFI_SUCCESS;
}

static BOOLEAN NameIs(const CHAR16 *A, const CHAR16 *B) {
  while (*A && *A == *B) A++, B++;
  return *A == *B;
}

static EFI_STATUS EFIAPI FileChosenEnter(EFI_FILE_PROTOCOL *Root, EFI_FILE_INFO *File, VOID *Ctx) {
  Run.ChosenCalls++;
  BED_CHECK(Ctx == &Context, "FileChosenEnterHook context %p", Ctx);
  if (File) {
    UINTN i = 0;
    for (; File->FileName[i] && i < 31; i++) Run.ChosenName[i] = File->FileName[i];
    Run.ChosenName[i] = 0;
    Run.ChosenSize = File->FileSize;
  }
  // The open root must reach the chosen file.
  EFI_FILE_PROTOCOL *f = nullptr;
  if (Root && File && !EFI_ERROR(Root->Open(Root, &f, File->FileName, EFI_FILE_MODE_READ, 0))) {
    Run.ChosenRootOk = 1;
    f->Close(f);
  }
  UI_TEXT_POSITION pos = {UI_WINDOW_MESSAGE_BOX, 0, 0, 1, TEXT_MODE_CENTRE, 0};
  UINTN n = Run.Ui->Print(&pos, nullptr, u"Checking %s", File ? File->FileName : u"?");
  BED_CHECK(n > 0, "Print into the message box wrote nothing");
  pos = {UI_WINDOW_CALLER, 0, 2, 1, TEXT_MODE_LEFT, 0};
  Run.Ui->Print(&pos, nullptr, u"Size %d KiB", (UINT64)(Run.ChosenSize / 1024));
  Run.Ui->DrawProgressFrame();
  for (UINT8 p = 0; p <= 42; p++) Run.Ui->SetProgress(p, 1);
  return EFI_SUCCESS;
}

static EFI_STATUS EFIAPI FileChosenKey(EFI_INPUT_KEY *Key, KEY_STATE *) {
  Run.ChosenKeyCalls++;
  BED_CHECK(Key && Key->UnicodeChar == CHAR_CARRIAGE_RETURN, "chosen key %x/%x", Key ? Key->ScanCode : 0, Key ? Key->UnicodeChar : 0);
  BED_CHECK(Run.Ui->Clear(UI_WINDOW_MESSAGE_BOX, nullptr) == EFI_SUCCESS, "Clear(0)");
  return EFI_SUCCESS;
}

static EFI_STATUS EFIAPI FollowUpEnter(EFI_FILE_PROTOCOL *Root, EFI_FILE_INFO *File, VOID *Ctx) {
  Run.FollowUpCalls++;
  BED_CHECK(Root && File && Ctx == &Context, "follow-up enter hook arguments");
  // Style 9 draws segment style 0; a percentage above 100 reads as 100.
  Run.Ui->SetProgress(7, 9);
  Run.Ui->SetProgress(150, 2);
  return EFI_SUCCESS;
}

static EFI_STATUS EFIAPI FollowUpKey(EFI_INPUT_KEY *Key, KEY_STATE *) {
  Run.FollowUpKeyCalls++;
  BED_CHECK(Key && Key->ScanCode == SCAN_ESC, "follow-up key %x", Key ? Key->ScanCode : 0);
  return EFI_END_OF_MEDIA;
}

static EFI_STATUS EFIAPI EscapeEnter(VOID *, VOID *, VOID *) {
  Run.EscapeCalls++;
  return EFI_SUCCESS;
}

// The firmware publishes our pictures volume and serves its sections.
static EFI_STATUS ProcessPictures() { return BedProcessVolume(u"\\bed\\pictures.fv"); }

// Once per boot: a second volume with the same files would only shadow the first.
static EFI_STATUS EnsurePictures() {
  static BOOLEAN done;
  static EFI_STATUS status;
  if (!done) status = ProcessPictures();
  done = 1;
  return status;
}

// The fs number the UI will give the volume that holds \BIOSA.TAG: the UI
// numbers volumes in the order LocateHandleBuffer returns them.
static UINTN FindBiosVolume() {
  UINTN count = 0;
  EFI_HANDLE *handles = nullptr;
  if (EFI_ERROR(gBS->LocateHandleBuffer(ByProtocol, &FileSystemGuid, nullptr, &count, &handles))) return 0;
  UINTN found = 0;
  for (UINTN i = 0; i < count; i++) {
    VOID *fs = nullptr;
    EFI_FILE_PROTOCOL *root = nullptr, *tag = nullptr;
    if (EFI_ERROR(gBS->HandleProtocol(handles[i], &FileSystemGuid, &fs))) continue;
    if (EFI_ERROR(((EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *)fs)->OpenVolume((EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *)fs, &root))) continue;
    if (!EFI_ERROR(root->Open(root, &tag, (CHAR16 *)u"\\BIOSA.TAG", EFI_FILE_MODE_READ, 0))) {
      tag->Close(tag);
      found = i;
    }
    root->Close(root);
  }
  gBS->FreePool(handles);
  BedPrint("@bed note %u volumes, the BIOS files are on fs%u\n", (UINT32)count, (UINT32)found);
  return found;
}

static void UiWholeRun() {
  EFI_STATUS status = EnsurePictures();
  BED_CHECK(!EFI_ERROR(status), "ProcessFirmwareVolume(pictures.fv): %r", status);
  EFI_HANDLE gcImage = nullptr;
  status = BedLoadStandIn(u"GraphicsConsoleStandIn", &gcImage);
  BED_REQUIRE(!EFI_ERROR(status), "graphics console stand-in: %r", status);
  BED_GC_PROBE *gc = (BED_GC_PROBE *)BedLocate(GcProbeGuid);
  EFI_HANDLE image = nullptr;
  Run = {};
  Run.Ui = LoadUi(&image);
  if (Run.Ui == nullptr) {
    BedUnloadStandIn(gcImage);
    return;
  }
  Run.VolumeIndex = FindBiosVolume();
  gBS->CreateEvent(EVT_TIMER | EVT_NOTIFY_SIGNAL, TPL_CALLBACK, TimerNotify, nullptr, &Run.Timer);
  INT32 mode = gST->ConOut->Mode->Mode;

  UI_RUN_PARAMETERS params = {};
  params.StartHook = StartHook;
  params.HookContext = &Context;
  params.EventNotify = EventNotify;
  params.EventHook = EventHook;
  params.FileChosenEnterHook = FileChosenEnter;
  params.FileChosenKeyHook = FileChosenKey;
  params.FileFollowUpEnterHook = FollowUpEnter;
  params.FileFollowUpKeyHook = FollowUpKey;
  params.EscapeEnterHook = EscapeEnter;
  status = Run.Ui->Run(Run.Ui, &params);
  gBS->CloseEvent(Run.Timer);

  // With a caller's event the run returns the status of closing it.
  BED_CHECK(status == EFI_SUCCESS, "Run returned %r", status);
  BED_CHECK(Run.ChosenCalls == 1 && Run.ChosenKeyCalls == 1 && Run.FollowUpCalls == 1 && Run.FollowUpKeyCalls == 1,
            "hook calls: chosen %u/%u, follow-up %u/%u", (UINT32)Run.ChosenCalls, (UINT32)Run.ChosenKeyCalls, (UINT32)Run.FollowUpCalls,
            (UINT32)Run.FollowUpKeyCalls);
  BED_CHECK(Run.EscapeCalls == 0, "escape enter hook called %u times", (UINT32)Run.EscapeCalls);
  BED_CHECK(NameIs(Run.ChosenName, u"BIOS2.ROM") && Run.ChosenSize == 0x20000, "chosen file %s of %lu bytes, expected BIOS2.ROM of 128 KiB",
            Run.ChosenName, Run.ChosenSize);
  BED_CHECK(Run.ChosenRootOk, "the root handed to the hook does not open the chosen file");
  BED_CHECK(gST->ConOut->Mode->Mode == mode, "console mode %d after the run, was %d", gST->ConOut->Mode->Mode, mode);
  if (gc) {
    BED_CHECK(gc->ShowCount >= 1, "no backdrop shown for the message box");
    BED_CHECK(gc->LastX == 352 && gc->LastY == 241 && gc->LastWidth == 320 && gc->LastHeight == 152, "backdrop rectangle %lu,%lu %lux%lu",
              gc->LastX, gc->LastY, gc->LastWidth, gc->LastHeight);
    BED_CHECK((gc->LastPixel & 0xFFFFFF) == 0x404040, "backdrop pixel %x, expected grey 64", gc->LastPixel);
    BED_CHECK(gc->Active == 0, "%u backdrops still kept after the run", (UINT32)gc->Active);
  }
  BED_CHECK(gBS->UnloadImage(image) == EFI_SUCCESS, "unloading the UI");
  BED_CHECK(BedUnloadStandIn(gcImage) == EFI_SUCCESS, "unloading the graphics console stand-in");
}

// ---- A run driven from the host ----

// The runner walks the lists with its own script (checks.py, "ui.scroll")
// while the run waits for keys; the escape hooks end it.
static struct {
  UINTN EscapeEnterCalls, EscapeKeyCalls, ChosenCalls, FollowUpCalls;
  BOOLEAN EscapeArgsOk;
  CHAR16 ChosenName[16];
} Scroll;

static EFI_STATUS EFIAPI ScrollStart(UINTN, UINT64 *, UINT8 *) {
  BedPrint("@bed script ui.scroll\n");
  return EFI_SUCCESS;
}

static EFI_STATUS EFIAPI ScrollEscapeEnter(VOID *A, VOID *B, VOID *Ctx) {
  Scroll.EscapeEnterCalls++;
  Scroll.EscapeArgsOk = A == nullptr && B == nullptr && Ctx == &Context;
  return EFI_SUCCESS;
}

static EFI_STATUS EFIAPI ScrollEscapeKey(EFI_INPUT_KEY *Key, KEY_STATE *) {
  Scroll.EscapeKeyCalls++;
  BED_CHECK(Key && Key->ScanCode == SCAN_ESC, "escape key hook got %x", Key ? Key->ScanCode : 0);
  return EFI_END_OF_MEDIA;
}

// Enter on a file with no chosen key hook: the next key pops back to the list.
static EFI_STATUS EFIAPI ScrollChosen(EFI_FILE_PROTOCOL *, EFI_FILE_INFO *File, VOID *) {
  Scroll.ChosenCalls++;
  for (UINTN i = 0; File && File->FileName[i] && i < 15; i++) Scroll.ChosenName[i] = File->FileName[i];
  return EFI_SUCCESS;
}

static EFI_STATUS EFIAPI ScrollFollowUp(EFI_FILE_PROTOCOL *, EFI_FILE_INFO *, VOID *) {
  Scroll.FollowUpCalls++;
  return EFI_SUCCESS;
}

static void UiScrollRun() {
  EFI_HANDLE gcImage = nullptr;
  EFI_STATUS status = BedLoadStandIn(u"GraphicsConsoleStandIn", &gcImage);
  BED_REQUIRE(!EFI_ERROR(status), "graphics console stand-in: %r", status);
  EFI_HANDLE image = nullptr;
  UI_SCREEN_PROTOCOL *ui = LoadUi(&image);
  if (ui == nullptr) {
    BedUnloadStandIn(gcImage);
    return;
  }
  Scroll = {};
  UI_RUN_PARAMETERS params = {};
  params.StartHook = ScrollStart;
  params.HookContext = &Context;
  params.FileChosenEnterHook = ScrollChosen;
  params.FileFollowUpEnterHook = ScrollFollowUp;
  params.EscapeEnterHook = ScrollEscapeEnter;
  params.EscapeKeyHook = ScrollEscapeKey;
  status = ui->Run(ui, &params);
  // Without a caller's event the run returns the status that ended it.
  BED_CHECK(status == EFI_END_OF_MEDIA, "Run returned %r", status);
  BED_CHECK(Scroll.EscapeEnterCalls == 1 && Scroll.EscapeArgsOk, "escape enter hook: %u calls, arguments %a",
            (UINT32)Scroll.EscapeEnterCalls, Scroll.EscapeArgsOk ? "right" : "wrong");
  BED_CHECK(Scroll.EscapeKeyCalls == 1, "escape key hook: %u calls", (UINT32)Scroll.EscapeKeyCalls);
  BED_CHECK(Scroll.ChosenCalls == 1 && NameIs(Scroll.ChosenName, u"BIOS_09.ROM"), "chosen enter hook: %u calls, file %s",
            (UINT32)Scroll.ChosenCalls, Scroll.ChosenName);
  BED_CHECK(Scroll.FollowUpCalls == 0, "the follow-up state was entered without a chosen key hook");
  BED_CHECK(gBS->UnloadImage(image) == EFI_SUCCESS, "unloading the UI");
  BED_CHECK(BedUnloadStandIn(gcImage) == EFI_SUCCESS, "unloading the graphics console stand-in");
}

// ---- The example caller ----

// examples/ui_caller/caller.c started as a tool would start it; the runner
// picks BIOS2.ROM, confirms it and ends the run with a key (checks.py,
// "ui.caller"), and the screens are judged there.
static void UiExampleCaller() {
  EFI_STATUS status = EnsurePictures();
  BED_CHECK(!EFI_ERROR(status), "ProcessFirmwareVolume(pictures.fv): %r", status);
  EFI_HANDLE gcImage = nullptr;
  status = BedLoadStandIn(u"GraphicsConsoleStandIn", &gcImage);
  BED_REQUIRE(!EFI_ERROR(status), "graphics console stand-in: %r", status);
  EFI_HANDLE image = nullptr;
  if (LoadUi(&image) == nullptr) {
    BedUnloadStandIn(gcImage);
    return;
  }
  BedPrint("@bed script ui.caller\n");
  EFI_HANDLE caller = nullptr;
  EFI_STATUS exit = EFI_LOAD_ERROR;
  status = BedLoadAndStart(u"UiCallerExample", &caller, &exit);
  BED_CHECK(!EFI_ERROR(status), "loading the example caller: %r", status);
  // Without a caller's event, Run returns the status that ended the run.
  BED_CHECK(exit == EFI_END_OF_MEDIA, "the example's run returned %r, expected End of Media", exit);
  BED_CHECK(gBS->UnloadImage(image) == EFI_SUCCESS, "unloading the UI");
  BED_CHECK(BedUnloadStandIn(gcImage) == EFI_SUCCESS, "unloading the graphics console stand-in");
}

extern const BedScenario UiScenarios[] = {
    {"ui.load-twice-unload", "ui", UiLoadTwiceAndUnload},
    {"ui.without-graphics-console", "ui", UiWithoutGraphicsConsole},
    {"ui.whole-run", "ui", UiWholeRun},
    {"ui.scroll-run", "ui", UiScrollRun},
    // The default group's boot is the shorter one: the example's run goes there.
    {"ui.example-caller", "default", UiExampleCaller},
    {nullptr, nullptr, nullptr},
};
