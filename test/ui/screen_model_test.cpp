// SPDX-License-Identifier: BSD-2-Clause-Patent
// Model-based test of the compositor: random sequences of window creation,
// moves, priority changes, text, clears, transparency and destruction, with
// repaint passes fired at random points, also between the single stores of
// list insertion and removal and in the middle of boot-service calls. After
// a final pass the console must show exactly what a plain composition of the
// windows gives: in every cell the opaque cell of the highest priority, the
// newest of equal ones, and a space in the default attribute where none is.
#include <random>
#include <sstream>
#include <vector>

#include "screen_fixture.h"

namespace screen_test {
namespace {

class Model : public ScreenTest {
 protected:
  static Model *self;
  std::mt19937_64 rng;
  std::vector<UI_WINDOW *> windows;  // oldest first, as the list must hold them
  std::ostringstream log;
  UINT64 defaultAttr = 0x0F;
  unsigned preemptOneIn = 3;

  UINTN Rand(UINTN n) { return static_cast<UINTN>(rng() % n); }

  static void MaybeRepaint() {
    if (self && CellScreen.RepaintEvent && self->Rand(self->preemptOneIn) == 0) self->p.FireTimer(CellScreen.RepaintEvent);
  }

  void Start(uint64_t seed) {
    self = this;
    rng.seed(seed);
    defaultAttr = Rand(0x80);
    ASSERT_EQ(ScreenInit(defaultAttr), EFI_SUCCESS);
    p.ClearConsoleLog();
    ScreenPreemptionHook = MaybeRepaint;
    p.OnServiceCall(MaybeRepaint);
  }

  UI_WINDOW *Pick() { return windows[Rand(windows.size())]; }

  UINT64 RandomAttr() { return Rand(8) == 0 ? 0x80 | Rand(0x80) : Rand(0x80); }

  std::u16string RandomText() {
    static const char16_t alphabet[] = u"abcdefghijklmnopqrstuvwxyz0123456789 \x2500\x2502\x25BA\r\n";
    std::u16string s;
    for (UINTN n = Rand(40); n > 0; n--) s.push_back(alphabet[Rand(sizeof(alphabet) / sizeof(alphabet[0]) - 1)]);
    return s;
  }

  void Create() {
    UI_WINDOW *w = nullptr;
    UINTN width = 1 + Rand(40), height = 1 + Rand(14);
    if (Rand(4) == 0 && width >= 2 && height >= 2) {
      UI_WINDOW_GEOMETRY g = {width, height, RandomAttr()};
      ASSERT_EQ(WindowCreateFramed(&g, nullptr, &w), EFI_SUCCESS);
    } else {
      ASSERT_EQ(WindowCreate(width, height, 1 + Rand(width), RandomAttr(), &w), EFI_SUCCESS);
    }
    windows.push_back(w);
    UINT8 prio = static_cast<UINT8>(16 + Rand(239));
    UINTN x = Rand(110), y = Rand(32);
    log << "create " << w << " " << width << "x" << height << " prio " << int(prio) << " at " << x << "," << y << "\n";
    WindowSetPriority(w, prio);
    WindowMove(w, x, y);
  }

