#!/usr/bin/env python3
"""Writes api/InterfaceTable.h and .cpp from the interface files in data/.

Each interface file stays the one table of its methods: the program takes
their names, slots, dispatch identifiers, arguments and defaults from the
arrays written here, and serves the <interface> element, copied byte for
byte, as its introspection data. Nothing is parsed at run time.

usage: InterfaceTable.py OUTPUT_DIR INTERFACE.xml...
"""
import os
import sys
import xml.etree.ElementTree as ET

PREFIX = "com.velkaro.Quorvex."


def c_string(text):
    """A C++ string literal of text's UTF-8 bytes, one line of source per line of text."""
    out = []
    for line in text.encode("utf-8").splitlines(keepends=True):
        chars = []
        for byte in line:
            c = chr(byte)
            if c == "\\" or c == '"':
                chars.append("\\" + c)
            elif c == "\n":
                chars.append("\\n")
            elif 32 <= byte < 127:
                chars.append(c)
            else:
                chars.append("\\%03o" % byte)
        out.append('"' + "".join(chars) + '"')
    return "\n    ".join(out) if out else '""'


def element(text):
    """The <interface> element as introspection gives it: from the first
    <interface to the last </interface>, with a line end."""
    begin = text.find("<interface")
    end = text.rfind("</interface>")
    if begin < 0 or end < 0:
        sys.exit("no <interface> element")
    return text[begin:end + len("</interface>")] + "\n"


def methods(root):
    for method in root.iter("method"):
        slot, disp_id = 0, 0
        args, result = [], ""
        for annotation in method.iter("annotation"):
            key = annotation.get("name", "")[len(PREFIX):]
            if key == "Slot":
                slot = int(annotation.get("value"))
            elif key == "DispId":
                disp_id = int(annotation.get("value"), 16)
        for arg in method.findall("arg"):
            if arg.get("direction") == "out":
                result = arg.get("type", "")
                continue
            default = any(a.get("name", "")[len(PREFIX):] == "Default" and a.get("value") == "true"
                          for a in arg.findall("annotation"))
            args.append((arg.get("name", ""), arg.get("type", ""), default))
        yield method.get("name"), slot, disp_id, args, result


def main():
    out_dir, files = sys.argv[1], sys.argv[2:]
    os.makedirs(out_dir, exist_ok=True)
    body = []
    interfaces = []
    for index, path in enumerate(files):
        with open(path, encoding="utf-8") as f:
            text = f.read()
        root = ET.fromstring(text.encode("utf-8"))
        name = root.find("interface").get("name")
        rows = []
        for m, (method, slot, disp_id, args, result) in enumerate(methods(root)):
            arg_array = "nullptr"
            if args:
                arg_array = "kArgs%d_%d" % (index, m)
                body.append("constexpr InterfaceArg %s[] = {%s};" % (
                    arg_array, ", ".join('{"%s", "%s", %s}' % (a, t, "true" if d else "false") for a, t, d in args)))
            rows.append('    {"%s", %d, 0x%08xu, %s, %d, "%s"},' % (method, slot, disp_id, arg_array, len(args), result))
        body.append("constexpr InterfaceMethod kMethods%d[] = {\n%s\n};" % (index, "\n".join(rows)))
        body.append("constexpr char kElement%d[] =\n    %s;" % (index, c_string(element(text))))
        interfaces.append('    {"%s", kElement%d, kMethods%d, %d},' % (name, index, index, len(rows)))

    header = """// Generated from the interface files in data/ by cmake/InterfaceTable.py; do not edit.
#pragma once
#include <QtGlobal>

namespace quorvex::generated {

struct InterfaceArg {
    const char *name;
    const char *type; // its D-Bus signature
    bool defaultValue; // the Default annotation is "true"
};

// One <method> element: a method, or one overload of it, in file order.
struct InterfaceMethod {
    const char *name;
    int slot;       // the Slot annotation, 0 without one
    quint32 dispId; // the DispId annotation, 0 without one
    const InterfaceArg *args; // the in-arguments
    int argCount;
    const char *result; // the type of the (last) out-argument, "" without one
};

struct InterfaceFile {
    const char *name;
    const char *element; // the <interface> element as introspection serves it
    const InterfaceMethod *methods;
    int methodCount;
};

inline constexpr int kInterfaceFileCount = %d;
extern const InterfaceFile kInterfaceFiles[kInterfaceFileCount];

} // namespace quorvex::generated
""" % len(files)
    source = """// Generated from the interface files in data/ by cmake/InterfaceTable.py; do not edit.
#include "api/InterfaceTable.h"

namespace quorvex::generated {

namespace {

%s

} // namespace

const InterfaceFile kInterfaceFiles[kInterfaceFileCount] = {
%s
};

} // namespace quorvex::generated
""" % ("\n".join(body), "\n".join(interfaces))
    for name, text in (("InterfaceTable.h", header), ("InterfaceTable.cpp", source)):
        with open(os.path.join(out_dir, name), "w", encoding="utf-8") as f:
            f.write(text)


if __name__ == "__main__":
    main()
