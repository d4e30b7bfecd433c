#!/usr/bin/env python3
"""Packs the Windows programs into torvane-VERSION-windows-x64.zip: one folder
torvane-VERSION/ with the stripped .exe files, README.txt and licenses/ (the licence texts of
the runtime libraries linked in statically, taken from the Debian packages they were built
with, and a NOTICE naming each package). The same .exe files give the same bytes: fixed dates,
fixed order, and the PE time stamp that strip writes set to the release date.

  winzip.py --version V --date YYYY-MM-DD --compiler CXX --strip STRIP
            --readme README.txt --out FILE.zip
            [--own-licence FILE] EXE...
"""

import argparse
import datetime
import os
import struct
import subprocess
import sys
import tempfile
import zipfile

GPL3 = "/usr/share/common-licenses/GPL-3"
GCC_COPYRIGHT = "/usr/share/doc/gcc-mingw-w64-base/copyright"
MINGW_COPYRIGHT = "/usr/share/doc/mingw-w64-x86-64-dev/copyright"
EXCEPTION_FIRST = "GCC RUNTIME LIBRARY EXCEPTION"
EXCEPTION_LAST = "requirements of the license of GCC."


class PackError(Exception):
    pass


def windows_text(text):
    """UTF-8 with a BOM and CRLF line ends: Notepad of every Windows shows it right."""
    lines = text.replace("\r\n", "\n").split("\n")
    return b"\xef\xbb\xbf" + "\r\n".join(lines).encode("utf-8")


def readme_text(template, version, names):
    """The README with the version filled in; a [[name]] block only when name.exe is packed."""
    out, keep = [], True
    for line in template.split("\n"):
        if line.startswith("[[/") and line.endswith("]]"):
            keep = True
        elif line.startswith("[[") and line.endswith("]]"):
            keep = f"torvane-{line[2:-2]}.exe" in names
        elif keep:
            out.append(line.replace("@VERSION@", version))
    return "\n".join(out)


def read_text(path):
    try:
        with open(path, encoding="utf-8") as f:
            return f.read()
    except OSError as e:
        raise PackError(f"cannot read {path}: {e.strerror}") from e


def debian_packages(paths):
    """{path: 'name version'} of the installed Debian packages that hold paths (one query each
    kind: dpkg reads every package's file list for a search)."""
    paths = [os.path.normpath(p) for p in paths]
    got = subprocess.run(["dpkg-query", "-S", *paths], capture_output=True, text=True)
    owner = {}
    for line in got.stdout.splitlines():
        names, sep, path = line.partition(": ")
        if sep and path in paths and not line.startswith("diversion "):
            owner[path] = names.split(",")[0].strip().split(":")[0]  # no ":amd64"
    missing = [p for p in paths if p not in owner]
    if got.returncode != 0 or missing:
        raise PackError(f"no Debian package holds {', '.join(missing) or got.stderr.strip()}")
    names = sorted(set(owner.values()))
    got = subprocess.run(["dpkg-query", "-W", "-f", "${Package} ${Version}\\n", *names],
                         capture_output=True, text=True)
    versions = dict(line.split(" ", 1) for line in got.stdout.splitlines() if " " in line)
    if got.returncode != 0 or set(versions) != set(names):
        raise PackError(f"dpkg knows no version of {', '.join(set(names) - set(versions))}")
    return {p: f"{owner[p]} {versions[owner[p]]}" for p in paths}


def runtime_file(compiler, name):
    """The file the compiler links for name (-print-file-name answers name itself if none)."""
    got = subprocess.run([compiler, f"-print-file-name={name}"], capture_output=True, text=True)
    path = got.stdout.strip()
    if got.returncode != 0 or not os.path.isabs(path) or not os.path.isfile(path):
        raise PackError(f"{compiler} does not know where {name} is")
    return path


def gcc_exception(copyright_text):
    lines = copyright_text.split("\n")
    try:
        first = next(i for i, l in enumerate(lines) if l.strip() == EXCEPTION_FIRST)
        last = next(i for i in range(first, len(lines)) if lines[i].strip() == EXCEPTION_LAST)
    except StopIteration:
        raise PackError(f"the GCC Runtime Library Exception is not in {GCC_COPYRIGHT}") from None
    text = "\n".join(lines[first:last + 1]) + "\n"
    if "Version 3.1" not in text:
        raise PackError(f"{GCC_COPYRIGHT} holds another version of the exception")
    return text