  void Step(bool &transparency) {
    UINTN op = windows.empty() ? 0 : Rand(12);
    switch (op) {
      case 0:
        if (windows.size() < 8) Create();
        break;
      case 1: {
        UI_WINDOW *w = Pick();
        UINTN x = Rand(110), y = Rand(32);
        log << "move " << w << " " << x << "," << y << "\n";
        WindowMove(w, x, y);
        break;
      }
      case 2: {
        UI_WINDOW *w = Pick();
        UINT8 prio = Rand(5) == 0 ? WINDOW_KEEP_PRIORITY : static_cast<UINT8>(16 + Rand(239));
        log << "priority " << w << " " << int(prio) << "\n";
        WindowSetPriority(w, prio);
        break;
      }
      case 3:
      case 4: {
        UI_WINDOW *w = Pick();
        UI_CELL_POSITION pos = {Rand(w->Width + 2), Rand(w->Height + 1), Rand(3) == 0 ? CELL_KEEP_ATTRIBUTE : RandomAttr()};
        UINT32 mode = static_cast<UINT32>(Rand(5));
        std::u16string text = RandomText();
        log << "print " << w << " mode " << mode << "\n";
        WindowPrint(w, &pos, mode, u"%s", text.c_str());
        break;
      }
      case 5: {
        UI_WINDOW *w = Pick();
        UINT64 attr = RandomAttr();
        log << "clear " << w << "\n";
        WindowClear(w, Rand(2) ? &attr : nullptr);
        break;
      }
      case 6: {
        UI_WINDOW *w = Pick();
        UINT64 attr = RandomAttr();
        log << "clear row " << w << "\n";
        WindowClearRow(w, Rand(w->Height + 1), Rand(2) ? &attr : nullptr);
        break;
      }
      case 7: {
        // A rectangle of cells made transparent or opaque again, marked dirty
        // as every writer of cells does.
        UI_WINDOW *w = Pick();
        bool on = Rand(2);
        UINTN c0 = Rand(w->Width), r0 = Rand(w->Height);
        UINTN c1 = c0 + Rand(w->Width - c0), r1 = r0 + Rand(w->Height - r0);
        log << "transparent " << w << " " << on << "\n";
        for (UINTN r = r0; r <= r1; r++)
          for (UINTN c = c0; c <= c1; c++) {
            UINT8 &f = w->CellFlags[r * w->Width + c];
            f = static_cast<UINT8>((on ? (f | CELL_TRANSPARENT) : (f & ~CELL_TRANSPARENT)) | CELL_DIRTY);
          }
        transparency = true;
        break;
      }
      case 8: {
        UINTN i = Rand(windows.size());
        log << "destroy " << windows[i] << "\n";
        ASSERT_EQ(WindowDestroy(windows[i]), EFI_SUCCESS);
        windows.erase(windows.begin() + i);
        break;
      }
      case 9:
        log << "invalidate\n";
        ScreenInvalidate();
        break;
      default:
        log << "pass\n";
        Pass();
        break;
    }
    MaybeRepaint();
  }

  void ExpectListOrder() {
    std::vector<UI_WINDOW *> listed;
    for (UI_LIST_ENTRY *e = CellScreen.WindowList.BackLink; e != &CellScreen.WindowList && listed.size() <= windows.size(); e = e->BackLink)
      listed.push_back(reinterpret_cast<UI_WINDOW *>(e));
    EXPECT_EQ(listed, windows);
    std::vector<UI_WINDOW *> forward;
    for (UI_LIST_ENTRY *e = CellScreen.WindowList.ForwardLink; e != &CellScreen.WindowList && forward.size() <= windows.size();
         e = e->ForwardLink)
      forward.insert(forward.begin(), reinterpret_cast<UI_WINDOW *>(e));
    EXPECT_EQ(forward, windows);
  }

