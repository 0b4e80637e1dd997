"""Which files on disk a movie name stands for, and whether two names meet.

A name may be one file, a numbered sequence ("shot.####.png", "eye_##@.tif"),
a stereo pair ("pic@.png") or a Multi-Tile Movie (".mtm" plus its tiles).
Files are compared by device and inode, so a symbolic or hard link to a
file is that file.
"""
import os
import re

EYE_LETTERS = "lr"


def frame_name(template, number, eye_letter):
    """The file name the writer makes for frame `number` of a template: the
    run from the first to the last '#' becomes the zero-padded number (wider
    numbers grow it) and the first '@' the eye letter."""
    first = template.find("#")
    if first >= 0:
        width = template.rfind("#") - first + 1
        template = template[:first] + "%0*d" % (width, number) + template[first + width:]
    at = template.find("@")
    if at >= 0:
        template = template[:at] + eye_letter + template[at + 1:]
    return template


def template_files(template, count=None, eyes=EYE_LETTERS):
    """Existing files of a template, sorted: every frame number, or only the
    frames 0 .. count-1 a writer of `count` frames makes; `eyes` limits the
    letters an '@' may stand for."""
    directory, pattern = os.path.split(template)
    matcher = re.compile(_template_regex(pattern) + r"\Z")
    width = pattern.rfind("#") - pattern.find("#") + 1 if "#" in pattern else 0
    try:
        names = os.listdir(directory or ".")
    except OSError:
        return []
    found = []
    for name in names:
        match = matcher.match(name)
        if match is None:
            continue
        number, eye = match.groupdict().get("number"), match.groupdict().get("eye")
        if number is not None:
            # Only the spelling the writer makes: "%0*d" of the run's width.
            if number != "%0*d" % (width, int(number)):
                continue
            if count is not None and int(number) >= count:
                continue
        if eye is not None and eye not in eyes:
            continue
        found.append(os.path.join(directory, name))
    return sorted(found)


def _template_regex(pattern):
    first, at = pattern.find("#"), pattern.find("@")
    pieces, position = [], 0
    marks = sorted(m for m in (first, at) if m >= 0)
    for mark in marks:
        pieces.append(re.escape(pattern[position:mark]))
        if mark == first:
            pieces.append(r"(?P<number>\d+)")
            position = pattern.rfind("#") + 1
            # An '@' inside the run is part of it, as the writer sees it.
            if first < at < position:
                break
        else:
            pieces.append(r"(?P<eye>[%s])" % EYE_LETTERS)
            position = mark + 1
    pieces.append(re.escape(pattern[position:]))
    return "".join(pieces)


def mtm_tile_files(mtm_name):
    """The sub-movie files an .mtm description names, relative to its folder."""
    directory = os.path.dirname(mtm_name)
    if not os.path.isfile(mtm_name):
        return []  # opening a FIFO would wait for a writer
    try:
        with open(mtm_name) as mtm:
            text = mtm.read(1 << 20)
    except (IOError, OSError, UnicodeDecodeError):
        return []
    names = re.findall(r'^\s*file\s+(?:"([^"]*)"|(\S+))', text, re.MULTILINE)
    return [os.path.join(directory, quoted or bare) for quoted, bare in names]


def files_of_name(name):
    """Every existing file that a (resolved) movie name reads from."""
    if ".mtm" in name:
        files = [name]
        for tile in mtm_tile_files(name):
            files.extend(files_of_name(tile))
        return [f for f in files if os.path.exists(f)]
    if "#" in name or "@" in name:
        return template_files(name)
    return [name] if os.path.exists(name) else []


def identity(filename):
    """(device, inode) of the file a name reaches through any links, or None."""
    try:
        status = os.stat(filename)
    except OSError:
        return None
    return status.st_dev, status.st_ino


def first_shared_file(outputs, inputs):
    """(output file, input file) of the first pair that is one file on disk, or None."""
    by_identity = {}
    for name in inputs:
        key = identity(name)
        if key is not None:
            by_identity.setdefault(key, name)
    for name in outputs:
        key = identity(name)
        if key is not None and key in by_identity:
            return name, by_identity[key]
    return None
