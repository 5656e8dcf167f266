// The generated workbooks: a good one to damage, a large one to save, and the hostile corpus.
#include "Workbooks.h"

#include <cstdint>
#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>

#include "RawZip.h"

namespace orv::hardening {

namespace {

const std::string kDecl = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
const std::string kMain = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
const std::string kRelNs = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
const std::string kPkgRels = "http://schemas.openxmlformats.org/package/2006/relationships";
const std::string kCt = "application/vnd.openxmlformats-officedocument.spreadsheetml.";

std::string Rel(const std::string& id, const std::string& kind, const std::string& target,
                const std::string& extra = "") {
    return "<Relationship Id=\"" + id + "\" Type=\"" + kRelNs + "/" + kind + "\" Target=\"" + target + "\"" +
           extra + "/>";
}

std::string Rels(const std::string& body) {
    return kDecl + "<Relationships xmlns=\"" + kPkgRels + "\">" + body + "</Relationships>";
}

std::string ContentTypes(const std::string& workbookType = kCt + "sheet.main+xml") {
    std::string s = kDecl + "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">" +
                    "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package."
                    "relationships+xml\"/><Default Extension=\"xml\" ContentType=\"application/xml\"/>";
    if (!workbookType.empty()) s += "<Override PartName=\"/xl/workbook.xml\" ContentType=\"" + workbookType + "\"/>";
    for (int i = 1; i <= 3; ++i) {
        s += "<Override PartName=\"/xl/worksheets/sheet" + std::to_string(i) + ".xml\" ContentType=\"" + kCt +
             "worksheet+xml\"/>";
    }
    s += "<Override PartName=\"/xl/sharedStrings.xml\" ContentType=\"" + kCt + "sharedStrings+xml\"/>";
    s += "<Override PartName=\"/xl/styles.xml\" ContentType=\"" + kCt + "styles+xml\"/>";
    return s + "</Types>";
}

std::string WorkbookXml(const std::string& sheets, const std::string& afterSheets = "", const std::string& before = "") {
    return kDecl + "<workbook xmlns=\"" + kMain + "\" xmlns:r=\"" + kRelNs + "\">" + before + "<sheets>" + sheets +
           "</sheets>" + afterSheets + "</workbook>";
}

std::string SheetEntry(const std::string& name, int id, const std::string& rid) {
    return "<sheet name=\"" + name + "\" sheetId=\"" + std::to_string(id) + "\" r:id=\"" + rid + "\"/>";
}

const std::string kGoodSheets =
    SheetEntry("Data", 1, "rId1") + SheetEntry("Other", 2, "rId2") + SheetEntry("Last", 3, "rId3");
const std::string kGoodNames =
    "<definedNames><definedName name=\"Total\">Other!$A$1:$A$3</definedName></definedNames>";

std::string Worksheet(const std::string& sheetData, const std::string& before = "") {
    return kDecl + "<worksheet xmlns=\"" + kMain + "\" xmlns:r=\"" + kRelNs + "\">" + before + "<sheetData>" +
           sheetData + "</sheetData></worksheet>";
}

const std::string kDataRows =
    "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\" s=\"1\"><v>2</v></c></row>"
    "<row r=\"2\"><c r=\"A2\"><f>Other!A1*2</f><v>4</v></c><c r=\"B2\" t=\"s\"><v>1</v></c></row>";

std::string Nest(const std::string& tag, int depth) {
    std::string s;
    s.reserve(static_cast<std::size_t>(depth) * (tag.size() * 2 + 5));
    for (int i = 0; i < depth; ++i) s += "<" + tag + ">";
    for (int i = 0; i < depth; ++i) s += "</" + tag + ">";
    return s;
}

const std::string kLaughs =
    "<!DOCTYPE workbook [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">"
    "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\"><!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">"
    "<!ENTITY e \"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\"><!ENTITY f \"&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;\">"
    "<!ENTITY g \"&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;\"><!ENTITY h \"&g;&g;&g;&g;&g;&g;&g;&g;&g;&g;\">]>";
const std::string kExternal = "<!DOCTYPE workbook [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>";

// `xml` with a DTD put after its declaration and `entity` used right after the root's start tag.
std::string WithDoctype(const std::string& xml, const std::string& doctype, const std::string& use) {
    std::string s = xml;
    const auto decl = s.find("?>");
    s.insert(decl + 2, doctype);
    const auto rootStart = s.find('<', s.find(doctype) + doctype.size());
    const auto rootEnd = s.find('>', rootStart);
    s.insert(rootEnd + 1, use);
    return s;
}

std::string Part(const Parts& parts, const std::string& name) {
    for (const auto& [n, c] : parts) {
        if (n == name) return c;
    }
    return {};
}

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<RawEntry> Entries(const Parts& parts) {
    std::vector<RawEntry> entries;
    for (const auto& [name, content] : parts) entries.push_back(RawEntry{name, content});
    return entries;
}

}  // namespace

Parts GoodParts() {
    return {
        {"[Content_Types].xml", ContentTypes()},
        {"_rels/.rels", Rels(Rel("rId1", "officeDocument", "xl/workbook.xml"))},
        {"xl/workbook.xml", WorkbookXml(kGoodSheets, kGoodNames)},
        {"xl/_rels/workbook.xml.rels",
         Rels(Rel("rId1", "worksheet", "worksheets/sheet1.xml") + Rel("rId2", "worksheet", "worksheets/sheet2.xml") +
              Rel("rId3", "worksheet", "worksheets/sheet3.xml") + Rel("rId4", "sharedStrings", "sharedStrings.xml") +
              Rel("rId5", "styles", "styles.xml"))},
        {"xl/worksheets/sheet1.xml", Worksheet(kDataRows)},
        {"xl/worksheets/sheet2.xml", Worksheet("<row r=\"1\"><c r=\"A1\"><v>2</v></c></row>")},
        {"xl/worksheets/sheet3.xml", Worksheet("")},
        {"xl/sharedStrings.xml", kDecl + "<sst xmlns=\"" + kMain + "\" count=\"2\" uniqueCount=\"2\"><si><t>alpha</t>"
                                         "</si><si><t>beta</t></si></sst>"},
        {"xl/styles.xml", kDecl + "<styleSheet xmlns=\"" + kMain + "\"><fonts count=\"1\"><font/></fonts><fills "
                                  "count=\"1\"><fill/></fills><borders count=\"1\"><border/></borders><cellXfs "
                                  "count=\"2\"><xf/><xf numFmtId=\"10\"/></cellXfs></styleSheet>"},
    };
}

Parts WithPart(Parts parts, const std::string& name, const std::string& content) {
    for (auto it = parts.begin(); it != parts.end(); ++it) {
        if (it->first == name) {
            if (content.empty()) {
                parts.erase(it);
            } else {
                it->second = content;
            }
            return parts;
        }
    }
    if (!content.empty()) parts.emplace_back(name, content);
    return parts;
}

std::string ZipParts(const Parts& parts) { return BuildZip(Entries(parts)); }

std::string GoodWorkbook() { return ZipParts(GoodParts()); }

std::string LargeWorkbook(int megabytes) {
    // A sheet of numbers that differ row by row, and a picture's worth of bytes that do not compress: the
    // file is about `megabytes` MB, and a save writes all of it.
    std::ostringstream rows;
    for (int r = 1; r <= 2000; ++r) {
        rows << "<row r=\"" << r << "\">";
        for (int c = 0; c < 8; ++c) {
            rows << "<c r=\"" << static_cast<char>('A' + c) << r << "\"><v>" << (r * 7919 + c * 104729) % 1000003
                 << "</v></c>";
        }
        rows << "</row>";
    }
    std::string media(static_cast<std::size_t>(megabytes) << 20, '\0');
    std::uint64_t x = 88172645463325252ull;
    for (auto& byte : media) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        byte = static_cast<char>(x);
    }
    auto entries = Entries(WithPart(GoodParts(), "xl/worksheets/sheet2.xml", Worksheet(rows.str())));
    entries.emplace_back("xl/media/image1.bin", std::move(media), false);
    return BuildZip(entries);
}

