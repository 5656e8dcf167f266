// The project's directory is kept as the records it was read as: only the module list is taken apart, so that
// every record this program does not know (references, constants, flags) goes back unchanged. A change drops
// the version-dependent cache, which makes the application compile the modules again from their source.
#include "engine/vba/Project.h"

#include <algorithm>
#include <array>
#include <random>
#include <stdexcept>

#include "engine/EngineError.h"
#include "engine/vba/Compression.h"
#include "platform/TextCase.h"
#include "platform/TextEncoding.h"

namespace orv::engine::vba {

namespace {

// Directory record ids.
constexpr unsigned kCodePage = 0x0003;
constexpr unsigned kVersion = 0x0009;  // its size field says 4, but 6 bytes follow
constexpr unsigned kModuleCount = 0x000F;
constexpr unsigned kEnd = 0x0010;
constexpr unsigned kModuleName = 0x0019;
constexpr unsigned kStreamName = 0x001A;
constexpr unsigned kDocString = 0x001C;
constexpr unsigned kHelpContext = 0x001E;
constexpr unsigned kProcedural = 0x0021;
constexpr unsigned kDocument = 0x0022;
constexpr unsigned kModuleEnd = 0x002B;
constexpr unsigned kCookie = 0x002C;
constexpr unsigned kTextOffset = 0x0031;
constexpr unsigned kStreamNameUnicode = 0x0032;
constexpr unsigned kModuleNameUnicode = 0x0047;
constexpr unsigned kDocStringUnicode = 0x0048;

// The cache-free form of the version-dependent stream: any version but the application's own (0xFFFF is the
// one writers use) makes it ignore every compiled cache of the project.
constexpr std::array<unsigned char, 7> kUncompiled = {0xCC, 0x61, 0xFF, 0xFF, 0x00, 0x01, 0x00};

struct Record {
    unsigned id = 0;
    std::size_t at = 0;    // where the record starts
    std::size_t size = 0;  // of its data
    std::size_t end = 0;   // where the next one starts
};

unsigned U16(std::string_view s, std::size_t at) {
    return static_cast<unsigned char>(s[at]) | static_cast<unsigned char>(s[at + 1]) << 8;
}
std::uint32_t U32(std::string_view s, std::size_t at) {
    return static_cast<std::uint32_t>(U16(s, at)) | static_cast<std::uint32_t>(U16(s, at + 2)) << 16;
}
void Put16(std::string& out, unsigned value) {
    out.push_back(static_cast<char>(value & 0xFF));
    out.push_back(static_cast<char>(value >> 8 & 0xFF));
}
void Put32(std::string& out, std::uint32_t value) {
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}
void PutRecord(std::string& out, unsigned id, std::string_view data) {
    Put16(out, id);
    Put32(out, static_cast<std::uint32_t>(data.size()));
    out.append(data);
}

std::string Utf16Le(std::string_view utf8) {
    std::string out;
    const std::u32string points = [&] {
        std::u32string p;
        for (std::size_t i = 0; i < utf8.size();) {
            const auto c = static_cast<unsigned char>(utf8[i]);
            const int n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
            char32_t cp = n == 1 ? c : c & (0x3F >> (n - 1));
            for (int k = 1; k < n && i + static_cast<std::size_t>(k) < utf8.size(); ++k)
                cp = cp << 6 | (static_cast<unsigned char>(utf8[i + static_cast<std::size_t>(k)]) & 0x3F);
            p.push_back(cp);
            i += static_cast<std::size_t>(n);
        }
        return p;
    }();
    for (char32_t cp : points) {
        if (cp >= 0x10000) {
            cp -= 0x10000;
            Put16(out, 0xD800 + static_cast<unsigned>(cp >> 10));
            Put16(out, 0xDC00 + static_cast<unsigned>(cp & 0x3FF));
        } else {
            Put16(out, static_cast<unsigned>(cp));
        }
    }
    return out;
}

std::string FromUtf16Le(std::string_view bytes) {
    return platform::Utf8FromUtf16Le(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size() / 2);
}

std::string AsciiUpper(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return out;
}

bool SameMbcsName(std::string_view a, std::string_view b) { return AsciiUpper(a) == AsciiUpper(b); }

std::string AsBytes(const std::vector<std::uint8_t>& data) { return std::string(data.begin(), data.end()); }
std::vector<std::uint8_t> AsData(std::string_view bytes) { return {bytes.begin(), bytes.end()}; }

// The lines of the project's text stream, split at CR LF (a final CR LF leaves an empty last line).
std::vector<std::string> Lines(std::string_view text) {
    std::vector<std::string> lines;
    for (std::size_t start = 0;;) {
        const std::size_t end = text.find("\r\n", start);
        if (end == std::string_view::npos) {
            lines.emplace_back(text.substr(start));
            return lines;
        }
        lines.emplace_back(text.substr(start, end - start));
        start = end + 2;
    }
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i) out += "\r\n";
        out += lines[i];
    }
    return out;
}

