"""What a file is (movie.info, orvo.info, `orvo info --json`) agrees with
ffprobe on ten varied files the ffmpeg command makes."""
import os
import shutil
import tempfile
import unittest

import orvo
from ffprobe_testing import (HAVE_FFMPEG, NO_FFMPEG, ffmpeg, fraction, picture_source, probe, stream_duration,
                             streams_of, timecode_of, tone_source)
from movie_testing import ScratchTestCase, open_movie, pattern_image
from test_cli import PYTHON3, run_orvo

H264 = ["-c:v", "libx264", "-pix_fmt", "yuv420p"]

# Name, ffmpeg arguments; each a few frames of 64x48 (or 48x64 turned).
FILES = [
    ("ntsc.mp4", picture_source("30000/1001", "0.3") + tone_source(48000, "0.3", 2) + H264 + ["-c:a", "aac"]),
    ("prores.mov", picture_source("24", "0.25") + tone_source(48000, "0.25", 2) +
     ["-c:v", "prores_ks", "-profile:v", "3", "-c:a", "pcm_s24le", "-timecode", "01:02:03:04"]),
    ("vp9.webm", picture_source("25", "0.2") + tone_source(48000, "0.2") +
     ["-c:v", "libvpx-vp9", "-c:a", "libopus"]),
    ("mpeg4.avi", picture_source("25", "0.2") + tone_source(44100, "0.2") + ["-c:v", "mpeg4", "-c:a", "libmp3lame"]),
    ("ffv1.mkv", picture_source("50", "0.1") + tone_source(44100, "0.1", 2) + ["-c:v", "ffv1", "-c:a", "flac"]),
    ("pq.mov", picture_source("25", "0.2") + ["-c:v", "libx265", "-pix_fmt", "yuv420p10le", "-x265-params",
                                              "log-level=error", "-color_primaries", "bt2020", "-color_trc",
                                              "smpte2084", "-colorspace", "bt2020nc"]),
    ("mjpeg.avi", picture_source("10", "0.3") + ["-c:v", "mjpeg", "-pix_fmt", "yuvj422p"]),
    ("upright.mp4", picture_source("25", "0.2") + H264),
    ("mpeg2.ts", picture_source("25", "0.2") + tone_source(48000, "0.2", 2) +
     ["-c:v", "mpeg2video", "-c:a", "mp2"]),
    ("two.mov", picture_source("25", "0.2") + tone_source(48000, "0.2") + tone_source(32000, "0.2", 2) + H264 +
     ["-map", "0:v", "-map", "1:a", "-map", "2:a", "-c:a", "aac", "-metadata", "title=Two tracks"]),
]


def audio_facts(streams):
    return [(s["codec"], s["sample_rate"], s["channels"]) for s in streams]