std::vector<HostileFile> HostileFiles(const std::string& fixtures) {
    std::vector<HostileFile> files;
    // Each file is made only when a test asks for it: REFUSE and TOLERATE keep the expression as a function.
    const auto add = [&](std::string label, bool mustRefuse, std::function<std::string()> make) {
        files.push_back({std::move(label), std::move(make), mustRefuse});
    };
#define REFUSE(label, ...) add(label, true, [=] { return std::string(__VA_ARGS__); })
#define TOLERATE(label, ...) add(label, false, [=] { return std::string(__VA_ARGS__); })
    const auto good = GoodParts();
    const auto withPart = [good](const std::string& name, const std::string& content) {
        return ZipParts(WithPart(good, name, content));
    };

    // Not a zip at all.
    REFUSE("empty", "");
    REFUSE("one_byte", "P");
    REFUSE("zip_signature_only", "PK\x03\x04");
    REFUSE("text", "This is not a workbook.\n");
    REFUSE("png_header", std::string("\x89PNG\r\n\x1a\n", 8) + std::string(200, '\0'));
    REFUSE("pdf", "%PDF-1.4\n%\xe2\xe3\xcf\xd3\n1 0 obj\n<<>>\nendobj\n");
    REFUSE("nul_bytes", std::string(4096, '\0'));
    REFUSE("empty_zip", BuildZip({}));
    REFUSE("end_record_pointing_nowhere", "PK\x05\x06" + std::string(4, '\0') + "\x05\0\x05\0" +
                                              "\xff\xff\0\0\x10\0\0\0" + std::string(2, '\0'));
    std::string noise;
    for (int i = 0; i < 8192; ++i) noise.push_back(static_cast<char>((i * 2654435761u) >> 24));
    REFUSE("noise", "PK\x03\x04" + noise);

    // Truncated at many offsets: every cut loses the zip directory.
    const std::string whole = GoodWorkbook();
    for (int i = 1; i <= 30; ++i) {
        const std::size_t cut = whole.size() * static_cast<std::size_t>(i) / 31;
        REFUSE("truncated_at_" + std::to_string(cut), whole.substr(0, cut));
    }
    for (const std::size_t less : {1u, 10u, 21u, 22u, 23u}) {
        REFUSE("truncated_" + std::to_string(less) + "_before_end", whole.substr(0, whole.size() - less));
    }
    // Single bytes changed inside the stored parts: damage that a zip directory does not show.
    for (int i = 1; i <= 8; ++i) {
        std::string flipped = whole;
        flipped[flipped.size() * static_cast<std::size_t>(i) / 12] ^= 0x5a;
        TOLERATE("byte_flipped_" + std::to_string(i), flipped);
    }

    // Zip bombs.
    {
        auto entries = Entries(good);
        entries[2].declaredSize = 0xfffffff0u;  // the workbook part claims 4 GB
        REFUSE("bomb_declared_4gb_workbook", BuildZip(entries));
    }
    {
        auto entries = Entries(good);
        entries[4].declaredSize = 0xfffffff0u;  // a sheet claims 4 GB
        TOLERATE("bomb_declared_4gb_sheet", BuildZip(entries));
    }
    // The large ones are made inside their functions too: every test process lists the corpus as it starts.
    add("bomb_ratio_workbook", true, [withPart] {
        // The workbook part holds 64 MB of whitespace: more than a thousand to one.
        std::string wb = WorkbookXml(kGoodSheets, kGoodNames);
        wb.insert(wb.find("<workbook"), std::string(64u << 20, ' '));
        return withPart("xl/workbook.xml", wb);
    });
    TOLERATE("bomb_ratio_sheet", withPart("xl/worksheets/sheet1.xml",
                                          Worksheet(kDataRows, "<!--" + std::string(200u << 20, '-') + "-->")));
    add("bomb_many_entries", false, [good] {
        // 60000 tiny entries besides the workbook.
        auto entries = Entries(good);
        for (int i = 0; i < 60000; ++i) entries.push_back(RawEntry{"xl/media/m" + std::to_string(i) + ".bin", "x", false});
        return BuildZip(entries);
    });
    TOLERATE("bomb_nested_zip", withPart("xl/embeddings/inner.zip", whole));
    REFUSE("entry_count_lies", BuildZip(Entries(good), 0, 65535));
    {
        auto entries = Entries(good);
        entries[2].declaredCompressedSize = 0x7ffffff0u;  // compressed data beyond the end of the file
        TOLERATE("compressed_size_beyond_file", BuildZip(entries));
    }
    {
        auto entries = Entries(good);
        entries[2].crc = 0x12345678u;
        REFUSE("crc_wrong_workbook", BuildZip(entries));
    }

    // Overlapping and duplicate entries.
    {
        auto entries = Entries(good);
        entries[5].sharesLocalHeaderOf = 4;  // sheet2 is sheet1's bytes
        TOLERATE("overlapping_sheets", BuildZip(entries));
    }
    {
        auto entries = Entries(good);
        entries[3].sharesLocalHeaderOf = 2;  // the workbook relationships are the workbook's bytes
        REFUSE("overlapping_workbook_and_rels", BuildZip(entries));
    }
    REFUSE("duplicate_central_records", BuildZip(Entries(good), 3));
    {
        auto entries = Entries(good);
        entries.push_back(RawEntry{"xl/workbook.xml", "<workbook/>"});
        REFUSE("duplicate_workbook_name", BuildZip(entries));
    }
    {
        auto entries = Entries(good);
        entries.push_back(RawEntry{"XL/Worksheets/Sheet1.xml", "<worksheet/>"});
        REFUSE("duplicate_name_in_other_case", BuildZip(entries));
    }
    {
        auto entries = Entries(good);
        entries.push_back(RawEntry{"/xl/workbook.xml", "<workbook/>"});
        TOLERATE("duplicate_with_leading_slash", BuildZip(entries));
    }

    // Entry names and relationship targets that leave the package.
    TOLERATE("entry_dot_dot", withPart("../../evil.txt", "evil"));
    TOLERATE("entry_absolute", withPart("/tmp/evil.txt", "evil"));
    TOLERATE("entry_backslashes", withPart("..\\..\\evil.txt", "evil"));
    TOLERATE("entry_nul_in_name", withPart(std::string("xl/a\0b.xml", 10), "<a/>"));
    {
        const std::string rels = Part(good, "xl/_rels/workbook.xml.rels");
        std::string bad = rels;
        bad.replace(bad.find("worksheets/sheet2.xml"), 21, "../../../../etc/passwd");
        TOLERATE("sheet_target_dot_dot", withPart("xl/_rels/workbook.xml.rels", bad));
        bad = rels;
        bad.replace(bad.find("worksheets/sheet2.xml"), 21, "/etc/passwd");
        TOLERATE("sheet_target_absolute", withPart("xl/_rels/workbook.xml.rels", bad));
        bad = rels;
        bad.replace(bad.find("Target=\"worksheets/sheet2.xml\""), 30,
                    "Target=\"file:///etc/passwd\" TargetMode=\"External\"");
        TOLERATE("sheet_target_external", withPart("xl/_rels/workbook.xml.rels", bad));
    }
    REFUSE("office_document_outside",
           withPart("_rels/.rels", Rels(Rel("rId1", "officeDocument", "../../xl/workbook.xml/../../x"))));

    // Entity bombs, external entities and DTDs.
    const std::string wb = Part(good, "xl/workbook.xml");
    REFUSE("laughs_in_workbook", withPart("xl/workbook.xml", WithDoctype(wb, kLaughs, "")));
    REFUSE("laughs_used_in_workbook", withPart("xl/workbook.xml", WithDoctype(wb, kLaughs, "<x>&h;</x>")));
    REFUSE("external_entity_workbook", withPart("xl/workbook.xml", WithDoctype(wb, kExternal, "<x>&x;</x>")));
    REFUSE("external_dtd_workbook",
           withPart("xl/workbook.xml", WithDoctype(wb, "<!DOCTYPE workbook SYSTEM \"http://127.0.0.1:9/x.dtd\">", "")));
    REFUSE("parameter_entity_workbook",
           withPart("xl/workbook.xml",
                    WithDoctype(wb, "<!DOCTYPE workbook [<!ENTITY % p SYSTEM \"file:///etc/passwd\"> %p;]>", "")));
    REFUSE("laughs_in_workbook_rels",
           withPart("xl/_rels/workbook.xml.rels", WithDoctype(Part(good, "xl/_rels/workbook.xml.rels"), kLaughs, "")));
    REFUSE("laughs_in_package_rels", withPart("_rels/.rels", WithDoctype(Part(good, "_rels/.rels"), kLaughs, "")));
    TOLERATE("laughs_in_content_types",
             withPart("[Content_Types].xml", WithDoctype(Part(good, "[Content_Types].xml"), kLaughs, "")));
    TOLERATE("laughs_in_sheet", withPart("xl/worksheets/sheet1.xml",
                                         WithDoctype(Part(good, "xl/worksheets/sheet1.xml"), kLaughs, "<x>&h;</x>")));
    TOLERATE("external_entity_shared_strings",
             withPart("xl/sharedStrings.xml",
                      WithDoctype(Part(good, "xl/sharedStrings.xml"), kExternal, "<si><t>&x;</t></si>")));
    TOLERATE("laughs_in_styles", withPart("xl/styles.xml", WithDoctype(Part(good, "xl/styles.xml"), kLaughs, "")));

    // Deeply nested XML.
    TOLERATE("deep_workbook", withPart("xl/workbook.xml", WorkbookXml(kGoodSheets, kGoodNames, Nest("x", 200000))));
    TOLERATE("deep_sheets_element",
             withPart("xl/workbook.xml", WorkbookXml(Nest("sheets", 100000) + kGoodSheets, kGoodNames)));
    TOLERATE("deep_workbook_rels",
             withPart("xl/_rels/workbook.xml.rels",
                      Rels(Nest("Relationships", 200000) + Rel("rId1", "worksheet", "worksheets/sheet1.xml") +
                           Rel("rId2", "worksheet", "worksheets/sheet2.xml") +
                           Rel("rId3", "worksheet", "worksheets/sheet3.xml"))));
    TOLERATE("deep_sheet", withPart("xl/worksheets/sheet1.xml", Worksheet(kDataRows, Nest("x", 200000))));
    TOLERATE("deep_shared_strings",
             withPart("xl/sharedStrings.xml",
                      kDecl + "<sst xmlns=\"" + kMain + "\"><si><t>a</t></si><si>" + Nest("r", 200000) + "</si></sst>"));
    TOLERATE("deep_content_types",
             withPart("[Content_Types].xml", WithDoctype(Part(good, "[Content_Types].xml"), "", Nest("x", 200000))));
    TOLERATE("deep_styles", withPart("xl/styles.xml", kDecl + "<styleSheet xmlns=\"" + kMain + "\">" +
                                                          Nest("cellXfs", 200000) + "</styleSheet>"));

    // Missing and cyclic relationships.
    REFUSE("no_package_rels", withPart("_rels/.rels", ""));
    REFUSE("package_rels_empty", withPart("_rels/.rels", Rels("")));
    REFUSE("package_rels_not_xml", withPart("_rels/.rels", "\x01\x02 not xml"));
    REFUSE("office_document_missing", withPart("_rels/.rels", Rels(Rel("rId1", "officeDocument", "xl/none.xml"))));
    REFUSE("office_document_is_rels", withPart("_rels/.rels", Rels(Rel("rId1", "officeDocument", "_rels/.rels"))));
    REFUSE("office_document_is_folder", withPart("_rels/.rels", Rels(Rel("rId1", "officeDocument", "xl/"))));
    REFUSE("office_document_empty_target", withPart("_rels/.rels", Rels(Rel("rId1", "officeDocument", ""))));
    TOLERATE("no_workbook_rels", withPart("xl/_rels/workbook.xml.rels", ""));
    TOLERATE("sheet_rel_missing",
             withPart("xl/workbook.xml", WorkbookXml(kGoodSheets + SheetEntry("Ghost", 9, "rId99"), kGoodNames)));
    TOLERATE("sheet_without_rid",
             withPart("xl/workbook.xml", WorkbookXml(kGoodSheets + "<sheet name=\"Bare\" sheetId=\"7\"/>", kGoodNames)));
    TOLERATE("workbook_rel_to_itself",
             withPart("xl/_rels/workbook.xml.rels",
                      Rels(Rel("rId1", "worksheet", "workbook.xml") + Rel("rId2", "worksheet", "worksheets/sheet2.xml") +
                           Rel("rId3", "worksheet", "worksheets/sheet3.xml"))));
    TOLERATE("sheet_rel_to_rels_part",
             withPart("xl/_rels/workbook.xml.rels",
                      Rels(Rel("rId1", "worksheet", "_rels/workbook.xml.rels") +
                           Rel("rId2", "worksheet", "worksheets/sheet2.xml") +
                           Rel("rId3", "worksheet", "worksheets/sheet3.xml"))));
    {
        auto parts = WithPart(good, "xl/worksheets/_rels/sheet1.xml.rels",
                              Rels(Rel("rId1", "drawing", "../drawings/drawing1.xml")));
        parts = WithPart(parts, "xl/drawings/drawing1.xml", "<xdr:wsDr xmlns:xdr=\"x\"/>");
        parts = WithPart(parts, "xl/drawings/_rels/drawing1.xml.rels",
                         Rels(Rel("rId1", "drawing", "drawing1.xml") + Rel("rId2", "worksheet", "../worksheets/sheet1.xml")));
        TOLERATE("cyclic_drawing_rels", ZipParts(parts));
    }
    {
        auto parts = WithPart(good, "xl/worksheets/_rels/sheet1.xml.rels",
                              Rels(Rel("rId1", "worksheet", "sheet2.xml")));
        parts = WithPart(parts, "xl/worksheets/_rels/sheet2.xml.rels", Rels(Rel("rId1", "worksheet", "sheet1.xml")));
        TOLERATE("cyclic_sheet_rels", ZipParts(parts));
    }
    TOLERATE("duplicate_rel_ids",
             withPart("xl/_rels/workbook.xml.rels",
                      Rels(Rel("rId1", "worksheet", "worksheets/sheet1.xml") +
                           Rel("rId1", "worksheet", "worksheets/sheet2.xml") +
                           Rel("rId2", "worksheet", "worksheets/sheet2.xml") +
                           Rel("rId3", "worksheet", "worksheets/sheet3.xml"))));
    TOLERATE("sheet_part_missing", withPart("xl/worksheets/sheet1.xml", ""));
    TOLERATE("sheet_part_empty", ZipParts(WithPart(WithPart(good, "xl/worksheets/sheet1.xml", ""),
                                                   "xl/worksheets/sheet1.xml", " ")));
    TOLERATE("sheet_part_not_xml", withPart("xl/worksheets/sheet1.xml", "\xff\xfe\x00garbage"));

    // Content types.
    REFUSE("no_content_types", withPart("[Content_Types].xml", ""));
    REFUSE("content_types_not_xml", withPart("[Content_Types].xml", "<Types"));
    TOLERATE("content_types_without_workbook", withPart("[Content_Types].xml", ContentTypes("")));
    REFUSE("workbook_content_type_wrong", withPart("[Content_Types].xml", ContentTypes("text/plain")));
    TOLERATE("content_types_empty_root",
             withPart("[Content_Types].xml",
                      kDecl + "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\"/>"));

    // The workbook part itself.
    REFUSE("workbook_part_empty", ZipParts(WithPart(WithPart(good, "xl/workbook.xml", ""), "xl/workbook.xml", " ")));
    REFUSE("workbook_part_binary", withPart("xl/workbook.xml", std::string("\x00\x01\x02\x03", 4) + noise));
    REFUSE("workbook_part_unclosed", withPart("xl/workbook.xml", wb.substr(0, wb.size() - 5)));
    TOLERATE("workbook_part_utf16", withPart("xl/workbook.xml", [&] {
                 std::string s = "\xff\xfe";
                 const std::string ascii = "<?xml version=\"1.0\" encoding=\"UTF-16\"?>" + wb.substr(kDecl.size());
                 for (char c : ascii) {
                     s.push_back(c);
                     s.push_back('\0');
                 }
                 return s;
             }()));
    TOLERATE("workbook_without_sheets", withPart("xl/workbook.xml", WorkbookXml("")));
    TOLERATE("workbook_without_sheets_element",
             withPart("xl/workbook.xml", kDecl + "<workbook xmlns=\"" + kMain + "\"/>"));
    {
        std::string many;
        for (int i = 1; i <= 20000; ++i) many += SheetEntry("S" + std::to_string(i), i, "rId1");
        TOLERATE("twenty_thousand_sheet_entries", withPart("xl/workbook.xml", WorkbookXml(many)));
    }

    // Sheet names invalid or duplicated.
    const auto names = [&](const std::string& label, const std::string& first, const std::string& second) {
        TOLERATE(label, withPart("xl/workbook.xml", WorkbookXml(SheetEntry(first, 1, "rId1") + SheetEntry(second, 2, "rId2") +
                                                                    SheetEntry("Last", 3, "rId3"),
                                                                kGoodNames)));
    };
    names("name_empty", "", "Other");
    names("name_too_long", std::string(40, 'N'), "Other");
    names("name_very_long", std::string(100000, 'N'), "Other");
    names("name_brackets", "Da[t]a", "Other");
    names("name_colon_star", "Da:ta*", "Other");
    names("name_slashes", "a/b\\c?", "Other");
    names("name_history", "History", "Other");
    names("name_leading_apostrophe", "'Data", "Other'");
    names("name_control_chars", "Da&#1;ta", "Other");
    names("name_invalid_utf8", "Da\xc3\x28ta\xff", "Other");
    names("name_duplicate", "Data", "Data");
    names("name_duplicate_other_case", "Data", "DATA");
    names("name_duplicate_unicode_case", "\xc3\x84rger", "\xc3\xa4RGER");
    TOLERATE("sheet_id_duplicate",
             withPart("xl/workbook.xml", WorkbookXml(SheetEntry("Data", 1, "rId1") + SheetEntry("Other", 1, "rId2") +
                                                         SheetEntry("Last", 1, "rId3"),
                                                     kGoodNames)));
    TOLERATE("sheet_id_not_a_number",
             withPart("xl/workbook.xml", WorkbookXml(SheetEntry("Data", 1, "rId1") +
                                                         "<sheet name=\"Other\" sheetId=\"-99999999999999999999\" r:id=\"rId2\"/>" +
                                                         SheetEntry("Last", 3, "rId3"),
                                                     kGoodNames)));
    TOLERATE("two_sheets_one_part",
             withPart("xl/workbook.xml", WorkbookXml(SheetEntry("Data", 1, "rId1") + SheetEntry("Other", 2, "rId1") +
                                                         SheetEntry("Last", 3, "rId3"),
                                                     kGoodNames)));
    TOLERATE("sheet_state_unknown",
             withPart("xl/workbook.xml",
                      WorkbookXml("<sheet name=\"Data\" sheetId=\"1\" state=\"gone\" r:id=\"rId1\"/>" +
                                      SheetEntry("Other", 2, "rId2") + SheetEntry("Last", 3, "rId3"),
                                  kGoodNames)));
    TOLERATE("all_sheets_hidden",
             withPart("xl/workbook.xml",
                      WorkbookXml("<sheet name=\"Data\" sheetId=\"1\" state=\"hidden\" r:id=\"rId1\"/>"
                                  "<sheet name=\"Other\" sheetId=\"2\" state=\"veryHidden\" r:id=\"rId2\"/>"
                                  "<sheet name=\"Last\" sheetId=\"3\" state=\"hidden\" r:id=\"rId3\"/>",
                                  kGoodNames)));

    // Indices out of range.
    const auto cell = [&](const std::string& label, const std::string& c) {
        TOLERATE(label, withPart("xl/worksheets/sheet1.xml", Worksheet("<row r=\"1\">" + c + "</row>")));
    };
    cell("shared_string_index_huge", "<c r=\"A1\" t=\"s\"><v>999999</v></c>");
    cell("shared_string_index_negative", "<c r=\"A1\" t=\"s\"><v>-1</v></c>");
    cell("shared_string_index_overflow", "<c r=\"A1\" t=\"s\"><v>99999999999999999999999</v></c>");
    cell("shared_string_index_text", "<c r=\"A1\" t=\"s\"><v>abc</v></c>");
    cell("style_index_huge", "<c r=\"A1\" s=\"99999\"><v>1</v></c>");
    cell("style_index_negative", "<c r=\"A1\" s=\"-3\"><v>1</v></c>");
    TOLERATE("defined_name_sheet_index_out_of_range",
             withPart("xl/workbook.xml",
                      WorkbookXml(kGoodSheets, "<definedNames><definedName name=\"L\" localSheetId=\"99\">Data!A1"
                                               "</definedName><definedName name=\"M\" localSheetId=\"-1\">Other!A1"
                                               "</definedName></definedNames>")));
    TOLERATE("book_view_out_of_range",
             withPart("xl/workbook.xml",
                      WorkbookXml(kGoodSheets, kGoodNames,
                                  "<bookViews><workbookView activeTab=\"99\" firstSheet=\"-5\"/></bookViews>")));

    // Gigantic dimension claims.
    TOLERATE("dimension_whole_grid",
             withPart("xl/worksheets/sheet1.xml", Worksheet(kDataRows, "<dimension ref=\"A1:XFD1048576\"/>")));
    TOLERATE("dimension_beyond_grid",
             withPart("xl/worksheets/sheet1.xml", Worksheet(kDataRows, "<dimension ref=\"A1:ZZZZZZ99999999999\"/>")));
    cell("row_number_huge", "<c r=\"ZZZZZZZZ4294967296\"><v>1</v></c>");
    // Found by fuzzing: a column of many letters overflowed while the copied rows were streamed.
    cell("column_letters_many", "<c r=\"" + std::string(120, 'g') + "B15\" s=\"1\"><v>1</v></c>");
    TOLERATE("row_attribute_huge",
             withPart("xl/worksheets/sheet1.xml", Worksheet("<row r=\"4294967297\"><c><v>1</v></c></row>")));
    TOLERATE("merge_whole_grid",
             ZipParts(WithPart(good, "xl/worksheets/sheet1.xml",
                               kDecl + "<worksheet xmlns=\"" + kMain + "\"><sheetData>" + kDataRows +
                                   "</sheetData><mergeCells count=\"1\"><mergeCell ref=\"A1:XFD1048576\"/>"
                                   "</mergeCells></worksheet>")));
    TOLERATE("formula_huge_ranges",
             withPart("xl/worksheets/sheet1.xml",
                      Worksheet("<row r=\"1\"><c r=\"A1\"><f>SUM(Other!A1:XFD1048576)+Other!A:XFD+'Last'!1:1048576"
                                "</f></c></row>")));

    // Encrypted workbooks, and workbooks of other formats under an .xlsx name.
    REFUSE("encrypted_agile", Slurp(fixtures + "/encrypted-agile-aes.xlsx"));
    REFUSE("encrypted_default_password", Slurp(fixtures + "/encrypted-default-password.xlsx"));
    {
        auto entries = Entries(good);
        entries[2].flags = 1;  // the workbook part marked as encrypted with the zip's own cipher
        REFUSE("zip_encrypted_workbook_part", BuildZip(entries));
    }
    REFUSE("xls_renamed", Slurp(fixtures + "/biff5-visibility.xls"));
    REFUSE("ods_renamed",
           BuildZip({RawEntry{"mimetype", "application/vnd.oasis.opendocument.spreadsheet", false},
                     RawEntry{"content.xml", "<office:document-content xmlns:office=\"urn:oasis:names:tc:opendocument:"
                                             "xmlns:office:1.0\"/>"},
                     RawEntry{"META-INF/manifest.xml", "<manifest/>"}}));
    REFUSE("xlsb_renamed",
           withPart("_rels/.rels", Rels(Rel("rId1", "officeDocument", "xl/workbook.bin"))) );
    // Legacy and OpenDocument files that are damaged: refused by their listing, before any office starts.
    const auto legacy = [&](const std::string& label, std::function<std::string(std::string)> damage) {
        const std::string path = fixtures + "/biff5-visibility.xls";
        files.push_back({label, [path, damage] { return damage(Slurp(path)); }, true, ".xls"});
    };
    const auto put32 = [](std::string& s, std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) s[at + static_cast<std::size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xff);
    };
    const auto get32 = [](const std::string& s, std::size_t at) {
        std::uint32_t v = 0;
        for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(s[at + static_cast<std::size_t>(i)]);
        return v;
    };
    legacy("xls_text", [](std::string) { return std::string("not a workbook at all\n"); });
    for (const std::size_t cut : {8u, 511u, 512u, 1536u, 4096u}) {
        legacy("xls_truncated_at_" + std::to_string(cut), [cut](std::string s) { return s.substr(0, cut); });
    }
    legacy("xls_truncated_half", [](std::string s) { return s.substr(0, s.size() / 2); });
    legacy("xls_sector_shift_30", [](std::string s) { s[0x1e] = 30; return s; });
    legacy("xls_sector_shift_0", [](std::string s) { s[0x1e] = 0; return s; });
    legacy("xls_fat_count_huge", [put32](std::string s) { put32(s, 0x2c, 0x7fffffffu); return s; });
    legacy("xls_directory_beyond_file", [put32](std::string s) { put32(s, 0x30, 0x00ffffffu); return s; });
    legacy("xls_directory_end_of_chain", [put32](std::string s) { put32(s, 0x30, 0xfffffffeu); return s; });
    legacy("xls_difat_loop", [put32](std::string s) {
        put32(s, 0x2c, 200);  // more allocation sectors than the header holds: the rest come from the DIFAT
        put32(s, 0x44, 0);
        put32(s, 0x48, 0xffffu);
        return s;
    });
    legacy("xls_directory_chain_loops", [put32, get32](std::string s) {
        const std::uint32_t fat = get32(s, 0x4c);
        const std::uint32_t directory = get32(s, 0x30);
        put32(s, (fat + 1) * 512u + 4u * directory, directory);
        return s;
    });
    legacy("xls_directory_zeroed", [get32](std::string s) {
        const std::uint32_t directory = get32(s, 0x30);
        std::fill_n(s.begin() + static_cast<long>((directory + 1) * 512u), 512, '\0');
        return s;
    });
    files.push_back({"ods_truncated",
                     [] {
                         const std::string ods = BuildZip({RawEntry{"mimetype", "application/vnd.oasis.opendocument.spreadsheet", false},
                                                           RawEntry{"content.xml", "<office:document-content/>"}});
                         return ods.substr(0, ods.size() - 30);
                     },
                     true, ".ods"});
    files.push_back({"ods_without_content",
                     [] { return BuildZip({RawEntry{"mimetype", "application/vnd.oasis.opendocument.spreadsheet", false}}); },
                     true, ".ods"});
    files.push_back({"ods_content_not_xml",
                     [] {
                         return BuildZip({RawEntry{"mimetype", "application/vnd.oasis.opendocument.spreadsheet", false},
                                          RawEntry{"content.xml", "<office:document-content"}});
                     },
                     true, ".ods"});
    files.push_back({"xlsm_with_truncation", [whole] { return whole.substr(0, whole.size() / 2); }, true, ".xlsm"});
#undef REFUSE
#undef TOLERATE
    return files;
}

}  // namespace orv::hardening
