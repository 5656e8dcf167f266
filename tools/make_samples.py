#!/usr/bin/env python3
"""Writes the two sample workbooks (samples/sample1.xls, sample2.xls and their .xlsx twins) from data kept here.

Each workbook is first written as a flat OpenDocument spreadsheet, then converted by a headless LibreOffice in a
private profile. Usage: tools/make_samples.py OUTPUT_DIR
"""
import os
import subprocess
import sys
import tempfile
from xml.sax.saxutils import escape

HEAD = """<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
 xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0"
 xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"
 xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0"
 xmlns:fo="urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0"
 xmlns:of="urn:oasis:names:tc:opendocument:xmlns:of:1.2"
 office:version="1.2" office:mimetype="application/vnd.oasis.opendocument.spreadsheet">
<office:automatic-styles>
 <style:style style:name="ta1" style:family="table"><style:table-properties table:display="true"/></style:style>
 <style:style style:name="taHidden" style:family="table"><style:table-properties table:display="false"/></style:style>
 <style:style style:name="head" style:family="table-cell">
  <style:table-cell-properties fo:background-color="#1d6f42"/>
  <style:text-properties fo:font-weight="bold" fo:color="#ffffff"/>
 </style:style>
 <style:style style:name="money" style:family="table-cell">
  <style:text-properties fo:color="#1f3864"/>
 </style:style>
</office:automatic-styles>
<office:body><office:spreadsheet>
"""
TAIL = "</office:spreadsheet></office:body></office:document>\n"


def cell(value):
    if isinstance(value, tuple):  # ("=formula", shown)
        formula = value[0][1:]
        return f'<table:table-cell table:formula="of:={escape(formula, {chr(34): "&quot;"})}" office:value-type="float" table:style-name="money"/>'
    if isinstance(value, (int, float)):
        return f'<table:table-cell office:value-type="float" office:value="{value}" table:style-name="money"><text:p>{value}</text:p></table:table-cell>'
    return f'<table:table-cell office:value-type="string"><text:p>{escape(value)}</text:p></table:table-cell>'


def header(values):
    return "".join(f'<table:table-cell table:style-name="head" office:value-type="string"><text:p>{escape(v)}</text:p></table:table-cell>' for v in values)


def table(name, rows, hidden=False):
    out = [f'<table:table table:name="{escape(name)}" table:style-name="{"taHidden" if hidden else "ta1"}">']
    out.append("<table:table-column table:number-columns-repeated=\"4\"/>")
    for i, row in enumerate(rows):
        out.append("<table:table-row>" + (header(row) if i == 0 else "".join(cell(v) for v in row)) + "</table:table-row>")
    out.append("</table:table>")
    return "\n".join(out)


def formula(text):
    return (text, None)


SAMPLE1 = [
    ("Jan", [["Item", "Units", "Price", "Amount"], ["Apples", 120, 0.5, formula("=[.B2]*[.C2]")],
             ["Pears", 80, 0.75, formula("=[.B3]*[.C3]")], ["Plums", 45, 1.2, formula("=[.B4]*[.C4]")]]),
    ("Feb", [["Item", "Units", "Price", "Amount"], ["Apples", 130, 0.5, formula("=[.B2]*[.C2]")],
             ["Pears", 70, 0.8, formula("=[.B3]*[.C3]")], ["Plums", 60, 1.1, formula("=[.B4]*[.C4]")]]),
    ("Rates", [["Name", "Rate"], ["Tax", 0.2], ["Discount", 0.05]], True),
    ("Summary", [["Month", "Total", "Tax"], ["Jan", formula("=SUM([$Jan.D2:.D4])"), formula("=[.B2]*[$Rates.B2]")],
                 ["Feb", formula("=SUM([$Feb.D2:.D4])"), formula("=[.B3]*[$Rates.B2]")]]),
]

SAMPLE2 = [
    ("Mar", [["Item", "Units", "Price", "Amount"], ["Apples", 110, 0.55, formula("=[.B2]*[.C2]")],
             ["Pears", 95, 0.7, formula("=[.B3]*[.C3]")]]),
    ("Apr", [["Item", "Units", "Price", "Amount"], ["Apples", 140, 0.5, formula("=[.B2]*[.C2]")],
             ["Pears", 65, 0.9, formula("=[.B3]*[.C3]")]]),
    ("Totals", [["Month", "Total"], ["Mar", formula("=SUM([$Mar.D2:.D3])")], ["Apr", formula("=SUM([$Apr.D2:.D3])")],
                ["Both", formula("=[.B2]+[.B3]")]]),
    ("Archive", [["Note"], ["Kept for reference"]], True),
]


def write_fods(path, sheets):
    with open(path, "w", encoding="utf-8") as f:
        f.write(HEAD)
        for sheet in sheets:
            name, rows = sheet[0], sheet[1]
            hidden = len(sheet) > 2 and sheet[2]
            f.write(table(name, rows, hidden) + "\n")
        f.write(TAIL)


def convert(fods, fmt, out_dir, profile):
    subprocess.run(["soffice", f"-env:UserInstallation=file://{profile}", "--headless", "--norestore",
                    "--convert-to", fmt, "--outdir", out_dir, fods], check=True, stdout=subprocess.DEVNULL)


def main(out_dir):
    os.makedirs(out_dir, exist_ok=True)
    with tempfile.TemporaryDirectory() as work:
        profile = os.path.join(work, "profile")
        for name, sheets in (("sample1", SAMPLE1), ("sample2", SAMPLE2)):
            fods = os.path.join(work, name + ".fods")
            write_fods(fods, sheets)
            convert(fods, "xls:MS Excel 97", out_dir, profile)
            convert(fods, "xlsx:Calc MS Excel 2007 XML", out_dir, profile)


if __name__ == "__main__":
    main(sys.argv[1])
