// SPDX-License-Identifier: BSD-2-Clause-Patent
// The protocol database: handles, interfaces, lookups and install notifications.
#include <cstring>

#include "impl.h"

namespace fake {

Handle *Platform::Impl::Valid(EFI_HANDLE h) {
  for (auto &x : P().handles_)
    if (ToHandle(x.get()) == h) return x->alive ? x.get() : nullptr;
  return nullptr;
}

static void *FindOn(Handle *h, const EFI_GUID &g) {
  for (auto &[guid, iface] : h->protocols)
    if (GuidEqual(guid, g)) return iface;
  return nullptr;
}

static bool HasOn(Handle *h, const EFI_GUID &g) {
  for (auto &pr : h->protocols)
    if (GuidEqual(pr.first, g)) return true;
  return false;
}

static void NotifyInstalled(Handle *h, const EFI_GUID &g) {
  for (auto &r : Platform::Impl::registrations)
    if (GuidEqual(r->guid, g)) {
      r->fresh.push_back(h);
      if (r->event) Platform::Impl::SignalEvent(ToEvent(r->event));
    }
}

EFI_STATUS EFIAPI Platform::Impl::InstallProtocolInterface(EFI_HANDLE *handle, const EFI_GUID *guid, EFI_INTERFACE_TYPE type, VOID *iface) {
  Hook();
  if (!handle || !guid || type != EFI_NATIVE_INTERFACE) return EFI_INVALID_PARAMETER;
  Platform &p = P();
  Handle *h;
  if (*handle) {
    h = Valid(*handle);
    if (!h) return EFI_INVALID_PARAMETER;
    if (HasOn(h, *guid)) return EFI_INVALID_PARAMETER;
  } else {
    *handle = p.NewHandle();
    h = H(*handle);
  }
  h->protocols.push_back({*guid, iface});
  NotifyInstalled(h, *guid);
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI Platform::Impl::ReinstallProtocolInterface(EFI_HANDLE handle, const EFI_GUID *guid, VOID *old_iface, VOID *new_iface) {
  Hook();
  Handle *h = Valid(handle);
  if (!h || !guid) return EFI_INVALID_PARAMETER;
  for (auto &pr : h->protocols)
    if (GuidEqual(pr.first, *guid) && pr.second == old_iface) {
      pr.second = new_iface;
      NotifyInstalled(h, *guid);
      return EFI_SUCCESS;
    }
  return EFI_NOT_FOUND;
}

EFI_STATUS EFIAPI Platform::Impl::UninstallProtocolInterface(EFI_HANDLE handle, const EFI_GUID *guid, VOID *iface) {
  Hook();
  Handle *h = Valid(handle);
  if (!h || !guid) return EFI_INVALID_PARAMETER;
  for (auto it = h->protocols.begin(); it != h->protocols.end(); ++it)
    if (GuidEqual(it->first, *guid) && it->second == iface) {
      h->protocols.erase(it);
      h->opens.erase(GuidKey(*guid));
      if (h->protocols.empty()) h->alive = false;
      return EFI_SUCCESS;
    }
  return EFI_NOT_FOUND;
}

EFI_STATUS EFIAPI Platform::Impl::HandleProtocol(EFI_HANDLE handle, const EFI_GUID *guid, VOID **iface) {
  return OpenProtocol(handle, guid, iface, nullptr, nullptr, EFI_OPEN_PROTOCOL_BY_HANDLE_PROTOCOL);
}

EFI_STATUS EFIAPI Platform::Impl::OpenProtocol(EFI_HANDLE handle, const EFI_GUID *guid, VOID **iface, EFI_HANDLE agent,
                                               EFI_HANDLE controller, UINT32 attrs) {
  Hook();
  if (!guid) return EFI_INVALID_PARAMETER;
  if (attrs != EFI_OPEN_PROTOCOL_TEST_PROTOCOL && !iface) return EFI_INVALID_PARAMETER;
  Handle *h = Valid(handle);
  if (!h) return EFI_INVALID_PARAMETER;
  if (iface && attrs != EFI_OPEN_PROTOCOL_TEST_PROTOCOL) *iface = nullptr;
  if (!HasOn(h, *guid)) return EFI_UNSUPPORTED;
  if (attrs == EFI_OPEN_PROTOCOL_TEST_PROTOCOL) return EFI_SUCCESS;
  *iface = FindOn(h, *guid);
  if (attrs & (EFI_OPEN_PROTOCOL_BY_DRIVER | EFI_OPEN_PROTOCOL_EXCLUSIVE | EFI_OPEN_PROTOCOL_BY_CHILD_CONTROLLER)) {
    if (!agent) return EFI_INVALID_PARAMETER;
    h->opens[GuidKey(*guid)]++;
  }
  (void)controller;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI Platform::Impl::CloseProtocol(EFI_HANDLE handle, const EFI_GUID *guid, EFI_HANDLE agent, EFI_HANDLE) {
  Hook();
  Handle *h = Valid(handle);
  if (!h || !guid || !agent) return EFI_INVALID_PARAMETER;
  auto it = h->opens.find(GuidKey(*guid));
  if (it == h->opens.end() || it->second == 0) return EFI_NOT_FOUND;
  it->second--;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI Platform::Impl::RegisterProtocolNotify(const EFI_GUID *guid, EFI_EVENT event, VOID **registration) {
  Hook();
  if (!guid || !registration) return EFI_INVALID_PARAMETER;
  Event *ev = Live(event, "RegisterProtocolNotify");
  if (!ev) return EFI_INVALID_PARAMETER;
  auto r = std::make_unique<Registration>();
  r->guid = *guid;
  r->event = ev;
  *registration = r.get();
  registrations.push_back(std::move(r));
  return EFI_SUCCESS;
}

static Registration *FindRegistration(void *key) {
  for (auto &r : Platform::Impl::registrations)
    if (r.get() == key) return r.get();
  return nullptr;
}

std::vector<Handle *> Platform::Impl::Matching(EFI_LOCATE_SEARCH_TYPE type, const EFI_GUID *guid, VOID *key, EFI_STATUS *status) {
  std::vector<Handle *> out;
  *status = EFI_SUCCESS;
  switch (type) {
    case AllHandles:
      for (auto &h : P().handles_)
        if (h->alive) out.push_back(h.get());
      break;
    case ByProtocol:
      if (!guid) {
        *status = EFI_INVALID_PARAMETER;
        return out;
      }
      for (auto &h : P().handles_)
        if (h->alive && HasOn(h.get(), *guid)) out.push_back(h.get());
      break;
    case ByRegisterNotify: {
      Registration *r = FindRegistration(key);
      if (!r) {
        *status = EFI_INVALID_PARAMETER;
        return out;
      }
      while (!r->fresh.empty()) {  // one handle per call, as the standard says
        Handle *h = r->fresh.front();
        r->fresh.pop_front();
        if (h->alive && HasOn(h, r->guid)) {
          out.push_back(h);
          break;
        }
      }
      break;
    }
    default:
      *status = EFI_INVALID_PARAMETER;
      return out;
  }
  if (out.empty()) *status = EFI_NOT_FOUND;
  return out;
}

EFI_STATUS EFIAPI Platform::Impl::LocateHandle(EFI_LOCATE_SEARCH_TYPE type, const EFI_GUID *guid, VOID *key, UINTN *size,
                                               EFI_HANDLE *buffer) {
  Hook();
  if (!size) return EFI_INVALID_PARAMETER;
  EFI_STATUS s;
  auto hs = Matching(type, guid, key, &s);
  if (s) return s;
  UINTN need = hs.size() * sizeof(EFI_HANDLE);
  if (*size < need) {
    *size = need;
    return EFI_BUFFER_TOO_SMALL;
  }
  if (!buffer) return EFI_INVALID_PARAMETER;
  for (size_t i = 0; i < hs.size(); i++) buffer[i] = ToHandle(hs[i]);
  *size = need;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI Platform::Impl::LocateHandleBuffer(EFI_LOCATE_SEARCH_TYPE type, const EFI_GUID *guid, VOID *key, UINTN *count,
                                                     EFI_HANDLE **buffer) {
  Hook();
  if (!count || !buffer) return EFI_INVALID_PARAMETER;
  *count = 0;
  *buffer = nullptr;
  EFI_STATUS s;
  auto hs = Matching(type, guid, key, &s);
  if (s) return s;
  VOID *mem;
  s = AllocatePool(EfiBootServicesData, hs.size() * sizeof(EFI_HANDLE), &mem);
  if (s) return s;
  EFI_HANDLE *out = static_cast<EFI_HANDLE *>(mem);
  for (size_t i = 0; i < hs.size(); i++) out[i] = ToHandle(hs[i]);
  *buffer = out;
  *count = hs.size();
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI Platform::Impl::LocateProtocol(const EFI_GUID *guid, VOID *registration, VOID **iface) {
  Hook();
  if (!guid || !iface) return EFI_INVALID_PARAMETER;
  *iface = nullptr;
  Platform &p = P();
  auto f = p.fail_locate_.find(GuidKey(*guid));
  if (f != p.fail_locate_.end()) return f->second;
  if (registration) {
    EFI_STATUS s;
    auto hs = Matching(ByRegisterNotify, guid, registration, &s);
    if (s) return s;
    *iface = FindOn(hs[0], *guid);
    return EFI_SUCCESS;
  }
  for (auto &h : p.handles_)
    if (h->alive && HasOn(h.get(), *guid)) {
      *iface = FindOn(h.get(), *guid);
      return EFI_SUCCESS;
    }
  return EFI_NOT_FOUND;
}

EFI_STATUS EFIAPI Platform::Impl::ProtocolsPerHandle(EFI_HANDLE handle, EFI_GUID ***guids, UINTN *count) {
  Hook();
  Handle *h = Valid(handle);
  if (!h || !guids || !count) return EFI_INVALID_PARAMETER;
  VOID *mem;
  EFI_STATUS s = AllocatePool(EfiBootServicesData, h->protocols.size() * sizeof(EFI_GUID *), &mem);
  if (s) return s;
  EFI_GUID **out = static_cast<EFI_GUID **>(mem);
  for (size_t i = 0; i < h->protocols.size(); i++) out[i] = &h->protocols[i].first;
  *guids = out;
  *count = h->protocols.size();
  return EFI_SUCCESS;
}

namespace {

// The (GUID, interface) pairs of a variadic call, up to its null GUID.
std::vector<std::pair<const EFI_GUID *, void *>> GuidPairs(EFI_VA_LIST &ap) {
  std::vector<std::pair<const EFI_GUID *, void *>> pairs;
  for (;;) {
    const EFI_GUID *g = EFI_VA_ARG(ap, const EFI_GUID *);
    if (!g) break;
    pairs.push_back({g, EFI_VA_ARG(ap, void *)});
  }
  return pairs;
}

}  // namespace

EFI_STATUS EFIAPI Platform::Impl::InstallMultipleProtocolInterfaces(EFI_HANDLE *handle, ...) {
  if (!handle) return EFI_INVALID_PARAMETER;
  EFI_VA_LIST ap;
  EFI_VA_START(ap, handle);
  std::vector<std::pair<const EFI_GUID *, void *>> pairs = GuidPairs(ap);
  EFI_VA_END(ap);
  EFI_HANDLE original = *handle;
  for (size_t i = 0; i < pairs.size(); i++) {
    EFI_STATUS s = InstallProtocolInterface(handle, pairs[i].first, EFI_NATIVE_INTERFACE, pairs[i].second);
    if (s) {
      for (size_t j = 0; j < i; j++) UninstallProtocolInterface(*handle, pairs[j].first, pairs[j].second);
      *handle = original;
      return s;
    }
  }
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI Platform::Impl::UninstallMultipleProtocolInterfaces(EFI_HANDLE handle, ...) {
  EFI_VA_LIST ap;
  EFI_VA_START(ap, handle);
  std::vector<std::pair<const EFI_GUID *, void *>> pairs = GuidPairs(ap);
  EFI_VA_END(ap);
  for (size_t i = 0; i < pairs.size(); i++) {
    EFI_STATUS s = UninstallProtocolInterface(handle, pairs[i].first, pairs[i].second);
    if (s) {
      for (size_t j = 0; j < i; j++) InstallProtocolInterface(&handle, pairs[j].first, EFI_NATIVE_INTERFACE, pairs[j].second);
      return EFI_INVALID_PARAMETER;
    }
  }
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI Platform::Impl::InstallConfigurationTable(const EFI_GUID *guid, VOID *table) {
  Hook();
  if (!guid) return EFI_INVALID_PARAMETER;
  Platform &p = P();
  for (auto it = p.config_.begin(); it != p.config_.end(); ++it)
    if (GuidEqual(it->VendorGuid, *guid)) {
      if (table)
        it->VendorTable = table;
      else
        p.config_.erase(it);
      p.st_.NumberOfTableEntries = p.config_.size();
      p.st_.ConfigurationTable = p.config_.empty() ? nullptr : p.config_.data();
      return EFI_SUCCESS;
    }
  if (!table) return EFI_NOT_FOUND;
  p.config_.push_back({*guid, table});
  p.st_.NumberOfTableEntries = p.config_.size();
  p.st_.ConfigurationTable = p.config_.data();
  return EFI_SUCCESS;
}

// ---- test-side helpers ----

EFI_STATUS Platform::Install(EFI_HANDLE *handle, const EFI_GUID &guid, void *iface) {
  return Impl::InstallProtocolInterface(handle, &guid, EFI_NATIVE_INTERFACE, iface);
}

EFI_STATUS Platform::Uninstall(EFI_HANDLE handle, const EFI_GUID &guid, void *iface) {
  return Impl::UninstallProtocolInterface(handle, &guid, iface);
}

void *Platform::Find(const EFI_GUID &guid) {
  for (auto &h : handles_)
    if (h->alive)
      if (void *i = FindOn(h.get(), guid)) return i;
  return nullptr;
}

size_t Platform::HandleCount() const {
  size_t n = 0;
  for (auto &h : handles_) n += h->alive;
  return n;
}

void Platform::FailLocate(const EFI_GUID &guid, EFI_STATUS status) { SetLocateFailure(fail_locate_, guid, status); }

}  // namespace fake
