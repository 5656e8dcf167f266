// The benchmark workbook generator: package parts built as plain strings and stored with libzip.
#include "WorkbookGenerator.h"

#include <filesystem>
#include <random>

#include <zip.h>
#include <zlib.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/package/ContentTypes.h"
#include "engine/package/Package.h"
#include "engine/package/Relationships.h"
#include "engine/package/Xml.h"
#include "engine/vba/Project.h"

namespace orv::bench {

namespace {

constexpr const char* kDecl = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
constexpr const char* kMain = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
constexpr const char* kRel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
constexpr const char* kPkgRel = "http://schemas.openxmlformats.org/package/2006/relationships";

// A small fast generator: the workbooks only need to look like data, the same for a seed.
class Random {
  public:
    explicit Random(std::uint32_t seed) : m_state(seed * 2654435761u + 1) {}
    std::uint32_t Next() {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 17;
        m_state ^= m_state << 5;
        return m_state;
    }
    // A value with two decimals below `limit`.
    double Amount(std::uint32_t limit) { return static_cast<double>(Next() % (limit * 100)) / 100.0; }

  private:
    std::uint32_t m_state;
};

void Append(std::string& out, double value) {
    char buffer[32];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

void Append(std::string& out, long value) {
    char buffer[24];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

std::string Column(int index) {
    std::string name;
    for (int i = index + 1; i > 0; i = (i - 1) / 26)
        name.insert(name.begin(), static_cast<char>('A' + (i - 1) % 26));
    return name;
}

// Appends <c r="XY" s=".."> with an optional type, leaving the element open for its content.
void OpenCell(std::string& out, int column, long row, int style, const char* type = nullptr) {
    out += "<c r=\"";
    out += Column(column);
    Append(out, row);
    out += '"';
    if (style) {
        out += " s=\"";
        Append(out, static_cast<long>(style));
        out += '"';
    }
    if (type) {
        out += " t=\"";
        out += type;
        out += '"';
    }
    out += '>';
}

void NumberCell(std::string& out, int column, long row, int style, double value) {
    OpenCell(out, column, row, style);
    out += "<v>";
    Append(out, value);
    out += "</v></c>";
}

void FormulaCell(std::string& out, int column, long row, const std::string& formula, double cached) {
    OpenCell(out, column, row, 1);
    out += "<f>";
    out += formula;
    out += "</f><v>";
    Append(out, cached);
    out += "</v></c>";
}

std::string SheetStart() {
    return std::string(kDecl) + "<worksheet xmlns=\"" + kMain + "\" xmlns:r=\"" + kRel + "\"><sheetData>";
}

// References to another sheet, quoted when the name needs it.
std::string Ref(const std::string& sheet) {
    const bool quote = sheet.find(' ') != std::string::npos;
    return quote ? "'" + sheet + "'!" : sheet + "!";
}

std::string DataSheet(const WorkbookShape& shape, Random& random) {
    std::string out = SheetStart();
    out.reserve(static_cast<std::size_t>(shape.dataRows) * 260);
    for (long row = 1; row <= shape.dataRows; ++row) {
        out += "<row r=\"";
        Append(out, row);
        out += "\">";
        OpenCell(out, 0, row, 0, "s");
        out += "<v>";
        Append(out, static_cast<long>(random.Next() % static_cast<std::uint32_t>(shape.sharedStrings)));
        out += "</v></c>";
        double b = 0, c = 0;
        for (int col = 1; col <= 6; ++col) {
            const double value = random.Amount(col == 1 ? 100000 : 1000);
            if (col == 1) b = value;
            if (col == 2) c = value;
            const int style = shape.cellFormats > 0
                                  ? 4 + static_cast<int>((row * 6 + col - 1) % shape.cellFormats)
                                  : 1 + col % 3;
            NumberCell(out, col, row, style, value);
        }
        FormulaCell(out, 7, row, "B" + std::to_string(row) + "*C" + std::to_string(row),
                    std::round(b * c * 100) / 100);
        out += "</row>";
    }
    out += "</sheetData></worksheet>";
    return out;
}

std::string CalcSheet(const WorkbookShape& shape, int number, Random& random) {
    const std::string previous = number > 1 ? Ref("Calc " + std::to_string(number - 1)) : Ref("Data");
    std::string out = SheetStart();
    for (long row = 1; row <= shape.calcRows; ++row) {
        const std::string r = std::to_string(row);
        out += "<row r=\"" + r + "\">";
        FormulaCell(out, 0, row, "Data!B" + r + "*2", random.Amount(200000));
        FormulaCell(out, 1, row, previous + "A" + r + "+Data!C" + r, random.Amount(200000));
        FormulaCell(out, 2, row, "SUM(Data!D" + r + ":G" + r + ")", random.Amount(4000));
        NumberCell(out, 3, row, 2, random.Amount(1000));
        out += "</row>";
    }
    out += "</sheetData></worksheet>";
    return out;
}

std::string NotesSheet(const WorkbookShape& shape, Random& random) {
    std::string out = SheetStart();
    for (long row = 1; row <= shape.notesRows; ++row) {
        out += "<row r=\"";
        Append(out, row);
        out += "\">";
        OpenCell(out, 0, row, 0, "s");
        out += "<v>";
        Append(out, static_cast<long>(random.Next() % static_cast<std::uint32_t>(shape.sharedStrings)));
        out += "</v></c>";
        for (int col = 1; col <= 3; ++col) NumberCell(out, col, row, 3, random.Amount(500));
        FormulaCell(out, 4, row, "SUM(B" + std::to_string(row) + ":D" + std::to_string(row) + ")",
                    random.Amount(1500));
        out += "</row>";
    }
    out += "</sheetData></worksheet>";
    return out;
}

std::string SmallSheet(int number, Random& random) {
    std::string out = SheetStart();
    for (long row = 1; row <= 5; ++row) {
        out += "<row r=\"" + std::to_string(row) + "\">";
        FormulaCell(out, 0, row, "Data!B" + std::to_string(number * 5 + row), random.Amount(100000));
        NumberCell(out, 1, row, 1, random.Amount(100));
        out += "</row>";
    }
    out += "</sheetData></worksheet>";
    return out;
}

std::string SummarySheet(const WorkbookShape& shape) {
    std::string out = SheetStart();
    out += "<row r=\"1\">";
    FormulaCell(out, 0, 1, "SUM(Data!B1:B" + std::to_string(shape.dataRows) + ")", 0);
    if (shape.calcSheets > 0) FormulaCell(out, 1, 1, "'Calc 1'!A1", 0);
    out += "</row></sheetData><drawing r:id=\"rId1\"/></worksheet>";
    return out;
}

std::string SharedStrings(const WorkbookShape& shape) {
    static const char* const regions[] = {"North", "South", "East", "West", "Central"};
    std::string out = std::string(kDecl) + "<sst xmlns=\"" + kMain + "\" count=\"" +
                      std::to_string(shape.sharedStrings) + "\" uniqueCount=\"" +
                      std::to_string(shape.sharedStrings) + "\">";
    for (int i = 0; i < shape.sharedStrings; ++i) {
        out += "<si><t>Item " + std::to_string(100000 + i) + " region " + regions[i % 5] + "</t></si>";
    }
    return out + "</sst>";
}

std::string Styles(const WorkbookShape& shape) {
    std::string fonts = "<font><sz val=\"11\"/><name val=\"Calibri\"/></font>"
                        "<font><b/><sz val=\"11\"/><name val=\"Calibri\"/></font>";
    std::string xfs = "<xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\"/>"
                      "<xf numFmtId=\"164\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\" "
                      "applyNumberFormat=\"1\"/>"
                      "<xf numFmtId=\"4\" fontId=\"1\" fillId=\"0\" borderId=\"0\" xfId=\"0\" applyFont=\"1\"/>"
                      "<xf numFmtId=\"2\" fontId=\"0\" fillId=\"2\" borderId=\"0\" xfId=\"0\" "
                      "applyFill=\"1\"/>";
    // Colours from the seed: another workbook's formats are formats of its own.
    for (int i = 0; i < shape.cellFormats; ++i) {
        char color[16];
        std::snprintf(color, sizeof color, "FF%06X",
                      static_cast<unsigned>((static_cast<std::uint32_t>(i) * 2654435761u + shape.seed * 40503u) &
                                            0xFFFFFFu));
        fonts += "<font><sz val=\"" + std::to_string(9 + i % 9) + "\"/><color rgb=\"" + color +
                 "\"/><name val=\"Calibri\"/></font>";
        xfs += "<xf numFmtId=\"" + std::to_string(1 + i % 4) + "\" fontId=\"" + std::to_string(2 + i) +
               "\" fillId=\"0\" borderId=\"0\" xfId=\"0\" applyFont=\"1\" applyNumberFormat=\"1\"/>";
    }
    return std::string(kDecl) + "<styleSheet xmlns=\"" + kMain +
           "\"><numFmts count=\"1\"><numFmt numFmtId=\"164\" "
           "formatCode=\"#,##0.00;[Red]-#,##0.00\"/></numFmts>"
           "<fonts count=\"" + std::to_string(2 + shape.cellFormats) + "\">" + fonts + "</fonts>"
           "<fills count=\"3\"><fill><patternFill patternType=\"none\"/></fill>"
           "<fill><patternFill patternType=\"gray125\"/></fill>"
           "<fill><patternFill patternType=\"solid\"><fgColor rgb=\"FFFFFF99\"/></patternFill></fill></fills>"
           "<borders count=\"1\"><border><left/><right/><top/><bottom/><diagonal/></border></borders>"
           "<cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" "
           "borderId=\"0\"/></cellStyleXfs>"
           "<cellXfs count=\"" + std::to_string(4 + shape.cellFormats) + "\">" + xfs + "</cellXfs>"
           "<cellStyles count=\"1\"><cellStyle name=\"Normal\" xfId=\"0\" builtinId=\"0\"/></cellStyles>"
           "</styleSheet>";
}

void PngChunk(std::string& out, const char* type, const std::string& data) {
    const auto length = static_cast<std::uint32_t>(data.size());
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((length >> shift) & 0xFF);
    std::string body = std::string(type, 4) + data;
    out += body;
    const auto crc = static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size())));
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((crc >> shift) & 0xFF);
}

// A valid RGB PNG of noise, about `kilobytes` KB (noise does not compress).
std::string Png(int kilobytes, Random& random) {
    const std::uint32_t width = 256;
    const std::uint32_t height =
        std::max<std::uint32_t>(1, static_cast<std::uint32_t>(kilobytes) * 1024 / (width * 3));
    std::string raw;
    for (std::uint32_t y = 0; y < height; ++y) {
        raw += '\0';  // filter: none
        for (std::uint32_t x = 0; x < width * 3; ++x) raw += static_cast<char>(random.Next() & 0xFF);
    }
    uLongf size = compressBound(static_cast<uLong>(raw.size()));
    std::string packed(size, '\0');
    compress(reinterpret_cast<Bytef*>(packed.data()), &size, reinterpret_cast<const Bytef*>(raw.data()),
             static_cast<uLong>(raw.size()));
    packed.resize(size);
    std::string header;
    for (std::uint32_t v : {width, height}) {
        for (int shift = 24; shift >= 0; shift -= 8) header += static_cast<char>((v >> shift) & 0xFF);
    }
    header += std::string("\x08\x02\x00\x00\x00", 5);  // 8 bits, RGB, deflate, no filter method, no interlace
    std::string png = "\x89PNG\r\n\x1a\n";
    PngChunk(png, "IHDR", header);
    PngChunk(png, "IDAT", packed);
    PngChunk(png, "IEND", "");
    return png;
}

std::string Drawing() {
    return std::string(kDecl) +
           "<xdr:wsDr xmlns:xdr=\"http://schemas.openxmlformats.org/drawingml/2006/spreadsheetDrawing\" "
           "xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\">"
           "<xdr:twoCellAnchor editAs=\"oneCell\"><xdr:from><xdr:col>3</xdr:col><xdr:colOff>0</xdr:colOff>"
           "<xdr:row>2</xdr:row><xdr:rowOff>0</xdr:rowOff></xdr:from><xdr:to><xdr:col>8</xdr:col>"
           "<xdr:colOff>0</xdr:colOff><xdr:row>20</xdr:row><xdr:rowOff>0</xdr:rowOff></xdr:to>"
           "<xdr:pic><xdr:nvPicPr><xdr:cNvPr id=\"2\" name=\"Picture 1\"/><xdr:cNvPicPr/></xdr:nvPicPr>"
           "<xdr:blipFill><a:blip xmlns:r=\"" +
           kRel +
           "\" r:embed=\"rId1\"/><a:stretch><a:fillRect/></a:stretch></xdr:blipFill>"
           "<xdr:spPr><a:xfrm><a:off x=\"0\" y=\"0\"/><a:ext cx=\"3048000\" cy=\"3429000\"/></a:xfrm>"
           "<a:prstGeom prst=\"rect\"><a:avLst/></a:prstGeom></xdr:spPr></xdr:pic><xdr:clientData/>"
           "</xdr:twoCellAnchor></xdr:wsDr>";
}

std::string Relationships(const std::vector<std::pair<std::string, std::string>>& typeAndTarget) {
    std::string out = std::string(kDecl) + "<Relationships xmlns=\"" + kPkgRel + "\">";
    int id = 1;
    for (const auto& [type, target] : typeAndTarget) {
        out += "<Relationship Id=\"rId" + std::to_string(id++) + "\" Type=\"" + kRel + "/" + type +
               "\" Target=\"" + target + "\"/>";
    }
    return out + "</Relationships>";
}

class Archive {
  public:
    explicit Archive(const std::string& path) {
        int error = 0;
        m_zip = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
        if (!m_zip) throw std::runtime_error("Cannot create the benchmark workbook " + path);
    }
    ~Archive() {
        if (m_zip) zip_discard(m_zip);
    }
    // Keeps `bytes` alive until Close and stores it deflated at the usual level, or raw for a picture.
    void Add(const std::string& name, std::string bytes, bool store = false) {
        m_keep.push_back(std::make_unique<std::string>(std::move(bytes)));
        zip_source_t* source = zip_source_buffer(m_zip, m_keep.back()->data(), m_keep.back()->size(), 0);
        const zip_int64_t index = source ? zip_file_add(m_zip, name.c_str(), source, ZIP_FL_ENC_UTF_8) : -1;
        if (index < 0) {
            if (source) zip_source_free(source);
            throw std::runtime_error("Cannot add " + name + ": " + zip_strerror(m_zip));
        }
        zip_set_file_compression(m_zip, static_cast<zip_uint64_t>(index),
                                 store ? ZIP_CM_STORE : ZIP_CM_DEFLATE, store ? 0 : 6);
    }
    void Close() {
        if (zip_close(m_zip) != 0)
            throw std::runtime_error(std::string("Cannot write: ") + zip_strerror(m_zip));
        m_zip = nullptr;
        m_keep.clear();
    }

