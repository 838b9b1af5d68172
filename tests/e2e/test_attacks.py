"""Attacks on the installed set-user-ID tool by a local user without rights:
the caller owns the bundle, chooses the process state the tool starts with
and writes wherever the file system lets them. Every attack runs as nobody
through a set-user-ID root copy of the tool, and every test checks both that
the attack failed and what it left on disk.

The attacker's side runs inside the sandbox as attacker.py."""

import hashlib
import json
import os
import plistlib
import shutil
import signal
import stat
import subprocess
import time

import harness
from expected import (APP as ROOT_APP, APP_SUPPORT, DAEMONS, DATA, HELPER, HELPER_UPDATE as HELPER_OUTDATED, JOB,
                      JOB_FILE, LABEL, NOBODY, NOT_STARTED, NOT_VALID as NOT_VERIFIED, OK, ROOT, RUN_LOCK, SERVER, SHARED,
                      SHELL_PATH, SUPPORT, linked, locked, unsafe)
from harness import SandboxTestCase, log_messages

INSTALLED_NAMES = {"helper", "brenlowd", "Shared", ".lock"}
ATTACKER = "/sandbox/bin/attacker.py"
WORK = "/tmp/attack"               # the attacker's own folder
VICTIM = "/Applications/Victim"    # root's; no command has any business here
VICTIM_FILE = f"{VICTIM}/file"
ATTACK_TIMEOUT = 120
LIMITS_REFUSED = "ERROR: Resource limits for the run could not be set.\n"


def root_may_raise_hard_limits():
    """Whether root here holds CAP_SYS_RESOURCE (some containers drop it), so
    that the tool can raise a hard limit its caller lowered."""
    with open("/proc/self/status", encoding="utf-8") as f:
        bounding = next(line.split()[1] for line in f if line.startswith("CapBnd:"))
    return bool(int(bounding, 16) & (1 << 24))


ROOT_MAY_RAISE_HARD_LIMITS = root_may_raise_hard_limits()


def sanitized():
    """Whether the tool under test is built with the sanitizers."""
    with open(harness.Config.tool, "rb") as f:
        return b"__asan_init" in f.read()


def kill_if_alive(pid):
    try:
        os.kill(pid, signal.SIGKILL)
    except ProcessLookupError:
        pass


def fixture(name):
    """A signed fixture of the build (see tests/fixtures)."""
    return os.path.join(harness.Config.fixtures or "", name)


def fixture_bytes(name):
    with open(fixture(name), "rb") as f:
        return f.read()


SIGNED_HELPER = "helper-devid-arm64"
SIGNED_SERVER = "server-devid-arm64"
UNSIGNED_HELPER = "unsigned-arm64"


class AttackTestCase(SandboxTestCase):

    def setUp(self):
        super().setUp()
        if not harness.Config.fixtures:
            self.fail("the fixtures were not given (run.py --fixtures)")
        self.tool_copy(setuid=True)
        with open(os.path.join(os.path.dirname(__file__), "attacker.py"), "rb") as f:
            self.write_file(ATTACKER, f.read(), mode=0o755)

    # The attacker's means.

    def give(self, path, owner=NOBODY):
        """Hands the item and everything in it to the owner, links included."""
        for directory, names, files in os.walk(self.host(path)):
            for name in names + files:
                os.lchown(os.path.join(directory, name), *owner)
        os.lchown(self.host(path), *owner)

    def plant_bundle(self, path=f"{WORK}/Brenlow.app", name="Brenlow"):
        """Copies the sample bundle NAME.app to the path; it and the folder
        holding it belong to nobody."""
        os.makedirs(os.path.dirname(self.host(path)), exist_ok=True)
        self.copy_bundle(name, path)
        self.give(os.path.dirname(path))
        return path

    def copy_fixture(self, name, path):
        self.write_file(path, fixture_bytes(name), mode=0o755, owner=NOBODY)
        return path

    def link(self, path, target):
        """Puts a symbolic link owned by nobody at path, replacing what is there."""
        host = self.host(path)
        if os.path.isdir(host) and not os.path.islink(host):
            shutil.rmtree(host)
        elif os.path.lexists(host):
            os.remove(host)
        os.symlink(target, host)
        os.lchown(host, *NOBODY)

    def attack(self, *args, **state):
        """Runs the set-user-ID tool as nobody with the process state given
        (launch options of attacker.py: umask="000", close=[1, 2], ...)."""
        options = []
        for name, value in state.items():
            if value is True:
                options.append(f"--{name}")
                continue
            for item in value if isinstance(value, list) else [value]:
                options += [f"--{name}", str(item)]
        return self.run_in_sandbox("/usr/bin/python3", ATTACKER, "launch", *options, "--",
                                   harness.SETUID_TOOL, *args, user=harness.UNPRIVILEGED)

    def attacker(self, subcommand, settings):
        """Runs one of attacker.py's programs as nobody; returns its summary."""
        command = ["/bin/bash", harness.sandbox_script(), "run", self.root, "--user",
                   harness.UNPRIVILEGED, "--", "/usr/bin/python3", ATTACKER, subcommand,
                   json.dumps(settings)]
        done = subprocess.run(command, capture_output=True, timeout=ATTACK_TIMEOUT)
        self.assertEqual(done.returncode, 0, done.stderr.decode("utf-8", "replace"))
        return json.loads(done.stdout)

    # Root's installation.

    def install(self, start=True):
        """Bootstraps from a bundle of root's and, when asked, starts."""
        if not self.exists(ROOT_APP):
            self.copy_bundle("Brenlow", ROOT_APP)
        self.assertResult(self.run_tool("bootstrap", ROOT_APP), OK, 0)
        if start:
            self.assertResult(self.run_tool("start"), OK, 0)
        self.take_launchctl_calls()

    def lay_out_installation(self):
        """What bootstrap and start leave, put in place directly: quicker
        where many cases each need a fresh one."""
        if not self.exists(ROOT_APP):
            self.copy_bundle("Brenlow", ROOT_APP)
        self.write_file(HELPER, fixture_bytes(SIGNED_HELPER), mode=0o4755)
        self.write_file(SERVER, fixture_bytes(SIGNED_SERVER), mode=0o755)
        self.make_dir(SHARED, 0o1777)
        self.make_dir(DATA, 0o1777)
        self.write_file(JOB_FILE, plistlib.dumps(JOB, fmt=plistlib.FMT_XML))

    def reset_library(self):
        """An empty /Library, root's, as the sandbox made it."""
        library = self.host("/Library")
        for name in os.listdir(library):
            path = os.path.join(library, name)
            if os.path.isdir(path) and not os.path.islink(path):
                shutil.rmtree(path)
            else:
                os.remove(path)
        os.chown(library, *ROOT)
        os.chmod(library, 0o755)

    # What is on disk.

    def under(self, top):
        """Everything about top and the items below it, as snapshot() tells
        it; links are described, not followed."""
        items = {top: self._describe(self.host(top))}
        if not os.path.isdir(self.host(top)) or os.path.islink(self.host(top)):
            return items
        for directory, names, files in os.walk(self.host(top)):
            for name in names + files:
                path = os.path.join(directory, name)
                items[path[len(self.root):]] = self._describe(path)
        return items

    def assertInstalled(self):
        """Brenlow.app's executables in place, whole, with owner and mode."""
        self.assertEqual((self.read_bytes(HELPER), self.mode(HELPER), self.owner(HELPER)),
                         (fixture_bytes(SIGNED_HELPER), 0o4755, ROOT), "installed helper")
        self.assertEqual((self.read_bytes(SERVER), self.mode(SERVER), self.owner(SERVER)),
                         (fixture_bytes(SIGNED_SERVER), 0o755, ROOT), "installed server")

    def assertNothingInstalled(self):
        self.assertFalse(self.exists(HELPER))
        self.assertFalse(self.exists(SERVER))
        self.assertNoStagingLeft()

    def assertNoRootFileLeft(self):
        """No regular file of root's under /Library but the run lock."""
        owned_by_root = [path for path, item in self.under("/Library").items()
                         if item[1] == 0 and stat.S_ISREG(item[0]) and path != RUN_LOCK]
        self.assertEqual(owned_by_root, [])

    def assertNoStagingLeft(self):
        if self.exists(SUPPORT):
            self.assertLessEqual(set(os.listdir(self.host(SUPPORT))), INSTALLED_NAMES | {"data"})


