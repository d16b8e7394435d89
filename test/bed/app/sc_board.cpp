// SPDX-License-Identifier: BSD-2-Clause-Patent
// Boots of the board image: our drivers dispatched from flash by the
// firmware's own DXE and SMM cores, each looked at after the fact from the
// boot program. The groups: "board" (first boot, fresh variable store),
// "board-again" (second boot on the same store, which then asks Setup for a
// delay), "board-delay" (the delayed third boot), "board-smm" (a processor
// of the SMM driver's family) and "board-fam15" (the P-state override's
// family, on the store the SMM boot left).
#include "adapters/token_record.h"
#include "efi/debug_print.h"
#include "efi/pi.h"
#include "efi/smbios.h"
#include "setuptoken/settings_request.h"
#include "test/bed/app/app.h"
#include "test/board/board.h"
#include "test/contract.h"

// clang-format off
#define SMM_COMMUNICATION_PROTOCOL_GUID {0xC68ED8E2, 0x9DC6, 0x4CBD, {0x9D, 0x94, 0xDB, 0x65, 0xAC, 0xC5, 0xC3, 0x32}}
// clang-format on
typedef struct SMM_COMMUNICATION SMM_COMMUNICATION;
struct SMM_COMMUNICATION {
  EFI_STATUS(EFIAPI *Communicate)(SMM_COMMUNICATION *This, VOID *CommBuffer, UINTN *CommSize);
};

static const EFI_GUID UiScreenGuid = {0xC1CBD7B3, 0xFBE8, 0x4CFB, {0xAD, 0x31, 0x29, 0x74, 0xD0, 0x5F, 0xC4, 0x3B}};
static const EFI_GUID PcdProbeGuid = BED_PCD_PROBE_GUID;
static const EFI_GUID DebugProbeGuid = BED_DEBUG_PRINT_PROBE_GUID;
static const EFI_GUID SmbiosProbeGuid = BED_SMBIOS_PROBE_GUID;
static const EFI_GUID DmiGuid = CONTRACT_DMI_VARIABLE_GUID;
static const EFI_GUID SetupGuid = CONTRACT_SETUP_VARIABLE_GUID;
static const EFI_GUID SettingsGuid = SETTINGS_REQUEST_GUID;
static const EFI_GUID ProbeGuid = BOARD_SMM_PROBE_GUID;

// The delay the first boot stores in Setup for the second (the runner knows it too).
#define BOARD_DELAY_SECONDS 3

// The PCD protocol our drivers locate answers each of the board's tokens
// with its board value: the stand-in's table, or on the source-built board
// the DSC's DynamicEx values through the PCD bridge.
static void BoardPcdAnswers() {
  static const EFI_GUID pcdGuid = PCD_PROTOCOL_GUID;
  static const struct {
    UINT32 Token;
    UINT32 Value;
  } tokens[] = {BED_LIB_TOKENS};
  PCD_PROTOCOL *pcd = (PCD_PROTOCOL *)BedLocate(pcdGuid);
  BED_REQUIRE(pcd != nullptr, "no PCD protocol");
  UINTN wrong = 0;
  for (const auto &t : tokens) {
    // Each read at the PCD's own width, as the drivers read them: a DynamicEx
    // database answers a wider read with the bytes past a narrow PCD. The
    // stand-in answers any width with the whole value.
    UINTN size = gBedSourceBoard ? pcd->GetSize(t.Token) : 4;
    UINT64 got = size == 1 ? pcd->Get8(t.Token) : size == 2 ? pcd->Get16(t.Token) : size == 8 ? pcd->Get64(t.Token) : pcd->Get32(t.Token);
    if (got != t.Value && wrong++ < 3) BedFail("PCD %u reads %lx, the board's value is %x", t.Token, got, t.Value);
  }
  BedPrint("@bed note PCD protocol: %u of %u board tokens read their board values\n", (UINT32)(sizeof tokens / sizeof tokens[0] - wrong),
           (UINT32)(sizeof tokens / sizeof tokens[0]));
}

