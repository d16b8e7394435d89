# SPDX-License-Identifier: BSD-2-Clause-Patent
# Firmware volumes built by the PI packer in tools/firmware/fvpack.py.
#
#   make BUILD=... $(BUILD)/fv/pictures.fv   (or: make pictures-fv)
#
# pictures.fv holds the UI's own artwork (tools/artwork/draw.py): one
# freeform firmware file per entry of ui/pictures.json, with picture k of the
# entry as raw section k, which is how the UI loads it.

FVPACK      := $(PYTHON) -m tools.firmware
ARTWORK_DIR := $(BUILD)/artwork
PICTURES_FV := $(BUILD)/fv/pictures.fv
ARTWORK_STAMP := $(ARTWORK_DIR)/.drawn

$(ARTWORK_STAMP): tools/artwork/draw.py tools/artwork/bmpwrite.py
	@mkdir -p $(ARTWORK_DIR)
	$(if $(V),,@echo "  DRAW  $(ARTWORK_DIR)";)$(PYTHON) tools/artwork/draw.py $(ARTWORK_DIR)
	@touch $@

# The picture files, by name, as ui/pictures.json lists them (their GUIDs and
# pictures are read from there by the packer).
PICTURES_TABLE := ui/pictures.json
PICTURE_FILES := $(shell $(FVPACK) pictures names)
ifeq ($(PICTURE_FILES),)
$(error $(PICTURES_TABLE) gave no picture files)
endif

$(BUILD)/fv/pictures/%.ffs: $(ARTWORK_STAMP) $(PICTURES_TABLE) tools/firmware/pictures.py tools/firmware/fvpack.py
	@mkdir -p $(dir $@)
	$(if $(V),,@echo "  FFS   $@";)$(FVPACK) pictures ffs $* $(ARTWORK_DIR) $@

$(PICTURES_FV): $(foreach f,$(PICTURE_FILES),$(BUILD)/fv/pictures/$(f).ffs) tools/firmware/fvpack.py
	$(if $(V),,@echo "  FV    $@";)$(FVPACK) fv -o $@ $(filter %.ffs,$^)
	@$(FVPACK) dump $@ >/dev/null

.PHONY: pictures-fv
pictures-fv: $(PICTURES_FV)

# $(call DRIVER_FFS,Name,FileGuid[,FileType[,Depex]]) defines the rule for
# $(BUILD)/fv/ffs/Name.ffs: the image $(BUILD)/efi/Name.efi as a PE32 section
# with a dependency section (default TRUE; a DXE one for "driver", an MM one
# for "smm"), its name and a version section. FileType defaults to driver.
# A volume of such files: $(FVPACK) fv -o OUT.fv FILE.ffs ...
define DRIVER_FFS
$(BUILD)/fv/ffs/$(1).ffs: $(BUILD)/efi/$(1).efi tools/firmware/fvpack.py
	@mkdir -p $$(dir $$@)
	$$(if $(V),,@echo "  FFS   $$@";)$(FVPACK) ffs -o $$@ --guid $(2) --type $(or $(3),driver) --depex '$(or $(4),TRUE)' --pe32 $$< --ui $(1) --version 1
endef
