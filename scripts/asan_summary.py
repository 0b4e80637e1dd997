"""Reads the report files that AddressSanitizer, LeakSanitizer and
UndefinedBehaviorSanitizer wrote during scripts/run-asan-python (one per
process that had something to report) and decides the run:

- a memory error or undefined behaviour fails it, wherever it happened;
- a leak fails it when any frame of the allocation's stack lies in orvo:
  a source file of the tree's py/, utils/, data/, udil/ or plugins/ (by
  its place in the tree: with ccache the build may name another checkout
  of it), the orvo module, a codec plug-in, or a dyx_/udil_ function. Blocks that the
  interpreter, NumPy or the libraries a plug-in loads keep until exit are
  counted apart.

    python3 scripts/asan_summary.py REPORT...

Prints what involves orvo (the first reports in full) and one count line;
exits 1 when anything fails the run.
"""
import collections
import os
import re
import sys

FRAME = re.compile(r"^\s+#\d+ 0x")
LEAK = re.compile(r"^(Direct|Indirect) leak of \d+ byte\(s\) in \d+ object\(s\) allocated from:")
ERROR = re.compile(r"ERROR: AddressSanitizer: (\S+)|runtime error: (.*)")
# LeakSanitizer stops the process's threads to scan them; now and then its
# tracer fails, and that process goes unchecked for leaks (the others are).
UNCHECKED = re.compile(r"LeakSanitizer has encountered a fatal error")


OURS = re.compile(r"/(py|plugins/\w+|(utils|data|udil)/(libsrc|libsrc/exported|include))/\w+\.(cpp|h):\d+"
                  r"|orvo\.(cpython-[^ )]*\.so|so)|libudil-|\bdyx_|\budil_|\borvo::")


def blocks(path):
    """Yields (kind, text lines) for each leak and each error of a report."""
    kind, lines = None, []
    with open(path, errors="replace") as report:
        for line in report:
            line = line.rstrip("\n")
            leak = LEAK.match(line)
            error = ERROR.search(line)
            if leak or error:
                if kind is not None:
                    yield kind, lines
                if leak:
                    kind = leak.group(1).lower() + " leak"
                else:
                    kind = error.group(1) or "undefined behaviour: " + error.group(2)[:60]
                lines = [line]
            elif kind is not None and (FRAME.match(line) or not line.strip() or "leak" not in kind):
                lines.append(line)
        if kind is not None:
            yield kind, lines


def main(paths):
    failing, theirs = collections.Counter(), collections.Counter()
    shown = unchecked = 0
    for path in paths:
        if not os.path.isfile(path):
            continue
        with open(path, errors="replace") as report:
            if UNCHECKED.search(report.read()):
                unchecked += 1
        for kind, lines in blocks(path):
            frames = [line for line in lines if FRAME.match(line)]
            if kind.endswith("leak") and not any(OURS.search(frame) for frame in frames):
                theirs[kind] += 1
                continue
            failing[kind] += 1
            if shown < 10:
                shown += 1
                print("\n".join([path + ":"] + lines[:40]) + "\n")
    for kind, count in sorted(theirs.items()):
        print("outside orvo (interpreter, NumPy, libraries): %4d x %s" % (count, kind))
    for kind, count in sorted(failing.items()):
        print("FAILS THE RUN: %4d x %s" % (count, kind))
    print("sanitizer reports failing the run: %d; leaks outside orvo: %d; processes whose leak check failed: %d"
          % (sum(failing.values()), sum(theirs.values()), unchecked))
    return 1 if failing else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
