// SPDX-License-Identifier: BSD-2-Clause-Patent
// A fake UEFI firmware for host tests: a real EFI_SYSTEM_TABLE whose services
// run in the test process with the Microsoft calling convention. One Platform
// is current at a time; the services find it through Platform::Current().
#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "efi/efi.h"

namespace fake {

std::u16string U16(const char *ascii);
std::string Narrow(const CHAR16 *s);  // UTF-16 to ASCII, '?' for the rest

struct Event;   // behind EFI_EVENT
struct Handle;  // behind EFI_HANDLE

struct Allocation {
  size_t size;
  EFI_MEMORY_TYPE type;
  bool pages;
};

// One line per console call, for tests that count or order console work.
struct ConsoleCall {
  std::string name;     // "OutputString", "SetAttribute", ...
  std::u16string text;  // OutputString's text
  UINTN a = 0, b = 0;   // arguments of the other calls
};

class Platform {
 public:
  Platform();
  ~Platform();
  Platform(const Platform &) = delete;
  Platform &operator=(const Platform &) = delete;
  static Platform *Current();

  EFI_SYSTEM_TABLE *SystemTable() { return &st_; }
  EFI_BOOT_SERVICES *BootServices() { return &bs_; }
  EFI_RUNTIME_SERVICES *RuntimeServices() { return &rt_; }

  // ---- Pool and pages ----
  // Every allocation is tracked; guard bytes around pool blocks catch overruns
  // (reported as test failures at FreePool and at teardown).
  size_t LivePoolCount() const;
  size_t LivePageCount() const;  // allocations, not pages
  size_t LiveBytes() const;
  const std::map<void *, Allocation> &Allocations() const { return allocs_; }
  uint64_t AllocationCount() const { return alloc_count_; }  // all so far
  // The Nth allocation from now (pool or pages, 1 = the next) fails with
  // EFI_OUT_OF_RESOURCES; 0 disarms. FailAllAllocations fails every one.
  void FailAllocation(uint64_t nth);
  void FailAllAllocations(bool on) { fail_all_ = on; }
  bool IsLive(const void *p) const { return allocs_.count(const_cast<void *>(p)) != 0; }
  EFI_MEMORY_TYPE TypeOf(const void *p) const;

  // ---- Images ----
  // A handle carrying a loaded image protocol, as the firmware gives a driver.
  EFI_HANDLE NewImageHandle();
  EFI_LOADED_IMAGE_PROTOCOL *LoadedImage(EFI_HANDLE image);

  // ---- Protocol database ----
  EFI_HANDLE NewHandle();  // an empty handle for the test's own use
  EFI_STATUS Install(EFI_HANDLE *handle, const EFI_GUID &guid, void *iface);
  EFI_STATUS Uninstall(EFI_HANDLE handle, const EFI_GUID &guid, void *iface);
  void *Find(const EFI_GUID &guid);  // first interface or null
  size_t HandleCount() const;
  // A failing status for every LocateProtocol of this GUID (0 restores).
  void FailLocate(const EFI_GUID &guid, EFI_STATUS status);

  // ---- Events, TPL and time ----
  EFI_TPL Tpl() const { return tpl_; }
  uint64_t Now100ns() const { return now_; }
  // Advances virtual time, signalling every timer that falls due on the way,
  // in deadline order; notifications run as the TPL allows.
  void Advance(uint64_t ns100);
  // Signals one timer event now, as if it fell due (its period is kept).
  void FireTimer(EFI_EVENT e);
  // Live timer events, armed or not.
  std::vector<EFI_EVENT> Timers() const;
  bool IsArmed(EFI_EVENT e) const;
  uint64_t PeriodOf(EFI_EVENT e) const;
  size_t LiveEventCount() const;
  bool IsLiveEvent(EFI_EVENT e) const;
  // Every event created in the given group, live ones only.
  std::vector<EFI_EVENT> GroupEvents(const EFI_GUID &group) const;
  void SignalGroup(const EFI_GUID &group);
  // Called by WaitForEvent whenever none of its events is signalled. Return
  // false to give up (WaitForEvent then fails the test and returns
  // EFI_DEVICE_ERROR). The default advances time to the next timer, and
  // gives up after 100,000 idle rounds or when nothing could ever happen.
  void OnIdle(std::function<bool()> fn) { idle_ = std::move(fn); }
  uint64_t IdleRounds() const { return idle_rounds_; }
  // Runs before every boot-services call (after the first N calls): a place
  // to inject a timer firing "between any two steps".
  void OnServiceCall(std::function<void()> fn) { service_hook_ = std::move(fn); }
  uint64_t StalledMicroseconds() const { return stalled_us_; }

