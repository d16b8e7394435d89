// Finds the on-board NIC behind the PCI Express bridges named by a fixed
// table and reads its MAC address straight from its registers; no PCI
// enumeration service is running yet that could be asked instead.
#include "hw.h"
#include "netidentity/netidentity.h"

NIC_LOCATION NicLocationTable[NIC_LOCATION_COUNT] = {
    {NIC_KIND_IO, 2, 1, 0, {0, 0}},
};
NIC_PROBE_RESULT NicProbeResult[NIC_LOCATION_COUNT];
UINT8 NicProbeMac[6];
UINT8 NicCurrentRow;

namespace {

constexpr UINT64 PCIE_WINDOW = 0xE0000000ULL;
constexpr UINT64 PCIE_WINDOW_SIZE = 0x10000000ULL;  // 256 MiB, buses 0-255
constexpr UINT32 FAMILY_MASK = 0x0FFF0F00;
constexpr UINT32 FAMILY15_MODEL6X = 0x00660F00;
constexpr UINT8 REG_COMMAND = 0x04;
constexpr UINT8 REG_BAR0 = 0x10;
constexpr UINT8 REG_SECONDARY_BUS = 0x19;
constexpr UINT8 COMMAND_IO = 0x01;
constexpr UINT8 COMMAND_MEMORY = 0x02;
constexpr UINT32 MAC_OFFSET = 0x40;    // in the MMIO register block
constexpr UINT32 BAR_IO_SPACE = 0x01;  // BAR bit 0: the BAR decodes I/O ports
constexpr UINT32 BAR_TYPE_MASK = 0x06;
constexpr UINT32 BAR_TYPE64 = 0x04;  // a 64-bit BAR: the next BAR holds the high half
constexpr UINT16 IO_BASE_MASK = 0xFFF0;
constexpr UINT32 MMIO_BASE_MASK = 0xFFFFFFF0;

struct PCI_ADDRESS {
  UINT32 Bus;
  UINT32 Device;
  UINT32 Function;
};

// Window offset of a register, or false when it would reach past the window.
bool ConfigAddress(const PCI_ADDRESS &At, UINT32 Reg, UINT64 *Address) {
  const UINT64 Offset = ((UINT64)At.Bus << 20) + ((UINT64)At.Device << 15) + ((UINT64)At.Function << 12) + Reg;
  if (Offset >= PCIE_WINDOW_SIZE) return false;
  *Address = PCIE_WINDOW + Offset;
  return true;
}

UINT8 ConfigRead8(const PCI_ADDRESS &At, UINT32 Reg) {
  UINT64 Address;
  return ConfigAddress(At, Reg, &Address) ? HwMmioRead8(Address) : 0xFF;
}

UINT16 ConfigRead16(const PCI_ADDRESS &At, UINT32 Reg) {
  UINT64 Address;
  return ConfigAddress(At, Reg, &Address) ? HwMmioRead16(Address) : 0xFFFF;
}

UINT32 ConfigRead32(const PCI_ADDRESS &At, UINT32 Reg) {
  UINT64 Address;
  return ConfigAddress(At, Reg, &Address) ? HwMmioRead32(Address) : 0xFFFFFFFF;
}

void ConfigWrite8(const PCI_ADDRESS &At, UINT32 Reg, UINT8 Value) {
  UINT64 Address;
  if (ConfigAddress(At, Reg, &Address)) HwMmioWrite8(Address, Value);
}

bool BusIsValid(UINT8 Bus) { return Bus != 0 && Bus != 0xFF; }

// The controller is function 0 of device 0 on the bridge's secondary bus.
PCI_ADDRESS ControllerOf(UINT8 SecondaryBus) { return PCI_ADDRESS{SecondaryBus, 0, 0}; }

// The MAC bytes' address, or false when the BAR names no memory block below
// 4 GiB that holds them: an I/O BAR, one with no address assigned, a 64-bit
// BAR placed above 4 GiB, or a block whose MAC would run past 4 GiB and wrap
// onto low memory.
bool MmioMacAddress(const PCI_ADDRESS &Nic, UINT32 Bar, UINT32 *Mac) {
  if ((Bar & BAR_IO_SPACE) || (Bar & MMIO_BASE_MASK) == 0) return false;
  if ((Bar & BAR_TYPE_MASK) == BAR_TYPE64 && ConfigRead32(Nic, REG_BAR0 + 4) != 0) return false;
  const UINT64 Address = (UINT64)(Bar & MMIO_BASE_MASK) + MAC_OFFSET;
  if (Address + sizeof(NicProbeMac) > 0x100000000ULL) return false;
  *Mac = (UINT32)Address;
  return true;
}

}  // namespace

