// The graphics console on the fake platform and fake graphics output: a
// console's text and fills around and inside a backdrop, checked as pixel
// grids ('.' the text's blue background, '#' its white ink, 'g' the grey
// backdrop, ' ' black), and its start, outputs that appear later, and unload.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "efi/graphics_console.h"
#include "test/fake/gop.h"

EFI_EXTERN_C EFI_STATUS EFIAPI AdvancedGcDxeEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);

namespace {

const EFI_GUID kGcGuid = ADVANCED_GC_PROTOCOL_GUID;
constexpr EFI_GRAPHICS_OUTPUT_BLT_PIXEL kBlue = {0xAA, 0, 0, 0}, kWhite = {0xFF, 0xFF, 0xFF, 0}, kGrey = {64, 64, 64, 0x5A},
                                        kBlack = {0, 0, 0, 0};
// A glyph cell as the console draws it: 8 x 4, blank in its top-left corner.
const char *const kGlyph[] = {"........", "..#..#..", "..#..#..", "........"};
// The backdrop's rectangle: x 8 to 23, y 4 to 7.
constexpr UINTN kX = 8, kY = 4, kW = 16, kH = 4;

class AdvancedGc : public ::testing::Test {
 public:
  void SetUp() override {
    image = platform.NewImageHandle();
    ASSERT_EQ(AdvancedGcDxeEntry(image, platform.SystemTable()), EFI_SUCCESS);
    gc = (ADVANCED_GC_PROTOCOL *)platform.Find(kGcGuid);
    ASSERT_NE(gc, nullptr);
  }
  void TearDown() override {
    auto unload = platform.LoadedImage(image)->Unload;
    ASSERT_NE(unload, nullptr);
    EXPECT_EQ(unload(image), EFI_SUCCESS);
    EXPECT_EQ(platform.Find(kGcGuid), nullptr);
    EXPECT_EQ(platform.LivePoolCount(), 0u);
  }
  EFI_GRAPHICS_OUTPUT_PROTOCOL *Out() { return gop.Protocol(); }

  void Text(UINTN X, UINTN Y) {
    std::vector<EFI_GRAPHICS_OUTPUT_BLT_PIXEL> cell;
    for (const char *row : kGlyph)
      for (const char *c = row; *c; c++) cell.push_back(*c == '#' ? kWhite : kBlue);
    EXPECT_EQ(Out()->Blt(Out(), cell.data(), EfiBltBufferToVideo, 0, 0, X, Y, 8, 4, 0), EFI_SUCCESS);
  }
  void Fill(UINTN X, UINTN Y, UINTN W, UINTN H) {
    EFI_GRAPHICS_OUTPUT_BLT_PIXEL black = kBlack;
    EXPECT_EQ(Out()->Blt(Out(), &black, EfiBltVideoFill, 0, 0, X, Y, W, H, 0), EFI_SUCCESS);
  }
  // Shades the rectangle as the UI does: reads it, greys it, hands it over, frees it.
  void Shade() {
    std::vector<EFI_GRAPHICS_OUTPUT_BLT_PIXEL> buffer(kW * kH);
    Out()->Blt(Out(), buffer.data(), EfiBltVideoToBltBuffer, kX, kY, 0, 0, kW, kH, 0);
    for (auto &p : buffer) p = kGrey;
    gc->SetBackdrop(buffer.data(), kX, kY, kW, kH);
    for (auto &p : buffer) p = kBlack;  // the console kept its own copy
  }
  std::vector<std::string> Rows(UINTN Y0, UINTN Y1) {
    std::vector<std::string> rows;
    for (UINTN y = Y0; y < Y1; y++) {
      std::string row;
      for (UINTN x = 0; x < gop.Width(); x++) {
        const auto &p = gop.At(x, y);
        char c = '?';
        for (auto [px, ch] : {std::pair{kBlue, '.'}, {kWhite, '#'}, {kGrey, 'g'}, {kBlack, ' '}})
          if (p.Blue == px.Blue && p.Green == px.Green && p.Red == px.Red) c = ch;
        row += c;
      }
      rows.push_back(row);
    }
    return rows;
  }

