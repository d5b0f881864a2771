#!/usr/bin/env python3
"""Writes lists of known disks of the size and mix of TOSEC's ZX Spectrum
lists (184 lists, 65,519 entries: 4,955 disks, 14,649 SCL archives, 3,005
Hobeta files, the rest other kinds), for measuring identify and have.
Every entry gives a size, a CRC-32, an MD5 and a SHA-1, as TOSEC's do.
The files named after the folder are entered too, each at its own length
and, for a disk shorter than a full one, at 655,360 bytes, spread over the
lists; every other entry's hashes are random.
Usage: make_lists.py FOLDER [FILE...]"""
import hashlib
import os
import random
import sys
import zlib

LISTS, ENTRIES = 184, 65519
MIX = [("trd", 4955), ("scl", 14649), ("$b", 3005)]
random.seed(20261208)
folder, known = sys.argv[1], sys.argv[2:]


def rom(name, data):
    return '<rom name="%s" size="%d" crc="%08x" md5="%s" sha1="%s"/>' % (
        name, len(data), zlib.crc32(data), hashlib.md5(data).hexdigest(),
        hashlib.sha1(data).hexdigest())


def random_rom(name, size):
    return '<rom name="%s" size="%d" crc="%08x" md5="%032x" sha1="%040x"/>' % (
        name, size, random.getrandbits(32), random.getrandbits(128), random.getrandbits(160))


entries = []
for number, path in enumerate(known):
    data = open(path, "rb").read()
    base, extension = os.path.splitext(os.path.basename(path))
    if extension == ".hob":  # a Hobeta file is listed as NAME.$T, by its type
        extension = ".$" + chr(data[8])
    entries.append(rom("%s%s" % (base, extension), data))
    if extension == ".trd" and len(data) < 655360:
        entries.append(rom("%s (full).trd" % base, data + bytes(655360 - len(data))))
for kind, count in MIX:
    for i in range(count):
        if kind == "trd":
            r = random.random()
            size = 655360 if r < 0.726 else 4096 + random.randrange(2544) * 256
        elif kind == "scl":
            files = random.randrange(1, 40)
            size = 9 + 14 * files + random.randrange(files, 2000) * 256 + 4
        else:
            size = 17 + random.randrange(1, 256) * 256
        entries.append(random_rom("%s %d.%s" % (kind, i, kind), size))
others = ENTRIES - len(entries)
for i in range(others):
    entries.append(random_rom("tape %d.tzx" % i, random.randrange(1000, 100000)))
random.shuffle(entries)
os.makedirs(folder, exist_ok=True)
for n in range(LISTS):
    with open(os.path.join(folder, "list%03d.dat" % n), "w") as out:
        out.write('<?xml version="1.0"?>\n<datafile>\n<header><name>List %d</name>'
                  '<description>List %d</description></header>\n' % (n, n))
        for k, entry in enumerate(entries[n::LISTS]):
            out.write('<game name="g%d-%d">%s</game>\n' % (n, k, entry))
        out.write("</datafile>\n")
