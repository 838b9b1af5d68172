"""Bootstrap and check through the real binary, with the signed sample bundles
copied into the sandbox's /Applications: what a bootstrap installs, what it
refuses before copying anything, and what the check accepts."""

import os
import shutil

from expected import (APP, APP_SUPPORT, DAEMONS, DATA, HELPER, HELPER_UPDATE, JOB_FILE, NO_BUNDLE,
                      NOBODY as NOBODY_IDS, NOT_VALID, OK, PERMISSIONS, ROOT, RUN_LOCK, SERVER, SERVER_UPDATE, SHARED,
                      STOP_CALLS, SUPPORT, linked, locked)
from harness import SETUID_TOOL, UNPRIVILEGED, Config, SandboxTestCase, log_messages

# Bootstrap stages the copies it verifies in the support folder, and locks
# it, so even a refused one may create these folders and the lock or change
# their times.
SUPPORT_FOLDERS = ("/Library", APP_SUPPORT, SUPPORT, RUN_LOCK)

# Apple's status numbers, as the engine reports them.
REQUIREMENT_FAILED = -67050
UNSIGNED = -67062
NOT_TRUSTED = -2147409622

NOBODY = NOBODY_IDS[0]
ELSEWHERE = "/opt/elsewhere"


def in_bundle(app, name):
    return f"{app}/Contents/MacOS/{name}"


def verification_log(path, status):
    """What a bootstrap logs when an executable of the bundle does not verify."""
    return [f"SecStaticCodeCheckValidity ({path}) returned: {status}",
            f"code signature check failed for {path}"]


class LifecycleTestCase(SandboxTestCase):

    def bootstrap(self, app=APP):
        self.assertResult(self.run_tool("bootstrap", app), OK, 0)

    def check(self, app=APP):
        return self.run_tool("check", app)

    def install(self, bundle="Brenlow", app=APP):
        """The bundle in place and bootstrapped from; the log starts afresh."""
        self.copy_bundle(bundle, app)
        self.bootstrap(app)
        self.take_launchctl_calls()

    def change_one_byte(self, path, offset=1000):
        """Flips the bits of one byte in place; owner and mode stay."""
        with open(self.host(path), "r+b") as f:
            f.seek(offset)
            byte = f.read(1)
            f.seek(offset)
            f.write(bytes([byte[0] ^ 0xFF]))

    def assertBootstrapRefused(self, app, shipped=False):
        """Bootstrap refuses the bundle, installs nothing and leaves no file
        behind; returns its log messages."""
        if shipped:
            self.shipped_tool_copy()
        before = self.snapshot()
        result = self.run_tool("bootstrap", app, shipped=shipped)
        self.assertResult(result, NOT_VALID, 1)
        self.assertEqual(self.take_launchctl_calls(), STOP_CALLS)
        self.assertUnchanged(before, allowed=SUPPORT_FOLDERS)
        return log_messages(result.stderr)

    def assertInstalledFrom(self, app):
        """The installed layout, with both executables equal to the bundle's."""
        layout = {path: (self.mode(path), self.owner(path)) for path in (HELPER, SERVER, SHARED)}
        self.assertEqual(layout, {HELPER: (0o4755, ROOT), SERVER: (0o755, ROOT),
                                  SHARED: (0o1777, ROOT)})
        self.assertTrue(os.path.isdir(self.host(SHARED)) and not os.path.islink(self.host(SHARED)))
        self.assertEqual(self.read_bytes(HELPER), self.read_bytes(in_bundle(app, "helper")))
        self.assertEqual(self.read_bytes(SERVER), self.read_bytes(in_bundle(app, "brenlowd")))
        self.assertFalse(self.exists(JOB_FILE))


