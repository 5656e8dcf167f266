// Fuzz target: a workbook file renamed, deleted from and copied out of, with every XML part each save wrote or
// changed read back by a second, namespace-aware parser (libxml2). pugixml, which the engine uses, does not
// resolve prefixes, so an unbound prefix or a clash of namespaced attributes that the engine writes would pass
// every other check and only break the readers that do resolve them.
//
// Input: the bytes of a package. When they do not start like a zip ("PK"), the first byte chooses the sheets
// and the target workbook (see Choice) and the rest is the package. Each stored (uncompressed) entry's CRC is
// made to agree with its bytes before the engine sees the file: the seeds include stored copies of the
// fixtures, and without that, every edit the fuzzer makes to their XML would stop at the zip's checksum.
//
// A part is judged only when the save changed its bytes, and is a finding only when what it came from (the
// same-named part before the operation, or for a copy, the source's part) parsed without such errors: carrying
// a broken input along is not the engine's doing.
#include <libxml/parser.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlversion.h>
#include <zip.h>
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "WorkbookExercise.h"
#include "engine/EngineError.h"
#include "engine/package/PartNames.h"
#include "engine/transfer/SheetCopy.h"
#include "engine/workbook/Workbook.h"

using orv::fuzz::Try;

namespace {

using orv::engine::EngineError;
using orv::engine::WorkbookDocument;

// Small limits keep one input from taking the fuzzer's memory; the checker reads no more than the engine.
constexpr std::uint64_t kMaxPartBytes = 32u << 20;

orv::engine::InflateLimits Limits() {
    orv::engine::InflateLimits limits;
    limits.maxEntryBytes = kMaxPartBytes;
    return limits;
}

// Quotes, an ampersand, angle brackets and a non-ASCII letter: everything a writer must escape or encode.
const std::string kNewName = "R\xC3\xA9 'a' & <b> \"c\"";

// ---- libxml2's verdict on one part ----

#if LIBXML_VERSION >= 21200
using ErrorArg = const xmlError*;
#else
using ErrorArg = xmlErrorPtr;
#endif

struct Verdict {
    bool broken = false;   // a namespace error or a fatal error
    std::string messages;  // the first few of them, for the report
};

void Record(void* user, ErrorArg error) {
    auto* verdict = static_cast<Verdict*>(user);
    if (!error) return;
    const bool namespaces = error->domain == XML_FROM_NAMESPACE && error->level >= XML_ERR_ERROR;
    if (!namespaces && error->level != XML_ERR_FATAL) return;
    if (verdict->broken && verdict->messages.size() > 600) return;
    verdict->broken = true;
    verdict->messages += "  line " + std::to_string(error->line) + (namespaces ? " (namespace): " : " (fatal): ");
    verdict->messages += error->message ? error->message : "(no message)";
    if (verdict->messages.back() != '\n') verdict->messages += '\n';
}

// Messages that bypass the structured handler would only flood the fuzzer's log.
void Ignore(void*, const char*, ...) {}

Verdict Parse(const std::string& bytes) {
    Verdict verdict;
    xmlSetStructuredErrorFunc(&verdict, Record);
    // No network, no external DTD, entities left as references: a part is judged on its own bytes.
    xmlDocPtr doc = xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), "part.xml", nullptr,
                                  XML_PARSE_NONET);
    xmlSetStructuredErrorFunc(nullptr, nullptr);
    if (doc) {
        xmlFreeDoc(doc);
    } else if (!verdict.broken) {
        verdict.broken = true;
        verdict.messages = "  (no document: empty or unreadable)\n";
    }
    return verdict;
}

// ---- the XML parts of a zip archive ----

bool IsXmlPartName(const std::string& name) {
    auto endsWith = [&](const char* suffix) {
        const std::string s = suffix;
        if (name.size() < s.size()) return false;
        for (std::size_t i = 0; i < s.size(); ++i) {
            char c = name[name.size() - s.size() + i];
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
            if (c != s[i]) return false;
        }
        return true;
    };
    return endsWith(".xml") || endsWith(".rels");
}

