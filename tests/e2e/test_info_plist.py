"""The information property list that the executable carries in its ELF
section ".info_plist", read back out of the built binaries."""

import os
import plistlib
import unittest

from harness import Config, dump_info_plist_section as dump_section

EXPECTED = {
    "CFBundleIdentifier": "com.quennard.brenlow-helper",
    "CFBundleExecutable": "helper",
    "LSMinimumSystemVersion": "11.0",
}


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
