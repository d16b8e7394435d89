// SPDX-License-Identifier: BSD-2-Clause-Patent
// The fake Simple File System: the protocol functions behind each volume and
// each open file handle, over the in-memory trees of fs.h.
#include "fs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace fake {

namespace {
const EFI_GUID kSfsGuid = EFI_SIMPLE_FILE_SYSTEM_PROTOCOL_GUID;
const EFI_GUID kFileInfoGuid = EFI_FILE_INFO_GUID;
}  // namespace

// The record behind an EFI_FILE_PROTOCOL pointer.
struct FileProtocol {
  EFI_FILE_PROTOCOL file;
  FileHandle *owner;
};

struct FileHandle {
  FileProtocol proto{};
  Volume *volume = nullptr;
  std::shared_ptr<FsNode> node;  // kept alive while open, even if removed
  uint64_t position = 0;         // byte offset, or entry index in a directory
  bool closed = false;
};

EFI_TIME FsDate(uint16_t year, uint8_t month, uint8_t day) {
  EFI_TIME t{};
  t.Year = year;
  t.Month = month;
  t.Day = day;
  t.Hour = 12;
  t.TimeZone = 0x7FF;  // EFI_UNSPECIFIED_TIMEZONE
  return t;
}

uint8_t FsPatternByte(uint64_t offset) { return static_cast<uint8_t>((offset * 131) ^ (offset >> 9)); }

FsNode &FsNode::AddFile(const std::u16string &n, uint64_t sz, EFI_TIME modified, uint64_t attr) {
  auto node = std::make_shared<FsNode>();
  node->name = n;
  node->size = sz;
  node->attribute = attr;
  node->create = node->access = node->modify = modified;
  node->parent = this;
  children.push_back(node);
  return *node;
}

FsNode &FsNode::AddDirectory(const std::u16string &n, uint64_t attr) {
  FsNode &d = AddFile(n, 0, FsDate(2020, 1, 1), attr);
  return d;
}

FsNode &FsNode::AddRaw(std::vector<uint8_t> record) {
  FsNode &r = AddFile(u"", 0);
  r.raw_info = std::move(record);
  return r;
}

// Cuts a removed subtree loose, so nothing in it points at a parent that
// may be gone while a handle inside it still lives.
static void Detach(FsNode &node) {
  node.parent = nullptr;
  for (auto &c : node.children) Detach(*c);
}

bool FsNode::Remove(const std::u16string &n) {
  for (auto it = children.begin(); it != children.end(); ++it)
    if ((*it)->name == n) {
      Detach(**it);
      children.erase(it);
      return true;
    }
  return false;
}

FsNode *FsNode::Find(const std::u16string &n) {
  for (auto &c : children)
    if (c->name == n) return c.get();
  return nullptr;
}

std::vector<uint8_t> FsNode::InfoRecord() const {
  if (!raw_info.empty()) return raw_info;
  size_t bytes = SIZE_OF_EFI_FILE_INFO + (name.size() + 1) * sizeof(CHAR16);
  std::vector<uint8_t> rec(bytes, 0);
  EFI_FILE_INFO info{};
  info.Size = bytes;
  info.FileSize = size;
  info.PhysicalSize = (size + 4095) / 4096 * 4096;  // whole clusters
  info.CreateTime = create;
  info.LastAccessTime = access;
  info.ModificationTime = modify;
  info.Attribute = attribute;
  memcpy(rec.data(), &info, SIZE_OF_EFI_FILE_INFO);
  memcpy(rec.data() + SIZE_OF_EFI_FILE_INFO, name.data(), name.size() * sizeof(CHAR16));
  return rec;
}

size_t Volume::OpenHandles() const {
  size_t n = 0;
  for (auto &h : fs_->handles_)
    if (h->volume == this && !h->closed) n++;
  return n;
}

// The protocol functions. Each finds its handle and refuses closed ones.
struct FsOps {
  static FileHandle *Live(EFI_FILE_PROTOCOL *This) {
    if (!This) return nullptr;
    FileHandle *h = reinterpret_cast<FileProtocol *>(This)->owner;
    if (h->closed) {
      h->volume->fs_->use_after_close_++;
      ADD_FAILURE() << "file handle used after Close";
      return nullptr;
    }
    return h;
  }

  static EFI_FILE_PROTOCOL *NewHandle(Volume *v, std::shared_ptr<FsNode> node) {
    auto h = std::make_unique<FileHandle>();
    h->volume = v;
    h->node = std::move(node);
    h->proto.owner = h.get();
    EFI_FILE_PROTOCOL &f = h->proto.file;
    f.Revision = 0x00010000;
    f.Open = Open;
    f.Close = Close;
    f.Delete = Delete;
    f.Read = Read;
    f.Write = Write;
    f.GetPosition = GetPosition;
    f.SetPosition = SetPosition;
    f.GetInfo = GetInfo;
    f.SetInfo = SetInfo;
    f.Flush = Flush;
    EFI_FILE_PROTOCOL *out = &h->proto.file;
    v->fs_->handles_.push_back(std::move(h));
    return out;
  }

