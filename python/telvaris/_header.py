"""Reads the exports' declarations out of telvaris.h.

Used by the tests to check the package's prototype table against the
header it was written for; the package itself never needs the header.
"""
import re

_TYPES = {"int32_t": "i32", "uint32_t": "u32", "uint16_t": "u16", "uint8_t": "u8", "double": "f64",
          "float": "f32", "void": "void", "char": "char"}


def _type(text):
    text = " ".join(text.replace("const", " ").split())
    if "(" in text:
        return "callback"
    stars = text.count("*")
    base = _TYPES[text.replace("*", " ").split()[0]]
    if not stars:
        return base
    return {"char": "str", "void": "ptr"}.get(base, base + "*")


def declarations(header_text):
    """{export name: (result type, (argument types...))} for every TLV_API."""
    found = {}
    pattern = r"TLV_API\s+([\w\s\*]+?)\s+TLV_CALL\s+(\w+)\s*\(((?:[^()]|\([^()]*\))*)\)\s*;"
    for result, name, args in re.findall(pattern, header_text):
        args = args.strip()
        parts = [] if args in ("", "void") else re.split(r",(?![^()]*\))", args)
        types = []
        for part in parts:
            part = part.strip()
            types.append("callback" if "(" in part else _type(re.sub(r"\w+$", "", part)))
        found[name] = (_type(result), tuple(types))
    return found
