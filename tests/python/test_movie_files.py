"""Movies made by the ffmpeg command, read through the movie plug-in and
compared with what the ffmpeg command itself decodes: every container with
B-frames in any order, files cut short, high bit depth, files with several
video streams and animated GIF (Python 2.7 and 3)."""
import os
import random
import unittest

from movie_testing import ScratchTestCase, last_udil_error, open_movie
from orvo_testing import have_command, run_bounded

import orvo

try:
    from PIL import Image
except ImportError:
    Image = None

FFMPEG_SECONDS = 120
_encoders = []


def have_encoder(name):
    if not _encoders:
        status, out, err = run_bounded(["ffmpeg", "-hide_banner", "-encoders"], FFMPEG_SECONDS)
        _encoders.append(out if status == 0 else "")
    return (" %s " % name) in _encoders[0]


def top_down(data, width, height, components):
    """Rows of a frame the host keeps bottom row first, top row first."""
    row = width * components
    return b"".join(data[(height - 1 - y) * row:(height - y) * row] for y in range(height))


def largest_difference(a, b):
    return max(abs(x - y) for x, y in zip(bytearray(a), bytearray(b))) if a else 0


@unittest.skipIf(not have_command("ffmpeg"), "the ffmpeg command is not installed (Debian package ffmpeg)")
class FfmpegMovieCase(ScratchTestCase):
    needed_codecs = ("ffmpeg",)

    def make(self, name, output_arguments, source="testsrc2=size=64x48:rate=25", frames=30, inputs=None):
        """Encodes `frames` frames of a lavfi test source (or `inputs`) with the ffmpeg command."""
        path = self.path(name)
        if inputs is None:
            inputs = ["-f", "lavfi", "-i", source, "-frames:v", str(frames)]
        status, out, err = run_bounded(["ffmpeg", "-nostdin", "-v", "error", "-y"] + inputs + output_arguments +
                                       [path], FFMPEG_SECONDS)
        if status != 0:
            self.fail("ffmpeg could not make %s: %s" % (name, err.strip()))
        return path

    def reference(self, path, pixel_format):
        """The frames the ffmpeg command decodes from its own choice of
        video stream, each as bytes top row first, none repeated or
        dropped."""
        raw = path + ".raw"
        status, out, err = run_bounded(["ffmpeg", "-nostdin", "-v", "quiet", "-y", "-i", path, "-fps_mode",
                                        "passthrough", "-f", "rawvideo", "-pix_fmt", pixel_format, raw],
                                       FFMPEG_SECONDS)
        with open(raw, "rb") as data:
            return data.read()

    def read_frames(self, movie, order):
        """{frame: bytes top row first, or None with the error text}."""
        width, height = movie.dims
        frames = {}
        for k in order:
            got = movie.getframe(k)
            if got == -1:
                frames[k] = (None, movie.errstr())
                continue
            image = got[0]
            components = 4 if image.format == orvo.DYX_IMG_FMT_RGBA else 3
            frames[k] = (top_down(image.tostring(), width, height, components), None)
        return frames

    def assert_like_ffmpeg(self, path, tolerance=0, shuffled=True):
        """Every frame read in order equals the ffmpeg command's decode (to
        within `tolerance`), and read again in shuffled order equals the
        frame read in order."""
        movie = open_movie(path)
        width, height = movie.dims
        first = movie.getframe(0)
        self.assertNotEqual(first, -1, "%s: %s" % (path, movie.errstr()))
        alpha = first[0].format == orvo.DYX_IMG_FMT_RGBA
        size = width * height * (4 if alpha else 3)
        reference = self.reference(path, "rgba" if alpha else "rgb24")
        name = os.path.basename(path)
        self.assertEqual(movie.nframes, len(reference) // size, "%s: frame count" % name)
        in_order = self.read_frames(movie, range(movie.nframes))
        for k in range(movie.nframes):
            pixels, error = in_order[k]
            self.assertIsNone(error, "%s frame %d: %s" % (name, k, error))
            difference = largest_difference(pixels, reference[k * size:(k + 1) * size])
            self.assertLessEqual(difference, tolerance, "%s frame %d differs by %d" % (name, k, difference))
        movie.close()
        if shuffled:
            order = list(range(len(in_order)))
            random.Random(len(order)).shuffle(order)
            again = self.read_frames(open_movie(path), order)
            for k in order:
                self.assertTrue(again[k] == in_order[k], "%s frame %d read out of order: %s" %
                                (name, k, again[k][1] or "other pixels"))
        return movie


class EveryFrameInAnyOrderTest(FfmpegMovieCase):
    # B-frames everywhere they exist; the .mpg ends on a key frame followed
    # by its leading B-frames, large enough that the demuxer splits it.
    SMALL, LARGE = "testsrc2=size=64x48:rate=25", "testsrc2=size=320x240:rate=25"
    CONTAINERS = [
        ("h264.mp4", ["-c:v", "libx264", "-bf", "2", "-g", "10"], SMALL, 30),
        ("h264.mov", ["-c:v", "libx264", "-bf", "2", "-g", "10"], SMALL, 30),
        ("h264.mkv", ["-c:v", "libx264", "-bf", "2", "-g", "10"], SMALL, 30),
        ("h264.ts", ["-c:v", "libx264", "-bf", "2", "-g", "10"], SMALL, 30),
        ("h264.flv", ["-c:v", "libx264", "-bf", "2", "-g", "10"], SMALL, 30),
        ("mpeg4.avi", ["-c:v", "mpeg4", "-bf", "2", "-g", "10"], SMALL, 30),
        ("mpeg4.m4v", ["-c:v", "mpeg4", "-bf", "2", "-g", "10", "-f", "mp4"], SMALL, 30),
        ("mpeg2.mpg", ["-c:v", "mpeg2video", "-bf", "2", "-g", "6", "-q:v", "2"], LARGE, 31),
        ("mpeg2.ts", ["-c:v", "mpeg2video", "-bf", "2", "-g", "6", "-q:v", "2"], LARGE, 31),
        ("vp9.webm", ["-c:v", "libvpx-vp9", "-g", "10", "-deadline", "realtime"], SMALL, 20),
        ("mjpeg.avi", ["-c:v", "mjpeg", "-q:v", "3"], SMALL, 10),
        ("ffv1.mkv", ["-c:v", "ffv1"], SMALL, 10),
        ("mpeg2.mxf", ["-c:v", "mpeg2video", "-bf", "2", "-g", "6", "-q:v", "2"], LARGE, 31),
        ("mpeg1.mpeg", ["-c:v", "mpeg1video", "-bf", "2", "-g", "6", "-q:v", "2"], LARGE, 31),
        ("h264.3gp", ["-c:v", "libx264", "-bf", "2", "-g", "10"], SMALL, 20),
        ("wmv2.wmv", ["-c:v", "wmv2", "-g", "10"], SMALL, 20),
        # The Ogg muxer keeps fewer frames than it is given: the count is
        # checked against the ffmpeg command's only.
        ("theora.ogv", ["-c:v", "libtheora", "-g", "10"], SMALL, None),
        ("raw.y4m", ["-pix_fmt", "yuv420p"], SMALL, 10),
        ("anim.gif", [], "testsrc2=size=64x48:rate=10", 12),
    ]

    def test_every_frame_in_shuffled_order_equals_the_sequential_decode_and_ffmpeg(self):
        for name, arguments, source, frames in self.CONTAINERS:
            if "-c:v" in arguments and not have_encoder(arguments[arguments.index("-c:v") + 1]):
                continue  # this ffmpeg cannot write it: nothing to read
            movie = self.assert_like_ffmpeg(self.make(name, arguments, source, frames or 20))
            if frames is not None:
                self.assertEqual(movie.nframes, frames, name)

    @unittest.skipIf(Image is None, "Pillow is not installed (Debian package python3-pil)")
    def test_animated_gif_with_uneven_and_zero_delays_gives_every_frame(self):
        frames = [Image.new("RGB", (40, 30), (k * 30, 255 - k * 30, k * 50 % 256)) for k in range(8)]
        for name, delays in (("uneven.gif", [100, 0, 50, 0, 200, 0, 10, 100]), ("zero.gif", 0)):
            path = self.path(name)
            frames[0].save(path, save_all=True, append_images=frames[1:], duration=delays, loop=0)
            self.assertEqual(self.assert_like_ffmpeg(path).nframes, 8, name)


class DamagedFileTest(FfmpegMovieCase):
    def test_a_half_copied_file_counts_the_frames_ffmpeg_decodes(self):
        # The index sits at the start of the file, so a copy cut anywhere
        # still opens; its last packet is then cut inside.
        whole = self.make("whole.mp4", ["-c:v", "libx264", "-g", "12", "-bf", "2", "-movflags", "+faststart"],
                          "testsrc2=size=320x240:rate=25", 40)
        with open(whole, "rb") as data:
            content = data.read()
        for percent in (50, 80, 90, 95, 98):
            cut = self.path("cut%d.mp4" % percent)
            with open(cut, "wb") as out:
                out.write(content[:len(content) * percent // 100])
            movie = self.assert_like_ffmpeg(cut)
            self.assertLess(movie.nframes, 40, cut)

    def test_a_damaged_frame_fails_with_its_reason_and_the_others_decode(self):
        path = self.make("whole.avi", ["-c:v", "mpeg4", "-g", "10", "-bf", "0"])
        status, out, err = run_bounded(["ffprobe", "-v", "error", "-select_streams", "v", "-show_entries",
                                        "packet=pos,size", "-of", "csv=p=0", path], FFMPEG_SECONDS)
        self.assertEqual(status, 0, err)
        size, position = [int(value) for value in out.split()[10].split(",")]  # ffprobe's field order
        with open(path, "rb") as data:
            content = bytearray(data.read())
        # The key frame 10 keeps its start code; the rest is noise.
        content[position + 4:position + size] = b"\xff" * (size - 4)
        damaged = self.path("damaged.avi")
        with open(damaged, "wb") as out:
            out.write(bytes(content))
        movie = open_movie(damaged)
        frames = self.read_frames(movie, range(movie.nframes))
        self.assertTrue(frames[10][0] is None, "frame 10 decoded")
        self.assertIn("frame 10 could not be decoded: Invalid data found", frames[10][1])
        # The ffmpeg command drops the frame; every other one is the same.
        others = b"".join(frames[k][0] for k in range(movie.nframes) if k != 10)
        self.assertTrue(others == self.reference(damaged, "rgb24"), "the other frames differ from ffmpeg's")


class HighBitDepthTest(FfmpegMovieCase):
    # Odd sizes and HD included: chroma rows are where a conversion made
    # upside down shows. Streams are tagged so that no guess of the matrix
    # differs from the ffmpeg command's.
    CASES = [  # name, encoder, pixel format, size, encoder options
        ("h264_10.mp4", "libx264", "yuv420p10le", "64x48", []),
        ("h264_10_odd.mp4", "libx264", "yuv420p10le", "70x46", []),
        ("h264_10_hd.mp4", "libx264", "yuv420p10le", "1280x720", []),
        ("h264_422_10.mkv", "libx264", "yuv422p10le", "70x46", []),
        ("hevc_10.mkv", "libx265", "yuv420p10le", "70x46", ["-x265-params", "log-level=none"]),
        ("prores_4444.mov", "prores_ks", "yuva444p10le", "70x46", ["-profile:v", "4444"]),
    ]

    def test_ten_bit_streams_convert_like_ffmpeg(self):
        made = 0
        for name, encoder, pixel_format, size, options in self.CASES:
            if not have_encoder(encoder):
                continue  # HEVC Main 10 needs an ffmpeg built with libx265
            arguments = ["-c:v", encoder, "-pix_fmt", pixel_format, "-colorspace", "bt709", "-color_primaries",
                         "bt709", "-color_trc", "bt709"] + options
            self.assert_like_ffmpeg(self.make(name, arguments, "testsrc2=size=%s:rate=25" % size, 4), tolerance=1,
                                    shuffled=False)
            made += 1
        self.assertGreater(made, 0, "no 10-bit encoder in this ffmpeg")


class VideoStreamChoiceTest(FfmpegMovieCase):
    def two_streams(self, name, first_disposition):
        # Six frames in each stream (0.24 s at 25 per second).
        return self.make(name, ["-map", "0", "-map", "1", "-c:v", "libx264", "-disposition:v:0", first_disposition,
                                "-disposition:v:1", "0"],
                         inputs=["-f", "lavfi", "-t", "0.24", "-i", "testsrc2=size=32x24:rate=25", "-f", "lavfi", "-t",
                                 "0.24", "-i", "testsrc=size=64x48:rate=25"])

    def test_the_stream_ffmpeg_shows_is_read_by_default_and_others_on_request(self):
        # The largest picture, unless a smaller one is marked the default.
        for first_disposition, dims in (("default", [32, 24]), ("0", [64, 48])):
            path = self.two_streams("two_%s.mkv" % first_disposition, first_disposition)
            movie = self.assert_like_ffmpeg(path, shuffled=False)
            self.assertEqual((movie.dims, movie.nframes), (dims, 6), first_disposition)
        for option, dims in (("stream 1", [32, 24]), ("stream 2", [64, 48]), ("stream 0", [64, 48])):
            self.assertEqual(open_movie(path, options=option).dims, dims, option)
        movie = orvo.movie()
        movie.filename = path
        movie.options = "stream 3"
        self.assertNotEqual(movie.open(), 0)
        self.assertIn("there is no video stream 3 (the file has 2)", movie.errstr() + last_udil_error())

    def test_cover_art_is_not_the_movie(self):
        movie_path = self.make("plain.mp4", ["-c:v", "libx264"], frames=10)
        cover = self.make("cover.png", [], "testsrc=size=128x96", 1)
        path = self.make("with_cover.mp4", ["-map", "0", "-map", "1", "-c:v:0", "copy", "-c:v:1", "png",
                                            "-disposition:v:1", "attached_pic"],
                         inputs=["-i", movie_path, "-i", cover])
        movie = self.assert_like_ffmpeg(path, shuffled=False)
        self.assertEqual((movie.dims, movie.nframes), ([64, 48], 10))


if __name__ == "__main__":
    unittest.main()
