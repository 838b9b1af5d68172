"""signature-check, the engine's own command: run as its caller, outside the
sandbox (it reads only its arguments), over the tests' signed fixtures and
published binaries, with and without the tests' root as an extra anchor."""

import hashlib
import json
import os
import shutil
import ssl
import struct
import subprocess
import tempfile
import unittest

from harness import Config

HERE = os.path.dirname(os.path.abspath(__file__))
STATUS_TABLE = os.path.join(HERE, "..", "fixtures", "statuses.txt")
NOT_TRUSTED = "-2147409622 CSSMERR_TP_NOT_TRUSTED"
SUCCESS = "0 errSecSuccess"
REQ_FAILED = "-67050 errSecCSReqFailed"
APPLE_ANCHOR = "anchor apple generic"


def tool_requirement(identifier, team="Q7MK2RX5VN"):
    """The tool's own requirement, as tests/unit/codesign/RequirementTesting.h spells it."""
    return (f'anchor apple generic and identifier "{identifier}" and '
            "(certificate leaf[field.1.2.840.113635.100.6.1.9] or certificate "
            "1[field.1.2.840.113635.100.6.2.6] and certificate leaf[field.1.2.840.113635.100.6.1.13] "
            f'and certificate leaf[subject.OU] = "{team}")')


def fixture_table():
    """(case, fixture, requirement or None, expected line) from statuses.txt."""
    with open(STATUS_TABLE, encoding="utf-8") as table:
        for line in table:
            if not line.strip() or line.startswith("#"):
                continue
            case, fixture, requirement, number, name = line.split()
            if requirement != "-":
                requirement = tool_requirement(*requirement.split("/"))
            yield case, fixture, None if requirement == "-" else requirement, f"{number} {name}"


# Published binaries by npm package and pinned digests (the engine's own
# tests fetch the same ones into the same cache).
PUBLISHED = {
    "developer-id": ("@sentry/cli-darwin@3.8.0", "package/bin/sentry-cli",
                     "711d8d61e448b2e8a10c217acbfe206db7456e0072f041136e3bf7935fdf5cfa",
                     "2c26914636c47ab9bf9e710484ad7b44d371cbec8bd29cafb36b3cf877bf4285"),
    "adhoc": ("@vscode/vsce-sign-darwin-arm64@2.0.6", "package/bin/vsce-sign",
              "c3d409607558415ca7acfdba4acc1f2a5afa609545f7f4beb689ed7ae1fc9bb7",
              "992f2ca1b97dde4e8d516bf03a80f3a0b190e5f32b671b978d07fad5f85af3f5"),
    "unsigned": ("@esbuild/darwin-x64@0.28.2", "package/bin/esbuild",
                 "abb6a7a895aaf2cc0df36fecc3bf0042479ffec51a643a056d54e9109f27db55",
                 "7fe5c9c905fff0a05d92db98929434ab4d3b6dd92d7a7688922db74380c75df3"),
}


