"""The source-built board's platform edits, and the board values they give."""
import os
import re
import tempfile
import unittest

from tools.edk2board import platform
from tools.firmware import manifest

ROOT = platform.ROOT

DSC = """[Defines]\r
  PLATFORM_NAME = Ovmf\r
  FLASH_DEFINITION               = OvmfPkg/OvmfPkgIa32X64.fdf\r
\r
[Components.X64]\r
  MdeModulePkg/Core/Dxe/DxeMain.inf\r
"""
FDF = """[Defines]
!include OvmfPkgDefines.fdf.inc

[FV.DXEFV]
APRIORI DXE {
  INF  MdeModulePkg/Universal/PCD/Dxe/Pcd.inf
}
INF  MdeModulePkg/Core/Dxe/DxeMain.inf
!include OvmfPkg/OvmfTpmDxe.fdf.inc

################################################################################

[FV.FVMAIN_COMPACT]
!include FvmainCompactScratchEnd.fdf.inc

[Rule.Common.SEC]
  FILE SEC = $(NAMED_GUID) {
  }
"""
FRAGMENT = """## @file
# --- in the volume the DXE dispatcher reads (e.g. [FV.DXEFV]) ---
FILE DRIVER = 391081C1-FA9D-4AEB-BC5D-A1573F269C2E CheckSum {  # TarvexUIV4x64
  SECTION PE32 = BoardDriversPkg/TarvexUIV4x64/TarvexUIV4x64.efi
}
# --- in the volume the SMM core dispatches SMM drivers from ---
INF RuleOverride = BINARY BoardDriversPkg/SetupTokenSmm/SetupTokenSmm.inf
"""
RULES = """
# --- rules for the binary modules ---
[Rule.Common.DXE_DRIVER.BINARY]
  FILE DRIVER = $(NAMED_GUID) {
  }
"""


