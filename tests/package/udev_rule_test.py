"""udev_rule_test.py <rules file>

The udev rule, checked without udevd (Debian 12's udevadm has no "verify"):
- its syntax, by a parser of udev's rule grammar (keys, attribute braces,
  operators allowed for each key, quoted values, GOTO targets), itself checked
  on broken lines;
- what it does, by playing it on device events: the device's ttyACM node gets
  group dialout, mode 0660 and ID_MM_DEVICE_IGNORE, other nodes nothing;
- its place: a .rules file numbered before 73-seat-late.
Where udevadm has "verify", it is run too.
"""
import fnmatch
import os
import re
import subprocess
import sys

MATCH = {"==", "!="}
ASSIGN = {"=", ":="}
# key: (operators allowed, whether {attribute} is required, optional or absent)
KEYS = {
    "ACTION": (MATCH, "absent"),
    "DEVPATH": (MATCH, "absent"),
    "KERNEL": (MATCH, "absent"),
    "KERNELS": (MATCH, "absent"),
    "SUBSYSTEM": (MATCH, "absent"),
    "SUBSYSTEMS": (MATCH, "absent"),
    "DRIVER": (MATCH, "absent"),
    "DRIVERS": (MATCH, "absent"),
    "TAGS": (MATCH, "absent"),
    "CURRENT_TAGS": (MATCH, "absent"),
    "RESULT": (MATCH, "absent"),
    "PROGRAM": (MATCH | {"="}, "absent"),
    "ATTRS": (MATCH, "required"),
    "CONST": (MATCH, "required"),
    "TEST": (MATCH, "optional"),
    "ENV": (MATCH | ASSIGN | {"+="}, "required"),
    "ATTR": (MATCH | ASSIGN, "required"),
    "SYSCTL": (MATCH | ASSIGN, "required"),
    "NAME": (MATCH | ASSIGN, "absent"),
    "SYMLINK": (MATCH | ASSIGN | {"+=", "-="}, "absent"),
    "TAG": (ASSIGN | {"+=", "-="}, "absent"),
    "OWNER": (ASSIGN, "absent"),
    "GROUP": (ASSIGN, "absent"),
    "MODE": (ASSIGN, "absent"),
    "SECLABEL": (ASSIGN | {"+="}, "required"),
    "RUN": (ASSIGN | {"+="}, "optional"),
    "IMPORT": ({"="}, "required"),
    "OPTIONS": (ASSIGN | {"+="}, "absent"),
    "LABEL": ({"="}, "absent"),
    "GOTO": ({"="}, "absent"),
}
TOKEN = re.compile(r'\s*([A-Z_]+)(?:\{([^{}"]*)\})?\s*(==|!=|\+=|-=|:=|=)\s*"((?:[^"\\]|\\.)*)"\s*')


class RuleError(Exception):
    pass


def logical_lines(text):
    """(line number, text) of each rule, continuation lines joined."""
    pending, start = "", 0
    for number, line in enumerate(text.splitlines(), 1):
        if not pending:
            start = number
        if line.endswith("\\"):
            pending += line[:-1]
            continue
        line, pending = pending + line, ""
        if line.strip() and not line.lstrip().startswith("#"):
            yield start, line
    if pending:
        raise RuleError(f"line {start}: continuation at the end of the file")


def parse_rule(line):
    """The rule's tokens (key, attribute, operator, value), or RuleError."""
    tokens, position = [], 0
    while True:
        token = TOKEN.match(line, position)
        if not token:
            raise RuleError(f"cannot read a key=value pair at: {line[position:]!r}")
        key, attribute, operator, value = token.groups()
        if key not in KEYS:
            raise RuleError(f"unknown key {key}")
        operators, braces = KEYS[key]
        if operator not in operators:
            raise RuleError(f"operator {operator} not allowed for {key}")
        if braces == "required" and not attribute:
            raise RuleError(f"{key} needs an attribute in braces")
        if braces == "absent" and attribute is not None:
            raise RuleError(f"{key} takes no attribute")
        tokens.append((key, attribute, operator, value))
        position = token.end()
        if position == len(line):
            return tokens
        if line[position] != ",":
            raise RuleError(f"expected a comma at: {line[position:]!r}")
        position += 1


def parse_rules(text):
    """The rules of a file as lists of tokens, or RuleError."""
    rules = []
    for number, line in logical_lines(text):
        try:
            rules.append(parse_rule(line))
        except RuleError as error:
            raise RuleError(f"line {number}: {error}") from None
    labels = {value for rule in rules for key, _, _, value in rule if key == "LABEL"}
    for rule in rules:
        for key, _, _, value in rule:
            if key == "GOTO" and value not in labels:
                raise RuleError(f"GOTO {value} has no LABEL")
    return rules