// "Key" of a "Key=Value" line, and the module name a module line of the project's properties names.
std::string_view KeyOf(std::string_view line) { return line.substr(0, line.find('=')); }
std::string_view ModuleOfLine(std::string_view line) {
    const std::string key = AsciiUpper(KeyOf(line));
    if (key != "DOCUMENT" && key != "MODULE" && key != "CLASS" && key != "BASECLASS") return {};
    std::string_view value = line.substr(line.find('=') + 1);
    return value.substr(0, value.find('/'));
}

// The project's text with the lines of module `name` added: its kind line after the other modules' and a
// closed window in the workspace, where the text has one.
std::string WithModuleLines(std::string_view text, std::string_view name, std::string_view line) {
    auto lines = Lines(text);
    std::size_t insertAt = lines.empty() ? 0 : 1;  // after ID="..."
    std::size_t workspace = lines.size();
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!ModuleOfLine(lines[i]).empty() && workspace == lines.size()) insertAt = i + 1;
        if (AsciiUpper(lines[i]) == "[WORKSPACE]") workspace = i;
    }
    if (workspace < lines.size()) {
        std::size_t last = workspace;
        for (std::size_t i = workspace + 1; i < lines.size() && !lines[i].starts_with('['); ++i) {
            if (!lines[i].empty()) last = i;
        }
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(last + 1), std::string(name) + "=0, 0, 0, 0, C");
    }
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAt), std::string(line));
    return Joined(lines);
}

std::string WithoutModuleLines(std::string_view text, std::string_view name) {
    auto lines = Lines(text);
    bool inWorkspace = false;
    std::vector<std::string> kept;
    for (auto& line : lines) {
        if (line.starts_with('[')) inWorkspace = AsciiUpper(line) == "[WORKSPACE]";
        const bool names = inWorkspace ? line.find('=') != std::string::npos && SameMbcsName(KeyOf(line), name)
                                       : SameMbcsName(ModuleOfLine(line), name);
        if (!names) kept.push_back(std::move(line));
    }
    return Joined(kept);
}

// The module names stream: each name in the code page and in UTF-16, both ending in nulls; two nulls end it.
struct NameEntry {
    std::string mbcs, utf16;
};

std::vector<NameEntry> ReadNames(std::string_view s) {
    std::vector<NameEntry> names;
    std::size_t at = 0;
    while (at + 1 < s.size() && !(s[at] == 0 && s[at + 1] == 0)) {
        NameEntry entry;
        const std::size_t mbcsEnd = s.find('\0', at);
        if (mbcsEnd == std::string_view::npos) throw std::runtime_error("its module names stream is cut off");
        entry.mbcs = s.substr(at, mbcsEnd - at);
        at = mbcsEnd + 1;
        while (at + 1 < s.size() && U16(s, at) != 0) at += 2;
        if (at + 1 >= s.size()) throw std::runtime_error("its module names stream is cut off");
        entry.utf16 = s.substr(mbcsEnd + 1, at - mbcsEnd - 1);
        at += 2;
        names.push_back(std::move(entry));
    }
    return names;
}

