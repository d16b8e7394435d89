// The host half of the host/firmware differential: the test bed's scripted run
// over the volumes the bed's disks hold, on the fake platform, with the screen
// written out after every key. test/bed/run.py runs it (it is disabled for
// plain test runs) and compares each screen with the firmware's, cell by cell.
//
//   UI_SESSION_VOLUMES  file of "volume", "file NAME SIZE" and "dir NAME" lines
//   UI_SESSION_KEYS     the keys, by the QEMU monitor's names (down, up, ret, tab, esc)
//   UI_SESSION_OUT      folder for NN.txt: 27 lines of text (UTF-8), then 27 of attributes
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "rig.h"

namespace uitest {
namespace {

bool KeyNamed(const std::string &name, EFI_INPUT_KEY *key) {
  static const std::pair<const char *, EFI_INPUT_KEY> kKeys[] = {{"down", kDown}, {"up", kUp},   {"ret", kEnter},
                                                                 {"tab", kTab},   {"esc", kEsc}, {"spc", kSpace}};
  for (auto &[n, k] : kKeys)
    if (name == n) return *key = k, true;
  return false;
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

TEST(UiSession, DISABLED_ScreenAfterEveryKey) {
  const char *volumes = std::getenv("UI_SESSION_VOLUMES");
  const char *keys = std::getenv("UI_SESSION_KEYS");
  const char *out = std::getenv("UI_SESSION_OUT");
  ASSERT_TRUE(volumes && keys && out) << "run by test/bed/run.py";

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
  std::istringstream names(keys);
  int n = 0;
  for (std::string name; names >> name;) {
    EFI_INPUT_KEY key;
    ASSERT_TRUE(KeyNamed(name, &key)) << name;
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
