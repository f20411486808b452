#!/usr/bin/env python3
"""Kills lumivex-batch (SIGKILL, as End task or a power cut would) at random moments while it turns
nine pages, over and over, and checks after every kill that nothing is lost: each page holds its
original bytes or the turned result (or, where the kill cut the platform's two-rename replace in two,
its original bytes under the set-aside name, beside the result), no page is hidden, every backup is a
byte copy of its page's original, whatever else lies beside them is a leftover of the program, hidden
unless it is the page set aside, the whole result or empty, at most one per page that was in progress. A
run that names the untouched pages again then turns each of them exactly once.

Usage: kill_test.py BATCH_EXE WINE_RUN [KILLS]"""
import os
import random
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path

PAGES = ["a.png", "b.png", "c.png", "d.png", "e.bmp", "f.bmp", "g.bmp", "h.jpg", "i.jpg"]
HIDDEN = 0x2
failures = []
seen = {"pages turned": 0, "backed up, not yet turned": 0, "set aside by the replace": 0, "leftovers": 0}


def check(condition, message):
    if not condition:
        failures.append(message)


def make_pages(folder):
    """PNG pages of gradients, 1-bit BMP pages and two JPEG pages, 4:2:0: h.jpg's height holds whole
    blocks (its clockwise turn moves the coefficients), i.jpg's does not (it is encoded again)."""
    for index, name in enumerate(PAGES):
        shape = f"gradient:red-blue -rotate {index * 10}" if name.endswith(".png") else f"-seed {index} plasma:fractal"
        colours = {".png": "png24:", ".bmp": "-monochrome BMP3:", ".jpg": "-quality 90 -sampling-factor 2x2 JPEG:"}
        size = "900x1202" if name == "i.jpg" else "900x1200"
        subprocess.run(f"/usr/bin/convert -size {size} {shape} -gravity center -extent {size} "
                       f"-units PixelsPerInch -density 600 {colours[os.path.splitext(name)[1]]}{folder / name}",
                       shell=True, check=True)


