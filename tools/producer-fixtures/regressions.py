"""Writes the small hand-made workbooks that carry what some writers put in files and the engine once got wrong.

Usage: python3 regressions.py OUTPUT_DIR   (standard library only; the files come out the same on every run)
"""
import sys
import zipfile
from xml.sax.saxutils import escape

MAIN = "http://schemas.openxmlformats.org/spreadsheetml/2006/main"
BETA = "http://schemas.microsoft.com/office/excel/2006/2"  # Office 2007 beta 1 technical refresh
REL = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"
PR = "http://schemas.openxmlformats.org/package/2006/relationships"
MC = "http://schemas.openxmlformats.org/markup-compatibility/2006"
X14AC = "http://schemas.microsoft.com/office/spreadsheetml/2009/9/ac"
XR = "http://schemas.microsoft.com/office/spreadsheetml/2014/revision"
SML = "application/vnd.openxmlformats-officedocument.spreadsheetml."
OFFICE_REL = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
STRICT_MAIN = "http://purl.oclc.org/ooxml/spreadsheetml/main"
STRICT_REL = "http://purl.oclc.org/ooxml/officeDocument/relationships"
LINK_PATH = OFFICE_REL + "externalLinkPath"
ADDIN_PATH = "http://schemas.microsoft.com/office/2006/relationships/xlExternalLinkPath/xlLibrary"

PLAIN_STYLES = f"""<styleSheet xmlns="{MAIN}">
<numFmts count="1"><numFmt numFmtId="164" formatCode="#,##0.00&quot; kr&quot;"/></numFmts>
<fonts count="2"><font><sz val="11"/><name val="Calibri"/></font><font><b/><sz val="11"/><name val="Calibri"/></font></fonts>
<fills count="2"><fill><patternFill patternType="none"/></fill><fill><patternFill patternType="gray125"/></fill></fills>
<borders count="1"><border><left/><right/><top/><bottom/><diagonal/></border></borders>
<cellStyleXfs count="1"><xf numFmtId="0" fontId="0" fillId="0" borderId="0"/></cellStyleXfs>
<cellXfs count="3"><xf numFmtId="0" fontId="0" fillId="0" borderId="0" xfId="0"/><xf numFmtId="0" fontId="1" fillId="0" borderId="0" xfId="0" applyFont="1"/><xf numFmtId="164" fontId="0" fillId="0" borderId="0" xfId="0" applyNumberFormat="1"/></cellXfs>
<cellStyles count="1"><cellStyle name="Normal" xfId="0" builtinId="0"/></cellStyles>
</styleSheet>"""


def cell(ref, value, style=0):
    """A cell: str -> shared string index given as ("s", i), int/float -> number, ("f", text, cached) -> formula."""
    s = f' s="{style}"' if style else ""
    if isinstance(value, tuple) and value[0] == "s":
        return f'<c r="{ref}"{s} t="s"><v>{value[1]}</v></c>'
    if isinstance(value, tuple) and value[0] == "f":
        return f'<c r="{ref}"{s}><f>{escape(value[1])}</f><v>{value[2]}</v></c>'
    return f'<c r="{ref}"{s}><v>{value}</v></c>'


def worksheet(rows, ns=MAIN):
    body = "".join(f'<row r="{r}">' + "".join(cell(*c) for c in cells) + "</row>" for r, cells in rows)
    return f'<worksheet xmlns="{ns}"><sheetData>{body}</sheetData></worksheet>'


def shared_strings(texts, ns=MAIN, count=None):
    items = "".join(f"<si><t>{escape(t)}</t></si>" for t in texts)
    n = len(texts) if count is None else count
    return f'<sst xmlns="{ns}" count="{n}" uniqueCount="{n}">{items}</sst>'