class PlatformEdits(unittest.TestCase):
    def test_fragment_lines_go_into_the_dxe_volume_and_rules_to_the_end(self):
        for fragment, has_rules in ((FRAGMENT + RULES, True), (FRAGMENT, False)):
            volume, rules = platform.split_fragment(fragment)
            self.assertNotIn("[Rule.", volume)
            self.assertNotIn("rules for the binary", volume)
            self.assertEqual(bool(rules), has_rules)
            fdf = platform.edit_fdf(FDF, volume, rules)
            dxe = fdf[fdf.index("[FV.DXEFV]"):fdf.index("[FV.FVMAIN_COMPACT]")]
            self.assertIn("SetupTokenSmm.inf", dxe)
            self.assertIn("TarvexUIV4x64.efi", dxe)
            # After the volume's last statement, before the next volume's heading comment.
            self.assertLess(dxe.index("OvmfTpmDxe.fdf.inc"), dxe.index("TarvexUIV4x64"))
            self.assertLess(dxe.index("SetupTokenSmm.inf"), dxe.index("#####"))
            self.assertEqual(fdf.rstrip().endswith("}"), True)
            self.assertEqual("[Rule.Common.DXE_DRIVER.BINARY]" in fdf[fdf.index("[Rule.Common.SEC]"):], has_rules)
            # The copy sits outside OvmfPkg: its bare includes are named from the workspace.
            self.assertIn("!include OvmfPkg/OvmfPkgDefines.fdf.inc\n\n", fdf)
            self.assertIn("!include OvmfPkg/FvmainCompactScratchEnd.fdf.inc", fdf)
            self.assertIn("!include OvmfPkg/OvmfTpmDxe.fdf.inc", fdf)
            self.assertNotIn("OvmfPkg/OvmfPkg/", fdf)

    def test_a_board_leaves_out_the_statements_of_modules_it_has(self):
        volume, _ = platform.split_fragment(FRAGMENT.replace("FILE DRIVER", "# TarvexUIV4x64: when the board needs it\nFILE DRIVER"))
        left = platform.leave_out(volume, ["TarvexUIV4x64"])
        self.assertNotIn("TarvexUIV4x64", left)
        self.assertIn("SetupTokenSmm.inf", left)
        self.assertEqual(left.count("{"), left.count("}"))
        self.assertNotIn("SetupTokenSmm", platform.leave_out(volume, ["SetupTokenSmm"]))
        with self.assertRaises(platform.PlatformError):
            platform.leave_out(volume, ["PcdBridgeDxe"])

    def test_dsc_names_the_copy_lists_components_and_sets_dynamic_ex_values(self):
        text = DSC.replace("\r\n", "\n")
        dsc = platform.edit_dsc(text, "BoardOvmf/OvmfBoard.fdf", ["BoardDriversPkg/A/A.inf", "BoardDriversPkg/B/B.inf"],
                                "## @file\n# comment\ngBoardDriversTokenSpaceGuid.PcdCfg846|TRUE\n\n")
        self.assertIn("FLASH_DEFINITION               = BoardOvmf/OvmfBoard.fdf\n", dsc)
        tail = dsc[dsc.rindex("[Components.X64]"):]
        self.assertIn("  BoardDriversPkg/A/A.inf\n  BoardDriversPkg/B/B.inf\n", tail)
        pcds = tail[tail.index("[PcdsDynamicExDefault.X64]"):].splitlines()[1:]
        self.assertEqual(pcds, ["  gBoardDriversTokenSpaceGuid.PcdCfg846|TRUE"])
        with self.assertRaises(platform.PlatformError):
            platform.edit_dsc("[Defines]\n", "x.fdf", [], "")

    def test_workspace_keeps_line_ends_and_writes_the_edit_as_a_diff(self):
        with tempfile.TemporaryDirectory() as tmp:
            tree, package, ws = (os.path.join(tmp, n) for n in ("tree", "package", "ws"))
            for path, text in (("tree/" + platform.PLATFORM_DSC, DSC), ("tree/" + platform.PLATFORM_FDF, FDF),
                               ("package/%s.fdf.inc" % manifest.PACKAGE_NAME, FRAGMENT + RULES),
                               ("package/SetupTokenSmm/SetupTokenSmm.inf", "[Defines]\n"),
                               ("package/PcdBridgeDxe/PcdBridgeDxe.inf", "[Defines]\n"),
                               ("pcds", "gBoardDriversTokenSpaceGuid.PcdCfg846|TRUE\n")):
                os.makedirs(os.path.dirname(os.path.join(tmp, path)), exist_ok=True)
                with open(os.path.join(tmp, path), "w", newline="") as fh:
                    fh.write(text)
            self.assertEqual(platform.make_workspace(tree, package, ws, os.path.join(tmp, "pcds")), platform.BOARD_DSC)
            with open(os.path.join(ws, platform.BOARD_DSC), "rb") as fh:
                raw = fh.read()
            self.assertNotIn(b"\n", raw.replace(b"\r\n", b""))
            # INFs the fragment names first, in its order; the others after.
            self.assertIn(b"  BoardDriversPkg/SetupTokenSmm/SetupTokenSmm.inf\r\n  BoardDriversPkg/PcdBridgeDxe/PcdBridgeDxe.inf", raw)
            with open(os.path.join(ws, platform.BOARD_FDF + ".diff")) as fh:
                diff = fh.read()
            self.assertIn("+INF RuleOverride = BINARY BoardDriversPkg/SetupTokenSmm/SetupTokenSmm.inf", diff)
            self.assertTrue(os.path.exists(os.path.join(ws, manifest.PACKAGE_NAME, "SetupTokenSmm", "SetupTokenSmm.inf")))


class BoardValues(unittest.TestCase):
    def test_the_dsc_values_are_the_ones_the_board_checks_expect(self):
        """The board checks compare the drivers' cached configuration with the
        test bed's token table: the DSC must give exactly those values, under
        names the package's DEC declares."""
        with open(os.path.join(ROOT, "test", "bed", "bed.h")) as fh:
            macro = re.search(r"#define BED_LIB_TOKENS(.*?)\n\n", fh.read(), re.S).group(1)
        expected = {int(t): int(v, 0) for t, v in re.findall(r"(\d+),\s*(0x[0-9A-Fa-f]+|\d+)", macro)}
        declared = {p["token"]: p for m in manifest.load() for p in m.pcds}
        given = {}
        with open(platform.DEFAULT_PCDS) as fh:
            for line in fh:
                line = line.strip()
                if not line or line.startswith("#"):
                    continue
                name, value = line.split("|")
                token = [t for t, p in declared.items() if manifest.pcd_cname(p) == name]
                self.assertEqual(len(token), 1, "%s is not declared in the DEC" % name)
                given[token[0]] = {"TRUE": 1, "FALSE": 0}.get(value, None) if value in ("TRUE", "FALSE") else int(value, 0)
        self.assertEqual({t: v for t, v in given.items() if t in expected}, expected)
        self.assertEqual(sorted(given), sorted(declared), "every PCD of the DEC gets a board value")


if __name__ == "__main__":
    unittest.main()
