// NIC discovery against the hardware model: the bridge routes of each
// processor family, the controller probes and what they leave behind.
#include <gtest/gtest.h>

#include <vector>

#include "netidentity/netidentity.h"
#include "test/fake/hw_model.h"

namespace {

using fake::HwAccess;
using fake::HwModel;

constexpr uint32_t kFamily15Model6x = 0x00660F01;
constexpr uint32_t kOtherFamily = 0x00A60F12;
const uint8_t kMac[6] = {0xF4, 0xB5, 0x20, 0x6C, 0x01, 0x02};

// The board's controller location, as the board is wired; runs before any
// test below rewrites the row.
TEST(NicTable, ShippedTableHasOneIoRowBehindBus2Device1) {
  const uint8_t *row = reinterpret_cast<const uint8_t *>(&NicLocationTable[0]);
  EXPECT_EQ(std::vector<uint8_t>(row, row + 6), (std::vector<uint8_t>{0, 2, 1, 0, 0, 0}));
  EXPECT_EQ(NIC_LOCATION_COUNT, 1);
}

class NicDiscovery : public ::testing::Test {
 protected:
  void SetUp() override {
    NicLocationTable[0] = {NIC_KIND_IO, 2, 1, 0, {0, 0}};
    memset(NicProbeResult, 0, sizeof(NicProbeResult));
    memset(NicProbeMac, 0, sizeof(NicProbeMac));
    NicCurrentRow = 0;
    hw.SetCpuid(1, {kOtherFamily, 0, 0, 0});
  }

  void Bridge(unsigned bus, unsigned dev, unsigned fn, uint8_t secondary) { hw.AddPciFunction(bus, dev, fn)[0x19] = secondary; }
  // An I/O-space controller at bus:00.0 whose ports carry the MAC.
  std::vector<uint8_t> &IoNic(unsigned bus, uint16_t bar = 0xE001, uint8_t command = 0x04) {
    auto &cfg = hw.AddPciFunction(bus, 0, 0);
    cfg[0x10] = (uint8_t)bar;
    cfg[0x11] = (uint8_t)(bar >> 8);
    cfg[0x04] = command;
    for (int i = 0; i < 6; i++) hw.SetPort((uint16_t)((bar & 0xFFF0) + i), kMac[i]);
    return cfg;
  }
  std::vector<uint8_t> &MmioNic(unsigned bus, uint32_t bar, uint8_t command = 0x00) {
    auto &cfg = hw.AddPciFunction(bus, 0, 0);
    memcpy(&cfg[0x10], &bar, 4);
    cfg[0x04] = command;
    return cfg;
  }
  bool ReadAt(uint64_t address) const {
    for (const HwAccess &a : hw.Log())
      if (a.kind == HwAccess::MmioRead && a.address == address) return true;
    return false;
  }
  std::vector<uint64_t> CommandWrites(unsigned bus) const {
    std::vector<uint64_t> v;
    for (const HwAccess &a : hw.Log())
      if (a.kind == HwAccess::MmioWrite && a.address == HwModel::PciAddress(bus, 0, 0, 0x04)) v.push_back(a.value);
    return v;
  }
  void ExpectFound() {
    EXPECT_EQ(NicProbeResult[0].Found, 1u);
    EXPECT_EQ(std::vector<uint8_t>(NicProbeResult[0].Mac, NicProbeResult[0].Mac + 6), std::vector<uint8_t>(kMac, kMac + 6));
  }