class BundleSwapTests(AttackTestCase):
    """The caller owns the bundle and can change it while bootstrap runs."""

    ROUNDS = 40  # a bound only: the race ends once the tool met both files

    def race(self, technique):
        work = f"{WORK}-{technique}"
        settings = {
            "tool": harness.SETUID_TOOL,
            "bundle": self.plant_bundle(f"{work}/Brenlow.app"),
            "technique": technique,
            "signed": self.copy_fixture(SIGNED_HELPER, f"{work}/signed"),
            "unsigned": self.copy_fixture(UNSIGNED_HELPER, f"{work}/unsigned"),
            "server": self.copy_fixture(SIGNED_SERVER, f"{work}/server"),
            "support": SUPPORT,
            "report": f"{work}/seen",
            "rounds": self.ROUNDS,
            "until": {"OK": 3, NOT_VERIFIED.strip(): 1},
        }
        self.give(work)
        return self.attacker("race", settings)

    def test_a_helper_swapped_while_bootstrap_runs_is_never_installed(self):
        # The helper flips between the signed and the unsigned file, by
        # renaming links over it, while bootstrap runs again and again and a
        # watcher looks for any root-owned executable in the support
        # directory that is not one of the signed files. The race goes on
        # until bootstrap has refused the unsigned file once (the swap
        # reached the verification) and accepted a few times (each a chance
        # to install what was swapped in after the verification).
        for technique in ("symlink", "rename"):
            with self.subTest(technique=technique):
                summary = self.race(technique)
                self.assertEqual(summary["seen"], [], summary)
                self.assertLessEqual(set(summary["states"]), {"signed 0o4755 0:0", "absent"}, summary)
                outputs = {"OK", NOT_VERIFIED.strip(), HELPER_OUTDATED.strip()}
                self.assertLessEqual(set(summary["outputs"]), outputs, summary)
                self.assertIn(NOT_VERIFIED.strip(), summary["outputs"], summary)
                self.assertIn("OK", summary["outputs"], summary)
                self.assertNoStagingLeft()


