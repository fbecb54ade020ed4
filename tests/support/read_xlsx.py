"""Prints what an independent reader (openpyxl) finds in an .xlsx file, as JSON:
the sheets, page orientation, merged ranges, every cell that holds a value or a
format, and the column widths."""
import json
import sys

import openpyxl
from openpyxl.utils import get_column_letter


def side(s):
    return s.style if s is not None else None


def main(path):
    book = openpyxl.load_workbook(path)
    sheet = book.worksheets[0]
    cells = {}
    for row in sheet.iter_rows():
        for cell in row:
            if cell.value is None and not cell.has_style:
                continue
            b = cell.border
            cells[cell.coordinate] = {
                "value": cell.value,
                "type": cell.data_type,
                "font": cell.font.name,
                "size": cell.font.sz,
                "format": cell.number_format,
                "align": cell.alignment.horizontal,
                "borders": [side(b.left), side(b.right), side(b.top), side(b.bottom)],
            }
    widths = {}
    for letter, dim in sheet.column_dimensions.items():
        if dim.width:
            # A width set on a span of columns counts for each of them.
            for index in range(dim.min or 0, (dim.max or 0) + 1):
                if index > 0:
                    widths[get_column_letter(index)] = dim.width
            widths.setdefault(letter, dim.width)
    json.dump({
        "sheets": book.sheetnames,
        "orientation": sheet.page_setup.orientation,
        "merged": sorted(str(r) for r in sheet.merged_cells.ranges),
        "max_row": sheet.max_row,
        "max_column": sheet.max_column,
        "cells": cells,
        "widths": widths,
    }, sys.stdout, ensure_ascii=False)


if __name__ == "__main__":
    main(sys.argv[1])
