#!/usr/bin/env python3
"""Puts deliberate faults into the station's code one at a time and tells which ones its tests catch.

Each fault names a source file, an exact piece of its text, what to put there instead, and the test
programs that ought to notice. For every fault the checker swaps the text in, builds those programs,
runs them, and puts the file back as it was (also when interrupted). A fault is caught when any of
its programs exits non-zero; one that does not build is reported as unusable, since a compiler error
proves nothing about the tests.

Faults live in tests/faults/*.faults, one block each:

    [area.short-name]
    file = src/config/Schedules.cpp
    tests = config_tests engine_tests:StationTest.*
    why = the last minute of a window is left out
    <<<
    exact text, found exactly once in the file
    ===
    the text put in its place
    >>>

A test is a program in the build's bin folder, optionally with ':' and a GoogleTest filter (or, for a
Qt Test program, its test function names separated by ','). Usage:

    scripts/fault-check.py [--build DIR] [--only PREFIX ...] [--list] [FAULT FILES...]
"""
import argparse
import glob
import os
import pathlib
import re
import signal
import subprocess
import sys
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent
HEADER = re.compile(r"^\[[a-z0-9][a-z0-9._-]*\]$", re.M)
BLOCK = re.compile(r"^\[(?P<name>[a-z0-9][a-z0-9._-]*)\]\n(?P<keys>(?:[a-z]+ *=[^\n]*\n)+)<<<\n(?P<find>.*?)\n===\n(?P<replace>.*?)\n?>>>$",
                   re.M | re.S)


class Fault:
    def __init__(self, name, keys, find, replace, origin):
        self.name, self.find, self.replace, self.origin = name, find, replace, origin
        self.file = keys.get("file", "")
        self.tests = keys.get("tests", "").split()
        self.why = keys.get("why", "")
        if not self.file or not self.tests:
            raise SystemExit(f"{origin}: fault {name} needs 'file' and 'tests'")


def read_faults(paths):
    faults = []
    for path in paths:
        text = path.read_text(encoding="utf-8")
        text = "\n".join(line for line in text.split("\n") if not line.startswith("#"))
        blocks = list(BLOCK.finditer(text))
        if len(HEADER.findall(text)) != len(blocks):
            raise SystemExit(f"{path}: a fault block is malformed (expected [name], keys, <<<, ===, >>>)")
        for m in blocks:
            keys = {}
            for line in m.group("keys").splitlines():
                key, _, value = line.partition("=")
                keys[key.strip()] = value.strip()
            faults.append(Fault(m.group("name"), keys, m.group("find"), m.group("replace"), path.name))
    names = [f.name for f in faults]
    duplicates = {n for n in names if names.count(n) > 1}
    if duplicates:
        raise SystemExit(f"fault names used twice: {', '.join(sorted(duplicates))}")
    return faults


def programs(tests):
    return sorted({t.split(":", 1)[0] for t in tests})


def build(build_dir, targets):
    result = subprocess.run(["cmake", "--build", str(build_dir), "--target", *targets],
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    return result.returncode == 0, result.stdout


def run_test(build_dir, test, timeout):
    program, _, selection = test.partition(":")
    path = build_dir / "bin" / program
    command = [str(path)]
    # GoogleTest programs are those whose cases CTest discovers; the others are Qt Test programs.
    gtest = any((build_dir / "tests").glob(f"{glob.escape(program)}[[]*]_include.cmake"))
    if selection:
        command += [f"--gtest_filter={selection}"] if gtest else selection.split(",")
    if gtest:
        command.append("--gtest_brief=1")
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    # A session of its own, so that a timeout or an interruption also ends the stations and peers
    # the test started.
    process = subprocess.Popen(command, cwd=build_dir, env=env, stdout=subprocess.PIPE,
                               stderr=subprocess.STDOUT, start_new_session=True)
    try:
        output, _ = process.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        return False, "timed out"
    finally:
        try:
            os.killpg(process.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        process.wait()
    return process.returncode == 0, output.decode(errors="replace")[-2000:]


def stop_on_signal(number, _frame):
    # Unwinds through the restoring code below, so that an interrupted run never leaves a fault in place.
    raise SystemExit(128 + number)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=str(ROOT / "build"), help="a configured build folder")
    parser.add_argument("--only", nargs="*", default=[], help="run only faults whose name starts so")
    parser.add_argument("--list", action="store_true", help="list the faults and stop")
    parser.add_argument("--timeout", type=int, default=300, help="seconds one test program may run")
    parser.add_argument("files", nargs="*", help="fault files (default: tests/faults/*.faults)")
    args = parser.parse_args()

    files = [pathlib.Path(f) for f in args.files] or sorted((ROOT / "tests" / "faults").glob("*.faults"))
    faults = read_faults(files)
    if args.only:
        faults = [f for f in faults if any(f.name.startswith(p) for p in args.only)]
    if args.list:
        for f in faults:
            print(f"{f.name:45} {f.file}  [{' '.join(f.tests)}]  {f.why}")
        print(f"{len(faults)} faults")
        return 0

    build_dir = pathlib.Path(args.build).resolve()
    for number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(number, stop_on_signal)
    # Every fault must still fit the code it was written for before any is tried.
    for f in faults:
        source = (ROOT / f.file)
        if not source.is_file():
            raise SystemExit(f"{f.name}: no file {f.file}")
        count = source.read_text(encoding="utf-8").count(f.find)
        if count != 1:
            raise SystemExit(f"{f.name}: its text occurs {count} times in {f.file}, not once")

    # The unchanged code must pass the tests, or a failure would prove nothing.
    targets = sorted({p for f in faults for p in programs(f.tests)})
    ok, log = build(build_dir, targets)
    if not ok:
        print(log[-4000:])
        raise SystemExit("the unchanged code does not build")
    baseline_failures = []
    for test in sorted({t for f in faults for t in f.tests}):
        passed, output = run_test(build_dir, test, args.timeout)
        if not passed:
            baseline_failures.append(test)
            print(output)
    if baseline_failures:
        raise SystemExit(f"the unchanged code fails {', '.join(baseline_failures)}")

    caught, missed, unusable = [], [], []
    for number, f in enumerate(faults, 1):
        source = ROOT / f.file
        original = source.read_bytes()
        started = time.monotonic()
        try:
            source.write_bytes(original.replace(f.find.encode(), f.replace.encode(), 1))
            built, log = build(build_dir, programs(f.tests))
            if not built:
                unusable.append(f)
                verdict = "UNUSABLE (does not build)"
            else:
                failing = [t for t in f.tests if not run_test(build_dir, t, args.timeout)[0]]
                (caught if failing else missed).append(f)
                verdict = f"caught by {' '.join(failing)}" if failing else "MISSED"
        finally:
            source.write_bytes(original)
        print(f"[{number}/{len(faults)}] {f.name}: {verdict} ({time.monotonic() - started:.0f} s)", flush=True)

    # Leave the build matching the restored code.
    build(build_dir, targets)
    print()
    for f in missed:
        print(f"missed: {f.name} ({f.file}: {f.why})")
    for f in unusable:
        print(f"unusable: {f.name} ({f.file})")
    print(f"{len(caught)} caught, {len(missed)} missed, {len(unusable)} unusable, of {len(faults)} faults")
    return 0 if not unusable else 1


if __name__ == "__main__":
    sys.exit(main())
