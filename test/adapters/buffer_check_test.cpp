// The SMM buffer check on the fake platform and fake SMM: its start-up, and
// which buffers it lets through before the end of DXE, once it holds the
// memory map, and past the lock point without one. Addresses are only
// compared, never touched, so the tables use made-up ones.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "setuptoken/buffer_check.h"
#include "test/fake/smm.h"

EFI_EXTERN_C EFI_STATUS EFIAPI BufferCheckSmmEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);

namespace {

const EFI_GUID kAccessGuid = EFI_SMM_ACCESS2_PROTOCOL_GUID;
const EFI_GUID kCheckGuid = SMM_BUFFER_CHECK_PROTOCOL_GUID;
const EFI_GUID kEndOfDxeGuid = EFI_SMM_END_OF_DXE_PROTOCOL_GUID;
const EFI_GUID kReadyToLockGuid = EFI_SMM_READY_TO_LOCK_PROTOCOL_GUID;

constexpr UINT64 kTop = ~0ULL;

// SMRAM: a TSEG-like range, a range seen by the CPU at another address than
// its physical one, and one that runs past the top of the address space.
std::vector<EFI_SMRAM_DESCRIPTOR> gSmram = {
    {0x7F000000, 0x7F000000, 0x01000000, 0},
    {0x000A0000, 0x000B0000, 0x00010000, 0},
    {0xFFFFFFFFFFFFF000, 0xFFFFFFFFFFFFF000, 0x2000, 0},
};
EFI_STATUS gCapabilitiesStatus = EFI_SUCCESS;

EFI_STATUS EFIAPI GetCapabilities(const EFI_SMM_ACCESS2_PROTOCOL *, UINTN *Size, EFI_SMRAM_DESCRIPTOR *Map) {
  if (gCapabilitiesStatus != EFI_SUCCESS) return gCapabilitiesStatus;
  UINTN need = gSmram.size() * sizeof(EFI_SMRAM_DESCRIPTOR);
  if (*Size < need) {
    *Size = need;
    return EFI_BUFFER_TOO_SMALL;
  }
  *Size = need;
  for (size_t i = 0; i < gSmram.size(); i++) Map[i] = gSmram[i];
  return EFI_SUCCESS;
}

// The UEFI memory map, with descriptors wider than the structure as the
// standard allows.
constexpr UINTN kDescriptorSize = sizeof(EFI_MEMORY_DESCRIPTOR) + 8;
std::vector<EFI_MEMORY_DESCRIPTOR> gMap = {
    {EfiRuntimeServicesData, 0x10010000, 0, 0x10, 0},  // out of order: the check sorts
    {EfiRuntimeServicesData, 0x10000000, 0, 0x10, 0},
    {EfiReservedMemoryType, 0x10020000, 0, 0x10, 0},  // touches the runtime data: one run
    {EfiACPIMemoryNVS, 0x20000000, 0, 0x01, 0},
    {EfiBootServicesData, 0x20001000, 0, 0x10, 0},
    {EfiConventionalMemory, 0x40000000, 0, 0x100, 0},
    {EfiReservedMemoryType, 0x7E000000, 0, 0x4000, 0},  // holds SMRAM, as firmware reports TSEG
    {EfiRuntimeServicesCode, 0x90000000, 0, 0x10, 0},
    {EfiRuntimeServicesData, 0xA0000000, 0, 0xFFFFFFFFFFFFFFFFULL, 0},  // a page count whose size overflows: ignored
};
int gMapCalls = 0;
EFI_STATUS gMapStatus = EFI_SUCCESS;

EFI_STATUS EFIAPI GetMemoryMap(UINTN *Size, EFI_MEMORY_DESCRIPTOR *Map, UINTN *Key, UINTN *DescriptorSize, UINT32 *Version) {
  gMapCalls++;
  *DescriptorSize = kDescriptorSize;
  *Version = 1;
  *Key = 7;
  if (gMapStatus != EFI_SUCCESS) return gMapStatus;
  UINTN need = gMap.size() * kDescriptorSize;
  if (*Size < need) {
    *Size = need;
    return EFI_BUFFER_TOO_SMALL;
  }
  *Size = need;
  for (size_t i = 0; i < gMap.size(); i++) *(EFI_MEMORY_DESCRIPTOR *)((UINT8 *)Map + i * kDescriptorSize) = gMap[i];
  return EFI_SUCCESS;
}

// One firmware: the platform with SMM Access2 and the fake memory map, and SMM.
struct Firmware {
  Firmware() {
    platform.BootServices()->GetMemoryMap = GetMemoryMap;
    access.GetCapabilities = GetCapabilities;
    EXPECT_EQ(platform.Install(&access_handle, kAccessGuid, &access), EFI_SUCCESS);
  }
  ~Firmware() {
    smm.FreeResident();  // the check keeps its ranges for the life of SMM
    EXPECT_EQ(platform.LivePoolCount(), 0u);
  }
  EFI_STATUS Start() { return BufferCheckSmmEntry(platform.NewImageHandle(), platform.SystemTable()); }
  void Signal(const EFI_GUID &guid) {
    EFI_HANDLE h = nullptr;
    EXPECT_EQ(smm.Install(&h, guid, &marker), EFI_SUCCESS);
  }
  EFI_STATUS Checked(UINT64 Buffer, UINT64 Size) {
    auto *check = (SMM_BUFFER_CHECK_PROTOCOL *)smm.Find(kCheckGuid);
    return check ? check->CheckBuffer((const VOID *)(UINTN)Buffer, Size) : EFI_NOT_STARTED;
  }

