"""signature-check, the engine's own command: run as its caller, outside the
sandbox (it reads only its arguments), over the tests' signed fixtures, with
and without the tests' root as an extra anchor. The verdicts themselves, on
these and on published binaries, are the engine's unit tests'."""

import json
import os
import shutil
import ssl
import subprocess
import tempfile
import unittest

from harness import Config

NOT_TRUSTED = "-2147409622 CSSMERR_TP_NOT_TRUSTED"
SUCCESS = "0 errSecSuccess"
REQ_FAILED = "-67050 errSecCSReqFailed"


def tool_requirement(identifier, team="Q7MK2RX5VN"):
    """The tool's own requirement, as tests/unit/codesign/TestFiles.cpp spells it."""
    return (f'anchor apple generic and identifier "{identifier}" and '
            "(certificate leaf[field.1.2.840.113635.100.6.1.9] or certificate "
            "1[field.1.2.840.113635.100.6.2.6] and certificate leaf[field.1.2.840.113635.100.6.1.13] "
            f'and certificate leaf[subject.OU] = "{team}")')


def run(*args):
    done = subprocess.run([Config.signature_check, *args], capture_output=True, timeout=60)
    return done.stdout.decode("utf-8", "replace").strip(), done.stderr.decode("utf-8", "replace"), done.returncode


class CommandTestCase(unittest.TestCase):
    def setUp(self):
        if not Config.signature_check or not Config.test_ca:
            raise unittest.SkipTest("run.py was not given --signature-check and --test-ca")
        self.scratch = tempfile.mkdtemp(prefix="signature-check-")
        self.addCleanup(shutil.rmtree, self.scratch)

    def ca(self, name):
        return os.path.join(Config.test_ca, f"{name}.pem")

    def scratch_file(self, name, data):
        path = os.path.join(self.scratch, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def der_root(self):
        with open(self.ca("root"), encoding="ascii") as pem:
            return self.scratch_file("root.der", ssl.PEM_cert_to_DER_cert(pem.read()))

    def check(self, path, requirement, anchors, expected):
        args = [a for anchor in anchors for a in ("--anchor", anchor)]
        if requirement is not None:
            args += ["--requirement", requirement]
        out, err, status = run(*args, path)
        self.assertEqual((out, status), (expected, 0 if expected == SUCCESS else 1), err)


class VerdictTests(CommandTestCase):
    def test_anchors_and_files(self):
        fixture = lambda name: os.path.join(Config.fixtures, name)
        helper = tool_requirement("com.quennard.brenlow-helper")
        # (file or published key, requirement, anchors, expected line). A
        # certificate file is capped at 1 MiB before it is parsed, so the
        # parser's own bound (the largest int) cannot be reached, nor can a
        # SHA-256 digest of another length: both stay untested.
        cases = [
            (fixture("helper-devid-arm64"), helper, [], NOT_TRUSTED),
            (fixture("helper-devid-arm64"), helper, [self.der_root()], SUCCESS),
            (fixture("helper-devid-arm64"), helper, [self.ca("devid-ca")], NOT_TRUSTED),
            (fixture("helper-devid-arm64"), helper, [self.ca("foreign-root"), self.ca("root")], SUCCESS),
            (fixture("helper-devid-foreign-root"), helper, [self.ca("foreign-root")], SUCCESS),
            (fixture("helper-devid-arm64"), tool_requirement("com.example.other"), [self.ca("root")], REQ_FAILED),
            (fixture("adhoc-arm64"), None, [], SUCCESS),
            ("/nonexistent/file", None, [], "-67068 errSecCSStaticCodeNotFound"),
            ("-", None, [], "-67068 errSecCSStaticCodeNotFound"),  # a file name, not an option
            (Config.test_ca, None, [], "-67015 errSecCSRegularFile"),
        ]
        for path, requirement, anchors, expected in cases:
            with self.subTest(path=os.path.basename(path), anchors=len(anchors), expected=expected):
                self.check(path, requirement, anchors, expected)


class CommandLineTests(CommandTestCase):
    def test_bad_usage_is_one_line_and_status_2(self):
        unreadable = self.scratch_file("not-a-certificate.pem", b"-----BEGIN CERTIFICATE-----\nAAAA\n")
        with open(self.ca("root"), "rb") as pem:
            oversized = self.scratch_file("oversized.pem", pem.read() + b"\n" * (1 << 20))
        # (arguments, what the one line on standard error names)
        cases = [
            ([], "usage: signature-check"),
            (["a", "b"], "usage: signature-check"),
            (["--jsn", "a"], "--jsn"),
            (["a", "--requirement"], "--requirement needs a value"),
            (["--requirement", "anchor apple generic", "--requirement=true", "a"], "twice"),
            (["--requirement", "anchor apple generic and", "a"], "-67052 errSecCSReqInvalid"),
            (["--anchor", unreadable, "a"], unreadable),
            (["--anchor", "/nonexistent.pem", "a"], "/nonexistent.pem"),
            (["--anchor", "/dev/zero", "a"], "/dev/zero"),
            (["--anchor", oversized, "a"], oversized),
        ]
        for args, named in cases:
            with self.subTest(args=args):
                out, err, status = run(*args)
                self.assertEqual((out, status, err.count("\n")), ("", 2, 1), err)
                self.assertIn(named, err)

    # A space escaped as \u0020 would read the same to any JSON reader, so no
    # test tells the two apart.
    def test_json_names_any_path(self):
        strange = "dir\"quote\\back\nline\x01"
        directory = os.path.join(self.scratch.encode(), strange.encode() + b"\xff")
        os.mkdir(directory)
        done = subprocess.run([Config.signature_check, "--json", directory], capture_output=True)
        report = json.loads(done.stdout)
        self.assertEqual(report["path"], os.path.join(self.scratch, strange + "\ufffd"))
        self.assertEqual((report["status"], report["name"], done.returncode), (-67015, "errSecCSRegularFile", 1))

    def test_hostile_files_get_a_status_never_a_crash(self):
        with open(os.path.join(Config.fixtures, "helper-devid-universal"), "rb") as f:
            universal = f.read()
        # A universal record of no known CPU claiming a huge slice; a cut file.
        for body in (universal[:8] + b"\x00" * 8 + b"\xff" * 12 + universal[28:], universal[:len(universal) // 3]):
            out, err, status = run(self.scratch_file("hostile", body))
            self.assertEqual(status, 1, err)
            self.assertRegex(out, r"^-?\d+( \w+)?$")
