"""python_signatures_test.py <example.py> <satvaro.h> <expected exports>

The Python example declares every exported function, with the result and
argument types of its prototype in the public header: a wrong or missing
declaration would make ctypes pass or read values the library does not expect.
"""
import ctypes
import importlib.util
import re
import sys

C_TYPES = {
    "char *": ctypes.c_char_p,
    "const char *": ctypes.c_char_p,
    "int": ctypes.c_int,
    "SATVARO_USHORT": ctypes.c_ushort,
    "void": None,
}
PROTOTYPE = re.compile(r"SATVARO_API\s+([\w\s*]+?)\s*\b(\w+)\s*\(([^)]*)\)\s*;")


def c_type(declaration, named):
    """The ctypes type of a result (not named) or a parameter (named)."""
    words = declaration.replace("*", " * ").split()
    return C_TYPES[" ".join(words[:-1] if named else words)]


def header_signatures(header):
    signatures = {}
    for result, name, parameters in PROTOTYPE.findall(header):
        arguments = []
        for parameter in parameters.split(","):
            if parameter.strip() not in ("", "void"):
                arguments.append(c_type(parameter, named=True))
        signatures[name] = (c_type(result, named=False), arguments)
    return signatures


def main(example_path, header_path, exports_path):
    module_spec = importlib.util.spec_from_file_location("satvaro_ctypes", example_path)
    example = importlib.util.module_from_spec(module_spec)
    module_spec.loader.exec_module(example)
    with open(header_path) as header:
        declared = header_signatures(header.read())
    with open(exports_path) as exports:
        exported = set(exports.read().split())

    failures = []
    if set(declared) != exported:
        failures.append(f"header and exports differ: {sorted(set(declared) ^ exported)}")
    if set(example.SIGNATURES) != exported:
        failures.append(f"example and exports differ: {sorted(set(example.SIGNATURES) ^ exported)}")
    for name, (result, arguments) in sorted(declared.items()):
        mine = example.SIGNATURES.get(name)
        if mine is not None and (mine[0], list(mine[1])) != (result, arguments):
            failures.append(f"{name}: example {mine}, header {(result, arguments)}")
    for failure in failures:
        print("FAIL:", failure)
    print(f"{len(declared)} prototypes, {len(example.SIGNATURES)} declarations")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
