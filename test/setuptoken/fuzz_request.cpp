// SPDX-License-Identifier: BSD-2-Clause-Patent
// Fuzzes the settings request handler: the first input byte picks how the
// outside world behaves (buffer check, token service, and whether the token
// service rewrites the caller's request on every call, as another processor
// could), the rest is the request. Every outcome is checked against the
// option list in settings_model.cpp applied to the request as sent; a
// mismatch, a status an SMI handler may not return, or a stray read ends the
// run.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "hw.h"
#include "setuptoken/settings_request.h"
#include "setuptoken/setup_token.h"
#include "test/setuptoken/settings_model.h"

using namespace tokentest;

namespace {

std::vector<TokenCall> gCalls;
EFI_STATUS gOpenStatus;
bool gCheckFails, gServiceMissing, gRacing;
int gChecks, gLocates, gMessages;
uint8_t *gRequest;
size_t gRequestSize;
TOKEN_SERVICE_PROTOCOL gService;
EFI_SMM_SYSTEM_TABLE2 gTable;
SMM_BUFFER_CHECK_PROTOCOL gCheck;

#define REQUIRE(c)              \
  do {                          \
    if (!(c)) __builtin_trap(); \
  } while (0)

// The racing writer: every token service call changes every byte of the
// caller's request, so any byte the handler read in place would show.
void Race() {
  if (!gRacing) return;
  for (size_t i = 0; i < gRequestSize; i++) gRequest[i] = (uint8_t)(gRequest[i] * 5 + gCalls.size());
}

// Every service call: the interface it came through, kept in order, then the race.
EFI_STATUS Keep(TOKEN_SERVICE_PROTOCOL *This, const TokenCall &C, EFI_STATUS Answer) {
  REQUIRE(This == &gService);
  gCalls.push_back(C);
  Race();
  return Answer;
}

EFI_STATUS EFIAPI Open(TOKEN_SERVICE_PROTOCOL *This, TOKEN_SERVICE_PROTOCOL *Service) {
  REQUIRE(Service == &gService);
  return Keep(This, {Op::Open}, gOpenStatus);
}
EFI_STATUS EFIAPI Level(TOKEN_SERVICE_PROTOCOL *This, UINT8 L) { return Keep(This, {Op::Level, L}, EFI_SUCCESS); }
EFI_STATUS EFIAPI SetBool(TOKEN_SERVICE_PROTOCOL *This, UINT8 L, UINT32 T, BOOLEAN V) {
  return Keep(This, {Op::Bool, L, T, V}, EFI_DEVICE_ERROR);  // ignored by the translation
}
EFI_STATUS EFIAPI Set8(TOKEN_SERVICE_PROTOCOL *This, UINT8 L, UINT32 T, UINT8 V) { return Keep(This, {Op::U8, L, T, V}, EFI_SUCCESS); }
EFI_STATUS EFIAPI Set16(TOKEN_SERVICE_PROTOCOL *This, UINT8 L, UINT32 T, UINT16 V) { return Keep(This, {Op::U16, L, T, V}, EFI_SUCCESS); }
EFI_STATUS EFIAPI Set32(TOKEN_SERVICE_PROTOCOL *This, UINT8 L, UINT32 T, UINT32 V) { return Keep(This, {Op::U32, L, T, V}, EFI_SUCCESS); }
EFI_STATUS EFIAPI Finish(TOKEN_SERVICE_PROTOCOL *This) { return Keep(This, {Op::Finish}, EFI_SUCCESS); }
EFI_STATUS EFIAPI Close(TOKEN_SERVICE_PROTOCOL *This) { return Keep(This, {Op::Close}, EFI_SUCCESS); }
EFI_STATUS EFIAPI Check(const VOID *, UINTN) {
  gChecks++;
  return gCheckFails ? EFI_ACCESS_DENIED : EFI_SUCCESS;
}
EFI_STATUS EFIAPI DebugPrint(UINTN, const CHAR8 *, EFI_VA_LIST) {
  gMessages++;
  return EFI_SUCCESS;
}
DEBUG_PRINT_PROTOCOL gDebug = {DebugPrint};
const EFI_GUID gDebugGuid = DEBUG_PRINT_PROTOCOL_GUID;

EFI_STATUS EFIAPI Locate(const EFI_GUID *Guid, VOID *, VOID **Interface) {
  if (GuidEqual(*Guid, gDebugGuid)) {
    *Interface = &gDebug;
    return EFI_SUCCESS;
  }
  gLocates++;
  REQUIRE(GuidEqual(*Guid, gTokenServiceProtocolGuid));
  *Interface = gServiceMissing ? nullptr : &gService;
  return gServiceMissing ? EFI_NOT_FOUND : EFI_SUCCESS;
}

}  // namespace

// The handler's image also carries the entry, which asks for the processor.
EFI_EXTERN_C HW_CPUID HwCpuid(UINT32) { return HW_CPUID{}; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  const uint8_t control = data[0];
  gCheckFails = control & 1;
  gServiceMissing = control & 2;
  gOpenStatus = (control & 4) ? EFI_NOT_READY : EFI_SUCCESS;
  gRacing = control & 8;
  gCalls.clear();
  gChecks = gLocates = gMessages = 0;

  gService.Open = Open, gService.SetLevel = Level, gService.SetBool = SetBool, gService.Set8 = Set8;
  gService.Set16 = Set16, gService.Set32 = Set32, gService.Finish = Finish, gService.Close = Close;
  gTable.SmmLocateProtocol = Locate;
  gCheck.CheckBuffer = Check;
  gSmst = &gTable;
  gSmmBufferCheck = &gCheck;

  // The request in a block of exactly its size, so any read past it is caught.
  const size_t len = size - 1;
  uint8_t *request = (uint8_t *)malloc(len ? len : 1);
  memcpy(request, data + 1, len);
  gRequest = request, gRequestSize = len;
  const uint8_t *sent = data + 1;  // the request as it was when the SMI came
  UINTN claimed = len;
  EFI_STATUS status = SettingsRequestHandler(nullptr, nullptr, len ? request : nullptr, &claimed);

  // Refusals come back as "source pending", with one debug message each.
  const EFI_STATUS refused = EFI_WARN_INTERRUPT_SOURCE_PENDING;
  if (len < SETTINGS_REQUEST_MIN_SIZE) {
    REQUIRE(status == refused && gChecks == 0 && gCalls.empty());
  } else if (gCheckFails) {
    REQUIRE(status == refused && gChecks == 1 && gLocates == 0 && gCalls.empty());
  } else if (sent[0] != SETTINGS_REQUEST_COMMAND) {
    REQUIRE(status == refused && gLocates == 0 && gCalls.empty());
  } else if (gServiceMissing) {
    REQUIRE(status == refused && gCalls.empty());
  } else if (gOpenStatus != EFI_SUCCESS) {
    REQUIRE(status == refused && gCalls.size() == 1 && gCalls[0].op == Op::Open);
  } else {
    REQUIRE(status == EFI_SUCCESS);
    REQUIRE(gCalls == ExpectedCalls(sent + 1));
  }
  REQUIRE(gMessages == (status == EFI_SUCCESS ? 0 : 1));
  if (!gRacing) REQUIRE(memcmp(request, sent, len) == 0);  // the request is never written
  free(request);
  return 0;
}
