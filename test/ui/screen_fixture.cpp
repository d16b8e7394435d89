// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "screen_fixture.h"

namespace screen_test {

std::set<std::pair<UINTN, UINTN>> WrittenCells(const fake::Platform &p) {
  std::set<std::pair<UINTN, UINTN>> cells;
  UINTN x = 0, y = 0;
  for (const auto &call : p.ConsoleLog()) {
    if (call.name == "SetCursorPosition") {
      x = call.a;
      y = call.b;
    } else if (call.name == "ClearScreen" || call.name == "SetMode") {
      x = y = 0;
    } else if (call.name == "OutputString") {
      for (char16_t ch : call.text) {
        (void)ch;
        cells.insert({x, y});
        x++;
      }
    }
  }
  return cells;
}

size_t CallCount(const fake::Platform &p, const std::string &name) {
  size_t n = 0;
  for (const auto &call : p.ConsoleLog()) n += call.name == name;
  return n;
}

void ScreenTest::SetUp() {
  p.SetTextModes({{80, 25}, {100, 31}});
  EfiInitializeDriverLib(nullptr, p.SystemTable());
  ScreenPreemptionHook = nullptr;
}

void ScreenTest::Pass() {
  ASSERT_NE(CellScreen.RepaintEvent, nullptr);
  p.FireTimer(CellScreen.RepaintEvent);
}

void ScreenTest::Shutdown() {
  ScreenPreemptionHook = nullptr;
  UI_WINDOW **layout[] = {&RunWindows.CallerWindow,     &RunWindows.FileInfoWindow, &RunWindows.FileListWindow,
                          &RunWindows.VolumeListWindow, &RunWindows.MessageBox,     &RunWindows.BackgroundWindow};
  for (UI_WINDOW **w : layout) {
    if (*w != nullptr) WindowDestroy(*w);
    *w = nullptr;
  }
  ScreenShutdown();
}

void ScreenTest::TearDown() {
  Shutdown();
  EXPECT_EQ(p.LivePoolCount(), 0u) << "pool leaked";
  EXPECT_EQ(p.LivePageCount(), 0u) << "pages leaked";
  EXPECT_EQ(p.Scrolls(), 0u) << "the console scrolled";
}

}  // namespace screen_test
