#!/usr/bin/python3
"""What an unprivileged caller does to the set-user-ID tool. Copied into the
sandbox and run there as that user; test_attacks drives it.

    attacker.py launch [OPTIONS] -- TOOL ARGS...
        Prepares the process state the tool inherits (umask, descriptors,
        resource limits, signals, timers, working directory), then becomes
        the tool.

    attacker.py stuck SETTINGS
        Runs the tool once with standard error a full pipe that is kept open
        and never read; prints how the run ended, how long it took, whether
        anything it started is still alive, and the space it left taken.

    attacker.py race SETTINGS
        Runs bootstrap again and again while a second process swaps the
        bundle's helper between a signed and an unsigned file and a third
        watches the support directory for any root-owned executable that is
        neither of the signed executables. Prints a JSON summary.

    attacker.py shrink SETTINGS
        Runs the tool again and again while a second process cuts the
        bundle's helper to nothing and writes it back, in place. Prints the
        results (stdout and exit status of each run) as JSON.

    attacker.py fifo SETTINGS
        Makes the bundle's helper a named pipe, runs the tool once while a
        second process counts how often the pipe is opened for reading (each
        open also releases a reader that would block), and prints JSON.

    attacker.py terminal SETTINGS
        Runs the tool as the foreground job of a new terminal, types the
        interrupt, quit and suspend keys while the tool waits for launchctl,
        then lets launchctl go on; prints what the run printed and how it
        ended.

    attacker.py held SETTINGS
        Opens a file, runs the tool while holding it open, and prints the
        mode of the inode held afterwards.

    attacker.py lease SETTINGS
        Holds a lease on a bundle file, so that the tool's first open of it
        waits; while it waits, runs a second command to its end (or until it
        says it waits too), then lets the first go on. Prints both results.

    attacker.py together SETTINGS
        Runs commands at the same time and prints what each printed and
        which build the installed helper is afterwards.

SETTINGS is a JSON object; see each subcommand.
"""

import argparse
import fcntl
import hashlib
import itertools
import json
import os
import pty
import resource
import select
import signal
import stat
import subprocess
import sys
import termios
import time


def read(path):
    with open(path, "rb") as f:
        return f.read()


def digest(data):
    return hashlib.sha256(data).hexdigest()[:16]


# launch

def signal_number(name):
    return getattr(signal, name if name.startswith("SIG") else "SIG" + name)


def launch(argv):
    parser = argparse.ArgumentParser(prog="attacker.py launch")
    parser.add_argument("--cwd")
    parser.add_argument("--umask", type=lambda text: int(text, 8))
    parser.add_argument("--fsize", type=int, help="RLIMIT_FSIZE in bytes")
    parser.add_argument("--memory", type=int, help="RLIMIT_AS in bytes")
    parser.add_argument("--limit", action="append", default=[],
                        help="NAME=SOFT or NAME=SOFT:HARD, e.g. NOFILE=4 (the hard limit kept) or NPROC=1:1")
    parser.add_argument("--ignore", action="append", default=[], help="signal left ignored")
    parser.add_argument("--block", action="append", default=[], help="signal left blocked")
    parser.add_argument("--pending", action="append", default=[], help="signal left blocked and pending")
    parser.add_argument("--timer", type=float, help="ITIMER_REAL seconds, SIGALRM at its default")
    parser.add_argument("--close", action="append", type=int, default=[], help="descriptor left closed")
    parser.add_argument("--broken-stderr", action="store_true", help="stderr a pipe whose reader is gone")
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args(argv)
    command = args.command[1:] if args.command[:1] == ["--"] else args.command

    # Python itself ignores SIGPIPE and SIGXFSZ; the tool gets only what is asked.
    for number in (signal.SIGPIPE, signal.SIGXFSZ, signal.SIGALRM):
        signal.signal(number, signal.SIG_DFL)
    if args.cwd:
        os.chdir(args.cwd)
    if args.umask is not None:
        os.umask(args.umask)
    for limit, value in ((resource.RLIMIT_FSIZE, args.fsize), (resource.RLIMIT_AS, args.memory)):
        if value is not None:
            resource.setrlimit(limit, (value, value))
    for setting in args.limit:
        name, _, values = setting.partition("=")
        limit = getattr(resource, f"RLIMIT_{name}")
        soft, _, hard = values.partition(":")
        resource.setrlimit(limit, (int(soft), int(hard) if hard else resource.getrlimit(limit)[1]))
    for name in args.ignore:
        signal.signal(signal_number(name), signal.SIG_IGN)
    blocked = {signal_number(name) for name in args.block + args.pending}
    signal.pthread_sigmask(signal.SIG_BLOCK, blocked)
    for name in args.pending:
        os.kill(os.getpid(), signal_number(name))
    if args.timer:
        signal.setitimer(signal.ITIMER_REAL, args.timer)
    for fd in args.close:
        os.close(fd)
    if args.broken_stderr:
        reader, writer = os.pipe()
        os.close(reader)
        os.dup2(writer, 2)
    os.execv(command[0], command)


