// Part name arithmetic: resolving and writing relationship targets.
#include "engine/package/PartNames.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace orv::engine {

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string PercentDecode(std::string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size()) {
            const int hi = HexValue(s[i + 1]), lo = HexValue(s[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out += static_cast<char>(hi * 16 + lo);
                i += 2;
                continue;
            }
        }
        out += s[i];
    }
    return out;
}

std::vector<std::string> Segments(std::string_view path) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start <= path.size()) {
        const auto slash = path.find('/', start);
        const auto end = slash == std::string_view::npos ? path.size() : slash;
        out.emplace_back(path.substr(start, end - start));
        if (slash == std::string_view::npos) break;
        start = slash + 1;
    }
    return out;
}

}  // namespace

std::string PartKey(std::string_view partName) {
    std::string key(partName);
    if (!key.empty() && key.front() == '/') key.erase(0, 1);
    std::transform(key.begin(), key.end(), key.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return key;
}

bool SamePartName(std::string_view a, std::string_view b) {
    if (!a.empty() && a.front() == '/') a.remove_prefix(1);
    if (!b.empty() && b.front() == '/') b.remove_prefix(1);
    if (a.size() != b.size()) return false;
    // From the end: names in one folder differ in their last characters.
    for (std::size_t i = a.size(); i-- > 0;) {
        const unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x == y) continue;
        if ((x | 0x20) != (y | 0x20) || (x | 0x20) < 'a' || (x | 0x20) > 'z') return false;
    }
    return true;
}

std::string PartFolder(std::string_view partName) {
    const auto slash = partName.rfind('/');
    return slash == std::string_view::npos ? std::string() : std::string(partName.substr(0, slash + 1));
}

std::string RelsPartOf(std::string_view partName) {
    if (partName.empty()) return "_rels/.rels";
    const auto slash = partName.rfind('/');
    const std::string_view file = slash == std::string_view::npos ? partName : partName.substr(slash + 1);
    return PartFolder(partName) + "_rels/" + std::string(file) + ".rels";
}

std::string ResolveTarget(std::string_view sourcePart, std::string_view target) {
    std::string t = PercentDecode(target);
    // "#Sheet!A1" is a place inside the document, not a part.
    if (t.empty() || t.front() == '#') return {};
    if (t.find("://") != std::string::npos || t.starts_with("mailto:")) return {};
    const auto hash = t.find('#');
    if (hash != std::string::npos) t.erase(hash);
    std::string joined = !t.empty() && t.front() == '/' ? t.substr(1) : PartFolder(sourcePart) + t;
    std::vector<std::string> out;
    for (auto& seg : Segments(joined)) {
        if (seg.empty() || seg == ".") continue;
        if (seg == "..") {
            if (out.empty()) return {};
            out.pop_back();
            continue;
        }
        out.push_back(seg);
    }
    std::string result;
    for (std::size_t i = 0; i < out.size(); ++i) result += (i ? "/" : "") + out[i];
    return result;
}

std::string RelativeTarget(std::string_view sourcePart, std::string_view partName) {
    const auto from = Segments(PartFolder(sourcePart));
    const auto to = Segments(partName);
    // Segments of a folder end with an empty one; drop it.
    std::vector<std::string> dir(from.begin(), from.end());
    if (!dir.empty() && dir.back().empty()) dir.pop_back();
    std::size_t common = 0;
    while (common < dir.size() && common + 1 < to.size() && dir[common] == to[common]) ++common;
    if (common == 0 && !dir.empty()) return "/" + std::string(partName);
    std::string result;
    for (std::size_t i = common; i < dir.size(); ++i) result += "../";
    for (std::size_t i = common; i < to.size(); ++i) result += to[i] + (i + 1 < to.size() ? "/" : "");
    return result;
}

std::string Extension(std::string_view partName) {
    const auto dot = partName.rfind('.');
    const auto slash = partName.rfind('/');
    if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) return {};
    return PartKey(partName.substr(dot + 1));
}

}  // namespace orv::engine