  static EFI_STATUS EFIAPI OpenVolume(EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *This, EFI_FILE_PROTOCOL **Root) {
    if (!This || !Root) return EFI_INVALID_PARAMETER;
    Volume *v = reinterpret_cast<VolumeProtocol *>(This)->owner;
    v->open_volume_calls_++;
    if (!v->installed_) return EFI_NO_MEDIA;
    if (v->fail_open_volume_) return v->fail_open_volume_;
    *Root = NewHandle(v, v->root_);
    return EFI_SUCCESS;
  }

  // The node a path leads to from a directory (or a file's directory).
  static std::shared_ptr<FsNode> Walk(FileHandle *h, const std::u16string &path) {
    FsNode *at = h->node->IsDirectory() ? h->node.get() : h->node->parent;
    size_t i = 0;
    if (!path.empty() && path[0] == u'\\') {
      at = h->volume->root_.get();
      i = 1;
    }
    std::shared_ptr<FsNode> cur;
    auto share = [&](FsNode *n) -> std::shared_ptr<FsNode> {
      if (!n) return nullptr;
      if (!n->parent) return n == h->volume->root_.get() ? h->volume->root_ : nullptr;
      for (auto &c : n->parent->children)
        if (c.get() == n) return c;
      return nullptr;
    };
    while (at) {
      size_t j = path.find(u'\\', i);
      std::u16string part = path.substr(i, j == std::u16string::npos ? std::u16string::npos : j - i);
      if (part == u"..")
        at = at->parent ? at->parent : at;
      else if (!part.empty() && part != u".") {
        if (!at->IsDirectory()) return nullptr;
        at = at->Find(part);
      }
      if (j == std::u16string::npos) break;
      i = j + 1;
    }
    return share(at);
  }

  static EFI_STATUS EFIAPI Open(EFI_FILE_PROTOCOL *This, EFI_FILE_PROTOCOL **New, const CHAR16 *Name, UINT64 Mode, UINT64) {
    FileHandle *h = Live(This);
    if (!h || !New || !Name) return EFI_INVALID_PARAMETER;
    if (Mode != EFI_FILE_MODE_READ && Mode != (EFI_FILE_MODE_READ | EFI_FILE_MODE_WRITE) &&
        Mode != (EFI_FILE_MODE_READ | EFI_FILE_MODE_WRITE | EFI_FILE_MODE_CREATE))
      return EFI_INVALID_PARAMETER;
    if (!h->volume->installed_) return EFI_NO_MEDIA;
    auto node = Walk(h, std::u16string(Name));
    if (Mode != EFI_FILE_MODE_READ) return EFI_WRITE_PROTECTED;  // read-only media
    if (!node) return EFI_NOT_FOUND;
    *New = NewHandle(h->volume, node);
    return EFI_SUCCESS;
  }

  static EFI_STATUS EFIAPI Close(EFI_FILE_PROTOCOL *This) {
    FileHandle *h = Live(This);
    if (!h) return EFI_INVALID_PARAMETER;
    h->closed = true;
    h->volume->fs_->closed_++;
    return EFI_SUCCESS;
  }

  static EFI_STATUS EFIAPI Delete(EFI_FILE_PROTOCOL *This) {
    if (Close(This) != EFI_SUCCESS) return EFI_INVALID_PARAMETER;
    return EFI_WARN_DELETE_FAILURE;
  }

  // One directory entry per read: "." and ".." first in sub-directories, as
  // FAT gives them, then the children.
  static EFI_STATUS ReadDirectory(FileHandle *h, UINTN *Size, VOID *Buffer) {
    Volume *v = h->volume;
    FsNode &dir = *h->node;
    v->dir_reads_++;
    if (v->on_read_) v->on_read_(dir, h->position);
    if (v->reads_left_ == 0) return v->fail_read_;
    if (v->reads_left_ > 0) v->reads_left_--;

    size_t dots = dir.parent ? 2 : 0;
    if (v->endless_ && !dir.children.empty() && h->position >= dots + dir.children.size()) h->position = dots + dir.children.size() - 1;
    if (h->position >= dots + dir.children.size()) {
      *Size = 0;
      return EFI_SUCCESS;
    }
    std::vector<uint8_t> rec;
    if (h->position < dots) {
      FsNode dot;
      const FsNode &src = h->position == 0 ? dir : *dir.parent;
      dot.name = h->position == 0 ? u"." : u"..";
      dot.attribute = src.attribute | EFI_FILE_DIRECTORY;
      dot.size = src.size;
      dot.create = src.create, dot.access = src.access, dot.modify = src.modify;
      rec = dot.InfoRecord();
    } else {
      const FsNode &e = *dir.children[h->position - dots];
      if (e.read_status) return e.read_status;
      rec = e.InfoRecord();
    }
    if (*Size < rec.size()) {
      *Size = rec.size();
      return EFI_BUFFER_TOO_SMALL;
    }
    if (!Buffer) return EFI_INVALID_PARAMETER;
    memcpy(Buffer, rec.data(), rec.size());
    *Size = rec.size();
    h->position++;
    return EFI_SUCCESS;
  }

