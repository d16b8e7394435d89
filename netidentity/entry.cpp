// NetIdentityDxe's entry: the library start-up, then one notification on the
// End-of-DXE group, when the NIC is configured but the SMBIOS tables are
// still open for edits.
#include "drvlib/drvlib.h"
#include "netidentity/netidentity.h"

namespace {

const EFI_GUID kEndOfDxeGroup = EFI_END_OF_DXE_EVENT_GROUP_GUID;

}  // namespace

// Runs once: the event is closed after the first signal.
VOID EFIAPI OnEndOfDxe(EFI_EVENT Event, VOID *Context) {
  (void)Context;
  DiscoverNics();
  StampSystemIdentity();
  gNetIdentityBootServices->CloseEvent(Event);
}

EFI_STATUS EFIAPI NetIdentityEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  DrvLibStartup(ImageHandle, SystemTable);
  gNetIdentitySystemTable = SystemTable;
  gNetIdentityBootServices = SystemTable->BootServices;
  gNetIdentityRuntimeServices = SystemTable->RuntimeServices;
  EFI_EVENT event = nullptr;
  gNetIdentityBootServices->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, OnEndOfDxe, nullptr, &kEndOfDxeGroup, &event);
  return EFI_SUCCESS;
}
