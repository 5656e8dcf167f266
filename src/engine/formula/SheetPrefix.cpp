// Parsing, formatting and quoting of sheet prefixes ('My Sheet'!, [1]First:Last!, #REF!).
#include "engine/formula/Formula.h"
#include "engine/formula/Text.h"
#include "platform/TextCase.h"

namespace orv::formula {

namespace {

using namespace detail;

// Decodes the UTF-8 sequence at `i`; a malformed byte decodes as 0xFFFD (never a letter) and advances one
// byte.
char32_t DecodeAt(std::string_view s, std::size_t& i) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    const int length = (b0 & 0xE0) == 0xC0 ? 2 : (b0 & 0xF0) == 0xE0 ? 3 : (b0 & 0xF8) == 0xF0 ? 4 : 0;
    if (length == 0 || i + static_cast<std::size_t>(length) > s.size()) {
        ++i;
        return 0xFFFD;
    }
    char32_t cp = length == 2 ? (b0 & 0x1F) : length == 3 ? (b0 & 0x0F) : (b0 & 0x07);
    for (int k = 1; k < length; ++k) {
        const auto b = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
        if ((b & 0xC0) != 0x80) {
            ++i;
            return 0xFFFD;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    i += static_cast<std::size_t>(length);
    return cp;
}

bool IsUnicodeLetter(char32_t cp) { return platform::IsLetter(cp); }

bool IsUnicodeLetterOrDigit(char32_t cp) { return platform::IsLetterOrDigit(cp); }

// R, C, RC, R2, C3, R2C3, R2C, RC3: what the R1C1 notation would read.
bool LooksLikeR1C1(std::string_view name) {
    std::size_t i = 0;
    if (i < name.size() && AsciiUpper(static_cast<unsigned char>(name[i])) == 'R') {
        ++i;
        while (i < name.size() && IsDigit(static_cast<unsigned char>(name[i]))) ++i;
    }
    if (i < name.size() && AsciiUpper(static_cast<unsigned char>(name[i])) == 'C') {
        ++i;
        while (i < name.size() && IsDigit(static_cast<unsigned char>(name[i]))) ++i;
    }
    return i > 0 && i == name.size();
}

// A bracketed external book such as [1] needs no quotes; a file name or path might.
bool BookNeedsQuotes(std::string_view book) {
    for (const char ch : book) {
        const auto c = static_cast<unsigned char>(ch);
        if (!(IsAsciiLetter(c) || IsDigit(c) || c == '_' || c == '.' || c == '[' || c == ']' || c >= 0x80))
            return true;
    }
    return false;
}

void AppendDoubled(std::string& out, std::string_view text) {
    for (const char c : text) {
        out += c;
        if (c == '\'') out += '\'';
    }
}

}  // namespace

bool SheetNameNeedsQuotes(std::string_view name) {
    if (name.empty()) return true;
    std::size_t i = 0;
    const char32_t first = DecodeAt(name, i);
    if (!(first == '_' ||
          (first < 0x80 ? IsAsciiLetter(static_cast<unsigned char>(first)) : IsUnicodeLetter(first)))) {
        return true;
    }
    while (i < name.size()) {
        const char32_t cp = DecodeAt(name, i);
        const bool plain = cp < 0x80 ? (IsAsciiLetter(static_cast<unsigned char>(cp)) ||
                                        IsDigit(static_cast<unsigned char>(cp)) || cp == '_' || cp == '.')
                                     : IsUnicodeLetterOrDigit(cp);
        if (!plain) return true;
    }
    if (ClassifyRefPart(name) == RefPart::Cell || LooksLikeR1C1(name)) return true;
    return AsciiEqualNoCase(name, "TRUE") || AsciiEqualNoCase(name, "FALSE");
}

std::string QuoteSheetName(std::string_view name) {
    if (!SheetNameNeedsQuotes(name)) return std::string(name);
    std::string out;
    out.reserve(name.size() + 4);
    out += '\'';
    AppendDoubled(out, name);
    out += '\'';
    return out;
}

namespace {

// Reads one sheet part of a prefix at `pos`: quoted (apostrophes undoubled) or up to a ':' (a leading [book]
// is read whole, as a path in it may hold ':'). Returns false when a quote is not closed.
bool ReadPart(std::string_view raw, std::size_t& pos, std::string& out, bool& quoted) {
    out.reserve(raw.size() - pos);
    if (pos < raw.size() && raw[pos] == '\'') {
        for (++pos; pos < raw.size(); ++pos) {
            if (raw[pos] == '\'') {
                if (pos + 1 < raw.size() && raw[pos + 1] == '\'') {
                    ++pos;
                } else {
                    ++pos;
                    quoted = true;
                    return true;
                }
            }
            out += raw[pos];
        }
        return false;
    }
    if (pos < raw.size() && raw[pos] == '[') {
        const std::size_t close = raw.find(']', pos);
        if (close == std::string_view::npos) return false;
        out.append(raw.substr(pos, close + 1 - pos));
        pos = close + 1;
    }
    while (pos < raw.size() && raw[pos] != ':') out += raw[pos++];
    return true;
}

// Splits "[book]sheet" into its book and sheet; sheet names cannot hold '[' or ']', so the last ']' ends the
// book.
void SplitBook(std::string& sheet, std::string& book) {
    if (sheet.empty() || sheet.find('[') == std::string::npos) return;
    const std::size_t close = sheet.rfind(']');
    if (close == std::string::npos) return;
    book = sheet.substr(0, close + 1);
    sheet.erase(0, close + 1);
}

}  // namespace

std::optional<SheetPrefix> ParseSheetPrefix(std::string_view prefix) {
    if (prefix.size() < 2 || prefix.back() != '!') return std::nullopt;
    const std::string_view raw = prefix.substr(0, prefix.size() - 1);
    SheetPrefix result;
    if (AsciiEqualNoCase(raw, "#REF")) {
        result.refError = true;
        return result;
    }
    std::size_t pos = 0;
    bool firstQuoted = false;
    bool lastQuoted = false;
    if (!ReadPart(raw, pos, result.firstSheet, firstQuoted)) return std::nullopt;
    SplitBook(result.firstSheet, result.book);
    if (pos < raw.size()) {
        if (raw[pos] != ':' || ++pos == raw.size()) return std::nullopt;
        if (!ReadPart(raw, pos, result.lastSheet, lastQuoted) || pos != raw.size()) return std::nullopt;
        result.quotedApart = firstQuoted || lastQuoted;
    } else if (firstQuoted) {
        // Quoted as a whole: the first ':' (sheet names cannot hold one) splits a 3D range.
        const std::size_t colon = result.firstSheet.find(':');
        if (colon != std::string::npos) {
            result.lastSheet = result.firstSheet.substr(colon + 1);
            result.firstSheet.erase(colon);
            if (result.lastSheet.empty()) return std::nullopt;
        }
    }
    result.quoted = firstQuoted || lastQuoted;
    if (result.firstSheet.empty() && (result.book.empty() || result.Is3D())) return std::nullopt;
    if (result.firstSheet.find_first_of("[]:") != std::string::npos) return std::nullopt;
    if (result.lastSheet.find_first_of("[]:") != std::string::npos) return std::nullopt;
    return result;
}

std::string FormatSheetPrefix(const SheetPrefix& prefix) {
    if (prefix.refError) return "#REF!";
    std::string out;
    out.reserve(prefix.book.size() + prefix.firstSheet.size() + prefix.lastSheet.size() + 8);
    const bool firstNeedsQuotes = (!prefix.firstSheet.empty() && SheetNameNeedsQuotes(prefix.firstSheet)) ||
                                  BookNeedsQuotes(prefix.book);
    if (prefix.quotedApart && prefix.Is3D()) {
        if (firstNeedsQuotes) out += '\'';
        firstNeedsQuotes ? AppendDoubled(out, prefix.book) : void(out += prefix.book);
        firstNeedsQuotes ? AppendDoubled(out, prefix.firstSheet) : void(out += prefix.firstSheet);
        if (firstNeedsQuotes) out += '\'';
        out += ':';
        out += QuoteSheetName(prefix.lastSheet);
        out += '!';
        return out;
    }
    const bool quote = firstNeedsQuotes || (prefix.Is3D() && SheetNameNeedsQuotes(prefix.lastSheet));
    if (quote) out += '\'';
    const auto append = [&](std::string_view part) { quote ? AppendDoubled(out, part) : void(out += part); };
    append(prefix.book);
    append(prefix.firstSheet);
    if (prefix.Is3D()) {
        out += ':';
        append(prefix.lastSheet);
    }
    if (quote) out += '\'';
    out += '!';
    return out;
}

}  // namespace orv::formula
