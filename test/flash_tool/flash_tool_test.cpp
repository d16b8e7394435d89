// SPDX-License-Identifier: BSD-2-Clause-Patent
// The demo flash tool's hooks, driven the way a UI run drives them, against
// the fake platform and file system; and the emulated part's flash rules.
// The UI is a recording double: Print formats with the UI's own formatter.
#include <gtest/gtest.h>

#include <cstdarg>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "examples/flash_tool/demo.h"
#include "test/fake/fake.h"
#include "test/fake/fs.h"
#include "ui/format.h"

EFI_HANDLE gDemoImage;

// The tool's debug-port lines, kept for the tests instead of a port: the
// format and its arguments (each one 64-bit slot, 32-bit directives masked).
struct PortLine {
  std::string Format;
  std::vector<uint64_t> Args;
};
static std::vector<PortLine> PortLines;
extern "C" VOID DemoPrintV(const CHAR8 *Format, EFI_VA_LIST Args) {
  PortLine line{Format, {}};
  for (const CHAR8 *f = Format; *f; f++) {
    if (*f != '%') continue;
    f++;
    bool wide = false;
    while (*f == 'l' || (*f >= '0' && *f <= '9')) wide |= *f++ == 'l';
    if (*f == '%' || *f == 0) continue;
    uint64_t v = EFI_VA_ARG(Args, UINT64);
    line.Args.push_back((*f == 'u' || *f == 'x' || *f == 'd') && !wide ? (uint32_t)v : v);
  }
  PortLines.push_back(line);
}
extern "C" VOID EFIAPI DemoPrint(const CHAR8 *Format, ...) {
  EFI_VA_LIST args;
  EFI_VA_START(args, Format);
  DemoPrintV(Format, args);
  EFI_VA_END(args);
}

namespace {

const EFI_INPUT_KEY Enter = {0, CHAR_CARRIAGE_RETURN};
const EFI_INPUT_KEY Esc = {SCAN_ESC, 0};
const EFI_INPUT_KEY Down = {0x02, 0};
const EFI_INPUT_KEY LetterY = {0, u'y'};

// A UI that records what the tool writes: the last text of each window row,
// the message box's visibility and every progress call.
struct RecordingUi {
  UI_SCREEN_PROTOCOL Protocol{};
  std::map<UINT32, std::map<UINT64, std::u16string>> Rows;
  bool BoxShown = false;
  int Frames = 0;
  std::vector<int> Progress;
  std::function<void(const UI_RUN_PARAMETERS &)> Script;
  UI_RUN_PARAMETERS Seen{};

  std::u16string Box() const {
    std::u16string all;
    auto it = Rows.find(UI_WINDOW_MESSAGE_BOX);
    if (it != Rows.end())
      for (auto &[row, text] : it->second) all += text + u"\n";
    return all;
  }
  std::u16string Row(UINT32 window, UINT64 row) const {
    auto w = Rows.find(window);
    if (w == Rows.end()) return u"";
    auto r = w->second.find(row);
    return r == w->second.end() ? u"" : r->second;
  }
};

RecordingUi *Ui;

EFI_STATUS EFIAPI UiRun(UI_SCREEN_PROTOCOL *, UI_RUN_PARAMETERS *Parameters) {
  Ui->Seen = *Parameters;
  Ui->Script(*Parameters);
  return EFI_SUCCESS;
}

UINTN EFIAPI UiPrint(UI_TEXT_POSITION *Position, UINT32 *, const CHAR16 *Format, ...) {
  CHAR16 text[320];
  EFI_VA_LIST args;
  EFI_VA_START(args, Format);
  UINTN n = FormatStringV(text, sizeof text, Format, args);
  EFI_VA_END(args);
  Ui->Rows[Position->Window][Position->Row] = std::u16string(text);
  if (Position->Window == UI_WINDOW_MESSAGE_BOX) Ui->BoxShown = true;
  return n;
}

EFI_STATUS EFIAPI UiClear(UINT32 Window, UINT64 *) {
  Ui->Rows.erase(Window);
  if (Window == UI_WINDOW_MESSAGE_BOX) Ui->BoxShown = false;
  return EFI_SUCCESS;
}
EFI_STATUS EFIAPI UiClearLine(UINT32 Window, UINT64 Row, UINT64 *) {
  Ui->Rows[Window].erase(Row);
  return EFI_SUCCESS;
}
EFI_STATUS EFIAPI UiNoOperation() { return EFI_SUCCESS; }
EFI_STATUS EFIAPI UiDrawProgressFrame() {
  Ui->Frames++;
  return EFI_SUCCESS;
}
EFI_STATUS EFIAPI UiSetProgress(UINT8 Percent, UINT32) {
  Ui->Progress.push_back(Percent);
  return EFI_SUCCESS;
}

// An independent CRC-32 (IEEE, reflected), to check what the tool shows.
uint32_t Crc32(const std::vector<uint8_t> &data) {
  uint32_t table[256];
  for (uint32_t i = 0; i < 256; i++) {
    uint32_t c = i;
    for (int k = 0; k < 8; k++) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[i] = c;
  }
  uint32_t c = 0xFFFFFFFFu;
  for (uint8_t b : data) c = table[(c ^ b) & 0xFF] ^ (c >> 8);
  return ~c;
}

std::string Narrow(const std::u16string &text) {
  std::string out;
  for (char16_t c : text) out += c < 0x80 ? (char)c : '?';
  return out;
}

std::u16string Hex8(uint32_t v) {
  char buf[9];
  snprintf(buf, sizeof buf, "%08X", v);
  return std::u16string(buf, buf + 8);
}

class FlashToolTest : public ::testing::Test {
 protected:
  fake::Platform p;
  fake::FileSystem fs{p};
  fake::Volume &vol = fs.AddVolume();
  RecordingUi ui;
  std::vector<uint8_t> image;
  EFI_FILE_PROTOCOL *root = nullptr;

