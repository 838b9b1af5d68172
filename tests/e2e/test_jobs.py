"""The server's launchd job through the real binary: start, stop, restart and
remove, what they leave on disk and what they ask of launchctl."""

import fcntl
import os
import subprocess

from expected import (DAEMONS, DATA, HELPER, JOB, JOB_FILE, LABEL, NOBODY, NOT_STARTED, OK, ROOT, RUN_LOCK, SERVER,
                      START_CALLS, STOP_CALLS, SUPPORT, linked, locked)
from harness import SandboxTestCase, log_messages

ELSEWHERE = "/opt/elsewhere"


class JobTestCase(SandboxTestCase):

    def install_executables(self):
        """Stands in for a bootstrap: both executables in place, and the run
        lock, which every command that changes state takes."""
        self.write_file(SERVER, b"#!/bin/sh\nexit 0\n", mode=0o755)
        self.write_file(HELPER, b"\x7fELF stand-in", mode=0o4755)
        self.write_file(RUN_LOCK, b"", mode=0o600)

    def install_job(self):
        self.install_executables()
        self.assertResult(self.run_tool("start"), OK, 0)
        self.take_launchctl_calls()


class StartTests(JobTestCase):

    def test_start_on_a_fresh_system_and_over_a_left_over_job_file(self):
        self.install_executables()
        for left_over in (False, True):
            with self.subTest(left_over=left_over):
                if left_over:
                    self.write_file(JOB_FILE, b"left over", mode=0o600, owner=NOBODY)
                self.assertResult(self.run_tool("start"), OK, 0)
                self.assertEqual(self.take_launchctl_calls(), START_CALLS)
                self.assertEqual((self.mode(DAEMONS), self.owner(DAEMONS)), (0o700, ROOT))
                self.assertEqual((self.mode(DATA), self.owner(DATA)), (0o1777, ROOT))
                self.assertEqual((self.mode(JOB_FILE), self.owner(JOB_FILE)), (0o644, ROOT))
                self.assertEqual(self.read_plist(JOB_FILE), JOB)

    def test_a_refused_load_leaves_the_job_file_and_sends_no_start(self):
        # Refused by launchctl, or because the server is missing.
        for installed in (False, True):
            with self.subTest(installed=installed):
                if installed:
                    self.install_executables()
                    self.set_launchctl_status(load=1)
                self.assertResult(self.run_tool("start"), NOT_STARTED, 1)
                self.assertEqual(self.take_launchctl_calls(), START_CALLS[:1])
                self.assertEqual(self.read_plist(JOB_FILE), JOB)

    def test_a_failed_start_request_fails_the_command(self):
        self.install_executables()
        self.set_launchctl_status(start=1)
        self.assertResult(self.run_tool("start"), NOT_STARTED, 1)
        self.assertEqual(self.launchctl_calls(), START_CALLS)
        self.assertTrue(self.exists(JOB_FILE))

    def test_the_job_folder_is_brought_into_range(self):
        # (mode, owner) before -> mode after; owner and group always become 0.
        cases = [
            ((0o777, ROOT), 0o700),
            ((0o720, ROOT), 0o700),
            ((0o600, ROOT), 0o700),
            ((0o755, ROOT), 0o755),
            ((0o750, ROOT), 0o750),
            ((0o750, NOBODY), 0o750),
            ((0o755, (0, 65534)), 0o755),
        ]
        self.install_executables()
        for (mode, owner), expected in cases:
            with self.subTest(mode=oct(mode), owner=owner):
                self.make_dir(DAEMONS, mode, owner)
                self.assertResult(self.run_tool("start"), OK, 0)
                self.assertEqual((self.mode(DAEMONS), self.owner(DAEMONS)), (expected, ROOT))
                self.remove_tree(DAEMONS)

    def test_the_data_folder_is_opened_to_all_and_given_to_root(self):
        self.install_executables()
        self.make_dir(DATA, 0o755, NOBODY)
        self.assertResult(self.run_tool("start"), OK, 0)
        self.assertEqual((self.mode(DATA), self.owner(DATA)), (0o1777, ROOT))


class StopAndRemoveTests(JobTestCase):

    def test_with_nothing_installed_they_succeed_again_and_again(self):
        # launchctl fails for a job it does not know; that is no error. An
        # open support folder is not judged while there is nothing to delete.
        self.set_launchctl_status(remove=1, unload=1)
        self.make_dir(SUPPORT, 0o777, NOBODY)
        for word in ("stop", "stop", "remove", "remove"):
            with self.subTest(word=word):
                self.assertResult(self.run_tool(word), OK, 0)
                self.assertEqual(self.take_launchctl_calls(), STOP_CALLS)
        self.assertFalse(self.exists(JOB_FILE))
        self.assertEqual((self.mode(SUPPORT), self.owner(SUPPORT)), (0o777, NOBODY))

    def test_stop_removes_the_job_file_only(self):
        self.install_job()
        before = set(self.snapshot())
        self.assertResult(self.run_tool("stop"), OK, 0)
        self.assertEqual(self.launchctl_calls(), STOP_CALLS)
        self.assertEqual(before - set(self.snapshot()), {JOB_FILE})

    def test_remove_deletes_the_job_file_and_both_executables_and_no_folder(self):
        self.install_job()
        before = set(self.snapshot())
        self.assertResult(self.run_tool("remove"), OK, 0)
        self.assertEqual(self.launchctl_calls(), STOP_CALLS)
        self.assertEqual(before - set(self.snapshot()), {JOB_FILE, SERVER, HELPER})
        for folder in (DAEMONS, SUPPORT, DATA):
            self.assertTrue(self.exists(folder), folder)

    def test_a_locked_job_file_or_folder_stops_remove(self):
        self.install_job()
        for path in (JOB_FILE, DAEMONS):
            with self.subTest(locked=path):
                self.lock(path)
                self.assertResult(self.run_tool("remove"), locked(path), 1)
                self.assertEqual(self.take_launchctl_calls(), STOP_CALLS)
                for item in (JOB_FILE, SERVER, HELPER):
                    self.assertTrue(self.exists(item), item)
                subprocess.run(["chattr", "-i", self.host(path)], check=True)


