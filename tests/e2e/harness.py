"""What every end-to-end test stands on: a fresh sandbox per test, the tool
run inside it as root or as an unprivileged user, and readers and writers of
the sandbox's state (files, owners, modes, property lists, the launchctl
stand-in's log).

run.py fills in Config before the tests load; nothing else changes it.
"""

import collections
import hashlib
import json
import os
import plistlib
import re
import shutil
import stat
import subprocess
import tempfile
import unittest


class Config:
    tool = None          # the test build of the tool, on the host
    shipped_tool = None  # the shipped build, which trusts Apple's roots only
    support = None       # tests/support: the sandbox and its stand-ins
    fixtures = None      # the signed fixtures, sample bundles in bundles/
    signature_check = None  # the engine's own command, run without the sandbox
    test_ca = None       # the tests' certificate authority (root.pem, ...)
    downloads = None     # where published binaries are cached once fetched
    macos_build = None   # the macOS build (build/macos): Brenlow.app, and host/ with its test tool


def dump_info_plist_section(binary):
    """The bytes of the executable's section ".info_plist"; objcopy works on
    a copy, the build stays as is."""
    with tempfile.TemporaryDirectory(prefix="helper-e2e-") as scratch:
        copy = os.path.join(scratch, "helper")
        shutil.copyfile(binary, copy)
        out = os.path.join(scratch, "section")
        subprocess.run(["objcopy", f"--dump-section=.info_plist={out}", copy], check=True, capture_output=True)
        with open(out, "rb") as f:
            return f.read()


def tool_version():
    """The version the test build states of itself."""
    return plistlib.loads(dump_info_plist_section(Config.tool).rstrip(b"\0"))["CFBundleVersion"]


UNPRIVILEGED = "nobody"
NOBODY_IDS = (65534, 65534)
RUN_TIMEOUT = 60

# Where the tool stands inside the sandbox: a plain copy owned by root, a
# set-user-ID root copy that an unprivileged user may run, and the shipped
# build (named helper too, so that its log lines read the same).
TOOL = "/sandbox/bin/helper"
SETUID_TOOL = "/sandbox/bin/helper-setuid"
SHIPPED_TOOL = "/sandbox/shipped/helper"

LAUNCHCTL_STATE = "/sandbox/launchctl"

Result = collections.namedtuple("Result", "stdout stderr status")


def log_messages(stderr):
    """The messages of the tool's log lines, without time, name and ids."""
    return [re.sub(r"^\S+ \S+ \S+\[\d+:\d+\] ", "", line) for line in stderr.splitlines()]


class SandboxError(Exception):
    """The sandbox itself failed: the test says nothing about the tool."""


def sandbox_script():
    return os.path.join(Config.support, "sandbox")


def run_sandbox(*args, check=True):
    """Runs the sandbox launcher; returns the completed process."""
    done = subprocess.run(["/bin/bash", sandbox_script(), *args],
                          capture_output=True, timeout=RUN_TIMEOUT)
    if check and done.returncode == 125:
        raise SandboxError(done.stderr.decode("utf-8", "replace").strip())
    return done


def skip_unless_root():
    if os.geteuid() != 0:
        raise unittest.SkipTest("end-to-end tests need root: the sandbox mounts "
                                "file systems in a private namespace")


