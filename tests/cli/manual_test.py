#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
# The manual page and --help cannot drift apart: every command, option and exit status that
# `rundelt-cli --help` names is named by rundelt-cli(1) too.
# usage: manual_test.py RUNDELT_CLI PAGE.1
import re
import subprocess
import sys


def page_words(page_source):
    """The page's text as troff would print it, near enough: escapes of dashes and fonts gone."""
    text = page_source.replace("\\-", "-")
    text = re.sub(r"\\f[BIRP]", "", text)
    return text


def main():
    cli, page = sys.argv[1], sys.argv[2]
    help_text = subprocess.run([cli, "--help"], capture_output=True, text=True, check=True).stdout
    with open(page, encoding="utf-8") as f:
        source = f.read()
    text = page_words(source)

    commands = sorted(set(re.findall(r"^\s*rundelt-cli ([a-z]+)\b", help_text, re.M)))
    options = sorted(set(re.findall(r"(?<![\w-])(--?[a-z][a-z-]*)", help_text)))
    statuses_line = next(line for line in help_text.splitlines() if "終了コード" in line)
    statuses = re.findall(r"(?<!\d)(\d{1,3})(?!\d)", statuses_line + "\n" +
                          help_text.split(statuses_line, 1)[1])
    exit_section = text.split(".SH EXIT STATUS", 1)[1].split(".SH ", 1)[0]

    missing = []
    for command in commands:
        if not re.search(r"^\.B rundelt-cli %s$" % command, text, re.M):
            missing.append("command " + command + " (in the synopsis)")
        if command != "help" and not re.search(r"^\.B %s$" % command, text, re.M):
            missing.append("command " + command + " (under its own heading)")
    for option in options:
        if not re.search(r"(?<![\w-])%s(?![\w-])" % re.escape(option), text):
            missing.append("option " + option)
    for status in statuses:
        if not re.search(r"^\.B %s$" % status, exit_section, re.M):
            missing.append("exit status " + status)
    if not commands or not options or not statuses:
        missing.append("anything at all: --help names no command, option or status")
    for what in missing:
        print("rundelt-cli(1) lacks " + what, file=sys.stderr)
    print("%d commands, %d options, %d exit statuses checked" % (len(commands), len(options),
                                                               len(statuses)))
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main())
