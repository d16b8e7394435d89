// SPDX-License-Identifier: BSD-2-Clause-Patent
// Test support shared by the images that link the driver library: a double
// of the platform debug print protocol that formats and records each message,
// and a reset of the library's module state between tests.
#pragma once
#include <string>
#include <vector>

#include "drvlib/drvlib.h"
#include "test/fake/fake.h"

namespace libtest {

struct DebugMessage {
  UINTN level;
  std::string format;
  std::string text;  // formatted: %a, %r, %d, %u, %x, %X, %s (ASCII), %%
};

class DebugPrintDouble {
 public:
  explicit DebugPrintDouble(fake::Platform &platform, bool install = true);
  ~DebugPrintDouble();
  static DebugPrintDouble *Current();
  void Install();
  void Uninstall();
  void ReturnStatus(EFI_STATUS s) { status_ = s; }
  DEBUG_PRINT_PROTOCOL *Interface() { return &proto_; }
  const std::vector<DebugMessage> &Messages() const { return messages_; }

  // internal
  EFI_STATUS Record(UINTN level, const CHAR8 *format, EFI_VA_LIST args);

 private:
  fake::Platform &platform_;
  DEBUG_PRINT_PROTOCOL proto_{};
  EFI_HANDLE handle_ = nullptr;
  EFI_STATUS status_ = EFI_SUCCESS;
  std::vector<DebugMessage> messages_;
};

// The name the status formats to ("Success", "Not Found", ...).
std::string StatusName(EFI_STATUS s);

// Every module global of the library back to its load-time value.
void ResetDrvLib();

// The full build's runtime scratch blocks outlive the image by design; a test
// hands them back before its platform goes away. Returns how many it freed.
size_t ReleaseRuntimeScratch(fake::Platform &platform);

const EFI_GUID &HobListGuid();
const EFI_GUID &DebugPrintGuid();

}  // namespace libtest
