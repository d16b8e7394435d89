// SPDX-License-Identifier: BSD-2-Clause-Patent
// The volume and BIOS-file browser against the fake file system: which root
// entries count as BIOS files, how the lists scroll and mark, the date line,
// volumes that fail, appear or vanish, and that nothing leaks on any path.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "cells.h"
#include "test/fake/fake.h"
#include "test/fake/fs.h"
#include "ui/browser.h"
#include "ui/status_report.h"
#include "test/fake/gcp.h"
#include "test/fake/gop.h"
#include "ui/layout.h"
#include "ui/screen.h"
#include "ui/window_text.h"

using fake::FsDate;

namespace {

constexpr uint64_t KiB = 1024, MiB = 1024 * 1024;

class BrowserTest : public ::testing::Test {
 protected:
  fake::Platform plat;
  std::unique_ptr<fake::Gop> gop;
  std::unique_ptr<fake::GraphicsConsole> gc;
  std::unique_ptr<fake::FileSystem> fs;
  size_t baseline = 0;

  void SetUp() override {
    plat.SetTextModes({{80, 25}, {100, 31}});
    EfiInitializeDriverLib(nullptr, plat.SystemTable());
    ScreenPreemptionHook = nullptr;
    gop = std::make_unique<fake::Gop>(plat);
    gc = std::make_unique<fake::GraphicsConsole>(plat);
    fs = std::make_unique<fake::FileSystem>(plat);
    ASSERT_EQ(InitialDrawFunction(), EFI_SUCCESS);
    // A run starts with no browser data; the run copies the size rule.
    BiosFiles.VolumeHandles = nullptr;
    BiosFiles.VolumeCount = BrowserLists.VolumeSelection = BrowserLists.VolumeListTop = 0;
    BiosFiles.RootDirectory = nullptr;
    BiosFiles.BiosFileList = nullptr;
    BiosFiles.BiosFileCount = BrowserLists.FileSelection = BrowserLists.FileListTop = 0;
    BiosFiles.BiosFileUnitSize = 0;
    BiosFiles.BiosFileMaxSize = ~0ULL;
    baseline = plat.LivePoolCount();
  }

  void TearDown() override {
    ReleaseFileBrowser();
    EXPECT_EQ(BiosFiles.VolumeHandles, nullptr);
    EXPECT_EQ(BiosFiles.RootDirectory, nullptr);
    EXPECT_EQ(BiosFiles.BiosFileList, nullptr);
    EXPECT_EQ(plat.LivePoolCount(), baseline) << "pool leaked";
    EXPECT_EQ(fs->OpenHandles(), 0u) << "file handles leaked";
    EXPECT_EQ(fs->UseAfterClose(), 0u);
    for (UI_WINDOW **w : {&RunWindows.CallerWindow, &RunWindows.FileInfoWindow, &RunWindows.FileListWindow, &RunWindows.VolumeListWindow,
                          &RunWindows.MessageBox, &RunWindows.BackgroundWindow}) {
      if (*w) WindowDestroy(*w);
      *w = nullptr;
    }
    ScreenShutdown();
    EXPECT_EQ(plat.LivePoolCount(), 0u);
    EXPECT_EQ(plat.LivePageCount(), 0u);
    fs.reset();
  }

  // One repaint pass, as the periodic timer runs it.
  void Pass() {
    ASSERT_NE(CellScreen.RepaintEvent, nullptr);
    plat.FireTimer(CellScreen.RepaintEvent);
  }
  static char Glyph(CHAR16 ch) {
    return ch == MARK_POINTER       ? '>'
           : ch == MARK_SCROLL_UP   ? '^'
           : ch == MARK_SCROLL_DOWN ? 'v'
           : ch == 0                ? '.'
           : ch < 0x80              ? static_cast<char>(ch)
                                    : '?';
  }
  // Columns [x, x + n) of console row y, marks shown as > ^ v.
  std::string Screen(UINTN x, UINTN y, UINTN n) const {
    std::string s;
    for (UINTN c = x; c < x + n; c++) s.push_back(Glyph(plat.At(c, y).ch));
    return s;
  }

  // One window row as text over the text width: marks as > ^ v, unwritten
  // cells as '.'.
  static std::string Row(UI_WINDOW *w, UINTN row, UINTN width = 0) {
    return uitest::CellText(w, 0, row, width ? width : w->TextWidth, Glyph);
  }
  static UINT64 Attr(UI_WINDOW *w, UINTN col, UINTN row) { return uitest::CellAttr(w, col, row); }
  static std::string Pad(std::string s, size_t n = 16) {
    s.resize(n, ' ');
    return s;
  }

  std::vector<std::string> Listed() const {
    std::vector<std::string> names;
    for (UINTN i = 0; i < BiosFiles.BiosFileCount; i++) {
      EXPECT_NE(BiosFiles.BiosFileList[i], nullptr) << "entry " << i;
      if (BiosFiles.BiosFileList[i]) names.push_back(fake::Narrow(BiosFiles.BiosFileList[i]->FileName));
    }
    return names;
  }

  // Enumerates the volumes and opens the given one, as Enter on it does.
  EFI_STATUS Open(size_t index) {
    EXPECT_EQ(ShowVolumeList(0, &BrowserLists.VolumeSelection), EFI_SUCCESS);
    EXPECT_LT(index, BiosFiles.VolumeCount);
    BrowserLists.FileSelection = 0;
    return OpenBiosVolume(BiosFiles.VolumeHandles[index]);
  }

  fake::Volume &VolumeWithFiles(int n, const char *stem = "FILE") {
    fake::Volume &v = fs->AddVolume();
    for (int i = 1; i <= n; i++) v.Root().AddFile(fake::U16((stem + std::to_string(i) + ".ROM").c_str()), 64 * KiB);
    return v;
  }

