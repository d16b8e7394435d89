# Firmware volumes built by the PI packer in tools/firmware/fvpack.py.
#
#   make BUILD=... $(BUILD)/fv/pictures.fv   (or: make pictures-fv)
#
# pictures.fv holds the UI's own artwork (tools/artwork/draw.py): one
# freeform firmware file per picture table, named by the table's first GUID,
# with picture k of the table as raw section k, which is how the UI loads it.

FVPACK      := $(PYTHON) -m tools.firmware
ARTWORK_DIR := $(BUILD)/artwork
PICTURES_FV := $(BUILD)/fv/pictures.fv
ARTWORK_STAMP := $(ARTWORK_DIR)/.drawn

$(ARTWORK_STAMP): tools/artwork/draw.py tools/artwork/bmpwrite.py
	@mkdir -p $(ARTWORK_DIR)
	$(if $(V),,@echo "  DRAW  $(ARTWORK_DIR)";)$(PYTHON) tools/artwork/draw.py $(ARTWORK_DIR)
	@touch $@

# name, file GUID, pictures in section order
PICTURE_FILES := digits bars mark_a mark_b suffix bar_blank digit_blank
digits_GUID      := 6C2AB33E-77F8-46B9-8106-760B4A81A500
digits_PICS      := digit0 digit1 digit2 digit3 digit4 digit5 digit6 digit7 digit8 digit9
bars_GUID        := F5307D3A-D41B-4029-8FC3-2EB864C2DCE3
bars_PICS        := bar0 bar1 bar2 bar3
mark_a_GUID      := B0F79D6F-61D3-458D-811D-CD248D334780
mark_a_PICS      := mark_a
mark_b_GUID      := B0F79D6F-61D3-458D-811D-CD248D334781
mark_b_PICS      := mark_b
suffix_GUID      := B0F79D6F-61D3-458D-811D-CD248D334782
suffix_PICS      := percent
bar_blank_GUID   := ACFBA7A4-6210-4AD5-8BFA-EF7A15FB2616
bar_blank_PICS   := bar_blank
digit_blank_GUID := ACFBA7A4-6210-4AD5-8BFA-EF7A15FB2617
digit_blank_PICS := digit_blank

define PICTURE_FILE_RULE
$(BUILD)/fv/pictures/$(1).ffs: $(ARTWORK_STAMP) tools/firmware/fvpack.py
	@mkdir -p $$(dir $$@)
	$$(if $(V),,@echo "  FFS   $$@";)$(FVPACK) ffs -o $$@ --guid $($(1)_GUID) --type freeform $$(foreach p,$($(1)_PICS),--raw $(ARTWORK_DIR)/$$(p).bmp)
endef
$(foreach f,$(PICTURE_FILES),$(eval $(call PICTURE_FILE_RULE,$(f))))

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
