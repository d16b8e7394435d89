// SPDX-License-Identifier: BSD-2-Clause-Patent
// The fake platform where its own behaviour is subtle: the rules that code
// under test relies on must hold here as they do in firmware.
#include <gtest/gtest.h>
#include <gtest/gtest-spi.h>

#include "fake.h"

namespace {
const EFI_GUID kGuidA = {0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 8}};
const EFI_GUID kGroup = {0x22222222, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 8}};

std::vector<std::string> *gTrace;
VOID EFIAPI Note(EFI_EVENT, VOID *ctx) { gTrace->push_back(static_cast<const char *>(ctx)); }

TEST(FakePool, TracksLeaksGuardsAndInjectedFailures) {
  fake::Platform p;
  EFI_BOOT_SERVICES *bs = p.BootServices();
  VOID *a, *b;
  ASSERT_EQ(bs->AllocatePool(EfiBootServicesData, 10, &a), EFI_SUCCESS);
  p.FailAllocation(2);
  ASSERT_EQ(bs->AllocatePool(EfiBootServicesData, 10, &b), EFI_SUCCESS);
  VOID *c = nullptr;
  EXPECT_EQ(bs->AllocatePool(EfiBootServicesData, 10, &c), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(p.LivePoolCount(), 2u);
  EXPECT_EQ(bs->FreePool(b), EFI_SUCCESS);
  static_cast<uint8_t *>(a)[10] = 0;  // one byte past the block
  EXPECT_NONFATAL_FAILURE(bs->FreePool(a), "overrun");
  EXPECT_EQ(p.LivePoolCount(), 0u);
  EXPECT_NONFATAL_FAILURE(bs->FreePool(a), "not a live pool block");

  EFI_PHYSICAL_ADDRESS pages;
  ASSERT_EQ(bs->AllocatePages(AllocateAnyPages, EfiBootServicesData, 2, &pages), EFI_SUCCESS);
  EXPECT_EQ(pages % 4096, 0u);
  EXPECT_NONFATAL_FAILURE(bs->FreePages(pages, 1), "2-page block");
  EXPECT_EQ(bs->FreePages(pages, 2), EFI_SUCCESS);
}

TEST(FakeEvents, NotificationsRunByTplAndTimersByDeadline) {
  fake::Platform p;
  std::vector<std::string> trace;
  gTrace = &trace;
  EFI_BOOT_SERVICES *bs = p.BootServices();
  EFI_EVENT slow, fast, high;
  ASSERT_EQ(bs->CreateEvent(EVT_TIMER | EVT_NOTIFY_SIGNAL, TPL_CALLBACK, Note, (VOID *)"slow", &slow), EFI_SUCCESS);
  ASSERT_EQ(bs->CreateEvent(EVT_TIMER | EVT_NOTIFY_SIGNAL, TPL_CALLBACK, Note, (VOID *)"fast", &fast), EFI_SUCCESS);
  ASSERT_EQ(bs->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_NOTIFY, Note, (VOID *)"high", &high), EFI_SUCCESS);
  bs->SetTimer(slow, TimerRelative, 250000);
  bs->SetTimer(fast, TimerPeriodic, 100000);
  p.Advance(350000);
  EXPECT_EQ(trace, (std::vector<std::string>{"fast", "fast", "slow", "fast"}));

  // Above TPL_CALLBACK a callback waits for the TPL to drop; a TPL_NOTIFY one does not.
  trace.clear();
  EFI_TPL old = bs->RaiseTPL(TPL_CALLBACK);
  p.FireTimer(slow);
  bs->SignalEvent(high);
  EXPECT_EQ(trace, (std::vector<std::string>{"high"}));
  bs->RestoreTPL(old);
  EXPECT_EQ(trace, (std::vector<std::string>{"high", "slow"}));

  // WaitForEvent refuses above TPL_APPLICATION.
  EFI_EVENT plain;
  ASSERT_EQ(bs->CreateEvent(0, 0, nullptr, nullptr, &plain), EFI_SUCCESS);
  UINTN index;
  old = bs->RaiseTPL(TPL_CALLBACK);
  EXPECT_EQ(bs->WaitForEvent(1, &plain, &index), EFI_UNSUPPORTED);
  bs->RestoreTPL(old);
  for (EFI_EVENT e : {slow, fast, high, plain}) EXPECT_EQ(bs->CloseEvent(e), EFI_SUCCESS);
  EXPECT_NONFATAL_FAILURE(bs->SignalEvent(slow), "closed event");
}

