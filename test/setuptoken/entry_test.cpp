// SPDX-License-Identifier: BSD-2-Clause-Patent
// The image's start-up, driver entry and settings request handler on the
// fake platform, fake SMM, fake PCD and fake processor.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <string>
#include <vector>

#include "setuptoken/settings_request.h"
#include "setuptoken/setup_token.h"
#include "test/fake/hw_model.h"
#include "test/fake/pcd.h"
#include "test/fake/smm.h"
#include "test/setuptoken/settings_model.h"

using namespace tokentest;

namespace {

const EFI_GUID kRequestGuid = SETTINGS_REQUEST_GUID;
const EFI_GUID kCheckGuid = SMM_BUFFER_CHECK_PROTOCOL_GUID;
const EFI_GUID kTokenGuid = TOKEN_SERVICE_PROTOCOL_GUID;
const EFI_GUID kPcdGuid = PCD_PROTOCOL_GUID;
const EFI_GUID kDebugGuid = DEBUG_PRINT_PROTOCOL_GUID;

constexpr UINT32 kServedFamily = 0x00B40F00;

// The buffer check takes no interface pointer, so its double lives here.
struct CheckState {
  int calls = 0;
  const void *buffer = nullptr;
  UINTN size = 0;
  EFI_STATUS status = EFI_SUCCESS;
  UINTN *resize = nullptr;  // when set, the check changes the caller's size as a racing caller would
} gCheck;

// The debug print published in SMM; keeps each refusal's reason and status.
struct DebugState {
  std::vector<std::string> reasons;
  std::vector<EFI_STATUS> statuses;
} gDebug;

EFI_STATUS EFIAPI DebugPrint(UINTN Level, const CHAR8 *Format, EFI_VA_LIST Args) {
  EXPECT_EQ(Level, DEBUG_LEVEL_ERROR);
  EXPECT_STREQ(Format, "[SetupTokenSmm] SettingsRequest refused: %a, Status: %r\n");
  gDebug.reasons.push_back(EFI_VA_ARG(Args, const char *));
  gDebug.statuses.push_back(EFI_VA_ARG(Args, EFI_STATUS));
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI CheckBuffer(const VOID *Buffer, UINTN Size) {
  gCheck.calls++;
  gCheck.buffer = Buffer;
  gCheck.size = Size;
  if (gCheck.resize) *gCheck.resize = 4;
  return gCheck.status;
}

class SetupTokenSmm : public ::testing::Test {
 protected:
  void SetUp() override {
    gCheck = CheckState{};
    gDebug = DebugState{};
    SetFamily(kServedFamily | 0x42);
    ASSERT_EQ(smm.Install(&debug_handle, kDebugGuid, &debug), EFI_SUCCESS);
    ASSERT_EQ(smm.Install(&check_handle, kCheckGuid, &check), EFI_SUCCESS);
    ASSERT_EQ(smm.Install(&token_handle, kTokenGuid, tokens.Interface()), EFI_SUCCESS);
  }
  void TearDown() override {
    // The exchange buffer is handed over for good; a test gives it back so
    // that every other allocation shows up as a leak.
    if (void *buffer = ExchangeBuffer()) platform.BootServices()->FreePool(buffer);
    EXPECT_EQ(platform.LivePoolCount(), 0u);
    EXPECT_EQ(platform.LivePageCount(), 0u);
    EXPECT_EQ(smm.LivePoolCount(), 0u);
  }

  void SetFamily(UINT32 eax) { hw.SetCpuid(0x80000001, HW_CPUID{eax, 0, 0, 0}); }
  EFI_STATUS Start() { return SetupTokenSmmEntry(platform.NewImageHandle(), platform.SystemTable()); }
  void *ExchangeBuffer() {
    void *p = (void *)(uintptr_t)pcd.Get(EXCHANGE_BUFFER_PCD_TOKEN);
    return p && platform.IsLive(p) ? p : nullptr;
  }

  static std::vector<uint8_t> Request(uint8_t command = SETTINGS_REQUEST_COMMAND) {
    std::vector<uint8_t> req{command};
    auto rec = AutoRecord();
    req.insert(req.end(), rec.begin(), rec.end());
    return req;
  }
  // What the sender sees through the SMM core.
  EFI_STATUS Send(std::vector<uint8_t> &req) {
    UINTN size = req.size();
    return smm.Communicate(kRequestGuid, req.data(), &size);
  }
  // A refused request reads as EFI_NOT_FOUND to the sender; the reason and
  // the status behind it are in the debug log, once.
  void ExpectRefusal(EFI_STATUS seen, const char *reason, EFI_STATUS why) {
    EXPECT_EQ(seen, EFI_NOT_FOUND) << reason;
    ASSERT_EQ(gDebug.reasons.size(), 1u) << reason;
    EXPECT_EQ(gDebug.reasons[0], reason);
    EXPECT_EQ(gDebug.statuses[0], why) << reason;
    gDebug = DebugState{};
  }

  fake::Platform platform;
  fake::HwModel hw;
  fake::Smm smm{platform};
  fake::FakePcd pcd{platform, true, false};
  TokenRecorder tokens;
  SMM_BUFFER_CHECK_PROTOCOL check{CheckBuffer};
  DEBUG_PRINT_PROTOCOL debug{DebugPrint};
  EFI_HANDLE check_handle = nullptr, token_handle = nullptr, debug_handle = nullptr;
};

// ---- Entry ----

TEST_F(SetupTokenSmm, ServedFamilyPublishesBufferAndRegistersOneHandler) {
  for (UINT32 low : {0x00u, 0x4Fu, 0xFFu}) {       // base model and stepping do not matter
    SetFamily(kServedFamily | low | 0xF0000000u);  // nor do the reserved top bits
    pcd.ClearLog();
    ASSERT_EQ(Start(), EFI_SUCCESS);
    void *buffer = ExchangeBuffer();
    ASSERT_NE(buffer, nullptr) << "PCD 1293 must hold the buffer's address";
    EXPECT_EQ(platform.Allocations().at(buffer).size, (size_t)EXCHANGE_BUFFER_SIZE);
    EXPECT_EQ(platform.TypeOf(buffer), EfiRuntimeServicesData);
    ASSERT_EQ(pcd.Log().size(), 1u);
    EXPECT_EQ(pcd.Log()[0].fn, "Set64");
    ASSERT_EQ(smm.HandlerCount(kRequestGuid), 1u);
    EXPECT_EQ(smm.Handlers().back().dispatch, gDispatchHandle);
    // Nothing beyond the one buffer.
    EXPECT_EQ(platform.LivePoolCount(), 1u);
    platform.BootServices()->FreePool(buffer);
    ASSERT_EQ(smm.Table()->SmiHandlerUnRegister(gDispatchHandle), EFI_SUCCESS);
  }
}

TEST_F(SetupTokenSmm, OtherFamiliesDoNothingAndSucceed) {
  // Family 19h, the neighbouring model block, another base family, and a
  // processor without the extended leaf.
  for (UINT32 eax : {0x00A40F00u, 0x00A00F10u, 0x00B50F00u, 0x00B30F00u, 0x00B40E00u, 0x00040F00u, 0x0u}) {
    SetFamily(eax);
    uint64_t allocs = platform.AllocationCount();
    EXPECT_EQ(Start(), EFI_SUCCESS) << std::hex << eax;
    EXPECT_EQ(platform.AllocationCount(), allocs);
    EXPECT_EQ(pcd.Calls(), 0u);
    EXPECT_EQ(smm.HandlerRegisterCalls(), 0u);
  }
}

TEST_F(SetupTokenSmm, FailedAllocationEndsEntryBeforePcdAndRegistration) {
  platform.FailAllocation(1);
  EXPECT_EQ(Start(), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(pcd.Calls(), 0u);
  EXPECT_EQ(smm.HandlerRegisterCalls(), 0u);
}

TEST_F(SetupTokenSmm, PcdHoldsBufferEvenWhenRegistrationFails) {
  smm.FailHandlerRegister(EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(Start(), EFI_OUT_OF_RESOURCES);
  void *buffer = ExchangeBuffer();
  ASSERT_NE(buffer, nullptr);
  EXPECT_EQ(platform.TypeOf(buffer), EfiRuntimeServicesData);
  EXPECT_EQ(smm.Handlers().size(), 0u);
}

// A PCD protocol whose Set64 refuses; the driver must not care.
UINTN gSet64Token;
UINT64 gSet64Value;
EFI_STATUS EFIAPI RefusingSet64(UINTN Token, UINT64 Value) {
  gSet64Token = Token, gSet64Value = Value;
  return EFI_DEVICE_ERROR;
}

TEST_F(SetupTokenSmm, FailingSet64IsIgnored) {
  pcd.UninstallPcd();
  PCD_PROTOCOL refusing{};
  refusing.Set64 = RefusingSet64;
  EFI_HANDLE h = nullptr;
  ASSERT_EQ(platform.Install(&h, kPcdGuid, &refusing), EFI_SUCCESS);
  gSet64Token = 0;
  EXPECT_EQ(Start(), EFI_SUCCESS);
  EXPECT_EQ(gSet64Token, (UINTN)EXCHANGE_BUFFER_PCD_TOKEN);
  EXPECT_EQ(smm.HandlerCount(kRequestGuid), 1u);
  platform.BootServices()->FreePool((void *)(uintptr_t)gSet64Value);
  platform.Uninstall(h, kPcdGuid, &refusing);
}

TEST_F(SetupTokenSmm, MissingSmmBase2OrTableEndsWithAnError) {
  platform.FailLocate(fake::Smm::Base2Guid(), EFI_NOT_FOUND);
  EXPECT_EQ(Start(), EFI_NOT_FOUND);
  EXPECT_EQ(smm.GetSmstLocationCalls(), 0u);
  platform.FailLocate(fake::Smm::Base2Guid(), 0);
  smm.SetInSmm(false);  // started by the DXE dispatcher: no SMM table to be had
  EXPECT_EQ(Start(), EFI_UNSUPPORTED);
  smm.SetInSmm(true);
  smm.FailGetSmstLocation(EFI_DEVICE_ERROR);
  EXPECT_EQ(Start(), EFI_DEVICE_ERROR);
  EXPECT_EQ(smm.HandlerRegisterCalls(), 0u);
  EXPECT_EQ(pcd.Calls(), 0u);
}

TEST_F(SetupTokenSmm, MissingPcdEndsWithAnErrorAndReturnsTheBuffer) {
  pcd.UninstallPcd();
  EXPECT_EQ(Start(), EFI_NOT_FOUND);
  EXPECT_EQ(smm.HandlerRegisterCalls(), 0u);
  EXPECT_EQ(platform.LivePoolCount(), 0u);
  // A later start finds it once it is there.
  pcd.InstallPcd();
  EXPECT_EQ(Start(), EFI_SUCCESS);
  EXPECT_NE(ExchangeBuffer(), nullptr);
}

// ---- Handler ----

class Handler : public SetupTokenSmm {
 protected:
  void SetUp() override {
    SetupTokenSmm::SetUp();
    ASSERT_EQ(Start(), EFI_SUCCESS);
    ASSERT_EQ(smm.HandlerCount(kRequestGuid), 1u);
  }
};

TEST_F(Handler, AcceptedRequestIsTranslatedAndReadsAsSuccess) {
  auto req = Request();
  req[1 + 0x028] = 0x33;
  UINTN size = req.size();
  EXPECT_EQ(smm.Dispatch(kRequestGuid, req.data(), &size), EFI_SUCCESS);
  EXPECT_EQ(gCheck.calls, 1);
  EXPECT_EQ(gCheck.buffer, req.data());
  EXPECT_EQ(gCheck.size, req.size());
  EXPECT_EQ(tokens.Calls(), ExpectedCalls(req.data() + 1));
  EXPECT_EQ(tokens.Writes().size(), 2u);
  EXPECT_TRUE(gDebug.reasons.empty());
}

// The record is read once, into SMRAM. A writer that changes the
// caller's buffer while the token service runs (another processor, a
// device) cannot make the handler write a combination that no record holds:
// byte 0x36B is both token 0xADC833E4's value and the gate of 0xA7C33753.
TEST_F(Handler, RecordChangedDuringTranslationIsNotSeen) {
  for (uint8_t before : {0, 1}) {
    auto req = Request();
    req[1 + 0x0B8] = 1, req[1 + 0x36B] = before;
    const auto expected = ExpectedCalls(req.data() + 1);
    tokens.Clear();
    tokens.OnEachCall([&] {
      req[1 + 0x36B] = !before;
      for (size_t i = 1; i < req.size(); i++)
        if (i != 1 + 0x36B) req[i] ^= 0x5A;  // and everything else, every call
    });
    EXPECT_EQ(Send(req), EFI_SUCCESS);
    tokens.OnEachCall(nullptr);
    EXPECT_EQ(tokens.Calls(), expected) << "0x36B was " << int(before);
    bool wrote32 = false;
    for (const TokenCall &c : tokens.Writes()) wrote32 |= c.token == 0xA7C33753;
    EXPECT_EQ(wrote32, before == 0);
  }
}

TEST_F(Handler, ExactlyTheMinimumSizeIsEnoughAndShorterIsRefusedUnread) {
  // A request of exactly the minimum size at the end of its allocation: a
  // read past it would trip the address sanitizer.
  auto req = Request();
  ASSERT_EQ(req.size(), SETTINGS_REQUEST_MIN_SIZE);
  req[1 + 0x3DE] = 7, req[1 + 0x020] = 0x4B;
  EXPECT_EQ(Send(req), EFI_SUCCESS);
  EXPECT_EQ(tokens.Writes().back(), Set(Op::U8, 0x8B8B9F43, 7));

  // Shorter requests are refused before their bytes or the buffer check are touched.
  void *page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(page, MAP_FAILED);
  gCheck.calls = 0;
  const uint64_t locates = smm.LocateCalls(kTokenGuid);
  for (UINTN size : {(UINTN)0, (UINTN)1, SETTINGS_REQUEST_MIN_SIZE - 1}) {
    UINTN s = size;
    ExpectRefusal(smm.Communicate(kRequestGuid, page, &s), "short request", EFI_INVALID_PARAMETER);
  }
  EXPECT_EQ(gCheck.calls, 0);
  EXPECT_EQ(smm.LocateCalls(kTokenGuid), locates);
  munmap(page, 4096);
}

// The handler returns only statuses an SMI handler may return. Each
// refusal is "source pending", which the SMM core shows the sender as
// EFI_NOT_FOUND, with the reason in the debug log.
TEST_F(Handler, RefusalsReturnOnlyAllowedStatusesAndLogTheReason) {
  auto req = Request();
  UINTN size = req.size();
  EXPECT_EQ(smm.Dispatch(kRequestGuid, nullptr, &size), EFI_WARN_INTERRUPT_SOURCE_PENDING);
  ExpectRefusal(EFI_NOT_FOUND, "no request", EFI_INVALID_PARAMETER);
  ExpectRefusal(smm.Communicate(kRequestGuid, req.data(), nullptr), "no request", EFI_INVALID_PARAMETER);
  EXPECT_EQ(gCheck.calls, 0);
  EXPECT_TRUE(tokens.Calls().empty());

  // Without a debug print the refusal is the same, only silent.
  ASSERT_EQ(smm.Uninstall(debug_handle, kDebugGuid, &debug), EFI_SUCCESS);
  gSmmDebugPrint = nullptr;
  EXPECT_EQ(smm.Communicate(kRequestGuid, nullptr, &size), EFI_NOT_FOUND);
  EXPECT_TRUE(gDebug.reasons.empty());
}

TEST_F(Handler, FailedCheckRefusesBeforeAnyByteIsRead) {
  void *page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(page, MAP_FAILED);
  gCheck.status = EFI_ACCESS_DENIED;
  UINTN size = 4096;
  ExpectRefusal(smm.Communicate(kRequestGuid, page, &size), "buffer check", EFI_ACCESS_DENIED);
  EXPECT_EQ(gCheck.calls, 1);
  EXPECT_EQ(gCheck.size, 4096u);
  EXPECT_EQ(smm.LocateCalls(kTokenGuid), 0u);
  munmap(page, 4096);
  // A warning from the check is not a refusal.
  gCheck.status = EFI_WARN_STALE_DATA;
  auto req = Request();
  EXPECT_EQ(Send(req), EFI_SUCCESS);
}

TEST_F(Handler, SizeIsReadOnceSoTheVettedSizeIsTheOneUsed) {
  // The caller shrinks the size while the check runs; the handler goes on
  // with the size that was vetted instead of reading it again.
  auto req = Request();
  UINTN size = req.size();
  gCheck.resize = &size;
  EXPECT_EQ(smm.Communicate(kRequestGuid, req.data(), &size), EFI_SUCCESS);
  EXPECT_EQ(gCheck.size, 992u);
  EXPECT_EQ(tokens.Calls(), ExpectedCalls(req.data() + 1));
}

TEST_F(Handler, WrongCommandIsRefusedWithoutTokenService) {
  for (uint8_t command : {0xCA, 0x00, 0xCC, 0xFF}) {
    auto req = Request(command);
    ExpectRefusal(Send(req), "command", EFI_UNSUPPORTED);
  }
  EXPECT_EQ(smm.LocateCalls(kTokenGuid), 0u);
  EXPECT_TRUE(tokens.Calls().empty());
}

TEST(SetupTokenSmmStartup, WithoutBufferCheckEveryRequestIsRefused) {
  fake::Platform platform;
  fake::HwModel hw;
  fake::Smm smm{platform};
  fake::FakePcd pcd{platform, true, false};
  TokenRecorder tokens;
  EFI_HANDLE th = nullptr;
  ASSERT_EQ(smm.Install(&th, kTokenGuid, tokens.Interface()), EFI_SUCCESS);
  hw.SetCpuid(0x80000001, HW_CPUID{kServedFamily, 0, 0, 0});
  ASSERT_EQ(SetupTokenSmmEntry(platform.NewImageHandle(), platform.SystemTable()), EFI_SUCCESS);
  ASSERT_EQ(smm.HandlerCount(kRequestGuid), 1u);
  // Installing the check afterwards does not help: it is looked for once, at start-up.
  SMM_BUFFER_CHECK_PROTOCOL check{CheckBuffer};
  DEBUG_PRINT_PROTOCOL debug{DebugPrint};
  EFI_HANDLE ch = nullptr, dh = nullptr;
  ASSERT_EQ(smm.Install(&ch, kCheckGuid, &check), EFI_SUCCESS);
  ASSERT_EQ(smm.Install(&dh, kDebugGuid, &debug), EFI_SUCCESS);
  gCheck = CheckState{};
  gDebug = DebugState{};
  for (uint8_t command : {0xCB, 0xCA, 0x00}) {
    std::vector<uint8_t> req(2048, 0xFF);
    req[0] = command;
    UINTN size = req.size();
    EXPECT_EQ(smm.Communicate(kRequestGuid, req.data(), &size), EFI_NOT_FOUND);
  }
  EXPECT_EQ(gDebug.reasons, std::vector<std::string>(3, "no buffer check"));
  EXPECT_EQ(gCheck.calls, 0);
  EXPECT_TRUE(tokens.Calls().empty());
  EXPECT_EQ(smm.LocateCalls(kTokenGuid), 0u);
  platform.BootServices()->FreePool((void *)(uintptr_t)pcd.Get(EXCHANGE_BUFFER_PCD_TOKEN));
}

TEST_F(Handler, MissingTokenServiceIsRefusedWithTheLocateStatusAndWritesNothing) {
  ASSERT_EQ(smm.Uninstall(token_handle, kTokenGuid, tokens.Interface()), EFI_SUCCESS);
  auto req = Request();
  ExpectRefusal(Send(req), "no token service", EFI_NOT_FOUND);
  smm.FailLocate(kTokenGuid, EFI_ACCESS_DENIED);
  ExpectRefusal(Send(req), "no token service", EFI_ACCESS_DENIED);
  EXPECT_TRUE(tokens.Calls().empty());
}

TEST_F(Handler, TokenServiceIsLocatedAnewForEachRequest) {
  auto req = Request();
  EXPECT_EQ(Send(req), EFI_SUCCESS);
  // The service is replaced between requests; the second goes to the new one.
  TokenRecorder replacement;
  ASSERT_EQ(smm.Uninstall(token_handle, kTokenGuid, tokens.Interface()), EFI_SUCCESS);
  EFI_HANDLE h = nullptr;
  ASSERT_EQ(smm.Install(&h, kTokenGuid, replacement.Interface()), EFI_SUCCESS);
  tokens.Clear();
  EXPECT_EQ(Send(req), EFI_SUCCESS);
  EXPECT_TRUE(tokens.Calls().empty());
  EXPECT_EQ(replacement.Calls(), ExpectedCalls(req.data() + 1));
  EXPECT_EQ(smm.LocateCalls(kTokenGuid), 2u);
}

TEST_F(Handler, RefusedOpeningIsARefusalWithTheServicesStatus) {
  tokens.FailOpen(EFI_NOT_READY);
  auto req = Request();
  ExpectRefusal(Send(req), "token service", EFI_NOT_READY);
  ASSERT_EQ(tokens.Calls().size(), 1u);
  EXPECT_EQ(tokens.Calls()[0].op, Op::Open);
}

}  // namespace
