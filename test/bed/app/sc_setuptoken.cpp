// SPDX-License-Identifier: BSD-2-Clause-Patent
// SetupTokenSmm started as a DXE image over the SMM Base2 stand-in: on its
// family it publishes the exchange buffer and registers its handler, and
// settings requests sent through the SMM system table's SmiManage turn into
// the token service calls that the translation table prescribes.
#include "setuptoken/settings_request.h"
#include "test/bed/app/app.h"

static const EFI_GUID SmmBase2Guid = EFI_SMM_BASE2_PROTOCOL_GUID;
static const EFI_GUID SmmProbeGuid = BED_SMM_PROBE_GUID;
static const EFI_GUID TokenProbeGuid = BED_TOKEN_PROBE_GUID;
static const EFI_GUID PcdProbeGuid = BED_PCD_PROBE_GUID;
static const EFI_GUID SettingsGuid = SETTINGS_REQUEST_GUID;
static const EFI_GUID DebugProbeGuid = BED_DEBUG_PRINT_PROBE_GUID;

struct Env {
  EFI_HANDLE Smm, Tokens, Pcd, Debug;
  BED_DEBUG_PRINT_PROBE *DebugProbe;
  BED_SMM_PROBE *SmmProbe;
  BED_TOKEN_PROBE *TokenProbe;
  BED_PCD_PROBE *PcdProbe;
  EFI_SMM_SYSTEM_TABLE2 *Smst;
};

static BOOLEAN Open(Env *E) {
  *E = {};
  EFI_STATUS s1 = BedLoadStandIn(u"SmmBaseStandIn", &E->Smm);
  EFI_STATUS s2 = BedLoadStandIn(u"TokenServiceStandIn", &E->Tokens);
  EFI_STATUS s3 = BedLoadStandIn(u"PcdStandIn", &E->Pcd);
  BED_CHECK(!EFI_ERROR(s1) && !EFI_ERROR(s2) && !EFI_ERROR(s3), "stand-ins: %r %r %r", s1, s2, s3);
  if (EFI_ERROR(s1) || EFI_ERROR(s2) || EFI_ERROR(s3)) return 0;
  E->SmmProbe = (BED_SMM_PROBE *)BedLocate(SmmProbeGuid);
  E->TokenProbe = (BED_TOKEN_PROBE *)BedLocate(TokenProbeGuid);
  E->PcdProbe = (BED_PCD_PROBE *)BedLocate(PcdProbeGuid);
  // Refusals are explained in the debug log; without the stand-in they are silent.
  if (!EFI_ERROR(BedLoadStandIn(u"DebugPrintStandIn", &E->Debug))) E->DebugProbe = (BED_DEBUG_PRINT_PROBE *)BedLocate(DebugProbeGuid);
  EFI_SMM_BASE2_PROTOCOL *base = (EFI_SMM_BASE2_PROTOCOL *)BedLocate(SmmBase2Guid);
  return base && !EFI_ERROR(base->GetSmstLocation(base, &E->Smst));
}

// The SMM driver stays resident (it has no unload); only the stand-ins go.
static void Close(Env *E) {
  if (E->Debug) BED_CHECK(BedUnloadStandIn(E->Debug) == EFI_SUCCESS, "unloading the debug print stand-in");
  if (E->Pcd) BED_CHECK(BedUnloadStandIn(E->Pcd) == EFI_SUCCESS, "unloading the PCD stand-in");
  if (E->TokenProbe) BED_CHECK(E->TokenProbe->Withdraw(BED_TOKEN_WITHDRAW_ALL) == EFI_SUCCESS, "withdrawing the token service");
  if (E->SmmProbe) BED_CHECK(E->SmmProbe->Withdraw() == EFI_SUCCESS, "withdrawing SMM Base2");
}

