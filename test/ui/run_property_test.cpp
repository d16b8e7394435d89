// SPDX-License-Identifier: BSD-2-Clause-Patent
// Random whole runs: random volumes and files, random keys and random hook
// answers. Whatever happens, the key-state stack keeps its shape, the
// selections stay inside their lists, every file handed to a hook is a live
// record of the list, and the run ends leaving nothing behind.
#include <gtest/gtest.h>

#include <random>

#include "rig.h"
#include "ui/browser.h"
#include "ui/key_states.h"

namespace uitest {
namespace {

std::vector<KEY_STATE *> StackTopDown() {
  std::vector<KEY_STATE *> v;
  KEY_STATE_LINK *head = &KeyStateStack->StateList;
  for (KEY_STATE_LINK *l = head->ForwardLink; l != head && v.size() < 10; l = l->ForwardLink) v.push_back(reinterpret_cast<KEY_STATE *>(l));
  return v;
}

// Base at the bottom, one list above it, at most one caller's screen on top.
void ExpectStackShape(const char *when) {
  SCOPED_TRACE(when);
  ASSERT_NE(KeyStateStack, nullptr);
  std::vector<KEY_STATE *> s = StackTopDown();
  ASSERT_GE(s.size(), 2u);
  ASSERT_LE(s.size(), 3u);
  EXPECT_EQ(s.front(), KeyStateStack->Current);
  EXPECT_EQ(s.back(), KeyStates.BaseKeyState);
  KEY_STATE *list = s[s.size() - 2];
  EXPECT_TRUE(list == KeyStates.VolumeListKeyState || list == KeyStates.FileListKeyState);
  if (s.size() == 3)
    EXPECT_TRUE(s[0] == KeyStates.EscapeKeyState || s[0] == KeyStates.FileChosenKeyState || s[0] == KeyStates.FileFollowUpKeyState);
  if (KeyStateStack->Current == KeyStates.FileChosenKeyState || KeyStateStack->Current == KeyStates.FileFollowUpKeyState)
    EXPECT_LT(BrowserLists.FileSelection, BiosFiles.BiosFileCount) << "a caller's file screen always has its file";
}

TEST(RunProperty, RandomKeysAndHookAnswersKeepTheStateMachineSound) {
  const EFI_INPUT_KEY keys[] = {kUp, kDown, kEsc, kTab, kEnter, kSpace};
  const EFI_STATUS answers[] = {EFI_SUCCESS, EFI_NOT_READY, EFI_END_OF_MEDIA, EFI_DEVICE_ERROR};
  const char *key_hooks[] = {"FileChosenKeyHook", "FileFollowUpKeyHook", "EscapeKeyHook"};
  for (unsigned seed = 1; seed <= 40; seed++) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    auto pick = [&](size_t n) { return static_cast<size_t>(rng() % n); };
    Rig r;
    size_t volumes = pick(4);
    for (size_t v = 0; v < volumes; v++) {
      std::vector<std::pair<std::u16string, uint64_t>> files;
      size_t n = pick(11);
      for (size_t f = 0; f < n; f++) {
        const uint64_t sizes[] = {0x10000, 0x20000, 0, 65537, 0x1000000, 12};
        files.push_back({u"FILE" + fake::U16(std::to_string(f).c_str()) + u".BIN", sizes[pick(6)]});
      }
      fake::Volume &vol = r.AddVolume(files);
      if (pick(3) == 0) vol.Root().AddDirectory(u"DIR", EFI_FILE_DIRECTORY | EFI_FILE_ARCHIVE);
    }
    // Random answers first, then the ones that let Esc keys end any run.
    for (const char *hook : key_hooks)
      for (int i = 0; i < 8; i++) r.caller.Answer(hook, answers[pick(4)]);
    r.caller.Default("EscapeKeyHook", EFI_END_OF_MEDIA);
    r.caller.Default("FileChosenKeyHook", EFI_NOT_READY);
    r.caller.Default("FileFollowUpKeyHook", EFI_END_OF_MEDIA);

    std::vector<Step> steps;
    for (int i = 0; i < 60; i++) steps.push_back(Key(keys[pick(6)], [] { ExpectStackShape("before a key"); }));
    EFI_STATUS s = r.RunScript(r.caller.Params(), steps, 60);
    EXPECT_EQ(s, EFI_END_OF_MEDIA);

    for (const HookCall &c : r.caller.calls) {
      if (c.hook != "FileChosenEnterHook" && c.hook != "FileFollowUpEnterHook") continue;
      EXPECT_NE(c.root, nullptr) << c.hook;
      ASSERT_NE(c.file, nullptr) << c.hook;
      EXPECT_EQ(c.file_name.substr(0, 4), u"FILE") << "never a directory";
      EXPECT_TRUE(c.file_size == 0x10000 || c.file_size == 0x20000 || c.file_size == 0x1000000) << c.file_size;
    }
    r.ExpectRestored("after the run");
    if (::testing::Test::HasFailure()) break;
  }
}

}  // namespace
}  // namespace uitest
