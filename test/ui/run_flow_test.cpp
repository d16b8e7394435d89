// SPDX-License-Identifier: BSD-2-Clause-Patent
// Whole runs driven by scripted keys through the installed protocol: what the
// screen shows at each step, which hooks are called with what, and how each
// hook status moves between the screens or ends the run.
#include <gtest/gtest.h>

#include <cstdio>

#include "rig.h"
#include "ui/browser.h"
#include "ui/layout.h"
#include "ui/pointer.h"
#include "ui/run.h"
#include "ui/screen.h"

namespace uitest {
namespace {

// Where the run's windows land on the 100 x 27 character screen.
constexpr UINTN kVolumeRow = 5;       // first volume entry
constexpr UINTN kVolumeTotalRow = 9;  // "Total FFS : n"
constexpr UINTN kFileRow = 16;        // first file entry
constexpr UINTN kDateRow = 8;         // FileInfoWindow row 3
constexpr UINTN kDateColumn = 26;     // FileInfoWindow column 4
constexpr UINTN kBoxNoticeRow = 12;   // MessageBox row 4

const std::u16string kMark = u"\u25BA";

std::u16string VolumeLine(int i, bool highlighted) {
  std::u16string n = fake::U16(std::to_string(i).c_str());
  return highlighted ? u"  " + kMark + u"fs" + n + u"  " : u"   fs" + n + u"  ";
}

// Is `text` somewhere in the row?
bool RowHas(Rig &r, UINTN row, const std::u16string &text) { return r.p.RowText(row).find(text) != std::u16string::npos; }

std::vector<std::string> Names(std::initializer_list<const char *> l) { return {l.begin(), l.end()}; }

// Both lists start at their first entry and move one entry per Down or Up
// key, never past either end: a key past the end leaves the highlight where
// it is (the selection is clamped and stored back), and the next key moves
// from there. Each case's keys come with the entry highlighted when the key
// is read; Esc then Space end the run through the escape hooks.
TEST(RunFlow, ListsStartAtTheFirstEntryAndNeverMovePastEitherEnd) {
  struct ListCase {
    const char *list;
    std::vector<std::vector<std::pair<std::u16string, uint64_t>>> volumes;
    std::vector<EFI_INPUT_KEY> to_the_list;
    std::function<void(Rig &, int)> highlighted;  // the screen with entry i highlighted
    std::vector<std::pair<EFI_INPUT_KEY, int>> keys;
    std::function<void(Rig &)> first_screen;  // more checks on the screen the first key meets
    std::vector<std::string> hooks;           // the hooks called, where the case names them
  };
  // The frame of the first screen: red lines between the areas, the lists' colours.
  auto frame = [](Rig &r) {
    for (auto [col, row] : {std::pair<UINTN, UINTN>{50, 2}, {50, 4}, {50, 15}, {50, 23}, {0, 25}, {99, 25}, {21, 10}})
      EXPECT_EQ(r.Attr(col, row), 0x0C) << "red line at " << col << "," << row;
    EXPECT_EQ(r.Attr(60, 20), 0x0F) << "the caller's window is white on black";
  };
  const ListCase cases[] = {
      {"volume list",
       {{{u"BIOS.ROM", 0x10000}}, {{u"BIOS.ROM", 0x10000}}, {{u"BIOS.ROM", 0x10000}}},
       {},
       [](Rig &r, int which) {
         for (int i = 0; i < 3; i++) EXPECT_EQ(r.Text(0, kVolumeRow + i, 8), VolumeLine(i, i == which)) << "volume " << i;
         EXPECT_EQ(r.Ascii(0, kVolumeTotalRow, 13), "Total FFS : 3");
         EXPECT_EQ(r.Attr(2, kVolumeRow + which), 0x0D) << "the list with the focus highlights in 0x0D";
       },
       {{kUp, 0}, {kDown, 0}, {kDown, 1}, {kDown, 2}, {kDown, 2}, {kUp, 2}, {kEsc, 1}},
       frame,
       Names({"StartHook", "EscapeEnterHook", "EscapeKeyHook"})},
      {"file list",
       {{{u"F0.ROM", 0x10000}, {u"F1.ROM", 0x10000}, {u"F2.ROM", 0x10000}}},
       {kEnter},
       [](Rig &r, int i) {
         std::u16string name = u"F" + fake::U16(std::to_string(i).c_str()) + u".ROM";
         EXPECT_EQ(r.Text(0, kFileRow + i, 7), kMark + name);
         EXPECT_EQ(r.Ascii(kDateColumn, kDateRow, 21), "File Date    : " + fake::Narrow(name.c_str()));
       },
       {{kUp, 0}, {kDown, 0}, {kDown, 1}, {kDown, 2}, {kDown, 2}, {kEsc, 2}},
       nullptr,
       {}},
  };
  for (const ListCase &c : cases) {
    SCOPED_TRACE(c.list);
    Rig r;
    for (const auto &files : c.volumes) r.AddVolume(files);
    r.caller.Default("EscapeKeyHook", EFI_END_OF_MEDIA);
    std::vector<Step> steps;
    for (EFI_INPUT_KEY k : c.to_the_list) steps.push_back(Key(k));
    for (size_t k = 0; k < c.keys.size(); k++) {
      const int at = c.keys[k].second;
      const bool first = k == 0 && c.first_screen;
      steps.push_back(Key(c.keys[k].first, [&r, &c, at, first] {
        c.highlighted(r, at);
        if (first) c.first_screen(r);
      }));
    }
    steps.push_back(Key(kSpace));
    EXPECT_EQ(r.RunScript(r.caller.Params(), steps), EFI_END_OF_MEDIA) << "the escape key hook ended the run";
    if (!c.hooks.empty()) EXPECT_EQ(r.caller.Names(), c.hooks);
    r.ExpectRestored("after the run");
  }
}

// A console without the 100 x 31 mode: the run uses what there is and gives
// the console back in its own mode.
TEST(RunFlow, ARunOnAConsoleWithoutThePreferredModeUsesModeZero) {
  Rig r({.text_modes = {{80, 25}}});
  r.AddVolume({{u"A.ROM", 0x10000}});
  r.caller.Default("EscapeKeyHook", EFI_END_OF_MEDIA);
  EFI_STATUS s = r.RunScript(r.caller.Params(), {Key(kEnter,
                                                     [&] {
                                                       EXPECT_EQ(CellScreen.ScreenColumns, 80u);
                                                       EXPECT_EQ(CellScreen.ScreenRows, 21u);
                                                       EXPECT_EQ(r.Text(0, kVolumeRow, 8), VolumeLine(0, true));
                                                     }),
                                                 Key(kEsc, [&] { EXPECT_EQ(r.Text(0, kFileRow, 6), kMark + u"A.ROM"); }), Key(kSpace)});
  EXPECT_EQ(s, EFI_END_OF_MEDIA);
  r.ExpectRestored("after the run");
}

TEST(RunFlow, EnterOnAFileHandsTheHooksTheOpenRootTheRecordAndTheContext) {
  Rig r;
  r.AddVolume({{u"A.ROM", 0x10000}, {u"notes.txt", 100}, {u"B.ROM", 0x20000}});
  r.AddVolume({{u"OTHER.ROM", 0x10000}});
  r.caller.Default("FileFollowUpKeyHook", EFI_END_OF_MEDIA);
  EFI_FILE_PROTOCOL *root_seen = nullptr;
  KEY_STATE *chosen_state = nullptr;
  size_t handles_in_hook = 0;
  r.caller.in_enter_hook = [&] {
    root_seen = BiosFiles.RootDirectory;
    chosen_state = KeyStates.FileChosenKeyState;
    handles_in_hook = r.fs.At(0).OpenHandles();
  };
  EFI_STATUS s = r.RunScript(r.caller.Params(),
                             {
                                 Key(kEnter),
                                 Key(kDown,
                                     [&] {
                                       EXPECT_EQ(r.Text(0, kFileRow, 6), kMark + u"A.ROM");
                                       EXPECT_EQ(r.Text(0, kFileRow + 1, 6), u" B.ROM") << "notes.txt is not a BIOS file";
                                       EXPECT_EQ(r.Ascii(kDateColumn, kDateRow, 34), "File Date    : A.ROM (03/05/2021) ");
                                       EXPECT_EQ(r.Attr(0, kFileRow), 0x7D) << "0xFD reaches the console without bit 7";
                                     }),
                                 Key(kEnter, [&] { EXPECT_EQ(r.Ascii(kDateColumn, kDateRow, 34), "File Date    : B.ROM (03/05/2021) "); }),
                                 Key(kSpace),  // the chosen-file key hook succeeds: on to the follow-up screen
                                 Key(kSpace),  // the follow-up key hook ends the run
                             });
  EXPECT_EQ(s, EFI_END_OF_MEDIA);
  EXPECT_EQ(r.caller.Names(),
            Names({"StartHook", "FileChosenEnterHook", "FileChosenKeyHook", "FileFollowUpEnterHook", "FileFollowUpKeyHook"}));
  for (const char *hook : {"FileChosenEnterHook", "FileFollowUpEnterHook"}) {
    HookCall c = r.caller.Calls(hook).at(0);
    EXPECT_EQ(c.file_name, u"B.ROM") << hook;
    EXPECT_EQ(c.context, &r.caller) << hook;
    EXPECT_EQ(c.root, root_seen) << hook;
    EXPECT_NE(c.root, nullptr) << hook;
  }
  EXPECT_GE(handles_in_hook, 1u) << "the root handed to the hook is open on the chosen volume";
  EXPECT_EQ(r.caller.Calls("FileChosenKeyHook").at(0).state, chosen_state) << "a key hook is handed its own state";
  r.ExpectRestored("after the run");
}

// Every key-hook status and where it leads, in one walk through the screens.
TEST(RunFlow, EachHookStatusMovesBetweenTheScreensAsPromised) {
  Rig r;
  r.AddVolume({{u"A.ROM", 0x10000}, {u"B.ROM", 0x10000}});
  Caller &c = r.caller;
  c.Answer("FileChosenKeyHook", EFI_NOT_READY);       // back to the file list
  c.Answer("FileChosenKeyHook", EFI_END_OF_MEDIA);    // stays: not the end from this hook
  c.Answer("FileChosenKeyHook", EFI_DEVICE_ERROR);    // stays
  c.Answer("FileChosenKeyHook", EFI_SUCCESS);         // on to the follow-up screen
  c.Answer("FileFollowUpKeyHook", EFI_DEVICE_ERROR);  // stays
  c.Answer("FileFollowUpKeyHook", EFI_NOT_READY);     // back to the file list
  c.Answer("EscapeKeyHook", EFI_WARN_STALE_DATA);     // stays
  c.Answer("EscapeKeyHook", EFI_NOT_READY);           // back to the file list
  c.Answer("EscapeKeyHook", EFI_END_OF_MEDIA);        // ends the run
  auto file_list_shows = [&](const std::u16string &name) {
    return [&r, name] {
      EXPECT_TRUE(RowHas(r, kFileRow, kMark + name) || RowHas(r, kFileRow + 1, kMark + name))
          << "highlight on " << fake::Narrow(name.c_str());
      EXPECT_EQ(r.Ascii(kDateColumn, kDateRow, 20), "File Date    : " + fake::Narrow(name.c_str()));
    };
  };
  EFI_STATUS s = r.RunScript(c.Params(), {
                                             Key(kEnter),                             // volume 0 opened
                                             Key(kEnter),                             // A chosen
                                             Key(kSpace),                             // NOT_READY
                                             Key(kDown, file_list_shows(u"A.ROM")),   // the list has the keys again
                                             Key(kEnter, file_list_shows(u"B.ROM")),  // B chosen
                                             Key(kSpace),                             // END_OF_MEDIA: stays
                                             Key(kSpace),                             // DEVICE_ERROR: stays
                                             Key(kSpace),                             // SUCCESS: follow-up
                                             Key(kSpace),                             // DEVICE_ERROR: stays
                                             Key(kSpace),                             // NOT_READY: file list
                                             Key(kEsc, file_list_shows(u"B.ROM")),
                                             Key(kSpace),  // stale data: stays
                                             Key(kSpace),  // NOT_READY: file list
                                             Key(kEsc),
                                             Key(kSpace),  // END_OF_MEDIA: the end
                                         });
  EXPECT_EQ(s, EFI_END_OF_MEDIA);
  EXPECT_EQ(c.Names(),
            Names({"StartHook", "FileChosenEnterHook", "FileChosenKeyHook", "FileChosenEnterHook", "FileChosenKeyHook", "FileChosenKeyHook",
                   "FileChosenKeyHook", "FileFollowUpEnterHook", "FileFollowUpKeyHook", "FileFollowUpKeyHook", "EscapeEnterHook",
                   "EscapeKeyHook", "EscapeKeyHook", "EscapeEnterHook", "EscapeKeyHook"}));
  EXPECT_EQ(c.Calls("FileChosenEnterHook").at(0).file_name, u"A.ROM");
  EXPECT_EQ(c.Calls("FileChosenEnterHook").at(1).file_name, u"B.ROM");
  EXPECT_EQ(c.Calls("FileFollowUpEnterHook").at(0).file_name, u"B.ROM");
  for (auto &k : c.Calls("EscapeEnterHook")) {
    EXPECT_EQ(k.first, nullptr);
    EXPECT_EQ(k.second, nullptr);
    EXPECT_EQ(k.context, &c);
  }
  r.ExpectRestored("after the run");
}

TEST(RunFlow, AnEnterHookErrorEndsTheRunWithThatError) {
  struct Case {
    const char *hook;
    std::vector<EFI_INPUT_KEY> keys;
  };
  for (const Case &k : {Case{"FileChosenEnterHook", {kEnter, kEnter}}, Case{"FileFollowUpEnterHook", {kEnter, kEnter, kSpace}},
                        Case{"EscapeEnterHook", {kEsc}}}) {
    SCOPED_TRACE(k.hook);
    Rig r;
    r.AddVolume({{u"A.ROM", 0x10000}});
    r.caller.Default(k.hook, EFI_ABORTED);
    std::vector<Step> steps;
    for (EFI_INPUT_KEY key : k.keys) steps.push_back(Key(key));
    EXPECT_EQ(r.RunScript(r.caller.Params(), steps), EFI_ABORTED);
    EXPECT_EQ(r.caller.Names().back(), k.hook);
    r.ExpectRestored(k.hook);
  }
}

// Without key hooks every key leaves the caller's screens; without escape or
// follow-up key hooks no key ends a run, so the caller's event ends this one.
TEST(RunFlow, AbsentHooksLetEveryKeyLeaveTheCallersScreens) {
  Rig r;
  r.AddVolume({{u"A.ROM", 0x10000}, {u"B.ROM", 0x10000}});
  UI_RUN_PARAMETERS params{};
  UI_RUN_PARAMETERS with_event = r.caller.Params(true);
  params.HookContext = &r.caller;
  params.EventNotify = with_event.EventNotify;
  params.EventHook = with_event.EventHook;
  r.caller.Default("EventHook", EFI_ABORTED);
  EFI_STATUS s = r.RunScript(params, {
                                         Key(kEnter),
                                         Key(kDown),
                                         Key(kEnter),  // B chosen; no enter hook counts as success
                                         Key(kSpace, [&] { EXPECT_EQ(KeyStateStack->Current, KeyStates.FileChosenKeyState); }),
                                         Check([&] {
                                           EXPECT_EQ(KeyStateStack->Current, KeyStates.FileListKeyState);
                                           EXPECT_EQ(r.Text(0, kFileRow + 1, 6), kMark + u"B.ROM") << "redrawn, same file";
                                         }),
                                         Key(kEsc),
                                         Key(kSpace, [&] { EXPECT_EQ(KeyStateStack->Current, KeyStates.EscapeKeyState); }),
                                         Signal([&] { EXPECT_EQ(KeyStateStack->Current, KeyStates.FileListKeyState); }),
                                     });
  EXPECT_EQ(s, EFI_SUCCESS) << "a run with a caller's event answers with the close status";
  EXPECT_EQ(r.caller.Names(), Names({"EventHook"}));
  r.ExpectRestored("after the run");
}

TEST(RunFlow, NoVolumeShowsTheNoticeAndTheNextKeyReachesTheEscapeHook) {
  Rig r;
  r.caller.Default("EscapeKeyHook", EFI_END_OF_MEDIA);
  const std::u16string notice = u"Can't find any FFs !";
  EFI_STATUS s =
      r.RunScript(r.caller.Params(), {
                                         Key(kDown,
                                             [&] {
                                               EXPECT_TRUE(RowHas(r, kBoxNoticeRow, notice));
                                               UINTN col = r.p.RowText(kBoxNoticeRow).find(notice);
                                               EXPECT_EQ(r.Attr(col, kBoxNoticeRow), 0x1F);
                                               EXPECT_FALSE(RowHas(r, kVolumeTotalRow, u"Total FFS"));
                                               ASSERT_EQ(r.gc->Active().size(), 1u) << "the grey backdrop is up";
                                               EXPECT_TRUE((r.gc->Active()[0].rect == fake::GraphicsConsole::Rect{352, 241, 320, 152}));
                                             }),
                                         Key(kSpace,
                                             [&] {
                                               EXPECT_FALSE(RowHas(r, kBoxNoticeRow, notice)) << "hidden by the key";
                                               EXPECT_TRUE(r.gc->Active().empty()) << "backdrop withdrawn";
                                             }),
                                     });
  EXPECT_EQ(s, EFI_END_OF_MEDIA);
  auto esc = r.caller.Calls("EscapeEnterHook");
  ASSERT_EQ(esc.size(), 1u);
  EXPECT_EQ(esc[0].first, nullptr);
  EXPECT_EQ(esc[0].second, nullptr);
  EXPECT_EQ(esc[0].context, &r.caller);
  r.ExpectRestored("after the run");
}

// The typical caller writes into the message box from its hooks and ends the
// run from the follow-up screen with the box still up. The run's end takes
// the box down, grey backdrop included, so the console's next user does not
// inherit it.
TEST(RunFlow, ARunThatEndsWithTheMessageBoxUpWithdrawsItsBackdrop) {
  Rig r;
  r.AddVolume({{u"A.ROM", 0x10000}});
  r.caller.Default("FileFollowUpKeyHook", EFI_END_OF_MEDIA);
  r.caller.in_enter_hook = [&r] {
    UI_TEXT_POSITION pos{UI_WINDOW_MESSAGE_BOX, 0, 0, 1, TEXT_MODE_CENTRE, 0};
    EXPECT_EQ(r.ui->Print(&pos, nullptr, u"Checking"), 8u);
  };
  EFI_STATUS s =
      r.RunScript(r.caller.Params(), {Key(kEnter), Key(kEnter),
                                      Key(kSpace,
                                          [&] {
                                            EXPECT_TRUE(RowHas(r, 10, u"Checking"));
                                            EXPECT_EQ(r.gc->Active().size(), 1u);
                                          }),
                                      Key(kSpace, [&] { EXPECT_EQ(r.gc->Active().size(), 1u) << "still up on the follow-up screen"; })});
  EXPECT_EQ(s, EFI_END_OF_MEDIA);
  EXPECT_TRUE(r.gc->Active().empty()) << "no grey rectangle outlives the run";
  r.ExpectRestored("after the run");
}

TEST(RunFlow, AVolumeWithoutBiosFilesShowsTheNoticeAndAKeyGoesBack) {
  Rig r;
  r.AddVolume({{u"readme.txt", 10}});
  r.AddVolume({{u"X.ROM", 0x10000}});
  r.caller.Default("FileChosenEnterHook", EFI_ABORTED);
  EFI_STATUS s =
      r.RunScript(r.caller.Params(), {
                                         Key(kEnter),
                                         Key(kSpace, [&] { EXPECT_TRUE(RowHas(r, kBoxNoticeRow, u"Can't find any BIOS files !")); }),
                                         Key(kDown,
                                             [&] {
                                               EXPECT_FALSE(RowHas(r, kBoxNoticeRow, u"Can't find")) << "hidden by the key";
                                               EXPECT_EQ(KeyStateStack->Current, KeyStates.VolumeListKeyState);
                                             }),
                                         Key(kEnter, [&] { EXPECT_EQ(r.Text(0, kVolumeRow + 1, 8), VolumeLine(1, true)); }),
                                         Key(kEnter, [&] { EXPECT_EQ(r.Text(0, kFileRow, 6), kMark + u"X.ROM"); }),
                                     });
  EXPECT_EQ(s, EFI_ABORTED);
  EXPECT_EQ(r.caller.Calls("FileChosenEnterHook").at(0).file_name, u"X.ROM");
  r.ExpectRestored("after the run");
}

TEST(RunFlow, TabBackToTheVolumesKeepsTheSelectionAndTheDateLine) {
  Rig r;
  r.AddVolume({{u"ZERO.ROM", 0x10000}});
  r.AddVolume({{u"ONE.ROM", 0x10000}, {u"TWO.ROM", 0x10000}});
  r.caller.Default("EscapeKeyHook", EFI_END_OF_MEDIA);
  auto file_list_blank = [&] {
    for (UINTN row = kFileRow; row < kFileRow + 7; row++) EXPECT_EQ(r.Ascii(0, row, 16), std::string(16, ' ')) << row;
  };
  EFI_STATUS s = r.RunScript(r.caller.Params(),
                             {
                                 Key(kDown),
                                 Key(kTab),
                                 Key(kDown, [&] { EXPECT_EQ(r.Text(0, kFileRow, 8), kMark + u"ONE.ROM"); }),
                                 Key(kTab, [&] { EXPECT_EQ(r.Text(0, kFileRow + 1, 8), kMark + u"TWO.ROM"); }),
                                 Key(kEnter,
                                     [&] {
                                       EXPECT_EQ(r.Text(0, kVolumeRow + 1, 8), VolumeLine(1, true));
                                       EXPECT_EQ(BrowserLists.VolumeSelection, 1u);
                                       file_list_blank();
                                       EXPECT_EQ(r.Ascii(kDateColumn, kDateRow, 22), "File Date    : TWO.ROM") << "the date line stays";
                                     }),
                                 Key(kEsc, [&] { EXPECT_EQ(r.Text(0, kFileRow, 8), kMark + u"ONE.ROM") << "volume 1 again, first file"; }),
                                 Key(kSpace),
                             });
  EXPECT_EQ(s, EFI_END_OF_MEDIA);
  EXPECT_EQ(r.fs.At(0).OpenVolumeCalls(), 0u) << "volume 0 was never opened";
  EXPECT_EQ(r.fs.At(1).OpenVolumeCalls(), 2u);
  r.ExpectRestored("after the run");
}

TEST(RunFlow, TheCallersEventRepaintsTheWholeScreenAndTheRunAnswersSuccess) {
  Rig r;
  r.AddVolume({{u"A.ROM", 0x10000}});
  r.caller.Default("EscapeKeyHook", EFI_END_OF_MEDIA);
  std::vector<std::u16string> before;
  uint64_t written_at_hook = 0;
  UINTN printed = 0;
  r.caller.in_event_hook = [&] {
    // Something outside the engine scribbles over the console; the engine's
    // shadow does not know, so only a full repaint puts the screen right.
    EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *con = r.p.SystemTable()->ConOut;
    con->SetCursorPosition(con, 0, 6);
    std::u16string junk(300, u'#');
    con->OutputString(con, junk.data());
    UI_TEXT_POSITION pos{UI_WINDOW_CALLER, 0, 1, 2, TEXT_MODE_LEFT, 0};
    printed = r.ui->Print(&pos, nullptr, u"event %d", 1ULL);
    written_at_hook = r.p.CharactersWritten();
  };
  EFI_STATUS s = r.RunScript(r.caller.Params(true), {
                                                        Signal([&] {
                                                          for (UINTN row = 0; row < 27; row++) before.push_back(r.p.RowText(row));
                                                        }),
                                                        Check([&] {
                                                          EXPECT_GE(r.p.CharactersWritten() - written_at_hook, 100u * 27 - 1)
                                                              << "every cell written again";
                                                          for (UINTN row = 0; row < 27; row++)
                                                            if (row != 18) EXPECT_EQ(r.p.RowText(row), before[row]) << "row " << row;
                                                          EXPECT_EQ(r.Ascii(23, 18, 7), "event 1") << "the caller's text in its window";
                                                        }),
                                                        Key(kEsc),
                                                        Key(kSpace),
                                                    });
  EXPECT_EQ(printed, 7u);
  EXPECT_EQ(s, EFI_SUCCESS) << "the loop ended with END_OF_MEDIA, the close status is returned";
  auto hooks = r.caller.Calls("EventHook");
  ASSERT_EQ(hooks.size(), 1u);
  EXPECT_EQ(hooks[0].context, &r.caller);
  EXPECT_GT(r.caller.notify_checks, 0u);
  r.ExpectRestored("after the run");
}

TEST(RunFlow, AnEventNotifyWithoutEventHookMakesNoEvent) {
  Rig r;
  r.AddVolume({{u"A.ROM", 0x10000}});
  r.caller.Default("EscapeKeyHook", EFI_END_OF_MEDIA);
  UI_RUN_PARAMETERS params = r.caller.Params(true);
  params.EventHook = nullptr;
  EFI_STATUS s = r.RunScript(params, {Signal(), Check({}), Key(kEsc), Key(kSpace)});
  EXPECT_EQ(s, EFI_END_OF_MEDIA) << "no caller's event: the ending status itself";
  EXPECT_EQ(r.caller.notify_checks, 0u) << "nothing waited on an event of the caller";
  r.ExpectRestored("after the run");
}

TEST(RunFlow, RunsDoNotNestAndTheParametersAreChecked) {
  Rig r;
  r.AddVolume({{u"A.ROM", 0x10000}});
  EXPECT_EQ(r.ui->Run(r.ui, nullptr), EFI_INVALID_PARAMETER);
  UI_RUN_PARAMETERS params = r.caller.Params(true);
  EXPECT_EQ(r.ui->Run(nullptr, &params), EFI_INVALID_PARAMETER) << "the interface carries the run's handle and table";
  EXPECT_EQ(ActiveRun(), nullptr);
  std::vector<EFI_STATUS> nested;
  r.caller.in_event_hook = [&] {
    UI_RUN_PARAMETERS inner = r.caller.Params();
    nested.push_back(r.ui->Run(r.ui, &inner));
    EXPECT_EQ(DriverUnload(r.image), EFI_ACCESS_DENIED) << "the code that runs cannot be unloaded";
  };
  r.caller.Default("EventHook", EFI_ABORTED);
  EXPECT_EQ(r.RunScript(params, {Signal()}), EFI_SUCCESS);
  EXPECT_EQ(nested, std::vector<EFI_STATUS>{EFI_ACCESS_DENIED});
  r.ExpectRestored("after the run");
}

TEST(RunFlow, TheSizeRuleReachesTheBrowserAndZeroMeansNoLimit) {
  Rig r;
  r.AddVolume({{u"64K.ROM", 0x10000}, {u"ODD.BIN", 65537}, {u"16M.ROM", 0x1000000}});
  r.caller.Default("EscapeKeyHook", EFI_END_OF_MEDIA);
  EFI_STATUS s = r.RunScript(r.caller.Params(), {Key(kEnter,
                                                     [&] {
                                                       EXPECT_EQ(BiosFiles.BiosFileMaxSize, ~0ULL);
                                                       EXPECT_EQ(BiosFiles.BiosFileUnitSize, 0u);
                                                     }),
                                                 Key(kEsc,
                                                     [&] {
                                                       EXPECT_EQ(BiosFiles.BiosFileCount, 2u);
                                                       EXPECT_EQ(r.Text(0, kFileRow + 1, 8), u" 16M.ROM");
                                                     }),
                                                 Key(kSpace)});
  EXPECT_EQ(s, EFI_END_OF_MEDIA);

  UI_RUN_PARAMETERS limited = r.caller.Params();
  limited.BiosFileUnitSize = 0x8000;
  limited.BiosFileMaxSize = 0x10000;
  s = r.RunScript(limited, {Key(kEnter),
                            Key(kEsc,
                                [&] {
                                  EXPECT_EQ(BiosFiles.BiosFileMaxSize, 0x10000u);
                                  EXPECT_EQ(BiosFiles.BiosFileCount, 1u) << "16 MiB is over the limit";
                                }),
                            Key(kSpace)});
  EXPECT_EQ(s, EFI_END_OF_MEDIA);
  r.ExpectRestored("after the second run");
}

TEST(RunFlow, APointerDeviceIsPreparedThenSwitchedOffAndNeverDraws) {
  Rig r({.pointer = true});
  r.AddVolume({{u"A.ROM", 0x10000}});
  r.caller.Default("EscapeKeyHook", EFI_END_OF_MEDIA);
  std::vector<std::u16string> before;
  EFI_STATUS s = r.RunScript(r.caller.Params(), {
                                                    Check([&] {
                                                      EXPECT_EQ(RunPointer.Device, nullptr) << "the run drops the device";
                                                      EXPECT_EQ(RunPointer.Event, nullptr) << "and closes its event";
                                                      ASSERT_NE(RunPointer.Layer, nullptr);
                                                      EXPECT_EQ(RunPointer.Layer->Priority, 80);
                                                      EXPECT_EQ(RunPointer.Layer->Width, 100u);
                                                      EXPECT_EQ(RunPointer.Layer->Height, 27u);
                                                      for (UINTN i = 0; i < 100 * 27; i++)
                                                        ASSERT_EQ(RunPointer.Layer->CellFlags[i] & ~CELL_DIRTY, CELL_TRANSPARENT) << i;
                                                      for (UINTN row = 0; row < 27; row++) before.push_back(r.p.RowText(row));
                                                      r.pointer->Move(5, 5, true);
                                                    }),
                                                    Check([&] {
                                                      for (UINTN row = 0; row < 27; row++) EXPECT_EQ(r.p.RowText(row), before[row]);
                                                    }),
                                                    Key(kEsc),
                                                    Key(kSpace),
                                                });
  EXPECT_EQ(s, EFI_END_OF_MEDIA);
  EXPECT_EQ(r.pointer->get_state_calls, 0u) << "no pointer state is ever read";
  r.ExpectRestored("after the run");
}

// Volumes that come or go during a run show at the next key in the volume
// list; losing every volume does not end the run, the next key escapes.
TEST(RunFlow, VolumesThatAppearOrVanishShowAtTheNextKey) {
  Rig r;
  r.AddVolume({{u"A.ROM", 0x10000}});
  r.AddVolume({{u"B.ROM", 0x10000}});
  r.caller.Default("EscapeKeyHook", EFI_END_OF_MEDIA);
  EFI_STATUS s = r.RunScript(r.caller.Params(), {
                                                    Key(kDown),
                                                    Key(kDown,
                                                        [&] {
                                                          EXPECT_EQ(r.Text(0, kVolumeRow + 1, 8), VolumeLine(1, true));
                                                          r.AddVolume({{u"C.ROM", 0x10000}});
                                                        }),
                                                    Key(kDown,
                                                        [&] {
                                                          EXPECT_EQ(r.Text(0, kVolumeRow + 2, 8), VolumeLine(2, true)) << "the new volume";
                                                          EXPECT_EQ(r.Ascii(0, kVolumeTotalRow, 13), "Total FFS : 3");
                                                          r.fs.RemoveVolume(r.fs.At(2));
                                                        }),
                                                    Key(kDown,
                                                        [&] {
                                                          EXPECT_EQ(r.Text(0, kVolumeRow + 1, 8), VolumeLine(1, true))
                                                              << "clamped to the last one left";
                                                          EXPECT_EQ(r.Ascii(0, kVolumeTotalRow, 13), "Total FFS : 2");
                                                          r.fs.RemoveVolume(r.fs.At(0));
                                                          r.fs.RemoveVolume(r.fs.At(1));
                                                        }),
                                                    Key(kEnter, [&] { EXPECT_EQ(BiosFiles.VolumeCount, 0u); }),
                                                    Key(kSpace, [&] { EXPECT_EQ(KeyStateStack->Current, KeyStates.EscapeKeyState); }),
                                                });
  EXPECT_EQ(s, EFI_END_OF_MEDIA) << "ended by the escape hook, not by the lost volumes";
  EXPECT_EQ(r.caller.Names(), Names({"StartHook", "EscapeEnterHook", "EscapeKeyHook"}));
  EXPECT_EQ(r.caller.Calls("FileChosenEnterHook").size(), 0u);
  r.ExpectRestored("after the run");
}

// One Down key in the file list reaches the console as the cells of the
// redrawn list and date line, never as a whole-screen redraw; an idle run
// keeps the console quiet in either list, highlight included.
TEST(RunFlow, ConsoleWorkOfOneDownKeyAndOfIdlePasses) {
  Rig r;
  r.AddVolume({{u"FIRST.ROM", 0x10000}, {u"SECOND.ROM", 0x10000}, {u"THIRD.ROM", 0x10000}});
  r.caller.Default("EscapeKeyHook", EFI_END_OF_MEDIA);
  uint64_t chars = 0, calls = 0, idle_volumes = 0, idle_files = 0;
  auto idle = [&](uint64_t &counter) {
    return std::vector<Step>{Check([&] { counter = r.p.CharactersWritten(); }),          Check({}), Check({}), Check({}), Check({}),
                             Check([&] { counter = r.p.CharactersWritten() - counter; })};
  };
  std::vector<Step> steps = idle(idle_volumes);
  steps.push_back(Key(kEnter));
  for (Step &s : idle(idle_files)) steps.push_back(s);
  steps.push_back(Key(kDown, [&] {
    chars = r.p.CharactersWritten();
    calls = r.p.ConsoleLog().size();
  }));
  steps.push_back(Key(kEsc, [&] {
    chars = r.p.CharactersWritten() - chars;
    calls = r.p.ConsoleLog().size() - calls;
  }));
  steps.push_back(Key(kSpace));
  EXPECT_EQ(r.RunScript(r.caller.Params(), steps), EFI_END_OF_MEDIA);
  std::printf(
      "[   INFO   ] one Down key in the file list: %llu characters in %llu console calls; "
      "5 idle passes: %llu characters in the volume list, %llu in the file list\n",
      static_cast<unsigned long long>(chars), static_cast<unsigned long long>(calls), static_cast<unsigned long long>(idle_volumes),
      static_cast<unsigned long long>(idle_files));
  EXPECT_EQ(idle_volumes, 0u) << "an idle run keeps the console quiet";
  EXPECT_EQ(idle_files, 0u) << "the active highlight is written once, not on every pass";
  EXPECT_GT(chars, 0u);
  EXPECT_LT(chars, 200u) << "the list and the date line, never a whole-screen redraw";
  // The list is cleared and printed again; only the two rows whose highlight
  // moved and the date differ from what the console already shows.
  EXPECT_LT(chars, 80u) << "only the cells that changed";
  r.ExpectRestored("after the run");
}

}  // namespace
}  // namespace uitest