TEST(FakeEvents, GroupsAndKeysAndIdleTime) {
  fake::Platform p;
  std::vector<std::string> trace;
  gTrace = &trace;
  EFI_BOOT_SERVICES *bs = p.BootServices();
  EFI_EVENT g1, g2;
  bs->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, Note, "g1", &kGroup, &g1);
  bs->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, Note, "g2", &kGroup, &g2);
  bs->SignalEvent(g2);
  EXPECT_EQ(trace.size(), 2u);
  bs->CloseEvent(g1);
  bs->CloseEvent(g2);

  // A key pushed by the idle hook ends the wait; the timer kept ticking meanwhile.
  EFI_EVENT tick;
  bs->CreateEvent(EVT_TIMER | EVT_NOTIFY_SIGNAL, TPL_CALLBACK, Note, (VOID *)"tick", &tick);
  bs->SetTimer(tick, TimerPeriodic, 100000);
  trace.clear();
  int rounds = 0;
  p.OnIdle([&] {
    p.Advance(100000);
    if (++rounds == 3) p.PushKey(SCAN_DOWN);
    return true;
  });
  EFI_EVENT wait[] = {p.SystemTable()->ConIn->WaitForKey};
  UINTN index = 9;
  ASSERT_EQ(bs->WaitForEvent(1, wait, &index), EFI_SUCCESS);
  EXPECT_EQ(index, 0u);
  EXPECT_EQ(trace.size(), 3u);
  EFI_INPUT_KEY key;
  ASSERT_EQ(p.SystemTable()->ConIn->ReadKeyStroke(p.SystemTable()->ConIn, &key), EFI_SUCCESS);
  EXPECT_EQ(key.ScanCode, SCAN_DOWN);
  EXPECT_EQ(p.SystemTable()->ConIn->ReadKeyStroke(p.SystemTable()->ConIn, &key), EFI_NOT_READY);
  bs->CloseEvent(tick);

  // With nothing left that could ever signal, the wait fails instead of hanging.
  p.OnIdle(nullptr);
  EXPECT_NONFATAL_FAILURE(EXPECT_EQ(bs->WaitForEvent(1, wait, &index), EFI_DEVICE_ERROR), "wait for ever");
}

TEST(FakeProtocols, NotifyLocateAndHandleBuffers) {
  fake::Platform p;
  EFI_BOOT_SERVICES *bs = p.BootServices();
  EFI_EVENT ev;
  bs->CreateEvent(0, 0, nullptr, nullptr, &ev);
  VOID *reg;
  ASSERT_EQ(bs->RegisterProtocolNotify(&kGuidA, ev, &reg), EFI_SUCCESS);
  int x = 1, y = 2;
  EFI_HANDLE h1 = nullptr, h2 = nullptr;
  ASSERT_EQ(bs->InstallProtocolInterface(&h1, &kGuidA, EFI_NATIVE_INTERFACE, &x), EFI_SUCCESS);
  EXPECT_EQ(bs->InstallProtocolInterface(&h1, &kGuidA, EFI_NATIVE_INTERFACE, &y), EFI_INVALID_PARAMETER);
  ASSERT_EQ(bs->InstallProtocolInterface(&h2, &kGuidA, EFI_NATIVE_INTERFACE, &y), EFI_SUCCESS);
  EXPECT_EQ(bs->CheckEvent(ev), EFI_SUCCESS);
  VOID *found;
  ASSERT_EQ(bs->LocateProtocol(&kGuidA, reg, &found), EFI_SUCCESS);
  EXPECT_EQ(found, &x);
  ASSERT_EQ(bs->LocateProtocol(&kGuidA, reg, &found), EFI_SUCCESS);
  EXPECT_EQ(found, &y);
  EXPECT_EQ(bs->LocateProtocol(&kGuidA, reg, &found), EFI_NOT_FOUND);

  UINTN n;
  EFI_HANDLE *hs;
  ASSERT_EQ(bs->LocateHandleBuffer(ByProtocol, &kGuidA, nullptr, &n, &hs), EFI_SUCCESS);
  EXPECT_EQ(n, 2u);
  EXPECT_EQ(p.LivePoolCount(), 1u);  // the caller owns the buffer
  bs->FreePool(hs);
  EXPECT_EQ(bs->UninstallProtocolInterface(h1, &kGuidA, &y), EFI_NOT_FOUND);
  EXPECT_EQ(bs->UninstallProtocolInterface(h1, &kGuidA, &x), EFI_SUCCESS);
  EXPECT_EQ(bs->HandleProtocol(h1, &kGuidA, &found), EFI_INVALID_PARAMETER);  // the handle is gone
  p.FailLocate(kGuidA, EFI_DEVICE_ERROR);
  EXPECT_EQ(bs->LocateProtocol(&kGuidA, nullptr, &found), EFI_DEVICE_ERROR);
  bs->CloseEvent(ev);
}

