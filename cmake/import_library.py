#!/usr/bin/env python3
"""Writes an import library in Microsoft's format for a built DLL, from its own export table."""
import os
import subprocess
import sys


def main():
    if len(sys.argv) != 6:
        sys.exit("usage: import_library.py <llvm-readobj> <llvm-dlltool> <machine> <dll> <lib>")
    readobj, dlltool, machine, dll, lib = sys.argv[1:]
    listing = subprocess.run([readobj, "--coff-exports", dll], check=True,
                             stdout=subprocess.PIPE, text=True).stdout
    names = [line.split(":", 1)[1].strip() for line in listing.splitlines()
             if line.strip().startswith("Name:")]
    if not names:
        sys.exit("import_library.py: %s exports nothing" % dll)
    definition = lib[:-len(".lib")] + ".exports.def"
    with open(definition, "w") as f:
        f.write("LIBRARY %s\nEXPORTS\n" % os.path.basename(dll))
        f.writelines("    %s\n" % name for name in names)
    subprocess.run([dlltool, "-m", machine, "-d", definition, "-l", lib], check=True)


if __name__ == "__main__":
    main()
