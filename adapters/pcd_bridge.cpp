// SPDX-License-Identifier: BSD-2-Clause-Patent
// PcdBridgeDxe: the board drivers ask the PCD protocol for fixed token numbers
// (846, 1103, ... 1293), while an EDK II platform numbers its own dynamic PCDs
// from 1 and keeps the package's PCDs as DynamicEx ones under the token
// numbers its DEC gives. The bridge takes the PCD protocol's place on the
// platform's handle and answers those numbers from the DynamicEx PCDs (the
// platform's ...Ex calls); every other call goes to the platform's protocol
// unchanged. It bridges nothing when one of the platform's own local token
// numbers is one of ours, since that module's reads would change.
#include "adapters/start.h"
#include "efi/debug_print.h"
#include "efi/efi.h"

// clang-format off
#define BOARD_DRIVERS_TOKEN_SPACE_GUID {0x40EE853C, 0xD440, 0x44B5, {0xBC, 0xC4, 0x60, 0xF6, 0xE9, 0x49, 0x3E, 0x3A}}
// clang-format on

namespace {

const EFI_GUID gPcdProtocolGuid = PCD_PROTOCOL_GUID;
const EFI_GUID gBoardDriversTokenSpaceGuid = BOARD_DRIVERS_TOKEN_SPACE_GUID;
const EFI_GUID gDebugPrintProtocolGuid = DEBUG_PRINT_PROTOCOL_GUID;

// The token numbers the board drivers use, in increasing order: the library's
// eleven cached values and the settings exchange buffer's address.
constexpr UINT16 BridgedTokens[] = {846, 1103, 1111, 1112, 1178, 1179, 1180, 1181, 1182, 1183, 1184, 1293};
constexpr UINTN BRIDGED_COUNT = sizeof BridgedTokens / sizeof BridgedTokens[0];
constexpr UINTN HIGHEST_BRIDGED = BridgedTokens[BRIDGED_COUNT - 1];
// A walk of a token space longer than this is taken as a broken answer.
constexpr UINTN MAX_WALK = 0x10000;

PCD_PROTOCOL *PlatformPcd;    // the platform's own interface, which the bridge forwards to
PCD_PROTOCOL BridgePcd;       // what LocateProtocol finds once the bridge is in place
BOOLEAN Held[BRIDGED_COUNT];  // the platform's database holds BridgedTokens[i] in our token space

bool IsOurNumber(UINTN Token) {
  for (UINT16 t : BridgedTokens)
    if (t == Token) return true;
  return false;
}

// Only the numbers whose DynamicEx PCD exists are answered from it: a number
// the platform lacks goes on as before, to the platform's own answer.
bool Bridged(UINTN Token) {
  for (UINTN i = 0; i < BRIDGED_COUNT; i++)
    if (BridgedTokens[i] == Token) return Held[i] != 0;
  return false;
}

#define BRIDGE_GET(Name, Type)                                                                         \
  Type EFIAPI Name(UINTN TokenNumber) {                                                                \
    if (Bridged(TokenNumber)) return PlatformPcd->Name##Ex(&gBoardDriversTokenSpaceGuid, TokenNumber); \
    return PlatformPcd->Name(TokenNumber);                                                             \
  }
#define BRIDGE_SET(Name, Type)                                                                                \
  EFI_STATUS EFIAPI Name(UINTN TokenNumber, Type Value) {                                                     \
    if (Bridged(TokenNumber)) return PlatformPcd->Name##Ex(&gBoardDriversTokenSpaceGuid, TokenNumber, Value); \
    return PlatformPcd->Name(TokenNumber, Value);                                                             \
  }
BRIDGE_GET(Get8, UINT8)
BRIDGE_GET(Get16, UINT16)
BRIDGE_GET(Get32, UINT32)
BRIDGE_GET(Get64, UINT64)
BRIDGE_GET(GetPtr, VOID *)
BRIDGE_GET(GetBool, BOOLEAN)
BRIDGE_GET(GetSize, UINTN)
BRIDGE_SET(Set8, UINT8)
BRIDGE_SET(Set16, UINT16)
BRIDGE_SET(Set32, UINT32)
BRIDGE_SET(Set64, UINT64)
BRIDGE_SET(SetBool, BOOLEAN)

EFI_STATUS EFIAPI SetPtr(UINTN TokenNumber, UINTN *SizeOfBuffer, VOID *Buffer) {
  if (Bridged(TokenNumber)) return PlatformPcd->SetPtrEx(&gBoardDriversTokenSpaceGuid, TokenNumber, SizeOfBuffer, Buffer);
  return PlatformPcd->SetPtr(TokenNumber, SizeOfBuffer, Buffer);
}

// Error-level report to the board's debug print protocol, when there is one yet.
VOID EFIAPI Report(const CHAR8 *Format, ...) {
  VOID *Interface = nullptr;
  if (EFI_ERROR(gBS->LocateProtocol(&gDebugPrintProtocolGuid, nullptr, &Interface)) || Interface == nullptr) return;
  EFI_VA_LIST Args;
  EFI_VA_START(Args, Format);
  // Nothing more can be done about a report that fails.
  static_cast<DEBUG_PRINT_PROTOCOL *>(Interface)->Print(DEBUG_LEVEL_ERROR, Format, Args);
  EFI_VA_END(Args);
}

// Walks one token space of the platform's database (null: its local token
// numbers) and calls Visit for each token; Visit returns false to stop. A
// walk ends at EFI_NOT_FOUND or at token 0 (both mark the end in the
// implementations in use). A DynamicEx space comes in the database's order,
// not by number (so EDK II 2022.11 lists ours), so only
// a walk that comes back to its first token or never ends is distrusted.
// Returns null, or why the walk cannot be trusted.
template <typename F>
const CHAR8 *WalkTokens(const EFI_GUID *Space, F Visit) {
  if (PlatformPcd->GetNextToken == nullptr) return "the platform's PCD protocol cannot list its tokens";
  UINTN Token = 0, First = 0;
  for (UINTN Steps = 0; Steps < MAX_WALK; Steps++) {
    UINTN Previous = Token;
    EFI_STATUS Status = PlatformPcd->GetNextToken(Space, &Token);
    if (Status == EFI_NOT_FOUND || (!EFI_ERROR(Status) && Token == 0)) return nullptr;
    if (EFI_ERROR(Status)) return "the platform's PCD protocol cannot list its tokens";
    if (Steps == 0) First = Token;
    else if (Token == First || Token == Previous) break;
    if (!Visit(Token)) return nullptr;
  }
  return "the platform's PCD protocol lists tokens without end";
}

// The handle that carries Interface as the PCD protocol.
EFI_HANDLE HandleOf(VOID *Interface) {
  UINTN Count = 0;
  EFI_HANDLE *Handles = nullptr;
  if (EFI_ERROR(gBS->LocateHandleBuffer(ByProtocol, &gPcdProtocolGuid, nullptr, &Count, &Handles))) return nullptr;
  EFI_HANDLE Found = nullptr;
  for (UINTN i = 0; i < Count && Found == nullptr; i++) {
    VOID *Candidate = nullptr;
    if (!EFI_ERROR(gBS->HandleProtocol(Handles[i], &gPcdProtocolGuid, &Candidate)) && Candidate == Interface) Found = Handles[i];
  }
  gBS->FreePool(Handles);
  return Found;
}

}  // namespace

