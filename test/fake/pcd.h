// SPDX-License-Identifier: BSD-2-Clause-Patent
// Fake PCD database for host tests: the token-number PCD protocol and the PI
// PCD protocol over one token store, with a log of every call. Either
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

  const std::vector<PcdCall> &Log() const { return log_; }
  void ClearLog() { log_.clear(); }
  size_t Calls() const { return log_.size(); }

  // internal: the protocol functions reach these
  uint64_t Read(const char *fn, UINTN token, uint64_t mask);
  EFI_STATUS Write(const char *fn, UINTN token, uint64_t value);
  void *Ptr(const char *fn, UINTN token);
  UINTN Size(const char *fn, UINTN token);

 private:
  Platform &platform_;
  PCD_PROTOCOL pcd_{};
  EFI_PCD_PROTOCOL pi_pcd_{};
  EFI_HANDLE pcd_handle_ = nullptr, pi_handle_ = nullptr;
  std::map<UINTN, uint64_t> tokens_;
  std::map<UINTN, std::vector<uint8_t>> ptrs_;
  std::vector<PcdCall> log_;
  FakePcd *previous_ = nullptr;
  static FakePcd *current_;
};

}  // namespace fake