class SandboxTestCase(unittest.TestCase):
    """Gives each test a sandbox of its own at self.root, destroyed afterwards
    whatever the outcome. Paths given to the helpers are paths as the tool
    sees them inside the sandbox ("/Library/...")."""

    maxDiff = None

    def setUp(self):
        skip_unless_root()
        self.root = tempfile.mkdtemp(prefix="helper-e2e-")
        self.addCleanup(run_sandbox, "destroy", self.root)
        run_sandbox("create", self.root)
        self._copied = set()
        self.tool_copy(setuid=False)

    # Running things inside.

    def run_in_sandbox(self, *command, user=None):
        """Runs a command inside; returns its Result (text, exit status)."""
        as_user = ["--user", user] if user else []
        done = run_sandbox("run", self.root, *as_user, "--", *command)
        return Result(done.stdout.decode("utf-8", "replace"),
                      done.stderr.decode("utf-8", "replace"), done.returncode)

    def run_tool(self, *args, user=None, setuid=False, shipped=False, env=None):
        """Runs the tool with the arguments: the test build, or with shipped
        the shipped one. env adds variables to the small environment the
        sandbox gives every command."""
        tool = self.shipped_tool_copy() if shipped else self.tool_copy(setuid)
        prefix = ["/usr/bin/env", *(f"{k}={v}" for k, v in env.items())] if env else []
        return self.run_in_sandbox(*prefix, tool, *args, user=user)

    def tool_copy(self, setuid):
        path = SETUID_TOOL if setuid else TOOL
        return self._copy_in(Config.tool, path, setuid)

    def shipped_tool_copy(self):
        if not Config.shipped_tool:
            self.fail("the shipped build was not given (run.py --shipped-tool)")
        return self._copy_in(Config.shipped_tool, SHIPPED_TOOL, False)

    def _copy_in(self, source, path, setuid):
        if path not in self._copied:
            run_sandbox("copy", self.root, source, path, *(["--setuid"] if setuid else []))
            self._copied.add(path)
        return path

    # The sandbox's state.

    def host(self, path):
        """The host path of a path inside the sandbox. A path that leads out
        of it, through ".." or a symbolic link, is refused: the helpers run
        as root on the host."""
        if not path.startswith("/") or "/../" in path + "/":
            raise ValueError(f"not an absolute sandbox path: {path}")
        resolved = os.path.realpath(self.root + path)
        if resolved != self.root and not resolved.startswith(self.root + "/"):
            raise ValueError(f"{path} leads out of the sandbox to {resolved}")
        return self.root + path

    def exists(self, path):
        return os.path.lexists(self.host(path))

    def mode(self, path):
        """Permission bits, set-user-ID, set-group-ID and sticky included."""
        return stat.S_IMODE(os.lstat(self.host(path)).st_mode)

    def owner(self, path):
        st = os.lstat(self.host(path))
        return st.st_uid, st.st_gid

    def read_bytes(self, path):
        with open(self.host(path), "rb") as f:
            return f.read()

    def read_plist(self, path):
        """Parses the file as an XML property list (binary ones are refused)."""
        return plistlib.loads(self.read_bytes(path), fmt=plistlib.FMT_XML)

    def make_dir(self, path, mode=0o755, owner=(0, 0)):
        """Creates the directory (and missing parents, as root 0755), then
        gives the directory itself the mode and owner."""
        os.makedirs(self.host(path), exist_ok=True)
        os.chown(self.host(path), *owner)
        os.chmod(self.host(path), mode)

    def write_file(self, path, data=b"", mode=0o644, owner=(0, 0)):
        os.makedirs(os.path.dirname(self.host(path)), exist_ok=True)
        with open(self.host(path), "wb") as f:
            f.write(data)
        os.chown(self.host(path), *owner)
        os.chmod(self.host(path), mode)

    def copy_bundle(self, name, path):
        """Copies the sample bundle NAME.app from the fixtures to the path,
        owned by root as an installed application is."""
        if not Config.fixtures:
            self.fail("the fixtures were not given (run.py --fixtures)")
        shutil.copytree(os.path.join(Config.fixtures, "bundles", f"{name}.app"), self.host(path))

    def remove_tree(self, path):
        shutil.rmtree(self.host(path))

    def lock(self, path):
        """Sets the immutable flag; it is cleared again after the test."""
        self.addCleanup(subprocess.run, ["chattr", "-i", self.host(path)], check=False)
        subprocess.run(["chattr", "+i", self.host(path)], check=True)

    def snapshot(self):
        """Everything about every item in the sandbox that a command could
        change, except access times and the stand-in's own records."""
        items = {}
        for directory, names, files in os.walk(self.root):
            for name in names + files:
                path = os.path.join(directory, name)[len(self.root):]
                if path != LAUNCHCTL_STATE and not path.startswith(LAUNCHCTL_STATE + "/"):
                    items[path] = self._describe(self.root + path)
        return items

    @staticmethod
    def _describe(path):
        st = os.lstat(path)
        item = (st.st_mode, st.st_uid, st.st_gid, st.st_size, st.st_mtime_ns, st.st_ctime_ns)
        if stat.S_ISREG(st.st_mode):
            with open(path, "rb") as f:
                return item + (hashlib.sha256(f.read()).hexdigest(),)
        if stat.S_ISLNK(st.st_mode):
            return item + (os.readlink(path),)
        return item

    # The launchctl stand-in.

    def launchctl_calls(self):
        """The calls made so far, one "arguments separated by spaces" each."""
        path = self.host(LAUNCHCTL_STATE + "/calls")
        if not os.path.exists(path):
            return []
        with open(path, encoding="utf-8") as f:
            return f.read().splitlines()

    def take_launchctl_calls(self):
        """The calls made so far; the log starts afresh afterwards."""
        calls = self.launchctl_calls()
        path = self.host(LAUNCHCTL_STATE + "/calls")
        if os.path.exists(path):
            os.remove(path)
        return calls

    def set_launchctl_status(self, **statuses):
        """Chooses the exit status of subcommands: load=1, start=3, ..."""
        lines = "".join(f"{sub} {status}\n" for sub, status in statuses.items())
        self.write_file(LAUNCHCTL_STATE + "/status", lines.encode())

    def observe_launchctl(self):
        """Makes the stand-in record its ids and environment on each call."""
        self.write_file(LAUNCHCTL_STATE + "/observe")

    def launchctl_observations(self):
        path = self.host(LAUNCHCTL_STATE + "/observations")
        if not os.path.exists(path):
            return []
        with open(path, encoding="utf-8") as f:
            return [json.loads(line) for line in f]

    # Assertions shared by the modules.

    def assertResult(self, result, stdout, status):
        """The whole standard output and the exit status, shown together."""
        self.assertEqual((result.stdout, result.status), (stdout, status), result.stderr)

    def assertUnchanged(self, before, allowed=()):
        """Nothing in the sandbox differs from the snapshot before, except
        the items at the allowed paths."""
        after = self.snapshot()
        changed = {p: (before.get(p), after.get(p)) for p in before.keys() | after.keys()
                   if before.get(p) != after.get(p) and p not in allowed}
        self.assertEqual(changed, {}, "items changed: (before, after)")

    def assertXMLResult(self, result, expected, status):
        """Standard output is an XML property list equal to expected."""
        self.assertEqual(result.status, status, result.stderr)
        self.assertTrue(result.stdout.startswith("<?xml"), result.stdout)
        self.assertEqual(plistlib.loads(result.stdout.encode(), fmt=plistlib.FMT_XML), expected)
