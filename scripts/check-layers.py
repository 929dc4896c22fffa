#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Fails when an include crosses a layer upwards, the window toolkit shows
up below app/, or a layer includes from a folder outside the product (the
tests, the fuzz targets, the tools).

The layers and their order are read from the diagram in ARCHITECTURE.md (top
layer first), so the document and the check cannot drift apart.

    check-layers.py [REPO_ROOT]
"""
import pathlib
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def layers_from(architecture: pathlib.Path) -> list[str]:
    """The folder names of the first fenced block, bottom layer first."""
    text = architecture.read_text(encoding="utf-8")
    block = text.split("```")[1]
    names = [m.group(1) for m in re.finditer(r"^([a-z]+)/\s", block, re.MULTILINE)]
    if len(names) < 2:
        sys.exit(f"{architecture}: no layer diagram found in its first fenced block")
    return list(reversed(names))


def outside_from(architecture: pathlib.Path) -> list[str]:
    """The folders listed beside the layers, as "- `name/`: ..." items."""
    text = architecture.read_text(encoding="utf-8")
    return re.findall(r"^- `([a-z]+)/`", text, re.MULTILINE)


def violations(root: pathlib.Path, layers: list[str], outside: list[str]) -> list[str]:
    rank = {name: i for i, name in enumerate(layers)}
    top = layers[-1]
    found = []
    for layer in layers:
        for source in sorted((root / layer).rglob("*")):
            if source.suffix == ".ui" and layer != top:
                found.append(f"{source.relative_to(root)}: a form outside {top}/")
            if source.suffix not in (".h", ".cpp"):
                continue
            lines = source.read_text(encoding="utf-8", errors="replace").splitlines()
            for number, line in enumerate(lines, 1):
                m = INCLUDE.match(line)
                if not m:
                    continue
                where = f"{source.relative_to(root)}:{number}"
                bracket, header = m.groups()
                if layer != top and (re.match(r"Qt|Q[A-Z]", header) or header.startswith("ui_")):
                    found.append(f"{where}: {header} is the window toolkit, allowed only in {top}/")
                target = header.split("/", 1)[0] if "/" in header else None
                if bracket == '"' and target in rank and rank[target] > rank[layer]:
                    found.append(f"{where}: {layer}/ includes {header} from the layer above it")
                if bracket == '"' and target in outside:
                    found.append(f"{where}: {layer}/ includes {header}, which is outside the product")
    return found


def main() -> int:
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).parent.parent)
    layers = layers_from(root / "ARCHITECTURE.md")
    found = violations(root, layers, outside_from(root / "ARCHITECTURE.md"))
    for line in found:
        print(line)
    print(f"layers {' < '.join(layers)}: {len(found)} violation(s)")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
