// SPDX-License-Identifier: BSD-2-Clause-Patent
// Stand-in for SMM Base2 and the SMM system table, good enough to start an
// SMM driver as a DXE image: the "SMM" protocol database is the boot
// services' one, SMI handlers are kept in a small table, and SmiManage calls
// the handlers registered for a GUID, as a communication would.
#include "test/bed/standin/standin.h"

#define MAX_HANDLERS 8

struct Handler {
  EFI_SMM_HANDLER_ENTRY_POINT2 Entry;
  EFI_GUID Type;
};

static Handler Handlers[MAX_HANDLERS];
static BED_SMM_PROBE Probe;
static EFI_SMM_SYSTEM_TABLE2 Smst;
static EFI_SMM_BASE2_PROTOCOL SmmBase2;

// Reports "not in SMRAM": the firmware's own DXE modules, notified of the
// new protocol, must not take this for a real SMM and start using its table.
static EFI_STATUS EFIAPI InSmm(const EFI_SMM_BASE2_PROTOCOL *, BOOLEAN *InSmram) {
  if (InSmram == nullptr) return EFI_INVALID_PARAMETER;
  *InSmram = 0;
  return EFI_SUCCESS;
}

static EFI_STATUS EFIAPI GetSmstLocation(const EFI_SMM_BASE2_PROTOCOL *, EFI_SMM_SYSTEM_TABLE2 **Table) {
  if (Table == nullptr) return EFI_INVALID_PARAMETER;
  *Table = &Smst;
  return EFI_SUCCESS;
}

static EFI_STATUS EFIAPI InstallConfigurationTable(const EFI_SMM_SYSTEM_TABLE2 *, const EFI_GUID *, VOID *, UINTN) {
  return EFI_UNSUPPORTED;
}
static EFI_STATUS EFIAPI IoUnsupported(const VOID *, UINTN, UINT64, UINTN, VOID *) { return EFI_UNSUPPORTED; }
static EFI_STATUS EFIAPI StartupThisAp(VOID *, UINTN, VOID *) { return EFI_UNSUPPORTED; }

static EFI_STATUS EFIAPI AllocatePool(EFI_MEMORY_TYPE Type, UINTN Size, VOID **Buffer) { return gBS->AllocatePool(Type, Size, Buffer); }
static EFI_STATUS EFIAPI FreePool(VOID *Buffer) { return gBS->FreePool(Buffer); }
static EFI_STATUS EFIAPI AllocatePages(EFI_ALLOCATE_TYPE Type, EFI_MEMORY_TYPE MemoryType, UINTN Pages, EFI_PHYSICAL_ADDRESS *Memory) {
  return gBS->AllocatePages(Type, MemoryType, Pages, Memory);
}
static EFI_STATUS EFIAPI FreePages(EFI_PHYSICAL_ADDRESS Memory, UINTN Pages) { return gBS->FreePages(Memory, Pages); }
static EFI_STATUS EFIAPI InstallProtocol(EFI_HANDLE *Handle, const EFI_GUID *Protocol, EFI_INTERFACE_TYPE Type, VOID *Interface) {
  return gBS->InstallProtocolInterface(Handle, Protocol, Type, Interface);
}
static EFI_STATUS EFIAPI UninstallProtocol(EFI_HANDLE Handle, const EFI_GUID *Protocol, VOID *Interface) {
  return gBS->UninstallProtocolInterface(Handle, Protocol, Interface);
}
static EFI_STATUS EFIAPI HandleProtocol(EFI_HANDLE Handle, const EFI_GUID *Protocol, VOID **Interface) {
  return gBS->HandleProtocol(Handle, Protocol, Interface);
}
// Notifications are recorded but never fire: nothing is installed "in SMM"
// after the driver under test has started.
static EFI_STATUS EFIAPI RegisterProtocolNotify(const EFI_GUID *Protocol, EFI_SMM_NOTIFY_FN Function, VOID **Registration) {
  if (Protocol == nullptr || Function == nullptr || Registration == nullptr) return EFI_INVALID_PARAMETER;
  Probe.NotifyCount++;
  *Registration = &Probe;
  return EFI_SUCCESS;
}
static EFI_STATUS EFIAPI LocateHandle(EFI_LOCATE_SEARCH_TYPE Type, const EFI_GUID *Protocol, VOID *Key, UINTN *Size, EFI_HANDLE *Buffer) {
  return gBS->LocateHandle(Type, Protocol, Key, Size, Buffer);
}
static EFI_STATUS EFIAPI LocateProtocol(const EFI_GUID *Protocol, VOID *Registration, VOID **Interface) {
  return gBS->LocateProtocol(Protocol, Registration, Interface);
}

