#!/usr/bin/env bash
# Rebuilds the import fixtures of this folder with other programs' writers:
# python3-openpyxl and gnumeric's ssconvert (Debian packages) and plain
# Python. The tests read only the committed files; none of these programs
# is needed to run them.
set -euo pipefail
cd "$(dirname "$0")"
PY=/usr/bin/python3
$PY make_fixtures.py
# gnumeric reads the openpyxl workbook, computes its formulas and writes its
# own .xlsx (with the formulas' values stored) and .xls.
ssconvert -T Gnumeric_Excel:xlsx2 scores-wide-source.xlsx scores-wide-gnumeric.xlsx
ssconvert -T Gnumeric_Excel:excel_biff8 scores-wide-source.xlsx scores-wide-gnumeric.xls
ssconvert -T Gnumeric_Excel:excel_biff8 students-openpyxl.xlsx students-gnumeric.xls
ssconvert -T Gnumeric_Excel:xlsx students-openpyxl.xlsx students-gnumeric.xlsx
ssconvert -T Gnumeric_stf:stf_csv -O 'sheet=新生名单' students-openpyxl.xlsx students-gnumeric.csv
rm -f scores-wide-source.xlsx
