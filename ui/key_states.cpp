// SPDX-License-Identifier: BSD-2-Clause-Patent
// The key states of a run. Each screen mode (a list has the focus, a caller's
// screen is up, ...) is a state on the key-state stack; states are pushed,
// switched and popped as the user moves between screens. The caller of the UI
// protocol joins in through the six hooks of its run parameters.
#include "ui/key_states.h"

#include "ui/browser.h"
#include "ui/status_report.h"
#include "ui/layout.h"
#include "ui/window_text.h"

// The run whose hooks the states call; null outside a run.
static const UI_RUN *KeyRun;

RUN_KEY_STATES KeyStates;

// Drawing styles of the lists: with the focus, or confirmed just before it leaves.
#define LIST_ACTIVE 0
#define LIST_CONFIRMED 1

// ---- Helpers of the states ----

static VOID ClearWindow(UI_WINDOW *Window) {
  UINT64 Attribute = ATTR_WHITE_ON_BLACK;
  if (Window != nullptr) WindowClear(Window, &Attribute);
}

// A notice centred in the message box, which is then brought to the front.
static VOID ShowNotice(const CHAR16 *Text) {
  if (RunWindows.MessageBox == nullptr) return;
  UI_CELL_POSITION Position;
  Position.Column = RunWindows.MessageBox->Width * 50 / 100;
  Position.Row = RunWindows.MessageBox->Height * 50 / 100;
  Position.Attribute = ATTR_WHITE_ON_BLUE;
  WindowPrint(RunWindows.MessageBox, &Position, TEXT_MODE_CENTRE, Text);
  ShowMessageBox(1, RunWindows.MessageBox);
}

static VOID HideNotice(VOID) {
  if (RunWindows.MessageBox != nullptr) ShowMessageBox(0, RunWindows.MessageBox);
}

// The highlighted BIOS file, or null when the list has none to hand out.
static EFI_FILE_INFO *HighlightedFile(VOID) {
  if (BiosFiles.BiosFileList == nullptr || BrowserLists.FileSelection >= BiosFiles.BiosFileCount) return nullptr;
  return BiosFiles.BiosFileList[BrowserLists.FileSelection];
}

// A key hook's answer in the escape and follow-up states: EFI_END_OF_MEDIA
// ends the run, EFI_NOT_READY leaves the state, anything else keeps it.
static EFI_STATUS LeaveOrEnd(UI_KEY_HOOK Hook, EFI_INPUT_KEY *Key, KEY_STATE *State) {
  if (Hook == nullptr) return PopKeyState(0);
  EFI_STATUS Status = Hook(Key, State);
  if (Status == EFI_END_OF_MEDIA) return Status;
  if (Status == EFI_NOT_READY) return PopKeyState(0);
  return EFI_SUCCESS;
}

// ---- The states ----

static EFI_STATUS EFIAPI BaseStateEnter(KEY_STATE *, UINTN) {
  ClearWindow(RunWindows.VolumeListWindow);
  ClearWindow(RunWindows.FileListWindow);
  ClearWindow(RunWindows.FileInfoWindow);
  ClearWindow(RunWindows.CallerWindow);
  return PushKeyState(KeyStates.VolumeListKeyState, 0);
}

// Only reached when every state above the base has left; the run then ends.
static EFI_STATUS EFIAPI BaseStateKey(EFI_INPUT_KEY *, KEY_STATE *) { return EFI_END_OF_MEDIA; }

static EFI_STATUS EFIAPI VolumeListEnter(KEY_STATE *Previous, UINTN) {
  if (Previous == KeyStates.BaseKeyState) BrowserLists.VolumeSelection = 0;
  // A failed enumeration leaves no volume, which the notice reports.
  ShowVolumeList(LIST_ACTIVE, &BrowserLists.VolumeSelection);
  if (BiosFiles.VolumeCount == 0) ShowNotice(u"Can't find any FFs !");
  return EFI_SUCCESS;
}

