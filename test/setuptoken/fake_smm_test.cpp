// SPDX-License-Identifier: BSD-2-Clause-Patent
// The fake SMM itself, since other drivers' tests lean on it: SMM Base2 in
// and out of SMM, the SMM protocol database and its notifications, SMI
// handler dispatch, and SMRAM pool accounting.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include "test/fake/smm.h"

namespace {

const EFI_GUID kA = {0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 8}};
const EFI_GUID kB = {0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 9}};

struct Seen {
  int count = 0;
  EFI_GUID guid{};
  void *iface = nullptr;
  EFI_HANDLE handle = nullptr;
} gSeen;

EFI_STATUS EFIAPI OnInstall(const EFI_GUID *Protocol, VOID *Interface, EFI_HANDLE Handle) {
  gSeen.count++;
  gSeen.guid = *Protocol;
  gSeen.iface = Interface;
  gSeen.handle = Handle;
  return EFI_SUCCESS;
}

int gHandlerCalls;
EFI_STATUS EFIAPI Handler(EFI_HANDLE, const VOID *Context, VOID *Buffer, UINTN *Size) {
  gHandlerCalls++;
  *(int *)Buffer += *(const int *)Context;
  *Size = 1;
  return EFI_WARN_STALE_DATA;
}

TEST(FakeSmm, Base2GivesTheTableOnlyInsideSmm) {
  fake::Platform platform;
  {
    fake::Smm smm(platform);
    EFI_SMM_BASE2_PROTOCOL *base2 = nullptr;
    ASSERT_EQ(platform.BootServices()->LocateProtocol(&fake::Smm::Base2Guid(), nullptr, (VOID **)&base2), EFI_SUCCESS);
    EFI_SMM_SYSTEM_TABLE2 *smst = nullptr;
    BOOLEAN in = 0;
    EXPECT_EQ(base2->InSmm(base2, &in), EFI_SUCCESS);
    EXPECT_EQ(in, 1);
    EXPECT_EQ(base2->GetSmstLocation(base2, &smst), EFI_SUCCESS);
    EXPECT_EQ(smst, smm.Table());
    EXPECT_EQ(smst->Hdr.Signature, 0x54534D53u);

    smm.SetInSmm(false);
    smst = nullptr;
    EXPECT_EQ(base2->InSmm(base2, &in), EFI_SUCCESS);
    EXPECT_EQ(in, 0);
    EXPECT_EQ(base2->GetSmstLocation(base2, &smst), EFI_UNSUPPORTED);
    EXPECT_EQ(smst, nullptr);
    EXPECT_EQ(smm.GetSmstLocationCalls(), 2u);
  }
  EXPECT_EQ(platform.Find(fake::Smm::Base2Guid()), nullptr) << "SMM Base2 must leave with the Smm";
}