def sha256_of(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def fetch_published(key):
    """The binary's cached path, fetched with `npm pack` when missing (packed
    apart and moved in whole, since the engine's tests read the same cache);
    raises SkipTest when npm or the network cannot supply it."""
    profile, member, tarball_digest, file_digest = PUBLISHED[key]
    safe = lambda text: text.replace("/", "_").replace("@", "_")
    target = os.path.join(Config.downloads, safe(f"{profile}-{os.path.basename(member)}"))
    if os.path.exists(target) and sha256_of(target) == file_digest:
        return target
    if shutil.which("npm") is None:
        raise unittest.SkipTest("npm is not installed")
    os.makedirs(Config.downloads, exist_ok=True)
    work = tempfile.mkdtemp(dir=Config.downloads)
    try:
        packed = subprocess.run(["npm", "pack", "--silent", profile], cwd=work,
                                capture_output=True, text=True, timeout=300)
        if packed.returncode != 0 or not packed.stdout.strip():
            raise unittest.SkipTest(f"npm pack {profile} failed (offline?)")
        if sha256_of(os.path.join(work, packed.stdout.split()[-1])) != tarball_digest:
            raise unittest.SkipTest(f"tarball digest differs for {profile}")
        with open(os.path.join(work, "member"), "wb") as out:
            subprocess.run(["tar", "-xzOf", packed.stdout.split()[-1], member], cwd=work, stdout=out, check=True)
        if sha256_of(os.path.join(work, "member")) != file_digest:
            raise unittest.SkipTest(f"extracted file digest differs for {profile}")
        os.replace(os.path.join(work, "member"), target)
    finally:
        shutil.rmtree(work)
    return target


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
        # A failure is explained on one line of its own; a success says nothing more.
        self.assertRegex(err, r"^$" if expected == SUCCESS else r"^signature-check: [^\n]+\n$")


class VerdictTests(CommandTestCase):
    def test_fixtures_with_the_tests_root(self):
        for case, fixture, requirement, expected in fixture_table():
            with self.subTest(case):
                self.check(os.path.join(Config.fixtures, fixture), requirement, [self.ca("root")], expected)

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
            (fixture("adhoc-arm64"), None, [], SUCCESS),
            ("developer-id", 'anchor apple generic and certificate leaf[subject.OU] = "97JCY7859U"', [], SUCCESS),
            ("developer-id", APPLE_ANCHOR, [self.ca("root")], SUCCESS),
            ("adhoc", APPLE_ANCHOR, [self.ca("root")], REQ_FAILED),
            ("unsigned", None, [], "-67062 errSecCSUnsigned"),
            ("/nonexistent/file", None, [], "-67068 errSecCSStaticCodeNotFound"),
            ("-", None, [], "-67068 errSecCSStaticCodeNotFound"),  # a file name, not an option
            (Config.test_ca, None, [], "-67015 errSecCSRegularFile"),
        ]
        for path, requirement, anchors, expected in cases:
            with self.subTest(path=os.path.basename(path), anchors=len(anchors), expected=expected):
                if path in PUBLISHED:
                    path = fetch_published(path)
                self.check(path, requirement, anchors, expected)


def signature_blob(data, slot):
    """(offset, size) in a thin 64-bit Mach-O of the signature's blob in that slot."""
    ncmds, at = struct.unpack_from("<I", data, 16)[0], 32
    for _ in range(ncmds):
        cmd, size = struct.unpack_from("<II", data, at)
        if cmd == 0x1d:  # LC_CODE_SIGNATURE
            signature = struct.unpack_from("<I", data, at + 8)[0]
            count = struct.unpack_from(">I", data, signature + 8)[0]
            for i in range(count):
                kind, offset = struct.unpack_from(">II", data, signature + 12 + 8 * i)
                if kind == slot:
                    start = signature + offset
                    return start, struct.unpack_from(">I", data, start + 4)[0]
        at += size
    raise AssertionError(f"no blob in slot {slot}")


