// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "devices.h"

#include <gtest/gtest.h>

namespace uitest {

namespace {
TestPointer *current_pointer;
}  // namespace

TestPointer::TestPointer(fake::Platform &p) : p_(p) {
  mode_.ResolutionX = mode_.ResolutionY = 1;
  mode_.LeftButton = mode_.RightButton = 1;
  proto_.Reset = Reset;
  proto_.GetState = GetState;
  proto_.Mode = &mode_;
  EXPECT_EQ(p.BootServices()->CreateEvent(EVT_NOTIFY_WAIT, TPL_NOTIFY, WaitNotify, this, &proto_.WaitForInput), EFI_SUCCESS);
  current_pointer = this;
}

TestPointer::~TestPointer() {
  p_.BootServices()->CloseEvent(proto_.WaitForInput);
  current_pointer = nullptr;
}

void TestPointer::Move(INT32 dx, INT32 dy, bool button) {
  pending_ = {dx, dy, 0, static_cast<BOOLEAN>(button), 0};
  has_pending_ = true;
  p_.BootServices()->SignalEvent(proto_.WaitForInput);
}

EFI_STATUS EFIAPI TestPointer::Reset(EFI_SIMPLE_POINTER_PROTOCOL *, BOOLEAN) { return EFI_SUCCESS; }

EFI_STATUS EFIAPI TestPointer::GetState(EFI_SIMPLE_POINTER_PROTOCOL *, EFI_SIMPLE_POINTER_STATE *state) {
  if (!current_pointer) return EFI_DEVICE_ERROR;
  current_pointer->get_state_calls++;
  if (!current_pointer->has_pending_) return EFI_NOT_READY;
  *state = current_pointer->pending_;
  current_pointer->has_pending_ = false;
  return EFI_SUCCESS;
}

VOID EFIAPI TestPointer::WaitNotify(EFI_EVENT e, VOID *ctx) {
  auto *self = static_cast<TestPointer *>(ctx);
  if (self->has_pending_) self->p_.BootServices()->SignalEvent(e);
}

}  // namespace uitest
