// SPDX-License-Identifier: BSD-2-Clause-Patent
// Which firmware volume answers a raw-section read, and what the caller is
// left holding when none does.
#include "picture_fixture.h"
#include "test_fv.h"
#include "ui/section.h"

namespace picture_test {
namespace {

constexpr EFI_GUID kFile = {0x6C2AB33E, 0x77F8, 0x46B9, {0x81, 0x06, 0x76, 0x0B, 0x4A, 0x81, 0xA5, 0x00}};
constexpr EFI_GUID kOther = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};

class SectionTest : public PlatformTest {
 protected:
  EFI_HANDLE Publish(TestVolume &v) {
    EFI_HANDLE h = nullptr;
    EXPECT_EQ(platform_.Install(&h, gFirmwareVolumeProtocolGuid, v.Protocol()), EFI_SUCCESS);
    return h;
  }
  std::string Read(UINTN instance, EFI_STATUS expect) {
    VOID *buffer = (VOID *)0x1;
    UINTN size = 99;
    EFI_STATUS s = ReadRawSection(&kFile, &buffer, &size, instance);
    EXPECT_EQ(s, expect) << "instance " << instance;
    if (EFI_ERROR(s)) {
      EXPECT_EQ(buffer, nullptr);
      EXPECT_EQ(size, 0u);
      return "";
    }
    EXPECT_TRUE(platform_.IsLive(buffer)) << "the section comes in pool the caller frees";
    std::string text((const char *)buffer, size);
    gBS->FreePool(buffer);
    return text;
  }
  static std::vector<UINT8> Bytes(const char *s) { return std::vector<UINT8>(s, s + strlen(s)); }
};

TEST_F(SectionTest, FirstVolumeWithTheSectionAnswers) {
  TestVolume a, b, c;
  a.AddFile(kOther, {Bytes("elsewhere")});
  b.AddFile(kFile, {Bytes("b0"), Bytes("b1")});
  c.AddFile(kFile, {Bytes("c0"), Bytes("c1"), Bytes("c2")});
  b.RemoveSection(kFile, 1);
  Publish(a);
  Publish(b);
  Publish(c);

  // A volume without the file, then the first that has it.
  EXPECT_EQ(Read(0, EFI_SUCCESS), "b0");
  ASSERT_EQ(a.Reads().size(), 1u);
  EXPECT_EQ(a.Reads()[0].type, 0x19);
  EXPECT_EQ(c.Reads().size(), 0u) << "the search stops at the first answer";

  // A missing instance in one volume goes on to the next.
  EXPECT_EQ(Read(1, EFI_SUCCESS), "c1");
  EXPECT_EQ(b.Reads().back().instance, 1u);
  EXPECT_EQ(Read(2, EFI_SUCCESS), "c2");

  // Nobody has it.
  EXPECT_EQ(Read(3, EFI_NOT_FOUND), "");
  // Four reads asked a and b each; c was not asked for the first.
  EXPECT_EQ(a.Reads().size(), 4u);
  EXPECT_EQ(b.Reads().size(), 4u);
  EXPECT_EQ(c.Reads().size(), 3u);
}

TEST_F(SectionTest, NoVolumeAtAllPassesTheLookupStatusUp) {
  VOID *buffer = nullptr;
  UINTN size = 0;
  EXPECT_TRUE(EFI_ERROR(ReadRawSection(&kFile, &buffer, &size, 0)));
  EXPECT_EQ(buffer, nullptr);
  EXPECT_EQ(ReadRawSection(nullptr, &buffer, &size, 0), EFI_INVALID_PARAMETER);
}

TEST_F(SectionTest, OutOfPoolIsAFailureNotAnEmptySection) {
  TestVolume a;
  a.AddFile(kFile, {Bytes("x")});
  Publish(a);
  platform_.FailAllocation(2);  // the handle buffer succeeds, the section's pool fails
  VOID *buffer = nullptr;
  UINTN size = 0;
  EXPECT_TRUE(EFI_ERROR(ReadRawSection(&kFile, &buffer, &size, 0)));
  EXPECT_EQ(buffer, nullptr);
}

}  // namespace
}  // namespace picture_test