class ExplainedFailureTests(CommandTestCase):
    """A failed check says why on one line of standard error; the status
    line on standard output stays as it was."""

    def explain(self, path, *args, anchored=True):
        out, err, status = run(*(["--anchor", self.ca("root")] if anchored else []), *args, path)
        self.assertEqual((status, err.count("\n")), (1, 1), err)
        return out, err.rstrip("\n")

    def edited(self, name, edit):
        data = bytearray(open(os.path.join(Config.fixtures, name), "rb").read())
        edit(data)
        return self.scratch_file(name, data)

    def test_a_changed_page_names_page_offset_and_directory(self):
        path = self.edited("helper-devid-arm64", lambda d: d.__setitem__(0x3010, d[0x3010] ^ 1))
        self.assertEqual(self.explain(path), (
            "-67061 errSecCSSignatureFailed",
            "signature-check: arm64 (sha256): page 3 at offset 0x3000 does not match its hash: "
            "invalid signature (code or signature have been modified)"))
        report = json.loads(run("--json", "--anchor", self.ca("root"), path)[0])
        self.assertEqual((report["architecture"], report["reason"], report["message"]),
                         ("arm64", "page 3 at offset 0x3000 does not match its hash",
                          "invalid signature (code or signature have been modified)"))
        verified = json.loads(run("--json", "--anchor", self.ca("root"), os.path.join(Config.fixtures, "adhoc-arm64"))[0])
        self.assertEqual((verified["status"], verified["architecture"], verified["reason"], verified["message"]),
                         (0, None, None, None))

    def test_a_changed_special_slot_is_named(self):
        def edit(data):
            start, size = signature_blob(data, 2)  # the requirements
            data[start + size - 1] ^= 1
        _, line = self.explain(self.edited("helper-devid-arm64", edit))
        self.assertEqual(line, "signature-check: arm64 (sha256): special slot 2 (requirements) does not match its "
                               "hash: invalid signature (code or signature have been modified)")

    def test_an_untrusted_root_names_the_certificate(self):
        out, line = self.explain(os.path.join(Config.fixtures, "helper-devid-arm64"), anchored=False)
        self.assertEqual(out, NOT_TRUSTED)
        self.assertRegex(line, r"^signature-check: arm64: certificate 2 \([^()]*CN=Helper Test Root CA[^()]*\) "
                               r"is not trusted: .*: CSSMERR_TP_NOT_TRUSTED$")

    def test_a_failed_requirement_names_only_its_false_clause(self):
        requirement = ('anchor apple generic and identifier "com.quennard.brenlow-server" and '
                       'certificate leaf[subject.OU] = "Q7MK2RX5VN"')
        out, line = self.explain(os.path.join(Config.fixtures, "helper-devid-arm64"), "--requirement", requirement)
        self.assertEqual((out, line), (REQ_FAILED, "signature-check: arm64: the requirement's clause 'identifier "
                                                    "\"com.quennard.brenlow-server\"' is not satisfied: code failed to "
                                                    "satisfy specified code requirement(s)"))

    def test_a_broken_structural_rule_is_named(self):
        _, line = self.explain(os.path.join(Config.fixtures, "helper-devid-short-code-limit-arm64"))
        self.assertRegex(line, r"^signature-check: arm64 \(sha256\): the code limit 0x[0-9a-f]+ is not where the "
                               r"signature starts \(0x[0-9a-f]+\): invalid or unsupported format for signature$")


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

    def test_help_is_the_usage_line(self):
        self.assertEqual(run("--help"), ("usage: signature-check [--json] [--display | --entitlements] "
                                          "[--requirement TEXT] [--anchor CERTFILE]... FILE", "", 0))

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
            out, err, status = run("--json", "--entitlements", self.scratch_file("hostile", body))
            self.assertEqual((status, "display" in json.loads(out)), (1, True), err)


def display(*args, option="--display"):
    """(fields of --display as (name, value) pairs in order, status line, exit
    status). The designated requirement is ("designated", text), or
    ("# designated", text) when derived; the property list lines behind a tab
    are joined, one line break between two, into the value of the
    Entitlements field above them."""
    out, err, status = run(option, *args)
    lines = out.splitlines()
    fields = []
    for line in lines[:-1]:
        if line.startswith("\t") and fields:
            name, value = fields.pop()
            fields.append((name, value + ("\n" if value else "") + line[1:]))
        elif line.split(" => ", 1)[0] in ("designated", "# designated"):
            fields.append(tuple(line.split(" => ", 1)))
        else:
            fields.append(tuple(line.split("=", 1)) if "=" in line else (line, ""))
    return fields, lines[-1] if lines else "", status


def field_values(fields, name):
    return [value for key, value in fields if key == name]


DEVID_AUTHORITIES = ["Developer ID Application: Test Maker (Q7MK2RX5VN)", "Test Developer ID Certification Authority",
                     "Helper Test Root CA"]


