// SPDX-License-Identifier: BSD-2-Clause-Patent
// The key-state stack: screen modes, each with a function called when it
// becomes current and one called with every key while it is current.
#pragma once
#include "efi/efi.h"
#include "ui_screen.h"  // the caller's hook types

typedef struct KEY_STATE KEY_STATE;

// Doubly linked list entry of the state stack; an unstacked state links to itself.
typedef struct KEY_STATE_LINK {
  struct KEY_STATE_LINK *ForwardLink;
  struct KEY_STATE_LINK *BackLink;
} KEY_STATE_LINK;

typedef EFI_STATUS(EFIAPI *KEY_STATE_ENTER_FUNCTION)(KEY_STATE *Previous, UINTN Argument);
typedef EFI_STATUS(EFIAPI *KEY_STATE_KEY_FUNCTION)(EFI_INPUT_KEY *Key, KEY_STATE *State);

// The caller's key hooks receive a pointer to this record, so its layout is kept fixed.
struct KEY_STATE {
  KEY_STATE_LINK Link;  // first, so a list entry is its state
  KEY_STATE_ENTER_FUNCTION EnterFunction;
  KEY_STATE_KEY_FUNCTION KeyFunction;
};

typedef struct {
  KEY_STATE *Current;        // the state that receives keys; always the newest entry
  KEY_STATE_LINK StateList;  // newest at the head, the base state at the tail
} KEY_STATE_STACK;

#ifdef __cplusplus
static_assert(sizeof(KEY_STATE_LINK) == 16, "KEY_STATE_LINK");
static_assert(sizeof(KEY_STATE) == 32, "KEY_STATE");
static_assert(offsetof(KEY_STATE, EnterFunction) == 16, "KEY_STATE.EnterFunction");
static_assert(offsetof(KEY_STATE, KeyFunction) == 24, "KEY_STATE.KeyFunction");
static_assert(sizeof(KEY_STATE_STACK) == 24, "KEY_STATE_STACK");
#endif

// Answers of the stack itself, kept apart from what a state's functions return:
// Push, Switch or Pop without a stack or a state to go to, and a key with no
// state to take it (which ends a run, so its caller sees it).
#define KEY_STACK_NO_CHANGE EFI_LOAD_ERROR
#define KEY_STACK_NO_RECEIVER EFI_NO_MEDIA

// The stack of the run in progress; null outside a run.
extern KEY_STATE_STACK *KeyStateStack;

EFI_STATUS CreateKeyState(KEY_STATE_ENTER_FUNCTION EnterFunction, KEY_STATE_KEY_FUNCTION KeyFunction, KEY_STATE **State);
EFI_STATUS DestroyKeyState(KEY_STATE **State);
// A new stack with Base as its only state; an existing stack is destroyed first.
EFI_STATUS InitKeyStateStack(KEY_STATE *Base);
// Destroys the stack and every state still on it (oldest first); whoever
// named those states must forget them.
VOID DestroyKeyStateStack(VOID);
EFI_STATUS PushKeyState(KEY_STATE *State, UINTN Argument);
EFI_STATUS SwitchKeyState(KEY_STATE *State, UINTN Argument);
EFI_STATUS PopKeyState(UINTN Argument);
EFI_STATUS DispatchKey(EFI_INPUT_KEY *Key);
