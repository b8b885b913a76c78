#!/usr/bin/env python3
"""Writes the .def lines that export a class's public members under their MSVC names too.

clang reads the public header twice, in MSVC mode and in MinGW mode, and reports every member's
decorated name in each ABI. Each MSVC name becomes an alias of the GCC-built member with the
same declaration; the constructor leads to a function that returns `this`, as MSVC callers
expect. So the header stays the only list of members.
"""
import argparse
import json
import os
import subprocess
import sys
import tempfile

MEMBER_KINDS = ("CXXConstructorDecl", "CXXDestructorDecl", "CXXMethodDecl")


def run(command):
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if result.returncode != 0:
        sys.exit("msvc_exports: %s failed:\n%s" % (command[0], result.stderr))
    return result.stdout


def json_objects(text):
    decoder = json.JSONDecoder()
    at = 0
    while True:
        while at < len(text) and text[at].isspace():
            at += 1
        if at >= len(text):
            return
        value, at = decoder.raw_decode(text, at)
        yield value


def public_members(clang, target, flags, source, class_name):
    """(kind, name, type, decorated name) of the public, callable members, in header order."""
    out = run([clang, "--target=" + target, *flags, "-x", "c++", "-std=c++17", "-fsyntax-only",
               "-Xclang", "-ast-dump=json", "-Xclang", "-ast-dump-filter=" + class_name, source])
    for record in json_objects(out):
        if (record.get("kind") != "CXXRecordDecl" or record.get("name") != class_name or
                not record.get("completeDefinition")):
            continue
        access = "public" if record.get("tagUsed") == "struct" else "private"
        members = []
        for node in record.get("inner", []):
            if node.get("kind") == "AccessSpecDecl":
                access = node["access"]
            elif (node.get("kind") in MEMBER_KINDS and access == "public" and
                  not node.get("isImplicit") and not node.get("explicitlyDeleted")):
                members.append((node["kind"], node["name"], node["type"]["qualType"],
                                node["mangledName"]))
        return members
    sys.exit("msvc_exports: no definition of class %s" % class_name)


def msvc_destructor(clang, nm, target, flags, include, class_name, workdir):
    """The name an MSVC caller imports for the destructor (the AST names another variant)."""
    probe = os.path.join(workdir, "probe.cpp")
    obj = os.path.join(workdir, "probe.obj")
    with open(probe, "w") as f:
        f.write('#include "%s"\nvoid probe(%s* p) { p->~%s(); }\n' % (include, class_name, class_name))
    run([clang, "--target=" + target, *flags, "-x", "c++", "-std=c++17", "-c", probe, "-o", obj])
    imported = [line.split()[-1] for line in run([nm, obj]).splitlines()
                if line.split()[-1].startswith("__imp_")]
    if len(imported) != 1:
        sys.exit("msvc_exports: the destructor probe imports %s" % imported)
    return imported[0][len("__imp_"):]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--arch", choices=("i686", "x86_64"), required=True)
    parser.add_argument("--class-name", required=True)
    parser.add_argument("--header", required=True, help="as included, relative to -I")
    parser.add_argument("--include", action="append", default=[])
    parser.add_argument("--msvc-flags", required=True, help="clang response file for MSVC mode")
    parser.add_argument("--constructor", required=True, help="function behind the MSVC constructor")
    parser.add_argument("--clang", default="clang-19")
    parser.add_argument("--nm", default="llvm-nm-19")
    parser.add_argument("--output", required=True)
    args = parser.parse_args()

    includes = ["-I" + path for path in args.include]
    msvc_flags = ["@" + args.msvc_flags] + includes
    gnu_flags = includes
    with tempfile.TemporaryDirectory() as workdir:
        source = os.path.join(workdir, "header.cpp")
        with open(source, "w") as f:
            f.write('#include "%s"\n' % args.header)
        msvc = public_members(args.clang, args.arch + "-pc-windows-msvc", msvc_flags, source,
                              args.class_name)
        gnu = public_members(args.clang, args.arch + "-w64-windows-gnu", gnu_flags, source,
                             args.class_name)
        destructor = msvc_destructor(args.clang, args.nm, args.arch + "-pc-windows-msvc",
                                     msvc_flags, args.header, args.class_name, workdir)

    if [m[:2] for m in msvc] != [g[:2] for g in gnu]:
        sys.exit("msvc_exports: the two readings of %s differ" % args.header)
    lines = []
    constructors = 0
    for (kind, name, signature, msvc_name), (_, _, _, gnu_name) in zip(msvc, gnu):
        # On i686 the AST spells the global symbol prefix; .def files leave it out.
        if args.arch == "i686" and gnu_name.startswith("_"):
            gnu_name = gnu_name[1:]
        if kind == "CXXConstructorDecl":
            if not signature.startswith("void ()"):
                sys.exit("msvc_exports: the wrapper serves only the default constructor, not %s"
                         % signature)
            constructors += 1
            target = args.constructor
        elif kind == "CXXDestructorDecl":
            msvc_name, target = destructor, gnu_name
        else:
            target = gnu_name
        lines.append("    %s = %s\n" % (msvc_name, target))
    if constructors != 1:
        sys.exit("msvc_exports: %d public constructors, expected the default one" % constructors)

    text = ("; Generated from %s: the members of %s under their MSVC names.\nEXPORTS\n"
            % (args.header, args.class_name)) + "".join(lines)
    old = open(args.output).read() if os.path.exists(args.output) else None
    if old != text:
        with open(args.output, "w") as f:
            f.write(text)


if __name__ == "__main__":
    main()
