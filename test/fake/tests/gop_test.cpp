// SPDX-License-Identifier: BSD-2-Clause-Patent
// The graphics output double that the picture and backdrop tests rely on:
// each Blt operation with sub-rectangles and a Delta, and its bounds rules.
#include <vector>

#include "test/fake/fake.h"
#include "test/fake/gop.h"
#include <gtest/gtest.h>

namespace {

using Px = EFI_GRAPHICS_OUTPUT_BLT_PIXEL;
bool Same(const Px &a, const Px &b) { return a.Blue == b.Blue && a.Green == b.Green && a.Red == b.Red && a.Reserved == b.Reserved; }

TEST(FakeGop, BltMovesTheRectanglesTheStandardDescribes) {
  fake::Platform p;
  fake::Gop gop(p, 64, 48);
  auto *g = gop.Protocol();
  gop.FillPattern();

  // Video to buffer: a 3x2 rectangle at (10, 20) into (1, 1) of a 5-pixel-wide buffer.
  std::vector<Px> buf(5 * 4, Px{9, 9, 9, 9});
  ASSERT_EQ(g->Blt(g, buf.data(), EfiBltVideoToBltBuffer, 10, 20, 1, 1, 3, 2, 5 * sizeof(Px)), EFI_SUCCESS);
  EXPECT_TRUE(Same(buf[1 * 5 + 1], fake::Gop::PatternAt(10, 20)));
  EXPECT_TRUE(Same(buf[2 * 5 + 3], fake::Gop::PatternAt(12, 21)));
  EXPECT_TRUE(Same(buf[0], Px{9, 9, 9, 9}));
  EXPECT_TRUE(Same(buf[1 * 5 + 4], Px{9, 9, 9, 9}));

  // Buffer to video from (1, 1) of the same buffer to (0, 0).
  ASSERT_EQ(g->Blt(g, buf.data(), EfiBltBufferToVideo, 1, 1, 0, 0, 3, 2, 5 * sizeof(Px)), EFI_SUCCESS);
  EXPECT_TRUE(Same(gop.At(2, 1), fake::Gop::PatternAt(12, 21)));
  EXPECT_TRUE(Same(gop.At(3, 0), fake::Gop::PatternAt(3, 0)));

  // Fill takes the first buffer pixel; video to video copies overlapping areas intact.
  Px red{0, 0, 255, 0};
  ASSERT_EQ(g->Blt(g, &red, EfiBltVideoFill, 0, 0, 60, 40, 4, 8, 0), EFI_SUCCESS);
  EXPECT_TRUE(Same(gop.At(63, 47), red));
  gop.FillPattern();
  ASSERT_EQ(g->Blt(g, nullptr, EfiBltVideoToVideo, 0, 0, 1, 0, 10, 1, 0), EFI_SUCCESS);
  EXPECT_TRUE(Same(gop.At(10, 0), fake::Gop::PatternAt(9, 0)));
  EXPECT_TRUE(Same(gop.At(1, 0), fake::Gop::PatternAt(0, 0)));

  // Outside the screen, empty rectangles, short Delta and unknown operations fail untouched.
  EXPECT_EQ(g->Blt(g, &red, EfiBltVideoFill, 0, 0, 61, 0, 4, 1, 0), EFI_INVALID_PARAMETER);
  EXPECT_EQ(g->Blt(g, buf.data(), EfiBltVideoToBltBuffer, ~0ULL, 0, 0, 0, 2, 1, 0), EFI_INVALID_PARAMETER);
  EXPECT_EQ(g->Blt(g, buf.data(), EfiBltBufferToVideo, 0, 0, 0, 0, 0, 1, 0), EFI_INVALID_PARAMETER);
  EXPECT_EQ(g->Blt(g, buf.data(), EfiBltBufferToVideo, 0, 0, 0, 0, 3, 1, 2 * sizeof(Px)), EFI_INVALID_PARAMETER);
  EXPECT_EQ(g->Blt(g, buf.data(), EfiGraphicsOutputBltOperationMax, 0, 0, 0, 0, 1, 1, 0), EFI_INVALID_PARAMETER);
  EXPECT_TRUE(Same(gop.At(61, 0), fake::Gop::PatternAt(61, 0)));
  EXPECT_EQ(gop.Calls().size(), 9u);

  // The mode information is a pool copy that the caller frees.
  EFI_GRAPHICS_OUTPUT_MODE_INFORMATION *info = nullptr;
  UINTN size = 0;
  ASSERT_EQ(g->QueryMode(g, 0, &size, &info), EFI_SUCCESS);
  EXPECT_EQ(info->HorizontalResolution, 64u);
  EXPECT_EQ(g->Mode->Info->PixelsPerScanLine, 64u);
  p.BootServices()->FreePool(info);
  EXPECT_EQ(p.LivePoolCount(), 0u);
  EXPECT_NE(p.Find(EFI_GUID(EFI_GRAPHICS_OUTPUT_PROTOCOL_GUID)), nullptr);
}

}  // namespace
