# SPDX-License-Identifier: BSD-2-Clause-Patent
"""Imports a Python module the tools need, or says what to install instead of
a traceback: the tools run under Debian's /usr/bin/python3, and make test
(tools/deps.sh) installs the packages below."""
import importlib
import sys

DEBIAN_PACKAGES = {"pefile": "python3-pefile", "PIL": "python3-pil", "pyte": "python3-pyte"}


def require(module):
    try:
        return importlib.import_module(module)
    except ImportError as e:
        top = module.split(".")[0]
        package = DEBIAN_PACKAGES.get(top, "python3-" + top.lower())
        sys.stderr.write("%s: needs Python 3 with the module %s (%s).\n"
                         "  On Debian: sudo apt-get install %s   (or run make test, which installs it),\n"
                         "  then run the tool with /usr/bin/python3 (this is %s).\n"
                         % (sys.argv[0] or "tool", top, e, package, sys.executable))
        sys.exit(2)