// True when [Address, Address + Size) lies in one runtime-services-data range.
static BOOLEAN InRuntimeData(UINT64 Address, UINT64 Size) {
  UINTN mapSize = 0, key = 0, descSize = 0;
  UINT32 version = 0;
  gBS->GetMemoryMap(&mapSize, nullptr, &key, &descSize, &version);
  mapSize += 8 * descSize;
  UINT8 *map = nullptr;
  if (EFI_ERROR(gBS->AllocatePool(EfiBootServicesData, mapSize, (VOID **)&map))) return 0;
  BOOLEAN found = 0;
  if (!EFI_ERROR(gBS->GetMemoryMap(&mapSize, (EFI_MEMORY_DESCRIPTOR *)map, &key, &descSize, &version))) {
    for (UINTN off = 0; off + descSize <= mapSize; off += descSize) {
      EFI_MEMORY_DESCRIPTOR *d = (EFI_MEMORY_DESCRIPTOR *)(map + off);
      UINT64 end = d->PhysicalStart + d->NumberOfPages * EFI_PAGE_SIZE;
      if (Address >= d->PhysicalStart && Address + Size <= end) found = d->Type == EfiRuntimeServicesData;
    }
  }
  gBS->FreePool(map);
  return found;
}

// ---- Expected call sequences, written down from the translation table ----

struct Call {
  UINT32 Entry, Token, Value;
};

// clang-format off
#define OPEN {BED_TOKEN_CALL_OPEN, 0, 0}
#define LEVEL {BED_TOKEN_CALL_LEVEL, 0, 0}
#define FINISH {BED_TOKEN_CALL_FINISH, 0, 0}
#define CLOSE {BED_TOKEN_CALL_CLOSE, 0, 0}
// clang-format on

// Every byte 0xFF: the options whose auto value is not 0xFF are written, no
// gate holds.
static const Call AllFF[] = {
    OPEN,
    LEVEL,
    {BED_TOKEN_CALL_32, 0xB331378E, 0xFFFFFFFF},
    {BED_TOKEN_CALL_8, 0x9DA294C2, 0xFF},
    {BED_TOKEN_CALL_8, 0xD1091CD0, 0xFF},
    {BED_TOKEN_CALL_8, 0xB0A37D17, 0xFF},
    {BED_TOKEN_CALL_8, 0x49639134, 0xFF},
    {BED_TOKEN_CALL_8, 0xCE0176EF, 0xFF},
    {BED_TOKEN_CALL_8, 0x2606C42E, 0xFF},
    {BED_TOKEN_CALL_8, 0x6574B2C0, 0xFF},
    {BED_TOKEN_CALL_8, 0xA00D4B57, 0xFF},
    {BED_TOKEN_CALL_BOOL, 0xEEED60BA, 0xFF},
    {BED_TOKEN_CALL_8, 0x4367CBD2, 0xFF},
    {BED_TOKEN_CALL_BOOL, 0x87958B5A, 0xFF},
    {BED_TOKEN_CALL_8, 0x016DA8CA, 0xFF},
    {BED_TOKEN_CALL_8, 0xDDB759DA, 0xFF},
    {BED_TOKEN_CALL_BOOL, 0x7004F583, 0xFF},
    {BED_TOKEN_CALL_BOOL, 0xF90AFB27, 0xFF},
    {BED_TOKEN_CALL_8, 0x072DB576, 0xFF},
    FINISH,
    CLOSE,
};

