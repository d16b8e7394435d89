/* SPDX-License-Identifier: BSD-2-Clause-Patent */
/* A BIOS update tool's screen, built with gnu-efi as its documentation
 * describes (see Makefile): the user picks a BIOS file, confirms it in the
 * message box, and the tool writes it in steps paced by its own event while
 * the progress bar fills; any key then ends the run. Esc in a list asks
 * whether to quit.
 *
 * gnu-efi's EFIAPI is empty unless GNU_EFI_USE_MS_ABI is set, so firmware
 * services are called through uefi_call_wrapper, while every function handed
 * to the UI carries UI_SCREEN_EFIAPI and the UI's own functions are called
 * directly (the header gives them the UEFI convention). */
#include <efi.h>
#include <efilib.h>

#define UI_SCREEN_DEFINE_GUID /* this file defines gUiScreenProtocolGuid */
#include "ui_screen.h"

#define KEY_ESC 0x17
#define KEY_ENTER 0x0D
#define WRITE_STEP 10 /* percent written per wake-up of the tool's event */
#define BAR_STYLE 2

/* What the tool keeps during a run. Key hooks get no context pointer, so the
 * record is a global; the other hooks get its address as HookContext. */
typedef struct {
  UI_SCREEN_PROTOCOL *Ui;
  CHAR16 Name[16];
  UINT64 Size;
  UINT8 Head[2]; /* the file's first bytes, read through the root the UI hands over */
  BOOLEAN Writing;
  UINTN Percent;
  BOOLEAN Written;
  UINTN Starts, Escapes, Chosen, FollowUps, Steps;
  BOOLEAN WrongArguments; /* a hook got what the guide says it never gets */
} TOOL;

static TOOL Tool;

static VOID Say(UINT32 Window, UINT64 Row, UINT32 Mode, UINT32 Attribute, const CHAR16 *Text) {
  UI_TEXT_POSITION At = {Window, 0, 1, Row, Mode, 0};
  Tool.Ui->Print(&At, &Attribute, Text);
}

static EFI_STATUS UI_SCREEN_EFIAPI Start(UINTN Zero, UINT64 *Value, UINT8 *Byte) {
  Tool.Starts++;
  if (Zero != 0 || *Value != 0 || *Byte != 3) Tool.WrongArguments = TRUE;
  Say(UI_WINDOW_CALLER, 0, TEXT_MODE_LEFT, 0x0E, L"gnu-efi tool: choose a BIOS file, Esc to quit");
  return EFI_SUCCESS;
}

static EFI_STATUS UI_SCREEN_EFIAPI EscapeEnter(VOID *Unused1, VOID *Unused2, VOID *Context) {
  Tool.Escapes++;
  if (Unused1 != NULL || Unused2 != NULL || Context != &Tool) Tool.WrongArguments = TRUE;
  Say(UI_WINDOW_MESSAGE_BOX, 1, TEXT_MODE_CENTRE, 0x1F, L"Quit the tool ?");
  Say(UI_WINDOW_MESSAGE_BOX, 4, TEXT_MODE_CENTRE, 0x1F, L"Enter: quit   other keys: back");
  return EFI_SUCCESS;
}

static EFI_STATUS UI_SCREEN_EFIAPI EscapeKey(EFI_INPUT_KEY *Key, KEY_STATE *State) {
  (void)State;
  if (Key->UnicodeChar == KEY_ENTER) return EFI_END_OF_MEDIA;
  /* The box stays after EFI_NOT_READY until the caller hides it. */
  Tool.Ui->Clear(UI_WINDOW_MESSAGE_BOX, NULL);
  return EFI_NOT_READY;
}

/* Root and File belong to the UI and last as long as the hook runs: the
 * file is opened, read and closed here. */
static EFI_STATUS UI_SCREEN_EFIAPI ChosenEnter(EFI_FILE_PROTOCOL *Root, EFI_FILE_INFO *File, VOID *Context) {
  EFI_FILE_PROTOCOL *Handle = NULL;
  UINTN Size = sizeof(Tool.Head);
  UI_TEXT_POSITION At = {UI_WINDOW_MESSAGE_BOX, 0, 0, 1, TEXT_MODE_CENTRE, 0};
  EFI_STATUS Status;
  UINTN i;

  Tool.Chosen++;
  if (Context != &Tool) Tool.WrongArguments = TRUE;
  for (i = 0; i + 1 < sizeof(Tool.Name) / sizeof(Tool.Name[0]) && File->FileName[i]; i++) Tool.Name[i] = File->FileName[i];
  Tool.Name[i] = 0;
  Tool.Size = File->FileSize;
  Status = uefi_call_wrapper(Root->Open, 5, Root, &Handle, File->FileName, EFI_FILE_MODE_READ, 0ULL);
  if (!EFI_ERROR(Status)) {
    Status = uefi_call_wrapper(Handle->Read, 3, Handle, &Size, Tool.Head);
    uefi_call_wrapper(Handle->Close, 1, Handle);
  }
  if (EFI_ERROR(Status)) return Status; /* an error from an enter hook ends the run */

  /* Every argument of Print is 64 bits wide, and %x writes upper case. */
  Tool.Ui->Print(&At, NULL, L"Flash %s ?", Tool.Name);
  At.Row = 3;
  Tool.Ui->Print(&At, NULL, L"%,d bytes, first %02x %02x", Tool.Size, (UINT64)Tool.Head[0], (UINT64)Tool.Head[1]);
  At.Row = 5;
  Tool.Ui->Print(&At, NULL, L"Enter: yes   Esc: no");
  return EFI_SUCCESS;
}

