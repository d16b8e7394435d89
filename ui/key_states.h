// SPDX-License-Identifier: BSD-2-Clause-Patent
// The key states of a run on the key-state stack: the base state, the two
// lists, escape, and the caller's file-chosen and follow-up screens.
#pragma once
#include "efi/efi.h"
#include "ui/key_stack.h"
#include "ui/run_state.h"

// The six states of a run, created by InitialKeyFunction, cleared by ExitKeyFunction.
typedef struct {
  KEY_STATE *BaseKeyState;
  KEY_STATE *VolumeListKeyState;
  KEY_STATE *FileListKeyState;
  KEY_STATE *EscapeKeyState;
  KEY_STATE *FileChosenKeyState;
  KEY_STATE *FileFollowUpKeyState;
} RUN_KEY_STATES;

extern RUN_KEY_STATES KeyStates;

// Set up the states at the start of a run (the volume list gets the focus)
// and tear them down at its end, also after a run that failed early. The
// states call the hooks of Run, which stays the run's until ExitKeyFunction.
EFI_STATUS InitialKeyFunction(const UI_RUN *Run);
VOID ExitKeyFunction(VOID);
