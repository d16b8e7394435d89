// SPDX-License-Identifier: BSD-2-Clause-Patent
// Stand-in for the platform's PCD database. The firmware's own PCD protocol
// knows none of the platform's token numbers, so this one takes its place on
// the same handle (ReinstallProtocolInterface) and answers the tokens the
// test application gives it; other tokens go on to the firmware's protocol.
// Unloading puts the firmware's protocol back.
#include "test/bed/standin/standin.h"

static const EFI_GUID PcdGuid = PCD_PROTOCOL_GUID;
static const EFI_GUID PiPcdGuid = EFI_PCD_PROTOCOL_GUID;

static BED_PCD_PROBE Probe;
static PCD_PROTOCOL Pcd;
static PCD_PROTOCOL *Firmware;  // the displaced firmware protocol
static EFI_PCD_PROTOCOL *FirmwarePi;
static EFI_HANDLE PcdHandle, PiPcdHandle;
static BED_PCD_ENTRY Tokens[BED_PCD_MAX_TOKENS];
static UINTN TokenCount;
static BOOLEAN Withdrawn[2];  // [0] PCD, [1] PI PCD

static BED_PCD_ENTRY *Find(UINTN Token) {
  for (UINTN i = 0; i < TokenCount; i++)
    if (Tokens[i].Token == Token) return &Tokens[i];
  return nullptr;
}

static EFI_STATUS EFIAPI SetToken(UINTN Token, UINT64 Value) {
  BED_PCD_ENTRY *e = Find(Token);
  if (e == nullptr) {
    if (TokenCount == BED_PCD_MAX_TOKENS) return EFI_OUT_OF_RESOURCES;
    e = &Tokens[TokenCount++];
    e->Token = Token;
  }
  e->Value = Value;
  return EFI_SUCCESS;
}

static VOID EFIAPI ClearLog(VOID) {
  Probe.SetCount = 0;
  Probe.GetCount = 0;
  Probe.UnknownGets = 0;
}

static EFI_STATUS Record(UINTN Token, UINT64 Value) {
  if (Probe.SetCount < BED_PCD_LOG) Probe.Sets[Probe.SetCount] = {Token, Value};
  Probe.SetCount++;
  return SetToken(Token, Value);
}

#ifdef BED_BOARD
// In the board image the stand-in lives from dispatch to the end of boot, so
// the firmware's own modules set their tokens through it too: only the
// board's tokens (the library's and the exchange buffer's) stay here.
static BOOLEAN BoardToken(UINTN Token) { return Token == 1293 || Find(Token) != nullptr; }
#define SETTER(Name, Type)                                       \
  static EFI_STATUS EFIAPI Name(UINTN Token, Type Value) {       \
    if (!BoardToken(Token)) return Firmware->Name(Token, Value); \
    return Record(Token, Value);                                 \
  }
#else
#define SETTER(Name, Type) \
  static EFI_STATUS EFIAPI Name(UINTN Token, Type Value) { return Record(Token, Value); }
#endif

// A known token's value, or the firmware's answer for the others.
static UINT64 Get(UINTN Token, UINTN Width) {
  Probe.GetCount++;
  if (BED_PCD_ENTRY *e = Find(Token)) return e->Value;
  Probe.UnknownGets++;
  switch (Width) {
    case 1:
      return Firmware->GetBool(Token);
    case 8:
      return Firmware->Get8(Token);
    case 16:
      return Firmware->Get16(Token);
    case 32:
      return Firmware->Get32(Token);
    default:
      return Firmware->Get64(Token);
  }
}

static UINT8 EFIAPI Get8(UINTN Token) { return (UINT8)Get(Token, 8); }
static UINT16 EFIAPI Get16(UINTN Token) { return (UINT16)Get(Token, 16); }
static UINT32 EFIAPI Get32(UINTN Token) { return (UINT32)Get(Token, 32); }
static UINT64 EFIAPI Get64(UINTN Token) { return Get(Token, 64); }
static BOOLEAN EFIAPI GetBool(UINTN Token) { return Get(Token, 1) ? 1 : 0; }
SETTER(Set8, UINT8)
SETTER(Set16, UINT16)
SETTER(Set32, UINT32)
SETTER(Set64, UINT64)
SETTER(SetBool, BOOLEAN)

