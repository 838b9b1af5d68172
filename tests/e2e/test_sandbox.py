"""The sandbox and the launchctl stand-in themselves: every other end-to-end
test trusts that writes stay inside and that the stand-in judges job files as
launchd would."""

import os
import plistlib
import subprocess
import uuid

import harness
from harness import SandboxTestCase

JOB = "/Library/LaunchDaemons/job.plist"
PROGRAM = "/Library/program"


def job(**changes):
    """A job dictionary launchd accepts, with changes (None drops a key)."""
    plist = {"RunAtLoad": True, "KeepAlive": {"SuccessfulExit": False},
             "EnableTransactions": True, "Label": "com.example.job",
             "ProgramArguments": [PROGRAM]}
    plist.update(changes)
    return {k: v for k, v in plist.items() if v is not None}


class IsolationTests(SandboxTestCase):

    def test_writes_land_in_the_sandbox_and_nowhere_else(self):
        name = f"e2e-{uuid.uuid4().hex}"
        for folder in ("/Library", "/Applications", "/tmp"):
            with self.subTest(folder=folder):
                path = f"{folder}/{name}"
                result = self.run_in_sandbox("/bin/sh", "-c", f"echo inside > {path}")
                self.assertEqual(result.status, 0, result.stderr)
                self.assertEqual(self.read_bytes(path), b"inside\n")
                self.assertFalse(os.path.lexists(path), f"{path} leaked to the host")

    def test_every_mount_but_the_sandbox_itself_is_read_only(self):
        # Read from the mount table rather than tried by writing: a broken
        # sandbox must not get to write into the machine's system folders.
        table = self.run_in_sandbox("/bin/cat", "/proc/self/mountinfo").stdout
        mounts = {}
        for line in table.splitlines():
            fields = line.split()
            separator = fields.index("-")
            mounts[fields[4]] = (fields[5].split(","), fields[separator + 1:separator + 3])
        options, (kind, source) = mounts.pop("/")
        self.assertEqual((kind, source, "rw" in options), ("tmpfs", "helper-sandbox", True))
        self.assertTrue({"/usr", "/etc", "/usr/sbin", "/proc"} <= mounts.keys(), mounts)
        for point, (options, (kind, source)) in mounts.items():
            # The run's own terminals, a fresh instance holding none of the machine's.
            if (kind, source) != ("devpts", "sandbox-pts"):
                self.assertIn("ro", options, point)

    def test_the_stand_in_overlays_usr_sbin_and_the_rest_stays(self):
        result = self.run_in_sandbox("/bin/ls", "/usr/sbin")
        inside = set(result.stdout.split())
        self.assertEqual(inside, set(os.listdir("/usr/sbin")) | {"launchctl"})
        self.assertFalse(os.path.lexists("/usr/sbin/launchctl"))
        result = self.run_in_sandbox("/bin/sh", "-c", "PATH=/usr/bin:/bin:/usr/sbin:/sbin "
                                     "launchctl list && /usr/sbin/chroot --version")
        self.assertEqual(result.status, 0, result.stderr)
        self.assertEqual(self.launchctl_calls(), ["list"])

    def test_a_user_runs_with_its_own_ids_and_no_groups(self):
        result = self.run_in_sandbox(
            "/usr/bin/python3", "-c",
            "import os; print(os.getresuid(), os.getresgid(), os.getgroups())",
            user=harness.UNPRIVILEGED)
        uid, gid = harness.NOBODY_IDS
        self.assertEqual(result.stdout, f"{(uid,) * 3} {(gid,) * 3} []\n")


