# Writes the import fixtures that python3-openpyxl and plain Python make.
import csv, datetime, io, zipfile
import openpyxl
from openpyxl.styles import Font

# Students: a title row over merged cells, a blank row, then the header; a
# hidden first sheet; numbers kept as text with leading zeros; real date cells
# and dates typed as text; full-width digits and blanks around values.
wb = openpyxl.Workbook()
notes = wb.active
notes.title = "说明"
notes["A1"] = "本工作簿由教务处整理"
notes.sheet_state = "hidden"
ws = wb.create_sheet("新生名单")
ws["A1"] = "2024级新生名单"
ws.merge_cells("A1:F1")
ws.append([])
ws.append(["学号", "学生姓名", "性别", "年龄", "班级名称", "入学时间", "联系方式", "备注"])
rows = [
    ["0024001", "张三", "男", 18, "计算机一班", datetime.date(2024, 9, 1), "13800000001", None],
    ["0024002", "李四", "女", 19, "计算机一班", "2024年9月2日", "13800000002", "=1+2"],
    ["0024003", " 王五 ", "男", "１９", "数学一班", "2024.9.3", None, "转专业"],
    ["0024004", "赵六", "女", 20, "2007002", "2024/9/4", "+86 139", None],
]
for r in rows:
    ws.append(r)
for cell in ws["F"][3:]:
    if isinstance(cell.value, datetime.date):
        cell.number_format = "yyyy/m/d"
ws["A3"].font = Font(bold=True)
# A text that looks like a formula stays a text cell.
ws["H5"].data_type = "s"
wb.save("students-openpyxl.xlsx")

# The same workbook in the 1904 date system: the date cell must read the same.
wb.epoch = openpyxl.utils.datetime.CALENDAR_MAC_1904
wb.save("students-1904-openpyxl.xlsx")

# A wide score sheet: one row per student, one column per subject; a total
# computed by a formula (gnumeric stores its value when it rewrites the file).
wb = openpyxl.Workbook()
ws = wb.active
ws.title = "期末成绩"
ws.append(["学号", "姓名", "高等数学", "大学英语", "总分"])
ws.append(["0024001", "张三", 85, 90.5, "=C2+D2"])
ws.append(["0024002", "李四", "九十", 77, "=C3+D3"])
ws.append(["0024003", "王五", None, 60, "=C4+D4"])
wb.save("scores-wide-source.xlsx")

# Sparse rows and a cell far to the right, with gaps between.
wb = openpyxl.Workbook()
ws = wb.active
ws.title = "稀疏"
ws["A1"] = "学号"
ws["C1"] = "姓名"
ws["A4"] = "0024009"
ws["C4"] = "孙七"
ws["Z4"] = 3.25
ws["B7"] = True
wb.save("sparse-openpyxl.xlsx")

# CSV and text files as spreadsheets and other programs write them.
header = ["学号", "课程", "学期", "成绩", "考试日期"]
scores = [
    ["0024001", "高等数学", "第一学期", "85", "2025-01-10"],
    ["0024002", "高等数学", "第一学期", "九十", "2025/1/10"],
    ["0024003", "大学英语", "第一学期", "７８", "45667"],
]
with open("scores-gb18030.csv", "w", encoding="gb18030", newline="") as f:
    csv.writer(f, lineterminator="\r\n").writerows([header] + scores)
with open("scores-utf8-bom.csv", "w", encoding="utf-8-sig", newline="") as f:
    csv.writer(f, lineterminator="\r\n").writerows([header] + scores)
with open("scores-tab.txt", "w", encoding="utf-8", newline="") as f:
    csv.writer(f, delimiter="\t", lineterminator="\n").writerows([header] + scores)
# Semicolons, quotes and a line break inside a quoted cell.
with open("remarks-semicolon.csv", "w", encoding="utf-8", newline="") as f:
    w = csv.writer(f, delimiter=";", quoting=csv.QUOTE_MINIMAL, lineterminator="\n")
    w.writerow(["学号", "姓名", "备注"])
    w.writerow(["0024001", "张三", "第一行\n第二行"])
    w.writerow(["0024002", "李\"四\"", "分号;在内"])
    w.writerow(["0024003", "王五", "=SUM(A1:A3)"])

