/* include/ui_screen.h where callers live: after gnu-efi's efi.h, or EDK II's
 * Uefi.h with EDK2_HEADERS, as C or C++. A caller's functions marked
 * UI_SCREEN_EFIAPI fill every field; with SYSV_NOTIFY the notify function is
 * declared the platform's way, which in the System V convention must not
 * compile. */
#ifdef EDK2_HEADERS
#include <Uefi.h>
extern EFI_GUID gUiScreenProtocolGuid; /* as AutoGen.h declares a protocol the INF lists */
#else
#include <efi.h>
#endif
#define UI_SCREEN_DEFINE_GUID
#include "ui_screen.h"

#ifdef SYSV_NOTIFY
static VOID EFIAPI Notify(EFI_EVENT Event, VOID *Context) {
#else
static VOID UI_SCREEN_EFIAPI Notify(EFI_EVENT Event, VOID *Context) {
#endif
  (void)Event;
  (void)Context;
}
static EFI_STATUS UI_SCREEN_EFIAPI Start(UINTN Zero, UINT64 *Value, UINT8 *Byte) {
  return Zero == 0 && *Value == 0 && *Byte == 3 ? EFI_SUCCESS : EFI_ABORTED;
}
static EFI_STATUS UI_SCREEN_EFIAPI Event(VOID *Context) { return Context ? EFI_SUCCESS : EFI_ABORTED; }
static EFI_STATUS UI_SCREEN_EFIAPI FileEnter(EFI_FILE_PROTOCOL *Root, EFI_FILE_INFO *File, VOID *Context) {
  (void)Context;
  return Root && File->FileSize ? EFI_SUCCESS : EFI_ABORTED;
}
static EFI_STATUS UI_SCREEN_EFIAPI EscapeEnter(VOID *Unused1, VOID *Unused2, VOID *Context) {
  return Unused1 || Unused2 || !Context ? EFI_ABORTED : EFI_SUCCESS;
}
static EFI_STATUS UI_SCREEN_EFIAPI Key(EFI_INPUT_KEY *Pressed, KEY_STATE *State) {
  (void)State;
  return Pressed->ScanCode == 0x17 ? EFI_END_OF_MEDIA : EFI_NOT_READY;
}

EFI_STATUS CallerRuns(UI_SCREEN_PROTOCOL *Ui, VOID *Context) {
  static UI_RUN_PARAMETERS Params; /* zeroed, in C and C++ */
  UI_TEXT_POSITION At = {UI_WINDOW_CALLER, 0, 0, 0, TEXT_MODE_LEFT, 0};
  UINT32 Attribute = 0x0A;
  UINT64 Wide = 0x0F;
  Params.StartHook = Start;
  Params.HookContext = Context;
  Params.EventNotify = Notify;
  Params.EventHook = Event;
  Params.FileChosenEnterHook = FileEnter;
  Params.FileChosenKeyHook = Key;
  Params.FileFollowUpEnterHook = FileEnter;
  Params.FileFollowUpKeyHook = Key;
  Params.EscapeEnterHook = EscapeEnter;
  Params.EscapeKeyHook = Key;
  Ui->Print(&At, &Attribute, (const CHAR16 *)L"%d", (UINT64)1);
  Ui->Clear(UI_WINDOW_CALLER, &Wide);
  Ui->ClearLine(UI_WINDOW_CALLER, 0, 0);
  Ui->DrawProgressFrame();
  Ui->SetProgress(50, 1);
  if (Ui->SystemTable->BootServices->LocateProtocol(&gUiScreenProtocolGuid, NULL, (VOID **)&Ui) != EFI_SUCCESS) return EFI_NOT_FOUND;
  return Ui->NoOperation() == EFI_SUCCESS ? Ui->Run(Ui, &Params) : EFI_ABORTED;
}
