// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "test_fv.h"

#include <cstring>

#include "fake/fake.h"
#include "ui/status_report.h"

namespace picture_test {
namespace {

std::map<const EFI_FIRMWARE_VOLUME2_PROTOCOL *, TestVolume *> &Volumes() {
  static std::map<const EFI_FIRMWARE_VOLUME2_PROTOCOL *, TestVolume *> v;
  return v;
}

UINT32 Le(const std::vector<UINT8> &d, size_t at, int bytes) {
  UINT32 v = 0;
  for (int i = bytes - 1; i >= 0; i--) v = (v << 8) | d[at + i];
  return v;
}

constexpr EFI_GUID kFfs2 = {0x8C8CE578, 0x8A3D, 0x4F1C, {0x99, 0x35, 0x89, 0x61, 0x85, 0xC3, 0x2D, 0xD3}};
constexpr EFI_GUID kFfs3 = {0x5473C07A, 0x3DCB, 0x4DCA, {0xBD, 0x6F, 0x1E, 0x96, 0x89, 0xE7, 0x34, 0x9A}};

}  // namespace

TestVolume::TestVolume() {
  protocol_.ReadSection = ReadSection;
  Volumes()[&protocol_] = this;
}

TestVolume::~TestVolume() { Volumes().erase(&protocol_); }

void TestVolume::AddFile(const EFI_GUID &name, std::vector<std::vector<UINT8>> sections) {
  auto &slots = files_[fake::GuidKey(name)];
  for (auto &s : sections) slots.emplace_back(true, std::move(s));
}

void TestVolume::RemoveSection(const EFI_GUID &name, UINTN instance) { files_.at(fake::GuidKey(name)).at(instance).first = false; }

EFI_STATUS EFIAPI TestVolume::ReadSection(const EFI_FIRMWARE_VOLUME2_PROTOCOL *This, const EFI_GUID *NameGuid, EFI_SECTION_TYPE SectionType,
                                          UINTN SectionInstance, VOID **Buffer, UINTN *BufferSize, UINT32 *AuthenticationStatus) {
  TestVolume &v = *Volumes().at(This);
  v.reads_.push_back({fake::GuidKey(*NameGuid), SectionType, SectionInstance});
  if (!Buffer || !BufferSize || !AuthenticationStatus) return EFI_INVALID_PARAMETER;
  auto f = v.files_.find(fake::GuidKey(*NameGuid));
  if (f == v.files_.end() || SectionType != EFI_SECTION_RAW || SectionInstance >= f->second.size() || !f->second[SectionInstance].first)
    return EFI_NOT_FOUND;
  const std::vector<UINT8> &data = f->second[SectionInstance].second;
  if (*Buffer == nullptr) {
    EFI_STATUS s = gBS->AllocatePool(EfiBootServicesData, data.size(), Buffer);
    if (EFI_ERROR(s)) return s;
  } else if (*BufferSize < data.size()) {
    *BufferSize = data.size();
    return EFI_WARN_BUFFER_TOO_SMALL;
  }
  memcpy(*Buffer, data.data(), data.size());
  *BufferSize = data.size();
  *AuthenticationStatus = 0;
  return EFI_SUCCESS;
}

std::string TestVolume::FromImage(const std::vector<UINT8> &d) {
  if (d.size() < 72) return "shorter than a volume header";
  if (memcmp(&d[40], "_FVH", 4) != 0) return "no _FVH signature";
  if (Le(d, 32, 4) != d.size() || Le(d, 36, 4) != 0) return "FvLength is not the image size";
  UINT32 attributes = Le(d, 44, 4), headerLength = Le(d, 48, 2);
  if (headerLength < 72 || headerLength > d.size()) return "bad header length";
  UINT32 sum = 0;
  for (size_t i = 0; i < headerLength; i += 2) sum += Le(d, i, 2);
  if (sum & 0xFFFF) return "header checksum";
  if (d[55] != 2) return "revision";
  EFI_GUID fs;
  memcpy(&fs, &d[16], 16);
  bool ffs3 = GuidEqual(fs, kFfs3);
  if (!GuidEqual(fs, kFfs2) && !ffs3) return "unknown file system";
  size_t at = 56;
  UINT64 covered = 0;
  for (;; at += 8) {
    if (at + 8 > headerLength) return "block map runs past the header";
    UINT32 n = Le(d, at, 4), len = Le(d, at + 4, 4);
    if (n == 0 && len == 0) break;
    covered += (UINT64)n * len;
  }
  if (at + 8 != headerLength) return "block map does not end the header";
  if (covered != d.size()) return "block map does not cover the volume";
  UINT8 erased = (attributes & 0x800) ? 0xFF : 0x00;
  UINT32 fvAlign = 1u << ((attributes >> 16) & 0x1F);

  for (size_t pos = (headerLength + 7) & ~7u; pos + 24 <= d.size(); pos = (pos + 7) & ~(size_t)7) {
    bool free = true;
    for (size_t i = 0; i < 24; i++) free = free && d[pos + i] == erased;
    if (free) {
      for (size_t i = pos; i < d.size(); i++)
        if (d[i] != erased) return "data after the free space";
      break;
    }
    UINT8 type = d[pos + 18], fattr = d[pos + 19], state = d[pos + 23];
    size_t headerSize = 24, size = Le(d, pos + 20, 3);
    if (fattr & 0x01) {
      if (!ffs3) return "large file in an FFS2 volume";
      headerSize = 32;
      size = Le(d, pos + 24, 4) | ((UINT64)Le(d, pos + 28, 4) << 32);
    }
    if (size < headerSize || pos + size > d.size()) return "file overruns the volume";
    UINT8 hsum = 0;
    for (size_t i = 0; i < headerSize; i++)
      if (i != 17 && i != 23) hsum += d[pos + i];
    if (hsum != 0) return "file header checksum";
    if (fattr & 0x40) {
      UINT8 dsum = d[pos + 17];
      for (size_t i = headerSize; i < size; i++) dsum += d[pos + i];
      if (dsum != 0) return "file data checksum";
    } else if (d[pos + 17] != 0xAA) {
      return "fixed file checksum is not 0xAA";
    }
    if ((erased ? (UINT8)~state : state) != 0x07) return "file state is not data-valid";
    static const UINT32 kAlign[] = {1, 16, 128, 512, 1024, 4096, 32768, 65536};
    UINT32 want = (fattr & 0x02) ? (128 * 1024u) << ((fattr >> 3) & 7) : kAlign[(fattr >> 3) & 7];
    if (want > fvAlign || (pos + headerSize) % want) return "file data misaligned";
    if (type != 0x01 && type != 0xF0) {
      EFI_GUID name;
      memcpy(&name, &d[pos], 16);
      std::vector<std::vector<UINT8>> raws;
      for (size_t s = pos + headerSize; s < pos + size;) {
        s = pos + headerSize + ((s - pos - headerSize + 3) & ~(size_t)3);
        if (s >= pos + size) break;
        if (s + 4 > pos + size) return "section header past the file";
        size_t ssize = Le(d, s, 3), sh = 4;
        if (ssize == 0xFFFFFF) {
          ssize = Le(d, s + 4, 4);
          sh = 8;
        }
        if (ssize < sh || s + ssize > pos + size) return "section overruns the file";
        if (d[s + 3] == EFI_SECTION_RAW) raws.emplace_back(d.begin() + s + sh, d.begin() + s + ssize);
        s += ssize;
      }
      AddFile(name, std::move(raws));
    }
    pos += size;
  }
  return "";
}

}  // namespace picture_test
