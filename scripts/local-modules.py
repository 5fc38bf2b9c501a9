#!/usr/bin/env python3
"""Prints a Python script and every module of its own folder that it imports,
directly or through another such module, one path a line. scripts/release.sh
ships the report tool with what it prints, so a module split off the tool
later is shipped too. Modules of the standard library are not printed; a
package (a folder with __init__.py) is printed as its folder.

  local-modules.py SCRIPT
"""
import ast
import pathlib
import sys


def imported_names(path):
    """Top-level names of every import in a module, wherever it stands
    (imports inside functions count), relative imports included."""
    tree = ast.parse(path.read_text(encoding="utf-8"), filename=str(path))
    for node in ast.walk(tree):
        if isinstance(node, ast.Import):
            for alias in node.names:
                yield alias.name.split(".")[0]
        elif isinstance(node, ast.ImportFrom):
            if node.module:
                yield node.module.split(".")[0]
            elif node.level:
                # "from . import name": name is a module beside this one.
                for alias in node.names:
                    yield alias.name


def local_modules(script):
    folder = script.parent
    found = [script]
    queue = [script]
    while queue:
        for name in imported_names(queue.pop()):
            module, package = folder / (name + ".py"), folder / name
            if module.is_file() and module not in found:
                found.append(module)
                queue.append(module)
            elif (package / "__init__.py").is_file() and package not in found:
                found.append(package)
                queue.extend(sorted(package.rglob("*.py")))
    return found


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: local-modules.py SCRIPT")
    script = pathlib.Path(sys.argv[1])
    if not script.is_file():
        sys.exit(f"local-modules: {script} does not exist")
    for path in local_modules(script):
        print(path)


if __name__ == "__main__":
    main()
