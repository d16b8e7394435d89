// SPDX-License-Identifier: BSD-2-Clause-Patent
// One interactive screen run of the UI protocol.
#pragma once
#include "efi/efi.h"
#include "ui/run_state.h"
#include "ui_screen.h"

EFI_STATUS EFIAPI Run(UI_SCREEN_PROTOCOL *This, UI_RUN_PARAMETERS *Parameters);

// The run in progress, or null: the protocol functions besides Run write into
// a run's windows and pictures only while there is one.
const UI_RUN *ActiveRun(VOID);

#ifdef EFI_HOST_TEST
// Host tests mark a run as in progress without starting one.
UI_RUN *RunRecordForTest(VOID);
#endif