def package(path, sheets, styles, strings=None, ns=MAIN, workbook_extra="", names="", encodings=None, links=(),
            rel_ns=REL):
    """sheets: [(name, worksheet xml or None for an entry without a part)]; encodings: {part: (label, codec)}
    for parts stored in another encoding than UTF-8 (a codec of "utf-16" writes a byte order mark); links:
    [(externalLink body, relationship type, target)], numbered [1], [2]... in that order; rel_ns: the
    relationships namespace (the strict one for a strict workbook)."""
    parts, overrides, rels, entries = {}, [], [], []
    base = rel_ns + "/"
    for i, (name, xml) in enumerate(sheets, start=1):
        if xml is None:
            entries.append(f'<sheet name="{name}" sheetId="{i}" r:id=""/>')
            continue
        parts[f"xl/worksheets/sheet{i}.xml"] = xml
        overrides.append((f"/xl/worksheets/sheet{i}.xml", SML + "worksheet+xml"))
        rels.append((f"rId{i}", "worksheet", f"worksheets/sheet{i}.xml"))
        entries.append(f'<sheet name="{name}" sheetId="{i}" r:id="rId{i}"/>')
    parts["xl/styles.xml"] = styles
    overrides.append(("/xl/styles.xml", SML + "styles+xml"))
    rels.append(("rIdStyles", "styles", "styles.xml"))
    if strings is not None:
        parts["xl/sharedStrings.xml"] = strings
        overrides.append(("/xl/sharedStrings.xml", SML + "sharedStrings+xml"))
        rels.append(("rIdStrings", "sharedStrings", "sharedStrings.xml"))
    references = ""
    for k, (body, rel_type, target) in enumerate(links, start=1):
        parts[f"xl/externalLinks/externalLink{k}.xml"] = (
            f'<externalLink xmlns="{ns}" xmlns:r="{rel_ns}">{body}</externalLink>')
        parts[f"xl/externalLinks/_rels/externalLink{k}.xml.rels"] = (
            f'<Relationships xmlns="{PR}"><Relationship Id="rId1" Type="{rel_type}" Target="{escape(target)}" '
            f'TargetMode="External"/></Relationships>')
        overrides.append((f"/xl/externalLinks/externalLink{k}.xml", SML + "externalLink+xml"))
        rels.append((f"rIdLink{k}", "externalLink", f"externalLinks/externalLink{k}.xml"))
        references += f'<externalReference r:id="rIdLink{k}"/>'
    if references:
        references = f"<externalReferences>{references}</externalReferences>"
    defined = f"<definedNames>{names}</definedNames>" if names else ""
    parts["xl/workbook.xml"] = (f'<workbook xmlns="{ns}" xmlns:r="{rel_ns}">{workbook_extra}'
                                f'<sheets>{"".join(entries)}</sheets>{references}{defined}</workbook>')
    overrides.insert(0, ("/xl/workbook.xml", SML + "sheet.main+xml"))
    parts["xl/_rels/workbook.xml.rels"] = relationships(rels, base)
    parts["_rels/.rels"] = relationships([("rId1", "officeDocument", "xl/workbook.xml")], base)
    types = ('<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
             '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
             '<Default Extension="xml" ContentType="application/xml"/>'
             + "".join(f'<Override PartName="{p}" ContentType="{t}"/>' for p, t in overrides) + "</Types>")
    order = ["[Content_Types].xml", "_rels/.rels", "xl/workbook.xml", "xl/_rels/workbook.xml.rels"]
    order += [p for p in parts if p not in order]
    parts["[Content_Types].xml"] = types
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for name in order:
            info = zipfile.ZipInfo(name, date_time=(2024, 1, 1, 0, 0, 0))
            info.compress_type = zipfile.ZIP_DEFLATED
            label, codec = (encodings or {}).get(name, ("UTF-8", "utf-8"))
            text = f'<?xml version="1.0" encoding="{label}" standalone="yes"?>\n' + parts[name]
            z.writestr(info, text.encode(codec))


def relationships(rels, base=OFFICE_REL):
    body = "".join(f'<Relationship Id="{i}" Type="{base}{t}" Target="{target}"/>' for i, t, target in rels)
    return f'<Relationships xmlns="{PR}">{body}</Relationships>'


def summary_sheet(first_string, style):
    """A second sheet whose formula reads the first one."""
    return worksheet([(1, [("A1", ("s", first_string)), ("B1", ("f", "Data!B2*2", 2469), style)])])