class BundleFileTests(AttackTestCase):
    """The caller decides what the bundle's executables are."""

    def test_an_executable_that_is_not_a_regular_file_is_never_opened(self):
        # A named pipe stands for any special file: opening a device can have
        # effects of its own, and opening a pipe waits for ever.
        bundle = self.plant_bundle()
        helper = f"{bundle}/Contents/MacOS/helper"
        for args, expected in ((["check", bundle], HELPER_OUTDATED),
                               (["bootstrap", bundle], NOT_VERIFIED)):
            with self.subTest(command=args[0]):
                summary = self.attacker("fifo", {"command": [harness.SETUID_TOOL, *args], "file": helper})
                self.assertEqual((summary["output"], summary["opens"]), (expected.strip(), 0), summary)
        self.assertNothingInstalled()

    def test_an_executable_cut_short_under_the_tool_never_kills_it(self):
        # The helper is emptied and written back in place, over and over,
        # while check and bootstrap read it: a run always ends with its
        # result, never with a signal.
        bundle = self.plant_bundle()
        for command, outputs in (("check", {"OK", HELPER_OUTDATED.strip()}),
                                 ("bootstrap", {"OK", HELPER_OUTDATED.strip(), NOT_VERIFIED.strip()})):
            with self.subTest(command=command):
                # Runs end once one met the file cut short (did not answer OK).
                summary = self.attacker("shrink", {"command": [harness.SETUID_TOOL, command, bundle],
                                                   "file": f"{bundle}/Contents/MacOS/helper", "runs": 40})
                self.assertLessEqual(set(summary["outputs"]), outputs, summary)
                self.assertNotEqual(set(summary["outputs"]), {"OK"}, summary)
        if self.exists(HELPER):
            self.assertInstalled()
        self.assertNoStagingLeft()

    def test_an_executable_too_large_to_be_real_is_refused_unread(self):
        # A sparse file costs its owner nothing; read whole, it would cost the
        # tool its memory. The caller's memory limit keeps a tool that does
        # read it from hurting the machine: it then fails another way.
        if sanitized():
            self.skipTest("AddressSanitizer cannot start under a memory limit")
        bundle = self.plant_bundle()
        os.truncate(self.host(f"{bundle}/Contents/MacOS/helper"), 2 << 30)
        for args, expected in ((["check", bundle], HELPER_OUTDATED),
                               (["bootstrap", bundle], NOT_VERIFIED)):
            with self.subTest(command=args[0]):
                self.assertResult(self.attack(*args, memory=768 << 20), expected, 1)
        self.assertNothingInstalled()

    def test_an_executable_linked_to_what_only_root_may_read_is_answered_as_for_the_caller(self):
        # Root reads the bundle with the caller's rights: a signed helper
        # only root may read is not installed, /etc/shadow is neither read
        # nor copied, and both answer exactly as a missing file in a folder
        # the caller cannot search does; nothing tells them apart.
        self.write_file("/Library/Secret/helper", fixture_bytes(SIGNED_HELPER), mode=0o600)
        os.chmod(self.host("/Library/Secret"), 0o700)
        bundle = self.plant_bundle()
        answers = {}
        helper = f"{bundle}/Contents/MacOS/helper"
        for target in ("/Library/Secret/helper", "/etc/shadow", "/Library/Secret/missing"):
            os.remove(self.root + helper)  # what host() would refuse to resolve: a link leading out
            self.link(helper, target)
            for command in ("check", "bootstrap"):
                result = self.attack(command, bundle)
                answers.setdefault(command, set()).add(result._replace(stderr=tuple(log_messages(result.stderr))))
        self.assertEqual({command: len(seen) for command, seen in answers.items()}, {"check": 1, "bootstrap": 1},
                         answers)
        self.assertEqual([result.stdout for result in answers["bootstrap"]], [NOT_VERIFIED])
        self.assertEqual([result.stdout for result in answers["check"]], [HELPER_OUTDATED])
        self.assertNothingInstalled()