// The same with gates opened: 0x0B8 = 1 and 0x36B = 0 (rows 3 and 4), 0x020 =
// 0x4B with 0x3DE = 5 (row 8), 0x116 = 1 with every enable byte 0 (row 16
// only), 0x0A9 = 1 with 0x0AA = 9 (rows 143, 144; 145 keeps its auto value).
static const Call Gated[] = {
    OPEN,
    LEVEL,
    {BED_TOKEN_CALL_32, 0xB331378E, 0xFFFFFFFF},
    {BED_TOKEN_CALL_8, 0x9DA294C2, 0xFF},
    {BED_TOKEN_CALL_BOOL, 0xADC833E4, 0x00},
    {BED_TOKEN_CALL_32, 0xA7C33753, 0x12345678},
    {BED_TOKEN_CALL_8, 0xD1091CD0, 0xFF},
    {BED_TOKEN_CALL_8, 0x8B8B9F43, 0x05},
    {BED_TOKEN_CALL_8, 0xB0A37D17, 0xFF},
    {BED_TOKEN_CALL_8, 0x49639134, 0xFF},
    {BED_TOKEN_CALL_8, 0xCE0176EF, 0xFF},
    {BED_TOKEN_CALL_8, 0x2606C42E, 0xFF},
    {BED_TOKEN_CALL_8, 0x6574B2C0, 0xFF},
    {BED_TOKEN_CALL_16, 0xD06DBAFB, 0xBEEF},
    {BED_TOKEN_CALL_8, 0xA00D4B57, 0xFF},
    {BED_TOKEN_CALL_BOOL, 0xEEED60BA, 0xFF},
    {BED_TOKEN_CALL_8, 0x4367CBD2, 0xFF},
    {BED_TOKEN_CALL_BOOL, 0x87958B5A, 0xFF},
    {BED_TOKEN_CALL_8, 0x016DA8CA, 0xFF},
    {BED_TOKEN_CALL_8, 0xDDB759DA, 0x01},
    {BED_TOKEN_CALL_8, 0x4B993A83, 0x09},
    {BED_TOKEN_CALL_BOOL, 0x7004F583, 0xFF},
    {BED_TOKEN_CALL_BOOL, 0xF90AFB27, 0xFF},
    {BED_TOKEN_CALL_8, 0x072DB576, 0xFF},
    FINISH,
    CLOSE,
};

static void ExpectCalls(const BED_TOKEN_PROBE *Probe, const Call *Expected, UINTN Count, UINT64 Service) {
  BED_CHECK(Probe->CallCount == Count, "%u token service calls, expected %u", (UINT32)Probe->CallCount, (UINT32)Count);
  for (UINTN i = 0; i < Count && i < Probe->CallCount && i < BED_TOKEN_LOG; i++) {
    const BED_TOKEN_CALL &got = Probe->Calls[i];
    const Call &want = Expected[i];
    BOOLEAN setter = want.Entry != BED_TOKEN_CALL_OPEN && want.Entry != BED_TOKEN_CALL_FINISH && want.Entry != BED_TOKEN_CALL_CLOSE;
    BOOLEAN ok = got.Entry == want.Entry && got.Token == want.Token && got.Value == want.Value && (!setter || got.Level == 3);
    if (want.Entry == BED_TOKEN_CALL_OPEN) ok = ok && got.Extra == Service;
    if (!ok) {
      BedFail("call %u: entry %x level %u token %08x value %x, expected entry %u token %08x value %x", (UINT32)i, got.Entry, got.Level,
              got.Token, got.Value, want.Entry, want.Token, want.Value);
      return;
    }
  }
}

static EFI_STATUS Send(Env *E, const UINT8 *Request, UINTN Size) {
  UINTN size = Size;
  E->TokenProbe->CallCount = 0;
  E->TokenProbe->CheckCount = 0;
  if (E->DebugProbe) E->DebugProbe->Clear();
  return E->Smst->SmiManage(&SettingsGuid, nullptr, (VOID *)Request, &size);
}

static BOOLEAN TextEqual(const CHAR8 *A, const CHAR8 *B) {
  while (*A && *A == *B) A++, B++;
  return *A == *B;
}

