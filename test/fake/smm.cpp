// SPDX-License-Identifier: BSD-2-Clause-Patent
// The fake SMM system table's services. They run in the test process with the
// Microsoft calling convention and find their state through Smm::Current().
#include "test/fake/smm.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace fake {

namespace {

constexpr EFI_GUID kBase2Guid = EFI_SMM_BASE2_PROTOCOL_GUID;
constexpr size_t kGuard = 32;  // bytes of pattern before and after each pool block
constexpr uint8_t kGuardByte = 0xA5;
constexpr uint64_t kSmstSignature = 0x54534D53ULL;  // "SMST"

}  // namespace

Smm *Smm::current_ = nullptr;

Smm *Smm::Current() { return current_; }
const EFI_GUID &Smm::Base2Guid() { return kBase2Guid; }

struct Smm::Impl {
  static Smm &S() {
    Smm *s = Smm::Current();
    if (!s) {
      ADD_FAILURE() << "SMM service called with no fake::Smm alive";
      abort();
    }
    return *s;
  }

  // ---- SMM Base2 ----
  static EFI_STATUS EFIAPI InSmm(const EFI_SMM_BASE2_PROTOCOL *, BOOLEAN *in_smram) {
    if (!in_smram) return EFI_INVALID_PARAMETER;
    *in_smram = S().in_smm_ ? 1 : 0;
    return EFI_SUCCESS;
  }
  static EFI_STATUS EFIAPI GetSmstLocation(const EFI_SMM_BASE2_PROTOCOL *, EFI_SMM_SYSTEM_TABLE2 **smst) {
    Smm &s = S();
    s.get_smst_calls_++;
    if (!smst) return EFI_INVALID_PARAMETER;
    if (s.fail_get_smst_) return s.fail_get_smst_;
    if (!s.in_smm_) return EFI_UNSUPPORTED;
    *smst = &s.smst_;
    return EFI_SUCCESS;
  }

  // ---- Pool and pages ----
  static EFI_STATUS EFIAPI AllocatePool(EFI_MEMORY_TYPE type, UINTN size, VOID **buffer) {
    if (!buffer) return EFI_INVALID_PARAMETER;
    Smm &s = S();
    if (s.ShouldFail()) return EFI_OUT_OF_RESOURCES;
    *buffer = s.AllocateBlock(size, false, type);
    return EFI_SUCCESS;
  }
  static EFI_STATUS EFIAPI FreePool(VOID *buffer) {
    if (!S().FreeBlock(buffer, false)) {
      ADD_FAILURE() << "SmmFreePool of " << buffer << ", which is not a live SMRAM pool block";
      return EFI_INVALID_PARAMETER;
    }
    return EFI_SUCCESS;
  }
  static EFI_STATUS EFIAPI AllocatePages(EFI_ALLOCATE_TYPE type, EFI_MEMORY_TYPE mem, UINTN pages, EFI_PHYSICAL_ADDRESS *memory) {
    if (!memory) return EFI_INVALID_PARAMETER;
    if (type != AllocateAnyPages) return EFI_UNSUPPORTED;  // the fake places pages where it likes
    size_t bytes;
    if (pages == 0 || __builtin_mul_overflow((size_t)pages, (size_t)4096, &bytes)) return EFI_INVALID_PARAMETER;
    Smm &s = S();
    if (s.ShouldFail()) return EFI_OUT_OF_RESOURCES;
    *memory = (EFI_PHYSICAL_ADDRESS)(uintptr_t)s.AllocateBlock(bytes, true, mem);
    return EFI_SUCCESS;
  }
  static EFI_STATUS EFIAPI FreePages(EFI_PHYSICAL_ADDRESS memory, UINTN pages) {
    Smm &s = S();
    void *p = (void *)(uintptr_t)memory;
    auto it = s.allocs_.find(p);
    if (it == s.allocs_.end() || !it->second.pages || it->second.size != pages * 4096) {
      ADD_FAILURE() << "SmmFreePages of " << p << " (" << pages << " pages) that does not match a live allocation";
      return EFI_NOT_FOUND;
    }
    s.FreeBlock(p, true);
    return EFI_SUCCESS;
  }

