#!/usr/bin/env python3
"""Checks with readers this project did not write that a sheet's code travels with it.

Every sheet with code of the macro workbooks among the fixtures is copied with orvandel-sheets into each other
macro workbook, into one without a project and into an .xlsx; moved into the next macro workbook; and deleted.
Each written project is read back with olefile, its modules decompressed here and their code lines compared
with the source's; every sheet's code name must name a module and every sheet module must have its sheet.
Finally LibreOffice loads a written workbook of each kind and must show the copied module's code.

Usage: check_sheet_code.py ORVANDEL_SHEETS FIXTURES_DIR [SOFFICE]
"""
import html
import os
import re
import shutil
import subprocess
import sys
import tempfile
import zipfile

import olefile

MACRO_BOOKS = [
    "form-controls-hidden-vba.xlsm",
    "chartsheets-213-names-vba.xlsm",
    "sheet-types-macro-dialog-chart.xlsm",
    "ole-attachments-cyrillic.xlsm",
]
NO_PROJECT = "pivot-charts.xlsm"
OTHER_CODE_PAGE = "ole-attachments-cyrillic.xlsm"  # code page 1251
LATIN = ("chartsheets-213-names-vba.xlsm",)
PLAIN = "defined-names-local-global.xlsx"

failures = []


def fail(message):
    failures.append(message)
    print("FAIL: " + message)


def decompress(data):
    """The format's decompression, written from its description."""
    if not data or data[0] != 1:
        raise ValueError("no signature byte")
    out = bytearray()
    pos = 1
    while pos < len(data):
        header = data[pos] | data[pos + 1] << 8
        size = (header & 0x0FFF) + 3
        end = min(pos + size, len(data))
        pos += 2
        start = len(out)
        if not header & 0x8000:
            out += data[pos:pos + 4096]
            pos += 4096
            continue
        while pos < end:
            flags = data[pos]
            pos += 1
            for bit in range(8):
                if pos >= end:
                    break
                if not flags >> bit & 1:
                    out.append(data[pos])
                    pos += 1
                    continue
                token = data[pos] | data[pos + 1] << 8
                pos += 2
                difference = len(out) - start
                bits = max((difference - 1).bit_length(), 4)
                length = (token & (0xFFFF >> bits)) + 3
                offset = (token >> (16 - bits)) + 1
                for _ in range(length):
                    out.append(out[-offset])
    return bytes(out)


def read_project(path):
    """{module name: (code lines without the name attribute, is document)} and the project's text stream."""
    with zipfile.ZipFile(path) as z:
        names = [n for n in z.namelist() if n.lower() == "xl/vbaproject.bin"]
        if not names:
            return None
        ole = olefile.OleFileIO(z.read(names[0]))
    directory = decompress(ole.openstream("VBA/dir").read())
    text = ole.openstream("PROJECT").read()
    code_page = 1252
    modules = []
    at = 0
    while at + 6 <= len(directory):
        rid = int.from_bytes(directory[at:at + 2], "little")
        size = int.from_bytes(directory[at + 2:at + 6], "little")
        length = 6 if rid == 0x09 else size
        body = directory[at + 6:at + 6 + length]
        at += 6 + length
        if rid == 0x03:
            code_page = int.from_bytes(body, "little")
        elif rid == 0x19:
            modules.append({"name": body})
        elif rid == 0x1A:
            modules[-1]["stream"] = body
        elif rid == 0x31:
            modules[-1]["offset"] = int.from_bytes(body, "little")
        elif rid == 0x10:
            break
    encoding = "mac_roman" if code_page == 10000 else "cp%d" % code_page
    documents = {
        m.group(1).decode(encoding).lower()
        for m in re.finditer(rb"^Document=([^/\r\n]+)/", text, re.M)
    }
    project = {}
    for m in modules:
        name = m["name"].decode(encoding)
        stream = ole.openstream("VBA/" + m["stream"].decode(encoding)).read()
        source = decompress(stream[m["offset"]:]).decode(encoding)
        lines = [l for l in source.split("\r\n") if not l.startswith("Attribute VB_Name")]
        project[name.lower()] = (lines, name.lower() in documents)
    return project


