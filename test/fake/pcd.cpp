// SPDX-License-Identifier: BSD-2-Clause-Patent
// The fake PCD protocols: every getter and setter of both protocols lands in
// the current FakePcd's token store and call log.
#include "test/fake/pcd.h"

#include <gtest/gtest.h>

namespace fake {

FakePcd *FakePcd::current_ = nullptr;

namespace {

FakePcd &Cur() {
  FakePcd *p = FakePcd::Current();
  if (p == nullptr) {
    ADD_FAILURE() << "PCD protocol called with no FakePcd alive";
    abort();
  }
  return *p;
}

constexpr uint64_t k8 = 0xFF, k16 = 0xFFFF, k32 = 0xFFFFFFFFULL, k64 = ~0ULL;

// Token-number protocol.
VOID EFIAPI SetSku(UINTN) {}
UINT8 EFIAPI Get8(UINTN t) { return (UINT8)Cur().Read("Get8", t, k8); }
UINT16 EFIAPI Get16(UINTN t) { return (UINT16)Cur().Read("Get16", t, k16); }
UINT32 EFIAPI Get32(UINTN t) { return (UINT32)Cur().Read("Get32", t, k32); }
UINT64 EFIAPI Get64(UINTN t) { return Cur().Read("Get64", t, k64); }
VOID *EFIAPI GetPtr(UINTN t) { return Cur().Ptr("GetPtr", t); }
BOOLEAN EFIAPI GetBool(UINTN t) { return Cur().Read("GetBool", t, k64) != 0; }
UINTN EFIAPI GetSize(UINTN t) { return Cur().Size("GetSize", t); }
UINT8 EFIAPI Get8Ex(const EFI_GUID *, UINTN t) { return (UINT8)Cur().Read("Get8Ex", t, k8); }
UINT16 EFIAPI Get16Ex(const EFI_GUID *, UINTN t) { return (UINT16)Cur().Read("Get16Ex", t, k16); }
UINT32 EFIAPI Get32Ex(const EFI_GUID *, UINTN t) { return (UINT32)Cur().Read("Get32Ex", t, k32); }
UINT64 EFIAPI Get64Ex(const EFI_GUID *, UINTN t) { return Cur().Read("Get64Ex", t, k64); }
VOID *EFIAPI GetPtrEx(const EFI_GUID *, UINTN t) { return Cur().Ptr("GetPtrEx", t); }
BOOLEAN EFIAPI GetBoolEx(const EFI_GUID *, UINTN t) { return Cur().Read("GetBoolEx", t, k64) != 0; }
UINTN EFIAPI GetSizeEx(const EFI_GUID *, UINTN t) { return Cur().Size("GetSizeEx", t); }
EFI_STATUS EFIAPI Set8(UINTN t, UINT8 v) { return Cur().Write("Set8", t, v); }
EFI_STATUS EFIAPI Set16(UINTN t, UINT16 v) { return Cur().Write("Set16", t, v); }
EFI_STATUS EFIAPI Set32(UINTN t, UINT32 v) { return Cur().Write("Set32", t, v); }
EFI_STATUS EFIAPI Set64(UINTN t, UINT64 v) { return Cur().Write("Set64", t, v); }
EFI_STATUS EFIAPI SetPtrFn(UINTN, UINTN *, VOID *) { return EFI_UNSUPPORTED; }
EFI_STATUS EFIAPI SetBool(UINTN t, BOOLEAN v) { return Cur().Write("SetBool", t, v ? 1 : 0); }
EFI_STATUS EFIAPI Set8Ex(const EFI_GUID *, UINTN t, UINT8 v) { return Cur().Write("Set8Ex", t, v); }
EFI_STATUS EFIAPI Set16Ex(const EFI_GUID *, UINTN t, UINT16 v) { return Cur().Write("Set16Ex", t, v); }
EFI_STATUS EFIAPI Set32Ex(const EFI_GUID *, UINTN t, UINT32 v) { return Cur().Write("Set32Ex", t, v); }
EFI_STATUS EFIAPI Set64Ex(const EFI_GUID *, UINTN t, UINT64 v) { return Cur().Write("Set64Ex", t, v); }
EFI_STATUS EFIAPI SetPtrEx(const EFI_GUID *, UINTN, UINTN *, VOID *) { return EFI_UNSUPPORTED; }
EFI_STATUS EFIAPI SetBoolEx(const EFI_GUID *, UINTN t, BOOLEAN v) { return Cur().Write("SetBoolEx", t, v ? 1 : 0); }

// PI protocol: every access names a token space; the store ignores it.
UINT8 EFIAPI PiGet8(const EFI_GUID *, UINTN t) { return (UINT8)Cur().Read("PiGet8", t, k8); }
UINT16 EFIAPI PiGet16(const EFI_GUID *, UINTN t) { return (UINT16)Cur().Read("PiGet16", t, k16); }
UINT32 EFIAPI PiGet32(const EFI_GUID *, UINTN t) { return (UINT32)Cur().Read("PiGet32", t, k32); }
UINT64 EFIAPI PiGet64(const EFI_GUID *, UINTN t) { return Cur().Read("PiGet64", t, k64); }
VOID *EFIAPI PiGetPtr(const EFI_GUID *, UINTN t) { return Cur().Ptr("PiGetPtr", t); }
BOOLEAN EFIAPI PiGetBool(const EFI_GUID *, UINTN t) { return Cur().Read("PiGetBool", t, k64) != 0; }
UINTN EFIAPI PiGetSize(const EFI_GUID *, UINTN t) { return Cur().Size("PiGetSize", t); }
EFI_STATUS EFIAPI PiSet8(const EFI_GUID *, UINTN t, UINT8 v) { return Cur().Write("PiSet8", t, v); }
EFI_STATUS EFIAPI PiSet16(const EFI_GUID *, UINTN t, UINT16 v) { return Cur().Write("PiSet16", t, v); }
EFI_STATUS EFIAPI PiSet32(const EFI_GUID *, UINTN t, UINT32 v) { return Cur().Write("PiSet32", t, v); }
EFI_STATUS EFIAPI PiSet64(const EFI_GUID *, UINTN t, UINT64 v) { return Cur().Write("PiSet64", t, v); }
EFI_STATUS EFIAPI PiSetPtr(const EFI_GUID *, UINTN, UINTN *, VOID *) { return EFI_UNSUPPORTED; }
EFI_STATUS EFIAPI PiSetBool(const EFI_GUID *, UINTN t, BOOLEAN v) { return Cur().Write("PiSetBool", t, v ? 1 : 0); }

const EFI_GUID kPcdGuid = PCD_PROTOCOL_GUID;
const EFI_GUID kPiPcdGuid = EFI_PCD_PROTOCOL_GUID;

}  // namespace

const EFI_GUID &FakePcd::PcdGuid() { return kPcdGuid; }
const EFI_GUID &FakePcd::PiPcdGuid() { return kPiPcdGuid; }
FakePcd *FakePcd::Current() { return current_; }

FakePcd::FakePcd(Platform &platform, bool install_pcd, bool install_pi_pcd) : platform_(platform) {
  pcd_ = PCD_PROTOCOL{SetSku,  Get8,     Get16,     Get32,     Get64,     GetPtr,  GetBool, GetSize, Get8Ex,   Get16Ex, Get32Ex,
                      Get64Ex, GetPtrEx, GetBoolEx, GetSizeEx, Set8,      Set16,   Set32,   Set64,   SetPtrFn, SetBool, Set8Ex,
                      Set16Ex, Set32Ex,  Set64Ex,   SetPtrEx,  SetBoolEx, nullptr, nullptr, nullptr, nullptr};
  pi_pcd_ = EFI_PCD_PROTOCOL{SetSku,  PiGet8,  PiGet16, PiGet32,  PiGet64,   PiGetPtr, PiGetBool, PiGetSize, PiSet8,
                             PiSet16, PiSet32, PiSet64, PiSetPtr, PiSetBool, nullptr,  nullptr,   nullptr,   nullptr};
  previous_ = current_;
  current_ = this;
  if (install_pcd) InstallPcd();
  if (install_pi_pcd) InstallPiPcd();
}

FakePcd::~FakePcd() {
  UninstallPcd();
  UninstallPiPcd();
  current_ = previous_;
}

void FakePcd::InstallPcd() {
  if (pcd_handle_ == nullptr) EXPECT_EQ(platform_.Install(&pcd_handle_, kPcdGuid, &pcd_), EFI_SUCCESS);
}
void FakePcd::InstallPiPcd() {
  if (pi_handle_ == nullptr) EXPECT_EQ(platform_.Install(&pi_handle_, kPiPcdGuid, &pi_pcd_), EFI_SUCCESS);
}
void FakePcd::UninstallPcd() {
  if (pcd_handle_ != nullptr) platform_.Uninstall(pcd_handle_, kPcdGuid, &pcd_);
  pcd_handle_ = nullptr;
}
void FakePcd::UninstallPiPcd() {
  if (pi_handle_ != nullptr) platform_.Uninstall(pi_handle_, kPiPcdGuid, &pi_pcd_);
  pi_handle_ = nullptr;
}

uint64_t FakePcd::Get(UINTN token) const {
  auto it = tokens_.find(token);
  return it == tokens_.end() ? 0 : it->second;
}

uint64_t FakePcd::Read(const char *fn, UINTN token, uint64_t mask) {
  log_.push_back({fn, token});
  return Get(token) & mask;
}

EFI_STATUS FakePcd::Write(const char *fn, UINTN token, uint64_t value) {
  log_.push_back({fn, token});
  tokens_[token] = value;
  return EFI_SUCCESS;
}

void *FakePcd::Ptr(const char *fn, UINTN token) {
  log_.push_back({fn, token});
  auto it = ptrs_.find(token);
  return it == ptrs_.end() || it->second.empty() ? nullptr : it->second.data();
}

UINTN FakePcd::Size(const char *fn, UINTN token) {
  log_.push_back({fn, token});
  auto it = ptrs_.find(token);
  if (it != ptrs_.end()) return it->second.size();
  return tokens_.count(token) ? sizeof(uint64_t) : 0;
}

}  // namespace fake
