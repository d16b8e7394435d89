# The board image: Debian's SMM-enabled OVMF with our seven drivers, the UI's
# pictures and the stand-ins a board's own firmware would supply, inserted
# into its DXE volume (tools/firmware/fvinsert.py), plus a matching variable store.
# The images here; the rules that put the image together are in board.mk.

# Stand-ins: the shared test-bed sources built for living in flash from
# dispatch on (BED_BOARD), and the board's own SMM pieces.
BOARD_STANDINS := BoardPcd BoardSmbiosEdit BoardGraphicsConsole BoardPciWindow BoardBufferCheck BoardTokenService
IMAGES += $(BOARD_STANDINS)
TESTBED_IMAGES += $(BOARD_STANDINS)
BoardPcd_SRCS := test/bed/standin/pcd.cpp $(BED_STANDIN)
BoardPcd_ENTRY := PcdStandInEntry
BoardPcd_CXXFLAGS := -DBED_BOARD
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
BoardTokenService_SRCS := test/board/standin/smm_token_service.cpp test/bed/port.cpp
BoardTokenService_ENTRY := BoardTokenServiceEntry
BoardTokenService_LDFLAGS := /driver /align:4096

