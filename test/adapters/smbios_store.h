// A PI SMBIOS store for the adapter's tests and fuzz target: records in
// handle order, each kept as a copy up to its double zero, with a way to make
// the next Add fail.
#pragma once
#include <cstdint>
#include <vector>

#include "efi/smbios.h"

namespace adaptertest {

using Bytes = std::vector<uint8_t>;

struct Store {
  struct Rec {
    EFI_SMBIOS_HANDLE handle;
    EFI_HANDLE producer;
    Bytes bytes;
  };
  EFI_SMBIOS_PROTOCOL proto{};
  std::vector<Rec> recs;
  EFI_STATUS add_status = EFI_SUCCESS;  // the next Add's answer when not success
  int adds = 0, removes = 0;

  static Store *self;
  static Bytes Whole(const UINT8 *r) {
    size_t i = r[1];
    while (r[i] || r[i + 1]) i++;
    return Bytes(r, r + i + 2);
  }
  static EFI_STATUS EFIAPI Add(const EFI_SMBIOS_PROTOCOL *, EFI_HANDLE producer, EFI_SMBIOS_HANDLE *h, EFI_SMBIOS_TABLE_HEADER *r) {
    self->adds++;
    if (self->add_status != EFI_SUCCESS) {
      EFI_STATUS s = self->add_status;
      self->add_status = EFI_SUCCESS;
      return s;
    }
    for (auto &x : self->recs)
      if (x.handle == *h) return EFI_ALREADY_STARTED;
    Rec n{*h, producer, Whole(reinterpret_cast<UINT8 *>(r))};
    n.bytes[2] = static_cast<UINT8>(*h), n.bytes[3] = static_cast<UINT8>(*h >> 8);
    auto at = self->recs.begin();
    while (at != self->recs.end() && at->handle < *h) ++at;
    self->recs.insert(at, n);
    return EFI_SUCCESS;
  }
  static EFI_STATUS EFIAPI Remove(const EFI_SMBIOS_PROTOCOL *, EFI_SMBIOS_HANDLE h) {
    self->removes++;
    for (auto it = self->recs.begin(); it != self->recs.end(); ++it)
      if (it->handle == h) {
        self->recs.erase(it);
        return EFI_SUCCESS;
      }
    return EFI_INVALID_PARAMETER;
  }
  static EFI_STATUS EFIAPI GetNext(const EFI_SMBIOS_PROTOCOL *, EFI_SMBIOS_HANDLE *h, EFI_SMBIOS_TYPE *type, EFI_SMBIOS_TABLE_HEADER **r,
                                   EFI_HANDLE *producer) {
    bool past = *h == SMBIOS_HANDLE_PI_RESERVED;
    for (auto &x : self->recs) {
      if (past && (type == nullptr || x.bytes[0] == *type)) {
        *h = x.handle;
        *r = reinterpret_cast<EFI_SMBIOS_TABLE_HEADER *>(x.bytes.data());
        if (producer) *producer = x.producer;
        return EFI_SUCCESS;
      }
      if (x.handle == *h) past = true;
    }
    *h = SMBIOS_HANDLE_PI_RESERVED;
    return EFI_NOT_FOUND;
  }
  Store() {
    self = this;
    proto.Add = Add;
    proto.Remove = Remove;
    proto.GetNext = GetNext;
  }
  const Rec *Find(EFI_SMBIOS_HANDLE h) const {
    for (auto &x : recs)
      if (x.handle == h) return &x;
    return nullptr;
  }
};
inline Store *Store::self;

}  // namespace adaptertest
