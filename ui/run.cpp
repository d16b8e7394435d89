// One interactive screen run: Run builds the screen and its windows, starts
// the key states and the pictures, waits for keys and for the caller's own
// event until a key state or a hook ends the run, and then tears everything
// down again so that nothing but the driver's interface outlives the run.
#include "ui/run.h"

#include "ui/browser.h"
#include "ui/status_report.h"
#include "ui/format.h"
#include "ui/guids.h"
#include "ui/key_states.h"
#include "ui/layout.h"
#include "ui/pictures.h"
#include "ui/pointer.h"
#include "ui/screen.h"

// The one run there can be at a time.
static UI_RUN CurrentRun;

const UI_RUN *ActiveRun(VOID) { return CurrentRun.Active != 0 ? &CurrentRun : nullptr; }

#ifdef EFI_HOST_TEST
UI_RUN *RunRecordForTest(VOID) { return &CurrentRun; }
#endif

// Handed by address to the caller's StartHook; the run never reads them back.
static UINT64 StartValue;
static UINT8 StartByte;

// Index value WaitForEvent cannot produce: the wait failed when it stays.
#define WAIT_INDEX_NONE 0xFFFFFFFFFFFFFFFEULL
#define WAIT_LIST_KEY 0
#define WAIT_LIST_CALLER 1

// Everything the start-up did, undone in reverse, for a run that ended in the
// loop and for one that failed on the way.
static VOID RunCleanUp(VOID) {
  StopPointer();
  ExitKeyFunction();

  // A caller's timer may call Print, Clear or ClearLine at any point of this.
  // Every window leaves the run's record before any is destroyed, so those
  // find no window rather than one that is being freed.
  UI_WINDOW **Slots[] = {&RunWindows.CallerWindow, &RunWindows.FileInfoWindow, &RunWindows.FileListWindow,  &RunWindows.VolumeListWindow,
                         &RunWindows.MessageBox,   &RunPointer.Layer,          &RunWindows.BackgroundWindow};
  UI_WINDOW *Windows[sizeof(Slots) / sizeof(Slots[0])];
  UI_WINDOW *Box = RunWindows.MessageBox;
  for (UINTN i = 0; i < sizeof(Slots) / sizeof(Slots[0]); i++) {
    Windows[i] = *Slots[i];
    __atomic_signal_fence(__ATOMIC_SEQ_CST);
    *(UI_WINDOW *volatile *)Slots[i] = nullptr;
    __atomic_signal_fence(__ATOMIC_SEQ_CST);
  }

  // A caller that ends the run with the message box up would otherwise leave
  // its grey backdrop on the graphics console for whoever draws next; now
  // that nobody can reach the box, nobody can put the backdrop back.
  if (Box != nullptr && Box->Priority != MESSAGE_BOX_HIDDEN_PRIORITY) UnshadeMessageBoxArea();

  for (UI_WINDOW *Window : Windows)
    if (Window != nullptr) WindowDestroy(Window);
  ScreenShutdown();
  FreePictures();
  CurrentRun.GraphicsConsole = nullptr;
  CurrentRun.GraphicsOutput = nullptr;
}

// Steps of the start-up that can fail, each reported on the console by name.
static EFI_STATUS LocateForRun(const EFI_GUID *Guid, VOID **Interface, const CHAR16 *Message) {
  *Interface = nullptr;
  EFI_STATUS Status = gBS->LocateProtocol(Guid, nullptr, Interface);
  if (!EFI_ERROR(Status) && *Interface == nullptr) Status = EFI_NOT_FOUND;
  if (EFI_ERROR(Status)) {
    *Interface = nullptr;
    ConsolePrint(Message, Status);
  }
  return Status;
}

static EFI_STATUS StartScreen(VOID) {
  VOID *Interface;
  EFI_STATUS Status = LocateForRun(&gAdvancedGcProtocolGuid, &Interface, u"LocateProtocol gAdvancedGcProtocolGuid error %r\n");
  if (EFI_ERROR(Status)) return Status;
  CurrentRun.GraphicsConsole = static_cast<ADVANCED_GC_PROTOCOL *>(Interface);

  Status = LocateForRun(&gEfiGraphicsOutputProtocolGuid, &Interface, u"LocateProtocol gEfiGraphicsOutputProtocolGuid error %r\n");
  if (EFI_ERROR(Status)) return Status;
  CurrentRun.GraphicsOutput = static_cast<EFI_GRAPHICS_OUTPUT_PROTOCOL *>(Interface);

  Status = InitialDrawFunction();
  if (EFI_ERROR(Status)) {
    ConsolePrint(u"InitialDrawFunction error %r\n", Status);
    return Status;
  }
  Status = InitialKeyFunction(&CurrentRun);
  if (EFI_ERROR(Status)) {
    ConsolePrint(u"InitialKeyFunction error %r\n", Status);
    return Status;
  }

  // The pointer is prepared and then dropped: a run is driven by keys alone.
  StartPointer();
  RunPointer.Device = nullptr;

  LoadPictures(CurrentRun.GraphicsOutput);
  DrawCornerMark();
  return EFI_SUCCESS;
}