def numfmt_below_164(out):
    # SheetJS numbers its own formats from 60 up, in the range the built-in formats use; 61 here differs from
    # SheetJS's 61 so that a copy taking the id for a built-in one shows.
    styles = f"""<styleSheet xmlns="{MAIN}">
<numFmts count="3"><numFmt numFmtId="60" formatCode="#,##0.00&quot; kr&quot;"/><numFmt numFmtId="61" formatCode="0.000&quot; t&quot;"/><numFmt numFmtId="62" formatCode="d mmmm yyyy"/></numFmts>
<fonts count="1"><font><sz val="11"/><name val="Calibri"/></font></fonts>
<fills count="2"><fill><patternFill patternType="none"/></fill><fill><patternFill patternType="gray125"/></fill></fills>
<borders count="1"><border><left/><right/><top/><bottom/><diagonal/></border></borders>
<cellStyleXfs count="1"><xf numFmtId="0" fontId="0" fillId="0" borderId="0"/></cellStyleXfs>
<cellXfs count="4"><xf numFmtId="0" fontId="0" fillId="0" borderId="0" xfId="0"/><xf numFmtId="60" fontId="0" fillId="0" borderId="0" xfId="0" applyNumberFormat="1"/><xf numFmtId="61" fontId="0" fillId="0" borderId="0" xfId="0" applyNumberFormat="1"/><xf numFmtId="62" fontId="0" fillId="0" borderId="0" xfId="0" applyNumberFormat="1"/></cellXfs>
<cellStyles count="1"><cellStyle name="Normal" xfId="0" builtinId="0"/></cellStyles>
</styleSheet>"""
    data = worksheet([(1, [("A1", ("s", 0)), ("B1", ("s", 1))]),
                      (2, [("A2", ("s", 2)), ("B2", 1234.5, 1), ("C2", 2.5, 2), ("D2", 45322, 3)])])
    summary = worksheet([(1, [("A1", ("s", 3)), ("B1", ("f", "Data!B2*2", 2469), 1)])])
    package(f"{out}/regress-numfmt-below-164.xlsx", [("Data", data), ("Summary", summary)], styles,
            shared_strings(["Item", "Amount", "Apples", "Twice"]))


def styles_alternate_content(out):
    # The second font sits inside mc:AlternateContent; the fonts after it keep their places in the count.
    styles = f"""<styleSheet xmlns="{MAIN}" xmlns:mc="{MC}" mc:Ignorable="x14ac" xmlns:x14ac="{X14AC}">
<fonts count="4" x14ac:knownFonts="1"><font><sz val="11"/><name val="Calibri"/></font><mc:AlternateContent><mc:Choice Requires="x14ac"><font><b/><sz val="11"/><name val="Calibri"/></font></mc:Choice><mc:Fallback><font><b/><sz val="11"/><name val="Calibri"/></font></mc:Fallback></mc:AlternateContent><font><i/><sz val="11"/><name val="Calibri"/></font><font><b/><u/><sz val="11"/><color rgb="FFC00000"/><name val="Calibri"/></font></fonts>
<fills count="2"><fill><patternFill patternType="none"/></fill><fill><patternFill patternType="gray125"/></fill></fills>
<borders count="1"><border><left/><right/><top/><bottom/><diagonal/></border></borders>
<cellStyleXfs count="1"><xf numFmtId="0" fontId="0" fillId="0" borderId="0"/></cellStyleXfs>
<cellXfs count="4"><xf numFmtId="0" fontId="0" fillId="0" borderId="0" xfId="0"/><xf numFmtId="0" fontId="1" fillId="0" borderId="0" xfId="0" applyFont="1"/><xf numFmtId="0" fontId="2" fillId="0" borderId="0" xfId="0" applyFont="1"/><xf numFmtId="4" fontId="3" fillId="0" borderId="0" xfId="0" applyFont="1" applyNumberFormat="1"/></cellXfs>
<cellStyles count="1"><cellStyle name="Normal" xfId="0" builtinId="0"/></cellStyles>
</styleSheet>"""
    data = worksheet([(1, [("A1", ("s", 0), 1), ("B1", ("s", 1), 1)]),
                      (2, [("A2", ("s", 2), 2), ("B2", 1234.5, 3)]),
                      (3, [("A3", ("s", 3), 3), ("B3", 99.95, 3)])])
    package(f"{out}/regress-styles-alternate-content.xlsx", [("Data", data), ("Summary", summary_sheet(4, 3))],
            styles, shared_strings(["Item", "Amount", "Apples", "Pears", "Twice"]))


