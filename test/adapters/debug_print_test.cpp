// DebugPrintDxe (and, built with DEBUG_PRINT_SMM, DebugPrintSmm): what reaches
// the debug port for the messages the drivers send and for the directives a
// board's other modules may use, and where the protocol is installed.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "efi/debug_print.h"
#include "test/fake/fake.h"
#include "test/fake/hw_model.h"
#include "test/fake/smm.h"

extern "C" EFI_STATUS EFIAPI DebugPrintEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);

namespace {

const EFI_GUID kDebugPrintGuid = DEBUG_PRINT_PROTOCOL_GUID;
DEBUG_PRINT_PROTOCOL *gProtocol;

// Calls the protocol as the library does: a variadic EFIAPI front hands it the list.
EFI_STATUS EFIAPI Send(UINTN Level, const CHAR8 *Format, ...) {
  EFI_VA_LIST Args;
  EFI_VA_START(Args, Format);
  EFI_STATUS s = gProtocol->Print(Level, Format, Args);
  EFI_VA_END(Args);
  return s;
}

class DebugPrintTest : public ::testing::Test {
 protected:
  void SetUp() override {
    image = platform.NewImageHandle();
    smm.SetInSmm(true);
    ASSERT_EQ(DebugPrintEntry(image, platform.SystemTable()), EFI_SUCCESS);
#ifdef DEBUG_PRINT_SMM
    gProtocol = static_cast<DEBUG_PRINT_PROTOCOL *>(smm.Find(kDebugPrintGuid));
    EXPECT_EQ(platform.Find(kDebugPrintGuid), nullptr) << "the SMM build installs in SMM only";
#else
    gProtocol = static_cast<DEBUG_PRINT_PROTOCOL *>(platform.Find(kDebugPrintGuid));
    EXPECT_EQ(smm.Find(kDebugPrintGuid), nullptr);
#endif
    ASSERT_NE(gProtocol, nullptr);
  }
  std::string Port() const { return hw.PortOutput(0x402); }

  fake::Platform platform;
  fake::Smm smm{platform};
  fake::HwModel hw;
  EFI_HANDLE image = nullptr;
};

TEST_F(DebugPrintTest, FormatsEachDirectiveOntoTheDebugPort) {
  const EFI_GUID guid = {0x11B34006, 0xD85B, 0x4D0A, {0xA2, 0x90, 0xD5, 0xA5, 0x71, 0x31, 0x0E, 0xF7}};
  struct Case {
    const char *expected;
    std::function<EFI_STATUS()> send;
  };
  const Case cases[] = {
      // The library's own message.
      {"[CfgPcdBufLibDxeConstructor] LocateProtocol: gPcdProtocolGuid, Status: Not Found\n",
       [] {
         return Send(DEBUG_LEVEL_ERROR, "[%a] LocateProtocol: gPcdProtocolGuid, Status: %r\n", "CfgPcdBufLibDxeConstructor", EFI_NOT_FOUND);
       }},
      {"Success|Warning Stale Data|0x800000000000007F",
       [] { return Send(DEBUG_LEVEL_ERROR, "%r|%r|%r", EFI_SUCCESS, EFI_WARN_STALE_DATA, EFIERR(0x7F)); }},
      {"-42 42 4294967254 ffffffd6 FFFFFFD6", [] { return Send(DEBUG_LEVEL_ERROR, "%d %u %u %x %X", -42, 42, -42, -42, -42); }},
      {"-1234567890123 1234567890123 1CBE991A14",
       [] { return Send(DEBUG_LEVEL_ERROR, "%ld %lu %lX", -1234567890123LL, 1234567890123ULL, 0x1CBE991A14ULL); }},
      {"[  7][7  ][007][-07]", [] { return Send(DEBUG_LEVEL_ERROR, "[%3d][%-3d][%03d][%03d]", 7, 7, 7, -7); }},
      {"[ ab][ab ][x]", [] { return Send(DEBUG_LEVEL_ERROR, "[%3a][%-3a][%c]", "ab", "ab", 'x'); }},
      {"wide? (null) 100%", [] { return Send(DEBUG_LEVEL_ERROR, "%s %a 100%%", u"wide\u00e9", nullptr); }},
      {"11B34006-D85B-4D0A-A290-D5A571310EF7", [&guid] { return Send(DEBUG_LEVEL_ERROR, "%g", &guid); }},
      {"0x00000000DEADBEEF", [] { return Send(DEBUG_LEVEL_ERROR, "%p", reinterpret_cast<VOID *>(0xDEADBEEFULL)); }},
      // Not a directive: written as it stands, and an ending % ends the text.
      {"%q and %", [] { return Send(DEBUG_LEVEL_ERROR, "%q and %"); }},
      // Levels: warnings and information go out; verbose does not.
      {"warn info ",
       [] {
         Send(0x00000002, "warn ");
         Send(0x00400000, "verbose ");
         return Send(0x00000040, "info ");
       }},
  };
  for (const Case &c : cases) {
    hw.ClearLog();
    EXPECT_EQ(c.send(), EFI_SUCCESS) << c.expected;
    EXPECT_EQ(Port(), c.expected);
  }
}

TEST_F(DebugPrintTest, RefusesANullFormatAndWritesNothing) {
  hw.ClearLog();
  EXPECT_EQ(gProtocol->Print(DEBUG_LEVEL_ERROR, nullptr, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Port(), "");
}

#ifndef DEBUG_PRINT_SMM
TEST_F(DebugPrintTest, InstallsOnItsImageHandle) {
  VOID *iface = nullptr;
  EXPECT_EQ(platform.BootServices()->HandleProtocol(image, &kDebugPrintGuid, &iface), EFI_SUCCESS);
  EXPECT_EQ(iface, gProtocol);
}
#else
TEST(DebugPrintSmm, WithoutTheSmmTableNothingIsInstalled) {
  fake::Platform platform;
  fake::Smm smm{platform};
  smm.SetInSmm(false);  // GetSmstLocation fails, as for a driver started outside SMM
  EXPECT_EQ(DebugPrintEntry(platform.NewImageHandle(), platform.SystemTable()), EFI_UNSUPPORTED);
  EXPECT_EQ(smm.Find(kDebugPrintGuid), nullptr);
  EXPECT_EQ(platform.Find(kDebugPrintGuid), nullptr);
}
#endif

}  // namespace
