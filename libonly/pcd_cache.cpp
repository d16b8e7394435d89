// PcdCacheDxe: nothing but the library start-up, which caches the platform
// configuration values inside this image.
#include "drvlib/drvlib.h"

namespace {

EFI_SYSTEM_TABLE *mSystemTable;
EFI_RUNTIME_SERVICES *mRuntimeServices;

}  // namespace

extern "C" EFI_STATUS EFIAPI PcdCacheEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  DrvLibStartup(ImageHandle, SystemTable);
  if (mSystemTable == nullptr) {
    mSystemTable = SystemTable;
    mRuntimeServices = SystemTable->RuntimeServices;
  }
  return EFI_SUCCESS;
}
