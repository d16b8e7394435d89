// SPDX-License-Identifier: BSD-2-Clause-Patent
// The fake Graphics Output protocol: Blt as the UEFI standard describes
// it, on an in-memory framebuffer.
#include "gop.h"

#include <gtest/gtest.h>

#include <cstring>

namespace fake {

namespace {
const EFI_GUID kGopGuid = EFI_GRAPHICS_OUTPUT_PROTOCOL_GUID;
constexpr UINTN kPixel = sizeof(EFI_GRAPHICS_OUTPUT_BLT_PIXEL);
}  // namespace

Gop::Gop(Platform &platform, UINT32 width, UINT32 height, bool install) : platform_(platform) {
  info_.Version = 0;
  info_.HorizontalResolution = width;
  info_.VerticalResolution = height;
  info_.PixelFormat = PixelBlueGreenRedReserved8BitPerColor;
  info_.PixelsPerScanLine = width;
  fb_.assign(static_cast<size_t>(width) * height, EFI_GRAPHICS_OUTPUT_BLT_PIXEL{0, 0, 0, 0});
  mode_.MaxMode = 1;
  mode_.Mode = 0;
  mode_.Info = &info_;
  mode_.SizeOfInfo = sizeof(info_);
  mode_.FrameBufferBase = reinterpret_cast<EFI_PHYSICAL_ADDRESS>(fb_.data());
  mode_.FrameBufferSize = fb_.size() * kPixel;
  record_.gop.QueryMode = QueryMode;
  record_.gop.SetMode = SetMode;
  record_.gop.Blt = Blt;
  record_.gop.Mode = &mode_;
  record_.owner = this;
  if (install) {
    EXPECT_EQ(platform_.Install(&handle_, kGopGuid, &record_.gop), EFI_SUCCESS);
    installed_ = true;
  }
}

Gop::~Gop() {
  if (installed_) platform_.Uninstall(handle_, kGopGuid, &record_.gop);
}

Gop *Gop::From(EFI_GRAPHICS_OUTPUT_PROTOCOL *self) {
  if (self == nullptr) {
    ADD_FAILURE() << "GOP called with a null This";
    return nullptr;
  }
  return reinterpret_cast<Record *>(self)->owner;
}

void Gop::Fill(EFI_GRAPHICS_OUTPUT_BLT_PIXEL px) {
  for (auto &p : fb_) p = px;
}

EFI_GRAPHICS_OUTPUT_BLT_PIXEL Gop::PatternAt(UINTN x, UINTN y) {
  return EFI_GRAPHICS_OUTPUT_BLT_PIXEL{static_cast<UINT8>(x), static_cast<UINT8>(y), static_cast<UINT8>(x >> 8 | y >> 8 << 4),
                                       static_cast<UINT8>(x * 7 + y * 13)};
}

void Gop::FillPattern() {
  for (UINTN y = 0; y < Height(); y++)
    for (UINTN x = 0; x < Width(); x++) At(x, y) = PatternAt(x, y);
}

EFI_STATUS EFIAPI Gop::QueryMode(EFI_GRAPHICS_OUTPUT_PROTOCOL *self, UINT32 mode, UINTN *size,
                                 EFI_GRAPHICS_OUTPUT_MODE_INFORMATION **info) {
  Gop *g = From(self);
  if (!g || !size || !info) return EFI_INVALID_PARAMETER;
  if (mode >= g->mode_.MaxMode) return EFI_INVALID_PARAMETER;
  // The caller frees the copy, as with a real driver.
  VOID *copy = nullptr;
  EFI_STATUS s = g->platform_.BootServices()->AllocatePool(EfiBootServicesData, sizeof(g->info_), &copy);
  if (EFI_ERROR(s)) return s;
  std::memcpy(copy, &g->info_, sizeof(g->info_));
  *info = static_cast<EFI_GRAPHICS_OUTPUT_MODE_INFORMATION *>(copy);
  *size = sizeof(g->info_);
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI Gop::SetMode(EFI_GRAPHICS_OUTPUT_PROTOCOL *self, UINT32 mode) {
  Gop *g = From(self);
  if (!g) return EFI_INVALID_PARAMETER;
  if (mode >= g->mode_.MaxMode) return EFI_UNSUPPORTED;
  g->Fill(EFI_GRAPHICS_OUTPUT_BLT_PIXEL{0, 0, 0, 0});
  return EFI_SUCCESS;
}

bool Gop::InScreen(UINTN x, UINTN y, UINTN width, UINTN height) const {
  UINTN right, bottom;
  if (__builtin_add_overflow(x, width, &right) || __builtin_add_overflow(y, height, &bottom)) return false;
  return right <= Width() && bottom <= Height();
}

EFI_STATUS EFIAPI Gop::Blt(EFI_GRAPHICS_OUTPUT_PROTOCOL *self, EFI_GRAPHICS_OUTPUT_BLT_PIXEL *buffer, EFI_GRAPHICS_OUTPUT_BLT_OPERATION op,
                           UINTN sx, UINTN sy, UINTN dx, UINTN dy, UINTN width, UINTN height, UINTN delta) {
  Gop *g = From(self);
  if (!g) return EFI_INVALID_PARAMETER;
  EFI_STATUS s = g->DoBlt(buffer, op, sx, sy, dx, dy, width, height, delta);
  g->calls_.push_back({op, sx, sy, dx, dy, width, height, delta, s});
  return s;
}

EFI_STATUS Gop::DoBlt(EFI_GRAPHICS_OUTPUT_BLT_PIXEL *buffer, EFI_GRAPHICS_OUTPUT_BLT_OPERATION op, UINTN sx, UINTN sy, UINTN dx, UINTN dy,
                      UINTN width, UINTN height, UINTN delta) {
  if (fail_blt_) return fail_blt_;
  if (op >= EfiGraphicsOutputBltOperationMax) return EFI_INVALID_PARAMETER;
  if (width == 0 || height == 0) return EFI_INVALID_PARAMETER;
  if (op != EfiBltVideoToVideo && buffer == nullptr) return EFI_INVALID_PARAMETER;
  // Delta 0 means the buffer rows are exactly Width pixels long.
  UINTN stride = delta ? delta : width * kPixel;
  if (op == EfiBltVideoToBltBuffer || op == EfiBltBufferToVideo) {
    UINTN rowBytes;
    if (__builtin_mul_overflow(width, kPixel, &rowBytes) || stride < rowBytes || stride % kPixel) return EFI_INVALID_PARAMETER;
  }
  auto bufPixel = [&](UINTN x, UINTN y) -> EFI_GRAPHICS_OUTPUT_BLT_PIXEL & {
    return *reinterpret_cast<EFI_GRAPHICS_OUTPUT_BLT_PIXEL *>(reinterpret_cast<UINT8 *>(buffer) + y * stride + x * kPixel);
  };
  switch (op) {
    case EfiBltVideoFill:
      if (!InScreen(dx, dy, width, height)) return EFI_INVALID_PARAMETER;
      for (UINTN y = 0; y < height; y++)
        for (UINTN x = 0; x < width; x++) At(dx + x, dy + y) = buffer[0];
      return EFI_SUCCESS;
    case EfiBltVideoToBltBuffer:
      if (!InScreen(sx, sy, width, height)) return EFI_INVALID_PARAMETER;
      for (UINTN y = 0; y < height; y++)
        for (UINTN x = 0; x < width; x++) bufPixel(dx + x, dy + y) = At(sx + x, sy + y);
      return EFI_SUCCESS;
    case EfiBltBufferToVideo:
      if (!InScreen(dx, dy, width, height)) return EFI_INVALID_PARAMETER;
      for (UINTN y = 0; y < height; y++)
        for (UINTN x = 0; x < width; x++) At(dx + x, dy + y) = bufPixel(sx + x, sy + y);
      return EFI_SUCCESS;
    case EfiBltVideoToVideo: {
      if (!InScreen(sx, sy, width, height) || !InScreen(dx, dy, width, height)) return EFI_INVALID_PARAMETER;
      std::vector<EFI_GRAPHICS_OUTPUT_BLT_PIXEL> tmp(width * height);  // overlapping rectangles
      for (UINTN y = 0; y < height; y++)
        for (UINTN x = 0; x < width; x++) tmp[y * width + x] = At(sx + x, sy + y);
      for (UINTN y = 0; y < height; y++)
        for (UINTN x = 0; x < width; x++) At(dx + x, dy + y) = tmp[y * width + x];
      return EFI_SUCCESS;
    }
    default:
      return EFI_INVALID_PARAMETER;
  }
}

}  // namespace fake
