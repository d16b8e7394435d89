// SPDX-License-Identifier: BSD-2-Clause-Patent
// A token service for tests: records every call in order, checks that each
// one carries its own interface pointer, and can refuse the opening call or
// fail every other entry.
#pragma once
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "setuptoken/token_service.h"

namespace tokentest {

enum class Op { Open, Level, Bool, U8, U16, U32, Finish, Close };

struct TokenCall {
  Op op;
  uint8_t level = 0;
  uint32_t token = 0;
  uint32_t value = 0;
  bool operator==(const TokenCall &o) const { return op == o.op && level == o.level && token == o.token && value == o.value; }
};
void PrintTo(const TokenCall &c, std::ostream *os);
std::string Describe(const std::vector<TokenCall> &calls);

inline TokenCall Set(Op op, uint32_t token, uint32_t value) { return {op, TOKEN_LEVEL, token, value}; }

class TokenRecorder {
 public:
  TokenRecorder();
  TokenRecorder(const TokenRecorder &) = delete;
  TokenRecorder &operator=(const TokenRecorder &) = delete;

  TOKEN_SERVICE_PROTOCOL *Interface() { return &iface_.proto; }
  void FailOpen(EFI_STATUS s) { open_status_ = s; }
  // The status of every entry other than the opening call.
  void FailOthers(EFI_STATUS s) { other_status_ = s; }
  const std::vector<TokenCall> &Calls() const { return calls_; }
  // Only the setter calls, without the framing calls.
  std::vector<TokenCall> Writes() const;
  void Clear() { calls_.clear(); }
  // Runs after every call is recorded, as another processor writing the
  // caller's memory while the token service runs would.
  void OnEachCall(std::function<void()> hook) { on_call_ = std::move(hook); }

 private:
  struct Iface {
    TOKEN_SERVICE_PROTOCOL proto;
    TokenRecorder *owner;
  };
  static TokenRecorder &Owner(TOKEN_SERVICE_PROTOCOL *This, const char *entry);
  static EFI_STATUS EFIAPI Open(TOKEN_SERVICE_PROTOCOL *This, TOKEN_SERVICE_PROTOCOL *Service);
  static EFI_STATUS EFIAPI Level(TOKEN_SERVICE_PROTOCOL *This, UINT8 Level);
  static EFI_STATUS EFIAPI SetBool(TOKEN_SERVICE_PROTOCOL *This, UINT8 Level, UINT32 Token, BOOLEAN Value);
  static EFI_STATUS EFIAPI Set8(TOKEN_SERVICE_PROTOCOL *This, UINT8 Level, UINT32 Token, UINT8 Value);
  static EFI_STATUS EFIAPI Set16(TOKEN_SERVICE_PROTOCOL *This, UINT8 Level, UINT32 Token, UINT16 Value);
  static EFI_STATUS EFIAPI Set32(TOKEN_SERVICE_PROTOCOL *This, UINT8 Level, UINT32 Token, UINT32 Value);
  static EFI_STATUS EFIAPI Finish(TOKEN_SERVICE_PROTOCOL *This);
  static EFI_STATUS EFIAPI Close(TOKEN_SERVICE_PROTOCOL *This);
  static EFI_STATUS EFIAPI Unexpected(TOKEN_SERVICE_PROTOCOL *This);

  Iface iface_{};
  EFI_STATUS open_status_ = EFI_SUCCESS, other_status_ = EFI_SUCCESS;
  std::vector<TokenCall> calls_;
  std::function<void()> on_call_;
  void Record(const TokenCall &c) {
    calls_.push_back(c);
    if (on_call_) on_call_();
  }
};

}  // namespace tokentest
