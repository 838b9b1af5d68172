"""The information property list that the executable carries in its ELF
section ".info_plist", read back out of the built binaries."""

import os
import plistlib
import shutil
import subprocess
import tempfile
import unittest

from harness import Config

SECTION = ".info_plist"
EXPECTED = {
    "CFBundleIdentifier": "com.quennard.brenlow-helper",
    "CFBundleExecutable": "helper",
    "LSMinimumSystemVersion": "11.0",
}


def dump_section(binary):
    """The section's bytes; objcopy works on a copy, the build stays as is."""
    with tempfile.TemporaryDirectory(prefix="helper-e2e-") as scratch:
        copy = os.path.join(scratch, "helper")
        shutil.copyfile(binary, copy)
        out = os.path.join(scratch, "section")
        subprocess.run(["objcopy", f"--dump-section={SECTION}={out}", copy],
                       check=True, capture_output=True)
        with open(out, "rb") as f:
            return f.read()


class InfoPlistTests(unittest.TestCase):

    def test_each_build_carries_the_information_property_list(self):
        for binary in filter(None, (Config.shipped_tool, Config.tool)):
            with self.subTest(binary=os.path.basename(binary)):
                data = dump_section(binary)
                self.assertTrue(data.startswith(b"<?xml"), data[:40])
                self.assertNotIn(b"\0", data)
                info = plistlib.loads(data, fmt=plistlib.FMT_XML)
                self.assertEqual({k: info.get(k) for k in EXPECTED}, EXPECTED)
                # The version bootstrap compares: one to three numbers.
                self.assertRegex(info.get("CFBundleVersion", ""), r"^\d+(\.\d+){0,2}$")
