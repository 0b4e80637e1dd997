"""What `orvo convert` keeps of a movie besides its pictures (sound, start
timecode, colour description, container tags) and where it puts the index,
checked on files the ffmpeg command makes with what ffprobe reads back."""
import os
import shutil
import tempfile
import unittest

from ffprobe_testing import (ffmpeg, picture_source, probe, skip_without_ffmpeg, stream_duration, streams_of,
                             timecode_of, tone_source, top_level_boxes)
from orvo_testing import run_bounded
from test_cli import PYTHON3, SKIP_REASON, CommandTestCase, run_orvo

RATE = 25.0
ONE_FRAME = 1.0 / RATE


def make_sources(directory):
    """The inputs, one second at 25 fps (64x48), by name."""
    def path(name):
        return os.path.join(directory, name)
    h264 = ["-c:v", "libx264", "-pix_fmt", "yuv420p"]
    sources = {
        "aac.mp4": picture_source() + tone_source() + h264 + ["-c:a", "aac"],
        "pcm.mov": picture_source() + tone_source(44100) + h264 + ["-c:a", "pcm_s16le", "-timecode", "01:00:00:00",
                                                                   "-metadata", "title=Kept title",
                                                                   "-metadata", "creation_time=2024-01-02T03:04:05Z"],
        "opus.webm": picture_source() + tone_source() + ["-c:v", "libvpx-vp9", "-c:a", "libopus"],
        "mp3.mkv": picture_source() + tone_source(44100) + h264 + ["-c:a", "libmp3lame"],
        "two.mkv": picture_source() + tone_source() + tone_source(22050, channels=2) + h264 +
        ["-map", "0:v", "-map", "1:a", "-map", "2:a", "-c:a:0", "aac", "-c:a:1", "libmp3lame"],
        "silent.mov": picture_source() + h264 + ["-timecode", "10:00:00:00"],
        "pq.mov": picture_source(seconds="0.2") + ["-c:v", "libx265", "-pix_fmt", "yuv420p10le",
                                                   "-x265-params", "log-level=error", "-color_primaries", "bt2020",
                                                   "-color_trc", "smpte2084", "-colorspace", "bt2020nc"],
        "hlg.mp4": picture_source(seconds="0.2") + h264[:2] + ["-pix_fmt", "yuv420p10le", "-color_primaries",
                                                               "bt2020", "-color_trc", "arib-std-b67",
                                                               "-colorspace", "bt2020nc"],
        "full.mp4": picture_source(seconds="0.2") + h264[:2] + ["-pix_fmt", "yuvj420p", "-color_range", "pc"],
        "hd.mp4": picture_source(seconds="0.12", size="1280x720") + h264,
    }
    for name, arguments in sources.items():
        ffmpeg(path(name), *arguments)
    return path


