// Firmware volumes for the picture tests: each answers ReadSection from a
// table of files and their raw sections, the way the firmware's volume
// protocol does (a null buffer is allocated from pool for the caller), and
// logs what it was asked. FromImage fills the table from a packed volume.
#pragma once
#include <map>
#include <string>
#include <vector>

#include "efi/efi.h"

namespace picture_test {

struct SectionRead {
  std::string file;
  UINT8 type;
  UINTN instance;
};

class TestVolume {
 public:
  TestVolume();
  ~TestVolume();
  TestVolume(const TestVolume &) = delete;
  TestVolume &operator=(const TestVolume &) = delete;

  EFI_FIRMWARE_VOLUME2_PROTOCOL *Protocol() { return &protocol_; }
  // Raw sections of a file, section k at index k.
  void AddFile(const EFI_GUID &name, std::vector<std::vector<UINT8>> sections);
  void RemoveSection(const EFI_GUID &name, UINTN instance);
  void Clear() { files_.clear(); }
  // Walks a packed firmware volume, checking what a DXE core checks, and
  // takes every sectioned file's raw sections. Returns an error text or "".
  std::string FromImage(const std::vector<UINT8> &image);
  const std::vector<SectionRead> &Reads() const { return reads_; }

 private:
  static EFI_STATUS EFIAPI ReadSection(const EFI_FIRMWARE_VOLUME2_PROTOCOL *This, const EFI_GUID *NameGuid, EFI_SECTION_TYPE SectionType,
                                       UINTN SectionInstance, VOID **Buffer, UINTN *BufferSize, UINT32 *AuthenticationStatus);

  EFI_FIRMWARE_VOLUME2_PROTOCOL protocol_{};
  // Raw sections by file; a missing section is an empty optional slot.
  std::map<std::string, std::vector<std::pair<bool, std::vector<UINT8>>>> files_;
  std::vector<SectionRead> reads_;
};

}  // namespace picture_test
