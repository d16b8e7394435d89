// The fake PCD protocols: every getter and setter of both protocols lands in
// the current FakePcd's token store and call log.
#include "test/fake/pcd.h"

#include <gtest/gtest.h>

#include <algorithm>

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
UINT8 EFIAPI Get8Ex(const EFI_GUID *g, UINTN t) { return (UINT8)Cur().ReadEx("Get8Ex", g, t, k8); }
UINT16 EFIAPI Get16Ex(const EFI_GUID *g, UINTN t) { return (UINT16)Cur().ReadEx("Get16Ex", g, t, k16); }
UINT32 EFIAPI Get32Ex(const EFI_GUID *g, UINTN t) { return (UINT32)Cur().ReadEx("Get32Ex", g, t, k32); }
UINT64 EFIAPI Get64Ex(const EFI_GUID *g, UINTN t) { return Cur().ReadEx("Get64Ex", g, t, k64); }
VOID *EFIAPI GetPtrEx(const EFI_GUID *, UINTN t) { return Cur().Ptr("GetPtrEx", t); }
BOOLEAN EFIAPI GetBoolEx(const EFI_GUID *g, UINTN t) { return Cur().ReadEx("GetBoolEx", g, t, k64) != 0; }
UINTN EFIAPI GetSizeEx(const EFI_GUID *, UINTN t) { return Cur().Size("GetSizeEx", t); }
EFI_STATUS EFIAPI Set8(UINTN t, UINT8 v) { return Cur().Write("Set8", t, v); }
EFI_STATUS EFIAPI Set16(UINTN t, UINT16 v) { return Cur().Write("Set16", t, v); }
EFI_STATUS EFIAPI Set32(UINTN t, UINT32 v) { return Cur().Write("Set32", t, v); }
EFI_STATUS EFIAPI Set64(UINTN t, UINT64 v) { return Cur().Write("Set64", t, v); }
EFI_STATUS EFIAPI SetPtrFn(UINTN, UINTN *, VOID *) { return EFI_UNSUPPORTED; }
EFI_STATUS EFIAPI SetBool(UINTN t, BOOLEAN v) { return Cur().Write("SetBool", t, v ? 1 : 0); }
EFI_STATUS EFIAPI Set8Ex(const EFI_GUID *g, UINTN t, UINT8 v) { return Cur().WriteEx("Set8Ex", g, t, v); }
EFI_STATUS EFIAPI Set16Ex(const EFI_GUID *g, UINTN t, UINT16 v) { return Cur().WriteEx("Set16Ex", g, t, v); }
EFI_STATUS EFIAPI Set32Ex(const EFI_GUID *g, UINTN t, UINT32 v) { return Cur().WriteEx("Set32Ex", g, t, v); }
EFI_STATUS EFIAPI Set64Ex(const EFI_GUID *g, UINTN t, UINT64 v) { return Cur().WriteEx("Set64Ex", g, t, v); }
EFI_STATUS EFIAPI SetPtrEx(const EFI_GUID *, UINTN, UINTN *, VOID *) { return EFI_UNSUPPORTED; }
EFI_STATUS EFIAPI SetBoolEx(const EFI_GUID *g, UINTN t, BOOLEAN v) { return Cur().WriteEx("SetBoolEx", g, t, v ? 1 : 0); }

// PI protocol: every access names a token space; the store ignores it.
UINT8 EFIAPI PiGet8(const EFI_GUID *g, UINTN t) { return (UINT8)Cur().ReadEx("PiGet8", g, t, k8); }
UINT16 EFIAPI PiGet16(const EFI_GUID *g, UINTN t) { return (UINT16)Cur().ReadEx("PiGet16", g, t, k16); }
UINT32 EFIAPI PiGet32(const EFI_GUID *g, UINTN t) { return (UINT32)Cur().ReadEx("PiGet32", g, t, k32); }
UINT64 EFIAPI PiGet64(const EFI_GUID *g, UINTN t) { return Cur().ReadEx("PiGet64", g, t, k64); }
VOID *EFIAPI PiGetPtr(const EFI_GUID *, UINTN t) { return Cur().Ptr("PiGetPtr", t); }
BOOLEAN EFIAPI PiGetBool(const EFI_GUID *g, UINTN t) { return Cur().ReadEx("PiGetBool", g, t, k64) != 0; }
UINTN EFIAPI PiGetSize(const EFI_GUID *, UINTN t) { return Cur().Size("PiGetSize", t); }
EFI_STATUS EFIAPI PiSet8(const EFI_GUID *g, UINTN t, UINT8 v) { return Cur().WriteEx("PiSet8", g, t, v); }
EFI_STATUS EFIAPI PiSet16(const EFI_GUID *g, UINTN t, UINT16 v) { return Cur().WriteEx("PiSet16", g, t, v); }
EFI_STATUS EFIAPI PiSet32(const EFI_GUID *g, UINTN t, UINT32 v) { return Cur().WriteEx("PiSet32", g, t, v); }
EFI_STATUS EFIAPI PiSet64(const EFI_GUID *g, UINTN t, UINT64 v) { return Cur().WriteEx("PiSet64", g, t, v); }
EFI_STATUS EFIAPI PiSetPtr(const EFI_GUID *, UINTN, UINTN *, VOID *) { return EFI_UNSUPPORTED; }
EFI_STATUS EFIAPI PiSetBool(const EFI_GUID *g, UINTN t, BOOLEAN v) { return Cur().WriteEx("PiSetBool", g, t, v ? 1 : 0); }

