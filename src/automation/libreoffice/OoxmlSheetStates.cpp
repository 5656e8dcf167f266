// Patches the sheet states and the active tab in the workbook part of an OOXML package LibreOffice saved.
#include <zip.h>

#include <cstring>
#include <filesystem>
#include <pugixml.hpp>
#include <sstream>

#include "automation/libreoffice/SheetStates.h"
#include "platform/Paths.h"

namespace orv::libreoffice {

using automation::SheetVisibility;

namespace {

struct ZipDiscard {
    void operator()(zip_t* z) const {
        if (z) zip_discard(z);
    }
};

std::string LocalName(const char* qualified) {
    const char* colon = std::strrchr(qualified, ':');
    return colon ? colon + 1 : qualified;
}

std::optional<std::string> ReadMember(zip_t* z, const std::string& name) {
    zip_stat_t stat;
    if (zip_stat(z, name.c_str(), 0, &stat) != 0) return std::nullopt;
    zip_file_t* file = zip_fopen(z, name.c_str(), 0);
    if (!file) return std::nullopt;
    std::string data(static_cast<std::size_t>(stat.size), '\0');
    const bool ok = zip_fread(file, data.data(), stat.size) == static_cast<zip_int64_t>(stat.size);
    zip_fclose(file);
    return ok ? std::optional<std::string>(data) : std::nullopt;
}

// The workbook part's name from the package relationships.
std::string WorkbookPart(zip_t* z) {
    const auto rels = ReadMember(z, "_rels/.rels");
    pugi::xml_document doc;
    if (!rels || !doc.load_buffer(rels->data(), rels->size())) return "";
    for (const auto& rel : doc.document_element().children()) {
        const std::string type = rel.attribute("Type").value();
        std::string target = rel.attribute("Target").value();
        if (!type.ends_with("/officeDocument")) continue;
        if (!target.empty() && target[0] == '/') target.erase(0, 1);
        return platform::GenericUtf8(platform::PathFromUtf8(target).lexically_normal());
    }
    return "";
}

}  // namespace

std::optional<std::string> RestoreOoxmlSheetStates(const std::string& path,
                                                   const std::vector<ListedSheet>& sheets) {
    int error = 0;
    std::unique_ptr<zip_t, ZipDiscard> z(zip_open(path.c_str(), 0, &error));
    if (!z) return "the saved package cannot be opened";
    const std::string part = WorkbookPart(z.get());
    const auto xml = part.empty() ? std::nullopt : ReadMember(z.get(), part);
    pugi::xml_document doc;
    if (!xml || !doc.load_buffer(xml->data(), xml->size(), pugi::parse_default | pugi::parse_declaration)) {
        return "the saved package has no readable workbook part";
    }
    std::vector<pugi::xml_node> entries;
    pugi::xml_node view;
    for (const auto& section : doc.document_element().children()) {
        if (LocalName(section.name()) == "sheets") {
            for (const auto& sheet : section.children()) entries.push_back(sheet);
        }
        if (LocalName(section.name()) == "bookViews") view = section.first_child();
    }
    if (entries.size() != sheets.size()) return "the saved file does not list the expected sheets";
    bool changed = false;
    for (std::size_t i = 0; i < sheets.size(); ++i) {
        if (entries[i].attribute("name").value() != sheets[i].name) {
            return "the saved file does not list the expected sheets";
        }
        const char* wanted = sheets[i].visibility == SheetVisibility::Hidden       ? "hidden"
                             : sheets[i].visibility == SheetVisibility::VeryHidden ? "veryHidden"
                                                                                   : "";
        if (std::strcmp(entries[i].attribute("state").value(), wanted) == 0) continue;
        changed = true;
        entries[i].remove_attribute("state");
        if (*wanted) entries[i].append_attribute("state") = wanted;
    }
    if (view) {
        const auto active = static_cast<std::size_t>(view.attribute("activeTab").as_uint(0));
        if (active >= sheets.size() || sheets[active].visibility != SheetVisibility::Visible) {
            std::size_t first = 0;
            while (first < sheets.size() && sheets[first].visibility != SheetVisibility::Visible) ++first;
            if (first == sheets.size()) return "it has no visible sheet";
            if (!view.attribute("activeTab")) view.append_attribute("activeTab");
            view.attribute("activeTab") = static_cast<unsigned>(first);
            view.remove_attribute("firstSheet");
            changed = true;
        }
    }
    if (!changed) return std::nullopt;
    std::ostringstream out;
    doc.save(out, "", pugi::format_raw);
    const std::string text = out.str();
    zip_source_t* source = zip_source_buffer(z.get(), text.data(), text.size(), 0);
    if (!source || zip_file_add(z.get(), part.c_str(), source, ZIP_FL_OVERWRITE) < 0) {
        if (source) zip_source_free(source);
        return "the workbook part could not be replaced";
    }
    // libzip writes the new package beside the old one and renames it over: the file is replaced whole.
    if (zip_close(z.get()) != 0)
        return std::string("the package could not be written (") + zip_strerror(z.get()) + ")";
    z.release();
    return std::nullopt;
}

}  // namespace orv::libreoffice
