// SPDX-License-Identifier: BSD-2-Clause-Patent
// NetIdentityDxe's entry: the library start-up, then one notification on the
// End-of-DXE group, when the NIC is configured but the SMBIOS tables are
// still open for edits.
#include "drvlib/drvlib.h"
#include "netidentity/netidentity.h"

namespace {

const EFI_GUID gEfiEndOfDxeEventGroupGuid = EFI_END_OF_DXE_EVENT_GROUP_GUID;

}  // namespace

// Runs once: the event is closed after the first signal.
VOID EFIAPI OnEndOfDxe(EFI_EVENT Event, VOID *Context) {
  (void)Context;
  DiscoverNics();
  // Its status only says whether a stamp was made; the stamp logs each refusal.
  StampSystemIdentity();
  gBS->CloseEvent(Event);
}

EFI_STATUS EFIAPI NetIdentityEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  DrvLibStartup(ImageHandle, SystemTable);
  EFI_EVENT Event = nullptr;
  EFI_STATUS Status = gBS->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, OnEndOfDxe, nullptr, &gEfiEndOfDxeEventGroupGuid, &Event);
  // The driver has nothing else to do, so its entry succeeds either way; without
  // the notification this boot's identity is simply not stamped.
  if (EFI_ERROR(Status))
    DebugPrint(DEBUG_LEVEL_ERROR, "[NetIdentityEntry] CreateEventEx: gEfiEndOfDxeEventGroupGuid, Status: %r\n", Status);
  return EFI_SUCCESS;
}
