// The only door to the hardware: CPUID, MSRs, 8-bit port input and output, and MMIO.
// Images use the instructions; host tests link a hardware model instead.
#pragma once
#include "efi/base.h"

typedef struct {
  UINT32 Eax;
  UINT32 Ebx;
  UINT32 Ecx;
  UINT32 Edx;
} HW_CPUID;

#ifdef EFI_HOST_TEST

EFI_EXTERN_C HW_CPUID HwCpuid(UINT32 Leaf);
EFI_EXTERN_C UINT64 HwReadMsr(UINT32 Msr);
EFI_EXTERN_C void HwWriteMsr(UINT32 Msr, UINT64 Value);
EFI_EXTERN_C UINT8 HwIn8(UINT16 Port);
EFI_EXTERN_C void HwOut8(UINT16 Port, UINT8 Value);
EFI_EXTERN_C UINT8 HwMmioRead8(UINT64 Address);
EFI_EXTERN_C UINT16 HwMmioRead16(UINT64 Address);
EFI_EXTERN_C UINT32 HwMmioRead32(UINT64 Address);
EFI_EXTERN_C void HwMmioWrite8(UINT64 Address, UINT8 Value);
EFI_EXTERN_C void HwMmioWrite16(UINT64 Address, UINT16 Value);
EFI_EXTERN_C void HwMmioWrite32(UINT64 Address, UINT32 Value);

#else

static inline HW_CPUID HwCpuid(UINT32 Leaf) {
  HW_CPUID r;
  __asm__ volatile("cpuid" : "=a"(r.Eax), "=b"(r.Ebx), "=c"(r.Ecx), "=d"(r.Edx) : "a"(Leaf), "c"(0));
  return r;
}

static inline UINT64 HwReadMsr(UINT32 Msr) {
  UINT32 lo, hi;
  __asm__ volatile("rdmsr" : "=a"(lo), "=d"(hi) : "c"(Msr));
  return ((UINT64)hi << 32) | lo;
}

static inline void HwWriteMsr(UINT32 Msr, UINT64 Value) {
  __asm__ volatile("wrmsr" : : "c"(Msr), "a"((UINT32)Value), "d"((UINT32)(Value >> 32)) : "memory");
}

static inline UINT8 HwIn8(UINT16 Port) {
  UINT8 v;
  __asm__ volatile("inb %1, %0" : "=a"(v) : "Nd"(Port));
  return v;
}

static inline void HwOut8(UINT16 Port, UINT8 Value) { __asm__ volatile("outb %0, %1" : : "a"(Value), "Nd"(Port)); }

// Volatile accesses so that the compiler neither merges nor drops register reads.
static inline UINT8 HwMmioRead8(UINT64 Address) { return *(volatile UINT8 *)(UINTN)Address; }
static inline UINT16 HwMmioRead16(UINT64 Address) { return *(volatile UINT16 *)(UINTN)Address; }
static inline UINT32 HwMmioRead32(UINT64 Address) { return *(volatile UINT32 *)(UINTN)Address; }
static inline void HwMmioWrite8(UINT64 Address, UINT8 Value) { *(volatile UINT8 *)(UINTN)Address = Value; }
static inline void HwMmioWrite16(UINT64 Address, UINT16 Value) { *(volatile UINT16 *)(UINTN)Address = Value; }
static inline void HwMmioWrite32(UINT64 Address, UINT32 Value) { *(volatile UINT32 *)(UINTN)Address = Value; }

#endif