std::string WriteNames(const std::vector<NameEntry>& names) {
    std::string out;
    for (const auto& n : names) {
        out += n.mbcs;
        out.push_back('\0');
        out += n.utf16;
        out.append(2, '\0');
    }
    out.append(2, '\0');
    return out;
}

// The data obfuscation of the project's protection fields, keyed by the project's id.
std::string Obfuscated(std::string_view projectId, std::string_view data, unsigned char seed) {
    unsigned char projectKey = 0;
    for (char c : projectId) projectKey = static_cast<unsigned char>(projectKey + static_cast<unsigned char>(c));
    std::string out;
    out.push_back(static_cast<char>(seed));
    unsigned char encrypted2 = seed ^ 2, encrypted1 = seed ^ projectKey, plain1 = projectKey;
    out.push_back(static_cast<char>(encrypted2));
    out.push_back(static_cast<char>(encrypted1));
    auto put = [&](unsigned char byte) {
        const auto e = static_cast<unsigned char>(byte ^ static_cast<unsigned char>(encrypted2 + plain1));
        out.push_back(static_cast<char>(e));
        encrypted2 = encrypted1;
        encrypted1 = e;
        plain1 = byte;
    };
    for (int i = 0; i < (seed & 6) / 2; ++i) put(0);
    const auto length = static_cast<std::uint32_t>(data.size());
    for (int i = 0; i < 4; ++i) put(static_cast<unsigned char>(length >> (8 * i)));
    for (char c : data) put(static_cast<unsigned char>(c));
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string hex;
    for (char c : out) {
        hex.push_back(kHex[static_cast<unsigned char>(c) >> 4]);
        hex.push_back(kHex[static_cast<unsigned char>(c) & 15]);
    }
    return hex;
}

// The numbers a new project is made with: from what the project holds, so that the engine writes the same
// bytes for the same copy on every system (a copied workbook file shares its project's id as well).
std::mt19937 NumbersFor(unsigned codePage, std::string_view head, std::string_view name, std::string_view workbook) {
    std::uint32_t hash = 2166136261u;
    for (const std::string_view part : {head, name, workbook}) {
        for (const char c : part) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
        hash = (hash ^ 0xFFu) * 16777619u;
    }
    return std::mt19937(hash ^ codePage);
}

std::string NewProjectId(std::mt19937& random) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string id = "{";
    for (int i = 0; i < 32; ++i) {
        if (i == 8 || i == 12 || i == 16 || i == 20) id += '-';
        id += kHex[random() & 15];
    }
    return id + "}";
}

}  // namespace

