// SPDX-License-Identifier: BSD-2-Clause-Patent
// The chipset MMIO base pointer that runtime code linked with the library
// uses, converted at the switch to virtual addressing for the one module
// family ("SbRun") that runs after it.
#include "drvlib/drvlib.h"

UINTN PlatformMmioBase;
EFI_EVENT PlatformMmioBaseEvent;
const CHAR8 *DrvLibModuleBaseName = DRVLIB_MODULE_NAME;

namespace {

VOID EFIAPI ConvertPlatformMmioBase(EFI_EVENT Event, VOID *Context) {
  (void)Event;
  (void)Context;
  gRT->ConvertPointer(0, reinterpret_cast<VOID **>(&PlatformMmioBase));
}

}  // namespace

// Compared over the base name's own length: "", "Sb" and "SbRun" match,
// "SbRunX" and "NetIdentityDxe" do not.
BOOLEAN ModuleNameIsSbRun(const CHAR8 *BaseName) {
  static const CHAR8 SbRun[] = "SbRun";
  if (BaseName == nullptr) return 1;
  // A name longer than "SbRun" meets its terminator and differs there.
  for (UINTN i = 0; BaseName[i] != '\0'; i++) {
    if (BaseName[i] != SbRun[i]) return 0;
  }
  return 1;
}

EFI_STATUS PlatformMmioBaseConstructor(VOID) {
  PlatformMmioBase = PLATFORM_MMIO_BASE;
  if (!ModuleNameIsSbRun(DrvLibModuleBaseName)) return EFI_SUCCESS;
  return gBS->CreateEvent(EVT_SIGNAL_VIRTUAL_ADDRESS_CHANGE, TPL_NOTIFY, ConvertPlatformMmioBase, nullptr, &PlatformMmioBaseEvent);
}
