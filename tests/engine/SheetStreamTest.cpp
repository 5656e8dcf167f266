// The rows of a copied sheet as a stream: cutting the part, checking the rows, and rewriting them with every
// byte the copy does not change kept as it was.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#include "TestSupport.h"
#include "engine/EngineError.h"
#include "engine/package/Package.h"
#include "engine/package/Zip.h"
#include "engine/workbook/SheetStream.h"

namespace orv::engine::test {
namespace {

struct Scanned {
    SheetDataScan scan;
    std::vector<std::string> formulas;
};

Scanned Scan(std::string_view body) {
    Scanned s;
    s.scan = ScanSheetData(
        body, [&](std::string_view f) { s.formulas.emplace_back(f); }, "xl/worksheets/sheet1.xml",
        "book.xlsx");
    return s;
}

// Rows `from` to `from + count - 1` of a sheet large enough to be cut into pieces (a hundred bytes a row): a
// string, a shared formula group of a thousand rows, formats and strings of their own from row 60000 on.
std::string LargeRows(int from, int count) {
    std::string text;
    for (int r = from; r < from + count; ++r) {
        const std::string n = std::to_string(r);
        const int later = r < 60000 ? 0 : 10;
        text += "<row r=\"" + n + "\" s=\"" + std::to_string(r % 3) + "\"><c r=\"A" + n + "\" s=\"" +
                std::to_string(later + r % 7) + "\" t=\"s\"><v>" + std::to_string(later * 1000 + (r * 7919) % 5000) +
                "</v></c><c r=\"B" + n + "\"><f t=\"shared\" si=\"" + std::to_string(r / 1000) + "\"" +
                (r % 1000 == 0 ? " ref=\"B" + n + ":B" + std::to_string(r + 999) + "\">Data!A" + n + "*2</f>" : "/>") +
                "<v>" + n + "</v></c></row>";
    }
    return text;
}

std::string Rewrite(std::string_view body, const CellRewrite& rewrite) {
    const auto scanned = Scan(body);
    std::string out;
    RewriteSheetData(body, scanned.scan, rewrite, [&](std::string_view piece) { out += piece; });
    return out;
}

TEST(SplitWorksheet, CutsAroundTheRowsWhateverThePrefix) {
    const std::string xml =
        "<?xml version=\"1.0\"?>\n<x:worksheet xmlns:x=\"m\"><!-- <x:sheetData> in a comment -->"
        "<x:dimension ref=\"A1\"/><x:sheetData a='>'><x:row r=\"1\"/></x:sheetData "
        "><x:pageMargins/></x:worksheet>";
    WorksheetPieces pieces;
    ASSERT_TRUE(SplitWorksheet(xml, pieces));
    EXPECT_EQ(pieces.qualifiedName, "x:sheetData");
    EXPECT_EQ(pieces.startTag, "<x:sheetData a='>'>");
    EXPECT_EQ(pieces.body, "<x:row r=\"1\"/>");
    EXPECT_EQ(pieces.endTag, "</x:sheetData >");
    EXPECT_EQ(pieces.tail, "<x:pageMargins/></x:worksheet>");
    EXPECT_EQ(pieces.Skeleton(),
              "<?xml version=\"1.0\"?>\n<x:worksheet xmlns:x=\"m\"><!-- <x:sheetData> in a comment -->"
              "<x:dimension ref=\"A1\"/><x:sheetData/><x:pageMargins/></x:worksheet>");

    ASSERT_TRUE(SplitWorksheet("<worksheet><sheetData/><cols/></worksheet>", pieces));
    EXPECT_EQ(pieces.startTag, "<sheetData/>");
    EXPECT_EQ(pieces.body, "");
    EXPECT_EQ(pieces.endTag, "");
    EXPECT_EQ(pieces.tail, "<cols/></worksheet>");

    EXPECT_FALSE(SplitWorksheet("<worksheet><sheetDataX/></worksheet>", pieces));
    EXPECT_FALSE(SplitWorksheet("<worksheet><sheetData><row/></worksheet>", pieces)) << "never closed";
}

TEST(ScanSheetData, CollectsFormulasAsAParserReadsThem) {
    const auto s = Scan(
        "<row r=\"2\"><c r=\"B2\"><f>IF(A1&lt;&gt;\"&amp;\",1,2)</f><v>1</v></c>"
        "<c r=\"C2\"><f t=\"shared\" ref=\"C2:C9\" si=\"4\">Data!A1&#43;1</f></c>"
        "<c r=\"D2\"><f t=\"shared\" si=\"4\"/></c><c r=\"E2\"><f><![CDATA[A1&B1]]></f></c>"
        "<c r=\"F2\"><f>\"a\r\nb\"&unknown;</f></c></row>");
    EXPECT_EQ(s.formulas,
              (std::vector<std::string>{"IF(A1<>\"&\",1,2)", "Data!A1+1", "A1&B1", "\"a\nb\"&unknown;"}));
    ASSERT_EQ(s.scan.masters.count("4"), 1u);
    EXPECT_EQ(s.scan.masters.at("4").row, 2);
    EXPECT_EQ(s.scan.masters.at("4").column, 3);
    EXPECT_EQ(s.scan.masters.at("4").formula, "Data!A1+1");
}

TEST(ScanSheetData, RefusesRowsThatAreNotWellFormed) {
    for (const char* body : {"<row><c r=\"A1\"><v>1</v></row>", "<row><c r=A1/></row>",
                             "<row><c r=\"A<1\"/></row>", "<row><!-- open", "<row></c>", "<row>",
                             "<row a=\"1\" b></row>", "<><row/>", "<row r=\"1\"", "<!DOCTYPE x><row/>"}) {
        try {
            Scan(body);
            ADD_FAILURE() << "accepted " << body;
        } catch (const EngineError& e) {
            const std::string what = e.what();
            EXPECT_NE(what.find("\"xl/worksheets/sheet1.xml\" of \"book.xlsx\" is not well-formed"),
                      std::string::npos)
                << what;
        }
    }
}

TEST(RewriteSheetData, MapsStylesStringsAndFormulasAndKeepsEverythingElse) {
    CellRewrite rewrite;
    rewrite.style = [](int xf) { return xf + 10; };
    rewrite.sharedString = [](int index) { return index * 100; };
    rewrite.formula = [](std::string_view f) {
        std::string out(f);
        if (auto at = out.find("Data!"); at != std::string::npos) out.replace(at, 5, "'Q&A'!");
        return out;
    };
    const std::string body =
        "<x:row r='1' s=\"2\" customFormat=\"1\" spans=\"1:3\">"
        "<x:c r=\"A1\" s='3' t=\"s\"><x:v>7</x:v></x:c>"
        "<x:c r=\"B1\"  t=\"n\" ><x:v>7</x:v></x:c>"
        "<x:c r=\"C1\" t=\"str\"><x:f>Data!A1&amp;\"x\"</x:f><x:v>1x</x:v></x:c>"
        "<x:c r=\"D1\" t=\"inlineStr\"><x:is><x:t s=\"1\">kept</x:t></x:is></x:c>"
        "<x:c r=\"E1\"><x:f>SUM(B1:B2)</x:f><x:v/></x:c></x:row>";
    EXPECT_EQ(Rewrite(body, rewrite),
              "<x:row r='1' s=\"12\" customFormat=\"1\" spans=\"1:3\">"
              "<x:c r=\"A1\" s='13' t=\"s\"><x:v>700</x:v></x:c>"
              // a cell without a format has the first one, which maps to 10
              "<x:c s=\"10\" r=\"B1\"  t=\"n\" ><x:v>7</x:v></x:c>"
              "<x:c s=\"10\" r=\"C1\" t=\"str\"><x:f>'Q&amp;A'!A1&amp;\"x\"</x:f><x:v>1x</x:v></x:c>"
              "<x:c s=\"10\" r=\"D1\" t=\"inlineStr\"><x:is><x:t s=\"1\">kept</x:t></x:is></x:c>"
              "<x:c s=\"10\" r=\"E1\"><x:f>SUM(B1:B2)</x:f><x:v/></x:c></x:row>");
    // Nothing asked, nothing changed: the bytes come back as they were.
    EXPECT_EQ(Rewrite(body, CellRewrite{}), body);
}

TEST(RewriteSheetData, WritesOutTheSharedGroupsItIsAskedToCellByCell) {
    CellRewrite rewrite;
    rewrite.formula = [](std::string_view f) {
        std::string out(f);
        if (auto at = out.find("Data!"); at != std::string::npos) out.replace(at, 5, "[1]Data!");
        return out;
    };
    rewrite.unshare = [](std::string_view master) { return master.find("[1]") != std::string_view::npos; };
    const std::string body =
        "<row r=\"2\"><c r=\"B2\"><f t=\"shared\" ref=\"B2:C3\" si=\"0\" "
        "aca=\"1\">Data!A1*$B$1</f><v>1</v></c>"
        "<c r=\"C2\"><f t=\"shared\" si=\"0\"/><v>2</v></c>"
        "<c r=\"D2\"><f t=\"shared\" ref=\"D2:D3\" si=\"1\">A1+1</f><v>3</v></c></row>"
        "<row r=\"3\"><c r=\"B3\"><f t=\"shared\" si=\"0\"/><v>3</v></c>"
        "<c r=\"D3\"><f t=\"shared\" si=\"1\"/><v>4</v></c></row>";
    EXPECT_EQ(Rewrite(body, rewrite),
              "<row r=\"2\"><c r=\"B2\"><f aca=\"1\">[1]Data!A1*$B$1</f><v>1</v></c>"
              "<c r=\"C2\"><f>[1]Data!B1*$B$1</f><v>2</v></c>"
              "<c r=\"D2\"><f t=\"shared\" ref=\"D2:D3\" si=\"1\">A1+1</f><v>3</v></c></row>"
              "<row r=\"3\"><c r=\"B3\"><f>[1]Data!A2*$B$1</f><v>3</v></c>"
              "<c r=\"D3\"><f t=\"shared\" si=\"1\"/><v>4</v></c></row>");
}

// Large rows are scanned and rewritten a piece per core: the same bytes, and the styles and strings mapped in
// the order one pass asks for them, wherever the cuts fall (one inside a comment sends the rows to one scan).
TEST(RewriteSheetData, LargeRowsRewrittenSideBySideComeOutAsInOnePass) {
    const auto rows = LargeRows;
    const std::string plain = rows(1000, 90000);
    const std::string commented = rows(1000, 45000) + "<!-- " + std::string(1 << 20, 'x') + " </row> -->" +
                                  rows(46000, 45000);
    for (const std::string* body : {&plain, &commented}) {
        ASSERT_GT(body->size(), 8u << 20);
        // Each mapping answers with the order it was first asked in, so that any other order shows.
        struct Asked {
            std::vector<int> styles, strings;
            bool operator==(const Asked&) const = default;
        };
        auto run = [&](bool sideBySide, Asked& asked) {
            std::map<int, int> styles, strings;
            CellRewrite rewrite;
            // The first time each value is asked for is what grows a target's table.
            rewrite.style = [&](int xf) {
                const auto [it, first] = styles.emplace(xf, static_cast<int>(styles.size()) + 50);
                if (first) asked.styles.push_back(xf);
                return it->second;
            };
            rewrite.sharedString = [&](int index) {
                const auto [it, first] = strings.emplace(index, static_cast<int>(strings.size()));
                if (first) asked.strings.push_back(index);
                return it->second;
            };
            rewrite.formula = [](std::string_view f) {
                std::string out(f);
                if (auto at = out.find("Data!"); at != std::string::npos) out.replace(at, 5, "[1]Data!");
                return out;
            };
            rewrite.unshare = [](std::string_view master) { return master.find("A2000*") != std::string_view::npos; };
            auto scanned = Scan(*body);
            SheetDataScan scan = scanned.scan;
            if (!sideBySide) {
                // Nothing mapped ahead: every answer is asked for as the one pass meets it.
                scan.styles = scan.sharedStrings = FirstUses{};
                scan.cuts.clear();
            }
            std::vector<std::string> pieces(scan.cuts.size() + 1);
            std::vector<std::function<void(std::string_view)>> outs;
            for (auto& piece : pieces) outs.emplace_back([&piece](std::string_view bytes) { piece += bytes; });
            RewriteSheetDataSideBySide(*body, scan, rewrite, outs);
            std::string joined;
            for (const auto& piece : pieces) joined += piece;
            return std::make_pair(joined, scanned);
        };
        Asked askedOnce, askedSideBySide;
        const auto [once, scanned] = run(false, askedOnce);
        const auto [sideBySide, same] = run(true, askedSideBySide);
        if (body == &plain && std::thread::hardware_concurrency() > 1) {
            EXPECT_FALSE(scanned.scan.cuts.empty());
        }
        if (body == &commented && std::thread::hardware_concurrency() == 2) {
            EXPECT_TRUE(scanned.scan.cuts.empty()) << "the cut inside the comment sends the rows to one scan";
        }
        EXPECT_EQ(scanned.formulas.size(), 90u);
        EXPECT_EQ(scanned.scan.masters.size(), 90u);
        EXPECT_TRUE(sideBySide == once);
        EXPECT_TRUE(askedSideBySide == askedOnce);
        EXPECT_NE(once.find("<f>[1]Data!A2001*2</f>"), std::string::npos) << "an unshared group's cell";
    }
}

// Rows scanned while their part is still being read (a thread copies it in, a megabyte at a time) agree with one
// scan of them whole, and cut them only after a row's end; where that cannot be promised (a row end tag inside
// a comment where a stretch would end, a read that stops early, a damaged row) nothing is returned and the
// usual scan judges the rows.
TEST(ScanArrivingSheetData, AgreesWithOneScanOrLeavesTheRowsToIt) {
    const std::string head = "<?xml version=\"1.0\"?>\n<worksheet xmlns=\"m\"><dimension ref=\"A1\"/><sheetData>";
    const std::string tail = "</sheetData><mergeCells count=\"1\"><mergeCell ref=\"C1:D1\"/></mergeCells></worksheet>";
    const std::string plain = LargeRows(1000, 90000);
    struct Case {
        std::string label;
        std::string rows;
        std::size_t readUpTo;  // where the read stops; npos for the whole part
        bool expectResult;
    };
    std::vector<Case> cases = {
        {"plain", plain, std::string::npos, true},
        // A comment holding a row end tag where the caller's stretches are cut: a stretch would end inside it.
        {"comment", LargeRows(1000, 40000) + "<!-- " + std::string(5u << 20, 'x') + " </row> -->" +
                        LargeRows(41000, 50000),
         std::string::npos, false},
        {"read stops", plain, 5u << 20, false},
        {"damaged row", LargeRows(1000, 60000) + "<row r=\"x\"><c></row>" + LargeRows(61000, 30000),
         std::string::npos, false},
    };
    for (const auto& c : cases) {
        const std::string part = head + c.rows + tail;
        std::string buffer(part.size(), '\0');
        std::mutex mutex;
        std::condition_variable changed;
        std::size_t there = 0;
        bool ended = false;
        std::thread reader([&] {
            const std::size_t stop = std::min(part.size(), c.readUpTo);
            for (std::size_t at = 0; at < stop;) {
                const std::size_t n = std::min<std::size_t>(1u << 20, stop - at);
                std::memcpy(buffer.data() + at, part.data() + at, n);
                at += n;
                std::this_thread::sleep_for(std::chrono::microseconds(200));
                std::lock_guard lock(mutex);
                there = at;
                changed.notify_all();
            }
            std::lock_guard lock(mutex);
            ended = true;
            changed.notify_all();
        });
        const auto arrived = [&](std::size_t n) {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return there >= n || ended; });
            return there;
        };
        const auto early = ScanArrivingSheetData(buffer, arrived);
        reader.join();
        if (std::thread::hardware_concurrency() < 2) {
            EXPECT_FALSE(early) << c.label;
            continue;
        }
        ASSERT_EQ(early.has_value(), c.expectResult) << c.label;
        if (!early) continue;
        const std::string_view body = std::string_view(part).substr(head.size(), c.rows.size());
        EXPECT_EQ(early->bodyBegin, head.size()) << c.label;
        EXPECT_EQ(early->bodyEnd, head.size() + c.rows.size()) << c.label;
        const auto whole = Scan(body);
        EXPECT_EQ(early->formulas, whole.formulas) << c.label;
        EXPECT_EQ(early->scan.styles.order(), whole.scan.styles.order()) << c.label;
        EXPECT_EQ(early->scan.sharedStrings.order(), whole.scan.sharedStrings.order()) << c.label;
        EXPECT_EQ(early->scan.highestSharedString, whole.scan.highestSharedString) << c.label;
        ASSERT_EQ(early->scan.masters.size(), whole.scan.masters.size()) << c.label;
        for (const auto& [si, master] : whole.scan.masters) {
            const auto it = early->scan.masters.find(si);
            ASSERT_NE(it, early->scan.masters.end()) << c.label << ": group " << si;
            EXPECT_EQ(it->second.formula, master.formula) << c.label << ": group " << si;
            EXPECT_EQ(it->second.row, master.row) << c.label << ": group " << si;
        }
        EXPECT_FALSE(early->scan.cuts.empty()) << c.label;
        std::size_t previous = 0;
        for (std::size_t cut : early->scan.cuts) {
            EXPECT_GT(cut, previous) << c.label;
            EXPECT_LT(cut, body.size()) << c.label;
            EXPECT_EQ(body.substr(0, cut).substr(cut - 6), "</row>") << c.label << ": cut at " << cut;
            previous = cut;
        }
    }
}

