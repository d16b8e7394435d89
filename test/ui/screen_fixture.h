// SPDX-License-Identifier: BSD-2-Clause-Patent
// Shared set-up of the screen tests: a fake platform whose console offers
// 80 x 25 and 100 x 31, the UI's table pointers aimed at it, and helpers that
// run repaint passes and read back what reached the console.
#pragma once
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>

#include "test/fake/fake.h"
#include "ui/status_report.h"
#include "ui/layout.h"
#include "ui/screen.h"
#include "ui/window_text.h"

namespace screen_test {

// Cells that the console log shows as written since the log was last cleared,
// found by replaying cursor moves and OutputString as the console applies them.
std::set<std::pair<UINTN, UINTN>> WrittenCells(const fake::Platform &p);
// Number of console calls of one name in the log.
size_t CallCount(const fake::Platform &p, const std::string &name);

class ScreenTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // One repaint pass, as the periodic timer runs it.
  void Pass();
  // Destroys every window the test still holds, then the screen.
  void Shutdown();

  char16_t Ch(UINTN x, UINTN y) const { return p.At(x, y).ch; }
  uint8_t Attr(UINTN x, UINTN y) const { return p.At(x, y).attr; }
  std::string Row(UINTN y) const { return p.RowAscii(y); }
  // Text of columns [x, x + n) of row y.
  std::string Text(UINTN x, UINTN y, UINTN n) const { return p.RowAscii(y).substr(x, n); }

  fake::Platform p;
};

}  // namespace screen_test
