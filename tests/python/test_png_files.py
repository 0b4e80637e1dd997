"""PNG files made by other tools: every frame of an animated PNG, composed
as Pillow and the ffmpeg command show it, and large ancillary chunks that
the bound on chunk sizes must still let through."""
import os
import struct
import unittest
import zlib

import orvo
from movie_testing import ScratchTestCase, open_movie, pattern_image, write_movie
from orvo_testing import run_bounded, top_down_bytes

try:
    import numpy
    from PIL import Image
except ImportError:  # Python 2.7 here has neither
    numpy = None
    Image = None

FORMAT_OF_MODE = {"L": orvo.DYX_IMG_FMT_L, "LA": orvo.DYX_IMG_FMT_LA,
                  "RGB": orvo.DYX_IMG_FMT_RGB, "RGBA": orvo.DYX_IMG_FMT_RGBA}


def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xffffffff)


class BoundedChunksTest(ScratchTestCase):
    """Chunk lengths are checked against the file before anything is
    allocated (C++ checks the refusals); chunks that are there still read."""

    def test_large_ancillary_chunks_that_are_there_still_read(self):
        picture = pattern_image(3, 2, 1)
        path = self.path("noted.png")
        self.assertEqual(picture.save(path), 0)
        with open(path, "rb") as source:
            data = source.read()
        # A 3 MB note after the header (8 + 25 bytes) and another before IEND.
        note = chunk(b"tEXt", b"Comment\0" + b"x" * (3 << 20))
        with open(path, "wb") as out:
            out.write(data[:33] + note + data[33:-12] + note + data[-12:])
        image = orvo.image()
        self.assertEqual(image.load(path), 0, image.errstr())
        self.assertEqual(image.tostring(), picture.tostring())


class DamagedChunkNameTest(ScratchTestCase):
    """A damaged PNG whose chunk stream runs into bytes that are no UTF-8
    (as Pillow's broken_data_stream.png does) is refused with its reason
    as text, never with a decoding error of the reason."""

    def test_every_refusal_is_a_readable_reason(self):
        path = self.path("broken.png")
        self.assertEqual(pattern_image(8, 6, 1).save(path), 0)
        with open(path, "rb") as source:
            data = source.read()
        # After the header: a "chunk" of junk whose name is no UTF-8 text.
        junk = struct.pack(">I", 0x40000000) + b"\x9f\xe8\xc3\x28" + b"\xff\xfe junk" * 4
        with open(path, "wb") as out:
            out.write(data[:33] + junk + data[33:])
        if Image is not None:
            with self.assertRaises(Exception):  # Pillow refuses the file too
                Image.open(path).load()
        image = orvo.image()
        movie = orvo.movie()
        movie.filename = path
        for status, reason, fixed in ((image.load(path), image.errstr(), "Unable to open the file."),
                                      (movie.open(), movie.errstr(), "Unable to open movie file")):
            self.assertLess(status, 0)
            self.assertIsInstance(reason, str)
            self.assertEqual(reason.partition(": ")[0], fixed)
            self.assertIn("chunk claims", reason)
        with self.assertRaises(orvo.Error) as raised:
            orvo.imread(path)
        self.assertIn("chunk claims", str(raised.exception))