TEST(ForEachCell, ReportsEachCellWithTheValueItShows) {
    std::vector<std::string> seen;
    ForEachCell(
        "<x:row r=\"1\"><x:c r=\"A1\" t=\"s\"><x:v>3</x:v></x:c><x:c "
        "r=\"$B$1\"><x:f>A1</x:f><x:v>1.5</x:v></x:c>"
        "<x:c r=\"C1\" t=\"inlineStr\"><x:is><x:r><x:t>Ka</x:t></x:r><x:r><x:t xml:space=\"preserve\"> &amp; "
        "ji"
        "</x:t></x:r><x:rPh sb=\"0\" eb=\"1\"><x:t>kana</x:t></x:rPh></x:is></x:c><x:c r=\"D1\" s=\"2\"/>"
        "<x:c r=\"E1\" t=\"e\"><x:v/></x:c></x:row>",
        [&](const CellValue& c) {
            seen.push_back(std::to_string(c.row) + "," + std::to_string(c.column) + " " +
                           std::string(c.type) + " " + (c.hasValue ? "v" : "-") + " " + c.value);
        },
        "xl/worksheets/sheet2.xml", "book.xlsx");
    EXPECT_EQ(seen, (std::vector<std::string>{"1,1 s v 3", "1,2  v 1.5", "1,3 inlineStr - Ka & ji", "1,4  - ",
                                              "1,5 e v "}));
    EXPECT_THROW(ForEachCell(
                     "<row><c><v>1</c></row>", [](const CellValue&) {}, "p", "f"),
                 EngineError);
    // A reference far off the sheet (found by fuzzing: its column overflowed) reads as beyond the sheet.
    int cells = 0;
    ForEachCell(
        "<row><c r=\"" + std::string(120, 'g') + "B15\"><v>1</v></c></row>",
        [&](const CellValue& c) {
            ++cells;
            EXPECT_GT(c.column, 16384);
            EXPECT_EQ(c.row, 15);
        },
        "p", "f");
    EXPECT_EQ(cells, 1);
}

