// SPDX-License-Identifier: BSD-2-Clause-Patent
// The protocol functions a caller uses while a run is in progress, called from
// the caller's start hook of a real run: which window and cells they change,
// with which attribute, and that they refuse outside a run.
#include <functional>
#include <memory>

#include "cells.h"
#include "entry_fixture.h"
#include "test/fake/fs.h"
#include "test/fake/gcp.h"
#include "test/fake/gop.h"
#include "ui/layout.h"
#include "ui/pictures.h"
#include "ui/screen.h"

using entrytest::EntryTest;
using uitest::CellAttr;
using uitest::CellChar;
using uitest::CellText;

namespace {

std::function<void()> Inside;

EFI_STATUS EFIAPI StartHook(UINTN, UINT64 *, UINT8 *) {
  if (Inside) Inside();
  return EFI_SUCCESS;
}
EFI_STATUS EFIAPI EndOnKey(EFI_INPUT_KEY *, KEY_STATE *) { return EFI_END_OF_MEDIA; }

class ProtocolTest : public EntryTest {
 protected:
  void SetUp() override {
    EntryTest::SetUp();
    Gop = std::make_unique<fake::Gop>(Platform);
    Gcp = std::make_unique<fake::GraphicsConsole>(Platform);
    Fs = std::make_unique<fake::FileSystem>(Platform);
    Fs->AddVolume();
    ASSERT_EQ(UiScreenEntryPoint(Image, Platform.SystemTable()), EFI_SUCCESS);
    Ui = Installed(Image);
  }
  void TearDown() override {
    Inside = nullptr;
    EXPECT_EQ(DriverUnload(Image), EFI_SUCCESS);
    Fs.reset();
    Gcp.reset();
    Gop.reset();
    EXPECT_EQ(Platform.LivePoolCount(), 0u);
    EXPECT_EQ(Platform.LivePageCount(), 0u);
    EntryTest::TearDown();
  }

  // One run: Body runs inside the caller's start hook, then Escape and one
  // more key end the run through the escape key hook.
  void RunWith(std::function<void()> Body) {
    bool Ran = false;
    Inside = [&] {
      Ran = true;
      Body();
    };
    UI_RUN_PARAMETERS Parameters = {};
    Parameters.StartHook = StartHook;
    Parameters.EscapeKeyHook = EndOnKey;
    Platform.PushKey(SCAN_ESC);
    Platform.PushChar(u' ');
    EXPECT_EQ(Ui->Run(Ui, &Parameters), EFI_END_OF_MEDIA);
    EXPECT_TRUE(Ran);
    EXPECT_EQ(ActiveRun(), nullptr);
    Inside = nullptr;
  }

  // One repaint pass, as the timer runs it.
  void Pass() { ScreenRepaint(CellScreen.RepaintEvent, nullptr); }