def matches(pattern, value):
    return any(fnmatch.fnmatchcase(value, alternative) for alternative in pattern.split("|"))


def play(rules, device):
    """The assignments the rules make for a device event: a dict with the
    event's ACTION, SUBSYSTEM, KERNEL and "parents", a list of attribute
    dicts from the device upwards."""
    assigned, goto = {}, None
    for rule in rules:
        keys = {key for key, _, _, _ in rule}
        if goto is not None:
            if ("LABEL", None, "=", goto) in rule:
                goto = None
            continue
        if keys == {"LABEL"}:
            continue
        ok = True
        parents = device["parents"]
        for key, attribute, operator, value in rule:
            if operator not in MATCH:
                continue
            if key == "ATTRS":
                hits = [p for p in parents if attribute in p and matches(value, p[attribute])]
                parents = hits if hits else []  # all ATTRS of a rule: the same parent
                found = bool(hits)
            elif key == "ENV":
                found = matches(value, assigned.get(f"ENV{{{attribute}}}", ""))
            elif key in ("ACTION", "SUBSYSTEM", "KERNEL"):
                found = matches(value, device[key])
            else:
                raise RuleError(f"the event player does not know {key}")
            ok = ok and found == (operator == "==")
        if not ok:
            continue
        for key, attribute, operator, value in rule:
            if key == "GOTO":
                goto = value
            elif operator not in MATCH:
                assigned[f"{key}{{{attribute}}}" if attribute else key] = value
    return assigned


def event(action="add", subsystem="tty", kernel="ttyACM0", vendor="0525", product="a4a6"):
    interface = {"bInterfaceClass": "02", "bInterfaceNumber": "00"}
    usb_device = {"idVendor": vendor, "idProduct": product}
    return {"ACTION": action, "SUBSYSTEM": subsystem, "KERNEL": kernel,
            "parents": [{}, interface, usb_device, {"idVendor": "1d6b"}]}


BROKEN = [
    'GROUP=="dialout"',                       # a match operator on an assignment
    'KERNEL="ttyACM*"',                       # an assignment on a match key
    'ATTRS{idVendor}=="0525" MODE="0660"',    # no comma
    'ATTRS{idVendor}==0525',                  # value not quoted
    'ATTRS=="0525"',                          # attribute missing
    'GROUPS="dialout"',                       # no such key
    'ENV{ID_MM_DEVICE_IGNORE}="1",',          # trailing comma
    'GOTO="nowhere"',                         # no such label
    'MODE="0660", GROUP="dialout" \\',        # continued past the end
]


def check_parser():
    """The parser refuses each broken rule and reads well-formed ones."""
    failures = []
    for line in BROKEN:
        try:
            parse_rules(line + "\n")
            failures.append(f"the parser accepts: {line}")
        except RuleError:
            pass
    parse_rules('SUBSYSTEM=="tty", \\\n  TAG+="uaccess", RUN{builtin}+="kmod load x"\n'
                'KERNEL=="a|b", GOTO="x"\nLABEL="x"\n')
    return failures


def check_rule(path):
    failures = []
    name = os.path.basename(path)
    number = re.match(r"(\d+)-.*\.rules$", name)
    if not number or int(number.group(1)) >= 73:
        failures.append(f"{name}: not a .rules file numbered before 73-seat-late")
    with open(path) as rules_file:
        rules = parse_rules(rules_file.read())

    device = play(rules, event())
    wanted = {"GROUP": "dialout", "MODE": "0660", "ENV{ID_MM_DEVICE_IGNORE}": "1"}
    if device != wanted:
        failures.append(f"the device's node gets {device}, not {wanted}")
    others = {
        "removal": event(action="remove"),
        "another vendor": event(vendor="1234"),
        "another product": event(product="a4a7"),
        "a USB serial adapter's node": event(kernel="ttyUSB0"),
        "a block device": event(subsystem="block", kernel="sda"),
    }
    for what, other in others.items():
        if play(rules, other):
            failures.append(f"{what} gets {play(rules, other)}")
    return failures


def udevadm_verify(path):
    try:
        help_text = subprocess.run(["udevadm", "--help"], capture_output=True, text=True).stdout
    except FileNotFoundError:
        return []
    if "verify" not in help_text:
        return []
    result = subprocess.run(["udevadm", "verify", path], capture_output=True, text=True)
    return [] if result.returncode == 0 else [f"udevadm verify: {result.stdout}{result.stderr}"]


def main(path):
    try:
        failures = check_parser() + check_rule(path) + udevadm_verify(path)
    except RuleError as error:
        failures = [f"{path}: {error}"]
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
