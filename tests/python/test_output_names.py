"""Output names: a file is written under the name the script gave, in the
container or format its suffix names, or refused; and every codec keeps
pictures of 1 to 4 pixels a side."""
import os
import unittest

import orvo
from movie_testing import (ScratchTestCase, last_udil_error, new_write_movie, open_movie, pattern_image, pixels,
                           write_movie)
from orvo_testing import COMPONENTS, have_command, run_bounded, top_down_bytes

HAVE_FFPROBE = have_command("ffprobe")


def smooth_image(width, height, seed, format=orvo.DYX_IMG_FMT_RGB):
    """A gentle gradient, different for each seed: lossy codecs keep it
    within a few levels even at one pixel."""
    channels = COMPONENTS[format]
    base = 30 + (37 * seed) % 100
    values = bytearray(base + 50 * x // width + 30 * y // height + 20 * c
                       for y in range(height) for x in range(width) for c in range(channels))
    return orvo.image(width, height, format, bytes(values))


def colour_bytes(image):
    """The image's bytes without an alpha channel (a GIF reads back RGBA)."""
    data = pixels(image)
    if len(data) == image.dims[0] * image.dims[1] * 4:
        del data[3::4]
    return data


def largest_difference(first, second):
    a, b = colour_bytes(first), colour_bytes(second)
    if len(a) != len(b):
        return 256
    return max(abs(x - y) for x, y in zip(a, b))


