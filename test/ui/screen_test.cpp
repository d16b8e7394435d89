// SPDX-License-Identifier: BSD-2-Clause-Patent
// The compositor against the fake console: mode choice and restore, what a
// repaint pass writes (and what it must never write), priorities,
// transparency, clipping, list handling and allocation failures.
#include <vector>

#include "screen_fixture.h"

namespace screen_test {
namespace {

using Compositor = ScreenTest;

std::vector<std::string> CallNames(const fake::Platform &p) {
  std::vector<std::string> names;
  for (const auto &c : p.ConsoleLog()) names.push_back(c.name);
  return names;
}

std::vector<std::u16string> Outputs(const fake::Platform &p) {
  std::vector<std::u16string> out;
  for (const auto &c : p.ConsoleLog())
    if (c.name == "OutputString") out.push_back(c.text);
  return out;
}

// A window filled with one character, placed and raised.
UI_WINDOW *Solid(UINTN w, UINTN h, char16_t ch, UINT64 attr, UINTN x, UINTN y, UINT8 prio) {
  UI_WINDOW *win = nullptr;
  EXPECT_EQ(WindowCreate(w, h, w, attr, &win), EFI_SUCCESS);
  for (UINTN i = 0; i < w * h; i++) win->CellChars[i] = ch;
  win->Column = x;
  win->Row = y;
  win->Priority = prio;
  return win;
}

TEST_F(Compositor, InitPicksTheHundredByThirtyOneModeAndStartsTheTimer) {
  p.ConsoleMode()->Attribute = 0x1E;
  ASSERT_EQ(ScreenInit(0x0F), EFI_SUCCESS);
  EXPECT_EQ(CellScreen.ScreenColumns, 100u);
  EXPECT_EQ(CellScreen.ScreenRows, 27u);
  EXPECT_EQ(p.ConsoleMode()->Mode, 1);
  EXPECT_EQ(p.ConsoleMode()->CursorVisible, 0);
  ASSERT_NE(CellScreen.RepaintEvent, nullptr);
  EXPECT_TRUE(p.IsArmed(CellScreen.RepaintEvent));
  EXPECT_EQ(p.PeriodOf(CellScreen.RepaintEvent), 100000u);

  // Mode set-up in its order, after the search from the highest mode down.
  std::vector<std::string> names = CallNames(p);
  std::vector<std::string> setup(names.end() - 6, names.end());
  EXPECT_EQ(setup, (std::vector<std::string>{"SetAttribute", "SetCursorPosition", "SetMode", "ClearScreen", "EnableCursor", "QueryMode"}));
  EXPECT_EQ(p.ConsoleLog()[names.size() - 6].a, 0x1Eu);  // the saved attribute
  EXPECT_EQ(p.ConsoleLog().front().name, "QueryMode");
  EXPECT_EQ(p.ConsoleLog().front().a, 1u);  // MaxMode - 1 first
}

TEST_F(Compositor, WithoutThePreferredModeModeZeroIsUsedLessFourRows) {
  p.SetTextModes({{80, 25}, {132, 50}});
  ASSERT_EQ(ScreenInit(0x0F), EFI_SUCCESS);
  EXPECT_EQ(p.ConsoleMode()->Mode, 0);
  EXPECT_EQ(CellScreen.ScreenColumns, 80u);
  EXPECT_EQ(CellScreen.ScreenRows, 21u);
  Pass();
  for (const auto &cell : WrittenCells(p)) EXPECT_LT(cell.second, 21u);
}

TEST_F(Compositor, AConsoleTooSmallForTheScreenIsRefusedAndGivenBack) {
  p.SetTextModes({{40, 4}});
  EXPECT_EQ(ScreenInit(0x0F), EFI_UNSUPPORTED);
  EXPECT_EQ(CellScreen.RepaintEvent, nullptr);
  Shutdown();
  EXPECT_EQ(p.ConsoleMode()->CursorVisible, 1);
}

TEST_F(Compositor, ShutdownGivesTheConsoleBackAsInitFoundIt) {
  auto *m = p.ConsoleMode();
  m->Attribute = 0x1E;
  m->CursorColumn = 5;
  m->CursorRow = 7;
  m->CursorVisible = 1;
  ASSERT_EQ(ScreenInit(0x0F), EFI_SUCCESS);
  Solid(10, 3, u'x', 0x2F, 4, 4, 48);
  Pass();
  EFI_EVENT timer = CellScreen.RepaintEvent;
  Shutdown();
  EXPECT_FALSE(p.IsLiveEvent(timer));
  EXPECT_EQ(CellScreen.RepaintEvent, nullptr);
  EXPECT_EQ(m->Mode, 0);
  EXPECT_EQ(m->Attribute, 0x1E);
  EXPECT_EQ(m->CursorColumn, 5);
  EXPECT_EQ(m->CursorRow, 7);
  EXPECT_EQ(m->CursorVisible, 1);
  EXPECT_EQ(Row(4), std::string(80, ' '));  // cleared
  // A second shutdown (the run's clean-up after ScreenShutdown) touches nothing.
  p.ClearConsoleLog();
  ScreenShutdown();
  EXPECT_TRUE(p.ConsoleLog().empty());
}

TEST_F(Compositor, ShutdownWithoutInitLeavesTheConsoleAlone) {
  p.SystemTable()->ConOut->OutputString(p.SystemTable()->ConOut, const_cast<CHAR16 *>(u"keep"));
  p.ClearConsoleLog();
  ScreenShutdown();
  EXPECT_TRUE(p.ConsoleLog().empty());
  EXPECT_EQ(Text(0, 0, 4), "keep");
}

TEST_F(Compositor, EveryAllocationFailureOfInitIsReturnedAndReleasedByShutdown) {
  for (uint64_t nth = 1; nth <= 4; nth++) {
    SCOPED_TRACE(nth);
    p.FailAllocation(nth);
    EXPECT_EQ(ScreenInit(0x0F), EFI_OUT_OF_RESOURCES);
    p.FailAllocation(0);
    EXPECT_EQ(CellScreen.RepaintEvent, nullptr);
    Shutdown();
    EXPECT_EQ(p.ConsoleMode()->Mode, 0);
    EXPECT_EQ(p.LivePageCount(), 0u);
  }
}

TEST_F(Compositor, FirstPassWritesTheWholeScreenButTheBottomRightCell) {
  ASSERT_EQ(ScreenInit(0x1F), EFI_SUCCESS);
  p.ConsoleMode()->Attribute = 0x07;
  p.ConsoleMode()->CursorColumn = 3;
  p.ConsoleMode()->CursorRow = 2;
  p.ConsoleMode()->CursorVisible = 1;
  p.ClearConsoleLog();
  Pass();
  auto cells = WrittenCells(p);
  EXPECT_EQ(cells.size(), 100u * 27 - 1);
  EXPECT_EQ(cells.count({99, 26}), 0u);
  for (const auto &c : cells) EXPECT_LT(c.second, 27u);
  EXPECT_EQ(Attr(0, 0), 0x1F);
  EXPECT_EQ(Attr(98, 26), 0x1F);
  // The console's own state is as it was before the pass.
  EXPECT_EQ(p.ConsoleMode()->Attribute, 0x07);
  EXPECT_EQ(p.ConsoleMode()->CursorColumn, 3);
  EXPECT_EQ(p.ConsoleMode()->CursorRow, 2);
  EXPECT_EQ(p.ConsoleMode()->CursorVisible, 1);
  EXPECT_EQ(CallNames(p).front(), "EnableCursor");
  EXPECT_EQ(p.ConsoleLog().front().a, 0u);
}

TEST_F(Compositor, AnIdlePassMakesNoConsoleCallAndOneChangedCellIsOneCharacter) {
  ASSERT_EQ(ScreenInit(0x0F), EFI_SUCCESS);
  UI_WINDOW *w = Solid(20, 5, u'.', 0x0F, 10, 3, 48);
  Pass();
  p.ClearConsoleLog();
  Pass();
  Pass();
  EXPECT_TRUE(p.ConsoleLog().empty());

  w->CellChars[2 * 20 + 7] = u'Q';
  Pass();
  EXPECT_EQ(CallNames(p), (std::vector<std::string>{"EnableCursor", "SetCursorPosition", "SetAttribute", "OutputString", "SetAttribute",
                                                    "SetCursorPosition", "EnableCursor"}));
  EXPECT_EQ(Outputs(p), std::vector<std::u16string>{u"Q"});
  EXPECT_EQ(p.ConsoleLog()[1].a, 17u);
  EXPECT_EQ(p.ConsoleLog()[1].b, 5u);
  EXPECT_EQ(Ch(17, 5), u'Q');
}

TEST_F(Compositor, AnAttributeWithBitSevenIsWrittenWithoutItOnceNotOnEveryPass) {
  ASSERT_EQ(ScreenInit(0x0F), EFI_SUCCESS);
  UI_WINDOW *w = Solid(4, 1, u'a', 0x0F, 0, 0, 48);
  w->CellAttrs[1] = 0xFD;
  Pass();
  EXPECT_EQ(Attr(1, 0), 0x7D);
  for (int pass = 0; pass < 2; pass++) {
    p.ClearConsoleLog();
    Pass();
    EXPECT_TRUE(p.ConsoleLog().empty()) << "an unchanged highlighted cell keeps the console quiet";
  }
  // Changing only bit 7 changes nothing on screen; changing the colour does.
  w->CellAttrs[1] = 0x7D;
  Pass();
  EXPECT_TRUE(Outputs(p).empty());
  w->CellAttrs[1] = 0x8E;
  p.ClearConsoleLog();
  Pass();
  EXPECT_EQ(Outputs(p), std::vector<std::u16string>{u"a"});
  EXPECT_EQ(Attr(1, 0), 0x0E);
}

TEST_F(Compositor, DirtyCellsAreWrittenInRunsOfOneAttribute) {
  ASSERT_EQ(ScreenInit(0x0F), EFI_SUCCESS);
  UI_WINDOW *w = Solid(10, 2, u'-', 0x0F, 0, 0, 48);
  Pass();
  // Columns 3 and 5 dirty, 4 clean: two runs.
  w->CellChars[3] = u'A';
  w->CellChars[5] = u'B';
  p.ClearConsoleLog();
  Pass();
  EXPECT_EQ(Outputs(p), (std::vector<std::u16string>{u"A", u"B"}));
  // Neighbours of one attribute go out together; a change of attribute splits.
  for (int c = 2; c < 8; c++) w->CellChars[c] = u'a' + c;
  w->CellAttrs[6] = 0x2F;
  w->CellAttrs[7] = 0x2F;
  p.ClearConsoleLog();
  Pass();
  EXPECT_EQ(Outputs(p), (std::vector<std::u16string>{u"cdef", u"gh"}));
  EXPECT_EQ(Text(0, 0, 10), "--cdefgh--");
  EXPECT_EQ(Attr(6, 0), 0x2F);
  // A cell of character 0 is a space that ends its run.
  for (int c = 0; c < 3; c++) w->CellChars[10 + c] = 0;
  p.ClearConsoleLog();
  Pass();
  EXPECT_EQ(Outputs(p), (std::vector<std::u16string>{u" ", u" ", u" "}));
  EXPECT_EQ(Text(0, 1, 4), "   -");
}

TEST_F(Compositor, ARowLongerThanTheRunBufferIsSplitNotOverrun) {
  p.SetTextModes({{400, 31}});
  ASSERT_EQ(ScreenInit(0x0F), EFI_SUCCESS);
  Solid(400, 1, u'w', 0x0F, 0, 0, 48);
  p.ClearConsoleLog();
  Pass();
  for (const auto &s : Outputs(p)) EXPECT_LE(s.size(), 319u);
  EXPECT_EQ(Row(0), std::string(400, 'w'));
}

TEST_F(Compositor, ControlCharactersReachTheConsoleAsSpaces) {
  ASSERT_EQ(ScreenInit(0x0F), EFI_SUCCESS);
  UI_WINDOW *w = Solid(6, 1, u'k', 0x0F, 10, 10, 48);
  w->CellChars[1] = u'\b';
  w->CellChars[2] = u'\n';
  w->CellChars[3] = u'\r';
  Pass();
  EXPECT_EQ(Text(10, 10, 6), "k   kk");
  EXPECT_EQ(Text(10, 11, 6), "      ");
}

TEST_F(Compositor, WindowsClippedAtTheEdgesWriteNothingOutsideTheScreen) {
  ASSERT_EQ(ScreenInit(0x0F), EFI_SUCCESS);
  Solid(30, 10, u'#', 0x2F, 85, 20, 48);
  Solid(5, 5, u'@', 0x2F, 100, 3, 48);  // wholly right of the screen
  Solid(5, 5, u'@', 0x2F, 3, 27, 48);   // wholly below it
  Pass();
  EXPECT_EQ(Text(84, 20, 16), " ###############");
  EXPECT_EQ(Text(85, 26, 15), "############## ");
  EXPECT_EQ(Ch(99, 26), u' ');  // bottom-right: never written
  for (const auto &c : WrittenCells(p)) {
    EXPECT_LT(c.first, 100u);
    EXPECT_LT(c.second, 27u);
    EXPECT_FALSE(c.first == 99 && c.second == 26);
  }
  for (UINTN y = 27; y < 31; y++) EXPECT_EQ(Row(y), std::string(100, ' '));
}

TEST_F(Compositor, PriorityDecidesAndEqualPrioritiesShowTheNewerWindow) {
  ASSERT_EQ(ScreenInit(0x0F), EFI_SUCCESS);
  Solid(10, 3, u'a', 0x0F, 0, 0, 48);
  Solid(10, 3, u'b', 0x0F, 5, 0, 48);  // newer, equal: shows in the overlap
  Solid(10, 3, u'c', 0x0F, 8, 1, 32);  // newer, lower: beneath both
  Pass();
  EXPECT_EQ(Text(0, 0, 16), "aaaaabbbbbbbbbb ");
  EXPECT_EQ(Text(0, 1, 19), "aaaaabbbbbbbbbbccc ");
}

TEST_F(Compositor, LoweringAWindowBelowTheOneBeneathShowsTheLowerWindowAgain) {
  ASSERT_EQ(ScreenInit(0x0F), EFI_SUCCESS);
  UI_WINDOW *low = Solid(10, 3, u'l', 0x0F, 0, 0, 32);
  UI_WINDOW *high = Solid(6, 2, u'H', 0x1F, 2, 1, 48);
  Pass();
  EXPECT_EQ(Text(0, 1, 10), "llHHHHHHll");
  EXPECT_EQ(WindowSetPriority(high, 20), EFI_SUCCESS);
  EXPECT_EQ(high->Priority, 20);
  Pass();
  EXPECT_EQ(Text(0, 1, 10), "llllllllll");
  EXPECT_EQ(Text(0, 2, 10), "llllllllll");
  // Raising brings it back; the keep value changes nothing but repaints.
  EXPECT_EQ(WindowSetPriority(high, 64), EFI_SUCCESS);
  Pass();
  EXPECT_EQ(Text(0, 1, 10), "llHHHHHHll");
  EXPECT_EQ(WindowSetPriority(high, WINDOW_KEEP_PRIORITY), EFI_SUCCESS);
  EXPECT_EQ(high->Priority, 64);
  EXPECT_EQ(WindowSetPriority(nullptr, 3), EFI_INVALID_PARAMETER);
  (void)low;
}

TEST_F(Compositor, APassBetweenTheReleaseAndThePriorityStoreDoesNotFreezeTheArea) {
  ASSERT_EQ(ScreenInit(0x0F), EFI_SUCCESS);
  Solid(10, 1, u'l', 0x0F, 0, 0, 32);
  UI_WINDOW *high = Solid(4, 1, u'H', 0x0F, 3, 0, 48);
  Pass();
  static fake::Platform *platform;
  platform = &p;
  ScreenPreemptionHook = [] { platform->FireTimer(CellScreen.RepaintEvent); };
  WindowSetPriority(high, 20);
  ScreenPreemptionHook = nullptr;
  Pass();
  EXPECT_EQ(Text(0, 0, 10), "llllllllll");
}

TEST_F(Compositor, ADirtyTransparentCellGivesTheCellBackWithinTwoPasses) {
  ASSERT_EQ(ScreenInit(0x0F), EFI_SUCCESS);
  Solid(10, 1, u'u', 0x0F, 0, 0, 48);
  UI_WINDOW *top = Solid(10, 1, u'T', 0x4F, 0, 0, 80);
  Pass();
  EXPECT_EQ(Text(0, 0, 10), "TTTTTTTTTT");
  top->CellFlags[4] = CELL_TRANSPARENT | CELL_DIRTY;
  Pass();
  Pass();
  EXPECT_EQ(Text(0, 0, 10), "TTTTuTTTTT");
  EXPECT_EQ(Attr(4, 0), 0x0F);
  // A window that is transparent everywhere hides nothing, also after a repaint of all.
  for (UINTN i = 0; i < 10; i++) top->CellFlags[i] = CELL_TRANSPARENT;
  ScreenInvalidate();
  Pass();
  EXPECT_EQ(Text(0, 0, 10), "uuuuuuuuuu");
}

TEST_F(Compositor, InvalidateWritesEveryCellAgainAndBareCellsAsDefaultSpaces) {
  ASSERT_EQ(ScreenInit(0x1F), EFI_SUCCESS);
  Solid(3, 1, u'z', 0x2F, 1, 1, 48);
  Pass();
  p.ClearConsoleLog();
  ScreenInvalidate();  // signals the repaint, which runs at once here
  EXPECT_EQ(WrittenCells(p).size(), 100u * 27 - 1);
  EXPECT_EQ(Text(0, 1, 5), " zzz ");
  EXPECT_EQ(Attr(0, 1), 0x1F);
  EXPECT_EQ(Attr(1, 1), 0x2F);
}

TEST_F(Compositor, MovingAWindowLeavesNoCopyBehind) {
  ASSERT_EQ(ScreenInit(0x0F), EFI_SUCCESS);
  UI_WINDOW *under = Solid(4, 4, u'u', 0x0F, 0, 0, 32);
  UI_WINDOW *w = Solid(3, 2, u'M', 0x2F, 2, 2, 48);
  Pass();
  EXPECT_EQ(WindowMove(w, 40, 10), EFI_SUCCESS);
  Pass();
  EXPECT_EQ(Text(0, 2, 6), "uuuu  ");
  EXPECT_EQ(Text(0, 3, 6), "uuuu  ");
  EXPECT_EQ(Attr(4, 2), 0x0F);
  EXPECT_EQ(Text(40, 10, 4), "MMM ");
  EXPECT_EQ(WindowMove(nullptr, 1, 1), EFI_INVALID_PARAMETER);
  (void)under;
}

TEST_F(Compositor, ListInsertionAndRemovalKeepTheWindowsInOrder) {
  ASSERT_EQ(ScreenInit(0x0F), EFI_SUCCESS);
  UI_WINDOW *a = Solid(2, 1, u'a', 0x0F, 0, 0, 48);
  UI_WINDOW *b = Solid(2, 1, u'b', 0x0F, 0, 0, 48);
  UI_WINDOW *c = Solid(2, 1, u'c', 0x0F, 0, 0, 48);
  auto order = [] {
    std::string s;
    for (UI_LIST_ENTRY *e = CellScreen.WindowList.BackLink; e != &CellScreen.WindowList; e = e->BackLink)
      s += (char)((UI_WINDOW *)e)->CellChars[0];
    return s;
  };
  EXPECT_EQ(order(), "abc");
  EXPECT_EQ(WindowAttach(b), EFI_ALREADY_STARTED);  // no second insertion
  EXPECT_EQ(order(), "abc");
  EXPECT_EQ(WindowDetach(b), EFI_SUCCESS);
  EXPECT_EQ(order(), "ac");
  EXPECT_EQ(b->Link.ForwardLink, &b->Link);
  EXPECT_EQ(WindowDetach(b), EFI_SUCCESS);  // not in the list: only repaints
  EXPECT_EQ(WindowAttach(b), EFI_SUCCESS);  // newest again
  EXPECT_EQ(order(), "acb");
  Pass();
  EXPECT_EQ(Text(0, 0, 2), "bb");
  EXPECT_EQ(WindowDestroy(c), EFI_SUCCESS);
  EXPECT_EQ(order(), "ab");
  EXPECT_EQ(WindowAttach(nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(WindowDestroy(nullptr), EFI_INVALID_PARAMETER);
  (void)a;
}

TEST_F(Compositor, WindowCreateRefusesBadSizesAndReturnsEachAllocationFailure) {
  ASSERT_EQ(ScreenInit(0x0F), EFI_SUCCESS);
  UI_WINDOW *w = reinterpret_cast<UI_WINDOW *>(1);
  EXPECT_EQ(WindowCreate(0, 1, 1, 0x0F, &w), EFI_INVALID_PARAMETER);
  EXPECT_EQ(w, nullptr);
  EXPECT_EQ(WindowCreate(1, 0, 1, 0x0F, &w), EFI_INVALID_PARAMETER);
  EXPECT_EQ(WindowCreate(1, 1, 0, 0x0F, &w), EFI_INVALID_PARAMETER);
  EXPECT_EQ(WindowCreate(1, 1, 1, 0x0F, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(WindowCreate(~0ULL, 3, 1, 0x0F, &w), EFI_INVALID_PARAMETER);

  for (uint64_t nth = 1; nth <= 4; nth++) {
    SCOPED_TRACE(nth);
    p.FailAllocation(nth);
    w = reinterpret_cast<UI_WINDOW *>(1);
    EXPECT_EQ(WindowCreate(30, 4, 30, 0x0F, &w), EFI_OUT_OF_RESOURCES);
    p.FailAllocation(0);
    EXPECT_EQ(w, nullptr);                                              // the window released what it had
    EXPECT_EQ(CellScreen.WindowList.BackLink, &CellScreen.WindowList);  // never drawn
    EXPECT_EQ(p.LivePoolCount(), 0u);
    EXPECT_EQ(p.LivePageCount(), 4u);  // the shadow only
  }

  // A window over 4096 bytes per array takes whole pages, all zeroed first.
  ASSERT_EQ(WindowCreate(100, 50, 100, 0x0F, &w), EFI_SUCCESS);
  EXPECT_EQ(p.Allocations().at(w->CellAttrs).size, 40960u);
  EXPECT_EQ(p.Allocations().at(w->CellFlags).size, 8192u);
  EXPECT_EQ(w->Priority, 16);
  EXPECT_EQ(w->CellFlags[4999], CELL_DIRTY);
  EXPECT_EQ(w->CellAttrs[4999], 0x0Fu);
}

TEST_F(Compositor, AFramedWindowHasAProtectedBorderAndSitsAtThirtyPercent) {
  ASSERT_EQ(ScreenInit(0x0F), EFI_SUCCESS);
  UI_WINDOW_GEOMETRY g = {6, 4, 0x1F};
  UI_WINDOW *w = nullptr;
  ASSERT_EQ(WindowCreateFramed(&g, nullptr, &w), EFI_SUCCESS);
  EXPECT_EQ(w->Priority, 48);
  EXPECT_EQ(w->Column, 30u);
  EXPECT_EQ(w->Row, 8u);
  EXPECT_EQ(w->TextWidth, 6u);
  Pass();
  EXPECT_EQ(p.RowText(8).substr(30, 6), u"\x250C\x2500\x2500\x2500\x2500\x2510");
  EXPECT_EQ(p.RowText(9).substr(30, 6), u"\x2502    \x2502");
  EXPECT_EQ(p.RowText(11).substr(30, 6), u"\x2514\x2500\x2500\x2500\x2500\x2518");
  EXPECT_EQ(w->CellFlags[0] & CELL_PROTECTED, CELL_PROTECTED);
  EXPECT_EQ(w->CellFlags[6 + 1] & CELL_PROTECTED, 0);

  UI_FRAME f = {u'1', u'2', u'3', u'4', u'.', u'6', u'7', u'8', u'9', 0x0C};
  UI_WINDOW *v = nullptr;
  g = {3, 3, 0x2F};
  ASSERT_EQ(WindowCreateFramed(&g, &f, &v), EFI_SUCCESS);
  WindowMove(v, 0, 0);
  Pass();
  EXPECT_EQ(Text(0, 0, 3) + Text(0, 1, 3) + Text(0, 2, 3), "1234.6789");
  EXPECT_EQ(Attr(0, 1), 0x0C);
  EXPECT_EQ(Attr(1, 1), 0x2F);

  g = {0, 3, 0x0F};
  EXPECT_EQ(WindowCreateFramed(&g, nullptr, &v), EFI_INVALID_PARAMETER);
  EXPECT_EQ(v, nullptr);
  EXPECT_EQ(WindowCreateFramed(nullptr, nullptr, &v), EFI_INVALID_PARAMETER);
}

TEST_F(Compositor, AWindowIsListedOnlyFilledAndFreedOnlyUnlisted) {
  // A repaint before every boot service call of creation and destruction:
  // a pass must never meet a window whose arrays are missing or freed.
  ASSERT_EQ(ScreenInit(0x0F), EFI_SUCCESS);
  static fake::Platform *platform;
  platform = &p;
  p.OnServiceCall([] {
    if (CellScreen.RepaintEvent) platform->FireTimer(CellScreen.RepaintEvent);
  });
  UI_WINDOW *w = Solid(50, 20, u'f', 0x0F, 0, 0, 48);
  UI_WINDOW_GEOMETRY g = {9, 5, 0x1F};
  UI_WINDOW *v = nullptr;
  ASSERT_EQ(WindowCreateFramed(&g, nullptr, &v), EFI_SUCCESS);
  EXPECT_EQ(WindowDestroy(w), EFI_SUCCESS);
  EXPECT_EQ(WindowDestroy(v), EFI_SUCCESS);
  p.OnServiceCall(nullptr);
  Pass();
  EXPECT_EQ(Row(3), std::string(100, ' '));
}

}  // namespace
}  // namespace screen_test
