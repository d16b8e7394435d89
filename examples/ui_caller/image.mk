# SPDX-License-Identifier: BSD-2-Clause-Patent
# The example caller of UI_SCREEN_PROTOCOL (plain C), built as a UEFI
# application and run by the firmware test bed; not a deliverable.
IMAGES += UiCallerExample
TESTBED_IMAGES += UiCallerExample
UiCallerExample_SRCS := examples/ui_caller/caller.c
UiCallerExample_ENTRY := UiCallerMain
UiCallerExample_SUBSYSTEM := efi_application
