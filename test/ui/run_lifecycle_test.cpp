// A run's start and end: start-up failures and their messages, the start hook,
// the caller's event on a failed start, a wait that fails, a caller's timer
// writing all through the clean-up, allocation failure at every allocation of
// a whole run, runs in a row, and the time one takes.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>

#include "rig.h"
#include "ui/browser.h"
#include "ui/layout.h"
#include "ui/run.h"
#include "ui/screen.h"

namespace uitest {
namespace {

std::vector<Step> WalkToAFileAndBack() { return {Key(kDown), Key(kEnter), Key(kDown), Key(kEnter), Key(kSpace), Key(kEsc), Key(kSpace)}; }

// Hook answers that make any path end after a few Esc keys: Esc in a list
// enters the escape screen, whose key hook ends the run; the chosen-file
// hook sends Esc back to the list; the follow-up hook ends the run.
void AnswersThatEndOnEscape(Caller &c) {
  c.Default("EscapeKeyHook", EFI_END_OF_MEDIA);
  c.Default("FileChosenKeyHook", EFI_NOT_READY);
  c.Default("FileFollowUpKeyHook", EFI_END_OF_MEDIA);
}

void AddTwoVolumes(Rig &r) {
  r.AddVolume({{u"A.ROM", 0x10000}});
  r.AddVolume({{u"B.ROM", 0x10000}, {u"C.TXT", 12}, {u"D.ROM", 0x20000}});
}

TEST(RunLifecycle, StartHookGetsItsPresetValuesBeforeAnythingWaits) {
  Rig r;
  AddTwoVolumes(r);
  AnswersThatEndOnEscape(r.caller);
  EXPECT_EQ(r.RunScript(r.caller.Params(), {Key(kEsc), Key(kSpace)}), EFI_END_OF_MEDIA);
  auto start = r.caller.Calls("StartHook");
  ASSERT_EQ(start.size(), 1u);
  EXPECT_EQ(start[0].start_value, 0u);
  EXPECT_EQ(start[0].start_byte, 3u);
  EXPECT_EQ(r.caller.Names().front(), "StartHook");
  r.ExpectRestored("after the run");
}

// A failing start hook ends the run before it waits. With a caller's event
// already made, the event is closed, and the failure is still what comes
// back: a failed start is never reported as success.
TEST(RunLifecycle, AFailingStartHookEndsTheRunWithItsErrorAlsoWithACallersEvent) {
  for (bool with_event : {false, true}) {
    SCOPED_TRACE(with_event ? "with the caller's event" : "without an event");
    Rig r;
    AddTwoVolumes(r);
    r.caller.Answer("StartHook", EFI_ABORTED);
    EXPECT_EQ(r.RunScript(r.caller.Params(with_event), {}), EFI_ABORTED);
    EXPECT_EQ(r.StepsTaken(), 0u) << "nothing waited";
    EXPECT_EQ(r.caller.Names(), std::vector<std::string>{"StartHook"});
    r.ExpectRestored("after the run");  // the caller's event is closed too
    EXPECT_EQ(r.p.ConsoleLog().back().name, "EnableCursor") << "the screen was torn down last";
  }
}

TEST(RunLifecycle, AMissingGraphicsProtocolIsNamedAndTheConsoleIsLeftAsItWas) {
  struct Case {
    RigOptions options;
    const char *message;
  };
  for (const Case &k : {Case{{.graphics_console = false}, "LocateProtocol gAdvancedGcProtocolGuid error Not Found\r\n"},
                        Case{{.graphics_output = false}, "LocateProtocol gEfiGraphicsOutputProtocolGuid error Not Found\r\n"}}) {
    SCOPED_TRACE(k.message);
    Rig r(k.options);
    AddTwoVolumes(r);
    r.p.ClearConsoleLog();
    EXPECT_EQ(r.RunScript(r.caller.Params(true), {}), EFI_NOT_FOUND);
    EXPECT_EQ(r.p.ConsoleTranscript(), k.message);
    for (const fake::ConsoleCall &call : r.p.ConsoleLog()) EXPECT_TRUE(call.name == "OutputString") << call.name << ": no screen is built";
    EXPECT_TRUE(r.caller.calls.empty()) << "no hook runs";
    EXPECT_EQ(r.p.RowAscii(3).substr(7, 14), "LocateProtocol") << "written at the caller's cursor";
    // The message advanced the cursor, as any text at the cursor does.
    r.console_before.CursorColumn = r.p.ConsoleMode()->CursorColumn;
    r.console_before.CursorRow = r.p.ConsoleMode()->CursorRow;
    r.ExpectRestored("after the run");
  }
}

// CreateEvent that refuses the caller's wait event and makes every other one.
decltype(EFI_BOOT_SERVICES::CreateEvent) real_create_event;
EFI_EVENT_NOTIFY refused_notify;
EFI_STATUS EFIAPI RefuseCallersEvent(UINT32 type, EFI_TPL tpl, EFI_EVENT_NOTIFY fn, VOID *ctx, EFI_EVENT *out) {
  if (fn == refused_notify) return EFI_OUT_OF_RESOURCES;
  return real_create_event(type, tpl, fn, ctx, out);
}

// The caller's event cannot be made after the pointer's event was: the run
// answers with that status, and the pointer's event is closed as well.
TEST(RunLifecycle, ACallersEventThatCannotBeMadeEndsTheRunAndClosesThePointersEvent) {
  Rig r({.pointer = true});
  AddTwoVolumes(r);
  UI_RUN_PARAMETERS params = r.caller.Params(true);
  EFI_BOOT_SERVICES *bs = r.p.BootServices();
  real_create_event = bs->CreateEvent;
  refused_notify = params.EventNotify;
  bs->CreateEvent = RefuseCallersEvent;
  EXPECT_EQ(r.RunScript(params, {}), EFI_OUT_OF_RESOURCES);
  bs->CreateEvent = real_create_event;
  EXPECT_TRUE(r.caller.calls.empty()) << "the start hook is not reached";
  r.ExpectRestored("after the run");
}

// WaitForEvent refuses above TPL_APPLICATION; the run then ends and cleans up.
TEST(RunLifecycle, AFailingWaitEndsTheRunWithItsStatus) {
  Rig r;
  AddTwoVolumes(r);
  EFI_BOOT_SERVICES *bs = r.p.BootServices();
  EFI_TPL old = bs->RaiseTPL(TPL_CALLBACK);
  EXPECT_EQ(r.RunScript(r.caller.Params(), {}), EFI_UNSUPPORTED);
  bs->RestoreTPL(old);
  r.ExpectRestored("after the run");
}

TEST(RunLifecycle, ASecondRunStartsFromACleanScreen) {
  Rig r;
  AddTwoVolumes(r);
  AnswersThatEndOnEscape(r.caller);
  EXPECT_EQ(r.RunScript(r.caller.Params(), WalkToAFileAndBack()), EFI_END_OF_MEDIA);
  r.ExpectRestored("after the first run");
  EXPECT_EQ(BrowserLists.VolumeSelection, 1u) << "the selection of the last run is still there";

  r.caller.calls.clear();
  EXPECT_EQ(r.RunScript(r.caller.Params(), {Check([&] {
                                              EXPECT_EQ(r.Text(0, 5, 8), u"  \u25BAfs0  ") << "the first volume again";
                                              EXPECT_EQ(BiosFiles.BiosFileCount, 0u);
                                              EXPECT_EQ(KeyStateStack->Current, KeyStates.VolumeListKeyState);
                                            }),
                                            Key(kEnter), Key(kEnter), Key(kSpace), Key(kEsc), Key(kSpace)}),
            EFI_END_OF_MEDIA);
  EXPECT_EQ(r.caller.Calls("FileChosenEnterHook").at(0).file_name, u"A.ROM");
  r.ExpectRestored("after the second run");
}

// A caller's own timer that writes into the run through every protocol
// function but Run. It fires at every boot-service call of the clean-up, and
// again as each pool or page free returns, where a timer that came due while
// the firmware held its memory lock runs.
struct CleanUpTimer {
  Rig *rig = nullptr;
  EFI_EVENT event = nullptr;
  bool cleaning = false, in_notify = false, leave_box_shown = false;
  int fired = 0;
};
CleanUpTimer clean_up_timer;
decltype(EFI_BOOT_SERVICES::FreePool) real_free_pool;
decltype(EFI_BOOT_SERVICES::FreePages) real_free_pages;

VOID EFIAPI WriteIntoTheRun(EFI_EVENT, VOID *) {
  CleanUpTimer &t = clean_up_timer;
  t.in_notify = true;
  t.fired++;
  UI_SCREEN_PROTOCOL *ui = t.rig->ui;
  for (UINT32 w = UI_WINDOW_MESSAGE_BOX; w <= UI_WINDOW_CALLER; w++) {
    ui->ClearLine(w, 1, nullptr);
    ui->Clear(w, nullptr);
  }
  // Selector 5 is no window of its own and prints into the message box.
  for (UINT32 w = UI_WINDOW_CALLER + 1; w-- > UI_WINDOW_MESSAGE_BOX;)
    for (UINT32 mode = TEXT_MODE_LEFT; mode <= TEXT_MODE_CENTRE; mode++) {
      UI_TEXT_POSITION pos{w, 0, 1, 1, mode, 0};
      ui->Print(&pos, nullptr, u"tick %d", t.fired);
    }
  if (!t.leave_box_shown) ui->Clear(UI_WINDOW_MESSAGE_BOX, nullptr);
  ui->DrawProgressFrame();
  ui->SetProgress(42, 1);
  t.in_notify = false;
}

void FireDuringCleanUp() {
  CleanUpTimer &t = clean_up_timer;
  if (t.cleaning && !t.in_notify) t.rig->p.FireTimer(t.event);
}
EFI_STATUS EFIAPI FreePoolThenFire(VOID *buffer) {
  EFI_STATUS s = real_free_pool(buffer);
  FireDuringCleanUp();
  return s;
}
EFI_STATUS EFIAPI FreePagesThenFire(EFI_PHYSICAL_ADDRESS memory, UINTN pages) {
  EFI_STATUS s = real_free_pages(memory, pages);
  FireDuringCleanUp();
  return s;
}

// Mended: the clean-up freed each window before it let go of it, so a
// caller's timer writing in between reached freed cells. Whatever the timer's
// TPL and whether it leaves the message box up, the run ends cleanly, with
// no backdrop left behind (AddressSanitizer reports any freed cell touched).
TEST(RunLifecycle, ACallersTimerWritingAtEachStepOfTheCleanUpReachesNothingFreed) {
  for (EFI_TPL tpl : {TPL_CALLBACK, TPL_NOTIFY})
    for (bool box_shown : {false, true}) {
      SCOPED_TRACE("timer at TPL " + std::to_string(tpl) + (box_shown ? ", box left up" : ", box cleared"));
      Rig r;
      AddTwoVolumes(r);
      clean_up_timer = CleanUpTimer{&r, nullptr, false, false, box_shown, 0};
      EFI_BOOT_SERVICES *bs = r.p.BootServices();
      r.caller.Answer("EventHook", EFI_ABORTED);
      // The caller arms its timer in the hook that ends the run.
      r.caller.in_event_hook = [&] {
        ASSERT_EQ(bs->CreateEvent(EVT_TIMER | EVT_NOTIFY_SIGNAL, tpl, WriteIntoTheRun, nullptr, &clean_up_timer.event), EFI_SUCCESS);
        clean_up_timer.cleaning = true;
      };
      real_free_pool = bs->FreePool;
      real_free_pages = bs->FreePages;
      bs->FreePool = FreePoolThenFire;
      bs->FreePages = FreePagesThenFire;
      r.p.OnServiceCall(FireDuringCleanUp);
      EXPECT_EQ(r.RunScript(r.caller.Params(true), {Signal()}), EFI_SUCCESS);
      r.p.OnServiceCall(nullptr);
      bs->FreePool = real_free_pool;
      bs->FreePages = real_free_pages;
      clean_up_timer.cleaning = false;
      EXPECT_GT(clean_up_timer.fired, 20) << "the timer fired all through the clean-up";
      if (clean_up_timer.event != nullptr) bs->CloseEvent(clean_up_timer.event);
      r.ExpectRestored("after the run");
    }
}

// A whole run to sweep allocation failures over: its volumes and hooks, and
// the keys of its walk.
struct SweepScenario {
  const char *name;
  std::function<void(Rig &)> setup;
  std::function<std::vector<Step>()> walk;
};

// Every allocation a whole run makes fails in turn. Whatever failed, the run
// must come back with an error, leave nothing allocated or open, give the
// console back as it was, and the next run must work.
void SweepAllocationFailures(const SweepScenario &scenario) {
  SCOPED_TRACE(scenario.name);
  uint64_t total = 0;
  {
    Rig r;
    scenario.setup(r);
    uint64_t before = r.p.AllocationCount();
    ASSERT_EQ(r.RunScript(r.caller.Params(), scenario.walk()), EFI_END_OF_MEDIA);
    total = r.p.AllocationCount() - before;
    r.ExpectRestored("baseline");
  }
  ASSERT_GT(total, 20u) << "a whole run allocates screen, windows, states and file records";
  std::printf("[   INFO   ] %s: %llu allocations, each failed in turn\n", scenario.name, static_cast<unsigned long long>(total));

  for (uint64_t n = 1; n <= total; n++) {
    SCOPED_TRACE("allocation " + std::to_string(n) + " of " + std::to_string(total) + " fails");
    Rig r;
    scenario.setup(r);
    r.p.FailAllocation(n);
    // Without a caller's event the status that ended the run comes back, so
    // even a run that got past the failure must answer with an error.
    EFI_STATUS s = r.RunScript(r.caller.Params(), scenario.walk(), 6);
    EXPECT_TRUE(EFI_ERROR(s)) << "status " << std::hex << s;
    if (s == EFI_OUT_OF_RESOURCES) {
      // Only the screen and the key states stop a run for want of memory, and
      // each says so on the console.
      std::string t = r.p.ConsoleTranscript();
      EXPECT_TRUE(t.find("InitialDrawFunction error Out of Resources") != std::string::npos ||
                  t.find("InitialKeyFunction error Out of Resources") != std::string::npos)
          << t;
    }
    r.ExpectRestored("after the failed run");
    if (::testing::Test::HasFailure()) return;

    r.p.FailAllocation(0);
    r.caller.calls.clear();
    EXPECT_EQ(r.RunScript(r.caller.Params(), {Key(kDown), Key(kEnter), Key(kEnter), Key(kSpace), Key(kEsc), Key(kSpace)}),
              EFI_END_OF_MEDIA);
    EXPECT_EQ(r.caller.Calls("FileChosenEnterHook").size(), 1u) << "the next run reaches a file";
    r.ExpectRestored("after the next run");
    if (::testing::Test::HasFailure()) return;
  }
}

TEST(RunLifecycle, AllocationFailureAtEachAllocationOfAWalkToAFile) {
  SweepAllocationFailures({"walk to a file and back",
                           [](Rig &r) {
                             AddTwoVolumes(r);
                             AnswersThatEndOnEscape(r.caller);
                           },
                           WalkToAFileAndBack});
}

// The same with the message box: a volume without BIOS files shows its
// notice over the grey backdrop, and the caller prints into the box.
TEST(RunLifecycle, AllocationFailureAtEachAllocationOfAWalkThroughTheMessageBox) {
  SweepAllocationFailures({"walk through the message box",
                           [](Rig &r) {
                             r.AddVolume({{u"readme.txt", 10}});
                             r.AddVolume({{u"B.ROM", 0x10000}});
                             AnswersThatEndOnEscape(r.caller);
                             r.caller.in_enter_hook = [&r] {
                               UI_TEXT_POSITION pos{UI_WINDOW_MESSAGE_BOX, 0, 0, 1, TEXT_MODE_CENTRE, 0};
                               r.ui->Print(&pos, nullptr, u"Checking");
                             };
                           },
                           [] {
                             return std::vector<Step>{Key(kEnter), Key(kSpace), Key(kDown), Key(kEnter),
                                                      Key(kEnter), Key(kSpace), Key(kEsc),  Key(kSpace)};
                           }});
}

TEST(RunLifecycle, TimeOfAWholeScriptedRun) {
  Rig r;
  AddTwoVolumes(r);
  for (int i = 0; i < 9; i++) r.fs.At(1).Root().AddFile(u"F" + fake::U16(std::to_string(i).c_str()) + u".ROM", 0x10000);
  AnswersThatEndOnEscape(r.caller);
  std::vector<Step> steps = {Key(kDown), Key(kEnter)};
  for (int i = 0; i < 10; i++) steps.push_back(Key(kDown));
  for (auto k : {kEnter, kSpace, kEnter, kSpace, kTab, kUp, kTab, kEsc, kSpace}) steps.push_back(Key(k));
  size_t keys = steps.size();
  auto t0 = std::chrono::steady_clock::now();
  EFI_STATUS s = r.RunScript(r.caller.Params(), steps);
  auto t1 = std::chrono::steady_clock::now();
  EXPECT_EQ(s, EFI_END_OF_MEDIA);
  double ms = std::chrono::duration<double, std::milli>(t1 - t0).count();
  std::printf("[   INFO   ] whole scripted run: %zu keys, %.2f ms (a repaint pass per key), %llu console characters\n", keys, ms,
              static_cast<unsigned long long>(r.p.CharactersWritten()));
  ::testing::Test::RecordProperty("whole_run_ms", std::to_string(ms));
  r.ExpectRestored("after the run");
}

}  // namespace
}  // namespace uitest
