#!/usr/bin/env python3
"""Outside oracle for the device list's .xls files.

  xls_oracle.py dump FILE          every sheet read with xlrd: "sheet <hex name>" lines, then
                                   "<row> <col> <xlrd type> <value>" for each cell (texts as hex
                                   of their UTF-8 bytes, numbers with repr)
  xls_oracle.py make FILE VARIANT  a sheet written with xlwt, independent of our writer; the
                                   variants long-other-sheet and huge-other-sheet put a sheet
                                   "Notes" of 3,000 rows, or one whose last cell is at row
                                   60,001 column 201, before it; cp1252 has Latin-1 titles
                                   and the workbook's code page set to Windows-1252
  xls_oracle.py shared FILE ROWS COLS LENGTH
                                   ROWS devices, each row followed by COLS "NOTE" cells that all
                                   show one shared string of LENGTH characters
  xls_oracle.py at FILE PORT ADDRESS...
                                   one device per ADDRESS given (addresses may repeat), each
                                   with command port PORT
"""
import sys


def dump(path):
    import xlrd
    book = xlrd.open_workbook(path)
    for sheet in book.sheets():
        print("sheet", sheet.name.encode("utf-8").hex())
        for r in range(sheet.nrows):
            for c in range(sheet.ncols):
                t, v = sheet.cell_type(r, c), sheet.cell_value(r, c)
                print(r, c, t, v.encode("utf-8").hex() if isinstance(v, str) else repr(v))


HEADER = ["IPADDR", "NETMASK", "COMPORT", "HTTPPORT", "RTSPPORT", "MAC", "TITLE", "DEVICETYPE",
          "VERSION", "SN", "P2PTYPE", "P2PID", "UUID"]


def device(n):
    return ["10.9.0.%d" % (n + 10), "255.255.255.0", 8091, 80, 554, "00:11:22:33:44:%02X" % n,
            "门口 %d" % n, "DAV-ODUVE-IPC", "", "XL%05d" % n, 2, "P2P-%d" % n, "UUID-%d" % n]


def make(path, variant):
    import xlwt
    book = xlwt.Workbook(encoding="utf-8")
    if variant == "other-sheets":
        book.add_sheet("Notes").write(0, 0, "keep me")
    elif variant == "long-other-sheet":
        notes = book.add_sheet("Notes")
        for r in range(3000):
            notes.write(r, 0, "note %d" % r)
    elif variant == "huge-other-sheet":
        notes = book.add_sheet("Notes")
        notes.write(0, 0, "keep me")
        notes.write(60000, 200, "far away")
    sheet = book.add_sheet("EXPORT")
    header = list(HEADER)
    rows = [device(n) for n in range(3)]
    if variant == "no-version":
        i = header.index("VERSION")
        header.pop(i)
        rows = [r[:i] + r[i + 1:] for r in rows]
    elif variant == "missing-sn-column":
        i = header.index("SN")
        header.pop(i)
        rows = [r[:i] + r[i + 1:] for r in rows]
    elif variant == "bad-ip":
        rows[1][0] = "10.9.0.300"
    elif variant == "text-port":
        rows[2][3] = "eighty"
    elif variant == "cp1252":
        for n, r in enumerate(rows):
            r[header.index("TITLE")] = "Café %d" % n
    elif variant == "reordered":
        order = list(reversed(range(len(header))))
        header = [header[i] for i in order]
        rows = [[r[i] for i in order] for r in rows]
    for c, name in enumerate(header):
        sheet.write(0, c, name)
    for r, row in enumerate(rows, start=1):
        for c, value in enumerate(row):
            sheet.write(r, c, value)
    book.save(path)
    if variant == "cp1252":
        # xlwt writes Latin-1 texts 8 bits a character: the CODEPAGE record
        # then says how to read them.
        with open(path, "rb") as f:
            data = f.read()
        utf16 = bytes([0x42, 0x00, 0x02, 0x00, 0xB0, 0x04])
        assert data.count(utf16) == 1
        with open(path, "wb") as f:
            f.write(data.replace(utf16, bytes([0x42, 0x00, 0x02, 0x00, 0xE4, 0x04])))


def shared(path, rows, cols, length):
    import xlwt
    book = xlwt.Workbook(encoding="utf-8")
    sheet = book.add_sheet("EXPORT")
    header = HEADER + ["NOTE"] * cols
    note = ("shared note " * (length // 12 + 1))[:length]
    for c, name in enumerate(header):
        sheet.write(0, c, name)
    for n in range(rows):
        row = ["10.9.%d.%d" % (n // 200, n % 200 + 10), "255.255.255.0", 8091, 80, 554,
               "00:11:22:33:%02X:%02X" % (n // 256, n % 256), "Door %d" % n, "DAV-ODUVE-IPC", "",
               "XL%05d" % n, 2, "P2P-%d" % n, "UUID-%d" % n] + [note] * cols
        for c, value in enumerate(row):
            sheet.write(n + 1, c, value)
    book.save(path)


def at(path, port, addresses):
    import xlwt
    book = xlwt.Workbook(encoding="utf-8")
    sheet = book.add_sheet("EXPORT")
    for c, name in enumerate(HEADER):
        sheet.write(0, c, name)
    for n, address in enumerate(addresses):
        row = device(n % 256)
        row[0], row[2], row[9], row[12] = address, port, "AT%05d" % n, "UUID-AT-%d" % n
        for c, value in enumerate(row):
            sheet.write(n + 1, c, value)
    book.save(path)


if __name__ == "__main__":
    if sys.argv[1] == "dump":
        dump(sys.argv[2])
    elif sys.argv[1] == "at":
        at(sys.argv[2], int(sys.argv[3]), sys.argv[4:])
    elif sys.argv[1] == "shared":
        shared(sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), int(sys.argv[5]))
    else:
        make(sys.argv[2], sys.argv[3])
