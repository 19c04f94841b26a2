#!/usr/bin/env python3
"""Prints every storage and stream of a compound file, one per line, read with olefile:
"D <storage>" for a storage, "S <storage>/<stream> <hex bytes>" for a stream."""
import sys

import olefile

ole = olefile.OleFileIO(sys.argv[1])
for entry in sorted(ole.listdir(streams=True, storages=True)):
    path = "/".join(entry)
    if ole.get_type(entry) == olefile.STGTY_STORAGE:
        print("D " + path)
    else:
        print("S %s %s" % (path, ole.openstream(entry).read().hex()))
