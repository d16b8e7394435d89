// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "test/setuptoken/token_recorder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace tokentest {

namespace {
const char *Name(Op op) {
  switch (op) {
    case Op::Open:
      return "Open";
    case Op::Level:
      return "Level";
    case Op::Bool:
      return "SetBool";
    case Op::U8:
      return "Set8";
    case Op::U16:
      return "Set16";
    case Op::U32:
      return "Set32";
    case Op::Finish:
      return "Finish";
    case Op::Close:
      return "Close";
  }
  return "?";
}
}  // namespace

void PrintTo(const TokenCall &c, std::ostream *os) {
  char buf[96];
  snprintf(buf, sizeof buf, "%s(level %u, token 0x%08X, value 0x%X)", Name(c.op), c.level, c.token, c.value);
  *os << buf;
}

std::string Describe(const std::vector<TokenCall> &calls) {
  std::ostringstream os;
  for (auto &c : calls) {
    PrintTo(c, &os);
    os << "\n";
  }
  return os.str();
}

TokenRecorder::TokenRecorder() {
  iface_.owner = this;
  TOKEN_SERVICE_PROTOCOL &p = iface_.proto;
  // Every slot the driver has no business calling records a failure.
  VOID **slots = reinterpret_cast<VOID **>(&p);
  for (size_t i = 0; i < sizeof(p) / sizeof(VOID *); i++) slots[i] = reinterpret_cast<VOID *>(&Unexpected);
  p.Open = Open;
  p.SetLevel = Level;
  p.SetBool = SetBool;
  p.Set8 = Set8;
  p.Set16 = Set16;
  p.Set32 = Set32;
  p.Finish = Finish;
  p.Close = Close;
}

std::vector<TokenCall> TokenRecorder::Writes() const {
  std::vector<TokenCall> w;
  for (auto &c : calls_)
    if (c.op == Op::Bool || c.op == Op::U8 || c.op == Op::U16 || c.op == Op::U32) w.push_back(c);
  return w;
}

TokenRecorder &TokenRecorder::Owner(TOKEN_SERVICE_PROTOCOL *This, const char *entry) {
  if (This == nullptr) {
    ADD_FAILURE() << entry << " called without its interface pointer";
    abort();
  }
  return *reinterpret_cast<Iface *>(This)->owner;
}

EFI_STATUS EFIAPI TokenRecorder::Open(TOKEN_SERVICE_PROTOCOL *This, TOKEN_SERVICE_PROTOCOL *Service) {
  TokenRecorder &r = Owner(This, "Open");
  EXPECT_EQ(Service, This) << "the opening call takes the interface again as its second argument";
  r.Record({Op::Open});
  return r.open_status_;
}
EFI_STATUS EFIAPI TokenRecorder::Level(TOKEN_SERVICE_PROTOCOL *This, UINT8 Level) {
  TokenRecorder &r = Owner(This, "SetLevel");
  r.Record({Op::Level, Level});
  return r.other_status_;
}
EFI_STATUS EFIAPI TokenRecorder::SetBool(TOKEN_SERVICE_PROTOCOL *This, UINT8 Level, UINT32 Token, BOOLEAN Value) {
  TokenRecorder &r = Owner(This, "SetBool");
  r.Record({Op::Bool, Level, Token, Value});
  return r.other_status_;
}
EFI_STATUS EFIAPI TokenRecorder::Set8(TOKEN_SERVICE_PROTOCOL *This, UINT8 Level, UINT32 Token, UINT8 Value) {
  TokenRecorder &r = Owner(This, "Set8");
  r.Record({Op::U8, Level, Token, Value});
  return r.other_status_;
}
EFI_STATUS EFIAPI TokenRecorder::Set16(TOKEN_SERVICE_PROTOCOL *This, UINT8 Level, UINT32 Token, UINT16 Value) {
  TokenRecorder &r = Owner(This, "Set16");
  r.Record({Op::U16, Level, Token, Value});
  return r.other_status_;
}
EFI_STATUS EFIAPI TokenRecorder::Set32(TOKEN_SERVICE_PROTOCOL *This, UINT8 Level, UINT32 Token, UINT32 Value) {
  TokenRecorder &r = Owner(This, "Set32");
  r.Record({Op::U32, Level, Token, Value});
  return r.other_status_;
}
EFI_STATUS EFIAPI TokenRecorder::Finish(TOKEN_SERVICE_PROTOCOL *This) {
  TokenRecorder &r = Owner(This, "Finish");
  r.Record({Op::Finish});
  return r.other_status_;
}
EFI_STATUS EFIAPI TokenRecorder::Close(TOKEN_SERVICE_PROTOCOL *This) {
  TokenRecorder &r = Owner(This, "Close");
  r.Record({Op::Close});
  return r.other_status_;
}
EFI_STATUS EFIAPI TokenRecorder::Unexpected(TOKEN_SERVICE_PROTOCOL *) {
  ADD_FAILURE() << "a token service entry outside the ones the translation uses was called";
  return EFI_UNSUPPORTED;
}

}  // namespace tokentest
