// SPDX-License-Identifier: BSD-2-Clause-Patent
// The pictures volume as the build packs it from our artwork: a volume walk
// that checks what the DXE core checks, then the run's loading and drawing
// from it, pixel for pixel against Pillow's reading of the same bitmaps.
#include "picture_fixture.h"
#include "test_fv.h"
#include "fake/gop.h"
#include "ui/pictures.h"
#include "ui/section.h"

#include <sstream>

namespace picture_test {
namespace {

class VolumeTest : public PlatformTest {
 protected:
  VolumeTest() {
    for (PICTURE *t : {Pictures.DigitPictures, Pictures.BarPictures, Pictures.MarkPictureA, Pictures.MarkPictureB,
                       Pictures.ProgressSuffixPicture, Pictures.BarBlankPicture, Pictures.DigitBlankPicture}) {
      UINTN n = t == Pictures.DigitPictures ? 10 : t == Pictures.BarPictures ? 4 : 1;
      for (UINTN i = 0; i < n; i++) t[i] = PICTURE{t[i].Guid, 0, 0, nullptr};
    }
  }
  ~VolumeTest() override { FreePictures(); }
  // The artwork bitmap's pixels as Pillow read them: R, G, B top row first.
  static std::vector<UINT8> Artwork(const char *name, UINT32 *w, UINT32 *h) {
    std::vector<UINT8> e = ReadFile(std::string(PICTURES_BUILD_DIR) + "/artwork/" + name + ".expect");
    if (e.size() < 8) return {};
    memcpy(w, &e[0], 4);
    memcpy(h, &e[4], 4);
    return std::vector<UINT8>(e.begin() + 8, e.end());
  }
  void ExpectOnScreen(const char *name, UINTN x0, UINTN y0) {
    UINT32 w = 0, h = 0;
    std::vector<UINT8> rgb = Artwork(name, &w, &h);
    ASSERT_GT(w * h, 0u) << name;
    for (UINT32 y = 0; y < h; y++)
      for (UINT32 x = 0; x < w; x++) {
        EFI_GRAPHICS_OUTPUT_BLT_PIXEL p = gop_.At(x0 + x, y0 + y);
        const UINT8 *e = &rgb[(y * w + x) * 3];
        ASSERT_TRUE(p.Red == e[0] && p.Green == e[1] && p.Blue == e[2]) << name << " at " << x << "," << y;
      }
  }
  fake::Gop gop_{platform_};
};

TEST_F(VolumeTest, RunDrawsOurArtworkFromThePackedVolume) {
  TestVolume volume;
  std::vector<UINT8> image = ReadFile(std::string(PICTURES_BUILD_DIR) + "/fv/pictures.fv");
  ASSERT_EQ(volume.FromImage(image), "");
  EFI_HANDLE h = nullptr;
  ASSERT_EQ(platform_.Install(&h, gFirmwareVolumeProtocolGuid, volume.Protocol()), EFI_SUCCESS);

  LoadPictures(gop_.Protocol());
  for (UINTN d = 0; d < 10; d++) EXPECT_NE(Pictures.DigitPictures[d].Pixels, nullptr) << d;
  for (UINTN s = 0; s < 4; s++) EXPECT_NE(Pictures.BarPictures[s].Pixels, nullptr) << s;
  for (PICTURE *p :
       {Pictures.MarkPictureA, Pictures.MarkPictureB, Pictures.ProgressSuffixPicture, Pictures.BarBlankPicture, Pictures.DigitBlankPicture})
    EXPECT_NE(p[0].Pixels, nullptr);

  // The corner mark reads V4.03 from X = 930: widths 12, 10, 4, 10, 10.
  DrawCornerMark();
  ExpectOnScreen("mark_a", 930, 80);
  ExpectOnScreen("digit4", 943, 80);
  ExpectOnScreen("mark_b", 954, 80);
  ExpectOnScreen("digit0", 959, 80);
  ExpectOnScreen("digit3", 970, 80);

  // The frame, then 42 % in the amber style.
  DrawProgressBarFrame();
  ExpectOnScreen("bar_blank", 62, 629);
  ExpectOnScreen("bar_blank", 62 + 99 * 9, 629);
  ExpectOnScreen("digit_blank", 919 + 3 * 11, 607);
  DrawProgressStep(42, 2);
  ExpectOnScreen("bar2", 62 + 42 * 9, 629);
  ExpectOnScreen("bar_blank", 62 + 41 * 9, 629);
  ExpectOnScreen("digit_blank", 919, 607);
  ExpectOnScreen("digit4", 930, 607);
  ExpectOnScreen("digit2", 941, 607);
  ExpectOnScreen("percent", 952, 607);
}

// The driver's tables, in load order, are the files of ui/pictures.json: the
// same file GUID and as many pictures as the file has sections.
TEST_F(VolumeTest, DriverTablesAreThePicturesTable) {
  const std::pair<PICTURE *, UINTN> tables[] = {{Pictures.DigitPictures, DIGIT_PICTURE_COUNT},
                                                {Pictures.BarPictures, BAR_PICTURE_COUNT},
                                                {Pictures.MarkPictureA, 1},
                                                {Pictures.MarkPictureB, 1},
                                                {Pictures.ProgressSuffixPicture, 1},
                                                {Pictures.BarBlankPicture, 1},
                                                {Pictures.DigitBlankPicture, 1}};
  std::istringstream words(PICTURE_TABLE);
  size_t k = 0;
  for (std::string guid; words >> guid; k++) {
    UINTN count = 0;
    words >> count;
    ASSERT_LT(k, std::size(tables)) << guid << ": a picture file the driver has no table for";
    EXPECT_EQ(fake::GuidKey(tables[k].first[0].Guid), guid) << "table " << k;
    EXPECT_EQ(tables[k].second, count) << guid;
  }
  EXPECT_EQ(k, std::size(tables));
}

TEST_F(VolumeTest, WalkRefusesADamagedVolume) {
  std::vector<UINT8> image = ReadFile(std::string(PICTURES_BUILD_DIR) + "/fv/pictures.fv");
  ASSERT_GT(image.size(), 200u);
  struct {
    size_t offset;
    const char *what;
  } damage[] = {{50, "volume header checksum"}, {72 + 5, "file header checksum"}, {72 + 100, "file data checksum"}, {72 + 23, "file state"}};
  for (auto &d : damage) {
    std::vector<UINT8> bad = image;
    bad[d.offset] ^= 0x04;
    TestVolume v;
    EXPECT_NE(v.FromImage(bad), "") << d.what;
  }
}

}  // namespace
}  // namespace picture_test
