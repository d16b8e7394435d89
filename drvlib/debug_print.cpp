// Debug messages, handed to the platform's debug print protocol, which does
// the formatting and filtering.
#include "drvlib/drvlib.h"

DEBUG_PRINT_PROTOCOL *gDrvLibDebugPrint;

namespace {

const EFI_GUID gDebugPrintProtocolGuid = DEBUG_PRINT_PROTOCOL_GUID;

}  // namespace

EFI_STATUS EFIAPI DebugPrint(UINTN ErrorLevel, const CHAR8 *Format, ...) {
  if (gDrvLibDebugPrint == nullptr) {
    // Before the start-up has kept the boot services there is nobody to ask.
    if (gBS == nullptr) return EFI_NOT_READY;
    VOID *iface = nullptr;
    EFI_STATUS status = gBS->LocateProtocol(&gDebugPrintProtocolGuid, nullptr, &iface);
    if (EFI_ERROR(status)) return status;
    if (iface == nullptr) return EFI_NOT_FOUND;
    gDrvLibDebugPrint = static_cast<DEBUG_PRINT_PROTOCOL *>(iface);
  }
  EFI_VA_LIST args;
  EFI_VA_START(args, Format);
  EFI_STATUS status = gDrvLibDebugPrint->Print(ErrorLevel, Format, args);
  EFI_VA_END(args);
  return status;
}
