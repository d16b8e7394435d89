// SPDX-License-Identifier: BSD-2-Clause-Patent
// Variables with the standard size rules, ConvertPointer and the clock.
#include <cstring>

#include "impl.h"

namespace fake {

static std::u16string Name16(const CHAR16 *s) {
  std::u16string out;
  for (; *s; s++) out.push_back(*s);
  return out;
}

EFI_STATUS EFIAPI Platform::Impl::GetVariable(const CHAR16 *name, const EFI_GUID *guid, UINT32 *attrs, UINTN *size, VOID *data) {
  Platform &p = P();
  p.getvar_calls_++;
  if (!name || !guid || !size) return EFI_INVALID_PARAMETER;
  if (p.fail_getvar_) return p.fail_getvar_;
  auto it = p.vars_.find(VarKey{Name16(name), GuidKey(*guid)});
  if (it == p.vars_.end()) return EFI_NOT_FOUND;
  const auto &v = it->second;
  if (*size < v.data.size()) {
    *size = v.data.size();
    return EFI_BUFFER_TOO_SMALL;
  }
  if (!data) return EFI_INVALID_PARAMETER;
  memcpy(data, v.data.data(), v.data.size());
  *size = v.data.size();
  if (attrs) *attrs = v.attrs;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI Platform::Impl::SetVariable(const CHAR16 *name, const EFI_GUID *guid, UINT32 attrs, UINTN size, const VOID *data) {
  Platform &p = P();
  p.setvar_calls_++;
  if (!name || !guid || !*name) return EFI_INVALID_PARAMETER;
  if (size && !data) return EFI_INVALID_PARAMETER;
  if (p.fail_setvar_) return p.fail_setvar_;
  VarKey key{Name16(name), GuidKey(*guid)};
  if (size == 0 || attrs == 0) {
    if (!p.vars_.erase(key)) return EFI_NOT_FOUND;
    return EFI_SUCCESS;
  }
  if ((attrs & EFI_VARIABLE_RUNTIME_ACCESS) && !(attrs & EFI_VARIABLE_BOOTSERVICE_ACCESS)) return EFI_INVALID_PARAMETER;
  const uint8_t *b = static_cast<const uint8_t *>(data);
  p.vars_[key] = VarVal{attrs, std::vector<uint8_t>(b, b + size)};
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI Platform::Impl::GetNextVariableName(UINTN *size, CHAR16 *name, EFI_GUID *guid) {
  Platform &p = P();
  if (!size || !name || !guid) return EFI_INVALID_PARAMETER;
  auto it = p.vars_.begin();
  if (name[0]) {
    it = p.vars_.find(VarKey{Name16(name), GuidKey(*guid)});
    if (it == p.vars_.end()) return EFI_INVALID_PARAMETER;
    ++it;
  }
  if (it == p.vars_.end()) return EFI_NOT_FOUND;
  UINTN need = (it->first.name.size() + 1) * sizeof(CHAR16);
  if (*size < need) {
    *size = need;
    return EFI_BUFFER_TOO_SMALL;
  }
  memcpy(name, it->first.name.c_str(), need);
  *size = need;
  // The GUID is kept as text in the key; parse it back.
  unsigned d[11];
  sscanf(it->first.guid.c_str(), "%8X-%4X-%4X-%2X%2X-%2X%2X%2X%2X%2X%2X", &d[0], &d[1], &d[2], &d[3], &d[4], &d[5], &d[6], &d[7], &d[8],
         &d[9], &d[10]);
  guid->Data1 = d[0];
  guid->Data2 = d[1];
  guid->Data3 = d[2];
  for (int i = 0; i < 8; i++) guid->Data4[i] = d[3 + i];
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI Platform::Impl::ConvertPointer(UINTN, VOID **address) {
  Platform &p = P();
  if (!address) return EFI_INVALID_PARAMETER;
  p.converted_.push_back(*address);
  if (!*address) return EFI_INVALID_PARAMETER;
  *address = static_cast<uint8_t *>(*address) + p.virt_offset_;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI Platform::Impl::GetTime(EFI_TIME *t, VOID *) {
  if (!t) return EFI_INVALID_PARAMETER;
  *t = P().time_;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI Platform::Impl::SetTime(EFI_TIME *t) {
  if (!t) return EFI_INVALID_PARAMETER;
  P().time_ = *t;
  return EFI_SUCCESS;
}

void Platform::SetVar(const char *name, const EFI_GUID &guid, std::vector<uint8_t> data, UINT32 attrs) {
  vars_[VarKey{U16(name), GuidKey(guid)}] = VarVal{attrs, std::move(data)};
}

bool Platform::HasVar(const char *name, const EFI_GUID &guid) const { return vars_.count(VarKey{U16(name), GuidKey(guid)}) != 0; }

std::vector<uint8_t> Platform::Var(const char *name, const EFI_GUID &guid) const {
  auto it = vars_.find(VarKey{U16(name), GuidKey(guid)});
  return it == vars_.end() ? std::vector<uint8_t>{} : it->second.data;
}

UINT32 Platform::VarAttributes(const char *name, const EFI_GUID &guid) const {
  auto it = vars_.find(VarKey{U16(name), GuidKey(guid)});
  return it == vars_.end() ? 0 : it->second.attrs;
}

void Platform::DeleteVar(const char *name, const EFI_GUID &guid) { vars_.erase(VarKey{U16(name), GuidKey(guid)}); }

}  // namespace fake
