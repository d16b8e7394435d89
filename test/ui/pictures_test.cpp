// Loading the nineteen pictures from firmware files and drawing the corner
// mark and the progress bar at their pixel positions, checked on the frame
// buffer of a graphics output and on the Blt calls it received.
#include <tuple>

#include "picture_fixture.h"
#include "test_fv.h"
#include "fake/gop.h"
#include "ui/pictures.h"
#include "ui/section.h"

namespace picture_test {
namespace {

struct Named {
  PICTURE *table;
  UINTN index;
  std::string name;
};

// Every picture, with a name for messages; picture i is drawn in colour i.
std::vector<Named> AllPictures() {
  std::vector<Named> all;
  for (UINTN d = 0; d < 10; d++) all.push_back({Pictures.DigitPictures, d, "digit" + std::to_string(d)});
  for (UINTN s = 0; s < 4; s++) all.push_back({Pictures.BarPictures, s, "bar" + std::to_string(s)});
  all.push_back({Pictures.MarkPictureA, 0, "markA"});
  all.push_back({Pictures.MarkPictureB, 0, "markB"});
  all.push_back({Pictures.ProgressSuffixPicture, 0, "suffix"});
  all.push_back({Pictures.BarBlankPicture, 0, "barBlank"});
  all.push_back({Pictures.DigitBlankPicture, 0, "digitBlank"});
  return all;
}

constexpr EFI_GRAPHICS_OUTPUT_BLT_PIXEL kUntouched = {0x11, 0x22, 0x33, 0x77};

bool Same(EFI_GRAPHICS_OUTPUT_BLT_PIXEL a, EFI_GRAPHICS_OUTPUT_BLT_PIXEL b) {
  return a.Blue == b.Blue && a.Green == b.Green && a.Red == b.Red;
}

EFI_GRAPHICS_OUTPUT_BLT_PIXEL ColourOf(size_t i) { return {(UINT8)(10 + i), (UINT8)(100 + i), (UINT8)(200 - i), 0}; }

std::vector<UINT8> SolidBmp(UINTN w, UINTN h, EFI_GRAPHICS_OUTPUT_BLT_PIXEL c) {
  BmpFields s;
  s.width = (INT32)w;
  s.height = (INT32)h;
  UINTN stride = (w * 3 + 3) & ~3u;
  s.pixels.assign(stride * h, 0);
  for (UINTN y = 0; y < h; y++)
    for (UINTN x = 0; x < w; x++) {
      s.pixels[y * stride + x * 3] = c.Blue;
      s.pixels[y * stride + x * 3 + 1] = c.Green;
      s.pixels[y * stride + x * 3 + 2] = c.Red;
    }
  return MakeBmp(s);
}

class PicturesTest : public PlatformTest {
 protected:
  PicturesTest() {
    gop_.Fill(kUntouched);
    for (const Named &p : AllPictures()) {
      p.table[p.index].Width = p.table[p.index].Height = 0;
      p.table[p.index].Pixels = nullptr;
    }
    EFI_HANDLE h = nullptr;
    EXPECT_EQ(platform_.Install(&h, gFirmwareVolumeProtocolGuid, volume_.Protocol()), EFI_SUCCESS);
  }
  ~PicturesTest() override { FreePictures(); }

  // Puts every picture into the volume as a solid 24-bit bitmap; widths by
  // name override the defaults (digits 10, bars 9, marks 12 and 4, suffix 10).
  void Publish(std::map<std::string, UINTN> widths = {}) {
    std::vector<Named> all = AllPictures();
    std::map<const PICTURE *, std::vector<std::vector<UINT8>>> files;
    for (size_t i = 0; i < all.size(); i++) {
      UINTN w = all[i].name.rfind("digit", 0) == 0 ? 10 : all[i].name.rfind("bar", 0) == 0 ? 9 : 10;
      if (all[i].name == "markA") w = 12;
      if (all[i].name == "markB") w = 4;
      if (widths.count(all[i].name)) w = widths[all[i].name];
      files[all[i].table].push_back(SolidBmp(w, 16, ColourOf(i)));
    }
    for (auto &[table, sections] : files) volume_.AddFile(table[0].Guid, sections);
  }

  // What the Blt calls drew, as (picture name, x, y), told apart by the
  // colour each left at its top left corner.
  std::vector<std::tuple<std::string, UINTN, UINTN>> Drawn() {
    std::vector<Named> all = AllPictures();
    std::vector<std::tuple<std::string, UINTN, UINTN>> out;
    for (const fake::Gop::BltCall &c : gop_.Calls()) {
      std::string name = c.op == EfiBltBufferToVideo && c.status == EFI_SUCCESS ? "?" : "not a picture";
      for (size_t i = 0; i < all.size(); i++)
        if (Same(gop_.At(c.dx, c.dy), ColourOf(i))) name = all[i].name;
      out.emplace_back(name, c.dx, c.dy);
    }
    gop_.ClearCalls();
    return out;
  }