  private:
    zip_t* m_zip = nullptr;
    std::vector<std::unique_ptr<std::string>> m_keep;
};

}  // namespace

WorkbookShape ShapeForMegabytes(int megabytes) {
    WorkbookShape shape;
    // Calibrated so that the packages come out at about 1, 10 and 100 MB.
    const double scale = megabytes / 10.0 * (megabytes >= 100 ? 0.47 : megabytes >= 10 ? 0.68 : 1.0);
    shape.dataRows = static_cast<int>(66000 * scale);
    shape.calcSheets = megabytes >= 100 ? 10 : megabytes >= 10 ? 6 : 3;
    shape.calcRows = static_cast<int>(33000 * scale);
    shape.notesRows = static_cast<int>(11000 * scale);
    shape.smallSheets = megabytes >= 100 ? 200 : megabytes >= 10 ? 80 : 30;
    shape.sharedStrings = static_cast<int>(std::max(200.0, 11000 * scale));
    shape.imageKilobytes = megabytes >= 100 ? 1024 : megabytes >= 10 ? 256 : 64;
    shape.seed = static_cast<std::uint32_t>(megabytes);
    return shape;
}

WorkbookShape WideShape() {
    WorkbookShape shape;
    shape.dataRows = 4000;
    shape.calcSheets = 2;
    shape.calcRows = 500;
    shape.notesRows = 200;
    shape.smallSheets = 2000;
    shape.sharedStrings = 500;
    shape.imageKilobytes = 64;
    shape.cellFormats = 4000;
    shape.seed = 3;
    return shape;
}