class ProcessStateTests(AttackTestCase):
    """The caller chooses the umask, descriptors, limits, signals, timers,
    working directory and environment the tool starts with."""

    def test_with_umask_000_nothing_made_on_demand_is_open_to_others(self):
        bundle = self.plant_bundle()
        self.assertResult(self.attack("bootstrap", bundle, umask="000"), OK, 0)
        self.assertResult(self.attack("start", umask="000"), OK, 0)
        library = {path: (self.mode(path), self.owner(path)) for path in self.under("/Library")}
        self.assertEqual(library, {
            "/Library": (0o755, ROOT),
            APP_SUPPORT: (0o755, ROOT),
            SUPPORT: (0o755, ROOT),
            HELPER: (0o4755, ROOT),
            SERVER: (0o755, ROOT),
            SHARED: (0o1777, ROOT),  # open to all by design, each user's files their own
            DATA: (0o1777, ROOT),    # likewise
            RUN_LOCK: (0o600, ROOT),
            DAEMONS: (0o700, ROOT),
            JOB_FILE: (0o644, ROOT),
        })

    def test_closed_standard_descriptors_receive_nothing_the_tool_writes(self):
        for closed in ([2], [0, 1, 2]):
            with self.subTest(closed=closed):
                self.reset_library()
                work = f"{WORK}-closed-{'-'.join(map(str, closed))}"
                bundle = self.plant_bundle(f"{work}/Brenlow.app")
                shown = "" if 1 in closed else OK
                self.assertResult(self.attack("bootstrap", bundle, close=closed), shown, 0)
                self.assertResult(self.attack("start", close=closed), shown, 0)
                self.assertEqual(self.read_plist(JOB_FILE), JOB)
                # A refused bundle: the diagnostics are written while files
                # are being staged.
                refused = self.plant_bundle(f"{work}/Refused.app", "ServerUnsigned")
                result = self.attack("bootstrap", refused, close=closed)
                self.assertResult(result, "" if 1 in closed else NOT_VERIFIED, 1)
                self.assertInstalled()
                self.assertNoStagingLeft()
                for path, item in self.under("/Library").items():
                    if stat.S_ISREG(item[0]) and path not in (HELPER, SERVER):
                        contents = self.read_bytes(path)
                        for text in (b"OK", b"ERROR", b"signature", b"returned"):
                            self.assertNotIn(text, contents, path)

    def test_the_callers_limits_do_not_reach_roots_work(self):
        # Before, under these limits launchctl could not start and stop
        # answered OK with nothing stopped, a signed bundle failed its check,
        # and the staging copy or job file could not be written. Now the run
        # has root's limits; where the system keeps root from raising a hard
        # limit the caller lowered, the run refuses before it changes anything.
        bundle = self.plant_bundle()
        # The sanitizers' runtime needs a descriptor of its own before the
        # privilege step; with 5 the tool of before still failed here.
        soft = [f"NOFILE={5 if sanitized() else 4}", "NPROC=1", "FSIZE=100"]
        for hard in (False, True):
            with self.subTest(hard=hard):
                self.reset_library()
                self.take_launchctl_calls()
                limits = [f"{limit}:{limit.split('=')[1]}" for limit in soft] if hard else soft
                if hard and not ROOT_MAY_RAISE_HARD_LIMITS:
                    before = self.snapshot()
                    self.assertResult(self.attack("bootstrap", bundle, limit=limits), LIMITS_REFUSED, 1)
                    self.assertUnchanged(before)
                    self.assertEqual(self.launchctl_calls(), [])
                    continue
                stopping = [f"remove {LABEL}", f"unload {JOB_FILE}"]
                self.assertResult(self.attack("bootstrap", bundle, limit=limits), OK, 0)
                self.assertInstalled()
                self.assertEqual(self.take_launchctl_calls(), stopping)
                self.assertResult(self.attack("start", limit=limits), OK, 0)
                self.assertEqual(self.read_plist(JOB_FILE), JOB)
                self.assertEqual(self.take_launchctl_calls(), [f"load {JOB_FILE}", f"start {LABEL}"])
                self.assertResult(self.attack("stop", limit=limits), OK, 0)
                self.assertFalse(self.exists(JOB_FILE))
                self.assertEqual(self.take_launchctl_calls(), stopping)

    def test_signals_and_timers_left_by_the_caller_change_nothing(self):
        self.install(start=False)
        start_calls = [f"load {JOB_FILE}", f"start {LABEL}"]
        for state in ({"ignore": "SIGCHLD"}, {"block": "SIGCHLD"}):
            with self.subTest(**state):
                # launchctl's real status reaches the tool, failure or success.
                self.set_launchctl_status(load=1)
                self.assertResult(self.attack("start", **state), NOT_STARTED, 1)
                self.assertEqual(self.take_launchctl_calls(), start_calls[:1])
                self.set_launchctl_status(load=0)
                self.assertResult(self.attack("start", **state), OK, 0)
                self.assertEqual(self.take_launchctl_calls(), start_calls)

        with self.subTest("an interval timer about to fire"):
            self.assertResult(self.attack("bootstrap", ROOT_APP, timer=0.1), OK, 0)
            self.assertInstalled()

        with self.subTest("a signal left pending"):
            # It ends the run before anything is changed.
            self.assertResult(self.run_tool("start"), OK, 0)
            self.take_launchctl_calls()
            before = self.snapshot()
            result = self.attack("bootstrap", ROOT_APP, pending="SIGTERM")
            self.assertEqual(result.status, -15, result)
            self.assertUnchanged(before)
            self.assertEqual(self.launchctl_calls(), [])

    def test_the_callers_working_directory_only_anchors_a_relative_bundle_path(self):
        # A relative bundle path means what its caller meant by it; the
        # tool's own paths are absolute, so look-alike folders beside the
        # caller are never used.
        self.plant_bundle(f"{WORK}/cwd/bundle/Brenlow.app")
        self.make_dir(f"{WORK}/cwd/Library/LaunchDaemons", 0o777, NOBODY)
        self.make_dir(f"{WORK}/cwd/Library/Application Support", 0o777, NOBODY)
        self.give(WORK)
        before = self.under(f"{WORK}/cwd")
        cwd = f"{WORK}/cwd"
        self.assertResult(self.attack("bootstrap", "bundle/Brenlow.app", cwd=cwd), OK, 0)
        self.assertResult(self.attack("start", cwd=cwd), OK, 0)
        self.assertInstalled()
        self.assertEqual(self.read_plist(JOB_FILE), JOB)
        self.assertEqual(self.under(f"{WORK}/cwd"), before)

    def test_the_callers_environment_reaches_neither_the_tool_nor_its_commands(self):
        self.install(start=False)
        probe = self.build_probe()
        hostile = {
            "LD_PRELOAD": probe, "LD_LIBRARY_PATH": "/tmp/probe", "OPENSSL_CONF": "/tmp/probe/openssl.cnf",
            "OPENSSL_MODULES": "/tmp/probe", "OPENSSL_ENGINES": "/tmp/probe", "PATH": "/tmp/probe:/usr/bin:/bin",
            "IFS": "/", "ENV": "/tmp/probe/shell-startup", "BASH_ENV": "/tmp/probe/shell-startup",
            "SHELLOPTS": "xtrace", "PS4": "$(/tmp/probe/launchctl)", "HOME": "/tmp/probe",
        }
        # Control: root running the plain tool honours LD_PRELOAD (the loader
        # reads it before the tool starts), so the probe would show it if the
        # set-user-ID copy did. OPENSSL_CONF, read by libcrypto, reaches not
        # even root's run: the tool empties its environment first.
        self.run_tool("check", ROOT_APP, env={"LD_PRELOAD": hostile["LD_PRELOAD"]})
        self.assertTrue(self.exists("/tmp/probe/loaded"), "the probe never ran with LD_PRELOAD")
        os.remove(self.host("/tmp/probe/loaded"))
        self.run_tool("check", ROOT_APP, env={"OPENSSL_CONF": hostile["OPENSSL_CONF"]})
        self.assertFalse(self.exists("/tmp/probe/loaded"), "libcrypto read OPENSSL_CONF")

        self.observe_launchctl()
        for args in (["check", ROOT_APP], ["start"], ["restart"]):
            with self.subTest(command=args[0]):
                result = self.run_tool(*args, user=harness.UNPRIVILEGED, setuid=True, env=hostile)
                self.assertResult(result, OK, 0)
                self.assertFalse(self.exists("/tmp/probe/loaded"), "the probe was loaded")
                self.assertFalse(self.exists("/tmp/probe/ran"), "a file of the caller's was run")
        environments = [seen["environment"] for seen in self.launchctl_observations()]
        self.assertEqual(len(environments), 3, environments)  # load, start, stop
        for environment in environments:
            environment.pop("PWD", None)  # /bin/sh's own
            self.assertEqual(environment, {"PATH": SHELL_PATH})

    def build_probe(self):
        """A shared object that leaves /tmp/probe/loaded when it is loaded,
        named where a hostile environment points, and a launchctl and shell
        startup file that leave /tmp/probe/ran when run."""
        source = self.host("/tmp/probe/probe.c")
        self.write_file("/tmp/probe/probe.c", b"""
            #include <fcntl.h>
            #include <unistd.h>
            __attribute__((constructor)) static void loaded(void) {
              close(open("/tmp/probe/loaded", O_WRONLY | O_CREAT, 0644));
            }
        """)
        os.chmod(self.host("/tmp/probe"), 0o1777)
        subprocess.run(["gcc", "-shared", "-fPIC", "-o", self.host("/tmp/probe/probe.so"), source],
                       check=True, capture_output=True)
        for name in ("launchctl", "shell-startup", "sh"):
            self.write_file(f"/tmp/probe/{name}", b"#!/bin/sh\n: > /tmp/probe/ran\n", mode=0o755)
        self.write_file("/tmp/probe/openssl.cnf", b"\n".join([
            b"openssl_conf = probe_init", b"[probe_init]", b"providers = probe_providers",
            b"engines = probe_engines", b"[probe_providers]", b"probe = probe_provider",
            b"[probe_provider]", b"module = /tmp/probe/probe.so", b"activate = 1",
            b"[probe_engines]", b"probe = probe_engine", b"[probe_engine]",
            b"dynamic_path = /tmp/probe/probe.so", b"init = 1", b""]))
        return "/tmp/probe/probe.so"