# Hand-made parts the writers above do not produce: inline strings, a
# workbook whose parts claim to unpack to several gigabytes, and a sheet with
# a value in its 16,384th column.
def package(name, sheet_xml, extra=None, sizes=None):
    parts = {
        "[Content_Types].xml": '<?xml version="1.0"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"><Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/><Default Extension="xml" ContentType="application/xml"/></Types>',
        "_rels/.rels": '<?xml version="1.0"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="xl/workbook.xml"/></Relationships>',
        "xl/workbook.xml": '<?xml version="1.0"?><workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"><sheets><sheet name="Sheet1" sheetId="1" r:id="rId1"/></sheets></workbook>',
        "xl/_rels/workbook.xml.rels": '<?xml version="1.0"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet1.xml"/></Relationships>',
        "xl/worksheets/sheet1.xml": sheet_xml,
    }
    parts.update(extra or {})
    with zipfile.ZipFile(name, "w", zipfile.ZIP_DEFLATED) as z:
        for part, text in parts.items():
            z.writestr(part, text)

sheet = lambda rows: '<?xml version="1.0"?><worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><sheetData>' + rows + '</sheetData></worksheet>'
# The last cell is a number shown with leading zeros by its format "0000000".
package("inline-strings.xlsx", sheet(
    '<row r="1"><c r="A1" t="inlineStr"><is><t>学号</t></is></c><c r="B1" t="inlineStr"><is><r><t>姓</t></r><r><t>名</t></r><rPh><t>xingming</t></rPh></is></c></row>'
    '<row r="2"><c r="A2" t="inlineStr"><is><t>0024001</t></is></c><c r="B2" t="inlineStr"><is><t xml:space="preserve"> 张_x0033_ </t></is></c><c r="C2" t="b"><v>1</v></c><c r="D2" t="e"><v>#N/A</v></c><c r="E2" s="1"><v>24005</v></c></row>'),
    extra={
        "xl/_rels/workbook.xml.rels": '<?xml version="1.0"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet1.xml"/><Relationship Id="rId2" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles" Target="styles.xml"/></Relationships>',
        "xl/styles.xml": '<?xml version="1.0"?><styleSheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><numFmts count="1"><numFmt numFmtId="164" formatCode="0000000"/></numFmts><cellXfs count="2"><xf numFmtId="0"/><xf numFmtId="164" applyNumberFormat="1"/></cellXfs></styleSheet>',
    })
package("wide-16384.xlsx", sheet('<row r="1"><c r="A1" t="inlineStr"><is><t>学号</t></is></c><c r="XFD1"><v>1</v></c></row>'))

# Prefixed names, shared strings with a phonetic run, text split by
# references and CDATA: what other writers may put in a sheet.
ns = 'xmlns:x="http://schemas.openxmlformats.org/spreadsheetml/2006/main"'
package("prefixed.xlsx",
    '<?xml version="1.0" encoding="UTF-8"?><x:worksheet ' + ns + '><x:sheetData>'
    '<x:row r="1"><x:c r="A1" t="s"><x:v>0</x:v></x:c><x:c r="B1" t="s"><x:v>1</x:v></x:c></x:row>'
    '<x:row r="2"><x:c r="A2" t="s"><x:v> 2 </x:v></x:c><x:c r="B2" t="inlineStr"><x:is><x:t>李&amp;&#x56db;<![CDATA[<五>]]></x:t></x:is></x:c></x:row>'
    '</x:sheetData></x:worksheet>',
    extra={
        "xl/_rels/workbook.xml.rels": '<?xml version="1.0"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet1.xml"/><Relationship Id="rId2" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings" Target="sharedStrings.xml"/></Relationships>',
        "xl/sharedStrings.xml": '<?xml version="1.0"?><x:sst ' + ns + ' count="3"><x:si><x:t>学号</x:t></x:si><x:si><x:r><x:t>姓</x:t></x:r><x:r><x:t>名</x:t></x:r><x:rPh><x:t>xingming</x:t></x:rPh></x:si><x:si><x:t>0024001</x:t></x:si></x:sst>',
    })
# A sheet that declares entities which would expand a billion times, and a
# sheet whose XML stops in the middle of a row (the zip itself is sound).
laughs = '<!DOCTYPE worksheet [<!ENTITY a "aaaaaaaaaa">' + "".join(
    '<!ENTITY %s "%s">' % (chr(ord("b") + i), ("&%s;" % chr(ord("a") + i)) * 10) for i in range(8)) + ']>'
