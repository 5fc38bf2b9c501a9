#!/usr/bin/env python3
"""Writes the WiX v4 form of each kit of kit/wix3 into kit/wix4.

  python3 kit/wix4.py           rewrites kit/wix4/*.wxi
  python3 kit/wix4.py --check   fails when a committed copy differs

The v3 include is the one source: v4 takes the v4 namespace, BinaryRef for
BinaryKey, a <Custom> element's condition in its Condition attribute, and
OnExit for the end-of-run sequence numbers -1, -2 and -3 (its schema admits
no negative Sequence).
"""
import html
import pathlib
import re
import sys

KIT = pathlib.Path(__file__).resolve().parent
V3_NAMESPACE = "http://schemas.microsoft.com/wix/2006/wi"
V4_NAMESPACE = "http://wixtoolset.org/schemas/v4/wxs"
ON_EXIT = {"-1": "success", "-2": "cancel", "-3": "error"}


def custom_with_condition(match):
    attributes, condition = match.group(1), html.unescape(match.group(2).strip())
    return f'<Custom{attributes} Condition="{html.escape(condition, quote=True)}"/>'


def v4(name, text):
    declaration, rest = text.split("\n", 1)
    notice = (f"<!-- Generated from kit/wix3/{name} by kit/wix4.py; do not edit. The WiX v4 form:\n"
              "     include it inside <Package> (v4 has no <Product>). -->")
    rest = rest.replace(f'xmlns="{V3_NAMESPACE}"', f'xmlns="{V4_NAMESPACE}"')
    rest = rest.replace(' BinaryKey="', ' BinaryRef="')
    rest = re.sub(r"<Custom(\s[^>]*[^/])>(.*?)</Custom>", custom_with_condition, rest, flags=re.S)
    rest = re.sub(r'(<Custom\s[^>]*)Sequence="(-[123])"', lambda m: f'{m.group(1)}OnExit="{ON_EXIT[m.group(2)]}"',
                  rest)
    return f"{declaration}\n{notice}\n{rest}"


def main():
    check = sys.argv[1:] == ["--check"]
    drifted = []
    for source in sorted((KIT / "wix3").glob("*.wxi")):
        target = KIT / "wix4" / source.name
        text = v4(source.name, source.read_text(encoding="utf-8"))
        if check:
            if not target.exists() or target.read_text(encoding="utf-8") != text:
                drifted.append(str(target.relative_to(KIT.parent)))
        else:
            target.parent.mkdir(exist_ok=True)
            target.write_text(text, encoding="utf-8")
    if drifted:
        sys.exit("wix4: not as kit/wix3 makes them (run python3 kit/wix4.py): " + ", ".join(drifted))


if __name__ == "__main__":
    main()