Project Project::Read(std::string_view bytes, const std::string& workbookName) {
    auto damaged = [&](const std::string& what) {
        return EngineError("The macro project of \"" + workbookName + "\" is damaged: " + what +
                           ". Open and save the workbook in the spreadsheet application to repair it, then try "
                           "again.");
    };
    Project project;
    project.m_workbookName = workbookName;
    try {
        project.m_root = compound::ReadTree(AsData(bytes));
    } catch (const std::exception& e) {
        throw damaged(e.what());
    }
    const compound::Entry* storage = project.m_root.Child("VBA");
    if (!storage || !storage->storage) throw damaged("it has no VBA storage");
    const compound::Entry* dirStream = storage->Child("dir");
    if (!dirStream || dirStream->storage) throw damaged("it has no directory stream");
    const compound::Entry* text = project.m_root.Child("PROJECT");
    if (!text || text->storage) throw damaged("it has no PROJECT stream");
    std::string dir;
    try {
        dir = Decompress(AsBytes(dirStream->data), 64u << 20);
        if (const compound::Entry* names = project.m_root.Child("PROJECTwm")) ReadNames(AsBytes(names->data));
    } catch (const std::exception& e) {
        throw damaged(e.what());
    }

    std::vector<Record> records;
    for (std::size_t at = 0; at < dir.size();) {
        if (at + 6 > dir.size()) throw damaged("its directory ends inside a record");
        Record r;
        r.id = U16(dir, at);
        r.at = at;
        r.size = U32(dir, at + 2);
        const std::size_t data = r.id == kVersion ? 6 : r.size;
        if (data > dir.size() - at - 6) throw damaged("a record of its directory runs past its end");
        r.end = at + 6 + data;
        at = r.end;
        records.push_back(r);
        if (r.id == kEnd) break;
    }
    auto data = [&](const Record& r) { return std::string_view(dir).substr(r.at + 6, r.end - r.at - 6); };
    std::size_t i = 0;
    bool counted = false;
    for (; i < records.size() && records[i].id != kModuleName && records[i].id != kEnd; ++i) {
        if (records[i].id == kCodePage && records[i].size == 2) project.m_codePage = U16(dir, records[i].at + 6);
        if (records[i].id == kModuleCount && records[i].size == 2) {
            project.m_countAt = records[i].at + 6;
            counted = true;
        }
    }
    if (!counted) throw damaged("its directory does not count its modules");
    project.m_head = dir.substr(0, i < records.size() ? records[i].at : dir.size());
    while (i < records.size() && records[i].id == kModuleName) {
        Module module;
        std::string mbcsName, mbcsStream;
        const std::size_t start = records[i].at;
        for (; i < records.size() && records[i].id != kModuleEnd; ++i) {
            const Record& r = records[i];
            if (r.id == kModuleName) mbcsName = data(r);
            if (r.id == kModuleNameUnicode) module.name = FromUtf16Le(data(r));
            if (r.id == kStreamName) mbcsStream = data(r);
            if (r.id == kStreamNameUnicode) module.streamName = FromUtf16Le(data(r));
            if (r.id == kTextOffset && r.size == 4) module.textOffset = U32(dir, r.at + 6);
            if (r.id == kProcedural) module.procedural = true;
            if (r.id == kEnd) throw damaged("a module of its directory is not closed");
        }
        if (i == records.size()) throw damaged("a module of its directory is not closed");
        module.records = dir.substr(start, records[i].end - start);
        ++i;
        if (module.name.empty()) module.name = platform::CodePageToUtf8(mbcsName, project.m_codePage);
        if (module.streamName.empty())
            module.streamName = platform::CodePageToUtf8(mbcsStream, project.m_codePage);
        const compound::Entry* stream = storage->Child(module.streamName);
        if (!stream || stream->storage)
            throw damaged("the stream of module \"" + module.name + "\" is missing");
        if (module.textOffset > stream->data.size())
            throw damaged("module \"" + module.name + "\" says its source starts past the end of its stream");
        project.m_modules.push_back(std::move(module));
    }
    if (i < records.size()) project.m_tail = dir.substr(records[i].at);
    if (project.m_tail.empty()) throw damaged("its directory has no end");
    for (const auto& line : Lines(AsBytes(text->data))) {
        if (AsciiUpper(KeyOf(line)) != "DOCUMENT") continue;
        const std::string name = platform::CodePageToUtf8(ModuleOfLine(line), project.m_codePage);
        for (auto& m : project.m_modules) m.document |= platform::FoldCase(m.name) == platform::FoldCase(name);
    }
    return project;
}

Project Project::New(unsigned codePage, const std::string& workbookCodeName, const std::string& projectName) {
    // The information records a writer must give (system, locales, code page, name, version), and no
    // references: a project like the source's takes those from it instead.
    std::string head;
    auto u32 = [](std::uint32_t v) {
        std::string out;
        Put32(out, v);
        return out;
    };
    PutRecord(head, 0x0001, u32(1));  // 32-bit Windows
    PutRecord(head, 0x0002, u32(0x409));
    PutRecord(head, 0x0014, u32(0x409));
    std::string page;
    Put16(page, codePage);
    PutRecord(head, kCodePage, page);
    PutRecord(head, 0x0004, projectName);
    PutRecord(head, 0x0005, "");
    PutRecord(head, 0x0040, "");
    PutRecord(head, 0x0006, "");
    PutRecord(head, 0x003D, "");
    PutRecord(head, 0x0007, u32(0));
    PutRecord(head, 0x0008, u32(0));
    Put16(head, kVersion);
    head += u32(4) + u32(1);
    Put16(head, 0);
    PutRecord(head, 0x000C, "");
    PutRecord(head, 0x003C, "");
    return Made(codePage, head, "\"" + projectName + "\"", workbookCodeName);
}

