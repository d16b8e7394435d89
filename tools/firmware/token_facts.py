# SPDX-License-Identifier: BSD-2-Clause-Patent
"""The settings record's numbers as the compiler works them out from the
token table (setuptoken/token_table.h): row count, rows of each kind, the
last record byte read, record and request sizes. The datasheet writer fills
them into the manifest's text, so the table stays the one place they are
written down."""
import functools
import json
import os
import subprocess
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

PROGRAM = r"""
#include <cstdio>
#include "setuptoken/settings_request.h"
int main() {
  std::printf("{\"rows\": %lu, \"bool_rows\": %lu, \"u8_rows\": %lu, \"u16_rows\": %lu, \"u32_rows\": %lu, "
              "\"last_offset\": %lu, \"record_size\": %lu, \"request_size\": %lu}\n",
              (unsigned long)TOKEN_TABLE_ROWS, (unsigned long)TokenKindRows(TOKEN_KIND_BOOL),
              (unsigned long)TokenKindRows(TOKEN_KIND_8), (unsigned long)TokenKindRows(TOKEN_KIND_16),
              (unsigned long)TokenKindRows(TOKEN_KIND_32), (unsigned long)SETTINGS_RECORD_LAST_OFFSET,
              (unsigned long)SETTINGS_RECORD_SIZE, (unsigned long)SETTINGS_REQUEST_MIN_SIZE);
}
"""


@functools.lru_cache(maxsize=None)
def facts(root=ROOT):
    """{name: number}; last_offset also as text, "0x3DE" style, in last_offset_hex."""
    with tempfile.TemporaryDirectory() as tmp:
        exe = os.path.join(tmp, "facts")
        subprocess.run(["clang++", "-std=c++20", "-DEFI_HOST_TEST", "-I" + root, "-I" + os.path.join(root, "include"),
                        "-x", "c++", "-", "-o", exe], input=PROGRAM, text=True, check=True)
        out = json.loads(subprocess.run([exe], capture_output=True, text=True, check=True).stdout)
    out["last_offset_hex"] = "0x%X" % out["last_offset"]
    return out


def fill(value, numbers):
    """value (a manifest's JSON) with every "{name}" in its strings replaced by that number."""
    if isinstance(value, str):
        for k, v in numbers.items():
            value = value.replace("{%s}" % k, str(v))
        return value
    if isinstance(value, list):
        return [fill(v, numbers) for v in value]
    if isinstance(value, dict):
        return {k: fill(v, numbers) for k, v in value.items()}
    return value
