// SPDX-License-Identifier: BSD-2-Clause-Patent
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
    VOID *Iface = nullptr;
    EFI_STATUS Status = gBS->LocateProtocol(&gDebugPrintProtocolGuid, nullptr, &Iface);
    if (EFI_ERROR(Status)) return Status;
    if (Iface == nullptr) return EFI_NOT_FOUND;
    gDrvLibDebugPrint = static_cast<DEBUG_PRINT_PROTOCOL *>(Iface);
  }
  EFI_VA_LIST Args;
  EFI_VA_START(Args, Format);
  EFI_STATUS Status = gDrvLibDebugPrint->Print(ErrorLevel, Format, Args);
  EFI_VA_END(Args);
  return Status;
}
