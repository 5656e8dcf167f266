"""Writes the common three-sheet workbook with XlsxWriter: python3 xlsxwriter_book.py OUT.xlsx"""
import datetime
import sys

import xlsxwriter

KR = '#,##0.00" kr"'

wb = xlsxwriter.Workbook(sys.argv[1])
# A fixed creation time keeps docProps/core.xml the same from one run to the next.
wb.set_properties({"created": datetime.datetime(2024, 1, 1), "author": "Orvandel"})
head = wb.add_format({"bold": True, "bg_color": "#FFE699", "border": 1, "align": "center",
                      "valign": "vcenter", "text_wrap": True})
italic = wb.add_format({"italic": True})
money = wb.add_format({"num_format": KR})
share = wb.add_format({"num_format": "0.0%"})
due = wb.add_format({"num_format": "yyyy-mm-dd"})
total = wb.add_format({"num_format": KR, "top": 1, "bottom": 6})
bold = wb.add_format({"bold": True})
centred = wb.add_format({"align": "center"})

data = wb.add_worksheet("Data")
data.write_row("A1", ["Item", "Amount", "Share", "Due"], head)
rows = [("Apples", 1234.5, 0.25, datetime.date(2024, 1, 31)),
        ("Pears", 99.95, 0.125, datetime.date(2024, 2, 29)),
        ("Plums", 7, 0.625, datetime.date(2024, 12, 24))]
for r, (item, amount, part, when) in enumerate(rows, start=1):
    data.write_string(r, 0, item, italic)
    data.write_number(r, 1, amount, money)
    data.write_number(r, 2, part, share)
    data.write_datetime(r, 3, datetime.datetime.combine(when, datetime.time()), due)
data.merge_range("A6:B6", "Merged note", centred)
data.write_url("A7", "https://example.com/", string="Home page")
data.write_comment("A2", "Fresh stock", {"author": "Orvandel"})

summary = wb.add_worksheet("Summary")
summary.write("A1", "Twice the first")
summary.write_formula("B1", "=Data!B2*2", money, 2469)
summary.write("A2", "Total", bold)
summary.write_formula("B2", "=SUM(Data!B2:B4)", total, 1341.45)
chart = wb.add_chart({"type": "column"})
chart.add_series({"name": "=Data!$B$1", "categories": "=Data!$A$2:$A$4", "values": "=Data!$B$2:$B$4"})
chart.set_title({"name": "Amounts"})
summary.insert_chart("D2", chart, {"x_scale": 0.5, "y_scale": 0.5})

notes = wb.add_worksheet("Notes")
notes.write("A1", "Plain text")
notes.write("A2", 42)

wb.define_name("Amounts", "=Data!$B$2:$B$4")
wb.close()