class LifecycleTests(SandboxTestCase):

    def test_destroy_unmounts_and_removes_even_a_locked_sandbox(self):
        root = self.root
        self.write_file("/Library/locked")
        subprocess.run(["chattr", "+i", self.host("/Library/locked")], check=True)
        harness.run_sandbox("destroy", root)
        self.assertFalse(os.path.lexists(root))
        mounts = subprocess.run(["findmnt", "-n", "--mountpoint", root],
                                capture_output=True, text=True).stdout
        self.assertEqual(mounts, "")

    def test_it_refuses_a_folder_that_is_not_a_sandbox(self):
        plain = self.host("/tmp/plain")
        os.mkdir(plain)
        with open(os.path.join(plain, "keep"), "w"):
            pass
        for command in (["run", plain, "--", "/bin/true"], ["destroy", plain],
                        ["copy", plain, "/bin/true", "/tmp/true"]):
            with self.subTest(command=command[0]):
                done = harness.run_sandbox(*command, check=False)
                self.assertEqual(done.returncode, 125)
                self.assertTrue(os.path.exists(os.path.join(plain, "keep")))

    def test_it_refuses_to_run_without_root(self):
        uid, gid = harness.NOBODY_IDS
        target = self.host("/tmp/not-made")
        done = subprocess.run(["setpriv", f"--reuid={uid}", f"--regid={gid}", "--clear-groups",
                               "/bin/bash", harness.sandbox_script(), "create", target],
                              capture_output=True, text=True)
        self.assertEqual(done.returncode, 125)
        self.assertIn("must be run as root", done.stderr)
        self.assertFalse(os.path.lexists(target))


class LaunchctlStandInTests(SandboxTestCase):

    def setUp(self):
        super().setUp()
        self.write_file(PROGRAM, b"#!/bin/sh\n", mode=0o755)

    def load(self, contents):
        self.write_file(JOB, contents)
        return self.run_in_sandbox("/usr/sbin/launchctl", "load", JOB).status

    def test_load_accepts_only_what_launchd_would(self):
        cases = {
            "the five keys": (plistlib.dumps(job()), 0),
            "a key missing": (plistlib.dumps(job(EnableTransactions=None)), 1),
            "a key too many": (plistlib.dumps(job(UserName="root")), 1),
            "a missing program": (plistlib.dumps(job(ProgramArguments=["/Library/none"])), 1),
            "no program": (plistlib.dumps(job(ProgramArguments=[])), 1),
            "binary format": (plistlib.dumps(job(), fmt=plistlib.FMT_BINARY), 1),
            "not a dictionary": (plistlib.dumps([1]), 1),
            "not a property list": (b"RunAtLoad = true\n", 1),
        }
        for name, (contents, status) in cases.items():
            with self.subTest(name):
                self.assertEqual(self.load(contents), status)

    def test_load_of_a_missing_file_fails(self):
        self.assertEqual(self.run_in_sandbox("/usr/sbin/launchctl", "load", JOB).status, 1)

    def test_calls_are_logged_and_answered_with_the_chosen_status(self):
        self.set_launchctl_status(start=3, stop=0)
        statuses = [self.run_in_sandbox("/usr/sbin/launchctl", *args).status
                    for args in (["start", "a.b"], ["stop", "a.b"], ["unload", "/x y"])]
        self.assertEqual(statuses, [3, 0, 0])
        self.assertEqual(self.launchctl_calls(), ["start a.b", "stop a.b", "unload /x y"])

    def test_a_chosen_failure_of_load_wins_over_a_good_job_file(self):
        self.set_launchctl_status(load=2)
        self.assertEqual(self.load(plistlib.dumps(job())), 2)

    def test_observations_record_ids_and_the_environment_as_started(self):
        self.observe_launchctl()
        for user in (harness.UNPRIVILEGED, None):
            self.run_in_sandbox("/usr/bin/env", "-i", "A=b", "/usr/sbin/launchctl", "list",
                                user=user)
        uid, gid = harness.NOBODY_IDS
        seen = [(o["args"], o["uids"], o["gids"], o["environment"])
                for o in self.launchctl_observations()]
        self.assertEqual(seen, [(["list"], [uid] * 3, [gid] * 3, {"A": "b"}),
                                (["list"], [0] * 3, [0] * 3, {"A": "b"})])
