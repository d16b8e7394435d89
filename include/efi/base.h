// SPDX-License-Identifier: BSD-2-Clause-Patent
// Basic UEFI types, status codes and calling convention shared by every driver.
#pragma once

#ifdef __cplusplus
#define EFI_EXTERN_C extern "C"
#else
#define EFI_EXTERN_C
#endif

typedef unsigned char UINT8;
typedef signed char INT8;
typedef unsigned short UINT16;
typedef short INT16;
typedef unsigned int UINT32;
typedef int INT32;
typedef unsigned long long UINT64;
typedef long long INT64;
typedef UINT64 UINTN;
typedef INT64 INTN;
typedef UINT8 BOOLEAN;  // one byte in every binding record; never C++ bool
typedef char CHAR8;
#ifdef __cplusplus
typedef char16_t CHAR16;
#else
typedef unsigned short CHAR16;
#endif
typedef void VOID;

typedef UINTN EFI_STATUS;
typedef UINTN EFI_TPL;
typedef UINT64 EFI_PHYSICAL_ADDRESS;
typedef UINT64 EFI_VIRTUAL_ADDRESS;

// Distinct opaque types so that a handle can never be passed where an event
// is expected; both are plain pointers in the binary interface.
typedef struct EFI_HANDLE_OPAQUE *EFI_HANDLE;
typedef struct EFI_EVENT_OPAQUE *EFI_EVENT;

#define EFIAPI __attribute__((ms_abi))

// Variadic EFIAPI functions take the Microsoft va_list on every target, so the
// host tests call them exactly as firmware does.
typedef __builtin_ms_va_list EFI_VA_LIST;
#define EFI_VA_START(ap, last) __builtin_ms_va_start(ap, last)
#define EFI_VA_ARG(ap, type) __builtin_va_arg(ap, type)
#define EFI_VA_END(ap) __builtin_ms_va_end(ap)
#define EFI_VA_COPY(dst, src) __builtin_ms_va_copy(dst, src)

#define EFI_ERROR_BIT 0x8000000000000000ULL
#define EFIERR(n) (EFI_ERROR_BIT | (n))
#define EFI_ERROR(s) (((INT64)(s)) < 0)

#define EFI_SUCCESS 0ULL
#define EFI_LOAD_ERROR EFIERR(1)
#define EFI_INVALID_PARAMETER EFIERR(2)
#define EFI_UNSUPPORTED EFIERR(3)
#define EFI_BAD_BUFFER_SIZE EFIERR(4)
#define EFI_BUFFER_TOO_SMALL EFIERR(5)
#define EFI_NOT_READY EFIERR(6)
#define EFI_DEVICE_ERROR EFIERR(7)
#define EFI_WRITE_PROTECTED EFIERR(8)
#define EFI_OUT_OF_RESOURCES EFIERR(9)
#define EFI_VOLUME_CORRUPTED EFIERR(10)
#define EFI_VOLUME_FULL EFIERR(11)
#define EFI_NO_MEDIA EFIERR(12)
#define EFI_MEDIA_CHANGED EFIERR(13)
#define EFI_NOT_FOUND EFIERR(14)
#define EFI_ACCESS_DENIED EFIERR(15)
#define EFI_NO_RESPONSE EFIERR(16)
#define EFI_NO_MAPPING EFIERR(17)
#define EFI_TIMEOUT EFIERR(18)
#define EFI_NOT_STARTED EFIERR(19)
#define EFI_ALREADY_STARTED EFIERR(20)
#define EFI_ABORTED EFIERR(21)
#define EFI_ICMP_ERROR EFIERR(22)
#define EFI_TFTP_ERROR EFIERR(23)
#define EFI_PROTOCOL_ERROR EFIERR(24)
#define EFI_INCOMPATIBLE_VERSION EFIERR(25)
#define EFI_SECURITY_VIOLATION EFIERR(26)
#define EFI_CRC_ERROR EFIERR(27)
#define EFI_END_OF_MEDIA EFIERR(28)
#define EFI_END_OF_FILE EFIERR(31)
#define EFI_INVALID_LANGUAGE EFIERR(32)
#define EFI_COMPROMISED_DATA EFIERR(33)
#define EFI_IP_ADDRESS_CONFLICT EFIERR(34)
#define EFI_HTTP_ERROR EFIERR(35)

#define EFI_WARN_UNKNOWN_GLYPH 1ULL
#define EFI_WARN_DELETE_FAILURE 2ULL
#define EFI_WARN_WRITE_FAILURE 3ULL
#define EFI_WARN_BUFFER_TOO_SMALL 4ULL
#define EFI_WARN_STALE_DATA 5ULL

#define TPL_APPLICATION 4
#define TPL_CALLBACK 8
#define TPL_NOTIFY 16
#define TPL_HIGH_LEVEL 31

typedef struct {
  UINT32 Data1;
  UINT16 Data2;
  UINT16 Data3;
  UINT8 Data4[8];
} EFI_GUID;

#ifdef __cplusplus
static_assert(sizeof(EFI_GUID) == 16, "EFI_GUID");

// 1 when the two GUIDs hold the same bytes. Declared in a header, so it
// answers in BOOLEAN like every function other files call.
inline BOOLEAN GuidEqual(const EFI_GUID &A, const EFI_GUID &B) {
  const UINT8 *X = reinterpret_cast<const UINT8 *>(&A);
  const UINT8 *Y = reinterpret_cast<const UINT8 *>(&B);
  for (int i = 0; i < 16; i++)
    if (X[i] != Y[i]) return 0;
  return 1;
}
#endif

typedef struct {
  UINT64 Signature;
  UINT32 Revision;
  UINT32 HeaderSize;
  UINT32 CRC32;
  UINT32 Reserved;
} EFI_TABLE_HEADER;

typedef struct {
  UINT16 Year;
  UINT8 Month;
  UINT8 Day;
  UINT8 Hour;
  UINT8 Minute;
  UINT8 Second;
  UINT8 Pad1;
  UINT32 Nanosecond;
  INT16 TimeZone;
  UINT8 Daylight;
  UINT8 Pad2;
} EFI_TIME;

#ifdef __cplusplus
static_assert(sizeof(EFI_TABLE_HEADER) == 24, "EFI_TABLE_HEADER");
static_assert(sizeof(EFI_TIME) == 16, "EFI_TIME");
#endif