  std::unique_ptr<fake::Gop> Gop;
  std::unique_ptr<fake::GraphicsConsole> Gcp;
  std::unique_ptr<fake::FileSystem> Fs;
  UI_SCREEN_PROTOCOL *Ui = nullptr;
};

UI_TEXT_POSITION At(UINT32 Window, UINT64 Column, UINT64 Row, UINT32 Mode = TEXT_MODE_LEFT) {
  return UI_TEXT_POSITION{Window, 0xDEADBEEF, Column, Row, Mode, 0xDEADBEEF};
}

TEST_F(ProtocolTest, BeforeAndAfterARunTheWindowFunctionsRefuse) {
  auto Refuses = [&] {
    UI_TEXT_POSITION Position = At(UI_WINDOW_CALLER, 0, 0);
    UINT64 Attribute = 0x1F;
    EXPECT_EQ(Ui->Print(&Position, nullptr, u"text"), 0u);
    EXPECT_EQ(Ui->Clear(1, nullptr), EFI_NO_MAPPING);
    EXPECT_EQ(Ui->Clear(0, &Attribute), EFI_NO_MAPPING);
    EXPECT_EQ(Ui->Clear(9, nullptr), EFI_NO_MAPPING);
    EXPECT_EQ(Ui->ClearLine(2, 0, nullptr), EFI_NO_MAPPING);
    EXPECT_EQ(Ui->NoOperation(), EFI_SUCCESS);
  };
  Refuses();
  RunWith([] {});
  Platform.ClearConsoleLog();
  Refuses();
  EXPECT_TRUE(Platform.ConsoleLog().empty());
}

TEST_F(ProtocolTest, PrintIntoTheMessageBoxLandsInsideTheBorderAndShowsTheBox) {
  RunWith([&] {
    Gcp->ClearLog();
    UI_TEXT_POSITION Position = At(UI_WINDOW_MESSAGE_BOX, 0, 0);
    EXPECT_EQ(Ui->Print(&Position, nullptr, u"%s", u"OK"), 2u);
    EXPECT_EQ(CellText(RunWindows.MessageBox, 1, 1, 2), u"OK");
    EXPECT_EQ(CellAttr(RunWindows.MessageBox, 1, 1), 0x1Fu);
    EXPECT_EQ(RunWindows.MessageBox->Priority, 64);
    ASSERT_EQ(Gcp->SetCalls().size(), 1u);
    EXPECT_TRUE((Gcp->SetCalls()[0].rect == fake::GraphicsConsole::Rect{352, 241, 320, 152}));
    // On the screen the box is in front: its first inner cell is column 31, row 9.
    Pass();
    EXPECT_EQ(Platform.RowAscii(9).substr(31, 2), "OK");
    EXPECT_EQ(Platform.At(31, 9).attr, 0x1F);

    // Row 5 is the last inner row; row 6 is the bottom border, which text
    // flows around, and row 7 lies outside the box.
    Position.Row = 5;
    EXPECT_EQ(Ui->Print(&Position, nullptr, u"x"), 1u);
    EXPECT_EQ(CellChar(RunWindows.MessageBox, 1, 6), u'x');
    Position.Row = 6;
    EXPECT_EQ(Ui->Print(&Position, nullptr, u"y"), 0u);
    EXPECT_EQ(CellChar(RunWindows.MessageBox, 1, 7), u'\u2500');
    Position.Row = 7;
    EXPECT_EQ(Ui->Print(&Position, nullptr, u"y"), 0u);
    Position.Row = ~0ULL;  // must not wrap round to the top border
    EXPECT_EQ(Ui->Print(&Position, nullptr, u"y"), 0u);
    EXPECT_EQ(CellChar(RunWindows.MessageBox, 1, 0), u'\u2500');  // the top border is intact
  });
}

TEST_F(ProtocolTest, OtherSelectorsPrintIntoTheBoxWithoutTheRowShift) {
  RunWith([&] {
    UI_TEXT_POSITION Position = At(7, 3, 2);
    EXPECT_EQ(Ui->Print(&Position, nullptr, u"hi"), 2u);
    EXPECT_EQ(CellText(RunWindows.MessageBox, 3, 2, 2), u"hi");
    EXPECT_EQ(CellAttr(RunWindows.MessageBox, 3, 2), 0x1Fu);
    EXPECT_EQ(RunWindows.MessageBox->Priority, 64);
    Pass();
    EXPECT_EQ(Platform.RowAscii(10).substr(33, 2), "hi");
  });
}

TEST_F(ProtocolTest, AttributesAreMaskedToSevenBitsOrTheWindowDefault) {
  RunWith([&] {
    const struct {
      UINT32 Selector;
      UI_WINDOW *Window;
      UINT64 Default;
    } Windows[] = {{1, RunWindows.VolumeListWindow, 0x0F},
                   {2, RunWindows.FileListWindow, 0x2F},
                   {3, RunWindows.FileInfoWindow, 0x0F},
                   {4, RunWindows.CallerWindow, 0x0F}};
    for (auto &W : Windows) {
      SCOPED_TRACE(W.Selector);
      UI_TEXT_POSITION Position = At(W.Selector, 1, 4);
      EXPECT_EQ(Ui->Print(&Position, nullptr, u"%d", (UINT64)123), 3u);
      EXPECT_EQ(CellText(W.Window, 1, 4, 3), u"123");
      EXPECT_EQ(CellAttr(W.Window, 1, 4), W.Default);
      UINT32 Attribute = 0xFFFFFFFF;
      Ui->Print(&Position, &Attribute, u"a");
      EXPECT_EQ(CellAttr(W.Window, 1, 4), 0x7Fu);
      Attribute = 0x1C4;
      Ui->Print(&Position, &Attribute, u"a");
      EXPECT_EQ(CellAttr(W.Window, 1, 4), 0x44u);

      UINT64 AllOnes = ~0ULL, Wide = 0x1F3;
      EXPECT_EQ(Ui->Clear(W.Selector, &AllOnes), EFI_SUCCESS);
      EXPECT_EQ(CellChar(W.Window, 1, 4), u' ');
      EXPECT_EQ(CellAttr(W.Window, 1, 4), W.Default);
      EXPECT_EQ(Ui->Clear(W.Selector, &Wide), EFI_SUCCESS);
      EXPECT_EQ(CellAttr(W.Window, W.Window->Width - 1, W.Window->Height - 1), 0x73u);
      EXPECT_EQ(Ui->Clear(W.Selector, nullptr), EFI_SUCCESS);
      EXPECT_EQ(CellAttr(W.Window, 0, 0), W.Default);
    }
    EXPECT_EQ(RunWindows.MessageBox->Priority, 16);  // none of these touched the box
    EXPECT_EQ(Ui->Clear(5, nullptr), EFI_INVALID_PARAMETER);
    EXPECT_EQ(Ui->Clear(0xFFFFFFFF, nullptr), EFI_INVALID_PARAMETER);
  });
}

TEST_F(ProtocolTest, ClearOfTheBoxHidesItAndTheWindowsBeneathReturn) {
  RunWith([&] {
    UI_TEXT_POSITION Info = At(UI_WINDOW_FILE_INFO, 10, 3);
    Ui->Print(&Info, nullptr, u"INFO");  // screen column 32, row 8: under the box
    UI_TEXT_POSITION Box = At(UI_WINDOW_MESSAGE_BOX, 0, 0);
    Ui->Print(&Box, nullptr, u"message");
    Pass();
    EXPECT_NE(Platform.RowAscii(8).substr(32, 4), "INFO");
    Gcp->ClearLog();

    UINT64 Attribute = 0x4E;  // not used for the box
    EXPECT_EQ(Ui->Clear(0, &Attribute), EFI_SUCCESS);
    EXPECT_EQ(RunWindows.MessageBox->Priority, 16);
    EXPECT_EQ(CellChar(RunWindows.MessageBox, 1, 1), u' ');
    EXPECT_EQ(CellAttr(RunWindows.MessageBox, 1, 1), 0x1Fu);
    ASSERT_FALSE(Gcp->ClearCalls().empty());
    EXPECT_TRUE((Gcp->ClearCalls()[0] == fake::GraphicsConsole::Rect{352, 241, 320, 152}));
    EXPECT_TRUE(Gcp->Active().empty());
    Pass();
    EXPECT_EQ(Platform.RowAscii(8).substr(32, 4), "INFO");
    EXPECT_EQ(Platform.At(32, 8).attr, 0x0F);
  });
}

TEST_F(ProtocolTest, ClearLineRowsOfTheFileListAndTheBox) {
  RunWith([&] {
    UI_TEXT_POSITION Position = At(UI_WINDOW_FILE_LIST, 0, 6);
    UINT32 Red = 0x4C;
    Ui->Print(&Position, &Red, u"last row");
    EXPECT_EQ(Ui->ClearLine(2, 7, nullptr), EFI_INVALID_PARAMETER);
    EXPECT_EQ(CellText(RunWindows.FileListWindow, 0, 6, 8), u"last row");
    EXPECT_EQ(Ui->ClearLine(2, 6, nullptr), EFI_SUCCESS);
    for (UINTN Column = 0; Column < RunWindows.FileListWindow->Width; Column++) {
      EXPECT_EQ(CellChar(RunWindows.FileListWindow, Column, 6), u' ');
      EXPECT_EQ(CellAttr(RunWindows.FileListWindow, Column, 6), 0x2Fu);
    }
    // Selector 0 has no row shift here: row 0 is the box's top border.
    UINT64 Attribute = 0x8A;
    EXPECT_EQ(Ui->ClearLine(0, 0, &Attribute), EFI_SUCCESS);
    EXPECT_EQ(CellChar(RunWindows.MessageBox, 0, 0), u' ');
    EXPECT_EQ(CellAttr(RunWindows.MessageBox, 5, 0), 0x0Au);
    EXPECT_EQ(Ui->ClearLine(0, 8, nullptr), EFI_INVALID_PARAMETER);
    EXPECT_EQ(Ui->ClearLine(5, 0, nullptr), EFI_INVALID_PARAMETER);
  });
}

TEST_F(ProtocolTest, PrintRefusesCellsOutsideTheWindow) {
  RunWith([&] {
    EXPECT_EQ(Ui->Print(nullptr, nullptr, u"x"), 0u);
    UI_TEXT_POSITION Position = At(UI_WINDOW_FILE_LIST, 0, 7);
    EXPECT_EQ(Ui->Print(&Position, nullptr, u"x"), 0u);  // seven rows: 0 to 6
    Position = At(UI_WINDOW_FILE_LIST, 21, 6);
    EXPECT_EQ(Ui->Print(&Position, nullptr, u"x"), 0u);  // 21 columns: 0 to 20
    Position.Mode = TEXT_MODE_RIGHT;
    EXPECT_EQ(Ui->Print(&Position, nullptr, u"x"), 0u);
    Position.Mode = TEXT_MODE_WRAP;
    EXPECT_EQ(Ui->Print(&Position, nullptr, u"x"), 0u);
  });
}

TEST_F(ProtocolTest, PrintModesAndCentring) {
  RunWith([&] {
    // Centred text in a named window centres on its middle column whatever the
    // caller's column, even one outside the window: 21 * 50 / 100 = 10.
    UI_TEXT_POSITION Position = At(UI_WINDOW_FILE_LIST, 500, 3, TEXT_MODE_CENTRE);
    EXPECT_EQ(Ui->Print(&Position, nullptr, u"mid"), 3u);
    EXPECT_EQ(CellText(RunWindows.FileListWindow, 9, 3, 3), u"mid");
    // Other selectors centre on the caller's column, in the box.
    Position = At(6, 12, 3, TEXT_MODE_CENTRE);
    EXPECT_EQ(Ui->Print(&Position, nullptr, u"abcd"), 4u);
    EXPECT_EQ(CellText(RunWindows.MessageBox, 10, 3, 4), u"abcd");

    // Right-aligned: ends Column cells before the end of the text area (77 wide).
    Position = At(UI_WINDOW_CALLER, 0, 1, TEXT_MODE_RIGHT);
    EXPECT_EQ(Ui->Print(&Position, nullptr, u"end"), 3u);
    EXPECT_EQ(CellText(RunWindows.CallerWindow, 74, 1, 3), u"end");
    // Wrapping continues on the next row; an unknown mode writes left-aligned and stops.
    Position = At(UI_WINDOW_CALLER, 75, 2, TEXT_MODE_WRAP);
    EXPECT_EQ(Ui->Print(&Position, nullptr, u"wrap"), 4u);
    EXPECT_EQ(CellText(RunWindows.CallerWindow, 75, 2, 2), u"wr");
    EXPECT_EQ(CellText(RunWindows.CallerWindow, 0, 3, 2), u"ap");
    Position = At(UI_WINDOW_CALLER, 75, 4, 9);
    EXPECT_EQ(Ui->Print(&Position, nullptr, u"left"), 2u);
    EXPECT_EQ(CellText(RunWindows.CallerWindow, 75, 4, 2), u"le");
    EXPECT_EQ(CellChar(RunWindows.CallerWindow, 0, 5), u' ');
  });
}

TEST_F(ProtocolTest, PrintFormatsAtMostThreeHundredNineteenCharacters) {
  RunWith([&] {
    UI_TEXT_POSITION Position = At(UI_WINDOW_CALLER, 0, 0, TEXT_MODE_WRAP);
    EXPECT_EQ(Ui->Print(&Position, nullptr, u"%a %r %5d|", "File", EFI_NOT_FOUND, (UINT64)42), 21u);
    EXPECT_EQ(CellText(RunWindows.CallerWindow, 0, 0, 21), u"File Not Found    42|");
    std::u16string Long(400, u'q');
    EXPECT_EQ(Ui->Print(&Position, nullptr, u"%s", Long.c_str()), 319u);
    EXPECT_EQ(CellChar(RunWindows.CallerWindow, 318 % 77, 318 / 77), u'q');
    EXPECT_EQ(CellChar(RunWindows.CallerWindow, 319 % 77, 319 / 77), u' ');
  });
}

TEST_F(ProtocolTest, RunsDoNotNestAndTheDriverStaysLoadedDuringARun) {
  RunWith([&] {
    UI_RUN_PARAMETERS Parameters = {};
    EXPECT_EQ(Ui->Run(Ui, &Parameters), EFI_ACCESS_DENIED);
    EXPECT_EQ(DriverUnload(Image), EFI_ACCESS_DENIED);
    EXPECT_EQ(Installed(Image), Ui);
    EXPECT_NE(ActiveRun(), nullptr);
  });
  // The next run works as the first did.
  RunWith([&] { EXPECT_EQ(Ui->ClearLine(4, 0, nullptr), EFI_SUCCESS); });
}

TEST_F(ProtocolTest, ProgressIsDrawnOnlyDuringARun) {
  // A one-pixel stand-in for the blank bar segment, so drawing shows up as Blt calls.
  EFI_GRAPHICS_OUTPUT_BLT_PIXEL Pixel = {1, 2, 3, 0};
  PICTURE Saved = Pictures.BarBlankPicture[0];
  auto WithSegment = [&](auto Body) {
    Pictures.BarBlankPicture[0].Width = 1;
    Pictures.BarBlankPicture[0].Height = 1;
    Pictures.BarBlankPicture[0].Pixels = &Pixel;
    Body();
    Pictures.BarBlankPicture[0] = Saved;
  };
  WithSegment([&] {
    Gop->ClearCalls();
    EXPECT_EQ(Ui->DrawProgressFrame(), EFI_SUCCESS);
    EXPECT_EQ(Ui->SetProgress(40, 1), EFI_SUCCESS);
    EXPECT_TRUE(Gop->Calls().empty());
  });
  RunWith([&] {
    WithSegment([&] {
      Gop->ClearCalls();
      EXPECT_EQ(Ui->DrawProgressFrame(), EFI_SUCCESS);
      EXPECT_EQ(Gop->Calls().size(), 100u);  // one blank segment per percent
      EXPECT_EQ(Ui->SetProgress(40, 1), EFI_SUCCESS);
    });
  });
}

}  // namespace
