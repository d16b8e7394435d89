# SPDX-License-Identifier: BSD-2-Clause-Patent
# The board image: Debian's SMM-enabled OVMF with our seven drivers, the UI's
# pictures and the stand-ins a board's own firmware would supply, inserted
# into its DXE volume (tools/firmware/fvinsert.py), plus a matching variable store.
# The images here; the rules that put the image together are in board.mk.

# The stand-ins in the board's DXE volume, in volume order: the one list the
# board is built from. Each is built (unless the test bed builds it already),
# packed as a firmware file named BOARD_STANDIN_GUID with its place in the
# list (board.mk) and inserted. A stand-in's file type (NAME_FILE_TYPE,
# default driver) and dependency expression (NAME_DEPEX, default TRUE) sit
# beside its sources. The PCD stand-in comes first: the build refuses any
# other order (board.mk).
BOARD_STANDINS := BoardPcd DebugPrintStandIn BoardSmbiosEdit BoardGraphicsConsole BoardPciWindow BoardBufferCheck \
  BoardTokenService
BOARD_PCD_STANDIN := BoardPcd
BOARD_BUILT_HERE := $(filter-out $(IMAGES),$(BOARD_STANDINS))
IMAGES += $(BOARD_BUILT_HERE)
TESTBED_IMAGES += $(BOARD_BUILT_HERE)

# The shared test-bed sources built for living in flash from dispatch on
# (BED_BOARD), and the board's own SMM pieces.
BoardPcd_SRCS := test/bed/standin/pcd.cpp $(BED_STANDIN)
BoardPcd_ENTRY := PcdStandInEntry
BoardPcd_CXXFLAGS := -DBED_BOARD
# It waits for exactly what the library drivers wait for and comes first in
# the volume, so the dispatcher always queues it ahead of them: none of our
# drivers can meet the firmware's PCD database, which does not know the
# board's token numbers.
BoardPcd_DEPEX := 11B34006-D85B-4D0A-A290-D5A571310EF7 AND 13A3F0F6-264A-3EF0-F2E0-DEC512342F34
BoardSmbiosEdit_SRCS := test/bed/standin/smbios_edit.cpp $(BED_STANDIN)
BoardSmbiosEdit_ENTRY := SmbiosEditStandInEntry
BoardSmbiosEdit_CXXFLAGS := -DBED_BOARD
BoardGraphicsConsole_SRCS := test/bed/standin/graphics_console.cpp $(BED_STANDIN)
BoardGraphicsConsole_ENTRY := GraphicsConsoleStandInEntry
BoardGraphicsConsole_CXXFLAGS := -DBED_BOARD
BoardPciWindow_SRCS := test/board/standin/pci_window.cpp $(BED_STANDIN)
BoardPciWindow_ENTRY := BoardPciWindowEntry
BoardBufferCheck_SRCS := test/board/standin/smm_buffer_check.cpp
BoardBufferCheck_ENTRY := BoardBufferCheckEntry
BoardBufferCheck_LDFLAGS := /driver /align:4096
BoardBufferCheck_FILE_TYPE := smm
BoardTokenService_SRCS := test/board/standin/smm_token_service.cpp test/bed/port.cpp
BoardTokenService_ENTRY := BoardTokenServiceEntry
BoardTokenService_LDFLAGS := /driver /align:4096
BoardTokenService_FILE_TYPE := smm

