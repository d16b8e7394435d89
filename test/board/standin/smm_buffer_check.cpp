// The board's SMM buffer check, an SMM driver: a buffer handed in from
// outside may be used only when no byte of it lies in SMRAM. The SMRAM
// ranges come from the firmware's SMM Access2 protocol at load, and are kept
// in SMRAM, where nothing outside can change them.
#include "setuptoken/buffer_check.h"
#include "test/board/standin/smm_common.h"

static BOARD_CHECK_PROBE Probe;
static SMM_BUFFER_CHECK_PROTOCOL Check;
static EFI_SMRAM_DESCRIPTOR Map[16];
static UINTN MapCount;

static EFI_STATUS EFIAPI CheckBuffer(const VOID *Buffer, UINTN Size) {
  Probe.Checks++;
  Probe.LastBuffer = (UINT64)(UINTN)Buffer;
  Probe.LastSize = Size;
  UINT64 start = (UINT64)(UINTN)Buffer;
  EFI_STATUS status = EFI_SUCCESS;
  if (Buffer == nullptr || Size == 0 || start + Size < start) {
    status = EFI_INVALID_PARAMETER;
  } else {
    for (UINTN i = 0; i < MapCount; i++) {
      UINT64 lo = Map[i].CpuStart, hi = Map[i].CpuStart + Map[i].PhysicalSize;
      if (start < hi && start + Size > lo) status = EFI_ACCESS_DENIED;
    }
  }
  if (EFI_ERROR(status)) Probe.Refused++;
  return status;
}

extern "C" EFI_STATUS EFIAPI BoardBufferCheckEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  (void)ImageHandle;
  EFI_SMM_SYSTEM_TABLE2 *smst = BoardSmst(SystemTable);
  if (smst == nullptr) return EFI_NOT_FOUND;
  // Without the SMRAM map no buffer can be vouched for: better no check at all.
  static const EFI_GUID accessGuid = EFI_SMM_ACCESS2_PROTOCOL_GUID;
  EFI_SMM_ACCESS2_PROTOCOL *access = nullptr;
  EFI_STATUS status = SystemTable->BootServices->LocateProtocol(&accessGuid, nullptr, (VOID **)&access);
  if (EFI_ERROR(status)) return status;
  UINTN size = sizeof Map;
  status = access->GetCapabilities(access, &size, Map);
  if (EFI_ERROR(status)) return status;
  MapCount = size / sizeof Map[0];
  if (MapCount == 0) return EFI_NOT_FOUND;
  Probe.RangeCount = MapCount;
  for (UINTN i = 0; i < MapCount && i < BOARD_SMRAM_RANGES; i++) {
    Probe.Ranges[i][0] = Map[i].CpuStart;
    Probe.Ranges[i][1] = Map[i].PhysicalSize;
  }
  Check.CheckBuffer = CheckBuffer;
  static const EFI_GUID checkGuid = SMM_BUFFER_CHECK_PROTOCOL_GUID;
  static const EFI_GUID probeGuid = BOARD_CHECK_PROBE_GUID;
  EFI_HANDLE handle = nullptr;
  status = smst->SmmInstallProtocolInterface(&handle, &checkGuid, EFI_NATIVE_INTERFACE, &Check);
  if (EFI_ERROR(status)) return status;
  return smst->SmmInstallProtocolInterface(&handle, &probeGuid, EFI_NATIVE_INTERFACE, &Probe);
}
