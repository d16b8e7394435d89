// SPDX-License-Identifier: BSD-2-Clause-Patent
// Internal to the fake platform: the records behind EFI_HANDLE and EFI_EVENT
// and the service functions that the system table points at.
#pragma once
#include <gtest/gtest.h>

#include "fake.h"

namespace fake {

struct Registration;

struct Handle {
  std::vector<std::pair<EFI_GUID, void *>> protocols;
  std::map<std::string, int> opens;  // GuidKey -> open count (OpenProtocol)
  bool alive = true;
};

struct Event {
  UINT32 type = 0;
  EFI_TPL tpl = 0;
  EFI_EVENT_NOTIFY notify = nullptr;
  void *context = nullptr;
  bool has_group = false;
  EFI_GUID group{};
  bool signaled = false;
  bool pending = false;  // notification queued
  bool closed = false;
  bool armed = false;
  bool periodic = false;
  uint64_t deadline = 0, period = 0;
  uint64_t seq = 0;  // creation order, for stable dispatch
};

struct Registration {
  EFI_GUID guid;
  Event *event;
  std::deque<Handle *> fresh;  // handles installed since the last lookup
};

inline Handle *H(EFI_HANDLE h) { return reinterpret_cast<Handle *>(h); }
inline EFI_HANDLE ToHandle(Handle *h) { return reinterpret_cast<EFI_HANDLE>(h); }
inline Event *E(EFI_EVENT e) { return reinterpret_cast<Event *>(e); }
inline EFI_EVENT ToEvent(Event *e) { return reinterpret_cast<EFI_EVENT>(e); }

struct Platform::Impl {
  static Platform &P() { return *Platform::current_; }
  static void Hook();

  // pool.cpp
  static EFI_STATUS EFIAPI AllocatePool(EFI_MEMORY_TYPE, UINTN, VOID **);
  static EFI_STATUS EFIAPI FreePool(VOID *);
  static EFI_STATUS EFIAPI AllocatePages(EFI_ALLOCATE_TYPE, EFI_MEMORY_TYPE, UINTN, EFI_PHYSICAL_ADDRESS *);
  static EFI_STATUS EFIAPI FreePages(EFI_PHYSICAL_ADDRESS, UINTN);
  static bool ShouldFail();

  // events.cpp
  static EFI_TPL EFIAPI RaiseTPL(EFI_TPL);
  static VOID EFIAPI RestoreTPL(EFI_TPL);
  static EFI_STATUS EFIAPI CreateEvent(UINT32, EFI_TPL, EFI_EVENT_NOTIFY, VOID *, EFI_EVENT *);
  static EFI_STATUS EFIAPI CreateEventEx(UINT32, EFI_TPL, EFI_EVENT_NOTIFY, const VOID *, const EFI_GUID *, EFI_EVENT *);
  static EFI_STATUS EFIAPI SetTimer(EFI_EVENT, EFI_TIMER_DELAY, UINT64);
  static EFI_STATUS EFIAPI WaitForEvent(UINTN, EFI_EVENT *, UINTN *);
  static EFI_STATUS EFIAPI SignalEvent(EFI_EVENT);
  static EFI_STATUS EFIAPI CloseEvent(EFI_EVENT);
  static EFI_STATUS EFIAPI CheckEvent(EFI_EVENT);
  static EFI_STATUS EFIAPI Stall(UINTN);
  static Event *Live(EFI_EVENT, const char *where);
  // An event service's start: the test's hook, then the live event it names.
  static Event *Called(EFI_EVENT e, const char *where) {
    Hook();
    return Live(e, where);
  }
  static std::vector<std::unique_ptr<Registration>> registrations;