  // The plain composition, compared cell by cell with the console.
  bool ExpectComposition() {
    int wrong = 0;
    for (UINTN y = 0; y < CellScreen.ScreenRows; y++)
      for (UINTN x = 0; x < CellScreen.ScreenColumns; x++) {
        if (x == CellScreen.ScreenColumns - 1 && y == CellScreen.ScreenRows - 1) continue;
        const UI_WINDOW *best = nullptr;
        UINTN bestIndex = 0;
        for (const UI_WINDOW *w : windows) {
          if (x < w->Column || y < w->Row || x - w->Column >= w->Width || y - w->Row >= w->Height) continue;
          UINTN i = (y - w->Row) * w->Width + (x - w->Column);
          if (w->CellFlags[i] & CELL_TRANSPARENT) continue;
          if (best == nullptr || w->Priority >= best->Priority) {
            best = w;
            bestIndex = i;
          }
        }
        char16_t ch = u' ';
        uint8_t attr = static_cast<uint8_t>(defaultAttr);
        if (best != nullptr) {
          if (best->CellChars[bestIndex] >= 0x20) ch = best->CellChars[bestIndex];
          attr = static_cast<uint8_t>(best->CellAttrs[bestIndex] & 0x7F);
        }
        if ((Ch(x, y) != ch || Attr(x, y) != attr) && wrong++ < 5)
          ADD_FAILURE() << "cell " << x << "," << y << ": console '" << char(Ch(x, y) & 0x7F) << "' " << int(Attr(x, y))
                        << ", composition '" << char(ch & 0x7F) << "' " << int(attr) << ", shadow priority "
                        << int(CellScreen.ScreenPriority[y * (CellScreen.ScreenColumns + 1) + x]) << " attr "
                        << CellScreen.ScreenAttrs[y * (CellScreen.ScreenColumns + 1) + x];
      }
    return wrong == 0;
  }

  void Finish() {
    ScreenPreemptionHook = nullptr;
    p.OnServiceCall(nullptr);
    auto cells = WrittenCells(p);
    EXPECT_EQ(cells.count({CellScreen.ScreenColumns - 1, CellScreen.ScreenRows - 1}), 0u) << "bottom-right cell written";
    for (const auto &c : cells) {
      EXPECT_LT(c.first, CellScreen.ScreenColumns);
      EXPECT_LT(c.second, CellScreen.ScreenRows);
    }
    for (UI_WINDOW *w : windows) WindowDestroy(w);
    windows.clear();
    ScreenShutdown();
    EXPECT_EQ(p.LivePoolCount(), 0u);
    EXPECT_EQ(p.LivePageCount(), 0u);
    self = nullptr;
  }

  void RunSequence(uint64_t seed, int steps, bool allowTransparency) {
    Start(seed);
    bool transparency = false;
    for (int i = 0; i < steps && !HasFatalFailure(); i++) {
      bool t = false;
      Step(t);
      if (t && !allowTransparency) {
        // Undo the transparency at once, for the one-pass sequences.
        for (UI_WINDOW *w : windows)
          for (UINTN k = 0; k < w->Width * w->Height; k++)
            if (w->CellFlags[k] & CELL_TRANSPARENT) w->CellFlags[k] = (w->CellFlags[k] & ~CELL_TRANSPARENT) | CELL_DIRTY;
      }
      transparency |= t && allowTransparency;
    }
    ExpectListOrder();
    Pass();
    // A dirty transparent cell gives its cell up on one pass; the window
    // beneath takes it back on the next.
    if (transparency) Pass();
    bool ok = ExpectComposition();
    if (!ok) {
      for (UI_WINDOW *w : windows)
        log << "window " << w << " " << w->Width << "x" << w->Height << " at " << w->Column << "," << w->Row << " prio " << int(w->Priority)
            << "\n";
      ADD_FAILURE() << "seed " << seed << "\n" << log.str();
    }
    log.str("");
    Finish();
  }
};
Model *Model::self = nullptr;

TEST_F(Model, OnePassAfterRandomWindowWorkShowsThePlainComposition) {
  for (uint64_t seed = 1; seed <= 120 && !HasFailure(); seed++) RunSequence(seed, 60, false);
}

TEST_F(Model, WithTransparentCellsTwoPassesShowThePlainComposition) {
  for (uint64_t seed = 1001; seed <= 1120 && !HasFailure(); seed++) RunSequence(seed, 60, true);
}

TEST_F(Model, RepaintsAtEveryPossiblePointStillConverge) {
  preemptOneIn = 1;
  for (uint64_t seed = 2001; seed <= 2030 && !HasFailure(); seed++) RunSequence(seed, 40, true);
}

}  // namespace
}  // namespace screen_test
