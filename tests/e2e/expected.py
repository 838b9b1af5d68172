"""What the end-to-end tests expect of the tool, in one place: where it
installs, what the job is called, and the lines it prints."""

LABEL = "com.quennard.brenlow-server"
DAEMONS = "/Library/LaunchDaemons"
JOB_FILE = f"{DAEMONS}/{LABEL}.plist"
APP_SUPPORT = "/Library/Application Support"
SUPPORT = f"{APP_SUPPORT}/com.quennard.brenlow"
HELPER = f"{SUPPORT}/helper"
SERVER = f"{SUPPORT}/brenlowd"
SHARED = f"{SUPPORT}/Shared"
RUN_LOCK = f"{SUPPORT}/.lock"
DATA = f"{SUPPORT}/data"
APP = "/Applications/Brenlow.app"

ROOT = (0, 0)
NOBODY = (65534, 65534)

JOB = {
    "RunAtLoad": True,
    "KeepAlive": {"SuccessfulExit": False},
    "EnableTransactions": True,
    "Label": LABEL,
    "ProgramArguments": [SERVER],
}
START_CALLS = [f"load {JOB_FILE}", f"start {LABEL}"]
STOP_CALLS = [f"remove {LABEL}", f"unload {JOB_FILE}"]
RESTART_CALLS = [f"stop {LABEL}"]
SHELL_PATH = "/usr/bin:/bin:/usr/sbin:/sbin"

OK = "OK\n"
USAGE = "helper is used to install, start, update and remove the brenlowd process.\n"
NO_BUNDLE = "ERROR: Could not load app bundle\n"
NOT_VALID = "ERROR: Code Signature Validation Failed\n"
HELPER_UPDATE = "ERROR: Helper Needs Update\n"
SERVER_UPDATE = "ERROR: Server Needs Update\n"
PERMISSIONS = "ERROR: Helper Permissions Incorrect\n"
NOT_STARTED = "ERROR: The server could not be started.\n"
NOT_ROOT = "Not Running As Root"


def locked(path):
    return f"ERROR: Path {path} is locked by the user.\n"


def linked(folder):
    return f"ERROR: Directory {folder} is a symbolic link; it must be a real directory.\n"


def unsafe(folder):
    return (f"ERROR: Directory {folder} is not safe to write into: it must belong to root "
            "and be writable by no one else.\n")


def not_recognized(word):
    return f'Command "{word}" Not Recognized'
