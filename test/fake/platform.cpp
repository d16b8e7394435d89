// SPDX-License-Identifier: BSD-2-Clause-Patent
// Builds the system table and ties the service groups together.
#include <cstdio>
#include <cstring>

#include "impl.h"

namespace fake {

Platform *Platform::current_ = nullptr;
std::vector<std::unique_ptr<Registration>> Platform::Impl::registrations;

std::u16string U16(const char *ascii) {
  std::u16string s;
  for (; *ascii; ascii++) s.push_back(static_cast<unsigned char>(*ascii));
  return s;
}

std::string Narrow(const CHAR16 *s) {
  std::string out;
  for (; s && *s; s++) out.push_back(*s < 0x80 ? static_cast<char>(*s) : '?');
  return out;
}

std::string GuidKey(const EFI_GUID &g) {
  char buf[40];
  snprintf(buf, sizeof buf, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", g.Data1, g.Data2, g.Data3, g.Data4[0], g.Data4[1],
           g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return buf;
}

void SetLocateFailure(std::map<std::string, EFI_STATUS> &failures, const EFI_GUID &guid, EFI_STATUS status) {
  if (status)
    failures[GuidKey(guid)] = status;
  else
    failures.erase(GuidKey(guid));
}

Platform *Platform::Current() { return current_; }

void Platform::Impl::Hook() {
  Platform &p = P();
  p.service_calls_++;
  if (p.service_hook_ && !p.in_service_hook_) {
    p.in_service_hook_ = true;
    p.service_hook_();
    p.in_service_hook_ = false;
  }
}

// Services the drivers never need: they answer honestly that they are absent.
namespace {
EFI_STATUS EFIAPI NoGetMemoryMap(UINTN *, EFI_MEMORY_DESCRIPTOR *, UINTN *, UINTN *, UINT32 *) { return EFI_UNSUPPORTED; }
EFI_STATUS EFIAPI NoLocateDevicePath(const EFI_GUID *, EFI_DEVICE_PATH_PROTOCOL **, EFI_HANDLE *) { return EFI_NOT_FOUND; }
EFI_STATUS EFIAPI NoLoadImage(BOOLEAN, EFI_HANDLE, EFI_DEVICE_PATH_PROTOCOL *, VOID *, UINTN, EFI_HANDLE *) { return EFI_UNSUPPORTED; }
EFI_STATUS EFIAPI NoStartImage(EFI_HANDLE, UINTN *, CHAR16 **) { return EFI_UNSUPPORTED; }
EFI_STATUS EFIAPI NoExit(EFI_HANDLE, EFI_STATUS, UINTN, CHAR16 *) { return EFI_UNSUPPORTED; }
EFI_STATUS EFIAPI NoUnloadImage(EFI_HANDLE) { return EFI_UNSUPPORTED; }
EFI_STATUS EFIAPI NoExitBootServices(EFI_HANDLE, UINTN) { return EFI_UNSUPPORTED; }
EFI_STATUS EFIAPI NoConnect(EFI_HANDLE, EFI_HANDLE *, EFI_DEVICE_PATH_PROTOCOL *, BOOLEAN) { return EFI_NOT_FOUND; }
EFI_STATUS EFIAPI NoDisconnect(EFI_HANDLE, EFI_HANDLE, EFI_HANDLE) { return EFI_NOT_FOUND; }
EFI_STATUS EFIAPI NoOpenInfo(EFI_HANDLE, const EFI_GUID *, EFI_OPEN_PROTOCOL_INFORMATION_ENTRY **, UINTN *) { return EFI_UNSUPPORTED; }
EFI_STATUS EFIAPI NoGetWakeup(BOOLEAN *, BOOLEAN *, EFI_TIME *) { return EFI_UNSUPPORTED; }
EFI_STATUS EFIAPI NoSetWakeup(BOOLEAN, EFI_TIME *) { return EFI_UNSUPPORTED; }
EFI_STATUS EFIAPI NoSetVirtualMap(UINTN, UINTN, UINT32, EFI_MEMORY_DESCRIPTOR *) { return EFI_UNSUPPORTED; }
EFI_STATUS EFIAPI NoHighCount(UINT32 *) { return EFI_UNSUPPORTED; }
VOID EFIAPI RecordReset(EFI_RESET_TYPE, EFI_STATUS, UINTN, VOID *) { ADD_FAILURE() << "ResetSystem called"; }
EFI_STATUS EFIAPI NoCapsule(VOID **, UINTN, EFI_PHYSICAL_ADDRESS) { return EFI_UNSUPPORTED; }
EFI_STATUS EFIAPI NoCapsuleCaps(VOID **, UINTN, UINT64 *, EFI_RESET_TYPE *) { return EFI_UNSUPPORTED; }
EFI_STATUS EFIAPI NoQueryVariableInfo(UINT32, UINT64 *, UINT64 *, UINT64 *) { return EFI_UNSUPPORTED; }
}  // namespace

VOID EFIAPI Platform::Impl::CopyMem(VOID *d, const VOID *s, UINTN n) {
  Hook();
  memmove(d, s, n);
}
VOID EFIAPI Platform::Impl::SetMem(VOID *b, UINTN n, UINT8 v) {
  Hook();
  memset(b, v, n);
}

EFI_STATUS EFIAPI Platform::Impl::CalculateCrc32(VOID *data, UINTN size, UINT32 *crc) {
  if (!data || !crc || !size) return EFI_INVALID_PARAMETER;
  uint32_t c = 0xFFFFFFFFu;
  const uint8_t *b = static_cast<const uint8_t *>(data);
  for (UINTN i = 0; i < size; i++) {
    c ^= b[i];
    for (int k = 0; k < 8; k++) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
  }
  *crc = ~c;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI Platform::Impl::GetNextMonotonicCount(UINT64 *count) {
  static uint64_t counter = 0;
  if (!count) return EFI_INVALID_PARAMETER;
  *count = ++counter;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI Platform::Impl::SetWatchdogTimer(UINTN, UINT64, UINTN, CHAR16 *) { return EFI_SUCCESS; }

Platform::Platform() {
  if (current_) ADD_FAILURE() << "two fake platforms at once";
  current_ = this;
  Impl::registrations.clear();

  bs_.Hdr.Signature = 0x56524553544f4f42ULL;  // "BOOTSERV"
  bs_.Hdr.HeaderSize = sizeof bs_;
  bs_.RaiseTPL = Impl::RaiseTPL;
  bs_.RestoreTPL = Impl::RestoreTPL;
  bs_.AllocatePages = Impl::AllocatePages;
  bs_.FreePages = Impl::FreePages;
  bs_.GetMemoryMap = NoGetMemoryMap;
  bs_.AllocatePool = Impl::AllocatePool;
  bs_.FreePool = Impl::FreePool;
  bs_.CreateEvent = Impl::CreateEvent;
  bs_.SetTimer = Impl::SetTimer;
  bs_.WaitForEvent = Impl::WaitForEvent;
  bs_.SignalEvent = Impl::SignalEvent;
  bs_.CloseEvent = Impl::CloseEvent;
  bs_.CheckEvent = Impl::CheckEvent;
  bs_.InstallProtocolInterface = Impl::InstallProtocolInterface;
  bs_.ReinstallProtocolInterface = Impl::ReinstallProtocolInterface;
  bs_.UninstallProtocolInterface = Impl::UninstallProtocolInterface;
  bs_.HandleProtocol = Impl::HandleProtocol;
  bs_.RegisterProtocolNotify = Impl::RegisterProtocolNotify;
  bs_.LocateHandle = Impl::LocateHandle;
  bs_.LocateDevicePath = NoLocateDevicePath;
  bs_.InstallConfigurationTable = Impl::InstallConfigurationTable;
  bs_.LoadImage = NoLoadImage;
  bs_.StartImage = NoStartImage;
  bs_.Exit = NoExit;
  bs_.UnloadImage = NoUnloadImage;
  bs_.ExitBootServices = NoExitBootServices;
  bs_.GetNextMonotonicCount = Impl::GetNextMonotonicCount;
  bs_.Stall = Impl::Stall;
  bs_.SetWatchdogTimer = Impl::SetWatchdogTimer;
  bs_.ConnectController = NoConnect;
  bs_.DisconnectController = NoDisconnect;
  bs_.OpenProtocol = Impl::OpenProtocol;
  bs_.CloseProtocol = Impl::CloseProtocol;
  bs_.OpenProtocolInformation = NoOpenInfo;
  bs_.ProtocolsPerHandle = Impl::ProtocolsPerHandle;
  bs_.LocateHandleBuffer = Impl::LocateHandleBuffer;
  bs_.LocateProtocol = Impl::LocateProtocol;
  bs_.InstallMultipleProtocolInterfaces = Impl::InstallMultipleProtocolInterfaces;
  bs_.UninstallMultipleProtocolInterfaces = Impl::UninstallMultipleProtocolInterfaces;
  bs_.CalculateCrc32 = Impl::CalculateCrc32;
  bs_.CopyMem = Impl::CopyMem;
  bs_.SetMem = Impl::SetMem;
  bs_.CreateEventEx = Impl::CreateEventEx;

  rt_.Hdr.Signature = 0x56524553544e5552ULL;  // "RUNTSERV"
  rt_.Hdr.HeaderSize = sizeof rt_;
  rt_.GetTime = Impl::GetTime;
  rt_.SetTime = Impl::SetTime;
  rt_.GetWakeupTime = NoGetWakeup;
  rt_.SetWakeupTime = NoSetWakeup;
  rt_.SetVirtualAddressMap = NoSetVirtualMap;
  rt_.ConvertPointer = Impl::ConvertPointer;
  rt_.GetVariable = Impl::GetVariable;
  rt_.GetNextVariableName = Impl::GetNextVariableName;
  rt_.SetVariable = Impl::SetVariable;
  rt_.GetNextHighMonotonicCount = NoHighCount;
  rt_.ResetSystem = RecordReset;
  rt_.UpdateCapsule = NoCapsule;
  rt_.QueryCapsuleCapabilities = NoCapsuleCaps;
  rt_.QueryVariableInfo = NoQueryVariableInfo;

  conout_.Reset = Impl::ConReset;
  conout_.OutputString = Impl::OutputString;
  conout_.TestString = Impl::TestString;
  conout_.QueryMode = Impl::QueryMode;
  conout_.SetMode = Impl::SetMode;
  conout_.SetAttribute = Impl::SetAttribute;
  conout_.ClearScreen = Impl::ClearScreen;
  conout_.SetCursorPosition = Impl::SetCursorPosition;
  conout_.EnableCursor = Impl::EnableCursor;
  conout_.Mode = &con_mode_;
  conin_.Reset = Impl::InReset;
  conin_.ReadKeyStroke = Impl::ReadKeyStroke;
  Impl::CreateEvent(EVT_NOTIFY_WAIT, TPL_NOTIFY, Impl::WaitForKeyNotify, nullptr, &wait_for_key_);
  conin_.WaitForKey = wait_for_key_;
  SetTextModes({{80, 25}, {100, 31}});

  static CHAR16 vendor[] = u"Fake firmware";
  st_.Hdr.Signature = 0x5453595320494249ULL;  // "IBI SYST"
  st_.Hdr.HeaderSize = sizeof st_;
  st_.FirmwareVendor = vendor;
  st_.FirmwareRevision = 0x10000;
  con_handle_ = NewHandle();
  st_.ConsoleInHandle = con_handle_;
  st_.ConIn = &conin_;
  st_.ConsoleOutHandle = con_handle_;
  st_.ConOut = &conout_;
  st_.StandardErrorHandle = con_handle_;
  st_.StdErr = &conout_;
  st_.RuntimeServices = &rt_;
  st_.BootServices = &bs_;
}

Platform::~Platform() {
  for (auto &[p, a] : allocs_) {
    CheckGuards(p, a, "teardown");
    ADD_FAILURE() << "leaked " << (a.pages ? "pages" : "pool") << ": " << a.size << " bytes of memory type " << a.type;
    if (a.pages)
      free(p);
    else
      free(static_cast<uint8_t *>(p) - 16);
  }
  Impl::registrations.clear();
  current_ = nullptr;
}

EFI_HANDLE Platform::NewHandle() {
  handles_.push_back(std::make_unique<Handle>());
  return ToHandle(handles_.back().get());
}

EFI_HANDLE Platform::NewImageHandle() {
  images_.push_back(std::make_unique<EFI_LOADED_IMAGE_PROTOCOL>());
  EFI_LOADED_IMAGE_PROTOCOL *li = images_.back().get();
  li->Revision = 0x1000;
  li->SystemTable = &st_;
  li->ImageCodeType = EfiBootServicesCode;
  li->ImageDataType = EfiBootServicesData;
  EFI_HANDLE h = nullptr;
  static const EFI_GUID kLoadedImage = EFI_LOADED_IMAGE_PROTOCOL_GUID;
  Install(&h, kLoadedImage, li);
  return h;
}

EFI_LOADED_IMAGE_PROTOCOL *Platform::LoadedImage(EFI_HANDLE image) {
  static const EFI_GUID kLoadedImage = EFI_LOADED_IMAGE_PROTOCOL_GUID;
  Handle *h = H(image);
  for (auto &[g, i] : h->protocols)
    if (GuidEqual(g, kLoadedImage)) return static_cast<EFI_LOADED_IMAGE_PROTOCOL *>(i);
  return nullptr;
}

void Platform::AddConfigTable(const EFI_GUID &guid, void *table) { Impl::InstallConfigurationTable(&guid, table); }

}  // namespace fake
