/* A minimal caller of UI_SCREEN_PROTOCOL in plain C: the user picks a BIOS
 * file, confirms it in the message box, watches a progress bar, and any key
 * then ends the run. Built as a UEFI application; its entry is UiCallerMain. */
/* No platform headers here: the header brings the minimal ones of include/efi/.
 * A caller with its own includes them before ui_screen.h instead. */
#define UI_SCREEN_STANDALONE
#include "ui_screen.h"

#ifndef NULL
#define NULL ((VOID *)0)
#endif

static UI_SCREEN_PROTOCOL *Ui;

static EFI_STATUS UI_SCREEN_EFIAPI ChosenEnter(EFI_FILE_PROTOCOL *Root, EFI_FILE_INFO *File, VOID *Context) {
  UI_TEXT_POSITION At = {UI_WINDOW_MESSAGE_BOX, 0, 0, 1, TEXT_MODE_CENTRE, 0};
  (void)Root;
  (void)Context;
  Ui->Print(&At, NULL, u"Flash %s ?", File->FileName);
  At.Row = 3;
  Ui->Print(&At, NULL, u"%d bytes", (UINT64)File->FileSize);
  At.Row = 5;
  Ui->Print(&At, NULL, u"Enter: yes   Esc: no");
  return EFI_SUCCESS;
}

static EFI_STATUS UI_SCREEN_EFIAPI ChosenKey(EFI_INPUT_KEY *Key, KEY_STATE *State) {
  (void)State;
  if (Key->UnicodeChar == 0x0D) return EFI_SUCCESS; /* on to the follow-up state */
  if (Key->ScanCode == 0x17) {
    Ui->Clear(UI_WINDOW_MESSAGE_BOX, NULL);
    return EFI_NOT_READY; /* back to the file list */
  }
  return EFI_ABORTED; /* any other key: stay */
}

static EFI_STATUS UI_SCREEN_EFIAPI FollowUpEnter(EFI_FILE_PROTOCOL *Root, EFI_FILE_INFO *File, VOID *Context) {
  UI_TEXT_POSITION At = {UI_WINDOW_CALLER, 0, 1, 1, TEXT_MODE_LEFT, 0};
  UINT32 Green = 0x0A;
  UINTN Percent;
  (void)Root;
  (void)Context;
  Ui->Clear(UI_WINDOW_MESSAGE_BOX, NULL);
  Ui->DrawProgressFrame();
  /* One call draws the segment at that percent and shows the number, so the
   * bar fills by calling for each value in turn (a real tool calls as its
   * writes progress). */
  for (Percent = 0; Percent <= 100; Percent++) Ui->SetProgress((UINT8)Percent, 1);
  Ui->Print(&At, &Green, u"%s written: %r", File->FileName, EFI_SUCCESS);
  At.Row = 3;
  Ui->Print(&At, NULL, u"Press any key.");
  return EFI_SUCCESS;
}

static EFI_STATUS UI_SCREEN_EFIAPI FollowUpKey(EFI_INPUT_KEY *Key, KEY_STATE *State) {
  (void)Key;
  (void)State;
  return EFI_END_OF_MEDIA; /* ends the run */
}

static EFI_STATUS UI_SCREEN_EFIAPI EscapeKey(EFI_INPUT_KEY *Key, KEY_STATE *State) {
  (void)State;
  return Key->ScanCode == 0x17 ? EFI_END_OF_MEDIA : EFI_NOT_READY; /* Esc twice quits */
}

/* Runs one screen and returns the status that ended it (EFI_END_OF_MEDIA
 * for a normal end), or the status of locating the protocol. */
EFI_STATUS UI_SCREEN_EFIAPI UiCallerMain(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  EFI_GUID Guid = UI_SCREEN_PROTOCOL_GUID;
  UI_RUN_PARAMETERS Params = {0};
  EFI_STATUS Status;
  (void)ImageHandle;
  Status = SystemTable->BootServices->LocateProtocol(&Guid, NULL, (VOID **)&Ui);
  if (EFI_ERROR(Status)) return Status;
  if (Ui->Revision < UI_SCREEN_PROTOCOL_REVISION) return EFI_UNSUPPORTED;
  Params.BiosFileUnitSize = 0x10000;
  Params.FileChosenEnterHook = ChosenEnter;
  Params.FileChosenKeyHook = ChosenKey;
  Params.FileFollowUpEnterHook = FollowUpEnter;
  Params.FileFollowUpKeyHook = FollowUpKey;
  Params.EscapeKeyHook = EscapeKey;
  return Ui->Run(Ui, &Params);
}
