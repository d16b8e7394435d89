// The hardware behind include/hw.h in host tests: CPUID per leaf, an MSR
// file, I/O ports (read values, written bytes), MMIO regions and a PCI Express configuration window, with
// a log of every access. One model is current at a time (HwModel::Current()).
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "hw.h"

namespace fake {

struct HwAccess {
  enum Kind { Cpuid, MsrRead, MsrWrite, PortIn, PortOut, MmioRead, MmioWrite } kind;
  uint64_t address;  // leaf, MSR, port or physical address
  unsigned width;    // bytes for MMIO, 8 for MSRs, 1 for ports, 0 for CPUID
  uint64_t value;
};

// A block of MMIO registers: reads and writes land in its bytes unless a
// handler is given.
struct MmioRegion {
  uint64_t base = 0;
  uint64_t size = 0;
  std::vector<uint8_t> bytes;
  std::function<uint64_t(uint64_t offset, unsigned width)> on_read;               // optional
  std::function<void(uint64_t offset, unsigned width, uint64_t value)> on_write;  // optional
};

class HwModel {
 public:
  HwModel();
  ~HwModel();
  static HwModel *Current();

  void SetCpuid(uint32_t leaf, HW_CPUID regs);
  // Leaf 0x80000002..4 from a 48-character brand string.
  void SetBrand(const std::string &brand);
  void SetMsr(uint32_t msr, uint64_t value) { msrs_[msr] = value; }
  uint64_t Msr(uint32_t msr) const;
  bool HasMsr(uint32_t msr) const { return msrs_.count(msr) != 0; }
  void SetPort(uint16_t port, uint8_t value) { ports_[port] = value; }
  // Every byte written to the port so far, in order.
  std::string PortOutput(uint16_t port) const;

  // Plain MMIO register block; returns it so the test can fill or inspect it.
  MmioRegion &AddMmio(uint64_t base, uint64_t size);

  // PCI Express configuration space at 0xE0000000 (bus << 20 | dev << 15 |
  // fn << 12). A function that was not added reads as all ones.
  static constexpr uint64_t kPcieBase = 0xE0000000ULL;
  std::vector<uint8_t> &AddPciFunction(unsigned bus, unsigned dev, unsigned fn);
  std::vector<uint8_t> *PciFunction(unsigned bus, unsigned dev, unsigned fn);
  static uint64_t PciAddress(unsigned bus, unsigned dev, unsigned fn, unsigned reg) {
    return kPcieBase + ((uint64_t)bus << 20) + ((uint64_t)dev << 15) + ((uint64_t)fn << 12) + reg;
  }

  const std::vector<HwAccess> &Log() const { return log_; }
  void ClearLog() { log_.clear(); }
  size_t Count(HwAccess::Kind k) const;

  // internal
  uint64_t Read(HwAccess::Kind k, uint64_t addr, unsigned width);
  void Write(HwAccess::Kind k, uint64_t addr, unsigned width, uint64_t value);
  HW_CPUID Cpuid(uint32_t leaf);

 private:
  MmioRegion *RegionFor(uint64_t addr, unsigned width);
  std::map<uint32_t, HW_CPUID> cpuid_;
  std::map<uint32_t, uint64_t> msrs_;
  std::map<uint16_t, uint8_t> ports_;
  std::vector<std::unique_ptr<MmioRegion>> regions_;
  std::map<uint32_t, std::vector<uint8_t>> pci_;  // key: bus<<8 | dev<<3 | fn
  std::vector<HwAccess> log_;
  static HwModel *current_;
};

}  // namespace fake