def sheets_of(path):
    """[(sheet name, code name)] in workbook order."""
    with zipfile.ZipFile(path) as z:
        book = z.read("xl/workbook.xml").decode("utf-8")
        rels = z.read("xl/_rels/workbook.xml.rels").decode("utf-8")
        targets = {}
        for rel in re.finditer(r"<Relationship [^>]*>", rels):
            rid = re.search(r'Id="([^"]+)"', rel.group(0)).group(1)
            targets[rid] = re.search(r'Target="([^"]+)"', rel.group(0)).group(1)
        result = []
        for sheet in re.finditer(r"<sheet [^>]*>", book):
            name = html.unescape(re.search(r'name="([^"]*)"', sheet.group(0)).group(1))
            rid = re.search(r'r:id="([^"]+)"', sheet.group(0)).group(1)
            target = targets[rid].lstrip("/")
            part = target if target.startswith("xl/") else "xl/" + target
            head = z.read(part)[:65536].decode("utf-8", "replace")
            code = re.search(r"<(?:\w+:)?sheetPr\b[^>]*\bcodeName=\"([^\"]*)\"", head)
            result.append((name, code.group(1) if code else ""))
        return result


def check_consistent(path, label):
    project = read_project(path)
    if project is None:
        return
    codes = {code.lower() for _, code in sheets_of(path) if code}
    for code in codes:
        if code not in project or not project[code][1]:
            fail("%s: a sheet's code name %s names no module" % (label, code))
    for name, (_, document) in project.items():
        if document and name not in codes and name not in ("thisworkbook", "diesearbeitsmappe"):
            fail("%s: module %s has no sheet" % (label, name))


def run(tool, *args):
    done = subprocess.run([tool, *args], capture_output=True, text=True, env=dict(os.environ, HOME=work, XDG_STATE_HOME=work))
    return done.returncode, done.stderr


def expect_carried(source, sheet, code, target, label):
    """The copy of `sheet` in `target` has a code name whose module holds the source module's code."""
    copied = [c for n, c in sheets_of(target) if n == sheet]
    if not copied or not copied[0]:
        fail("%s: the copy has no code name" % label)
        return None
    want = read_project(source)[code.lower()][0]
    got = read_project(target).get(copied[0].lower())
    if got is None or got[0] != want:
        fail("%s: module %s does not hold the source's %d code lines" % (label, copied[0], len(want)))
    check_consistent(target, label)
    return copied[0]