struct XmlPart {
    std::string name;
    std::optional<std::string> bytes;  // nullopt: damaged or over the limit
};

// Keyed as the engine compares part names (ignoring ASCII case), so that a part keeps its key across a save.
using XmlParts = std::map<std::string, XmlPart>;

XmlParts ReadXmlParts(zip_t* archive) {
    XmlParts parts;
    const zip_int64_t count = zip_get_num_entries(archive, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        const auto index = static_cast<zip_uint64_t>(i);
        const char* name = zip_get_name(archive, index, 0);
        if (!name || !IsXmlPartName(name)) continue;
        XmlPart part{name, std::nullopt};
        zip_stat_t st;
        if (zip_stat_index(archive, index, 0, &st) == 0 && (st.valid & ZIP_STAT_SIZE) && st.size <= kMaxPartBytes) {
            if (zip_file_t* file = zip_fopen_index(archive, index, 0)) {
                std::string bytes(st.size, '\0');
                zip_int64_t got = bytes.empty() ? 0 : zip_fread(file, bytes.data(), bytes.size());
                char extra = 0;
                // Reading on to the end is what makes libzip compare the CRC.
                const zip_int64_t more = zip_fread(file, &extra, 1);
                if (got == static_cast<zip_int64_t>(bytes.size()) && more == 0) part.bytes = std::move(bytes);
                zip_fclose(file);
            }
        }
        parts[orv::engine::PartKey(name)] = std::move(part);
    }
    return parts;
}

std::optional<XmlParts> XmlPartsOfBytes(const std::string& package) {
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(package.data(), package.size(), 0, &error);
    zip_t* archive = source ? zip_open_from_source(source, ZIP_RDONLY, &error) : nullptr;
    zip_error_fini(&error);
    if (!archive) {
        if (source) zip_source_free(source);
        return std::nullopt;
    }
    XmlParts parts = ReadXmlParts(archive);
    zip_discard(archive);
    return parts;
}

// A package as it was before an operation: its XML parts and, computed when first needed, libxml2's verdicts.
class Before {
  public:
    explicit Before(XmlParts parts) : m_parts(std::move(parts)) {}

    const XmlPart* Find(const std::string& key) const {
        auto it = m_parts.find(key);
        return it == m_parts.end() ? nullptr : &it->second;
    }

    // True when the part parsed without a namespace or fatal error; a part that could not be read counts as
    // broken, since the engine could not have read it either.
    bool Clean(const std::string& key) {
        auto found = m_verdicts.find(key);
        if (found != m_verdicts.end()) return found->second;
        const XmlPart* part = Find(key);
        const bool clean = part && part->bytes && !Parse(*part->bytes).broken;
        m_verdicts[key] = clean;
        return clean;
    }

    bool AllClean() {
        for (const auto& entry : m_parts) {
            if (!Clean(entry.first)) return false;
        }
        return true;
    }

  private:
    XmlParts m_parts;
    std::map<std::string, bool> m_verdicts;
};

// ---- checking what a save wrote ----

struct Context {
    const char* operation;
    int sheet;
    const std::string* savedPath;
};

[[noreturn]] void Finding(const Context& context, const std::string& what) {
    std::fprintf(stderr, "\n== fuzz_strict_write: after %s of sheet %d, the saved package %s\n%s\n",
                 context.operation, context.sheet, context.savedPath->c_str(), what.c_str());
    std::abort();
}

