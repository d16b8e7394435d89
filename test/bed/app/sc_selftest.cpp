// SPDX-License-Identifier: BSD-2-Clause-Patent
// The toolchain self-test driver in real firmware: it loads from a device path
// and from memory, its entry runs (large frame, memset/memcpy, local statics),
// its protocol answers, and it unloads cleanly.
#include "test/bed/app/app.h"
#include "test/selftest/selftest.h"

static const EFI_GUID SelfTestGuid = SELFTEST_PROTOCOL_GUID;

// The same computation the driver does at entry, for comparison.
static UINT64 ExpectedChecksum(UINT8 seed) {
  UINT64 sum = 0;
  for (UINTN i = 0; i < 5000; i++) sum = sum * 31 + (i == 4999 ? 1 : seed);
  return sum;
}

static void CheckInstance(EFI_HANDLE image) {
  VOID *iface = nullptr;
  EFI_STATUS status = gBS->HandleProtocol(image, &SelfTestGuid, &iface);
  BED_REQUIRE(!EFI_ERROR(status), "self-test protocol not on the image handle: %r", status);
  SELFTEST_PROTOCOL *proto = (SELFTEST_PROTOCOL *)iface;
  BED_CHECK(proto->Revision == 1, "revision %lu", proto->Revision);
  BED_CHECK(proto->EntryChecksum == ExpectedChecksum(0x5A), "entry checksum %lx", proto->EntryChecksum);
  BED_CHECK(proto->Sum(40, 2) == 42, "Sum(40, 2) = %lu", proto->Sum(40, 2));
  UINT64 first = proto->CallCount();
  BED_CHECK(proto->CallCount() == first + 1, "CallCount does not count");
}

static void SelfTestLoads() {
  EFI_HANDLE image = nullptr;
  EFI_STATUS entry = EFI_SUCCESS;
  EFI_STATUS status = BedLoadAndStart(u"SelfTestDxe", &image, &entry);
  BED_REQUIRE(!EFI_ERROR(status), "LoadImage: %r", status);
  BED_REQUIRE(entry == EFI_SUCCESS, "entry returned %r", entry);
  CheckInstance(image);
  EFI_LOADED_IMAGE_PROTOCOL *li = BedLoadedImage(image);
  BED_CHECK(li && li->Unload != nullptr, "no unload function");
  BED_CHECK(li && li->ImageCodeType == EfiBootServicesCode, "code type %u", li ? (UINT32)li->ImageCodeType : 0);
  status = gBS->UnloadImage(image);
  BED_CHECK(status == EFI_SUCCESS, "UnloadImage: %r", status);
  VOID *iface = nullptr;
  BED_CHECK(EFI_ERROR(gBS->LocateProtocol(&SelfTestGuid, nullptr, &iface)), "protocol still installed after unload");
}

// Loading from a memory buffer relocates the image to wherever the pool puts it.
static void SelfTestFromMemory() {
  VOID *data = nullptr;
  UINTN size = 0;
  EFI_STATUS status = BedReadFile(u"\\efi\\SelfTestDxe.efi", &data, &size);
  BED_REQUIRE(!EFI_ERROR(status), "reading the image: %r", status);
  EFI_HANDLE a = nullptr, b = nullptr;
  status = gBS->LoadImage(0, gBedImage, nullptr, data, size, &a);
  EFI_STATUS status2 = gBS->LoadImage(0, gBedImage, nullptr, data, size, &b);
  gBS->FreePool(data);
  BED_REQUIRE(!EFI_ERROR(status) && !EFI_ERROR(status2), "LoadImage from memory: %r %r", status, status2);
  BED_CHECK(gBS->StartImage(a, nullptr, nullptr) == EFI_SUCCESS, "first instance did not start");
  BED_CHECK(gBS->StartImage(b, nullptr, nullptr) == EFI_SUCCESS, "second instance did not start");
  CheckInstance(a);
  CheckInstance(b);
  BED_CHECK(gBS->UnloadImage(b) == EFI_SUCCESS, "unloading the second instance");
  BED_CHECK(gBS->UnloadImage(a) == EFI_SUCCESS, "unloading the first instance");
}

extern const BedScenario SelfTestScenarios[] = {
    {"selftest.load-start-unload", "default", SelfTestLoads},
    {"selftest.two-instances-from-memory", "default", SelfTestFromMemory},
    {nullptr, nullptr, nullptr},
};
