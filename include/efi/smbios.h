// The SMBIOS edit protocol the identity driver calls (a pool copy of a live
// SMBIOS structure, and the replacement of a live structure; its functions
// take no interface pointer, only the two members used are typed), and the PI
// SMBIOS protocol, the platform's store of records, that it can be built on.
#pragma once
#include "base.h"

// clang-format off
#define SMBIOS_EDIT_PROTOCOL_GUID {0x5E90A50D, 0x6955, 0x4A49, {0x90, 0x32, 0xDA, 0x38, 0x12, 0xF8, 0xE8, 0xE5}}
// clang-format on

typedef struct {
  VOID *Reserved[8];
  // Returns a pool copy (the caller frees it with FreePool) of the Instance-th
  // (1-based) structure of the given type, and its size in bytes.
  EFI_STATUS(EFIAPI *ReadStructureByType)(UINT8 Type, UINT8 Instance, VOID **Structure, UINT16 *Size);
  // Replaces the live structure that carries Handle with Structure.
  EFI_STATUS(EFIAPI *WriteStructureByHandle)(UINT16 Handle, VOID *Structure, UINT16 Size);
} SMBIOS_EDIT_PROTOCOL;

// The fields of the SMBIOS System Information structure (type 1) used here.
#define SMBIOS_TYPE_SYSTEM_INFORMATION 1
#define SMBIOS_HEADER_LENGTH_OFFSET 1  // formatted length, without the strings
#define SMBIOS_HEADER_HANDLE_OFFSET 2
#define SMBIOS_TYPE1_UUID_OFFSET 8
#define SMBIOS_TYPE1_UUID_SIZE 16

#ifdef __cplusplus
static_assert(__builtin_offsetof(SMBIOS_EDIT_PROTOCOL, ReadStructureByType) == 8 * 8, "SMBIOS edit: 9th member");
static_assert(__builtin_offsetof(SMBIOS_EDIT_PROTOCOL, WriteStructureByHandle) == 9 * 8, "SMBIOS edit: 10th member");
#endif

// ---- The PI SMBIOS protocol: the platform's store of SMBIOS records ----

// clang-format off
#define EFI_SMBIOS_PROTOCOL_GUID {0x03583FF6, 0xCB36, 0x4940, {0x94, 0x7E, 0xB9, 0xB3, 0x9F, 0x4A, 0xFA, 0xF7}}
// clang-format on

typedef UINT16 EFI_SMBIOS_HANDLE;
typedef UINT8 EFI_SMBIOS_TYPE;
// As a handle in: "the first record" (GetNext) or "assign one" (Add); as a
// handle out of GetNext: no more records.
#define SMBIOS_HANDLE_PI_RESERVED 0xFFFE

// Every record starts with this header; its formatted area (Length bytes) is
// followed by its strings and a double zero.
typedef struct {
  UINT8 Type;
  UINT8 Length;
  UINT16 Handle;
} EFI_SMBIOS_TABLE_HEADER;

typedef struct EFI_SMBIOS_PROTOCOL EFI_SMBIOS_PROTOCOL;
struct EFI_SMBIOS_PROTOCOL {
  // Copies Record into the table under *SmbiosHandle (EFI_ALREADY_STARTED when
  // that handle is taken), or under a new handle when it is FFFEh.
  EFI_STATUS(EFIAPI *Add)
  (const EFI_SMBIOS_PROTOCOL *This, EFI_HANDLE ProducerHandle, EFI_SMBIOS_HANDLE *SmbiosHandle, EFI_SMBIOS_TABLE_HEADER *Record);
  EFI_STATUS(EFIAPI *UpdateString)(const EFI_SMBIOS_PROTOCOL *This, EFI_SMBIOS_HANDLE *SmbiosHandle, UINTN *StringNumber, CHAR8 *String);
  EFI_STATUS(EFIAPI *Remove)(const EFI_SMBIOS_PROTOCOL *This, EFI_SMBIOS_HANDLE SmbiosHandle);
  // The record after *SmbiosHandle (of *Type when Type is given); Record points
  // into the protocol's own store and stays valid until the table changes.
  EFI_STATUS(EFIAPI *GetNext)
  (const EFI_SMBIOS_PROTOCOL *This, EFI_SMBIOS_HANDLE *SmbiosHandle, EFI_SMBIOS_TYPE *Type, EFI_SMBIOS_TABLE_HEADER **Record,
   EFI_HANDLE *ProducerHandle);
  UINT8 MajorVersion;
  UINT8 MinorVersion;
};

#ifdef __cplusplus
static_assert(sizeof(EFI_SMBIOS_TABLE_HEADER) == 4, "SMBIOS structure header");
static_assert(__builtin_offsetof(EFI_SMBIOS_PROTOCOL, GetNext) == 3 * 8, "EFI_SMBIOS_PROTOCOL.GetNext");
static_assert(__builtin_offsetof(EFI_SMBIOS_PROTOCOL, MajorVersion) == 4 * 8, "EFI_SMBIOS_PROTOCOL.MajorVersion");
#endif
