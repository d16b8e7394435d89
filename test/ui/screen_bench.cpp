// SPDX-License-Identifier: BSD-2-Clause-Patent
// Repaint passes over the full screen of a run (background, the four list
// windows, the hidden message box and the transparent pointer layer) on the
// fake console: an idle pass, a pass after one changed cell, and the pass
// that ScreenInvalidate runs. Each reports the console calls and characters
// it makes. Built without sanitizers; run by hand or by `make bench`.
#include <benchmark/benchmark.h>

#include "test/fake/fake.h"
#include "ui/status_report.h"
#include "ui/layout.h"
#include "ui/screen.h"
#include "ui/window_text.h"

namespace {

// A run's screen as the key states leave it after the volume list is drawn.
struct RunScreen {
  fake::Platform p;
  UI_WINDOW *pointer = nullptr;

  RunScreen() {
    EfiInitializeDriverLib(nullptr, p.SystemTable());
    if (InitialDrawFunction() != EFI_SUCCESS) abort();
    // The pointer layer as the run prepares it: full screen, every cell transparent.
    if (WindowCreate(CellScreen.ScreenColumns, CellScreen.ScreenRows, CellScreen.ScreenColumns, 0x4F, &pointer) != EFI_SUCCESS) abort();
    for (UINTN i = 0; i < CellScreen.ScreenColumns * CellScreen.ScreenRows; i++) pointer->CellFlags[i] = CELL_TRANSPARENT;
    pointer->Priority = 80;
    UINT64 black = 0x0F, green = 0x2F;
    WindowClear(RunWindows.VolumeListWindow, &black);
    WindowClear(RunWindows.FileListWindow, &green);
    WindowClear(RunWindows.FileInfoWindow, &black);
    WindowClear(RunWindows.CallerWindow, &black);
    UI_CELL_POSITION pos = {0, 0, 0x0F};
    WindowPrint(RunWindows.VolumeListWindow, &pos, TEXT_MODE_LEFT, u"Total FFS : %d", (UINT64)2);
    pos = {0, 1, 0x1F};
    WindowPrint(RunWindows.VolumeListWindow, &pos, TEXT_MODE_LEFT, u"  %cfs%d  ", (UINT64)0x25BA, (UINT64)0);
    pos = {0, 2, 0x0F};
    WindowPrint(RunWindows.VolumeListWindow, &pos, TEXT_MODE_LEFT, u"   fs%d  ", (UINT64)1);
    pos = {0, 0, 0x0F};
    WindowPrint(RunWindows.FileInfoWindow, &pos, TEXT_MODE_LEFT, u"File Date    : %s", u"BIOS.ROM (01/02/2024) ");
    p.FireTimer(CellScreen.RepaintEvent);
    p.FireTimer(CellScreen.RepaintEvent);
    p.ClearConsoleLog();
  }
  ~RunScreen() {
    WindowDestroy(pointer);
    UI_WINDOW **windows[] = {&RunWindows.CallerWindow,     &RunWindows.FileInfoWindow, &RunWindows.FileListWindow,
                             &RunWindows.VolumeListWindow, &RunWindows.MessageBox,     &RunWindows.BackgroundWindow};
    for (UI_WINDOW **w : windows) {
      WindowDestroy(*w);
      *w = nullptr;
    }
    ScreenShutdown();
  }

  void Report(benchmark::State &state, uint64_t calls, uint64_t chars, uint64_t outputs) {
    double n = static_cast<double>(state.iterations());
    state.counters["console_calls"] = calls / n;
    state.counters["output_strings"] = outputs / n;
    state.counters["characters"] = chars / n;
  }
};

uint64_t OutputStrings(const fake::Platform &p) {
  uint64_t n = 0;
  for (const auto &c : p.ConsoleLog()) n += c.name == "OutputString";
  return n;
}

// Counts a pass's console calls and output strings outside the timing, and clears the log.
void Tally(benchmark::State &state, fake::Platform &p, uint64_t &calls, uint64_t &outputs) {
  state.PauseTiming();
  calls += p.ConsoleLog().size();
  outputs += OutputStrings(p);
  p.ClearConsoleLog();
  state.ResumeTiming();
}

void BM_IdlePass(benchmark::State &state) {
  RunScreen s;
  uint64_t chars0 = s.p.CharactersWritten();
  for (auto _ : state) ScreenRepaint(CellScreen.RepaintEvent, nullptr);
  s.Report(state, s.p.ConsoleLog().size(), s.p.CharactersWritten() - chars0, OutputStrings(s.p));
}

void BM_OneChangedCell(benchmark::State &state) {
  RunScreen s;
  uint64_t chars0 = s.p.CharactersWritten(), calls = 0, outputs = 0;
  CHAR16 *cell = &RunWindows.CallerWindow->CellChars[3 * RunWindows.CallerWindow->Width + 10];
  for (auto _ : state) {
    *cell = *cell == u'x' ? u'y' : u'x';
    ScreenRepaint(CellScreen.RepaintEvent, nullptr);
    Tally(state, s.p, calls, outputs);
  }
  s.Report(state, calls, s.p.CharactersWritten() - chars0, outputs);
}

void BM_AfterInvalidate(benchmark::State &state) {
  RunScreen s;
  uint64_t chars0 = s.p.CharactersWritten(), calls = 0, outputs = 0;
  for (auto _ : state) {
    ScreenInvalidate();  // signals the repaint, which runs at once at TPL_APPLICATION
    Tally(state, s.p, calls, outputs);
  }
  s.Report(state, calls, s.p.CharactersWritten() - chars0, outputs);
}

BENCHMARK(BM_IdlePass)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OneChangedCell)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_AfterInvalidate)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