// A refused request comes back as "source pending" (the only refusal an SMI
// handler may give; the SMM core shows the sender EFI_NOT_FOUND), with one
// debug message that names the reason.
static void ExpectRefusal(Env *E, EFI_STATUS Status, const CHAR8 *What, const CHAR8 *Message) {
  BED_CHECK(Status == EFI_WARN_INTERRUPT_SOURCE_PENDING && E->TokenProbe->CallCount <= 1, "%a: %r with %u calls", What, Status,
            (UINT32)E->TokenProbe->CallCount);
  if (E->DebugProbe)
    BED_CHECK(E->DebugProbe->Count == 1 && TextEqual(E->DebugProbe->Messages[0].Text, Message), "%a: %u messages, first \"%a\"", What,
              (UINT32)E->DebugProbe->Count, E->DebugProbe->Messages[0].Text);
}

static UINT64 ServiceAddress() {
  static const EFI_GUID guid = {0x8151730C, 0xE1D3, 0x4C8C, {0x91, 0x7B, 0xA3, 0x9B, 0x7E, 0xD4, 0x82, 0x65}};
  return (UINT64)(UINTN)BedLocate(guid);
}

// Registration that fails still leaves PCD 1293 pointing at the buffer.
static void SetupTokenRegistrationFails() {
  Env e;
  if (Open(&e)) {
    e.SmmProbe->RegisterStatus = EFI_OUT_OF_RESOURCES;
    EFI_HANDLE image = nullptr;
    EFI_STATUS entry = EFI_SUCCESS;
    EFI_STATUS status = BedLoadAndStart(u"SetupTokenSmm", &image, &entry);
    e.SmmProbe->RegisterStatus = EFI_SUCCESS;
    BED_CHECK(!EFI_ERROR(status), "LoadImage: %r", status);
    BED_CHECK(entry == EFI_OUT_OF_RESOURCES, "entry returned %r, expected the registration's Out of Resources", entry);
    BED_CHECK(e.SmmProbe->HandlerCount == 0, "%u handlers registered", (UINT32)e.SmmProbe->HandlerCount);
    BED_CHECK(e.PcdProbe->SetCount == 1 && e.PcdProbe->Sets[0].Token == 1293 && e.PcdProbe->Sets[0].Value != 0,
              "PCD 1293 not set before the registration (%u sets)", (UINT32)e.PcdProbe->SetCount);
  }
  Close(&e);
}

