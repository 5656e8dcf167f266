"""olefile, a compound file reader written apart from ours, against our writer and reader.

Usage: olefile_check.py PROBE WORKDIR [FILE...]

The files our writer makes in both versions are opened with olefile, which is told to raise on anything it
finds doubtful, and must list what the writer was given; our reader must list the same. For each FILE (compound files
made by other programs) olefile and our reader must list the same tree.
"""
import difflib
import os
import subprocess
import sys
import zlib

import olefile


def listing(ole):
    """The lines the probe prints, made from olefile's view of the file."""
    def metadata(entry):
        return "%s\t%08X\t%d\t%d" % (entry.clsid, entry.dwUserFlags, entry.createTime, entry.modifyTime)

    lines = ["root\t" + metadata(ole.root)]

    def walk(storage, names):
        for kid in storage.kids:
            path = names + [kid.name]
            if kid.entry_type == olefile.STGTY_STORAGE:
                lines.append("storage\t%s\t%s" % ("/".join(path), metadata(kid)))
                walk(kid, path)
            else:
                data = ole.openstream(path).read()
                lines.append("stream\t%s\t%d\t%08X" % ("/".join(path), len(data), zlib.crc32(data) & 0xFFFFFFFF))

    walk(ole.root, [])
    return lines


def read_with_olefile(path, strict):
    kwargs = {"raise_defects": olefile.DEFECT_UNSURE} if strict else {}
    ole = olefile.OleFileIO(path, **kwargs)
    try:
        return listing(ole)
    finally:
        ole.close()


def probe(*args):
    done = subprocess.run(list(args), stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if done.returncode != 0:
        raise SystemExit("%s failed: %s" % (" ".join(args), done.stderr.decode("utf-8", "replace")))
    return done.stdout.decode("utf-8").splitlines()


def same(expected, actual, what):
    expected, actual = sorted(expected), sorted(actual)
    if expected == actual:
        print("ok: %s (%d entries)" % (what, len(expected)))
        return True
    print("DIFFERENT: %s" % what)
    sys.stdout.writelines(line + "\n" for line in difflib.unified_diff(expected, actual, "expected", "actual",
                                                                        lineterm=""))
    return False


def main():
    if len(sys.argv) < 3:
        raise SystemExit(__doc__)
    tool, workdir, files = sys.argv[1], sys.argv[2], sys.argv[3:]
    sys.stdout.reconfigure(encoding="utf-8")
    good = True
    for version in ("3", "4"):
        path = os.path.join(workdir, "olefile-check-v%s.bin" % version)
        written = probe(tool, "write", path, version)
        good &= same(written, read_with_olefile(path, strict=True), "olefile reads the version %s file we wrote" % version)
        good &= same(written, probe(tool, "list", path), "our reader reads the version %s file we wrote" % version)
        os.remove(path)
    for path in files:
        good &= same(read_with_olefile(path, strict=False), probe(tool, "list", path),
                     "our reader and olefile read %s alike" % os.path.basename(path))
    return 0 if good else 1


if __name__ == "__main__":
    sys.exit(main())