def probe(path):
    """(container name, video codec name) as ffprobe reports them."""
    status, out, err = run_bounded(["ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                                    "stream=codec_name:format=format_name", "-of", "default=nw=1", path], 60)
    if status != 0:
        raise AssertionError("ffprobe %s: %s" % (path, err))
    fields = dict(line.split("=", 1) for line in out.splitlines() if "=" in line)
    return fields.get("format_name", ""), fields.get("codec_name", "")


def ffmpeg_decoded(path):
    """The RGB frames of the movie at `path` as the ffmpeg command decodes them."""
    status, out, err = run_bounded(["ffmpeg", "-v", "error", "-i", path, "-f", "rawvideo", "-pix_fmt", "rgb24",
                                    "-"], 60, text=False)
    if status != 0:
        raise AssertionError("ffmpeg %s: %s" % (path, err))
    return out


class MovieNamesTest(ScratchTestCase):
    needed_codecs = ("ppm", "png", "tiff", "ffmpeg")

    # Guards against movies written under another name (out.mkv as
    # out.mp4, mjpeg.mov as .avi) while open() and close() returned 0.
    def test_a_container_name_is_written_as_given(self):
        cases = (
            ("out.mkv", "", "matroska", "h264"),
            ("out.mov", "", "mov", "h264"),
            ("out.avi", "", "avi", "mpeg4"),  # as the ffmpeg command writes it
            ("out.ts", "", "mpegts", "h264"),
            ("out.m4v", "", "mp4", "h264"),
            ("out.mxf", "", "mxf", "h264"),
            ("upper.MP4", "", "mp4", "h264"),
            # Containers that cannot hold H.264 get their own codec.
            ("out.webm", "", "webm", "vp9"),
            ("out.gif", "", "gif", "gif"),
            ("out.y4m", "", "yuv4mpegpipe", "rawvideo"),
            ("mjpeg.mov", "codec mjpeg", "mov", "mjpeg"),
            ("prores.mkv", "codec prores", "matroska", "prores"),
            ("mpeg4.avi", "codec mpeg4", "avi", "mpeg4"),
        )
        images = [smooth_image(32, 32, k) for k in range(5)]
        for name, options, container, codec in cases:
            write_movie(self.path(name), images, options=options)
            self.assertEqual(self.files(), [name])
            movie = open_movie(self.path(name))
            self.assertEqual(movie.nframes, 5, name)
            self.assertLessEqual(largest_difference(movie.getframe(4)[0], images[4]), 80, name)
            movie.close()
            if HAVE_FFPROBE:
                formats, video = probe(self.path(name))
                self.assertIn(container, formats.split(","), name)
                self.assertEqual(video, codec, name)
            os.remove(self.path(name))

    def test_a_codec_the_container_cannot_hold_is_refused_at_open(self):
        for name, codec in (("p.mp4", "prores"), ("h.webm", "h264"), ("f.ts", "ffv1"), ("j.gif", "mjpeg"),
                            ("m.y4m", "mpeg4")):
            movie = new_write_movie(self.path(name), (16, 16), 2, options="codec " + codec)
            self.assertEqual(movie.open(), -1, name)
            message = last_udil_error()
            self.assertIn(codec, message)
            self.assertIn(os.path.splitext(name)[1], message)
            self.assertEqual(self.files(), [], name)  # never renamed, nothing made

    def test_a_hash_run_too_short_for_the_frames_is_refused_at_open(self):
        movie = new_write_movie(self.path("short_#.tif"), (4, 4), 11)
        self.assertNotEqual(movie.open(), 0)
        self.assertIn("11 frames need more digits", movie.errstr())
        self.assertEqual(self.files(), [])

    def test_a_name_the_codec_does_not_list_gets_its_suffix(self):
        # Guards against a renamed output replacing a file of that other name.
        with open(self.path("out.mp4"), "wb") as other:
            other.write(b"keep me")
        for name, options, written in (("plain", "", "plain.mp4"), ("lossless", "codec ffv1", "lossless.mkv"),
                                       ("dotted.v2", "codec prores", "dotted.v2.mov"), ("out.mkv", "", "out.mkv")):
            write_movie(self.path(name), [smooth_image(16, 16, k) for k in range(2)], format="ffmpeg", options=options)
            self.assertEqual(open_movie(self.path(written)).nframes, 2, name)
        self.assertEqual(len(self.files()), 5)
        with open(self.path("out.mp4"), "rb") as other:
            self.assertEqual(other.read(), b"keep me")

    def test_sequences_eye_pairs_and_tiles_keep_their_suffix(self):
        images = [pattern_image(32, 16, k) for k in range(2)]
        pairs = [(images[k], pattern_image(32, 16, k + 5)) for k in range(2)]
        write_movie(self.path("shot.####.PNG"), images)
        write_movie(self.path("bare.##"), images, format="png")
        write_movie(self.path("st.@.#.pam"), pairs, stereo=1)
        write_movie(self.path("eyes@.mkv"), pairs, stereo=1, options="codec ffv1")
        write_movie(self.path("tiles.mkv"), images, tiling=(2, 1), options="codec ffv1")
        write_movie(self.path("cells.ppm"), images, tiling=(1, 2))
        # PNG and TIFF files hold many frames: each tile is one file of every
        # frame, unless a hash run asks for a file per frame.
        write_movie(self.path("anim.png"), images, tiling=(1, 2))
        write_movie(self.path("pages.tif"), images, tiling=(2, 1))
        write_movie(self.path("wall.##.tif"), images, tiling=(2, 1))
        self.assertEqual(self.files(), ["anim.png.mtm", "anim_0000.png", "anim_0001.png", "bare.00.png", "bare.01.png",
                                        "cells.ppm.mtm", "cells_0000.0000.ppm", "cells_0000.0001.ppm",
                                        "cells_0001.0000.ppm", "cells_0001.0001.ppm", "eyesl.mkv", "eyesr.mkv",
                                        "pages.tif.mtm", "pages_0000.tif", "pages_0001.tif",
                                        "shot.0000.PNG", "shot.0001.PNG",
                                        "st.l.0.pam", "st.l.1.pam", "st.r.0.pam", "st.r.1.pam",
                                        "tiles.mkv.mtm", "tiles_0000.mkv", "tiles_0001.mkv", "wall.##.tif.mtm",
                                        "wall.00_0000.tif", "wall.00_0001.tif", "wall.01_0000.tif", "wall.01_0001.tif"])
        with open(self.path("st.l.0.pam"), "rb") as pam:
            self.assertEqual(pam.read(3), b"P7\n")
        if HAVE_FFPROBE:
            self.assertIn("matroska", probe(self.path("tiles_0001.mkv"))[0].split(","))
        for name in ("shot.####.PNG", "eyes@.mkv", "tiles.mkv.mtm", "cells.ppm.mtm", "anim.png.mtm", "pages.tif.mtm",
                     "wall.##.tif.mtm"):
            movie = open_movie(self.path(name))
            self.assertEqual(movie.nframes, 2, name)
            for k in range(2):
                frame = movie.getframe(k)
                self.assertEqual([eye.tostring() for eye in frame],
                                 [eye.tostring() for eye in (pairs[k] if "@" in name else [images[k]])], name)
            movie.close()


SMALL_SIZES = [(w, h) for w in range(1, 5) for h in range(1, 5)]


class ImageSaveNamesTest(ScratchTestCase):
    needed_codecs = ("ppm", "png", "jpeg", "tiff", "ffmpeg")

    # Guards against image.save("e.pam") writing e.ppm, save("h.gif") h.mp4.
    # The still formats keep pictures of 1 to 4 pixels a side as well.
    def test_save_writes_the_name_given_in_its_format(self):
        rgb, grey = orvo.DYX_IMG_FMT_RGB, orvo.DYX_IMG_FMT_L
        # name, pixel format, offset and bytes of the magic number, largest
        # difference read back (None: not compared, only at one size)
        cases = (("e.pam", rgb, 0, b"P7\n", 0), ("e.ppm", rgb, 0, b"P6\n", 0),
                 ("g.ppm", grey, 0, b"P5\n", 0), ("g.pgm", grey, 0, b"P5\n", 0),
                 ("a.PAM", orvo.DYX_IMG_FMT_RGBA, 0, b"P7\n", 0), ("x.PNG", rgb, 0, b"\x89PNG", 0),
                 ("t.TIFF", rgb, 0, b"II*\x00", 0), ("j.jpeg", rgb, 0, b"\xff\xd8\xff", 16),
                 ("h.gif", rgb, 0, b"GIF8", None), ("m.mov", rgb, 4, b"ftyp", None))
        for name, format, offset, magic, tolerance in cases:
            for width, height in [(8, 6)] + (SMALL_SIZES if tolerance is not None else []):
                label = "%s %dx%d" % (name, width, height)
                image = smooth_image(width, height, 1, format)
                self.assertEqual(image.save(self.path(name)), 0, label)
                self.assertEqual(self.files(), [name])
                with open(self.path(name), "rb") as saved:
                    self.assertEqual(saved.read(offset + len(magic))[offset:], magic, label)
                loaded = orvo.image()
                self.assertEqual(loaded.load(self.path(name)), 0, label)
                self.assertEqual(loaded.dims, [width, height], label)
                if tolerance == 0:
                    self.assertEqual(loaded.tostring(), image.tostring(), label)
                elif tolerance is not None:
                    self.assertLessEqual(largest_difference(loaded, image), tolerance, label)
                os.remove(self.path(name))


class SmallPicturesTest(ScratchTestCase):
    needed_codecs = ("ppm", "png", "jpeg", "tiff", "ffmpeg")

    # Guards against FFV1 pictures with a side of 1 or 2 pixels coming back
    # as zeros (or refused) while every call returned 0; the ffmpeg command
    # decodes them as written.
    def test_every_movie_codec_at_every_small_size(self):
        for codec, suffix, tolerance in (("ffv1", ".mkv", 0), ("prores", ".mov", 8), ("h264", ".mp4", 16),
                                         ("mpeg4", ".mp4", 16), ("mjpeg", ".avi", 16)):
            for width, height in SMALL_SIZES:
                name = "%s_%dx%d%s" % (codec, width, height, suffix)
                images = [smooth_image(width, height, k) for k in range(2)]
                write_movie(self.path(name), images, options="codec " + codec)
                movie = open_movie(self.path(name))
                self.assertEqual(movie.nframes, 2, name)
                for k, image in enumerate(images):
                    self.assertLessEqual(largest_difference(movie.getframe(k)[0], image), tolerance,
                                         "%s frame %d" % (name, k))
                movie.close()
                if codec == "ffv1":
                    self.assertEqual(ffmpeg_decoded(self.path(name)), b"".join(map(top_down_bytes, images)), name)


if __name__ == "__main__":
    unittest.main()
