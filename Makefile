# SPDX-License-Identifier: BSD-2-Clause-Patent
# Top-level build: firmware images (clang + lld-link, PE32+), host tests
# (CMake + GoogleTest under ASan/UBSan), the firmware test bed and the demo.
#
#   make images   the seven driver images in build/efi/
#   make test     install what is missing, build, run every test suite
#   make demo     boot the drivers in OVMF with the demo caller (PLATFORM=stock|edk2-board)

BUILD     ?= build
EFI_CXX   ?= clang++
EFI_CC    ?= clang
LLD_LINK  ?= lld-link
PYTHON    ?= /usr/bin/python3

EFI_CXXFLAGS := -target x86_64-unknown-windows -std=c++20 -ffreestanding -fno-exceptions -fno-rtti \
  -mno-red-zone -fshort-wchar -fno-stack-protector -mno-stack-arg-probe -fno-threadsafe-statics \
  -fno-asynchronous-unwind-tables -fno-unwind-tables -Os -ffunction-sections -fdata-sections \
  -Wall -Wextra -Werror=global-constructors -Werror=exit-time-destructors -Iinclude -I.
# /brepro: the PE time stamp becomes a hash of the contents, so two builds of
# the same sources give the same bytes (make release relies on it).
# Plain C sources (the example UI caller) build with the same target and ABI.
EFI_CFLAGS := -target x86_64-unknown-windows -std=c11 -ffreestanding -mno-red-zone -fshort-wchar -fno-stack-protector \
  -mno-stack-arg-probe -fno-asynchronous-unwind-tables -fno-unwind-tables -Os -ffunction-sections -fdata-sections \
  -Wall -Wextra -Werror -Iinclude -I.
# /debug with /pdbaltpath:%_PDB%: a CodeView debug entry naming just <Name>.pdb,
# so a DEBUG firmware's log names the image at load. /brepro then derives the
# PDB's GUID (and the time stamp) from the PDB's contents, so the link runs in
# the image's object folder with relative object paths, made absolute against
# a fixed /pdbsourcepath: the bytes do not depend on where BUILD is.
# /base:0 as EDK II links: the DXE and SMM cores first try to allocate an
# image at its linked base when that is 1 MiB or more.
EFI_LDFLAGS := /nodefaultlib /opt:ref /opt:icf /machine:x64 /debug /pdbaltpath:%_PDB% /pdbsourcepath:/obj /brepro \
  /base:0 /align:32 /filealign:32
# lld-link warns "/align specified without /driver; image may not run" for every
# image: the warning is about Windows kernel drivers, whose loader needs page-
# aligned sections. A UEFI loader relocates and copies the sections itself and
# accepts any power-of-two alignment (images that need page protection set it
# in their image.mk), so the line is dropped and every other warning kept.
ALIGN_WARNING := /align specified without /driver

