// SPDX-License-Identifier: BSD-2-Clause-Patent
// What the board's SMM stand-ins share: finding the SMM system table from
// their entry point, while boot services are still there.
#pragma once
#include "test/board/board.h"

inline EFI_SMM_SYSTEM_TABLE2 *BoardSmst(EFI_SYSTEM_TABLE *SystemTable) {
  static const EFI_GUID base2Guid = EFI_SMM_BASE2_PROTOCOL_GUID;
  EFI_SMM_BASE2_PROTOCOL *base2 = nullptr;
  if (EFI_ERROR(SystemTable->BootServices->LocateProtocol(&base2Guid, nullptr, (VOID **)&base2)) || base2 == nullptr) return nullptr;
  EFI_SMM_SYSTEM_TABLE2 *smst = nullptr;
  if (EFI_ERROR(base2->GetSmstLocation(base2, &smst))) return nullptr;
  return smst;
}
