#!/usr/bin/env python3
"""Turns 'tovik-reg query KEY -r' output (UTF-8, one "[path]" line per key and one
"name"=TAG:data line per value) into a version 5 .reg file (UTF-16 with a byte order mark), so
that another registry tool can import the same content.

usage: reg_from_query.py ROOT_NAME < query.txt > out.reg
"""
import sys

HEX_TYPES = {"NON": 0, "BIN": 3, "DWE": 5, "LNK": 6, "RSC": 8}


def hex_list(data: bytes) -> str:
    return ",".join(f"{b:02x}" for b in data)


def value_line(name: str, tag: str, text: str) -> str:
    key = "@" if name == "@" else '"' + name.replace("\\", "\\\\").replace('"', '\\"') + '"'
    if tag == "SZ":
        return key + '="' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'
    if tag == "DW":
        number = int(text.split("(")[0]) & 0xFFFFFFFF
        return key + f"=dword:{number:08x}"
    if tag == "EXP":
        return key + "=hex(2):" + hex_list((text + "\0").encode("utf-16-le"))
    if tag == "MLT":
        return key + "=hex(7):" + hex_list(text.replace("|", "\0").encode("utf-16-le"))
    data = bytes(int(token, 16) for token in text.split())
    code = HEX_TYPES.get(tag, 0)
    return key + ("=hex:" if code == 3 else f"=hex({code:x}):") + hex_list(data)


def main() -> None:
    root = sys.argv[1]
    out = ["Windows Registry Editor Version 5.00", ""]
    for raw in sys.stdin.buffer.read().decode("utf-8").split("\n"):
        if not raw:
            continue
        if raw.startswith("["):
            path = raw[1:-1]
            if out[-1] != "":
                out.append("")
            out.append("[" + root + ("\\" + path if path else "") + "]")
            continue
        eq = raw.rindex("=")
        name = raw[1:eq - 1]
        tag, _, text = raw[eq + 1:].partition(":")
        out.append(value_line(name, tag, text))
    out.append("")
    sys.stdout.buffer.write(b"\xff\xfe" + "\r\n".join(out).encode("utf-16-le"))


if __name__ == "__main__":
    main()
