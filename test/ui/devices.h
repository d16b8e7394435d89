// SPDX-License-Identifier: BSD-2-Clause-Patent
// A Simple Pointer device whose movement and buttons a test can signal, to
// show that a run never reads it. One is current at a time.
#pragma once
#include "efi/efi.h"
#include "test/fake/fake.h"
#include "ui/run.h"

namespace uitest {

class TestPointer {
 public:
  explicit TestPointer(fake::Platform &p);
  ~TestPointer();
  EFI_SIMPLE_POINTER_PROTOCOL *Protocol() { return &proto_; }
  // Movement and a button press as the device reports them: its wait event
  // is signalled and GetState returns the change.
  void Move(INT32 dx, INT32 dy, bool button);
  uint64_t get_state_calls = 0;

 private:
  static EFI_STATUS EFIAPI Reset(EFI_SIMPLE_POINTER_PROTOCOL *, BOOLEAN);
  static EFI_STATUS EFIAPI GetState(EFI_SIMPLE_POINTER_PROTOCOL *, EFI_SIMPLE_POINTER_STATE *);
  static VOID EFIAPI WaitNotify(EFI_EVENT, VOID *);
  fake::Platform &p_;
  EFI_SIMPLE_POINTER_PROTOCOL proto_{};
  EFI_SIMPLE_POINTER_MODE mode_{};
  EFI_SIMPLE_POINTER_STATE pending_{};
  bool has_pending_ = false;
};

}  // namespace uitest