  // ---- Protocol database ----
  static EFI_STATUS EFIAPI InstallProtocolInterface(EFI_HANDLE *handle, const EFI_GUID *guid, EFI_INTERFACE_TYPE type, VOID *iface) {
    if (!handle || !guid || type != EFI_NATIVE_INTERFACE) return EFI_INVALID_PARAMETER;
    return S().Install(handle, *guid, iface);
  }
  static EFI_STATUS EFIAPI UninstallProtocolInterface(EFI_HANDLE handle, const EFI_GUID *guid, VOID *iface) {
    if (!guid) return EFI_INVALID_PARAMETER;
    return S().Uninstall(handle, *guid, iface);
  }
  static EFI_STATUS EFIAPI HandleProtocol(EFI_HANDLE handle, const EFI_GUID *guid, VOID **iface) {
    if (!guid || !iface) return EFI_INVALID_PARAMETER;
    *iface = nullptr;
    SmmHandle *h = S().HandleOf(handle);
    if (!h) return EFI_INVALID_PARAMETER;
    for (auto &p : h->protocols)
      if (GuidEqual(p.first, *guid)) {
        *iface = p.second;
        return EFI_SUCCESS;
      }
    return EFI_UNSUPPORTED;
  }
  static EFI_STATUS EFIAPI RegisterProtocolNotify(const EFI_GUID *guid, EFI_SMM_NOTIFY_FN fn, VOID **registration) {
    if (!guid || !registration) return EFI_INVALID_PARAMETER;
    Smm &s = S();
    if (!fn) {  // a null function cancels the registration it names
      auto it = std::find_if(s.notifies_.begin(), s.notifies_.end(), [&](auto &n) { return n.get() == *registration; });
      if (it == s.notifies_.end() || !GuidEqual((*it)->guid, *guid)) return EFI_NOT_FOUND;
      s.notifies_.erase(it);
      return EFI_SUCCESS;
    }
    auto n = std::make_unique<Notify>();
    n->guid = *guid;
    n->fn = fn;
    *registration = n.get();
    s.notifies_.push_back(std::move(n));
    return EFI_SUCCESS;
  }
  static EFI_STATUS EFIAPI LocateHandle(EFI_LOCATE_SEARCH_TYPE type, const EFI_GUID *guid, VOID *, UINTN *size, EFI_HANDLE *buffer) {
    if (!size) return EFI_INVALID_PARAMETER;
    if (type != AllHandles && type != ByProtocol) return EFI_UNSUPPORTED;
    if (type == ByProtocol && !guid) return EFI_INVALID_PARAMETER;
    std::vector<EFI_HANDLE> found;
    for (auto &h : S().handles_) {
      bool match = type == AllHandles;
      for (auto &p : h->protocols) match = match || GuidEqual(p.first, *guid);
      if (match) found.push_back(reinterpret_cast<EFI_HANDLE>(h.get()));
    }
    if (found.empty()) return EFI_NOT_FOUND;
    UINTN need = found.size() * sizeof(EFI_HANDLE);
    if (*size < need) {
      *size = need;
      return EFI_BUFFER_TOO_SMALL;
    }
    if (!buffer) return EFI_INVALID_PARAMETER;
    *size = need;
    std::memcpy(buffer, found.data(), need);
    return EFI_SUCCESS;
  }
  static EFI_STATUS EFIAPI LocateProtocol(const EFI_GUID *guid, VOID *registration, VOID **iface) {
    if (!iface || !guid) return EFI_INVALID_PARAMETER;
    *iface = nullptr;
    Smm &s = S();
    s.locate_calls_[GuidKey(*guid)]++;
    s.locate_calls_total_++;
    auto f = s.fail_locate_.find(GuidKey(*guid));
    if (f != s.fail_locate_.end()) return f->second;
    if (registration) {  // the next install since the registration, as PI describes
      auto it = std::find_if(s.notifies_.begin(), s.notifies_.end(), [&](auto &n) { return n.get() == registration; });
      if (it == s.notifies_.end() || (*it)->pending.empty()) return EFI_NOT_FOUND;
      *iface = (*it)->pending.front().second;
      (*it)->pending.erase((*it)->pending.begin());
      return EFI_SUCCESS;
    }
    void *found = s.Find(*guid);
    if (!found) {
      for (auto &h : s.handles_)
        for (auto &p : h->protocols)
          if (GuidEqual(p.first, *guid)) return EFI_SUCCESS;  // installed with a null interface
      return EFI_NOT_FOUND;
    }
    *iface = found;
    return EFI_SUCCESS;
  }

