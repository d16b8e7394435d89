// SPDX-License-Identifier: BSD-2-Clause-Patent
// Window text operations on the cells of a window: placement, the border,
// CR and LF, cutting, counts, formatted writes and blanking.
#include <string>

#include "cells.h"
#include "screen_fixture.h"

namespace screen_test {
namespace {

class WindowText : public ScreenTest {
 protected:
  void SetUp() override {
    ScreenTest::SetUp();
    ASSERT_EQ(ScreenInit(0x0F), EFI_SUCCESS);
  }
  UI_WINDOW *Plain(UINTN w, UINTN h, UINTN tw) {
    UI_WINDOW *win = nullptr;
    EXPECT_EQ(WindowCreate(w, h, tw, 0x0F, &win), EFI_SUCCESS);
    return win;
  }
  UI_WINDOW *Framed(UINTN w, UINTN h) {
    UI_WINDOW_GEOMETRY g = {w, h, 0x1F};
    UI_WINDOW *win = nullptr;
    EXPECT_EQ(WindowCreateFramed(&g, nullptr, &win), EFI_SUCCESS);
    return win;
  }
  // The characters of one window row, 0 shown as '_' and box drawing as '+'.
  static std::string RowOf(const UI_WINDOW *w, UINTN r) {
    return uitest::CellText(w, 0, r, w->Width, [](CHAR16 ch) { return ch == 0 ? '_' : ch < 0x80 ? static_cast<char>(ch) : '+'; });
  }
  static void CleanAll(UI_WINDOW *w) {
    for (UINTN i = 0; i < w->Width * w->Height; i++) w->CellFlags[i] &= ~CELL_DIRTY;
  }
};

CHAR16 *T(std::u16string &s) { return s.data(); }

TEST_F(WindowText, LeftTextSkipsTheBorderAndIsCutOrWrappedAtTheTextWidth) {
  UI_WINDOW *f = Framed(8, 4);
  std::u16string s = u"ab";
  UI_CELL_POSITION pos = {0, 1, 0x2F};
  EXPECT_EQ(WindowWriteText(f, T(s), &pos, 0), 2u);
  EXPECT_EQ(RowOf(f, 1), "+ab    +");
  EXPECT_EQ(f->CellAttrs[1 * 8 + 1], 0x2Fu);
  EXPECT_EQ(f->CellAttrs[1 * 8 + 0], 0x1Fu);  // the border keeps its attribute

  UI_WINDOW *w = Plain(10, 3, 6);
  CleanAll(w);
  s = u"0123456789";
  pos = {2, 0, CELL_KEEP_ATTRIBUTE};
  EXPECT_EQ(WindowWriteText(w, T(s), &pos, 0), 4u);
  EXPECT_EQ(RowOf(w, 0), "__0123____");
  EXPECT_EQ(w->CellFlags[2], 0);  // not forced: the pass compares with the screen
  EXPECT_EQ(w->CellFlags[6], 0);
  EXPECT_EQ(w->CellAttrs[2], 0x0Fu);  // kept
  EXPECT_EQ(WindowWriteText(w, T(s), &pos, 1), 10u);
  EXPECT_EQ(RowOf(w, 1), "456789____");
  // Wrapping stops at the last row.
  pos = {0, 2, CELL_KEEP_ATTRIBUTE};
  EXPECT_EQ(WindowWriteText(w, T(s), &pos, 1), 6u);
}

TEST_F(WindowText, CarriageReturnAndLineFeedMoveWithoutBeingCounted) {
  UI_WINDOW *w = Plain(10, 3, 10);
  std::u16string s = u"AB\rC";
  UI_CELL_POSITION pos = {2, 0, CELL_KEEP_ATTRIBUTE};
  EXPECT_EQ(WindowWriteText(w, T(s), &pos, 0), 3u);
  EXPECT_EQ(RowOf(w, 0), "C_AB______");
  s = u"AB\nC";
  pos = {2, 1, CELL_KEEP_ATTRIBUTE};
  EXPECT_EQ(WindowWriteText(w, T(s), &pos, 0), 3u);
  EXPECT_EQ(RowOf(w, 1), "__AB______");
  EXPECT_EQ(RowOf(w, 2), "____C_____");
  // A line feed past the last row ends the write.
  s = u"x\ny";
  pos = {0, 2, CELL_KEEP_ATTRIBUTE};
  EXPECT_EQ(WindowWriteText(w, T(s), &pos, 0), 1u);
}

TEST_F(WindowText, WritesThatStartOutsideTheWindowStoreNothing) {
  UI_WINDOW *w = Plain(4, 2, 4);
  CleanAll(w);
  std::u16string s = u"abc";
  UI_CELL_POSITION pos = {0, 2, 0x0F};
  EXPECT_EQ(WindowWriteText(w, T(s), &pos, 1), 0u);
  EXPECT_EQ(WindowWriteText(nullptr, T(s), &pos, 0), 0u);
  EXPECT_EQ(WindowWriteText(w, T(s), nullptr, 0), 0u);
  EXPECT_EQ(WindowWriteText(w, nullptr, &pos, 0), 0u);
  EXPECT_EQ(WindowWriteTextRight(w, T(s), &pos), 0u);  // row outside: nothing
  EXPECT_EQ(WindowWriteTextCentred(w, T(s), &pos), 0u);
  pos = {9, 0, 0x0F};
  EXPECT_EQ(WindowWriteText(w, T(s), &pos, 0), 0u);
  for (UINTN i = 0; i < 8; i++) EXPECT_EQ(w->CellFlags[i], 0) << i;
}

TEST_F(WindowText, ATextWidthBeyondTheWidthNeverLeavesTheRow) {
  UI_WINDOW *w = Plain(4, 2, 9);
  std::u16string s = u"abcdefgh";
  UI_CELL_POSITION pos = {0, 0, CELL_KEEP_ATTRIBUTE};
  EXPECT_EQ(WindowWriteText(w, T(s), &pos, 0), 4u);
  EXPECT_EQ(RowOf(w, 1), "____");
  pos = {0, 1, CELL_KEEP_ATTRIBUTE};
  EXPECT_EQ(WindowWriteTextRight(w, T(s), &pos), 2u);
  EXPECT_EQ(RowOf(w, 1), "_fgh");
}

TEST_F(WindowText, RightAlignedTextEndsBeforeTheRightEndAndNeverTakesColumnZero) {
  UI_WINDOW *w = Plain(10, 3, 10);
  std::u16string s = u"12345";
  UI_CELL_POSITION pos = {0, 0, 0x2F};
  EXPECT_EQ(WindowWriteTextRight(w, T(s), &pos), 5u);
  EXPECT_EQ(RowOf(w, 0), "_____12345");
  EXPECT_EQ(w->CellAttrs[5], 0x2Fu);
  pos = {3, 1, CELL_KEEP_ATTRIBUTE};
  s = u"a\rb\nc";
  EXPECT_EQ(WindowWriteTextRight(w, T(s), &pos), 3u);
  EXPECT_EQ(RowOf(w, 1), "____abc___");

  UI_WINDOW *n = Plain(4, 1, 4);
  s = u"ABCDE";
  pos = {0, 0, CELL_KEEP_ATTRIBUTE};
  EXPECT_EQ(WindowWriteTextRight(n, T(s), &pos), 2u);  // C stored but not counted
  EXPECT_EQ(RowOf(n, 0), "_CDE");
  pos = {3, 0, CELL_KEEP_ATTRIBUTE};  // start column 0: nothing
  EXPECT_EQ(WindowWriteTextRight(n, T(s), &pos), 0u);
  pos = {4, 0, CELL_KEEP_ATTRIBUTE};
  EXPECT_EQ(WindowWriteTextRight(n, T(s), &pos), 0u);

  // In a framed window the right border is stepped over.
  UI_WINDOW *f = Framed(8, 3);
  s = u"xy";
  pos = {0, 1, CELL_KEEP_ATTRIBUTE};
  EXPECT_EQ(WindowWriteTextRight(f, T(s), &pos), 2u);
  EXPECT_EQ(RowOf(f, 1), "+    xy+");
}

TEST_F(WindowText, CentredTextStartsAroundTheWantedColumnAndStaysInside) {
  UI_WINDOW *w = Plain(16, 3, 16);
  std::u16string s = u"abcd";
  UI_CELL_POSITION pos = {8, 0, CELL_KEEP_ATTRIBUTE};
  EXPECT_EQ(WindowWriteTextCentred(w, T(s), &pos), 4u);
  EXPECT_EQ(pos.Column, 6u);
  pos = {1, 1, CELL_KEEP_ATTRIBUTE};
  EXPECT_EQ(WindowWriteTextCentred(w, T(s), &pos), 4u);
  EXPECT_EQ(pos.Column, 6u);
  pos = {15, 1, CELL_KEEP_ATTRIBUTE};  // would run past the end
  EXPECT_EQ(WindowWriteTextCentred(w, T(s), &pos), 4u);
  EXPECT_EQ(pos.Column, 6u);
  s = u"0123456789abcdefXYZ";
  pos = {8, 2, CELL_KEEP_ATTRIBUTE};
  EXPECT_EQ(WindowWriteTextCentred(w, T(s), &pos), 16u);
  EXPECT_EQ(pos.Column, 0u);
  // Only the first line, whose end is cut in the caller's text.
  s = u"ab\ncd";
  pos = {8, 0, CELL_KEEP_ATTRIBUTE};
  EXPECT_EQ(WindowWriteTextCentred(w, T(s), &pos), 2u);
  EXPECT_EQ(s[2], u'\0');
  s = u"\rab";
  EXPECT_EQ(WindowWriteTextCentred(w, T(s), &pos), 0u);
  s = u"";
  EXPECT_EQ(WindowWriteTextCentred(w, T(s), &pos), 0u);
}

TEST_F(WindowText, WindowPrintFormatsAndPlacesByMode) {
  UI_WINDOW *w = Plain(20, 4, 20);
  UI_CELL_POSITION pos = {1, 0, 0x2F};
  EXPECT_EQ(WindowPrint(w, &pos, TEXT_MODE_LEFT, u"n=%d %s", (UINT64)42, u"ok"), 7u);
  EXPECT_EQ(RowOf(w, 0), "_n=42 ok____________");
  EXPECT_EQ(pos.Column, 1u);  // the caller's position is not changed
  pos = {0, 1, CELL_KEEP_ATTRIBUTE};
  EXPECT_EQ(WindowPrint(w, &pos, TEXT_MODE_RIGHT, u"%d", (UINT64)7), 1u);
  EXPECT_EQ(RowOf(w, 1), "___________________7");
  pos = {10, 2, CELL_KEEP_ATTRIBUTE};
  EXPECT_EQ(WindowPrint(w, &pos, TEXT_MODE_CENTRE, u"mid"), 3u);
  EXPECT_EQ(pos.Column, 10u);
  EXPECT_EQ(RowOf(w, 2), "_________mid________");
  pos = {18, 2, CELL_KEEP_ATTRIBUTE};
  EXPECT_EQ(WindowPrint(w, &pos, TEXT_MODE_WRAP, u"wrap"), 4u);
  EXPECT_EQ(RowOf(w, 3), "ap__________________");
  // Mode 5 formats and writes nothing; the formatter's count comes back.
  CleanAll(w);
  EXPECT_EQ(WindowPrint(w, &pos, 5, u"abc"), 4u);
  for (UINTN i = 0; i < 80; i++) ASSERT_EQ(w->CellFlags[i], 0);
  // No position: column 0, row 0, attributes kept.
  EXPECT_EQ(WindowPrint(w, nullptr, TEXT_MODE_LEFT, u"Z"), 1u);
  EXPECT_EQ(w->CellChars[0], u'Z');
  EXPECT_EQ(w->CellAttrs[0], 0x0Fu);
  // Outside the window, except the centre column in centred mode.
  pos = {20, 0, 0x0F};
  EXPECT_EQ(WindowPrint(w, &pos, TEXT_MODE_LEFT, u"x"), 0u);
  EXPECT_EQ(WindowPrint(w, &pos, TEXT_MODE_CENTRE, u"x"), 1u);
  pos = {0, 4, 0x0F};
  EXPECT_EQ(WindowPrint(w, &pos, TEXT_MODE_RIGHT, u"x"), 0u);
  EXPECT_EQ(WindowPrint(nullptr, &pos, TEXT_MODE_LEFT, u"x"), 0u);
}

TEST_F(WindowText, WindowPrintCutsAtThreeHundredNineteenCharacters) {
  UI_WINDOW *w = Plain(400, 1, 400);
  std::u16string longText(500, u'q');
  EXPECT_EQ(WindowPrint(w, nullptr, TEXT_MODE_LEFT, u"%s", longText.c_str()), 319u);
  EXPECT_EQ(w->CellChars[318], u'q');
  EXPECT_EQ(w->CellChars[319], 0);
}

TEST_F(WindowText, ClearingKeepsBorderCharactersAndRecoloursEverything) {
  UI_WINDOW *f = Framed(6, 3);
  std::u16string s = u"hi";
  UI_CELL_POSITION pos = {0, 1, CELL_KEEP_ATTRIBUTE};
  WindowWriteText(f, T(s), &pos, 0);
  CleanAll(f);
  UINT64 attr = 0x4E;
  EXPECT_EQ(WindowClear(f, &attr), EFI_SUCCESS);
  EXPECT_EQ(RowOf(f, 1), "+    +");
  EXPECT_EQ(RowOf(f, 0), "++++++");
  for (UINTN i = 0; i < 18; i++) {
    EXPECT_EQ(f->CellAttrs[i], 0x4Eu);
    EXPECT_FALSE(f->CellFlags[i] & CELL_DIRTY);
  }
  EXPECT_EQ(WindowClear(f, nullptr), EFI_SUCCESS);
  EXPECT_EQ(f->CellAttrs[7], 0x4Eu);
  EXPECT_EQ(WindowClear(nullptr, &attr), EFI_INVALID_PARAMETER);

  // Clearing a row blanks its border too and leaves the flags alone.
  CleanAll(f);
  attr = 0x2F;
  EXPECT_EQ(WindowClearRow(f, 0, &attr), EFI_SUCCESS);
  EXPECT_EQ(RowOf(f, 0), "      ");
  EXPECT_EQ(f->CellAttrs[0], 0x2Fu);
  EXPECT_EQ(f->CellFlags[0], CELL_PROTECTED);
  EXPECT_EQ(RowOf(f, 2), "++++++");
  EXPECT_EQ(WindowClearRow(f, 3, &attr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(WindowClearRow(nullptr, 0, nullptr), EFI_INVALID_PARAMETER);
  // The compositor finds the cleared row by comparison alone.
  WindowMove(f, 0, 0);
  Pass();
  EXPECT_EQ(Text(0, 0, 6), "      ");
  EXPECT_EQ(Attr(0, 0), 0x2F);
}

}  // namespace
}  // namespace screen_test
