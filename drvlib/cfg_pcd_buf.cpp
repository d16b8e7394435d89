// SPDX-License-Identifier: BSD-2-Clause-Patent
// CfgPcdBuffer: a byte-packed cache of platform configuration values that
// code linked with the library reads instead of asking the PCD database.
#include "drvlib/drvlib.h"

CFG_PCD_BUFFER CfgPcdBuffer;

namespace {

const EFI_GUID gEfiPcdProtocolGuid = EFI_PCD_PROTOCOL_GUID;
const CHAR8 ConstructorName[] = "CfgPcdBufLibDxeConstructor";

enum : UINT8 { PCD_BOOL, PCD_UINT8, PCD_UINT32 };

struct PCD_FIELD {
  UINT8 Offset;
  UINT8 Getter;
  UINT16 Token;
};

// The tokens in buffer order; the getter decides the field width.
constexpr PCD_FIELD PcdFields[] = {
    {offsetof(CFG_PCD_BUFFER, Pcd846), PCD_BOOL, CFG_PCD_TOKEN_846},
    {offsetof(CFG_PCD_BUFFER, Pcd1179), PCD_BOOL, CFG_PCD_TOKEN_1179},
    {offsetof(CFG_PCD_BUFFER, Pcd1103), PCD_UINT8, CFG_PCD_TOKEN_1103},
    {offsetof(CFG_PCD_BUFFER, Pcd1178), PCD_UINT8, CFG_PCD_TOKEN_1178},
    {offsetof(CFG_PCD_BUFFER, Pcd1184), PCD_UINT8, CFG_PCD_TOKEN_1184},
    {offsetof(CFG_PCD_BUFFER, Pcd1182), PCD_UINT8, CFG_PCD_TOKEN_1182},
    {offsetof(CFG_PCD_BUFFER, Pcd1183), PCD_UINT32, CFG_PCD_TOKEN_1183},
    {offsetof(CFG_PCD_BUFFER, Pcd1180), PCD_BOOL, CFG_PCD_TOKEN_1180},
    {offsetof(CFG_PCD_BUFFER, Pcd1112), PCD_UINT32, CFG_PCD_TOKEN_1112},
    {offsetof(CFG_PCD_BUFFER, Pcd1111), PCD_UINT32, CFG_PCD_TOKEN_1111},
    {offsetof(CFG_PCD_BUFFER, Pcd1181), PCD_UINT8, CFG_PCD_TOKEN_1181},
};

EFI_STATUS ReportMissing(const CHAR8 *Format, EFI_STATUS Status) {
  DebugPrint(DEBUG_LEVEL_ERROR, Format, ConstructorName, Status);
  return Status;
}

}  // namespace

EFI_STATUS EFIAPI CfgPcdBufLibDxeConstructor(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  (void)ImageHandle;
  UINT8 *Buffer = reinterpret_cast<UINT8 *>(&CfgPcdBuffer);
  __builtin_memset(Buffer, 0, sizeof(CfgPcdBuffer));

  // Both protocols must be there before anything is cached, so that an
  // all-zero buffer always means "values not read".
  VOID *Iface = nullptr;
  EFI_STATUS Status = SystemTable->BootServices->LocateProtocol(&gPcdProtocolGuid, nullptr, &Iface);
  if (EFI_ERROR(Status)) return ReportMissing("[%a] LocateProtocol: gPcdProtocolGuid, Status: %r\n", Status);
  Iface = nullptr;
  Status = SystemTable->BootServices->LocateProtocol(&gEfiPcdProtocolGuid, nullptr, &Iface);
  if (EFI_ERROR(Status)) return ReportMissing("[%a] LocateProtocol: gEfiPcdProtocolGuid, Status: %r\n", Status);

  PCD_PROTOCOL *Pcd = GetPcdProtocol();
  if (Pcd == nullptr) return EFI_NOT_FOUND;

  CfgPcdBuffer.Signature = CFG_PCD_BUFFER_SIGNATURE;
  CfgPcdBuffer.Revision = CFG_PCD_BUFFER_REVISION;
  for (const PCD_FIELD &Field : PcdFields) {
    UINT8 *At = Buffer + Field.Offset;
    switch (Field.Getter) {
      case PCD_BOOL:
        *At = Pcd->GetBool(Field.Token) ? 1 : 0;
        break;
      case PCD_UINT8:
        *At = Pcd->Get8(Field.Token);
        break;
      default: {
        UINT32 Value = Pcd->Get32(Field.Token);
        __builtin_memcpy(At, &Value, sizeof(Value));
        break;
      }
    }
  }
  CfgPcdBuffer.EndMark = CFG_PCD_BUFFER_END_MARK;
  return EFI_SUCCESS;
}
