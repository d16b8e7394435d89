// SPDX-License-Identifier: BSD-2-Clause-Patent
// A host double of the outside graphics console protocol that the UI finds by
// gAdvancedGcProtocolGuid. Its interface is a table of function pointers called
// without an interface pointer; the UI uses the fourth (a pixel backdrop shown
// behind the console text for a rectangle, copied because the caller frees its
// buffer right after the call) and the fifth (the backdrop of a rectangle
// withdrawn). Both are recorded; the other slots fail the test when called.
#pragma once
#include <vector>

#include "efi/efi.h"
#include "fake.h"

namespace fake {

extern const EFI_GUID kAdvancedGcProtocolGuid;  // {FBC9449A-681C-4517-AB91-0972ACDE77B4}

class GraphicsConsole {
 public:
  struct Rect {
    UINTN x, y, width, height;
    bool operator==(const Rect &o) const { return x == o.x && y == o.y && width == o.width && height == o.height; }
  };
  struct Backdrop {
    Rect rect;
    std::vector<EFI_GRAPHICS_OUTPUT_BLT_PIXEL> pixels;  // the copy taken at the call
    bool buffer_was_pool = false;                       // the caller's buffer was a live pool block
  };

  // Installs the table on a new handle unless install is false. One instance at a time.
  explicit GraphicsConsole(Platform &platform, bool install = true);
  ~GraphicsConsole();
  GraphicsConsole(const GraphicsConsole &) = delete;
  GraphicsConsole &operator=(const GraphicsConsole &) = delete;

  VOID *Interface() { return &table_; }
  const std::vector<Backdrop> &SetCalls() const { return set_calls_; }
  const std::vector<Rect> &ClearCalls() const { return clear_calls_; }
  // Backdrops in force: each set, less those withdrawn for the same rectangle.
  const std::vector<Backdrop> &Active() const { return active_; }
  void ClearLog() {
    set_calls_.clear();
    clear_calls_.clear();
  }

 private:
  struct Table {
    VOID *slot[8];
  };
  static VOID EFIAPI SetBackdrop(EFI_GRAPHICS_OUTPUT_BLT_PIXEL *buffer, UINTN x, UINTN y, UINTN width, UINTN height);
  static VOID EFIAPI ClearBackdrop(UINTN x, UINTN y, UINTN width, UINTN height);
  static VOID EFIAPI Unexpected();

  Platform &platform_;
  Table table_{};
  EFI_HANDLE handle_ = nullptr;
  bool installed_ = false;
  std::vector<Backdrop> set_calls_, active_;
  std::vector<Rect> clear_calls_;
  static GraphicsConsole *current_;
};

}  // namespace fake
