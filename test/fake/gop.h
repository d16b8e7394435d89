// SPDX-License-Identifier: BSD-2-Clause-Patent
// A fake Graphics Output protocol for host tests: one mode, a framebuffer of
// BGRX pixels in memory, and Blt with all four operations and the UEFI rules
// for rectangles, Delta and bounds. Every Blt is logged.
#pragma once
#include <cstdint>
#include <vector>

#include "efi/efi.h"
#include "fake.h"

namespace fake {

class Gop {
 public:
  struct BltCall {
    EFI_GRAPHICS_OUTPUT_BLT_OPERATION op;
    UINTN sx, sy, dx, dy, width, height, delta;
    EFI_STATUS status;
  };

  // Installs the protocol on a new handle of the platform unless install is false.
  explicit Gop(Platform &platform, UINT32 width = 1024, UINT32 height = 768, bool install = true);
  ~Gop();
  Gop(const Gop &) = delete;
  Gop &operator=(const Gop &) = delete;

  EFI_GRAPHICS_OUTPUT_PROTOCOL *Protocol() { return &record_.gop; }
  EFI_HANDLE Handle() const { return handle_; }
  UINT32 Width() const { return info_.HorizontalResolution; }
  UINT32 Height() const { return info_.VerticalResolution; }

  EFI_GRAPHICS_OUTPUT_BLT_PIXEL &At(UINTN x, UINTN y) { return fb_.at(y * Width() + x); }
  const EFI_GRAPHICS_OUTPUT_BLT_PIXEL &At(UINTN x, UINTN y) const { return fb_.at(y * Width() + x); }
  void Fill(EFI_GRAPHICS_OUTPUT_BLT_PIXEL px);
  // A distinct, position-dependent pixel everywhere (Reserved included), so
  // tests can tell which pixels a Blt read or moved.
  void FillPattern();
  static EFI_GRAPHICS_OUTPUT_BLT_PIXEL PatternAt(UINTN x, UINTN y);

  const std::vector<BltCall> &Calls() const { return calls_; }
  void ClearCalls() { calls_.clear(); }
  // Every later Blt fails with this status without touching anything (0 restores).
  void FailBlt(EFI_STATUS status) { fail_blt_ = status; }

 private:
  struct Record {
    EFI_GRAPHICS_OUTPUT_PROTOCOL gop;  // first: the protocol pointer is the record
    Gop *owner;
  };
  static EFI_STATUS EFIAPI QueryMode(EFI_GRAPHICS_OUTPUT_PROTOCOL *self, UINT32 mode, UINTN *size,
                                     EFI_GRAPHICS_OUTPUT_MODE_INFORMATION **info);
  static EFI_STATUS EFIAPI SetMode(EFI_GRAPHICS_OUTPUT_PROTOCOL *self, UINT32 mode);
  static EFI_STATUS EFIAPI Blt(EFI_GRAPHICS_OUTPUT_PROTOCOL *self, EFI_GRAPHICS_OUTPUT_BLT_PIXEL *buffer,
                               EFI_GRAPHICS_OUTPUT_BLT_OPERATION op, UINTN sx, UINTN sy, UINTN dx, UINTN dy, UINTN width, UINTN height,
                               UINTN delta);
  static Gop *From(EFI_GRAPHICS_OUTPUT_PROTOCOL *self);
  EFI_STATUS DoBlt(EFI_GRAPHICS_OUTPUT_BLT_PIXEL *buffer, EFI_GRAPHICS_OUTPUT_BLT_OPERATION op, UINTN sx, UINTN sy, UINTN dx, UINTN dy,
                   UINTN width, UINTN height, UINTN delta);
  bool InScreen(UINTN x, UINTN y, UINTN width, UINTN height) const;

  Platform &platform_;
  Record record_{};
  EFI_GRAPHICS_OUTPUT_PROTOCOL_MODE mode_{};
  EFI_GRAPHICS_OUTPUT_MODE_INFORMATION info_{};
  std::vector<EFI_GRAPHICS_OUTPUT_BLT_PIXEL> fb_;
  std::vector<BltCall> calls_;
  EFI_STATUS fail_blt_ = 0;
  EFI_HANDLE handle_ = nullptr;
  bool installed_ = false;
};

}  // namespace fake