  // protocols.cpp
  static EFI_STATUS EFIAPI InstallProtocolInterface(EFI_HANDLE *, const EFI_GUID *, EFI_INTERFACE_TYPE, VOID *);
  static EFI_STATUS EFIAPI ReinstallProtocolInterface(EFI_HANDLE, const EFI_GUID *, VOID *, VOID *);
  static EFI_STATUS EFIAPI UninstallProtocolInterface(EFI_HANDLE, const EFI_GUID *, VOID *);
  static EFI_STATUS EFIAPI HandleProtocol(EFI_HANDLE, const EFI_GUID *, VOID **);
  static EFI_STATUS EFIAPI RegisterProtocolNotify(const EFI_GUID *, EFI_EVENT, VOID **);
  static EFI_STATUS EFIAPI LocateHandle(EFI_LOCATE_SEARCH_TYPE, const EFI_GUID *, VOID *, UINTN *, EFI_HANDLE *);
  static EFI_STATUS EFIAPI LocateHandleBuffer(EFI_LOCATE_SEARCH_TYPE, const EFI_GUID *, VOID *, UINTN *, EFI_HANDLE **);
  static EFI_STATUS EFIAPI LocateProtocol(const EFI_GUID *, VOID *, VOID **);
  static EFI_STATUS EFIAPI OpenProtocol(EFI_HANDLE, const EFI_GUID *, VOID **, EFI_HANDLE, EFI_HANDLE, UINT32);
  static EFI_STATUS EFIAPI CloseProtocol(EFI_HANDLE, const EFI_GUID *, EFI_HANDLE, EFI_HANDLE);
  static EFI_STATUS EFIAPI ProtocolsPerHandle(EFI_HANDLE, EFI_GUID ***, UINTN *);
  static EFI_STATUS EFIAPI InstallMultipleProtocolInterfaces(EFI_HANDLE *, ...);
  static EFI_STATUS EFIAPI UninstallMultipleProtocolInterfaces(EFI_HANDLE, ...);
  static EFI_STATUS EFIAPI InstallConfigurationTable(const EFI_GUID *, VOID *);
  static Handle *Valid(EFI_HANDLE);
  static std::vector<Handle *> Matching(EFI_LOCATE_SEARCH_TYPE, const EFI_GUID *, VOID *, EFI_STATUS *);

  // variables.cpp
  static EFI_STATUS EFIAPI GetVariable(const CHAR16 *, const EFI_GUID *, UINT32 *, UINTN *, VOID *);
  static EFI_STATUS EFIAPI GetNextVariableName(UINTN *, CHAR16 *, EFI_GUID *);
  static EFI_STATUS EFIAPI SetVariable(const CHAR16 *, const EFI_GUID *, UINT32, UINTN, const VOID *);
  static EFI_STATUS EFIAPI ConvertPointer(UINTN, VOID **);
  static EFI_STATUS EFIAPI GetTime(EFI_TIME *, VOID *);
  static EFI_STATUS EFIAPI SetTime(EFI_TIME *);

  // console.cpp
  static EFI_STATUS EFIAPI ConReset(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *, BOOLEAN);
  static EFI_STATUS EFIAPI OutputString(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *, CHAR16 *);
  static EFI_STATUS EFIAPI TestString(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *, CHAR16 *);
  static EFI_STATUS EFIAPI QueryMode(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *, UINTN, UINTN *, UINTN *);
  static EFI_STATUS EFIAPI SetMode(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *, UINTN);
  static EFI_STATUS EFIAPI SetAttribute(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *, UINTN);
  static EFI_STATUS EFIAPI ClearScreen(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *);
  static EFI_STATUS EFIAPI SetCursorPosition(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *, UINTN, UINTN);
  static EFI_STATUS EFIAPI EnableCursor(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *, BOOLEAN);
  static EFI_STATUS EFIAPI InReset(EFI_SIMPLE_TEXT_INPUT_PROTOCOL *, BOOLEAN);
  static EFI_STATUS EFIAPI ReadKeyStroke(EFI_SIMPLE_TEXT_INPUT_PROTOCOL *, EFI_INPUT_KEY *);
  static VOID EFIAPI WaitForKeyNotify(EFI_EVENT, VOID *);

  // platform.cpp
  static EFI_STATUS EFIAPI Unsupported0();
  static VOID EFIAPI CopyMem(VOID *, const VOID *, UINTN);
  static VOID EFIAPI SetMem(VOID *, UINTN, UINT8);
  static EFI_STATUS EFIAPI CalculateCrc32(VOID *, UINTN, UINT32 *);
  static EFI_STATUS EFIAPI GetNextMonotonicCount(UINT64 *);
  static EFI_STATUS EFIAPI SetWatchdogTimer(UINTN, UINT64, UINTN, CHAR16 *);
};

}  // namespace fake