  // ---- SMI handlers ----
  static EFI_STATUS EFIAPI HandlerRegister(EFI_SMM_HANDLER_ENTRY_POINT2 handler, const EFI_GUID *type, EFI_HANDLE *dispatch) {
    Smm &s = S();
    s.register_calls_++;
    if (!handler || !dispatch) return EFI_INVALID_PARAMETER;
    if (s.fail_register_) return s.fail_register_;
    s.dispatch_tokens_.push_back(std::make_unique<char>());
    SmiHandlerRecord r{};
    r.handler = handler;
    r.root = type == nullptr;
    if (type) r.type = *type;
    r.dispatch = reinterpret_cast<EFI_HANDLE>(s.dispatch_tokens_.back().get());
    s.handlers_.push_back(r);
    *dispatch = r.dispatch;
    return EFI_SUCCESS;
  }
  static EFI_STATUS EFIAPI HandlerUnRegister(EFI_HANDLE dispatch) {
    Smm &s = S();
    auto it = std::find_if(s.handlers_.begin(), s.handlers_.end(), [&](auto &r) { return r.dispatch == dispatch; });
    if (it == s.handlers_.end()) return EFI_INVALID_PARAMETER;
    s.handlers_.erase(it);
    return EFI_SUCCESS;
  }
  static EFI_STATUS EFIAPI Manage(const EFI_GUID *type, const VOID *context, VOID *buffer, UINTN *size) {
    if (!type) return EFI_UNSUPPORTED;  // root handlers are not modelled
    return S().Dispatch(*type, buffer, size, context);
  }

  // ---- The rest: present so that a stray call fails the test instead of crashing ----
  static EFI_STATUS EFIAPI InstallConfigurationTable(const EFI_SMM_SYSTEM_TABLE2 *, const EFI_GUID *guid, VOID *table, UINTN) {
    if (!guid) return EFI_INVALID_PARAMETER;
    Smm &s = S();
    auto it = std::find_if(s.config_.begin(), s.config_.end(), [&](auto &c) { return GuidEqual(c.VendorGuid, *guid); });
    if (!table) {
      if (it == s.config_.end()) return EFI_NOT_FOUND;
      s.config_.erase(it);
    } else if (it != s.config_.end()) {
      it->VendorTable = table;
    } else {
      s.config_.push_back({*guid, table});
    }
    s.smst_.NumberOfTableEntries = s.config_.size();
    s.smst_.SmmConfigurationTable = s.config_.empty() ? nullptr : s.config_.data();
    return EFI_SUCCESS;
  }
  static EFI_STATUS EFIAPI StartupThisAp(VOID *, UINTN, VOID *) {
    ADD_FAILURE() << "SmmStartupThisAp is not modelled";
    return EFI_UNSUPPORTED;
  }
  static EFI_STATUS EFIAPI IoAccess(const VOID *, UINTN, UINT64, UINTN, VOID *) {
    ADD_FAILURE() << "SMM CPU I/O is not modelled; drivers reach hardware through hw.h";
    return EFI_UNSUPPORTED;
  }
};

Smm::Smm(Platform &platform, bool install_base2) : platform_(platform) {
  previous_ = current_;
  current_ = this;

  base2_.InSmm = Impl::InSmm;
  base2_.GetSmstLocation = Impl::GetSmstLocation;

  smst_.Hdr.Signature = kSmstSignature;
  smst_.Hdr.Revision = (1u << 16) | 70;
  smst_.Hdr.HeaderSize = sizeof(smst_);
  smst_.SmmFirmwareVendor = const_cast<CHAR16 *>(u"Fake SMM");
  smst_.SmmInstallConfigurationTable = Impl::InstallConfigurationTable;
  smst_.SmmIo.Mem.Read = smst_.SmmIo.Mem.Write = Impl::IoAccess;
  smst_.SmmIo.Io.Read = smst_.SmmIo.Io.Write = Impl::IoAccess;
  smst_.SmmAllocatePool = Impl::AllocatePool;
  smst_.SmmFreePool = Impl::FreePool;
  smst_.SmmAllocatePages = Impl::AllocatePages;
  smst_.SmmFreePages = Impl::FreePages;
  smst_.SmmStartupThisAp = Impl::StartupThisAp;
  smst_.CurrentlyExecutingCpu = 0;
  smst_.NumberOfCpus = 1;
  smst_.SmmInstallProtocolInterface = Impl::InstallProtocolInterface;
  smst_.SmmUninstallProtocolInterface = Impl::UninstallProtocolInterface;
  smst_.SmmHandleProtocol = Impl::HandleProtocol;
  smst_.SmmRegisterProtocolNotify = Impl::RegisterProtocolNotify;
  smst_.SmmLocateHandle = Impl::LocateHandle;
  smst_.SmmLocateProtocol = Impl::LocateProtocol;
  smst_.SmiManage = Impl::Manage;
  smst_.SmiHandlerRegister = Impl::HandlerRegister;
  smst_.SmiHandlerUnRegister = Impl::HandlerUnRegister;

  if (install_base2) {
    EFI_STATUS st = platform_.Install(&base2_handle_, kBase2Guid, &base2_);
    if (EFI_ERROR(st)) ADD_FAILURE() << "could not install SMM Base2 into the platform: " << std::hex << st;
  }
}

