// SPDX-License-Identifier: BSD-2-Clause-Patent
// The stand-ins that the drivers linking the shared library meet at start-up:
// a PCD database that knows the cached tokens, and the debug print protocol.
#include "test/bed/app/app.h"

static const EFI_GUID PcdProbeGuid = BED_PCD_PROBE_GUID;
static const EFI_GUID DebugProbeGuid = BED_DEBUG_PRINT_PROBE_GUID;

static const struct {
  UINT32 Token;
  UINT32 Value;
} Tokens[] = {BED_LIB_TOKENS};

extern const UINT8 BedExpectedCfgPcdBuffer[26] = {
    0x01, 0x03, 0x80, 0x00,  // signature 0x00800301
    0x01,                    // revision
    0x01, 0x00,              // tokens 846, 1179 (Boolean)
    0x11, 0x22, 0x33, 0x44,  // tokens 1103, 1178, 1184, 1182
    0xD4, 0xC3, 0xB2, 0xA1,  // token 1183
    0x01,                    // token 1180 (Boolean)
    0x44, 0x33, 0x22, 0x11,  // token 1112
    0x88, 0x77, 0x66, 0x55,  // token 1111
    0x55,                    // token 1181
    0x02,                    // end mark
};

static const EFI_GUID PcdGuid = PCD_PROTOCOL_GUID;

BOOLEAN BedLibEnvOpen(BedLibEnv *Env) {
  *Env = {};
  Env->FirmwarePcd = BedLocate(PcdGuid);
  EFI_STATUS status = BedLoadStandIn(u"DebugPrintStandIn", &Env->DebugImage);
  BED_CHECK(!EFI_ERROR(status), "debug print stand-in: %r", status);
  if (EFI_ERROR(status)) return 0;
  status = BedLoadStandIn(u"PcdStandIn", &Env->PcdImage);
  BED_CHECK(!EFI_ERROR(status), "PCD stand-in: %r", status);
  if (EFI_ERROR(status)) {
    BedUnloadStandIn(Env->DebugImage);
    return 0;
  }
  Env->Pcd = (BED_PCD_PROBE *)BedLocate(PcdProbeGuid);
  BED_CHECK(BedLocate(PcdGuid) != Env->FirmwarePcd, "the PCD stand-in did not take the firmware's place");
  Env->Debug = (BED_DEBUG_PRINT_PROBE *)BedLocate(DebugProbeGuid);
  for (const auto &t : Tokens) Env->Pcd->SetToken(t.Token, t.Value);
  Env->Pcd->ClearLog();
  Env->Debug->Clear();
  return 1;
}

void BedLibEnvClose(BedLibEnv *Env) {
  EFI_STATUS status = BedUnloadStandIn(Env->PcdImage);
  BED_CHECK(status == EFI_SUCCESS, "unloading the PCD stand-in: %r", status);
  BED_CHECK(BedLocate(PcdGuid) == Env->FirmwarePcd, "the firmware's PCD protocol was not put back");
  status = BedUnloadStandIn(Env->DebugImage);
  BED_CHECK(status == EFI_SUCCESS, "unloading the debug print stand-in: %r", status);
}