def run(exe, wine_run, folder, names):
    return subprocess.Popen([wine_run, exe, "--jobs", "2", "rotate", "right", *names], cwd=folder,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def kill_windows_process(process, exe):
    """The Windows process is the one started or, where Wine's loader started it as its child, that
    child. Other children (the server, Wine's services when this process started them) serve every
    Wine process and are left alone: killing them would fail whatever else runs."""
    children = subprocess.run(["pgrep", "-P", str(process.pid), "-f", exe.name], capture_output=True,
                              text=True).stdout.split()
    for pid in children:
        try:
            os.kill(int(pid), signal.SIGKILL)
        except ProcessLookupError:
            pass
    process.kill()
    process.wait()


def settle(folder):
    """Waits until the folder stops changing: the server closes a killed process's handles after it is
    gone, and a file being deleted when the kill came goes only then."""
    def listing():
        try:
            return sorted((entry.name, entry.stat().st_size, dos_attributes(entry)) for entry in folder.iterdir())
        except FileNotFoundError:  # gone while listed: still changing
            return None
    before, after = None, listing()
    while after is None or before != after:
        time.sleep(0.05)
        before, after = after, listing()


def dos_attributes(path):
    try:
        return int(os.getxattr(path, "user.DOSATTRIB").decode().strip("\0"), 16)
    except OSError:
        return 0


def check_after_kill(folder, originals, turned, kill):
    """What the kill left; returns the pages still as they were, or set aside by a replace the kill cut
    in two (the page moved to "~NAME.XXXX.lumivex-original", the result not yet in): named again,
    the program puts those back."""
    untouched, entries = [], {entry.name for entry in folder.iterdir()}
    for name in PAGES:
        stem, extension = os.path.splitext(name)
        leftovers = [entry for entry in entries
                     if entry.startswith(f"~{name}.") and entry.endswith((".lumivex", ".lumivex-original"))]
        aside = [entry for entry in leftovers if entry.endswith("-original")]
        set_aside = name not in entries and len(aside) == 1 and (folder / aside[0]).read_bytes() == originals[name]
        content = (folder / name).read_bytes() if name in entries else originals[name] if set_aside else None
        check(content in (originals[name], turned[name]), f"kill {kill}: {name} is neither the page nor its result")
        seen["set aside by the replace"] += set_aside
        if content == originals[name]:
            untouched.append(name)
        else:
            seen["pages turned"] += 1
        backups = [entry for entry in entries if entry.startswith(stem) and entry.endswith(extension)
                   and entry[len(stem):-len(extension)].isdigit()]
        check(all((folder / backup).read_bytes() == originals[name] for backup in backups),
              f"kill {kill}: a backup of {name} is not its byte copy")
        # A backup gets the page's attributes just after its name, so it may still be hidden.
        check(name not in entries or not dos_attributes(folder / name) & HIDDEN, f"kill {kill}: {name} is hidden")
        check(len(backups) <= 1, f"kill {kill}: {name} has {len(backups)} backups")
        seen["backed up, not yet turned"] += bool(backups) and content == originals[name]
        check(len(leftovers) <= 1 + set_aside, f"kill {kill}: {name} has leftovers {leftovers}")
        seen["leftovers"] += len(leftovers)
        for leftover in leftovers:
            hidden = dos_attributes(folder / leftover) & HIDDEN
            # The page's own content, moved aside by the replace, keeps the page's attributes, and the
            # whole result takes them just before it takes the page's name. Wine gives a new file its
            # attributes only after creating it: a kill in between leaves it empty and visible.
            check(hidden or (folder / leftover).read_bytes() in (b"", originals[name], turned[name]),
                  f"kill {kill}: {leftover} is visible and neither the page set aside nor its result "
                  f"({(folder / leftover).stat().st_size} bytes)")
        entries -= {name, *backups, *leftovers}
    check(not entries, f"kill {kill}: files nobody asked for: {sorted(entries)}")
    return untouched


def main():
    exe, wine_run = Path(sys.argv[1]).resolve(), Path(sys.argv[2]).resolve()
    kills = int(sys.argv[3]) if len(sys.argv) > 3 else 30
    with tempfile.TemporaryDirectory() as scratch:
        scratch = Path(scratch)
        (scratch / "originals").mkdir()
        make_pages(scratch / "originals")
        originals = {name: (scratch / "originals" / name).read_bytes() for name in PAGES}
        reference = scratch / "reference"
        reference.mkdir()
        for name in PAGES:
            (reference / name).write_bytes(originals[name])
        started = time.monotonic()
        check(run(exe, wine_run, reference, PAGES).wait() == 0, "the uninterrupted run failed")
        whole = time.monotonic() - started
        turned = {name: (reference / name).read_bytes() for name in PAGES}
        check(all(turned[name] != originals[name] for name in PAGES), "the uninterrupted run turned every page")
        random.seed(int(os.environ.get("LUMIVEX_KILL_SEED", time.time())))
        resumed = 0
        for kill in range(kills):
            folder = scratch / f"kill{kill}"
            folder.mkdir()
            for name in PAGES:
                (folder / name).write_bytes(originals[name])
            process = run(exe, wine_run, folder, PAGES)
            time.sleep(random.uniform(0.1, whole))
            kill_windows_process(process, exe)
            settle(folder)
            untouched = check_after_kill(folder, originals, turned, kill)
            if untouched:
                resumed += 1
                check(run(exe, wine_run, folder, untouched).wait() == 0, f"kill {kill}: the resume failed")
            for name in PAGES:
                check((folder / name).read_bytes() == turned[name], f"kill {kill}: {name} not turned exactly once")
        print(f"{kills} kills over a run of {whole:.2f} s, {resumed} resumed; after the kills: " +
              ", ".join(f"{count} {what}" for what, count in seen.items()))
    for failure in failures:
        print("FAILED:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