TEST(FakeSmm, ProtocolDatabaseAndNotifications) {
  fake::Platform platform;
  fake::Smm smm(platform);
  EFI_SMM_SYSTEM_TABLE2 *st = smm.Table();
  int a1 = 0, a2 = 0, b = 0;
  EFI_HANDLE early = nullptr;
  ASSERT_EQ(smm.Install(&early, kA, &a1), EFI_SUCCESS);

  gSeen = Seen{};
  VOID *reg = nullptr;
  ASSERT_EQ(st->SmmRegisterProtocolNotify(&kA, OnInstall, &reg), EFI_SUCCESS);
  EXPECT_EQ(gSeen.count, 0) << "earlier installs do not notify";
  EXPECT_EQ(smm.NotifyCount(kA), 1u);

  EFI_HANDLE h = nullptr, hb = nullptr;
  ASSERT_EQ(st->SmmInstallProtocolInterface(&h, &kA, EFI_NATIVE_INTERFACE, &a2), EFI_SUCCESS);
  ASSERT_EQ(st->SmmInstallProtocolInterface(&hb, &kB, EFI_NATIVE_INTERFACE, &b), EFI_SUCCESS);
  EXPECT_EQ(gSeen.count, 1);
  EXPECT_TRUE(GuidEqual(gSeen.guid, kA));
  EXPECT_EQ(gSeen.iface, &a2);
  EXPECT_EQ(gSeen.handle, h);
  EXPECT_EQ(st->SmmInstallProtocolInterface(&h, &kA, EFI_NATIVE_INTERFACE, &a2), EFI_INVALID_PARAMETER);

  // Located through the registration: each new install once, then nothing.
  VOID *iface = nullptr;
  EXPECT_EQ(st->SmmLocateProtocol(&kA, reg, &iface), EFI_SUCCESS);
  EXPECT_EQ(iface, &a2);
  EXPECT_EQ(st->SmmLocateProtocol(&kA, reg, &iface), EFI_NOT_FOUND);
  EXPECT_EQ(iface, nullptr);
  // Located without it: the first one.
  EXPECT_EQ(st->SmmLocateProtocol(&kA, nullptr, &iface), EFI_SUCCESS);
  EXPECT_EQ(iface, &a1);
  smm.FailLocate(kA, EFI_DEVICE_ERROR);
  EXPECT_EQ(st->SmmLocateProtocol(&kA, nullptr, &iface), EFI_DEVICE_ERROR);
  smm.FailLocate(kA, 0);
  EXPECT_EQ(smm.LocateCalls(kA), 4u);

  VOID *got = nullptr;
  EXPECT_EQ(st->SmmHandleProtocol(hb, &kB, &got), EFI_SUCCESS);
  EXPECT_EQ(got, &b);
  EXPECT_EQ(st->SmmHandleProtocol(hb, &kA, &got), EFI_UNSUPPORTED);

  UINTN size = 0;
  EXPECT_EQ(st->SmmLocateHandle(ByProtocol, &kA, nullptr, &size, nullptr), EFI_BUFFER_TOO_SMALL);
  EXPECT_EQ(size, 2 * sizeof(EFI_HANDLE));
  EFI_HANDLE handles[2];
  EXPECT_EQ(st->SmmLocateHandle(ByProtocol, &kA, nullptr, &size, handles), EFI_SUCCESS);
  EXPECT_EQ(handles[0], early);
  EXPECT_EQ(handles[1], h);

  // A null function cancels the registration.
  EXPECT_EQ(st->SmmRegisterProtocolNotify(&kA, nullptr, &reg), EFI_SUCCESS);
  EXPECT_EQ(smm.NotifyCount(kA), 0u);
  EXPECT_EQ(st->SmmUninstallProtocolInterface(h, &kA, &a2), EFI_SUCCESS);
  EXPECT_EQ(st->SmmUninstallProtocolInterface(h, &kA, &a2), EFI_NOT_FOUND);
  EFI_HANDLE h2 = nullptr;
  ASSERT_EQ(smm.Install(&h2, kA, &a2), EFI_SUCCESS);
  EXPECT_EQ(gSeen.count, 1);
}

EFI_STATUS gReturn;
EFI_STATUS EFIAPI Returns(EFI_HANDLE, const VOID *, VOID *, UINTN *) { return gReturn; }

// The sender sees what the firmware's SMM core makes of a handler's status;
// a status no SMI handler may return fails the test.
TEST(FakeSmm, CommunicateShowsTheSenderWhatTheCoreMakesOfTheStatus) {
  fake::Platform platform;
  fake::Smm smm(platform);
  EFI_HANDLE d = nullptr;
  ASSERT_EQ(smm.Table()->SmiHandlerRegister(Returns, &kA, &d), EFI_SUCCESS);
  struct {
    EFI_STATUS handler, sender;
  } cases[] = {{EFI_SUCCESS, EFI_SUCCESS},
               {EFI_WARN_INTERRUPT_SOURCE_QUIESCED, EFI_SUCCESS},
               {EFI_WARN_INTERRUPT_SOURCE_PENDING, EFI_NOT_FOUND},
               {EFI_INTERRUPT_PENDING, EFI_NOT_FOUND}};
  int buffer = 0;
  UINTN size = sizeof buffer;
  for (const auto &c : cases) {
    gReturn = c.handler;
    EXPECT_EQ(smm.Communicate(kA, &buffer, &size), c.sender) << std::hex << c.handler;
  }
  gReturn = EFI_INVALID_PARAMETER;
  EXPECT_NONFATAL_FAILURE(smm.Communicate(kA, &buffer, &size), "may not return");
}