TEST(FakeVariables, SizeRulesFollowTheStandard) {
  fake::Platform p;
  EFI_RUNTIME_SERVICES *rt = p.RuntimeServices();
  p.SetVar("Setup", kGuidA, {1, 2, 3});
  UINT8 buf[8] = {};
  UINTN size = 2;
  UINT32 attrs = 0;
  EXPECT_EQ(rt->GetVariable(u"Setup", &kGuidA, &attrs, &size, buf), EFI_BUFFER_TOO_SMALL);
  EXPECT_EQ(size, 3u);
  EXPECT_EQ(buf[0], 0);
  size = sizeof buf;
  EXPECT_EQ(rt->GetVariable(u"Setup", &kGuidA, &attrs, &size, buf), EFI_SUCCESS);
  EXPECT_EQ(size, 3u);
  EXPECT_EQ(attrs, 7u);
  EXPECT_EQ(rt->GetVariable(u"Other", &kGuidA, nullptr, &size, buf), EFI_NOT_FOUND);
  UINT8 data[] = {9, 9};
  EXPECT_EQ(rt->SetVariable(u"Other", &kGuidA, 7, 2, data), EFI_SUCCESS);
  EXPECT_EQ(p.Var("Other", kGuidA), (std::vector<uint8_t>{9, 9}));
  EXPECT_EQ(rt->SetVariable(u"Other", &kGuidA, 7, 0, nullptr), EFI_SUCCESS);
  EXPECT_FALSE(p.HasVar("Other", kGuidA));
}

TEST(FakeConsole, WritesWrapAndScrollLikeARealConsole) {
  fake::Platform p;
  auto *out = p.SystemTable()->ConOut;
  ASSERT_EQ(out->SetMode(out, 1), EFI_SUCCESS);
  EXPECT_EQ(p.Columns(), 100u);
  EXPECT_EQ(out->SetMode(out, 2), EFI_UNSUPPORTED);
  out->SetAttribute(out, 0x1F);
  out->SetCursorPosition(out, 98, 0);
  out->OutputString(out, (CHAR16 *)u"abc");
  EXPECT_EQ(p.At(98, 0).ch, u'a');
  EXPECT_EQ(p.At(98, 0).attr, 0x1F);
  EXPECT_EQ(p.At(0, 1).ch, u'c');
  EXPECT_EQ(p.Scrolls(), 0u);
  out->SetCursorPosition(out, 99, 30);
  out->OutputString(out, (CHAR16 *)u"z");  // the bottom-right cell scrolls the screen
  EXPECT_EQ(p.Scrolls(), 1u);
  EXPECT_EQ(p.At(99, 29).ch, u'z');
  EXPECT_EQ(out->SetCursorPosition(out, 100, 0), EFI_UNSUPPORTED);
}
}  // namespace