  // ---- Variables ----
  void SetVar(const char *name, const EFI_GUID &guid, std::vector<uint8_t> data, UINT32 attrs = 7);
  bool HasVar(const char *name, const EFI_GUID &guid) const;
  std::vector<uint8_t> Var(const char *name, const EFI_GUID &guid) const;
  UINT32 VarAttributes(const char *name, const EFI_GUID &guid) const;
  void DeleteVar(const char *name, const EFI_GUID &guid);
  size_t VarCount() const { return vars_.size(); }
  // Status returned by every GetVariable / SetVariable (0 restores).
  void FailGetVariable(EFI_STATUS s) { fail_getvar_ = s; }
  void FailSetVariable(EFI_STATUS s) { fail_setvar_ = s; }
  uint64_t SetVariableCalls() const { return setvar_calls_; }
  uint64_t GetVariableCalls() const { return getvar_calls_; }
  // ConvertPointer adds this offset to each pointer it is given.
  void SetVirtualOffset(int64_t off) { virt_offset_ = off; }
  std::vector<void *> ConvertedPointers() const { return converted_; }

  // ---- Console ----
  struct Cell {
    char16_t ch = u' ';
    uint8_t attr = 0x07;
  };
  // Text modes offered by QueryMode, mode 0 first (default 80x25 and 100x31).
  void SetTextModes(std::vector<std::pair<UINTN, UINTN>> modes);
  UINTN Columns() const;
  UINTN Rows() const;
  const Cell &At(UINTN col, UINTN row) const;
  std::u16string RowText(UINTN row) const;
  std::string RowAscii(UINTN row) const;
  SIMPLE_TEXT_OUTPUT_MODE *ConsoleMode() { return &con_mode_; }
  const std::vector<ConsoleCall> &ConsoleLog() const { return con_log_; }
  void ClearConsoleLog() { con_log_.clear(); }
  uint64_t CharactersWritten() const { return chars_written_; }
  uint64_t Scrolls() const { return scrolls_; }  // a write past the last cell
  std::string ConsoleTranscript() const;         // every OutputString, concatenated

  // ---- Keys ----
  void PushKey(UINT16 scan, CHAR16 ch = 0);
  void PushChar(CHAR16 ch) { PushKey(0, ch); }
  size_t PendingKeys() const { return keys_.size(); }

  // ---- Time of day ----
  void SetTime(const EFI_TIME &t) { time_ = t; }

  // ---- Configuration table ----
  void AddConfigTable(const EFI_GUID &guid, void *table);

  // ---- internal: service implementations reach these ----
  struct Impl;
  friend struct Impl;

 private:
  void Dispatch(EFI_TPL above);
  void SignalEv(Event *ev);
  void CheckGuards(void *p, const Allocation &a, const char *where) const;
  void WriteChar(char16_t ch);

  EFI_SYSTEM_TABLE st_{};
  EFI_BOOT_SERVICES bs_{};
  EFI_RUNTIME_SERVICES rt_{};
  EFI_SIMPLE_TEXT_INPUT_PROTOCOL conin_{};
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL conout_{};
  SIMPLE_TEXT_OUTPUT_MODE con_mode_{};
  EFI_HANDLE con_handle_ = nullptr;

  std::map<void *, Allocation> allocs_;
  uint64_t alloc_count_ = 0, fail_nth_ = 0;
  bool fail_all_ = false;

  std::vector<std::unique_ptr<Handle>> handles_;
  std::map<std::string, EFI_STATUS> fail_locate_;
  std::vector<std::unique_ptr<EFI_LOADED_IMAGE_PROTOCOL>> images_;

  std::vector<std::unique_ptr<Event>> events_;
  EFI_TPL tpl_ = TPL_APPLICATION;
  uint64_t now_ = 0, idle_rounds_ = 0, stalled_us_ = 0, service_calls_ = 0;
  bool in_dispatch_ = false, in_service_hook_ = false;
  std::function<bool()> idle_;
  std::function<void()> service_hook_;

  struct VarKey {
    std::u16string name;
    std::string guid;
    bool operator<(const VarKey &o) const { return name != o.name ? name < o.name : guid < o.guid; }
  };
  struct VarVal {
    UINT32 attrs;
    std::vector<uint8_t> data;
  };
  std::map<VarKey, VarVal> vars_;
  EFI_STATUS fail_getvar_ = 0, fail_setvar_ = 0;
  uint64_t setvar_calls_ = 0, getvar_calls_ = 0;
  int64_t virt_offset_ = 0;
  std::vector<void *> converted_;

  std::vector<std::pair<UINTN, UINTN>> modes_;
  std::vector<Cell> grid_;
  std::vector<ConsoleCall> con_log_;
  uint64_t chars_written_ = 0, scrolls_ = 0;
  std::deque<EFI_INPUT_KEY> keys_;
  EFI_EVENT wait_for_key_ = nullptr;

  EFI_TIME time_{2024, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0};
  std::vector<EFI_CONFIGURATION_TABLE> config_;

  static Platform *current_;
};

std::string GuidKey(const EFI_GUID &g);
// Sets the status a protocol's lookups fail with; EFI_SUCCESS clears it.
void SetLocateFailure(std::map<std::string, EFI_STATUS> &failures, const EFI_GUID &guid, EFI_STATUS status);

}  // namespace fake