def cellstyle_xr_uid(out):
    # A named cell style as recent writers save it: with a revision id from a namespace declared ignorable.
    styles = f"""<styleSheet xmlns="{MAIN}" xmlns:mc="{MC}" mc:Ignorable="x14ac xr" xmlns:x14ac="{X14AC}" xmlns:xr="{XR}">
<fonts count="2" x14ac:knownFonts="1"><font><sz val="11"/><name val="Calibri"/></font><font><b/><sz val="13"/><color rgb="FF1F3864"/><name val="Calibri"/></font></fonts>
<fills count="3"><fill><patternFill patternType="none"/></fill><fill><patternFill patternType="gray125"/></fill><fill><patternFill patternType="solid"><fgColor rgb="FFDDEBF7"/><bgColor indexed="64"/></patternFill></fill></fills>
<borders count="2"><border><left/><right/><top/><bottom/><diagonal/></border><border><left/><right/><top/><bottom style="medium"><color rgb="FF4472C4"/></bottom><diagonal/></border></borders>
<cellStyleXfs count="2"><xf numFmtId="0" fontId="0" fillId="0" borderId="0"/><xf numFmtId="0" fontId="1" fillId="2" borderId="1" applyFont="1" applyFill="1" applyBorder="1"/></cellStyleXfs>
<cellXfs count="2"><xf numFmtId="0" fontId="0" fillId="0" borderId="0" xfId="0"/><xf numFmtId="0" fontId="1" fillId="2" borderId="1" xfId="1" applyFont="1" applyFill="1" applyBorder="1"/></cellXfs>
<cellStyles count="2"><cellStyle name="Orvandel Heading" xfId="1" xr:uid="{{6E1C4A21-5F0B-4C43-9D7E-2B8C1F0A9E31}}"/><cellStyle name="Normal" xfId="0" builtinId="0"/></cellStyles>
</styleSheet>"""
    data = worksheet([(1, [("A1", ("s", 0), 1), ("B1", ("s", 1), 1)]), (2, [("A2", ("s", 2)), ("B2", 1234.5)])])
    package(f"{out}/regress-cellstyle-xr-uid.xlsx", [("Data", data), ("Summary", summary_sheet(3, 0))], styles,
            shared_strings(["Item", "Amount", "Apples", "Twice"]))


def vba_module_placeholder(out):
    # Files converted from workbooks with macro modules keep an entry for each module without a part.
    data = worksheet([(1, [("A1", ("s", 0), 1), ("B1", 1234.5, 2)])])
    package(f"{out}/regress-vba-module-placeholder.xlsx", [("Data", data), ("Module1", None)], PLAIN_STYLES,
            shared_strings(["Item"]))


def beta_namespace(out):
    # Every SpreadsheetML part in the namespace of the 2006 beta, which the released format does not read.
    data = worksheet([(1, [("A1", ("s", 0)), ("B1", 1234.5)]), (2, [("A2", ("s", 1))])], ns=BETA)
    summary = worksheet([(1, [("A1", ("s", 2)), ("B1", ("f", "Data!B1*2", 2469))])], ns=BETA)
    styles = PLAIN_STYLES.replace(MAIN, BETA)
    package(f"{out}/regress-beta-2006-namespace.xlsx", [("Data", data), ("Summary", summary)], styles,
            shared_strings(["Item", "Apples", "Twice"], ns=BETA), ns=BETA)


def short_shared_strings(out):
    # The table holds two strings; the cells use indices up to 4.
    data = worksheet([(1, [("A1", ("s", 0), 1), ("B1", ("s", 1), 1)]),
                      (2, [("A2", ("s", 2)), ("B2", 1234.5, 2)]),
                      (3, [("A3", ("s", 4)), ("B3", 99.95, 2)])])
    package(f"{out}/regress-short-shared-strings.xlsx", [("Data", data), ("Summary", summary_sheet(3, 2))],
            PLAIN_STYLES, shared_strings(["Item", "Amount"], count=5))