// The platform's own (local) PCDs as the PCD protocol our drivers locate
// reads them: a note with their count, a digest of every token's size and
// value, and the values, to compare with a boot of the same platform
// without the bridge.
static void NotePlatformPcds() {
  static const EFI_GUID pcdGuid = PCD_PROTOCOL_GUID;
  PCD_PROTOCOL *pcd = (PCD_PROTOCOL *)BedLocate(pcdGuid);
  if (pcd == nullptr || pcd->GetNextToken == nullptr) return;
  CHAR8 list[700];
  UINTN used = 0, count = 0;
  UINT32 digest = 2166136261U;  // FNV-1a over (token, size, bytes)
  auto mix = [&digest](const VOID *Data, UINTN Size) {
    for (UINTN i = 0; i < Size; i++) digest = (digest ^ ((const UINT8 *)Data)[i]) * 16777619U;
  };
  UINTN token = 0;
  while (!EFI_ERROR(pcd->GetNextToken(nullptr, &token)) && token != 0 && count < 512) {
    UINTN size = pcd->GetSize(token);
    UINT64 value = 0;
    if (size == 1) value = pcd->Get8(token);
    else if (size == 2) value = pcd->Get16(token);
    else if (size == 4) value = pcd->Get32(token);
    else if (size == 8) value = pcd->Get64(token);
    mix(&token, sizeof token);
    mix(&size, sizeof size);
    if (size <= 8) {
      mix(&value, size);
      if (used + 40 < sizeof list) used += BedFormat(list + used, sizeof list - used, " %u=%lx", (UINT32)token, value);
    } else if (const VOID *data = pcd->GetPtr(token)) {
      mix(data, size);
      if (used + 40 < sizeof list) used += BedFormat(list + used, sizeof list - used, " %u=[%u bytes]", (UINT32)token, (UINT32)size);
    }
    count++;
  }
  list[used] = 0;
  BedPrint("@bed note platform PCDs: %u local tokens, digest %08x:%a\n", (UINT32)count, digest, list);
}

static void BoardDriversDispatched() {
  if (!gBedSourceBoard) BED_CHECK(BedLocate(PcdProbeGuid) != nullptr, "the board's PCD stand-in is not in place");
  BoardPcdAnswers();
  if (gBedSourceBoard) NotePlatformPcds();
  for (const BedOurDriver &d : BedOurDrivers) {
    EFI_HANDLE image = BedDispatchedImage(d.File);
    BED_CHECK(image != nullptr, "%a: not loaded from flash (not dispatched, or its entry failed)", d.Name);
    if (image == nullptr) continue;
    if (d.Library)
      BED_CHECK(BedFindInImage(image, BedExpectedCfgPcdBuffer, sizeof BedExpectedCfgPcdBuffer) != nullptr,
                "%a: CfgPcdBuffer does not hold the board's token values", d.Name);
    // What the first library driver cached, found by the buffer's signature
    // and revision: the board's values, or what a platform gave instead.
    const UINT8 *cached = d.Library && gBedSourceBoard && &d == &BedOurDrivers[1] ? BedFindInImage(image, BedExpectedCfgPcdBuffer, 5) : nullptr;
    if (cached) BedHexDump("NetIdentityDxe CfgPcdBuffer", cached, sizeof BedExpectedCfgPcdBuffer);
  }
  EFI_HANDLE ui = BedDispatchedImage(BedOurDrivers[0].File);
  VOID *screen = nullptr;
  BED_CHECK(ui && !EFI_ERROR(gBS->HandleProtocol(ui, &UiScreenGuid, &screen)) && screen,
            "UI_SCREEN_PROTOCOL is not on the UI driver's image handle");
  static const EFI_GUID debugPrintGuid = DEBUG_PRINT_PROTOCOL_GUID;
  BED_CHECK(BedLocate(debugPrintGuid) != nullptr, "no debug print protocol");
  // The source-built board's debug print writes to the debug port only: the
  // runner reads its messages there (no error message of our drivers).
  if (gBedSourceBoard) return;
  // Error-level messages mean a driver failed; informational ones (why the
  // identity was not stamped this boot) reach the notes through the serial log.
  BED_DEBUG_PRINT_PROBE *debug = (BED_DEBUG_PRINT_PROBE *)BedLocate(DebugProbeGuid);
  BED_CHECK(debug != nullptr, "the debug print stand-in is not in place");
  UINTN kept = debug ? (debug->Count < BED_DEBUG_MESSAGES ? debug->Count : BED_DEBUG_MESSAGES) : 0, errors = 0;
  const CHAR8 *first = "";
  for (UINTN i = 0; i < kept; i++)
    if ((debug->Messages[i].Level & 0x80000000) && errors++ == 0) first = debug->Messages[i].Text;
  BED_CHECK(errors == 0 && (!debug || debug->Count <= BED_DEBUG_MESSAGES), "%u error messages of %u, the first: %a", (UINT32)errors,
            debug ? (UINT32)debug->Count : 0, first);
  BED_PCD_PROBE *pcd = (BED_PCD_PROBE *)BedLocate(PcdProbeGuid);
  if (pcd) BedPrint("@bed note PCD stand-in: %u gets, %u sets\n", (UINT32)pcd->GetCount, (UINT32)pcd->SetCount);
}

