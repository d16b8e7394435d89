// CfgPcdBuffer: a byte-packed cache of platform configuration values that
// code linked with the library reads instead of asking the PCD database.
#include "drvlib/drvlib.h"

CFG_PCD_BUFFER CfgPcdBuffer;

namespace {

const EFI_GUID gEfiPcdProtocolGuid = EFI_PCD_PROTOCOL_GUID;
const CHAR8 kConstructorName[] = "CfgPcdBufLibDxeConstructor";

enum : UINT8 { kBool, kUint8, kUint32 };

struct PcdField {
  UINT8 Offset;
  UINT8 Getter;
  UINT16 Token;
};

// The tokens in buffer order; the getter decides the field width.
constexpr PcdField kFields[] = {
    {offsetof(CFG_PCD_BUFFER, Pcd846), kBool, CFG_PCD_TOKEN_846},
    {offsetof(CFG_PCD_BUFFER, Pcd1179), kBool, CFG_PCD_TOKEN_1179},
    {offsetof(CFG_PCD_BUFFER, Pcd1103), kUint8, CFG_PCD_TOKEN_1103},
    {offsetof(CFG_PCD_BUFFER, Pcd1178), kUint8, CFG_PCD_TOKEN_1178},
    {offsetof(CFG_PCD_BUFFER, Pcd1184), kUint8, CFG_PCD_TOKEN_1184},
    {offsetof(CFG_PCD_BUFFER, Pcd1182), kUint8, CFG_PCD_TOKEN_1182},
    {offsetof(CFG_PCD_BUFFER, Pcd1183), kUint32, CFG_PCD_TOKEN_1183},
    {offsetof(CFG_PCD_BUFFER, Pcd1180), kBool, CFG_PCD_TOKEN_1180},
    {offsetof(CFG_PCD_BUFFER, Pcd1112), kUint32, CFG_PCD_TOKEN_1112},
    {offsetof(CFG_PCD_BUFFER, Pcd1111), kUint32, CFG_PCD_TOKEN_1111},
    {offsetof(CFG_PCD_BUFFER, Pcd1181), kUint8, CFG_PCD_TOKEN_1181},
};

EFI_STATUS ReportMissing(const CHAR8 *Format, EFI_STATUS Status) {
  DebugPrint(DEBUG_LEVEL_ERROR, Format, kConstructorName, Status);
  return Status;
}

}  // namespace

EFI_STATUS EFIAPI CfgPcdBufLibDxeConstructor(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  (void)ImageHandle;
  UINT8 *buffer = reinterpret_cast<UINT8 *>(&CfgPcdBuffer);
  __builtin_memset(buffer, 0, sizeof(CfgPcdBuffer));

  // Both protocols must be there before anything is cached, so that an
  // all-zero buffer always means "values not read".
  VOID *iface = nullptr;
  EFI_STATUS status = SystemTable->BootServices->LocateProtocol(&gPcdProtocolGuid, nullptr, &iface);
  if (EFI_ERROR(status)) return ReportMissing("[%a] LocateProtocol: gPcdProtocolGuid, Status: %r\n", status);
  iface = nullptr;
  status = SystemTable->BootServices->LocateProtocol(&gEfiPcdProtocolGuid, nullptr, &iface);
  if (EFI_ERROR(status)) return ReportMissing("[%a] LocateProtocol: gEfiPcdProtocolGuid, Status: %r\n", status);

  PCD_PROTOCOL *pcd = GetPcdProtocol();
  if (pcd == nullptr) return EFI_NOT_FOUND;

  CfgPcdBuffer.Signature = CFG_PCD_BUFFER_SIGNATURE;
  CfgPcdBuffer.Revision = CFG_PCD_BUFFER_REVISION;
  for (const PcdField &field : kFields) {
    UINT8 *at = buffer + field.Offset;
    switch (field.Getter) {
      case kBool:
        *at = pcd->GetBool(field.Token) ? 1 : 0;
        break;
      case kUint8:
        *at = pcd->Get8(field.Token);
        break;
      default: {
        UINT32 value = pcd->Get32(field.Token);
        __builtin_memcpy(at, &value, sizeof(value));
        break;
      }
    }
  }
  CfgPcdBuffer.EndMark = CFG_PCD_BUFFER_END_MARK;
  return EFI_SUCCESS;
}
