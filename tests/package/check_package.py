#!/usr/bin/env python3
"""Checks a release zip: its list of files in name order with one date, its checksums, that both
programs are the ones this build made, carry the version in their version resources (read here from
the PE bytes, without Windows), have no build time in their headers, are built for ASLR (dynamic
base, high-entropy addresses) and DEP (NX compatible) and import nothing but system DLLs; then that
the unpacked Lumivex.exe opens its window and the unpacked lumivex-batch.exe prints its version and
turns a page.

Usage: check_package.py ZIP VERSION WINE_RUN BUILT_LUMIVEX BUILT_BATCH READ_WINDOW PAGE"""
import hashlib
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile
from pathlib import Path

EXPECTED = ["Lumivex.exe", "lumivex-batch.exe", "README.txt", "SHA256SUMS"]
# What every 64-bit Windows since 7 has; anything else (libstdc++, libgcc, winpthread) would have to ship.
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "gdiplus.dll", "comctl32.dll", "shell32.dll",
               "shlwapi.dll", "msvcrt.dll", "advapi32.dll", "ole32.dll", "version.dll"}
failures = []


def check(condition, message):
    if not condition:
        failures.append(message)


def sections(image):
    """(virtual size, virtual address, raw offset) of each section of a PE image, and the PE header's offset."""
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    count, optional_size = struct.unpack_from("<H", image, pe + 6)[0], struct.unpack_from("<H", image, pe + 20)[0]
    table = pe + 24 + optional_size
    return [struct.unpack_from("<II4xI", image, table + 40 * i + 8) for i in range(count)], pe


def at_rva(image, rva):
    found, _ = sections(image)
    for size, address, raw in found:
        if address <= rva < address + size:
            return raw + rva - address
    raise ValueError(f"address {rva:#x} is in no section")


def imported_dlls(image):
    _, pe = sections(image)
    import_rva = struct.unpack_from("<I", image, pe + 24 + 120)[0]  # PE32+ data directory 1
    names, at = [], at_rva(image, import_rva)
    while True:
        name_rva = struct.unpack_from("<I", image, at + 12)[0]
        if name_rva == 0:
            return names
        start = at_rva(image, name_rva)
        names.append(image[start:image.index(b"\0", start)].decode("ascii").lower())
        at += 20


def header_fields(image):
    """TimeDateStamp of the COFF header and DllCharacteristics of the optional header."""
    _, pe = sections(image)
    return struct.unpack_from("<I", image, pe + 8)[0], struct.unpack_from("<H", image, pe + 24 + 70)[0]


def version_resource(image):
    """File version from VS_FIXEDFILEINFO, and the string values of the version block."""
    fixed = image.find(struct.pack("<I", 0xFEEF04BD))
    if fixed < 0:
        return None, {}
    ms, ls = struct.unpack_from("<II", image, fixed + 8)
    numbers = f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"
    strings = {}
    for key in ("ProductVersion", "FileVersion", "OriginalFilename", "ProductName"):
        match = re.search(re.escape(key.encode("utf-16-le")) + rb"\0\0(?:\0\0)?((?:[^\0]\0)+)\0\0", image)
        strings[key] = match.group(1).decode("utf-16-le") if match else None
    return numbers, strings


def run_unpacked(folder, version, wine_run, read_window, page):
    """Lumivex.exe until its window shows (closed again), and the batch tool's version and one turn."""
    window = subprocess.Popen([wine_run, str(Path(folder, "Lumivex.exe"))])
    shown = subprocess.run([wine_run, read_window, "30000", "LumivexClass"], capture_output=True, timeout=120)
    check(shown.returncode == 0 and shown.stdout.startswith(b"Lumivex"), f"Lumivex.exe shows no window: {shown}")
    if window.wait(timeout=60) != 0:
        check(False, f"Lumivex.exe ended with status {window.returncode}")
    printed = subprocess.run([wine_run, str(Path(folder, "lumivex-batch.exe")), "--version"],
                             capture_output=True, timeout=120)
    check(printed.returncode == 0 and printed.stdout == f"lumivex-batch {version}\r\n".encode(),
          f"lumivex-batch.exe --version: status {printed.returncode}, output {printed.stdout!r}")
    shutil.copy(page, Path(folder, "page.png"))
    turned = subprocess.run([wine_run, str(Path(folder, "lumivex-batch.exe")), "rotate", "right", "page.png"],
                            cwd=folder, capture_output=True, timeout=120)
    check(turned.returncode == 0 and Path(folder, "page1.png").read_bytes() == Path(page).read_bytes(),
          f"lumivex-batch.exe rotate: status {turned.returncode}, output {turned.stdout!r}")


def main():
    zip_path, version, wine_run, *built = sys.argv[1:6]
    read_window, page = sys.argv[6:8]
    check(Path(zip_path).name == f"Lumivex-{version}-win64.zip", f"zip name {Path(zip_path).name}")
    with zipfile.ZipFile(zip_path) as package, tempfile.TemporaryDirectory() as folder:
        check(package.namelist() == sorted(EXPECTED), f"files {package.namelist()}")
        check(len({entry.date_time for entry in package.infolist()}) == 1, "entries of different dates")
        package.extractall(folder)
        sums = Path(folder, "SHA256SUMS").read_text().splitlines()
        listed = {}
        for line in sums:
            digest, name = line.split("  ", 1)
            listed[name] = digest
        check(sorted(listed) == sorted(EXPECTED[:3]), f"SHA256SUMS lists {sorted(listed)}")
        for name, digest in listed.items():
            actual = hashlib.sha256(Path(folder, name).read_bytes()).hexdigest()
            check(actual == digest, f"{name}: SHA-256 {actual}, SHA256SUMS says {digest}")
        check(f"Lumivex {version}" in Path(folder, "README.txt").read_text(), "README.txt does not name the version")
        for program, made in zip(EXPECTED[:2], built):
            image = Path(folder, program).read_bytes()
            check(image == Path(made).read_bytes(), f"{program} is not the one this build made")
            stamp, characteristics = header_fields(image)
            check(stamp == 0, f"{program}: build time {stamp} in its header")
            check(characteristics & 0x160 == 0x160, f"{program}: DllCharacteristics {characteristics:#x} lack "
                  "dynamic base, high-entropy addresses or NX compatibility")
            numbers, strings = version_resource(image)
            check(numbers == f"{version}.0", f"{program}: fixed file version {numbers}")
            check(strings.get("ProductVersion") == f"{version}.0", f"{program}: ProductVersion {strings}")
            check(strings.get("FileVersion") == f"{version}.0", f"{program}: FileVersion {strings}")
            check(strings.get("OriginalFilename") == program, f"{program}: OriginalFilename {strings}")
            foreign = set(imported_dlls(image)) - SYSTEM_DLLS
            check(not foreign, f"{program} needs DLLs that are not part of Windows: {sorted(foreign)}")
        run_unpacked(folder, version, wine_run, read_window, page)
    for failure in failures:
        print("FAILED:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