// ---- Network identity at the real End-of-DXE ----

static const UINT8 Identity[16] = {'Q', 'R', '4', '8', 'T', '-', 'K', '2', 'V', 0, 0xF4, 0xB5, 0x20, 0x6B, 0x00, 0x01};

// The live type-1 structure, straight from the firmware's SMBIOS table.
static const UINT8 *FirmwareType1() {
  static const EFI_GUID smbios3 = CONTRACT_SMBIOS3_TABLE_GUID;
  static const EFI_GUID smbios = CONTRACT_SMBIOS_TABLE_GUID;
  const UINT8 *table = nullptr;
  UINTN size = 0;
  for (UINTN i = 0; i < gST->NumberOfTableEntries && !table; i++) {
    const EFI_CONFIGURATION_TABLE &e = gST->ConfigurationTable[i];
    const UINT8 *eps = (const UINT8 *)e.VendorTable;
    if (GuidEqual(e.VendorGuid, smbios3))
      table = (const UINT8 *)(UINTN) * (const UINT64 *)(eps + 0x10), size = *(const UINT32 *)(eps + 0x0C);
    else if (GuidEqual(e.VendorGuid, smbios))
      table = (const UINT8 *)(UINTN) * (const UINT32 *)(eps + 0x18), size = *(const UINT16 *)(eps + 0x16);
  }
  for (const UINT8 *s = table; s && s + 4 <= table + size && s[1] >= 4;) {
    if (s[0] == 1) return s;
    if (s[0] == 127) break;
    const UINT8 *p = s + s[1];
    while (p + 1 < table + size && (p[0] || p[1])) p++;
    s = p + 2;
  }
  return nullptr;
}

static void CheckIdentity(BOOLEAN Again) {
  const UINT8 *type1 = FirmwareType1();
  BED_REQUIRE(type1 != nullptr, "no type-1 structure in the firmware's SMBIOS table");
  BedHexDump("SMBIOS type-1 UUID", type1 + 8, 16);
  BED_CHECK(BedMemEqual(type1 + 8, Identity, 16), "the UUID is not the model code and the card's MAC");
  UINT8 array[1280] = {1, 0, 0, 0, 0, 1, 1, 0, 8, 0};
  BedExpectVariable(DmiGuid, u"DmiArray", array, sizeof array);
  BedExpectVariable(DmiGuid, u"DmiVar0100010800", Identity, 16);
  UINT8 writeOnce[64] = {1, 8, 1, 0};
  for (UINTN i = 4; i < 64; i += 4) writeOnce[i] = 0x7F;
  BedExpectVariable(DmiGuid, u"WriteOnceStatus", writeOnce, 64);
  // The adapter keeps no counts: on the source-built board the runner reads
  // the identity driver's own note on the debug port instead.
  if (gBedSourceBoard) return;
  BED_SMBIOS_PROBE *probe = (BED_SMBIOS_PROBE *)BedLocate(SmbiosProbeGuid);
  BED_REQUIRE(probe != nullptr, "no SMBIOS edit stand-in");
  BedPrint("@bed note SMBIOS edit: %u reads, %u writes, %u stored changes applied\n", (UINT32)probe->ReadCount, (UINT32)probe->WriteCount,
           (UINT32)probe->AppliedCount);
  if (Again)  // the stored change was applied before the driver looked: it found its identity and wrote nothing
    BED_CHECK(probe->AppliedCount == 1 && probe->ReadCount == 1 && probe->WriteCount == 0, "second boot: %u applied, %u reads, %u writes",
              (UINT32)probe->AppliedCount, (UINT32)probe->ReadCount, (UINT32)probe->WriteCount);
  else
    BED_CHECK(probe->ReadCount == 1 && probe->WriteCount == 1, "first boot: %u reads, %u writes", (UINT32)probe->ReadCount,
              (UINT32)probe->WriteCount);
}

