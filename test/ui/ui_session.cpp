// SPDX-License-Identifier: BSD-2-Clause-Patent
// The host half of the host/firmware differential, a host tool: the test
// bed's scripted run over the volumes the bed's disks hold, on the fake
// platform, with the screen written out after every key. test/bed/run.py runs
// it and compares each screen with the firmware's, cell by cell.
//
//   ui_session VOLUMES OUT KEY...
//     VOLUMES  file of "volume", "file NAME SIZE" and "dir NAME" lines
//     OUT      folder for NN.txt: 27 lines of text (UTF-8), then 27 of attributes
//     KEY      SCAN,CHAR in hex: an EFI_INPUT_KEY (the bed's key table, checks.KEYS)
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "rig.h"

namespace uitest {
namespace {

// "SCAN,CHAR" in hex.
bool ParseKey(const std::string &Text, EFI_INPUT_KEY *Key) {
  unsigned Scan = 0, Char = 0;
  char End = 0;
  if (std::sscanf(Text.c_str(), "%x,%x%c", &Scan, &Char, &End) != 2 || Scan > 0xFFFF || Char > 0xFFFF) return false;
  *Key = {(UINT16)Scan, (CHAR16)Char};
  return true;
}

std::string Utf8(char16_t c) {
  std::string s;
  if (c < 0x80) {
    s += static_cast<char>(c);
  } else if (c < 0x800) {
    s += static_cast<char>(0xC0 | (c >> 6));
    s += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    s += static_cast<char>(0xE0 | (c >> 12));
    s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (c & 0x3F));
  }
  return s;
}

void WriteScreen(const Rig &r, const std::string &path) {
  std::ofstream f(path);
  for (UINTN row = 0; row < 27; row++) {
    for (UINTN col = 0; col < 100; col++) f << Utf8(r.p.At(col, row).ch);
    f << "\n";
  }
  char hex[3];
  for (UINTN row = 0; row < 27; row++) {
    for (UINTN col = 0; col < 100; col++) {
      std::snprintf(hex, sizeof hex, "%02X", r.p.At(col, row).attr);
      f << hex;
    }
    f << "\n";
  }
}

EFI_STATUS EFIAPI Start(UINTN, UINT64 *, UINT8 *) { return EFI_SUCCESS; }
EFI_STATUS EFIAPI FileEnter(EFI_FILE_PROTOCOL *, EFI_FILE_INFO *, VOID *) { return EFI_SUCCESS; }
EFI_STATUS EFIAPI EscapeEnter(VOID *, VOID *, VOID *) { return EFI_SUCCESS; }
EFI_STATUS EFIAPI EndOnKey(EFI_INPUT_KEY *, KEY_STATE *) { return EFI_END_OF_MEDIA; }

void Session(const char *volumes, const char *out, std::vector<std::string> keys) {
  Rig r;
  std::ifstream listing(volumes);
  ASSERT_TRUE(listing) << volumes;
  fake::Volume *v = nullptr;
  for (std::string line; std::getline(listing, line);) {
    std::istringstream words(line);
    std::string kind, name;
    uint64_t size = 0;
    words >> kind >> name >> size;
    if (kind == "volume") v = &r.fs.AddVolume();
    if (v == nullptr) continue;
    std::u16string wide(name.begin(), name.end());
    if (kind == "file") v->Root().AddFile(wide, size, fake::FsDate(2021, 3, 5));
    if (kind == "dir") v->Root().AddFile(wide, 0, fake::FsDate(2021, 3, 5), EFI_FILE_DIRECTORY);
  }

  // The bed's scripted run: no key hooks but the escape's, which ends the run.
  UI_RUN_PARAMETERS params = {};
  params.StartHook = Start;
  params.FileChosenEnterHook = FileEnter;
  params.FileFollowUpEnterHook = FileEnter;
  params.EscapeEnterHook = EscapeEnter;
  params.EscapeKeyHook = EndOnKey;

  std::vector<Step> steps;
  int n = 0;
  for (const std::string &name : keys) {
    EFI_INPUT_KEY key;
    ASSERT_TRUE(ParseKey(name, &key)) << name;
    // The screen before this key is the one after the key before.
    std::string path = std::string(out) + "/" + (n < 10 ? "0" : "") + std::to_string(n) + ".txt";
    steps.push_back(Key(key, [&r, path] { WriteScreen(r, path); }));
    n++;
  }
  // The last key ends the run, which takes its screen with it.
  EXPECT_EQ(r.RunScript(params, steps, 2), EFI_END_OF_MEDIA);
}

}  // namespace
}  // namespace uitest

// The session runs as the one test of this program, so that the rig's
// expectations report as they do in the host tests.
int main(int argc, char **argv) {
  testing::InitGoogleTest(&argc, argv);
  if (argc < 3) {
    std::fprintf(stderr, "usage: ui_session VOLUMES OUT KEY...\n");
    return 2;
  }
  std::vector<std::string> keys(argv + 3, argv + argc);
  testing::RegisterTest("UiSession", "ScreenAfterEveryKey", nullptr, nullptr, __FILE__, __LINE__, [=]() -> testing::Test * {
    struct SESSION_TEST : testing::Test {
      const char *Volumes, *Out;
      std::vector<std::string> Keys;
      void TestBody() override { uitest::Session(Volumes, Out, Keys); }
    };
    auto *t = new SESSION_TEST;
    t->Volumes = argv[1], t->Out = argv[2], t->Keys = keys;
    return t;
  });
  return RUN_ALL_TESTS();
}
