// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "test/drvlib/var_probe.h"

#include <cstring>

namespace libtest {

GetVariableProbe *GetVariableProbe::current_ = nullptr;

GetVariableProbe::GetVariableProbe(fake::Platform &platform, UINT8 marker) : platform_(platform), marker_(marker) {
  real_ = platform.RuntimeServices()->GetVariable;
  platform.RuntimeServices()->GetVariable = Thunk;
  current_ = this;
}

GetVariableProbe::~GetVariableProbe() {
  platform_.RuntimeServices()->GetVariable = real_;
  current_ = nullptr;
}

EFI_STATUS EFIAPI GetVariableProbe::Thunk(const CHAR16 *name, const EFI_GUID *guid, UINT32 *attrs, UINTN *size, VOID *data) {
  GetVariableProbe &p = *current_;
  p.reads_.push_back({name ? fake::Narrow(name) : "", size ? *size : 0, attrs != nullptr});
  if (data && size) memset(data, p.marker_, *size);
  return p.real_(name, guid, attrs, size, data);
}

}  // namespace libtest