// A sheet of several megabytes read in pieces reports the cells the whole text does, whatever stands where a
// piece is cut: a prefix, and a row end tag inside a comment or a CDATA section.
TEST(ForEachCellOfPart, ReadsALargeSheetInPiecesAsTheWholeTextDoes) {
    struct Case {
        const char* name;
        std::string prefix;
        std::string oddity;  // put in the middle row
    };
    const std::vector<Case> cases = {
        {"plain", "", ""},
        {"prefixed", "x:", ""},
        // Longer than a piece: the piece ends inside them, after the end tag they hold.
        {"end tag in a comment", "", "<!-- </row> " + std::string(3u << 20, '.') + " -->"},
        {"end tag in CDATA", "", "<c r=\"Z@\" t=\"str\"><v><![CDATA[</row>" + std::string(3u << 20, 'x') + "]]></v></c>"},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string& p = c.prefix;
        std::string sheet = "<?xml version=\"1.0\"?><" + p + "worksheet xmlns" + (p.empty() ? "" : ":x") +
                            "=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><" + p + "sheetData>";
        for (int row = 1; row <= 60000; ++row) {
            const std::string r = std::to_string(row);
            sheet += "<" + p + "row r=\"" + r + "\"><" + p + "c r=\"A" + r + "\"><" + p + "v>" + r + "</" + p +
                     "v></" + p + "c><" + p + "c r=\"B" + r + "\" t=\"inlineStr\"><" + p + "is><" + p + "t>row " +
                     r + "</" + p + "t></" + p + "is></" + p + "c>";
            if (row == 30000) {
                std::string oddity = c.oddity;
                if (const auto at = oddity.find('@'); at != std::string::npos) oddity.replace(at, 1, r);
                sheet += oddity;
            }
            sheet += "</" + p + "row>";
        }
        sheet += "</" + p + "sheetData></" + p + "worksheet>";
        ASSERT_GT(sheet.size(), 3u << 20);
        const std::string path = dir.File(std::string(c.name) + ".xlsx");
        WritePackage(path, {{"xl/worksheets/sheet1.xml", sheet}});
        auto describe = [](std::vector<std::string>& into) {
            return [&into](const CellValue& v) {
                into.push_back(std::to_string(v.row) + "," + std::to_string(v.column) + " " + v.value);
            };
        };
        std::vector<std::string> inPieces, whole;
        auto package = Package::Open(path);
        ForEachCellOfPart(*package, "xl/worksheets/sheet1.xml", describe(inPieces));
        WorksheetPieces pieces;
        ASSERT_TRUE(SplitWorksheet(sheet, pieces));
        ForEachCell(pieces.body, describe(whole), "xl/worksheets/sheet1.xml", "book.xlsx");
        EXPECT_EQ(inPieces.size(), whole.size());
        EXPECT_TRUE(inPieces == whole);
    }
}

