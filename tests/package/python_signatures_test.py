"""python_signatures_test.py <example.py> <satvaro.h> <exported-functions program>

The Python example declares every exported function of the list of SAT
functions (as the program prints it) with its result and argument types, and
the public header declares no other: a wrong or missing declaration would make
ctypes pass or read values the library does not expect. (The build checks the
header's prototypes against the list.)
"""
import ctypes
import importlib.util
import re
import subprocess
import sys

C_TYPES = {"char*": ctypes.c_char_p, "int": ctypes.c_int, "void": None, "INT": ctypes.c_int,
           "USHORT": ctypes.c_ushort, "TEXT": ctypes.c_char_p, "CODE": ctypes.c_char_p}
PROTOTYPE_NAME = re.compile(r"SATVARO_API\s+[\w\s*]+?\b(\w+)\s*\(")


def main(example_path, header_path, table_program):
    module_spec = importlib.util.spec_from_file_location("satvaro_ctypes", example_path)
    example = importlib.util.module_from_spec(module_spec)
    module_spec.loader.exec_module(example)
    listed = {}
    for line in subprocess.run([table_program], capture_output=True, text=True,
                               check=True).stdout.splitlines():
        name, result, _timeout, _limit, *kinds = line.split()
        listed[name] = (C_TYPES[result], [C_TYPES[kind] for kind in kinds])
    with open(header_path) as header:
        declared = set(PROTOTYPE_NAME.findall(header.read()))

    failures = []
    if declared != set(listed):
        failures.append(f"header and list differ: {sorted(declared ^ set(listed))}")
    if set(example.SIGNATURES) != set(listed):
        failures.append(f"example and list differ: {sorted(set(example.SIGNATURES) ^ set(listed))}")
    for name, signature in sorted(listed.items()):
        mine = example.SIGNATURES.get(name)
        if mine is not None and (mine[0], list(mine[1])) != signature:
            failures.append(f"{name}: example {mine}, list {signature}")
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
