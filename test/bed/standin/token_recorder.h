// SPDX-License-Identifier: BSD-2-Clause-Patent
// The recording token service that both token-service stand-ins publish (the
// test bed's DXE one and the board's SMM one): every entry the translation may
// call is logged with its arguments; any other entry is logged as a fault.
// The including file owns the log and defines, before including this:
//   static BED_TOKEN_CALL *Record(TOKEN_SERVICE_PROTOCOL *This, UINT32 Entry);
//   static EFI_STATUS OpenStatus();
#pragma once
#include "setuptoken/token_service.h"
#include "test/bed/bed.h"

static EFI_STATUS EFIAPI Finish(TOKEN_SERVICE_PROTOCOL *This) {
  Record(This, BED_TOKEN_CALL_FINISH);
  return EFI_SUCCESS;
}
static EFI_STATUS EFIAPI Open(TOKEN_SERVICE_PROTOCOL *This, TOKEN_SERVICE_PROTOCOL *Again) {
  Record(This, BED_TOKEN_CALL_OPEN)->Extra = (UINT64)(UINTN)Again;
  return OpenStatus();
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

// Points every slot of Service at the recorder.
static VOID FillTokenService(TOKEN_SERVICE_PROTOCOL *Service) {
  VOID **slots = (VOID **)Service;
  for (UINTN i = 0; i < sizeof *Service / sizeof(VOID *); i++) slots[i] = (VOID *)Other;
  Service->Finish = Finish;
  Service->Open = Open;
  Service->Close = Close;
  Service->SetBool = SetBool;
  Service->Set8 = Set8;
  Service->Set16 = Set16;
  Service->Set32 = Set32;
  Service->SetLevel = SetLevel;
}
