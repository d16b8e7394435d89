// The settings request handler: vets the caller's buffer, then hands the
// record to the translation with a freshly located token service.
#include "setuptoken/settings_request.h"
#include "setuptoken/setup_token.h"

EFI_STATUS EFIAPI SettingsRequestHandler(EFI_HANDLE DispatchHandle, const VOID *Context, VOID *CommBuffer, UINTN *CommBufferSize) {
  (void)DispatchHandle;
  (void)Context;
  if (CommBuffer == nullptr || CommBufferSize == nullptr) return EFI_INVALID_PARAMETER;

  // The size lives in the caller's memory: read it once, so the size that is
  // vetted is the size that is trusted.
  UINTN Size = *(volatile UINTN *)CommBufferSize;
  if (Size < SETTINGS_REQUEST_MIN_SIZE) return EFI_INVALID_PARAMETER;
  if (gSmmBufferCheck == nullptr) return EFI_INVALID_PARAMETER;
  if (EFI_ERROR(gSmmBufferCheck->CheckBuffer(CommBuffer, Size))) return EFI_INVALID_PARAMETER;

  const UINT8 *Request = (const UINT8 *)CommBuffer;
  if (Request[0] != SETTINGS_REQUEST_COMMAND) return EFI_UNSUPPORTED;

  VOID *Service = nullptr;
  EFI_STATUS Status = gSmst->SmmLocateProtocol(&gTokenServiceProtocolGuid, nullptr, &Service);
  if (EFI_ERROR(Status)) return Status;

  return TranslateSettings(Request + 1, (TOKEN_SERVICE_PROTOCOL *)Service);
}
