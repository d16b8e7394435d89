// SPDX-License-Identifier: BSD-2-Clause-Patent
// Entry of the test application: reads which scenario group this boot is for
// (the runner writes it to \bed\plan.txt), runs that group's scenarios in
// order, reports each on the debug port and powers the machine off.
#include "test/bed/app/app.h"

EFI_HANDLE gBedImage;
EFI_SYSTEM_TABLE *gST;
EFI_BOOT_SERVICES *gBS;
EFI_RUNTIME_SERVICES *gRT;

static const BedScenario *const Tables[] = {
    SelfTestScenarios, ScreenScenarios, SmallDriverScenarios, NetIdentityScenarios, SetupTokenScenarios, UiScenarios, BoardScenarios,
    DispatchScenarios,
};

// True when Group is one of the space-separated words of List.
static BOOLEAN InGroup(const char *List, const CHAR8 *Group, UINTN GroupLength) {
  for (const char *p = List; *p;) {
    while (*p == ' ') p++;
    const char *w = p;
    while (*p && *p != ' ') p++;
    if ((UINTN)(p - w) == GroupLength && BedMemEqual(w, Group, GroupLength)) return 1;
  }
  return 0;
}

BOOLEAN gBedSourceBoard;

// The group name is the first word of the plan file; a second word names
// the board image's kind.
static UINTN ReadGroup(CHAR8 *Group, UINTN Size) {
  VOID *data = nullptr;
  UINTN size = 0;
  if (EFI_ERROR(BedReadFile(u"\\bed\\plan.txt", &data, &size))) return 0;
  const CHAR8 *text = (const CHAR8 *)data;
  UINTN n = 0;
  while (n < size && n + 1 < Size && text[n] > ' ') {
    Group[n] = text[n];
    n++;
  }
  Group[n] = 0;
  UINTN word = n < size && text[n] == ' ' ? n + 1 : size;
  gBedSourceBoard = word + 4 <= size && BedMemEqual(text + word, "edk2", 4) && (word + 4 == size || text[word + 4] <= ' ');
  gBS->FreePool(data);
  return n;
}

extern "C" EFI_STATUS EFIAPI BedAppEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  gBedImage = ImageHandle;
  gST = SystemTable;
  gBS = SystemTable->BootServices;
  gRT = SystemTable->RuntimeServices;
  // The boot manager's watchdog would reset the machine after five minutes.
  gBS->SetWatchdogTimer(0, 0, 0, nullptr);

  CHAR8 group[32];
  UINTN groupLength = ReadGroup(group, sizeof group);
  BedPrint("@bed begin %a\n", groupLength ? group : "(no plan)");
  UINTN count = 0;
  for (const BedScenario *table : Tables) {
    for (const BedScenario *s = table; s->Name; s++) {
      if (!InGroup(s->Groups, group, groupLength)) continue;
      BedBeginScenario(s->Name);
      s->Run();
      BedEndScenario();
      count++;
    }
  }
  BedPrint("@bed end %u\n", (UINT32)count);
  gRT->ResetSystem(EfiResetShutdown, EFI_SUCCESS, 0, nullptr);
  return EFI_SUCCESS;
}
