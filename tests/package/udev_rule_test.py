"""udev_rule_test.py <rules file>: the udev rule checked without udevd
(Debian 12's udevadm has no "verify", which runs where it exists): its syntax,
what it does on device events, and its place before 73-seat-late."""
import fnmatch
import os
import re
import shutil
import subprocess
import sys

MATCH = {"==", "!="}
ASSIGN = {"=", ":=", "+=", "-="}
# The keys a rule for a device node uses: operators allowed, {attribute} taken.
KEYS = {
    "ACTION": (MATCH, False), "SUBSYSTEM": (MATCH, False), "KERNEL": (MATCH, False),
    "SUBSYSTEMS": (MATCH, False), "KERNELS": (MATCH, False), "DRIVERS": (MATCH, False),
    "ATTRS": (MATCH, True), "ATTR": (MATCH | ASSIGN, True), "ENV": (MATCH | ASSIGN, True),
    "GROUP": (ASSIGN, False), "MODE": (ASSIGN, False), "OWNER": (ASSIGN, False),
    "TAG": (ASSIGN, False), "SYMLINK": (ASSIGN, False), "GOTO": ({"="}, False),
    "LABEL": ({"="}, False),
}
TOKEN = re.compile(r'\s*([A-Z_]+)(?:\{([^{}"]*)\})?\s*(==|!=|\+=|-=|:=|=)\s*"((?:[^"\\]|\\.)*)"\s*(,|$)')


def parse_rules(text):
    """Each rule as a list of (key, attribute, operator, value); ValueError on bad syntax."""
    rules = []
    for number, line in enumerate(text.replace("\\\n", "").splitlines(), 1):
        if not line.strip() or line.lstrip().startswith("#"):
            continue
        tokens, position = [], 0
        while position < len(line):
            token = TOKEN.match(line, position)
            if not token or (token.group(5) == "," and token.end() == len(line)):
                raise ValueError(f"rule {number}: cannot read {line[position:]!r}")
            key, attribute, operator, value, _ = token.groups()
            operators, braces = KEYS.get(key, (set(), False))
            if operator not in operators or braces != (attribute is not None):
                raise ValueError(f"rule {number}: {key} {operator} with attribute {attribute!r}")
            tokens.append((key, attribute, operator, value))
            position = token.end()
        rules.append(tokens)
    labels = {value for rule in rules for key, _, _, value in rule if key == "LABEL"}
    for rule in rules:
        for key, _, _, value in rule:
            if key == "GOTO" and value not in labels:
                raise ValueError(f"GOTO {value} has no LABEL")
    return rules


def play(rules, device):
    """The assignments the rules make for a device event: ACTION, SUBSYSTEM,
    KERNEL and "parents", the attribute dicts from the device upwards."""
    assigned, goto = {}, None
    for rule in rules:
        if goto is not None:
            goto = None if ("LABEL", None, "=", goto) in rule else goto
            continue
        parents, ok = device["parents"], True
        for key, attribute, operator, value in rule:
            if operator not in MATCH:
                continue
            if key == "ATTRS":  # all ATTRS of a rule match the same parent
                parents = [p for p in parents if fnmatch.fnmatchcase(p.get(attribute, ""), value)]
                found = bool(parents)
            else:
                found = fnmatch.fnmatchcase(device[key], value)
            ok = ok and found == (operator == "==")
        for key, attribute, operator, value in rule if ok else []:
            if key == "GOTO":
                goto = value
            elif operator not in MATCH and key != "LABEL":
                assigned[f"{key}{{{attribute}}}" if attribute else key] = value
    return assigned


def event(action="add", subsystem="tty", kernel="ttyACM0", vendor="0525", product="a4a6"):
    usb_device = {"idVendor": vendor, "idProduct": product}
    return {"ACTION": action, "SUBSYSTEM": subsystem, "KERNEL": kernel,
            "parents": [{}, {"bInterfaceClass": "02"}, usb_device, {"idVendor": "1d6b"}]}


def check(path):
    failures = []
    number = re.match(r"(\d+)-.*\.rules$", os.path.basename(path))
    if not number or int(number.group(1)) >= 73:
        failures.append("not a .rules file numbered before 73-seat-late")
    with open(path) as rules_file:
        rules = parse_rules(rules_file.read())
    wanted = {"GROUP": "dialout", "MODE": "0660", "ENV{ID_MM_DEVICE_IGNORE}": "1"}
    if play(rules, event()) != wanted:
        failures.append(f"the device's node gets {play(rules, event())}, not {wanted}")
    for other in (event(action="remove"), event(vendor="1234"), event(product="a4a7"),
                  event(kernel="ttyUSB0"), event(subsystem="block", kernel="sda")):
        if play(rules, other):
            failures.append(f"{other} gets {play(rules, other)}")
    udevadm = shutil.which("udevadm")
    help_text = udevadm and subprocess.run([udevadm, "--help"], capture_output=True, text=True)
    if help_text and "verify" in help_text.stdout:
        verify = subprocess.run(["udevadm", "verify", path], capture_output=True, text=True)
        if verify.returncode != 0:
            failures.append(f"udevadm verify: {verify.stdout}{verify.stderr}")
    return failures


if __name__ == "__main__":
    try:
        FAILURES = check(sys.argv[1])
    except ValueError as error:
        FAILURES = [str(error)]
    for failure in FAILURES:
        print("FAIL:", failure)
    sys.exit(1 if FAILURES else 0)