Project Project::NewLike(const Project& like, const std::string& workbookCodeName) {
    std::string name = "VBAProject";
    for (const auto& line : Lines(AsBytes(like.m_root.Child("PROJECT")->data))) {
        if (AsciiUpper(KeyOf(line)) == "NAME") name = line.substr(line.find('=') + 1);
    }
    if (!name.starts_with('"')) name = "\"" + name + "\"";
    // The module count and the cookie that follows it close the head again.
    Project project = Made(like.m_codePage, like.m_head.substr(0, like.m_countAt - 6), name, workbookCodeName);
    project.m_workbookName = like.m_workbookName;
    project.m_head = like.m_head;
    project.m_countAt = like.m_countAt;
    return project;
}

Project Project::Made(unsigned codePage, std::string head, const std::string& quotedName,
                      const std::string& workbookCodeName) {
    Project project;
    project.m_codePage = codePage;
    project.m_countAt = head.size() + 6;
    PutRecord(head, kModuleCount, std::string(2, '\0'));
    PutRecord(head, 0x0013, "\xFF\xFF");
    project.m_head = std::move(head);
    PutRecord(project.m_tail, kEnd, "");
    project.m_root.name = "Root Entry";
    project.m_root.storage = true;

    // A project of its own: a new id, no protection, no password, visible.
    std::mt19937 random = NumbersFor(codePage, project.m_head, quotedName, workbookCodeName);
    const std::string id = NewProjectId(random);
    auto seed = [&] { return static_cast<unsigned char>(random() & 0xFF); };
    const std::string text = "ID=\"" + id + "\"\r\nName=" + quotedName +
                             "\r\nHelpContextID=\"0\"\r\nVersionCompatible32=\"393222000\"\r\nCMG=\"" +
                             Obfuscated(id, std::string(4, '\0'), seed()) + "\"\r\nDPB=\"" +
                             Obfuscated(id, std::string(1, '\0'), seed()) + "\"\r\nGC=\"" +
                             Obfuscated(id, std::string(1, '\xFF'), seed()) +
                             "\"\r\n\r\n[Host Extender Info]\r\n"
                             "&H00000001={3832D640-CF90-11CF-8E43-00A0C911005A};VBE;&H00000000\r\n\r\n"
                             "[Workspace]\r\n";
    compound::Entry projectStream;
    projectStream.name = "PROJECT";
    projectStream.data = AsData(text);
    compound::Entry names;
    names.name = "PROJECTwm";
    names.data = AsData(std::string(2, '\0'));
    compound::Entry storage;
    storage.name = "VBA";
    storage.storage = true;
    project.m_root.children = {std::move(projectStream), std::move(names), std::move(storage)};
    for (const char* stream : {"_VBA_PROJECT", "dir"}) {
        compound::Entry entry;
        entry.name = stream;
        project.Storage().children.push_back(std::move(entry));
    }
    const auto mbcs = platform::CodePageFromUtf8(workbookCodeName, codePage);
    if (!mbcs) throw EngineError("The workbook's code name \"" + workbookCodeName + "\" cannot be written.");
    project.AddDocumentModule(workbookCodeName, WorkbookModuleSource(*mbcs));
    return project;
}

bool Project::HoldsCode(std::string_view source) {
    for (const auto& line : Lines(source)) {
        const std::size_t first = line.find_first_not_of(" \t");
        if (first != std::string::npos && !AsciiUpper(line.substr(first)).starts_with("ATTRIBUTE ")) return true;
    }
    return false;
}

