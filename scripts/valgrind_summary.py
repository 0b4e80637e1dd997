"""Reads a memcheck log and counts the errors that involve orvo: an error
(invalid access, uninitialised value, definite leak ...) involves orvo when
any frame of its stack lies in the orvo module, a codec plug-in or a dyx_
function. Errors wholly inside the interpreter and its other extensions
are counted apart. Exits 1 when orvo is involved in any error.

    python3 scripts/valgrind_summary.py memcheck.log [...]
"""
import collections
import re
import sys

OURS = re.compile(r"orvo\.(cpython-[^ ]*\.so|so)|libudil-|\bdyx_|\budil_|\borvo::")
FRAME = re.compile(r"^==\d+==\s+(at|by) 0x")
HEADER = re.compile(r"^==\d+== (\S.*)$")


def errors(path):
    """Yields (kind, stack lines) for each error block of the log."""
    kind, stack = None, []
    with open(path, errors="replace") as log:
        for line in log:
            line = line.rstrip("\n")
            if FRAME.match(line):
                if kind is not None:
                    stack.append(line)
                continue
            if kind is not None and stack:
                yield kind, stack
                kind, stack = None, []
            header = HEADER.match(line)
            if header:
                text = header.group(1)
                if re.match(r"(Invalid|Conditional|Use of uninitialised|Syscall param|Mismatched|"
                            r"Source and destination|Argument|.*are definitely lost)", text):
                    kind = re.sub(r"[\d,]+ ", "", text.split(" in loss record")[0])[:80]
        if kind is not None and stack:
            yield kind, stack


def main(paths):
    ours, theirs = collections.Counter(), collections.Counter()
    shown = 0
    for path in paths:
        for kind, stack in errors(path):
            if any(OURS.search(frame) for frame in stack):
                ours[kind] += 1
                if shown < 20:
                    shown += 1
                    print("\n".join([path + ": " + kind] + stack[:16]) + "\n")
            else:
                theirs[kind] += 1
    for kind, count in sorted(theirs.items()):
        print("outside orvo (interpreter, NumPy): %4d x %s" % (count, kind))
    for kind, count in sorted(ours.items()):
        print("IN ORVO: %4d x %s" % (count, kind))
    print("errors involving orvo: %d; outside orvo: %d" % (sum(ours.values()), sum(theirs.values())))
    return 1 if ours else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
