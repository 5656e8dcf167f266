// Markdown output of the result table.
#include "Table.h"

#include <cstdio>

namespace orv::bench {

std::string Format(double value) {
    char buffer[32];
    if (value >= 100) {
        std::snprintf(buffer, sizeof buffer, "%.0f", value);
    } else if (value >= 10) {
        std::snprintf(buffer, sizeof buffer, "%.1f", value);
    } else {
        std::snprintf(buffer, sizeof buffer, "%.2f", value);
    }
    return buffer;
}

void PrintTable(std::ostream& out, const std::vector<ResultRow>& rows) {
    out << "| Operation | Size | Engine ms | Engine CPU ms | Reference | Ref ms | Engine / ref | LibreOffice "
           "ms | LibreOffice / engine "
           "| Engine peak RSS MB | Target | Verdict |\n"
        << "|---|---|--:|--:|---|--:|--:|--:|--:|--:|---|---|\n";
    for (const auto& row : rows) {
        out << "| " << row.operation << " | " << row.size << " | " << (row.timedOut ? "> " : "")
            << Format(row.engineMs) << " | " << (row.timedOut ? "-" : Format(row.engineCpuMs)) << " | "
            << row.reference << " | " << Format(row.referenceMs) << " | "
            << (row.referenceMs > 0 ? Format(row.engineMs / row.referenceMs) + "x" : "-") << " | ";
        if (row.libreOfficeMs) {
            out << Format(*row.libreOfficeMs) << " | " << Format(*row.libreOfficeMs / row.engineMs) << "x";
        } else {
            out << row.libreOfficeNote << " | -";
        }
        out << " | " << (row.timedOut ? "-" : Format(row.peakRssMb)) << " | " << row.target << " | "
            << row.verdict << " |\n";
    }
}

}  // namespace orv::bench