static void BoardIdentityStamped() { CheckIdentity(0); }
static void BoardIdentityKept() { CheckIdentity(1); }

// The next boot of this store is held for BOARD_DELAY_SECONDS.
static void BoardStoreDelay() {
  UINT8 setup[CONTRACT_SETUP_SIZE] = {};
  setup[CONTRACT_SETUP_BOOT_DELAY] = BOARD_DELAY_SECONDS;
  BED_CHECK(BedSetVariable(u"Setup", SetupGuid, setup, sizeof setup) == EFI_SUCCESS, "writing Setup");
}

// ---- P-state override on its family ----

static const EFI_GUID PstateGuid = CONTRACT_PSTATE_VARIABLE_GUID;

// The next boot of this store (a processor of the override's family) finds
// the override enabled.
static void BoardStorePstate() {
  const UINT8 data[29] = {1, 0, 0, 0, 0, 0x10, 0x01, 0x50};
  BED_CHECK(BedSetVariable(u"TAMDPstateData", PstateGuid, data, sizeof data) == EFI_SUCCESS, "writing TAMDPstateData");
}

// On its family, with the variable enabled, the driver reaches its register
// writes during dispatch (under TCG the registers read 0 and ignore writes)
// and its entry succeeds: it stays loaded and no exception stopped the boot.
static void BoardPstateOnFamily() {
  BED_CHECK(BedFamily(1) == 0x00660F00, "this boot's processor is not of the override's family");
  UINT8 data[29];
  UINTN size = sizeof data;
  BED_CHECK(!EFI_ERROR(BedGetVariable(u"TAMDPstateData", PstateGuid, data, &size, nullptr)) && data[0] == 1,
            "TAMDPstateData is not in the store");
  BED_CHECK(BedDispatchedImage(BedOurDrivers[3].File) != nullptr, "PstateOverrideDxe is not loaded");
}

// ---- Settings requests through a real SMI ----

struct Comm {
  SMM_COMMUNICATION *Smm;
  UINT8 *Buffer;  // header (GUID, length) and data, from runtime-services pool
  UINTN Capacity;
};

// The token record message with room for a record's calls.
#define RECORD_MESSAGE_SIZE (sizeof(TOKEN_RECORD_MESSAGE) + BOARD_PROBE_CALLS * sizeof(TOKEN_RECORD_ENTRY))

static BOOLEAN CommOpen(Comm *C) {
  static const EFI_GUID commGuid = SMM_COMMUNICATION_PROTOCOL_GUID;
  *C = {};
  C->Smm = (SMM_COMMUNICATION *)BedLocate(commGuid);
  BED_CHECK(C->Smm != nullptr, "no SMM communication protocol");
  C->Capacity = 24 + (sizeof(BOARD_PROBE_MESSAGE) > RECORD_MESSAGE_SIZE ? sizeof(BOARD_PROBE_MESSAGE) : RECORD_MESSAGE_SIZE);
  if (C->Smm == nullptr || EFI_ERROR(gBS->AllocatePool(EfiRuntimeServicesData, C->Capacity, (VOID **)&C->Buffer))) return 0;
  return 1;
}

static void CommClose(Comm *C) {
  if (C->Buffer) gBS->FreePool(C->Buffer);
}

// Sends Size bytes of Data under Guid from Buffer; returns Communicate's status.
static EFI_STATUS Send(Comm *C, UINT8 *Buffer, const EFI_GUID &Guid, const VOID *Data, UINTN Size) {
  gBS->CopyMem(Buffer, (VOID *)&Guid, 16);
  UINT64 length = Size;
  gBS->CopyMem(Buffer + 16, &length, 8);
  if (Data != Buffer + 24) gBS->CopyMem(Buffer + 24, (VOID *)Data, Size);
  UINTN commSize = 24 + Size;
  return C->Smm->Communicate(C->Smm, Buffer, &commSize);
}

