#!/usr/bin/python3
"""Writes the quorlax(1) man page, gzipped, from the program's own help texts:
    manpage.py OUT.1.gz PROGRAM [ARG...]   (PROGRAM ARG... runs the program)
so the page says what `quorlax -h` and `quorlax COMMAND -h` say, no more."""
import gzip
import re
import subprocess
import sys


def run(program, *args):
    return subprocess.run([*program, *args], capture_output=True, text=True, check=True).stdout


def roff(text):
    """Plain text as a roff no-fill block: backslashes and minus signs escaped, no line read as a request."""
    lines = []
    for line in text.rstrip("\n").split("\n"):
        line = line.replace("\\", "\\e").replace("-", "\\-")
        lines.append("\\&" + line if line.startswith((".", "'")) else line)
    return ".nf\n" + "\n".join(lines) + "\n.fi\n"


def main():
    out, program = sys.argv[1], sys.argv[2:]
    usage = run(program, "-h")
    version = run(program, "-V").splitlines()[0].split()[-1]
    summary = usage.splitlines()[1].strip().rstrip(".")
    commands = re.findall(r"^  (\w+)\s+(.*)$", usage.split("Commands:\n", 1)[1].split("\n\n", 1)[0], re.M)
    page = [f'.TH QUORLAX 1 "" "quorlax {version}" "User Commands"',
            ".SH NAME", f"quorlax \\- {summary[0].lower() + summary[1:]}",
            ".SH SYNOPSIS", ".B quorlax", ".I COMMAND", "[\\fIARGUMENTS\\fR] [\\fIOPTIONS\\fR]",
            ".SH DESCRIPTION", roff(usage).rstrip("\n"), ".SH COMMANDS"]
    for name, what in commands:
        page += [f".SS {name}", roff(what).rstrip("\n"), roff(run(program, name, "-h")).rstrip("\n")]
    page += [".SH SHELL COMPLETION",
             "Completion for bash and zsh comes with the program; it asks the program itself "
             "(\\fBquorlax \\-\\-complete\\fR) what can follow on the command line.",
             ".SH SEE ALSO", "\\fBarecord\\fR(1), \\fBaplay\\fR(1), \\fBsox\\fR(1)", ""]
    with open(out, "wb") as f:
        f.write(gzip.compress("\n".join(page).encode(), mtime=0))


if __name__ == "__main__":
    main()
