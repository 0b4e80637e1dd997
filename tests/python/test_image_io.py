"""orvo.image load and save through the codec plug-ins: status codes,
error texts and the pictures read and written. An error text carries the
reason a plug-in or the codec host gave: the fixed text first, then ": "
and the reason ("Unable to open movie file: ... moov atom not found"),
so that no refusal reads like a missing file."""
import os
import struct
import unittest
import wave

import orvo
from movie_testing import ScratchTestCase, pattern_image, write_movie, write_tiff
from orvo_testing import fixed_text

LOAD_UNKNOWN = ("File extension indicates unknown file format. "
                "Check orvo.codecs() for permissible extensions")
SAVE_UNKNOWN = ("File extension indicates unknown file format.  "
                "Check orvo.codecs() for permissible extensions.")
OPENING, READING = "Unable to open the file.", "Unable to read image frame."


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


class LoadTest(ScratchTestCase):
    needed_codecs = ("ppm", "png", "jpeg", "tiff", "ffmpeg")

    def test_status_codes_and_texts(self):
        picture = pattern_image(32, 24, 3)
        for suffix in ("png", "jpg", "tif", "ppm"):
            self.assertEqual(picture.save(self.path("good." + suffix)), 0, picture.errstr())
        write_tiff(self.path("huge.tif"), 150000, 100000, 0)  # 45 GB of pixels
        write_tiff(self.path("short.tif"), 4, 3, 10)  # strips end early
        missing = self.path("missing.png")
        cases = [
            # name, made from, damage, status, fixed text, reason (None: no reason follows)
            ("picture.unknownsuffix", None, None, -1, LOAD_UNKNOWN, None),
            ("missing.png", None, None, -2, OPENING, missing + ": No such file or directory"),
            ("huge.tif", None, None, -4, "Unable to allocate image memory.", None),
            ("short.tif", None, None, -5, READING, ""),
            ("ihdr.png", "good.png", flip(29), -2, OPENING, "IHDR: CRC error"),
            ("sig.png", "good.png", lambda data: data[:20], -2, OPENING, "the file is cut short"),
            ("half.png", "good.png", half, -5, READING, "the file is cut short"),
            ("head.jpg", "good.jpg", lambda data: data[:200], -2, OPENING, "Premature end of JPEG file"),
            ("huff.jpg", "good.jpg", scramble_scan, -5, READING, "Corrupt JPEG data: bad Huffman code"),
            ("half.tif", "good.tif", half, -2, OPENING, "Can not read TIFF directory"),
            ("half.ppm", "good.ppm", half, -2, OPENING, "the file is shorter than its picture"),
        ]
        image = orvo.image(5, 5)
        for name, source, change, status, text, reason in cases:
            if source is not None:
                damaged(self.path(source), self.path(name), change)
            self.assertEqual(image.load(self.path(name)), status, name)
            message = image.errstr()
            if reason is None:
                self.assertEqual(message, text)
            else:
                self.assertEqual(fixed_text(message), text, message)
                self.assertIn(reason, message)
            if name != "missing.png":  # its own reason, never an older one
                self.assertNotIn(missing, message)
            self.assertEqual(image.errstr(), "")  # read once
            self.assertEqual(image.dims, [5, 5])  # failures leave the picture alone
        self.assertRaises(TypeError, image.load, 5)

    def test_frame_numbers_of_a_single_image_and_of_a_movie_file(self):
        source = pattern_image(6, 4, 1)
        self.assertEqual(source.save(self.path("one.png")), 0)
        image = pattern_image(3, 3, 2)
        before = image.tostring()
        self.assertEqual(image.load(self.path("one.png"), 1), -3)
        self.assertEqual(image.errstr(), "Invalid frame number.")
        self.assertEqual(image.tostring(), before)
        self.assertEqual(image.load(filename=self.path("one.png"), frame=-4), 0)
        self.assertEqual((image.tostring(), image.errstr()), (source.tostring(), ""))
        frames = [pattern_image(8, 6, k) for k in range(10)]
        write_movie(self.path("ten.mkv"), frames, options="codec ffv1")
        self.assertEqual(image.load(self.path("ten.mkv"), 3), 0)
        self.assertEqual(image.tostring(), frames[3].tostring())
        self.assertEqual(image.load(self.path("ten.mkv"), 10), -3)

    def test_file_format_and_size_replace_the_picture(self):
        rgba = pattern_image(7, 9, 4, orvo.DYX_IMG_FMT_RGBA)
        self.assertEqual(rgba.save(self.path("alpha.png")), 0)
        image = orvo.image(100, 100, orvo.DYX_IMG_FMT_RGB, None, 12, 50, 60, 3, 4)
        self.assertEqual(image.load(self.path("alpha.png")), 0)
        self.assertEqual((image.format, image.dims), (orvo.DYX_IMG_FMT_RGBA, [7, 9]))
        self.assertEqual(image.tostring(), rgba.tostring())
        self.assertEqual((image.frame, image.origin, image.framenumber), ([50, 60], [3, 4], 12))  # kept


class SaveTest(ScratchTestCase):
    needed_codecs = ("ppm", "png", "jpeg", "ffmpeg")

    def test_unknown_suffix_and_unsupported_format(self):
        image = pattern_image(4, 4, 0, orvo.DYX_IMG_FMT_LA)
        self.assertEqual(image.save(self.path("x.unknownsuffix")), -1)
        self.assertEqual(image.errstr(), SAVE_UNKNOWN)
        self.assertEqual(image.save(self.path("la.jpg")), -2)  # jpeg writes L and RGB only
        self.assertEqual(image.errstr(), "Pixel format unsupported by this file format.")
        self.assertEqual(self.files(), [])

    def test_cannot_create_or_write(self):
        image = pattern_image(4, 4, 0)
        missing = os.path.join("no", "such", "dir")
        self.assertEqual(image.save(self.path(os.path.join(missing, "clip.mkv"))), -3)
        self.assertEqual(fixed_text(image.errstr()), "Unable to create the new file.")
        self.assertEqual(image.save(self.path("n" * 1100 + ".png")), -5)
        self.assertEqual(image.errstr(), "")  # -5 leaves the text as it was


class MovieReasonTest(ScratchTestCase):
    needed_codecs = ("ppm", "png", "ffmpeg")

    def test_damaged_movies_say_what_is_wrong(self):
        write_movie(self.path("clip.mp4"), [pattern_image(32, 24, k) for k in range(4)])
        # The index of an .mp4 comes last: a file cut short has none.
        damaged(self.path("clip.mp4"), self.path("cut.mp4"), half)
        sound = wave.open(self.path("sound.mp4"), "wb")  # sound only, under a movie's name
        sound.setnchannels(1)
        sound.setsampwidth(2)
        sound.setframerate(8000)
        sound.writeframes(struct.pack("<800h", *range(800)))
        sound.close()
        for name, reason in (("cut.mp4", "moov atom not found"), ("sound.mp4", "no video stream"),
                             ("missing.mp4", self.path("missing.mp4") + ": No such file or directory")):
            movie = orvo.movie()
            movie.filename = self.path(name)
            self.assertEqual(movie.open(), -1, name)
            message = movie.errstr()
            self.assertEqual(fixed_text(message), "Unable to open movie file", message)
            self.assertIn(reason, message)


if __name__ == "__main__":
    unittest.main()
