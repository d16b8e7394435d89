#include "devices.h"

#include <gtest/gtest.h>

namespace uitest {

namespace {
TestGop *current_gop;
TestGraphicsConsole *current_gc;
TestPointer *current_pointer;
constexpr UINT32 kWidth = 1024, kHeight = 768;
}  // namespace

TestGop::TestGop() {
  info_.HorizontalResolution = kWidth;
  info_.VerticalResolution = kHeight;
  info_.PixelFormat = PixelBlueGreenRedReserved8BitPerColor;
  info_.PixelsPerScanLine = kWidth;
  mode_.MaxMode = 1;
  mode_.Info = &info_;
  mode_.SizeOfInfo = sizeof(info_);
  proto_.QueryMode = QueryMode;
  proto_.SetMode = SetMode;
  proto_.Blt = Blt;
  proto_.Mode = &mode_;
  current_gop = this;
}
TestGop::~TestGop() { current_gop = nullptr; }

EFI_STATUS EFIAPI TestGop::QueryMode(EFI_GRAPHICS_OUTPUT_PROTOCOL *, UINT32, UINTN *, EFI_GRAPHICS_OUTPUT_MODE_INFORMATION **) {
  return EFI_UNSUPPORTED;
}
EFI_STATUS EFIAPI TestGop::SetMode(EFI_GRAPHICS_OUTPUT_PROTOCOL *, UINT32) { return EFI_UNSUPPORTED; }

// Checks the rectangle against the screen and touches every pixel of the
// caller's buffer, so a short buffer shows up under the address sanitizer.
EFI_STATUS EFIAPI TestGop::Blt(EFI_GRAPHICS_OUTPUT_PROTOCOL *, EFI_GRAPHICS_OUTPUT_BLT_PIXEL *buffer,
                               EFI_GRAPHICS_OUTPUT_BLT_OPERATION op, UINTN sx, UINTN sy, UINTN dx, UINTN dy, UINTN w,
                               UINTN h, UINTN delta) {
  if (!current_gop) return EFI_DEVICE_ERROR;
  current_gop->blts.push_back({op, op == EfiBltVideoToBltBuffer ? sx : dx, op == EfiBltVideoToBltBuffer ? sy : dy, w, h});
  UINTN vx = op == EfiBltVideoToBltBuffer ? sx : dx, vy = op == EfiBltVideoToBltBuffer ? sy : dy;
  if (vx + w > kWidth || vy + h > kHeight) return EFI_INVALID_PARAMETER;
  if (op == EfiBltVideoFill) return EFI_SUCCESS;
  UINTN stride = delta ? delta / sizeof(EFI_GRAPHICS_OUTPUT_BLT_PIXEL) : w;
  for (UINTN r = 0; r < h; r++)
    for (UINTN c = 0; c < w; c++) {
      EFI_GRAPHICS_OUTPUT_BLT_PIXEL &px = buffer[r * stride + c];
      if (op == EfiBltVideoToBltBuffer) {
        px = {10, 20, 30, 0};
      } else {
        volatile UINT8 sink = px.Blue;
        (void)sink;
      }
    }
  return EFI_SUCCESS;
}

TestGraphicsConsole::TestGraphicsConsole() {
  proto_.SetBackdrop = SetBackdrop;
  proto_.ClearBackdrop = ClearBackdrop;
  current_gc = this;
}
TestGraphicsConsole::~TestGraphicsConsole() { current_gc = nullptr; }

VOID EFIAPI TestGraphicsConsole::SetBackdrop(EFI_GRAPHICS_OUTPUT_BLT_PIXEL *buffer, UINTN x, UINTN y, UINTN w, UINTN h) {
  if (!current_gc) return;
  for (UINTN i = 0; i < w * h; i++) {
    volatile UINT8 sink = buffer[i].Green;
    (void)sink;
  }
  current_gc->calls.push_back({true, x, y, w, h});
}

VOID EFIAPI TestGraphicsConsole::ClearBackdrop(UINTN x, UINTN y, UINTN w, UINTN h) {
  if (current_gc) current_gc->calls.push_back({false, x, y, w, h});
}

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