# Helper processes: each runs a loop, a generator that yields once a round,
# until told to stop, and hands back how often it went round.

class Stop(Exception):
    """Raised by the request to stop in a loop that may wait in a system
    call, so that it ends there and then."""


class Child:
    def __init__(self, loop, *args, interrupt=False):
        """interrupt: the request to stop ends the loop wherever it is, not
        only between rounds."""
        self._read, write = os.pipe()
        self.pid = os.fork()
        if self.pid == 0:
            try:
                os.close(self._read)
                stopping = []

                def stop(*_):
                    stopping.append(True)
                    if interrupt:
                        raise Stop()
                signal.signal(signal.SIGTERM, stop)
                count = 0
                try:
                    for _ in loop(*args):
                        count += 1
                        if stopping:
                            break
                except Stop:
                    pass
                os.write(write, str(count).encode())
            finally:
                os._exit(0)  # never back into the caller's code
        os.close(write)

    def stop(self):
        """Ends the loop; returns how often it went round."""
        os.kill(self.pid, signal.SIGTERM)
        os.waitpid(self.pid, 0)
        with os.fdopen(self._read, "rb") as f:
            return int(f.read() or b"0")


def swap(technique, target, sources):
    """Replaces target by each source in turn, atomically: a new link made
    beside it and renamed over it."""
    spare = target + ".next"
    for source in itertools.cycle(sources):
        if technique == "symlink":
            os.symlink(source, spare)
        else:
            os.link(source, spare)
        os.rename(spare, target)
        yield


def watch(directory, names, report):
    """Scans the directory for root-owned files that are executable or
    set-user-ID; any whose contents are not one of the signed files are
    recorded at once (an attacker would keep them open, to run later)."""
    while True:
        try:
            entries = os.listdir(directory)
        except OSError:
            entries = []
        for name in entries:
            path = os.path.join(directory, name)
            try:
                fd = os.open(path, os.O_RDONLY | os.O_NOFOLLOW | os.O_NONBLOCK)
            except OSError:
                continue
            try:
                status = os.fstat(fd)
                dangerous = status.st_mode & (stat.S_ISUID | 0o111)
                if stat.S_ISREG(status.st_mode) and status.st_uid == 0 and dangerous:
                    data = b"".join(iter(lambda: os.read(fd, 1 << 16), b""))
                    contents = names.get(data, digest(data))
                    if contents not in ("signed", "server"):
                        with open(report, "a", encoding="utf-8") as f:
                            f.write(json.dumps({"name": name, "mode": oct(stat.S_IMODE(status.st_mode)),
                                                "contents": contents}) + "\n")
            except OSError:
                pass
            finally:
                os.close(fd)
        yield


def installed_state(path, names):
    """How the installed file looks to the attacker after a run."""
    try:
        status = os.lstat(path)
    except FileNotFoundError:
        return "absent"
    if not stat.S_ISREG(status.st_mode):
        return f"not a regular file ({stat.filemode(status.st_mode)})"
    owner = f"{status.st_uid}:{status.st_gid}"
    return f"{names.get(read(path), 'other')} {oct(stat.S_IMODE(status.st_mode))} {owner}"


def run(command):
    done = subprocess.run(command, capture_output=True, timeout=60)
    return done.stdout.decode("utf-8", "replace").strip() or f"status {done.returncode}"


def tally(counts, key):
    counts[key] = counts.get(key, 0) + 1


def race(settings):
    """SETTINGS: tool, bundle, technique ("symlink" or "rename"), signed,
    unsigned, server (paths), support, report, rounds (the most), until
    (output -> how often it must have been seen before the race ends)."""
    s = settings
    helper = f"{s['bundle']}/Contents/MacOS/helper"
    names = {read(s["signed"]): "signed", read(s["server"]): "server", read(s["unsigned"]): "unsigned"}
    swapper = Child(swap, s["technique"], helper, (s["signed"], s["unsigned"]))
    watcher = Child(watch, s["support"], names, s["report"])
    outputs, states = {}, {}
    done = lambda: all(outputs.get(output, 0) >= count for output, count in s["until"].items())
    try:
        for _ in range(s["rounds"]):
            tally(outputs, run([s["tool"], "bootstrap", s["bundle"]]))
            tally(states, installed_state(f"{s['support']}/helper", names))
            if done():
                break
    finally:
        swapper.stop()
        watcher.stop()
    seen = []
    if os.path.exists(s["report"]):
        with open(s["report"], encoding="utf-8") as f:
            seen = [json.loads(line) for line in f]
    return {"outputs": outputs, "states": states, "seen": seen}


