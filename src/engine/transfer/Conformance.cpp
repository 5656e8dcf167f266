// Translating parts between the strict and the transitional conformance classes.
#include "engine/transfer/Conformance.h"

#include <array>
#include <charconv>
#include <optional>
#include <string_view>
#include <utility>

#include "engine/package/ContentTypes.h"
#include "engine/package/Package.h"
#include "engine/package/PartNames.h"
#include "engine/package/Xml.h"

namespace orv::engine {

namespace {

// Transitional, strict: the vocabularies a sheet and what it carries can use.
constexpr std::array<std::pair<std::string_view, std::string_view>, 13> kNamespaces{{
    {"http://schemas.openxmlformats.org/spreadsheetml/2006/main", "http://purl.oclc.org/ooxml/spreadsheetml/main"},
    {"http://schemas.openxmlformats.org/officeDocument/2006/relationships",
     "http://purl.oclc.org/ooxml/officeDocument/relationships"},
    {"http://schemas.openxmlformats.org/officeDocument/2006/sharedTypes",
     "http://purl.oclc.org/ooxml/officeDocument/sharedTypes"},
    {"http://schemas.openxmlformats.org/officeDocument/2006/math", "http://purl.oclc.org/ooxml/officeDocument/math"},
    {"http://schemas.openxmlformats.org/drawingml/2006/main", "http://purl.oclc.org/ooxml/drawingml/main"},
    {"http://schemas.openxmlformats.org/drawingml/2006/chart", "http://purl.oclc.org/ooxml/drawingml/chart"},
    {"http://schemas.openxmlformats.org/drawingml/2006/chartDrawing",
     "http://purl.oclc.org/ooxml/drawingml/chartDrawing"},
    {"http://schemas.openxmlformats.org/drawingml/2006/spreadsheetDrawing",
     "http://purl.oclc.org/ooxml/drawingml/spreadsheetDrawing"},
    {"http://schemas.openxmlformats.org/drawingml/2006/picture", "http://purl.oclc.org/ooxml/drawingml/picture"},
    {"http://schemas.openxmlformats.org/drawingml/2006/diagram", "http://purl.oclc.org/ooxml/drawingml/diagram"},
    {"http://schemas.openxmlformats.org/drawingml/2006/lockedCanvas",
     "http://purl.oclc.org/ooxml/drawingml/lockedCanvas"},
    {"http://schemas.openxmlformats.org/drawingml/2006/compatibility",
     "http://purl.oclc.org/ooxml/drawingml/compatibility"},
    {"http://schemas.openxmlformats.org/schemaLibrary/2006/main", "http://purl.oclc.org/ooxml/schemaLibrary/main"},
}};

constexpr std::string_view kTransitionalTypes = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
constexpr std::string_view kStrictTypes = "http://purl.oclc.org/ooxml/officeDocument/relationships/";

// DrawingML percentages: the transitional class may write thousandths of a percent (75000), the strict class
// only "75%". Each element with the attributes of that type it has.
struct PercentAttributes {
    const char* element;
    std::array<const char*, 4> attributes;
};
constexpr std::array<PercentAttributes, 38> kDrawingPercentages{{
    {"alpha", {"val"}},          {"alphaMod", {"val"}},       {"alphaOff", {"val"}},
    {"blue", {"val"}},           {"blueMod", {"val"}},        {"blueOff", {"val"}},
    {"green", {"val"}},          {"greenMod", {"val"}},       {"greenOff", {"val"}},
    {"red", {"val"}},            {"redMod", {"val"}},         {"redOff", {"val"}},
    {"hueMod", {"val"}},         {"lumMod", {"val"}},         {"lumOff", {"val"}},
    {"satMod", {"val"}},         {"satOff", {"val"}},         {"shade", {"val"}},
    {"tint", {"val", "amt"}},    {"sat", {"val"}},            {"lum", {"val", "bright", "contrast"}},
    {"scrgbClr", {"r", "g", "b"}}, {"hslClr", {"sat", "lum"}}, {"hsl", {"sat", "lum"}},
    {"gs", {"pos"}},             {"fillToRect", {"l", "t", "r", "b"}}, {"fillRect", {"l", "t", "r", "b"}},
    {"srcRect", {"l", "t", "r", "b"}}, {"tileRect", {"l", "t", "r", "b"}}, {"tile", {"sx", "sy"}},
    {"alphaModFix", {"amt"}},    {"biLevel", {"thresh"}},     {"alphaBiLevel", {"thresh"}},
    {"alphaRepl", {"a"}},        {"reflection", {"stA", "stPos", "endA", "endPos"}},
    {"outerShdw", {"sx", "sy"}}, {"spcPct", {"val"}},
    {"normAutofit", {"fontScale", "lnSpcReduction"}},
}};
// Chart percentages: plain percents (150) in the transitional class, "150%" in the strict one.
constexpr std::array<const char*, 9> kChartPercentages{"gapWidth",      "overlap",      "holeSize",
                                                       "bubbleScale",   "secondPieSize", "depthPercent",
                                                       "hPercent",      "thickness",    "lblOffset"};

bool IsInteger(std::string_view text) {
    if (!text.empty() && text.front() == '-') text.remove_prefix(1);
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// 75000 as "75%", 12345 as "12.345%"; and back.
std::optional<std::string> ThousandthsAsPercent(std::string_view value) {
    long long n = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), n);
    if (error != std::errc() || end != value.data() + value.size()) return std::nullopt;
    const bool negative = n < 0;
    // In unsigned arithmetic, so that the most negative number has a magnitude too.
    const unsigned long long magnitude =
        negative ? 0ull - static_cast<unsigned long long>(n) : static_cast<unsigned long long>(n);
    std::string out = (negative ? "-" : "") + std::to_string(magnitude / 1000);
    if (const auto fraction = magnitude % 1000) {
        std::string digits = std::to_string(fraction + 1000).substr(1);
        while (digits.back() == '0') digits.pop_back();
        out += "." + digits;
    }
    return out + "%";
}

std::optional<std::string> PercentAsThousandths(std::string_view value) {
    if (value.empty() || value.back() != '%') return std::nullopt;
    value.remove_suffix(1);
    double percent = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), percent);
    // A value beyond any percentage a drawing holds is left as written rather than overflow.
    if (error != std::errc() || end != value.data() + value.size() || !(percent > -1e12 && percent < 1e12))
        return std::nullopt;
    return std::to_string(static_cast<long long>(percent * 1000 + (percent < 0 ? -0.5 : 0.5)));
}

