// SPDX-License-Identifier: BSD-2-Clause-Patent
/* include/ui_screen.h after gnu-efi's efi.h in one translation unit: its
 * types come from the platform's headers and nothing is defined twice. */
#include <efi.h>
#include "ui_screen.h"

_Static_assert(sizeof(UI_SCREEN_PROTOCOL) == 80, "UI_SCREEN_PROTOCOL beside gnu-efi");
EFI_STATUS CallRun(UI_SCREEN_PROTOCOL *Ui, UI_RUN_PARAMETERS *Params) { return Ui->Run(Ui, Params); }
