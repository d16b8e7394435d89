// SPDX-License-Identifier: BSD-2-Clause-Patent
// The driver entry: on the one processor family it serves, reserve the
// runtime exchange buffer, publish its address through a PCD and register
// the settings request handler.
#include "hw.h"
#include "setuptoken/settings_request.h"
#include "setuptoken/setup_token.h"

const EFI_GUID gSettingsRequestGuid = SETTINGS_REQUEST_GUID;

namespace {

const EFI_GUID gPcdProtocolGuid = PCD_PROTOCOL_GUID;

// Extended family 0Bh over base family 0Fh, extended model 4; base model and
// stepping are ignored.
constexpr UINT32 FAMILY_MASK = 0x0FFF0F00;
constexpr UINT32 FAMILY_SIGNATURE = 0x00B40F00;

// Located on first use and kept; a failed lookup is tried again next time.
EFI_STATUS LocatePcd(PCD_PROTOCOL **Pcd) {
  if (gPcd == nullptr) {
    VOID *Interface = nullptr;
    EFI_STATUS Status = gBS->LocateProtocol(&gPcdProtocolGuid, nullptr, &Interface);
    if (EFI_ERROR(Status)) return Status;
    if (Interface == nullptr) return EFI_NOT_FOUND;
    gPcd = (PCD_PROTOCOL *)Interface;
  }
  *Pcd = gPcd;
  return EFI_SUCCESS;
}

}  // namespace

EFI_STATUS SetupTokenDriverEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  (void)ImageHandle;
  (void)SystemTable;
  if ((HwCpuid(0x80000001).Eax & FAMILY_MASK) != FAMILY_SIGNATURE) return EFI_SUCCESS;

  // The buffer belongs to whoever reads the PCD; this driver never touches it.
  VOID *ExchangeBuffer = nullptr;
  EFI_STATUS Status = gBS->AllocatePool(EfiRuntimeServicesData, EXCHANGE_BUFFER_SIZE, &ExchangeBuffer);
  if (EFI_ERROR(Status)) return Status;

  PCD_PROTOCOL *Pcd = nullptr;
  Status = LocatePcd(&Pcd);
  if (EFI_ERROR(Status)) {
    // Nobody can have learnt the address yet, so the buffer can go back.
    gBS->FreePool(ExchangeBuffer);
    return Status;
  }
  Pcd->Set64(EXCHANGE_BUFFER_PCD_TOKEN, (UINT64)(UINTN)ExchangeBuffer);

  gDispatchHandle = nullptr;
  return gSmst->SmiHandlerRegister(SettingsRequestHandler, &gSettingsRequestGuid, &gDispatchHandle);
}
