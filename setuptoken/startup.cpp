// SPDX-License-Identifier: BSD-2-Clause-Patent
// The image entry: keeps the firmware's tables, finds the SMM system table
// and the buffer check, then runs the driver entry.
#include "setuptoken/setup_token.h"

EFI_HANDLE gImageHandle;
EFI_SYSTEM_TABLE *gST;
EFI_BOOT_SERVICES *gBS;
EFI_RUNTIME_SERVICES *gRT;
EFI_SMM_SYSTEM_TABLE2 *gSmst;
SMM_BUFFER_CHECK_PROTOCOL *gSmmBufferCheck;
PCD_PROTOCOL *gPcd;
EFI_HANDLE gDispatchHandle;

const EFI_GUID gSmmBufferCheckProtocolGuid = SMM_BUFFER_CHECK_PROTOCOL_GUID;
const EFI_GUID gTokenServiceProtocolGuid = TOKEN_SERVICE_PROTOCOL_GUID;

namespace {

const EFI_GUID gEfiSmmBase2ProtocolGuid = EFI_SMM_BASE2_PROTOCOL_GUID;

// Without the SMM system table there is nothing this driver can do, so a
// missing SMM Base2 or table ends the image with an error.
EFI_STATUS SmmStartup(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  if (SystemTable == nullptr || SystemTable->BootServices == nullptr) return EFI_INVALID_PARAMETER;
  gImageHandle = ImageHandle;
  gST = SystemTable;
  gBS = SystemTable->BootServices;
  gRT = SystemTable->RuntimeServices;
  gSmst = nullptr;
  gSmmBufferCheck = nullptr;
  gPcd = nullptr;
  gSmmDebugPrint = nullptr;

  EFI_SMM_BASE2_PROTOCOL *SmmBase2 = nullptr;
  EFI_STATUS Status = gBS->LocateProtocol(&gEfiSmmBase2ProtocolGuid, nullptr, (VOID **)&SmmBase2);
  if (EFI_ERROR(Status)) return Status;
  if (SmmBase2 == nullptr) return EFI_NOT_FOUND;

  EFI_SMM_SYSTEM_TABLE2 *Smst = nullptr;
  Status = SmmBase2->GetSmstLocation(SmmBase2, &Smst);
  if (EFI_ERROR(Status)) return Status;
  if (Smst == nullptr) return EFI_NOT_FOUND;
  gSmst = Smst;

  // A missing buffer check is not fatal here: the handler then refuses
  // every request.
  VOID *BufferCheck = nullptr;
  Status = gSmst->SmmLocateProtocol(&gSmmBufferCheckProtocolGuid, nullptr, &BufferCheck);
  gSmmBufferCheck = EFI_ERROR(Status) ? nullptr : (SMM_BUFFER_CHECK_PROTOCOL *)BufferCheck;
  return EFI_SUCCESS;
}

}  // namespace

EFI_EXTERN_C EFI_STATUS EFIAPI SetupTokenSmmEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  EFI_STATUS Status = SmmStartup(ImageHandle, SystemTable);
  if (EFI_ERROR(Status)) return Status;
  return SetupTokenDriverEntry(ImageHandle, SystemTable);
}
