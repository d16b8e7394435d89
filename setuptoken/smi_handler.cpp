// The settings request handler: vets the caller's buffer, takes the request
// into SMRAM, then hands the record to the translation with a freshly located
// token service.
#include "efi/debug_print.h"
#include "setuptoken/settings_request.h"
#include "setuptoken/setup_token.h"

DEBUG_PRINT_PROTOCOL *gSmmDebugPrint;

namespace {

const EFI_GUID gDebugPrintProtocolGuid = DEBUG_PRINT_PROTOCOL_GUID;

// The caller's buffer has no alignment that the handler may rely on.
typedef UINT64 UNALIGNED_UINT64 __attribute__((aligned(1)));
static_assert(SETTINGS_REQUEST_MIN_SIZE % sizeof(UINT64) == 0, "the request copies in whole words");

// Debug messages go to the debug print published in SMM, located on first
// use; without one they are dropped and the next message asks again.
VOID EFIAPI SmmDebugPrint(const CHAR8 *Format, ...) {
  if (gSmmDebugPrint == nullptr) {
    VOID *Interface = nullptr;
    if (EFI_ERROR(gSmst->SmmLocateProtocol(&gDebugPrintProtocolGuid, nullptr, &Interface)) || Interface == nullptr) return;
    gSmmDebugPrint = (DEBUG_PRINT_PROTOCOL *)Interface;
  }
  EFI_VA_LIST Args;
  EFI_VA_START(Args, Format);
  gSmmDebugPrint->Print(DEBUG_LEVEL_ERROR, Format, Args);
  EFI_VA_END(Args);
}

// A handler may only return the statuses the SMM core knows; any other halts
// a debug build of the core in SMM. A refused request is reported as "source
// pending", which the core hands to the sender as EFI_NOT_FOUND, so it still
// reads as a failure there; the reason goes to the debug log.
EFI_STATUS Refuse(const CHAR8 *Reason, EFI_STATUS Why) {
  SmmDebugPrint("[SetupTokenSmm] SettingsRequest refused: %a, Status: %r\n", Reason, Why);
  return EFI_WARN_INTERRUPT_SOURCE_PENDING;
}

}  // namespace

EFI_STATUS EFIAPI SettingsRequestHandler(EFI_HANDLE DispatchHandle, const VOID *Context, VOID *CommBuffer, UINTN *CommBufferSize) {
  (void)DispatchHandle;
  (void)Context;
  if (CommBuffer == nullptr || CommBufferSize == nullptr) return Refuse("no request", EFI_INVALID_PARAMETER);

  // The size lives in the caller's memory: read it once, so the size that is
  // vetted is the size that is trusted.
  UINTN Size = *(volatile UINTN *)CommBufferSize;
  if (Size < SETTINGS_REQUEST_MIN_SIZE) return Refuse("short request", EFI_INVALID_PARAMETER);
  if (gSmmBufferCheck == nullptr) return Refuse("no buffer check", EFI_INVALID_PARAMETER);
  EFI_STATUS Status = gSmmBufferCheck->CheckBuffer(CommBuffer, Size);
  if (EFI_ERROR(Status)) return Refuse("buffer check", Status);

  // The request stays writable by other processors and devices while the
  // handler runs, and one byte can be both a value and another row's gate:
  // every byte is read exactly once, into SMRAM, and used from there. Eight
  // bytes a load keeps the copy short while every processor waits in SMM.
  UINT64 Words[SETTINGS_REQUEST_MIN_SIZE / sizeof(UINT64)];
  const volatile UNALIGNED_UINT64 *Outside = (const volatile UNALIGNED_UINT64 *)CommBuffer;
  for (UINTN i = 0; i < sizeof(Words) / sizeof(Words[0]); i++) Words[i] = Outside[i];
  const UINT8 *Request = (const UINT8 *)Words;

  if (Request[0] != SETTINGS_REQUEST_COMMAND) return Refuse("command", EFI_UNSUPPORTED);

  VOID *Service = nullptr;
  Status = gSmst->SmmLocateProtocol(&gTokenServiceProtocolGuid, nullptr, &Service);
  if (EFI_ERROR(Status)) return Refuse("no token service", Status);

  Status = TranslateSettings(Request + 1, (TOKEN_SERVICE_PROTOCOL *)Service);
  if (EFI_ERROR(Status)) return Refuse("token service", Status);
  return EFI_SUCCESS;
}