TEST(FakeSmm, HandlersAreRecordedDispatchedAndUnregistered) {
  fake::Platform platform;
  fake::Smm smm(platform);
  EFI_SMM_SYSTEM_TABLE2 *st = smm.Table();
  EFI_HANDLE d1 = nullptr, d2 = nullptr;
  ASSERT_EQ(st->SmiHandlerRegister(Handler, &kA, &d1), EFI_SUCCESS);
  ASSERT_EQ(st->SmiHandlerRegister(Handler, &kA, &d2), EFI_SUCCESS);
  EXPECT_NE(d1, d2);
  EXPECT_EQ(smm.HandlerCount(kA), 2u);
  EXPECT_EQ(smm.HandlerCount(kB), 0u);

  gHandlerCalls = 0;
  int buffer = 0, step = 5;
  UINTN size = sizeof buffer;
  EXPECT_EQ(smm.Dispatch(kA, &buffer, &size, &step), EFI_WARN_STALE_DATA);
  EXPECT_EQ(gHandlerCalls, 2);
  EXPECT_EQ(buffer, 10);
  EXPECT_EQ(size, 1u);
  EXPECT_EQ(st->SmiManage(&kA, &step, &buffer, &size), EFI_WARN_STALE_DATA);
  EXPECT_EQ(buffer, 20);

  EXPECT_EQ(st->SmiHandlerUnRegister(d1), EFI_SUCCESS);
  EXPECT_EQ(st->SmiHandlerUnRegister(d1), EFI_INVALID_PARAMETER);
  EXPECT_EQ(smm.HandlerCount(kA), 1u);
  EXPECT_NONFATAL_FAILURE(smm.Dispatch(kB, &buffer, &size), "no SMI handler");

  smm.FailHandlerRegister(EFI_OUT_OF_RESOURCES);
  EFI_HANDLE d3 = nullptr;
  EXPECT_EQ(st->SmiHandlerRegister(Handler, &kA, &d3), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(smm.HandlerCount(kA), 1u);
  EXPECT_EQ(smm.HandlerRegisterCalls(), 3u);
}

TEST(FakeSmm, SmramPoolIsCountedGuardedAndCanFail) {
  fake::Platform platform;
  fake::Smm smm(platform);
  EFI_SMM_SYSTEM_TABLE2 *st = smm.Table();
  VOID *p = nullptr, *q = nullptr;
  ASSERT_EQ(st->SmmAllocatePool(EfiRuntimeServicesData, 24, &p), EFI_SUCCESS);
  EXPECT_EQ(smm.LivePoolCount(), 1u);
  smm.FailAllocation(1);
  EXPECT_EQ(st->SmmAllocatePool(EfiRuntimeServicesData, 24, &q), EFI_OUT_OF_RESOURCES);
  ASSERT_EQ(st->SmmAllocatePool(EfiRuntimeServicesData, 24, &q), EFI_SUCCESS);

  static_cast<UINT8 *>(q)[24] = 0;  // one byte past the end
  EXPECT_NONFATAL_FAILURE(st->SmmFreePool(q), "past its end");
  EXPECT_EQ(st->SmmFreePool(p), EFI_SUCCESS);
  EXPECT_NONFATAL_FAILURE(EXPECT_EQ(st->SmmFreePool(p), EFI_INVALID_PARAMETER), "not a live SMRAM pool block");

  EFI_PHYSICAL_ADDRESS pages = 0;
  ASSERT_EQ(st->SmmAllocatePages(AllocateAnyPages, EfiRuntimeServicesData, 2, &pages), EFI_SUCCESS);
  EXPECT_EQ(pages % 4096, 0u);
  EXPECT_EQ(smm.LivePageCount(), 1u);
  EXPECT_EQ(st->SmmFreePages(pages, 2), EFI_SUCCESS);
  EXPECT_EQ(smm.LivePoolCount() + smm.LivePageCount(), 0u);
}

TEST(FakeSmm, LeakedSmramFailsTheTest) {
  fake::Platform platform;
  EXPECT_NONFATAL_FAILURE(
      {
        fake::Smm smm(platform);
        VOID *p = nullptr;
        smm.Table()->SmmAllocatePool(EfiRuntimeServicesData, 8, &p);
      },
      "leaked SMRAM pool");
}

}  // namespace