@unittest.skipUnless(PYTHON3, SKIP_REASON)
@skip_without_ffmpeg
class KeptByConvertTest(CommandTestCase):
    needed_codecs = ("ffmpeg", "png")

    @classmethod
    def setUpClass(cls):
        cls.sources = tempfile.mkdtemp(prefix="orvo-carry-")
        cls.source = staticmethod(make_sources(cls.sources))

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.sources, ignore_errors=True)

    def convert(self, source, output, *options):
        """Converts; returns (ffprobe of the output, standard error)."""
        status, out, err = run_orvo("convert", "-q", self.source(source), self.path(output), *options)
        self.assertEqual(status, 0, err)
        return probe(self.path(output)), err

    def assertSoundFollowsVideo(self, probed, codecs, what, seconds=None):
        """The audio streams are `codecs`, each as long as the video (or as
        `seconds`, for containers whose video length ffprobe cannot tell)
        within one frame."""
        video = streams_of(probed, "video")[0]
        audio = streams_of(probed, "audio")
        self.assertEqual([s["codec_name"] for s in audio], codecs, what)
        length = stream_duration(video, probed) if seconds is None else seconds
        for stream in audio:
            self.assertAlmostEqual(stream_duration(stream, probed), length, delta=ONE_FRAME, msg=what)

    def test_every_audio_stream_is_copied_or_encoded_to_what_the_container_takes(self):
        cases = [  # source, output, audio codecs written, re-encoded
            ("aac.mp4", "o.mp4", ["aac"], False),
            ("aac.mp4", "o.mkv", ["aac"], False),
            ("aac.mp4", "o.webm", ["opus"], True),
            ("pcm.mov", "o.mp4", ["aac"], True),
            ("pcm.mov", "o.mov", ["pcm_s16le"], False),
            ("pcm.mov", "o.avi", ["pcm_s16le"], False),
            ("opus.webm", "o.mp4", ["opus"], False),
            ("opus.webm", "o.mov", ["aac"], True),
            ("mp3.mkv", "o.mov", ["mp3"], False),
            ("two.mkv", "o.mp4", ["aac", "mp3"], False),
            ("aac.mp4", "o.mpg", ["mp2"], True),  # MPEG program streams time only some packets
            ("aac.mp4", "o.ts", ["aac"], False),  # the muxer cannot say what it takes
            ("pcm.mov", "o.mxf", ["pcm_s16le"], True),  # resampled: MXF holds 48 kHz only
        ]
        for source, output, codecs, encoded in cases:
            with self.subTest(source=source, output=output):
                probed, err = self.convert(source, output, "-y")
                self.assertSoundFollowsVideo(probed, codecs, source + " -> " + output, seconds=1.0)
                self.assertEqual("was re-encoded as" in err, encoded, err)
        # A copied stream keeps its rate and channels.
        probed, _ = self.convert("two.mkv", "o.mkv", "-y")
        self.assertEqual([(s["sample_rate"], s["channels"]) for s in streams_of(probed, "audio")],
                         [("48000", 1), ("22050", 2)])

    def test_a_frame_range_cuts_the_sound_to_the_same_times(self):
        for source, output in (("aac.mp4", "cut.mp4"), ("pcm.mov", "cut.mp4"), ("pcm.mov", "cut.mov"),
                               ("opus.webm", "cut.mov")):
            with self.subTest(source=source, output=output):
                probed, _ = self.convert(source, output, "-y", "--frames", "5:19")
                video = streams_of(probed, "video")[0]
                self.assertAlmostEqual(stream_duration(video, probed), 15 * ONE_FRAME, delta=0.001)
                self.assertSoundFollowsVideo(probed, [s["codec_name"] for s in streams_of(probed, "audio")], source)
                self.assertEqual(len(streams_of(probed, "audio")), 1)

    def test_sound_is_dropped_with_a_note_when_it_cannot_follow(self):
        cases = [  # options, output, words of the note (None: dropped silently)
            (["--repeat", "2", "0"], "r.mp4", "repeated first or last frames"),
            (["--fps", "50"], "f.mp4", "--fps 50 plays the frames faster than their 25 fps"),
            (["--no-audio"], "n.mp4", None),
            ([], "p.####.png", "is a sequence of pictures, which hold no sound"),
            (["--tiles", "2x1", "--codec", "ffmpeg"], "wall", "is a Multi-Tile Movie, which holds no sound"),
            ([], "y.y4m", "the pictures of a .y4m file cannot be copied into a new one"),
        ]
        for options, output, note in cases:
            with self.subTest(output=output):
                status, out, err = run_orvo("convert", "-q", self.source("aac.mp4"), self.path(output), *options)
                self.assertEqual(status, 0, err)
                if note is None:
                    self.assertEqual(err, "")
                else:
                    self.assertIn(note, err)
                if output.endswith(".mp4"):
                    self.assertEqual(streams_of(probe(self.path(output)), "audio"), [])

    def test_start_timecode_is_kept_moved_on_or_set(self):
        cases = [  # source, output, options, timecode written (None: none)
            ("pcm.mov", "t.mov", [], "01:00:00:00"),
            ("pcm.mov", "t.mp4", ["--frames", "10:"], "01:00:00:10"),
            ("silent.mov", "t.mov", ["--frames", "24:"], "10:00:00:24"),
            ("aac.mp4", "t.mp4", ["--timecode", "02:03:04:05"], "02:03:04:05"),
            ("pcm.mov", "t.mov", ["--timecode", "00:00:10:00", "--frames", "3:"], "00:00:10:00"),
            ("pcm.mov", "t.mkv", [], None),
            ("pcm.mov", "t.mxf", ["--frames", "2:"], "01:00:00:02"),
            ("pcm.mov", "t.mp4", ["--options", "timecode 05:00:00:00"], "05:00:00:00"),  # the writer's option
        ]
        for source, output, options, timecode in cases:
            with self.subTest(source=source, options=options):
                probed, err = self.convert(source, output, "-y", *options)
                self.assertEqual(timecode_of(probed), timecode)
                if timecode is None:
                    self.assertIn("holds no timecode", err)
        # Pictures in, a movie out: the timecode given.
        self.orvo("convert", "-q", self.write_sequence("s", 3), self.path("s.mov"), "--fps", "25", "--timecode",
                  "00:10:00:00")
        self.assertEqual(timecode_of(probe(self.path("s.mov"))), "00:10:00:00")
        self.assertFails(["convert", self.source("pcm.mov"), self.path("x.mov"), "--timecode", "1:2"],
                         "is not a timecode HH:MM:SS:FF")
        self.assertFails(["convert", self.source("pcm.mov"), self.path("x.mkv"), "--options", "timecode 01:00:00:00"],
                         "holds no timecode")

    def test_container_tags_are_kept(self):
        for output in ("g.mp4", "g.mov", "g.mkv"):
            with self.subTest(output=output):
                probed, _ = self.convert("pcm.mov", output, "-y")
                tags = dict((k.lower(), v) for k, v in probed["format"].get("tags", {}).items())
                self.assertEqual(tags.get("title"), "Kept title")
                self.assertTrue(tags.get("creation_time", "").startswith("2024-01-02T03:04:05"), tags)

    def test_colour_description_is_kept(self):
        # The 10-bit sources keep their depth (H.264 High 10, the default
        # codec), so no note says they pass through 8 bits.
        cases = [  # source, output, (matrix, primaries, transfer, range), 8-bit note
            ("pq.mov", "c.mp4", ("bt2020nc", "bt2020", "smpte2084", "tv"), False),
            ("pq.mov", "c.mkv", ("bt2020nc", "bt2020", "smpte2084", "tv"), False),
            ("hlg.mp4", "c.mov", ("bt2020nc", "bt2020", "arib-std-b67", "tv"), False),
            ("full.mp4", "c.mp4", ("smpte170m", "smpte170m", "smpte170m", "pc"), False),
            ("hd.mp4", "c.mp4", ("bt709", "bt709", "bt709", "tv"), False),  # untagged HD: BT.709
        ]
        for source, output, tags, noted in cases:
            with self.subTest(source=source, output=output):
                probed, err = self.convert(source, output, "-y")
                video = streams_of(probed, "video")[0]
                keys = ("color_space", "color_primaries", "color_transfer", "color_range")
                self.assertEqual(tuple(video.get(k) for k in keys), tags)
                self.assertEqual("through 8 bits per component" in err, noted, err)
        # An 8-bit codec gets 8-bit frames, and a note.
        probed, err = self.convert("pq.mov", "m.avi", "--options", "codec mjpeg")
        self.assertEqual(streams_of(probed, "video")[0]["codec_name"], "mjpeg")
        self.assertIn("uint16 samples are reduced to 8 bits", err)
        # Options the user gives win over the source's.
        probed, _ = self.convert("pq.mov", "u.mp4", "--options", "transfer 1")
        self.assertEqual(streams_of(probed, "video")[0]["color_transfer"], "bt709")

    def test_mp4_index_is_at_the_front(self):
        cases = [  # output, options, box order
            ("i.mp4", [], ["ftyp", "moov", "free", "mdat"]),
            ("i.mov", [], ["ftyp", "wide", "mdat", "moov"]),
            ("j.mov", ["--options", "faststart 1"], ["ftyp", "moov", "wide", "mdat"]),
            ("j.mp4", ["--options", "faststart 0"], ["ftyp", "free", "mdat", "moov"]),
        ]
        for output, options, boxes in cases:
            for source in ("aac.mp4", "silent.mov"):
                with self.subTest(output=output, source=source):
                    self.convert(source, output, "-y", *options)
                    self.assertEqual(top_level_boxes(self.path(output)), boxes)
        # A sequence of pictures goes into an .mp4 with its index first too.
        self.orvo("convert", "-q", self.write_sequence("s", 3), self.path("s.mp4"), "--fps", "25")
        self.assertEqual(top_level_boxes(self.path("s.mp4"))[:2], ["ftyp", "moov"])

    def test_scale_out_keeps_sound_and_timecode(self):
        try:
            import distributed  # noqa: F401
        except ImportError:
            self.skipTest("Dask's distributed (python3-distributed) is not installed")
        # Three seconds: segments of 24 frames or more, joined.
        longer = ffmpeg(self.path("long.mov"), *(picture_source(seconds="3") + tone_source(44100, "3") +
                                                 ["-c:v", "libx264", "-c:a", "pcm_s16le", "-timecode",
                                                  "01:00:00:00"]))
        status, out, err = run_orvo("convert", "-q", longer, self.path("w.mp4"), "--workers", "2", "--frames",
                                    "5:69")
        self.assertEqual(status, 0, err)
        probed = probe(self.path("w.mp4"))
        self.assertSoundFollowsVideo(probed, ["aac"], err, seconds=65 * ONE_FRAME)
        self.assertEqual(timecode_of(probed), "01:00:00:05")
        self.assertEqual(top_level_boxes(self.path("w.mp4"))[:2], ["ftyp", "moov"])
        # An MPEG program stream, whose packets are not all timed, joins too.
        status, out, err = run_orvo("convert", "-q", longer, self.path("w.mpg"), "--workers", "2")
        self.assertEqual(status, 0, err)
        status, out, err = run_bounded(["ffprobe", "-v", "error", "-count_frames", "-select_streams", "v",
                                        "-show_entries", "stream=nb_read_frames", "-of", "csv=p=0",
                                        self.path("w.mpg")], 120)
        self.assertEqual(out.strip(), "75", err)
        self.assertEqual([s["codec_name"] for s in streams_of(probe(self.path("w.mpg")), "audio")], ["mp2"])


if __name__ == "__main__":
    unittest.main()
