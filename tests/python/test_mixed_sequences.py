"""Numbered sequences whose files differ in layout (a 1-bit grey frame among
palette frames, one RGBA frame among RGB ones, grey among colour), made by
ImageMagick: every frame reads, in the one layout that holds them all, and
equals ImageMagick's own decode; frames of another size are still refused."""
import subprocess
import sys
import unittest

import orvo
from movie_testing import ScratchTestCase, open_movie
from orvo_testing import have_command, run_bounded, top_down_bytes

L, LA, RGB, RGBA = orvo.DYX_IMG_FMT_L, orvo.DYX_IMG_FMT_LA, orvo.DYX_IMG_FMT_RGB, orvo.DYX_IMG_FMT_RGBA
WIDTH, HEIGHT = 64, 48
# ImageMagick pictures: a black one it writes as 1-bit grey, a 16-colour
# gradient as a palette PNG, plain RGB, RGB with half-transparent alpha, grey.
MAKERS = {
    "black": ["xc:black"],
    "palette": ["gradient:rgb(180,20,10)-rgb(10,150,90)", "-depth", "8", "-colors", "16", "PNG8:{}"],
    "rgb": ["plasma:fractal", "-seed", "5", "-depth", "8", "PNG24:{}"],
    "rgba": ["xc:rgba(200,10,60,0.5)", "-depth", "8", "PNG32:{}"],
    "grey": ["gradient:gray20-gray90", "-depth", "8", "-define", "png:color-type=0", "PNG:{}"],
    "grey_alpha": ["xc:graya(40%,0.5)", "-depth", "8", "-define", "png:color-type=4", "PNG:{}"],
}
# The components of each layout that ImageMagick's RGBA decode gives.
PICK = {L: (0,), LA: (0, 3), RGB: (0, 1, 2), RGBA: (0, 1, 2, 3)}
COMPONENTS = {L: 1, LA: 2, RGB: 3, RGBA: 4}


def magick(arguments, output, size=(WIDTH, HEIGHT)):
    """Runs ImageMagick's convert to make `output` from a source picture."""
    command = ["convert", "-size", "%dx%d" % size, arguments[0]] + [a.format(output) for a in arguments[1:]]
    if "{}" not in "".join(arguments[1:]):
        command.append(output)
    status, out, err = run_bounded(command)
    if status != 0:
        raise AssertionError("convert failed: %s" % err)


def magick_rgba(path):
    """ImageMagick's decode of `path` as 8-bit RGBA, top row first."""
    return subprocess.check_output(["convert", path, "-depth", "8", "rgba:-"])


def in_layout(rgba, layout):
    """RGBA bytes cut down to the components of `layout` (grey from red)."""
    pick = PICK[layout]
    out = bytearray()
    data = bytearray(rgba)
    for at in range(0, len(data), 4):
        out.extend(data[at + k] for k in pick)
    return bytes(out)


@unittest.skipUnless(have_command("convert"), "ImageMagick's convert makes the sequences")
class MixedLayoutSequenceTest(ScratchTestCase):
    def write_sequence(self, name, kinds, sizes=None):
        template = self.path(name + ".####.png")
        for number, kind in enumerate(kinds):
            size = sizes[number] if sizes else (WIDTH, HEIGHT)
            magick(MAKERS[kind], self.path("%s.%04d.png" % (name, number)), size)
        return template

    def test_every_frame_reads_in_the_layout_that_holds_them_all(self):
        cases = [  # frames, layout read
            (["black", "palette", "palette", "black"], RGB),  # a fade to black and back
            (["rgb", "rgb", "rgba", "rgb"], RGBA),
            (["grey", "rgb", "grey"], RGB),
            (["grey", "grey_alpha"], LA),
            (["palette", "grey_alpha", "black"], RGBA),
            (["grey", "black"], L),
        ]
        for number, (kinds, layout) in enumerate(cases):
            template = self.write_sequence("case%d" % number, kinds)
            movie = open_movie(template)
            self.assertEqual(movie.nframes, len(kinds), kinds)
            for k in range(len(kinds)):
                frame = movie.getframe(k)
                self.assertIsInstance(frame, list, movie.errstr())
                self.assertEqual((frame[0].format, frame[0].dims), (layout, [WIDTH, HEIGHT]), kinds)
                reference = magick_rgba(self.path("case%d.%04d.png" % (number, k)))
                self.assertEqual(top_down_bytes(frame[0]), in_layout(reference, layout), (kinds, k))
            movie.close()

    def test_a_frame_of_another_size_is_still_refused(self):
        template = self.write_sequence("sizes", ["rgb", "rgb", "rgb"],
                                       [(WIDTH, HEIGHT), (WIDTH + 2, HEIGHT), (WIDTH, HEIGHT)])
        movie = open_movie(template)
        self.assertIsInstance(movie.getframe(0), list)
        self.assertEqual(movie.getframe(1), -1)
        self.assertTrue(movie.errstr().startswith("unable to read the requested frame"))
        target = orvo.movie(orvo.MOVIE_WRITE)
        target.filename = self.path("out.####.png")
        target.dims = (WIDTH, HEIGHT)
        target.addcount(3)
        self.assertEqual(target.open(), 0)
        self.assertNotEqual(target.append(movie), 0)
        self.assertEqual(target.errstr(), "Mixed size images detected in movie. All images must be the same size.")
        target.close()
        movie.close()

    @unittest.skipUnless(sys.version_info[0] >= 3, "the orvo command is a Python 3 program")
    def test_the_command_converts_a_fade_without_a_word_of_mixed_sizes(self):
        template = self.write_sequence("fade", ["black", "palette", "palette", "black"])
        output = self.path("copy.####.png")
        status, out, err = run_bounded([sys.executable, "-m", "orvo", "convert", template, output, "-q"])
        self.assertEqual(status, 0, err)
        self.assertNotIn("Mixed size", err)
        for k in range(4):
            picture = orvo.image()
            self.assertEqual(picture.load(self.path("copy.%04d.png" % k)), 0, picture.errstr())
            reference = magick_rgba(self.path("fade.%04d.png" % k))
            self.assertEqual(top_down_bytes(picture), in_layout(reference, RGB))


if __name__ == "__main__":
    unittest.main()
