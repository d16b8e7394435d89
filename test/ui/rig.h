// SPDX-License-Identifier: BSD-2-Clause-Patent
// A whole UI image on the fake platform: the driver loaded through its entry
// point, the devices a run locates, file-system volumes, and a caller whose
// hooks record every call and answer with statuses the test chooses. A run
// is driven by a script of steps: each time the run waits, a repaint pass
// runs, the next step checks the screen and hands in its key.
#pragma once
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "devices.h"
#include "test/fake/fake.h"
#include "test/fake/fs.h"
#include "test/fake/gcp.h"
#include "test/fake/gop.h"
#include "ui/entry.h"
#include "ui/key_states.h"

namespace uitest {

constexpr EFI_INPUT_KEY kUp{SCAN_UP, 0};
constexpr EFI_INPUT_KEY kDown{SCAN_DOWN, 0};
constexpr EFI_INPUT_KEY kEsc{SCAN_ESC, 0};
constexpr EFI_INPUT_KEY kTab{0, CHAR_TAB};
constexpr EFI_INPUT_KEY kEnter{0, CHAR_CARRIAGE_RETURN};
constexpr EFI_INPUT_KEY kSpace{0, u' '};

// One call of a caller's hook.
struct HookCall {
  std::string hook;  // "StartHook", "EventHook", "FileChosenEnterHook", ...
  EFI_FILE_PROTOCOL *root = nullptr;
  EFI_FILE_INFO *file = nullptr;
  std::u16string file_name;  // copied at the call
  uint64_t file_size = 0;    // copied at the call
  void *context = nullptr;
  void *first = nullptr, *second = nullptr;  // the escape enter hook's two pointers
  EFI_INPUT_KEY key{};
  KEY_STATE *state = nullptr;
  UINT64 start_value = 0;
  UINT8 start_byte = 0;
};

// The outside module that calls Run. Hooks answer from a per-hook queue of
// statuses, then with the hook's default.
class Caller {
 public:
  Caller();
  ~Caller();
  // Parameters with every hook set (EventNotify/EventHook only when asked).
  UI_RUN_PARAMETERS Params(bool with_event = false);
  void Answer(const std::string &hook, EFI_STATUS s) { answers_[hook].push_back(s); }
  void Default(const std::string &hook, EFI_STATUS s) { defaults_[hook] = s; }
  std::vector<std::string> Names() const;  // the hooks called, in order
  std::vector<HookCall> Calls(const std::string &hook) const;
  std::vector<HookCall> calls;
  bool signal_armed = false;            // EventNotify signals the caller's event once
  uint64_t notify_checks = 0;           // times EventNotify ran
  std::function<void()> in_event_hook;  // extra work inside EventHook
  std::function<void()> in_enter_hook;  // extra work inside the file-chosen enter hook

  EFI_STATUS Next(const std::string &hook);
  static Caller *current;

 private:
  std::map<std::string, std::deque<EFI_STATUS>> answers_;
  std::map<std::string, EFI_STATUS> defaults_;
};

struct Step {
  std::function<void()> check;  // on the settled screen, before the key
  std::optional<EFI_INPUT_KEY> key;
  bool signal_caller = false;  // instead of a key: the caller's event fires
};
inline Step Key(EFI_INPUT_KEY k, std::function<void()> check = {}) { return Step{std::move(check), k, false}; }
inline Step Check(std::function<void()> check) { return Step{std::move(check), std::nullopt, false}; }
inline Step Signal(std::function<void()> check = {}) { return Step{std::move(check), std::nullopt, true}; }

struct RigOptions {
  bool graphics_console = true;
  bool graphics_output = true;
  bool pointer = false;
  std::vector<std::pair<UINTN, UINTN>> text_modes = {{80, 25}, {100, 31}};
};

class Rig {
 public:
  explicit Rig(RigOptions o = {});
  ~Rig();

  fake::Platform p;
  fake::FileSystem fs{p};
  std::unique_ptr<fake::Gop> gop;
  std::unique_ptr<fake::GraphicsConsole> gc;
  std::unique_ptr<TestPointer> pointer;
  Caller caller;
  EFI_HANDLE image = nullptr;
  UI_SCREEN_PROTOCOL *ui = nullptr;

  // A volume whose root holds the given (name, size) files, in order.
  fake::Volume &AddVolume(std::vector<std::pair<std::u16string, uint64_t>> files = {});

  // Runs with the steps; afterwards up to `fallback_escapes` Esc keys end a
  // run whose path the test does not script exactly. A run still waiting
  // after that fails the test.
  EFI_STATUS RunScript(UI_RUN_PARAMETERS params, std::vector<Step> steps, int fallback_escapes = 0);
  size_t StepsTaken() const { return steps_taken_; }

  // Console cells as text.
  std::u16string Text(UINTN col, UINTN row, UINTN len) const;
  std::string Ascii(UINTN col, UINTN row, UINTN len) const;
  UINT8 Attr(UINTN col, UINTN row) const { return p.At(col, row).attr; }

  // The console mode record as the caller left it before the run.
  SIMPLE_TEXT_OUTPUT_MODE console_before{};
  // Pool and page allocations alive before the run (the interface record).
  size_t pool_before = 0, pages_before = 0, events_before = 0;
  // Asserts that a finished run left nothing behind.
  void ExpectRestored(const char *what);

 private:
  size_t steps_taken_ = 0;
};

}  // namespace uitest
