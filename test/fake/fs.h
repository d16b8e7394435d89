// SPDX-License-Identifier: BSD-2-Clause-Patent
// A fake Simple File System for host tests: volumes backed by in-memory
// trees, installed on handles of the fake platform. Directories are read with
// standard EFI_FILE_INFO records and the UEFI buffer rule (a too small buffer
// gets EFI_BUFFER_TOO_SMALL and the size needed, and the position stays).
// Every EFI_FILE_PROTOCOL opened is counted until it is closed, so a test can
// assert that nothing leaked; a handle used after Close fails the test.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "efi/efi.h"
#include "fake.h"

namespace fake {

struct FileHandle;
class FileSystem;

// One entry of a directory tree.
struct FsNode {
  std::u16string name;
  uint64_t attribute = EFI_FILE_ARCHIVE;
  uint64_t size = 0;  // FileSize reported for the entry
  EFI_TIME create{}, access{}, modify{};
  // File contents when they hold exactly `size` bytes; otherwise Read gives a
  // fixed pattern (FsPatternByte), so files of many megabytes cost no memory.
  std::vector<uint8_t> content;
  std::vector<std::shared_ptr<FsNode>> children;  // directories only
  FsNode *parent = nullptr;                       // null for a volume's root
  // Reading this entry as a directory record fails with this status (the
  // position stays), when not 0.
  EFI_STATUS read_status = 0;
  // Replaces the generated EFI_FILE_INFO record when not empty: handed back
  // byte for byte, whatever it says, for tests of malformed records.
  std::vector<uint8_t> raw_info;

  bool IsDirectory() const { return (attribute & EFI_FILE_DIRECTORY) != 0; }
  // Adds an entry at the end of this directory and returns it.
  FsNode &AddFile(const std::u16string &name, uint64_t size, EFI_TIME modified = {}, uint64_t attribute = EFI_FILE_ARCHIVE);
  FsNode &AddDirectory(const std::u16string &name, uint64_t attribute = EFI_FILE_DIRECTORY);
  FsNode &AddRaw(std::vector<uint8_t> record);
  // Removes the named entry (and its subtree); false if there is none.
  // Handles still open inside it keep working but no longer reach upwards.
  bool Remove(const std::u16string &name);
  FsNode *Find(const std::u16string &name);
  // The record Read gives for this entry.
  std::vector<uint8_t> InfoRecord() const;
};

// An EFI_TIME for a date, at 12:00:00.
EFI_TIME FsDate(uint16_t year, uint8_t month, uint8_t day);
// Byte `offset` of a file without stored contents.
uint8_t FsPatternByte(uint64_t offset);

// The protocol record a volume installs, with the way back to its volume.
struct VolumeProtocol {
  EFI_SIMPLE_FILE_SYSTEM_PROTOCOL sfs;
  class Volume *owner;
};

class Volume {
 public:
  EFI_HANDLE Handle() const { return handle_; }
  EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *Protocol() { return &proto_.sfs; }
  FsNode &Root() { return *root_; }
  bool Installed() const { return installed_; }

  // OpenVolume fails with this status when not 0.
  void FailOpenVolume(EFI_STATUS s) { fail_open_volume_ = s; }
  // SetPosition on directories fails with this status when not 0.
  void FailSetPosition(EFI_STATUS s) { fail_set_position_ = s; }
  // Every directory Read of this volume fails with this status after the next
  // n reads succeed (n = 0: the next one fails); Clear with ReadsFailAfter(-1).
  void ReadsFailAfter(int64_t n, EFI_STATUS s = EFI_DEVICE_ERROR) {
    reads_left_ = n;
    fail_read_ = s;
  }
  // Called before each directory Read with the directory and its position;
  // lets a test change the tree between two reads.
  void OnDirectoryRead(std::function<void(FsNode &dir, size_t position)> fn) { on_read_ = std::move(fn); }

  // Directories that never report their end: past the last entry, the last
  // entry comes again on every read, as from a looping cluster chain.
  void EndlessDirectories(bool on) { endless_ = on; }

  uint64_t OpenVolumeCalls() const { return open_volume_calls_; }
  uint64_t DirectoryReads() const { return dir_reads_; }
  size_t OpenHandles() const;  // handles of this volume not yet closed

 private:
  friend class FileSystem;
  friend struct FsOps;
  FileSystem *fs_ = nullptr;
  VolumeProtocol proto_{};
  EFI_HANDLE handle_ = nullptr;
  bool installed_ = false;
  std::shared_ptr<FsNode> root_ = std::make_shared<FsNode>();
  EFI_STATUS fail_open_volume_ = 0, fail_set_position_ = 0, fail_read_ = 0;
  int64_t reads_left_ = -1;
  bool endless_ = false;
  std::function<void(FsNode &, size_t)> on_read_;
  uint64_t open_volume_calls_ = 0, dir_reads_ = 0;
};

class FileSystem {
 public:
  explicit FileSystem(Platform &p);
  ~FileSystem();
  FileSystem(const FileSystem &) = delete;
  FileSystem &operator=(const FileSystem &) = delete;

  // A new volume with an empty root, installed on a new handle.
  Volume &AddVolume();
  // Takes the volume's protocol off its handle, as when a medium goes away.
  // Handles opened on it stay valid; further reads fail with EFI_NO_MEDIA.
  void RemoveVolume(Volume &v);
  Volume &At(size_t i) { return *volumes_.at(i); }
  size_t VolumeCount() const { return volumes_.size(); }

  // File handles opened and not yet closed, over all volumes.
  size_t OpenHandles() const;
  uint64_t ClosedHandles() const { return closed_; }
  // Close or any other call on a closed handle; each is a test failure too.
  uint64_t UseAfterClose() const { return use_after_close_; }
  // Forgets the records of closed handles (their use is then no longer
  // caught); for long-running loops such as fuzzers.
  void ForgetClosedHandles();
  // By default the destructor fails the test when a handle is still open;
  // tests of deliberately unfinished work turn that off.
  void AllowOpenHandlesAtExit() { allow_open_at_exit_ = true; }

 private:
  friend struct FsOps;
  friend class Volume;
  Platform &platform_;
  std::vector<std::unique_ptr<Volume>> volumes_;
  std::vector<std::unique_ptr<FileHandle>> handles_;
  uint64_t closed_ = 0, use_after_close_ = 0;
  bool allow_open_at_exit_ = false;
};

}  // namespace fake
