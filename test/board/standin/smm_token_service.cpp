// SPDX-License-Identifier: BSD-2-Clause-Patent
// The board's token service, an SMM driver: records every call in SMRAM and
// answers a probe message (a second SMI) that hands the record, and the
// buffer check's counts, back to the sender. The probe can also send a
// settings request from a buffer inside SMRAM, as a module in SMM could.
// It also publishes the debug print in SMM, writing to the debug port.
#include "efi/debug_print.h"
#include "setuptoken/settings_request.h"
#include "setuptoken/token_service.h"
#include "test/board/standin/smm_common.h"

static EFI_SMM_SYSTEM_TABLE2 *Smst;
static TOKEN_SERVICE_PROTOCOL Service;
static UINT64 CallCount;
static BED_TOKEN_CALL Calls[BOARD_PROBE_CALLS];

static BED_TOKEN_CALL *Record(TOKEN_SERVICE_PROTOCOL *This, UINT32 Entry) {
  static BED_TOKEN_CALL overflow;
  UINT64 n = CallCount++;
  BED_TOKEN_CALL *call = n < BOARD_PROBE_CALLS ? &Calls[n] : &overflow;
  *call = {Entry, 0, 0, 0, 0};
  if (This != &Service) call->Entry |= 0x80000000U;  // a call through a wrong interface pointer
  return call;
}

static EFI_STATUS OpenStatus() { return EFI_SUCCESS; }
#include "test/bed/standin/token_recorder.h"

static EFI_STATUS EFIAPI DebugPrint(UINTN ErrorLevel, const CHAR8 *Format, EFI_VA_LIST Args) {
  if (Format == nullptr) return EFI_INVALID_PARAMETER;
  CHAR8 text[BED_DEBUG_MESSAGE_SIZE];
  BedFormatV(text, sizeof text, Format, Args);
  BedPrint("DBG %lx %a", (UINT64)ErrorLevel, text);
  return EFI_SUCCESS;
}
static DEBUG_PRINT_PROTOCOL Debug = {DebugPrint};

static BOARD_CHECK_PROBE *CheckProbe() {
  static const EFI_GUID guid = BOARD_CHECK_PROBE_GUID;
  VOID *probe = nullptr;
  if (EFI_ERROR(Smst->SmmLocateProtocol(&guid, nullptr, &probe))) return nullptr;
  return (BOARD_CHECK_PROBE *)probe;
}

static VOID Copy(VOID *To, const VOID *From, UINTN Size) {
  UINT8 *t = (UINT8 *)To;
  const UINT8 *f = (const UINT8 *)From;
  for (UINTN i = 0; i < Size; i++) t[i] = f[i];
}

// The probe message arrives in the communication buffer outside SMRAM: its
// size is checked before any field is read, and the request it carries is
// copied into SMRAM before it is sent on.
static EFI_STATUS EFIAPI ProbeHandler(EFI_HANDLE, const VOID *, VOID *CommBuffer, UINTN *CommBufferSize) {
  if (CommBuffer == nullptr || CommBufferSize == nullptr || *CommBufferSize < sizeof(BOARD_PROBE_MESSAGE))
    return EFI_SUCCESS;  // nothing to answer; the sender sees no change in its buffer
  BOARD_PROBE_MESSAGE *m = (BOARD_PROBE_MESSAGE *)CommBuffer;
  BOARD_CHECK_PROBE *check = CheckProbe();
  UINT32 command = m->Command;
  m->Status = EFI_SUCCESS;
  if (command == BOARD_PROBE_RESET) {
    CallCount = 0;
    if (check) check->Checks = check->Refused = check->LastBuffer = check->LastSize = 0;
  } else if (command == BOARD_PROBE_SEND_SMRAM) {
    UINTN size = m->RequestSize;
    VOID *buffer = nullptr;
    if (size > BOARD_PROBE_REQUEST) {
      m->Status = EFI_BAD_BUFFER_SIZE;
    } else if (!EFI_ERROR(m->Status = Smst->SmmAllocatePool(EfiRuntimeServicesData, BOARD_PROBE_REQUEST, &buffer))) {
      static const EFI_GUID settingsGuid = SETTINGS_REQUEST_GUID;
      Copy(buffer, m->Request, size);
      m->SmramBuffer = (UINT64)(UINTN)buffer;
      m->Status = Smst->SmiManage(&settingsGuid, nullptr, buffer, &size);
      Smst->SmmFreePool(buffer);
    }
  } else if (command != BOARD_PROBE_FETCH) {
    m->Status = EFI_UNSUPPORTED;
  }
  m->CallCount = CallCount;
  Copy(m->Calls, Calls, sizeof Calls);
  if (check) Copy(&m->Check, check, sizeof *check);
  return EFI_SUCCESS;
}

extern "C" EFI_STATUS EFIAPI BoardTokenServiceEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  (void)ImageHandle;
  Smst = BoardSmst(SystemTable);
  if (Smst == nullptr) return EFI_NOT_FOUND;
  FillTokenService(&Service);
  static const EFI_GUID serviceGuid = TOKEN_SERVICE_PROTOCOL_GUID;
  static const EFI_GUID probeGuid = BOARD_SMM_PROBE_GUID;
  EFI_HANDLE handle = nullptr;
  EFI_STATUS status = Smst->SmmInstallProtocolInterface(&handle, &serviceGuid, EFI_NATIVE_INTERFACE, &Service);
  if (EFI_ERROR(status)) return status;
  static const EFI_GUID debugGuid = DEBUG_PRINT_PROTOCOL_GUID;
  status = Smst->SmmInstallProtocolInterface(&handle, &debugGuid, EFI_NATIVE_INTERFACE, &Debug);
  if (EFI_ERROR(status)) return status;
  EFI_HANDLE dispatch = nullptr;
  return Smst->SmiHandlerRegister(ProbeHandler, &probeGuid, &dispatch);
}