.DEFAULT_GOAL := all
IMAGES :=
# An image is NAME_SRCS, NAME_ENTRY, optional NAME_CXXFLAGS, NAME_LDFLAGS and
# NAME_SUBSYSTEM, with NAME in IMAGES. The product images (drivers and adapters) are described by
# their manifests (<folder>/<Name>.module.json: sources, entry, defines, and
# the library they link), which tools/firmware/images.py turns into those
# variables; the test bed's and the examples' images by their image.mk.
$(BUILD)/images.mk: $(wildcard */*.module.json) tools/firmware/images.py
	@mkdir -p $(dir $@)
	@$(PYTHON) -m tools.firmware images make >$@.tmp && mv $@.tmp $@
include $(BUILD)/images.mk
include $(sort $(wildcard test/*/image.mk examples/*/image.mk))

RT_SRCS := rt/runtime.cpp

.PHONY: all images test host-test image-check firmware-test demo bench fuzz deps clean
all: images

define IMAGE_RULES
$(1)_OBJS := $$(patsubst %.c,$(BUILD)/obj/$(1)/%.o,$$(patsubst %.cpp,$(BUILD)/obj/$(1)/%.o,$$($(1)_SRCS) $(RT_SRCS)))
$(BUILD)/obj/$(1)/%.o: %.cpp $$(MAKEFILE_LIST)
	@mkdir -p $$(dir $$@)
	$$(if $(V),,@echo "  CXX   $(1): $$<";)$(EFI_CXX) $(EFI_CXXFLAGS) $$($(1)_CXXFLAGS) -MMD -MP -c $$< -o $$@
$(BUILD)/obj/$(1)/%.o: %.c $$(MAKEFILE_LIST)
	@mkdir -p $$(dir $$@)
	$$(if $(V),,@echo "  CC    $(1): $$<";)$(EFI_CC) $(EFI_CFLAGS) -MMD -MP -c $$< -o $$@
$(BUILD)/efi/$(1).efi: $$($(1)_OBJS)
	@mkdir -p $$(dir $$@)
	$$(if $(V),,@echo "  LINK  $$@";)(cd $(BUILD)/obj/$(1) && $(LLD_LINK) $(EFI_LDFLAGS) $$($(1)_LDFLAGS) \
	  /subsystem:$$(or $$($(1)_SUBSYSTEM),efi_boot_service_driver) /entry:$$($(1)_ENTRY) /out:../../efi/$(1).efi \
	  $$(patsubst $(BUILD)/obj/$(1)/%,%,$$^)) 2>$$@.log; s=$$$$?; grep -v '$(ALIGN_WARNING)' $$@.log >&2; rm -f $$@.log; exit $$$$s
-include $$($(1)_OBJS:.o=.d)
endef
$(foreach img,$(IMAGES),$(eval $(call IMAGE_RULES,$(img))))

DELIVERABLES := $(filter-out $(TESTBED_IMAGES),$(IMAGES))
images: $(foreach img,$(DELIVERABLES),$(BUILD)/efi/$(img).efi)
testbed-images: $(foreach img,$(TESTBED_IMAGES),$(BUILD)/efi/$(img).efi)

deps:
	@bash tools/deps.sh

host-test: deps
	cmake -S . -B $(BUILD)/host -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang >/dev/null
	cmake --build $(BUILD)/host
	cd $(BUILD)/host && ctest --output-on-failure -j2 | tee ../host-test.log

image-check: deps images testbed-images
	$(PYTHON) tools/check_images.py $(foreach img,$(IMAGES),$(if $(filter efi_application,$($(img)_SUBSYSTEM)),--application) $(BUILD)/efi/$(img).efi)

firmware-test: deps images testbed-images
	$(PYTHON) test/bed/run.py --build $(BUILD)

test: deps
	@bash tools/run_tests.sh

# PLATFORM=stock: Debian's stock OVMF, no board image; the tool loads the UI
# driver and the graphics console adapter from its disk (build/demo-stock/).
# PLATFORM=edk2-board: the board built from EDK II source (build/edk2-board-demo/).
PLATFORM ?= board
demo: deps images testbed-images package pictures-fv $(filter-out stock,$(PLATFORM))
	$(if $(INTERACTIVE),@dpkg-query -W -f='$${Status}' qemu-system-gui 2>/dev/null | grep -q 'ok installed' || \
	  { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends qemu-system-gui; })
	$(PYTHON) examples/flash_tool/demo.py --build $(BUILD) $(if $(INTERACTIVE),--interactive) \
	  $(if $(filter stock,$(PLATFORM)),--platform stock,--board $(PLATFORM))

# Figures against their aims: image sizes, compositor passes, SMI request cost,
# and the firmware figures from a bench run in OVMF; see build/bench/report.md.
bench: deps images testbed-images package pictures-fv
	$(PYTHON) tools/bench.py --build $(BUILD)

# The seven images as PI firmware files (build/ffs), the DXE ones as one volume
# (build/fv/drivers.fv), and build/package/: each driver as an EDK II binary
# module (.efi, .depex, .ui, .ver, .ffs, .inf), the DEC, the FDF fragment and
# the pictures' files that the fragment places. Everything is read back.
.PHONY: package ffs
package ffs: deps images pictures-fv
	$(if $(V),,@echo "  PACK  $(BUILD)/ffs, $(BUILD)/fv/drivers.fv, $(BUILD)/package";)$(PYTHON) -m tools.firmware package \
	  --build $(BUILD) $(if $(V),,>/dev/null)
	@$(PYTHON) -m tools.firmware read $(BUILD)/fv/drivers.fv $(BUILD)/ffs/*.ffs >/dev/null

# build/release/<product>-<version>/: the package, datasheets, guide, licence,
# this version's CHANGELOG entry and SHA256SUMS (tools/release.py).
.PHONY: release
release: deps package
	@$(PYTHON) -m tools.release --build $(BUILD)

fuzz: host-test
	@BUILD=$(BUILD) bash tools/fuzz.sh $(or $(FUZZ_SECONDS),900)

clean:
	rm -rf $(BUILD)

# PI firmware volumes (the UI pictures); rules, so included after the default goal.
include tools/firmware/fv.mk
# The board image (our drivers in Debian's SMM-enabled OVMF).
include test/board/board.mk
# The board built from EDK II source with the package (make edk2-board).
include tools/edk2board/board.mk
# The UI caller built with gnu-efi, run in the board image.
include examples/gnu_efi_caller/gnu_efi.mk