size_t Smm::FreeResident() {
  size_t n = allocs_.size();
  for (auto &a : allocs_) {
    CheckGuards(a.first, a.second, "FreeResident");
    if (a.second.pages)
      std::free(a.first);
    else
      std::free(static_cast<uint8_t *>(a.first) - kGuard);
  }
  allocs_.clear();
  return n;
}

Smm::~Smm() {
  if (base2_handle_) platform_.Uninstall(base2_handle_, kBase2Guid, &base2_);
  for (auto &a : allocs_) {
    CheckGuards(a.first, a.second, "teardown");
    ADD_FAILURE() << "leaked SMRAM " << (a.second.pages ? "pages" : "pool") << ": " << a.second.size << " bytes";
    if (a.second.pages)
      std::free(a.first);
    else
      std::free(static_cast<uint8_t *>(a.first) - kGuard);
  }
  current_ = previous_;
}

// ---- Protocol database ----

EFI_HANDLE Smm::NewHandle() {
  handles_.push_back(std::make_unique<SmmHandle>());
  return reinterpret_cast<EFI_HANDLE>(handles_.back().get());
}

Smm::SmmHandle *Smm::HandleOf(EFI_HANDLE h) const {
  for (auto &p : handles_)
    if (reinterpret_cast<EFI_HANDLE>(p.get()) == h) return p.get();
  return nullptr;
}

EFI_STATUS Smm::Install(EFI_HANDLE *handle, const EFI_GUID &guid, void *iface) {
  if (!handle) return EFI_INVALID_PARAMETER;
  SmmHandle *h = nullptr;
  if (*handle) {
    h = HandleOf(*handle);
    if (!h) return EFI_INVALID_PARAMETER;
    for (auto &p : h->protocols)
      if (GuidEqual(p.first, guid)) return EFI_INVALID_PARAMETER;  // already on this handle
  } else {
    *handle = NewHandle();
    h = HandleOf(*handle);
  }
  h->protocols.push_back({guid, iface});
  // Notifications run after the install is complete, as the SMM core does.
  std::vector<Notify *> due;
  for (auto &n : notifies_)
    if (GuidEqual(n->guid, guid)) due.push_back(n.get());
  for (Notify *n : due) {
    n->pending.push_back({*handle, iface});
    notifications_run_++;
    n->fn(&guid, iface, *handle);
  }
  return EFI_SUCCESS;
}

EFI_STATUS Smm::Uninstall(EFI_HANDLE handle, const EFI_GUID &guid, void *iface) {
  SmmHandle *h = HandleOf(handle);
  if (!h) return EFI_INVALID_PARAMETER;
  for (auto it = h->protocols.begin(); it != h->protocols.end(); ++it)
    if (GuidEqual(it->first, guid) && it->second == iface) {
      h->protocols.erase(it);
      for (auto &n : notifies_)
        n->pending.erase(std::remove_if(n->pending.begin(), n->pending.end(),
                                        [&](auto &p) { return p.first == handle && p.second == iface; }),
                         n->pending.end());
      return EFI_SUCCESS;
    }
  return EFI_NOT_FOUND;
}

void *Smm::Find(const EFI_GUID &guid) const {
  for (auto &h : handles_)
    for (auto &p : h->protocols)
      if (GuidEqual(p.first, guid) && p.second) return p.second;
  return nullptr;
}

void Smm::FailLocate(const EFI_GUID &guid, EFI_STATUS status) { SetLocateFailure(fail_locate_, guid, status); }

