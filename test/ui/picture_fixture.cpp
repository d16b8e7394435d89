// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "picture_fixture.h"

#include <dirent.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "ui/bmp.h"

namespace picture_test {

std::vector<UINT8> ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in.good()) << "cannot open " << path;
  return std::vector<UINT8>(std::istreambuf_iterator<char>(in), {});
}

std::string VectorPath(const std::string &name) { return std::string(TEST_VECTOR_DIR) + "/" + name; }

std::vector<std::string> VectorNames() {
  std::vector<std::string> names;
  if (DIR *d = opendir(TEST_VECTOR_DIR)) {
    while (dirent *e = readdir(d)) {
      std::string n = e->d_name;
      if (n.size() > 7 && n.compare(n.size() - 7, 7, ".expect") == 0) names.push_back(n.substr(0, n.size() - 7));
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

static void Put(std::vector<UINT8> &v, size_t at, UINT64 value, int bytes) {
  for (int i = 0; i < bytes; i++) v[at + i] = (UINT8)(value >> (8 * i));
}

std::vector<UINT8> MakeBmp(const BmpFields &s) {
  std::vector<UINT8> f(54, 0);
  UINT64 offset = s.pixelOffset >= 0 ? (UINT64)s.pixelOffset : 54 + s.table.size();
  f[0] = 'B';
  f[1] = 'M';
  Put(f, 2, 54 + s.table.size() + s.pixels.size(), 4);
  Put(f, 10, offset, 4);
  Put(f, 14, 40, 4);
  Put(f, 18, (UINT32)s.width, 4);
  Put(f, 22, (UINT32)s.height, 4);
  Put(f, 26, 1, 2);
  Put(f, 28, s.bpp, 2);
  Put(f, 30, s.compression, 4);
  Put(f, 34, s.pixels.size(), 4);
  Put(f, 46, s.coloursUsed, 4);
  f.insert(f.end(), s.table.begin(), s.table.end());
  f.insert(f.end(), s.pixels.begin(), s.pixels.end());
  return f;
}

Decoded Decode(const std::vector<UINT8> &file, size_t size) {
  Decoded d;
  UINT8 *copy = (UINT8 *)malloc(size ? size : 1);
  if (size) memcpy(copy, file.data(), size);
  EFI_GRAPHICS_OUTPUT_BLT_PIXEL *blt = nullptr;
  d.status = BmpToBltBuffer(copy, size, &blt, &d.bltSize, &d.height, &d.width);
  free(copy);
  if (blt != nullptr) {
    d.arrayReturned = true;
    if (!EFI_ERROR(d.status)) d.pixels.assign(blt, blt + d.bltSize / sizeof *blt);
    gBS->FreePool(blt);
  }
  return d;
}

}  // namespace picture_test