// Takes the PCD protocol's place, or leaves everything as it was and says why.
extern "C" EFI_STATUS EFIAPI PcdBridgeEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  if (EFI_STATUS Kept = AdapterKeepTables(ImageHandle, SystemTable); EFI_ERROR(Kept)) return Kept;

  for (BOOLEAN &h : Held) h = 0;
  const CHAR8 *Refusal = nullptr;
  UINTN Clash = 0, HeldCount = 0;
  VOID *Interface = nullptr;
  EFI_HANDLE PcdHandle = nullptr;
  EFI_STATUS Status = gBS->LocateProtocol(&gPcdProtocolGuid, nullptr, &Interface);
  if (EFI_ERROR(Status) || Interface == nullptr) {
    Refusal = "no PCD protocol";
  } else {
    PlatformPcd = static_cast<PCD_PROTOCOL *>(Interface);
    Refusal = WalkTokens(nullptr, [&](UINTN Token) {
      if (IsOurNumber(Token)) Clash = Token;
      return Clash == 0 && Token < HIGHEST_BRIDGED;  // a walk is in order, so no later token can be ours
    });
    if (Refusal == nullptr && Clash != 0) Refusal = "a local token number of the platform is one of ours";
  }
  if (Refusal == nullptr) {
    Refusal = WalkTokens(&gBoardDriversTokenSpaceGuid, [&](UINTN Token) {
      for (UINTN i = 0; i < BRIDGED_COUNT; i++)
        if (BridgedTokens[i] == Token && !Held[i]) {
          Held[i] = 1;
          HeldCount++;
        }
      return true;
    });
    if (Refusal == nullptr && HeldCount == 0) Refusal = "the platform holds no PCD of gBoardDriversTokenSpaceGuid";
  }
  if (Refusal == nullptr) {
    PcdHandle = HandleOf(Interface);
    if (PcdHandle == nullptr) Refusal = "the PCD protocol's handle cannot be found";
  }
  if (Refusal == nullptr) {
    // Everything not answered here stays the platform's own function.
    BridgePcd = *PlatformPcd;
    BridgePcd.Get8 = Get8;
    BridgePcd.Get16 = Get16;
    BridgePcd.Get32 = Get32;
    BridgePcd.Get64 = Get64;
    BridgePcd.GetPtr = GetPtr;
    BridgePcd.GetBool = GetBool;
    BridgePcd.GetSize = GetSize;
    BridgePcd.Set8 = Set8;
    BridgePcd.Set16 = Set16;
    BridgePcd.Set32 = Set32;
    BridgePcd.Set64 = Set64;
    BridgePcd.SetPtr = SetPtr;
    BridgePcd.SetBool = SetBool;
    Status = gBS->ReinstallProtocolInterface(PcdHandle, &gPcdProtocolGuid, Interface, &BridgePcd);
    if (EFI_ERROR(Status)) Refusal = "the PCD protocol cannot be reinstalled";
  }
  if (Refusal != nullptr) {
    if (Clash != 0) {
      Report("[PcdBridgeDxe] not bridged: %a: %d\n", Refusal, (UINT32)Clash);
    } else if (EFI_ERROR(Status)) {
      Report("[PcdBridgeDxe] not bridged: %a: %r\n", Refusal, Status);
    } else {
      Report("[PcdBridgeDxe] not bridged: %a\n", Refusal);
    }
    for (BOOLEAN &h : Held) h = 0;
    PlatformPcd = nullptr;
    // An error unloads the image: nothing of it stays behind.
    return EFI_UNSUPPORTED;
  }
  return EFI_SUCCESS;
}
