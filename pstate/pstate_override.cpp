// SPDX-License-Identifier: BSD-2-Clause-Patent
// PstateOverrideDxe: on family 15h models 6xh, rewrites the frequency, divisor
// and voltage IDs of the seven P-state definition registers from the stored
// P-state data variable and enables each P-state.
#include "drvlib/drvlib.h"
#include "pstate/pstate_override.h"
#include "hw.h"

namespace {

const EFI_GUID gPstateDataVariableGuid = PSTATE_DATA_VARIABLE_GUID;
constexpr UINTN PSTATE_DATA_SIZE = 29;
constexpr UINTN PSTATE_FIELDS_END = 8;  // bytes 0 to 7 hold everything read
constexpr UINT32 FAMILY_MASK = 0x0FFF0F00;
constexpr UINT32 FAMILY15_MODEL6X = 0x00660F00;
constexpr UINT32 FIRST_PSTATE_MSR = 0xC0010064;
constexpr UINT32 LAST_PSTATE_MSR = 0xC001006A;  // C001_006Bh is left alone
constexpr UINT64 PSTATE_ENABLE = 1ULL << 63;
constexpr UINT64 ID_FIELDS_MASK = 0x1FFFF;  // bits 16:0: VID, DID, FID

}  // namespace

EFI_STATUS PstateOverride(VOID) {
  if ((HwCpuid(1).Eax & FAMILY_MASK) != FAMILY15_MODEL6X) return EFI_SUCCESS;

  UINT8 Data[PSTATE_DATA_SIZE] = {};
  UINTN Size = sizeof(Data);
  if (EFI_ERROR(gRT->GetVariable(u"TAMDPstateData", &gPstateDataVariableGuid, nullptr, &Size, Data))) return EFI_SUCCESS;
  // A variable too short to hold the IDs is treated as absent.
  if (Size < PSTATE_FIELDS_END) return EFI_SUCCESS;
  if (Data[0] == 0) return EFI_SUCCESS;

  const UINT64 Ids = ((UINT64)Data[7] << 9) | ((UINT64)(Data[6] & 0x07) << 6) | (Data[5] & 0x3F) | PSTATE_ENABLE;
  for (UINT32 Msr = FIRST_PSTATE_MSR; Msr <= LAST_PSTATE_MSR; Msr++) {
    HwWriteMsr(Msr, (HwReadMsr(Msr) & ~ID_FIELDS_MASK) | Ids);
  }
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI PstateOverrideEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  DrvLibStartup(ImageHandle, SystemTable);
  return PstateOverride();
}
