// SPDX-License-Identifier: BSD-2-Clause-Patent
// Stand-ins for the token service and the SMM buffer check that other SMM
// modules provide: every call is recorded in order for the test application
// to compare, and the answers of the opening call and of the check can be set.
#include "setuptoken/buffer_check.h"
#include "setuptoken/token_service.h"
#include "test/bed/standin/standin.h"

static BED_TOKEN_PROBE Probe;
static TOKEN_SERVICE_PROTOCOL Service;
static SMM_BUFFER_CHECK_PROTOCOL BufferCheck;

static BED_TOKEN_CALL *Record(TOKEN_SERVICE_PROTOCOL *This, UINT32 Entry) {
  static BED_TOKEN_CALL Overflow;
  UINTN n = Probe.CallCount++;
  BED_TOKEN_CALL *call = n < BED_TOKEN_LOG ? &Probe.Calls[n] : &Overflow;
  *call = {Entry, 0, 0, 0, 0};
  // A call through another interface pointer than this one is a fault of the caller.
  if (This != &Service) call->Entry |= 0x80000000U;
  return call;
}

static EFI_STATUS OpenStatus() { return Probe.OpenStatus; }
#include "test/bed/standin/token_recorder.h"

static EFI_STATUS EFIAPI CheckBuffer(const VOID *Buffer, UINTN Size) {
  Probe.CheckCount++;
  Probe.CheckedBuffer = (UINT64)(UINTN)Buffer;
  Probe.CheckedSize = Size;
  return Probe.CheckStatus;
}

static VOID EFIAPI Reset(VOID) {
  Probe.OpenStatus = EFI_SUCCESS;
  Probe.CheckStatus = EFI_SUCCESS;
  Probe.CheckCount = 0;
  Probe.CheckedBuffer = Probe.CheckedSize = 0;
  Probe.CallCount = 0;
}

static const StandInInterface Interfaces[] = {
    {TOKEN_SERVICE_PROTOCOL_GUID, &Service},
    {SMM_BUFFER_CHECK_PROTOCOL_GUID, &BufferCheck},
    {BED_TOKEN_PROBE_GUID, &Probe},
};

static EFI_HANDLE Image;
static UINTN Installed = 7;  // bit i: Interfaces[i] is installed

static EFI_STATUS EFIAPI Withdraw(UINTN What) {
  if (What == 0 || What > BED_TOKEN_WITHDRAW_ALL) return EFI_INVALID_PARAMETER;
  EFI_STATUS result = EFI_SUCCESS;
  for (UINTN i = 0; i < 3; i++) {
    if (!(What & Installed & (1U << i))) continue;
    EFI_STATUS status = StandInUninstall(Image, &Interfaces[i], 1);
    if (EFI_ERROR(status))
      result = status;
    else
      Installed &= ~(1U << i);
  }
  return result;
}

extern "C" EFI_STATUS EFIAPI TokenServiceStandInEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  FillTokenService(&Service);
  BufferCheck.CheckBuffer = CheckBuffer;
  Probe.Reset = Reset;
  Probe.Withdraw = Withdraw;
  Reset();
  Image = ImageHandle;
  return StandInStart(ImageHandle, SystemTable, Interfaces, 3, nullptr);
}