// Aborts when a part of the package saved at `context.savedPath` that the engine wrote or changed is broken
// while what it came from was clean. `before` is the package the save started from; `originsClean` says, for a
// part whose bytes differ from it (and whether `before` had it), whether whatever else it came from was clean.
void CheckSaved(const Context& context, Before& before,
                const std::function<bool(const std::string& key, bool inBefore)>& originsClean) {
    int code = 0;
    zip_t* archive = zip_open(context.savedPath->c_str(), ZIP_RDONLY, &code);
    if (!archive) Finding(context, "does not open as a zip archive (libzip error " + std::to_string(code) + ")");
    const XmlParts written = ReadXmlParts(archive);
    zip_discard(archive);

    for (const auto& [key, part] : written) {
        const XmlPart* old = before.Find(key);
        if (old && old->bytes == part.bytes) continue;
        if (!part.bytes) {
            // An entry the engine left untouched is copied as its compressed bytes, damage included.
            if (old && !old->bytes) continue;
            Finding(context, "has a part that cannot be read back: " + part.name);
        }
        const Verdict verdict = Parse(*part.bytes);
        if (!verdict.broken) continue;
        if (old && !before.Clean(key)) continue;
        if (!originsClean(key, old != nullptr)) continue;
        Finding(context, "has the part " + part.name + (old ? ", which it changed," : ", which it added,") +
                             " that libxml2 refuses while what it came from was clean:\n" + verdict.messages);
    }
}

// ---- the target workbooks of the copy ----

const char* const kDecl = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
const std::string kMain = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
const std::string kRel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
const std::string kPkgRel = "http://schemas.openxmlformats.org/package/2006/relationships";
const std::string kCt = "application/vnd.openxmlformats-officedocument.";

std::string Part(const std::string& body) { return kDecl + body; }

std::string ContentTypes() {
    auto over = [](const std::string& part, const std::string& type) {
        return "<Override PartName=\"/" + part + "\" ContentType=\"" + kCt + type + "\"/>";
    };
    return Part("<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
                "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
                "<Default Extension=\"xml\" ContentType=\"application/xml\"/>" +
                over("xl/workbook.xml", "spreadsheetml.sheet.main+xml") +
                over("xl/worksheets/sheet1.xml", "spreadsheetml.worksheet+xml") +
                over("xl/styles.xml", "spreadsheetml.styles+xml") +
                over("xl/sharedStrings.xml", "spreadsheetml.sharedStrings+xml") +
                over("docProps/app.xml", "extended-properties+xml") + "</Types>");
}

std::string Relationship(const std::string& id, const std::string& type, const std::string& target) {
    return "<Relationship Id=\"" + id + "\" Type=\"" + kRel + "/" + type + "\" Target=\"" + target + "\"/>";
}

std::string RootRels() {
    return Part("<Relationships xmlns=\"" + kPkgRel + "\">" + Relationship("rId1", "officeDocument", "xl/workbook.xml") +
                Relationship("rId2", "extended-properties", "docProps/app.xml") + "</Relationships>");
}

std::string WorkbookRels() {
    return Part("<Relationships xmlns=\"" + kPkgRel + "\">" + Relationship("rId1", "worksheet", "worksheets/sheet1.xml") +
                Relationship("rId2", "styles", "styles.xml") + Relationship("rId3", "sharedStrings", "sharedStrings.xml") +
                "</Relationships>");
}

