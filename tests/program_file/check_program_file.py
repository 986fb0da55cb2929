#!/usr/bin/env python3
"""Checks the built TarvoClient.exe: it imports only system DLLs and carries
the application manifest (byte for byte the one in assets/), the icon group of
five 32-bit PNG icons and the version information; and that it names no xinput
library, which would be loaded by bare name.

  check_program_file.py --objdump OBJDUMP --exe EXE --manifest FILE
                        --icons DIR --release ON|OFF
"""
import argparse
import re
import struct
import subprocess
import sys

# DLLs that every Windows 10/11 x64 installation has.
SYSTEM_DLLS = {
    "kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll", "ole32.dll",
    "oleaut32.dll", "ws2_32.dll", "winhttp.dll", "opengl32.dll", "msvcrt.dll", "ucrtbase.dll",
    "iphlpapi.dll", "crypt32.dll", "bcrypt.dll", "secur32.dll", "shlwapi.dll", "imm32.dll",
    "dwmapi.dll", "uxtheme.dll", "comctl32.dll", "setupapi.dll", "ntdll.dll", "version.dll",
    "winmm.dll", "comdlg32.dll",
}
# Dear ImGui's Win32 gamepad support loads these by bare name; it is built without it.
NEVER_LOADED_BY_NAME = ["xinput1_4.dll", "xinput1_3.dll", "xinput9_1_0.dll", "xinput1_2.dll", "xinput1_1.dll"]
RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
ICON_SIZES = [16, 32, 48, 64, 256]
STAND_IN_TEXT = "STAND-IN BUILD - NOT FOR RELEASE"

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
    return condition


def imported_dlls(objdump, exe):
    listing = subprocess.run([objdump, "-p", exe], check=True, capture_output=True, text=True).stdout
    return listing, re.findall(r"^\s*DLL Name: (\S+)", listing, re.MULTILINE)


def resource_types_in_listing(listing):
    """Top-level resource type IDs as objdump prints them."""
    section = listing.split("The .rsrc Resource Directory section:", 1)
    if len(section) < 2:
        return set()
    return {int(m, 16) for m in re.findall(r"^0[0-9a-f]{2}   Entry: ID: (0x[0-9a-f]+)", section[1], re.MULTILINE)}


class PeResources:
    """The resource tree of a PE32+ file: {(type, id): bytes} for numeric IDs."""

    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        assert data[pe:pe + 4] == b"PE\0\0", "not a PE file"
        sections, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
        optional = pe + 24
        assert struct.unpack_from("<H", data, optional)[0] == 0x20B, "not PE32+"
        self.rsrc_rva, _ = struct.unpack_from("<II", data, optional + 112 + 2 * 8)
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            vsize, rva, raw_size, raw = struct.unpack_from("<IIII", data, table + 40 * i + 8)
            self.sections.append((rva, max(vsize, raw_size), raw))
        self.items = {}
        if self.rsrc_rva:
            self._walk(0, [])

    def _offset(self, rva):
        for start, size, raw in self.sections:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError(f"RVA {rva:#x} outside every section")

    def _walk(self, directory, path):
        base = self._offset(self.rsrc_rva)
        named, ids = struct.unpack_from("<12xHH", self.data, base + directory)
        for i in range(named + ids):
            name, target = struct.unpack_from("<II", self.data, base + directory + 16 + 8 * i)
            key = path + [None if name & 0x80000000 else name]
            if target & 0x80000000:
                self._walk(target & 0x7FFFFFFF, key)
            else:
                rva, size = struct.unpack_from("<II", self.data, base + target)
                self.items[(key[0], key[1])] = self.data[self._offset(rva):self._offset(rva) + size]


def check_icons(resources, icons_dir):
    group = resources.items.get((RT_GROUP_ICON, 1))
    if not check(group is not None, "no icon group (resource type 14, id 1)"):
        return
    reserved, kind, count = struct.unpack_from("<HHH", group, 0)
    check(kind == 1 and count == 5, f"icon group: type {kind}, {count} icons, expected 1 and 5")
    sizes = []
    for i in range(count):
        width, height, _, _, _, bits, length, icon_id = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i)
        size = width or 256
        sizes.append(size)
        check(width == height and bits == 32, f"icon {i}: {width}x{height}, {bits} bits")
        image = resources.items.get((RT_ICON, icon_id), b"")
        check(len(image) == length, f"icon {i}: {len(image)} bytes, group says {length}")
        check(image[:8] == b"\x89PNG\r\n\x1a\n", f"icon {i} is not a PNG image")
        png_width, png_height, depth, colour = struct.unpack_from(">IIBB", image, 16)
        check((png_width, png_height, depth, colour) == (size, size, 8, 6),
              f"icon {i}: PNG {png_width}x{png_height} depth {depth} colour type {colour}, expected {size} RGBA")
        with open(f"{icons_dir}/tarvo-{size}.png", "rb") as f:
            check(image == f.read(), f"icon {i} differs from icons/tarvo-{size}.png")
    check(sorted(sizes) == ICON_SIZES, f"icon sizes {sorted(sizes)}, expected {ICON_SIZES}")


def check_version(resources, release):
    version = resources.items.get((RT_VERSION, 1))
    if not check(version is not None, "no version information (resource type 16)"):
        return
    text = version.decode("utf-16-le", errors="replace")
    for expected in ("Tarvo Enterprise Client", "Korin", "2.0.0.0", "TarvoClient.exe"):
        check(expected in text, f"version information lacks {expected!r}")
    if release:
        check(STAND_IN_TEXT not in text, "a release calls itself a stand-in build")
    else:
        check(STAND_IN_TEXT in text, f"a stand-in build's version information lacks {STAND_IN_TEXT!r}")


def main():
    parser = argparse.ArgumentParser()
    for option in ("--objdump", "--exe", "--manifest", "--icons", "--release"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()

    listing, dlls = imported_dlls(args.objdump, args.exe)
    print("imports:", ", ".join(dlls))
    check(dlls, "no import table found")
    for dll in dlls:
        name = dll.lower()
        check(name in SYSTEM_DLLS or name.startswith("api-ms-win-crt-"), f"imports a non-system DLL: {dll}")

    # Names of libraries that the program would load at run time by bare name,
    # which its own folder (the installed copy's program-data folder) could answer.
    with open(args.exe, "rb") as f:
        image = f.read()
    for name in NEVER_LOADED_BY_NAME:
        for encoding in ("ascii", "utf-16-le"):
            check(name.encode(encoding) not in image.lower(), f"carries the library name {name} ({encoding})")

    listed = resource_types_in_listing(listing)
    for kind in (RT_GROUP_ICON, RT_VERSION, RT_MANIFEST):
        check(kind in listed, f"objdump lists no resource of type {kind}")

    with open(args.exe, "rb") as f:
        resources = PeResources(f.read())
    with open(args.manifest, "rb") as f:
        manifest = f.read()
    check(resources.items.get((RT_MANIFEST, 1)) == manifest,
          "the manifest (type 24, id 1) differs from assets/TarvoClient.manifest")
    check_icons(resources, args.icons)
    check_version(resources, args.release.upper() in ("ON", "1", "TRUE", "YES"))

    for failure in failures:
        print("FAIL:", failure)
    print("program file check:", "failed" if failures else "passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