class JobFileJudgementTests(JobTestCase):
    """launchctl is handed a job file only when root alone could have laid
    it; what killed runs left in the job folder goes, what live runs hold
    stays."""

    def test_a_job_file_root_may_not_have_laid_is_stopped_by_label_alone(self):
        self.install_executables()
        for owner, mode in ((NOBODY, 0o644), (ROOT, 0o664), (ROOT, 0o646)):
            with self.subTest(owner=owner, mode=oct(mode)):
                self.write_file(JOB_FILE, b"someone else's job", mode=mode, owner=owner)
                result = self.run_tool("stop")
                self.assertResult(result, OK, 0)
                self.assertEqual(self.take_launchctl_calls(), [f"remove {LABEL}"])
                self.assertEqual(log_messages(result.stderr), [
                    f"Job file {JOB_FILE} is not one only root could have laid there; "
                    "the job is stopped by its label alone."])
                self.assertFalse(self.exists(JOB_FILE))

    def test_start_stop_and_remove_delete_what_killed_runs_left_and_only_that(self):
        self.install_executables()
        dead, live, other = (f"{DAEMONS}/.{LABEL}.plist.0123456789ab", f"{DAEMONS}/.{LABEL}.plist.live",
                             f"{DAEMONS}/.{LABEL}.plistx")
        for command in ("start", "stop", "remove"):
            with self.subTest(command=command):
                for path in (dead, live, other):
                    self.write_file(path, b"left")
                with open(self.host(live), "rb") as held:  # as a live run holds its temporary
                    fcntl.flock(held, fcntl.LOCK_EX)
                    self.assertResult(self.run_tool(command), OK, 0)
                job = {f"{LABEL}.plist"} if command == "start" else set()
                self.assertEqual(set(os.listdir(self.host(DAEMONS))), {os.path.basename(live), os.path.basename(other)} | job)

    def test_every_run_that_takes_the_run_lock_clears_dead_runs_staging_copies(self):
        # Under the run lock no other run that stages is alive: what is left,
        # and not held, was left by a run that died.
        self.install_executables()
        staging = f"{SUPPORT}/.staging"
        for command in ("restart", "stop", "start", "remove"):
            with self.subTest(command=command):
                self.make_dir(staging, 0o700)
                for path in (f"{SUPPORT}/.helper.0123456789ab", f"{staging}/helper.0123456789ab"):
                    self.write_file(path, b"left", mode=0o600)
                self.write_file(f"{staging}/held", b"live", mode=0o600)
                with open(self.host(f"{staging}/held"), "rb") as held:  # as a live run holds its copy
                    fcntl.flock(held, fcntl.LOCK_EX)
                    self.assertResult(self.run_tool(command), OK, 0)
                self.assertEqual(os.listdir(self.host(staging)), ["held"])
                self.assertFalse(self.exists(f"{SUPPORT}/.helper.0123456789ab"))


class LinkedFolderTests(JobTestCase):
    """Root never creates, writes or deletes through a symbolic link at the
    job folder or the data folder, wherever it leads and whoever laid it."""

    def test_start_refuses_a_link_at_either_folder_and_changes_nothing(self):
        self.install_executables()
        self.make_dir(ELSEWHERE)
        for folder in (DAEMONS, DATA):
            with self.subTest(folder=folder):
                os.symlink(ELSEWHERE, self.root + folder)
                before = self.snapshot()
                self.assertResult(self.run_tool("start"), linked(folder), 1)
                self.assertUnchanged(before)
                os.remove(self.root + folder)
                self.make_dir(DAEMONS, 0o700)  # as start makes it, before it judges the data folder
        self.assertEqual(self.launchctl_calls(), [])

    def test_stop_and_remove_leave_a_job_file_reached_through_a_link(self):
        self.install_executables()
        self.write_file(f"{ELSEWHERE}/{LABEL}.plist", b"someone else's job")
        os.symlink(ELSEWHERE, self.root + DAEMONS)
        before = self.snapshot()
        for word in ("stop", "remove"):
            with self.subTest(word=word):
                self.assertResult(self.run_tool(word), linked(DAEMONS), 1)
        self.assertUnchanged(before)


class RestartTests(JobTestCase):

    def test_restart_asks_launchd_to_stop_the_job_and_nothing_else(self):
        self.write_file(RUN_LOCK, b"", mode=0o600)  # made by the first command that changes state
        for status in (0, 1):  # 1: no job loaded
            with self.subTest(status=status):
                self.set_launchctl_status(stop=status)
                before = self.snapshot()
                self.assertResult(self.run_tool("restart"), OK, 0)
                self.assertEqual(self.take_launchctl_calls(), [f"stop {LABEL}"])
                self.assertUnchanged(before)
