// Writes the common three-sheet workbook with SheetJS (npm "xlsx"): node sheetjs_book.js OUT.xlsx
// The community build writes number formats but no fonts, fills, borders or alignment; the cell styles come
// from the other producers.
const XLSX = require("xlsx");

const KR = '#,##0.00" kr"';
const data = XLSX.utils.aoa_to_sheet([
  ["Item", "Amount", "Share", "Due"],
  ["Apples", 1234.5, 0.25, new Date(Date.UTC(2024, 0, 31))],
  ["Pears", 99.95, 0.125, new Date(Date.UTC(2024, 1, 29))],
  ["Plums", 7, 0.625, new Date(Date.UTC(2024, 11, 24))],
  [],
  ["Merged note"],
  ["Home page"],
], { cellDates: false, UTC: true });
for (const r of [2, 3, 4]) {
  data["B" + r].z = KR;
  data["C" + r].z = "0.0%";
  data["D" + r].z = "yyyy-mm-dd";
}
data["!merges"] = [XLSX.utils.decode_range("A6:B6")];
data["A7"].l = { Target: "https://example.com/" };
data["A2"].c = [{ a: "Orvandel", t: "Fresh stock" }];
data["A2"].c.hidden = true;

const summary = XLSX.utils.aoa_to_sheet([["Twice the first", 0], ["Total", 0]]);
summary["B1"] = { t: "n", v: 2469, f: "Data!B2*2", z: KR };
summary["B2"] = { t: "n", v: 1341.45, f: "SUM(Data!B2:B4)", z: KR };

const notes = XLSX.utils.aoa_to_sheet([["Plain text"], [42]]);

const wb = XLSX.utils.book_new();
XLSX.utils.book_append_sheet(wb, data, "Data");
XLSX.utils.book_append_sheet(wb, summary, "Summary");
XLSX.utils.book_append_sheet(wb, notes, "Notes");
wb.Workbook = { Names: [{ Name: "Amounts", Ref: "Data!$B$2:$B$4" }] };
wb.Props = { Author: "Orvandel", CreatedDate: new Date(Date.UTC(2024, 0, 1)) };
XLSX.writeFile(wb, process.argv[2], { bookType: "xlsx", bookSST: true, compression: true });