static void SetupTokenServes() {
  Env e;
  if (!Open(&e)) {
    Close(&e);
    return;
  }
  EFI_HANDLE image = nullptr;
  EFI_STATUS entry = EFI_LOAD_ERROR;
  EFI_STATUS status = BedLoadAndStart(u"SetupTokenSmm", &image, &entry);
  BED_CHECK(!EFI_ERROR(status), "LoadImage: %r", status);
  BED_CHECK(entry == EFI_SUCCESS, "entry returned %r", entry);
  BED_CHECK(e.SmmProbe->HandlerCount == 1, "%u handlers registered, expected 1", (UINT32)e.SmmProbe->HandlerCount);
  BED_CHECK(e.PcdProbe->SetCount == 1 && e.PcdProbe->Sets[0].Token == 1293, "PCD 1293 not set (%u sets)", (UINT32)e.PcdProbe->SetCount);
  if (e.PcdProbe->SetCount == 1)
    BED_CHECK(InRuntimeData(e.PcdProbe->Sets[0].Value, 0x10000), "exchange buffer %lx is not 64 KiB of runtime data",
              e.PcdProbe->Sets[0].Value);

  UINT8 *request = nullptr;
  if (EFI_ERROR(gBS->AllocatePool(EfiBootServicesData, 1024, (VOID **)&request))) {
    Close(&e);
    return;
  }
  UINT64 service = ServiceAddress();

  // All 0xFF.
  gBS->SetMem(request, 1024, 0xFF);
  request[0] = 0xCB;
  status = Send(&e, request, SETTINGS_REQUEST_MIN_SIZE);
  BED_CHECK(status == EFI_SUCCESS, "all-0xFF request: %r", status);
  if (e.DebugProbe) BED_CHECK(e.DebugProbe->Count == 0, "accepted request: %u debug messages", (UINT32)e.DebugProbe->Count);
  BED_CHECK(e.TokenProbe->CheckCount == 1 && e.TokenProbe->CheckedBuffer == (UINT64)(UINTN)request &&
                e.TokenProbe->CheckedSize == SETTINGS_REQUEST_MIN_SIZE,
            "buffer check: %u calls, last %lx size %lu", (UINT32)e.TokenProbe->CheckCount, e.TokenProbe->CheckedBuffer,
            e.TokenProbe->CheckedSize);
  ExpectCalls(e.TokenProbe, AllFF, sizeof AllFF / sizeof AllFF[0], service);

  // Gates opened (record offset n is request byte n + 1).
  UINT8 *record = request + 1;
  record[0x0B8] = 1;
  record[0x36B] = 0;
  record[0x36C] = 0x78, record[0x36D] = 0x56, record[0x36E] = 0x34, record[0x36F] = 0x12;
  record[0x020] = 0x4B;
  record[0x3DE] = 5;
  record[0x116] = 1;
  record[0x117] = 0xEF, record[0x118] = 0xBE;
  for (UINTN k = 0; k < 25; k++) record[0x119 + 3 * k] = 0;
  record[0x0A9] = 1;
  record[0x0AA] = 9;
  status = Send(&e, request, SETTINGS_REQUEST_MIN_SIZE);
  BED_CHECK(status == EFI_SUCCESS, "gated request: %r", status);
  ExpectCalls(e.TokenProbe, Gated, sizeof Gated / sizeof Gated[0], service);

  // Refusals: wrong command, failed check, short request, failed opening.
  request[0] = 0xCA;
  status = Send(&e, request, SETTINGS_REQUEST_MIN_SIZE);
  ExpectRefusal(&e, status, "command 0xCA", "[SetupTokenSmm] SettingsRequest refused: command, Status: Unsupported\n");
  BED_CHECK(e.TokenProbe->CallCount == 0, "command 0xCA: %u token calls", (UINT32)e.TokenProbe->CallCount);
  request[0] = 0xCB;
  e.TokenProbe->CheckStatus = EFI_ACCESS_DENIED;
  status = Send(&e, request, SETTINGS_REQUEST_MIN_SIZE);
  e.TokenProbe->CheckStatus = EFI_SUCCESS;
  ExpectRefusal(&e, status, "refused buffer", "[SetupTokenSmm] SettingsRequest refused: buffer check, Status: Access Denied\n");
  BED_CHECK(e.TokenProbe->CallCount == 0, "refused buffer: %u token calls", (UINT32)e.TokenProbe->CallCount);
  status = Send(&e, request, SETTINGS_REQUEST_MIN_SIZE - 1);
  ExpectRefusal(&e, status, "one byte short", "[SetupTokenSmm] SettingsRequest refused: short request, Status: Invalid Parameter\n");
  BED_CHECK(e.TokenProbe->CallCount == 0, "one byte short: %u token calls", (UINT32)e.TokenProbe->CallCount);
  e.TokenProbe->OpenStatus = EFI_DEVICE_ERROR;
  status = Send(&e, request, SETTINGS_REQUEST_MIN_SIZE);
  e.TokenProbe->OpenStatus = EFI_SUCCESS;
  ExpectRefusal(&e, status, "failing opening call", "[SetupTokenSmm] SettingsRequest refused: token service, Status: Device Error\n");
  BED_CHECK(e.TokenProbe->CallCount == 1 && e.TokenProbe->Calls[0].Entry == BED_TOKEN_CALL_OPEN, "failing opening call: %u calls",
            (UINT32)e.TokenProbe->CallCount);

  // Without the token service the request is refused and nothing is written.
  BED_CHECK(e.TokenProbe->Withdraw(BED_TOKEN_WITHDRAW_SERVICE) == EFI_SUCCESS, "withdrawing the token service");
  status = Send(&e, request, SETTINGS_REQUEST_MIN_SIZE);
  ExpectRefusal(&e, status, "request without token service",
                "[SetupTokenSmm] SettingsRequest refused: no token service, Status: Not Found\n");
  BED_CHECK(e.TokenProbe->CallCount == 0 && e.TokenProbe->CheckCount == 1, "request without token service: %u calls",
            (UINT32)e.TokenProbe->CallCount);
  gBS->FreePool(request);
  Close(&e);
}