void ConvertValue(pugi::xml_attribute attribute, bool strict, bool thousandths) {
    if (!attribute) return;
    const std::string_view value = attribute.value();
    if (strict && IsInteger(value)) {
        if (!thousandths) {
            attribute = (std::string(value) + "%").c_str();
        } else if (const auto converted = ThousandthsAsPercent(value)) {
            attribute = converted->c_str();
        }
    } else if (!strict && value.ends_with('%')) {
        if (thousandths) {
            if (const auto converted = PercentAsThousandths(value)) attribute = converted->c_str();
        } else if (IsInteger(value.substr(0, value.size() - 1))) {
            attribute = std::string(value.substr(0, value.size() - 1)).c_str();
        }
    }
}

std::string_view Counterpart(std::string_view uri, bool strict) {
    for (const auto& [transitional, strictUri] : kNamespaces) {
        if (strict && uri == transitional) return strictUri;
        if (!strict && uri == strictUri) return transitional;
    }
    return uri;
}

}  // namespace

bool IsStrict(const pugi::xml_node& workbookRoot) {
    return NamespaceOf(workbookRoot) == kNamespaces[0].second;
}

void ConvertToClass(pugi::xml_node root, bool strict) {
    std::vector<pugi::xml_node> elements;
    for (std::vector<pugi::xml_node> pending{root}; !pending.empty();) {
        const auto node = pending.back();
        pending.pop_back();
        elements.push_back(node);
        for (auto child = node.last_child(); child; child = child.previous_sibling()) {
            if (child.type() == pugi::node_element) pending.push_back(child);
        }
    }
    // Values first, while the elements' namespaces still read as written.
    for (auto node : elements) {
        const std::string_view uri = NamespaceOf(node);
        if (uri.find("/drawingml/") == std::string_view::npos) continue;
        const std::string_view name = LocalName(node);
        if (uri.ends_with("/chart")) {
            for (const char* chart : kChartPercentages) {
                if (name == chart) ConvertValue(node.attribute("val"), strict, false);
            }
            continue;
        }
        for (const auto& entry : kDrawingPercentages) {
            if (name != entry.element) continue;
            for (const char* attribute : entry.attributes) {
                if (attribute) ConvertValue(node.attribute(attribute), strict, true);
            }
        }
    }
    for (auto node : elements) {
        // A graphic frame names the vocabulary of its content by namespace too.
        const bool graphicData = LocalName(node) == "graphicData";
        for (auto a = node.first_attribute(); a; a = a.next_attribute()) {
            const std::string_view name = a.name();
            if (name != "xmlns" && !name.starts_with("xmlns:") && !(graphicData && name == "uri")) continue;
            const std::string_view mapped = Counterpart(a.value(), strict);
            if (mapped != a.value()) a = std::string(mapped).c_str();
        }
    }
}

std::string RelationshipTypeInClass(const std::string& type, bool strict) {
    const std::string_view from = strict ? kTransitionalTypes : kStrictTypes;
    const std::string_view to = strict ? kStrictTypes : kTransitionalTypes;
    if (!type.starts_with(from)) return type;
    return std::string(to) + type.substr(from.size());
}

void ConvertPartsToClass(Package& package, const std::vector<std::string>& parts, bool strict) {
    ContentTypes types(package);
    for (const auto& part : parts) {
        if (!package.Has(part)) continue;
        const std::string type = types.TypeOf(part);
        if (type.ends_with("+xml") && !ContentTypeIs(type, "relationships+xml")) {
            ConvertToClass(Root(package.Xml(part)), strict);
            package.MarkChanged(part);
        }
        ConvertRelationshipsToClass(package, part, strict);
    }
}

void ConvertRelationshipsToClass(Package& package, const std::string& part, bool strict) {
    const std::string rels = RelsPartOf(part);
    if (!package.Has(rels)) return;
    for (auto rel : Root(package.Xml(rels)).children()) {
        if (auto t = rel.attribute("Type")) t = RelationshipTypeInClass(t.value(), strict).c_str();
    }
    package.MarkChanged(rels);
}

}  // namespace orv::engine
