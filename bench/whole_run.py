#!/usr/bin/env python3
"""Times whole runs of the tool against a plain stdio port of it.

Generates a 2,000,000-sample signal file, then runs, interleaved, the tool,
the stdio port (bench/stdio_port.cpp, target stdio_port) and the floor (the
input read once and written twice by tee), each with its answers piped in
and in a new session without a controlling terminal, so the tool's final
key wait ends at once. Prints the median wall times, the ratios and the
peak memory. Standard library only.
"""

import argparse
import math
import os
import random
import re
import resource
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time

SAMPLES = 2_000_000
TIME_STEP = 1e-4
SIGNAL_NAME = "signal.txt"
RESULT_NAMES = ("filtered.txt", "residual.txt")
FLOOR_COPIES = ("copy1.txt", "copy2.txt")
COMPLETED_STATUS = 1


def exponent_form(value, digits_after_point):
    """C's exponent form widened to three exponent digits, as the tool writes."""
    return re.sub(r"e([+-])(\d\d)$", r"e\g<1>0\2", "%.*e" % (digits_after_point, value))


def write_signal(path):
    """A noisy sine sampled every 1e-4 s, in the tool's result-file layout."""
    generator = random.Random(20071009)
    with open(path, "w", newline="") as signal_file:
        lines = []
        for i in range(SAMPLES):
            amplitude = math.sin(2.0 * math.pi * 50.0 * i * TIME_STEP) + generator.gauss(0.0, 0.3)
            lines.append("%s \t %s \r\n" % (exponent_form(i * TIME_STEP, 7), exponent_form(amplitude, 5)))
            if len(lines) == 100_000:
                signal_file.write("".join(lines))
                lines.clear()
        signal_file.write("".join(lines))


def remove_if_present(folder, names):
    for name in names:
        try:
            os.remove(os.path.join(folder, name))
        except FileNotFoundError:
            pass


def timed_run(command, folder, timeout, stdin_bytes=None, stdin_path=None, keep_console=True):
    """Runs `command` in `folder` in a new session; returns (seconds, status, peak KiB, console).

    A run that outlasts `timeout` seconds is killed (its whole session), so
    a broken build cannot hang the script; its status then tells of it.
    Without `keep_console` the output goes to /dev/null.
    """
    console_path = os.path.join(folder, "console.txt") if keep_console else os.devnull
    with open(console_path, "wb") as console:
        stdin_file = open(stdin_path, "rb") if stdin_path else subprocess.PIPE
        start = time.perf_counter()
        process = subprocess.Popen(command, cwd=folder, stdin=stdin_file, stdout=console,
                                   stderr=subprocess.STDOUT, start_new_session=True)
        if stdin_path:
            stdin_file.close()
        else:
            process.stdin.write(stdin_bytes)
            process.stdin.close()
        watchdog = threading.Timer(timeout, os.killpg, (process.pid, signal.SIGKILL))
        watchdog.start()
        # wait4 gives the usage of this one child, peak memory included.
        _, wait_status, usage = os.wait4(process.pid, 0)
        watchdog.cancel()
        seconds = time.perf_counter() - start
        process.returncode = os.waitstatus_to_exitcode(wait_status)
    if not keep_console:
        return seconds, process.returncode, usage.ru_maxrss, ""
    with open(console_path, "rb") as console:
        text = console.read().decode("latin-1")
    return seconds, process.returncode, usage.ru_maxrss, text


def check_run(name, status, console, expected_status):
    if status != expected_status:
        sys.exit("%s ended with status %d, not %d (negative: killed by that signal):\n%s"
                 % (name, status, expected_status, console[-2000:]))
    if expected_status == COMPLETED_STATUS and "last=%d" % (SAMPLES - 1) not in console:
        sys.exit("%s did not load every sample:\n%s" % (name, console[-2000:]))