static BOARD_PROBE_MESSAGE *Probe(Comm *C, UINT32 Command) {
  BOARD_PROBE_MESSAGE *m = (BOARD_PROBE_MESSAGE *)(C->Buffer + 24);
  gBS->SetMem(m, sizeof *m, 0);
  m->Command = Command;
  m->Status = EFI_NOT_READY;
  EFI_STATUS status = Send(C, C->Buffer, ProbeGuid, m, sizeof *m);
  BED_CHECK(status == EFI_SUCCESS && m->Status == EFI_SUCCESS, "probe message %u: %r, %r", Command, status, m->Status);
  return m;
}

// The token calls made since the last mark, read back from the board's token
// service: the stand-in's probe message (with the buffer check stand-in's
// counts), or the reference token service's record on the source-built board.
struct TokenLog {
  UINT64 Mark;  // the record's call number at the mark
  UINT64 CallCount;
  BED_TOKEN_CALL Calls[BOARD_PROBE_CALLS];
  BOOLEAN HasCheck;  // Check holds the buffer check's counts
  BOARD_CHECK_PROBE Check;
};

static TOKEN_RECORD_MESSAGE *ReadRecord(Comm *C, UINT64 First) {
  static const EFI_GUID recordGuid = TOKEN_RECORD_GUID;
  TOKEN_RECORD_MESSAGE *m = (TOKEN_RECORD_MESSAGE *)(C->Buffer + 24);
  gBS->SetMem(m, RECORD_MESSAGE_SIZE, 0);
  m->First = First;
  EFI_STATUS status = Send(C, C->Buffer, recordGuid, m, RECORD_MESSAGE_SIZE);
  BED_CHECK(status == EFI_SUCCESS && m->Capacity == TOKEN_RECORD_CAPACITY, "token record: %r, capacity %u", status, m->Capacity);
  return m;
}

static void LogMark(Comm *C, TokenLog *L) {
  *L = {};
  if (gBedSourceBoard)
    L->Mark = ReadRecord(C, ~0ULL)->Total;
  else
    Probe(C, BOARD_PROBE_RESET);
}

static void LogFetch(Comm *C, TokenLog *L) {
  if (!gBedSourceBoard) {
    BOARD_PROBE_MESSAGE *m = Probe(C, BOARD_PROBE_FETCH);
    L->CallCount = m->CallCount;
    gBS->CopyMem(L->Calls, m->Calls, sizeof L->Calls);
    L->Check = m->Check;
    L->HasCheck = 1;
    return;
  }
  TOKEN_RECORD_MESSAGE *m = ReadRecord(C, L->Mark);
  BED_CHECK(m->First == L->Mark, "token record: calls from %lu kept, %lu wanted", m->First, L->Mark);
  L->CallCount = m->Total - L->Mark;
  const TOKEN_RECORD_ENTRY *entries = (const TOKEN_RECORD_ENTRY *)(m + 1);
  for (UINT32 i = 0; i < m->Count && i < BOARD_PROBE_CALLS; i++)
    L->Calls[i] = {entries[i].Entry, entries[i].Level, entries[i].Token, entries[i].Value, 0};
}

// A settings request (0xCB and the record) of Size bytes, after a mark of the
// token log. Returns Communicate's status.
static EFI_STATUS SendRecord(Comm *C, TokenLog *L, const UINT8 *Record, UINTN Size, UINT8 Command = SETTINGS_REQUEST_COMMAND) {
  LogMark(C, L);
  UINT8 *data = C->Buffer + 24;
  gBS->SetMem(data, C->Capacity - 24, 0);
  data[0] = Command;
  gBS->CopyMem(data + 1, (VOID *)Record, SETTINGS_RECORD_SIZE);
  return Send(C, C->Buffer, SettingsGuid, data, Size);
}

// The value SetupTokenSmm set PCD 1293 to: the stand-in's log of sets, or
// the source-built board's DynamicEx PCD (default 0) read through the PCD protocol.
static UINT64 PcdValue(UINTN Token, BOOLEAN *Set) {
  *Set = 0;
  if (gBedSourceBoard) {
    static const EFI_GUID pcdGuid = PCD_PROTOCOL_GUID;
    PCD_PROTOCOL *pcd = (PCD_PROTOCOL *)BedLocate(pcdGuid);
    UINT64 value = pcd ? pcd->Get64(Token) : 0;
    *Set = value != 0;
    return value;
  }
  BED_PCD_PROBE *pcd = (BED_PCD_PROBE *)BedLocate(PcdProbeGuid);
  for (UINTN i = 0; pcd && i < pcd->SetCount && i < BED_PCD_LOG; i++)
    if (pcd->Sets[i].Token == Token) return *Set = 1, pcd->Sets[i].Value;
  return 0;
}