class UntrustedDirectoryTests(AttackTestCase):
    """Directories someone other than root can change: the commands that
    write into them refuse, name the directory, and change nothing in it,
    links planted there (to root's files) included."""

    def plant_in_support(self):
        self.link(HELPER, VICTIM_FILE)
        self.link(SERVER, VICTIM_FILE)
        self.link(SHARED, VICTIM)

    def support_elsewhere(self):
        self.link(SUPPORT, VICTIM)
        # Files by the installed names, which remove would delete there.
        for name in ("helper", "brenlowd"):
            self.write_file(f"{VICTIM}/{name}", b"root's own file\n")

    def app_support_elsewhere(self):
        self.link(APP_SUPPORT, VICTIM)

    def job_file_elsewhere(self):
        self.link(JOB_FILE, VICTIM_FILE)

    # (directory, owner, mode, plant, commands that must refuse)
    CASES = [
        (SUPPORT, NOBODY, 0o755, plant_in_support, ("bootstrap", "start", "remove")),
        (SUPPORT, ROOT, 0o777, plant_in_support, ("bootstrap", "start", "remove")),
        (APP_SUPPORT, NOBODY, 0o755, support_elsewhere, ("bootstrap", "start", "remove")),
        (APP_SUPPORT, ROOT, 0o777, support_elsewhere, ("bootstrap", "start", "remove")),
        ("/Library", NOBODY, 0o755, app_support_elsewhere, ("bootstrap", "start", "remove", "stop")),
        (DAEMONS, NOBODY, 0o755, job_file_elsewhere, ("bootstrap", "remove", "stop")),
        (DAEMONS, ROOT, 0o777, job_file_elsewhere, ("bootstrap", "remove", "stop")),
    ]

    def make_victim(self):
        self.make_dir(VICTIM)
        self.write_file(VICTIM_FILE, b"root's own file\n")

    def test_commands_refuse_to_write_into_them(self):
        self.make_victim()
        for directory, owner, mode, plant, commands in self.CASES:
            with self.subTest(directory=directory, owner=owner, mode=oct(mode)):
                self.reset_library()
                self.lay_out_installation()
                plant(self)
                os.chown(self.host(directory), *owner)
                os.chmod(self.host(directory), mode)
                before = (self.under(directory), self.under(VICTIM))
                for command in commands:
                    args = ["bootstrap", ROOT_APP] if command == "bootstrap" else [command]
                    self.assertResult(self.attack(*args), unsafe(directory), 1)
                    self.assertEqual((self.under(directory), self.under(VICTIM)), before, command)
                # check writes nothing, wherever the paths lead.
                self.attack("check", ROOT_APP)
                self.assertEqual((self.under(directory), self.under(VICTIM)), before, "check")

    def test_start_takes_back_a_job_folder_and_replaces_a_link_in_it(self):
        # start owns the job folder: it gives it back to root before it
        # writes, and the new job file takes the link's place.
        self.make_victim()
        self.install(start=False)
        self.make_dir(DAEMONS, 0o755, NOBODY)
        self.link(JOB_FILE, VICTIM_FILE)
        before = self.under(VICTIM)
        self.assertResult(self.attack("start"), OK, 0)
        self.assertEqual((self.mode(DAEMONS), self.owner(DAEMONS)), (0o755, ROOT))
        self.assertEqual((stat.S_ISREG(os.lstat(self.host(JOB_FILE)).st_mode), self.owner(JOB_FILE)), (True, ROOT))
        self.assertEqual(self.read_plist(JOB_FILE), JOB)
        self.assertEqual(self.under(VICTIM), before)


class JobFolderTests(AttackTestCase):
    """launchd obeys the job file it is handed, whatever label that names:
    root hands launchctl none that another user could have written or laid."""

    OTHER_JOB = plistlib.dumps({**JOB, "Label": "org.example.guard", "ProgramArguments": ["/usr/sbin/guard"]},
                               fmt=plistlib.FMT_XML)

    def in_their_folder(self):
        os.chown(self.host(DAEMONS), *NOBODY)
        self.write_file(JOB_FILE, self.OTHER_JOB, owner=NOBODY)
        return unsafe(DAEMONS)

    def in_an_open_folder(self):
        os.chmod(self.host(DAEMONS), 0o777)
        self.write_file(JOB_FILE, self.OTHER_JOB, owner=NOBODY)
        return unsafe(DAEMONS)

    def behind_their_link(self):
        # /Library lets them replace the job folder by a link to their own.
        os.chown(self.host("/Library"), *NOBODY)
        self.write_file(f"{WORK}/daemons/{LABEL}.plist", self.OTHER_JOB, owner=NOBODY)
        self.give(f"{WORK}/daemons")
        self.link(DAEMONS, f"{WORK}/daemons")
        return linked(DAEMONS)

    def test_a_job_file_another_user_could_lay_never_reaches_launchctl(self):
        for lay in (self.in_their_folder, self.in_an_open_folder, self.behind_their_link):
            self.reset_library()
            self.lay_out_installation()
            refused = lay()
            for args in (["stop"], ["remove"], ["bootstrap", ROOT_APP]):
                with self.subTest(lay.__name__, command=args[0]):
                    self.assertResult(self.attack(*args), refused, 1)
                    self.assertEqual(self.take_launchctl_calls(), [f"remove {LABEL}"])


