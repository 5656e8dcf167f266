// Editing the workbook part's sheet-indexed attributes.
#include "engine/workbook/WorkbookPart.h"

#include <algorithm>
#include <string>

#include "engine/package/Xml.h"

namespace orv::engine {

std::vector<pugi::xml_node> SheetElements(const pugi::xml_document& workbook) {
    return Children(Child(Root(workbook), "sheets"), "sheet");
}

bool RemapLocalSheetIds(pugi::xml_document& workbook, const std::function<int(int)>& map) {
    bool changed = false;
    auto names = Child(Root(workbook), "definedNames");
    for (auto name : Children(names, "definedName")) {
        auto id = name.attribute("localSheetId");
        if (!id) continue;
        const int now = map(id.as_int());
        if (now < 0) {
            names.remove_child(name);
            changed = true;
        } else if (now != id.as_int()) {
            id = now;
            changed = true;
        }
    }
    if (names && !Child(names, "definedName")) {
        Root(workbook).remove_child(names);  // an empty <definedNames/> is invalid
        changed = true;
    }
    return changed;
}

bool RemapBookViews(pugi::xml_document& workbook, const std::function<int(int)>& map,
                    const std::vector<bool>& visible) {
    bool changed = false;
    const int count = static_cast<int>(visible.size());
    auto onVisible = [&](int index) {
        if (count == 0) return 0;
        index = std::clamp(index, 0, count - 1);
        for (int i = index; i < count; ++i) {
            if (visible[static_cast<std::size_t>(i)]) return i;
        }
        for (int i = index; i >= 0; --i) {
            if (visible[static_cast<std::size_t>(i)]) return i;
        }
        return index;
    };
    for (auto view : Children(Child(Root(workbook), "bookViews"), "workbookView")) {
        for (const char* attr : {"activeTab", "firstSheet"}) {
            auto a = view.attribute(attr);
            const int old = a ? a.as_int() : 0;
            const int now = onVisible(map(old));
            if (now == old) continue;
            if (!a) a = view.append_attribute(attr);
            if (now == 0 && std::string_view(attr) == "firstSheet") {
                view.remove_attribute(a);  // 0 is the default; keep the view as the application writes it
            } else {
                a = now;
            }
            changed = true;
        }
    }
    return changed;
}

bool StructureLocked(const pugi::xml_document& workbook) {
    auto protection = Child(Root(workbook), "workbookProtection");
    if (!protection) return false;
    const std::string_view lock = protection.attribute("lockStructure").value();
    return lock == "1" || lock == "true";
}

}  // namespace orv::engine