void GenerateWorkbook(const std::string& path, const WorkbookShape& shape) {
    Random random(shape.seed);
    std::vector<std::string> names = {"Summary", "Data"};
    for (int i = 1; i <= shape.calcSheets; ++i) names.push_back("Calc " + std::to_string(i));
    names.push_back("Notes");
    for (int i = 1; i <= shape.smallSheets; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "S%03d", i);
        names.push_back(name);
    }

    Archive zip(path);
    std::string types =
        std::string(kDecl) +
        "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
        "<Default Extension=\"rels\" "
        "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
        "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
        "<Default Extension=\"png\" ContentType=\"image/png\"/>"
        "<Override PartName=\"/xl/workbook.xml\" ContentType=\"application/vnd.openxmlformats-"
        "officedocument.spreadsheetml.sheet.main+xml\"/>"
        "<Override PartName=\"/xl/styles.xml\" ContentType=\"application/vnd.openxmlformats-"
        "officedocument.spreadsheetml.styles+xml\"/>"
        "<Override PartName=\"/xl/sharedStrings.xml\" ContentType=\"application/vnd.openxmlformats-"
        "officedocument.spreadsheetml.sharedStrings+xml\"/>"
        "<Override PartName=\"/xl/drawings/drawing1.xml\" ContentType=\"application/vnd."
        "openxmlformats-officedocument.drawing+xml\"/>"
        "<Override PartName=\"/docProps/app.xml\" ContentType=\"application/vnd.openxmlformats-"
        "officedocument.extended-properties+xml\"/>"
        "";
    for (std::size_t i = 0; i < names.size(); ++i) {
        types +=
            "<Override PartName=\"/xl/worksheets/sheet" + std::to_string(i + 1) +
            ".xml\" "
            "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>";
    }
    zip.Add("[Content_Types].xml", types + "</Types>");
    zip.Add("_rels/.rels", Relationships({{"officeDocument", "xl/workbook.xml"},
                                          {"extended-properties", "docProps/app.xml"}}));

    std::string app =
        std::string(kDecl) +
        "<Properties xmlns=\"http://schemas.openxmlformats.org/officeDocument/2006/extended-properties\" "
        "xmlns:vt=\"http://schemas.openxmlformats.org/officeDocument/2006/docPropsVTypes\">"
        "<Application>Benchmark generator</Application><HeadingPairs><vt:vector size=\"2\" "
        "baseType=\"variant\"><vt:variant><vt:lpstr>Worksheets</vt:lpstr></vt:variant><vt:variant>"
        "<vt:i4>" +
        std::to_string(names.size()) +
        "</vt:i4></vt:variant></vt:vector></HeadingPairs><TitlesOfParts>"
        "<vt:vector size=\"" +
        std::to_string(names.size()) + "\" baseType=\"lpstr\">";
    for (const auto& name : names) app += "<vt:lpstr>" + name + "</vt:lpstr>";
    zip.Add("docProps/app.xml", app + "</vt:vector></TitlesOfParts></Properties>");

    std::string workbook = std::string(kDecl) + "<workbook xmlns=\"" + kMain + "\" xmlns:r=\"" + kRel +
                           "\"><bookViews><workbookView activeTab=\"0\"/></bookViews><sheets>";
    std::vector<std::pair<std::string, std::string>> workbookRels;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string n = std::to_string(i + 1);
        workbook += "<sheet name=\"" + names[i] + "\" sheetId=\"" + n + "\" r:id=\"rId" + n + "\"/>";
        workbookRels.emplace_back("worksheet", "worksheets/sheet" + n + ".xml");
    }
    workbook += "</sheets><definedNames><definedName name=\"Amounts\">Data!$B$1:$B$" +
                std::to_string(shape.dataRows) +
                "</definedName><definedName name=\"FirstCalc\">'Calc 1'!$A$1</definedName></definedNames>"
                "<calcPr calcId=\"191029\"/></workbook>";
    workbookRels.emplace_back("styles", "styles.xml");
    workbookRels.emplace_back("sharedStrings", "sharedStrings.xml");
    zip.Add("xl/workbook.xml", workbook);
    zip.Add("xl/_rels/workbook.xml.rels", Relationships(workbookRels));
    zip.Add("xl/styles.xml", Styles(shape));
    zip.Add("xl/sharedStrings.xml", SharedStrings(shape));

    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string part = "xl/worksheets/sheet" + std::to_string(i + 1) + ".xml";
        const std::string& name = names[i];
        if (name == "Summary") {
            zip.Add(part, SummarySheet(shape));
            zip.Add("xl/worksheets/_rels/sheet1.xml.rels",
                    Relationships({{"drawing", "../drawings/drawing1.xml"}}));
        } else if (name == "Data") {
            zip.Add(part, DataSheet(shape, random));
        } else if (name.rfind("Calc ", 0) == 0) {
            zip.Add(part, CalcSheet(shape, std::stoi(name.substr(5)), random));
        } else if (name == "Notes") {
            zip.Add(part, NotesSheet(shape, random));
        } else {
            zip.Add(part, SmallSheet(std::stoi(name.substr(1)), random));
        }
    }
    zip.Add("xl/drawings/drawing1.xml", Drawing());
    zip.Add("xl/drawings/_rels/drawing1.xml.rels", Relationships({{"image", "../media/image1.png"}}));
    zip.Add("xl/media/image1.png", Png(shape.imageKilobytes, random), true);
    zip.Close();
}

