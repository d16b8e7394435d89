// SPDX-License-Identifier: BSD-2-Clause-Patent
// Wraps the platform's GetVariable so a test sees what a driver asked for,
// and fills the caller's whole buffer with a marker before each read: a
// driver that looks past the bytes GetVariable returned then sees the marker.
#pragma once
#include <string>
#include <vector>

#include "test/fake/fake.h"

namespace libtest {

struct VarRead {
  std::string name;
  UINTN size_in;
  bool wants_attributes;
};

class GetVariableProbe {
 public:
  explicit GetVariableProbe(fake::Platform &platform, UINT8 marker = 0xA5);
  ~GetVariableProbe();
  const std::vector<VarRead> &Reads() const { return reads_; }

 private:
  static EFI_STATUS EFIAPI Thunk(const CHAR16 *name, const EFI_GUID *guid, UINT32 *attrs, UINTN *size, VOID *data);
  fake::Platform &platform_;
  decltype(EFI_RUNTIME_SERVICES::GetVariable) real_;
  UINT8 marker_;
  std::vector<VarRead> reads_;
  static GetVariableProbe *current_;
};

}  // namespace libtest
