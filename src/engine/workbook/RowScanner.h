// The rows of a worksheet read as a stream of tags and text, for the row stream's walkers (SheetStream.cpp and
// the rewrite): the tokenizer and its helpers. Internal to the row stream; everything here is inline, as it was
// beside its callers.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "engine/EngineError.h"
#include "engine/workbook/SheetNames.h"

namespace orv::engine::rows {


// As deep as the tree parser allows; rows nest three levels, so anything near it is hostile.
inline constexpr std::size_t kMaxDepth = 1000;

struct MalformedRows {
    std::string what;
    std::size_t offset;
};

inline EngineError NotWellFormed(const MalformedRows& e, const std::string& partName, const std::string& fileName) {
    return EngineError("The part \"" + partName + "\" of \"" + fileName + "\" is not well-formed XML (" + e.what +
                       " in its rows, at byte " + std::to_string(e.offset) +
                       " of them). Open the file in the spreadsheet application to repair it.");
}

inline bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Names are a few characters long: a plain loop beats a call into the C library for each of them.
inline std::string_view Local(std::string_view qualified) {
    for (std::size_t i = 0; i < qualified.size(); ++i) {
        if (qualified[i] == ':') return qualified.substr(i + 1);
    }
    return qualified;
}

inline bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i]) return false;
    }
    return true;
}

// The characters that end a run inside a start tag: its end, a stray '<', or a quote opening a value.
struct TagStops {
    bool stop[256] = {};
    constexpr TagStops() {
        for (unsigned char c : {'>', '<', '"', '\''}) stop[c] = true;
    }
};
inline constexpr TagStops kTagStops;

struct Attribute {
    std::string_view name;
    std::string_view value;          // raw, between the quotes
    std::size_t begin = 0, end = 0;  // the whole name="value" within the attribute text
};

enum class TokenKind { Start, Empty, End, Text, Other };

// Only the fields of the token's kind are set: name and attrs for tags, text and cdata for text.
struct Token {
    TokenKind kind = TokenKind::Other;
    std::size_t begin = 0, end = 0;
    std::string_view name;   // start, empty and end tags
    std::string_view attrs;  // start and empty tags: between the name and > or />
    std::string_view text;   // text and CDATA content, raw
    bool cdata = false;
};

class Scanner {
  public:
    explicit Scanner(std::string_view s) : m_s(s) {}

    // The next token; a start tag's attributes go to `attrs` when it is given (checked either way).
    bool Next(Token& t, std::vector<Attribute>* attrs = nullptr) {
        const std::size_t size = m_s.size();
        if (m_pos >= size) return false;
        const char* s = m_s.data();
        t.begin = m_pos;
        if (s[m_pos] != '<') {
            const void* lt = std::memchr(s + m_pos, '<', size - m_pos);
            m_pos = lt ? static_cast<std::size_t>(static_cast<const char*>(lt) - s) : size;
            t.kind = TokenKind::Text;
            t.cdata = false;
            t.text = View(t.begin, m_pos - t.begin);
            t.end = m_pos;
            return true;
        }
        const char second = m_pos + 1 < size ? s[m_pos + 1] : '\0';
        if (second == '/') {
            // End tags are a few characters long: a plain loop beats a call into the C library.
            std::size_t gt = m_pos + 2;
            while (gt < size && s[gt] != '>') ++gt;
            if (gt >= size) throw MalformedRows{"an unterminated end tag", m_pos};
            std::string_view name = View(m_pos + 2, gt - m_pos - 2);
            while (!name.empty() && IsSpace(name.back())) name.remove_suffix(1);
            if (name.empty()) throw MalformedRows{"an end tag without a name", m_pos};
            t.kind = TokenKind::End;
            t.name = name;
            m_pos = gt + 1;
        } else if (second == '!') {
            t.kind = TokenKind::Other;
            if (Starts("<!--")) {
                Skip("-->", "an unterminated comment");
            } else if (Starts("<![CDATA[")) {
                const std::size_t start = m_pos + 9;
                Skip("]]>", "an unterminated CDATA section");
                t.kind = TokenKind::Text;
                t.cdata = true;
                t.text = View(start, m_pos - 3 - start);
            } else {
                throw MalformedRows{"a declaration inside the rows", m_pos};
            }
        } else if (second == '?') {
            t.kind = TokenKind::Other;
            Skip("?>", "an unterminated processing instruction");
        } else {
            StartTag(t, attrs);
        }
        t.end = m_pos;
        return true;
    }