class InterruptedRunTests(AttackTestCase):
    """A run can end at any instant: killed, its output pipe closed by the
    caller, or interrupted from the caller's terminal. What is on disk is
    then the earlier installation or the new one, and nothing else."""

    KILLS = 4

    def assertOnlyInstalledExecutables(self, allowed):
        """Nothing in the support folder but the installed items, and each
        installed executable whole, verified and in place."""
        self.assertNoStagingLeft()
        for path, mode in ((HELPER, 0o4755), (SERVER, 0o755)):
            if self.exists(path):
                self.assertIn(self.read_bytes(path), allowed, path)
                self.assertEqual((self.mode(path), self.owner(path)), (mode, ROOT), path)

    def killed_runs(self, args):
        """Runs the set-user-ID tool as nobody and kills it with SIGKILL at
        moments spread over the length of an unkilled run; after each kill
        yields whether the kill found the run still going."""
        command = ["/bin/bash", harness.sandbox_script(), "run", self.root, "--user", harness.UNPRIVILEGED,
                   "--", harness.SETUID_TOOL, *args]
        started = time.monotonic()
        subprocess.run(command, capture_output=True, timeout=ATTACK_TIMEOUT)
        length = time.monotonic() - started
        for kill in range(self.KILLS):
            run = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                   start_new_session=True)
            time.sleep(length * (kill + 0.5) / self.KILLS)  # the moment of the kill, not a synchronisation
            alive = run.poll() is None
            if alive:
                os.killpg(run.pid, signal.SIGKILL)
            run.wait(timeout=ATTACK_TIMEOUT)
            yield alive

    def test_a_run_killed_at_any_moment_leaves_the_earlier_installation_or_the_new_one(self):
        self.install(start=False)
        signed = {fixture_bytes(name) for name in (SIGNED_HELPER, SIGNED_SERVER)}
        updates = signed | {fixture_bytes(name) for name in ("helper-devid-update-arm64", "server-devid-update-arm64")}

        with self.subTest("a large unsigned helper"):
            bundle = self.plant_bundle(f"{WORK}/Large.app")
            with open(self.host(f"{bundle}/Contents/MacOS/helper"), "r+b") as f:
                f.seek(0, os.SEEK_END)
                f.write(bytes(128 << 20))  # real blocks: the copy takes its time
            hits = []
            for alive in self.killed_runs(["bootstrap", bundle]):
                hits.append(alive)
                self.assertOnlyInstalledExecutables(signed)
                self.assertInstalled()
            self.assertIn(True, hits, "no kill found a run still going")

        with self.subTest("an update between two signed bundles"):
            update = self.plant_bundle(f"{WORK}/BrenlowUpdate.app", "BrenlowUpdate")
            hits = []
            for alive in self.killed_runs(["bootstrap", update]):
                hits.append(alive)
                self.assertOnlyInstalledExecutables(updates)
                self.assertResult(self.run_tool("bootstrap", ROOT_APP), OK, 0)  # root may go back
            self.assertIn(True, hits, "no kill found a run still going")

    def killed_entering(self, syscalls, *args):
        """Runs the set-user-ID tool as nobody under strace, which kills it
        with SIGKILL as it enters the first of the system calls."""
        names = ",".join(syscalls)
        result = self.run_in_sandbox("/usr/bin/strace", "-f", "-qq", "-o", "/dev/null", "-u", harness.UNPRIVILEGED,
                                     "-e", f"trace={names}", "-e", f"inject={names}:signal=KILL:when=1",
                                     harness.SETUID_TOOL, *args)
        self.assertIn(result.status, (-signal.SIGKILL, 128 + signal.SIGKILL), result)

    def test_a_job_file_write_killed_at_any_step_leaves_nothing_for_ever(self):
        # Killed while it is written, the job file has no name yet. Killed at
        # its rename, it has a hidden one, which the next start, stop or
        # remove deletes.
        self.install(start=False)

        def temporaries():
            return [name for name in os.listdir(self.host(DAEMONS)) if name.startswith(f".{LABEL}.plist.")]

        self.killed_entering(["fsync"], "start")
        self.assertEqual(os.listdir(self.host(DAEMONS)), [])
        for command in ("start", "stop", "remove"):
            with self.subTest(command=command):
                self.killed_entering(["rename", "renameat", "renameat2"], "start")
                self.assertNotEqual(temporaries(), [], "the kill came before the job file had a name")
                self.assertResult(self.attack(command), OK, 0)
                self.assertEqual(temporaries(), [])

    def test_a_closed_error_pipe_does_not_end_the_run(self):
        # Diagnostics go to standard error; with its reader gone the first
        # line would have ended the run with SIGPIPE while a gigabyte-sized
        # copy lay in the support folder.
        bundle = self.plant_bundle()
        os.truncate(self.host(f"{bundle}/Contents/MacOS/helper"), 1 << 30)
        for _ in range(3):  # each killed run used to leave a copy of its own
            self.assertResult(self.attack("bootstrap", bundle, **{"broken-stderr": True}), NOT_VERIFIED, 1)
            self.assertNothingInstalled()
        self.assertNoRootFileLeft()

    def test_a_full_error_pipe_never_read_does_not_hold_the_run(self):
        # Standard error a full pipe that the caller keeps open and never
        # reads. Before, launchctl's first line, and then the first
        # diagnostic, waited for ever, the latter while root held a nameless
        # staging copy as large as the file the bundle's helper links to.
        bundle = self.plant_bundle()
        large = f"{WORK}/large"
        self.write_file(large, bytes(64 << 20), owner=NOBODY)
        self.link(f"{bundle}/Contents/MacOS/helper", large)
        self.write_file(harness.LAUNCHCTL_STATE + "/chatter", str(256 << 10).encode())
        summary = self.attacker("stuck", {"command": [harness.SETUID_TOOL, "bootstrap", bundle],
                                          "wait": 30, "space": "/Library"})
        for process in summary["alive"]:
            self.addCleanup(kill_if_alive, process["pid"])
        self.assertEqual((summary["ended"], summary["alive"]), ("exit 1", []), summary)
        self.assertLess(summary["seconds"], 15, summary)
        self.assertTrue(summary["output"].endswith(NOT_VERIFIED), summary["output"][-200:])
        self.assertLess(abs(summary["taken"]), 1 << 20, "space still taken")
        self.assertEqual(self.take_launchctl_calls(), [f"remove {LABEL}", f"unload {JOB_FILE}"])
        self.assertNothingInstalled()
        self.assertNoRootFileLeft()

    def test_keys_typed_on_the_callers_terminal_do_not_reach_the_root_run(self):
        # The terminal signals its foreground job whatever its user: ^C, ^\
        # and ^Z are typed while the run, already root, waits for launchctl.
        self.install(start=True)
        hold = self.host(harness.LAUNCHCTL_STATE + "/hold")
        os.mkfifo(hold)
        os.chmod(hold, 0o666)
        summary = self.attacker("terminal", {"command": [harness.SETUID_TOOL, "stop"],
                                             "calls": harness.LAUNCHCTL_STATE + "/calls", "hold": hold[len(self.root):]})
        if summary["ended"] != "exit 0":
            self.addCleanup(os.kill, summary["pid"], signal.SIGKILL)
        self.assertEqual((summary["reached"], summary["typed"]), (True, [True, True, True]), summary)
        self.assertEqual(summary["ended"], "exit 0", summary)
        self.assertTrue(summary["output"].rstrip().endswith("OK"), summary)
        self.assertFalse(self.exists(JOB_FILE))
        self.assertEqual(self.take_launchctl_calls(), [f"remove {LABEL}", f"unload {JOB_FILE}"])