EFI_STATUS EFIAPI GetNextToken(const EFI_GUID *g, UINTN *t) { return Cur().NextToken(g, t); }

const EFI_GUID kPcdGuid = PCD_PROTOCOL_GUID;
const EFI_GUID kPiPcdGuid = EFI_PCD_PROTOCOL_GUID;

}  // namespace

const EFI_GUID &FakePcd::PcdGuid() { return kPcdGuid; }
const EFI_GUID &FakePcd::PiPcdGuid() { return kPiPcdGuid; }
FakePcd *FakePcd::Current() { return current_; }

FakePcd::FakePcd(Platform &platform, bool install_pcd, bool install_pi_pcd) : platform_(platform) {
  pcd_ = PCD_PROTOCOL{SetSku,  Get8,     Get16,     Get32,     Get64,     GetPtr,  GetBool, GetSize,      Get8Ex,   Get16Ex, Get32Ex,
                      Get64Ex, GetPtrEx, GetBoolEx, GetSizeEx, Set8,      Set16,   Set32,   Set64,        SetPtrFn, SetBool, Set8Ex,
                      Set16Ex, Set32Ex,  Set64Ex,   SetPtrEx,  SetBoolEx, nullptr, nullptr, GetNextToken, nullptr};
  pi_pcd_ = EFI_PCD_PROTOCOL{SetSku,  PiGet8,  PiGet16, PiGet32,  PiGet64,   PiGetPtr, PiGetBool, PiGetSize,    PiSet8,
                             PiSet16, PiSet32, PiSet64, PiSetPtr, PiSetBool, nullptr,  nullptr,   GetNextToken, nullptr};
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

static std::string Key(const EFI_GUID &g) { return std::string(reinterpret_cast<const char *>(&g), sizeof g); }

void FakePcd::SetEx(const EFI_GUID &guid, UINTN token, uint64_t value) { ex_[{Key(guid), token}] = value; }

uint64_t FakePcd::GetEx(const EFI_GUID &guid, UINTN token) const {
  auto it = ex_.find({Key(guid), token});
  return it == ex_.end() ? 0 : it->second;
}

uint64_t FakePcd::Read(const char *fn, UINTN token, uint64_t mask) {
  log_.push_back({fn, token});
  if (strict_ && !tokens_.count(token)) ADD_FAILURE() << fn << " of local token " << token << ", which the database does not hold";
  return Get(token) & mask;
}

// A space that was given PCDs with SetEx answers from them; any other space
// (and a null GUID) reads the one store, as before token spaces were kept.
uint64_t FakePcd::ReadEx(const char *fn, const EFI_GUID *guid, UINTN token, uint64_t mask) {
  if (guid == nullptr) return Read(fn, token, mask);
  log_.push_back({fn, token});
  auto it = ex_.find({Key(*guid), token});
  if (it != ex_.end()) return it->second & mask;
  if (strict_) ADD_FAILURE() << fn << " of token " << token << " in a token space the database does not hold it in";
  return Get(token) & mask;
}

EFI_STATUS FakePcd::WriteEx(const char *fn, const EFI_GUID *guid, UINTN token, uint64_t value) {
  if (guid == nullptr) return Write(fn, token, value);
  log_.push_back({fn, token});
  auto it = ex_.find({Key(*guid), token});
  if (it != ex_.end()) {
    it->second = value;
    return EFI_SUCCESS;
  }
  if (strict_) ADD_FAILURE() << fn << " of token " << token << " in a token space the database does not hold it in";
  tokens_[token] = value;
  return EFI_SUCCESS;
}

EFI_STATUS FakePcd::NextToken(const EFI_GUID *guid, UINTN *token) {
  log_.push_back({"GetNextToken", token ? *token : 0});
  if (next_status_ != EFI_SUCCESS) return next_status_;
  if (token == nullptr) return EFI_INVALID_PARAMETER;
  std::vector<UINTN> space;
  if (guid == nullptr) {
    for (auto &[t, v] : tokens_) space.push_back(t);
  } else {
    for (auto &[k, v] : ex_)
      if (k.first == Key(*guid)) space.push_back(k.second);
  }
  auto next = *token == 0 ? space.begin() : std::upper_bound(space.begin(), space.end(), *token);
  if (*token != 0 && !std::binary_search(space.begin(), space.end(), *token)) return EFI_NOT_FOUND;
  if (next == space.end()) {
    if (!end_as_zero_ || *token == 0) return EFI_NOT_FOUND;
    *token = 0;
    return EFI_SUCCESS;
  }
  *token = *next;
  return EFI_SUCCESS;
}

EFI_STATUS FakePcd::Write(const char *fn, UINTN token, uint64_t value) {
  log_.push_back({fn, token});
  if (strict_ && !tokens_.count(token)) ADD_FAILURE() << fn << " of local token " << token << ", which the database does not hold";
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