def duplicate_shared_strings(out):
    # Writers that do not look their strings up keep equal strings twice; strings added after them must not
    # land on an entry that is already there.
    data = worksheet([(1, [("A1", ("s", 0), 1), ("B1", ("s", 2), 1)]),
                      (2, [("A2", ("s", 1)), ("B2", 1234.5, 2)]),
                      (3, [("A3", ("s", 3)), ("B3", 99.95, 2)])])
    package(f"{out}/regress-duplicate-shared-strings.xlsx", [("Data", data), ("Summary", summary_sheet(4, 2))],
            PLAIN_STYLES, shared_strings(["Item", "Item", "Amount", "Item", "Twice"]))


def structure_locked(out):
    data = worksheet([(1, [("A1", ("s", 0), 1), ("B1", 1234.5, 2)])])
    package(f"{out}/regress-structure-locked.xlsx", [("Data", data), ("Summary", summary_sheet(1, 2))],
            PLAIN_STYLES, shared_strings(["Item", "Twice"]), workbook_extra='<workbookProtection lockStructure="1"/>')


def declared_encodings(out):
    # Parts in the other encodings XML allows: the workbook and one sheet in UTF-16, the other sheet and the
    # shared strings in ISO-8859-1, with letters outside ASCII in sheet names, strings and a formula.
    data = worksheet([(1, [("A1", ("s", 0), 1), ("B1", ("s", 1), 1)]),
                      (2, [("A2", ("s", 2)), ("B2", 1234.5, 2)])])
    data = data.replace("</sheetData>", '<row r="3"><c r="A3" t="inlineStr"><is><t>\u00e9t\u00e9</t></is></c>'
                                        '</row></sheetData>')
    summary = worksheet([(1, [("A1", ("s", 3)), ("B1", ("f", "'Donn\u00e9es'!B2*2", 2469), 2)])])
    package(f"{out}/regress-declared-encodings.xlsx", [("Donn\u00e9es", data), ("R\u00e9sum\u00e9", summary)],
            PLAIN_STYLES, shared_strings(["Caf\u00e9", "Cr\u00e8me", "P\u00eache", "Deux fois"]),
            encodings={"xl/workbook.xml": ("UTF-16", "utf-16"),
                       "xl/worksheets/sheet1.xml": ("ISO-8859-1", "latin-1"),
                       "xl/worksheets/sheet2.xml": ("UTF-16", "utf-16"),
                       "xl/sharedStrings.xml": ("ISO-8859-1", "latin-1")})


def external_book(sheets, cached=(), names=()):
    """An externalBook body: sheets by name, cached {(sheet index): [(ref, value)]}, names [(name, refersTo)]."""
    body = "<externalBook r:id=\"rId1\">"
    if sheets:
        body += "<sheetNames>" + "".join(f'<sheetName val="{escape(n)}"/>' for n in sheets) + "</sheetNames>"
    if names:
        body += "<definedNames>" + "".join(f'<definedName name="{n}" refersTo="{escape(r)}"/>' for n, r in names)
        body += "</definedNames>"
    data = ""
    for sheet, cells in cached:
        rows = {}
        for ref, value in cells:
            rows.setdefault(int(ref.lstrip("ABCDEFGHIJKLMNOPQRSTUVWXYZ")), []).append((ref, value))
        data += f'<sheetData sheetId="{sheet}">' + "".join(
            f'<row r="{r}">' + "".join(f'<cell r="{ref}"><v>{v}</v></cell>' for ref, v in cells) + "</row>"
            for r, cells in sorted(rows.items())) + "</sheetData>"
    if data:
        body += f"<sheetDataSet>{data}</sheetDataSet>"
    return body + "</externalBook>"


PRICES = "file:///C:/Shared/Prices.xlsx"


