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

static EFI_STATUS EFIAPI Finish(TOKEN_SERVICE_PROTOCOL *This) {
  Record(This, BED_TOKEN_CALL_FINISH);
  return EFI_SUCCESS;
}
static EFI_STATUS EFIAPI Open(TOKEN_SERVICE_PROTOCOL *This, TOKEN_SERVICE_PROTOCOL *Again) {
  Record(This, BED_TOKEN_CALL_OPEN)->Extra = (UINT64)(UINTN)Again;
  return Probe.OpenStatus;
}
static EFI_STATUS EFIAPI Close(TOKEN_SERVICE_PROTOCOL *This) {
  Record(This, BED_TOKEN_CALL_CLOSE);
  return EFI_SUCCESS;
}
static EFI_STATUS Setter(TOKEN_SERVICE_PROTOCOL *This, UINT32 Entry, UINT8 Level, UINT32 Token, UINT32 Value) {
  BED_TOKEN_CALL *call = Record(This, Entry);
  call->Level = Level;
  call->Token = Token;
  call->Value = Value;
  return EFI_SUCCESS;
}
static EFI_STATUS EFIAPI SetBool(TOKEN_SERVICE_PROTOCOL *This, UINT8 Level, UINT32 Token, BOOLEAN Value) {
  return Setter(This, BED_TOKEN_CALL_BOOL, Level, Token, Value);
}
static EFI_STATUS EFIAPI Set8(TOKEN_SERVICE_PROTOCOL *This, UINT8 Level, UINT32 Token, UINT8 Value) {
  return Setter(This, BED_TOKEN_CALL_8, Level, Token, Value);
}
static EFI_STATUS EFIAPI Set16(TOKEN_SERVICE_PROTOCOL *This, UINT8 Level, UINT32 Token, UINT16 Value) {
  return Setter(This, BED_TOKEN_CALL_16, Level, Token, Value);
}
static EFI_STATUS EFIAPI Set32(TOKEN_SERVICE_PROTOCOL *This, UINT8 Level, UINT32 Token, UINT32 Value) {
  return Setter(This, BED_TOKEN_CALL_32, Level, Token, Value);
}
static EFI_STATUS EFIAPI SetLevel(TOKEN_SERVICE_PROTOCOL *This, UINT8 Level) {
  Record(This, BED_TOKEN_CALL_LEVEL)->Level = Level;
  return EFI_SUCCESS;
}
// Every other entry: the translation must never call one.
static EFI_STATUS EFIAPI Other(TOKEN_SERVICE_PROTOCOL *This) {
  Record(This, BED_TOKEN_CALL_OTHER);
  return EFI_UNSUPPORTED;
}

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
  VOID **slots = (VOID **)&Service;
  for (UINTN i = 0; i < sizeof Service / sizeof(VOID *); i++) slots[i] = (VOID *)Other;
  Service.Finish = Finish;
  Service.Open = Open;
  Service.Close = Close;
  Service.SetBool = SetBool;
  Service.Set8 = Set8;
  Service.Set16 = Set16;
  Service.Set32 = Set32;
  Service.SetLevel = SetLevel;
  BufferCheck.CheckBuffer = CheckBuffer;
  Probe.Reset = Reset;
  Probe.Withdraw = Withdraw;
  Reset();
  Image = ImageHandle;
  return StandInStart(ImageHandle, SystemTable, Interfaces, 3, nullptr);
}
