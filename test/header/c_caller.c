/* An outside caller written in C without UEFI headers of its own: the
   protocol header must build as plain C on the minimal ones, and a caller
   fills the records and calls through the interface. */
#define UI_SCREEN_STANDALONE
#include "ui_screen.h"

static EFI_STATUS UI_SCREEN_EFIAPI EndOnEscape(EFI_INPUT_KEY *Key, KEY_STATE *State) {
  (void)State;
  return Key->ScanCode == 0x17 ? EFI_END_OF_MEDIA : EFI_NOT_READY;
}

EFI_STATUS CallerRunsOnce(UI_SCREEN_PROTOCOL *Ui) {
  static UI_RUN_PARAMETERS Parameters; /* zeroed, in C and C++ */
  UI_TEXT_POSITION Position = {UI_WINDOW_CALLER, 0, 0, 0, TEXT_MODE_LEFT, 0};
  Parameters.EscapeKeyHook = EndOnEscape;
  Ui->Print(&Position, 0, (const CHAR16 *)L"", (UINT64)0);
  return Ui->Run(Ui, &Parameters);
}
