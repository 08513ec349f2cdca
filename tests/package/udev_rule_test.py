"""udev_rule_test.py <rules file>: the rule's match keys and assignments
replayed on simulated device events: the device's node gets its group, mode
and the ModemManager flag, and nothing else gets anything. `udevadm verify`
checks the syntax where it exists (Debian 12's udevadm has no "verify")."""
import fnmatch
import re
import shutil
import subprocess
import sys

# KEY{attribute}OP"value", then a comma or the end of the line.
TOKEN = re.compile(r'\s*([A-Z_]+)(?:\{(\w+)\})?\s*(==|!=|\+=|-=|:=|=)\s*"([^"]*)"\s*(?:,|$)')
MATCH = ("==", "!=")


def read_rules(text):
    """Each rule as its (key, attribute, operator, value) tokens."""
    rules = []
    for line in text.splitlines():
        line = line.strip()
        if not line or line.startswith("#"):
            continue
        tokens, position = [], 0
        while position < len(line):
            token = TOKEN.match(line, position)
            if not token:
                raise ValueError(f"cannot read {line[position:]!r}")
            tokens.append(token.groups())
            position = token.end()
        rules.append(tokens)
    return rules


def play(rules, event):
    """The assignments the rules make for an event: its ACTION, SUBSYSTEM and
    KERNEL, and under "devices" the attributes of the node and each device above
    it, of which one must match all the ATTRS keys of a rule. As udev does, a
    GOTO to a label that no rule has is ignored."""
    def matches(key, attribute, operator, value, device):
        actual = device.get(attribute, "") if key == "ATTRS" else event.get(key, "")
        return fnmatch.fnmatchcase(actual, value) == (operator == "==")

    labels = {value for rule in rules for key, _, _, value in rule if key == "LABEL"}
    assigned, goto = {}, None
    for rule in rules:
        if goto is not None and ("LABEL", None, "=", goto) not in rule:
            continue
        goto = None
        keys = [token for token in rule if token[2] in MATCH]
        if any(all(matches(*key, device) for key in keys) for device in event["devices"]):
            for key, attribute, operator, value in rule:
                if key == "GOTO":
                    goto = value if value in labels else None
                elif key != "LABEL" and operator not in MATCH:
                    assigned[f"{key}{{{attribute}}}" if attribute else key] = value
    return assigned


def event(action="add", subsystem="tty", kernel="ttyACM0", vendor="0525", product="a4a6"):
    return {"ACTION": action, "SUBSYSTEM": subsystem, "KERNEL": kernel,
            "devices": [{}, {"bInterfaceClass": "02"}, {"idVendor": vendor, "idProduct": product},
                        {"idVendor": "1d6b", "idProduct": "0002"}]}


def check(path):
    with open(path) as rules_file:
        rules = read_rules(rules_file.read())
    wanted = {"GROUP": "dialout", "MODE": "0660", "ENV{ID_MM_DEVICE_IGNORE}": "1"}
    # The device's node, then what differs from it in events that get nothing.
    cases = [({}, wanted)] + [(other, {}) for other in (
        {"action": "remove"}, {"vendor": "1d6b"}, {"product": "a4a7"}, {"kernel": "ttyUSB0"},
        {"subsystem": "block", "kernel": "sda"})]
    failures = [f"{case or 'the device'} gets {play(rules, event(**case))}, not {expected}"
                for case, expected in cases if play(rules, event(**case)) != expected]
    udevadm = shutil.which("udevadm")
    if udevadm and "verify" in subprocess.run([udevadm, "--help"], capture_output=True, text=True).stdout:
        verify = subprocess.run([udevadm, "verify", path], capture_output=True, text=True)
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
