// A graphics output with a 1024 x 768 frame buffer for the picture tests:
// Blt copies buffers into the frame and every call is logged with the
// pixels it was given.
#pragma once
#include <vector>

#include "efi/efi.h"

namespace picture_test {

struct BltCall {
  EFI_GRAPHICS_OUTPUT_BLT_OPERATION op;
  UINTN sx, sy, dx, dy, w, h, delta;
  std::vector<EFI_GRAPHICS_OUTPUT_BLT_PIXEL> pixels;  // the buffer as given
};

class TestGop {
 public:
  static constexpr UINT32 kWidth = 1024, kHeight = 768;
  static constexpr EFI_GRAPHICS_OUTPUT_BLT_PIXEL kUntouched = {0x11, 0x22, 0x33, 0x00};

  TestGop() : frame_(kWidth * kHeight, kUntouched) {
    current_ = this;
    info_.HorizontalResolution = kWidth;
    info_.VerticalResolution = kHeight;
    info_.PixelFormat = PixelBlueGreenRedReserved8BitPerColor;
    info_.PixelsPerScanLine = kWidth;
    mode_.MaxMode = 1;
    mode_.Info = &info_;
    mode_.SizeOfInfo = sizeof info_;
    protocol_.Blt = Blt;
    protocol_.Mode = &mode_;
  }
  ~TestGop() { current_ = nullptr; }

  EFI_GRAPHICS_OUTPUT_PROTOCOL *Protocol() { return &protocol_; }
  const std::vector<BltCall> &Calls() const { return calls_; }
  void ClearCalls() { calls_.clear(); }
  EFI_GRAPHICS_OUTPUT_BLT_PIXEL At(UINTN x, UINTN y) const { return frame_[y * kWidth + x]; }

  static bool Same(EFI_GRAPHICS_OUTPUT_BLT_PIXEL a, EFI_GRAPHICS_OUTPUT_BLT_PIXEL b) {
    return a.Blue == b.Blue && a.Green == b.Green && a.Red == b.Red;
  }
  // True when every pixel of the rectangle is still as the test began.
  bool Untouched(UINTN x, UINTN y, UINTN w, UINTN h) const {
    for (UINTN j = 0; j < h; j++)
      for (UINTN i = 0; i < w; i++)
        if (!Same(At(x + i, y + j), kUntouched)) return false;
    return true;
  }

 private:
  static EFI_STATUS EFIAPI Blt(EFI_GRAPHICS_OUTPUT_PROTOCOL *, EFI_GRAPHICS_OUTPUT_BLT_PIXEL *buffer, EFI_GRAPHICS_OUTPUT_BLT_OPERATION op, UINTN sx,
                               UINTN sy, UINTN dx, UINTN dy, UINTN w, UINTN h, UINTN delta) {
    TestGop &g = *current_;
    BltCall call{op, sx, sy, dx, dy, w, h, delta, {}};
    if (op != EfiBltBufferToVideo || w == 0 || h == 0 || dx + w > kWidth || dy + h > kHeight) {
      g.calls_.push_back(call);
      return EFI_INVALID_PARAMETER;
    }
    UINTN stride = delta ? delta / sizeof(EFI_GRAPHICS_OUTPUT_BLT_PIXEL) : w;
    for (UINTN j = 0; j < h; j++)
      for (UINTN i = 0; i < w; i++) {
        EFI_GRAPHICS_OUTPUT_BLT_PIXEL p = buffer[(sy + j) * stride + sx + i];
        call.pixels.push_back(p);
        g.frame_[(dy + j) * kWidth + dx + i] = p;
      }
    g.calls_.push_back(std::move(call));
    return EFI_SUCCESS;
  }

  static inline TestGop *current_ = nullptr;
  EFI_GRAPHICS_OUTPUT_PROTOCOL protocol_{};
  EFI_GRAPHICS_OUTPUT_PROTOCOL_MODE mode_{};
  EFI_GRAPHICS_OUTPUT_MODE_INFORMATION info_{};
  std::vector<EFI_GRAPHICS_OUTPUT_BLT_PIXEL> frame_;
  std::vector<BltCall> calls_;
};

}  // namespace picture_test