class BootstrapTests(LifecycleTestCase):

    def test_a_fresh_bootstrap_installs_the_layout_and_can_be_repeated(self):
        self.copy_bundle("Brenlow", APP)
        for run in ("first", "second"):
            with self.subTest(run=run):
                result = self.run_tool("bootstrap", APP)
                self.assertResult(result, OK, 0)
                self.assertEqual(result.stderr, "")
                self.assertEqual(self.take_launchctl_calls(), STOP_CALLS)
                self.assertInstalledFrom(APP)
                # Nothing else: no data folder, no temporary file left over;
                # the run lock, root's alone, holds the versions installed.
                self.assertEqual(sorted(os.listdir(self.host(SUPPORT))), [".lock", "Shared", "brenlowd", "helper"])
                self.assertEqual((self.mode(RUN_LOCK), self.owner(RUN_LOCK)), (0o600, ROOT))
                self.assertEqual(self.read_bytes(RUN_LOCK), b"brenlowd 1\nhelper 1\n")
        self.assertResult(self.check(), OK, 0)

    def test_bootstrap_stops_a_running_server_and_replaces_an_earlier_install(self):
        self.install("BrenlowUpdate", "/Applications/Old.app")
        self.assertResult(self.run_tool("start"), OK, 0)
        self.take_launchctl_calls()
        self.copy_bundle("Brenlow", APP)
        self.bootstrap()
        self.assertEqual(self.launchctl_calls(), STOP_CALLS)
        self.assertInstalledFrom(APP)

    def test_without_a_bundle_bootstrap_only_stops_the_server_and_check_changes_nothing(self):
        self.install()
        self.assertResult(self.run_tool("start"), OK, 0)
        self.take_launchctl_calls()
        before = self.snapshot()
        # Nothing there, a file, and the empty path: none is a bundle.
        for command, path in (("bootstrap", "/Applications/Missing.app"), ("bootstrap", f"{APP}/Contents/Info.plist"),
                              ("bootstrap", ""), ("check", "/Applications/Missing.app")):
            with self.subTest(command=command, path=path):
                result = self.run_tool(command, path)
                self.assertResult(result, NO_BUNDLE, 1)
                self.assertEqual(result.stderr, "")
                self.assertEqual(self.take_launchctl_calls(), STOP_CALLS if command == "bootstrap" else [])
        self.assertFalse(self.exists(JOB_FILE))
        self.assertUnchanged(before, allowed=(JOB_FILE, DAEMONS))

    # bundle -> (the executable that fails, the engine's status, the check's answer)
    REFUSED = {
        "HelperWrongIdentifier": ("helper", REQUIREMENT_FAILED, HELPER_UPDATE),
        "HelperOtherTeam": ("helper", REQUIREMENT_FAILED, HELPER_UPDATE),
        "ServerWrongIdentifier": ("brenlowd", REQUIREMENT_FAILED, SERVER_UPDATE),
        "ServerUnsigned": ("brenlowd", UNSIGNED, SERVER_UPDATE),
    }

    def test_an_executable_that_does_not_verify_stops_bootstrap_before_any_copy(self):
        # An earlier install shows that not even the valid helper is copied.
        self.install("BrenlowUpdate", "/Applications/Old.app")
        for bundle, (name, status, check) in self.REFUSED.items():
            with self.subTest(bundle=bundle):
                app = f"/Applications/{bundle}.app"
                self.copy_bundle(bundle, app)
                messages = self.assertBootstrapRefused(app)
                self.assertEqual(messages, verification_log(in_bundle(app, name), status))
                self.assertResult(self.check(app), check, 1)
        self.assertResult(self.check("/Applications/Old.app"), OK, 0)

    def test_a_bundle_without_one_of_its_executables_never_passes(self):
        for bundle, check in (("NoHelper", HELPER_UPDATE), ("NoServer", SERVER_UPDATE)):
            with self.subTest(bundle=bundle):
                app = f"/Applications/{bundle}.app"
                self.copy_bundle(bundle, app)
                messages = self.assertBootstrapRefused(app)
                self.assertRegex(messages[-1], "^code signature check failed for ")
                self.assertResult(self.check(app), check, 1)
        self.assertFalse(self.exists(HELPER))
        self.assertFalse(self.exists(SERVER))

    def test_the_shipped_build_trusts_only_apple_and_refuses_the_sample_bundle(self):
        self.copy_bundle("Brenlow", APP)
        messages = self.assertBootstrapRefused(APP, shipped=True)
        self.assertEqual(messages, verification_log(in_bundle(APP, "helper"), NOT_TRUSTED))
        self.assertResult(self.run_tool("check", APP, shipped=True), HELPER_UPDATE, 1)


class MacOSBuildTests(LifecycleTestCase):
    """The macOS build's universal tool, signed into its own sample bundle by
    `cmake --workflow --preset macos` with the certificate authority of that
    workflow's build for this machine, meets the requirement the tool
    enforces: that build's test tool, which trusts the same authority,
    bootstraps and checks the bundle for a user."""

    def test_the_universal_tool_passes_its_own_check(self):
        build = Config.macos_build
        bundle = build and os.path.join(build, "Brenlow.app")
        tool = build and os.path.join(build, "host", "tests", "helper-test-anchor")
        if not bundle or not os.path.isdir(bundle) or not os.path.isfile(tool):
            self.skipTest(f"no macOS build in {build}: run cmake --workflow --preset macos first")
        self._copy_in(tool, SETUID_TOOL, True)
        shutil.copytree(bundle, self.host(APP))
        result = self.run_tool("bootstrap", APP, user=UNPRIVILEGED, setuid=True)
        self.assertResult(result, OK, 0)
        self.assertInstalledFrom(APP)
        self.assertEqual(self.read_bytes(HELPER)[:4], bytes.fromhex("cafebabe"))  # universal, as built
        self.assertResult(self.run_tool("check", APP, user=UNPRIVILEGED, setuid=True), OK, 0)