// Waits for keys and the caller's event until a key state or a hook returns
// an error, or the wait itself fails. Returns the status that ended it.
static EFI_STATUS EventLoop(EFI_EVENT *WaitList, UINTN WaitCount, UINTN CallerIndex, UI_EVENT_HOOK EventHook) {
  EFI_STATUS Status = EFI_SUCCESS;
  for (;;) {
    UINTN Index = WAIT_INDEX_NONE;
    Status = gBS->WaitForEvent(WaitCount, WaitList, &Index);
    if (EFI_ERROR(Status) || Index == WAIT_INDEX_NONE) return Status;

    if (Index == WAIT_LIST_KEY) {
      EFI_INPUT_KEY Key;
      if (!EFI_ERROR(gST->ConIn->ReadKeyStroke(gST->ConIn, &Key))) {
        Status = DispatchKey(&Key);
        if (EFI_ERROR(Status)) return Status;
      }
    }
    if (Index == CallerIndex) {
      EFI_STATUS HookStatus = EventHook(CurrentRun.HookContext);
      if (EFI_ERROR(HookStatus)) return HookStatus;
      // The caller may have drawn anywhere; every cell is written again.
      ScreenInvalidate();
    }
  }
}

EFI_STATUS EFIAPI Run(UI_SCREEN_PROTOCOL *This, UI_RUN_PARAMETERS *Parameters) {
  // The library start-up needs the handle and table kept in the interface.
  if (This == nullptr) return EFI_INVALID_PARAMETER;
  EfiInitializeDriverLib(This->ImageHandle, This->SystemTable);
  if (Parameters == nullptr) return EFI_INVALID_PARAMETER;
  if (CurrentRun.Active != 0) return EFI_ACCESS_DENIED;  // runs do not nest, also not from a hook

  // Copy what the run needs; the caller's record is not looked at again.
  CurrentRun = UI_RUN{};
  CurrentRun.FileChosenEnterHook = Parameters->FileChosenEnterHook;
  CurrentRun.FileChosenKeyHook = Parameters->FileChosenKeyHook;
  CurrentRun.FileFollowUpEnterHook = Parameters->FileFollowUpEnterHook;
  CurrentRun.FileFollowUpKeyHook = Parameters->FileFollowUpKeyHook;
  CurrentRun.EscapeEnterHook = Parameters->EscapeEnterHook;
  CurrentRun.EscapeKeyHook = Parameters->EscapeKeyHook;
  CurrentRun.HookContext = Parameters->HookContext;
  UI_START_HOOK StartHook = Parameters->StartHook;
  UI_EVENT_HOOK EventHook = Parameters->EventHook;
  UI_EVENT_NOTIFY EventNotify = Parameters->EventNotify;
  BiosFiles.BiosFileUnitSize = Parameters->BiosFileUnitSize;
  BiosFiles.BiosFileMaxSize = Parameters->BiosFileMaxSize != 0 ? Parameters->BiosFileMaxSize : ~0ULL;
  StartValue = 0;
  StartByte = 3;
  CurrentRun.Active = 1;

  EFI_EVENT WaitList[2] = {nullptr, nullptr};
  UINTN WaitCount = 1;
  UINTN CallerIndex = WAIT_INDEX_NONE;
  bool Started = false;

  EFI_STATUS Status = StartScreen();
  if (!EFI_ERROR(Status)) {
    WaitList[WAIT_LIST_KEY] = gST->ConIn->WaitForKey;
    if (EventNotify != nullptr && EventHook != nullptr) {
      Status = gBS->CreateEvent(EVT_NOTIFY_WAIT, TPL_CALLBACK, EventNotify, CurrentRun.HookContext, &CurrentRun.CallerEvent);
      if (EFI_ERROR(Status)) {
        CurrentRun.CallerEvent = nullptr;
      } else {
        WaitList[WAIT_LIST_CALLER] = CurrentRun.CallerEvent;
        CallerIndex = WAIT_LIST_CALLER;
        WaitCount = 2;
      }
    }
  }
  if (!EFI_ERROR(Status)) {
    StopPointer();  // the device was dropped, so its event goes now
    if (StartHook != nullptr) Status = StartHook(0, &StartValue, &StartByte);
  }
  if (!EFI_ERROR(Status)) {
    Started = true;
    Status = EventLoop(WaitList, WaitCount, CallerIndex, EventHook);
  }

  // With a caller's event, a run that got as far as its loop answers with the
  // close status; a start-up failure is never turned into success.
  if (CurrentRun.CallerEvent != nullptr) {
    EFI_STATUS CloseStatus = gBS->CloseEvent(CurrentRun.CallerEvent);
    CurrentRun.CallerEvent = nullptr;
    if (Started) Status = CloseStatus;
  }
  RunCleanUp();
  CurrentRun = UI_RUN{};
  return Status;
}