  void SetUp() override {
    gST = p.SystemTable();
    gBS = p.BootServices();
    gRT = p.RuntimeServices();
    Ui = &ui;
    ui.Protocol.Revision = UI_SCREEN_PROTOCOL_REVISION;
    ui.Protocol.Run = UiRun;
    ui.Protocol.Print = UiPrint;
    ui.Protocol.Clear = UiClear;
    ui.Protocol.ClearLine = UiClearLine;
    ui.Protocol.NoOperation = UiNoOperation;
    ui.Protocol.DrawProgressFrame = UiDrawProgressFrame;
    ui.Protocol.SetProgress = UiSetProgress;
    PortLines.clear();
    image.resize(3 * 0x10000);
    for (size_t i = 0; i < image.size(); i++) image[i] = (uint8_t)(i * 37 + (i >> 9));
    vol.Root().AddFile(u"BOARD.ROM", image.size(), fake::FsDate(2024, 5, 6)).content = image;
  }

  // The record the UI hands a hook for a root entry, as the browser reads it.
  std::vector<uint8_t> Info(const std::u16string &name) { return vol.Root().Find(name)->InfoRecord(); }

  EFI_FILE_PROTOCOL *OpenRoot() {
    EFI_FILE_PROTOCOL *r = nullptr;
    EXPECT_EQ(vol.Protocol()->OpenVolume(vol.Protocol(), &r), EFI_SUCCESS);
    return r;
  }