// Calls every handler registered for HandlerType; the status is the last
// handler's, or EFI_NOT_FOUND when there is none.
static EFI_STATUS EFIAPI SmiManage(const EFI_GUID *HandlerType, const VOID *Context, VOID *CommBuffer, UINTN *CommBufferSize) {
  if (HandlerType == nullptr) return EFI_NOT_FOUND;
  EFI_STATUS status = EFI_NOT_FOUND;
  for (Handler &h : Handlers)
    if (h.Entry && GuidEqual(h.Type, *HandlerType)) status = h.Entry((EFI_HANDLE)&h, Context, CommBuffer, CommBufferSize);
  return status;
}

static EFI_STATUS EFIAPI SmiHandlerRegister(EFI_SMM_HANDLER_ENTRY_POINT2 Entry, const EFI_GUID *HandlerType, EFI_HANDLE *DispatchHandle) {
  if (Entry == nullptr || DispatchHandle == nullptr) return EFI_INVALID_PARAMETER;
  if (EFI_ERROR(Probe.RegisterStatus)) return Probe.RegisterStatus;
  for (Handler &h : Handlers) {
    if (h.Entry) continue;
    h.Entry = Entry;
    if (HandlerType) h.Type = *HandlerType;
    *DispatchHandle = (EFI_HANDLE)&h;
    Probe.HandlerCount++;
    return EFI_SUCCESS;
  }
  return EFI_OUT_OF_RESOURCES;
}

static EFI_STATUS EFIAPI SmiHandlerUnRegister(EFI_HANDLE DispatchHandle) {
  for (Handler &h : Handlers) {
    if ((EFI_HANDLE)&h != DispatchHandle || h.Entry == nullptr) continue;
    h.Entry = nullptr;
    Probe.HandlerCount--;
    return EFI_SUCCESS;
  }
  return EFI_INVALID_PARAMETER;
}

static UINTN SaveStateSize = 0;
static VOID *SaveState = nullptr;

static const StandInInterface Interfaces[] = {
    {EFI_SMM_BASE2_PROTOCOL_GUID, &SmmBase2},
    {BED_SMM_PROBE_GUID, &Probe},
};

static EFI_HANDLE Image;

static EFI_STATUS EFIAPI Withdraw(VOID) { return StandInUninstall(Image, Interfaces, 2); }

extern "C" EFI_STATUS EFIAPI SmmBaseStandInEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  SmmBase2.InSmm = InSmm;
  SmmBase2.GetSmstLocation = GetSmstLocation;
  Smst.Hdr.Signature = 0x54534D53;  // "SMST"
  Smst.Hdr.Revision = (1 << 16) | 70;
  Smst.Hdr.HeaderSize = sizeof Smst.Hdr;
  Smst.SmmFirmwareVendor = (CHAR16 *)u"Test bed";
  Smst.SmmInstallConfigurationTable = InstallConfigurationTable;
  Smst.SmmIo.Mem.Read = Smst.SmmIo.Mem.Write = IoUnsupported;
  Smst.SmmIo.Io.Read = Smst.SmmIo.Io.Write = IoUnsupported;
  Smst.SmmAllocatePool = AllocatePool;
  Smst.SmmFreePool = FreePool;
  Smst.SmmAllocatePages = AllocatePages;
  Smst.SmmFreePages = FreePages;
  Smst.SmmStartupThisAp = StartupThisAp;
  Smst.CurrentlyExecutingCpu = 0;
  Smst.NumberOfCpus = 1;
  Smst.CpuSaveStateSize = &SaveStateSize;
  Smst.CpuSaveState = &SaveState;
  Smst.SmmInstallProtocolInterface = InstallProtocol;
  Smst.SmmUninstallProtocolInterface = UninstallProtocol;
  Smst.SmmHandleProtocol = HandleProtocol;
  Smst.SmmRegisterProtocolNotify = RegisterProtocolNotify;
  Smst.SmmLocateHandle = LocateHandle;
  Smst.SmmLocateProtocol = LocateProtocol;
  Smst.SmiManage = SmiManage;
  Smst.SmiHandlerRegister = SmiHandlerRegister;
  Smst.SmiHandlerUnRegister = SmiHandlerUnRegister;
  Image = ImageHandle;
  Probe.Withdraw = Withdraw;
  return StandInStart(ImageHandle, SystemTable, Interfaces, 2, nullptr);
}
