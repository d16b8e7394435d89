# SPDX-License-Identifier: BSD-2-Clause-Patent
"""The drivers' firmware files: the PI volume packer and its insert tool, the
manifests and the EDK II package written from them, and the readers that check
the results (our own and UEFIExtract). Run from the repository's top folder:

    python3 -m tools.firmware COMMAND ...      (python3 -m tools.firmware --help)
"""
