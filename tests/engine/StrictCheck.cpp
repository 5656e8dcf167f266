// The strict reader of the engine tests: libzip for the package, libxml2 for namespaces and schemas.
#include "StrictCheck.h"

#include <libxml/parser.h>
#include <libxml/xmlschemas.h>
#include <zip.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string_view>
#include <unordered_map>

#include "StrictMce.h"

namespace orv::engine::test {

namespace {

struct Schema {
    const char* rootNamespace;
    const char* file;
};

// The schema that defines each root namespace with a schema at hand; each file brings in those it imports.
constexpr Schema kSchemas[] = {
    {"http://schemas.openxmlformats.org/spreadsheetml/2006/main", "sml.xsd"},
    {"http://schemas.openxmlformats.org/drawingml/2006/spreadsheetDrawing", "dml-spreadsheetDrawing.xsd"},
    {"http://schemas.openxmlformats.org/drawingml/2006/chart", "dml-chart.xsd"},
    {"http://schemas.openxmlformats.org/officeDocument/2006/extended-properties",
     "shared-documentPropertiesExtended.xsd"},
};
constexpr std::size_t kSchemaCount = sizeof kSchemas / sizeof kSchemas[0];

std::once_flag g_parserInit;

void InitParser() {
    std::call_once(g_parserInit, [] { xmlInitParser(); });
}

std::string Trimmed(const char* message) {
    std::string text = message ? message : "";
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

struct Collector {
    std::vector<StrictFinding> findings;
    bool namespacesOnly = false;  // VML: well-formedness is not asked of it
};

// Errors reach the collector of the parse or validation that raised them, never a process-wide handler.
thread_local Collector* t_parsing = nullptr;

void OnParseError(void*, xmlErrorPtr error) {
    if (!t_parsing || !error) return;
    const bool namespaceFault = error->domain == XML_FROM_NAMESPACE;
    const bool refused = error->level == XML_ERR_ERROR || error->level == XML_ERR_FATAL;
    if (namespaceFault || (refused && !t_parsing->namespacesOnly))
        t_parsing->findings.push_back({Trimmed(error->message), error->line});
}

void OnSchemaError(void* data, xmlErrorPtr error) {
    if (!error || (error->level != XML_ERR_ERROR && error->level != XML_ERR_FATAL)) return;
    static_cast<Collector*>(data)->findings.push_back({Trimmed(error->message), error->line});
}

struct DocFree {
    void operator()(xmlDocPtr doc) const { xmlFreeDoc(doc); }
};
using Doc = std::unique_ptr<xmlDoc, DocFree>;

// Parses a part without touching the network or expanding entities; its problems go to `collector`.
Doc Parse(const std::string& name, const std::string& bytes, Collector& collector) {
    InitParser();
    xmlParserCtxtPtr ctxt = xmlNewParserCtxt();
    if (!ctxt) throw std::runtime_error("libxml2 cannot make a parser context");
    ctxt->sax->serror = OnParseError;
    Collector* outer = t_parsing;
    t_parsing = &collector;
    int options = XML_PARSE_NONET | XML_PARSE_BIG_LINES | XML_PARSE_HUGE;
    // Legacy VML is often not well-formed by design; only its prefixes are judged, so read past the rest.
    if (collector.namespacesOnly) options |= XML_PARSE_RECOVER;
    xmlDocPtr doc =
        xmlCtxtReadMemory(ctxt, bytes.data(), static_cast<int>(bytes.size()), name.c_str(), nullptr, options);
    t_parsing = outer;
    const bool wellFormed = ctxt->wellFormed != 0;
    xmlFreeParserCtxt(ctxt);
    if (!wellFormed && !collector.namespacesOnly) {
        xmlFreeDoc(doc);
        return nullptr;
    }
    return Doc(doc);
}

// The compiled schemas live as long as the process: compiling sml.xsd costs more than validating a part.
xmlSchemaPtr CompiledSchema(std::size_t index) {
    static std::once_flag once[kSchemaCount];
    static xmlSchemaPtr compiled[kSchemaCount] = {};
    std::call_once(once[index], [index] {
        InitParser();
        const std::string file = std::string(ORVANDEL_SCHEMAS) + "/" + kSchemas[index].file;
        xmlSchemaParserCtxtPtr ctxt = xmlSchemaNewParserCtxt(file.c_str());
        Collector errors;
        xmlSchemaSetParserStructuredErrors(ctxt, OnSchemaError, &errors);
        compiled[index] = xmlSchemaParse(ctxt);
        xmlSchemaFreeParserCtxt(ctxt);
        if (compiled[index] && !errors.findings.empty()) {
            xmlSchemaFree(compiled[index]);
            compiled[index] = nullptr;
        }
        if (!compiled[index]) {
            throw std::runtime_error("cannot compile " + file +
                                     (errors.findings.empty() ? "" : ": " + errors.findings.front().message));
        }
    });
    return compiled[index];
}

void Validate(xmlDocPtr doc, StrictPart& part) {
    const xmlNodePtr root = xmlDocGetRootElement(doc);
    if (!root) return;
    part.root = reinterpret_cast<const char*>(root->name);
    if (!root->ns) return;
    const std::string_view ns = reinterpret_cast<const char*>(root->ns->href);
    for (std::size_t i = 0; i < kSchemaCount; ++i) {
        if (ns != kSchemas[i].rootNamespace) continue;
        part.validated = true;
        ApplyMarkupCompatibility(doc);
        xmlSchemaValidCtxtPtr ctxt = xmlSchemaNewValidCtxt(CompiledSchema(i));
        Collector errors;
        xmlSchemaSetValidStructuredErrors(ctxt, OnSchemaError, &errors);
        xmlSchemaValidateDoc(ctxt, doc);
        xmlSchemaFreeValidCtxt(ctxt);
        part.schemaErrors = std::move(errors.findings);
        return;
    }
}

StrictPart Judge(const std::string& name, const std::string& bytes) {
    StrictPart part;
    part.vml = name.ends_with(".vml");
    Collector problems;
    problems.namespacesOnly = part.vml;
    Doc doc = Parse(name, bytes, problems);
    part.namespaceProblems = std::move(problems.findings);
    if (doc && !problems.namespacesOnly) Validate(doc.get(), part);
    return part;
}

// What a part's bytes are known by: two independent 64-bit hashes and the length, so that telling two
// different parts apart by their key fails with a chance of about 2^-128.
struct Key {
    std::uint64_t first = 0;
    std::uint64_t second = 0;
    std::size_t size = 0;
    bool vml = false;
    bool operator==(const Key&) const = default;
};

struct KeyHash {
    std::size_t operator()(const Key& key) const { return static_cast<std::size_t>(key.first); }
};

Key KeyOf(const std::string& name, const std::string& bytes) {
    std::uint64_t fnv = 14695981039346656037ull;
    for (unsigned char c : bytes) fnv = (fnv ^ c) * 1099511628211ull;
    return {std::hash<std::string_view>{}(bytes), fnv, bytes.size(), name.ends_with(".vml")};
}

// The tests judge the same bytes over and over (every part an operation left alone, before and after it):
// each distinct part is parsed and validated once per process.
StrictPart Judged(const std::string& name, const std::string& bytes) {
    static std::mutex mutex;
    static std::unordered_map<Key, StrictPart, KeyHash> judged;
    const Key key = KeyOf(name, bytes);
    {
        std::lock_guard lock(mutex);
        auto it = judged.find(key);
        if (it != judged.end()) return it->second;
    }
    StrictPart part = Judge(name, bytes);
    std::lock_guard lock(mutex);
    judged.emplace(key, part);
    return part;
}

bool IsXmlPart(const std::string& name) {
    return name.ends_with(".xml") || name.ends_with(".rels") || name.ends_with(".vml");
}

std::vector<std::pair<std::string, std::string>> XmlParts(const std::string& path) {
    int error = 0;
    zip_t* zip = zip_open(path.c_str(), ZIP_RDONLY, &error);
    if (!zip) throw std::runtime_error("the strict reader cannot open " + path + " as a zip");
    std::vector<std::pair<std::string, std::string>> parts;
    const zip_int64_t count = zip_get_num_entries(zip, 0);
    for (zip_uint64_t i = 0; i < static_cast<zip_uint64_t>(count); ++i) {
        const char* entryName = zip_get_name(zip, i, 0);
        const std::string name = entryName ? entryName : "";
        if (!IsXmlPart(name)) continue;
        zip_file_t* file = zip_fopen_index(zip, i, 0);
        std::string bytes;
        zip_int64_t n = -1;
        if (file) {
            char buffer[65536];
            while ((n = zip_fread(file, buffer, sizeof buffer)) > 0)
                bytes.append(buffer, static_cast<std::size_t>(n));
            zip_fclose(file);
        }
        if (n < 0) {
            zip_discard(zip);
            throw std::runtime_error("the strict reader cannot inflate " + name + " of " + path);
        }
        parts.emplace_back(name, std::move(bytes));
    }
    zip_discard(zip);
    return parts;
}

std::string WithLine(const StrictFinding& finding) {
    return finding.message + " (line " + std::to_string(finding.line) + ")";
}

}  // namespace

StrictView StrictlyRead(const std::string& path) {
    StrictView view;
    for (const auto& [name, bytes] : XmlParts(path)) view.parts[name] = Judged(name, bytes);
    return view;
}

std::vector<std::string> NamespaceProblems(const std::string& path) {
    std::vector<std::string> out;
    for (const auto& [name, part] : StrictlyRead(path).parts) {
        for (const auto& finding : part.namespaceProblems) out.push_back(name + ": " + WithLine(finding));
    }
    return out;
}

std::map<std::string, std::vector<std::string>> SchemaErrors(const std::string& path) {
    std::map<std::string, std::vector<std::string>> out;
    for (const auto& [name, part] : StrictlyRead(path).parts) {
        if (!part.validated) continue;
        auto& errors = out[name];
        for (const auto& finding : part.schemaErrors) errors.push_back(WithLine(finding));
    }
    return out;
}

std::vector<std::string> StrictRegressions(const std::vector<StrictView>& before, const std::string& after) {
    std::vector<std::string> out;
    for (const auto& [name, part] : StrictlyRead(after).parts) {
        for (const auto& finding : part.namespaceProblems) out.push_back(name + ": " + WithLine(finding));
        if (part.schemaErrors.empty()) continue;
        // Names identify a part only within one package: a part that some `before` package lacks may have
        // come from another one under a new name, so the parts of its kind excuse it too.
        std::set<std::string> excused;
        bool everywhere = true;
        for (const auto& view : before) {
            auto same = view.parts.find(name);
            if (same == view.parts.end()) {
                everywhere = false;
                continue;
            }
            for (const auto& finding : same->second.schemaErrors) excused.insert(finding.message);
        }
        if (!everywhere) {
            for (const auto& view : before) {
                for (const auto& [otherName, other] : view.parts) {
                    if (other.root != part.root) continue;
                    for (const auto& finding : other.schemaErrors) excused.insert(finding.message);
                }
            }
        }
        for (const auto& finding : part.schemaErrors) {
            if (!excused.count(finding.message)) out.push_back(name + ": " + WithLine(finding));
        }
    }
    return out;
}

std::vector<std::string> StrictRegressions(const std::vector<std::string>& before, const std::string& after) {
    std::vector<StrictView> views;
    for (const auto& path : before) views.push_back(StrictlyRead(path));
    return StrictRegressions(views, after);
}

}  // namespace orv::engine::test
