"""Writes the common three-sheet workbook with openpyxl: python3 openpyxl_book.py OUT.xlsx"""
import datetime
import sys

from openpyxl import Workbook
from openpyxl.chart import BarChart, Reference
from openpyxl.comments import Comment
from openpyxl.styles import Alignment, Border, Font, PatternFill, Side
from openpyxl.workbook.defined_name import DefinedName

KR = '#,##0.00" kr"'

wb = Workbook()
data = wb.active
data.title = "Data"
thin = Side(style="thin", color="FF000000")
head = dict(font=Font(bold=True), fill=PatternFill("solid", fgColor="FFFFE699"),
            border=Border(left=thin, right=thin, top=thin, bottom=thin),
            alignment=Alignment(horizontal="center", vertical="center", wrap_text=True))
for col, text in zip("ABCD", ["Item", "Amount", "Share", "Due"]):
    cell = data[col + "1"]
    cell.value = text
    for attr, value in head.items():
        setattr(cell, attr, value)
rows = [("Apples", 1234.5, 0.25, datetime.date(2024, 1, 31)),
        ("Pears", 99.95, 0.125, datetime.date(2024, 2, 29)),
        ("Plums", 7, 0.625, datetime.date(2024, 12, 24))]
for r, (item, amount, share, due) in enumerate(rows, start=2):
    data.cell(r, 1, item).font = Font(italic=True)
    data.cell(r, 2, amount).number_format = KR
    data.cell(r, 3, share).number_format = "0.0%"
    data.cell(r, 4, due).number_format = "yyyy-mm-dd"
data["A6"] = "Merged note"
data["A6"].alignment = Alignment(horizontal="center")
data.merge_cells("A6:B6")
data["A7"] = "Home page"
data["A7"].hyperlink = "https://example.com/"
data["A2"].comment = Comment("Fresh stock", "Orvandel")

summary = wb.create_sheet("Summary")
summary["A1"] = "Twice the first"
summary["B1"] = "=Data!B2*2"
summary["B1"].number_format = KR
summary["A2"] = "Total"
summary["A2"].font = Font(bold=True)
summary["B2"] = "=SUM(Data!B2:B4)"
summary["B2"].number_format = KR
summary["B2"].border = Border(top=thin, bottom=Side(style="double"))
chart = BarChart()
chart.title = "Amounts"
chart.add_data(Reference(data, min_col=2, min_row=1, max_row=4), titles_from_data=True)
chart.set_categories(Reference(data, min_col=1, min_row=2, max_row=4))
summary.add_chart(chart, "D2")

notes = wb.create_sheet("Notes")
notes["A1"] = "Plain text"
notes["A2"] = 42

wb.defined_names.append(DefinedName("Amounts", attr_text="Data!$B$2:$B$4"))
wb.save(sys.argv[1])