static EFI_STATUS EFIAPI VolumeListKey(EFI_INPUT_KEY *Key, KEY_STATE *) {
  if (BiosFiles.VolumeCount == 0) {
    HideNotice();
    return PushKeyState(KeyStates.EscapeKeyState, 0);
  }
  EFI_STATUS Status = EFI_SUCCESS;
  switch (Key->ScanCode) {
    case SCAN_UP:
      BrowserLists.VolumeSelection--;  // from 0 this is all ones, which the redraw reads as 0
      ShowVolumeList(LIST_ACTIVE, &BrowserLists.VolumeSelection);
      break;
    case SCAN_DOWN:
      BrowserLists.VolumeSelection++;  // the redraw clamps it to the last volume
      ShowVolumeList(LIST_ACTIVE, &BrowserLists.VolumeSelection);
      break;
    case SCAN_ESC:
      Status = PushKeyState(KeyStates.EscapeKeyState, 0);
      break;
  }
  if (Key->UnicodeChar == CHAR_TAB || Key->UnicodeChar == CHAR_CARRIAGE_RETURN) {
    ShowVolumeList(LIST_CONFIRMED, &BrowserLists.VolumeSelection);
    Status = SwitchKeyState(KeyStates.FileListKeyState, 0);
  }
  return Status;
}

static EFI_STATUS EFIAPI FileListEnter(KEY_STATE *Previous, UINTN) {
  if (Previous == KeyStates.VolumeListKeyState) {
    // Volumes can vanish between two keys; with no handle left the list of the
    // volume opened before stays, as when a volume cannot be opened.
    if (BiosFiles.VolumeHandles != nullptr && BrowserLists.VolumeSelection < BiosFiles.VolumeCount)
      OpenBiosVolume(BiosFiles.VolumeHandles[BrowserLists.VolumeSelection]);
    BrowserLists.FileSelection = 0;
    ShowFileList(LIST_ACTIVE, &BrowserLists.FileSelection);
    if (BiosFiles.BiosFileCount == 0)
      ShowNotice(u"Can't find any BIOS files !");
    else
      ShowFileDate(&BrowserLists.FileSelection);
  }
  if (Previous == KeyStates.FileChosenKeyState || Previous == KeyStates.FileFollowUpKeyState) {
    HideNotice();
    ShowFileList(LIST_ACTIVE, &BrowserLists.FileSelection);
    ShowFileDate(&BrowserLists.FileSelection);
  }
  return EFI_SUCCESS;
}

static EFI_STATUS EFIAPI FileListKey(EFI_INPUT_KEY *Key, KEY_STATE *) {
  if (BiosFiles.BiosFileCount == 0) {
    HideNotice();
    return SwitchKeyState(KeyStates.VolumeListKeyState, 0);
  }
  EFI_STATUS Status = EFI_SUCCESS;
  switch (Key->ScanCode) {
    case SCAN_UP:
      BrowserLists.FileSelection--;
      ShowFileList(LIST_ACTIVE, &BrowserLists.FileSelection);
      ShowFileDate(&BrowserLists.FileSelection);
      break;
    case SCAN_DOWN:
      BrowserLists.FileSelection++;
      ShowFileList(LIST_ACTIVE, &BrowserLists.FileSelection);
      ShowFileDate(&BrowserLists.FileSelection);
      break;
    case SCAN_ESC:
      Status = PushKeyState(KeyStates.EscapeKeyState, 0);
      break;
  }
  if (Key->UnicodeChar == CHAR_TAB) {
    ShowFileList(LIST_CONFIRMED, &BrowserLists.FileSelection);
    Status = SwitchKeyState(KeyStates.VolumeListKeyState, 0);
    ClearWindow(RunWindows.FileListWindow);
  } else if (Key->UnicodeChar == CHAR_CARRIAGE_RETURN) {
    ShowFileList(LIST_CONFIRMED, &BrowserLists.FileSelection);
    // A file that could not be read back is never handed to the caller.
    if (HighlightedFile() == nullptr) return Status;
    Status = PushKeyState(KeyStates.FileChosenKeyState, 0);
  }
  return Status;
}

static EFI_STATUS EFIAPI EscapeStateEnter(KEY_STATE *Previous, UINTN) {
  if (Previous == KeyStates.VolumeListKeyState || Previous == KeyStates.FileListKeyState)
    return KeyRun->EscapeEnterHook != nullptr ? KeyRun->EscapeEnterHook(nullptr, nullptr, KeyRun->HookContext) : EFI_SUCCESS;
  HideNotice();
  return EFI_SUCCESS;
}