package("entities.xlsx", '<?xml version="1.0"?>' + laughs + '<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><sheetData><row r="1"><c r="A1" t="inlineStr"><is><t>&i;</t></is></c></row></sheetData></worksheet>')
package("sheet-cut.xlsx", sheet('<row r="1"><c r="A1" t="inlineStr"><is><t>学号</t></is></c></row><row r="2"><c r="A2" t="inlineStr"><is><t>00240')[:-len('</sheetData></worksheet>')])
# Sound rows, then an element closed by the wrong end tag.
package("sheet-broken.xlsx", sheet('<row r="1"><c r="A1" t="inlineStr"><is><t>学号</t></is></c></row><row r="2"><c r="A2" t="inlineStr"><is><t>0024001</t></is></c></row><row r="3"><c r="A3"><v>1</v></x></row>'))

# A zip bomb: the sheet's entry declares that it unpacks to 3.75 GB.
import struct
package("bomb.xlsx", sheet('<row r="1"><c r="A1" t="inlineStr"><is><t>x</t></is></c></row>'))
data = bytearray(open("bomb.xlsx", "rb").read())
name = b"xl/worksheets/sheet1.xml"
for signature, size_offset in ((b"PK\x03\x04", 22), (b"PK\x01\x02", 24)):
    at = 0
    while True:
        at = data.find(signature, at)
        if at < 0:
            break
        name_length = struct.unpack_from("<H", data, at + (26 if signature == b"PK\x03\x04" else 28))[0]
        start = at + (30 if signature == b"PK\x03\x04" else 46)
        if bytes(data[start:start + name_length]) == name:
            struct.pack_into("<I", data, at + size_offset, 0xF0000000)
        at += 4
open("bomb.xlsx", "wb").write(bytes(data))

# A password-protected workbook is a compound file holding the streams
# EncryptionInfo and EncryptedPackage; this one is laid out by hand.
def compound(path, streams):
    sector = 512
    fat = [0xFFFFFFFD, 0xFFFFFFFE]  # the FAT sector itself, the directory
    bodies = []
    entries = []
    for name, body in streams:
        body = body + b"\0" * (-len(body) % sector)
        first = len(fat)
        count = len(body) // sector
        fat += [first + i + 1 for i in range(count - 1)] + [0xFFFFFFFE]
        bodies.append(body)
        entries.append((name, first, len(body)))
    fat += [0xFFFFFFFF] * (sector // 4 - len(fat))
    header = bytearray(sector)
    header[0:8] = bytes.fromhex("D0CF11E0A1B11AE1")
    struct.pack_into("<HHHHH", header, 24, 0x3E, 3, 0xFFFE, 9, 6)
    struct.pack_into("<IIIIIIIII", header, 40, 0, 1, 1, 0, 4096, 0xFFFFFFFE, 0, 0xFFFFFFFE, 0)
    struct.pack_into("<I", header, 76, 0)
    for i in range(1, 109):
        struct.pack_into("<I", header, 76 + 4 * i, 0xFFFFFFFF)
    def entry(name, kind, child, right, start, size):
        e = bytearray(128)
        encoded = (name + "\0").encode("utf-16-le")
        e[0:len(encoded)] = encoded
        struct.pack_into("<HBB", e, 64, len(encoded), kind, 1)
        struct.pack_into("<III", e, 68, 0xFFFFFFFF, right, child)
        struct.pack_into("<II", e, 116, start, size)
        return bytes(e)
    directory = entry("Root Entry", 5, 1, 0xFFFFFFFF, 0xFFFFFFFE, 0)
    for i, (name, first, size) in enumerate(entries):
        right = i + 2 if i + 1 < len(entries) else 0xFFFFFFFF
        directory += entry(name, 2, 0xFFFFFFFF, right, first, size)
    directory += b"\0" * (sector - len(directory))
    with open(path, "wb") as f:
        f.write(bytes(header) + struct.pack("<%dI" % (sector // 4), *fat) + directory + b"".join(bodies))
compound("encrypted.xlsx", [("EncryptionInfo", b"\x04\x00\x04\x00" + b"\0" * 4092), ("EncryptedPackage", b"\1" * 4096)])

# A text file named as a workbook, and a workbook cut short.
with open("not-a-workbook.xlsx", "w", encoding="utf-8") as f:
    f.write("学号,姓名\n0024001,张三\n")
data = open("students-openpyxl.xlsx", "rb").read()
open("truncated.xlsx", "wb").write(data[: len(data) // 2])