static EFI_STATUS UI_SCREEN_EFIAPI ChosenKey(EFI_INPUT_KEY *Key, KEY_STATE *State) {
  (void)State;
  if (Key->UnicodeChar == KEY_ENTER) return EFI_SUCCESS; /* on to the follow-up state */
  if (Key->ScanCode == KEY_ESC) return EFI_NOT_READY;    /* back to the list, which hides the box */
  return EFI_ABORTED;                                    /* any other key: stay */
}

static EFI_STATUS UI_SCREEN_EFIAPI FollowUpEnter(EFI_FILE_PROTOCOL *Root, EFI_FILE_INFO *File, VOID *Context) {
  UI_TEXT_POSITION At = {UI_WINDOW_CALLER, 0, 1, 1, TEXT_MODE_LEFT, 0};
  (void)Root;
  Tool.FollowUps++;
  if (Context != &Tool || File == NULL) Tool.WrongArguments = TRUE;
  Tool.Ui->Clear(UI_WINDOW_MESSAGE_BOX, NULL);
  Tool.Ui->DrawProgressFrame();
  Tool.Ui->Print(&At, NULL, L"Writing %s ...", Tool.Name);
  /* The work itself happens in EventHook, one step per signal of the event. */
  Tool.Percent = 0;
  Tool.Writing = TRUE;
  return EFI_SUCCESS;
}

static EFI_STATUS UI_SCREEN_EFIAPI FollowUpKey(EFI_INPUT_KEY *Key, KEY_STATE *State) {
  (void)Key;
  (void)State;
  return Tool.Writing ? EFI_ABORTED : EFI_END_OF_MEDIA; /* no key ends a write half done */
}

/* Called by the firmware while the UI's loop waits, at TPL_CALLBACK: it only
 * signals, and the loop then calls EventHook at TPL_APPLICATION. */
static VOID UI_SCREEN_EFIAPI Notify(EFI_EVENT Event, VOID *Context) {
  if (Context != &Tool) {
    Tool.WrongArguments = TRUE;
    return;
  }
  if (Tool.Writing) uefi_call_wrapper(BS->SignalEvent, 1, Event);
}

static EFI_STATUS UI_SCREEN_EFIAPI Step(VOID *Context) {
  UI_TEXT_POSITION At = {UI_WINDOW_CALLER, 0, 1, 1, TEXT_MODE_LEFT, 0};
  UINT32 Green = 0x0A;
  UINTN End;

  if (Context != &Tool) Tool.WrongArguments = TRUE;
  if (!Tool.Writing) return EFI_SUCCESS;
  Tool.Steps++;
  /* One SetProgress draws one segment and the number: call it for each value. */
  for (End = Tool.Percent + WRITE_STEP; Tool.Percent < End && Tool.Percent <= 100; Tool.Percent++)
    Tool.Ui->SetProgress((UINT8)Tool.Percent, BAR_STYLE);
  if (Tool.Percent <= 100) return EFI_SUCCESS;

  Tool.Writing = FALSE;
  Tool.Written = TRUE;
  Tool.Ui->ClearLine(UI_WINDOW_CALLER, 1, NULL);
  Tool.Ui->Print(&At, &Green, L"%s written: %r", Tool.Name, (UINT64)EFI_SUCCESS);
  At.Row = 3;
  Tool.Ui->Print(&At, NULL, L"hooks: start %d, escape %d, chosen %d, follow-up %d, steps %d, arguments %s", (UINT64)Tool.Starts,
                 (UINT64)Tool.Escapes, (UINT64)Tool.Chosen, (UINT64)Tool.FollowUps, (UINT64)Tool.Steps,
                 Tool.WrongArguments ? L"wrong" : L"right");
  At.Row = 5;
  Tool.Ui->Print(&At, NULL, L"Press any key.");
  return EFI_SUCCESS;
}

/* Returns EFI_SUCCESS once a file was written, EFI_ABORTED when the user
 * quit, or the status that stopped the run. */
EFI_STATUS efi_main(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  UI_RUN_PARAMETERS Params;
  EFI_STATUS Status;

  InitializeLib(ImageHandle, SystemTable);
  Status = uefi_call_wrapper(BS->LocateProtocol, 3, &gUiScreenProtocolGuid, NULL, (VOID **)&Tool.Ui);
  if (EFI_ERROR(Status)) return Status;
  if (Tool.Ui->Revision < UI_SCREEN_PROTOCOL_REVISION) return EFI_UNSUPPORTED;

  ZeroMem(&Params, sizeof(Params));
  Params.BiosFileUnitSize = 0x10000;
  Params.StartHook = Start;
  Params.HookContext = &Tool;
  Params.EventNotify = Notify;
  Params.EventHook = Step;
  Params.FileChosenEnterHook = ChosenEnter;
  Params.FileChosenKeyHook = ChosenKey;
  Params.FileFollowUpEnterHook = FollowUpEnter;
  Params.FileFollowUpKeyHook = FollowUpKey;
  Params.EscapeEnterHook = EscapeEnter;
  Params.EscapeKeyHook = EscapeKey;
  /* With an event of its own, Run answers with the status of closing it, so
   * the tool's outcome is what its hooks recorded. */
  Status = Tool.Ui->Run(Tool.Ui, &Params);
  if (EFI_ERROR(Status)) return Status;
  if (Tool.WrongArguments) return EFI_PROTOCOL_ERROR;
  return Tool.Written ? EFI_SUCCESS : EFI_ABORTED;
}
