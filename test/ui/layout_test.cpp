// SPDX-License-Identifier: BSD-2-Clause-Patent
// The run's screen as the console shows it after InitialDrawFunction, the
// message box coming and going, and the grey backdrop through the graphics
// console double.
#include "screen_fixture.h"
#include "test/fake/gcp.h"
#include "test/fake/gop.h"

namespace screen_test {
namespace {

class Layout : public ScreenTest {
 protected:
  // The attribute each cell of the character screen must show, derived from
  // the layout's description rather than from the windows.
  static uint8_t Expected(UINTN x, UINTN y, UINTN cols, UINTN rows) {
    UINTN right = cols - 23;
    if (x <= 20 && y >= 5 && y <= 9) return 0x0F;                         // volume list
    if (x <= 20 && y >= 16 && y <= 22) return 0x2F;                       // BIOS-file list
    if (x >= 22 && x < 22 + right && y >= 5 && y <= 9) return 0x0F;       // file information
    if (x >= 22 && x < 22 + right && y >= 16 && y <= 22) return 0x0F;     // caller's window
    if (x == 0 || y == 0 || x == cols - 1 || y == rows - 1) return 0x0C;  // former border
    if (y == rows - 2) return 0x0C;
    if ((y == 2 || y == 4 || y == 15 || y == rows - 4) && x >= 1 && x <= cols - 2) return 0x0C;
    if (x == 21 && y >= 5 && y <= rows - 5) return 0x0C;
    return 0x0F;
  }

