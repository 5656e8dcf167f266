// The generated workbook of the tests: sheets Data, Other and Last, with references to Other everywhere.
#include "TestSupport.h"

namespace orv::engine::test {

namespace {

const std::string kDecl = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n";
const std::string kMain = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
const std::string kRel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
const std::string kPkgRel = "http://schemas.openxmlformats.org/package/2006/relationships";
const std::string kX14 = "http://schemas.microsoft.com/office/spreadsheetml/2009/9/main";
const std::string kXm = "http://schemas.microsoft.com/office/excel/2006/main";
const std::string kXdr = "http://schemas.openxmlformats.org/drawingml/2006/spreadsheetDrawing";
const std::string kA = "http://schemas.openxmlformats.org/drawingml/2006/main";
const std::string kC = "http://schemas.openxmlformats.org/drawingml/2006/chart";

std::string Rels(const std::vector<std::pair<std::string, std::string>>& rels) {
    std::string out = kDecl + "<Relationships xmlns=\"" + kPkgRel + "\">";
    int n = 1;
    for (const auto& [type, target] : rels) {
        out += "<Relationship Id=\"rId" + std::to_string(n++) + "\" Type=\"" + type + "\" Target=\"" +
               target + "\"/>";
    }
    return out + "</Relationships>";
}

std::string T(const std::string& kind) { return kRel + "/" + kind; }

std::string Anchor(int col, const std::string& body) {
    const auto c = std::to_string(col);
    const auto c2 = std::to_string(col + 3);
    return "<xdr:twoCellAnchor><xdr:from><xdr:col>" + c +
           "</xdr:col><xdr:colOff>0</xdr:colOff><xdr:row>4</xdr:row>"
           "<xdr:rowOff>0</xdr:rowOff></xdr:from><xdr:to><xdr:col>" +
           c2 +
           "</xdr:col><xdr:colOff>0</xdr:colOff>"
           "<xdr:row>12</xdr:row><xdr:rowOff>0</xdr:rowOff></xdr:to>" +
           body + "<xdr:clientData/></xdr:twoCellAnchor>";
}

std::string Picture(int id, const std::string& rid) {
    return "<xdr:pic><xdr:nvPicPr><xdr:cNvPr id=\"" + std::to_string(id) + "\" name=\"Picture " +
           std::to_string(id) + "\"/><xdr:cNvPicPr/></xdr:nvPicPr><xdr:blipFill><a:blip r:embed=\"" + rid +
           "\"/><a:stretch><a:fillRect/></a:stretch></xdr:blipFill><xdr:spPr><a:xfrm><a:off x=\"0\" y=\"0\"/>"
           "<a:ext cx=\"952500\" cy=\"952500\"/></a:xfrm><a:prstGeom "
           "prst=\"rect\"><a:avLst/></a:prstGeom></xdr:spPr></xdr:pic>";
}

std::string Drawing(const std::string& anchors) {
    return kDecl + "<xdr:wsDr xmlns:xdr=\"" + kXdr + "\" xmlns:a=\"" + kA + "\" xmlns:r=\"" + kRel +
           "\" xmlns:c=\"" + kC + "\">" + anchors + "</xdr:wsDr>";
}

const char kPngBytes[] =
    "\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\0\x01\0\0\0\x01\x08\x06\0\0\0\x1f\x15\xc4\x89\0\0\0\rIDATx\x9c"
    "c\xf8\xcf\xc0\xf0\x1f\0\x05\0\x01\xff\x89\x99=\x1d\0\0\0\0IEND\xae"
    "B`\x82";
const std::string kPng(kPngBytes, sizeof kPngBytes - 1);

}  // namespace

Parts RichWorkbookParts() {
    Parts parts;
    parts.emplace_back(
        "[Content_Types].xml",
        kDecl +
            "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
            "<Default Extension=\"rels\" "
            "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
            "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
            "<Default Extension=\"png\" ContentType=\"image/png\"/>"
            "<Default Extension=\"bin\" "
            "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.printerSettings\"/>"
            "<Default Extension=\"vml\" "
            "ContentType=\"application/vnd.openxmlformats-officedocument.vmlDrawing\"/>"
            "<Override PartName=\"/xl/workbook.xml\" "
            "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>"
            "<Override PartName=\"/xl/worksheets/sheet1.xml\" "
            "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>"
            "<Override PartName=\"/xl/worksheets/sheet2.xml\" "
            "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>"
            "<Override PartName=\"/xl/worksheets/sheet3.xml\" "
            "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>"
            "<Override PartName=\"/xl/styles.xml\" "
            "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml\"/>"
            "<Override PartName=\"/xl/calcChain.xml\" "
            "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.calcChain+xml\"/>"
            "<Override PartName=\"/xl/drawings/drawing1.xml\" "
            "ContentType=\"application/vnd.openxmlformats-officedocument.drawing+xml\"/>"
            "<Override PartName=\"/xl/drawings/drawing2.xml\" "
            "ContentType=\"application/vnd.openxmlformats-officedocument.drawing+xml\"/>"
            "<Override PartName=\"/xl/charts/chart1.xml\" "
            "ContentType=\"application/vnd.openxmlformats-officedocument.drawingml.chart+xml\"/>"
            "<Override PartName=\"/xl/tables/table1.xml\" "
            "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.table+xml\"/>"
            "<Override PartName=\"/xl/comments1.xml\" "
            "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.comments+xml\"/>"
            "<Override PartName=\"/xl/pivotCache/pivotCacheDefinition1.xml\" "
            "ContentType=\"application/"
            "vnd.openxmlformats-officedocument.spreadsheetml.pivotCacheDefinition+xml\"/>"
            "<Override PartName=\"/docProps/app.xml\" "
            "ContentType=\"application/vnd.openxmlformats-officedocument.extended-properties+xml\"/>"
            "</Types>");
    parts.emplace_back("_rels/.rels", Rels({{T("officeDocument"), "xl/workbook.xml"},
                                            {T("extended-properties"), "docProps/app.xml"}}));
    parts.emplace_back(
        "docProps/app.xml",
        kDecl +
            "<Properties xmlns=\"http://schemas.openxmlformats.org/officeDocument/2006/extended-properties\" "
            "xmlns:vt=\"http://schemas.openxmlformats.org/officeDocument/2006/"
            "docPropsVTypes\"><Application>Microsoft Excel</Application>"
            "<HeadingPairs><vt:vector size=\"4\" "
            "baseType=\"variant\"><vt:variant><vt:lpstr>Worksheets</vt:lpstr></vt:variant>"
            "<vt:variant><vt:i4>3</vt:i4></vt:variant><vt:variant><vt:lpstr>Named "
            "Ranges</vt:lpstr></vt:variant>"
            "<vt:variant><vt:i4>3</vt:i4></vt:variant></vt:vector></HeadingPairs><TitlesOfParts><vt:vector "
            "size=\"6\" "
            "baseType=\"lpstr\"><vt:lpstr>Data</vt:lpstr><vt:lpstr>Other</vt:lpstr><vt:lpstr>Last</vt:lpstr>"
            "<vt:lpstr>Data!Print_Area</vt:lpstr><vt:lpstr>Other!Print_Area</vt:lpstr><vt:lpstr>OtherValues</"
            "vt:lpstr>"
            "</vt:vector></TitlesOfParts></Properties>");
    parts.emplace_back(
        "xl/workbook.xml",
        kDecl + "<workbook xmlns=\"" + kMain + "\" xmlns:r=\"" + kRel +
            "\"><bookViews><workbookView activeTab=\"2\" "
            "firstSheet=\"1\"/></bookViews><sheets><sheet name=\"Data\" sheetId=\"1\" r:id=\"rId1\"/><sheet "
            "name=\"Other\" "
            "sheetId=\"2\" r:id=\"rId2\"/><sheet name=\"Last\" sheetId=\"3\" "
            "r:id=\"rId3\"/></sheets><definedNames>"
            "<definedName name=\"_xlnm.Print_Area\" localSheetId=\"0\">Data!$A$1:$B$3</definedName>"
            "<definedName name=\"_xlnm.Print_Area\" localSheetId=\"1\">Other!$A$1:$A$3</definedName>"
            "<definedName name=\"LastLocal\" localSheetId=\"2\">Last!$B$1</definedName>"
            "<definedName name=\"OtherValues\">Other!$A$1:$A$3</definedName>"
            "<definedName name=\"Span\">Data:Other!$A$1</definedName></definedNames><calcPr "
            "calcId=\"191029\"/>"
            "<pivotCaches><pivotCache cacheId=\"1\" r:id=\"rId6\"/></pivotCaches></workbook>");
    parts.emplace_back("xl/_rels/workbook.xml.rels",
                       Rels({{T("worksheet"), "worksheets/sheet1.xml"},
                             {T("worksheet"), "worksheets/sheet2.xml"},
                             {T("worksheet"), "worksheets/sheet3.xml"},
                             {T("styles"), "styles.xml"},
                             {T("calcChain"), "calcChain.xml"},
                             {T("pivotCacheDefinition"), "pivotCache/pivotCacheDefinition1.xml"}}));
    parts.emplace_back(
        "xl/worksheets/sheet1.xml",
        kDecl + "<worksheet xmlns=\"" + kMain + "\" xmlns:r=\"" + kRel + "\" xmlns:xm=\"" + kXm +
            "\"><sheetData>"
            "<row r=\"1\"><c r=\"A1\"><v>1</v></c><c r=\"B1\"><f>Other!A1*2</f><v>20</v></c><c r=\"C1\"><f "
            "t=\"shared\" "
            "ref=\"C1:C3\" si=\"0\">Other!A1+1</f><v>11</v></c><c r=\"D1\" "
            "t=\"str\"><f>INDIRECT(\"Other!A1\")&amp;\"x\"</f>"
            "<v>10x</v></c></row><row r=\"2\"><c r=\"A2\"><v>2</v></c><c "
            "r=\"B2\"><f>SUM(Other!A1:A3)</f><v>60</v></c>"
            "<c r=\"C2\"><f t=\"shared\" si=\"0\"/><v>21</v></c><c r=\"D2\"><f t=\"array\" "
            "ref=\"D2\">SUM(Other!A1:A3*2)</f>"
            "<v>120</v></c></row><row r=\"3\"><c r=\"A3\"><v>3</v></c><c r=\"C3\"><f t=\"shared\" "
            "si=\"0\"/><v>31</v></c>"
            "<c r=\"D3\"><f>SUM(Tbl1[Amt])</f><v>11</v></c></row></sheetData>"
            "<conditionalFormatting sqref=\"A1:A3\"><cfRule type=\"expression\" dxfId=\"0\" "
            "priority=\"1\"><formula>Other!$A$1&gt;5</formula>"
            "</cfRule></conditionalFormatting><dataValidations count=\"1\"><dataValidation type=\"list\" "
            "allowBlank=\"1\" "
            "sqref=\"E1\"><formula1>Other!$A$1:$A$3</formula1></dataValidation></dataValidations><hyperlinks>"
            "<hyperlink ref=\"F1\" location=\"Other!A1\" display=\"go\"/></hyperlinks><pageMargins "
            "left=\"0.7\" right=\"0.7\" "
            "top=\"0.75\" bottom=\"0.75\" header=\"0.3\" footer=\"0.3\"/><drawing r:id=\"rId1\"/><extLst>"
            "<ext uri=\"{78C0D931-6437-407d-A8EE-F0AAD7539E65}\" xmlns:x14=\"" +
            kX14 +
            "\"><x14:conditionalFormattings>"
            "<x14:conditionalFormatting><x14:cfRule type=\"expression\" priority=\"2\" "
            "id=\"{00000000-0000-0000-0000-000000000001}\">"
            "<xm:f>Other!$A$2&gt;5</xm:f><x14:dxf><font><b/></font></x14:dxf></x14:cfRule><xm:sqref>B1:B3</"
            "xm:sqref>"
            "</x14:conditionalFormatting></x14:conditionalFormattings></ext>"
            "<ext uri=\"{CCE6A557-97BC-4b89-ADB6-D9C93CAAB3DF}\" xmlns:x14=\"" +
            kX14 +
            "\"><x14:dataValidations count=\"1\">"
            "<x14:dataValidation type=\"list\" "
            "allowBlank=\"1\"><x14:formula1><xm:f>Other!$A$1:$A$2</xm:f></x14:formula1>"
            "<xm:sqref>G1</xm:sqref></x14:dataValidation></x14:dataValidations></ext>"
            "<ext uri=\"{05C60535-1F16-4fd2-B633-F4F36F0B64E0}\" xmlns:x14=\"" +
            kX14 +
            "\"><x14:sparklineGroups>"
            "<x14:sparklineGroup><x14:colorSeries "
            "rgb=\"FF376092\"/><x14:sparklines><x14:sparkline><xm:f>Other!A1:A3</xm:f>"
            "<xm:sqref>H1</xm:sqref></x14:sparkline></x14:sparklines></x14:sparklineGroup></"
            "x14:sparklineGroups></ext>"
            "</extLst></worksheet>");
    parts.emplace_back("xl/worksheets/_rels/sheet1.xml.rels",
                       Rels({{T("drawing"), "../drawings/drawing1.xml"}}));
    parts.emplace_back("xl/worksheets/sheet2.xml",
                       kDecl + "<worksheet xmlns=\"" + kMain + "\" xmlns:r=\"" + kRel +
                           "\"><sheetData><row r=\"1\"><c r=\"A1\"><v>10</v>"
                           "</c><c r=\"C1\" t=\"inlineStr\"><is><t>Amt</t></is></c></row><row r=\"2\"><c "
                           "r=\"A2\"><v>20</v></c><c r=\"C2\">"
                           "<v>5</v></c></row><row r=\"3\"><c r=\"A3\"><v>30</v></c><c "
                           "r=\"C3\"><v>6</v></c></row></sheetData>"
                           "<pageMargins left=\"0.7\" right=\"0.7\" top=\"0.75\" bottom=\"0.75\" "
                           "header=\"0.3\" footer=\"0.3\"/>"
                           "<pageSetup orientation=\"portrait\" r:id=\"rId1\"/><drawing "
                           "r:id=\"rId2\"/><legacyDrawing r:id=\"rId3\"/>"
                           "<tableParts count=\"1\"><tablePart r:id=\"rId4\"/></tableParts></worksheet>");
    parts.emplace_back("xl/worksheets/_rels/sheet2.xml.rels",
                       Rels({{T("printerSettings"), "../printerSettings/printerSettings1.bin"},
                             {T("drawing"), "../drawings/drawing2.xml"},
                             {T("vmlDrawing"), "../drawings/vmlDrawing1.vml"},
                             {T("table"), "../tables/table1.xml"},
                             {T("comments"), "../comments1.xml"}}));
    parts.emplace_back(
        "xl/worksheets/sheet3.xml",
        kDecl + "<worksheet xmlns=\"" + kMain + "\" xmlns:r=\"" + kRel +
            "\"><sheetData><row r=\"1\"><c r=\"A1\">"
            "<f>SUM(Data:Other!A1)</f><v>11</v></c><c r=\"B1\"><v>5</v></c></row><row r=\"2\"><c r=\"A2\">"
            "<f>SUM(Other:Last!B1)</f><v>5</v></c></row><row r=\"3\"><c r=\"A3\" "
            "t=\"str\"><f>\"Other!A1\"</f><v>Other!A1</v>"
            "</c></row></sheetData><pageMargins left=\"0.7\" right=\"0.7\" top=\"0.75\" bottom=\"0.75\" "
            "header=\"0.3\" "
            "footer=\"0.3\"/></worksheet>");
    parts.emplace_back("xl/styles.xml",
                       kDecl + "<styleSheet xmlns=\"" + kMain +
                           "\"><fonts count=\"1\"><font><sz val=\"11\"/><name val=\"Calibri\"/></font>"
                           "</fonts><fills count=\"2\"><fill><patternFill "
                           "patternType=\"none\"/></fill><fill><patternFill patternType=\"gray125\"/>"
                           "</fill></fills><borders "
                           "count=\"1\"><border><left/><right/><top/><bottom/><diagonal/></border></borders>"
                           "<cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" "
                           "borderId=\"0\"/></cellStyleXfs>"
                           "<cellXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" "
                           "xfId=\"0\"/></cellXfs>"
                           "<cellStyles count=\"1\"><cellStyle name=\"Normal\" xfId=\"0\" "
                           "builtinId=\"0\"/></cellStyles><dxfs count=\"1\">"
                           "<dxf><font><b/></font></dxf></dxfs></styleSheet>");
    parts.emplace_back("xl/calcChain.xml",
                       kDecl + "<calcChain xmlns=\"" + kMain +
                           "\"><c r=\"B1\" i=\"1\"/><c r=\"B2\"/><c r=\"C1\"/><c r=\"A1\" i=\"3\"/>"
                           "<c r=\"A2\"/></calcChain>");
    parts.emplace_back(
        "xl/drawings/drawing1.xml",
        Drawing(
            Anchor(8, Picture(2, "rId1")) +
            Anchor(12,
                   "<xdr:graphicFrame macro=\"\"><xdr:nvGraphicFramePr><xdr:cNvPr id=\"3\" name=\"Chart 1\"/>"
                   "<xdr:cNvGraphicFramePr/></xdr:nvGraphicFramePr><xdr:xfrm><a:off x=\"0\" y=\"0\"/><a:ext "
                   "cx=\"0\" "
                   "cy=\"0\"/></xdr:xfrm><a:graphic><a:graphicData uri=\"" +
                       kC +
                       "\"><c:chart r:id=\"rId2\"/>"
                       "</a:graphicData></a:graphic></xdr:graphicFrame>")));
    parts.emplace_back("xl/drawings/_rels/drawing1.xml.rels",
                       Rels({{T("image"), "../media/image1.png"}, {T("chart"), "../charts/chart1.xml"}}));
    parts.emplace_back("xl/drawings/drawing2.xml", Drawing(Anchor(4, Picture(2, "rId1"))));
    parts.emplace_back("xl/drawings/_rels/drawing2.xml.rels", Rels({{T("image"), "../media/image1.png"}}));
    parts.emplace_back("xl/media/image1.png", kPng);
    parts.emplace_back(
        "xl/charts/chart1.xml",
        kDecl + "<c:chartSpace xmlns:c=\"" + kC + "\" xmlns:a=\"" + kA + "\" xmlns:r=\"" + kRel +
            "\"><c:chart>"
            "<c:plotArea><c:layout/><c:barChart><c:barDir val=\"col\"/><c:grouping "
            "val=\"clustered\"/><c:ser><c:idx val=\"0\"/>"
            "<c:order val=\"0\"/><c:tx><c:strRef><c:f>'Other'!$C$1</c:f></c:strRef></c:tx><c:val><c:numRef>"
            "<c:f>Other!$A$1:$A$3</c:f></c:numRef></c:val></c:ser><c:axId val=\"1\"/><c:axId "
            "val=\"2\"/></c:barChart>"
            "<c:catAx><c:axId val=\"1\"/><c:scaling><c:orientation val=\"minMax\"/></c:scaling><c:axPos "
            "val=\"b\"/>"
            "<c:crossAx val=\"2\"/></c:catAx><c:valAx><c:axId val=\"2\"/><c:scaling><c:orientation "
            "val=\"minMax\"/>"
            "</c:scaling><c:axPos val=\"l\"/><c:crossAx "
            "val=\"1\"/></c:valAx></c:plotArea></c:chart></c:chartSpace>");
    parts.emplace_back(
        "xl/tables/table1.xml",
        kDecl + "<table xmlns=\"" + kMain +
            "\" id=\"1\" name=\"Tbl1\" displayName=\"Tbl1\" ref=\"C1:C3\" totalsRowShown=\"0\">"
            "<autoFilter ref=\"C1:C3\"/><tableColumns count=\"1\"><tableColumn id=\"1\" "
            "name=\"Amt\"/></tableColumns>"
            "<tableStyleInfo name=\"TableStyleMedium2\" showFirstColumn=\"0\" showLastColumn=\"0\" "
            "showRowStripes=\"1\" "
            "showColumnStripes=\"0\"/></table>");
    parts.emplace_back("xl/comments1.xml",
                       kDecl + "<comments xmlns=\"" + kMain +
                           "\"><authors><author>Tester</author></authors><commentList><comment ref=\"A1\" "
                           "authorId=\"0\"><text><t>note</t></text></comment></commentList></comments>");
    parts.emplace_back(
        "xl/drawings/vmlDrawing1.vml",
        "<xml xmlns:v=\"urn:schemas-microsoft-com:vml\" xmlns:o=\"urn:schemas-microsoft-com:office:office\" "
        "xmlns:x=\"urn:schemas-microsoft-com:office:excel\"><v:shape id=\"_x0000_s1025\" "
        "type=\"#_x0000_t202\" "
        "style=\"position:absolute;visibility:hidden\" fillcolor=\"#ffffe1\"><x:ClientData "
        "ObjectType=\"Note\">"
        "<x:Row>0</x:Row><x:Column>0</x:Column></x:ClientData></v:shape></xml>");
    parts.emplace_back("xl/printerSettings/printerSettings1.bin", std::string("PRINTER\0SETTINGS", 16));
    parts.emplace_back("xl/pivotCache/pivotCacheDefinition1.xml",
                       kDecl + "<pivotCacheDefinition xmlns=\"" + kMain +
                           "\" saveData=\"0\" refreshOnLoad=\"1\" recordCount=\"0\">"
                           "<cacheSource type=\"worksheet\"><worksheetSource ref=\"A1:A3\" "
                           "sheet=\"Other\"/></cacheSource><cacheFields "
                           "count=\"1\"><cacheField name=\"10\" numFmtId=\"0\"><sharedItems "
                           "containsSemiMixedTypes=\"0\" containsString=\"0\" "
                           "containsNumber=\"1\" containsInteger=\"1\" minValue=\"20\" "
                           "maxValue=\"30\"/></cacheField></cacheFields>"
                           "</pivotCacheDefinition>");
    return parts;
}

}  // namespace orv::engine::test
