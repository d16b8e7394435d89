# The board image's rules (included after the firmware-volume rules):
#
#   make board   ->  $(BUILD)/board/OVMF_CODE.fd and $(BUILD)/board/OVMF_VARS.fd

BOARD_BASE ?= /usr/share/OVMF/OVMF_CODE_4M.secboot.fd
BOARD_VARS ?= /usr/share/OVMF/OVMF_VARS_4M.fd
BOARD_DIR := $(BUILD)/board

PCD_GUID    := 11B34006-D85B-4D0A-A290-D5A571310EF7
PI_PCD_GUID := 13A3F0F6-264A-3EF0-F2E0-DEC512342F34

# The PCD stand-in waits for exactly what the library drivers wait for and
# comes first in the volume, so the dispatcher always queues it ahead of them:
# none of our drivers can meet the firmware's PCD database, which does not
# know the board's token numbers.
$(eval $(call DRIVER_FFS,BoardPcd,5A2E7C11-3B4D-4E8F-9A01-B0A2D0000001,driver,$(PCD_GUID) AND $(PI_PCD_GUID)))
$(eval $(call DRIVER_FFS,DebugPrintStandIn,5A2E7C11-3B4D-4E8F-9A01-B0A2D0000002))
$(eval $(call DRIVER_FFS,BoardSmbiosEdit,5A2E7C11-3B4D-4E8F-9A01-B0A2D0000003))
$(eval $(call DRIVER_FFS,BoardGraphicsConsole,5A2E7C11-3B4D-4E8F-9A01-B0A2D0000004))
$(eval $(call DRIVER_FFS,BoardPciWindow,5A2E7C11-3B4D-4E8F-9A01-B0A2D0000005))
$(eval $(call DRIVER_FFS,BoardBufferCheck,5A2E7C11-3B4D-4E8F-9A01-B0A2D0000006,smm))
$(eval $(call DRIVER_FFS,BoardTokenService,5A2E7C11-3B4D-4E8F-9A01-B0A2D0000007,smm))

BOARD_STANDIN_FFS := $(foreach n,BoardPcd DebugPrintStandIn BoardSmbiosEdit BoardGraphicsConsole BoardPciWindow \
  BoardBufferCheck BoardTokenService,$(BUILD)/fv/ffs/$(n).ffs)
BOARD_DRIVER_FFS := $(foreach n,TarvexUIV4x64 NetIdentityDxe SetupTokenSmm BootDelayDxe PstateOverrideDxe PcdCacheDxe \
  PcdCacheLiteDxe,$(BUILD)/ffs/$(n).ffs)
BOARD_PICTURE_FFS := $(foreach f,$(PICTURE_FILES),$(BUILD)/fv/pictures/$(f).ffs)
BOARD_FILES := $(BOARD_STANDIN_FFS) $(BOARD_DRIVER_FFS) $(BOARD_PICTURE_FFS)

$(BUILD)/ffs/.packed: $(foreach img,$(DELIVERABLES),$(BUILD)/efi/$(img).efi) tools/firmware/package.py tools/firmware/fvpack.py
	$(PYTHON) -m tools.firmware package --build $(BUILD) >/dev/null
	@touch $@
$(BOARD_DRIVER_FFS): $(BUILD)/ffs/.packed

$(BOARD_DIR)/OVMF_CODE.fd: $(BOARD_FILES) tools/firmware/fvinsert.py tools/firmware/uefiextract_check.py
	@mkdir -p $(dir $@)
	$(FVPACK) insert $(BOARD_BASE) $@ $(BOARD_FILES)
	@$(PYTHON) -m tools.firmware extract-check $@ $(BOARD_FILES) || { rm -f $@; exit 1; }

$(BOARD_DIR)/OVMF_VARS.fd: $(BOARD_VARS)
	@mkdir -p $(dir $@)
	cp $< $@

.PHONY: board
board: deps $(BOARD_DIR)/OVMF_CODE.fd $(BOARD_DIR)/OVMF_VARS.fd

# The settings records for the SMM boot and the calls the host model expects.
$(BOARD_DIR)/records.bin: test/board/records.cpp test/setuptoken/settings_model.cpp test/setuptoken/settings_model.h
	@mkdir -p $(dir $@)
	clang++ -std=c++20 -O1 -DEFI_HOST_TEST -Iinclude -I. test/board/records.cpp test/setuptoken/settings_model.cpp -o $(BOARD_DIR)/records
	$(BOARD_DIR)/records $@
board: $(BOARD_DIR)/records.bin

# The independent reader's look at the image, whether or not it was just written.
.PHONY: board-check
board-check: board
	@$(PYTHON) -m tools.firmware extract-check $(BOARD_DIR)/OVMF_CODE.fd $(BOARD_FILES)
