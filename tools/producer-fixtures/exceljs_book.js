// Writes the common three-sheet workbook with ExcelJS: node exceljs_book.js OUT.xlsx
const ExcelJS = require("exceljs");

const KR = '#,##0.00" kr"';
const thin = { style: "thin", color: { argb: "FF000000" } };

async function main() {
  const wb = new ExcelJS.Workbook();
  wb.creator = "Orvandel";
  wb.created = wb.modified = new Date(Date.UTC(2024, 0, 1));

  const data = wb.addWorksheet("Data");
  data.addRow(["Item", "Amount", "Share", "Due"]);
  data.getRow(1).eachCell((cell) => {
    cell.font = { bold: true };
    cell.fill = { type: "pattern", pattern: "solid", fgColor: { argb: "FFFFE699" } };
    cell.border = { left: thin, right: thin, top: thin, bottom: thin };
    cell.alignment = { horizontal: "center", vertical: "middle", wrapText: true };
  });
  const rows = [["Apples", 1234.5, 0.25, new Date(Date.UTC(2024, 0, 31))],
                ["Pears", 99.95, 0.125, new Date(Date.UTC(2024, 1, 29))],
                ["Plums", 7, 0.625, new Date(Date.UTC(2024, 11, 24))]];
  rows.forEach((values, i) => {
    const row = data.getRow(i + 2);
    row.values = values;
    row.getCell(1).font = { italic: true };
    row.getCell(2).numFmt = KR;
    row.getCell(3).numFmt = "0.0%";
    row.getCell(4).numFmt = "yyyy-mm-dd";
  });
  data.getCell("A6").value = "Merged note";
  data.getCell("A6").alignment = { horizontal: "center" };
  data.mergeCells("A6:B6");
  data.getCell("A7").value = { text: "Home page", hyperlink: "https://example.com/" };
  data.getCell("A2").note = "Fresh stock";

  const summary = wb.addWorksheet("Summary");
  summary.getCell("A1").value = "Twice the first";
  summary.getCell("B1").value = { formula: "Data!B2*2", result: 2469 };
  summary.getCell("B1").numFmt = KR;
  summary.getCell("A2").value = "Total";
  summary.getCell("A2").font = { bold: true };
  summary.getCell("B2").value = { formula: "SUM(Data!B2:B4)", result: 1341.45 };
  summary.getCell("B2").numFmt = KR;
  summary.getCell("B2").border = { top: thin, bottom: { style: "double" } };

  const notes = wb.addWorksheet("Notes");
  notes.getCell("A1").value = "Plain text";
  notes.getCell("A2").value = 42;

  wb.definedNames.add("Data!$B$2:$B$4", "Amounts");
  await wb.xlsx.writeFile(process.argv[2], { useSharedStrings: true });
}

main().catch((e) => { console.error(e); process.exit(1); });