  fake::Platform platform;
  fake::Smm smm{platform};
  EFI_SMM_ACCESS2_PROTOCOL access{};
  EFI_HANDLE access_handle = nullptr;
  int marker = 0;
};

class BufferCheck : public ::testing::Test {
 public:
  void SetUp() override {
    gCapabilitiesStatus = gMapStatus = EFI_SUCCESS;
    gMapCalls = 0;
    fw = std::make_unique<Firmware>();
  }
  void TearDown() override { fw.reset(); }
  void Restart() {
    fw.reset();
    fw = std::make_unique<Firmware>();
    gMapCalls = 0;
  }
  std::unique_ptr<Firmware> fw;
};

enum Phase { kBeforeEndOfDxe, kWithMap, kLockedWithoutMap };
constexpr EFI_STATUS OK = EFI_SUCCESS, BAD = EFI_INVALID_PARAMETER, NO = EFI_ACCESS_DENIED;

struct Case {
  const char *what;
  UINT64 buffer, size;
  EFI_STATUS before, with_map, locked_without_map;
};

const Case kCases[] = {
    {"null buffer", 0, 16, BAD, BAD, BAD},
    {"empty buffer", 0x10000000, 0, BAD, BAD, BAD},
    {"wraps past the top", 0xFFFFFFFFFFFFFF00, 0x101, BAD, BAD, BAD},
    {"ends on the top byte", 0xFFFFFFFFFFFFE000, 0x1000, OK, NO, NO},
    {"the top byte, in SMRAM that runs past the top", kTop, 1, NO, NO, NO},
    {"last byte just below SMRAM", 0x7EFFF000, 0x1000, OK, OK, NO},
    {"last byte on SMRAM's first", 0x7EFFF001, 0x1000, NO, NO, NO},
    {"first byte on SMRAM's last", 0x7FFFFFFF, 1, NO, NO, NO},
    {"just above SMRAM", 0x80000000, 0x100, OK, OK, NO},
    {"covers SMRAM", 0x7E000000, 0x4000000, NO, NO, NO},
    {"inside SMRAM", 0x7F800000, 0x10, NO, NO, NO},
    {"SMRAM by its CPU address", 0x000B8000, 0x10, NO, NO, NO},
    {"SMRAM by its physical address", 0x000A8000, 0x10, NO, NO, NO},
    {"between the two views of the aliased range", 0x000B0000 - 0x10, 0x10, NO, NO, NO},
    {"runtime-services data", 0x10000000, 0x10000, OK, OK, NO},
    {"across adjacent runtime data and reserved", 0x1000F000, 0x12000, OK, OK, NO},
    {"last byte of the merged run", 0x1002FFFF, 1, OK, OK, NO},
    {"one byte past the merged run", 0x1002FFFF, 2, OK, NO, NO},
    {"ACPI NVS", 0x20000000, 0x1000, OK, OK, NO},
    {"from ACPI NVS into boot-services data", 0x20000F00, 0x200, OK, NO, NO},
    {"boot-services data", 0x20002000, 0x10, OK, NO, NO},
    {"conventional memory", 0x40000000, 0x10, OK, NO, NO},
    {"runtime-services code", 0x90000000, 0x10, OK, NO, NO},
    {"a descriptor whose size overflows", 0xA0000000, 0x10, OK, NO, NO},
};

TEST_F(BufferCheck, RefusesWhatEachPhaseRefuses) {
  for (Phase phase : {kBeforeEndOfDxe, kWithMap, kLockedWithoutMap}) {
    Restart();
    gMapStatus = phase == kLockedWithoutMap ? EFI_DEVICE_ERROR : EFI_SUCCESS;
    ASSERT_EQ(fw->Start(), EFI_SUCCESS);
    if (phase != kBeforeEndOfDxe) {
      fw->Signal(kEndOfDxeGuid);
      fw->Signal(kReadyToLockGuid);
    }
    for (const Case &c : kCases) {
      EFI_STATUS want = phase == kBeforeEndOfDxe ? c.before : phase == kWithMap ? c.with_map : c.locked_without_map;
      EXPECT_EQ(fw->Checked(c.buffer, c.size), want) << c.what << " (phase " << phase << ")";
    }
  }
}

// The map is read once, at the end of DXE, and never again after the lock:
// memory freed or allocated later does not change what is accepted.
TEST_F(BufferCheck, TakesTheMapOnceAtTheEndOfDxe) {
  ASSERT_EQ(fw->Start(), EFI_SUCCESS);
  EXPECT_EQ(gMapCalls, 0);
  EXPECT_EQ(fw->smm.LivePoolCount(), 1u);  // the SMRAM ranges
  fw->Signal(kEndOfDxeGuid);
  EXPECT_EQ(gMapCalls, 2);  // the size, then the map
  EXPECT_EQ(fw->smm.LivePoolCount(), 2u);
  gMap[0].Type = EfiBootServicesData;
  fw->Signal(kReadyToLockGuid);
  fw->Signal(kEndOfDxeGuid);
  gMap[0].Type = EfiRuntimeServicesData;
  EXPECT_EQ(gMapCalls, 2);
  EXPECT_EQ(fw->Checked(0x10010000, 0x100), EFI_SUCCESS);
}

// Loaded after the end of DXE, it takes the map at once; after the lock it
// calls no boot service and refuses everything.
TEST_F(BufferCheck, StartedLateTakesTheMapOrRefusesAll) {
  fw->Signal(kEndOfDxeGuid);
  ASSERT_EQ(fw->Start(), EFI_SUCCESS);
  EXPECT_EQ(gMapCalls, 2);
  EXPECT_EQ(fw->Checked(0x20002000, 0x10), EFI_ACCESS_DENIED);
  EXPECT_EQ(fw->Checked(0x10000000, 0x10), EFI_SUCCESS);

  Restart();
  fw->Signal(kEndOfDxeGuid);
  fw->Signal(kReadyToLockGuid);
  ASSERT_EQ(fw->Start(), EFI_SUCCESS);
  EXPECT_EQ(gMapCalls, 0);
  EXPECT_EQ(fw->Checked(0x10000000, 0x10), EFI_ACCESS_DENIED);
}

// The real registration, for the double that refuses the second one.
decltype(EFI_SMM_SYSTEM_TABLE2::SmmRegisterProtocolNotify) gRegister;

EFI_STATUS EFIAPI RefuseLockRegistration(const EFI_GUID *Guid, EFI_SMM_NOTIFY_FN Fn, VOID **Registration) {
  if (Fn != nullptr && memcmp(Guid, &kReadyToLockGuid, sizeof *Guid) == 0) return EFI_OUT_OF_RESOURCES;
  return gRegister(Guid, Fn, Registration);
}

// A failed start leaves nothing behind: no protocol, no notification, no SMRAM.
TEST_F(BufferCheck, FailedStartLeavesNothing) {
  struct Failure {
    const char *what;
    void (*arrange)(Firmware *);
    EFI_STATUS want;
  };
  const Failure failures[] = {
      {"no SMM Access2", [](Firmware *t) { t->platform.FailLocate(kAccessGuid, EFI_NOT_FOUND); }, EFI_NOT_FOUND},
      {"GetCapabilities fails", [](Firmware *) { gCapabilitiesStatus = EFI_DEVICE_ERROR; }, EFI_DEVICE_ERROR},
      {"empty SMRAM map", [](Firmware *) { gSmram.clear(); }, EFI_NOT_FOUND},
      {"first SMRAM allocation fails", [](Firmware *t) { t->smm.FailAllocation(1); }, EFI_OUT_OF_RESOURCES},
      {"second SMRAM allocation fails", [](Firmware *t) { t->smm.FailAllocation(2); }, EFI_OUT_OF_RESOURCES},
      {"second registration fails", [](Firmware *t) { t->smm.Table()->SmmRegisterProtocolNotify = RefuseLockRegistration; },
       EFI_OUT_OF_RESOURCES},
  };
  const std::vector<EFI_SMRAM_DESCRIPTOR> smram = gSmram;
  for (const Failure &f : failures) {
    Restart();
    gRegister = fw->smm.Table()->SmmRegisterProtocolNotify;
    f.arrange(fw.get());
    EXPECT_EQ(fw->Start(), f.want) << f.what;
    EXPECT_EQ(fw->smm.Find(kCheckGuid), nullptr) << f.what;
    EXPECT_EQ(fw->smm.LivePoolCount(), 0u) << f.what;
    EXPECT_EQ(fw->smm.NotifyCount(kEndOfDxeGuid) + fw->smm.NotifyCount(kReadyToLockGuid), 0u) << f.what;
    gSmram = smram;
    gCapabilitiesStatus = EFI_SUCCESS;
  }
}

}  // namespace