// On another family the driver registers nothing: a request reaches no
// handler, so no buffer is checked and no token written, and PCD 1293 stays unset.
static void BoardSmmFamilyGate() {
  BOOLEAN set = 0;
  PcdValue(EXCHANGE_BUFFER_PCD_TOKEN, &set);
  BED_CHECK(!set, "PCD 1293 was set on a processor outside the family");
  Comm c;
  if (CommOpen(&c)) {
    UINT8 record[SETTINGS_RECORD_SIZE];
    gBS->SetMem(record, sizeof record, 0xFF);
    TokenLog log;
    EFI_STATUS status = SendRecord(&c, &log, record, SETTINGS_REQUEST_MIN_SIZE);
    LogFetch(&c, &log);
    BED_CHECK(log.Check.Checks == 0 && log.CallCount == 0, "a handler answered: %u checks, %u calls", (UINT32)log.Check.Checks,
              (UINT32)log.CallCount);
    BedPrint("@bed note communicate: no handler registered -> %r\n", status);
  }
  CommClose(&c);
}

static void BoardSmmRecords() {
  BOOLEAN set = 0;
  UINT64 exchange = PcdValue(EXCHANGE_BUFFER_PCD_TOKEN, &set);
  BED_CHECK(set && exchange, "PCD 1293 was not set to the exchange buffer");
  BedPrint("@bed note PCD 1293 (exchange buffer): %lx\n", exchange);
  VOID *file = nullptr;
  UINTN fileSize = 0;
  BED_REQUIRE(!EFI_ERROR(BedReadFile(u"\\board\\records.bin", &file, &fileSize)) && fileSize >= 4, "no records file");
  Comm c;
  if (!CommOpen(&c)) {
    gBS->FreePool(file);
    return;
  }
  TokenLog log;
  const UINT8 *p = (const UINT8 *)file, *end = p + fileSize;
  UINT32 count = *(const UINT32 *)p, matched = 0, calls = 0;
  p += 4;
  for (UINT32 r = 0; r < count; r++) {
    if (p + SETTINGS_RECORD_SIZE + 4 > end) break;
    const UINT8 *record = p;
    UINT32 expectedCount = *(const UINT32 *)(p + SETTINGS_RECORD_SIZE);
    const BOARD_EXPECTED_CALL *expected = (const BOARD_EXPECTED_CALL *)(p + SETTINGS_RECORD_SIZE + 4);
    p += SETTINGS_RECORD_SIZE + 4 + expectedCount * sizeof(BOARD_EXPECTED_CALL);
    if (p > end) break;
    EFI_STATUS status = SendRecord(&c, &log, record, SETTINGS_REQUEST_MIN_SIZE);
    LogFetch(&c, &log);
    BOOLEAN same = status == EFI_SUCCESS && log.CallCount == expectedCount && (!log.HasCheck || (log.Check.Checks >= 1 && log.Check.Refused == 0));
    for (UINT32 i = 0; same && i < expectedCount && i < BOARD_PROBE_CALLS; i++) {
      const BED_TOKEN_CALL &got = log.Calls[i];
      const BOARD_EXPECTED_CALL &want = expected[i];
      same = got.Entry == want.Entry && got.Level == want.Level && got.Token == want.Token && got.Value == want.Value;
      if (!same)
        BedFail("record %u call %u: entry %x level %u token %08x value %x, expected %u %u %08x %x", r, i, got.Entry, got.Level, got.Token,
                got.Value, want.Entry, want.Level, want.Token, want.Value);
    }
    if (same)
      matched++;
    else
      BedFail("record %u: Communicate %r, %u calls (expected %u), %u checks", r, status, (UINT32)log.CallCount, expectedCount,
              (UINT32)log.Check.Checks);
    calls += expectedCount;
    if (r == 0) BedPrint("@bed note communicate: accepted request -> %r\n", status);
  }
  BED_CHECK(matched == count && count > 0, "%u of %u records gave the expected calls", matched, count);
  BedPrint("@bed note SMM: %u records, %u token calls, all as the host model expects\n", matched, calls);
  gBS->FreePool(file);
  CommClose(&c);
}