UINT8 NicBridgeSecondaryBus(const NIC_LOCATION *Row) {
  PCI_ADDRESS Bridge;
  if ((HwCpuid(1).Eax & FAMILY_MASK) == FAMILY15_MODEL6X) {
    Bridge = {Row->Bus, Row->Device & 0x1Fu, Row->Function & 7u};
  } else if (Row->Bus == 0) {
    // Root-port rows name the device after the bridge, hence the minus one.
    Bridge = {0, (Row->Device - 1u) & 0x1Fu, Row->Function & 7u};
  } else {
    // The row's Bus is only a selector here: the bridge hangs below the
    // root port 00:02.1, one switch further down for selectors from 0x80.
    UINT8 Secondary = ConfigRead8(PCI_ADDRESS{0, 2, 1}, REG_SECONDARY_BUS);
    if (Row->Bus & 0x80) Secondary = ConfigRead8(PCI_ADDRESS{(Secondary + 1u) & 0xFFu, 8, 0}, REG_SECONDARY_BUS);
    Bridge = {(Secondary + 1u) & 0xFFu, Row->Device & 0x1Fu, Row->Function & 7u};
  }
  return ConfigRead8(Bridge, REG_SECONDARY_BUS);
}

// Bus 0 is the host bridge's (the bridge has no bus assigned yet) and 0xFF
// is no bridge at all: nothing on either may be touched, so the bus is judged
// before any controller register is.
UINTN ProbeIoNic(VOID) {
  const UINT8 Bus = NicBridgeSecondaryBus(&NicLocationTable[NicCurrentRow]);
  if (!BusIsValid(Bus)) return 0;
  const PCI_ADDRESS Nic = ControllerOf(Bus);
  const UINT16 Bar = ConfigRead16(Nic, REG_BAR0);
  // A memory BAR's low bits are no port base, and a BAR with no port assigned
  // points at port 0: reading "the MAC" there would hit whatever legacy
  // device owns those ports.
  if ((Bar & BAR_IO_SPACE) == 0 || (Bar & IO_BASE_MASK) == 0) return 0;
  const UINT8 Command = ConfigRead8(Nic, REG_COMMAND);
  ConfigWrite8(Nic, REG_COMMAND, Command | COMMAND_IO);
  if (Bar == 0xFFFF) return 0;
  const UINT16 Port = Bar & IO_BASE_MASK;
  for (UINT16 i = 0; i < 6; i++) NicProbeMac[i] = HwIn8((UINT16)(Port + i));
  ConfigWrite8(Nic, REG_COMMAND, Command);
  return 1;
}

UINTN ProbeMmioNic(VOID) {
  const UINT8 Bus = NicBridgeSecondaryBus(&NicLocationTable[NicCurrentRow]);
  if (!BusIsValid(Bus)) return 0;
  const PCI_ADDRESS Nic = ControllerOf(Bus);
  const UINT32 Bar = ConfigRead32(Nic, REG_BAR0);
  const bool Present = Bar != 0 && Bar != 0xFFFFFFFF;
  UINT32 Mac = 0;
  if (Present && !MmioMacAddress(Nic, Bar, &Mac)) return 0;
  const UINT8 Command = ConfigRead8(Nic, REG_COMMAND);
  ConfigWrite8(Nic, REG_COMMAND, Command | COMMAND_IO | COMMAND_MEMORY);
  if (!Present) return 0;
  for (UINT32 i = 0; i < 6; i++) NicProbeMac[i] = HwMmioRead8(Mac + i);
  ConfigWrite8(Nic, REG_COMMAND, Command);
  return 1;
}

VOID DiscoverNics(VOID) {
  NicCurrentRow = 0;
  for (UINTN Row = 0; Row < NIC_LOCATION_COUNT; Row++) {
    UINTN Found = 0;
    switch (NicLocationTable[Row].Kind) {
      case NIC_KIND_IO:
        Found = ProbeIoNic();
        break;
      case NIC_KIND_MMIO:
        Found = ProbeMmioNic();
        break;
      default:
        break;
    }
    NicProbeResult[Row].Found = Found;
    if (Found) __builtin_memcpy(NicProbeResult[Row].Mac, NicProbeMac, sizeof(NicProbeMac));
    NicCurrentRow++;
  }
}