// The SpreadsheetML parts, with every element named through `p` ("" or "x:") and `main` declaring the
// namespace on each root.
std::vector<std::pair<std::string, std::string>> SpreadsheetParts(const std::string& p, const std::string& main,
                                                                   const std::string& sheetRel) {
    return {
        {"xl/workbook.xml",
         Part("<" + p + "workbook " + main + "><" + p + "sheets><" + p + "sheet name=\"Target\" sheetId=\"1\" " +
              sheetRel + "r:id=\"rId1\"/></" + p + "sheets></" + p + "workbook>")},
        {"xl/worksheets/sheet1.xml",
         Part("<" + p + "worksheet " + main + "><" + p + "sheetData><" + p + "row r=\"1\"><" + p +
              "c r=\"A1\" t=\"s\"><" + p + "v>0</" + p + "v></" + p + "c><" + p + "c r=\"B1\" s=\"1\"><" + p +
              "v>1</" + p + "v></" + p + "c></" + p + "row></" + p + "sheetData></" + p + "worksheet>")},
        {"xl/styles.xml",
         Part("<" + p + "styleSheet " + main + "><" + p + "numFmts count=\"1\"><" + p +
              "numFmt numFmtId=\"164\" formatCode=\"0.000\"/></" + p + "numFmts><" + p + "fonts count=\"1\"><" + p +
              "font><" + p + "sz val=\"11\"/><" + p + "name val=\"Calibri\"/></" + p + "font></" + p + "fonts><" +
              p + "fills count=\"2\"><" + p + "fill><" + p + "patternFill patternType=\"none\"/></" + p + "fill><" +
              p + "fill><" + p + "patternFill patternType=\"gray125\"/></" + p + "fill></" + p + "fills><" + p +
              "borders count=\"1\"><" + p + "border><" + p + "left/><" + p + "right/><" + p + "top/><" + p +
              "bottom/><" + p + "diagonal/></" + p + "border></" + p + "borders><" + p +
              "cellStyleXfs count=\"1\"><" + p + "xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\"/></" +
              p + "cellStyleXfs><" + p + "cellXfs count=\"2\"><" + p +
              "xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\"/><" + p +
              "xf numFmtId=\"164\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\" applyNumberFormat=\"1\"/></" +
              p + "cellXfs><" + p + "cellStyles count=\"1\"><" + p +
              "cellStyle name=\"Normal\" xfId=\"0\" builtinId=\"0\"/></" + p + "cellStyles></" + p + "styleSheet>")},
        {"xl/sharedStrings.xml",
         Part("<" + p + "sst " + main + " count=\"1\" uniqueCount=\"1\"><" + p + "si><" + p + "t>Kept</" + p +
              "t></" + p + "si></" + p + "sst>")},
    };
}

std::string AppProperties(const std::string& vt) {
    return Part("<Properties xmlns=\"http://schemas.openxmlformats.org/officeDocument/2006/extended-properties\" xmlns:" + vt +
                "=\"http://schemas.openxmlformats.org/officeDocument/2006/docPropsVTypes\">"
                "<Application>Microsoft Excel</Application><HeadingPairs><" + vt +
                ":vector size=\"2\" baseType=\"variant\"><" + vt + ":variant><" + vt + ":lpstr>Worksheets</" + vt +
                ":lpstr></" + vt + ":variant><" + vt + ":variant><" + vt + ":i4>1</" + vt + ":i4></" + vt +
                ":variant></" + vt + ":vector></HeadingPairs><TitlesOfParts><" + vt +
                ":vector size=\"1\" baseType=\"lpstr\"><" + vt + ":lpstr>Target</" + vt + ":lpstr></" + vt +
                ":vector></TitlesOfParts></Properties>");
}

// Two small good workbooks: one as most producers write them, and one that binds the main namespace to a
// prefix with no default namespace, binds the relationships prefix on each sheet element alone and names the
// property types with an unusual prefix, where whatever the engine adds must find the right prefix.
std::string TargetWorkbook(int which) {
    std::vector<std::pair<std::string, std::string>> parts = {
        {"[Content_Types].xml", ContentTypes()},
        {"_rels/.rels", RootRels()},
        {"xl/_rels/workbook.xml.rels", WorkbookRels()},
    };
    const auto sheetParts =
        which == 0 ? SpreadsheetParts("", "xmlns=\"" + kMain + "\" xmlns:r=\"" + kRel + "\"", "")
                   : SpreadsheetParts("x:", "xmlns:x=\"" + kMain + "\"", "xmlns:r=\"" + kRel + "\" ");
    parts.insert(parts.end(), sheetParts.begin(), sheetParts.end());
    parts.emplace_back("docProps/app.xml", AppProperties(which == 0 ? "vt" : "t"));
    return orv::fuzz::ZipOf(parts);
}

