// SPDX-License-Identifier: BSD-2-Clause-Patent
#include "test/drvlib/lib_support.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace libtest {

namespace {

DebugPrintDouble *g_current = nullptr;
const EFI_GUID kDebugPrintGuid = DEBUG_PRINT_PROTOCOL_GUID;
const EFI_GUID kHobListGuid = EFI_HOB_LIST_GUID;

EFI_STATUS EFIAPI PrintThunk(UINTN level, const CHAR8 *format, EFI_VA_LIST args) {
  if (!g_current) {
    ADD_FAILURE() << "debug print with no double alive";
    return EFI_DEVICE_ERROR;
  }
  return g_current->Record(level, format, args);
}

}  // namespace

const EFI_GUID &HobListGuid() { return kHobListGuid; }
const EFI_GUID &DebugPrintGuid() { return kDebugPrintGuid; }

std::string StatusName(EFI_STATUS s) {
  switch (s) {
    case EFI_SUCCESS:
      return "Success";
    case EFI_INVALID_PARAMETER:
      return "Invalid Parameter";
    case EFI_UNSUPPORTED:
      return "Unsupported";
    case EFI_NOT_READY:
      return "Not Ready";
    case EFI_OUT_OF_RESOURCES:
      return "Out of Resources";
    case EFI_NOT_FOUND:
      return "Not Found";
    case EFI_ACCESS_DENIED:
      return "Access Denied";
    default: {
      char buf[32];
      snprintf(buf, sizeof(buf), "%llX", (unsigned long long)s);
      return buf;
    }
  }
}

DebugPrintDouble::DebugPrintDouble(fake::Platform &platform, bool install) : platform_(platform) {
  proto_.Print = PrintThunk;
  g_current = this;
  if (install) Install();
}

DebugPrintDouble::~DebugPrintDouble() {
  Uninstall();
  g_current = nullptr;
}

DebugPrintDouble *DebugPrintDouble::Current() { return g_current; }

void DebugPrintDouble::Install() {
  if (!handle_) EXPECT_EQ(platform_.Install(&handle_, kDebugPrintGuid, &proto_), EFI_SUCCESS);
}

void DebugPrintDouble::Uninstall() {
  if (handle_) platform_.Uninstall(handle_, kDebugPrintGuid, &proto_);
  handle_ = nullptr;
}

EFI_STATUS DebugPrintDouble::Record(UINTN level, const CHAR8 *format, EFI_VA_LIST args) {
  std::string out;
  for (const char *p = format; *p; p++) {
    if (*p != '%') {
      out += *p;
      continue;
    }
    char buf[32];
    switch (*++p) {
      case 'a':
      case 's': {
        const char *s = EFI_VA_ARG(args, const char *);
        out += s ? s : "(null)";
        break;
      }
      case 'r':
        out += StatusName(EFI_VA_ARG(args, EFI_STATUS));
        break;
      case 'd':
        snprintf(buf, sizeof(buf), "%d", EFI_VA_ARG(args, int));
        out += buf;
        break;
      case 'u':
        snprintf(buf, sizeof(buf), "%u", EFI_VA_ARG(args, unsigned));
        out += buf;
        break;
      case 'x':
        snprintf(buf, sizeof(buf), "%x", EFI_VA_ARG(args, unsigned));
        out += buf;
        break;
      case 'X':
        snprintf(buf, sizeof(buf), "%X", EFI_VA_ARG(args, unsigned));
        out += buf;
        break;
      case '%':
        out += '%';
        break;
      case '\0':
        p--;
        break;
      default:
        ADD_FAILURE() << "unexpected directive %" << *p << " in \"" << format << "\"";
    }
  }
  messages_.push_back({level, format, out});
  return status_;
}

size_t ReleaseRuntimeScratch(fake::Platform &platform) {
  size_t n = 0;
  for (VOID **block : {&RuntimeScratch32, &RuntimeScratch100, &RuntimeScratch8}) {
    if (*block && platform.IsLive(*block)) {
      EXPECT_EQ(platform.TypeOf(*block), EfiRuntimeServicesData);
      platform.BootServices()->FreePool(*block);
      n++;
    }
    *block = nullptr;
  }
  return n;
}

void ResetDrvLib() {
  gImageHandle = nullptr;
  gST = nullptr;
  gBS = nullptr;
  gRT = nullptr;
  memset(&CfgPcdBuffer, 0, sizeof(CfgPcdBuffer));
  gDrvLibPcd = nullptr;
  gDrvLibDebugPrint = nullptr;
  HobListPointer = nullptr;
  RuntimeScratch32 = nullptr;
  RuntimeScratch100 = nullptr;
  RuntimeScratch8 = nullptr;
  PlatformMmioBase = 0;
  PlatformMmioBaseEvent = nullptr;
  SmmLibReady = 0;
  SmmLibReadyRegistration = nullptr;
  DrvLibModuleBaseName = DRVLIB_MODULE_NAME;
}

}  // namespace libtest
