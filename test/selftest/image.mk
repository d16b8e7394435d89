# SPDX-License-Identifier: BSD-2-Clause-Patent
# The toolchain self-test driver: not a deliverable, built for the image checks
# and the firmware test bed.
IMAGES += SelfTestDxe
TESTBED_IMAGES += SelfTestDxe
SelfTestDxe_SRCS := test/selftest/selftest.cpp
SelfTestDxe_ENTRY := SelfTestEntry
