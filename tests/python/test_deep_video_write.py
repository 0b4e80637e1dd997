"""16-bit arrays written as 10-bit (FFV1: 16-bit) video by the movie
plug-in, checked with ffprobe (codec, profile, pixel format, bits) and the
ffmpeg command's rgb48le/rgba64le decoding: FFV1 gives the arrays back bit
for bit, the lossy codecs come close, and orvo reads every file exactly as
the command decodes it. Depths and codecs the writer cannot hold are
refused by name, and `orvo convert` keeps a 10-bit source's depth."""
import sys
import unittest

import orvo
from ffprobe_testing import HAVE_FFMPEG, NO_FFMPEG, ffmpeg, picture_source, probe, streams_of
from movie_testing import ScratchTestCase
from orvo_testing import run_bounded

try:
    import numpy
except ImportError:  # Python 2.7 here has no NumPy: it keeps the 8-bit API
    numpy = None

NO_NUMPY = "deep arrays need NumPy (Python 2.7 keeps the 8-bit API)"


def smooth(frames, height, width, channels):
    """Frames of ramps that use the low bits too (an 8-bit write would lose
    them), each channel and frame its own."""
    y, x = numpy.mgrid[0:height, 0:width]
    planes = [[2000 + (x * 50000) // width + (y * (c + 1) * 3000) // height + k * 777 for c in range(channels)]
              for k in range(frames)]
    return numpy.array(planes, dtype=numpy.uint16).transpose(0, 2, 3, 1)


def decoded(path, frames, height, width, channels, dtype="<u2"):
    """The file as the ffmpeg command decodes it to 16-bit RGB(A), or to
    8-bit RGB for dtype uint8."""
    raw_format = "rgb24" if dtype == "uint8" else "rgba64le" if channels == 4 else "rgb48le"
    raw = ffmpeg(path + ".raw", "-i", path, "-f", "rawvideo", "-pix_fmt", raw_format)
    return numpy.fromfile(raw, dtype=dtype).reshape(frames, height, width, channels)


@unittest.skipIf(numpy is None, NO_NUMPY)
@unittest.skipUnless(HAVE_FFMPEG, NO_FFMPEG)
class DeepVideoWriteTest(ScratchTestCase):
    needed_codecs = ("ffmpeg",)

    CASES = [
        # (file, options, channels, width x height, (codec, profile, pixel format, bits),
        #  largest mean and single difference from the array, of 65535; 0 is lossless)
        ("ffv1.mkv", "codec ffv1", 3, (64, 48), ("ffv1", None, "gbrp16le", "16"), 0, 0),
        ("ffv1a.mkv", "codec ffv1", 4, (33, 17), ("ffv1", None, "gbrap16le", "16"), 0, 0),
        ("prores.mov", "codec prores", 3, (64, 48), ("prores", "HQ", "yuv422p10le", "10"), 60, 800),
        # FFmpeg's decoder gives ProRes 4444 at 12 bits, whatever was coded.
        ("prores4444.mov", "codec prores", 4, (64, 48), ("prores", "4444", "yuva444p12le", None), 60, 800),
        ("dnxhr.mov", "encoder dnxhd", 3, (256, 120), ("dnxhd", "DNXHR HQX", "yuv422p10le", "10"), 120, 8000),
        ("h264.mp4", "codec h264", 3, (64, 48), ("h264", "High 10", "yuv420p10le", "10"), 250, 2500),
        ("hevc.mp4", "codec hevc", 3, (64, 48), ("hevc", "Main 10", "yuv420p10le", None), 250, 2500),
    ]

    def test_each_codec_writes_ten_bit_video_that_reads_as_the_ffmpeg_command_decodes_it(self):
        for name, options, channels, (width, height), stream, mean_limit, max_limit in self.CASES:
            with self.subTest(name=name):
                path = self.path(name)
                arrays = smooth(3, height, width, channels)
                with orvo.open(path, "w", options=options, fps=25) as target:
                    for array in arrays:
                        target.append(array)
                video = streams_of(probe(path), "video")[0]
                codec, profile, pixel_format, bits = stream
                self.assertEqual(video["codec_name"], codec)
                if profile is not None:
                    self.assertEqual(video["profile"], profile)
                self.assertEqual(video["pix_fmt"], pixel_format)
                if bits is not None:
                    self.assertEqual(video["bits_per_raw_sample"], bits)
                theirs = decoded(path, 3, height, width, channels)
                difference = numpy.abs(theirs.astype(numpy.int32) - arrays)
                if mean_limit == 0:
                    self.assertTrue(numpy.array_equal(theirs, arrays))
                else:
                    self.assertLess(difference.mean(), mean_limit)
                    self.assertLess(difference.max(), max_limit)
                ours = numpy.stack(list(orvo.imiter(path)))
                self.assertEqual(ours.dtype, numpy.uint16)
                self.assertTrue(numpy.array_equal(ours, theirs))

    def test_grey_frames_are_written_as_rgb(self):
        grey = smooth(1, 16, 24, 1)[0, :, :, 0]
        path = self.path("grey.mkv")
        orvo.imwrite(path, grey, "codec ffv1")
        self.assertTrue(numpy.array_equal(decoded(path, 1, 16, 24, 3)[0], numpy.dstack([grey] * 3)))

    def test_depths_and_codecs_the_writer_cannot_hold_are_refused_by_name(self):
        cases = [  # (file, options, dtype, words the message names)
            ("mpeg4.mp4", "codec mpeg4", "uint16", ("mpeg4", "uint16")),
            ("mjpeg.avi", "codec mjpeg", "uint16", ("mjpeg", "uint16")),
            ("float.mkv", "codec ffv1", "float32", ("ffmpeg", "float32")),
            ("eight.mov", "codec prores depth 8", "uint16", ("depth option 8", "uint16")),
        ]
        for name, options, dtype, words in cases:
            with self.subTest(name=name):
                array = smooth(1, 16, 16, 3)[0]
                if dtype == "float32":
                    array = array.astype(numpy.float32) / 65535
                with self.assertRaises(orvo.Error) as caught:
                    orvo.imwrite(self.path(name), array, options)
                for word in words:
                    self.assertIn(word, str(caught.exception))

    def test_the_first_frame_settles_the_depth_and_earlier_frames_stay(self):
        deep = smooth(1, 16, 32, 3)[0]
        eight = (deep >> 8).astype(numpy.uint8)
        for first, then, refusal in ((deep, eight, "an 8-bit frame cannot follow"),
                                     (eight, deep, "a uint16 frame cannot follow")):
            with self.subTest(first=first.dtype.name):
                path = self.path("settled_%s.mkv" % first.dtype.name)
                target = orvo.open(path, "w", options="codec ffv1")
                target.append(first)
                # 8-bit frames are written behind: the refusal may come with close().
                with self.assertRaises(orvo.Error) as caught:
                    target.append(then)
                    target.close()
                self.assertIn(refusal, str(caught.exception))
                target.close()
                frames = decoded(path, 1, 16, 32, 3, "<u2" if first is deep else "uint8")  # one, no more
                self.assertTrue(numpy.array_equal(frames[0], first))


@unittest.skipIf(numpy is None, NO_NUMPY)
@unittest.skipUnless(HAVE_FFMPEG, NO_FFMPEG)
class DeepVideoConvertTest(ScratchTestCase):
    """`orvo convert` of 10-bit video into codecs that hold it keeps the
    depth; into one that does not, it writes 8 bits with a note."""
    needed_codecs = ("ffmpeg",)

    def convert(self, source, output, *options):
        status, _, err = run_bounded([sys.executable, "-m", "orvo", "convert", "-q", source, output]
                                     + list(options), 300)
        self.assertEqual(status, 0, err)
        return err

    def test_ten_bit_prores_keeps_its_depth(self):
        source = ffmpeg(self.path("in.mov"), *(picture_source("10", "0.3") +
                                               ["-c:v", "prores_ks", "-pix_fmt", "yuv422p10le"]))
        expected = decoded(source, 3, 48, 64, 3)
        cases = [  # (output, options, pixel format, lossless)
            ("out.mkv", ("--options", "codec ffv1"), "gbrp16le", True),
            ("out.mov", ("--options", "codec prores"), "yuv422p10le", False),
            ("out.mp4", ("--options", "codec hevc"), "yuv420p10le", False),
        ]
        for output, options, pixel_format, lossless in cases:
            with self.subTest(output=output):
                err = self.convert(source, self.path(output), *options)
                self.assertNotIn("8 bits", err)
                self.assertEqual(streams_of(probe(self.path(output)), "video")[0]["pix_fmt"], pixel_format)
                if lossless:
                    self.assertTrue(numpy.array_equal(decoded(self.path(output), 3, 48, 64, 3), expected))

    def test_an_eight_bit_codec_gets_eight_bits_and_a_note(self):
        source = ffmpeg(self.path("in.mkv"), *(picture_source("10", "0.2") +
                                               ["-c:v", "ffv1", "-pix_fmt", "yuv444p10le"]))
        err = self.convert(source, self.path("out.avi"), "--options", "codec mjpeg")
        self.assertIn("mjpeg video cannot hold uint16 samples", err)
        self.assertIn("uint16 samples are reduced to 8 bits", err)
        video = streams_of(probe(self.path("out.avi")), "video")[0]
        self.assertEqual((video["codec_name"], video["nb_frames"]), ("mjpeg", "2"))


if __name__ == "__main__":
    unittest.main()