uint64_t Smm::LocateCalls(const EFI_GUID &guid) const {
  auto it = locate_calls_.find(GuidKey(guid));
  return it == locate_calls_.end() ? 0 : it->second;
}

size_t Smm::NotifyCount(const EFI_GUID &guid) const {
  return std::count_if(notifies_.begin(), notifies_.end(), [&](auto &n) { return GuidEqual(n->guid, guid); });
}

// ---- SMI handlers ----

size_t Smm::HandlerCount(const EFI_GUID &type) const {
  return std::count_if(handlers_.begin(), handlers_.end(), [&](auto &r) { return !r.root && GuidEqual(r.type, type); });
}

EFI_STATUS Smm::Dispatch(const EFI_GUID &type, void *comm_buffer, UINTN *comm_size, const void *context) {
  // Copy first: a handler may unregister itself while it runs.
  std::vector<SmiHandlerRecord> due;
  for (auto &r : handlers_)
    if (!r.root && GuidEqual(r.type, type)) due.push_back(r);
  if (due.empty()) {
    ADD_FAILURE() << "no SMI handler registered for " << GuidKey(type);
    return EFI_NOT_FOUND;
  }
  EFI_STATUS st = EFI_SUCCESS;
  for (auto &r : due) st = r.handler(r.dispatch, context, comm_buffer, comm_size);
  return st;
}

EFI_STATUS Smm::Communicate(const EFI_GUID &type, void *comm_buffer, UINTN *comm_size) {
  const EFI_STATUS st = Dispatch(type, comm_buffer, comm_size);
  switch (st) {
    case EFI_SUCCESS:
    case EFI_WARN_INTERRUPT_SOURCE_QUIESCED:
      return EFI_SUCCESS;
    case EFI_WARN_INTERRUPT_SOURCE_PENDING:
    case EFI_INTERRUPT_PENDING:
      return EFI_NOT_FOUND;
    default:
      ADD_FAILURE() << "SMI handler returned 0x" << std::hex << st << ", which an SMI handler may not return";
      return EFI_NOT_FOUND;
  }
}

// ---- SMRAM pool and pages ----

bool Smm::ShouldFail() {
  alloc_count_++;
  if (fail_nth_ == 0) return false;
  if (--fail_nth_ == 0) return true;
  return false;
}

void *Smm::AllocateBlock(size_t size, bool pages, EFI_MEMORY_TYPE type) {
  void *p;
  if (pages) {
    p = std::aligned_alloc(4096, size);
    std::memset(p, 0xCC, size);  // firmware memory is not zeroed; neither is this
  } else {
    uint8_t *raw = static_cast<uint8_t *>(std::malloc(size + 2 * kGuard));
    std::memset(raw, kGuardByte, kGuard);
    std::memset(raw + kGuard, 0xCC, size);
    std::memset(raw + kGuard + size, kGuardByte, kGuard);
    p = raw + kGuard;
  }
  allocs_[p] = Block{size, pages, type};
  return p;
}

bool Smm::FreeBlock(void *p, bool pages) {
  auto it = allocs_.find(p);
  if (it == allocs_.end() || it->second.pages != pages) return false;
  CheckGuards(p, it->second, pages ? "SmmFreePages" : "SmmFreePool");
  if (pages)
    std::free(p);
  else
    std::free(static_cast<uint8_t *>(p) - kGuard);
  allocs_.erase(it);
  return true;
}

void Smm::CheckGuards(void *p, const Block &b, const char *where) const {
  if (b.pages) return;
  const uint8_t *u = static_cast<const uint8_t *>(p);
  for (size_t i = 0; i < kGuard; i++) {
    if (u[-1 - (ptrdiff_t)i] != kGuardByte) {
      ADD_FAILURE() << where << ": SMRAM pool block " << p << " was written before its start";
      return;
    }
    if (u[b.size + i] != kGuardByte) {
      ADD_FAILURE() << where << ": SMRAM pool block " << p << " (" << b.size << " bytes) was written past its end";
      return;
    }
  }
}

size_t Smm::LivePoolCount() const {
  return std::count_if(allocs_.begin(), allocs_.end(), [](auto &a) { return !a.second.pages; });
}

size_t Smm::LivePageCount() const {
  return std::count_if(allocs_.begin(), allocs_.end(), [](auto &a) { return a.second.pages; });
}

}  // namespace fake