class DisplayTests(CommandTestCase):
    def display_fixture(self, name, *options):
        fields, line, status = display("--anchor", self.ca("root"), os.path.join(Config.fixtures, name), *options)
        self.assertEqual((line, status), (SUCCESS, 0), fields)
        return fields

    def test_fields_are_what_the_signer_put_in(self):
        fields = self.display_fixture("helper-devid-arm64")
        names = [name for name, _ in fields]
        self.assertEqual(names, ["Architecture", "Identifier", "Format", "CodeDirectory v", "Hash type", "CDHash",
                                 "Signature size", "Authority", "Authority", "Authority", "Signed Time", "Info.plist",
                                 "TeamIdentifier", "Page size", "Internal requirements count", "designated"])
        self.assertEqual(field_values(fields, "Authority"), DEVID_AUTHORITIES)
        self.assertEqual(dict(fields)["Identifier"], "com.quennard.brenlow-helper")
        self.assertEqual(dict(fields)["TeamIdentifier"], "Q7MK2RX5VN")
        self.assertEqual(dict(fields)["Format"], "Mach-O thin (arm64)")
        self.assertEqual(dict(fields)["Hash type"], "sha256 size=32")
        self.assertRegex(dict(fields)["CDHash"], "^[0-9a-f]{40}$")
        self.assertRegex(dict(fields)["Signed Time"], r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d \+0000$")
        self.assertIn('identifier "com.quennard.brenlow-helper"', dict(fields)["designated"])
        self.assertIn("certificate leaf[subject.OU] = Q7MK2RX5VN", dict(fields)["designated"])

        adhoc = dict(self.display_fixture("adhoc-arm64"))
        self.assertEqual((adhoc["Signature"], adhoc["TeamIdentifier"], adhoc["Internal requirements"]),
                         ("adhoc", "not set", "none"))
        self.assertIn("(adhoc,linker-signed)", adhoc["CodeDirectory v"])
        self.assertFalse({"Authority", "Signed Time", "Timestamp", "designated"} & adhoc.keys())
        self.assertEqual(adhoc["# designated"], f'cdhash H"{adhoc["CDHash"]}"')

        universal = self.display_fixture("helper-devid-universal")
        self.assertEqual(field_values(universal, "Architecture"), ["x86_64", "arm64"])
        self.assertEqual(field_values(universal, "Format"), ["Mach-O universal (x86_64 arm64)"] * 2)
        self.assertEqual(field_values(universal, "Authority"), DEVID_AUTHORITIES * 2)

        # Type-3 directories: truncated SHA-256, alone and beside SHA-1.
        self.assertEqual(field_values(self.display_fixture("helper-devid-sha256-truncated"), "Hash type"),
                         ["sha256-truncated size=20"])
        two = self.display_fixture("helper-devid-sha1-sha256-truncated")
        self.assertEqual(field_values(two, "Hash type"), ["sha1 size=20", "sha256-truncated size=20"])
        self.assertEqual(field_values(two, "Authority"), DEVID_AUTHORITIES)
        self.assertEqual(dict(self.display_fixture("helper-devid-16k-arm64"))["Page size"], "16384")
        hardened = dict(self.display_fixture("helper-devid-runtime-arm64"))
        self.assertEqual((hardened["Runtime Version"], hardened["CodeDirectory v"][:5]), ("14.2.1", "20500"))

    def test_times_and_the_derived_requirement(self):
        # A secure timestamp is shown instead of the signing time beside it.
        stamped = dict(self.display_fixture("helper-devid-timestamped-expired"))
        self.assertEqual(stamped["Timestamp"], "2020-01-15 12:00:01 +0000")
        self.assertNotIn("Signed Time", stamped)
        implicit = self.display_fixture("helper-devid-implicit-arm64")
        self.assertEqual([name for name, _ in implicit][-6:],
                         ["Signed Time", "Info.plist", "TeamIdentifier", "Page size", "Internal requirements",
                          "# designated"])
        self.assertEqual(dict(implicit)["Signed Time"], "2024-05-01 12:34:56 +0000")
        self.assertNotIn("Timestamp", dict(implicit))
        # Not Apple's root: the leaf, which alone carries the maker's organization, by its hash.
        self.assertRegex(dict(implicit)["# designated"],
                         r'^identifier "com.quennard.brenlow-helper" and certificate leaf = H"[0-9a-f]{40}"$')

    def test_a_chain_to_a_root_not_trusted_is_still_displayed(self):
        fields, line, status = display(os.path.join(Config.fixtures, "helper-devid-foreign-root"))
        self.assertEqual((line, status), (NOT_TRUSTED, 1))
        self.assertEqual(field_values(fields, "Authority"),
                         ["Developer ID Application: Test Maker (Q7MK2RX5VN)",
                          "Foreign Developer ID Certification Authority", "Foreign Test Root CA"])
        self.assertEqual(len(field_values(fields, "designated")), 1)
        # A root left out and not one of Apple's cannot be shown.
        fields = display(os.path.join(Config.fixtures, "helper-devid-without-root"))[0]
        self.assertEqual(field_values(fields, "Authority"), DEVID_AUTHORITIES[:2])

    def test_a_file_without_signature_says_where_display_stopped(self):
        fields, line, status = display(os.path.join(Config.fixtures, "unsigned-arm64"))
        self.assertEqual(fields, [("Architecture", "arm64"), ("Display stopped", "arm64 signature (-67062 errSecCSUnsigned)")])
        self.assertEqual((line, status), ("-67062 errSecCSUnsigned", 1))
        # Nothing is shown past the first slice that cannot be read.
        fields, line, status = display(os.path.join(Config.fixtures, "helper-devid-universal-unsigned-slice"))
        self.assertEqual(fields, [("Architecture", "x86_64"), ("Display stopped", "x86_64 signature (-67062 errSecCSUnsigned)")])

    # Text the signer chose cannot pass for a line of the display's own.
    def test_control_characters_from_the_file_are_escaped(self):
        with open(os.path.join(Config.fixtures, "helper-devid-arm64"), "rb") as f:
            body = f.read().replace(b"brenlow-helper", b"brenlow\nTeam=X")
        path = self.scratch_file("newline", body)
        fields, line, status = display(path)
        self.assertEqual(status, 1)
        self.assertEqual(dict(fields)["Identifier"], "com.quennard.brenlow\\x0aTeam=X")
        self.assertIn('"com.quennard.brenlow\\x0aTeam=X"', dict(fields)["designated"])
        self.assertNotIn("Team", dict(fields))
        report = json.loads(run("--json", "--display", path)[0])
        self.assertEqual(report["display"][0]["identifier"], "com.quennard.brenlow\nTeam=X")

    def test_json_carries_the_same_fields(self):
        for name in ("helper-devid-universal", "adhoc-arm64"):
            with self.subTest(name):
                path = os.path.join(Config.fixtures, name)
                text = display("--anchor", self.ca("root"), path)[0]
                out, err, status = run("--json", "--entitlements", "--anchor", self.ca("root"), path)
                report = json.loads(out)
                self.assertEqual((report["status"], report["name"], status), (0, "errSecSuccess", 0), err)
                slices = report["display"]
                self.assertEqual([s["architecture"] for s in slices], field_values(text, "Architecture"))
                for key, field in (("identifier", "Identifier"), ("cdhash", "CDHash"), ("format", "Format")):
                    self.assertEqual([s[key] for s in slices], field_values(text, field))
                designated = field_values(text, "designated") + field_values(text, "# designated")
                self.assertEqual([s["designated"]["text"] for s in slices], designated)
                directories = [s["codeDirectory"] for s in slices]
                self.assertEqual([f'{cd["version"]:x} size={cd["size"]} flags=0x{cd["flags"]:x}('
                                  f'{",".join(cd["flagNames"]) or "none"}) hashes={cd["codeSlots"]}+{cd["specialSlots"]}'
                                  for cd in directories], field_values(text, "CodeDirectory v"))
                for s in slices:
                    self.assertEqual((s["hashTypes"], s["pageSize"], s["entitlements"]),
                                     ([{"name": "sha256", "size": 32}], 4096, None))
        universal, adhoc = (json.loads(run("--json", "--display", "--anchor", self.ca("root"),
                                           os.path.join(Config.fixtures, name))[0])["display"]
                            for name in ("helper-devid-universal", "adhoc-arm64"))
        self.assertEqual([s["authorities"] for s in universal], [DEVID_AUTHORITIES] * 2)
        self.assertEqual([s["teamIdentifier"] for s in universal], ["Q7MK2RX5VN"] * 2)
        self.assertEqual(universal[0]["internalRequirements"], {"count": 1, "size": 188})
        self.assertEqual([s["codeDirectory"]["version"] for s in universal], [0x20400] * 2)
        # The fixtures' embedded Info.plist ends in a NUL, which the property list reader refuses.
        self.assertEqual([s["infoPlistEntries"] for s in universal + adhoc],
                         [{"unreadable": {"status": -67058, "name": "errSecCSBadDictionaryFormat"}}] * 2 + [None])
        self.assertEqual((adhoc[0]["adhoc"], adhoc[0]["teamIdentifier"], adhoc[0]["designated"]["implicit"],
                          adhoc[0]["codeDirectory"]["flagNames"]), (True, None, True, ["adhoc", "linker-signed"]))
        self.assertFalse({"authorities", "signatureSize", "signedTime", "timestamp"} & adhoc[0].keys())
        stopped = json.loads(run("--json", "--display", os.path.join(Config.fixtures, "unsigned-arm64"))[0])
        self.assertEqual(stopped["display"], [{"architecture": "arm64", "stopped": {
            "at": "signature", "status": -67062, "name": "errSecCSUnsigned"}}])

    def test_the_designated_requirement_given_back_is_satisfied(self):
        checked = implicit = 0
        for case, fixture, _, expected in fixture_table():
            if expected != SUCCESS:
                continue
            with self.subTest(case):
                path = os.path.join(Config.fixtures, fixture)
                fields, line, _ = display("--anchor", self.ca("root"), path)
                derived = set(field_values(fields, "# designated"))
                for requirement in set(field_values(fields, "designated")) | derived:
                    self.check(path, requirement, [self.ca("root")], SUCCESS)
                    checked += 1
                implicit += len(derived)
        self.assertGreaterEqual((checked, implicit), (10, 2))
        adhoc = fetch_published("adhoc")
        derived = field_values(display(adhoc)[0], "# designated")
        self.assertEqual(len(derived), 1)
        self.check(adhoc, derived[0], [], SUCCESS)

    # Each slice of this file has its own identifier, so each designated
    # requirement is satisfied by its own slice only: alone, each fails the
    # check of every architecture; joined with "or", they pass it.
    def test_published_developer_id(self):
        path = fetch_published("developer-id")
        fields, line, status = display(path, option="--entitlements")
        self.assertEqual((line, status), (SUCCESS, 0))
        self.assertEqual(field_values(fields, "TeamIdentifier"), ["97JCY7859U"] * 2)
        self.assertEqual(field_values(fields, "Authority"), ["Developer ID Application: GetSentry LLC (97JCY7859U)",
                                                             "Developer ID Certification Authority", "Apple Root CA"] * 2)
        self.assertEqual(len(field_values(fields, "Timestamp")), 2)
        self.assertEqual(field_values(fields, "Runtime Version"), ["26.5.0"] * 2)
        names = [name for name, _ in fields]
        self.assertEqual(names[names.index("Timestamp"):names.index("Page size")],
                         ["Timestamp", "Info.plist", "TeamIdentifier", "Runtime Version"])
        entitlements = field_values(fields, "Entitlements")
        self.assertEqual(len(entitlements), 2)
        self.assertIn("<dict/>", entitlements[0])
        # The text's lines are the property list exactly, as JSON carries it
        # (a final line break, which this one lacks, makes no line of its own).
        report = json.loads(run("--json", "--entitlements", path)[0])
        self.assertEqual([s["entitlements"] for s in report["display"]], entitlements)
        self.assertEqual(dict(self.display_fixture("helper-devid-arm64", "--entitlements"))["Entitlements"], "none")
        with open(path, "rb") as f:
            changed = self.scratch_file("changed", f.read().replace(b"<dict/>", b"<DICT/>", 1))
        fields, line, _ = display(changed, option="--entitlements")
        self.assertEqual(field_values(fields, "Entitlements")[0], "not bound")
        self.assertNotEqual(line, SUCCESS)
        designated = field_values(fields, "designated")
        self.assertEqual(len(set(designated)), 2)
        for requirement in designated:
            self.check(path, requirement, [], REQ_FAILED)
        self.check(path, " or ".join(f"({r})" for r in designated), [], SUCCESS)


if __name__ == "__main__":
    unittest.main()