  // Changes the root once, as the second pass over it (the one that fills
  // the list) starts; changed says whether it ran.
  bool changed = false;
  void BetweenThePasses(fake::Volume &v, std::function<void(fake::FsNode &)> change) {
    v.OnDirectoryRead([this, &v, change](fake::FsNode &dir, size_t pos) {
      if (pos == 0 && v.DirectoryReads() > 1 && !changed) {
        changed = true;
        change(dir);
      }
    });
  }
};

// ---- The size rule ----

TEST_F(BrowserTest, DefaultRuleListsMultiplesOf64KiBOfAnySizeAndNeverDirectories) {
  fake::Volume &v = fs->AddVolume();
  fake::FsNode &root = v.Root();
  root.AddFile(u"A64K.ROM", 64 * KiB);
  root.AddFile(u"EMPTY.ROM", 0);
  root.AddFile(u"ODD.ROM", 65537);
  root.AddDirectory(u"DIR", EFI_FILE_DIRECTORY).size = 64 * KiB;
  // A directory that also carries other bits is still a directory.
  root.AddDirectory(u"ARCHDIR", EFI_FILE_DIRECTORY | EFI_FILE_ARCHIVE).size = 128 * KiB;
  root.AddDirectory(u"RODIR", EFI_FILE_DIRECTORY | EFI_FILE_READ_ONLY | EFI_FILE_HIDDEN).size = 64 * KiB;
  root.AddFile(u"B128K.ROM", 128 * KiB);
  root.AddFile(u"HUGE.ROM", 16 * MiB, {}, EFI_FILE_READ_ONLY | EFI_FILE_ARCHIVE);
  root.Find(u"DIR")->AddFile(u"NESTED.ROM", 64 * KiB);

  EXPECT_EQ(Open(0), EFI_SUCCESS);
  EXPECT_EQ(Listed(), (std::vector<std::string>{"A64K.ROM", "B128K.ROM", "HUGE.ROM"}));
  EXPECT_EQ(BiosFiles.BiosFileUnitSize, 64 * KiB) << "a unit of 0 is replaced and stays replaced";
  EXPECT_EQ(BiosFiles.BiosFileList[2]->FileSize, 16 * MiB);
  EXPECT_EQ(BiosFiles.BiosFileList[2]->Attribute, EFI_FILE_READ_ONLY | EFI_FILE_ARCHIVE);
}

TEST_F(BrowserTest, MaximumIsInclusiveAndUnitIsTheCallers) {
  fake::Volume &v = fs->AddVolume();
  v.Root().AddFile(u"EXACT.ROM", 0x800000);
  v.Root().AddFile(u"OVER.ROM", 0x810000);
  v.Root().AddFile(u"HALF.ROM", 0x400000);
  v.Root().AddFile(u"SMALL.ROM", 0x80000);  // 512 KiB: not a multiple of 1 MiB
  BiosFiles.BiosFileMaxSize = 0x800000;
  BiosFiles.BiosFileUnitSize = 0x100000;
  Open(0);
  EXPECT_EQ(Listed(), (std::vector<std::string>{"EXACT.ROM", "HALF.ROM"}));
  EXPECT_EQ(BiosFiles.BiosFileUnitSize, 0x100000u);
}

TEST_F(BrowserTest, ReadNextBiosFileHandsOutOwnRecordsAndEndsWithLoadError) {
  fake::Volume &v = VolumeWithFiles(2);
  EFI_FILE_PROTOCOL *root = nullptr;
  ASSERT_EQ(v.Protocol()->OpenVolume(v.Protocol(), &root), EFI_SUCCESS);
  EFI_FILE_INFO *a = nullptr, *b = nullptr, *c = reinterpret_cast<EFI_FILE_INFO *>(1);
  ASSERT_EQ(ReadNextBiosFile(root, &a), EFI_SUCCESS);
  ASSERT_EQ(ReadNextBiosFile(root, &b), EFI_SUCCESS);
  EXPECT_EQ(ReadNextBiosFile(root, &c), EFI_LOAD_ERROR);
  EXPECT_EQ(c, nullptr);
  EXPECT_NE(a, b);
  EXPECT_EQ(fake::Narrow(a->FileName), "FILE1.ROM");
  EXPECT_EQ(fake::Narrow(b->FileName), "FILE2.ROM");
  EXPECT_EQ(a->Size, SIZE_OF_EFI_FILE_INFO + 10 * sizeof(CHAR16));
  EXPECT_TRUE(plat.IsLive(a));
  EXPECT_EQ(plat.TypeOf(a), EfiBootServicesData);
  EXPECT_EQ(plat.Allocations().at(a).size, BIOS_FILE_INFO_SIZE);
  gBS->FreePool(a);
  gBS->FreePool(b);
  // A failed allocation is passed up and nothing is read.
  root->SetPosition(root, 0);
  uint64_t reads = v.DirectoryReads();
  plat.FailAllocation(1);
  EXPECT_EQ(ReadNextBiosFile(root, &a), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(a, nullptr);
  EXPECT_EQ(v.DirectoryReads(), reads);
  root->Close(root);
}

// ---- Directory entries that end or spoil the listing ----

TEST_F(BrowserTest, EntryTooLargeForTheBufferEndsTheListing) {
  fake::Volume &v = fs->AddVolume();
  v.Root().AddFile(u"FIRST.ROM", 64 * KiB);
  // 511 characters and the terminator fill the buffer exactly: still read.
  std::u16string fits(511, u'F');
  v.Root().AddFile(fits, 64 * KiB);
  v.Root().AddFile(std::u16string(512, u'L'), 64 * KiB);  // 1106 bytes
  v.Root().AddFile(u"AFTER.ROM", 64 * KiB);
  Open(0);
  ASSERT_EQ(BiosFiles.BiosFileCount, 2u);
  EXPECT_EQ(fake::Narrow(BiosFiles.BiosFileList[0]->FileName), "FIRST.ROM");
  EXPECT_EQ(std::u16string(BiosFiles.BiosFileList[1]->FileName), fits);
}

TEST_F(BrowserTest, ReadFailureEndsTheListingWithTheFilesBeforeIt) {
  fake::Volume &v = VolumeWithFiles(4);
  v.Root().children[2]->read_status = EFI_DEVICE_ERROR;
  Open(0);
  EXPECT_EQ(Listed(), (std::vector<std::string>{"FILE1.ROM", "FILE2.ROM"}));
}

TEST_F(BrowserTest, MalformedRecordsAreNeitherTrustedNorListed) {
  fake::Volume &v = fs->AddVolume();
  // A short record: only the Size and FileSize fields arrived.
  std::vector<uint8_t> shortrec(16, 0);
  shortrec[0] = 16;
  shortrec[8 + 2] = 1;  // FileSize 64 KiB
  v.Root().AddRaw(shortrec);
  // A full buffer whose name has no terminator and whose Size field claims
  // more than was delivered.
  std::vector<uint8_t> full = fake::FsNode{u"X", EFI_FILE_ARCHIVE, 64 * KiB}.InfoRecord();
  full.resize(BIOS_FILE_INFO_SIZE, 0);
  for (size_t i = SIZE_OF_EFI_FILE_INFO; i < full.size(); i += 2) full[i] = 'N';
  full[0] = 0xFF, full[1] = 0xFF;  // Size 0xFFFF
  v.Root().AddRaw(full);
  v.Root().AddFile(u"GOOD.ROM", 64 * KiB);
  Open(0);
  ASSERT_EQ(BiosFiles.BiosFileCount, 2u);
  EXPECT_EQ(std::u16string(BiosFiles.BiosFileList[0]->FileName), std::u16string(511, u'N'));
  EXPECT_LE(BiosFiles.BiosFileList[0]->Size, BIOS_FILE_INFO_SIZE);
  EXPECT_EQ(fake::Narrow(BiosFiles.BiosFileList[1]->FileName), "GOOD.ROM");
}

// A directory that never reports its end (the same entry again and
// again, or endless short records) ends after BIOS_DIRECTORY_MAX_ENTRIES
// entries per pass, as if the directory ended there.
TEST_F(BrowserTest, EndlessDirectoryEndsAtTheEntryBound) {
  std::vector<uint8_t> shortrec(16, 0);
  shortrec[0] = 16;
  struct Case {
    const char *what;
    std::function<void(fake::FsNode &)> last;
    size_t listed;
  } cases[] = {
      {"a skipped entry", [](fake::FsNode &r) { r.AddFile(u"SMALL.TXT", 100); }, 1},
      {"a short record", [&](fake::FsNode &r) { r.AddRaw(shortrec); }, 1},
      {"a BIOS file", [](fake::FsNode &r) { r.AddFile(u"AGAIN.ROM", 64 * KiB); }, BIOS_DIRECTORY_MAX_ENTRIES},
  };
  for (const Case &c : cases) {
    fake::Volume &v = fs->AddVolume();
    v.Root().AddFile(u"FIRST.ROM", 64 * KiB);
    c.last(v.Root());
    v.EndlessDirectories(true);
    BrowserLists.VolumeSelection = fs->VolumeCount() - 1;
    EXPECT_EQ(Open(BrowserLists.VolumeSelection), EFI_SUCCESS) << c.what;  // the filling pass read what it counted
    EXPECT_EQ(BiosFiles.BiosFileCount, c.listed) << c.what;
    EXPECT_EQ(v.DirectoryReads(), BIOS_DIRECTORY_MAX_ENTRIES + c.listed) << c.what;
    ASSERT_GT(BiosFiles.BiosFileCount, 0u);
    EXPECT_EQ(fake::Narrow(BiosFiles.BiosFileList[0]->FileName), "FIRST.ROM");
    // A lone call stops there too.
    EFI_FILE_INFO *info = nullptr;
    if (c.listed == 1) EXPECT_EQ(ReadNextBiosFile(BiosFiles.RootDirectory, &info), EFI_LOAD_ERROR) << c.what;
  }
}

// ---- Opening volumes ----

TEST_F(BrowserTest, VolumeThatCannotBeOpenedKeepsThePreviousList) {
  VolumeWithFiles(2, "A");
  fake::Volume &bad = VolumeWithFiles(3, "B");
  ASSERT_EQ(Open(0), EFI_SUCCESS);
  EFI_FILE_PROTOCOL *root = BiosFiles.RootDirectory;
  EFI_FILE_INFO *first = BiosFiles.BiosFileList[0];

  bad.FailOpenVolume(EFI_MEDIA_CHANGED);
  EXPECT_EQ(OpenBiosVolume(BiosFiles.VolumeHandles[1]), EFI_MEDIA_CHANGED);
  EXPECT_EQ(BiosFiles.RootDirectory, root);
  EXPECT_EQ(BiosFiles.BiosFileList[0], first);
  EXPECT_EQ(Listed(), (std::vector<std::string>{"A1.ROM", "A2.ROM"}));

  // A handle without the protocol fails the same way.
  EXPECT_NE(OpenBiosVolume(plat.NewHandle()), EFI_SUCCESS);
  EXPECT_EQ(BiosFiles.BiosFileCount, 2u);
}

TEST_F(BrowserTest, VolumeThatCannotBeOpenedFirstLeavesTheListEmpty) {
  fake::Volume &bad = VolumeWithFiles(3);
  bad.FailOpenVolume(EFI_NO_MEDIA);
  EXPECT_EQ(Open(0), EFI_NO_MEDIA);
  EXPECT_EQ(BiosFiles.BiosFileCount, 0u);
  EXPECT_EQ(BiosFiles.BiosFileList, nullptr);
  EXPECT_EQ(BiosFiles.RootDirectory, nullptr);
  EXPECT_EQ(ShowFileList(0, &BrowserLists.FileSelection), EFI_INVALID_PARAMETER);
}

TEST_F(BrowserTest, VolumeWithoutBiosFilesGivesAnEmptyListAndKeepsItsRootOpen) {
  fake::Volume &v = fs->AddVolume();
  v.Root().AddFile(u"README.TXT", 100);
  EXPECT_EQ(Open(0), EFI_LOAD_ERROR);
  EXPECT_EQ(BiosFiles.BiosFileCount, 0u);
  EXPECT_EQ(BiosFiles.BiosFileList, nullptr);
  EXPECT_NE(BiosFiles.RootDirectory, nullptr);
  EXPECT_EQ(v.OpenHandles(), 1u);
  WindowClear(RunWindows.FileListWindow, nullptr);
  EXPECT_EQ(ShowFileList(0, &BrowserLists.FileSelection), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Row(RunWindows.FileListWindow, 0), Pad("")) << "nothing drawn";
}

TEST_F(BrowserTest, OpeningAnotherVolumeClosesThePreviousRoot) {
  fake::Volume &a = VolumeWithFiles(2, "A");
  fake::Volume &b = VolumeWithFiles(1, "B");
  Open(0);
  EXPECT_EQ(a.OpenHandles(), 1u);
  Open(1);
  EXPECT_EQ(a.OpenHandles(), 0u);
  EXPECT_EQ(b.OpenHandles(), 1u);
  EXPECT_EQ(Listed(), (std::vector<std::string>{"B1.ROM"}));
  Open(1);  // reopening the same volume replaces its root too
  EXPECT_EQ(b.OpenHandles(), 1u);
  EXPECT_EQ(plat.LivePoolCount(), baseline + 3) << "volume buffer, one record, one array";
}

TEST_F(BrowserTest, EntryThatVanishesBetweenThePassesIsLeftOut) {
  fake::Volume &v = VolumeWithFiles(4);
  BetweenThePasses(v, [](fake::FsNode &dir) { dir.Remove(u"FILE2.ROM"); });
  Open(0);
  ASSERT_TRUE(changed);
  EXPECT_EQ(Listed(), (std::vector<std::string>{"FILE1.ROM", "FILE3.ROM", "FILE4.ROM"}));
  // Every listed entry can be drawn and chosen; the last one too.
  BrowserLists.FileSelection = 99;
  EXPECT_EQ(ShowFileList(0, &BrowserLists.FileSelection), EFI_SUCCESS);
  EXPECT_EQ(BrowserLists.FileSelection, 2u);
  EXPECT_EQ(ShowFileDate(&BrowserLists.FileSelection), EFI_SUCCESS);
  EXPECT_EQ(Row(RunWindows.FileListWindow, 2), Pad(">FILE4.ROM"));
}

TEST_F(BrowserTest, FileAddedBetweenThePassesDoesNotOverrunTheArray) {
  fake::Volume &v = VolumeWithFiles(2);
  BetweenThePasses(v, [](fake::FsNode &dir) {
    dir.children.insert(dir.children.begin(), std::make_shared<fake::FsNode>(fake::FsNode{u"NEW.ROM", EFI_FILE_ARCHIVE, 64 * KiB}));
  });
  Open(0);
  ASSERT_TRUE(changed);
  EXPECT_EQ(Listed(), (std::vector<std::string>{"NEW.ROM", "FILE1.ROM"}));
}

TEST_F(BrowserTest, EveryEntryLostOnTheFillingPassLeavesAnEmptyList) {
  fake::Volume &v = VolumeWithFiles(3);
  v.OnDirectoryRead([&](fake::FsNode &, size_t pos) {
    if (pos == 0 && v.DirectoryReads() > 1) v.ReadsFailAfter(0);
  });
  EXPECT_EQ(Open(0), EFI_LOAD_ERROR);
  EXPECT_EQ(BiosFiles.BiosFileCount, 0u);
  EXPECT_EQ(BiosFiles.BiosFileList, nullptr);
}

TEST_F(BrowserTest, FailedArrayAllocationLeavesAnEmptyListWithCountZero) {
  VolumeWithFiles(3);
  ASSERT_EQ(ShowVolumeList(0, &BrowserLists.VolumeSelection), EFI_SUCCESS);
  // Counting pass: one buffer per accepted file and one for the end.
  plat.FailAllocation(5);
  EXPECT_EQ(OpenBiosVolume(BiosFiles.VolumeHandles[0]), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(BiosFiles.BiosFileCount, 0u);
  EXPECT_EQ(BiosFiles.BiosFileList, nullptr);
  EXPECT_EQ(plat.LivePoolCount(), baseline + 1) << "only the volume buffer";
}

TEST_F(BrowserTest, AnyFailedAllocationWhileOpeningLeavesAConsistentListAndNoLeak) {
  VolumeWithFiles(5);
  for (uint64_t nth = 1; nth <= 14; nth++) {
    SCOPED_TRACE("allocation " + std::to_string(nth));
    ASSERT_EQ(ShowVolumeList(0, &BrowserLists.VolumeSelection), EFI_SUCCESS);
    plat.FailAllocation(nth);
    OpenBiosVolume(BiosFiles.VolumeHandles[0]);
    plat.FailAllocation(0);
    EXPECT_EQ(BiosFiles.BiosFileList == nullptr, BiosFiles.BiosFileCount == 0);
    EXPECT_LE(BiosFiles.BiosFileCount, 5u);
    for (UINTN i = 0; i < BiosFiles.BiosFileCount; i++) ASSERT_TRUE(BiosFiles.BiosFileList[i] && plat.IsLive(BiosFiles.BiosFileList[i]));
    if (BiosFiles.BiosFileCount) {
      BrowserLists.FileSelection = BiosFiles.BiosFileCount - 1;
      EXPECT_EQ(ShowFileList(0, &BrowserLists.FileSelection), EFI_SUCCESS);
      EXPECT_EQ(ShowFileDate(&BrowserLists.FileSelection), EFI_SUCCESS);
    }
    ReleaseFileBrowser();
    EXPECT_EQ(plat.LivePoolCount(), baseline);
    EXPECT_EQ(fs->OpenHandles(), 0u);
  }
}

// ---- The file list ----

TEST_F(BrowserTest, NineFilesScrollOneRowAtATimeWithTheirMarks) {
  VolumeWithFiles(9);
  Open(0);
  ASSERT_EQ(BiosFiles.BiosFileCount, 9u);
  struct Step {
    UINTN sel, start;
    bool up, down;
  };
  // Down from the first file to the last and past it, then Up back to it and
  // past it: a selection past either end is clamped and stored back (steps 9
  // and 14); RunFlow's file-list case does the same with keys on a short list.
  std::vector<Step> steps = {{0, 0, false, true}, {1, 0, false, true}, {2, 0, false, true}, {3, 0, false, true}, {4, 0, false, true},
                             {5, 0, false, true}, {6, 0, false, true}, {7, 1, true, true},  {8, 2, true, false}, {8, 2, true, false},
                             {7, 2, true, false}, {2, 2, true, false}, {1, 1, true, true},  {0, 0, false, true}, {0, 0, false, true}};
  UINTN sel = 0;
  for (size_t k = 0; k < steps.size(); k++) {
    if (k > 0 && k <= 9) sel++;                      // Down
    if (k >= 10) sel = k == 11 ? sel - 5 : sel - 1;  // Up (one jump inside the window)
    SCOPED_TRACE("step " + std::to_string(k));
    ASSERT_EQ(ShowFileList(0, &sel), EFI_SUCCESS);
    const Step &s = steps[k];
    EXPECT_EQ(sel, s.sel);
    EXPECT_EQ(BrowserLists.FileListTop, s.start);
    for (UINTN r = 0; r < FILE_LIST_ROWS; r++) {
      UINTN i = s.start + r;
      std::string want = Pad((i == s.sel ? ">" : " ") + std::string("FILE") + std::to_string(i + 1) + ".ROM");
      if (r == FILE_LIST_ROWS - 1 && s.down) want[15] = 'v';
      if (r == 0 && s.up) want[15] = '^';
      EXPECT_EQ(Row(RunWindows.FileListWindow, r), want) << "row " << r;
      EXPECT_EQ(Attr(RunWindows.FileListWindow, 1, r), i == s.sel ? 0xFDu : 0x0Fu);
    }
    if (s.down) EXPECT_EQ(Attr(RunWindows.FileListWindow, 15, 6), 0x0Eu);
  }
}

TEST_F(BrowserTest, ConfirmedHighlightIsYellowAndNeverMarked) {
  VolumeWithFiles(9);
  Open(0);
  UINTN sel = 0;
  for (int i = 0; i < 7; i++) {
    sel++;
    ShowFileList(0, &sel);
  }
  ASSERT_EQ(BrowserLists.FileListTop, 1u);
  ASSERT_EQ(ShowFileList(1, &sel), EFI_SUCCESS);
  EXPECT_EQ(Row(RunWindows.FileListWindow, 6), Pad(">FILE8.ROM")) << "no down mark over the confirmed highlight";
  EXPECT_EQ(Row(RunWindows.FileListWindow, 0), Pad(" FILE2.ROM", 15) + "^");
  EXPECT_EQ(Attr(RunWindows.FileListWindow, 0, 6), 0x0Eu);
  EXPECT_EQ(Attr(RunWindows.FileListWindow, 0, 5), 0x0Fu);
  EXPECT_EQ(Attr(RunWindows.FileListWindow, 20, 5), 0x0Fu) << "the whole window is cleared to 0x0F";
}

TEST_F(BrowserTest, SevenFilesNeverShowAMark) {
  VolumeWithFiles(7);
  Open(0);
  for (UINTN sel = 0; sel < 9; sel++) {
    UINTN s = sel;
    ASSERT_EQ(ShowFileList(0, &s), EFI_SUCCESS);
    EXPECT_EQ(BrowserLists.FileListTop, 0u);
    for (UINTN r = 0; r < 7; r++) EXPECT_EQ(Row(RunWindows.FileListWindow, r)[15], ' ') << "sel " << sel << " row " << r;
  }
}

TEST_F(BrowserTest, LongNamesAreCutAtTheTextWidthAndMarksTakeTheLastColumn) {
  fake::Volume &v = fs->AddVolume();
  for (int i = 0; i < 8; i++) v.Root().AddFile(fake::U16(("ABCDEFGHIJKLMNOPQRS" + std::to_string(i)).c_str()), 64 * KiB);
  Open(0);
  UINTN sel = 0;
  ASSERT_EQ(ShowFileList(0, &sel), EFI_SUCCESS);
  EXPECT_EQ(Row(RunWindows.FileListWindow, 0, 21), ">ABCDEFGHIJKLMNO     ");
  EXPECT_EQ(Row(RunWindows.FileListWindow, 1, 21), " ABCDEFGHIJKLMNO     ");
  EXPECT_EQ(Row(RunWindows.FileListWindow, 6, 21), " ABCDEFGHIJKLMNv     ");
}

// Control characters in a name neither move the rest of it to
// another row nor reach the console; each shows as '?' on the name's own
// row, in the list and the date line. The record itself is left as read.
TEST_F(BrowserTest, ControlCharactersInNamesShowAsQuestionMarksOnOneRow) {
  fake::Volume &v = fs->AddVolume();
  const std::u16string names[] = {u"A\nB.ROM", u"C\rD.ROM", u"E\x1b[2JF", u"G\x7fH\x9bI\tJ"};
  for (const auto &n : names) v.Root().AddFile(n, 64 * KiB, FsDate(2000, 1, 2));
  Open(0);
  UINTN sel = 0;
  ASSERT_EQ(ShowFileList(0, &sel), EFI_SUCCESS);
  EXPECT_EQ(Row(RunWindows.FileListWindow, 0), Pad(">A?B.ROM"));
  EXPECT_EQ(Row(RunWindows.FileListWindow, 1), Pad(" C?D.ROM"));
  EXPECT_EQ(Row(RunWindows.FileListWindow, 2), Pad(" E?[2JF"));
  EXPECT_EQ(Row(RunWindows.FileListWindow, 3), Pad(" G?H?I?J"));
  EXPECT_EQ(Row(RunWindows.FileListWindow, 4), Pad(""));
  ASSERT_EQ(ShowFileDate(&sel), EFI_SUCCESS);
  EXPECT_EQ(Row(RunWindows.FileInfoWindow, 3, 77), Pad("    File Date    : A?B.ROM (01/02/2000) ", 77));
  EXPECT_EQ(Row(RunWindows.FileInfoWindow, 4, 77), Pad("", 77));
  EXPECT_EQ(std::u16string(BiosFiles.BiosFileList[0]->FileName), names[0]);
}

// ---- The date line ----

TEST_F(BrowserTest, DateLineShowsNameAndMonthDayYear) {
  fake::Volume &v = fs->AddVolume();
  v.Root().AddFile(u"OTHER.ROM", 64 * KiB, FsDate(1999, 12, 31));
  v.Root().AddFile(u"BIOS.ROM", 64 * KiB, FsDate(2021, 3, 5));
  Open(0);
  // Leftovers of a longer earlier line, on both rows.
  for (UINTN r : {3, 4})
    for (UINTN c = 0; c < 77; c++) RunWindows.FileInfoWindow->CellChars[r * 77 + c] = u'#';
  RunWindows.FileInfoWindow->CellAttrs[3 * 77 + 60] = 0x2F;

  UINTN sel = 1;
  ASSERT_EQ(ShowFileDate(&sel), EFI_SUCCESS);
  const std::string line = "    File Date    : BIOS.ROM (03/05/2021) ";
  EXPECT_EQ(Row(RunWindows.FileInfoWindow, 3, 77), Pad(line, 77));
  EXPECT_EQ(Row(RunWindows.FileInfoWindow, 4, 77), Pad("", 77));
  for (UINTN c = 4; c < 19; c++) EXPECT_EQ(Attr(RunWindows.FileInfoWindow, c, 3), 0x0Eu) << c;
  for (UINTN c = 19; c < line.size(); c++) EXPECT_EQ(Attr(RunWindows.FileInfoWindow, c, 3), 0x0Fu) << c;
  EXPECT_EQ(Attr(RunWindows.FileInfoWindow, 60, 3), 0x2Fu) << "blanking keeps attributes";
}

TEST_F(BrowserTest, DateLineNeedsVolumesAndAValidSelection) {
  UINTN sel = 0;
  EXPECT_EQ(ShowFileDate(&sel), EFI_INVALID_PARAMETER);
  VolumeWithFiles(2);
  Open(0);
  WindowClear(RunWindows.FileInfoWindow, nullptr);
  RunWindows.FileInfoWindow->CellChars[3 * 77 + 4] = u'#';
  EXPECT_EQ(ShowFileDate(nullptr), EFI_SUCCESS);
  sel = 2;
  EXPECT_EQ(ShowFileDate(&sel), EFI_SUCCESS);
  sel = ~0ULL;
  EXPECT_EQ(ShowFileDate(&sel), EFI_SUCCESS);
  EXPECT_EQ(Row(RunWindows.FileInfoWindow, 3, 6), "    # ") << "nothing drawn";
}

// ---- The volume list ----

TEST_F(BrowserTest, FiveVolumesScrollOneRowAtATimeWithoutMarks) {
  for (int i = 0; i < 5; i++) fs->AddVolume();
  struct Step {
    int key;  // +1 Down, -1 Up
    UINTN sel, start;
  };
  std::vector<Step> steps = {{0, 0, 0},  {+1, 1, 0}, {+1, 2, 0}, {+1, 3, 0}, {+1, 4, 1}, {+1, 4, 1},
                             {-1, 3, 1}, {-1, 2, 1}, {-1, 1, 1}, {-1, 0, 0}, {-1, 0, 0}};
  BrowserLists.VolumeSelection = 0;
  for (size_t k = 0; k < steps.size(); k++) {
    SCOPED_TRACE("step " + std::to_string(k));
    BrowserLists.VolumeSelection += steps[k].key;
    ASSERT_EQ(ShowVolumeList(0, &BrowserLists.VolumeSelection), EFI_SUCCESS);
    EXPECT_EQ(BrowserLists.VolumeSelection, steps[k].sel);
    EXPECT_EQ(BrowserLists.VolumeListTop, steps[k].start);
    for (UINTN r = 0; r < 4; r++) {
      UINTN i = steps[k].start + r;
      std::string want = i == steps[k].sel ? "  >fs" + std::to_string(i) + "  " : "   fs" + std::to_string(i) + "  ";
      EXPECT_EQ(Row(RunWindows.VolumeListWindow, r), Pad(want));
      EXPECT_EQ(Attr(RunWindows.VolumeListWindow, 2, r), i == steps[k].sel ? 0x0Du : 0x0Fu);
    }
    EXPECT_EQ(Row(RunWindows.VolumeListWindow, 4), Pad("Total FFS : 5"));
    EXPECT_EQ(Attr(RunWindows.VolumeListWindow, 0, 4), 0x0Eu);
  }
  ASSERT_EQ(ShowVolumeList(1, &BrowserLists.VolumeSelection), EFI_SUCCESS);
  EXPECT_EQ(Attr(RunWindows.VolumeListWindow, 2, 0), 0x0Eu) << "confirmed style";
  EXPECT_EQ(plat.LivePoolCount(), baseline + 1) << "each enumeration replaces the buffer";
}

TEST_F(BrowserTest, NoVolumeDrawsNothingAndResetsTheSelection) {
  for (UINTN c = 0; c < 21 * 5; c++) RunWindows.VolumeListWindow->CellChars[c] = u'#';
  BrowserLists.VolumeSelection = 3;
  EXPECT_EQ(ShowVolumeList(0, &BrowserLists.VolumeSelection), EFI_NOT_FOUND);
  EXPECT_EQ(BiosFiles.VolumeCount, 0u);
  EXPECT_EQ(BiosFiles.VolumeHandles, nullptr);
  EXPECT_EQ(BrowserLists.VolumeSelection, 0u);
  EXPECT_EQ(Row(RunWindows.VolumeListWindow, 4), std::string(16, '#'));
}

TEST_F(BrowserTest, AllocationFailureOfTheVolumeBufferIsPassedUp) {
  fs->AddVolume();
  plat.FailAllocation(1);
  EXPECT_EQ(ShowVolumeList(0, &BrowserLists.VolumeSelection), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(BiosFiles.VolumeCount, 0u);
  EXPECT_EQ(BiosFiles.VolumeHandles, nullptr);
}

TEST_F(BrowserTest, VolumesThatAppearOrVanishShowAtTheNextDrawing) {
  fake::Volume &a = VolumeWithFiles(1, "A");
  fake::Volume &b = VolumeWithFiles(1, "B");
  BrowserLists.VolumeSelection = 1;
  ASSERT_EQ(ShowVolumeList(0, &BrowserLists.VolumeSelection), EFI_SUCCESS);
  EXPECT_EQ(Row(RunWindows.VolumeListWindow, 4), Pad("Total FFS : 2"));
  ASSERT_EQ(OpenBiosVolume(BiosFiles.VolumeHandles[1]), EFI_SUCCESS);

  fake::Volume &c = fs->AddVolume();
  ASSERT_EQ(ShowVolumeList(0, &BrowserLists.VolumeSelection), EFI_SUCCESS);
  EXPECT_EQ(BiosFiles.VolumeCount, 3u);
  EXPECT_EQ(BiosFiles.VolumeHandles[2], c.Handle());
  EXPECT_EQ(Row(RunWindows.VolumeListWindow, 2), Pad("   fs2  "));

  // The open volume goes away: the list shrinks and the highlight follows;
  // its root stays open until released, and its records stay readable.
  fs->RemoveVolume(b);
  fs->RemoveVolume(c);
  BrowserLists.VolumeSelection = 2;
  ASSERT_EQ(ShowVolumeList(0, &BrowserLists.VolumeSelection), EFI_SUCCESS);
  EXPECT_EQ(BiosFiles.VolumeCount, 1u);
  EXPECT_EQ(BrowserLists.VolumeSelection, 0u);
  EXPECT_EQ(BiosFiles.VolumeHandles[0], a.Handle());
  EXPECT_EQ(Row(RunWindows.VolumeListWindow, 0), Pad("  >fs0  "));
  EXPECT_EQ(Row(RunWindows.VolumeListWindow, 1), Pad(""));
  EXPECT_EQ(Row(RunWindows.VolumeListWindow, 4), Pad("Total FFS : 1"));
  EXPECT_EQ(b.OpenHandles(), 1u);
  EXPECT_EQ(Listed(), (std::vector<std::string>{"B1.ROM"}));

  fs->RemoveVolume(a);
  EXPECT_EQ(ShowVolumeList(0, &BrowserLists.VolumeSelection), EFI_NOT_FOUND);
  EXPECT_EQ(BiosFiles.VolumeHandles, nullptr);
  UINTN sel = 0;
  EXPECT_EQ(ShowFileDate(&sel), EFI_INVALID_PARAMETER);
}

TEST_F(BrowserTest, ListThatShrinksUnderAScrolledHighlightKeepsItVisible) {
  std::vector<fake::Volume *> v;
  for (int i = 0; i < 10; i++) v.push_back(&fs->AddVolume());
  BrowserLists.VolumeSelection = 0;
  for (int i = 0; i < 9; i++) {
    BrowserLists.VolumeSelection++;
    ShowVolumeList(0, &BrowserLists.VolumeSelection);
  }
  ASSERT_EQ(BrowserLists.VolumeListTop, 6u);
  for (int i = 5; i < 10; i++) fs->RemoveVolume(*v[i]);
  ASSERT_EQ(ShowVolumeList(0, &BrowserLists.VolumeSelection), EFI_SUCCESS);
  EXPECT_EQ(BrowserLists.VolumeSelection, 4u);
  EXPECT_EQ(BrowserLists.VolumeListTop, 1u);
  EXPECT_EQ(Row(RunWindows.VolumeListWindow, 0), Pad("   fs1  "));
  EXPECT_EQ(Row(RunWindows.VolumeListWindow, 3), Pad("  >fs4  "));
}

// ---- Message box and release ----

TEST_F(BrowserTest, MessageBoxComesToTheFrontOverGreyAndGoesBackBlank) {
  UI_CELL_POSITION at = {20, 4, 0x1F};
  WindowPrint(RunWindows.MessageBox, &at, TEXT_MODE_CENTRE, u"Can't find any FFs !");
  EXPECT_EQ(ShowMessageBox(1, RunWindows.MessageBox), EFI_SUCCESS);
  EXPECT_EQ(RunWindows.MessageBox->Priority, 64);
  ASSERT_EQ(gc->SetCalls().size(), 1u);
  EXPECT_TRUE(gc->SetCalls()[0].rect == (fake::GraphicsConsole::Rect{352, 241, 320, 152}));
  Pass();
  EXPECT_EQ(Screen(40, 12, 20), "Can't find any FFs !") << "the box covers the background";
  EXPECT_EQ(Screen(30, 8, 1), "?") << "its frame too";

  EXPECT_EQ(ShowMessageBox(0, RunWindows.MessageBox), EFI_SUCCESS);
  EXPECT_EQ(RunWindows.MessageBox->Priority, 16);
  ASSERT_EQ(gc->ClearCalls().size(), 1u);
  EXPECT_TRUE(gc->ClearCalls()[0] == (fake::GraphicsConsole::Rect{352, 241, 320, 152}));
  EXPECT_EQ(Row(RunWindows.MessageBox, 4, 40).substr(1, 38), std::string(38, ' '));
  EXPECT_EQ(Attr(RunWindows.MessageBox, 5, 4), 0x1Fu);
  Pass();
  EXPECT_EQ(Screen(40, 12, 20), std::string(20, ' ')) << "the background shows again";

  EXPECT_EQ(ShowMessageBox(1, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(gc->SetCalls().size(), 1u);
}

TEST_F(BrowserTest, ReleaseFreesEverythingOnceAndResetForgetsWithoutFreeing) {
  VolumeWithFiles(3);
  Open(0);
  ReleaseFileBrowser();
  EXPECT_EQ(BiosFiles.VolumeCount, 0u);
  EXPECT_EQ(BiosFiles.BiosFileCount, 0u);
  EXPECT_EQ(plat.LivePoolCount(), baseline);
  EXPECT_EQ(fs->OpenHandles(), 0u);
  ReleaseFileBrowser();  // a second release finds nothing to do

  ASSERT_EQ(ShowVolumeList(0, &BrowserLists.VolumeSelection), EFI_SUCCESS);
  EFI_HANDLE *buffer = BiosFiles.VolumeHandles;
  ResetVolumeList();
  EXPECT_EQ(BiosFiles.VolumeHandles, nullptr);
  EXPECT_EQ(BiosFiles.VolumeCount, 0u);
  EXPECT_TRUE(plat.IsLive(buffer)) << "reset leaves the release to its owner";
  gBS->FreePool(buffer);
}

}  // namespace

namespace {

// ---- On the console ----

TEST_F(BrowserTest, ListsAndDateLineReachTheConsoleInTheirPlaces) {
  for (int i = 0; i < 2; i++) fs->AddVolume();
  fake::Volume &v = VolumeWithFiles(8);
  v.Root().Find(u"FILE1.ROM")->modify = FsDate(2021, 3, 5);
  v.Root().Find(u"FILE8.ROM")->modify = FsDate(2020, 12, 25);
  BrowserLists.VolumeSelection = 2;
  ASSERT_EQ(ShowVolumeList(1, &BrowserLists.VolumeSelection), EFI_SUCCESS);
  ASSERT_EQ(OpenBiosVolume(BiosFiles.VolumeHandles[2]), EFI_SUCCESS);
  BrowserLists.FileSelection = 0;
  ASSERT_EQ(ShowFileList(0, &BrowserLists.FileSelection), EFI_SUCCESS);
  ASSERT_EQ(ShowFileDate(&BrowserLists.FileSelection), EFI_SUCCESS);
  Pass();

  EXPECT_EQ(Screen(0, 5, 21), "   fs0               ");
  EXPECT_EQ(Screen(0, 7, 21), "  >fs2               ");
  EXPECT_EQ(plat.At(3, 7).attr, 0x0E);
  EXPECT_EQ(Screen(0, 9, 21), "Total FFS : 3        ");
  EXPECT_EQ(Screen(0, 16, 21), ">FILE1.ROM           ");
  EXPECT_EQ(plat.At(1, 16).attr, 0x7D) << "the active highlight as the console can show it";
  EXPECT_EQ(Screen(0, 22, 21), " FILE7.ROM     v     ");
  EXPECT_EQ(plat.At(15, 22).attr, 0x0E);
  EXPECT_EQ(plat.At(5, 22).attr, 0x0F);
  EXPECT_EQ(Screen(22, 8, 42), "    File Date    : FILE1.ROM (03/05/2021) ");

  // Down to the last file scrolls the list by one row on the console.
  for (UINTN s = 1; s <= 7; s++) {
    BrowserLists.FileSelection = s;
    ShowFileList(0, &BrowserLists.FileSelection);
  }
  ShowFileDate(&BrowserLists.FileSelection);
  Pass();
  EXPECT_EQ(Screen(0, 16, 16), " FILE2.ROM     ^");
  EXPECT_EQ(Screen(0, 22, 16), ">FILE8.ROM      ");
  EXPECT_EQ(Screen(22, 8, 42), "    File Date    : FILE8.ROM (12/25/2020) ");
}

}  // namespace
