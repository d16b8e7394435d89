// The key states of a run on the key-state stack: the base state, the two
// lists, escape, and the caller's file-chosen and follow-up screens.
#pragma once
#include "efi/efi.h"
#include "ui/key_stack.h"
#include "ui/run_state.h"

// The six states of a run, created by InitialKeyFunction, cleared by ExitKeyFunction.
extern KEY_STATE *BaseKeyState;
extern KEY_STATE *VolumeListKeyState;
extern KEY_STATE *FileListKeyState;
extern KEY_STATE *EscapeKeyState;
extern KEY_STATE *FileChosenKeyState;
extern KEY_STATE *FileFollowUpKeyState;

// Set up the states at the start of a run (the volume list gets the focus)
// and tear them down at its end, also after a run that failed early. The
// states call the hooks of Run, which stays the run's until ExitKeyFunction.
EFI_STATUS InitialKeyFunction(const UI_RUN *Run);
VOID ExitKeyFunction(VOID);
