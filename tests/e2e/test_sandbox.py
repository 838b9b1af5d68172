"""The sandbox and the launchctl stand-in themselves: every other end-to-end
test trusts that writes stay inside and that the stand-in judges job files as
launchd would."""

import os
import plistlib
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

    def test_calls_are_logged_and_answered_with_the_chosen_status(self):
        self.set_launchctl_status(start=3, stop=0)
        statuses = [self.run_in_sandbox("/usr/sbin/launchctl", *args).status
                    for args in (["start", "a.b"], ["stop", "a.b"], ["unload", "/x y"])]
        self.assertEqual(statuses, [3, 0, 0])
        self.assertEqual(self.launchctl_calls(), ["start a.b", "stop a.b", "unload /x y"])

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