static EFI_STATUS EFIAPI Withdraw(UINTN Pi) {
  if (Pi > 1) return EFI_INVALID_PARAMETER;
  if (Withdrawn[Pi]) return EFI_SUCCESS;
  EFI_STATUS status = Pi ? gBS->UninstallProtocolInterface(PiPcdHandle, &PiPcdGuid, FirmwarePi)
                         : gBS->UninstallProtocolInterface(PcdHandle, &PcdGuid, &Pcd);
  if (!EFI_ERROR(status)) Withdrawn[Pi] = 1;
  return status;
}

static EFI_STATUS EFIAPI Restore(VOID) {
  EFI_STATUS result = EFI_SUCCESS;
  if (Withdrawn[0]) {
    EFI_STATUS status = gBS->InstallProtocolInterface(&PcdHandle, &PcdGuid, EFI_NATIVE_INTERFACE, &Pcd);
    if (EFI_ERROR(status))
      result = status;
    else
      Withdrawn[0] = 0;
  }
  if (Withdrawn[1]) {
    EFI_STATUS status = gBS->InstallProtocolInterface(&PiPcdHandle, &PiPcdGuid, EFI_NATIVE_INTERFACE, FirmwarePi);
    if (EFI_ERROR(status))
      result = status;
    else
      Withdrawn[1] = 0;
  }
  return result;
}

static const StandInInterface Interfaces[] = {{BED_PCD_PROBE_GUID, &Probe}};

// The first handle carrying Guid.
static EFI_STATUS FirstHandle(const EFI_GUID &Guid, EFI_HANDLE *Handle, VOID **Interface) {
  UINTN count = 0;
  EFI_HANDLE *handles = nullptr;
  EFI_STATUS status = gBS->LocateHandleBuffer(ByProtocol, &Guid, nullptr, &count, &handles);
  if (EFI_ERROR(status)) return status;
  *Handle = handles[0];
  gBS->FreePool(handles);
  return gBS->HandleProtocol(*Handle, &Guid, Interface);
}

static EFI_STATUS EFIAPI Unload(EFI_HANDLE ImageHandle) {
  EFI_STATUS status = Restore();
  if (EFI_ERROR(status)) return status;
  status = gBS->ReinstallProtocolInterface(PcdHandle, &PcdGuid, &Pcd, Firmware);
  if (EFI_ERROR(status)) return status;
  return StandInUninstall(ImageHandle, Interfaces, 1);
}

extern "C" EFI_STATUS EFIAPI PcdStandInEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  gST = SystemTable;
  gBS = SystemTable->BootServices;
  VOID *iface = nullptr;
  EFI_STATUS status = FirstHandle(PcdGuid, &PcdHandle, &iface);
  if (EFI_ERROR(status)) return status;
  Firmware = (PCD_PROTOCOL *)iface;
  status = FirstHandle(PiPcdGuid, &PiPcdHandle, &iface);
  if (EFI_ERROR(status)) return status;
  FirmwarePi = (EFI_PCD_PROTOCOL *)iface;

  // Everything the test does not answer itself stays with the firmware.
  Pcd = *Firmware;
  Pcd.Get8 = Get8;
  Pcd.Get16 = Get16;
  Pcd.Get32 = Get32;
  Pcd.Get64 = Get64;
  Pcd.GetBool = GetBool;
  Pcd.Set8 = Set8;
  Pcd.Set16 = Set16;
  Pcd.Set32 = Set32;
  Pcd.Set64 = Set64;
  Pcd.SetBool = SetBool;
  Probe.SetToken = SetToken;
  Probe.Withdraw = Withdraw;
  Probe.Restore = Restore;
  Probe.ClearLog = ClearLog;
#ifdef BED_BOARD
  static const BED_PCD_ENTRY board[] = {BED_LIB_TOKENS};
  for (const BED_PCD_ENTRY &t : board) SetToken(t.Token, t.Value);
#endif

  status = StandInStart(ImageHandle, SystemTable, Interfaces, 1, Unload);
  if (EFI_ERROR(status)) return status;
  status = gBS->ReinstallProtocolInterface(PcdHandle, &PcdGuid, Firmware, &Pcd);
  if (EFI_ERROR(status)) StandInUninstall(ImageHandle, Interfaces, 1);
  return status;
}
