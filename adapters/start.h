// SPDX-License-Identifier: BSD-2-Clause-Patent
// The start-up every board adapter shares. An adapter is an image built from
// one source file, so this header also holds that image's tables: include it
// from the adapter's own file only.
#pragma once
#include "efi/efi.h"
#include "efi/image_tables.h"

EFI_HANDLE gImageHandle;
EFI_SYSTEM_TABLE *gST;
EFI_BOOT_SERVICES *gBS;
EFI_RUNTIME_SERVICES *gRT;

// Keeps the tables an entry point is handed; EFI_INVALID_PARAMETER when the
// firmware handed none.
inline EFI_STATUS AdapterKeepTables(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  if (SystemTable == nullptr || SystemTable->BootServices == nullptr) return EFI_INVALID_PARAMETER;
  gImageHandle = ImageHandle;
  gST = SystemTable;
  gBS = SystemTable->BootServices;
  gRT = SystemTable->RuntimeServices;
  return EFI_SUCCESS;
}

// The SMM System Table through SMM Base2; EFI_NOT_FOUND when either is missing.
inline EFI_STATUS AdapterLocateSmst(EFI_SMM_SYSTEM_TABLE2 **Smst) {
  static const EFI_GUID Base2Guid = EFI_SMM_BASE2_PROTOCOL_GUID;
  *Smst = nullptr;
  EFI_SMM_BASE2_PROTOCOL *SmmBase2 = nullptr;
  EFI_STATUS Status = gBS->LocateProtocol(&Base2Guid, nullptr, (VOID **)&SmmBase2);
  if (!EFI_ERROR(Status) && SmmBase2 == nullptr) Status = EFI_NOT_FOUND;
  if (!EFI_ERROR(Status)) Status = SmmBase2->GetSmstLocation(SmmBase2, Smst);
  if (!EFI_ERROR(Status) && *Smst == nullptr) Status = EFI_NOT_FOUND;
  return Status;
}
