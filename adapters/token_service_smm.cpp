// SPDX-License-Identifier: BSD-2-Clause-Patent
// The reference token service, an SMM driver: it accepts a session of token
// writes (open, level, setters, finish, close) and keeps every call, in
// order, in SMRAM. The latest calls are read back with an SMM communication
// under TOKEN_RECORD_GUID, by a test or by a person's tool. It checks the
// order of a session's calls but neither the tokens nor the values, and it
// keeps taking writes after the lock point: a board's own service adds both.
#include "adapters/start.h"
#include "adapters/token_record.h"
#include "efi/efi.h"
#include "setuptoken/buffer_check.h"
#include "setuptoken/token_service.h"

EFI_SMM_SYSTEM_TABLE2 *gSmst;

const EFI_GUID gTokenServiceProtocolGuid = TOKEN_SERVICE_PROTOCOL_GUID;
const EFI_GUID gSmmBufferCheckProtocolGuid = SMM_BUFFER_CHECK_PROTOCOL_GUID;
const EFI_GUID gTokenRecordGuid = TOKEN_RECORD_GUID;

namespace {

constexpr UINT32 SLOT_COUNT = sizeof(TOKEN_SERVICE_PROTOCOL) / sizeof(VOID *);

TOKEN_SERVICE_PROTOCOL Service;
TOKEN_RECORD_ENTRY Calls[TOKEN_RECORD_CAPACITY];
UINT64 CallCount;
BOOLEAN SessionOpen;
EFI_HANDLE ServiceHandle;
EFI_HANDLE RecordDispatch;

// Keeps one call, the oldest giving way once the record is full.
EFI_STATUS Keep(EFI_STATUS Status, UINT32 Entry, UINT32 Level, UINT32 Token, UINT32 Value) {
  Calls[CallCount % TOKEN_RECORD_CAPACITY] = {Entry | (EFI_ERROR(Status) ? TOKEN_RECORD_REFUSED : 0), Level, Token, Value};
  CallCount++;
  return Status;
}

// Every call but the opening one belongs to an open session of this interface.
EFI_STATUS InSession(const TOKEN_SERVICE_PROTOCOL *This) {
  if (This != &Service) return EFI_INVALID_PARAMETER;
  return SessionOpen ? EFI_SUCCESS : EFI_NOT_READY;
}

EFI_STATUS EFIAPI Open(TOKEN_SERVICE_PROTOCOL *This, TOKEN_SERVICE_PROTOCOL *Again) {
  EFI_STATUS Status = EFI_SUCCESS;
  if (This != &Service || Again != This) {
    Status = EFI_INVALID_PARAMETER;
  } else if (SessionOpen) {
    Status = EFI_ALREADY_STARTED;
  }
  if (!EFI_ERROR(Status)) SessionOpen = 1;
  return Keep(Status, 15, 0, 0, 0);
}

EFI_STATUS EFIAPI Close(TOKEN_SERVICE_PROTOCOL *This) {
  EFI_STATUS Status = InSession(This);
  if (!EFI_ERROR(Status)) SessionOpen = 0;
  return Keep(Status, 16, 0, 0, 0);
}

EFI_STATUS EFIAPI Finish(TOKEN_SERVICE_PROTOCOL *This) { return Keep(InSession(This), 1, 0, 0, 0); }

EFI_STATUS EFIAPI SetLevel(TOKEN_SERVICE_PROTOCOL *This, UINT8 Level) { return Keep(InSession(This), 27, Level, 0, 0); }

EFI_STATUS EFIAPI SetBool(TOKEN_SERVICE_PROTOCOL *This, UINT8 Level, UINT32 Token, BOOLEAN Value) {
  return Keep(InSession(This), 18, Level, Token, Value);
}
EFI_STATUS EFIAPI Set8(TOKEN_SERVICE_PROTOCOL *This, UINT8 Level, UINT32 Token, UINT8 Value) {
  return Keep(InSession(This), 20, Level, Token, Value);
}
EFI_STATUS EFIAPI Set16(TOKEN_SERVICE_PROTOCOL *This, UINT8 Level, UINT32 Token, UINT16 Value) {
  return Keep(InSession(This), 22, Level, Token, Value);
}
EFI_STATUS EFIAPI Set32(TOKEN_SERVICE_PROTOCOL *This, UINT8 Level, UINT32 Token, UINT32 Value) {
  return Keep(InSession(This), 24, Level, Token, Value);
}

// The entries the service does not offer: each refuses, and the record names
// the slot that was called.
template <UINT32 Slot>
EFI_STATUS EFIAPI NotOffered(TOKEN_SERVICE_PROTOCOL *) {
  return Keep(EFI_UNSUPPORTED, Slot, 0, 0, 0);
}

template <typename T, T... Slot>
struct SLOTS {};

template <UINT32... Slot>
VOID FillSlots(VOID **Slots, SLOTS<UINT32, Slot...>) {
  ((Slots[Slot] = (VOID *)NotOffered<Slot>), ...);
}

// Hands back the kept calls from the message's First on. The message lies
// outside SMRAM: its one input is read once, the buffer is vetted by the
// buffer check when there is one, and only the message's own bytes are written.
EFI_STATUS EFIAPI ReadRecord(EFI_HANDLE, const VOID *, VOID *CommBuffer, UINTN *CommBufferSize) {
  if (CommBuffer == nullptr || CommBufferSize == nullptr) return EFI_WARN_INTERRUPT_SOURCE_PENDING;
  UINTN Size = *CommBufferSize;
  if (Size < sizeof(TOKEN_RECORD_MESSAGE)) return EFI_WARN_INTERRUPT_SOURCE_PENDING;
  VOID *Interface = nullptr;
  if (!EFI_ERROR(gSmst->SmmLocateProtocol(&gSmmBufferCheckProtocolGuid, nullptr, &Interface)) && Interface != nullptr &&
      EFI_ERROR(((SMM_BUFFER_CHECK_PROTOCOL *)Interface)->CheckBuffer(CommBuffer, Size)))
    return EFI_WARN_INTERRUPT_SOURCE_PENDING;

  TOKEN_RECORD_MESSAGE *Message = (TOKEN_RECORD_MESSAGE *)CommBuffer;
  UINT64 First = Message->First;
  UINT64 Oldest = CallCount > TOKEN_RECORD_CAPACITY ? CallCount - TOKEN_RECORD_CAPACITY : 0;
  if (First < Oldest) First = Oldest;
  if (First > CallCount) First = CallCount;
  UINT64 Count = CallCount - First;
  UINTN Room = (Size - sizeof(TOKEN_RECORD_MESSAGE)) / sizeof(TOKEN_RECORD_ENTRY);
  if (Count > Room) Count = Room;
  TOKEN_RECORD_ENTRY *Entries = (TOKEN_RECORD_ENTRY *)(Message + 1);
  for (UINT64 i = 0; i < Count; i++) Entries[i] = Calls[(First + i) % TOKEN_RECORD_CAPACITY];
  Message->First = First;
  Message->Total = CallCount;
  Message->Count = (UINT32)Count;
  Message->Capacity = TOKEN_RECORD_CAPACITY;
  *CommBufferSize = sizeof(TOKEN_RECORD_MESSAGE) + (UINTN)Count * sizeof(TOKEN_RECORD_ENTRY);
  return EFI_SUCCESS;
}

}  // namespace