  // Runs the tool with Script as the UI's run; checks nothing is left behind.
  void RunTool(std::function<void(const UI_RUN_PARAMETERS &)> script) {
    size_t pool = p.LivePoolCount(), pages = p.LivePageCount(), events = p.LiveEventCount();
    ui.Script = std::move(script);
    EXPECT_EQ(DemoRunFlashTool(&ui.Protocol), EFI_SUCCESS);
    EXPECT_EQ(p.LivePoolCount(), pool) << "pool left allocated";
    EXPECT_EQ(p.LivePageCount(), pages) << "the emulated part was not released";
    EXPECT_EQ(p.LiveEventCount(), events) << "the clock's timer was not closed";
    EXPECT_EQ(fs.OpenHandles(), 0u) << "a file was left open";
  }
};

TEST_F(FlashToolTest, RunParametersAskForBiosFilesUpTo32MiBAndEveryHook) {
  RunTool([](const UI_RUN_PARAMETERS &run) {
    EXPECT_EQ(run.BiosFileUnitSize, 0x10000u);
    EXPECT_EQ(run.BiosFileMaxSize, 32u * 1024 * 1024);
    EXPECT_EQ(run.StartHook, nullptr);
    EXPECT_NE(run.EventNotify, nullptr);
    EXPECT_NE(run.EventHook, nullptr);
    for (void *hook : {(void *)run.FileChosenEnterHook, (void *)run.FileChosenKeyHook, (void *)run.FileFollowUpEnterHook,
                       (void *)run.FileFollowUpKeyHook, (void *)run.EscapeEnterHook, (void *)run.EscapeKeyHook})
      EXPECT_NE(hook, nullptr);
  });
}

TEST_F(FlashToolTest, ChosenFileIsShownConfirmedWrittenAndVerified) {
  RunTool([&](const UI_RUN_PARAMETERS &run) {
    EFI_FILE_PROTOCOL *r = OpenRoot();
    auto info = Info(u"BOARD.ROM");
    ASSERT_EQ(run.FileChosenEnterHook(r, (EFI_FILE_INFO *)info.data(), run.HookContext), EFI_SUCCESS);
    EXPECT_EQ(ui.Row(UI_WINDOW_CALLER, 1), u"File     : BOARD.ROM");
    EXPECT_EQ(ui.Row(UI_WINDOW_CALLER, 2), u"Size     : 196,608 bytes (192 KiB)");
    EXPECT_EQ(ui.Row(UI_WINDOW_CALLER, 3), u"CRC32    : " + Hex8(Crc32(image)));
    EXPECT_TRUE(ui.BoxShown);
    EXPECT_NE(ui.Box().find(u"Update the flash with"), std::u16string::npos);
    EXPECT_NE(ui.Box().find(u"BOARD.ROM ?"), std::u16string::npos);

    // Keys other than Enter and Esc keep the question (neither success nor "leave").
    for (EFI_INPUT_KEY k : {Down, LetterY}) {
      EFI_STATUS s = run.FileChosenKeyHook(&k, nullptr);
      EXPECT_NE(s, EFI_SUCCESS);
      EXPECT_NE(s, EFI_NOT_READY);
    }
    EFI_INPUT_KEY k = Enter;
    ASSERT_EQ(run.FileChosenKeyHook(&k, nullptr), EFI_SUCCESS);

    ASSERT_EQ(run.FileFollowUpEnterHook(r, (EFI_FILE_INFO *)info.data(), run.HookContext), EFI_SUCCESS);
    EXPECT_EQ(ui.Frames, 1);
    std::vector<int> want;
    for (int i = 0; i <= 100; i++) want.push_back(i);
    EXPECT_EQ(ui.Progress, want) << "the bar moves through every percent once, in order";
    EXPECT_NE(ui.Box().find(u"Update complete"), std::u16string::npos) << Narrow(ui.Box());
    EXPECT_NE(ui.Box().find(u"CRC32 " + Hex8(Crc32(image))), std::u16string::npos);
    EXPECT_NE(ui.Row(UI_WINDOW_CALLER, 5).find(u"verified, 3 blocks erased"), std::u16string::npos);
    // Any key then ends the run.
    for (EFI_INPUT_KEY key : {Enter, Esc, Down}) EXPECT_EQ(run.FileFollowUpKeyHook(&key, nullptr), EFI_END_OF_MEDIA);
    r->Close(r);
  });
  // The summary the host script reads: "@demo ended %r updates %u verified %u clock %u".
  ASSERT_FALSE(PortLines.empty());
  const PortLine &last = PortLines.back();
  ASSERT_EQ(last.Format.rfind("@demo ended", 0), 0u) << last.Format;
  ASSERT_EQ(last.Args.size(), 4u);
  EXPECT_EQ(last.Args[1], 1u) << "one update";
  EXPECT_EQ(last.Args[2], 1u) << "verified";
}

TEST_F(FlashToolTest, EscapeAtTheQuestionGoesBackAndAnotherFileCanBeChosen) {
  vol.Root().AddFile(u"OTHER.ROM", 0x10000).content.assign(0x10000, 0xA5);
  RunTool([&](const UI_RUN_PARAMETERS &run) {
    EFI_FILE_PROTOCOL *r = OpenRoot();
    auto info = Info(u"BOARD.ROM");
    size_t before = p.LivePoolCount();
    ASSERT_EQ(run.FileChosenEnterHook(r, (EFI_FILE_INFO *)info.data(), run.HookContext), EFI_SUCCESS);
    EXPECT_GT(p.LivePoolCount(), before) << "the file is held while the question is up";
    EFI_INPUT_KEY k = Esc;
    EXPECT_EQ(run.FileChosenKeyHook(&k, nullptr), EFI_NOT_READY);
    EXPECT_FALSE(ui.BoxShown);
    EXPECT_EQ(p.LivePoolCount(), before) << "going back releases the file";

    auto other = Info(u"OTHER.ROM");
    ASSERT_EQ(run.FileChosenEnterHook(r, (EFI_FILE_INFO *)other.data(), run.HookContext), EFI_SUCCESS);
    EXPECT_EQ(ui.Row(UI_WINDOW_CALLER, 1), u"File     : OTHER.ROM");
    k = Enter;
    ASSERT_EQ(run.FileChosenKeyHook(&k, nullptr), EFI_SUCCESS);
    ASSERT_EQ(run.FileFollowUpEnterHook(r, (EFI_FILE_INFO *)other.data(), run.HookContext), EFI_SUCCESS);
    EXPECT_NE(ui.Box().find(u"Update complete"), std::u16string::npos);
    r->Close(r);
  });
}

TEST_F(FlashToolTest, FilesThatCannotBeReadAreReportedAndNeverWritten) {
  // Larger than the part (as a record could claim), then an allocation that fails.
  RunTool([&](const UI_RUN_PARAMETERS &run) {
    EFI_FILE_PROTOCOL *r = OpenRoot();
    auto info = Info(u"BOARD.ROM");
    ((EFI_FILE_INFO *)info.data())->FileSize = 33ull * 1024 * 1024;
    ASSERT_EQ(run.FileChosenEnterHook(r, (EFI_FILE_INFO *)info.data(), run.HookContext), EFI_SUCCESS)
        << "an error from an enter hook would end the whole run";
    EXPECT_NE(ui.Box().find(u"Cannot read this file"), std::u16string::npos);
    EFI_INPUT_KEY k = Enter;  // even Enter only goes back
    EXPECT_EQ(run.FileChosenKeyHook(&k, nullptr), EFI_NOT_READY);

    info = Info(u"BOARD.ROM");
    p.FailAllocation(1);
    ASSERT_EQ(run.FileChosenEnterHook(r, (EFI_FILE_INFO *)info.data(), run.HookContext), EFI_SUCCESS);
    EXPECT_NE(ui.Box().find(u"Cannot read this file"), std::u16string::npos);
    EXPECT_NE(ui.Row(UI_WINDOW_CALLER, 2).find(u"Out of Resources"), std::u16string::npos) << Narrow(ui.Row(UI_WINDOW_CALLER, 2));
    EXPECT_EQ(run.FileChosenKeyHook(&k, nullptr), EFI_NOT_READY);

    // A missing file: the follow-up, if ever reached, writes nothing.
    auto gone = Info(u"BOARD.ROM");
    vol.Root().Remove(u"BOARD.ROM");
    ASSERT_EQ(run.FileChosenEnterHook(r, (EFI_FILE_INFO *)gone.data(), run.HookContext), EFI_SUCCESS);
    EXPECT_EQ(run.FileFollowUpEnterHook(r, (EFI_FILE_INFO *)gone.data(), run.HookContext), EFI_SUCCESS);
    EXPECT_NE(ui.Box().find(u"Update FAILED"), std::u16string::npos);
    EXPECT_EQ(ui.Progress, std::vector<int>{0}) << "no progress past 0 without a file";
    r->Close(r);
  });
}

TEST_F(FlashToolTest, EscapeQuestionLeavesOnEnterAndStaysOnEsc) {
  RunTool([&](const UI_RUN_PARAMETERS &run) {
    ASSERT_EQ(run.EscapeEnterHook(nullptr, nullptr, run.HookContext), EFI_SUCCESS);
    EXPECT_NE(ui.Box().find(u"Leave the flash tool?"), std::u16string::npos);
    EFI_INPUT_KEY k = Down;
    EFI_STATUS s = run.EscapeKeyHook(&k, nullptr);
    EXPECT_NE(s, EFI_NOT_READY);
    EXPECT_NE(s, EFI_END_OF_MEDIA);
    k = Esc;
    EXPECT_EQ(run.EscapeKeyHook(&k, nullptr), EFI_NOT_READY);
    EXPECT_FALSE(ui.BoxShown) << "the list below is not always redrawn, so the tool hides the box";
    k = Enter;
    EXPECT_EQ(run.EscapeKeyHook(&k, nullptr), EFI_END_OF_MEDIA);
  });
}

TEST_F(FlashToolTest, ClockSignalsTheRunOncePerSecondAndShowsTheTime) {
  p.SetTime(EFI_TIME{2026, 12, 9, 1, 2, 3, 0, 0, 0, 0, 0});
  RunTool([&](const UI_RUN_PARAMETERS &run) {
    // The run's own event, made as the UI makes it.
    EFI_EVENT event = nullptr;
    ASSERT_EQ(gBS->CreateEvent(EVT_NOTIFY_WAIT, TPL_CALLBACK, run.EventNotify, run.HookContext, &event), EFI_SUCCESS);
    EXPECT_EQ(gBS->CheckEvent(event), EFI_NOT_READY) << "no second has passed";
    std::vector<EFI_EVENT> timers = p.Timers();
    ASSERT_EQ(timers.size(), 1u);
    EXPECT_TRUE(p.IsArmed(timers[0]));
    EXPECT_EQ(p.PeriodOf(timers[0]), 10u * 1000 * 1000);
    p.Advance(10u * 1000 * 1000);
    EXPECT_EQ(gBS->CheckEvent(event), EFI_SUCCESS) << "a second passed";
    EXPECT_EQ(gBS->CheckEvent(event), EFI_NOT_READY) << "one signal per second";
    EXPECT_EQ(run.EventHook(run.HookContext), EFI_SUCCESS);
    EXPECT_EQ(ui.Row(UI_WINDOW_CALLER, 0), u"01:02:03");
    gBS->CloseEvent(event);
  });
}

// ---- The emulated part ----

class FlashPartTest : public ::testing::Test {
 protected:
  fake::Platform p;
  FlashPart part{};
  void SetUp() override {
    gST = p.SystemTable();
    gBS = p.BootServices();
    gRT = p.RuntimeServices();
    ASSERT_EQ(FlashOpen(&part, 2 * FLASH_BLOCK_SIZE), EFI_SUCCESS);
  }
  void TearDown() override {
    FlashClose(&part);
    EXPECT_EQ(p.LivePageCount(), 0u);
  }
};

TEST_F(FlashPartTest, ProgrammingOnlyClearsBitsSoAnUnerasedBlockFailsToVerify) {
  std::vector<uint8_t> data(FLASH_BLOCK_SIZE, 0x0F);
  data[10] = 0xF0;
  ASSERT_EQ(FlashProgram(&part, 0, data.data(), data.size()), EFI_SUCCESS);
  EXPECT_EQ(FlashCompare(&part, 0, data.data(), data.size()), 0u) << "old contents ANDed with the new";
  EXPECT_EQ(part.Base[0], 0x5A & 0x0F);

  ASSERT_EQ(FlashEraseBlock(&part, 0), EFI_SUCCESS);
  EXPECT_EQ(part.Base[FLASH_BLOCK_SIZE - 1], 0xFF);
  EXPECT_EQ(part.Base[FLASH_BLOCK_SIZE], 0x5A) << "erase stays inside its block";
  ASSERT_EQ(FlashProgram(&part, 0, data.data(), data.size()), EFI_SUCCESS);
  EXPECT_EQ(FlashCompare(&part, 0, data.data(), data.size()), data.size());
  EXPECT_EQ(part.Erases, 1u);
  EXPECT_EQ(part.Programs, 2u * FLASH_BLOCK_SIZE / FLASH_PAGE_SIZE);
  EXPECT_GE(p.StalledMicroseconds(), part.EraseMicroseconds) << "operations take time, as a real part's do";
}

TEST_F(FlashPartTest, OperationsOutsideThePartAreRefused) {
  uint8_t byte = 0;
  EXPECT_EQ(FlashEraseBlock(&part, 2 * FLASH_BLOCK_SIZE), EFI_INVALID_PARAMETER);
  EXPECT_EQ(FlashEraseBlock(&part, 100), EFI_INVALID_PARAMETER) << "erase works on whole blocks";
  EXPECT_EQ(FlashProgram(&part, 2 * FLASH_BLOCK_SIZE, &byte, 1), EFI_INVALID_PARAMETER);
  EXPECT_EQ(FlashProgram(&part, ~(UINTN)0, &byte, 2), EFI_INVALID_PARAMETER) << "offset + length wraps";
  EXPECT_EQ(FlashCompare(&part, 2 * FLASH_BLOCK_SIZE - 1, &byte, 2), 0u);
  FlashPart bad{};
  EXPECT_EQ(FlashOpen(&bad, FLASH_BLOCK_SIZE + 1), EFI_INVALID_PARAMETER);
  EXPECT_EQ(FlashOpen(&bad, 0), EFI_INVALID_PARAMETER);
}

}  // namespace
