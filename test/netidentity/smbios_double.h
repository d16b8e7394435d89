// SPDX-License-Identifier: BSD-2-Clause-Patent
// A host double of the platform SMBIOS driver's edit protocol: one live
// type-1 structure, pool copies handed out through the fake platform's pool,
// and a log of every write.
#pragma once
#include <vector>

#include "efi/smbios.h"
#include "test/fake/fake.h"

namespace nettest {

struct SmbiosWrite {
  UINT16 handle;
  std::vector<uint8_t> bytes;
  UINT16 size;
};

class SmbiosEditDouble {
 public:
  explicit SmbiosEditDouble(fake::Platform &platform, bool install = true);
  ~SmbiosEditDouble();
  static SmbiosEditDouble *Current();

  // A type-1 structure of the given handle and formatted size, with a
  // recognisable UUID and a terminating string area.
  void SetSystemInformation(UINT16 handle, const uint8_t uuid[16]);
  std::vector<uint8_t> &Live() { return live_; }
  void FailRead(EFI_STATUS s) { fail_read_ = s; }
  void ReportSize(int size) { report_size_ = size; }  // overrides the size handed back (<0: real)
  const std::vector<SmbiosWrite> &Writes() const { return writes_; }
  int Reads() const { return reads_; }

  // internal
  EFI_STATUS Read(UINT8 type, UINT8 instance, VOID **structure, UINT16 *size);
  EFI_STATUS Write(UINT16 handle, VOID *structure, UINT16 size);

 private:
  fake::Platform &platform_;
  SMBIOS_EDIT_PROTOCOL proto_{};
  EFI_HANDLE handle_ = nullptr;
  std::vector<uint8_t> live_;
  EFI_STATUS fail_read_ = 0;
  int report_size_ = -1;
  int reads_ = 0;
  std::vector<SmbiosWrite> writes_;
};

}  // namespace nettest