namespace {

// Code that compresses as written code does: statements alike in form, numbers and names that differ.
std::string GeneratedCode(std::size_t bytes, unsigned seed) {
    std::mt19937 random(seed);
    std::string code = "Option Explicit\r\n";
    for (int procedure = 1; code.size() < bytes; ++procedure) {
        code += "Public Sub Step" + std::to_string(procedure) + "(ByVal target As Range)\r\n";
        for (int line = 0; line < 20; ++line) {
            code += "    target.Offset(" + std::to_string(random() % 500) + ", " + std::to_string(random() % 40) +
                    ").Value = target.Value * " + std::to_string(random() % 10000) + " / 7 ' step " +
                    std::to_string(random()) + "\r\n";
        }
        code += "End Sub\r\n";
    }
    return code;
}

}  // namespace

void MakeMacroEnabled(const std::string& from, const std::string& to, int codeKilobytes,
                      const std::string& dataCodeName) {
    namespace fs = std::filesystem;
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
    auto package = engine::Package::Open(to);
    const std::string workbook = "xl/workbook.xml";
    const std::string dataPart = "xl/worksheets/sheet2.xml";
    engine::ContentTypes types(*package);
    types.SetOverride(workbook, "application/vnd.ms-excel.sheet.macroEnabled.main+xml");
    auto book = engine::Root(package->Xml(workbook));
    auto properties = engine::Child(book, "workbookPr");
    if (!properties) properties = book.prepend_child("workbookPr");
    properties.append_attribute("codeName") = "ThisWorkbook";
    package->MarkChanged(workbook);
    auto sheet = engine::Root(package->Xml(dataPart));
    auto sheetProperties = engine::Child(sheet, "sheetPr");
    if (!sheetProperties) sheetProperties = sheet.prepend_child("sheetPr");
    sheetProperties.append_attribute("codeName") = dataCodeName.c_str();
    package->MarkChanged(dataPart);

    const std::size_t total = static_cast<std::size_t>(codeKilobytes) * 1024;
    auto project = engine::vba::Project::New(1252, "ThisWorkbook");
    project.AddDocumentModule(dataCodeName, GeneratedCode(total / 10, 1));
    for (int n = 1; n * total / 10 < total; ++n)
        project.AddDocumentModule("Code" + std::to_string(n), GeneratedCode(total / 10, 100 + n));
    package->Write("xl/vbaProject.bin", project.Write());
    engine::Relationships(*package, workbook)
        .Add("http://schemas.microsoft.com/office/2006/relationships/vbaProject", "xl/vbaProject.bin");
    types.SetOverride("xl/vbaProject.bin", "application/vnd.ms-office.vbaProject");
    package->Save(to);
}

}  // namespace orv::bench