// Without SMM Base2 the driver ends with an error instead of calling through
// a missing table.
static void SetupTokenWithoutSmmBase() {
  EFI_HANDLE image = nullptr;
  EFI_STATUS entry = EFI_SUCCESS;
  EFI_STATUS status = BedLoadAndStart(u"SetupTokenSmm", &image, &entry);
  BED_CHECK(!EFI_ERROR(status), "LoadImage: %r", status);
  BED_CHECK(entry == EFI_NOT_FOUND, "entry returned %r, expected Not Found", entry);
}

// Without the buffer check at start-up every request is refused before a
// byte of it is read, even with the token service present.
static void SetupTokenWithoutBufferCheck() {
  Env e;
  if (!Open(&e)) {
    Close(&e);
    return;
  }
  BED_CHECK(e.TokenProbe->Withdraw(BED_TOKEN_WITHDRAW_CHECK) == EFI_SUCCESS, "withdrawing the buffer check");
  EFI_HANDLE image = nullptr;
  EFI_STATUS entry = EFI_LOAD_ERROR;
  EFI_STATUS status = BedLoadAndStart(u"SetupTokenSmm", &image, &entry);
  BED_CHECK(!EFI_ERROR(status) && entry == EFI_SUCCESS, "LoadImage: %r, entry %r", status, entry);
  UINT8 *request = nullptr;
  if (!EFI_ERROR(gBS->AllocatePool(EfiBootServicesData, SETTINGS_REQUEST_MIN_SIZE, (VOID **)&request))) {
    gBS->SetMem(request, SETTINGS_REQUEST_MIN_SIZE, 0xFF);
    request[0] = 0xCB;
    status = Send(&e, request, SETTINGS_REQUEST_MIN_SIZE);
    ExpectRefusal(&e, status, "request without a buffer check",
                  "[SetupTokenSmm] SettingsRequest refused: no buffer check, Status: Invalid Parameter\n");
    BED_CHECK(e.TokenProbe->CallCount == 0, "request without a buffer check: %u token calls", (UINT32)e.TokenProbe->CallCount);
    gBS->FreePool(request);
  }
  Close(&e);
}

// On any other family the driver registers nothing and still succeeds.
static void SetupTokenOtherFamily() {
  Env e;
  if (Open(&e)) {
    EFI_HANDLE image = nullptr;
    EFI_STATUS entry = EFI_LOAD_ERROR;
    EFI_STATUS status = BedLoadAndStart(u"SetupTokenSmm", &image, &entry);
    BED_CHECK(!EFI_ERROR(status), "LoadImage: %r", status);
    BED_CHECK(entry == EFI_SUCCESS, "entry returned %r", entry);
    BED_CHECK(e.SmmProbe->HandlerCount == 0, "%u handlers registered", (UINT32)e.SmmProbe->HandlerCount);
    BED_CHECK(e.PcdProbe->SetCount == 0, "PCD written %u times", (UINT32)e.PcdProbe->SetCount);
  }
  Close(&e);
}

extern const BedScenario SetupTokenScenarios[] = {
    {"setuptoken.registration-fails", "fam1a", SetupTokenRegistrationFails},
    {"setuptoken.serves-requests", "fam1a", SetupTokenServes},
    {"setuptoken.without-smm-base2", "fam1a", SetupTokenWithoutSmmBase},
    {"setuptoken.without-buffer-check", "fam1a", SetupTokenWithoutBufferCheck},
    {"setuptoken.other-family", "default fam19f", SetupTokenOtherFamily},
    {nullptr, nullptr, nullptr},
};
