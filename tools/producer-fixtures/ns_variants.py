"""Rewrites one workbook into the namespace spellings other writers use, same content, one file per spelling.

Usage: python3 ns_variants.py SOURCE.xlsx OUTPUT_DIR STEM
Writes OUTPUT_DIR/ns-<variant>-STEM.xlsx for each variant below. Standard library only; the XML is rewritten
tag by tag (text and attribute values are left alone), with each element's in-scope namespaces tracked so that
only the elements really in a namespace are renamed.
"""
import re
import sys
import zipfile

MAIN = "http://schemas.openxmlformats.org/spreadsheetml/2006/main"
REL = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"
CT = "http://schemas.openxmlformats.org/package/2006/content-types"
PR = "http://schemas.openxmlformats.org/package/2006/relationships"

# The parts whose elements are SpreadsheetML main: they take the prefixes and the redeclarations.
MAIN_TYPES = ("sheet.main+xml", "worksheet+xml", "styles+xml", "sharedStrings+xml", "comments+xml",
              "template.main+xml", "sheet.macroEnabled.main+xml")

TOKEN = re.compile(
    r"<!--.*?-->|<!\[CDATA\[.*?\]\]>|<\?.*?\?>|<!DOCTYPE[^>]*>"
    r"|<(/?)([^\s/>!?]+)((?:\s+[^\s=/>]+\s*=\s*(?:\"[^\"]*\"|'[^']*'))*)\s*(/?)>", re.S)
ATTR = re.compile(r"([^\s=]+)\s*=\s*(\"[^\"]*\"|'[^']*')")


class Element:
    def __init__(self, name, attrs, scope, depth):
        self.name = name
        self.attrs = attrs  # [name, quoted value] in document order
        self.scope = scope  # prefix ('' for the default) -> namespace, as written in the source
        self.depth = depth

    @property
    def prefix(self):
        return self.name.split(":", 1)[0] if ":" in self.name else ""

    def ns(self):
        return self.scope.get(self.prefix, "")

    def declares(self, prefix):
        key = "xmlns:" + prefix if prefix else "xmlns"
        return any(n == key for n, _ in self.attrs)


def rewrite(text, change):
    """Calls change(element) on every start tag and writes the tags back with the names it chose."""
    stack, pos, out = [], 0, []
    for m in TOKEN.finditer(text):
        out.append(text[pos:m.start()])
        pos = m.end()
        if m.group(2) is None:
            out.append(m.group(0))
            continue
        closing, name, attrs, empty = m.group(1), m.group(2), m.group(3), m.group(4)
        if closing:
            newname, _ = stack.pop()
            out.append("</" + newname + ">")
            continue
        parent = stack[-1][1] if stack else {}
        pairs = [[a, v] for a, v in ATTR.findall(attrs)]
        scope = dict(parent)
        for a, v in pairs:
            if a == "xmlns":
                scope[""] = v[1:-1]
            elif a.startswith("xmlns:"):
                scope[a[6:]] = v[1:-1]
        el = Element(name, pairs, scope, len(stack))
        change(el)
        out.append("<" + el.name + "".join(" %s=%s" % (a, v) for a, v in el.attrs) + ("/>" if empty else ">"))
        if not empty:
            stack.append((el.name, scope))
    out.append(text[pos:])
    if stack:
        raise ValueError("unbalanced tags")
    return "".join(out)


def prefix_default(uri, prefix):
    """Elements in the default namespace `uri` take `prefix`; the default declarations become prefixed ones."""
    def change(el):
        if any(p == prefix and u != uri for p, u in el.scope.items()):
            raise ValueError("prefix %s is already bound to %s" % (prefix, el.scope[prefix]))
        if el.prefix == "" and el.ns() == uri:
            el.name = prefix + ":" + el.name
        for pair in el.attrs:
            if pair[0] == "xmlns" and pair[1][1:-1] == uri:
                pair[0] = "xmlns:" + prefix
    return change


def rename_prefix(uri, new):
    """Every prefix bound to `uri` becomes `new`, on elements, attributes and declarations."""
    def change(el):
        if any(p == new and u != uri for p, u in el.scope.items()):
            raise ValueError("prefix %s is already bound" % new)
        if el.prefix and el.ns() == uri:
            el.name = new + ":" + el.name.split(":", 1)[1]
        for pair in el.attrs:
            a = pair[0]
            if a.startswith("xmlns:") and pair[1][1:-1] == uri:
                pair[0] = "xmlns:" + new
            elif ":" in a and not a.startswith("xmlns:") and el.scope.get(a.split(":", 1)[0]) == uri:
                pair[0] = new + ":" + a.split(":", 1)[1]
    return change


