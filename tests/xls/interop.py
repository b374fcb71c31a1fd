"""Independent readers and writers for the spreadsheet interop tests.

  interop.py dump FILE...   prints every sheet and non-empty cell, read with
                            openpyxl (.xlsx) or xlrd (.xls)
  interop.py make FOLDER    writes workbooks with openpyxl, as a colleague's
                            spreadsheet program would
"""
import sys


def col_name(c):
    s = ""
    while c:
        c, r = divmod(c - 1, 26)
        s = chr(65 + r) + s
    return s


def show(v):
    if isinstance(v, bool):
        return "TRUE" if v else "FALSE"
    if isinstance(v, (int, float)):
        return repr(float(v))
    return str(v)


def dump(path):
    print("FILE\t" + path)
    if path.endswith(".xls"):
        import xlrd
        book = xlrd.open_workbook(path)
        for i, s in enumerate(book.sheets()):
            print("SHEET\t%s\t%d" % (s.name, 1 if s.sheet_visible else 0))
            for r in range(s.nrows):
                for c in range(s.ncols):
                    cell = s.cell(r, c)
                    if cell.ctype in (xlrd.XL_CELL_EMPTY, xlrd.XL_CELL_BLANK):
                        continue
                    print("CELL\t%s%d\t%s" % (col_name(c + 1), r + 1, show(cell.value)))
    else:
        import openpyxl
        book = openpyxl.load_workbook(path)
        for ws in book.worksheets:
            print("SHEET\t%s\t%d" % (ws.title, 1 if book.active.title == ws.title else 0))
            for row in ws.iter_rows():
                for cell in row:
                    if cell.value is None:
                        continue
                    print("CELL\t%s\t%s" % (cell.coordinate, show(cell.value)))


def make(folder):
    import openpyxl
    wb = openpyxl.Workbook()
    ws = wb.active
    ws.title = "Лист1"
    ws["A1"], ws["B1"] = 10.5, 120
    ws["A2"], ws["B2"] = 20, 200
    ws["A3"], ws["B3"] = "37.5", "310"
    wb.save(folder + "/tare_openpyxl.xlsx")

    wb = openpyxl.Workbook()
    first = True
    for name, tank, height, points in (("one", 1, 500, 2), ("two", 2, 1200, 3), ("three", 3, 800, 120)):
        ws = wb.active if first else wb.create_sheet()
        first = False
        ws.title = name
        ws.append(["Liters", "mm", "Tank ID", "Tank Height, mm"])
        for i in range(points):
            ws.cell(row=2 + i, column=1, value=12.5 * (i + 1))
            ws.cell(row=2 + i, column=2, value=10 * (i + 1))
        ws["C2"], ws["D2"] = tank, height
    wb.save(folder + "/presets_openpyxl.xlsx")


if __name__ == "__main__":
    if sys.argv[1] == "dump":
        for p in sys.argv[2:]:
            dump(p)
    else:
        make(sys.argv[2])
