// SPDX-License-Identifier: BSD-2-Clause-Patent
// Cached access to the PCD protocol for code linked with the library.
#include "drvlib/drvlib.h"

const EFI_GUID gPcdProtocolGuid = PCD_PROTOCOL_GUID;
PCD_PROTOCOL *gDrvLibPcd;

// A failed lookup leaves the cache empty, so the next call tries again.
PCD_PROTOCOL *GetPcdProtocol(VOID) {
  if (gDrvLibPcd == nullptr && gBS != nullptr) {
    VOID *Iface = nullptr;
    if (!EFI_ERROR(gBS->LocateProtocol(&gPcdProtocolGuid, nullptr, &Iface))) gDrvLibPcd = static_cast<PCD_PROTOCOL *>(Iface);
  }
  return gDrvLibPcd;
}
