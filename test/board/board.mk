# SPDX-License-Identifier: BSD-2-Clause-Patent
# The board image's rules (included after the firmware-volume rules):
#
#   make board   ->  $(BUILD)/board/OVMF_CODE.fd and $(BUILD)/board/OVMF_VARS.fd

BOARD_BASE ?= /usr/share/OVMF/OVMF_CODE_4M.secboot.fd
BOARD_VARS ?= /usr/share/OVMF/OVMF_VARS_4M.fd
BOARD_DIR := $(BUILD)/board

# The stand-ins of test/board/image.mk's list, in its order: the PCD
# stand-in first, each a firmware file named by its place in the list.
ifneq ($(firstword $(BOARD_STANDINS)),$(BOARD_PCD_STANDIN))
$(error the board's PCD stand-in $(BOARD_PCD_STANDIN) must come first in BOARD_STANDINS, not $(firstword $(BOARD_STANDINS)))
endif
BOARD_STANDIN_GUID := 5A2E7C11-3B4D-4E8F-9A01-B0A2D00000
BOARD_PLACES := 01 02 03 04 05 06 07 08 09 10 11 12 13 14 15 16
ifneq ($(word $(words $(BOARD_STANDINS)),$(BOARD_PLACES)),)
$(foreach p,$(join $(addsuffix :,$(BOARD_STANDINS)),$(wordlist 1,$(words $(BOARD_STANDINS)),$(BOARD_PLACES))),$(eval \
  $(call DRIVER_FFS,$(word 1,$(subst :, ,$(p))),$(BOARD_STANDIN_GUID)$(word 2,$(subst :, ,$(p))),$($(word 1,$(subst :, ,$(p)))_FILE_TYPE),$($(word 1,$(subst :, ,$(p)))_DEPEX))))
else
$(error more board stand-ins than BOARD_PLACES numbers)
endif
BOARD_STANDIN_FFS := $(foreach n,$(BOARD_STANDINS),$(BUILD)/fv/ffs/$(n).ffs)
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
