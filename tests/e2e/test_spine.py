"""The command spine through the real binary: the command line, the result in
text and XML, the exit status, and the privilege step."""

import harness
from expected import (APP, JOB_FILE, LABEL, NOT_ROOT, OK, RESTART_CALLS, ROOT, SERVER, SHELL_PATH, USAGE,
                      not_recognized)
from harness import SandboxTestCase


class CommandLineTests(SandboxTestCase):

    def test_without_a_command_word_the_usage_line_alone(self):
        before = self.snapshot()
        for args in ([], ["-xml"], ["-xml", "-xml", "-xml"]):
            with self.subTest(args=args):
                result = self.run_tool(*args)
                self.assertResult(result, USAGE, 1)
                self.assertEqual(result.stderr, "")
        self.assertEqual(self.launchctl_calls(), [])
        self.assertUnchanged(before)

    def test_the_xml_switch_anywhere_the_word_in_any_case_and_extra_arguments_ignored(self):
        for args, xml in ((["-xml", "restart"], True), (["restart", "-xml"], True), (["-xml", "restart", "-xml"], True),
                          (["RESTART"], False), (["Restart"], False), (["restart", "now", "-v"], False)):
            with self.subTest(args=args):
                result = self.run_tool(*args)
                if xml:
                    self.assertXMLResult(result, {"success": True}, 0)
                else:
                    self.assertResult(result, OK, 0)
                self.assertEqual(self.take_launchctl_calls(), RESTART_CALLS)

    def test_unknown_words_are_reported_lower_cased_and_run_nothing(self):
        cases = {
            ("foo",): not_recognized("foo"),
            ("FoO", "start"): not_recognized("foo"),
            # Letters beyond ASCII are lower-cased too.
            ("STÁRT",): not_recognized("stárt"),
            # Only "-xml" itself is the switch; in other letters it is a word.
            ("-XML", "restart"): not_recognized("-xml"),
            # The reason is printed, never used as a format.
            ("%d%@%s%n",): not_recognized("%d%@%s%n"),
        }
        before = self.snapshot()
        for args, reason in cases.items():
            with self.subTest(args=args):
                self.assertResult(self.run_tool(*args), f"ERROR: {reason}\n", 1)
        self.assertEqual(self.launchctl_calls(), [])
        self.assertUnchanged(before)

    def test_failures_in_xml_hold_exactly_error_and_success(self):
        for args, reason in ((["-xml", "foo"], not_recognized("foo")),
                             (["%@%d", "-xml"], not_recognized("%@%d")),
                             # Characters XML cannot hold read back as U+FFFD;
                             # a byte that is not UTF-8 already did.
                             (["-xml", "a\x01\x1b[1m\x7f"], not_recognized("a\ufffd\ufffd[1m\x7f")),
                             (["-xml", "\ufffe\uffff\t\r\n"], not_recognized("\ufffd\ufffd\t\r\n")),
                             (["-xml", "\udcff"], not_recognized("\ufffd"))):
            with self.subTest(args=args):
                result = self.run_tool(*args)
                self.assertXMLResult(result, {"error": reason, "success": False}, 1)
                self.assertNotIn("ERROR", result.stdout)

    def test_bootstrap_and_check_without_a_path_fail_on_the_missing_argument(self):
        before = self.snapshot()
        # "CHEC" and the Kelvin sign is "check".
        for word in ("bootstrap", "check", "CHECK", "CHEC\u212a"):
            with self.subTest(word=word):
                result = self.run_tool(word)
                self.assertResult(result, "ERROR: index 0 beyond bounds for empty array\n", 1)
        # Nothing ran: asking for an install location would have created the
        # support directory.
        self.assertUnchanged(before)
        self.assertEqual(self.launchctl_calls(), [])


class PrivilegeTests(SandboxTestCase):

    WORDS = (["bootstrap", APP], ["check", APP], ["start"], ["stop"], ["restart"],
             ["remove"], ["START"], ["foo"], ["bootstrap"], ["check"])

    def test_without_root_every_word_fails_and_touches_nothing(self):
        before = self.snapshot()
        for args in self.WORDS:
            with self.subTest(args=args):
                result = self.run_tool(*args, user=harness.UNPRIVILEGED)
                self.assertResult(result, f"ERROR: {NOT_ROOT}\n", 1)
                result = self.run_tool("-xml", *args, user=harness.UNPRIVILEGED)
                self.assertXMLResult(result, {"error": NOT_ROOT, "success": False}, 1)
        self.assertEqual(self.launchctl_calls(), [])
        self.assertUnchanged(before)

    def test_a_set_user_id_copy_runs_its_shell_commands_fully_as_root(self):
        # A launchctl early on the caller's PATH must never be the one run.
        decoy = "/tmp/decoy/launchctl"
        self.write_file(decoy, b"#!/bin/sh\n: > /tmp/decoy-ran\n", mode=0o755)
        self.observe_launchctl()
        env = {"PATH": "/tmp/decoy:/usr/bin:/bin", "HOME": "/tmp", "LAUNCHCTL_X": "1"}
        result = self.run_tool("restart", user=harness.UNPRIVILEGED, setuid=True, env=env)
        self.assertFalse(self.exists("/tmp/decoy-ran"), "the caller's PATH was searched")
        self.assertResult(result, OK, 0)
        observations = self.launchctl_observations()
        self.assertEqual(len(observations), 1, observations)
        seen = observations[0]
        self.assertEqual(seen["args"], ["stop", LABEL])
        self.assertEqual((seen["uids"], seen["gids"]), ([0, 0, 0], [0, 0, 0]))
        # /bin/sh exports PWD of its own; everything else came from the tool.
        environment = dict(seen["environment"])
        environment.pop("PWD", None)
        self.assertEqual(environment, {"PATH": SHELL_PATH})

    def test_a_set_user_id_copy_creates_files_as_root_and_wheel(self):
        self.write_file(SERVER, b"#!/bin/sh\n", mode=0o755)
        result = self.run_tool("start", user=harness.UNPRIVILEGED, setuid=True)
        self.assertResult(result, OK, 0)
        # The job file's group is not enforced: it is the group the process
        # had when it created the file.
        self.assertEqual(self.owner(JOB_FILE), ROOT)
