// SPDX-License-Identifier: BSD-2-Clause-Patent
// A small host program for counting the instructions one settings request
// costs: the handler is called on fixed requests against a token service
// whose entries do nothing, so that callgrind can tell the handler's own
// work from the service's. Built without sanitizers by bench.sh.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "hw.h"
#include "setuptoken/settings_request.h"
#include "setuptoken/setup_token.h"

extern "C" {
// Kept out of line and named so the measurement can subtract them.
__attribute__((noinline)) EFI_STATUS EFIAPI TokenStubOpen(TOKEN_SERVICE_PROTOCOL *, TOKEN_SERVICE_PROTOCOL *) { return EFI_SUCCESS; }
__attribute__((noinline)) EFI_STATUS EFIAPI TokenStubCall(TOKEN_SERVICE_PROTOCOL *) { return EFI_SUCCESS; }
__attribute__((noinline)) EFI_STATUS EFIAPI TokenStubLevel(TOKEN_SERVICE_PROTOCOL *, UINT8) { return EFI_SUCCESS; }
__attribute__((noinline)) EFI_STATUS EFIAPI TokenStubBool(TOKEN_SERVICE_PROTOCOL *, UINT8, UINT32, BOOLEAN) { return EFI_SUCCESS; }
__attribute__((noinline)) EFI_STATUS EFIAPI TokenStubSet8(TOKEN_SERVICE_PROTOCOL *, UINT8, UINT32, UINT8) { return EFI_SUCCESS; }
__attribute__((noinline)) EFI_STATUS EFIAPI TokenStubSet16(TOKEN_SERVICE_PROTOCOL *, UINT8, UINT32, UINT16) { return EFI_SUCCESS; }
__attribute__((noinline)) EFI_STATUS EFIAPI TokenStubSet32(TOKEN_SERVICE_PROTOCOL *, UINT8, UINT32, UINT32) { return EFI_SUCCESS; }
__attribute__((noinline)) EFI_STATUS EFIAPI TokenStubLocate(const EFI_GUID *, VOID *, VOID **);
__attribute__((noinline)) EFI_STATUS EFIAPI TokenStubCheck(const VOID *, UINTN) { return EFI_SUCCESS; }
HW_CPUID HwCpuid(UINT32) { return HW_CPUID{}; }
}

static TOKEN_SERVICE_PROTOCOL gService;
EFI_STATUS EFIAPI TokenStubLocate(const EFI_GUID *, VOID *, VOID **Interface) {
  *Interface = &gService;
  return EFI_SUCCESS;
}

int main(int argc, char **argv) {
  // "quiet": every option at its auto value; "busy": every gate on and no
  // option at its auto value, the most writes a request can cause.
  const bool busy = argc > 1 && strcmp(argv[1], "busy") == 0;
  const int rounds = argc > 2 ? atoi(argv[2]) : 100;

  gService.Open = TokenStubOpen;
  gService.Finish = gService.Close = TokenStubCall;
  gService.SetLevel = TokenStubLevel;
  gService.SetBool = TokenStubBool;
  gService.Set8 = TokenStubSet8;
  gService.Set16 = TokenStubSet16;
  gService.Set32 = TokenStubSet32;
  static EFI_SMM_SYSTEM_TABLE2 table;
  table.SmmLocateProtocol = TokenStubLocate;
  static SMM_BUFFER_CHECK_PROTOCOL check{TokenStubCheck};
  gSmst = &table;
  gSmmBufferCheck = &check;

  static UINT8 request[SETTINGS_REQUEST_MIN_SIZE];
  memset(request, busy ? 0x01 : 0xFF, sizeof request);
  request[0] = SETTINGS_REQUEST_COMMAND;
  if (busy) {
    request[1 + 0x020] = 0x4B;  // the one gate that wants something other than 1
    request[1 + 0x3D9] = 0;
  } else {
    request[1 + 0x3D9] = 0xFF;
    request[1 + 0x0B8] = request[1 + 0x116] = 0;
  }
  int failures = 0;
  for (int i = 0; i < rounds; i++) {
    UINTN size = sizeof request;
    failures += SettingsRequestHandler(nullptr, nullptr, request, &size) != EFI_SUCCESS;
  }
  printf("%d requests, %d failed\n", rounds, failures);
  return failures != 0;
}