def notice(version, compiler, own_licence):
    names = ("libstdc++.a", "libgcc.a", "libgcc_eh.a", "libwinpthread.a", "libmingwex.a",
             "libmingw32.a", "crt2.o")
    files = {name: os.path.normpath(runtime_file(compiler, name)) for name in names}
    package = debian_packages([*files.values(), GPL3, GCC_COPYRIGHT, MINGW_COPYRIGHT])
    lib = {name: package[path] for name, path in files.items()}
    own = ("Torvane itself: see Torvane-LICENSE.txt." if own_licence else
           "Torvane itself: its repository declares no licence.")
    return f"""Torvane {version} for Windows (x64): the licences of what is linked in

The programs (.exe) of Torvane contain the runtime libraries of the compiler and of
mingw-w64, linked in statically so that no DLL has to be shipped beside them. The texts in
this folder are taken from the Debian 12 packages they were built with.

GCC's runtime: libstdc++ (from {lib["libstdc++.a"]}),
libgcc and libgcc_eh (from {lib["libgcc.a"]}).
  GNU General Public License version 3 with the GCC Runtime Library Exception 3.1:
  GPL-3.txt (from {package[GPL3]}, {GPL3}),
  GCC-RUNTIME-LIBRARY-EXCEPTION-3.1.txt and Debian's complete notice for GCC,
  gcc-mingw-w64.copyright.txt (from {package[GCC_COPYRIGHT]}).

mingw-w64's runtime: crt2.o, libmingw32 and libmingwex (from {lib["crt2.o"]}),
and winpthreads, libwinpthread (from {lib["libwinpthread.a"]}).
  The Zope Public License 2.1 for the runtime, the MIT (Expat) licence for winpthreads, and
  the terms of the files taken from elsewhere: mingw-w64.copyright.txt, Debian's complete
  notice (from {package[MINGW_COPYRIGHT]}).

{own}
"""


def set_pe_time(data, seconds):
    """Sets the PE header's time stamp and recomputes the checksum strip wrote."""
    data = bytearray(data)
    if data[:2] != b"MZ":
        raise PackError("not a Windows program (no MZ header)")
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise PackError("not a Windows program (no PE header)")
    struct.pack_into("<I", data, pe + 8, seconds)
    checksum_at = pe + 24 + 64  # optional header, CheckSum field
    struct.pack_into("<I", data, checksum_at, 0)
    padded = bytes(data) + b"\0" * (len(data) % 2)
    total = 0
    for (word,) in struct.iter_unpack("<H", padded):
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    struct.pack_into("<I", data, checksum_at, (total & 0xFFFF) + len(data))
    return bytes(data)


def stripped(exe, strip, seconds):
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "out.exe")
        got = subprocess.run([strip, "-o", out, exe], capture_output=True, text=True)
        if got.returncode != 0:
            raise PackError(f"{strip} failed on {exe}: {got.stderr.strip()}")
        with open(out, "rb") as f:
            return set_pe_time(f.read(), seconds)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--version", required=True)
    ap.add_argument("--date", required=True, type=datetime.date.fromisoformat)
    ap.add_argument("--compiler", required=True)
    ap.add_argument("--strip", required=True)
    ap.add_argument("--readme", required=True)
    ap.add_argument("--own-licence")
    ap.add_argument("--out", required=True)
    ap.add_argument("exe", nargs="+")
    a = ap.parse_args()

    names = [os.path.basename(e) for e in a.exe]
    if "torvane.exe" not in names or len(set(names)) != len(names):
        raise PackError(f"the programs must include torvane.exe, each once: {names}")
    when = datetime.datetime.combine(a.date, datetime.time(), datetime.timezone.utc)
    seconds = int(when.timestamp())

    top = f"torvane-{a.version}/"
    files = {}
    for exe, name in zip(a.exe, names):
        files[top + name] = stripped(exe, a.strip, seconds)
    files[top + "README.txt"] = windows_text(readme_text(read_text(a.readme), a.version, names))
    lic = top + "licenses/"
    gcc_copyright = read_text(GCC_COPYRIGHT)
    files[lic + "NOTICE.txt"] = windows_text(notice(a.version, a.compiler, a.own_licence))
    files[lic + "GPL-3.txt"] = windows_text(read_text(GPL3))
    files[lic + "GCC-RUNTIME-LIBRARY-EXCEPTION-3.1.txt"] = windows_text(gcc_exception(gcc_copyright))
    files[lic + "gcc-mingw-w64.copyright.txt"] = windows_text(gcc_copyright)
    files[lic + "mingw-w64.copyright.txt"] = windows_text(read_text(MINGW_COPYRIGHT))
    if a.own_licence:
        files[lic + "Torvane-LICENSE.txt"] = windows_text(read_text(a.own_licence))

    # The folders as entries of their own, so that an empty-looking archive never happens and
    # every unpacker makes them with the same date.
    entries = {top: None, lic: None, **files}
    stamp = (a.date.year, a.date.month, a.date.day, 0, 0, 0)
    part = a.out + ".part"
    with zipfile.ZipFile(part, "w") as z:
        for name in sorted(entries):
            info = zipfile.ZipInfo(name, date_time=stamp)
            info.create_system = 3  # Unix, so that the modes below are read on Linux too
            if name.endswith("/"):
                info.external_attr = (0o40755 << 16) | 0x10
                z.writestr(info, b"")
            else:
                mode = 0o755 if name.endswith(".exe") else 0o644
                info.external_attr = (0o100000 | mode) << 16
                info.compress_type = zipfile.ZIP_DEFLATED
                z.writestr(info, entries[name], compresslevel=9)
    os.replace(part, a.out)
    print(a.out)


if __name__ == "__main__":
    try:
        main()
    except PackError as e:
        print(f"winzip: {e}", file=sys.stderr)
        sys.exit(1)
