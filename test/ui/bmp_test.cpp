// SPDX-License-Identifier: BSD-2-Clause-Patent
// The BMP decoder against files from an independent encoder, the layout
// cases the decoder must get right, and crafted files that must be refused
// without a read outside the file or a write outside the array.
#include "picture_fixture.h"
#include "ui/bmp.h"

namespace picture_test {
namespace {

using BmpTest = PlatformTest;

// Expected pixels (R, G, B per pixel, top row first) as Pillow decoded them.
struct Expected {
  UINT32 width, height;
  std::vector<UINT8> rgb;
};
Expected LoadExpected(const std::string &name) {
  std::vector<UINT8> e = ReadFile(VectorPath(name + ".expect"));
  Expected x{};
  if (e.size() < 8) return x;
  memcpy(&x.width, &e[0], 4);
  memcpy(&x.height, &e[4], 4);
  x.rgb.assign(e.begin() + 8, e.end());
  return x;
}

void ExpectPixels(const std::string &name, const Expected &x, const EFI_GRAPHICS_OUTPUT_BLT_PIXEL *px) {
  for (size_t i = 0; i < (size_t)x.width * x.height; i++) {
    ASSERT_EQ(px[i].Red, x.rgb[i * 3]) << name << " pixel " << i % x.width << "," << i / x.width;
    ASSERT_EQ(px[i].Green, x.rgb[i * 3 + 1]) << name << " pixel " << i % x.width << "," << i / x.width;
    ASSERT_EQ(px[i].Blue, x.rgb[i * 3 + 2]) << name << " pixel " << i % x.width << "," << i / x.width;
  }
}

TEST_F(BmpTest, MatchesAnIndependentEncoderAtEveryDepth) {
  std::vector<std::string> names = VectorNames();
  ASSERT_GE(names.size(), 9u);
  std::set<UINT16> depths;
  for (const std::string &name : names) {
    std::vector<UINT8> file = ReadFile(VectorPath(name + ".bmp"));
    Expected x = LoadExpected(name);
    depths.insert((UINT16)(file[28] | file[29] << 8));

    // The decoder's own array.
    Decoded d = Decode(file);
    ASSERT_EQ(d.status, EFI_SUCCESS) << name;
    EXPECT_EQ(d.width, x.width) << name;
    EXPECT_EQ(d.height, x.height) << name;
    EXPECT_EQ(d.bltSize, (UINTN)x.width * x.height * 4) << name;
    ExpectPixels(name, x, d.pixels.data());

    // A caller array of exactly the size: the same pixels, Reserved untouched.
    std::vector<EFI_GRAPHICS_OUTPUT_BLT_PIXEL> mine(x.width * x.height, EFI_GRAPHICS_OUTPUT_BLT_PIXEL{1, 2, 3, 0xA5});
    EFI_GRAPHICS_OUTPUT_BLT_PIXEL *blt = mine.data();
    UINTN size = mine.size() * 4, h = 0, w = 0;
    ASSERT_EQ(BmpToBltBuffer(file.data(), file.size(), &blt, &size, &h, &w), EFI_SUCCESS) << name;
    EXPECT_EQ(blt, mine.data());
    ExpectPixels(name, x, mine.data());
    for (auto &p : mine) ASSERT_EQ(p.Reserved, 0xA5) << name << ": the Reserved byte is not the decoder's";
  }
  EXPECT_EQ(depths, (std::set<UINT16>{1, 4, 8, 24}));
}

TEST_F(BmpTest, TooSmallCallerArrayIsLeftAloneAndToldTheSize) {
  std::vector<UINT8> file = ReadFile(VectorPath("pil_24bpp_13x7.bmp"));
  std::vector<EFI_GRAPHICS_OUTPUT_BLT_PIXEL> mine(13 * 7 - 1, EFI_GRAPHICS_OUTPUT_BLT_PIXEL{9, 9, 9, 9});
  EFI_GRAPHICS_OUTPUT_BLT_PIXEL *blt = mine.data();
  UINTN size = mine.size() * 4, h = 0, w = 0;
  EXPECT_EQ(BmpToBltBuffer(file.data(), file.size(), &blt, &size, &h, &w), EFI_BUFFER_TOO_SMALL);
  EXPECT_EQ(size, 13u * 7 * 4);
  EXPECT_EQ(blt, mine.data());
  for (auto &p : mine) ASSERT_TRUE(p.Blue == 9 && p.Green == 9 && p.Red == 9 && p.Reserved == 9);
}

// The row layouts: unused bits of the last byte and the alignment bytes are
// never taken for pixels, whatever they hold.
TEST_F(BmpTest, IgnoresUnusedBitsAndRowAlignment) {
  // 1 bit, 10 wide: two data bytes (the last six bits unused) and two bytes
  // of alignment per row. Colour 0 black, colour 1 white.
  BmpFields one;
  one.width = 10;
  one.height = 2;
  one.bpp = 1;
  one.table = {0, 0, 0, 0, 255, 255, 255, 0};
  // Bottom row: pixels 0 and 9 white, then junk; top row: pixel 1 white.
  one.pixels = {0x80, 0x40 | 0x3F, 0xFF, 0xFF, 0x40, 0x00 | 0x3F, 0xEE, 0xEE};
  Decoded d = Decode(MakeBmp(one));
  ASSERT_EQ(d.status, EFI_SUCCESS);
  ASSERT_EQ(d.pixels.size(), 20u);
  for (int x = 0; x < 10; x++) {
    EXPECT_EQ(d.pixels[x].Red, x == 1 ? 255 : 0) << "top row " << x;
    EXPECT_EQ(d.pixels[10 + x].Red, (x == 0 || x == 9) ? 255 : 0) << "bottom row " << x;
  }

  // 4 bits, 3 wide: the low nibble of the second byte is unused, so even an
  // index past the two-colour table there is not looked at.
  BmpFields four;
  four.width = 3;
  four.height = 1;
  four.bpp = 4;
  four.coloursUsed = 2;
  four.table = {10, 20, 30, 0, 40, 50, 60, 0};
  four.pixels = {0x10, 0x0F, 0xFF, 0xFF};
  d = Decode(MakeBmp(four));
  ASSERT_EQ(d.status, EFI_SUCCESS);
  ASSERT_EQ(d.pixels.size(), 3u);
  EXPECT_EQ(d.pixels[0].Blue, 40);
  EXPECT_EQ(d.pixels[1].Blue, 10);
  EXPECT_EQ(d.pixels[2].Blue, 10);

  // 24 bits, 3 wide: 9 bytes of pixels and 3 bytes of alignment per row;
  // the rows come out top row first.
  BmpFields rgb;
  rgb.width = 3;
  rgb.height = 2;
  rgb.pixels = {1, 2, 3, 4, 5, 6, 7, 8, 9, 0xAA, 0xBB, 0xCC, 11, 12, 13, 14, 15, 16, 17, 18, 19, 0xDD, 0xEE, 0xFF};
  d = Decode(MakeBmp(rgb));
  ASSERT_EQ(d.status, EFI_SUCCESS);
  ASSERT_EQ(d.pixels.size(), 6u);
  EXPECT_EQ(d.pixels[0].Blue, 11);
  EXPECT_EQ(d.pixels[2].Red, 19);
  EXPECT_EQ(d.pixels[3].Blue, 1);
  EXPECT_EQ(d.pixels[5].Green, 8);
  EXPECT_EQ(d.pixels[5].Red, 9);
}

TEST_F(BmpTest, EmptyImagesSucceedWithAnEmptyArray) {
  for (UINT16 bpp : {24, 7}) {  // the depth is not looked at without pixels
    BmpFields s;
    s.width = 5;
    s.height = 0;
    s.bpp = bpp;
    Decoded d = Decode(MakeBmp(s));
    EXPECT_EQ(d.status, EFI_SUCCESS) << bpp;
    EXPECT_EQ(d.bltSize, 0u);
    EXPECT_EQ(d.height, 0u);
    EXPECT_EQ(d.width, 5u);
  }
}

// The statuses callers see for files the decoder does not take.
TEST_F(BmpTest, UnsupportedFilesKeepTheirStatuses) {
  std::vector<UINT8> good = ReadFile(VectorPath("pil_24bpp_3x2.bmp"));
  std::vector<UINT8> f = good;
  f[1] = 'A';
  EXPECT_EQ(Decode(f).status, EFI_UNSUPPORTED) << "signature";
  f = good;
  f[30] = 1;  // run-length compression
  EXPECT_EQ(Decode(f).status, EFI_UNSUPPORTED) << "compression";
  for (UINT16 bpp : {0, 2, 16, 32}) {
    BmpFields s;
    s.width = 2;
    s.height = 2;
    s.bpp = bpp;
    s.pixels.assign(64, 0);
    Decoded d = Decode(MakeBmp(s));
    EXPECT_EQ(d.status, EFI_UNSUPPORTED) << bpp << " bits";
    EXPECT_FALSE(d.arrayReturned) << "no array is handed back on failure";
  }
  // The pool failing gives EFI_OUT_OF_RESOURCES.
  platform_.FailAllocation(1);
  EXPECT_EQ(Decode(good).status, EFI_OUT_OF_RESOURCES);
  // Missing arguments.
  UINTN size = 0, h = 0, w = 0;
  EFI_GRAPHICS_OUTPUT_BLT_PIXEL *blt = nullptr;
  EXPECT_EQ(BmpToBltBuffer(nullptr, 10, &blt, &size, &h, &w), EFI_INVALID_PARAMETER);
  EXPECT_EQ(BmpToBltBuffer(good.data(), good.size(), nullptr, &size, &h, &w), EFI_INVALID_PARAMETER);
  EXPECT_EQ(BmpToBltBuffer(good.data(), good.size(), &blt, nullptr, &h, &w), EFI_INVALID_PARAMETER);
}

// Sizes that would wrap in 32 bits, or need a huge array, are refused before
// anything is allocated.
TEST_F(BmpTest, RefusesSizesPastTheLimit) {
  struct {
    INT32 w, h;
  } cases[] = {
      {0x10000, 0x10000},  // 16 GiB: zero in 32-bit arithmetic
      {0x40000001, 4},     // width x 4 wraps to a small number in 32 bits
      {-1, 1},             // 0xFFFFFFFF pixels wide
      {4097, 4096},        // just past 64 MiB
  };
  for (auto c : cases) {
    BmpFields s;
    s.width = c.w;
    s.height = c.h;
    s.bpp = 1;
    s.table = {0, 0, 0, 0, 255, 255, 255, 0};
    s.pixels.assign(16, 0xFF);
    uint64_t before = platform_.AllocationCount();
    Decoded d = Decode(MakeBmp(s));
    EXPECT_EQ(d.status, EFI_UNSUPPORTED) << c.w << "x" << c.h;
    EXPECT_EQ(platform_.AllocationCount(), before) << "nothing allocated for " << c.w << "x" << c.h;
  }
  // Exactly the limit is accepted when the file holds it: 4096 x 4096 at one bit.
  BmpFields s;
  s.width = 4096;
  s.height = 4096;
  s.bpp = 1;
  s.table = {0, 0, 0, 0, 255, 255, 255, 0};
  s.pixels.assign(4096 / 8 * 4096, 0x55);
  Decoded d = Decode(MakeBmp(s));
  ASSERT_EQ(d.status, EFI_SUCCESS);
  EXPECT_EQ(d.bltSize, BMP_MAX_BLT_SIZE);
  EXPECT_EQ(d.pixels[1].Red, 255);
  EXPECT_EQ(d.pixels[4096 * 4096 - 2].Red, 0);
}

TEST_F(BmpTest, RefusesLayoutsOutsideTheFile) {
  BmpFields base;
  base.width = 4;
  base.height = 3;
  base.bpp = 8;
  base.coloursUsed = 4;
  base.table.assign(16, 0x40);
  base.pixels.assign(12, 1);
  ASSERT_EQ(Decode(MakeBmp(base)).status, EFI_SUCCESS);

  BmpFields s = base;
  s.pixelOffset = 0xFFFFFFF0;  // far past the file
  EXPECT_EQ(Decode(MakeBmp(s)).status, EFI_INVALID_PARAMETER) << "pixel offset";
  s = base;
  s.pixelOffset = 54 + 16 + 1;  // the last row would end one byte past the file
  EXPECT_EQ(Decode(MakeBmp(s)).status, EFI_INVALID_PARAMETER) << "rows";
  s = base;
  s.height = 4;  // one row more than the file holds
  EXPECT_EQ(Decode(MakeBmp(s)).status, EFI_INVALID_PARAMETER) << "row count";
  s = base;
  s.coloursUsed = 0;  // the full 256-entry table does not fit in the file
  s.pixelOffset = 54 + 16;
  EXPECT_EQ(Decode(MakeBmp(s)).status, EFI_INVALID_PARAMETER) << "colour table";
}

TEST_F(BmpTest, RefusesColourIndicesPastTheTable) {
  struct {
    UINT16 bpp;
    std::vector<UINT8> rows;  // one row of 4 pixels, padded
  } cases[] = {
      {8, {0, 1, 2, 1}},        // index 2 with a two-colour table
      {4, {0x01, 0x31, 0, 0}},  // index 3
      {1, {0x40, 0, 0, 0}},     // index 1 with a one-colour table
  };
  for (auto &c : cases) {
    BmpFields s;
    s.width = 4;
    s.height = 1;
    s.bpp = c.bpp;
    s.coloursUsed = c.bpp == 1 ? 1 : 2;
    s.table.assign(4 * s.coloursUsed, 0x77);
    s.pixels = c.rows;
    Decoded d = Decode(MakeBmp(s));
    EXPECT_EQ(d.status, EFI_INVALID_PARAMETER) << c.bpp << " bits";
    EXPECT_FALSE(d.arrayReturned) << "the decoder's array is released on failure";
  }
}

TEST_F(BmpTest, RefusesTopDownBitmaps) {
  BmpFields s;
  s.width = 2;
  s.height = -2;
  s.pixels.assign(16, 0);
  uint64_t before = platform_.AllocationCount();
  EXPECT_EQ(Decode(MakeBmp(s)).status, EFI_UNSUPPORTED);
  EXPECT_EQ(platform_.AllocationCount(), before);
  // Without pixels the size cannot give it away: still refused, not an
  // empty image of a huge height.
  s.width = 0;
  Decoded d = Decode(MakeBmp(s));
  EXPECT_EQ(d.status, EFI_UNSUPPORTED);
  EXPECT_EQ(d.height, 0u);
}

// Every prefix of every valid file is refused, read only inside its bytes.
TEST_F(BmpTest, RefusesEveryTruncation) {
  for (const std::string &name : VectorNames()) {
    std::vector<UINT8> file = ReadFile(VectorPath(name + ".bmp"));
    for (size_t n = 0; n < file.size(); n++) {
      Decoded d = Decode(file, n);
      ASSERT_TRUE(d.status == EFI_INVALID_PARAMETER || d.status == EFI_UNSUPPORTED)
          << name << " cut at " << n << ": " << std::hex << d.status;
      ASSERT_FALSE(d.arrayReturned) << name << " cut at " << n;
    }
    EXPECT_EQ(Decode(file, file.size()).status, EFI_SUCCESS) << name;
  }
}

}  // namespace
}  // namespace picture_test
