// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "rig.h"

#include <gtest/gtest.h>

#include "ui/browser.h"
#include "ui/layout.h"
#include "ui/pointer.h"
#include "ui/run.h"

namespace uitest {

Caller *Caller::current;

namespace {

std::u16string NameOf(const EFI_FILE_INFO *f) { return f ? std::u16string(f->FileName) : std::u16string(); }

EFI_STATUS EFIAPI StartHookFn(UINTN zero, UINT64 *value, UINT8 *byte) {
  HookCall c{"StartHook"};
  EXPECT_EQ(zero, 0u);
  c.start_value = *value;
  c.start_byte = *byte;
  Caller::current->calls.push_back(c);
  return Caller::current->Next("StartHook");
}

VOID EFIAPI EventNotifyFn(EFI_EVENT e, VOID *context) {
  auto *caller = static_cast<Caller *>(context);
  caller->notify_checks++;
  if (!caller->signal_armed) return;
  caller->signal_armed = false;
  fake::Platform::Current()->BootServices()->SignalEvent(e);
}

EFI_STATUS EFIAPI EventHookFn(VOID *context) {
  HookCall c{"EventHook"};
  c.context = context;
  Caller::current->calls.push_back(c);
  if (Caller::current->in_event_hook) Caller::current->in_event_hook();
  return Caller::current->Next("EventHook");
}

EFI_STATUS FileHook(const char *name, EFI_FILE_PROTOCOL *root, EFI_FILE_INFO *file, VOID *context) {
  HookCall c{name};
  c.root = root;
  c.file = file;
  c.file_name = NameOf(file);
  c.file_size = file ? file->FileSize : 0;
  c.context = context;
  Caller::current->calls.push_back(c);
  return Caller::current->Next(name);
}

EFI_STATUS KeyHook(const char *name, EFI_INPUT_KEY *key, KEY_STATE *state) {
  HookCall c{name};
  c.key = *key;
  c.state = state;
  Caller::current->calls.push_back(c);
  return Caller::current->Next(name);
}

EFI_STATUS EFIAPI ChosenEnter(EFI_FILE_PROTOCOL *r, EFI_FILE_INFO *f, VOID *ctx) {
  if (Caller::current->in_enter_hook) Caller::current->in_enter_hook();
  return FileHook("FileChosenEnterHook", r, f, ctx);
}
EFI_STATUS EFIAPI FollowUpEnter(EFI_FILE_PROTOCOL *r, EFI_FILE_INFO *f, VOID *ctx) { return FileHook("FileFollowUpEnterHook", r, f, ctx); }
EFI_STATUS EFIAPI EscapeEnter(VOID *a, VOID *b, VOID *ctx) {
  HookCall c{"EscapeEnterHook"};
  c.first = a;
  c.second = b;
  c.context = ctx;
  Caller::current->calls.push_back(c);
  return Caller::current->Next("EscapeEnterHook");
}
EFI_STATUS EFIAPI ChosenKey(EFI_INPUT_KEY *k, KEY_STATE *s) { return KeyHook("FileChosenKeyHook", k, s); }
EFI_STATUS EFIAPI FollowUpKey(EFI_INPUT_KEY *k, KEY_STATE *s) { return KeyHook("FileFollowUpKeyHook", k, s); }
EFI_STATUS EFIAPI EscapeKey(EFI_INPUT_KEY *k, KEY_STATE *s) { return KeyHook("EscapeKeyHook", k, s); }

}  // namespace

Caller::Caller() { current = this; }
Caller::~Caller() { current = nullptr; }

EFI_STATUS Caller::Next(const std::string &hook) {
  auto &q = answers_[hook];
  if (!q.empty()) {
    EFI_STATUS s = q.front();
    q.pop_front();
    return s;
  }
  auto d = defaults_.find(hook);
  return d == defaults_.end() ? EFI_SUCCESS : d->second;
}

UI_RUN_PARAMETERS Caller::Params(bool with_event) {
  UI_RUN_PARAMETERS r{};
  r.StartHook = StartHookFn;
  r.HookContext = this;
  if (with_event) {
    r.EventNotify = EventNotifyFn;
    r.EventHook = EventHookFn;
  }
  r.FileChosenEnterHook = ChosenEnter;
  r.FileChosenKeyHook = ChosenKey;
  r.FileFollowUpEnterHook = FollowUpEnter;
  r.FileFollowUpKeyHook = FollowUpKey;
  r.EscapeEnterHook = EscapeEnter;
  r.EscapeKeyHook = EscapeKey;
  return r;
}

std::vector<std::string> Caller::Names() const {
  std::vector<std::string> v;
  for (auto &c : calls) v.push_back(c.hook);
  return v;
}

std::vector<HookCall> Caller::Calls(const std::string &hook) const {
  std::vector<HookCall> v;
  for (auto &c : calls)
    if (c.hook == hook) v.push_back(c);
  return v;
}

Rig::Rig(RigOptions o) {
  p.SetTextModes(o.text_modes);
  gop = std::make_unique<fake::Gop>(p, 1024, 768, o.graphics_output);
  gc = std::make_unique<fake::GraphicsConsole>(p, o.graphics_console);
  if (o.pointer) {
    pointer = std::make_unique<TestPointer>(p);
    EFI_HANDLE h = nullptr;
    EXPECT_EQ(p.Install(&h, gEfiSimplePointerProtocolGuid, pointer->Protocol()), EFI_SUCCESS);
  }
  image = p.NewImageHandle();
  EXPECT_EQ(UiScreenEntryPoint(image, p.SystemTable()), EFI_SUCCESS);
  ui = static_cast<UI_SCREEN_PROTOCOL *>(p.Find(gUiScreenProtocolGuid));
  EXPECT_NE(ui, nullptr);
  // A console the caller left in a state of its own, to be given back.
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *con = p.SystemTable()->ConOut;
  con->SetAttribute(con, 0x1E);
  con->SetCursorPosition(con, 7, 3);
}

Rig::~Rig() {
  if (ui) EXPECT_EQ(DriverUnload(image), EFI_SUCCESS);
}

fake::Volume &Rig::AddVolume(std::vector<std::pair<std::u16string, uint64_t>> files) {
  fake::Volume &v = fs.AddVolume();
  for (auto &[name, size] : files) v.Root().AddFile(name, size, fake::FsDate(2021, 3, 5));
  return v;
}

EFI_STATUS Rig::RunScript(UI_RUN_PARAMETERS params, std::vector<Step> steps, int fallback_escapes) {
  console_before = *p.ConsoleMode();
  pool_before = p.LivePoolCount();
  pages_before = p.LivePageCount();
  events_before = p.LiveEventCount();
  size_t next = 0;
  steps_taken_ = 0;
  p.OnIdle([&]() -> bool {
    p.Advance(100000);  // one repaint period: the screen settles
    if (next < steps.size()) {
      Step &s = steps[next++];
      steps_taken_ = next;
      if (s.check) s.check();
      if (s.key) p.PushKey(s.key->ScanCode, s.key->UnicodeChar);
      if (s.signal_caller) caller.signal_armed = true;
      return true;
    }
    if (fallback_escapes-- > 0) {
      p.PushKey(SCAN_ESC, 0);
      return true;
    }
    ADD_FAILURE() << "the run still waits after its script";
    return false;
  });
  EFI_STATUS s = ui->Run(ui, &params);
  p.OnIdle(nullptr);
  return s;
}

std::u16string Rig::Text(UINTN col, UINTN row, UINTN len) const {
  std::u16string s;
  for (UINTN c = col; c < col + len && c < p.Columns(); c++) s.push_back(p.At(c, row).ch);
  return s;
}

std::string Rig::Ascii(UINTN col, UINTN row, UINTN len) const {
  std::string s;
  for (char16_t ch : Text(col, row, len)) s.push_back(ch < 0x80 ? static_cast<char>(ch) : '#');
  return s;
}

void Rig::ExpectRestored(const char *what) {
  SCOPED_TRACE(what);
  EXPECT_EQ(ActiveRun(), nullptr);
  EXPECT_EQ(p.LivePoolCount(), pool_before) << "pool leaked";
  EXPECT_EQ(p.LivePageCount(), pages_before) << "pages leaked";
  EXPECT_EQ(p.LiveEventCount(), events_before) << "events left open";
  EXPECT_EQ(fs.OpenHandles(), 0u) << "file handles left open";
  EXPECT_TRUE(gc->Active().empty()) << "a grey backdrop outlived the run";
  const SIMPLE_TEXT_OUTPUT_MODE &now = *p.ConsoleMode();
  EXPECT_EQ(now.Mode, console_before.Mode);
  EXPECT_EQ(now.Attribute, console_before.Attribute);
  EXPECT_EQ(now.CursorColumn, console_before.CursorColumn);
  EXPECT_EQ(now.CursorRow, console_before.CursorRow);
  EXPECT_EQ(now.CursorVisible, console_before.CursorVisible);
  // Nothing of the run may still be reachable through the module globals.
  for (UI_WINDOW *w : {RunWindows.BackgroundWindow, RunWindows.VolumeListWindow, RunWindows.FileListWindow, RunWindows.FileInfoWindow,
                       RunWindows.CallerWindow, RunWindows.MessageBox, RunPointer.Layer})
    EXPECT_EQ(w, nullptr);
  for (KEY_STATE *k : {KeyStates.BaseKeyState, KeyStates.VolumeListKeyState, KeyStates.FileListKeyState, KeyStates.EscapeKeyState,
                       KeyStates.FileChosenKeyState, KeyStates.FileFollowUpKeyState})
    EXPECT_EQ(k, nullptr);
  EXPECT_EQ(KeyStateStack, nullptr);
  EXPECT_EQ(RunPointer.Event, nullptr);
  EXPECT_EQ(BiosFiles.VolumeHandles, nullptr);
  EXPECT_EQ(BiosFiles.BiosFileList, nullptr);
  EXPECT_EQ(BiosFiles.RootDirectory, nullptr);
}

}  // namespace uitest
