"""Which pixel layout a written picture gets.

A picture is written in its own layout (L, LA, RGB, RGBA, A) when the
output's codec holds it, else in the nearest layout the codec does hold,
preferring one that loses nothing (grey as RGB, RGB with an opaque alpha)
and then one that drops only the alpha. What a codec holds is learnt by
saving a 2 x 2 picture of each layout, with the same suffix and options,
in a scratch directory: that follows every plug-in and option exactly.
"""
import os
import shutil
import tempfile

import orvo

from .codecs import PIXEL_FORMAT_NAMES

A, L, LA, RGB, RGBA = (orvo.DYX_IMG_FMT_A, orvo.DYX_IMG_FMT_L, orvo.DYX_IMG_FMT_LA,
                       orvo.DYX_IMG_FMT_RGB, orvo.DYX_IMG_FMT_RGBA)

# For each layout, the layouts to try in order: first those that keep
# everything, then those that drop the alpha, then those that drop colour.
PREFERENCES = {
    RGBA: (RGBA, RGB, LA, L),
    RGB: (RGB, RGBA, L, LA),
    LA: (LA, RGBA, L, RGB),
    L: (L, LA, RGB, RGBA),
    A: (A, L, LA, RGB, RGBA),  # the alpha values as grey levels
}
HAS_ALPHA = (LA, RGBA)
HAS_COLOUR = (RGB, RGBA)


def name_of(layout):
    return PIXEL_FORMAT_NAMES.get(layout, str(layout))


class LayoutChooser(object):
    """Chooses, per input layout, the layout pictures are written in to
    files named like `filename` with codec `options`; remembers each choice."""

    def __init__(self, filename, options=""):
        self.extension = os.path.splitext(filename)[1]
        self.options = options
        self._held = {}

    def holds(self, layout):
        if layout not in self._held:
            self._held[layout] = self._probe(layout)
        return self._held[layout]

    def _probe(self, layout):
        scratch = tempfile.mkdtemp(prefix="orvo-layout-")
        try:
            picture = orvo.image(2, 2, layout)
            return picture.save(os.path.join(scratch, "probe" + self.extension), self.options) == 0
        finally:
            shutil.rmtree(scratch, ignore_errors=True)

    def choose(self, layout):
        """The layout to write a picture of `layout` in (the picture's own
        when nothing fits, so that the save reports the codec's reason)."""
        for candidate in PREFERENCES.get(layout, (layout,)):
            if self.holds(candidate):
                return candidate
        return layout


def loss_note(layout, written):
    """What writing a picture of `layout` as `written` drops, or None."""
    lost = []
    if layout in HAS_ALPHA and written not in HAS_ALPHA:
        lost.append("alpha")
    if layout in HAS_COLOUR and written not in HAS_COLOUR:
        lost.append("colour")
    if not lost:
        return None
    return "the %s %s dropped" % (" and the ".join(lost), "are" if len(lost) > 1 else "is")


def fit(image, chooser):
    """`image` converted to the layout chosen for it (a copy when that
    differs), and a note on what was dropped or None, to follow the
    output's name ("out.jpg cannot hold RGBA pictures: ...")."""
    written = chooser.choose(image.format)
    if written == image.format:
        return image, None
    note = loss_note(image.format, written)
    converted = image.subrect()
    converted.format = written
    if note is not None:
        note = "cannot hold %s pictures: writing %s, %s" % (name_of(image.format), name_of(written), note)
    return converted, note
