// SPDX-License-Identifier: BSD-2-Clause-Patent
// The fake file system keeps the UEFI rules that drivers and their tests rely
// on: the directory buffer rule, opening by path, file reads and positions,
// information records, and counting every handle until it is closed.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <vector>

#include "test/fake/fake.h"
#include "test/fake/fs.h"

namespace {

const EFI_GUID kSfs = EFI_SIMPLE_FILE_SYSTEM_PROTOCOL_GUID;
const EFI_GUID kInfo = EFI_FILE_INFO_GUID;

class FakeFsTest : public ::testing::Test {
 protected:
  fake::Platform plat;
  std::unique_ptr<fake::FileSystem> fs = std::make_unique<fake::FileSystem>(plat);

  EFI_FILE_PROTOCOL *OpenRoot(fake::Volume &v) {
    EFI_FILE_PROTOCOL *root = nullptr;
    EXPECT_EQ(v.Protocol()->OpenVolume(v.Protocol(), &root), EFI_SUCCESS);
    return root;
  }
  static std::vector<std::string> ReadAll(EFI_FILE_PROTOCOL *dir) {
    std::vector<std::string> names;
    alignas(8) uint8_t buf[1024];
    for (;;) {
      UINTN size = sizeof buf;
      EXPECT_EQ(dir->Read(dir, &size, buf), EFI_SUCCESS);
      if (size == 0) break;
      names.push_back(fake::Narrow(reinterpret_cast<EFI_FILE_INFO *>(buf)->FileName));
    }
    return names;
  }
};

TEST_F(FakeFsTest, VolumesAreFoundByProtocolAndGoAwayWhenRemoved) {
  fake::Volume &a = fs->AddVolume();
  fake::Volume &b = fs->AddVolume();
  UINTN n = 0;
  EFI_HANDLE *handles = nullptr;
  ASSERT_EQ(plat.BootServices()->LocateHandleBuffer(ByProtocol, &kSfs, nullptr, &n, &handles), EFI_SUCCESS);
  ASSERT_EQ(n, 2u);
  EXPECT_EQ(handles[0], a.Handle());
  EXPECT_EQ(handles[1], b.Handle());
  plat.BootServices()->FreePool(handles);

  EFI_FILE_PROTOCOL *root = OpenRoot(a);
  fs->RemoveVolume(a);
  EXPECT_FALSE(a.Installed());
  alignas(8) uint8_t buf[256];
  UINTN size = sizeof buf;
  EXPECT_EQ(root->Read(root, &size, buf), EFI_NO_MEDIA);
  EXPECT_EQ(root->Close(root), EFI_SUCCESS) << "handles outlive their medium";
  EFI_FILE_PROTOCOL *again = nullptr;
  EXPECT_EQ(a.Protocol()->OpenVolume(a.Protocol(), &again), EFI_NO_MEDIA);
  b.FailOpenVolume(EFI_DEVICE_ERROR);
  EXPECT_EQ(b.Protocol()->OpenVolume(b.Protocol(), &again), EFI_DEVICE_ERROR);
  EXPECT_EQ(b.OpenVolumeCalls(), 1u);
}

TEST_F(FakeFsTest, DirectoryReadsFollowTheBufferRule) {
  fake::Volume &v = fs->AddVolume();
  v.Root().AddFile(u"LONGNAME.ROM", 0x10000, fake::FsDate(2021, 3, 5));
  v.Root().AddFile(u"B", 1);
  EFI_FILE_PROTOCOL *root = OpenRoot(v);
  alignas(8) uint8_t buf[200];

  UINTN size = 10;
  EXPECT_EQ(root->Read(root, &size, buf), EFI_BUFFER_TOO_SMALL);
  EXPECT_EQ(size, SIZE_OF_EFI_FILE_INFO + 13 * sizeof(CHAR16)) << "the size needed";
  size = sizeof buf;
  ASSERT_EQ(root->Read(root, &size, buf), EFI_SUCCESS) << "the position stayed";
  auto *info = reinterpret_cast<EFI_FILE_INFO *>(buf);
  EXPECT_EQ(info->Size, size);
  EXPECT_EQ(info->FileSize, 0x10000u);
  EXPECT_EQ(info->PhysicalSize, 0x10000u);
  EXPECT_EQ(info->ModificationTime.Year, 2021);
  EXPECT_EQ(info->ModificationTime.Month, 3);
  EXPECT_EQ(info->ModificationTime.Day, 5);
  EXPECT_EQ(info->Attribute, EFI_FILE_ARCHIVE);
  EXPECT_EQ(fake::Narrow(info->FileName), "LONGNAME.ROM");

  EXPECT_EQ(ReadAll(root), (std::vector<std::string>{"B"}));
  size = sizeof buf;
  EXPECT_EQ(root->Read(root, &size, buf), EFI_SUCCESS);
  EXPECT_EQ(size, 0u) << "the end stays the end";
  EXPECT_EQ(root->SetPosition(root, 5), EFI_UNSUPPORTED) << "directories only rewind";
  EXPECT_EQ(root->SetPosition(root, 0), EFI_SUCCESS);
  UINT64 pos;
  EXPECT_EQ(root->GetPosition(root, &pos), EFI_UNSUPPORTED);
  EXPECT_EQ(ReadAll(root), (std::vector<std::string>{"LONGNAME.ROM", "B"}));
  root->Close(root);
}

TEST_F(FakeFsTest, SubDirectoriesListDotEntriesFirstAndOpenByPath) {
  fake::Volume &v = fs->AddVolume();
  fake::FsNode &dir = v.Root().AddDirectory(u"EFI");
  dir.AddDirectory(u"BOOT").AddFile(u"BOOTX64.EFI", 4096);
  v.Root().AddFile(u"TOP.ROM", 0x10000);
  EFI_FILE_PROTOCOL *root = OpenRoot(v);
  EXPECT_EQ(ReadAll(root), (std::vector<std::string>{"EFI", "TOP.ROM"})) << "no dot entries in the root";

  EFI_FILE_PROTOCOL *sub = nullptr, *file = nullptr, *up = nullptr;
  ASSERT_EQ(root->Open(root, &sub, u"EFI\\BOOT", EFI_FILE_MODE_READ, 0), EFI_SUCCESS);
  EXPECT_EQ(ReadAll(sub), (std::vector<std::string>{".", "..", "BOOTX64.EFI"}));
  ASSERT_EQ(sub->Open(sub, &file, u"BOOTX64.EFI", EFI_FILE_MODE_READ, 0), EFI_SUCCESS);
  ASSERT_EQ(file->Open(file, &up, u"..\\..\\TOP.ROM", EFI_FILE_MODE_READ, 0), EFI_SUCCESS);
  EFI_FILE_PROTOCOL *abs = nullptr;
  ASSERT_EQ(sub->Open(sub, &abs, u"\\TOP.ROM", EFI_FILE_MODE_READ, 0), EFI_SUCCESS);
  EXPECT_EQ(root->Open(root, &abs, u"MISSING", EFI_FILE_MODE_READ, 0), EFI_NOT_FOUND);
  EXPECT_EQ(root->Open(root, &abs, u"TOP.ROM\\X", EFI_FILE_MODE_READ, 0), EFI_NOT_FOUND);
  EXPECT_EQ(root->Open(root, &abs, u"TOP.ROM", EFI_FILE_MODE_READ | EFI_FILE_MODE_WRITE, 0), EFI_WRITE_PROTECTED);
  EXPECT_EQ(root->Open(root, &abs, u"TOP.ROM", EFI_FILE_MODE_WRITE, 0), EFI_INVALID_PARAMETER);
  EXPECT_EQ(fs->OpenHandles(), 5u);
  for (EFI_FILE_PROTOCOL *h : {root, sub, file, up}) h->Close(h);
  EXPECT_EQ(fs->OpenHandles(), 1u) << "the absolute open is still open";
  fs->AllowOpenHandlesAtExit();
}

TEST_F(FakeFsTest, FilesReadTheirBytesFromTheirPositionAndReportTheirInfo) {
  fake::Volume &v = fs->AddVolume();
  v.Root().AddFile(u"PATTERN.ROM", 16 * 1024 * 1024);
  fake::FsNode &small = v.Root().AddFile(u"SMALL.BIN", 5);
  small.content = {1, 2, 3, 4, 5};
  EFI_FILE_PROTOCOL *root = OpenRoot(v), *big = nullptr, *f = nullptr;
  ASSERT_EQ(root->Open(root, &big, u"PATTERN.ROM", EFI_FILE_MODE_READ, 0), EFI_SUCCESS);
  ASSERT_EQ(root->Open(root, &f, u"SMALL.BIN", EFI_FILE_MODE_READ, 0), EFI_SUCCESS);

  uint8_t buf[8] = {};
  UINTN size = 3;
  ASSERT_EQ(f->Read(f, &size, buf), EFI_SUCCESS);
  EXPECT_EQ(size, 3u);
  size = 8;
  ASSERT_EQ(f->Read(f, &size, buf + 3), EFI_SUCCESS);
  EXPECT_EQ(size, 2u) << "short read at the end";
  EXPECT_EQ(std::vector<uint8_t>(buf, buf + 5), (std::vector<uint8_t>{1, 2, 3, 4, 5}));
  UINT64 pos = 0;
  EXPECT_EQ(f->GetPosition(f, &pos), EFI_SUCCESS);
  EXPECT_EQ(pos, 5u);
  size = 8;
  EXPECT_EQ(f->Read(f, &size, buf), EFI_SUCCESS);
  EXPECT_EQ(size, 0u);

  ASSERT_EQ(big->SetPosition(big, 0xFFFFFF), EFI_SUCCESS);
  size = 4;
  ASSERT_EQ(big->Read(big, &size, buf), EFI_SUCCESS);
  EXPECT_EQ(size, 1u);
  EXPECT_EQ(buf[0], fake::FsPatternByte(0xFFFFFF));
  EXPECT_EQ(big->SetPosition(big, ~0ULL), EFI_SUCCESS);
  EXPECT_EQ(big->GetPosition(big, &pos), EFI_SUCCESS);
  EXPECT_EQ(pos, 16u * 1024 * 1024);

  UINTN isize = 0;
  EXPECT_EQ(f->GetInfo(f, &kInfo, &isize, nullptr), EFI_BUFFER_TOO_SMALL);
  EXPECT_EQ(isize, SIZE_OF_EFI_FILE_INFO + 10 * sizeof(CHAR16));
  std::vector<uint64_t> info(isize / 8 + 1);
  ASSERT_EQ(f->GetInfo(f, &kInfo, &isize, info.data()), EFI_SUCCESS);
  EXPECT_EQ(reinterpret_cast<EFI_FILE_INFO *>(info.data())->FileSize, 5u);
  EFI_GUID other = kSfs;
  EXPECT_EQ(f->GetInfo(f, &other, &isize, info.data()), EFI_UNSUPPORTED);
  size = 1;
  EXPECT_EQ(f->Write(f, &size, buf), EFI_WRITE_PROTECTED);
  for (EFI_FILE_PROTOCOL *h : {root, big, f}) h->Close(h);
}

TEST_F(FakeFsTest, FailuresAreInjectedPerEntryPerVolumeAndBetweenReads) {
  fake::Volume &v = fs->AddVolume();
  for (const char16_t *n : {u"A", u"B", u"C"}) v.Root().AddFile(n, 1);
  v.Root().children[1]->read_status = EFI_VOLUME_CORRUPTED;
  EFI_FILE_PROTOCOL *root = OpenRoot(v);
  alignas(8) uint8_t buf[256];
  UINTN size = sizeof buf;
  ASSERT_EQ(root->Read(root, &size, buf), EFI_SUCCESS);
  size = sizeof buf;
  EXPECT_EQ(root->Read(root, &size, buf), EFI_VOLUME_CORRUPTED);
  EXPECT_EQ(root->Read(root, &size, buf), EFI_VOLUME_CORRUPTED) << "the position stays on the bad entry";

  v.Root().children[1]->read_status = 0;
  v.ReadsFailAfter(1);
  size = sizeof buf;
  EXPECT_EQ(root->Read(root, &size, buf), EFI_SUCCESS);
  EXPECT_EQ(root->Read(root, &size, buf), EFI_DEVICE_ERROR);
  v.ReadsFailAfter(-1);
  v.FailSetPosition(EFI_DEVICE_ERROR);
  EXPECT_EQ(root->SetPosition(root, 0), EFI_DEVICE_ERROR);
  v.FailSetPosition(0);

  std::vector<size_t> seen;
  v.OnDirectoryRead([&](fake::FsNode &dir, size_t pos) {
    seen.push_back(pos);
    if (pos == 1) dir.Remove(u"B");
  });
  root->SetPosition(root, 0);
  EXPECT_EQ(ReadAll(root), (std::vector<std::string>{"A", "C"}));
  EXPECT_EQ(seen, (std::vector<size_t>{0, 1, 2}));
  root->Close(root);
}

TEST_F(FakeFsTest, HandlesAreCountedAndUseAfterCloseIsCaught) {
  fake::Volume &v = fs->AddVolume();
  fake::Volume &w = fs->AddVolume();
  EFI_FILE_PROTOCOL *a = OpenRoot(v), *b = OpenRoot(v), *c = OpenRoot(w);
  EXPECT_EQ(v.OpenHandles(), 2u);
  EXPECT_EQ(fs->OpenHandles(), 3u);
  a->Close(a);
  b->Close(b);
  c->Close(c);
  EXPECT_EQ(fs->OpenHandles(), 0u);
  EXPECT_EQ(fs->ClosedHandles(), 3u);
  EXPECT_NONFATAL_FAILURE(a->Close(a), "used after Close");
  EXPECT_EQ(fs->UseAfterClose(), 1u);
}

TEST(FakeFsLeak, DestructorReportsHandlesLeftOpen) {
  fake::Platform plat;
  EXPECT_NONFATAL_FAILURE(
      {
        fake::FileSystem fs(plat);
        fake::Volume &v = fs.AddVolume();
        EFI_FILE_PROTOCOL *root = nullptr;
        v.Protocol()->OpenVolume(v.Protocol(), &root);
      },
      "file handles left open");
}

}  // namespace
