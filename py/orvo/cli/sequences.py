"""Numbered sequences: the run of files a template or a named file reads,
and the files of the same name that the run leaves out.

Camera and render names carry numbers (IMG_1235.jpg, render.0001.final.png)
without being sequences, so a named file is read as itself unless the user
asks for its sequence. The sequence's template has the last run of digits
of the name (before its extension) as a '#' run of the same width, or a
single '#' when the directory's numbers are written without padding
(img9.png, img10.png); it is a stereo template, with '@' for the eye, only
when the named file has an 'l' or 'r' in an eye's place (right after the
number or just before the extension) and the file of the other eye for the
same frame exists.

A run is the consecutive frames whose files exist, each named as the
writer names it: the number zero-padded to the '#' run's width, growing
past it (frame 10000 of '####' is 10000). A run stops at the first missing
number; frames past that gap, and files whose numbers are padded to
another width, are not read, and the command says which they are and how
to read them.
"""
import os
import re

import orvo

from .errors import CliError
from .files import frame_name

OTHER_EYE = {"l": "r", "r": "l"}
# How many left-out runs a note names before it only counts the rest.
NOTED_RUNS = 4


def _split(template):
    """(directory, prefix, width, suffix) of a template's left-eye file names."""
    directory, pattern = os.path.split(template)
    first, last = pattern.find("#"), pattern.rfind("#")
    prefix, suffix = pattern[:first], pattern[last + 1:]
    # The left eye stands for the frame, as the movie's probe takes it.
    return directory, prefix.replace("@", "l"), last - first + 1, suffix.replace("@", "l")


def numbers_on_disk(template):
    """The digit texts of every file that differs from the template's
    (left-eye) names only in its number, whatever its width; none when the
    number lies in a folder's name (shot##/img.png)."""
    if "#" not in os.path.basename(template):
        return []
    directory, prefix, _, suffix = _split(template)
    matcher = re.compile(re.escape(prefix) + r"(\d+)" + re.escape(suffix) + r"\Z")
    try:
        names = os.listdir(directory or ".")
    except OSError:
        return []
    return [m.group(1) for m in (matcher.match(n) for n in names) if m is not None]


def writer_spelling(digits, width):
    """Whether the digit text is how a '#' run of `width` writes its number."""
    return digits == "%0*d" % (width, int(digits))


def _runs(numbers):
    """Sorted (first, last) runs of consecutive numbers."""
    runs = []
    for number in sorted(set(numbers)):
        if runs and number == runs[-1][1] + 1:
            runs[-1][1] = number
        else:
            runs.append([number, number])
    return [tuple(run) for run in runs]


def run_holding(template, number, digits=None):
    """(first, last) of the run of `template` that holds frame `number`."""
    _, _, width, _ = _split(template)
    texts = digits if digits is not None else numbers_on_disk(template)
    present = set(int(d) for d in texts if writer_spelling(d, width))
    if number not in present:
        return None
    first = last = number
    while first - 1 in present:
        first -= 1
    while last + 1 in present:
        last += 1
    return first, last


def grown_run(template, first, last):
    """The run [first, last] that the movie's probe gives for a template,
    continued past the '#' run's width (9999 then 10000) as far as the
    writer's names go on: the probe of an open end stops at the width."""
    if "#" not in os.path.basename(template):
        return first, last
    _, _, width, _ = _split(template)
    if last != 10 ** width - 1:
        return first, last
    return run_holding(template, first) or (first, last)


def _padding_template(template, digits):
    """The template whose names spell `digits` as they are on disk."""
    directory, pattern = os.path.split(template)
    first, last = pattern.find("#"), pattern.rfind("#")
    width = len(digits) if digits.startswith("0") and len(digits) > 1 else 1
    return os.path.join(directory, pattern[:first] + "#" * width + pattern[last + 1:])