// SMRAM's ranges: from the buffer check stand-in's probe, or from SMM
// Access2, where the source-built board's buffer check takes them too.
static UINTN SmramRanges(const TokenLog &L, UINT64 (*Ranges)[2]) {
  if (L.HasCheck) {
    UINTN n = L.Check.RangeCount < BOARD_SMRAM_RANGES ? (UINTN)L.Check.RangeCount : BOARD_SMRAM_RANGES;
    for (UINTN i = 0; i < n; i++) Ranges[i][0] = L.Check.Ranges[i][0], Ranges[i][1] = L.Check.Ranges[i][1];
    return n;
  }
  static const EFI_GUID accessGuid = EFI_SMM_ACCESS2_PROTOCOL_GUID;
  EFI_SMM_ACCESS2_PROTOCOL *access = (EFI_SMM_ACCESS2_PROTOCOL *)BedLocate(accessGuid);
  EFI_SMRAM_DESCRIPTOR map[BOARD_SMRAM_RANGES];
  UINTN size = sizeof map;
  if (access == nullptr || EFI_ERROR(access->GetCapabilities(access, &size, map))) return 0;
  UINTN n = size / sizeof map[0];
  for (UINTN i = 0; i < n; i++) Ranges[i][0] = map[i].PhysicalStart, Ranges[i][1] = map[i].PhysicalSize;
  return n;
}

static void BoardSmmRefusals() {
  Comm c;
  if (!CommOpen(&c)) return;
  UINT8 record[SETTINGS_RECORD_SIZE];
  gBS->SetMem(record, sizeof record, 0xFF);
  TokenLog log;

  // One byte short of the record's last field: refused before the buffer is even checked.
  EFI_STATUS status = SendRecord(&c, &log, record, SETTINGS_REQUEST_MIN_SIZE - 1);
  LogFetch(&c, &log);
  BED_CHECK(log.CallCount == 0, "one byte short: %u token calls", (UINT32)log.CallCount);
  BedPrint("@bed note communicate: one byte short -> %r (%u checks, %u calls)\n", status, (UINT32)log.Check.Checks,
           (UINT32)log.CallCount);

  status = SendRecord(&c, &log, record, SETTINGS_REQUEST_MIN_SIZE, 0xCA);
  LogFetch(&c, &log);
  BED_CHECK(log.CallCount == 0, "command 0xCA: %u token calls", (UINT32)log.CallCount);
  BedPrint("@bed note communicate: command 0xCA -> %r (%u calls)\n", status, (UINT32)log.CallCount);

  // A request in SMRAM, sent by a module inside SMM: the buffer check refuses
  // it. Only the stand-in board has such a module (its token service).
  if (!gBedSourceBoard) {
    Probe(&c, BOARD_PROBE_RESET);
    BOARD_PROBE_MESSAGE *m = (BOARD_PROBE_MESSAGE *)(c.Buffer + 24);
    gBS->SetMem(m, sizeof *m, 0);
    m->Command = BOARD_PROBE_SEND_SMRAM;
    m->RequestSize = SETTINGS_REQUEST_MIN_SIZE;
    m->Request[0] = SETTINGS_REQUEST_COMMAND;
    gBS->CopyMem(m->Request + 1, record, sizeof record);
    status = Send(&c, c.Buffer, ProbeGuid, m, sizeof *m);
    BED_CHECK(status == EFI_SUCCESS, "probe: %r", status);
    EFI_STATUS handler = m->Status;
    UINT64 smram = m->SmramBuffer;
    LogFetch(&c, &log);
    BED_CHECK(log.Check.Checks >= 1 && log.Check.Refused >= 1 && log.CallCount == 0,
              "SMRAM request at %lx: handler %r, %u checks, %u refused, %u calls", smram, handler, (UINT32)log.Check.Checks,
              (UINT32)log.Check.Refused, (UINT32)log.CallCount);
    BedPrint("@bed note SMM: request in SMRAM at %lx -> handler %r, no token call\n", smram, handler);
  } else {
    BedPrint("@bed note SMM: no module of this board sends from SMRAM; that refusal is the buffer check's host tests'\n");
  }

  // The same request with the communication buffer itself inside SMRAM (the
  // middle of its largest range).
  UINT64 ranges[BOARD_SMRAM_RANGES][2] = {};
  UINTN rangeCount = SmramRanges(log, ranges);
  BED_CHECK(rangeCount > 0, "no SMRAM range known");
  UINT64 inside = 0, largest = 0;
  for (UINTN i = 0; i < rangeCount; i++) {
    BedPrint("@bed note SMRAM range %u: %lx, %lx bytes\n", (UINT32)i, ranges[i][0], ranges[i][1]);
    if (ranges[i][1] > largest) largest = ranges[i][1], inside = ranges[i][0] + largest / 2;
  }
  if (inside) {
    LogMark(&c, &log);
    status = c.Smm->Communicate(c.Smm, (VOID *)(UINTN)inside, nullptr);
    LogFetch(&c, &log);
    BED_CHECK(EFI_ERROR(status) && log.CallCount == 0 && log.Check.Checks == 0, "communication buffer in SMRAM: %r, %u checks, %u calls",
              status, (UINT32)log.Check.Checks, (UINT32)log.CallCount);
    BedPrint("@bed note communicate: buffer inside SMRAM -> %r\n", status);
  }

  // A communication buffer from boot-services pool.
  UINT8 *bs = nullptr;
  if (!EFI_ERROR(gBS->AllocatePool(EfiBootServicesData, 24 + SETTINGS_REQUEST_MIN_SIZE, (VOID **)&bs))) {
    LogMark(&c, &log);
    bs[24] = SETTINGS_REQUEST_COMMAND;
    gBS->CopyMem(bs + 25, record, sizeof record);
    status = Send(&c, bs, SettingsGuid, bs + 24, SETTINGS_REQUEST_MIN_SIZE);
    LogFetch(&c, &log);
    BED_CHECK(log.CallCount == 0, "boot-services buffer: %u calls", (UINT32)log.CallCount);
    BedPrint("@bed note communicate: boot-services pool buffer -> %r (%u calls)\n", status, (UINT32)log.CallCount);
    gBS->FreePool(bs);
  }
  CommClose(&c);
}

