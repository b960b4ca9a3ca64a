#!/usr/bin/env python3
"""Makes a large Access file for the benchmark out of a small one.

    bench/grow_access.py SOURCE TARGET MEGABYTES

No program on this system writes Access files, so the largest user table of SOURCE (a
Jet 4 or later file, 4 KB pages) is grown in TARGET by appending copies of its data
pages until the file reaches about MEGABYTES, and its page usage map is rewritten as an
indirect map (type 1) that lists the old pages and the copies. The copies repeat the
table's rows; indexes are left as they were, since reading a whole table never uses
them. Prints the name of the table grown.
"""
import csv
import io
import struct
import subprocess
import sys

PAGE = 4096
BITS_PER_MAP_PAGE = (PAGE - 4) * 8


def u16(buf, at):
    return struct.unpack_from("<H", buf, at)[0]


def u32(buf, at):
    return struct.unpack_from("<I", buf, at)[0]


def row_bounds(data, page, row):
    """Where row ROW of data page PAGE starts and ends in the file."""
    base = page * PAGE
    start = u16(data, base + 14 + 2 * row) & 0x1FFF
    end = PAGE if row == 0 else u16(data, base + 14 + 2 * (row - 1)) & 0x1FFF
    return base + start, base + end


def mapped_pages(data, usage):
    """The pages a table's usage map (type 0 or 1) marks as its own."""
    pages = []
    if usage[0] == 0:
        first = u32(usage, 1)
        for i in range((len(usage) - 5) * 8):
            if usage[5 + i // 8] & (1 << (i % 8)):
                pages.append(first + i)
    elif usage[0] == 1:
        for index in range((len(usage) - 1) // 4):
            map_page = u32(usage, 1 + 4 * index)
            if not map_page:
                continue
            bitmap = data[map_page * PAGE + 4:(map_page + 1) * PAGE]
            for i in range(BITS_PER_MAP_PAGE):
                if bitmap[i // 8] & (1 << (i % 8)):
                    pages.append(index * BITS_PER_MAP_PAGE + i)
    else:
        sys.exit("grow_access: unknown usage map type %d" % usage[0])
    return pages


def user_tables(path):
    """The table definition pages of the user tables, by mdb-export of the catalogue."""
    text = subprocess.run(["mdb-export", path, "MSysObjects"], check=True,
                          capture_output=True).stdout.decode("utf-8", "replace")
    pages = {}
    for entry in csv.DictReader(io.StringIO(text)):
        flags = int(entry["Flags"] or 0) & 0xFFFFFFFF
        if entry["Type"] == "1" and not flags & 0x80000002:
            pages[int(entry["Id"]) & 0x00FFFFFF] = entry["Name"]
    return pages


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    source, target, megabytes = sys.argv[1], sys.argv[2], float(sys.argv[3])
    data = bytearray(open(source, "rb").read())
    if len(data) < PAGE or data[0x14] < 1:
        sys.exit("grow_access: %s is not a Jet 4 or later file" % source)
    count = len(data) // PAGE
    del data[count * PAGE:]

    # Data pages by the table that owns them; the user table with the most is grown.
    owners = {}
    for page in range(count):
        base = page * PAGE
        if data[base] == 0x01 and data[base + 4:base + 8] != b"LVAL":
            owners.setdefault(u32(data, base + 4), []).append(page)
    tables = user_tables(source)
    candidates = [(len(pages), owner) for owner, pages in owners.items() if owner in tables]
    if not candidates:
        sys.exit("grow_access: %s has no user table with rows" % source)
    _, tdef = max(candidates)
    tdef_base = tdef * PAGE
    used = u32(data, tdef_base + 55)
    map_start, map_end = row_bounds(data, used >> 8, used & 0xFF)
    usage = bytes(data[map_start:map_end])
    own = [
        p for p in mapped_pages(data, usage)
        if p < count and data[p * PAGE] == 0x01 and u32(data, p * PAGE + 4) == tdef
    ]
    if not own:
        sys.exit("grow_access: the table's usage map lists none of its pages")

    copies = max(0, int((megabytes * 1e6 - len(data)) // (len(own) * PAGE)))
    for _ in range(copies):
        for page in own:
            data += data[page * PAGE:(page + 1) * PAGE]
    pages = own + list(range(count, count + copies * len(own)))

    # The new map: one bitmap page for every 32736 pages, pointed to from the map's row.
    total = len(data) // PAGE
    map_pages = (max(pages) // BITS_PER_MAP_PAGE) + 1
    if 1 + 4 * map_pages > len(usage):
        sys.exit("grow_access: the usage map's row cannot point to %d map pages" % map_pages)
    row = bytearray(len(usage))
    row[0] = 1
    for index in range(map_pages):
        bitmap = bytearray(PAGE - 4)
        for page in pages:
            if page // BITS_PER_MAP_PAGE == index:
                bit = page % BITS_PER_MAP_PAGE
                bitmap[bit // 8] |= 1 << (bit % 8)
        struct.pack_into("<I", row, 1 + 4 * index, total + index)
        data += b"\x05\x01\x00\x00" + bitmap
    data[map_start:map_end] = row
    rows = u32(data, tdef_base + 16)
    struct.pack_into("<I", data, tdef_base + 16, min(rows * (copies + 1), 0xFFFFFFFF))

    with open(target, "wb") as out:
        out.write(data)
    print(tables[tdef])


if __name__ == "__main__":
    main()
