"""Netpbm files in every form (plain P1-P3, raw P4-P6, PAM P7), any
maxval, comments wherever white space may stand: read as the Netpbm tools
read them, and refused with the reason when damaged. (What each name
writes is checked byte by byte in C++.)"""
import os
import random
import unittest

import orvo
from movie_testing import ScratchTestCase
from orvo_testing import run_bounded, top_down_bytes

NETPBM = "/usr/bin/pamdepth"


def scaled(value, maxval):
    """The 8-bit value of a sample, rounded as the Netpbm tools round."""
    return (value * 255 + maxval // 2) // maxval


def raw_samples(values, maxval):
    """Raw samples: one byte each, or two (most significant first) above 255."""
    if maxval < 256:
        return bytes(bytearray(values))
    return bytes(bytearray(b for v in values for b in (v >> 8, v & 255)))


def parse_raw_255(data):
    """The header and raster of a raw P5/P6/P7 file with maxval 255."""
    if data[:2] == b"P7":
        header, raster = data.split(b"ENDHDR\n", 1)
        fields = dict(line.split(b" ", 1) for line in header.split(b"\n")[1:] if b" " in line)
        return int(fields[b"WIDTH"]), int(fields[b"HEIGHT"]), int(fields[b"DEPTH"]), raster
    words = data.split(None, 4)
    channels = 1 if words[0] == b"P5" else 3
    width, height = int(words[1]), int(words[2])
    return width, height, channels, data[-width * height * channels:]


def samples_text(values, per_line=7, comment_every=5):
    """Plain samples with line breaks and comments between them."""
    parts = []
    for index, value in enumerate(values):
        parts.append(str(value))
        if index == len(values) - 1:
            parts.append("\n")
        elif index % comment_every == comment_every - 1:
            parts.append("# samples so far: %d\n" % (index + 1))
        elif index % per_line == per_line - 1:
            parts.append("\n")
        else:
            parts.append(" ")
    return "".join(parts).encode("ascii")


class NetpbmReadTest(ScratchTestCase):
    """Every form reads as the Netpbm tools read it."""

    def random_samples(self, count, maxval, seed):
        generator = random.Random(seed)
        return [generator.randint(0, maxval) for _ in range(count)]

    def write(self, name, data):
        path = self.path(name)
        with open(path, "wb") as out:
            out.write(data)
        return path

    def cases(self):
        """(name, file bytes, channels, top-first 8-bit samples) per form."""
        width, height = 13, 5
        cases = []
        bits = self.random_samples(width * height, 1, 1)
        white_is_255 = bytearray(0 if bit else 255 for bit in bits)
        cases.append(("plain.pbm", b"P1\n# a bitmap\n13 # width\n5\n" + samples_text(bits), 1, white_is_255))
        cases.append(("dense.pbm", b"P1 13 5\n" + b"".join(b"%d" % bit for bit in bits), 1, white_is_255))
        packed = bytearray()
        for y in range(height):
            row = bits[y * width:(y + 1) * width] + [0] * 3
            for x in range(0, width, 8):
                packed.append(sum(row[x + k] << (7 - k) for k in range(8)))
        cases.append(("raw.pbm", b"P4\n#made here\n13 5\n" + bytes(packed), 1, white_is_255))
        for maxval in (1, 4, 100, 255, 1000, 65535):
            for kind, channels in ((b"2", 1), (b"3", 3), (b"5", 1), (b"6", 3)):
                values = self.random_samples(width * height * channels, maxval, maxval + channels)
                header = b"P" + kind + b"\n# comment\n13 5 # size\n%d\n" % maxval
                raster = samples_text(values) if kind in (b"2", b"3") else raw_samples(values, maxval)
                expected = bytearray(scaled(v, maxval) for v in values)
                cases.append(("p%s_%d.pnm" % (kind.decode(), maxval), header + raster, channels, expected))
        for tuple_type, depth, maxval in (("GRAYSCALE_ALPHA", 2, 255), ("RGB_ALPHA", 4, 65535),
                                          ("BLACKANDWHITE", 1, 1), ("RGB", 3, 31)):
            values = self.random_samples(width * height * depth, maxval, depth)
            header = ("P7\n# a PAM\nWIDTH 13\nHEIGHT 5\nDEPTH %d\nMAXVAL %d\nTUPLTYPE %s\nENDHDR\n"
                      % (depth, maxval, tuple_type)).encode("ascii")
            expected = bytearray(scaled(v, maxval) for v in values)
            cases.append(("%s.pam" % tuple_type.lower(), header + raw_samples(values, maxval), depth, expected))
        return width, height, cases

    def test_every_form_reads_as_expected(self):
        width, height, cases = self.cases()
        formats = {1: orvo.DYX_IMG_FMT_L, 2: orvo.DYX_IMG_FMT_LA, 3: orvo.DYX_IMG_FMT_RGB,
                   4: orvo.DYX_IMG_FMT_RGBA}
        for name, data, channels, expected in cases:
            image = orvo.image()
            self.assertEqual(image.load(self.write(name, data)), 0, "%s: %s" % (name, image.errstr()))
            self.assertEqual((image.dims, image.format), ([width, height], formats[channels]), name)
            self.assertEqual(top_down_bytes(image), bytes(expected), name)

    @unittest.skipIf(not os.path.exists(NETPBM), "the Netpbm tools are missing (Debian package netpbm)")
    def test_the_expected_samples_are_what_the_netpbm_tools_read(self):
        width, height, cases = self.cases()
        for name, data, channels, expected in cases:
            status, out, err = run_bounded([NETPBM, "255", self.write(name, data)], 30, text=False)
            self.assertEqual(status, 0, err)
            self.assertEqual(parse_raw_255(out), (width, height, channels, bytes(expected)), name)

    def test_refusals_say_why(self):
        cases = [
            ("text.ppm", b"hello, world\n", "not a Netpbm file"),
            ("p8.ppm", b"P8\n1 1\n255\n\0", "not a Netpbm file"),
            ("short.ppm", b"P6\n4 4\n255\n" + b"\0" * 20, "the file is shorter than its picture"),
            ("short.pbm", b"P4\n16 4\n" + b"\0" * 7, "the file is shorter than its picture"),
            ("plain_cut.pgm", b"P2\n3 3\n255\n1 2 3 4 5 6 7 8\n# the end\n", "cut short"),
            ("plain_high.pgm", b"P2\n2 1\n100\n5 101\n", "a sample is above the maximum value 100"),
            ("plain_word.ppm", b"P3\n1 1\n255\n1 2 x\n", "a sample is not a number"),
            ("plain_two.pbm", b"P1\n2 1\n1 2\n", "a bitmap holds something other than 0 and 1"),
            ("no_maxval.pgm", b"P2\n2 1\n", "bad or missing numbers in the header"),
        ]
        missing = orvo.image()
        missing.load(self.path("no such file.ppm"))
        missing_text = missing.errstr()
        for name, data, reason in cases:
            image = orvo.image()
            self.assertNotEqual(image.load(self.write(name, data)), 0, name)
            text = image.errstr()
            self.assertIn(reason, text, name)
            self.assertNotEqual(text, missing_text, name)


if __name__ == "__main__":
    unittest.main()