  fake::Platform platform;
  fake::Gop gop{platform, 40, 12};
  EFI_HANDLE image = nullptr;
  ADVANCED_GC_PROTOCOL *gc = nullptr;
};

using Grid = std::vector<std::string>;

// Text before the backdrop stays in front of it, text after it is drawn over
// it, a fill inside it shows it again, and once it is withdrawn the text
// keeps its own background.
TEST_F(AdvancedGc, KeepsTextInFrontOfTheBackdrop) {
  struct Step {
    const char *what;
    void (*act)(AdvancedGc *t);
    Grid want;  // rows 4 to 7
  };
  const Step steps[] = {
      {"text across both edges, then the backdrop",
       [](AdvancedGc *t) {
         t->Text(4, 4);
         t->Text(20, 4);
         t->Shade();
       },
       {"    ....gggggggggggggggg....            ",  //
        "    ..#.g#gggggggggggg#g.#..            ",  //
        "    ..#.g#gggggggggggg#g.#..            ",  //
        "    ....gggggggggggggggg....            "}},
      {"text inside the backdrop",
       [](AdvancedGc *t) { t->Text(12, 4); },
       {"    ....gggggggggggggggg....            ",  //
        "    ..#.g#gggg#gg#gggg#g.#..            ",  //
        "    ..#.g#gggg#gg#gggg#g.#..            ",  //
        "    ....gggggggggggggggg....            "}},
      {"a fill across the backdrop's right half and beyond",
       [](AdvancedGc *t) { t->Fill(16, 3, 16, 6); },
       {"    ....gggggggggggggggg                ",  //
        "    ..#.g#gggg#ggggggggg                ",  //
        "    ..#.g#gggg#ggggggggg                ",  //
        "    ....gggggggggggggggg                "}},
      {"the backdrop withdrawn, then text where it was",
       [](AdvancedGc *t) {
         t->gc->ClearBackdrop(kX, kY, kW, kH);
         t->Text(12, 4);
       },
       {"    ....gggg........gggg                ",  //
        "    ..#.g#gg..#..#..gggg                ",  //
        "    ..#.g#gg..#..#..gggg                ",  //
        "    ....gggg........gggg                "}},
  };
  for (const Step &s : steps) {
    s.act(this);
    EXPECT_EQ(Rows(kY, kY + kH), s.want) << s.what;
    EXPECT_EQ(Rows(kY - 1, kY), Grid{std::string(40, ' ')}) << s.what;  // the row above stays black
  }
}

// The same rectangle shaded twice keeps one backdrop; the slots the UI does
// not call refuse; a backdrop off the screen's edge is cut to it; odd calls
// change nothing.
TEST_F(AdvancedGc, ReplacesCutsAndRefuses) {
  Shade();
  Shade();
  EXPECT_EQ(platform.LivePoolCount(), 2u);  // the ink map and one backdrop
  for (int i = 0; i < 3; i++) EXPECT_EQ(((EFI_STATUS(EFIAPI *)(VOID))((VOID **)gc)[i])(), EFI_UNSUPPORTED);
  std::vector<EFI_GRAPHICS_OUTPUT_BLT_PIXEL> edge(16 * 16, kGrey);
  gc->SetBackdrop(edge.data(), 32, 8, 16, 16);  // x 32 to 47 on a 40-wide screen
  EXPECT_EQ(Rows(11, 12), Grid{std::string(32, ' ') + std::string(8, 'g')});
  gc->SetBackdrop(nullptr, 0, 0, 4, 4);
  gc->SetBackdrop(edge.data(), 0, 0, 0, 4);
  gc->SetBackdrop(edge.data(), 0, 0, ~(UINTN)0, 2);
  gc->ClearBackdrop(1, 2, 3, 4);
  EXPECT_EQ(platform.LivePoolCount(), 3u);
  EXPECT_EQ(Rows(0, 1), Grid{std::string(40, ' ')});
}

// An output that appears later is watched too, and one that goes away is
// forgotten (unloading must not write into it); Blt calls the output refuses
// come back refused and leave the screen as it was.
TEST_F(AdvancedGc, WatchesLaterOutputsAndPassesRefusals) {
  auto later = std::make_unique<fake::Gop>(platform, 40, 12);
  EXPECT_EQ((VOID *)later->Protocol()->Blt, (VOID *)Out()->Blt);
  later.reset();
  Shade();
  EFI_GRAPHICS_OUTPUT_BLT_PIXEL px = kWhite;
  EXPECT_EQ(Out()->Blt(Out(), &px, EfiBltVideoFill, 0, 0, 30, 4, 20, 1, 0), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Out()->Blt(Out(), nullptr, EfiBltBufferToVideo, 0, 0, 8, 4, 4, 4, 0), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Rows(4, 5), Grid{"        gggggggggggggggg                "});
}

// Unloading gives each output its Blt back, unless another module has
// wrapped it since.
TEST(AdvancedGcUnload, RestoresBltOrRefuses) {
  fake::Platform platform;
  fake::Gop gop{platform, 40, 12};
  auto own = gop.Protocol()->Blt;
  EFI_HANDLE image = platform.NewImageHandle();
  ASSERT_EQ(AdvancedGcDxeEntry(image, platform.SystemTable()), EFI_SUCCESS);
  auto watched = gop.Protocol()->Blt;
  EXPECT_NE(watched, own);
  auto unload = platform.LoadedImage(image)->Unload;
  gop.Protocol()->Blt = own;  // another module's wrapper
  EXPECT_EQ(unload(image), EFI_ACCESS_DENIED);
  EXPECT_NE(platform.Find(kGcGuid), nullptr);
  gop.Protocol()->Blt = watched;
  EXPECT_EQ(unload(image), EFI_SUCCESS);
  EXPECT_EQ(gop.Protocol()->Blt, own);
  EXPECT_EQ(platform.LivePoolCount(), 0u);
}

}  // namespace