def external_links(out):
    # A sheet whose formulas read other workbooks in every way a formula can: a sheet range of a workbook beside
    # it ([1], relative), a defined name of that workbook, an absolute path ([2]), an add-in's function ([3]),
    # in plain, shared and array formulas and in names of its own; and one reference to a sheet of its own
    # workbook that stays behind.
    data = worksheet([(1, [("A1", ("s", 0)), ("B1", 1234.5, 2)]), (2, [("A2", ("s", 1)), ("B2", 2)])])
    links = worksheet([
        (1, [("A1", ("f", "[1]Uses!$A$1*2", 84)), ("B1", ("f", "SUM([1]Codes!A1:A3)", 6)),
             ("C1", ("f", "[1]!Rate", 0.25)), ("F1", ("f", "SUM(AllPrices)", 30))]),
        (2, [("A2", ("f", '[3]!HsGetValue("x")', 0)), ("B2", ("f", "'[2]Price List'!B2", 10)),
             ("C2", ("f", "Data!B1+[1]Uses!A1", 1276.5))]),
        (3, [("A3", ("f", "SUM(Codes)", 6))]),
    ])
    links = links.replace('<c r="A3"><f>SUM(Codes)</f><v>6</v></c>',
                          '<c r="A3"><f>SUM(Codes)</f><v>6</v></c>'
                          '<c r="D3"><f t="shared" ref="D3:D5" si="0">[1]Uses!A1+Data!B2</f><v>44</v></c>'
                          '<c r="E3"><f t="array" ref="E3">SUM(\'[2]Price List\'!B2:B3)</f><v>30</v></c>')
    links = links.replace("</sheetData>", '<row r="4"><c r="D4"><f t="shared" si="0"/><v>0</v></c></row>'
                                          '<row r="5"><c r="D5"><f t="shared" si="0"/><v>0</v></c></row></sheetData>')
    names = ('<definedName name="AllPrices">\'[2]Price List\'!$B$2:$B$3</definedName>'
             '<definedName name="Codes" localSheetId="1">[1]Codes!$A$1:$A$3</definedName>')
    package(f"{out}/regress-external-links.xlsx", [("Data", data), ("Links", links)], PLAIN_STYLES,
            shared_strings(["Item", "Apples"]), names=names, links=[
                (external_book(["Uses", "Codes"], [(0, [("A1", 42), ("B1", 0.25)]),
                                                   (1, [("A1", 1), ("A2", 2), ("A3", 3)])],
                               [("Rate", "=Uses!$B$1")]), LINK_PATH, "other.xlsx"),
                (external_book(["Price List"], [(0, [("B2", 10), ("B3", 20)])]), LINK_PATH, PRICES),
                (external_book([], names=[("HsGetValue", "")]), ADDIN_PATH, "Smart.xla"),
            ])
    # The workbook the first link reads, with a link of its own to the same prices (caching fewer cells).
    uses = worksheet([(1, [("A1", 42), ("B1", 0.25), ("C1", ("f", "'[1]Price List'!B2", 10))])])
    codes = worksheet([(1, [("A1", 1)]), (2, [("A2", 2)]), (3, [("A3", 3)])])
    package(f"{out}/regress-external-links-other.xlsx", [("Uses", uses), ("Codes", codes)], PLAIN_STYLES,
            names='<definedName name="Rate">Uses!$B$1</definedName>',
            links=[(external_book(["Price List"], [(0, [("B2", 10)])]), LINK_PATH, PRICES)])


def strict_class(out):
    # The strict conformance class: every SpreadsheetML part and relationship in its namespaces, a link too.
    data = worksheet([(1, [("A1", ("s", 0), 1), ("B1", ("s", 1), 1)]), (2, [("A2", ("s", 2)), ("B2", 1234.5, 2)])],
                     ns=STRICT_MAIN)
    summary = worksheet([(1, [("A1", ("s", 3)), ("B1", ("f", "Data!B2*2", 2469), 2),
                              ("C1", ("f", "'[1]Price List'!B2", 10))])], ns=STRICT_MAIN)
    package(f"{out}/regress-strict-class.xlsx", [("Data", data), ("Summary", summary)],
            PLAIN_STYLES.replace(MAIN, STRICT_MAIN),
            shared_strings(["Item", "Amount", "Apples", "Twice"], ns=STRICT_MAIN), ns=STRICT_MAIN,
            rel_ns=STRICT_REL, names='<definedName name="Amounts">Data!$B$2:$B$2</definedName>',
            links=[(external_book(["Price List"], [(0, [("B2", 10)])]),
                    STRICT_REL + "/externalLinkPath", PRICES)])


if __name__ == "__main__":
    target = sys.argv[1]
    for make in (numfmt_below_164, styles_alternate_content, cellstyle_xr_uid, vba_module_placeholder,
                 beta_namespace, short_shared_strings, duplicate_shared_strings, structure_locked,
                 declared_encodings, external_links, strict_class):
        make(target)
