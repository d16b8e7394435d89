// SPDX-License-Identifier: BSD-2-Clause-Patent
// Shared pieces of the picture tests: a fake platform with the UI library's
// table pointers set, test-vector files and a BMP builder for crafted files.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fake/fake.h"
#include "ui/status_report.h"

namespace picture_test {

std::vector<UINT8> ReadFile(const std::string &path);
std::string VectorPath(const std::string &name);  // in the committed vectors directory
std::vector<std::string> VectorNames();           // every NAME with NAME.bmp and NAME.expect

// A BMP with a 54-byte header, the given colour table and pixel bytes (rows
// already padded); ClrUsed and the pixel offset as given or as they follow.
struct BmpFields {
  INT32 width = 1, height = 1;
  UINT16 bpp = 24;
  UINT32 compression = 0;
  UINT32 coloursUsed = 0;
  std::vector<UINT8> table;   // 4 bytes per colour
  std::vector<UINT8> pixels;  // stored rows, bottom row first
  INT64 pixelOffset = -1;     // -1: right after the table
};
std::vector<UINT8> MakeBmp(const BmpFields &fields);

struct Decoded {
  EFI_STATUS status = 0;
  UINTN bltSize = 0, height = 0, width = 0;
  bool arrayReturned = false;
  std::vector<EFI_GRAPHICS_OUTPUT_BLT_PIXEL> pixels;
};
// Decodes from a heap copy of exactly the file's size (so a read past its end
// is an AddressSanitizer report), letting the decoder allocate the array.
Decoded Decode(const std::vector<UINT8> &file, size_t size);
inline Decoded Decode(const std::vector<UINT8> &file) { return Decode(file, file.size()); }

class PlatformTest : public ::testing::Test {
 protected:
  PlatformTest() {
    EfiInitializeDriverLib(nullptr, platform_.SystemTable());
    baselinePool_ = platform_.LivePoolCount();
  }
  ~PlatformTest() override {
    EXPECT_EQ(platform_.LivePoolCount(), baselinePool_) << "pool left allocated";
    gBS = nullptr;
    gST = nullptr;
    gRT = nullptr;
  }
  fake::Platform platform_;
  size_t baselinePool_ = 0;
};

}  // namespace picture_test
