#!/usr/bin/env python3
"""The Windows command line leaves the same parts as the Linux one.

For every workbook of tests/fixtures/ooxml, each operation (rename, reorder, delete, copy, group copy, move, and a
rename taken back by undo; and on a few of them, copies to a new workbook and inside one, values only, references to
the target, split and combine) runs once with the Linux orvandel-sheets and once with the Windows orvandel-sheets.exe
under Wine, each on its own copies laid out alike. Both must end the same way, and every workbook they leave must
hold the same parts with the same bytes once inflated (the engine is deterministic).

    same_parts.py LINUX_TOOL WINDOWS_TOOL RUNNER [RUNNER ARGUMENTS]   (the runner: how a Windows program is run)

ORVANDEL_SAME_PARTS_DIR names another folder of workbooks (searched with its subfolders) instead of the fixtures.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
FIXTURES = os.path.join(ROOT, "tests", "fixtures", "ooxml")
TARGET = os.path.join(ROOT, "samples", "sample2.xlsx")

OPERATIONS = {
    "rename": [["rename", "{a}", "#1", "Renamed \u03a9"]],
    "reorder": [["reorder", "{a}", "#1", "after", "#2"]],
    "delete": [["delete", "{a}", "#1"]],
    "copy": [["copy", "{a}", "#1", "target.xlsx", "after", "#1"]],
    "group copy": [["copy", "{a}", "#1", "#2", "target.xlsx", "after", "#1"]],
    "move": [["move", "{a}", "#1", "target.xlsx", "after", "#1"]],
    "undo": [["rename", "{a}", "#1", "Taken back"], ["undo"]],
}

# The commands that make workbooks or place copies anywhere, on a few workbooks of every kind: the copy beneath
# them is the one the operations above try on every workbook.
COMMANDS = {
    "copy to a new workbook": [["copy", "{a}", "#1", "#2", "made{x}", "at", "start"]],
    "copy inside one workbook": [["copy", "{a}", "#2", "{a}", "before", "#1"]],
    "values only": [["copy", "{a}", "#1", "target.xlsx", "before", "#2", "--values"]],
    "references to the target": [["copy", "{a}", "#1", "target.xlsx", "--refer-to-target"]],
    "split": [["split", "{a}"]],
    "combine": [["combine", "made{x}", "{a}", "target.xlsx"]],
    "split taken back": [["split", "{a}"], ["undo"]],
}
COMMAND_BOOKS = {"3d-references.xlsx", "defined-names-local-global.xlsx", "hidden-veryhidden-chartsheet.xlsx",
                 "form-controls-hidden-vba.xlsm", "strict-14-sheets.xlsx", "tables-structrefs-querytables.xlsx"}


def raw(path, info):
    """The stored bytes of an entry, for one that does not inflate to its CRC (damaged on purpose, copied as is)."""
    with open(path, "rb") as f:
        f.seek(info.header_offset)
        header = f.read(30)
        f.seek(info.header_offset + 30 + int.from_bytes(header[26:28], "little") + int.from_bytes(header[28:30], "little"))
        return b"stored:" + f.read(info.compress_size)


def parts(path):
    out = {}
    with zipfile.ZipFile(path) as z:
        for info in z.infolist():
            try:
                out[info.filename] = z.read(info)
            except (zipfile.BadZipFile, OSError, NotImplementedError):
                out[info.filename] = raw(path, info)
    return out


def run(command, folder, env):
    done = subprocess.run(command, cwd=folder, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=300)
    # A failure that says nothing is not the program's (it always says why it refuses): under load, Wine now
    # and then fails to start a program. It is run once more.
    if done.returncode != 0 and not done.stdout.strip() and not done.stderr.strip():
        done = subprocess.run(command, cwd=folder, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              timeout=300)
    said = done.stderr.decode("utf-8", "replace").replace("\r\n", "\n").strip()
    # A message names a file by its whole path where the two systems write it differently: keep its name.
    return done.returncode, re.sub(r'"[^"]*[\\/]([^"\\/]+)"', r'"\1"', said)


def main():
    linux_tool, windows_tool = (os.path.abspath(p) for p in sys.argv[1:3])
    # The runner's own files are named from where the script was started; the tools run in other folders.
    wine = [os.path.abspath(a) if os.path.exists(a) else a for a in sys.argv[3:]]
    work = tempfile.mkdtemp(prefix="orvandel-same-parts-")
    env = dict(os.environ, XDG_STATE_HOME=os.path.join(work, "state"))
    failures, compared, skipped = [], 0, 0
    try:
        books_folder = os.environ.get("ORVANDEL_SAME_PARTS_DIR", FIXTURES)
        books = sorted(os.path.relpath(os.path.join(d, f), books_folder) for d, _, files in os.walk(books_folder)
                       for f in files if f.endswith((".xlsx", ".xlsm", ".xltx", ".xltm")))
        for fixture in books:
            name = "a" + os.path.splitext(fixture)[1]
            operations = dict(OPERATIONS, **(COMMANDS if fixture in COMMAND_BOOKS else {}))
            for operation, commands in operations.items():
                ends = {}
                for side in ("linux", "windows"):
                    folder = os.path.join(work, side)
                    shutil.rmtree(folder, ignore_errors=True)
                    os.makedirs(folder)
                    shutil.copyfile(os.path.join(books_folder, fixture), os.path.join(folder, name))
                    shutil.copyfile(TARGET, os.path.join(folder, "target.xlsx"))
                    results = []
                    for command in commands:
                        args = [a.format(a=name, x=os.path.splitext(fixture)[1]) for a in command]
                        tool = [linux_tool] if side == "linux" else wine + [windows_tool]
                        results.append(run(tool + args, folder, env))
                    files = {f: parts(os.path.join(folder, f)) for f in sorted(os.listdir(folder))
                             if results[-1][0] in (0, 3) and zipfile.is_zipfile(os.path.join(folder, f))}
                    ends[side] = ([status for status, _ in results], files, results[-1][1])
                what = f"{fixture}: {operation}"
                (lin_status, lin_files, lin_err), (win_status, win_files, win_err) = ends["linux"], ends["windows"]
                if lin_status != win_status:
                    failures.append(f"{what}: exit {lin_status} on Linux, {win_status} on Windows "
                                    f"(Linux said {lin_err!r}; Windows said {win_err!r})")
                    continue
                if lin_status[-1] not in (0, 3):
                    # Refused by both (the Linux build does not change this workbook this way), for the same reason.
                    if lin_err != win_err:
                        failures.append(f"{what}: refused differently: Linux said {lin_err!r}; Windows said {win_err!r}")
                    skipped += 1
                    continue
                for f in sorted(set(lin_files) | set(win_files)):
                    a, b = lin_files.get(f, {}), win_files.get(f, {})
                    if set(a) != set(b):
                        failures.append(f"{what}: {f} holds other parts: only Linux {sorted(set(a) - set(b))}, "
                                        f"only Windows {sorted(set(b) - set(a))}")
                        continue
                    differing = [p for p in a if a[p] != b[p]]
                    if differing:
                        failures.append(f"{what}: {f} differs in {differing}")
                compared += 1
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print(f"same parts: {compared} operations compared, {skipped} refused by both builds, {len(failures)} differ")
    for failure in failures:
        print("  " + failure)
    return 1 if failures or compared == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
