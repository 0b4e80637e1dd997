"""Movies the ffmpeg command makes at test time in layouts that used to
read wrong, read through the movie plug-in and compared with the command's
own decode: palette movies read in any order, every YUV layout it writes
losslessly at even and odd sizes, VP8 and VP9 with alpha, and the
containers of cameras, discs and tools by their suffixes (Python 2.7 and
3)."""
import os
import random
import sys
import unittest

import orvo
from movie_testing import ScratchTestCase, open_movie
from orvo_testing import have_command, run_bounded

FFMPEG_SECONDS = 120
SOURCE = "testsrc2=size=%dx%d:rate=25,format=rgb24"
ALPHA_SOURCE = "testsrc2=size=%dx%d:rate=25,format=rgba,geq=r='r(X,Y)':g='g(X,Y)':b='b(X,Y)':a='4*X+Y'"
FIGURES = []  # (case, mean, worst): the measured differences, see tearDownModule


def top_down(data, width, height, components):
    row = width * components
    return b"".join(data[(height - 1 - y) * row:(height - y) * row] for y in range(height))


def spoiled_by_command(layout, height):
    """Whether the command's default conversion of `layout` takes one of
    swscale's special converters (planar 4:2:2, 4:2:0 of an even height),
    which spoil the last columns of widths that are not a multiple of 16."""
    if layout in ("yuv422p", "yuvj422p"):
        return True
    return layout in ("yuv420p", "yuvj420p", "yuva420p") and height % 2 == 0


def differences(a, b):
    values = [abs(x - y) for x, y in zip(bytearray(a), bytearray(b))]
    return float(sum(values)) / max(1, len(values)), max(values) if values else 0


