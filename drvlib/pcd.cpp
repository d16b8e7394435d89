// Cached access to the PCD protocol for code linked with the library.
#include "drvlib/drvlib.h"

PCD_PROTOCOL *gDrvLibPcd;

// A failed lookup leaves the cache empty, so the next call tries again.
PCD_PROTOCOL *GetPcdProtocol(VOID) {
  if (gDrvLibPcd == nullptr && gBS != nullptr) {
    static const EFI_GUID guid = PCD_PROTOCOL_GUID;
    VOID *iface = nullptr;
    if (!EFI_ERROR(gBS->LocateProtocol(&guid, nullptr, &iface)))
      gDrvLibPcd = static_cast<PCD_PROTOCOL *>(iface);
  }
  return gDrvLibPcd;
}
