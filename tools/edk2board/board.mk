# The source-built board (tools/edk2board/): OVMF built from Debian's edk2
# source as Debian builds OVMF_CODE_4M.secboot.fd, with the package added by
# the README's integration steps.
#
#   make edk2-board         $(BUILD)/edk2-board/OVMF_CODE.fd and OVMF_VARS.fd (RELEASE)
#   make edk2-board-debug   the same platform as a DEBUG build, in $(BUILD)/edk2-board-debug/
#   make edk2-board-test    both built, then the board checks on them (tools/edk2board/test.sh)
#
# The checks also boot the board with the PCD bridge's statement left out
# ($(BUILD)/edk2-board-without-PcdBridgeDxe/, only the flash made again), to
# compare what the platform's own PCDs read with and without the bridge.

EDK2_BOARD_INPUTS := $(BUILD)/ffs/.packed $(PICTURES_FV) $(BUILD)/efi/BoardPciWindow.efi tools/edk2.sh \
  $(wildcard tools/edk2board/*.py tools/edk2board/*.sh tools/edk2board/*.inc)

$(BUILD)/edk2-board/OVMF_CODE.fd: $(EDK2_BOARD_INPUTS)
	@BUILD=$(BUILD) bash tools/edk2board/build.sh RELEASE
$(BUILD)/edk2-board-debug/OVMF_CODE.fd: $(EDK2_BOARD_INPUTS)
	@BUILD=$(BUILD) bash tools/edk2board/build.sh DEBUG
# The variable store comes out of the same build.
$(BUILD)/edk2-board/OVMF_VARS.fd: $(BUILD)/edk2-board/OVMF_CODE.fd
$(BUILD)/edk2-board-debug/OVMF_VARS.fd: $(BUILD)/edk2-board-debug/OVMF_CODE.fd

NOBRIDGE_DIR := $(BUILD)/edk2-board-without-PcdBridgeDxe
$(NOBRIDGE_DIR)/OVMF_CODE.fd: $(BUILD)/edk2-board/OVMF_CODE.fd
	@BUILD=$(BUILD) bash tools/edk2board/build.sh RELEASE --without PcdBridgeDxe
$(NOBRIDGE_DIR)/OVMF_VARS.fd: $(NOBRIDGE_DIR)/OVMF_CODE.fd

.PHONY: edk2-board edk2-board-debug edk2-board-test
edk2-board: deps $(BUILD)/edk2-board/OVMF_CODE.fd $(BUILD)/edk2-board/OVMF_VARS.fd
edk2-board-debug: deps $(BUILD)/edk2-board-debug/OVMF_CODE.fd $(BUILD)/edk2-board-debug/OVMF_VARS.fd

edk2-board-test: edk2-board edk2-board-debug $(NOBRIDGE_DIR)/OVMF_CODE.fd $(NOBRIDGE_DIR)/OVMF_VARS.fd images testbed-images \
  $(BOARD_DIR)/records.bin
	@BUILD=$(BUILD) bash tools/edk2board/test.sh