static EFI_STATUS EFIAPI EscapeStateKey(EFI_INPUT_KEY *Key, KEY_STATE *State) { return LeaveOrEnd(KeyRun->EscapeKeyHook, Key, State); }

static EFI_STATUS EFIAPI FileChosenStateEnter(KEY_STATE *, UINTN) {
  if (KeyRun->FileChosenEnterHook == nullptr) return EFI_SUCCESS;
  return KeyRun->FileChosenEnterHook(BiosFiles.RootDirectory, HighlightedFile(), KeyRun->HookContext);
}

static EFI_STATUS EFIAPI FileChosenStateKey(EFI_INPUT_KEY *Key, KEY_STATE *State) {
  if (KeyRun->FileChosenKeyHook == nullptr) return PopKeyState(0);
  EFI_STATUS Status = KeyRun->FileChosenKeyHook(Key, State);
  if (Status == EFI_SUCCESS) return SwitchKeyState(KeyStates.FileFollowUpKeyState, 0);
  if (Status == EFI_NOT_READY) return PopKeyState(0);
  return EFI_SUCCESS;  // the file-chosen screen stays, also on EFI_END_OF_MEDIA
}

static EFI_STATUS EFIAPI FileFollowUpStateEnter(KEY_STATE *, UINTN) {
  if (KeyRun->FileFollowUpEnterHook == nullptr) return EFI_SUCCESS;
  return KeyRun->FileFollowUpEnterHook(BiosFiles.RootDirectory, HighlightedFile(), KeyRun->HookContext);
}

static EFI_STATUS EFIAPI FileFollowUpStateKey(EFI_INPUT_KEY *Key, KEY_STATE *State) {
  return LeaveOrEnd(KeyRun->FileFollowUpKeyHook, Key, State);
}

// ---- Start and end of a run ----

// Creates the six states and the stack with the base state on it.
static EFI_STATUS CreateKeyStates(VOID) {
  EFI_STATUS Status = CreateKeyState(BaseStateEnter, BaseStateKey, &KeyStates.BaseKeyState);
  if (EFI_ERROR(Status)) return Status;
  Status = InitKeyStateStack(KeyStates.BaseKeyState);
  if (EFI_ERROR(Status)) return Status;

  struct STATE_ENTRY {
    KEY_STATE **State;
    KEY_STATE_ENTER_FUNCTION Enter;
    KEY_STATE_KEY_FUNCTION Key;
  };
  const STATE_ENTRY States[] = {
      {&KeyStates.VolumeListKeyState, VolumeListEnter, VolumeListKey},
      {&KeyStates.FileListKeyState, FileListEnter, FileListKey},
      {&KeyStates.EscapeKeyState, EscapeStateEnter, EscapeStateKey},
      {&KeyStates.FileChosenKeyState, FileChosenStateEnter, FileChosenStateKey},
      {&KeyStates.FileFollowUpKeyState, FileFollowUpStateEnter, FileFollowUpStateKey},
  };
  for (const STATE_ENTRY &Entry : States) {
    Status = CreateKeyState(Entry.Enter, Entry.Key, Entry.State);
    if (EFI_ERROR(Status)) return Status;
  }
  return EFI_SUCCESS;
}

EFI_STATUS InitialKeyFunction(const UI_RUN *Run) {
  if (Run == nullptr) return EFI_INVALID_PARAMETER;
  KeyRun = Run;
  ResetVolumeList();
  EFI_STATUS Status = CreateKeyStates();
  if (!EFI_ERROR(Status)) Status = BaseStateEnter(nullptr, 0);
  // A failed start leaves nothing behind for the caller to tear down.
  if (EFI_ERROR(Status)) ExitKeyFunction();
  return Status;
}

VOID ExitKeyFunction(VOID) {
  ReleaseFileBrowser();
  KEY_STATE **States[] = {&KeyStates.FileFollowUpKeyState, &KeyStates.FileChosenKeyState, &KeyStates.EscapeKeyState,
                          &KeyStates.FileListKeyState,     &KeyStates.VolumeListKeyState, &KeyStates.BaseKeyState};
  for (KEY_STATE **State : States)
    if (*State != nullptr) DestroyKeyState(State);
  DestroyKeyStateStack();
  KeyRun = nullptr;
}
