// Lists the sheets of the zip-based formats: OpenDocument spreadsheets (content.xml) and OOXML workbooks (the
// workbook part and its relationships), and dispatches ListSheets by format.
#include <zip.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <pugixml.hpp>

#include "compound/CompoundFile.h"
#include "legacy/SheetListing.h"
#include "platform/Error.h"
#include "platform/Files.h"
#include "platform/Paths.h"

namespace orv::legacy {

using automation::AutomationError;
using automation::FileFormat;
using automation::SheetKind;
using automation::SheetVisibility;
using compound::CompoundFile;

namespace {

const std::string kDamagedAdvice =
    "Open it in a spreadsheet application to repair it, or use a good copy of the file.";
const std::string kPasswordAdvice =
    "Remove the password in a spreadsheet application, save it, and try again.";

struct ZipCloser {
    void operator()(zip_t* z) const { zip_discard(z); }
};
using ZipHandle = std::unique_ptr<zip_t, ZipCloser>;

std::string LocalName(const char* qualified) {
    const char* colon = std::strrchr(qualified, ':');
    return colon ? colon + 1 : qualified;
}

// The value of the attribute whose local name is `local`, whatever prefix the file binds.
const char* Attribute(const pugi::xml_node& node, const char* local) {
    for (const auto& attribute : node.attributes()) {
        if (LocalName(attribute.name()) == local) return attribute.value();
    }
    return nullptr;
}

ZipHandle OpenZip(const std::string& path, const std::string& notThisFormat, const std::string& advice) {
    int error = 0;
    zip_t* z = zip_open(path.c_str(), ZIP_RDONLY, &error);
    if (!z) {
        // A zip whose end was cut off has lost its directory, which libzip reports as "not a zip".
        char head[4] = {};
        std::ifstream(platform::PathFromUtf8(path), std::ios::binary).read(head, 4);
        const bool startsLikeZip = head[0] == 'P' && head[1] == 'K' && head[2] == 3 && head[3] == 4;
        if (error == ZIP_ER_NOZIP && !startsLikeZip)
            throw AutomationError(CannotOpen(path, notThisFormat, advice));
        throw AutomationError(CannotOpen(
            path, "it is damaged or truncated (its zip directory cannot be read)", kDamagedAdvice));
    }
    return ZipHandle(z);
}

// The member `name` of the archive, or nullopt when there is none; throws when it cannot be read.
std::optional<std::string> ReadMember(zip_t* z, const std::string& name, const std::string& path) {
    zip_stat_t stat;
    if (zip_stat(z, name.c_str(), 0, &stat) != 0) return std::nullopt;
    zip_file_t* file = zip_fopen(z, name.c_str(), 0);
    std::string data;
    bool ok = file != nullptr;
    if (ok) {
        data.resize(static_cast<std::size_t>(stat.size));
        ok = zip_fread(file, data.data(), stat.size) == static_cast<zip_int64_t>(stat.size);
        zip_fclose(file);
    }
    if (!ok) {
        throw AutomationError(
            CannotOpen(path, "it is damaged or truncated (\"" + name + "\" cannot be read)", kDamagedAdvice));
    }
    return data;
}

pugi::xml_document ParseMember(const std::string& xml, const std::string& member, const std::string& path) {
    pugi::xml_document doc;
    if (!doc.load_buffer(xml.data(), xml.size(), pugi::parse_minimal | pugi::parse_escapes)) {
        throw AutomationError(
            CannotOpen(path, "it is damaged (\"" + member + "\" is not well-formed XML)", kDamagedAdvice));
    }
    return doc;
}

// The relationship targets of a part's relationships, by id, resolved against the part's folder.
std::string ResolveTarget(const std::string& partFolder, const std::string& target) {
    if (!target.empty() && target[0] == '/') return target.substr(1);
    return platform::GenericUtf8(
        (platform::PathFromUtf8(partFolder) / platform::PathFromUtf8(target)).lexically_normal());
}

}  // namespace

std::string CannotOpen(const std::string& path, const std::string& reason, const std::string& advice) {
    return "\"" + platform::FileNameOf(path) + "\" cannot be opened: " + reason + ". " + advice;
}

std::optional<std::vector<ListedSheet>> ListOdsSheets(const std::string& path) {
    const std::string notOds = "it is not an OpenDocument spreadsheet";
    const std::string notOdsAdvice = "Choose an .ods file saved by a spreadsheet application.";
    ZipHandle z = OpenZip(path, notOds, notOdsAdvice);
    const auto mimetype = ReadMember(z.get(), "mimetype", path);
    if (!mimetype || mimetype->rfind("application/vnd.oasis.opendocument.spreadsheet", 0) != 0) {
        throw AutomationError(
            CannotOpen(path, notOds + " (its content type is not a spreadsheet's)", notOdsAdvice));
    }
    if (const auto manifest = ReadMember(z.get(), "META-INF/manifest.xml", path)) {
        const auto doc = ParseMember(*manifest, "META-INF/manifest.xml", path);
        for (const auto& entry : doc.document_element().children()) {
            const char* fullPath = Attribute(entry, "full-path");
            if (!fullPath || std::strcmp(fullPath, "content.xml") != 0) continue;
            for (const auto& child : entry.children()) {
                if (LocalName(child.name()) == "encryption-data") {
                    throw AutomationError(CannotOpen(path, "it is password-protected", kPasswordAdvice));
                }
            }
        }
    }
    const auto content = ReadMember(z.get(), "content.xml", path);
    if (!content)
        throw AutomationError(CannotOpen(path, "it is damaged (it has no content.xml)", kDamagedAdvice));
    const auto doc = ParseMember(*content, "content.xml", path);

    std::vector<std::string> hiddenStyles;
    std::vector<ListedSheet> sheets;
    for (const auto& part : doc.document_element().children()) {
        const std::string partName = LocalName(part.name());
        if (partName == "automatic-styles") {
            for (const auto& style : part.children()) {
                const char* name = Attribute(style, "name");
                if (!name) continue;
                for (const auto& properties : style.children()) {
                    const char* display = Attribute(properties, "display");
                    if (LocalName(properties.name()) == "table-properties" && display &&
                        std::strcmp(display, "false") == 0) {
                        hiddenStyles.emplace_back(name);
                    }
                }
            }
        } else if (partName == "body") {
            for (const auto& body : part.children()) {
                if (LocalName(body.name()) != "spreadsheet") continue;
                for (const auto& table : body.children()) {
                    if (LocalName(table.name()) != "table") continue;
                    ListedSheet sheet;
                    const char* name = Attribute(table, "name");
                    sheet.name = name ? name : "";
                    const char* style = Attribute(table, "style-name");
                    for (const auto& hidden : hiddenStyles) {
                        if (style && hidden == style) sheet.visibility = SheetVisibility::Hidden;
                    }
                    sheets.push_back(std::move(sheet));
                }
            }
        }
    }
    if (sheets.empty())
        throw AutomationError(CannotOpen(path, "it is damaged (it lists no sheets)", kDamagedAdvice));
    return sheets;
}

std::optional<std::vector<ListedSheet>> ListOoxmlSheets(const std::string& path) {
    const std::string notOoxml = "it is not an Excel workbook";
    const std::string advice = "Choose a workbook saved by a spreadsheet application.";
    ZipHandle z = OpenZip(path, notOoxml, advice);
    const auto rootRels = ReadMember(z.get(), "_rels/.rels", path);
    if (!rootRels)
        throw AutomationError(CannotOpen(path, notOoxml + " (it has no package relationships)", advice));
    std::string workbookPart;
    const auto rootDoc = ParseMember(*rootRels, "_rels/.rels", path);
    for (const auto& rel : rootDoc.document_element().children()) {
        const char* type = Attribute(rel, "Type");
        const char* target = Attribute(rel, "Target");
        if (type && target && std::string_view(type).ends_with("/officeDocument"))
            workbookPart = ResolveTarget("", target);
    }
    const auto workbook = workbookPart.empty() ? std::nullopt : ReadMember(z.get(), workbookPart, path);
    if (!workbook) throw AutomationError(CannotOpen(path, notOoxml + " (it has no workbook part)", advice));
    const std::filesystem::path part = platform::PathFromUtf8(workbookPart);
    const std::string relsName = platform::GenericUtf8(
        part.parent_path() / "_rels" / platform::PathFromUtf8(platform::FileNameOf(workbookPart) + ".rels"));
    std::vector<std::pair<std::string, std::string>> relTypes;  // id, type
    if (const auto rels = ReadMember(z.get(), relsName, path)) {
        const auto relsDoc = ParseMember(*rels, relsName, path);
        for (const auto& rel : relsDoc.document_element().children()) {
            const char* id = Attribute(rel, "Id");
            const char* type = Attribute(rel, "Type");
            if (id && type) relTypes.emplace_back(id, type);
        }
    }
    std::vector<ListedSheet> sheets;
    const auto doc = ParseMember(*workbook, workbookPart, path);
    for (const auto& section : doc.document_element().children()) {
        if (LocalName(section.name()) != "sheets") continue;
        for (const auto& entry : section.children()) {
            ListedSheet sheet;
            const char* name = Attribute(entry, "name");
            sheet.name = name ? name : "";
            const std::string state = Attribute(entry, "state") ? Attribute(entry, "state") : "";
            if (state == "hidden") sheet.visibility = SheetVisibility::Hidden;
            if (state == "veryHidden") sheet.visibility = SheetVisibility::VeryHidden;
            const char* id = Attribute(entry, "id");
            // An entry without a relationship has no part: the application writes such placeholders for the
            // modules of a VBA project, which are not worksheets.
            if (!id || !*id) {
                sheet.kind = SheetKind::Macrosheet;
                sheet.placeholder = true;
            }
            for (const auto& [relId, type] : relTypes) {
                if (!id || relId != id) continue;
                if (type.ends_with("/chartsheet")) sheet.kind = SheetKind::Chartsheet;
                if (type.ends_with("/dialogsheet")) sheet.kind = SheetKind::Dialogsheet;
                if (type.ends_with("/xlMacrosheet") || type.ends_with("/xlIntlMacrosheet")) {
                    sheet.kind = SheetKind::Macrosheet;
                }
            }
            sheets.push_back(std::move(sheet));
        }
    }
    if (sheets.empty())
        throw AutomationError(CannotOpen(path, "it is damaged (it lists no sheets)", kDamagedAdvice));
    return sheets;
}

std::optional<std::vector<ListedSheet>> ListSheets(const std::string& path, FileFormat format) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(platform::PathFromUtf8(path), ec)) {
        throw AutomationError(CannotOpen(path, "the file does not exist", "Check the path and try again."));
    }
    // Read as the engine reads a workbook: a file another program holds for a moment is waited for, and one it
    // keeps is named as open there.
    std::vector<std::uint8_t> bytes;
    try {
        const platform::RandomAccessFile file(path, platform::FileNameOf(path));
        const std::string whole = platform::ReadStart(file, file.size());
        if (whole.size() != file.size()) throw platform::SystemError("the file could not be read whole");
        bytes.assign(whole.begin(), whole.end());
    } catch (const platform::SystemError& e) {
        throw AutomationError(std::string(e.what()).starts_with("\"")
                                  ? e.what()
                                  : CannotOpen(path, "the file cannot be read (" + std::string(e.what()) + ")",
                                               "Check that you may read it, then try again."));
    }
    if (bytes.empty()) {
        throw AutomationError(CannotOpen(path, "the file is empty (0 bytes), not a workbook",
                                         "Use a good copy of the workbook."));
    }
    if (format == FileFormat::Xls) return ListXlsSheets(bytes, path);
    if (format == FileFormat::Ods) return ListOdsSheets(path);
    if (automation::IsOoxml(format)) {
        if (CompoundFile::HasSignature(bytes)) {
            try {
                if (CompoundFile(bytes).ReadRootStream("EncryptionInfo")) {
                    throw AutomationError(CannotOpen(path, "it is password-protected", kPasswordAdvice));
                }
            } catch (const AutomationError&) {
                throw;
            } catch (const std::exception&) {
            }
            return std::nullopt;
        }
        return ListOoxmlSheets(path);
    }
    return std::nullopt;
}

}  // namespace orv::legacy
