// SPDX-License-Identifier: BSD-2-Clause-Patent
// Finds the HOB list that the PEI phase handed over, through the system
// table's configuration table.
#include "drvlib/drvlib.h"

VOID *HobListPointer;

namespace {

// The GUID as two 64-bit halves, the way the table walk compares it.
struct GUID_HALVES {
  UINT64 Low;
  UINT64 High;
};

GUID_HALVES Halves(const EFI_GUID &Guid) {
  GUID_HALVES h;
  __builtin_memcpy(&h, &Guid, sizeof(h));
  return h;
}

const EFI_GUID gEfiHobListGuid = EFI_HOB_LIST_GUID;

VOID FindHobList(VOID) {
  if (HobListPointer != nullptr || gST == nullptr) return;
  const EFI_CONFIGURATION_TABLE *Table = gST->ConfigurationTable;
  if (Table == nullptr) return;
  const GUID_HALVES Want = Halves(gEfiHobListGuid);
  for (UINTN i = 0; i < gST->NumberOfTableEntries; i++) {
    const GUID_HALVES Have = Halves(Table[i].VendorGuid);
    if (Have.Low == Want.Low && Have.High == Want.High) {
      HobListPointer = Table[i].VendorTable;
      return;
    }
  }
}

}  // namespace

EFI_STATUS LocateHobList(VOID) {
  FindHobList();
  return HobListPointer != nullptr ? EFI_SUCCESS : EFI_NOT_FOUND;
}

VOID *LocateHobListPointer(VOID) {
  FindHobList();
  return HobListPointer;
}