@unittest.skipIf(not have_command("ffmpeg"), "the ffmpeg command is not installed (Debian package ffmpeg)")
class LayoutCase(ScratchTestCase):
    needed_codecs = ("ffmpeg",)

    def ffmpeg(self, arguments, must=True):
        status, out, err = run_bounded(["ffmpeg", "-nostdin", "-v", "error", "-y"] + arguments, FFMPEG_SECONDS)
        if status != 0 and must:
            self.fail("ffmpeg %s: %s" % (" ".join(arguments), err.strip()))
        return status == 0

    def make(self, name, output_arguments, size=(64, 48), frames=10, alpha=False, must=True):
        path = self.path(name)
        source = (ALPHA_SOURCE if alpha else SOURCE) % size
        made = self.ffmpeg(["-f", "lavfi", "-i", source, "-frames:v", str(frames)] + output_arguments + [path], must)
        return path if made else None

    def stored_layout(self, path):
        status, out, err = run_bounded(["ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                                        "stream=pix_fmt", "-of", "csv=p=0", path], FFMPEG_SECONDS)
        return out.strip() if status == 0 else None

    def reference(self, path, pixel_format, input_arguments=(), exact=False):
        """The command's decode and RGB conversion; `exact` asks swscale
        for its exact path (the command's default takes the special
        converters, which spoil the last columns of widths that are not a
        multiple of 16)."""
        raw = path + ".raw"
        flags = ["-sws_flags", "bicubic+accurate_rnd+full_chroma_int"] if exact else []
        self.ffmpeg(list(input_arguments) + ["-i", path, "-fps_mode", "passthrough"] + flags +
                    ["-f", "rawvideo", "-pix_fmt", pixel_format, raw])
        with open(raw, "rb") as data:
            return data.read()

    def compare(self, case, path, tolerance, options="", input_arguments=(), alpha=None, shuffled=True,
                layout=None):
        """Reads every frame (in shuffled order) and compares it with the
        ffmpeg command's decode; returns (mean, worst) over the frames."""
        movie = open_movie(path, options=options)
        width, height = movie.dims
        first = movie.getframe(0)
        self.assertNotEqual(first, -1, "%s: %s" % (case, movie.errstr()))
        has_alpha = first[0].format == orvo.DYX_IMG_FMT_RGBA
        if alpha is not None:
            self.assertEqual(has_alpha, alpha, "%s: alpha" % case)
        components = 4 if has_alpha else 3
        size = width * height * components
        reference = self.reference(path, "rgba" if has_alpha else "rgb24", input_arguments,
                                   width % 16 != 0 and spoiled_by_command(layout, height))
        self.assertEqual(movie.nframes, len(reference) // size, "%s: frame count" % case)
        order = list(range(movie.nframes))
        if shuffled:
            random.Random(7).shuffle(order)
        total, worst = 0.0, 0
        for k in order:
            frame = movie.getframe(k)
            self.assertNotEqual(frame, -1, "%s frame %d: %s" % (case, k, movie.errstr()))
            mean, most = differences(top_down(frame[0].tostring(), width, height, components),
                                     reference[k * size:(k + 1) * size])
            total += mean
            worst = max(worst, most)
        movie.close()
        mean = total / max(1, len(order))
        FIGURES.append((case, mean, worst))
        self.assertLessEqual(worst, tolerance, "%s: worst difference %d (mean %.3f)" % (case, worst, mean))
        return mean, worst


class PaletteMovieTest(LayoutCase):
    # Each decoder gets the palette the demuxer hands over with the first
    # packet, whatever frame is read first.
    CASES = [
        ("qtrle-grey.mov", ["-c:v", "qtrle", "-pix_fmt", "gray"]),
        ("smc.mov", ["-c:v", "smc", "-pix_fmt", "pal8"]),
        ("raw-pal8.avi", ["-c:v", "rawvideo", "-pix_fmt", "pal8"]),
        ("raw-pal8.mov", ["-c:v", "rawvideo", "-pix_fmt", "pal8"]),
    ]

    def test_palette_movies_read_in_any_order_equal_ffmpeg(self):
        for name, arguments in self.CASES:
            self.compare(name, self.make(name, arguments), 0)


class YuvLayoutTest(LayoutCase):
    # Every planar, semi-planar and packed YUV layout, 8 bits and deeper,
    # written without loss (FFV1 where it takes the layout, raw video in
    # NUT otherwise), at sizes with even and odd rows and columns, with and
    # without swscale's fast width (a multiple of 16).
    # In three groups, so that parallel runs share the work. Layouts the
    # command cannot store as asked (the J layouts come back as their
    # limited-range twins, NV16, NV24, NV42 and P010 are not stored) are
    # passed over; Motion JPEG covers the J layouts below.
    PLANAR = ["yuv420p", "yuvj420p", "yuv422p", "yuvj422p", "yuv444p", "yuvj444p", "yuv440p", "yuvj440p",
              "yuv411p", "yuvj411p", "yuv410p"]
    PACKED_AND_ALPHA = ["nv12", "nv21", "nv16", "nv24", "nv42", "yuyv422", "uyvy422", "yvyu422", "yuva420p",
                        "yuva422p", "yuva444p"]
    DEEP = ["yuv420p10le", "yuv422p10le", "yuv444p10le", "yuv420p12le", "yuv420p16le", "p010le", "yuva420p10le"]
    SIZES = [(64, 48), (64, 49), (65, 48), (65, 49), (66, 50)]
    # Against the command's conversion (its exact path at widths that are
    # not a multiple of 16, see reference()): rounding of swscale's
    # accurate mode against its default, a level at most.
    TOLERANCE = 1

    def check_layouts(self, layouts):
        """Each layout the command writes without loss, at every size, reads
        as the command converts it; returns the number of files tried."""
        tried = 0
        for layout in layouts:
            for width, height in self.SIZES:
                case = "%s %dx%d" % (layout, width, height)
                alpha = layout.startswith("yuva")
                path = None
                for name, codec in (("ffv1.mkv", "ffv1"), ("raw.nut", "rawvideo")):
                    path = self.make("%s-%dx%d-%s" % (layout, width, height, name),
                                     ["-c:v", codec, "-pix_fmt", layout], (width, height), 2, alpha, must=False)
                    # The command stores another layout when the codec
                    # lacks the one asked for.
                    if path is not None and self.stored_layout(path) == layout:
                        break
                    path = None
                if path is None:
                    continue  # the command cannot write this layout at this size without loss
                tried += 1
                self.compare(case, path, self.TOLERANCE, alpha=alpha, layout=layout)
        return tried

    def test_planar_8_bit_layouts_equal_ffmpeg_rgb_conversion(self):
        self.assertGreaterEqual(self.check_layouts(self.PLANAR), 5 * 5)

    def test_packed_semi_planar_and_alpha_layouts_equal_ffmpeg_rgb_conversion(self):
        self.assertGreaterEqual(self.check_layouts(self.PACKED_AND_ALPHA), 7 * 5)

    def test_deep_layouts_equal_ffmpeg_rgb_conversion(self):
        self.assertGreaterEqual(self.check_layouts(self.DEEP), 6 * 5)

    def test_lossy_codecs_of_every_siting_equal_ffmpeg_rgb_conversion(self):
        # The decode is the same whatever the loss: Motion JPEG's full-range
        # layouts and Sorenson Video 1's 4:1:0, at odd sizes too.
        cases = [("mjpeg.avi", ["-c:v", "mjpeg", "-q:v", "3", "-pix_fmt", pixel_format], pixel_format)
                 for pixel_format in ("yuvj420p", "yuvj422p", "yuvj444p")]
        cases.append(("svq1.mov", ["-c:v", "svq1"], "yuv410p"))
        for name, arguments, layout in cases:
            for width, height in self.SIZES:
                path = self.make("%s-%dx%d-%s" % (layout, width, height, name), arguments, (width, height), 3,
                                 must=False)
                if path is None or self.stored_layout(path) != layout:
                    continue  # the encoder takes no picture of this size
                self.compare("%s %s %dx%d" % (name, layout, width, height), path, self.TOLERANCE, layout=layout)

    def test_frames_read_in_reverse_equal_frames_read_forward(self):
        # Regression: the siting fix must not depend on the reading order.
        path = self.make("nv12-odd.nut", ["-c:v", "rawvideo", "-pix_fmt", "nv12"], (64, 49), 4)
        self.compare("nv12 64x49 shuffled", path, self.TOLERANCE, shuffled=True, layout="nv12")


class VpxAlphaTest(LayoutCase):
    def test_webm_with_alpha_reads_as_rgba_like_the_libvpx_decoders(self):
        for name, codec, extra in [("vp9-alpha.webm", "libvpx-vp9", ["-deadline", "realtime"]),
                                   ("vp8-alpha.webm", "libvpx", ["-auto-alt-ref", "0"])]:
            path = self.make(name, ["-c:v", codec, "-pix_fmt", "yuva420p"] + extra, alpha=True)
            self.compare(name, path, 0, input_arguments=["-c:v", codec], alpha=True)

    def test_webm_without_alpha_stays_rgb(self):
        path = self.make("vp9.webm", ["-c:v", "libvpx-vp9", "-deadline", "realtime"])
        self.compare("vp9.webm", path, 0, alpha=False)


class ContainerSuffixTest(LayoutCase):
    # suffix, ffmpeg output arguments, size, reader options
    CASES = [
        (".MTS", ["-c:v", "libx264"], (64, 48), ""),
        (".m2ts", ["-c:v", "libx264"], (64, 48), ""),
        (".vob", ["-c:v", "mpeg2video"], (64, 48), ""),
        (".dv", ["-c:v", "dvvideo", "-pix_fmt", "yuv420p"], (720, 576), ""),
        (".nut", [], (64, 48), ""),
        (".h264", ["-c:v", "libx264"], (64, 48), ""),
        (".ivf", ["-c:v", "libvpx"], (64, 48), ""),
        (".mk3d", ["-f", "matroska"], (64, 48), ""),
        (".qt", ["-f", "mov"], (64, 48), ""),
        (".3g2", ["-c:v", "libx264"], (64, 48), ""),
        (".asf", [], (64, 48), ""),
        (".f4v", [], (64, 48), ""),
        (".ogg", [], (64, 48), ""),
        (".mjpeg", [], (64, 48), ""),
        (".yuv", ["-pix_fmt", "yuv420p"], (64, 48), "size 64x48 pixfmt yuv420p"),
    ]

    def test_codecs_lists_each_suffix_and_each_opens_a_file_ffmpeg_made(self):
        listed = set(suffix.lower() for entry in orvo.codecs() if entry[0] == "ffmpeg" for suffix in entry[2])
        for suffix, arguments, size, options in self.CASES:
            self.assertIn(suffix.lower(), listed)
            path = self.make("clip" + suffix, arguments, size, frames=5)
            raw = ["-f", "rawvideo", "-s", "%dx%d" % size, "-pix_fmt", "yuv420p"] if suffix == ".yuv" else []
            self.compare(suffix, path, 0, options=options, input_arguments=raw)

    def test_stills_and_sound_are_not_claimed(self):
        listed = set(suffix for entry in orvo.codecs() if entry[0] == "ffmpeg" for suffix in entry[2])
        for suffix in (".png", ".jpg", ".tif", ".exr", ".dpx", ".webp", ".txt", ".srt", ".mp3", ".wav", ".flac"):
            self.assertNotIn(suffix, listed)

    def test_raw_video_without_its_size_is_refused_with_the_reason(self):
        path = self.make("nosize.yuv", ["-pix_fmt", "yuv420p"], frames=2)
        movie = orvo.movie()
        movie.filename = path
        self.assertEqual(movie.open(), -1)
        self.assertIn("give them as reader options", movie.errstr())

    def test_the_command_lists_the_new_suffixes(self):
        python = sys.executable
        status, out, err = run_bounded([python, "-m", "orvo", "codecs"], FFMPEG_SECONDS)
        self.assertEqual(status, 0, err)
        for suffix in (".m2ts", ".vob", ".nut", ".mk3d", ".qt", ".exr", ".dpx", ".jxl"):
            self.assertIn(suffix, out)


def tearDownModule():
    # ORVO_TEST_FIGURES=1 prints the measured differences of every case.
    if not os.environ.get("ORVO_TEST_FIGURES"):
        return
    for case, mean, worst in FIGURES:
        sys.stdout.write("%-40s mean %.3f worst %d\n" % (case, mean, worst))


if __name__ == "__main__":
    unittest.main()