TEST(DeflateStream, PiecesDeflateToThePartTheyMakeUp) {
    std::string part;
    for (int i = 0; i < 200000; ++i)
        part += "<c r=\"A" + std::to_string(i) + "\"><v>" + std::to_string(i * 7) + "</v></c>";
    DeflateStream stream;
    for (std::size_t at = 0; at < part.size(); at += 777) stream.Add(std::string_view(part).substr(at, 777));
    const DeflatedPart deflated = stream.Finish();
    EXPECT_EQ(deflated.size, part.size());
    EXPECT_LT(deflated.data.size(), part.size() / 3);
    EXPECT_EQ(Inflate(deflated), part);
    EXPECT_EQ(Inflate(Deflate(part)), part);
    // Kept in a spool file as it comes, the same stream.
    TempDir dir;
    DeflateStream spooled(dir.path().string());
    spooled.Add(part);
    const DeflatedPart onDisk = spooled.Finish();
    ASSERT_TRUE(onDisk.spool);
    EXPECT_TRUE(onDisk.data.empty());
    EXPECT_EQ(onDisk.CompressedSize(), deflated.data.size());
    EXPECT_EQ(Inflate(onDisk), part);
#ifndef _WIN32
    // (A Windows file always has a name: the spool's goes with its handle, as WindowsFilesTest checks.)
    EXPECT_TRUE(std::filesystem::is_empty(dir.path())) << "the spool file should have no name";
#endif
    // Deflated in two streams, in memory and spooled, joined: one stream of the whole.
    const std::string_view half = std::string_view(part).substr(0, part.size() / 2);
    for (bool spool : {false, true}) {
        auto first = spool ? std::make_unique<DeflateStream>(dir.path().string()) : std::make_unique<DeflateStream>();
        auto second = std::make_unique<DeflateStream>();
        first->Add(half);
        second->Add(std::string_view(part).substr(half.size()));
        std::vector<DeflatedPart> pieces;
        pieces.push_back(first->Finish(false));
        pieces.push_back(second->Finish());
        const DeflatedPart joined = JoinDeflated(std::move(pieces), dir.path().string());
        EXPECT_EQ(joined.spool != nullptr, spool);
        EXPECT_EQ(Inflate(joined), part);
    }
}

}  // namespace
}  // namespace orv::engine::test
