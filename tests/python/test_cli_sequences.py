"""Numbered sequences made by the ffmpeg command's image2 muxer, read by the
command: the run read is the one ffmpeg reads (unpadded and widening
numbers included), and files past a gap or of another width are named,
with the way to read them."""
import json
import os
import re
import sys
import unittest

from movie_testing import ScratchTestCase
from orvo_testing import have_command, run_bounded

ORVO_COMMAND = [sys.executable, "-m", "orvo"]


def ffmpeg_frame_count(pattern, start):
    """How many frames the ffmpeg command reads from an image2 pattern."""
    status, out, err = run_bounded(["ffprobe", "-v", "error", "-start_number", str(start), "-count_frames",
                                    "-show_entries", "stream=nb_read_frames", "-of", "csv=p=0", pattern])
    if status != 0:
        raise AssertionError("ffprobe failed: %s" % err)
    return int(out.strip())


@unittest.skipUnless(sys.version_info[0] >= 3, "the orvo command is a Python 3 program")
@unittest.skipUnless(have_command("ffmpeg") and have_command("ffprobe"), "the ffmpeg command makes the files")
class SequenceRunTest(ScratchTestCase):
    needed_codecs = ("png", "ffmpeg")

    def make(self, pattern, first, count, missing=()):
        """`count` frames of an ffmpeg test picture named by `pattern` from
        `first` on, less the numbers in `missing`."""
        status, out, err = run_bounded(["ffmpeg", "-v", "error", "-f", "lavfi", "-i",
                                        "testsrc=size=32x24:rate=25", "-frames:v", str(count),
                                        "-start_number", str(first), self.path(pattern)])
        self.assertEqual(status, 0, err)
        for number in missing:
            os.remove(self.path(pattern % number))

    def info(self, *arguments):
        status, out, err = run_bounded(ORVO_COMMAND + ["info", "--json"] + list(arguments))
        self.assertEqual(status, 0, err)
        return json.loads(out), err

    def test_the_run_ffmpeg_reads_and_the_files_left_out(self):
        cases = [
            # ffmpeg pattern, first, count, missing, orvo input, files left out (first, last, --sequence name)
            ("shot.%04d.png", 1001, 10, (1005,), "shot.####.png", [(1006, 1010, "shot.1006.png")]),
            ("img%d.png", 1, 12, (), "img#.png", []),
            ("w%04d.png", 9998, 5, (), "w####.png", []),
            ("gap%03d.png", 1, 9, (4, 7), "gap###.png", [(5, 6, "gap005.png"), (8, 9, "gap008.png")]),
        ]
        for pattern, first, count, missing, name, left_out in cases:
            self.make(pattern, first, count, missing)
            expected = ffmpeg_frame_count(self.path(pattern), first)
            info, note = self.info(self.path(name))
            self.assertEqual(info["frames"], expected, name)
            runs = [(run["first"], run["last"], os.path.basename(run["file"]))
                    for run in info["sequence"]["not_read"]]
            self.assertEqual(runs, left_out, name)
            for start, end, file_name in left_out:
                self.assertIn("frames %d to %d" % (start, end), note)
                self.assertIn("--sequence %s" % self.path(file_name), note)
                # The way the note gives reads exactly that run.
                again, _ = self.info(self.path(file_name), "--sequence")
                self.assertEqual((again["frames"], again["sequence"]["first"]), (end - start + 1, start))
            if not left_out:
                self.assertNotIn("not read", note)

    def test_unpadded_and_padded_files_of_one_name(self):
        self.make("mix%d.png", 1, 12)
        self.make("mix%02d.png", 1, 3)  # mix01 .. mix03 beside mix1 .. mix12
        info, note = self.info(self.path("mix7.png"), "--sequence")
        self.assertEqual((info["frames"], info["sequence"]["template"]), (12, self.path("mix#.png")))
        self.assertEqual([(r["first"], r["last"]) for r in info["sequence"]["not_read"]], [(1, 3)])
        self.assertTrue(re.search(r"frames 1 to 3 \(mix##\.png, numbered with 2 digits", note), note)
        for command in (["convert", self.path("mix#.png"), self.path("out.####.png"), "-q"],
                        ["sheet", self.path("mix#.png"), self.path("sheet.png")]):
            status, out, err = run_bounded(ORVO_COMMAND + command)
            self.assertEqual(status, 0, err)
            self.assertIn("give --sequence %s to read them" % self.path("mix01.png"), err)
        self.assertEqual(len([n for n in os.listdir(self.dir) if n.startswith("out.")]), 12)


if __name__ == "__main__":
    unittest.main()