class ReplacementTests(AttackTestCase):
    """What a user may replace, and what becomes of what was replaced."""

    UPDATE_HELPER = "helper-devid-update-arm64"

    def test_only_root_may_install_an_older_version(self):
        update = self.plant_bundle(f"{WORK}/BrenlowUpdate.app", "BrenlowUpdate")
        self.assertResult(self.attack("bootstrap", update), OK, 0)  # 1 to 2: any user
        before = self.under(SUPPORT)
        older = self.plant_bundle()
        refused = "ERROR: The bundle's helper (version 1) is older than the installed one (version 2): only root may " \
                  "install it.\n"
        self.assertResult(self.attack("bootstrap", older), refused, 1)
        self.assertEqual(self.under(SUPPORT), before)
        self.copy_bundle("Brenlow", ROOT_APP)
        self.assertResult(self.run_tool("bootstrap", ROOT_APP), OK, 0)
        self.assertInstalled()

    def test_a_replaced_or_removed_helper_held_open_is_no_longer_set_user_id(self):
        self.install(start=False)
        update = self.plant_bundle(f"{WORK}/BrenlowUpdate.app", "BrenlowUpdate")
        for args, output in ((["bootstrap", update], "OK"), (["remove"], "OK")):
            with self.subTest(command=args[0]):
                summary = self.attacker("held", {"file": HELPER, "command": [harness.SETUID_TOOL, *args]})
                self.assertEqual(summary, {"output": output, "mode": oct(0o755)})

    def test_a_locked_support_folder_is_named_as_the_cause(self):
        self.install(start=False)
        self.lock(SUPPORT)
        before = self.under(SUPPORT)
        update = self.plant_bundle(f"{WORK}/BrenlowUpdate.app", "BrenlowUpdate")
        self.assertResult(self.attack("bootstrap", update), locked(SUPPORT), 1)
        self.assertEqual(self.under(SUPPORT), before)


