// SPDX-License-Identifier: BSD-2-Clause-Patent
// The DXE services table, found in the configuration table under
// EFI_DXE_SERVICES_TABLE_GUID. Callers here use the dispatcher services: a
// firmware volume handed in at run time is processed and its drivers started.
#pragma once
#include "efi/efi.h"

#define EFI_DXE_SERVICES_SIGNATURE 0x565245535F455844ULL  // "DXE_SERV"

typedef struct {
  EFI_TABLE_HEADER Hdr;
  // Global coherency domain services, not used here.
  VOID *AddMemorySpace;
  VOID *AllocateMemorySpace;
  VOID *FreeMemorySpace;
  VOID *RemoveMemorySpace;
  VOID *GetMemorySpaceDescriptor;
  VOID *SetMemorySpaceAttributes;
  VOID *GetMemorySpaceMap;
  VOID *AddIoSpace;
  VOID *AllocateIoSpace;
  VOID *FreeIoSpace;
  VOID *RemoveIoSpace;
  VOID *GetIoSpaceDescriptor;
  VOID *GetIoSpaceMap;
  // Dispatcher services.
  EFI_STATUS(EFIAPI *Dispatch)(VOID);
  EFI_STATUS(EFIAPI *Schedule)(EFI_HANDLE FirmwareVolumeHandle, const EFI_GUID *FileName);
  EFI_STATUS(EFIAPI *Trust)(EFI_HANDLE FirmwareVolumeHandle, const EFI_GUID *FileName);
  // The volume must stay in memory for as long as the firmware uses it.
  EFI_STATUS(EFIAPI *ProcessFirmwareVolume)(const VOID *FirmwareVolumeHeader, UINTN Size, EFI_HANDLE *FirmwareVolumeHandle);
  VOID *SetMemorySpaceCapabilities;
} EFI_DXE_SERVICES;

static_assert(offsetof(EFI_DXE_SERVICES, Dispatch) == 128, "DXE services: Dispatch");
static_assert(offsetof(EFI_DXE_SERVICES, ProcessFirmwareVolume) == 152, "DXE services: ProcessFirmwareVolume");
static_assert(sizeof(EFI_DXE_SERVICES) == 168, "DXE services size");
