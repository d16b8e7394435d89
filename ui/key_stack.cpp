// SPDX-License-Identifier: BSD-2-Clause-Patent
// The key-state stack: screen modes as states on a stack, keys going to the
// state on top. It knows nothing of the states a run uses; those are in
// key_states.cpp.
#include "ui/key_stack.h"

#include "ui/status_report.h"

KEY_STATE_STACK *KeyStateStack;

// ---- List primitives ----

static VOID LinkToSelf(KEY_STATE_LINK *Link) {
  Link->ForwardLink = Link;
  Link->BackLink = Link;
}

static VOID InsertAtHead(KEY_STATE_LINK *Head, KEY_STATE_LINK *Entry) {
  Entry->ForwardLink = Head->ForwardLink;
  Entry->BackLink = Head;
  Head->ForwardLink->BackLink = Entry;
  Head->ForwardLink = Entry;
}

// Takes an entry out of its list and leaves it linked to itself.
static VOID Unlink(KEY_STATE_LINK *Entry) {
  Entry->BackLink->ForwardLink = Entry->ForwardLink;
  Entry->ForwardLink->BackLink = Entry->BackLink;
  LinkToSelf(Entry);
}

static KEY_STATE *StateOf(KEY_STATE_LINK *Link) { return reinterpret_cast<KEY_STATE *>(Link); }

// ---- Stack operations ----

EFI_STATUS CreateKeyState(KEY_STATE_ENTER_FUNCTION EnterFunction, KEY_STATE_KEY_FUNCTION KeyFunction, KEY_STATE **State) {
  if (State == nullptr || EnterFunction == nullptr || KeyFunction == nullptr) return EFI_INVALID_PARAMETER;
  *State = nullptr;
  KEY_STATE *NewState = nullptr;
  EFI_STATUS Status = gBS->AllocatePool(EfiBootServicesData, sizeof(KEY_STATE), reinterpret_cast<VOID **>(&NewState));
  if (EFI_ERROR(Status)) return Status;
  gBS->SetMem(NewState, sizeof(KEY_STATE), 0);
  LinkToSelf(&NewState->Link);
  NewState->EnterFunction = EnterFunction;
  NewState->KeyFunction = KeyFunction;
  *State = NewState;
  return EFI_SUCCESS;
}

EFI_STATUS DestroyKeyState(KEY_STATE **State) {
  if (State == nullptr) return EFI_INVALID_PARAMETER;
  KEY_STATE *Target = *State;
  if (Target == nullptr) return EFI_INVALID_PARAMETER;
  // Only a state that is actually stacked is unlinked; the walk runs from the
  // oldest entry so a state is never taken for one of another stack.
  if (KeyStateStack != nullptr) {
    KEY_STATE_LINK *Head = &KeyStateStack->StateList;
    for (KEY_STATE_LINK *Entry = Head->BackLink; Entry != Head; Entry = Entry->BackLink) {
      if (StateOf(Entry) == Target) {
        Unlink(Entry);
        if (KeyStateStack->Current == Target) KeyStateStack->Current = Head->ForwardLink != Head ? StateOf(Head->ForwardLink) : nullptr;
        break;
      }
    }
  }
  EFI_STATUS Status = gBS->FreePool(Target);
  *State = nullptr;
  return Status;
}

EFI_STATUS InitKeyStateStack(KEY_STATE *Base) {
  if (Base == nullptr) return EFI_INVALID_PARAMETER;
  DestroyKeyStateStack();
  KEY_STATE_STACK *Stack = nullptr;
  EFI_STATUS Status = gBS->AllocatePool(EfiBootServicesData, sizeof(KEY_STATE_STACK), reinterpret_cast<VOID **>(&Stack));
  if (EFI_ERROR(Status)) return Status;
  gBS->SetMem(Stack, sizeof(KEY_STATE_STACK), 0);
  LinkToSelf(&Stack->StateList);
  LinkToSelf(&Base->Link);
  InsertAtHead(&Stack->StateList, &Base->Link);
  Stack->Current = Base;
  KeyStateStack = Stack;
  return EFI_SUCCESS;
}

VOID DestroyKeyStateStack(VOID) {
  if (KeyStateStack == nullptr) return;
  KEY_STATE_LINK *Head = &KeyStateStack->StateList;
  while (Head->ForwardLink != Head) {
    KEY_STATE *Oldest = StateOf(Head->BackLink);
    DestroyKeyState(&Oldest);
  }
  gBS->FreePool(KeyStateStack);
  KeyStateStack = nullptr;
}

EFI_STATUS PushKeyState(KEY_STATE *State, UINTN Argument) {
  if (State == nullptr || KeyStateStack == nullptr) return KEY_STACK_NO_CHANGE;
  KEY_STATE *Previous = KeyStateStack->Current;
  KeyStateStack->Current = State;
  Unlink(&State->Link);  // a state is on the stack at most once
  InsertAtHead(&KeyStateStack->StateList, &State->Link);
  return State->EnterFunction(Previous, Argument);
}

EFI_STATUS SwitchKeyState(KEY_STATE *State, UINTN Argument) {
  if (State == nullptr || KeyStateStack == nullptr) return KEY_STACK_NO_CHANGE;
  KEY_STATE *Previous = KeyStateStack->Current;
  KeyStateStack->Current = State;
  if (Previous != nullptr) Unlink(&Previous->Link);
  Unlink(&State->Link);
  InsertAtHead(&KeyStateStack->StateList, &State->Link);
  return State->EnterFunction(Previous, Argument);
}

EFI_STATUS PopKeyState(UINTN Argument) {
  if (KeyStateStack == nullptr || KeyStateStack->Current == nullptr) return KEY_STACK_NO_CHANGE;
  KEY_STATE_LINK *Head = &KeyStateStack->StateList;
  KEY_STATE *Previous = KeyStateStack->Current;
  // The base state stays: without it no state would receive the next key.
  if (Head->ForwardLink == Head || Head->ForwardLink->ForwardLink == Head) return KEY_STACK_NO_CHANGE;
  Unlink(&Previous->Link);
  KEY_STATE *Next = StateOf(Head->ForwardLink);
  KeyStateStack->Current = Next;
  return Next->EnterFunction(Previous, Argument);
}

EFI_STATUS DispatchKey(EFI_INPUT_KEY *Key) {
  if (KeyStateStack == nullptr || KeyStateStack->Current == nullptr) return KEY_STACK_NO_RECEIVER;
  KEY_STATE *Current = KeyStateStack->Current;
  if (Current->KeyFunction == nullptr) return KEY_STACK_NO_RECEIVER;
  return Current->KeyFunction(Key, Current);
}
