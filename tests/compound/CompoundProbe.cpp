// The compound file room seen from outside, for olefile_check.py: "write FILE 3|4" writes the sample tree
// (with an 8 MB stream) and prints the listing of the tree it wrote; "list FILE" prints the listing of the
// tree the reader reads. A listing has one line per entry, as olefile_check.py makes it from olefile's view.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "CompoundTestSupport.h"
#include "compound/CompoundFile.h"

namespace {

using orv::compound::Entry;

std::uint32_t Crc32(const std::vector<std::uint8_t>& data) {
    std::uint32_t crc = 0xFFFFFFFF;
    for (std::uint8_t byte : data) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

std::string Hex(std::uint64_t value, int digits) {
    std::string text(static_cast<std::size_t>(digits), '0');
    for (int i = digits - 1; i >= 0; --i, value >>= 4)
        text[static_cast<std::size_t>(i)] = "0123456789ABCDEF"[value & 0xF];
    return text;
}

// As olefile shows a CLSID: empty when all zero, else its fields in the usual GUID form.
std::string ClsidText(const std::array<std::uint8_t, 16>& c) {
    bool zero = true;
    for (auto byte : c) zero = zero && byte == 0;
    if (zero) return "";
    auto le = [&](int at, int size) {
        std::uint64_t value = 0;
        for (int i = size - 1; i >= 0; --i) value = value << 8 | c[static_cast<std::size_t>(at + i)];
        return value;
    };
    std::string text = Hex(le(0, 4), 8) + "-" + Hex(le(4, 2), 4) + "-" + Hex(le(6, 2), 4) + "-";
    for (int i = 8; i < 16; ++i) text += Hex(c[static_cast<std::size_t>(i)], 2) + (i == 9 ? "-" : "");
    return text;
}

std::string Metadata(const Entry& e) {
    return ClsidText(e.clsid) + "\t" + Hex(e.stateBits, 8) + "\t" + std::to_string(e.created) + "\t" +
           std::to_string(e.modified);
}

void List(const Entry& storage, const std::string& prefix) {
    if (prefix.empty()) std::cout << "root\t" << Metadata(storage) << "\n";
    for (const Entry& child : storage.children) {
        const std::string path = prefix + child.name;
        if (child.storage) {
            std::cout << "storage\t" << path << "\t" << Metadata(child) << "\n";
            List(child, path + "/");
        } else {
            std::cout << "stream\t" << path << "\t" << child.data.size() << "\t" << Hex(Crc32(child.data), 8)
                      << "\n";
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    try {
        if (args.size() == 3 && args[0] == "write") {
            const Entry tree = orv::compound::test::SampleTree(8u << 20);
            const auto bytes = orv::compound::Write(
                tree, args[2] == "4" ? orv::compound::Version::V4 : orv::compound::Version::V3);
            std::ofstream out(args[1], std::ios::binary);
            out.write(reinterpret_cast<const char*>(bytes.data()),
                      static_cast<std::streamsize>(bytes.size()));
            if (!out.flush()) throw std::runtime_error("cannot write " + args[1]);
            List(tree, "");
            return 0;
        }
        if (args.size() == 2 && args[0] == "list") {
            std::ifstream in(args[1], std::ios::binary);
            const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                                  std::istreambuf_iterator<char>());
            List(orv::compound::ReadTree(bytes), "");
            return 0;
        }
    } catch (const std::exception& e) {
        std::cerr << e.what() << "\n";
        return 1;
    }
    std::cerr << "usage: orvandel_compound_probe write FILE 3|4 | list FILE\n";
    return 2;
}
