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
  VOID *iface = nullptr;
  EFI_STATUS status = gBS->LocateProtocol(&gEfiSmmBase2ProtocolGuid, nullptr, &iface);
  if (EFI_ERROR(status)) return status;
  if (iface == nullptr) return EFI_NOT_FOUND;
  EFI_SMM_BASE2_PROTOCOL *smmBase2 = static_cast<EFI_SMM_BASE2_PROTOCOL *>(iface);
  EFI_SMM_SYSTEM_TABLE2 *smst = nullptr;
  status = smmBase2->GetSmstLocation(smmBase2, &smst);
  if (EFI_ERROR(status)) return status;
  if (smst == nullptr) return EFI_UNSUPPORTED;

  VOID *marker = nullptr;
  status = smst->SmmLocateProtocol(&gSmmLibReadyProtocolGuid, nullptr, &marker);
  if (!EFI_ERROR(status) && marker != nullptr) {
    SmmLibReady = 1;
    return EFI_SUCCESS;
  }
  if (SmmLibReadyRegistration != nullptr) return EFI_SUCCESS;
  return smst->SmmRegisterProtocolNotify(&gSmmLibReadyProtocolGuid, OnSmmLibReady, &SmmLibReadyRegistration);
}