  void ExpectLayoutOnConsole(bool blank = true) {
    UINTN cols = CellScreen.ScreenColumns, rows = CellScreen.ScreenRows;
    int wrong = 0;
    for (UINTN y = 0; y < rows; y++)
      for (UINTN x = 0; x < cols; x++) {
        if (x == cols - 1 && y == rows - 1) continue;
        if ((Attr(x, y) != Expected(x, y, cols, rows) || (blank && Ch(x, y) != u' ')) && wrong++ < 10)
          ADD_FAILURE() << "cell " << x << "," << y << " attr " << std::hex << int(Attr(x, y)) << " want "
                        << int(Expected(x, y, cols, rows)) << " char " << int(Ch(x, y));
      }
    EXPECT_EQ(wrong, 0);
  }
};

TEST_F(Layout, TheFirstScreenShowsTheRedLinesAndTheWindowsColours) {
  ASSERT_EQ(InitialDrawFunction(), EFI_SUCCESS);
  Pass();
  ExpectLayoutOnConsole();
  // Red line rows and the separator column, as the test bed will read them.
  for (UINTN y : {2, 4, 15, 23, 25}) EXPECT_EQ(Attr(50, y), 0x0C) << y;
  EXPECT_EQ(Attr(21, 12), 0x0C);
  EXPECT_EQ(Attr(0, 25), 0x0C);
  EXPECT_EQ(Attr(0, 23), 0x0C);  // the border, not the line, at column 0
  for (UINTN y = 27; y < 31; y++) EXPECT_EQ(Row(y), std::string(100, ' '));
}

TEST_F(Layout, TheWindowsHaveTheirGeometryAndPriorities) {
  ASSERT_EQ(InitialDrawFunction(), EFI_SUCCESS);
  struct {
    UI_WINDOW *w;
    UINTN width, height, text, col, row;
    UINT8 prio;
  } want[] = {
      {RunWindows.BackgroundWindow, 100, 27, 100, 0, 0, 32}, {RunWindows.VolumeListWindow, 21, 5, 16, 0, 5, 48},
      {RunWindows.FileListWindow, 21, 7, 16, 0, 16, 48},     {RunWindows.FileInfoWindow, 77, 5, 77, 22, 5, 48},
      {RunWindows.CallerWindow, 77, 7, 77, 22, 16, 48},      {RunWindows.MessageBox, 40, 8, 40, 30, 8, 16},
  };
  for (auto &e : want) {
    ASSERT_NE(e.w, nullptr);
    EXPECT_EQ(e.w->Width, e.width);
    EXPECT_EQ(e.w->Height, e.height);
    EXPECT_EQ(e.w->TextWidth, e.text);
    EXPECT_EQ(e.w->Column, e.col);
    EXPECT_EQ(e.w->Row, e.row);
    EXPECT_EQ(e.w->Priority, e.prio);
  }
  // Created in the layout's order: the message box is the newest.
  EXPECT_EQ(CellScreen.WindowList.ForwardLink, &RunWindows.MessageBox->Link);
  EXPECT_EQ(CellScreen.WindowList.BackLink, &RunWindows.BackgroundWindow->Link);
  for (UINTN i = 0; i < 100 * 27; i++) ASSERT_EQ(RunWindows.BackgroundWindow->CellFlags[i] & CELL_PROTECTED, 0) << i;
  EXPECT_EQ(RunWindows.MessageBox->CellChars[0], u'\x250C');
  EXPECT_EQ(RunWindows.MessageBox->CellFlags[0] & CELL_PROTECTED, CELL_PROTECTED);
}

TEST_F(Layout, WithoutTheHundredColumnModeTheScreenIsEightyByTwentyOne) {
  p.SetTextModes({{80, 25}});
  ASSERT_EQ(InitialDrawFunction(), EFI_SUCCESS);
  EXPECT_EQ(CellScreen.ScreenColumns, 80u);
  EXPECT_EQ(CellScreen.ScreenRows, 21u);
  EXPECT_EQ(RunWindows.FileInfoWindow->Width, 57u);
  EXPECT_EQ(RunWindows.CallerWindow->Width, 57u);
  EXPECT_EQ(RunWindows.MessageBox->Width, 32u);
  EXPECT_EQ(RunWindows.MessageBox->Height, 6u);
  EXPECT_EQ(RunWindows.MessageBox->Column, 24u);
  EXPECT_EQ(RunWindows.MessageBox->Row, 6u);
  MESSAGE_BOX_AREA a;
  MessageBoxArea(&a);
  EXPECT_EQ(a.X, 304u);
  EXPECT_EQ(a.Y, 203u);
  EXPECT_EQ(a.Width, 256u);
  EXPECT_EQ(a.Height, 114u);
  Pass();
  ExpectLayoutOnConsole();
}

TEST_F(Layout, TheScreenIsRightEvenWhenRepaintsInterruptItsConstruction) {
  static fake::Platform *platform;
  platform = &p;
  auto fire = [] {
    if (CellScreen.RepaintEvent) platform->FireTimer(CellScreen.RepaintEvent);
  };
  p.OnServiceCall(fire);
  ScreenPreemptionHook = fire;
  ASSERT_EQ(InitialDrawFunction(), EFI_SUCCESS);
  p.OnServiceCall(nullptr);
  ScreenPreemptionHook = nullptr;
  Pass();
  ExpectLayoutOnConsole();
}

TEST_F(Layout, EveryAllocationFailureIsReturnedAndTheCleanUpReleasesAll) {
  for (uint64_t nth = 1;; nth++) {
    SCOPED_TRACE(nth);
    p.FailAllocation(nth);
    EFI_STATUS s = InitialDrawFunction();
    p.FailAllocation(0);
    Shutdown();
    EXPECT_EQ(p.LivePoolCount(), 0u);
    EXPECT_EQ(p.LivePageCount(), 0u);
    EXPECT_EQ(p.ConsoleMode()->Mode, 0);
    if (s == EFI_SUCCESS) {
      EXPECT_GT(nth, 20u);  // four shadow arrays, six windows of four allocations
      break;
    }
    EXPECT_EQ(s, EFI_OUT_OF_RESOURCES);
    ASSERT_LT(nth, 100u);
  }
}

TEST_F(Layout, TheBackgroundsFormerBorderTakesText) {
  ASSERT_EQ(InitialDrawFunction(), EFI_SUCCESS);
  UI_CELL_POSITION pos = {0, 0, 0x0E};
  EXPECT_EQ(WindowPrint(RunWindows.BackgroundWindow, &pos, TEXT_MODE_LEFT, u"Tarvex"), 6u);
  Pass();
  EXPECT_EQ(Text(0, 0, 7), "Tarvex ");
  EXPECT_EQ(Attr(0, 0), 0x0E);
}

TEST_F(Layout, TheMessageBoxCoversTheWindowsWhileShownAndGivesThemBack) {
  ASSERT_EQ(InitialDrawFunction(), EFI_SUCCESS);
  UI_CELL_POSITION info = {0, 3, CELL_KEEP_ATTRIBUTE};
  WindowPrint(RunWindows.FileInfoWindow, &info, TEXT_MODE_LEFT, u"%s", u"File Date    : BIOS.ROM (01/02/2024) with a long tail");
  Pass();
  std::string before = Row(8);
  // Shown as the protocol's Print does it: a write, then priority 64.
  UI_CELL_POSITION pos = {0, 1, 0x1F};
  EXPECT_EQ(WindowPrint(RunWindows.MessageBox, &pos, TEXT_MODE_LEFT, u"Hi"), 2u);
  EXPECT_EQ(WindowSetPriority(RunWindows.MessageBox, 64), EFI_SUCCESS);
  Pass();
  EXPECT_EQ(p.RowText(8).substr(30, 40), u"\x250C" + std::u16string(38, u'\x2500') + u"\x2510");
  EXPECT_EQ(Text(30, 9, 5), std::string("#Hi  "));
  EXPECT_EQ(Attr(31, 9), 0x1F);
  EXPECT_EQ(Attr(69, 15), 0x1F);
  EXPECT_EQ(Attr(70, 9), 0x0F);
  EXPECT_EQ(Text(22, 8, 8), before.substr(22, 8));  // left of the box untouched
  // Hidden as the browser does it: blanked, priority 16.
  UINT64 blue = 0x1F;
  WindowClear(RunWindows.MessageBox, &blue);
  EXPECT_EQ(WindowSetPriority(RunWindows.MessageBox, 16), EFI_SUCCESS);
  Pass();
  EXPECT_EQ(Row(8), before);
  ExpectLayoutOnConsole(false);
}

TEST_F(Layout, ShadingCopiesTheAreaGreysItAndHandsItToTheGraphicsConsole) {
  fake::Gop gop(p);
  gop.FillPattern();
  fake::GraphicsConsole gc(p);
  ASSERT_EQ(InitialDrawFunction(), EFI_SUCCESS);
  size_t pool = p.LivePoolCount();  // the window records
  ShadeMessageBoxArea();
  ASSERT_EQ(gop.Calls().size(), 1u);
  const auto &blt = gop.Calls()[0];
  EXPECT_EQ(blt.op, EfiBltVideoToBltBuffer);
  EXPECT_EQ(blt.sx, 352u);
  EXPECT_EQ(blt.sy, 241u);
  EXPECT_EQ(blt.dx, 0u);
  EXPECT_EQ(blt.width, 320u);
  EXPECT_EQ(blt.height, 152u);
  EXPECT_EQ(blt.delta, 0u);
  ASSERT_EQ(gc.SetCalls().size(), 1u);
  const auto &b = gc.SetCalls()[0];
  EXPECT_TRUE(b.rect == (fake::GraphicsConsole::Rect{352, 241, 320, 152}));
  EXPECT_TRUE(b.buffer_was_pool);
  ASSERT_EQ(b.pixels.size(), 320u * 152);
  int wrong = 0;
  for (UINTN y = 0; y < 152; y++)
    for (UINTN x = 0; x < 320; x++) {
      const auto &px = b.pixels[y * 320 + x];
      wrong += px.Blue != 64 || px.Green != 64 || px.Red != 64 || px.Reserved != fake::Gop::PatternAt(352 + x, 241 + y).Reserved;
    }
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(gop.At(352, 241).Blue, fake::Gop::PatternAt(352, 241).Blue);  // the screen itself untouched
  EXPECT_EQ(p.LivePoolCount(), pool);                                     // the buffer is released right after

  UnshadeMessageBoxArea();
  ASSERT_EQ(gc.ClearCalls().size(), 1u);
  EXPECT_TRUE(gc.ClearCalls()[0] == (fake::GraphicsConsole::Rect{352, 241, 320, 152}));
  EXPECT_TRUE(gc.Active().empty());
}

TEST_F(Layout, ShadingDoesNothingWithoutEitherGraphicsProtocol) {
  ASSERT_EQ(InitialDrawFunction(), EFI_SUCCESS);
  size_t pool = p.LivePoolCount();
  {
    fake::GraphicsConsole gc(p);
    ShadeMessageBoxArea();  // no graphics output
    EXPECT_TRUE(gc.SetCalls().empty());
  }
  {
    fake::Gop gop(p);
    ShadeMessageBoxArea();  // no graphics console
    UnshadeMessageBoxArea();
    EXPECT_TRUE(gop.Calls().empty());
  }
  {
    fake::Gop gop(p);
    fake::GraphicsConsole gc(p);
    p.FailAllocation(1);
    ShadeMessageBoxArea();  // no memory for the copy
    p.FailAllocation(0);
    EXPECT_TRUE(gc.SetCalls().empty());
    EXPECT_TRUE(gop.Calls().empty());
  }
  EXPECT_EQ(p.LivePoolCount(), pool);
}

}  // namespace
}  // namespace screen_test