def main():
    global work
    tool, fixtures = sys.argv[1], sys.argv[2]
    soffice = sys.argv[3] if len(sys.argv) > 3 else shutil.which("soffice")
    work = tempfile.mkdtemp(prefix="orvandel-code-")
    def fresh(name, as_name):
        path = shutil.copy(os.path.join(fixtures, name), os.path.join(work, as_name))
        os.chmod(path, 0o644)
        return path

    for_libreoffice = {}
    runs = 0
    for i, book in enumerate(MACRO_BOOKS):
        source = os.path.join(fixtures, book)
        project = read_project(source)
        with_code = [(n, c) for n, c in sheets_of(source) if c and c.lower() in project]
        for sheet, code in with_code:
            for target_name in [b for b in MACRO_BOOKS if b != book] + [NO_PROJECT, PLAIN]:
                target = fresh(target_name, "target-" + target_name)
                rc, err = run(tool, "copy", source, sheet, target, "after", "#1")
                runs += 1
                label = "copy %s!%s into %s" % (book, sheet, target_name)
                if target_name == OTHER_CODE_PAGE and book in LATIN:
                    # The Cyrillic project cannot hold the Latin accents of these modules.
                    if rc != 0 and (rc != 3 or "code page" not in err):
                        fail("%s: exit %d, %s" % (label, rc, err.strip()))
                    if rc == 3:
                        continue
                if target_name == PLAIN:
                    # Only code stays behind: a module of attributes alone loses nothing.
                    has_code = any(l.strip() and not l.startswith("Attribute") for l in project[code.lower()][0])
                    if has_code and (rc != 3 or sheet not in err or "cannot hold macros" not in err):
                        fail("%s: exit %d, %s" % (label, rc, err.strip()))
                    if not has_code and rc != 0:
                        fail("%s: exit %d for a module without code, %s" % (label, rc, err.strip()))
                    continue
                if rc != 0:
                    fail("%s: exit %d, %s" % (label, rc, err.strip()))
                    continue
                copied = expect_carried(source, sheet, code, target, label)
                kind = "new" if target_name == NO_PROJECT else "existing"
                if copied and (kind, book) not in for_libreoffice:
                    kept = os.path.join(work, "lo-%s-%d.xlsm" % (kind, len(for_libreoffice)))
                    shutil.move(target, kept)
                    for_libreoffice[(kind, book)] = (kept, copied, source, code)
            # A move into a workbook that cannot hold the code is not made: the sheet and its module stay.
            if any(l.strip() and not l.startswith("Attribute") for l in project[code.lower()][0]):
                kept_in = fresh(book, "kept-in-" + book)
                rc, err = run(tool, "move", kept_in, sheet, fresh(PLAIN, "plain-" + PLAIN), "after", "#1")
                runs += 1
                if rc != 3 or sheet not in [n for n, _ in sheets_of(kept_in)] or code.lower() not in read_project(kept_in):
                    fail("move %s!%s into %s: exit %d, the sheet or its module left the source: %s"
                         % (book, sheet, PLAIN, rc, err.strip()))
            # A move takes the module out of the source too.
            moved_from = fresh(book, "moved-from-" + book)
            into = MACRO_BOOKS[(i + 1) % len(MACRO_BOOKS)]
            target = fresh(into, "moved-to-" + into)
            rc, err = run(tool, "move", moved_from, sheet, target, "after", "#1")
            runs += 1
            label = "move %s!%s into %s" % (book, sheet, into)
            if rc == 1 and "visible sheet" in err:
                continue
            if rc != 0:
                fail("%s: exit %d, %s" % (label, rc, err.strip()))
                continue
            expect_carried(source, sheet, code, target, label)
            if code.lower() in read_project(moved_from):
                fail("%s: the source keeps module %s" % (label, code))
            check_consistent(moved_from, label + " (source)")
            # A deletion takes the module away.
            deleted = fresh(book, "deleted-" + book)
            rc, err = run(tool, "delete", deleted, sheet)
            runs += 1
            label = "delete %s!%s" % (book, sheet)
            if rc == 1 and "visible sheet" in err:
                continue
            if rc != 0 or code.lower() in read_project(deleted):
                fail("%s: exit %d, module %s left: %s" % (label, rc, code, err.strip()))
            check_consistent(deleted, label)
    print("%d commands checked" % runs)

    if soffice and for_libreoffice:
        out = os.path.join(work, "ods")
        files = [kept for kept, _, _, _ in for_libreoffice.values()]
        subprocess.run([soffice, "--headless", "-env:UserInstallation=file://" + os.path.join(work, "profile"),
                        "--convert-to", "ods", "--outdir", out, *files], capture_output=True, timeout=600)
        for (kind, book), (kept, copied, source, code) in for_libreoffice.items():
            label = "LibreOffice on a copy from %s into a workbook with %s project" % (book, kind)
            ods = os.path.join(out, os.path.basename(kept)[:-5] + ".ods")
            if not os.path.exists(ods):
                fail(label + ": it did not load")
                continue
            with zipfile.ZipFile(ods) as z:
                module = [n for n in z.namelist() if n.lower() == ("basic/vbaproject/%s.xml" % copied).lower()]
                shown = html.unescape(z.read(module[0]).decode("utf-8")) if module else ""
            want = [l for l in read_project(source)[code.lower()][0] if l.strip() and not l.startswith("Attribute")]
            missing = [l for l in want if l not in shown]
            if not module or missing:
                fail("%s: module %s lacks %d of %d lines" % (label, copied, len(missing), len(want)))
        print("%d workbooks read by LibreOffice" % len(for_libreoffice))

    shutil.rmtree(work, ignore_errors=True)
    print("%d failures" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
