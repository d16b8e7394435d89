// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "test/netidentity/smbios_double.h"

#include <gtest/gtest.h>

#include <cstring>

namespace nettest {

namespace {

SmbiosEditDouble *g_current = nullptr;
const EFI_GUID kGuid = SMBIOS_EDIT_PROTOCOL_GUID;

EFI_STATUS EFIAPI ReadThunk(UINT8 type, UINT8 instance, VOID **structure, UINT16 *size) {
  return g_current->Read(type, instance, structure, size);
}
EFI_STATUS EFIAPI WriteThunk(UINT16 handle, VOID *structure, UINT16 size) { return g_current->Write(handle, structure, size); }

}  // namespace

SmbiosEditDouble::SmbiosEditDouble(fake::Platform &platform, bool install) : platform_(platform) {
  proto_.ReadStructureByType = ReadThunk;
  proto_.WriteStructureByHandle = WriteThunk;
  g_current = this;
  if (install) EXPECT_EQ(platform.Install(&handle_, kGuid, &proto_), EFI_SUCCESS);
  const uint8_t uuid[16] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xF0, 0x01};
  SetSystemInformation(0x0001, uuid);
}

SmbiosEditDouble::~SmbiosEditDouble() {
  if (handle_) platform_.Uninstall(handle_, kGuid, &proto_);
  g_current = nullptr;
}

SmbiosEditDouble *SmbiosEditDouble::Current() { return g_current; }

void SmbiosEditDouble::SetSystemInformation(UINT16 handle, const uint8_t uuid[16]) {
  // Formatted area of 27 bytes (SMBIOS 2.4 layout), then "Board\0\0".
  live_.assign(27, 0);
  live_[0] = 1;
  live_[1] = 27;
  live_[2] = (uint8_t)handle;
  live_[3] = (uint8_t)(handle >> 8);
  live_[4] = 1;  // manufacturer string
  memcpy(&live_[8], uuid, 16);
  live_[24] = 6;  // wake-up type
  for (char c : std::string("Board")) live_.push_back((uint8_t)c);
  live_.push_back(0);
  live_.push_back(0);
}

EFI_STATUS SmbiosEditDouble::Read(UINT8 type, UINT8 instance, VOID **structure, UINT16 *size) {
  reads_++;
  EXPECT_EQ(type, 1);
  EXPECT_EQ(instance, 1);
  if (fail_read_) return fail_read_;
  VOID *copy = nullptr;
  EFI_STATUS s = platform_.BootServices()->AllocatePool(EfiBootServicesData, live_.size(), &copy);
  if (s) return s;
  memcpy(copy, live_.data(), live_.size());
  *structure = copy;
  *size = report_size_ >= 0 ? (UINT16)report_size_ : (UINT16)live_.size();
  return EFI_SUCCESS;
}

EFI_STATUS SmbiosEditDouble::Write(UINT16 handle, VOID *structure, UINT16 size) {
  const uint8_t *b = static_cast<const uint8_t *>(structure);
  writes_.push_back({handle, std::vector<uint8_t>(b, b + size), size});
  live_.assign(b, b + size);
  return EFI_SUCCESS;
}

}  // namespace nettest
