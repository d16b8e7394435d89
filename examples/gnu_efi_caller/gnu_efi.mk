# The gnu-efi caller of the UI protocol, built by its own Makefile (gcc and
# gnu-efi, as an outside tool would be) into $(BUILD)/efi/UiCallerGnuEfi.efi,
# where the test bed puts it on the board image's boot disk. Not a deliverable.
GNU_EFI_CALLER := $(BUILD)/efi/UiCallerGnuEfi.efi
GNU_EFI_CALLER_OUT := $(BUILD)/obj/UiCallerGnuEfi

$(GNU_EFI_CALLER): examples/gnu_efi_caller/caller.c examples/gnu_efi_caller/Makefile include/ui_screen.h
	@mkdir -p $(dir $@)
	$(if $(V),,@echo "  GNUEFI $@";)$(MAKE) --no-print-directory -C examples/gnu_efi_caller OUT=$(abspath $(GNU_EFI_CALLER_OUT)) \
	  $(if $(V),,>/dev/null)
	@cp $(GNU_EFI_CALLER_OUT)/caller.efi $@

testbed-images: $(GNU_EFI_CALLER)
