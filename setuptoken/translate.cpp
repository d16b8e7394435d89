// SPDX-License-Identifier: BSD-2-Clause-Patent
// The Setup-to-token translation: one pass over the token table between the
// token service's opening and closing calls.
#include "setuptoken/setup_token.h"
#include "setuptoken/token_table.h"

namespace {

// Fields are little-endian and may sit at any offset.
UINT32 ReadField(const UINT8 *Field, UINT8 Kind) {
  switch (Kind) {
    case TOKEN_KIND_16:
      return (UINT32)Field[0] | (UINT32)Field[1] << 8;
    case TOKEN_KIND_32:
      return (UINT32)Field[0] | (UINT32)Field[1] << 8 | (UINT32)Field[2] << 16 | (UINT32)Field[3] << 24;
    default:
      return Field[0];
  }
}

bool GateHolds(const UINT8 *Record, const TOKEN_GATE &Gate) {
  if (Gate.Mask == 0) return true;
  return (((UINT8)(Record[Gate.Offset] - Gate.Value)) & Gate.Mask) == 0;
}

}  // namespace

EFI_STATUS TranslateSettings(const VOID *Record, TOKEN_SERVICE_PROTOCOL *Service) {
  if (Record == nullptr || Service == nullptr) return EFI_INVALID_PARAMETER;
  const UINT8 *Bytes = (const UINT8 *)Record;

  EFI_STATUS Status = Service->Open(Service, Service);
  if (EFI_ERROR(Status)) return Status;
  Service->SetLevel(Service, TOKEN_LEVEL);

  // Setter failures are the token service's business; the rest of the table
  // still goes through.
  for (const TOKEN_ROW &Row : TokenTable) {
    if (!GateHolds(Bytes, Row.Gates[0]) || !GateHolds(Bytes, Row.Gates[1])) continue;
    UINT32 Value = ReadField(Bytes + Row.Offset, Row.Kind);
    if (Row.HasAuto && Value == Row.Auto) continue;
    switch (Row.Kind) {
      case TOKEN_KIND_BOOL:
        Service->SetBool(Service, TOKEN_LEVEL, Row.Token, (BOOLEAN)Value);
        break;
      case TOKEN_KIND_8:
        Service->Set8(Service, TOKEN_LEVEL, Row.Token, (UINT8)Value);
        break;
      case TOKEN_KIND_16:
        Service->Set16(Service, TOKEN_LEVEL, Row.Token, (UINT16)Value);
        break;
      default:
        Service->Set32(Service, TOKEN_LEVEL, Row.Token, Value);
        break;
    }
  }

  Service->Finish(Service);
  Service->Close(Service);
  return EFI_SUCCESS;
}