EFI_EXTERN_C EFI_STATUS EFIAPI TokenServiceSmmEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  if (EFI_STATUS Kept = AdapterKeepTables(ImageHandle, SystemTable); EFI_ERROR(Kept)) return Kept;
  gSmst = nullptr;
  CallCount = 0;
  SessionOpen = 0;
  ServiceHandle = RecordDispatch = nullptr;

  EFI_STATUS Status = AdapterLocateSmst(&gSmst);
  if (EFI_ERROR(Status)) return Status;

  FillSlots((VOID **)&Service, __make_integer_seq<SLOTS, UINT32, SLOT_COUNT>{});
  Service.Finish = Finish;
  Service.Open = Open;
  Service.Close = Close;
  Service.SetBool = SetBool;
  Service.Set8 = Set8;
  Service.Set16 = Set16;
  Service.Set32 = Set32;
  Service.SetLevel = SetLevel;
  Status = gSmst->SmiHandlerRegister(ReadRecord, &gTokenRecordGuid, &RecordDispatch);
  if (EFI_ERROR(Status)) return Status;
  Status = gSmst->SmmInstallProtocolInterface(&ServiceHandle, &gTokenServiceProtocolGuid, EFI_NATIVE_INTERFACE, &Service);
  // Without the service the record has nothing to show.
  if (EFI_ERROR(Status)) gSmst->SmiHandlerUnRegister(RecordDispatch);
  return Status;
}
