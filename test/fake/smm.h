// A fake SMM environment for host tests: an SMM Base2 protocol installed in the
// current fake::Platform, and behind it a real EFI_SMM_SYSTEM_TABLE2 with its own
// protocol database, protocol notifications, SMI handler registry and SMRAM
// pool. One Smm is current at a time (Smm::Current()); create it after the
// Platform and let it die first, since it installs SMM Base2 into that Platform.
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "efi/efi.h"
#include "test/fake/fake.h"

namespace fake {

// One SmiHandlerRegister call that is still registered.
struct SmiHandlerRecord {
  EFI_SMM_HANDLER_ENTRY_POINT2 handler;
  EFI_GUID type;  // all zero for a root handler (HandlerType null)
  bool root;
  EFI_HANDLE dispatch;  // the handle given back to the registrant
};

class Smm {
 public:
  // Installs SMM Base2 into the platform's protocol database unless told not to.
  explicit Smm(Platform &platform, bool install_base2 = true);
  ~Smm();
  Smm(const Smm &) = delete;
  Smm &operator=(const Smm &) = delete;
  static Smm *Current();

  EFI_SMM_SYSTEM_TABLE2 *Table() { return &smst_; }
  EFI_SMM_BASE2_PROTOCOL *Base2() { return &base2_; }
  static const EFI_GUID &Base2Guid();

  // ---- SMM Base2 ----
  // Outside SMM, InSmm reports FALSE and GetSmstLocation fails with
  // EFI_UNSUPPORTED, as it does for a driver that the DXE dispatcher started.
  void SetInSmm(bool in_smm) { in_smm_ = in_smm; }
  // A failing status for every GetSmstLocation (0 restores).
  void FailGetSmstLocation(EFI_STATUS s) { fail_get_smst_ = s; }
  uint64_t GetSmstLocationCalls() const { return get_smst_calls_; }

  // ---- SMM protocol database ----
  EFI_HANDLE NewHandle();
  // Installs as SmmInstallProtocolInterface does, then runs the notifications
  // registered for the GUID.
  EFI_STATUS Install(EFI_HANDLE *handle, const EFI_GUID &guid, void *iface);
  EFI_STATUS Uninstall(EFI_HANDLE handle, const EFI_GUID &guid, void *iface);
  void *Find(const EFI_GUID &guid) const;  // first interface or null
  // A failing status for every SmmLocateProtocol of this GUID (0 restores).
  void FailLocate(const EFI_GUID &guid, EFI_STATUS status);
  uint64_t LocateCalls(const EFI_GUID &guid) const;
  uint64_t LocateCalls() const { return locate_calls_total_; }

  // ---- Protocol notifications ----
  size_t NotifyCount(const EFI_GUID &guid) const;  // live registrations
  uint64_t NotificationsRun() const { return notifications_run_; }

  // ---- SMI handlers ----
  const std::vector<SmiHandlerRecord> &Handlers() const { return handlers_; }
  size_t HandlerCount(const EFI_GUID &type) const;
  // The status of every later SmiHandlerRegister (0 restores); nothing is recorded.
  void FailHandlerRegister(EFI_STATUS s) { fail_register_ = s; }
  uint64_t HandlerRegisterCalls() const { return register_calls_; }
  // Runs every handler registered for the type, in registration order, as an
  // SMI carrying a communication buffer would. Returns the last handler's
  // status, or EFI_NOT_FOUND (with a test failure) when none is registered.
  EFI_STATUS Dispatch(const EFI_GUID &type, void *comm_buffer, UINTN *comm_size, const void *context = nullptr);
  // What the sender of a communication sees, as the firmware's SMM core
  // reports a handler's status: EFI_SUCCESS or EFI_WARN_INTERRUPT_SOURCE_QUIESCED
  // as success, the two pending statuses as EFI_NOT_FOUND. Any other status
  // fails the test, since a debug build of the core halts on it.
  EFI_STATUS Communicate(const EFI_GUID &type, void *comm_buffer, UINTN *comm_size);

  // ---- SMRAM pool and pages ----
  // Tracked with guard bytes like the platform's pool; overruns fail the test
  // at SmmFreePool and at teardown, and so does anything still allocated when
  // the Smm goes away.
  size_t LivePoolCount() const;
  size_t LivePageCount() const;  // allocations, not pages
  uint64_t AllocationCount() const { return alloc_count_; }
  // The Nth SMRAM allocation from now (1 = the next) fails with
  // EFI_OUT_OF_RESOURCES; 0 disarms.
  void FailAllocation(uint64_t nth) { fail_nth_ = nth; }
  bool IsLive(const void *p) const { return allocs_.count(const_cast<void *>(p)) != 0; }
  // Frees what a resident SMM driver keeps for the life of SMM, so that the
  // teardown's leak check covers everything else; returns how many it freed.
  size_t FreeResident();

  size_t ConfigTableCount() const { return config_.size(); }

  // ---- internal: the table's services reach these ----
  struct Impl;
  friend struct Impl;

 private:
  struct SmmHandle {
    std::vector<std::pair<EFI_GUID, void *>> protocols;
  };
  struct Notify {
    EFI_GUID guid;
    EFI_SMM_NOTIFY_FN fn;
    std::vector<std::pair<EFI_HANDLE, void *>> pending;  // installs not yet located through it
  };
  struct Block {
    size_t size;
    bool pages;
    EFI_MEMORY_TYPE type;
  };
  SmmHandle *HandleOf(EFI_HANDLE h) const;
  void CheckGuards(void *p, const Block &b, const char *where) const;
  void *AllocateBlock(size_t size, bool pages, EFI_MEMORY_TYPE type);
  bool FreeBlock(void *p, bool pages);
  bool ShouldFail();

  Platform &platform_;
  EFI_SMM_BASE2_PROTOCOL base2_{};
  EFI_SMM_SYSTEM_TABLE2 smst_{};
  EFI_HANDLE base2_handle_ = nullptr;
  bool in_smm_ = true;
  EFI_STATUS fail_get_smst_ = 0;
  uint64_t get_smst_calls_ = 0;

  std::vector<std::unique_ptr<SmmHandle>> handles_;
  std::map<std::string, EFI_STATUS> fail_locate_;
  std::map<std::string, uint64_t> locate_calls_;
  uint64_t locate_calls_total_ = 0;

  std::vector<std::unique_ptr<Notify>> notifies_;
  uint64_t notifications_run_ = 0;

  std::vector<SmiHandlerRecord> handlers_;
  std::vector<std::unique_ptr<char>> dispatch_tokens_;  // what dispatch handles point at
  EFI_STATUS fail_register_ = 0;
  uint64_t register_calls_ = 0;

  std::map<void *, Block> allocs_;
  uint64_t alloc_count_ = 0, fail_nth_ = 0;

  std::vector<EFI_CONFIGURATION_TABLE> config_;

  Smm *previous_ = nullptr;
  static Smm *current_;
};

}  // namespace fake
