// SPDX-License-Identifier: BSD-2-Clause-Patent
// Fuzzes the token service's record message: the first input byte picks
// whether a buffer check is there and whether it refuses, the next two how
// many calls the service has kept, the rest is the message as it arrives.
// Each reply is checked against the calls made; a status an SMI handler may
// not return, a write past the message or a wrong entry ends the run.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "adapters/token_record.h"
#include "setuptoken/buffer_check.h"
#include "setuptoken/token_service.h"

EFI_EXTERN_C EFI_STATUS EFIAPI TokenServiceSmmEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);

namespace {

#define REQUIRE(c)              \
  do {                          \
    if (!(c)) __builtin_trap(); \
  } while (0)

EFI_SMM_HANDLER_ENTRY_POINT2 gHandler;
TOKEN_SERVICE_PROTOCOL *gService;
bool gCheckPresent, gCheckRefuses;

EFI_STATUS EFIAPI CheckBuffer(const VOID *, UINTN) { return gCheckRefuses ? EFI_ACCESS_DENIED : EFI_SUCCESS; }
SMM_BUFFER_CHECK_PROTOCOL gCheck = {.CheckBuffer = CheckBuffer};
// Defined below, once the functions they point at are.
extern EFI_SMM_SYSTEM_TABLE2 gTable;
extern EFI_SMM_BASE2_PROTOCOL gBase2;
EFI_STATUS EFIAPI GetSmst(const EFI_SMM_BASE2_PROTOCOL *, EFI_SMM_SYSTEM_TABLE2 **Smst) {
  *Smst = &gTable;
  return EFI_SUCCESS;
}
EFI_STATUS EFIAPI LocateBase2(const EFI_GUID *, VOID *, VOID **Interface) {
  *Interface = &gBase2;
  return EFI_SUCCESS;
}
EFI_STATUS EFIAPI SmmLocate(const EFI_GUID *, VOID *, VOID **Interface) {
  if (!gCheckPresent) return EFI_NOT_FOUND;
  *Interface = &gCheck;
  return EFI_SUCCESS;
}
EFI_STATUS EFIAPI Register(EFI_SMM_HANDLER_ENTRY_POINT2 Handler, const EFI_GUID *, EFI_HANDLE *Dispatch) {
  gHandler = Handler;
  *Dispatch = (EFI_HANDLE)&gHandler;
  return EFI_SUCCESS;
}
EFI_STATUS EFIAPI Install(EFI_HANDLE *Handle, const EFI_GUID *, EFI_INTERFACE_TYPE, VOID *Interface) {
  gService = (TOKEN_SERVICE_PROTOCOL *)Interface;
  *Handle = (EFI_HANDLE)&gService;
  return EFI_SUCCESS;
}

// The few services the service's start-up and handler call, wired once.
EFI_SMM_BASE2_PROTOCOL gBase2 = {.GetSmstLocation = GetSmst};
EFI_BOOT_SERVICES gBoot = {.LocateProtocol = LocateBase2};
EFI_SYSTEM_TABLE gSystem = {.BootServices = &gBoot};
EFI_SMM_SYSTEM_TABLE2 gTable = {.SmmInstallProtocolInterface = Install, .SmmLocateProtocol = SmmLocate, .SmiHandlerRegister = Register};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  if (Size < 3) return 0;
  gCheckPresent = Data[0] & 1;
  gCheckRefuses = Data[0] & 2;
  REQUIRE(TokenServiceSmmEntry(nullptr, &gSystem) == EFI_SUCCESS && gHandler && gService);

  // Call 0 opens the session, call n > 0 writes token n.
  UINT64 calls = 1 + ((Data[1] | Data[2] << 8) % (3 * TOKEN_RECORD_CAPACITY));
  REQUIRE(gService->Open(gService, gService) == EFI_SUCCESS);
  for (UINT64 n = 1; n < calls; n++) gService->Set32(gService, 3, (UINT32)n, (UINT32)~n);

  size_t size = Size - 3;
  std::vector<uint8_t> message(Data + 3, Data + Size);
  UINTN commSize = size;
  EFI_STATUS status = gHandler(nullptr, nullptr, size ? message.data() : nullptr, &commSize);
  if (size < sizeof(TOKEN_RECORD_MESSAGE) || (gCheckPresent && gCheckRefuses)) {
    REQUIRE(status == EFI_WARN_INTERRUPT_SOURCE_PENDING && commSize == size);
    REQUIRE(size == 0 || memcmp(message.data(), Data + 3, size) == 0);
    return 0;
  }
  REQUIRE(status == EFI_SUCCESS);
  TOKEN_RECORD_MESSAGE header;
  memcpy(&header, message.data(), sizeof header);
  UINT64 asked;
  memcpy(&asked, Data + 3, sizeof asked);
  UINT64 oldest = calls > TOKEN_RECORD_CAPACITY ? calls - TOKEN_RECORD_CAPACITY : 0;
  UINT64 first = asked < oldest ? oldest : asked > calls ? calls : asked;
  size_t room = (size - sizeof header) / sizeof(TOKEN_RECORD_ENTRY);
  REQUIRE(header.Total == calls && header.First == first && header.Capacity == TOKEN_RECORD_CAPACITY);
  REQUIRE(header.Count == (calls - first < room ? calls - first : room));
  REQUIRE(commSize == sizeof header + header.Count * sizeof(TOKEN_RECORD_ENTRY));
  for (UINT32 i = 0; i < header.Count; i++) {
    TOKEN_RECORD_ENTRY e;
    memcpy(&e, message.data() + sizeof header + i * sizeof e, sizeof e);
    UINT64 n = first + i;
    if (n == 0)
      REQUIRE(e.Entry == 15 && e.Token == 0);
    else
      REQUIRE(e.Entry == 24 && e.Level == 3 && e.Token == (UINT32)n && e.Value == (UINT32)~n);
  }
  // Bytes past the reply are the sender's own.
  REQUIRE(memcmp(message.data() + commSize, Data + 3 + commSize, size - commSize) == 0);
  return 0;
}