def cut_and_restore(path, data):
    fd = os.open(path, os.O_WRONLY)
    while True:
        os.ftruncate(fd, 0)
        os.pwrite(fd, data, 0)
        yield


def shrink(settings):
    """SETTINGS: command (the tool and its arguments), file, runs (the most:
    runs end once one answered other than OK)."""
    cutter = Child(cut_and_restore, settings["file"], read(settings["file"]))
    outputs = {}
    try:
        for _ in range(settings["runs"]):
            tally(outputs, run(settings["command"]))
            if set(outputs) != {"OK"}:
                break
    finally:
        cutter.stop()
    return {"outputs": outputs}


def open_writers(path):
    """Opens the pipe for writing again and again; each open waits for a
    reader, so the rounds say how often someone opened it for reading."""
    while True:
        os.close(os.open(path, os.O_WRONLY))
        yield


def fifo(settings):
    """SETTINGS: command, file."""
    os.remove(settings["file"])
    os.mkfifo(settings["file"], 0o755)
    writer = Child(open_writers, settings["file"], interrupt=True)
    try:
        output = run(settings["command"])
    finally:
        opens = writer.stop()
    return {"output": output, "opens": opens}


def wait_for(condition, seconds=30):
    """Polls until the condition holds; False when it never did."""
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.01)
    return True


def read_until(fd, marker=None, seconds=10):
    """Reads the terminal until the marker has come, or until it closes or
    stays silent for the seconds given."""
    seen = b""
    while (marker is None or marker not in seen) and select.select([fd], [], [], seconds)[0]:
        try:
            chunk = os.read(fd, 4096)
        except OSError:  # the last holder of the terminal has gone
            break
        if not chunk:
            break
        seen += chunk
    return seen


def how_it_ended(status):
    if status is None:
        return "still running"
    if os.WIFSTOPPED(status):
        return f"stopped by signal {os.WSTOPSIG(status)}"
    if os.WIFSIGNALED(status):
        return f"killed by signal {os.WTERMSIG(status)}"
    return f"exit {os.WEXITSTATUS(status)}"


def foreground_job(slave, command, report):
    """In a new session on the terminal, like a login shell: runs the
    command as the terminal's foreground job, in a process group of its own
    that the session leader keeps from being orphaned (the terminal's stop
    keys are not discarded), and reports how the job ended."""
    os.setsid()
    fcntl.ioctl(slave, termios.TIOCSCTTY, 0)
    job = os.fork()
    if job == 0:
        os.setpgid(0, 0)
        for fd in (0, 1, 2):
            os.dup2(slave, fd)
        os.execv(command[0], command)
    os.setpgid(job, job)
    signal.signal(signal.SIGTTOU, signal.SIG_IGN)
    os.tcsetpgrp(slave, job)
    os.write(report, f"{job}\n".encode())
    _, status = os.waitpid(job, os.WUNTRACED)
    os.write(report, how_it_ended(status).encode())
    os._exit(0)


def terminal(settings):
    """SETTINGS: command, calls (the stand-in's record), hold (its pipe).
    The keys are typed only once launchctl has been called, so after the
    privilege step; each is typed once its echo proves the terminal took the
    last one, and so signalled the job."""
    master, slave = pty.openpty()
    report, report_writer = os.pipe()
    leader = os.fork()
    if leader == 0:
        os.close(master)
        os.close(report)
        foreground_job(slave, settings["command"], report_writer)
    os.close(slave)
    os.close(report_writer)
    with os.fdopen(report, "rb") as reports:
        job = int(reports.readline())
        reached = wait_for(lambda: os.path.exists(settings["calls"]))
        typed = []
        for key, echo in ((b"\x03", b"^C"), (b"\x1c", b"^\\"), (b"\x1a", b"^Z")):
            os.write(master, key)
            typed.append(echo in read_until(master, echo))
        os.close(os.open(settings["hold"], os.O_WRONLY))
        output = read_until(master, b"\n", 10).decode("utf-8", "replace")
        ended = select.select([reports], [], [], 30)[0] and reports.read().decode()
    os.waitpid(leader, 0)
    return {"reached": reached, "typed": typed, "ended": ended or "still running", "output": output, "pid": job}


def held(settings):
    """SETTINGS: file, command."""
    fd = os.open(settings["file"], os.O_RDONLY)
    try:
        output = run(settings["command"])
        return {"output": output, "mode": oct(stat.S_IMODE(os.fstat(fd).st_mode))}
    finally:
        os.close(fd)


F_SETLEASE, F_GETLEASE = 1024, 1025  # Linux's fcntl commands


