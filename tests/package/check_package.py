#!/usr/bin/env python3
"""Checks a release zip: its list of files, its checksums, that both programs carry the version in
their version resources (read here from the PE bytes, without Windows), that lumivex-batch.exe prints
it, and that both programs import nothing but system DLLs.

Usage: check_package.py ZIP VERSION WINE_RUN"""
import hashlib
import re
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


def main():
    zip_path, version, wine_run = sys.argv[1], sys.argv[2], sys.argv[3]
    check(Path(zip_path).name == f"Lumivex-{version}-win64.zip", f"zip name {Path(zip_path).name}")
    with zipfile.ZipFile(zip_path) as package, tempfile.TemporaryDirectory() as folder:
        check(sorted(package.namelist()) == sorted(EXPECTED), f"files {package.namelist()}")
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
        for program in EXPECTED[:2]:
            image = Path(folder, program).read_bytes()
            numbers, strings = version_resource(image)
            check(numbers == f"{version}.0", f"{program}: fixed file version {numbers}")
            check(strings.get("ProductVersion") == f"{version}.0", f"{program}: ProductVersion {strings}")
            check(strings.get("FileVersion") == f"{version}.0", f"{program}: FileVersion {strings}")
            check(strings.get("OriginalFilename") == program, f"{program}: OriginalFilename {strings}")
            foreign = set(imported_dlls(image)) - SYSTEM_DLLS
            check(not foreign, f"{program} needs DLLs that are not part of Windows: {sorted(foreign)}")
        printed = subprocess.run([wine_run, str(Path(folder, "lumivex-batch.exe")), "--version"],
                                 capture_output=True, timeout=120)
        check(printed.returncode == 0 and printed.stdout == f"lumivex-batch {version}\r\n".encode(),
              f"lumivex-batch.exe --version: status {printed.returncode}, output {printed.stdout!r}")
    for failure in failures:
        print("FAILED:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
