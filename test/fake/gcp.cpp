// SPDX-License-Identifier: BSD-2-Clause-Patent
// The graphics console double: records backdrops set and withdrawn.
#include "gcp.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace fake {

const EFI_GUID kAdvancedGcProtocolGuid = {0xFBC9449A, 0x681C, 0x4517, {0xAB, 0x91, 0x09, 0x72, 0xAC, 0xDE, 0x77, 0xB4}};
GraphicsConsole *GraphicsConsole::current_ = nullptr;

GraphicsConsole::GraphicsConsole(Platform &platform, bool install) : platform_(platform) {
  if (current_ != nullptr) ADD_FAILURE() << "two graphics console doubles at once";
  current_ = this;
  for (auto &s : table_.slot) s = reinterpret_cast<VOID *>(&Unexpected);
  table_.slot[3] = reinterpret_cast<VOID *>(&SetBackdrop);
  table_.slot[4] = reinterpret_cast<VOID *>(&ClearBackdrop);
  if (install) {
    EXPECT_EQ(platform_.Install(&handle_, kAdvancedGcProtocolGuid, &table_), EFI_SUCCESS);
    installed_ = true;
  }
}

GraphicsConsole::~GraphicsConsole() {
  if (installed_) platform_.Uninstall(handle_, kAdvancedGcProtocolGuid, &table_);
  current_ = nullptr;
}

VOID EFIAPI GraphicsConsole::SetBackdrop(EFI_GRAPHICS_OUTPUT_BLT_PIXEL *buffer, UINTN x, UINTN y, UINTN width, UINTN height) {
  GraphicsConsole *g = current_;
  if (!g) return;
  Backdrop b;
  b.rect = {x, y, width, height};
  if (buffer == nullptr) {
    ADD_FAILURE() << "graphics console function 3 with a null buffer";
  } else {
    b.buffer_was_pool = g->platform_.IsLive(buffer);
    b.pixels.assign(buffer, buffer + width * height);
  }
  g->set_calls_.push_back(b);
  g->active_.push_back(b);
}

VOID EFIAPI GraphicsConsole::ClearBackdrop(UINTN x, UINTN y, UINTN width, UINTN height) {
  GraphicsConsole *g = current_;
  if (!g) return;
  Rect r{x, y, width, height};
  g->clear_calls_.push_back(r);
  g->active_.erase(std::remove_if(g->active_.begin(), g->active_.end(), [&](const Backdrop &b) { return b.rect == r; }), g->active_.end());
}

VOID EFIAPI GraphicsConsole::Unexpected() { ADD_FAILURE() << "the UI called a graphics console function it does not use"; }

}  // namespace fake