def main():
    repository = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(repository, "build", "release"),
                        help="build folder holding tarnvale and bench/stdio_port (default build/release)")
    parser.add_argument("--folder", help="work folder for the signal and result files "
                        "(default: a temporary folder, removed at the end)")
    parser.add_argument("--window", type=int, default=31, help="window size answered (default 31)")
    parser.add_argument("--passes", type=int, default=1, help="number of passes answered (default 1)")
    parser.add_argument("--runs", type=int, default=5, help="runs of each program (default 5)")
    parser.add_argument("--timeout", type=float, default=300,
                        help="seconds after which a run is killed (default 300)")
    parser.add_argument("--write-signal", metavar="PATH", help=argparse.SUPPRESS)
    options = parser.parse_args()
    if options.write_signal:
        write_signal(options.write_signal)
        return

    tool = os.path.abspath(os.path.join(options.build, "tarnvale"))
    port = os.path.abspath(os.path.join(options.build, "bench", "stdio_port"))
    tee = shutil.which("tee")
    for program in (tool, port, tee):
        if not program or not os.access(program, os.X_OK):
            sys.exit("missing program: %s (build the targets tarnvale and stdio_port)" % program)

    own_folder = options.folder is None
    folder = tempfile.mkdtemp(prefix="tarnvale_whole_run_") if own_folder else os.path.abspath(options.folder)
    os.makedirs(folder, exist_ok=True)
    try:
        signal_path = os.path.join(folder, SIGNAL_NAME)
        print("generating %s (%d samples) ..." % (signal_path, SAMPLES), flush=True)
        # In a process of its own: a child's peak memory counts the memory
        # of this process at the moment it starts the child, so this one
        # must stay small.
        subprocess.run([sys.executable, os.path.abspath(__file__), "--write-signal", signal_path], check=True)
        answers = ("%s %s %s %d %d\n" % (SIGNAL_NAME, RESULT_NAMES[0], RESULT_NAMES[1],
                                        options.window, options.passes)).encode()

        programs = {
            "tool": lambda: timed_run([tool], folder, options.timeout, stdin_bytes=answers),
            "stdio port": lambda: timed_run([port], folder, options.timeout, stdin_bytes=answers),
            "floor (tee)": lambda: timed_run([tee] + list(FLOOR_COPIES), folder, options.timeout,
                                                stdin_path=signal_path, keep_console=False),
        }
        expected_status = {"tool": COMPLETED_STATUS, "stdio port": COMPLETED_STATUS, "floor (tee)": 0}
        seconds = {name: [] for name in programs}
        peak_kib = {name: 0 for name in programs}
        order = list(programs)
        for run in range(options.runs):
            # Rotate the order, so no program always runs right after another.
            for name in order[run % len(order):] + order[:run % len(order)]:
                remove_if_present(folder, RESULT_NAMES + FLOOR_COPIES)
                elapsed, status, peak, console = programs[name]()
                check_run(name, status, console, expected_status[name])
                seconds[name].append(elapsed)
                peak_kib[name] = max(peak_kib[name], peak)

        median = {name: statistics.median(times) for name, times in seconds.items()}
        print()
        print("window %d, %d pass(es), %d samples, %d runs each, input %.1f MB"
              % (options.window, options.passes, SAMPLES, options.runs, os.path.getsize(signal_path) / 1e6))
        print()
        print("| program     | median s | fastest s | slowest s | peak MiB |")
        print("|-------------|---------:|----------:|----------:|---------:|")
        for name in programs:
            print("| %-11s | %8.3f | %9.3f | %9.3f | %8.1f |" % (name, median[name], min(seconds[name]),
                                                              max(seconds[name]), peak_kib[name] / 1024))
        print()
        print("port / tool  : %.2f" % (median["stdio port"] / median["tool"]))
        print("tool / floor : %.2f" % (median["tool"] / median["floor (tee)"]))
        print("tool peak memory: %.1f MiB" % (peak_kib["tool"] / 1024))
        print("(no figure can be below this script's own %.1f MiB, counted in every child's peak)"
              % (resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024))
    finally:
        if own_folder:
            shutil.rmtree(folder, ignore_errors=True)
        else:
            remove_if_present(folder, (SIGNAL_NAME, "console.txt") + RESULT_NAMES + FLOOR_COPIES)


if __name__ == "__main__":
    main()
