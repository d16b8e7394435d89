// The hardware model behind include/hw.h for host tests.
#include "hw_model.h"

#include <gtest/gtest.h>

#include <cstring>

namespace fake {

HwModel *HwModel::current_ = nullptr;

HwModel::HwModel() {
  if (current_) ADD_FAILURE() << "two hardware models at once";
  current_ = this;
}

HwModel::~HwModel() { current_ = nullptr; }

HwModel *HwModel::Current() { return current_; }

void HwModel::SetCpuid(uint32_t leaf, HW_CPUID regs) { cpuid_[leaf] = regs; }

void HwModel::SetBrand(const std::string &brand) {
  char b[48] = {};
  memcpy(b, brand.data(), brand.size() < 48 ? brand.size() : 47);
  for (uint32_t i = 0; i < 3; i++) {
    HW_CPUID r;
    memcpy(&r, b + 16 * i, 16);
    cpuid_[0x80000002 + i] = r;
  }
}

uint64_t HwModel::Msr(uint32_t msr) const {
  auto it = msrs_.find(msr);
  return it == msrs_.end() ? 0 : it->second;
}

MmioRegion &HwModel::AddMmio(uint64_t base, uint64_t size) {
  auto r = std::make_unique<MmioRegion>();
  r->base = base;
  r->size = size;
  r->bytes.assign(size, 0);
  regions_.push_back(std::move(r));
  return *regions_.back();
}

std::vector<uint8_t> &HwModel::AddPciFunction(unsigned bus, unsigned dev, unsigned fn) {
  auto &cfg = pci_[(bus << 8) | (dev << 3) | fn];
  cfg.assign(4096, 0);
  return cfg;
}

std::vector<uint8_t> *HwModel::PciFunction(unsigned bus, unsigned dev, unsigned fn) {
  auto it = pci_.find((bus << 8) | (dev << 3) | fn);
  return it == pci_.end() ? nullptr : &it->second;
}

MmioRegion *HwModel::RegionFor(uint64_t addr, unsigned width) {
  for (auto &r : regions_)
    if (addr >= r->base && addr + width <= r->base + r->size) return r.get();
  return nullptr;
}

std::string HwModel::PortOutput(uint16_t port) const {
  std::string out;
  for (auto &a : log_)
    if (a.kind == HwAccess::PortOut && a.address == port) out += static_cast<char>(a.value);
  return out;
}

size_t HwModel::Count(HwAccess::Kind k) const {
  size_t n = 0;
  for (auto &a : log_) n += a.kind == k;
  return n;
}

HW_CPUID HwModel::Cpuid(uint32_t leaf) {
  auto it = cpuid_.find(leaf);
  HW_CPUID r = it == cpuid_.end() ? HW_CPUID{0, 0, 0, 0} : it->second;
  log_.push_back({HwAccess::Cpuid, leaf, 0, r.Eax});
  return r;
}

uint64_t HwModel::Read(HwAccess::Kind k, uint64_t addr, unsigned width) {
  uint64_t v = 0;
  switch (k) {
    case HwAccess::MsrRead:
      v = Msr(static_cast<uint32_t>(addr));
      break;
    case HwAccess::PortIn: {
      auto it = ports_.find(static_cast<uint16_t>(addr));
      v = it == ports_.end() ? 0xFF : it->second;
      break;
    }
    case HwAccess::MmioRead: {
      if (addr >= kPcieBase && addr < kPcieBase + (256ULL << 20)) {
        uint64_t off = addr - kPcieBase;
        auto *cfg = PciFunction(off >> 20, (off >> 15) & 31, (off >> 12) & 7);
        unsigned reg = off & 0xFFF;
        if (!cfg || reg + width > 4096) {
          v = width == 1 ? 0xFF : width == 2 ? 0xFFFF : 0xFFFFFFFFu;
        } else {
          memcpy(&v, cfg->data() + reg, width);
        }
        break;
      }
      MmioRegion *r = RegionFor(addr, width);
      if (!r) {
        ADD_FAILURE() << "MMIO read of unmodelled address 0x" << std::hex << addr;
        v = width == 1 ? 0xFF : width == 2 ? 0xFFFF : 0xFFFFFFFFu;
      } else if (r->on_read) {
        v = r->on_read(addr - r->base, width);
      } else {
        memcpy(&v, r->bytes.data() + (addr - r->base), width);
      }
      break;
    }
    default:
      break;
  }
  log_.push_back({k, addr, width, v});
  return v;
}

void HwModel::Write(HwAccess::Kind k, uint64_t addr, unsigned width, uint64_t value) {
  log_.push_back({k, addr, width, value});
  if (k == HwAccess::MsrWrite) {
    msrs_[static_cast<uint32_t>(addr)] = value;
    return;
  }
  if (k == HwAccess::PortOut) return;  // the log is the port's record
  if (addr >= kPcieBase && addr < kPcieBase + (256ULL << 20)) {
    uint64_t off = addr - kPcieBase;
    auto *cfg = PciFunction(off >> 20, (off >> 15) & 31, (off >> 12) & 7);
    unsigned reg = off & 0xFFF;
    if (cfg && reg + width <= 4096) memcpy(cfg->data() + reg, &value, width);
    return;
  }
  MmioRegion *r = RegionFor(addr, width);
  if (!r) {
    ADD_FAILURE() << "MMIO write to unmodelled address 0x" << std::hex << addr;
  } else if (r->on_write) {
    r->on_write(addr - r->base, width, value);
  } else {
    memcpy(r->bytes.data() + (addr - r->base), &value, width);
  }
}

}  // namespace fake

using fake::HwAccess;
using fake::HwModel;

static HwModel &Model() {
  HwModel *m = HwModel::Current();
  if (!m) {
    ADD_FAILURE() << "hardware accessed with no hardware model in place";
    static HwModel *fallback = nullptr;  // keeps the test alive to report
    if (!fallback) fallback = new HwModel();
    return *fallback;
  }
  return *m;
}

extern "C" {
HW_CPUID HwCpuid(UINT32 leaf) { return Model().Cpuid(leaf); }
UINT64 HwReadMsr(UINT32 msr) { return Model().Read(HwAccess::MsrRead, msr, 8); }
void HwWriteMsr(UINT32 msr, UINT64 value) { Model().Write(HwAccess::MsrWrite, msr, 8, value); }
UINT8 HwIn8(UINT16 port) { return static_cast<UINT8>(Model().Read(HwAccess::PortIn, port, 1)); }
void HwOut8(UINT16 port, UINT8 v) { Model().Write(HwAccess::PortOut, port, 1, v); }
UINT8 HwMmioRead8(UINT64 a) { return static_cast<UINT8>(Model().Read(HwAccess::MmioRead, a, 1)); }
UINT16 HwMmioRead16(UINT64 a) { return static_cast<UINT16>(Model().Read(HwAccess::MmioRead, a, 2)); }
UINT32 HwMmioRead32(UINT64 a) { return static_cast<UINT32>(Model().Read(HwAccess::MmioRead, a, 4)); }
void HwMmioWrite8(UINT64 a, UINT8 v) { Model().Write(HwAccess::MmioWrite, a, 1, v); }
void HwMmioWrite16(UINT64 a, UINT16 v) { Model().Write(HwAccess::MmioWrite, a, 2, v); }
void HwMmioWrite32(UINT64 a, UINT32 v) { Model().Write(HwAccess::MmioWrite, a, 4, v); }
}