  HwModel hw;
};

TEST_F(NicDiscovery, Family15hModel6xUsesTheRowAsTheBridge) {
  hw.SetCpuid(1, {kFamily15Model6x, 0, 0, 0});
  Bridge(2, 1, 0, 5);
  IoNic(5);
  DiscoverNics();
  ExpectFound();
  EXPECT_TRUE(ReadAt(HwModel::PciAddress(2, 1, 0, 0x19)));
  EXPECT_FALSE(ReadAt(0xE0011019)) << "no detour through 00:02.1";
}

TEST_F(NicDiscovery, OtherFamiliesGoThroughTheRootPortFirst) {
  Bridge(0, 2, 1, 3);  // S = 3
  Bridge(4, 1, 0, 7);  // (S+1):01.0 -> B = 7
  IoNic(7);
  DiscoverNics();
  ExpectFound();
  EXPECT_TRUE(ReadAt(0xE0011019));
  EXPECT_FALSE(ReadAt(HwModel::PciAddress(2, 1, 0, 0x19)));
  EXPECT_EQ(hw.Count(HwAccess::PortIn), 6u);
}

TEST_F(NicDiscovery, SelectorFrom0x80GoesOneSwitchFurther) {
  NicLocationTable[0] = {NIC_KIND_IO, 0x80, 1, 0, {0, 0}};
  Bridge(0, 2, 1, 3);    // S = 3
  Bridge(4, 8, 0, 9);    // (S+1):08.0 -> S = 9
  Bridge(10, 1, 0, 12);  // (S+1):01.0 -> B = 12
  IoNic(12);
  DiscoverNics();
  ExpectFound();
  EXPECT_TRUE(ReadAt(HwModel::PciAddress(4, 8, 0, 0x19)));

  SetUp();
  hw.ClearLog();
  NicLocationTable[0] = {NIC_KIND_IO, 0x7F, 1, 0, {0, 0}};  // below 0x80: no extra hop
  Bridge(4, 1, 0, 7);
  IoNic(7);
  DiscoverNics();
  ExpectFound();
  EXPECT_FALSE(ReadAt(HwModel::PciAddress(4, 8, 0, 0x19)));
}

TEST_F(NicDiscovery, BusZeroRowsNameTheDeviceAfterTheBridge) {
  struct Case {
    uint8_t device, function;
    unsigned bridgeDevice, bridgeFunction;
  } cases[] = {{0, 3, 31, 3}, {2, 1, 1, 1}, {0x21, 0x0A, 0, 2}};
  for (const Case &c : cases) {
    SetUp();
    hw.ClearLog();
    NicLocationTable[0] = {NIC_KIND_IO, 0, c.device, c.function, {0, 0}};
    EXPECT_EQ(NicBridgeSecondaryBus(&NicLocationTable[0]), 0xFF) << "nothing there yet";
    EXPECT_TRUE(ReadAt(HwModel::PciAddress(0, c.bridgeDevice, c.bridgeFunction, 0x19))) << int(c.device);
  }
}

TEST_F(NicDiscovery, RootPortSecondaryBus255WrapsToBusZero) {
  Bridge(0, 2, 1, 0xFF);  // no bus below: (S+1) & 0xFF = 0
  NicBridgeSecondaryBus(&NicLocationTable[0]);
  EXPECT_TRUE(ReadAt(HwModel::PciAddress(0, 1, 0, 0x19)));
  for (const HwAccess &a : hw.Log())
    if (a.kind == HwAccess::MmioRead) EXPECT_LT(a.address, HwModel::kPcieBase + 0x10000000ULL);
}

// Mended: bus 0 (bridge not yet numbered: 00:00.0 is the host bridge) and
// bus 0xFF are refused before any register of a "controller" there is read
// or written, and no port is read.
TEST_F(NicDiscovery, BusZeroOrAllOnesIsRefusedBeforeTouchingTheController) {
  for (uint8_t kind : {NIC_KIND_IO, NIC_KIND_MMIO})
    for (uint8_t b : {0x00, 0xFF}) {
      SetUp();
      hw.ClearLog();
      NicLocationTable[0].Kind = kind;
      Bridge(0, 2, 1, 3);
      Bridge(4, 1, 0, b);
      std::vector<uint8_t> &cfg = kind == NIC_KIND_IO ? IoNic(b, 0xE001, 0x04) : MmioNic(b, 0xFEB00000, 0x04);
      DiscoverNics();
      EXPECT_EQ(NicProbeResult[0].Found, 0u) << int(kind) << " " << int(b);
      EXPECT_EQ(NicProbeResult[0].Mac[0], 0) << "a failed probe leaves the record's MAC alone";
      EXPECT_EQ(hw.Count(HwAccess::PortIn), 0u);
      EXPECT_EQ(hw.Count(HwAccess::MmioWrite), 0u);
      EXPECT_EQ(cfg[0x04], 0x04);
      for (const HwAccess &a : hw.Log())
        if (a.kind == HwAccess::MmioRead)
          EXPECT_EQ(a.address & 0xFFF, 0x19u) << "only bridge bus registers are read, not " << std::hex << a.address;
    }
}

TEST_F(NicDiscovery, MissingBridgeMeansNotFound) {
  DiscoverNics();  // nothing in the window: every read is all ones
  EXPECT_EQ(NicProbeResult[0].Found, 0u);
  EXPECT_EQ(hw.Count(HwAccess::PortIn), 0u) << "BAR reads all ones: no MAC read";
}

TEST_F(NicDiscovery, CommandRegisterRestoredAfterTheRead) {
  Bridge(0, 2, 1, 3);
  Bridge(4, 1, 0, 7);
  IoNic(7, 0xE001, 0x04);
  DiscoverNics();
  ExpectFound();
  EXPECT_EQ(CommandWrites(7), (std::vector<uint64_t>{0x05, 0x04}));
  EXPECT_EQ((*hw.PciFunction(7, 0, 0))[0x04], 0x04);
  // The MAC is read while I/O decoding is on: between the two writes.
  size_t firstWrite = 0, lastWrite = 0, firstPort = 0;
  for (size_t i = 0; i < hw.Log().size(); i++) {
    const HwAccess &a = hw.Log()[i];
    if (a.kind == HwAccess::MmioWrite) (firstWrite ? lastWrite : firstWrite) = i;
    if (a.kind == HwAccess::PortIn && !firstPort) firstPort = i;
  }
  EXPECT_LT(firstWrite, firstPort);
  EXPECT_GT(lastWrite, firstPort);
}

TEST_F(NicDiscovery, IoBarAllOnesKeepsTheEnableBitAndReadsNothing) {
  Bridge(0, 2, 1, 3);
  Bridge(4, 1, 0, 7);
  IoNic(7, 0xFFFF, 0x00);
  DiscoverNics();
  EXPECT_EQ(NicProbeResult[0].Found, 0u);
  EXPECT_EQ(hw.Count(HwAccess::PortIn), 0u);
  EXPECT_EQ(CommandWrites(7), (std::vector<uint64_t>{0x01}));
}

TEST_F(NicDiscovery, MmioControllerMacIs0x40IntoItsRegisterBlock) {
  NicLocationTable[0] = {NIC_KIND_MMIO, 2, 1, 0, {0, 0}};
  Bridge(0, 2, 1, 3);
  Bridge(4, 1, 0, 7);
  MmioNic(7, 0xFEB0000C, 0x04);  // flag bits below bit 4 are not address; 64-bit, high half 0
  fake::MmioRegion &regs = hw.AddMmio(0xFEB00000, 0x100);
  memcpy(&regs.bytes[0x40], kMac, 6);
  DiscoverNics();
  ExpectFound();
  EXPECT_EQ(CommandWrites(7), (std::vector<uint64_t>{0x07, 0x04}));
  for (int i = 0; i < 6; i++) EXPECT_TRUE(ReadAt(0xFEB00040 + i));
}

TEST_F(NicDiscovery, MmioBarZeroOrAllOnesReadsNoRegisters) {
  NicLocationTable[0] = {NIC_KIND_MMIO, 2, 1, 0, {0, 0}};
  Bridge(0, 2, 1, 3);
  Bridge(4, 1, 0, 7);
  for (uint32_t bar : {0u, 0xFFFFFFFFu}) {
    hw.ClearLog();
    MmioNic(7, bar);
    DiscoverNics();
    EXPECT_EQ(NicProbeResult[0].Found, 0u);
    for (const HwAccess &a : hw.Log())
      if (a.kind == HwAccess::MmioRead) EXPECT_GE(a.address, HwModel::kPcieBase) << "only configuration reads";
  }
}

// Mended: a BAR of the wrong space, one with no address assigned, or a
// memory block that does not lie wholly below 4 GiB, is not found: no port or
// register-block read, and the command register stays as found.
TEST_F(NicDiscovery, BarThatNamesNoUsableBlockIsNotFoundAndLeftAlone) {
  struct Case {
    uint8_t kind;
    uint32_t bar, high;
    const char *what;
  } cases[] = {
      {NIC_KIND_IO, 0xF7D00004, 0, "memory BAR for an I/O controller"},
      {NIC_KIND_IO, 0x0000E000, 0, "memory BAR whose low word looks like a port base"},
      {NIC_KIND_MMIO, 0x0000E001, 0, "I/O BAR for a memory controller"},
      {NIC_KIND_MMIO, 0xFEB0000C, 1, "64-bit BAR above 4 GiB"},
      {NIC_KIND_MMIO, 0xFFFFFFE0, 0, "MAC would wrap past 4 GiB onto address 0"},
      // No address assigned: ports 0-5 are the legacy DMA controller's, and
      // physical 0x40 is low memory, not a register block.
      {NIC_KIND_IO, 0x00000001, 0, "I/O BAR with no port base"},
      {NIC_KIND_IO, 0x00000005, 0, "I/O BAR whose only address bit lies below the port mask"},
      {NIC_KIND_MMIO, 0x00000004, 0, "64-bit memory BAR with no address"},
      {NIC_KIND_MMIO, 0x00000008, 0, "prefetchable memory BAR with no address"},
      {NIC_KIND_MMIO, 0x0000000C, 0, "prefetchable 64-bit memory BAR with no address"},
  };
  fake::MmioRegion &low = hw.AddMmio(0, 0x100);
  memcpy(&low.bytes[0x20], kMac, 6);  // where a wrapped address would land
  memcpy(&low.bytes[0x40], kMac, 6);  // where a BAR without an address would point
  for (const Case &c : cases) {
    SetUp();
    hw.ClearLog();
    NicLocationTable[0].Kind = c.kind;
    Bridge(0, 2, 1, 3);
    Bridge(4, 1, 0, 7);
    std::vector<uint8_t> &cfg = MmioNic(7, c.bar, 0x04);
    memcpy(&cfg[0x14], &c.high, 4);
    for (int i = 0; i < 6; i++) hw.SetPort((uint16_t)((c.bar & 0xFFF0) + i), kMac[i]);
    DiscoverNics();
    EXPECT_EQ(NicProbeResult[0].Found, 0u) << c.what;
    EXPECT_EQ(hw.Count(HwAccess::PortIn), 0u) << c.what;
    EXPECT_TRUE(CommandWrites(7).empty()) << c.what;
    EXPECT_EQ(cfg[0x04], 0x04) << c.what;
    for (const HwAccess &a : hw.Log())
      if (a.kind == HwAccess::MmioRead) EXPECT_GE(a.address, HwModel::kPcieBase) << c.what;
  }
}

TEST_F(NicDiscovery, UnknownKindReadsNothing) {
  for (uint8_t kind : {2, 0xFF}) {
    hw.ClearLog();
    NicLocationTable[0] = {kind, 2, 1, 0, {0, 0}};
    Bridge(0, 2, 1, 3);
    Bridge(4, 1, 0, 7);
    IoNic(7);
    NicProbeResult[0].Found = 1;
    DiscoverNics();
    EXPECT_EQ(NicProbeResult[0].Found, 0u);
    EXPECT_TRUE(hw.Log().empty());
  }
}

}  // namespace
