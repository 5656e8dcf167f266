// The physical references the engine is measured against: what copying, inflating and re-deflating the bytes
// of a workbook costs on this machine, without any understanding of them.
#pragma once

#include <string>
#include <vector>

namespace orv::bench {

// `cp FILE COPY` as a command (the copy is removed afterwards, untimed); milliseconds.
double CpMs(const std::string& file);
// `cp FILE COPY` and `sync COPY` (the engine saves durably, with fsync; cp does not); milliseconds.
double CpSyncMs(const std::string& file);
// `unzip -p FILE > /dev/null`: inflating every entry once; milliseconds.
double UnzipMs(const std::string& file);
// Opening the zip directory and inflating the workbook part with libzip: the least a listing must read.
double ListReferenceMs(const std::string& file);
// Inflating one entry of the package with libzip; milliseconds.
double InflateMs(const std::string& file, const std::string& part);
// Inflating every entry of the package with libzip, in memory; milliseconds.
double InflateEveryPartMs(const std::string& file);
// Inflating each of `parts` and deflating it again with zlib at the default level, in memory; milliseconds.
double InflateDeflateMs(const std::string& file, const std::vector<std::string>& parts);

// The sheet and workbook parts whose inflated bytes contain `text`; untimed, for the reference above.
std::vector<std::string> PartsContaining(const std::string& file, const std::string& text);
// The inflated size of an entry in bytes; 0 when missing.
double EntrySizeMb(const std::string& file, const std::string& part);

}  // namespace orv::bench