// ---- An outside tool built with gnu-efi ----

// examples/gnu_efi_caller started from the disk as a BIOS update tool would
// be, against the UI, graphics console and pictures the board carries in
// flash; the runner drives it (checks.py, "board.gnu-efi") and judges its
// screens. The tool answers Success once it wrote a file with every hook
// and its event's notify function having seen what they should.
static void BoardGnuEfiCaller() {
  BED_REQUIRE(BedLocate(UiScreenGuid) != nullptr, "UI_SCREEN_PROTOCOL not installed from flash");
  BedPrint("@bed script board.gnu-efi\n");
  EFI_HANDLE tool = nullptr;
  EFI_STATUS exit = EFI_LOAD_ERROR;
  EFI_STATUS status = BedLoadAndStart(u"UiCallerGnuEfi", &tool, &exit);
  BED_CHECK(!EFI_ERROR(status), "loading the gnu-efi caller: %r", status);
  BED_CHECK(exit == EFI_SUCCESS, "the gnu-efi caller returned %r (Protocol Error: a hook saw wrong arguments)", exit);
}

extern const BedScenario BoardScenarios[] = {
    {"board.drivers-dispatched", "board board-again board-delay board-smm board-fam15", BoardDriversDispatched},
    {"board.identity-stamped", "board", BoardIdentityStamped},
    {"board.smm-family-gate", "board", BoardSmmFamilyGate},
    {"board.identity-kept", "board-again", BoardIdentityKept},
    {"board.store-delay", "board-again", BoardStoreDelay},
    {"board.smm-records", "board-smm", BoardSmmRecords},
    {"board.smm-refusals", "board-smm", BoardSmmRefusals},
    {"board.store-pstate", "board-smm", BoardStorePstate},
    {"board.pstate-on-family", "board-fam15", BoardPstateOnFamily},
    {"board.gnu-efi-caller", "board", BoardGnuEfiCaller},
    {nullptr, nullptr, nullptr},
};
