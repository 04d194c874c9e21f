#!/usr/bin/env python3
"""Post-processes a widl -Oicf proxy file (_p.c) so that "[out, string] LPWSTR *" parameters
marshal. widl gives such a parameter a type offset that names the inner string pointer
(FC_OP -> FC_C_WSTRING) instead of the top-level reference pointer entry
(FC_RP [allocated_on_stack] [pointer_deref]) that stands right before it; the NDR engine then
unmarshals the string into a temporary and the caller gets NULL. Pointing the parameter at the
FC_RP entry fixes it. Usage: fix_string_out_params.py in_p.c out_p.c"""
import re
import sys

src, dst = sys.argv[1], sys.argv[2]
lines = open(src, encoding="utf-8").read().split("\n")

# Type format string: offset -> first line of bytes after the "/* N ... */" marker.
start = next(i for i, l in enumerate(lines) if "__MIDL_TypeFormatString =" in l)
entries = {}
for i in range(start, len(lines)):
    m = re.match(r"\s*/\*\s*(\d+)\b(.*)\*/\s*$", lines[i])
    if m and i + 1 < len(lines):
        entries[int(m.group(1))] = (m.group(2).strip(), lines[i + 1])

fixed = 0
for i, line in enumerate(lines[:start]):
    if "NdrFcShort(0x2013)" not in line or i + 2 >= start:
        continue
    m = re.search(r"NdrFcShort\(0x([0-9a-f]+)\),\s*/\* type offset = (\d+) \*/", lines[i + 2])
    if not m:
        continue
    offset = int(m.group(1), 16)
    entry = entries.get(offset)
    outer = entries.get(offset - 4)
    if not entry or not outer:
        continue
    inner_is_string_pointer = entry[0] in ("(LPWSTR)", "(LPOLESTR)") and "0x13, 0x8" in entry[1]
    outer_is_ref_pointer = outer[0] in ("(LPWSTR *)", "(LPOLESTR *)") and "0x11, 0x14" in outer[1]
    if inner_is_string_pointer and outer_is_ref_pointer:
        lines[i + 2] = lines[i + 2].replace(
            m.group(0), "NdrFcShort(0x%x),\t/* type offset = %d */" % (offset - 4, offset - 4))
        fixed += 1

open(dst, "w", encoding="utf-8").write("\n".join(lines))
print("%s: %d string out-parameter(s) fixed" % (dst, fixed))
