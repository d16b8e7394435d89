// SPDX-License-Identifier: BSD-2-Clause-Patent
// Pool and pages with leak accounting, guard bytes and injected failures.
#include <cstdlib>
#include <cstring>

#include "impl.h"

namespace fake {

namespace {
constexpr size_t kGuard = 16;
constexpr uint8_t kGuardByte = 0xFD;
constexpr uint8_t kFreshByte = 0xAF;  // fresh pool is not zero, as on real firmware
}  // namespace

bool Platform::Impl::ShouldFail() {
  Platform &p = P();
  p.alloc_count_++;
  if (p.fail_all_) return true;
  if (p.fail_nth_ && --p.fail_nth_ == 0) return true;
  return false;
}

void Platform::FailAllocation(uint64_t nth) { fail_nth_ = nth; }

size_t Platform::LivePoolCount() const {
  size_t n = 0;
  for (auto &[p, a] : allocs_) n += !a.pages;
  return n;
}

size_t Platform::LivePageCount() const {
  size_t n = 0;
  for (auto &[p, a] : allocs_) n += a.pages;
  return n;
}

size_t Platform::LiveBytes() const {
  size_t n = 0;
  for (auto &[p, a] : allocs_) n += a.size;
  return n;
}

EFI_MEMORY_TYPE Platform::TypeOf(const void *p) const {
  auto it = allocs_.find(const_cast<void *>(p));
  return it == allocs_.end() ? EfiMaxMemoryType : it->second.type;
}

void Platform::CheckGuards(void *p, const Allocation &a, const char *where) const {
  if (a.pages) return;
  const uint8_t *b = static_cast<const uint8_t *>(p);
  for (size_t i = 0; i < kGuard; i++) {
    if (b[-1 - (ptrdiff_t)i] != kGuardByte) {
      ADD_FAILURE() << "pool underrun before a " << a.size << "-byte block (" << where << ")";
      return;
    }
    if (b[a.size + i] != kGuardByte) {
      ADD_FAILURE() << "pool overrun after a " << a.size << "-byte block (" << where << ")";
      return;
    }
  }
}

EFI_STATUS EFIAPI Platform::Impl::AllocatePool(EFI_MEMORY_TYPE type, UINTN size, VOID **buffer) {
  Hook();
  if (!buffer || type >= EfiMaxMemoryType) return EFI_INVALID_PARAMETER;
  if (ShouldFail() || size > (1ULL << 32)) return EFI_OUT_OF_RESOURCES;
  uint8_t *raw = static_cast<uint8_t *>(malloc(size + 2 * kGuard));
  memset(raw, kGuardByte, kGuard);
  memset(raw + kGuard, kFreshByte, size);
  memset(raw + kGuard + size, kGuardByte, kGuard);
  *buffer = raw + kGuard;
  P().allocs_[*buffer] = Allocation{size, type, false};
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI Platform::Impl::FreePool(VOID *buffer) {
  Hook();
  Platform &p = P();
  auto it = p.allocs_.find(buffer);
  if (it == p.allocs_.end() || it->second.pages) {
    ADD_FAILURE() << "FreePool of " << buffer << ", which is not a live pool block";
    return EFI_INVALID_PARAMETER;
  }
  p.CheckGuards(buffer, it->second, "FreePool");
  memset(buffer, 0xDD, it->second.size);  // stale reads show up as garbage
  free(static_cast<uint8_t *>(buffer) - kGuard);
  p.allocs_.erase(it);
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI Platform::Impl::AllocatePages(EFI_ALLOCATE_TYPE type, EFI_MEMORY_TYPE mem, UINTN pages, EFI_PHYSICAL_ADDRESS *memory) {
  Hook();
  if (!memory || mem >= EfiMaxMemoryType || type >= MaxAllocateType) return EFI_INVALID_PARAMETER;
  if (type == AllocateAddress) return EFI_NOT_FOUND;  // host memory cannot be placed at will
  if (ShouldFail() || pages == 0 || pages > (1ULL << 20)) return EFI_OUT_OF_RESOURCES;
  size_t size = pages * EFI_PAGE_SIZE;
  void *block = aligned_alloc(EFI_PAGE_SIZE, size);
  if (type == AllocateMaxAddress && reinterpret_cast<uintptr_t>(block) + size - 1 > *memory) {
    free(block);
    return EFI_NOT_FOUND;
  }
  memset(block, kFreshByte, size);
  P().allocs_[block] = Allocation{size, mem, true};
  *memory = reinterpret_cast<uintptr_t>(block);
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI Platform::Impl::FreePages(EFI_PHYSICAL_ADDRESS memory, UINTN pages) {
  Hook();
  Platform &p = P();
  void *block = reinterpret_cast<void *>(memory);
  auto it = p.allocs_.find(block);
  if (it == p.allocs_.end() || !it->second.pages) {
    ADD_FAILURE() << "FreePages of " << block << ", which is not a live page block";
    return EFI_NOT_FOUND;
  }
  if (it->second.size != pages * EFI_PAGE_SIZE) {
    ADD_FAILURE() << "FreePages with " << pages << " pages of a " << it->second.size / EFI_PAGE_SIZE << "-page block";
    return EFI_INVALID_PARAMETER;
  }
  memset(block, 0xDD, it->second.size);
  free(block);
  p.allocs_.erase(it);
  return EFI_SUCCESS;
}

}  // namespace fake