def declare_where_used(uri):
    """The declarations of prefixes bound to `uri` move from where they are to each element that uses one."""
    def change(el):
        used = {a.split(":", 1)[0] for a, _ in el.attrs if ":" in a and not a.startswith("xmlns")}
        used.add(el.prefix)
        el.attrs = [p for p in el.attrs if not (p[0].startswith("xmlns:") and p[1][1:-1] == uri)]
        for prefix in sorted(used):
            if prefix and el.scope.get(prefix) == uri:
                el.attrs.insert(0, ["xmlns:" + prefix, '"%s"' % uri])
    return change


def redeclare_default(uri):
    """Every element below the root in the default namespace `uri` declares it again."""
    def change(el):
        if el.depth > 0 and el.prefix == "" and el.ns() == uri and not el.declares(""):
            el.attrs.insert(0, ["xmlns", '"%s"' % uri])
    return change


def content_types(files):
    text = files["[Content_Types].xml"].decode("utf-8")
    defaults = {m.group(1).lower(): m.group(2)
                for m in re.finditer(r'<(?:\w+:)?Default\s+Extension="([^"]+)"\s+ContentType="([^"]+)"', text)}
    overrides = {m.group(1).lower(): m.group(2)
                 for m in re.finditer(r'<(?:\w+:)?Override\s+PartName="([^"]+)"\s+ContentType="([^"]+)"', text)}
    types = {}
    for name in files:
        if name == "[Content_Types].xml" or name.endswith("/"):
            continue
        key = "/" + name.lower()
        if key in overrides:
            types[name] = overrides[key]
        elif name.rsplit(".", 1)[-1].lower() in defaults:
            types[name] = defaults[name.rsplit(".", 1)[-1].lower()]
    return types


def override_only(files):
    """[Content_Types].xml without a Default: every part typed by its own Override."""
    types = content_types(files)
    body = "".join('<Override PartName="/%s" ContentType="%s"/>' % (name, types[name])
                   for name in files if name in types)
    return '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n<Types xmlns="%s">%s</Types>' % (CT, body)


def variants(files):
    types = content_types(files)
    main_parts = {n for n, t in types.items() if t.endswith(MAIN_TYPES)}
    rels = {n for n in files if n.endswith(".rels")}
    others = {n for n in files if n.endswith(".xml") and n != "[Content_Types].xml"}

    def apply(plan):
        """plan(part name) -> the changes to make to that part, in order."""
        out = dict(files)
        for name in files:
            changes = plan(name)
            if changes:
                text = files[name].decode("utf-8")
                for change in changes:
                    text = rewrite(text, change)
                out[name] = text.encode("utf-8")
        return out

    def odd(name):
        if name == "[Content_Types].xml":
            return [prefix_default(CT, "ct")]
        if name in rels:
            return [prefix_default(PR, "pr")]
        if name in main_parts:
            return [prefix_default(MAIN, "s"), rename_prefix(REL, "rel")]
        return [rename_prefix(REL, "rel")] if name in others else []

    return {
        "x-prefix": apply(lambda n: [prefix_default(MAIN, "x")] if n in main_parts else []),
        "rels-per-element": apply(lambda n: [declare_where_used(REL)] if n in others else []),
        "default-redeclared": apply(lambda n: [redeclare_default(MAIN)] if n in main_parts else []),
        "odd-prefixes": apply(odd),
        "override-only": dict(files, **{"[Content_Types].xml": override_only(files).encode("utf-8")}),
    }


def main():
    source, outdir, stem = sys.argv[1:4]
    with zipfile.ZipFile(source) as z:
        infos = z.infolist()
        files = {i.filename: z.read(i) for i in infos}
    for variant, parts in variants(files).items():
        path = "%s/ns-%s-%s.xlsx" % (outdir, variant, stem)
        with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
            for info in infos:
                entry = zipfile.ZipInfo(info.filename, date_time=(2024, 1, 1, 0, 0, 0))
                entry.compress_type = zipfile.ZIP_STORED if info.filename.endswith("/") else zipfile.ZIP_DEFLATED
                z.writestr(entry, parts[info.filename])


if __name__ == "__main__":
    main()
