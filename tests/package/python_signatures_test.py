"""python_signatures_test.py <example.py> <satvaro.h> <version script>

The public header declares the functions the version script exports, and the
Python example declares each with the result and argument types of its
prototype: a wrong or missing declaration would make ctypes pass or read values
the library does not expect.
"""
import ctypes
import importlib.util
import os
import re
import subprocess
import sys

C_TYPES = {"char *": ctypes.c_char_p, "const char *": ctypes.c_char_p, "int": ctypes.c_int,
           "SATVARO_USHORT": ctypes.c_ushort, "void": None}
PROTOTYPE = re.compile(r"SATVARO_API\s+([\w\s*]+?)\s*\b(\w+)\s*\(([^)]*)\)\s*;")
MAP_NAMES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "exports", "map_names.sh")


def c_type(declaration, named):
    """The ctypes type of a result (not named) or a parameter (named)."""
    words = declaration.replace("*", " * ").split()
    return C_TYPES[" ".join(words[:-1] if named else words)]


def main(example_path, header_path, map_path):
    module_spec = importlib.util.spec_from_file_location("satvaro_ctypes", example_path)
    example = importlib.util.module_from_spec(module_spec)
    module_spec.loader.exec_module(example)
    declared = {}
    with open(header_path) as header:
        for result, name, parameters in PROTOTYPE.findall(header.read()):
            arguments = [c_type(p, named=True) for p in parameters.split(",")
                         if p.strip() not in ("", "void")]
            declared[name] = (c_type(result, named=False), arguments)
    exported = set(subprocess.run([MAP_NAMES, map_path], capture_output=True, text=True,
                                  check=True).stdout.split())

    failures = []
    if set(declared) != exported:
        failures.append(f"header and exports differ: {sorted(set(declared) ^ exported)}")
    if set(example.SIGNATURES) != exported:
        failures.append(f"example and exports differ: {sorted(set(example.SIGNATURES) ^ exported)}")
    for name, signature in sorted(declared.items()):
        mine = example.SIGNATURES.get(name)
        if mine is not None and (mine[0], list(mine[1])) != signature:
            failures.append(f"{name}: example {mine}, header {signature}")
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