def left_out(template, first, last):
    """The runs of files of `template`'s name that the run [first, last]
    does not read: a list of dicts {"first", "last", "template", "file",
    "why"}, "file" being the run's first file (to name with --sequence)."""
    _, _, width, _ = _split(template)
    digits = numbers_on_disk(template)
    found = []
    own = [int(d) for d in digits if writer_spelling(d, width) and not first <= int(d) <= last]
    for start, end in _runs(own):
        if start > last:
            why = "past the missing frame%s %s" % ("" if start - last == 2 else "s", _span(last + 1, start - 1))
        else:
            why = "before the missing frame%s %s" % ("" if first - end == 2 else "s", _span(end + 1, first - 1))
        found.append({"first": start, "last": end, "template": template, "why": why})
    by_template = {}
    for text in digits:
        if not writer_spelling(text, width):
            by_template.setdefault(_padding_template(template, text), []).append(int(text))
    for other in sorted(by_template):
        other_width = _split(other)[2]
        how = "with %d digits" % other_width if other_width > 1 else "without padding"
        for start, end in _runs(by_template[other]):
            found.append({"first": start, "last": end, "template": other,
                          "why": "numbered %s, not as %s numbers them" % (how, os.path.basename(template))})
    for run in found:
        run["file"] = frame_name(run["template"], run["first"], "l")
    return sorted(found, key=lambda run: (run["first"], run["template"]))


def _span(first, last):
    return "%d" % first if first == last else "%d to %d" % (first, last)


def left_out_note(template, first, last, runs):
    """One line naming the runs left out and how to read them, or None."""
    if not runs:
        return None
    parts = []
    for run in runs[:NOTED_RUNS]:
        parts.append("%s (%s, %s; give --sequence %s to read them)"
                     % ("frame %d" % run["first"] if run["first"] == run["last"]
                        else "frames %d to %d" % (run["first"], run["last"]),
                        os.path.basename(run["template"]), run["why"], run["file"]))
    if len(runs) > NOTED_RUNS:
        parts.append("and %d more runs" % (len(runs) - NOTED_RUNS))
    return "%s: read frames %s; not read: %s" % (template, _span(first, last), "; ".join(parts))


def sequence_template(name):
    """The template of the sequence `name` is a frame of, or None when the
    name holds no number."""
    directory, base = os.path.split(name)
    stem, extension = os.path.splitext(base)
    runs = list(re.finditer(r"\d+", stem))
    if not runs:
        return None
    number = runs[-1]
    template = stem[:number.start()] + "#" * len(number.group()) + stem[number.end():]
    for place in sorted(set((number.end(), len(stem) - 1))):
        if place < number.end() or place >= len(stem) or stem[place] not in OTHER_EYE:
            continue
        other = stem[:place] + OTHER_EYE[stem[place]] + stem[place + 1:]
        if os.path.isfile(os.path.join(directory, other + extension)):
            template = template[:place] + "@" + template[place + 1:]
            break
    template = os.path.join(directory, template + extension)
    if _unpadded(template, number.group()):
        template = _padding_template(template, number.group())
    return template


def _unpadded(template, digits):
    """Whether the numbers of the name are written without padding: the
    named one has no leading zero and a shorter one of the name exists."""
    if digits.startswith("0") or len(digits) == 1:
        return False
    return any(len(d) < len(digits) and (d == "0" or not d.startswith("0")) for d in numbers_on_disk(template))


def sequence_of(name):
    """(template, {"template", "first", "last"}) of the run of consecutive
    files that holds the existing file `name`; CliError when there is none."""
    template = sequence_template(name)
    if template is None:
        raise CliError("%s: --sequence needs a numbered file name such as shot.0001.png" % name)
    stem = os.path.splitext(os.path.basename(name))[0]
    number = int(re.findall(r"\d+", stem)[-1])
    run = run_holding(template, number)
    if run is None or frame_name(template, number, "l") != name and frame_name(template, number, "r") != name:
        raise CliError("%s is not a frame of the sequence %s" % (name, template))
    return template, {"template": template, "first": run[0], "last": run[1]}


def template_run(name):
    """(template, {"template", "first", "last"}) of the first run of the
    template `name`; CliError when no file of it exists."""
    kind, template, stereo, count, first, last = orvo.istemplate(name)
    if count < 1:
        raise CliError("%s: no file of this sequence exists" % name)
    first, last = grown_run(template, first, last)
    return name, {"template": template, "first": first, "last": last}