std::string Project::WorkbookModuleSource(const std::string& codeName) {
    return "Attribute VB_Name = \"" + codeName +
           "\"\r\nAttribute VB_Base = \"0{00020819-0000-0000-C000-000000000046}\"\r\n"
           "Attribute VB_GlobalNameSpace = False\r\nAttribute VB_Creatable = False\r\n"
           "Attribute VB_PredeclaredId = True\r\nAttribute VB_Exposed = True\r\n"
           "Attribute VB_TemplateDerived = False\r\nAttribute VB_Customizable = True\r\n";
}

compound::Entry& Project::Storage() { return *m_root.Child("VBA"); }
const compound::Entry& Project::Storage() const { return *m_root.Child("VBA"); }

const Module* Project::Find(std::string_view name) const {
    const std::string key = platform::FoldCase(name);
    for (const auto& m : m_modules) {
        if (platform::FoldCase(m.name) == key) return &m;
    }
    return nullptr;
}

bool Project::Taken(std::string_view name) const {
    if (Find(name)) return true;
    const std::string key = platform::FoldCase(name);
    for (const auto& entry : Storage().children) {
        if (platform::FoldCase(entry.name) == key) return true;
    }
    return false;
}

std::string Project::Source(const Module& module) const {
    const compound::Entry* stream = Storage().Child(module.streamName);
    if (!stream || stream->storage) {
        throw EngineError("The macro project of \"" + m_workbookName + "\" is damaged: the stream of module \"" +
                          module.name + "\" is missing.");
    }
    try {
        return Decompress(std::string_view(reinterpret_cast<const char*>(stream->data.data()), stream->data.size())
                              .substr(module.textOffset));
    } catch (const EngineError& e) {
        throw EngineError("The code of module \"" + module.name + "\" in \"" + m_workbookName +
                          "\" cannot be read: " + e.what());
    }
}

std::optional<std::string> Project::SourceFrom(const Project& from, const Module& module) const {
    std::string source = from.Source(module);
    const bool ascii = std::all_of(source.begin(), source.end(), [](char c) { return (c & 0x80) == 0; });
    if (from.m_codePage == m_codePage || ascii) return source;
    return platform::CodePageFromUtf8(platform::CodePageToUtf8(source, from.m_codePage), m_codePage);
}

void Project::AddDocumentModule(const Project& from, const Module& module, const std::string& name) {
    auto converted = SourceFrom(from, module);
    if (!converted) {
        throw EngineError("The code of module \"" + module.name + "\" cannot be carried into \"" + m_workbookName +
                          "\": the code page of its project cannot hold every character of it.");
    }
    AddDocument(name, std::move(*converted), module.records);
}

void Project::AddDocumentModule(const std::string& name, std::string source) {
    std::string records;
    for (unsigned id : {kModuleName, kModuleNameUnicode, kStreamName, kStreamNameUnicode, kDocString,
                        kDocStringUnicode})
        PutRecord(records, id, "");
    PutRecord(records, kTextOffset, std::string(4, '\0'));
    PutRecord(records, kHelpContext, std::string(4, '\0'));
    PutRecord(records, kCookie, "\xFF\xFF");
    PutRecord(records, kDocument, "");
    PutRecord(records, kModuleEnd, "");
    AddDocument(name, std::move(source), records);
}