struct Target {
    std::string bytes;
    XmlParts parts;
};

const Target& TargetOf(int which) {
    static const std::vector<Target> targets = [] {
        std::vector<Target> made;
        for (int i = 0; i < 2; ++i) {
            Target target{TargetWorkbook(i), {}};
            auto parts = XmlPartsOfBytes(target.bytes);
            if (!parts) std::abort();
            target.parts = std::move(*parts);
            for (const auto& [key, part] : target.parts) {
                if (!part.bytes || Parse(*part.bytes).broken) {
                    std::fprintf(stderr, "the built-in target workbook %d has a broken part %s\n", i, key.c_str());
                    std::abort();
                }
            }
            made.push_back(std::move(target));
        }
        return made;
    }();
    return targets[static_cast<std::size_t>(which)];
}

// ---- the input ----

std::uint32_t Get16(const std::string& s, std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(s[at])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(s[at + 1])) << 8;
}

std::uint32_t Get32(const std::string& s, std::size_t at) { return Get16(s, at) | Get16(s, at + 2) << 16; }

void Put32(std::string& s, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) s[at + static_cast<std::size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

// Makes the CRC and sizes of every stored, unencrypted entry agree with its bytes, in the central directory and
// in the local header. Anything that does not look like a zip is left as it is, for the engine to refuse.
void MendStoredEntries(std::string& zip) {
    if (zip.size() < 22) return;
    std::size_t end = std::string::npos;
    for (std::size_t at = zip.size() - 22;; --at) {
        if (Get32(zip, at) == 0x06054b50) {
            end = at;
            break;
        }
        if (at == 0 || zip.size() - at > 22 + 0xFFFF) break;
    }
    if (end == std::string::npos) return;
    const std::uint32_t count = Get16(zip, end + 10);
    std::size_t at = Get32(zip, end + 16);
    for (std::uint32_t n = 0; n < count; ++n) {
        if (at + 46 > zip.size() || Get32(zip, at) != 0x02014b50) return;
        const std::uint32_t flags = Get16(zip, at + 8);
        const std::uint32_t method = Get16(zip, at + 10);
        const std::uint32_t size = Get32(zip, at + 20);
        const std::size_t local = Get32(zip, at + 42);
        if (method == 0 && !(flags & 1) && size != 0xFFFFFFFF && local + 30 <= zip.size() &&
            Get32(zip, local) == 0x04034b50) {
            const std::size_t data = local + 30 + Get16(zip, local + 26) + Get16(zip, local + 28);
            if (data <= zip.size() && size <= zip.size() - data) {
                const auto crc = static_cast<std::uint32_t>(
                    crc32_z(0, reinterpret_cast<const Bytef*>(zip.data() + data), size));
                Put32(zip, at + 16, crc);
                Put32(zip, at + 24, size);
                if (!(flags & 8)) {
                    Put32(zip, local + 14, crc);
                    Put32(zip, local + 18, size);
                    Put32(zip, local + 22, size);
                }
            }
        }
        at += 46 + Get16(zip, at + 28) + Get16(zip, at + 30) + Get16(zip, at + 32);
    }
}

// Which sheets the operations take and which workbook the copy goes into; all zero without a choice byte.
struct Choice {
    unsigned byte = 0;
    int Rename(int count) const { return static_cast<int>(byte % static_cast<unsigned>(count)); }
    int Delete(int count) const { return static_cast<int>(byte / 3 % static_cast<unsigned>(count)); }
    int Copy(int count) const { return static_cast<int>(byte / 9 % static_cast<unsigned>(count)); }
    int Target() const { return static_cast<int>(byte / 27 % 2); }
};

std::unique_ptr<WorkbookDocument> OpenOrNull(const std::string& path) {
    std::unique_ptr<WorkbookDocument> doc;
    Try([&] { doc = WorkbookDocument::Open(path, Limits()); });
    return doc;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    xmlInitParser();
    xmlSetGenericErrorFunc(nullptr, Ignore);
    TargetOf(0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace orv::fuzz;
    Choice choice;
    std::size_t skip = 0;
    if (size > 0 && !(size >= 2 && data[0] == 'P' && data[1] == 'K')) {
        choice.byte = data[0];
        skip = 1;
    }
    std::string package(reinterpret_cast<const char*>(data) + skip, size - skip);
    MendStoredEntries(package);
    const std::string inputPath =
        WriteScratch("input.xlsx", reinterpret_cast<const std::uint8_t*>(package.data()), package.size());

    auto first = OpenOrNull(inputPath);
    if (!first) return 0;
    const int count = static_cast<int>(first->sheets().size());
    first.reset();
    if (count == 0) return 0;
    auto inputParts = XmlPartsOfBytes(package);
    if (!inputParts) return 0;
    Before input(std::move(*inputParts));
    auto sameNameOnly = [](const std::string&, bool) { return true; };

    {
        const int sheet = choice.Rename(count);
        const std::string saved = ScratchPath("renamed.xlsx");
        auto doc = OpenOrNull(inputPath);
        if (doc && Try([&] { doc->Rename(sheet, kNewName); }) && Try([&] { doc->SaveTo(saved); })) {
            CheckSaved({"rename", sheet, &saved}, input, sameNameOnly);
        }
    }
    {
        const int sheet = choice.Delete(count);
        const std::string saved = ScratchPath("deleted.xlsx");
        auto doc = OpenOrNull(inputPath);
        if (doc && Try([&] { doc->Delete(sheet); }) && Try([&] { doc->SaveTo(saved); })) {
            CheckSaved({"delete", sheet, &saved}, input, sameNameOnly);
        }
    }
    {
        const int sheet = choice.Copy(count);
        const Target& target = TargetOf(choice.Target());
        const std::string targetPath = WriteScratch(
            "target.xlsx", reinterpret_cast<const std::uint8_t*>(target.bytes.data()), target.bytes.size());
        auto source = OpenOrNull(inputPath);
        auto into = OpenOrNull(targetPath);
        if (!into) {
            std::fprintf(stderr, "the built-in target workbook does not open\n");
            std::abort();
        }
        orv::engine::CopiedSheet copied;
        if (source && Try([&] { copied = orv::engine::CopySheet(*source, sheet, *into, 0); }) &&
            Try([&] { into->Save(); })) {
            const std::string sourcePart = source->sheets()[static_cast<std::size_t>(sheet)].part;
            const std::string copyPart = into->sheets()[static_cast<std::size_t>(copied.index)].part;
            const std::string sourceKey = orv::engine::PartKey(sourcePart);
            const std::string copyKey = orv::engine::PartKey(copyPart);
            const std::string sourceRelsKey = orv::engine::PartKey(orv::engine::RelsPartOf(sourcePart));
            const std::string copyRelsKey = orv::engine::PartKey(orv::engine::RelsPartOf(copyPart));
            Before before(target.parts);
            // The copied sheet and its relationships come from the source's. A part the target had (styles,
            // shared strings, the workbook) takes in the source's part of the same name; a part new to the target
            // (drawings, charts, comments) is renumbered there and may have come from any part of the source.
            auto cameFromClean = [&](const std::string& key, bool inTarget) {
                if (key == copyKey) return !input.Find(sourceKey) || input.Clean(sourceKey);
                if (key == copyRelsKey) return !input.Find(sourceRelsKey) || input.Clean(sourceRelsKey);
                if (!inTarget) return input.AllClean();
                return !input.Find(key) || input.Clean(key);
            };
            CheckSaved({"copy into the target workbook", sheet, &targetPath}, before, cameFromClean);
        }
    }
    return 0;
}
