# SPDX-License-Identifier: BSD-2-Clause-Patent
# The demo flash tool: a boot application (not a deliverable) that finds or
# brings up our drivers and drives the UI with them.
IMAGES += DemoFlashTool
TESTBED_IMAGES += DemoFlashTool
DemoFlashTool_SRCS := examples/flash_tool/main.cpp examples/flash_tool/platform.cpp examples/flash_tool/plan.cpp examples/flash_tool/flash_tool.cpp \
  examples/flash_tool/flash_part.cpp examples/flash_tool/backdrop.cpp examples/flash_tool/bench.cpp \
  examples/flash_tool/port.cpp examples/flash_tool/boot_disk.cpp
DemoFlashTool_ENTRY := DemoEntry
DemoFlashTool_SUBSYSTEM := efi_application
