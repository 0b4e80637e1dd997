"""Frames decoded ahead and encoded behind the script: with one worker and
with several, the files written are the same bytes under the same names,
frames read in any order are the same pixels, and a frame that cannot be
written is reported once, with the text a write on the script's own thread
gives."""
import os
import random
import unittest

import orvo
from movie_testing import ScratchTestCase, new_write_movie, open_movie, pattern_image, write_movie
from orvo_testing import fixed_text, have_command, run_bounded

SIZE = (64, 48)
FRAMES = 12


def file_contents(directory):
    """{name: bytes} of every file in `directory`; for a container, the
    digest of its compressed frames, as the container itself carries a
    random segment id."""
    found = {}
    for name in os.listdir(directory):
        path = os.path.join(directory, name)
        if name.endswith(".mkv"):
            status, found[name], err = run_bounded(["ffmpeg", "-v", "error", "-i", path, "-c", "copy", "-f",
                                                    "streamhash", "-"], 60)
            if status != 0:
                raise AssertionError("ffmpeg %s: %s" % (path, err))
        else:
            with open(path, "rb") as handle:
                found[name] = handle.read()
    return found


class WorkerCountTestCase(ScratchTestCase):
    """Runs with one worker unless a test sets more; restores the setting."""
    needed_codecs = ("ppm", "png", "tiff", "jpeg", "ffmpeg")

    def setUp(self):
        ScratchTestCase.setUp(self)
        self.addCleanup(setattr, orvo, "threads", orvo.threads)
        orvo.threads = 1

    def in_dir(self, name):
        path = self.path(name)
        if not os.path.isdir(path):
            os.mkdir(path)
        return path


# Outputs a lossless codec writes, as (name, movie attributes).
LOSSLESS = [
    ("seq.####.png", {}),
    ("seq.####.tif", {}),
    ("seq.####.ppm", {}),
    ("seq.####.jpg", {"options": "quality 90"}),  # lossy, but deterministic
    ("clip.mkv", {"format": "ffmpeg", "options": "codec ffv1"}),
    ("tiles", {"tiling": (2, 2), "format": "png"}),
    ("tiles.mkv", {"tiling": (2, 1), "format": "ffmpeg", "options": "codec ffv1"}),
]


@unittest.skipUnless(have_command("ffmpeg"), "the ffmpeg command, which compares containers' frames, is not "
                                             "installed (Debian package ffmpeg)")
class OneWorkerOrManyTest(WorkerCountTestCase):
    def write_with(self, workers, name, attributes):
        orvo.threads = workers
        directory = self.in_dir("%s-%s-%d" % (name.replace("#", ""), attributes.get("format"), workers))
        write_movie(os.path.join(directory, name), [pattern_image(SIZE[0], SIZE[1], k) for k in range(FRAMES)],
                    **attributes)
        return file_contents(directory)

    def test_files_are_the_same_bytes_under_the_same_names(self):
        for name, attributes in LOSSLESS:
            serial = self.write_with(1, name, attributes)
            parallel = self.write_with(4, name, attributes)
            self.assertEqual(sorted(parallel), sorted(serial), name)
            if name.startswith("seq"):
                self.assertEqual(len(serial), FRAMES, name)
            for entry in serial:
                self.assertTrue(parallel[entry] == serial[entry], "%s: %s differs" % (name, entry))


class ReadAheadTest(WorkerCountTestCase):
    SOURCES = [("seq.####.png", {}), ("seq.####.ppm", {}), ("clip.mkv", {"format": "ffmpeg", "options": "codec ffv1"}),
               ("tiles", {"tiling": (2, 2), "format": "ppm"}), ("pair.@.####.png", {"stereo": 1})]

    def source(self, name, attributes):
        path = os.path.join(self.in_dir("src"), name)
        frames = [pattern_image(SIZE[0], SIZE[1], k) for k in range(FRAMES)]
        if attributes.get("stereo"):
            frames = [(image, pattern_image(SIZE[0], SIZE[1], k + 50)) for k, image in enumerate(frames)]
        write_movie(path, frames, **attributes)
        return path + ".mtm" if "tiling" in attributes else path

    def frames(self, path):
        """The frames in an order that jumps about, then those of a repeating
        frame range."""
        generator = random.Random(7)
        order = list(range(FRAMES)) + [3, 4, 5, 9, 2, 3, 11, 0, 1, 2, 3, 6, 6, 7]
        order += [generator.randrange(FRAMES) for _ in range(20)]
        reader, repeating = open_movie(path), open_movie(path, repeat=(2, 1), framerange=(1, 5))
        return ([[eye.tostring() for eye in reader.getframe(k)] for k in order] +
                [[eye.tostring() for eye in repeating.getframe(k)] for k in range(8)])

    def test_any_order_reads_the_frames_random_access_reads(self):
        for name, attributes in self.SOURCES:
            path = self.source(name, attributes)
            expected = self.frames(path)
            orvo.threads = 4
            self.assertTrue(self.frames(path) == expected, name)
            orvo.threads = 1


class UnwrittenFrameTest(WorkerCountTestCase):
    def attempt(self, workers, name, count):
        """Writes `count` frames whose third cannot be made (a directory holds
        its name) as a script does, stopping at a failed frame; returns where
        each failure appeared (append's frame or None for close), its status,
        text and the frames written then, and the files written."""
        orvo.threads = workers
        directory = self.in_dir("%s-%d-%d" % (name.split(".")[-1], workers, count))
        path = os.path.join(directory, name)
        os.mkdir(path.replace("####", "0002"))
        writer = new_write_movie(path, SIZE, count)
        self.assertEqual(writer.open(), 0)
        reports = []
        for k in range(count):
            status = writer.append(pattern_image(SIZE[0], SIZE[1], k))
            if status != 0:
                reports.append((k, status, fixed_text(writer.errstr()), writer.realframes))
                break
        status = writer.close()
        if status != 0:
            reports.append((None, status, fixed_text(writer.errstr()), None))
        return reports, os.listdir(directory)

    def test_the_failure_is_reported_once_as_the_script_would_see_it(self):
        # With the failed frame the last one, a failure behind the script can
        # only be reported by close().
        for name, count in (("out.####.png", 6), ("out.####.ppm", 6), ("out.####.png", 3)):
            serial, serial_files = self.attempt(1, name, count)
            frames_and_texts = [(frame, text, written) for frame, status, text, written in serial]
            self.assertEqual(frames_and_texts, [(2, "Unable to write frame to movie file", 2)], name)
            behind, behind_files = self.attempt(4, name, count)
            self.assertEqual(len(behind), 1, "%s: %r" % (name, behind))
            frame, status, text, realframes = behind[0]
            self.assertEqual((status, text), serial[0][1:3], name)
            if frame is not None:  # seen at a later append: the script goes on from the failed frame
                self.assertEqual((frame > 2, realframes, count), (True, 2, 6))
            # Frames 0 and 1 are always there.
            for files in (serial_files, behind_files):
                self.assertTrue(set(["out.0000." + name[-3:], "out.0001." + name[-3:]]) <= set(files), files)


if __name__ == "__main__":
    unittest.main()
