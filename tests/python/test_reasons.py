"""Error texts carry the reason a plug-in or the codec host gave: the fixed
text first, then ": " and the reason ("Unable to open movie file: ...
moov atom not found"). Guards against every refusal reading like a
missing file."""
import shutil
import struct
import unittest
import wave

import orvo
from movie_testing import ScratchTestCase, pattern_image, write_movie


def damaged(path, out, change):
    """Writes `out`: the bytes of `path` passed through `change`."""
    with open(path, "rb") as source:
        data = bytearray(source.read())
    with open(out, "wb") as target:
        target.write(bytes(change(data)))


def half(data):
    return data[:len(data) // 2]


def flip(offset):
    return lambda data: data[:offset] + bytearray([data[offset] ^ 0xFF]) + data[offset + 1:]


def scramble_scan(data):
    """Replaces the entropy-coded data after a JPEG's start of scan with
    bytes that are no valid Huffman code."""
    start = bytes(data).find(b"\xff\xda") + 20
    for k in range(start, len(data) - 2):
        data[k] = 0xFF if k % 2 else 0x00
    return data


class ImageReasonTest(ScratchTestCase):
    needed_codecs = ("ppm", "png", "jpeg", "tiff")

    def assertRefused(self, name, status, text, reason):
        image = orvo.image(2, 2)
        self.assertEqual(image.load(self.path(name)), status, name)
        message = image.errstr()
        self.assertTrue(message.startswith(text + ": "), message)
        self.assertIn(reason, message)
        self.assertEqual(image.dims, [2, 2])  # a refusal leaves the picture alone

    def test_damaged_files_say_what_is_wrong(self):
        picture = pattern_image(32, 24, 3)
        for suffix in ("png", "jpg", "tif", "ppm"):
            self.assertEqual(picture.save(self.path("good." + suffix)), 0, picture.errstr())
        opening, reading = "Unable to open the file.", "Unable to read image frame."
        cases = [
            # name, made from, damage, status, text, reason
            ("ihdr.png", "good.png", flip(29), -2, opening, "IHDR: CRC error"),
            ("sig.png", "good.png", lambda data: data[:20], -2, opening, "the file is cut short"),
            ("half.png", "good.png", half, -5, reading, "the file is cut short"),
            ("head.jpg", "good.jpg", lambda data: data[:200], -2, opening, "Premature end of JPEG file"),
            ("huff.jpg", "good.jpg", scramble_scan, -5, reading, "Corrupt JPEG data: bad Huffman code"),
            ("half.tif", "good.tif", half, -2, opening, "Can not read TIFF directory"),
            ("half.ppm", "good.ppm", half, -2, opening, "the file is shorter than its picture"),
        ]
        for name, source, change, status, text, reason in cases:
            damaged(self.path(source), self.path(name), change)
            self.assertRefused(name, status, text, reason)


class MovieReasonTest(ScratchTestCase):
    needed_codecs = ("ppm", "png", "ffmpeg")

    def assertOpenRefused(self, name, text, reason):
        movie = orvo.movie()
        movie.filename = self.path(name)
        self.assertEqual(movie.open(), -1, name)
        message = movie.errstr()
        self.assertTrue(message.startswith(text + ": "), message)
        self.assertIn(reason, message)

    def test_damaged_movies_say_what_is_wrong(self):
        write_movie(self.path("clip.mp4"), [pattern_image(32, 24, k) for k in range(4)])
        # The index of an .mp4 comes last: a file cut short has none.
        damaged(self.path("clip.mp4"), self.path("cut.mp4"), half)
        self.assertOpenRefused("cut.mp4", "Unable to open movie file", "moov atom not found")
        sound = wave.open(self.path("sound.wav"), "wb")
        sound.setnchannels(1)
        sound.setsampwidth(2)
        sound.setframerate(8000)
        sound.writeframes(struct.pack("<800h", *range(800)))
        sound.close()
        shutil.copy(self.path("sound.wav"), self.path("sound.mp4"))
        self.assertOpenRefused("sound.mp4", "Unable to open movie file", "no video stream")
        self.assertOpenRefused("missing.mp4", "Unable to open movie file",
                               self.path("missing.mp4") + ": No such file or directory")


if __name__ == "__main__":
    unittest.main()
