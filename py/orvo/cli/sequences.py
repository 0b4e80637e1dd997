"""The numbered sequence one file belongs to, for `--sequence`.

Camera and render names carry numbers (IMG_1235.jpg, render.0001.final.png)
without being sequences, so a named file is read as itself unless the user
asks for its sequence. The sequence's template has the last run of digits
of the name (before its extension) as a '#' run of the same width; it is a
stereo template, with '@' for the eye, only when the named file has an
'l' or 'r' in an eye's place (right after the number or just before the
extension) and the file of the other eye for the same frame exists.
"""
import os
import re

import orvo

from .errors import CliError

OTHER_EYE = {"l": "r", "r": "l"}


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
    return os.path.join(directory, template + extension)


def sequence_of(name):
    """(template, {"template", "first", "last"}) of the run of consecutive
    files that holds the existing file `name`; CliError when there is none."""
    template = sequence_template(name)
    if template is None:
        raise CliError("%s: --sequence needs a numbered file name such as shot.0001.png" % name)
    kind, template, stereo, count, first, last = orvo.istemplate(template)
    if count < 1 or not first <= orvo.indexof(template, name, first, last) <= last:
        raise CliError("%s is not in the run of consecutive files that the sequence %s reads "
                       "(numbers %d to %d)" % (name, template, first, last))
    return template, {"template": template, "first": first, "last": last}