def output_until(stream, marker, seconds):
    """What the stream gives until it ends, or until the marker came and it
    then stayed silent for a moment; at most the seconds given."""
    seen, deadline = b"", time.monotonic() + seconds
    while time.monotonic() < deadline:
        quiet = 0.5 if marker in seen else deadline - time.monotonic()
        if not select.select([stream], [], [], max(quiet, 0))[0]:
            break
        chunk = os.read(stream.fileno(), 4096)
        if not chunk:
            break
        seen += chunk
    return seen.decode("utf-8", "replace")


def lease(settings):
    """SETTINGS: file (the caller's own), first and second (commands), marker
    (what the second prints when it waits)."""
    signal.signal(signal.SIGIO, signal.SIG_IGN)  # sent when the lease starts breaking
    fd = os.open(settings["file"], os.O_RDONLY)
    fcntl.fcntl(fd, F_SETLEASE, fcntl.F_WRLCK)
    first = subprocess.Popen(settings["first"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    # A lease being broken reads as the type it is to become.
    held = wait_for(lambda: fcntl.fcntl(fd, F_GETLEASE) != fcntl.F_WRLCK or first.poll() is not None)
    held = held and first.poll() is None
    second = subprocess.Popen(settings["second"], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    said = output_until(second.stderr, settings["marker"].encode(), 30)
    second_ended = second.poll() is not None
    fcntl.fcntl(fd, F_SETLEASE, fcntl.F_UNLCK)
    os.close(fd)
    outputs = [process.communicate(timeout=60)[0].decode("utf-8", "replace").strip() for process in (first, second)]
    return {"held": held, "second_ended_first": second_ended, "second_said": said,
            "first": outputs[0], "second": outputs[1]}


def together(settings):
    """SETTINGS: commands (run at the same time), helper (installed path),
    versions (digest() of a file to its name)."""
    runs = [subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
            for command in settings["commands"]]
    outputs = [run.communicate(timeout=60)[0].decode("utf-8", "replace").strip() for run in runs]
    try:
        state = settings["versions"].get(digest(read(settings["helper"])), "other")
    except FileNotFoundError:
        state = "absent"
    return {"outputs": outputs, "helper": state}


def full_pipe():
    """A pipe filled to the last byte; both ends blocking again."""
    reader, writer = os.pipe()
    os.set_blocking(writer, False)
    try:
        while True:
            os.write(writer, b"." * 4096)
    except BlockingIOError:
        pass
    try:
        while True:
            os.write(writer, b".")
    except BlockingIOError:
        pass
    os.set_blocking(writer, True)
    return reader, writer


def alive(session):
    """The processes of the session that have not ended."""
    found = []
    for entry in os.listdir("/proc"):
        try:
            with open(f"/proc/{entry}/stat", encoding="utf-8") as f:
                fields = f.read().rsplit(")", 1)[1].split()
            with open(f"/proc/{entry}/cmdline", "rb") as f:
                command = f.read().replace(b"\0", b" ").decode("utf-8", "replace")
        except (OSError, IndexError):
            continue
        if fields[0] != "Z" and int(fields[3]) == session:
            found.append({"pid": int(entry), "command": command.strip()})
    return found


def stuck(settings):
    """SETTINGS: command, wait (seconds), space (a path on the file system
    whose free space is told). The run has a session of its own, so that
    what it starts can be told from the rest."""
    free = lambda: (lambda v: v.f_bfree * v.f_frsize)(os.statvfs(settings["space"]))
    before = free()
    reader, writer = full_pipe()
    started = time.monotonic()
    run = subprocess.Popen(settings["command"], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=writer,
                           start_new_session=True)
    os.close(writer)  # the reader stays open, never read, until the end
    try:
        output, _ = run.communicate(timeout=settings["wait"])
        ended = f"exit {run.returncode}"
    except subprocess.TimeoutExpired:
        output, ended = b"", "still running"
    seconds = time.monotonic() - started
    time.sleep(0.2)  # for what the run killed to be gone
    summary = {"ended": ended, "seconds": seconds, "output": output.decode("utf-8", "replace"),
               "pid": run.pid, "alive": alive(run.pid), "taken": before - free()}
    os.close(reader)
    return summary


def main(argv):
    if argv[:1] == ["launch"]:
        launch(argv[1:])
    subcommands = {"race": race, "shrink": shrink, "fifo": fifo, "terminal": terminal, "held": held,
                   "lease": lease, "together": together, "stuck": stuck}
    if len(argv) != 2 or argv[0] not in subcommands:
        sys.exit(__doc__)
    print(json.dumps(subcommands[argv[0]](json.loads(argv[1])), sort_keys=True))


if __name__ == "__main__":
    main(sys.argv[1:])