@unittest.skipIf(numpy is None, "NumPy and Pillow make and check the animations")
class AnimatedPngTest(ScratchTestCase):
    """Every frame of an animated PNG is a frame, composed on the canvas."""

    def frames_of(self, mode, count, seed, size=(23, 17), binary_alpha=True):
        random = numpy.random.RandomState(seed)
        frames = []
        for _ in range(count):
            array = random.randint(0, 256, (size[1], size[0], len(mode))).astype(numpy.uint8)
            if "A" in mode and binary_alpha:
                array[..., -1] = numpy.where(random.rand(size[1], size[0]) < 0.3, 0, 255)
            frames.append(Image.fromarray(array if len(mode) > 1 else array[..., 0], mode))
        return frames

    def pillow_frames(self, path, mode):
        shown = Image.open(path)
        result = []
        for index in range(shown.n_frames):
            shown.seek(index)
            result.append(numpy.asarray(shown.convert(mode)))
        return result

    def assert_frames(self, path, mode, expected):
        movie = open_movie(path)
        self.assertEqual(movie.nframes, len(expected))
        for index, wanted in enumerate(expected):
            image = orvo.image()
            self.assertEqual(image.load(path, index), 0, image.errstr())
            self.assertEqual(image.format, FORMAT_OF_MODE[mode])
            got = numpy.frombuffer(top_down_bytes(image), numpy.uint8).reshape(wanted.shape)
            self.assertTrue(numpy.array_equal(got, wanted), "%s frame %d" % (path, index))
            from_movie = movie.getframe(index)[0]
            self.assertEqual(bytearray(from_movie.tostring()), bytearray(image.tostring()))
        image = orvo.image()
        self.assertNotEqual(image.load(path, len(expected)), 0)

    def test_frames_match_pillow_for_every_dispose_and_blend(self):
        cases = [
            # mode, dispose per frame, blend per frame, a default picture
            ("RGBA", [0, 1, 2, 0], [0, 1, 1, 0], False),
            ("RGBA", [2, 2, 1, 0], [1, 1, 0, 1], False),
            ("RGBA", [1, 0, 0, 2], [0, 0, 1, 1], False),
            ("RGB", [0, 1, 2, 0], [0, 1, 0, 1], False),
            ("L", [0, 0, 0, 0], [0, 0, 0, 0], False),  # Pillow disposes of no grey frames
            ("LA", [0, 0, 0, 0], [0, 0, 0, 0], False),
            # The first picture is the one readers that know no animation
            # show; it is no frame of the animation.
            ("RGBA", [0, 0, 0, 0], [0, 0, 0, 0], True),
        ]
        for number, (mode, dispose, blend, default_image) in enumerate(cases):
            frames = self.frames_of(mode, 4, number)
            # Frames that change only a corner become sub-rectangles.
            corner = numpy.asarray(frames[0]).copy()
            corner[3:9, 4:12] = numpy.asarray(frames[2])[3:9, 4:12]
            frames[2] = Image.fromarray(corner, mode)
            path = self.path("anim%d.png" % number)
            frames[0].save(path, save_all=True, append_images=frames[1:], disposal=dispose, blend=blend,
                           default_image=default_image)
            shown = self.pillow_frames(path, mode)
            self.assert_frames(path, mode, shown[1:] if default_image else shown)

    def test_partial_alpha_blends_as_the_ffmpeg_command_does(self):
        ffmpeg = "/usr/bin/ffmpeg"
        if not os.path.exists(ffmpeg):
            self.fail("the ffmpeg command is missing: install ffmpeg (scripts/deps.txt)")
        for mode, pixel_format in (("RGBA", "rgba"), ("LA", "ya8")):
            frames = self.frames_of(mode, 4, 21, binary_alpha=False)
            path = self.path("soft_%s.png" % mode)
            frames[0].save(path, save_all=True, append_images=frames[1:], disposal=[0, 0, 2, 0],
                           blend=[0, 1, 1, 1])
            raw_path = self.path("soft_%s.raw" % mode)
            status, _, err = run_bounded([ffmpeg, "-v", "error", "-f", "apng", "-i", path, "-f", "rawvideo",
                                          "-pix_fmt", pixel_format, raw_path], 60)
            self.assertEqual(status, 0, err)
            raw = numpy.fromfile(raw_path, numpy.uint8).reshape(-1, 17, 23, len(mode))
            self.assertEqual(len(raw), 4)
            self.assert_frames(path, mode, list(raw))

    def damaged_animation(self, name, change):
        """A three-frame RGB animation written by Pillow, its bytes changed."""
        frames = self.frames_of("RGB", 3, 5)
        path = self.path(name)
        frames[0].save(path, save_all=True, append_images=frames[1:])
        with open(path, "rb") as source:
            data = bytearray(source.read())
        change(data)
        with open(path, "wb") as out:
            out.write(bytes(data))
        return path

    def test_damaged_frames_are_reported_with_the_reason(self):
        def bad_crc(data):  # the last fdAT chunk's data, one byte changed
            data[data.rfind(b"fdAT") + 10] ^= 0xFF

        def outside(data):  # the second fcTL's x offset, and its CRC made to fit again
            second = data.find(b"fcTL", data.find(b"fcTL") + 4)
            data[second + 4 + 12:second + 4 + 16] = struct.pack(">I", 20)
            body = bytes(data[second:second + 4 + 26])
            data[second + 30:second + 34] = struct.pack(">I", zlib.crc32(body) & 0xffffffff)

        image = orvo.image()
        path = self.damaged_animation("crc.png", bad_crc)
        self.assertEqual(image.load(path, 1), 0, image.errstr())
        self.assertNotEqual(image.load(path, 2), 0)
        self.assertIn("frame 2: fdAT: CRC error", image.errstr())
        self.assertNotEqual(image.load(self.damaged_animation("outside.png", outside)), 0)
        self.assertIn("damaged animation: a frame lies outside the picture", image.errstr())

    def test_frames_written_to_one_name_make_an_animation_pillow_reads(self):
        frames = [pattern_image(9, 7, seed) for seed in range(3)]
        path = self.path("written.png")
        write_movie(path, frames)
        shown = self.pillow_frames(path, "RGB")
        self.assertEqual(len(shown), 3)
        for index, frame in enumerate(frames):
            self.assertEqual(shown[index].tobytes(), top_down_bytes(frame), index)
        self.assert_frames(path, "RGB", shown)


if __name__ == "__main__":
    unittest.main()