void Project::AddDocument(const std::string& name, std::string source, const std::string& like) {
    const auto mbcs = platform::CodePageFromUtf8(name, m_codePage);
    if (!mbcs) {
        throw EngineError("The code page of the macro project of \"" + m_workbookName +
                          "\" cannot hold the module name \"" + name + "\".");
    }
    // The module names itself in its first line; the copy answers to its own name.
    auto lines = Lines(source);
    bool named = false;
    for (auto& line : lines) {
        if (AsciiUpper(line).starts_with("ATTRIBUTE VB_NAME = ")) {
            line = "Attribute VB_Name = \"" + *mbcs + "\"";
            named = true;
            break;
        }
    }
    if (!named) lines.insert(lines.begin(), "Attribute VB_Name = \"" + *mbcs + "\"");
    source = Joined(lines);

    // The records of `like`, with the names and the place of the source made the new module's.
    Module added;
    added.name = added.streamName = name;
    added.document = true;
    const std::string unicode = Utf16Le(name);
    for (std::size_t at = 0; at + 6 <= like.size();) {
        const unsigned id = U16(like, at);
        const std::size_t size = std::min<std::size_t>(U32(like, at + 2), like.size() - at - 6);
        const std::string_view data = std::string_view(like).substr(at + 6, size);
        switch (id) {
            case kModuleName:
            case kStreamName:
                PutRecord(added.records, id, *mbcs);
                break;
            case kModuleNameUnicode:
            case kStreamNameUnicode:
                PutRecord(added.records, id, unicode);
                break;
            case kTextOffset:
                PutRecord(added.records, id, std::string(4, '\0'));
                break;
            case kProcedural:
                PutRecord(added.records, kDocument, "");
                break;
            default:
                PutRecord(added.records, id, data);
        }
        at += 6 + size;
    }
    AddModule(std::move(added), *mbcs, Compress(source));
}

void Project::AddModule(Module module, const std::string& mbcs, std::string streamBytes) {
    const std::string projectLine = "Document=" + mbcs + "/&H00000000";
    compound::Entry stream;
    stream.name = module.streamName;
    stream.data = AsData(streamBytes);
    Storage().children.push_back(std::move(stream));
    compound::Entry& text = *m_root.Child("PROJECT");
    text.data = AsData(WithModuleLines(AsBytes(text.data), mbcs, projectLine));
    if (compound::Entry* names = m_root.Child("PROJECTwm")) {
        auto list = ReadNames(AsBytes(names->data));
        list.push_back({mbcs, Utf16Le(module.name)});
        names->data = AsData(WriteNames(list));
    }
    m_modules.push_back(std::move(module));
}

void Project::RemoveModule(std::string_view name) {
    const Module* module = Find(name);
    if (!module) return;
    const std::string stream = platform::FoldCase(module->streamName);
    auto& children = Storage().children;
    children.erase(std::remove_if(children.begin(), children.end(),
                                  [&](const compound::Entry& e) { return platform::FoldCase(e.name) == stream; }),
                   children.end());
    const std::string mbcs = platform::CodePageFromUtf8(module->name, m_codePage).value_or(module->name);
    compound::Entry& text = *m_root.Child("PROJECT");
    text.data = AsData(WithoutModuleLines(AsBytes(text.data), mbcs));
    if (compound::Entry* names = m_root.Child("PROJECTwm")) {
        auto list = ReadNames(AsBytes(names->data));
        list.erase(std::remove_if(list.begin(), list.end(),
                                  [&](const NameEntry& n) { return SameMbcsName(n.mbcs, mbcs); }),
                   list.end());
        names->data = AsData(WriteNames(list));
    }
    m_modules.erase(m_modules.begin() + (module - m_modules.data()));
}

std::string Project::Write() const {
    std::string dir = m_head;
    dir[m_countAt] = static_cast<char>(m_modules.size() & 0xFF);
    dir[m_countAt + 1] = static_cast<char>(m_modules.size() >> 8 & 0xFF);
    for (const auto& m : m_modules) dir += m.records;
    dir += m_tail;
    compound::Entry root = m_root;
    compound::Entry& storage = *root.Child("VBA");
    // Both are written whole, whatever the project read had (a module's stream may even have shared a name).
    auto stream = [&](const char* name) -> compound::Entry& {
        storage.Remove(name);
        compound::Entry entry;
        entry.name = name;
        storage.children.push_back(std::move(entry));
        return storage.children.back();
    };
    stream("dir").data = AsData(Compress(dir));
    const auto uncompiled = AsData(std::string(kUncompiled.begin(), kUncompiled.end()));
    stream("_VBA_PROJECT").data = uncompiled;
    try {
        return AsBytes(compound::Write(root));
    } catch (const std::exception& e) {
        // A name the file held that the format does not allow a writer.
        throw EngineError("The macro project of \"" + m_workbookName + "\" cannot be written again: " + e.what() +
                          ".");
    }
}

}  // namespace orv::engine::vba
