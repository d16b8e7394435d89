// Fake PCD database for host tests: the token-number PCD protocol and the PI
// PCD protocol over one token store, with a log of every call. A token space
// given values with SetEx is kept apart, as a platform keeps its DynamicEx
// PCDs apart from its local token numbers. Either
// protocol can be left out to model a platform without it. One FakePcd is
// current at a time (the protocols' functions take no interface pointer).
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "efi/efi.h"
#include "test/fake/fake.h"

namespace fake {

struct PcdCall {
  std::string fn;  // "Get8", "GetBool", "Get32Ex", "PiGet32", "Set8", ...
  UINTN token;
};

class FakePcd {
 public:
  // Installs the protocols asked for into the platform's protocol database.
  FakePcd(Platform &platform, bool install_pcd = true, bool install_pi_pcd = true);
  ~FakePcd();
  FakePcd(const FakePcd &) = delete;
  FakePcd &operator=(const FakePcd &) = delete;
  static FakePcd *Current();

  static const EFI_GUID &PcdGuid();
  static const EFI_GUID &PiPcdGuid();
  PCD_PROTOCOL *Pcd() { return &pcd_; }
  EFI_PCD_PROTOCOL *PiPcd() { return &pi_pcd_; }
  void InstallPcd();
  void InstallPiPcd();
  void UninstallPcd();
  void UninstallPiPcd();

  // Tokens are one store whatever the token space; an unset token reads 0.
  void Set(UINTN token, uint64_t value) { tokens_[token] = value; }
  uint64_t Get(UINTN token) const;
  void SetPtr(UINTN token, std::vector<uint8_t> bytes) { ptrs_[token] = std::move(bytes); }
  // A PCD of token space guid, read and written only by the calls that name
  // that space (the ...Ex calls and the PI protocol).
  void SetEx(const EFI_GUID &guid, UINTN token, uint64_t value);
  uint64_t GetEx(const EFI_GUID &guid, UINTN token) const;
  // As a platform's PCD database with fixed tables: a token-number call of a
  // token never set, or a call naming a space-token pair never set, fails the test.
  void Strict(bool on) { strict_ = on; }
  // GetNextToken answers with this status instead of walking (0 restores);
  // with end_as_zero it ends a walk with success and token 0, as some
  // implementations do, instead of EFI_NOT_FOUND.
  void FailGetNextToken(EFI_STATUS s) { next_status_ = s; }
  void EndWalkWithZero(bool on) { end_as_zero_ = on; }

  const std::vector<PcdCall> &Log() const { return log_; }
  void ClearLog() { log_.clear(); }
  size_t Calls() const { return log_.size(); }

  // internal: the protocol functions reach these
  uint64_t Read(const char *fn, UINTN token, uint64_t mask);
  EFI_STATUS Write(const char *fn, UINTN token, uint64_t value);
  uint64_t ReadEx(const char *fn, const EFI_GUID *guid, UINTN token, uint64_t mask);
  EFI_STATUS WriteEx(const char *fn, const EFI_GUID *guid, UINTN token, uint64_t value);
  EFI_STATUS NextToken(const EFI_GUID *guid, UINTN *token);
  void *Ptr(const char *fn, UINTN token);
  UINTN Size(const char *fn, UINTN token);

 private:
  Platform &platform_;
  PCD_PROTOCOL pcd_{};
  EFI_PCD_PROTOCOL pi_pcd_{};
  EFI_HANDLE pcd_handle_ = nullptr, pi_handle_ = nullptr;
  std::map<UINTN, uint64_t> tokens_;
  std::map<UINTN, std::vector<uint8_t>> ptrs_;
  std::map<std::pair<std::string, UINTN>, uint64_t> ex_;  // key: GUID bytes, token
  bool strict_ = false, end_as_zero_ = false;
  EFI_STATUS next_status_ = EFI_SUCCESS;
  std::vector<PcdCall> log_;
  FakePcd *previous_ = nullptr;
  static FakePcd *current_;
};

}  // namespace fake