    // Goes on from `pos`, which a caller found to be the start of a token.
    void Seek(std::size_t pos) { m_pos = pos; }

  private:
    // A view of text the scanner has already bounded: no check, no exception.
    std::string_view View(std::size_t from, std::size_t n) const { return {m_s.data() + from, n}; }

    bool Starts(const char* prefix) const { return m_s.compare(m_pos, std::strlen(prefix), prefix) == 0; }

    void Skip(const char* terminator, const char* what) {
        const auto at = m_s.find(terminator, m_pos + 2);
        if (at == std::string_view::npos) throw MalformedRows{what, m_pos};
        m_pos = at + std::strlen(terminator);
    }

    // A start tag and its attributes, each name="value" (or 'value'): a '>' inside a value does not end the
    // tag, a '<' anywhere is an error.
    void StartTag(Token& t, std::vector<Attribute>* attrs) {
        const char* s = m_s.data();
        const std::size_t size = m_s.size();
        std::size_t i = m_pos + 1;
        while (i < size && !IsSpace(s[i]) && s[i] != '>' && s[i] != '/' && s[i] != '<') ++i;
        t.name = View(m_pos + 1, i - m_pos - 1);
        if (t.name.empty()) throw MalformedRows{"a tag without a name", m_pos};
        const std::size_t base = i;
        if (attrs) attrs->clear();
        for (;;) {
            while (i < size && IsSpace(s[i])) ++i;
            if (i >= size || s[i] == '<') throw MalformedRows{"an unterminated tag", m_pos};
            if (s[i] == '>' || (s[i] == '/' && i + 1 < size && s[i + 1] == '>')) break;
            Attribute a;
            a.begin = i - base;
            while (i < size && !IsSpace(s[i]) && !kTagStops.stop[static_cast<unsigned char>(s[i])] && s[i] != '=' &&
                   s[i] != '/')
                ++i;
            a.name = View(base + a.begin, i - base - a.begin);
            while (i < size && IsSpace(s[i])) ++i;
            if (a.name.empty() || i >= size || s[i] != '=')
                throw MalformedRows{"an attribute without a value", base + a.begin};
            ++i;
            while (i < size && IsSpace(s[i])) ++i;
            if (i >= size || (s[i] != '"' && s[i] != '\''))
                throw MalformedRows{"an attribute value without quotes", base + a.begin};
            const char quote = s[i];
            std::size_t close = i + 1;
            while (close < size && s[close] != quote && s[close] != '<') ++close;
            if (close >= size || s[close] == '<') {
                // Either the value never ends, or it holds a '<'.
                if (close >= size || m_s.find(quote, close) == std::string_view::npos)
                    throw MalformedRows{"an unterminated attribute value", i};
                throw MalformedRows{"a '<' inside an attribute value", i};
            }
            a.value = View(i + 1, close - i - 1);
            i = close + 1;
            a.end = i - base;
            if (attrs) attrs->push_back(a);
        }
        const bool empty = s[i] == '/';
        t.kind = empty ? TokenKind::Empty : TokenKind::Start;
        t.attrs = View(base, i - base);
        m_pos = i + (empty ? 2 : 1);
    }

    std::string_view m_s;
    std::size_t m_pos = 0;
};

inline std::string_view Find(const std::vector<Attribute>& attrs, std::string_view name) {
    for (const auto& a : attrs) {
        if (SameName(a.name, name)) return a.value;
    }
    return {};
}

inline const Attribute* FindAttribute(const std::vector<Attribute>& attrs, std::string_view name) {
    for (const auto& a : attrs) {
        if (SameName(a.name, name)) return &a;
    }
    return nullptr;
}