  static EFI_STATUS EFIAPI Read(EFI_FILE_PROTOCOL *This, UINTN *Size, VOID *Buffer) {
    FileHandle *h = Live(This);
    if (!h || !Size) return EFI_INVALID_PARAMETER;
    if (!h->volume->installed_) return EFI_NO_MEDIA;
    if (h->node->IsDirectory()) return ReadDirectory(h, Size, Buffer);
    const FsNode &f = *h->node;
    if (h->position > f.size) return EFI_DEVICE_ERROR;  // read past the end
    uint64_t n = std::min<uint64_t>(*Size, f.size - h->position);
    if (n && !Buffer) return EFI_INVALID_PARAMETER;
    uint8_t *out = static_cast<uint8_t *>(Buffer);
    for (uint64_t i = 0; i < n; i++) {
      uint64_t at = h->position + i;
      out[i] = f.content.size() == f.size ? f.content[at] : FsPatternByte(at);
    }
    h->position += n;
    *Size = n;
    return EFI_SUCCESS;
  }

  static EFI_STATUS EFIAPI Write(EFI_FILE_PROTOCOL *This, UINTN *, VOID *) {
    return Live(This) ? EFI_WRITE_PROTECTED : EFI_INVALID_PARAMETER;
  }

  static EFI_STATUS EFIAPI GetPosition(EFI_FILE_PROTOCOL *This, UINT64 *Position) {
    FileHandle *h = Live(This);
    if (!h || !Position) return EFI_INVALID_PARAMETER;
    if (h->node->IsDirectory()) return EFI_UNSUPPORTED;
    *Position = h->position;
    return EFI_SUCCESS;
  }

  static EFI_STATUS EFIAPI SetPosition(EFI_FILE_PROTOCOL *This, UINT64 Position) {
    FileHandle *h = Live(This);
    if (!h) return EFI_INVALID_PARAMETER;
    if (h->node->IsDirectory()) {
      if (h->volume->fail_set_position_) return h->volume->fail_set_position_;
      if (Position != 0) return EFI_UNSUPPORTED;  // directories only rewind
      h->position = 0;
      return EFI_SUCCESS;
    }
    h->position = Position == ~0ULL ? h->node->size : Position;
    return EFI_SUCCESS;
  }

  static EFI_STATUS EFIAPI GetInfo(EFI_FILE_PROTOCOL *This, const EFI_GUID *Type, UINTN *Size, VOID *Buffer) {
    FileHandle *h = Live(This);
    if (!h || !Type || !Size) return EFI_INVALID_PARAMETER;
    if (!GuidEqual(*Type, kFileInfoGuid)) return EFI_UNSUPPORTED;
    std::vector<uint8_t> rec = h->node->InfoRecord();
    if (*Size < rec.size()) {
      *Size = rec.size();
      return EFI_BUFFER_TOO_SMALL;
    }
    if (!Buffer) return EFI_INVALID_PARAMETER;
    memcpy(Buffer, rec.data(), rec.size());
    *Size = rec.size();
    return EFI_SUCCESS;
  }

  static EFI_STATUS EFIAPI SetInfo(EFI_FILE_PROTOCOL *This, const EFI_GUID *, UINTN, VOID *) {
    return Live(This) ? EFI_WRITE_PROTECTED : EFI_INVALID_PARAMETER;
  }

  static EFI_STATUS EFIAPI Flush(EFI_FILE_PROTOCOL *This) { return Live(This) ? EFI_SUCCESS : EFI_INVALID_PARAMETER; }
};

FileSystem::FileSystem(Platform &p) : platform_(p) {}

Volume &FileSystem::AddVolume() {
  auto v = std::make_unique<Volume>();
  v->fs_ = this;
  v->proto_.owner = v.get();
  v->proto_.sfs.Revision = 0x00010000;
  v->proto_.sfs.OpenVolume = FsOps::OpenVolume;
  v->root_->attribute = EFI_FILE_DIRECTORY;
  EFI_HANDLE h = nullptr;
  EFI_STATUS s = platform_.Install(&h, kSfsGuid, &v->proto_.sfs);
  EXPECT_EQ(s, EFI_SUCCESS) << "installing a fake volume";
  v->handle_ = h;
  v->installed_ = s == EFI_SUCCESS;
  volumes_.push_back(std::move(v));
  return *volumes_.back();
}

void FileSystem::RemoveVolume(Volume &v) {
  if (!v.installed_) return;
  EXPECT_EQ(platform_.Uninstall(v.handle_, kSfsGuid, &v.proto_.sfs), EFI_SUCCESS);
  v.installed_ = false;
}

size_t FileSystem::OpenHandles() const {
  size_t n = 0;
  for (auto &h : handles_)
    if (!h->closed) n++;
  return n;
}

void FileSystem::ForgetClosedHandles() {
  std::erase_if(handles_, [](const std::unique_ptr<FileHandle> &h) { return h->closed; });
}

FileSystem::~FileSystem() {
  if (!allow_open_at_exit_) EXPECT_EQ(OpenHandles(), 0u) << "file handles left open";
  if (Platform::Current() != &platform_) return;  // the platform went first
  for (auto &v : volumes_) RemoveVolume(*v);
}

}  // namespace fake