  // True when every pixel of the rectangle is as the test began.
  bool Untouched(UINTN x, UINTN y, UINTN w, UINTN h) const {
    for (UINTN j = 0; j < h; j++)
      for (UINTN i = 0; i < w; i++)
        if (!Same(gop_.At(x + i, y + j), kUntouched)) return false;
    return true;
  }

  fake::Gop gop_{platform_};
  TestVolume volume_;
};

using Drawing = std::vector<std::tuple<std::string, UINTN, UINTN>>;

TEST_F(PicturesTest, LoadsNothingWithoutAGraphicsOutput) {
  Publish();
  EXPECT_EQ(LoadPictures(nullptr), EFI_SUCCESS);
  EXPECT_TRUE(volume_.Reads().empty());
  EXPECT_EQ(Pictures.DigitPictures[0].Pixels, nullptr);
}

TEST_F(PicturesTest, LoadsEveryPictureFromItsTablesFileAndFreesThem) {
  Publish({{"markA", 15}});
  EXPECT_EQ(LoadPictures(gop_.Protocol()), EFI_SUCCESS);

  // Section k of the file named by each table's first GUID, in table order.
  std::vector<Named> all = AllPictures();
  ASSERT_EQ(volume_.Reads().size(), all.size());
  for (size_t i = 0; i < all.size(); i++) {
    EXPECT_EQ(volume_.Reads()[i].file, fake::GuidKey(all[i].table[0].Guid)) << all[i].name;
    EXPECT_EQ(volume_.Reads()[i].instance, all[i].index) << all[i].name;
    const PICTURE &p = all[i].table[all[i].index];
    ASSERT_NE(p.Pixels, nullptr) << all[i].name;
    EXPECT_EQ(p.Height, 16u);
    EXPECT_TRUE(Same(p.Pixels[p.Width * 16 - 1], ColourOf(i))) << all[i].name;
  }
  EXPECT_EQ(Pictures.MarkPictureA[0].Width, 15u);
  EXPECT_EQ(platform_.LivePoolCount(), baselinePool_ + all.size()) << "one pixel array per picture, section buffers released";

  FreePictures();
  for (const Named &p : all) {
    EXPECT_EQ(p.table[p.index].Pixels, nullptr) << p.name;
    EXPECT_NE(p.table[p.index].Width, 0u) << p.name << ": sizes outlive the pixels";
  }
}

TEST_F(PicturesTest, APictureThatFailsStaysEmptyAndTheOthersLoad) {
  Publish();
  volume_.RemoveSection(Pictures.DigitPictures[0].Guid, 5);
  // The second bar style is not a bitmap at all.
  TestVolume broken;
  broken.AddFile(Pictures.BarPictures[0].Guid, {SolidBmp(9, 16, ColourOf(10)), {'B', 'M', 0, 0}});
  EFI_HANDLE h = nullptr;
  platform_.Install(&h, gFirmwareVolumeProtocolGuid, broken.Protocol());  // listed after the first volume
  volume_.RemoveSection(Pictures.BarPictures[0].Guid, 1);
  volume_.RemoveSection(Pictures.BarPictures[0].Guid, 0);

  EXPECT_EQ(LoadPictures(gop_.Protocol()), EFI_SUCCESS);
  EXPECT_EQ(Pictures.DigitPictures[5].Pixels, nullptr);
  EXPECT_EQ(Pictures.DigitPictures[5].Width, 0u);
  EXPECT_EQ(Pictures.BarPictures[1].Pixels, nullptr);
  EXPECT_NE(Pictures.BarPictures[0].Pixels, nullptr) << "found in the second volume";
  EXPECT_NE(Pictures.DigitPictures[6].Pixels, nullptr);
  EXPECT_NE(Pictures.DigitBlankPicture[0].Pixels, nullptr);
}

TEST_F(PicturesTest, CornerMarkSitsOnRow80WithOneColumnBetweenPictures) {
  Publish({{"markA", 12}, {"digit4", 7}, {"markB", 4}, {"digit0", 9}, {"digit3", 8}});
  LoadPictures(gop_.Protocol());
  DrawCornerMark();
  EXPECT_EQ(Drawn(), (Drawing{{"markA", 930, 80}, {"digit4", 943, 80}, {"markB", 951, 80}, {"digit0", 956, 80}, {"digit3", 966, 80}}));
  // On the screen: the columns between pictures stay as they were.
  EXPECT_TRUE(Same(gop_.At(930, 80), ColourOf(14)));
  EXPECT_TRUE(Same(gop_.At(941, 95), ColourOf(14)));
  EXPECT_TRUE(Untouched(942, 80, 1, 16));
  EXPECT_TRUE(Same(gop_.At(943, 80), ColourOf(4)));
  EXPECT_TRUE(Untouched(929, 80, 1, 16));
  EXPECT_TRUE(Untouched(930, 79, 60, 1));
}

TEST_F(PicturesTest, FrameDrawsOneHundredBlankSegmentsAndFourBlankDigits) {
  Publish({{"barBlank", 9}, {"digitBlank", 10}});
  LoadPictures(gop_.Protocol());
  DrawProgressBarFrame();
  Drawing want;
  for (UINTN k = 0; k < 100; k++) want.emplace_back("barBlank", 62 + k * 9, 629);
  for (UINTN k = 0; k < 4; k++) want.emplace_back("digitBlank", 919 + k * 11, 607);
  EXPECT_EQ(Drawn(), want);
  EXPECT_TRUE(Untouched(62 + 900, 629, 1, 16)) << "the bar ends after 100 segments";
}

TEST_F(PicturesTest, ProgressDrawsOneSegmentTheDigitsAndTheSuffix) {
  // Bars 9 wide except style 2, which must not move the positions.
  Publish({{"bar2", 5}});
  LoadPictures(gop_.Protocol());
  struct {
    UINT8 percent;
    UINT32 style;
    Drawing want;
  } cases[] = {
      {0, 0, {{"bar0", 62, 629}, {"digit0", 930, 607}, {"digit0", 941, 607}, {"suffix", 952, 607}}},
      {5, 0, {{"bar0", 107, 629}, {"digit0", 930, 607}, {"digit5", 941, 607}, {"suffix", 952, 607}}},
      {7, 9, {{"bar0", 125, 629}, {"digit0", 930, 607}, {"digit7", 941, 607}, {"suffix", 952, 607}}},
      {42, 2, {{"bar2", 440, 629}, {"digit4", 930, 607}, {"digit2", 941, 607}, {"suffix", 952, 607}}},
      {99, 3, {{"bar3", 953, 629}, {"digit9", 930, 607}, {"digit9", 941, 607}, {"suffix", 952, 607}}},
      {100, 1, {{"digit1", 919, 607}, {"digit0", 930, 607}, {"digit0", 941, 607}, {"suffix", 952, 607}}},
      {150, 0, {{"digit1", 919, 607}, {"digit0", 930, 607}, {"digit0", 941, 607}, {"suffix", 952, 607}}},
  };
  for (auto &c : cases) {
    DrawProgressStep(c.percent, c.style);
    EXPECT_EQ(Drawn(), c.want) << (int)c.percent << "% style " << c.style;
  }
}

TEST_F(PicturesTest, DigitPositionsFollowTheDrawnDigitsWidths) {
  std::map<std::string, UINTN> widths;
  for (int d = 0; d < 10; d++) widths["digit" + std::to_string(d)] = 5 + d;
  Publish(widths);
  LoadPictures(gop_.Protocol());
  DrawProgressStep(42, 1);
  // No hundreds: digit 0's width (5) still counts; then digit 4's (9).
  EXPECT_EQ(Drawn(), (Drawing{{"bar1", 440, 629}, {"digit4", 925, 607}, {"digit2", 935, 607}, {"suffix", 952, 607}}));
  DrawProgressStep(100, 0);
  EXPECT_EQ(Drawn(), (Drawing{{"digit1", 919, 607}, {"digit0", 926, 607}, {"digit0", 932, 607}, {"suffix", 952, 607}}));
}

TEST_F(PicturesTest, AMissingDigitLeavesItsPlaceAlone) {
  Publish();
  LoadPictures(gop_.Protocol());
  FreePictures();  // an earlier run saw digit 7 ten pixels wide
  volume_.RemoveSection(Pictures.DigitPictures[0].Guid, 7);
  LoadPictures(gop_.Protocol());
  ASSERT_EQ(Pictures.DigitPictures[7].Pixels, nullptr);

  DrawProgressStep(7, 0);
  EXPECT_EQ(Drawn(), (Drawing{{"bar0", 125, 629}, {"digit0", 930, 607}, {"suffix", 952, 607}}));
  EXPECT_TRUE(Untouched(941, 607, 10, 16)) << "the units place is left as it was";
  EXPECT_TRUE(Same(gop_.At(930, 607), ColourOf(0)));

  // 70: the tens place is empty, yet the units sit after digit 7's width
  // from the earlier run.
  DrawProgressStep(70, 0);
  EXPECT_EQ(Drawn(), (Drawing{{"bar0", 692, 629}, {"digit0", 941, 607}, {"suffix", 952, 607}}));
}

TEST_F(PicturesTest, DrawPictureSendsOnlyColoursAndReleasesItsBuffer) {
  Publish();
  LoadPictures(gop_.Protocol());
  // The decoder leaves Reserved unwritten; whatever is there must not reach Blt.
  for (UINTN i = 0; i < Pictures.DigitPictures[3].Width * Pictures.DigitPictures[3].Height; i++)
    Pictures.DigitPictures[3].Pixels[i].Reserved = 0x5A;
  DrawPicture(Pictures.DigitPictures, 3, 100, 200);
  ASSERT_EQ(gop_.Calls().size(), 1u);
  const fake::Gop::BltCall &c = gop_.Calls()[0];
  EXPECT_EQ(c.op, EfiBltBufferToVideo);
  EXPECT_EQ(std::make_tuple(c.sx, c.sy, c.dx, c.dy, c.width, c.height, c.delta), std::make_tuple(0u, 0u, 100u, 200u, 10u, 16u, 0u));
  for (UINTN y = 200; y < 216; y++)
    for (UINTN x = 100; x < 110; x++) {
      ASSERT_TRUE(Same(gop_.At(x, y), ColourOf(3)));
      ASSERT_EQ(gop_.At(x, y).Reserved, 0) << "Reserved reached the screen";
    }
  EXPECT_EQ(platform_.LivePoolCount(), baselinePool_ + 19);

  // Without pool the picture is skipped.
  gop_.ClearCalls();
  platform_.FailAllocation(1);
  DrawPicture(Pictures.DigitPictures, 3, 100, 200);
  EXPECT_TRUE(gop_.Calls().empty());
}

// A caller's timer that draws the progress bar and the corner mark, fired at
// every service call, as each pool free returns (where a timer that came due
// inside FreePool runs) and between the picture stores themselves.
bool timer_armed, in_timer;
int timer_fired;
decltype(EFI_BOOT_SERVICES::FreePool) real_free_pool;
void DrawLikeACallersTimer() {
  if (!timer_armed || in_timer) return;
  in_timer = true;
  timer_fired++;
  DrawProgressBarFrame();
  DrawProgressStep(42, 1);
  DrawCornerMark();
  in_timer = false;
}
EFI_STATUS EFIAPI FreePoolThenDraw(VOID *buffer) {
  EFI_STATUS s = real_free_pool(buffer);
  DrawLikeACallersTimer();
  return s;
}

// Mended: pixels were freed before the picture let go of them. Whenever the
// timer draws while a run loads its pictures again at other sizes or frees
// them, it finds whole pictures: no freed pixels, no pixels under another
// size (AddressSanitizer reports either).
TEST_F(PicturesTest, ACallersTimerDrawingWhilePicturesAreReplacedOrFreedFindsWholePictures) {
  auto widths = [](UINTN w) {
    std::map<std::string, UINTN> m;
    for (const Named &p : AllPictures()) m[p.name] = w;
    return m;
  };
  struct Case {
    const char *what;
    bool free_before;  // the earlier run's pictures were freed, only their sizes stay
    bool load_again;   // else the pictures are freed
  } cases[] = {
      {"loaded pictures loaded again at other sizes", false, true},
      {"a later run loads them at other sizes", true, true},
      {"the run frees them", false, false},
  };
  EFI_BOOT_SERVICES *bs = platform_.BootServices();
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    volume_.Clear();
    Publish(widths(40));
    LoadPictures(gop_.Protocol());
    if (c.free_before) FreePictures();
    volume_.Clear();
    Publish(widths(3));

    timer_armed = true;
    timer_fired = 0;
    real_free_pool = bs->FreePool;
    bs->FreePool = FreePoolThenDraw;
    platform_.OnServiceCall(DrawLikeACallersTimer);
    PicturePreemptionHook = DrawLikeACallersTimer;
    if (c.load_again)
      LoadPictures(gop_.Protocol());
    else
      FreePictures();
    PicturePreemptionHook = nullptr;
    platform_.OnServiceCall(nullptr);
    bs->FreePool = real_free_pool;
    timer_armed = false;

    EXPECT_GT(timer_fired, 19) << "the timer fired at least once per picture";
    for (const Named &p : AllPictures()) EXPECT_EQ(p.table[p.index].Pixels != nullptr, c.load_again) << p.name;
    if (c.load_again) EXPECT_EQ(Pictures.DigitPictures[4].Width, 3u);
    FreePictures();
  }
}

}  // namespace
}  // namespace picture_test
