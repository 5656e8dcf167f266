// Editing HeadingPairs / TitlesOfParts of docProps/app.xml. Group headings are localised ("Worksheets",
// "Arbeitsblätter"), so a group of sheet titles is recognised by its titles, never by its heading.
#include "engine/workbook/AppProperties.h"

#include <algorithm>
#include <optional>
#include <unordered_map>

#include "engine/EngineError.h"
#include "engine/formula/Formula.h"
#include "engine/package/Package.h"
#include "engine/package/Relationships.h"
#include "engine/package/Xml.h"
#include "engine/workbook/SheetNames.h"

namespace orv::engine {

namespace {

struct Group {
    pugi::xml_node countNode;  // the vt:i4 of its heading pair
    std::vector<pugi::xml_node> titles;
};

struct AppTitles {
    std::string part;
    pugi::xml_node headingVector;
    pugi::xml_node titleVector;
    std::vector<Group> groups;
};

std::optional<AppTitles> LoadTitles(Package& package) {
    auto rel = Relationships(package, "").FirstOfKind("extended-properties");
    if (!rel || rel->targetPart.empty() || !package.Has(rel->targetPart)) return std::nullopt;
    AppTitles t;
    t.part = rel->targetPart;
    pugi::xml_node root;
    try {
        root = Root(package.Xml(t.part));
    } catch (const EngineError&) {
        return std::nullopt;  // an unreadable app.xml is kept as it is; the application rewrites it on save
    }
    t.headingVector = Child(Child(root, "HeadingPairs"), "vector");
    t.titleVector = Child(Child(root, "TitlesOfParts"), "vector");
    if (!t.headingVector || !t.titleVector) return std::nullopt;
    const auto variants = Children(t.headingVector, "variant");
    const auto titles = Children(t.titleVector, "lpstr");
    std::size_t next = 0;
    for (std::size_t i = 0; i + 1 < variants.size(); i += 2) {
        Group g;
        g.countNode = Child(variants[i + 1], "i4");
        if (!g.countNode) return std::nullopt;
        const long count = g.countNode.text().as_int();
        for (long k = 0; k < count && next < titles.size(); ++k) g.titles.push_back(titles[next++]);
        t.groups.push_back(std::move(g));
    }
    return t;
}

void SetCount(pugi::xml_node vector, std::size_t size) {
    vector.attribute("size") = static_cast<unsigned>(size);
}

void Finish(Package& package, AppTitles& t) {
    // Drop emptied groups with their heading pair, and write the counts and vector sizes again.
    std::size_t titles = 0;
    for (auto& g : t.groups) {
        if (g.titles.empty()) {
            auto countVariant = g.countNode.parent();
            auto headingVariant = countVariant.previous_sibling();
            while (headingVariant && headingVariant.type() != pugi::node_element)
                headingVariant = headingVariant.previous_sibling();
            t.headingVector.remove_child(countVariant);
            if (headingVariant) t.headingVector.remove_child(headingVariant);
            continue;
        }
        g.countNode.text() = static_cast<int>(g.titles.size());
        titles += g.titles.size();
    }
    SetCount(t.headingVector, Children(t.headingVector, "variant").size());
    SetCount(t.titleVector, titles);
    package.MarkChanged(t.part);
}

bool IsSheetGroup(const Group& g, const std::string& name) {
    return std::any_of(g.titles.begin(), g.titles.end(),
                       [&](const pugi::xml_node& n) { return n.text().get() == name; }) &&
           std::none_of(g.titles.begin(), g.titles.end(), [](const pugi::xml_node& n) {
               return std::string_view(n.text().get()).find('!') != std::string_view::npos;
           });
}

bool StartsWithPrefix(const std::string& title, const std::string& sheetName) {
    const std::string prefix = AppNamePrefix(sheetName);
    return title.size() > prefix.size() && SheetNamesEqual(title.substr(0, prefix.size()), prefix);
}

}  // namespace

std::string AppNamePrefix(const std::string& sheetName) { return formula::QuoteSheetName(sheetName) + "!"; }

void AppRenameSheet(Package& package, const std::string& oldName, const std::string& newName) {
    auto t = LoadTitles(package);
    if (!t) return;
    bool changed = false;
    for (auto& g : t->groups) {
        const bool sheets = IsSheetGroup(g, oldName);
        for (auto& n : g.titles) {
            const std::string title = n.text().get();
            if (sheets && title == oldName) {
                n.text() = newName.c_str();
                changed = true;
            } else if (!sheets && StartsWithPrefix(title, oldName)) {
                n.text() = (AppNamePrefix(newName) + title.substr(AppNamePrefix(oldName).size())).c_str();
                changed = true;
            }
        }
    }
    if (changed) Finish(package, *t);
}

void AppDeleteSheet(Package& package, const std::string& name) {
    auto t = LoadTitles(package);
    if (!t) return;
    bool changed = false;
    for (auto& g : t->groups) {
        const bool sheets = IsSheetGroup(g, name);
        std::vector<pugi::xml_node> kept;
        for (auto& n : g.titles) {
            const std::string title = n.text().get();
            if ((sheets && title == name) || (!sheets && StartsWithPrefix(title, name))) {
                t->titleVector.remove_child(n);
                changed = true;
            } else {
                kept.push_back(n);
            }
        }
        g.titles = std::move(kept);
    }
    if (changed) Finish(package, *t);
}

void AppInsertSheet(Package& package, const std::string& name, const std::vector<std::string>& sameKind,
                    const std::vector<std::string>& sheetsAfter) {
    auto t = LoadTitles(package);
    if (!t) return;
    for (auto& g : t->groups) {
        const bool match = std::any_of(sameKind.begin(), sameKind.end(),
                                       [&](const std::string& s) { return IsSheetGroup(g, s); });
        if (!match || g.titles.empty()) continue;
        auto made = InsertElementAfter(t->titleVector, g.titles.back(), NamespaceOf(g.titles.back()), "lpstr");
        made.text() = name.c_str();
        g.titles.push_back(made);
        Finish(package, *t);
        AppReorderSheets(package, sheetsAfter);
        return;
    }
}

void AppReorderSheets(Package& package, const std::vector<std::string>& sheetsAfter) {
    auto t = LoadTitles(package);
    if (!t) return;
    // Asked for at every comparison of a sort: looked up, not searched for.
    std::unordered_map<std::string, long> positions;
    for (std::size_t i = 0; i < sheetsAfter.size(); ++i) positions.try_emplace(sheetsAfter[i], static_cast<long>(i));
    auto position = [&](const std::string& title) -> long {
        const auto it = positions.find(title);
        return it == positions.end() ? -1 : it->second;
    };
    bool changed = false;
    for (auto& g : t->groups) {
        if (g.titles.empty() || !IsSheetGroup(g, g.titles.front().text().get())) continue;
        std::vector<std::string> titles;
        for (auto& n : g.titles) titles.push_back(n.text().get());
        if (std::any_of(titles.begin(), titles.end(), [&](const std::string& s) { return position(s) < 0; }))
            continue;
        auto sorted = titles;
        std::stable_sort(sorted.begin(), sorted.end(), [&](const std::string& a, const std::string& b) {
            return position(a) < position(b);
        });
        if (sorted == titles) continue;
        for (std::size_t i = 0; i < sorted.size(); ++i) g.titles[i].text() = sorted[i].c_str();
        changed = true;
    }
    if (changed) Finish(package, *t);
}

}  // namespace orv::engine
