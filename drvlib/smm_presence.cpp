// SPDX-License-Identifier: BSD-2-Clause-Patent
// SmmLibReady: whether the platform's SMM library services are up, learned
// from SMM when the driver runs there.
#include "drvlib/drvlib.h"

UINT8 SmmLibReady;
VOID *SmmLibReadyRegistration;

namespace {

const EFI_GUID gSmmLibReadyProtocolGuid = SMM_LIB_READY_PROTOCOL_GUID;
const EFI_GUID gEfiSmmBase2ProtocolGuid = EFI_SMM_BASE2_PROTOCOL_GUID;

EFI_STATUS EFIAPI OnSmmLibReady(const EFI_GUID *Protocol, VOID *Interface, EFI_HANDLE Handle) {
  (void)Protocol;
  (void)Interface;
  (void)Handle;
  SmmLibReady = 1;
  return EFI_SUCCESS;
}

}  // namespace

// Outside SMM GetSmstLocation fails and the flag simply stays clear.
EFI_STATUS SmmPresenceConstructor(VOID) {
  if (SmmLibReady) return EFI_SUCCESS;
  VOID *Iface = nullptr;
  EFI_STATUS Status = gBS->LocateProtocol(&gEfiSmmBase2ProtocolGuid, nullptr, &Iface);
  if (EFI_ERROR(Status)) return Status;
  if (Iface == nullptr) return EFI_NOT_FOUND;
  EFI_SMM_BASE2_PROTOCOL *SmmBase2 = static_cast<EFI_SMM_BASE2_PROTOCOL *>(Iface);
  EFI_SMM_SYSTEM_TABLE2 *Smst = nullptr;
  Status = SmmBase2->GetSmstLocation(SmmBase2, &Smst);
  if (EFI_ERROR(Status)) return Status;
  if (Smst == nullptr) return EFI_UNSUPPORTED;

  VOID *Marker = nullptr;
  Status = Smst->SmmLocateProtocol(&gSmmLibReadyProtocolGuid, nullptr, &Marker);
  if (!EFI_ERROR(Status) && Marker != nullptr) {
    SmmLibReady = 1;
    return EFI_SUCCESS;
  }
  if (SmmLibReadyRegistration != nullptr) return EFI_SUCCESS;
  return Smst->SmmRegisterProtocolNotify(&gSmmLibReadyProtocolGuid, OnSmmLibReady, &SmmLibReadyRegistration);
}