class VersionFloorTests(AttackTestCase):
    """No run of a user's ends with an installed helper or server older than
    the versions root last installed: not by racing another command, not by
    a universal file that carries an older build beside a newer one."""

    OLDER = "helper-devid-arm64"         # version 1
    NEWER = "helper-devid-update-arm64"  # version 2
    OLDER_REFUSED = ("ERROR: The bundle's helper (version 1) is older than the installed one (version 2): only root "
                     "may install it.\n")

    def install_newer(self):
        """Root's installation of version 2."""
        if not self.exists("/Applications/BrenlowUpdate.app"):
            self.copy_bundle("BrenlowUpdate", "/Applications/BrenlowUpdate.app")
        self.assertResult(self.run_tool("bootstrap", "/Applications/BrenlowUpdate.app"), OK, 0)

    def versions(self):
        digest = lambda name: hashlib.sha256(fixture_bytes(name)).hexdigest()[:16]  # attacker.digest
        return {digest(self.OLDER): "version 1", digest(self.NEWER): "version 2"}

    def test_remove_run_alongside_an_older_bootstrap_never_lets_it_in(self):
        # Before runs were serialised, the installed file was the floor, and
        # a remove that slipped in after the version check took it away.
        older = self.plant_bundle()
        for _ in range(12):
            if not self.exists(HELPER):
                self.install_newer()
            summary = self.attacker("together", {
                "commands": [[harness.SETUID_TOOL, "bootstrap", older], [harness.SETUID_TOOL, "remove"]],
                "helper": HELPER, "versions": self.versions()})
            self.assertIn(summary["helper"], {"version 2", "absent"}, summary)
            self.assertEqual(summary["outputs"][0], self.OLDER_REFUSED.strip(), summary)
        self.assertNoStagingLeft()

    def test_a_remove_held_up_inside_a_bootstrap_waits_for_it(self):
        # The caller's lease on the bundle's helper holds bootstrap at its
        # first open of the file, after the stop and before the version
        # check; remove then runs, and only afterwards is bootstrap let go.
        self.install_newer()
        older = self.plant_bundle()
        summary = self.attacker("lease", {
            "file": f"{older}/Contents/MacOS/helper", "marker": "Waiting for another run of helper to finish.",
            "first": [harness.SETUID_TOOL, "bootstrap", older], "second": [harness.SETUID_TOOL, "remove"]})
        self.assertTrue(summary["held"], summary)
        self.assertFalse(summary["second_ended_first"], summary)  # remove waited for the bootstrap
        self.assertIn("Waiting for another run of helper to finish.", summary["second_said"], summary)
        self.assertEqual((summary["first"], summary["second"]), (self.OLDER_REFUSED.strip(), "OK"), summary)
        self.assertFalse(self.exists(HELPER))
        # The floor outlives the remove.
        self.assertResult(self.attack("bootstrap", older), self.OLDER_REFUSED, 1)
        self.assertFalse(self.exists(HELPER))
        self.assertNoStagingLeft()

    def test_a_universal_helper_whose_slices_disagree_is_refused_for_everyone(self):
        # arm64 at version 2 beside arm64e at version 1, each slice signed.
        refused = ("ERROR: The bundle's helper states two versions, 2 and 1, one per architecture: it cannot be "
                   "installed.\n")
        spliced = self.plant_bundle(f"{WORK}/BrenlowSpliced.app", "BrenlowSpliced")
        self.assertResult(self.attack("bootstrap", spliced), refused, 1)
        self.assertNothingInstalled()
        self.copy_bundle("BrenlowSpliced", "/Applications/BrenlowSpliced.app")
        self.assertResult(self.run_tool("bootstrap", "/Applications/BrenlowSpliced.app"), refused, 1)
        self.assertNothingInstalled()

    def test_no_user_installs_a_helper_older_than_the_running_one(self):
        # On a fresh system nothing is installed and the record is new: the
        # running set-user-ID tool is then the floor for the helper alone.
        old = self.plant_bundle(f"{WORK}/BrenlowOld.app", "BrenlowOld")
        self.assertResult(self.attack("bootstrap", old),
                          "ERROR: The bundle's helper (version 0.9) is older than the installed one (version "
                          f"{harness.tool_version()}): only root may install it.\n", 1)
        self.assertNothingInstalled()
        self.copy_bundle("BrenlowOld", "/Applications/BrenlowOld.app")
        self.assertResult(self.run_tool("bootstrap", "/Applications/BrenlowOld.app"), OK, 0)

    def test_versions_that_cannot_be_compared_refuse_a_user_and_not_root(self):
        self.install_newer()
        older = self.plant_bundle()
        # Root may go back; the floor then follows root.
        self.copy_bundle("Brenlow", ROOT_APP)
        self.assertResult(self.run_tool("bootstrap", ROOT_APP), OK, 0)
        self.assertResult(self.attack("bootstrap", older), OK, 0)
        # A record the tool did not write is no floor a user may pass.
        with open(self.host(RUN_LOCK), "wb") as f:
            f.write(b"helper 1.0.0.1\nbrenlowd 1\n")
        unreadable = ("ERROR: The bundle's helper (version 1) cannot be compared with the installed one (version "
                      "1.0.0.1): only root may install it.\n")
        self.assertResult(self.attack("bootstrap", older), unreadable, 1)
        for record in (b"helper 1\n", b"garbage"):
            with self.subTest(record=record):
                with open(self.host(RUN_LOCK), "wb") as f:
                    f.write(record)
                result = self.attack("bootstrap", older)
                self.assertEqual(result.status, 1, result)
                self.assertIn("cannot be compared", result.stdout)
        self.assertResult(self.run_tool("bootstrap", ROOT_APP), OK, 0)
        self.assertEqual(self.read_bytes(RUN_LOCK), b"brenlowd 1\nhelper 1\n")
        # A version that is not numbers alone is reported as written.
        beta = self.plant_bundle(f"{WORK}/BrenlowBeta.app", "BrenlowBeta")
        self.assertResult(self.attack("bootstrap", beta),
                          "ERROR: The bundle's helper states version 2.0b1, which cannot be compared: only root may "
                          "install it.\n", 1)
        self.copy_bundle("BrenlowBeta", "/Applications/BrenlowBeta.app")
        self.assertResult(self.run_tool("bootstrap", "/Applications/BrenlowBeta.app"), OK, 0)
        self.assertEqual(self.read_bytes(RUN_LOCK), b"brenlowd 2\nhelper 2.0b1\n")
        self.assertIn("cannot be compared", self.attack("bootstrap", older).stdout)


class SharedFolderTests(AttackTestCase):
    """The shared and data folders are open to every user, yet no user may
    delete or replace what another put there."""

    def test_no_user_deletes_or_replaces_anothers_files(self):
        self.install(start=True)
        self.write_file(f"{DATA}/shared.db", b"the server's data\n")
        self.write_file(f"{SHARED}/theirs", b"another user's file\n", owner=(1000, 1000))
        self.write_file(f"{WORK}/mine", b"the attacker's\n", owner=NOBODY)
        before = {folder: self.under(folder) for folder in (DATA, SHARED)}
        for path in (f"{DATA}/shared.db", f"{SHARED}/theirs"):
            with self.subTest(path=path):
                for command in (["/bin/rm", "-f", path], ["/bin/mv", "-f", f"{WORK}/mine", path]):
                    self.assertNotEqual(self.run_in_sandbox(*command, user=harness.UNPRIVILEGED).status, 0, command)
        self.assertEqual({folder: self.under(folder) for folder in (DATA, SHARED)}, before)