class RefusedBootstrapTests(LifecycleTestCase):
    """What stops a bootstrap or a start of root's, and what it then leaves."""

    def test_a_link_at_the_shared_folder_is_refused_and_kept(self):
        self.install()
        self.make_dir(ELSEWHERE)
        self.write_file(f"{ELSEWHERE}/kept", b"reached through the link\n")
        self.remove_tree(SHARED)
        os.symlink(ELSEWHERE, self.host(SHARED))
        before = {path: item for path, item in self.snapshot().items() if path.startswith((SHARED, ELSEWHERE))}
        self.assertResult(self.run_tool("bootstrap", APP), linked(SHARED), 1)
        after = {path: item for path, item in self.snapshot().items() if path.startswith((SHARED, ELSEWHERE))}
        self.assertEqual(after, before)

    def test_a_file_where_the_support_folder_belongs_fails_the_step_that_needs_the_folder(self):
        # Root's own file, writable by no one else: the failure is the
        # step's, not the trust check's.
        self.copy_bundle("Brenlow", APP)
        self.write_file(SUPPORT, b"root's file\n", mode=0o644)
        not_a_folder = '(Error Domain=NSPOSIXErrorDomain Code=20 "Not a directory")'
        before = self.snapshot()
        self.assertResult(self.run_tool("start"), f"ERROR: Couldn't create directory {DATA} {not_a_folder}\n", 1)
        self.assertResult(self.run_tool("bootstrap", APP),
                          f"ERROR: Copy of {in_bundle(APP, 'helper')} to {HELPER} failed {not_a_folder}.\n", 1)
        self.assertUnchanged(before, allowed=("/Library", DAEMONS))

    def test_a_locked_installed_server_stops_bootstrap_before_the_helper_is_replaced(self):
        # All or nothing: a helper of one version beside a server of another
        # would be worse than the earlier installation.
        self.install()
        self.lock(SERVER)
        update = "/Applications/BrenlowUpdate.app"
        self.copy_bundle("BrenlowUpdate", update)
        before = self.snapshot()
        self.assertResult(self.run_tool("bootstrap", update), locked(SERVER), 1)
        self.assertUnchanged(before)
        self.assertResult(self.check(), OK, 0)


class CheckTests(LifecycleTestCase):

    def setUp(self):
        super().setUp()
        self.install()

    def assertCheckFails(self, expected):
        """The check answers expected and changes nothing."""
        before = self.snapshot()
        self.assertResult(self.check(), expected, 1)
        self.assertUnchanged(before)
        self.assertEqual(self.launchctl_calls(), [])

    def repair(self):
        self.bootstrap()
        self.take_launchctl_calls()
        self.assertResult(self.check(), OK, 0)
        self.assertInstalledFrom(APP)

    def test_an_installed_executable_that_differs_or_is_missing_needs_an_update(self):
        def append_byte(path):
            with open(self.host(path), "ab") as f:
                f.write(b"\0")

        def remove(path):
            os.remove(self.host(path))

        for path, expected in ((HELPER, HELPER_UPDATE), (SERVER, SERVER_UPDATE)):
            for change in (self.change_one_byte, append_byte, remove):
                with self.subTest(path=path, change=change.__name__):
                    change(path)
                    self.assertCheckFails(expected)
                    self.repair()

    def test_a_helper_not_owned_by_root_or_not_at_04755_is_refused_and_repaired(self):
        cases = {
            "lost its set-user-ID bit": (0o755, ROOT),
            "set-group-ID as well": (0o6755, ROOT),
            "group-writable": (0o4775, ROOT),
            "owned by another user": (0o4755, (NOBODY, 0)),
            "in another group": (0o4755, (0, NOBODY)),
        }
        for case, (mode, owner) in cases.items():
            with self.subTest(case=case):
                # The owner first: changing it clears the set-user-ID bit.
                os.chown(self.host(HELPER), *owner)
                os.chmod(self.host(HELPER), mode)
                self.assertEqual((self.mode(HELPER), self.owner(HELPER)), (mode, owner))
                self.assertCheckFails(PERMISSIONS)
                self.repair()

    def test_when_several_tests_would_fail_the_first_in_order_decides(self):
        self.change_one_byte(HELPER)
        self.change_one_byte(SERVER)
        self.assertCheckFails(HELPER_UPDATE)
        self.repair()
        self.change_one_byte(SERVER)
        self.change_one_byte(HELPER, offset=0)
        self.assertCheckFails(HELPER_UPDATE)
        self.repair()
        self.change_one_byte(SERVER)
        os.chmod(self.host(HELPER), 0o755)
        self.assertCheckFails(SERVER_UPDATE)

    def test_the_installed_server_may_have_any_owner_and_mode(self):
        for mode, owner in ((0o700, ROOT), (0o777, ROOT), (0o4755, (NOBODY, NOBODY))):
            with self.subTest(mode=oct(mode), owner=owner):
                os.chown(self.host(SERVER), *owner)
                os.chmod(self.host(SERVER), mode)
                self.assertResult(self.check(), OK, 0)

    def test_an_update_of_the_bundle_asks_for_the_helper_first(self):
        update = "/Applications/BrenlowUpdate.app"
        self.copy_bundle("BrenlowUpdate", update)
        self.assertResult(self.check(update), HELPER_UPDATE, 1)
        self.bootstrap(update)
        self.assertInstalledFrom(update)
        self.assertResult(self.check(), HELPER_UPDATE, 1)