@unittest.skipUnless(HAVE_FFMPEG, NO_FFMPEG)
class MovieInfoTest(ScratchTestCase):
    needed_codecs = ("ffmpeg", "png")

    @classmethod
    def setUpClass(cls):
        cls.made = tempfile.mkdtemp(prefix="orvo-info-")
        for name, arguments in FILES:
            ffmpeg(os.path.join(cls.made, name), *arguments)
        # The rotate tag becomes a display matrix only in a stream copy.
        ffmpeg(os.path.join(cls.made, "turned.mp4"), "-i", os.path.join(cls.made, "upright.mp4"), "-c", "copy",
               "-metadata:s:v:0", "rotate=90")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.made, ignore_errors=True)

    def file(self, name):
        return os.path.join(self.made, name)

    def assertAgreesWithFfprobe(self, info, name):
        probed = probe(self.file(name))
        video = streams_of(probed, "video")[0]
        where = "%s: %r" % (name, info)
        self.assertEqual(info["plugin"], "ffmpeg", where)
        self.assertEqual(info["container"], probed["format"]["format_name"], where)
        self.assertEqual(info["video_codec"], video["codec_name"], where)
        self.assertEqual(info["profile"], video.get("profile"), where)
        self.assertEqual(info["source_pixel_format"], video["pix_fmt"], where)
        self.assertAlmostEqual(fraction(info["frame_rate"]), fraction(video["r_frame_rate"]), 6, where)
        self.assertAlmostEqual(info["duration"], stream_duration(video, probed), delta=1.0 / fraction(
            video["r_frame_rate"]), msg=where)
        self.assertEqual((info["stored_width"], info["stored_height"]), (video["width"], video["height"]), where)
        self.assertEqual(audio_facts(info["audio"]),
                         [(s["codec_name"], int(s["sample_rate"]), s["channels"])
                          for s in streams_of(probed, "audio")], where)
        colour = info["colour"]
        for key, probed_key in (("primaries", "color_primaries"), ("transfer", "color_transfer"),
                                ("matrix", "color_space"), ("range", "color_range")):
            self.assertEqual(colour[key] or "unknown", video.get(probed_key, "unknown"), where)
        self.assertEqual(info["timecode"], timecode_of(probed), where)
        turns = [d.get("rotation") for d in video.get("side_data_list", []) if "rotation" in d]
        self.assertEqual(info["rotation"], turns[0] if turns else 0, where)

    def test_movie_info_agrees_with_ffprobe(self):
        for name in [n for n, _ in FILES] + ["turned.mp4"]:
            with open_movie(self.file(name)) as movie:
                info = movie.info
                self.assertEqual((info["width"], info["height"], info["frames"]),
                                 (movie.dims[0], movie.dims[1], movie.realframes), name)
            self.assertAgreesWithFfprobe(info, name)
            self.assertEqual(orvo.info(self.file(name)), info, name)

    def test_the_facts_users_ask_for(self):
        cases = [  # name, key, value
            ("ntsc.mp4", "frame_rate", "30000/1001"),
            ("prores.mov", "timecode", "01:02:03:04"),
            ("prores.mov", "bit_depth", 10),
            ("pq.mov", "colour", {"primaries": "bt2020", "transfer": "smpte2084", "matrix": "bt2020nc",
                                  "range": "tv"}),
            ("turned.mp4", "rotation", 90),  # counter-clockwise, as ffprobe counts
            ("two.mov", "tags", None),  # checked below
        ]
        for name, key, value in cases:
            info = orvo.info(self.file(name))
            if value is not None:
                self.assertEqual(info[key], value, name)
        turned = orvo.info(self.file("turned.mp4"))
        self.assertEqual((turned["width"], turned["height"], turned["stored_width"]), (48, 64, 64))
        self.assertEqual(orvo.info(self.file("two.mov"))["tags"]["title"], "Two tracks")

    def test_closed_write_and_picture_movies(self):
        movie = orvo.movie()
        movie.filename = self.file("ntsc.mp4")
        self.assertIsNone(movie.info)
        self.assertEqual(movie.open(), 0)
        self.assertEqual(movie.getframe(3)[0].dims, [64, 48])
        self.assertEqual(movie.info["frames"], 9)
        # Reading goes on after the read-ahead stopped for the description.
        self.assertEqual(len(movie.getframe(4)), 1)
        movie.close()
        self.assertIsNone(movie.info)
        self.assertNotIn("info", movie.__members__)
        self.assertIsNone(orvo.movie(orvo.MOVIE_WRITE).info)
        # A plug-in without a description of its own: what the host knows.
        self.assertEqual(pattern_image(9, 7, 1).save(self.path("one.png")), 0)
        self.assertEqual(orvo.info(self.path("one.png")),
                         {"plugin": "png", "width": 9, "height": 7, "frames": 1, "fps": None, "stereo": False})
        self.assertRaises(orvo.Error, orvo.info, self.path("missing.mp4"))

    @unittest.skipUnless(PYTHON3, "the orvo command is a Python 3 program")
    def test_orvo_info_json_agrees_with_ffprobe(self):
        import json
        for name in [n for n, _ in FILES] + ["turned.mp4"]:
            status, out, err = run_orvo("info", "--json", self.file(name))
            self.assertEqual(status, 0, err)
            described = json.loads(out)
            self.assertEqual(described["codec"], "ffmpeg")
            info = dict(described, plugin=described["codec"], stored_width=None, stored_height=None)
            info.update((k, v) for k, v in orvo.info(self.file(name)).items() if k.startswith("stored_"))
            self.assertAgreesWithFfprobe(info, name)
            status, out, err = run_orvo("info", self.file(name))
            self.assertIn("video codec:  %s" % described["video_codec"], out)
            self.assertEqual(out.count("\naudio:"), len(described["audio"]), out)


if __name__ == "__main__":
    unittest.main()