inline bool Has(const std::vector<Attribute>& attrs, std::string_view name) {
    for (const auto& a : attrs) {
        if (SameName(a.name, name)) return true;
    }
    return false;
}

// A cell's style or shared-string index written as a number is written again, or -1 for any other text.
inline int SmallNumber(std::string_view text) {
    if (text.empty() || text.size() > 9 || (text.size() > 1 && text[0] == '0')) return -1;
    int n = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return -1;
        n = n * 10 + (c - '0');
    }
    return n;
}

// Character data as a parser reports it: the five entities and character references resolved, line ends
// normalised. Unknown entities stay as written, as the tree parser leaves them.
inline void AppendDecoded(std::string& out, std::string_view raw, bool cdata) {
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (c == '\r') {
            out += '\n';
            if (i + 1 < raw.size() && raw[i + 1] == '\n') ++i;
            continue;
        }
        if (c != '&' || cdata) {
            out += c;
            continue;
        }
        const auto semi = raw.find(';', i);
        const std::string_view entity =
            semi == std::string_view::npos ? std::string_view{} : raw.substr(i + 1, semi - i - 1);
        char32_t code = 0;
        bool known = true;
        if (entity == "amp")
            code = '&';
        else if (entity == "lt")
            code = '<';
        else if (entity == "gt")
            code = '>';
        else if (entity == "quot")
            code = '"';
        else if (entity == "apos")
            code = '\'';
        else if (entity.size() > 1 && entity[0] == '#') {
            const bool hex = entity[1] == 'x' || entity[1] == 'X';
            const std::string_view digits = entity.substr(hex ? 2 : 1);
            known = !digits.empty() && digits.size() <= 8;
            for (char d : digits) {
                int v = -1;
                if (d >= '0' && d <= '9')
                    v = d - '0';
                else if (hex && d >= 'a' && d <= 'f')
                    v = d - 'a' + 10;
                else if (hex && d >= 'A' && d <= 'F')
                    v = d - 'A' + 10;
                if (v < 0)
                    known = false;
                else
                    code = code * (hex ? 16 : 10) + static_cast<char32_t>(v);
            }
            if (code > 0x10FFFF) known = false;
        } else {
            known = false;
        }
        if (!known) {
            out += c;
            continue;
        }
        platform::AppendUtf8(out, code);
        i = semi;
    }
}

inline std::string Escaped(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 8);
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '\r':
                out += "&#13;";
                break;
            default:
                out += c;
        }
    }
    return out;
}


// A cell's style or shared-string index as the rewrite reads it.
inline int AsIndex(std::string_view text) {
    const int written = SmallNumber(text);
    return written >= 0 ? written : std::atoi(std::string(text).c_str());
}

// The offset of the next tag named `local` (any prefix) at or after `from`, outside comments, CDATA and
// processing instructions; npos when there is none. `end` selects end tags.
inline std::size_t FindTag(std::string_view xml, std::size_t from, std::string_view local, bool end) {
    for (std::size_t i = xml.find('<', from); i != std::string_view::npos; i = xml.find('<', i + 1)) {
        if (xml.compare(i, 4, "<!--") == 0) {
            i = xml.find("-->", i + 4);
        } else if (xml.compare(i, 9, "<![CDATA[") == 0) {
            i = xml.find("]]>", i + 9);
        } else if (xml.compare(i, 2, "<?") == 0) {
            i = xml.find("?>", i + 2);
        } else {
            std::size_t n = i + 1;
            if (end != (n < xml.size() && xml[n] == '/')) continue;
            if (end) ++n;
            std::size_t stop = n;
            while (stop < xml.size() && !IsSpace(xml[stop]) && xml[stop] != '>' && xml[stop] != '/') ++stop;
            if (Local(xml.substr(n, stop - n)) == local) return i;
            continue;
        }
        if (i == std::string_view::npos) return i;
    }
    return std::string_view::npos;
}

}  // namespace orv::engine::rows
