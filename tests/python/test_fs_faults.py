"""File-system faults: a disk that fills while a movie is written, read-only
and missing directories, files deleted under an open movie, and FIFOs,
directories and devices named as files.

The disk tests mount small tmpfs file systems of their own (the tests run as
root) and skip, saying why, where mounting is refused.
"""
import os
import sys
import unittest

import orvo

from movie_testing import (ScratchTestCase, last_udil_error, mount_tmpfs, new_write_movie, noisy_image, open_movie,
                           pattern_image, pixels, unmount, write_movie)
from orvo_testing import fixed_text, run_bounded

WRITE_FAILED = "Unable to write frame to movie file"
NO_SPACE = "No space left on device"
READ_ONLY = "Read-only file system"
NO_SUCH_FILE = "No such file or directory"
READ_FAILED = "unable to read the requested frame"
BLOCKING_SECONDS = 30
FRAME_SIZE = (64, 48)
MOVIE_SIZE = (160, 120)

# What the child does with the path; it then prints the status and the
# error text.
LOAD = "thing = orvo.image(2, 2)\nprint(thing.load(%r))"
SAVE = "thing = orvo.image(4, 4)\nprint(thing.save(%r))"
READ_MOVIE = "thing = orvo.movie()\nthing.filename = %r\nprint(thing.open())"
WRITE_MOVIE = ("thing = orvo.movie(orvo.MOVIE_WRITE)\nthing.filename = %r\nthing.dims = (8, 6)\n"
               "thing.addcount(2)\nprint(thing.open() or thing.append((orvo.image(8, 6),)))")
GET_FRAME = READ_MOVIE + "\nprint(thing.getframe(1))"

# An image save whose file cannot be written fails where the codec makes
# the file: when the stream opens (a codec that can keep many frames in one
# file makes it there) or when the picture is written.
SAVE_REFUSALS = {-3: "Unable to create the new file.", -4: "Unable to save the image."}


class FileSystemTestCase(ScratchTestCase):
    """A scratch directory, optionally with a tmpfs mounted on it."""
    mount_options = None
    needed_codecs = ("ppm", "png", "jpeg", "tiff", "ffmpeg")

    @classmethod
    def setUpClass(cls):
        cls.pictures = [noisy_image(FRAME_SIZE[0], FRAME_SIZE[1], seed) for seed in range(4)]
        cls.movie_pictures = [noisy_image(MOVIE_SIZE[0], MOVIE_SIZE[1], seed) for seed in range(4)]

    def setUp(self):
        ScratchTestCase.setUp(self)
        # Cleanups run even when setUp skips: unmount first, then remove.
        self.addCleanup(ScratchTestCase.tearDown, self)
        if self.mount_options:
            refused = mount_tmpfs(self.dir, self.mount_options)
            if refused:
                self.skipTest("mounting a tmpfs was refused: %s" % refused)
            self.addCleanup(unmount, self.dir)

    def tearDown(self):
        pass  # the cleanups above

    def new_movie(self, name, size=FRAME_SIZE, frames=400, **attributes):
        return new_write_movie(self.path(name), size, frames, **attributes)

    def assert_frames(self, movie, pictures, count, exact=True):
        """Frames 0..count-1 of `movie` read back; exactly when asked."""
        for k in range(count):
            frame = movie.getframe(k)
            self.assertNotEqual(frame, -1, "frame %d: %s" % (k, movie.errstr()))
            if exact:
                self.assertEqual(pixels(frame[0]), pixels(pictures[k % len(pictures)]), "frame %d" % k)
            else:
                self.assertEqual(frame[0].dims, pictures[0].dims)

    def assert_writes_refused(self, directory, reason):
        """A movie, a sequence and a still picture written into `directory`
        fail with `reason` and make no file."""
        movie = self.new_movie(os.path.join(directory, "clip"), frames=2, format="ffmpeg", options="codec ffv1")
        self.assertEqual(movie.open(), -1)
        message = movie.errstr()
        self.assertEqual(fixed_text(message), "Unable to create movie file")
        self.assertIn(reason, message)
        # A sequence makes its files frame by frame: the first frame fails.
        movie = self.new_movie(os.path.join(directory, "seq.#.ppm"), frames=2)
        self.assertEqual(movie.open(), 0)
        self.assertNotEqual(movie.append(self.pictures[1]), 0)
        self.assertEqual(fixed_text(movie.errstr()), WRITE_FAILED)
        self.assertIn(reason, last_udil_error())
        self.assertEqual(movie.close(), 0)
        picture = self.pictures[0]
        self.assertEqual(picture.save(self.path(os.path.join(directory, "still.ppm"))), -4)
        message = picture.errstr()
        self.assertEqual(fixed_text(message), "Unable to save the image.")
        self.assertIn(reason, message)


class FullDiskTest(FileSystemTestCase):
    mount_options = "size=600k"

    def fill(self, movie, pictures, frames=400):
        """Appends until a write fails. Returns (frames written, the failing
        status, errstr, the plug-in's message, close() result)."""
        self.assertEqual(movie.open(), 0, movie.errstr())
        written, status, message, detail = 0, 0, "", ""
        for k in range(frames):
            status = movie.append(pictures[k % len(pictures)])
            if status != 0:
                message, detail = movie.errstr(), last_udil_error()
                break
            written += 1
        # A frame written behind the script reports its failure at a later
        # append; the movie then holds the frames before the failed one.
        written = min(written, movie.realframes)
        return written, status, message, detail, movie.close()

    def test_sequences_stop_at_the_first_frame_that_does_not_fit(self):
        # Regression: the PNG writer reported every frame as written on a
        # full disk (the error surfaced only when the file was closed), and
        # the PPM writer left the frame that did not fit behind, cut short.
        for suffix, exact in ((".ppm", True), (".png", True), (".tif", True), (".jpg", False)):
            self.clear()
            name = "seq.###" + suffix
            written, status, message, detail, closed = self.fill(self.new_movie(name), self.pictures)
            self.assertTrue(0 < written < 400, "%s: %d frames written" % (suffix, written))
            self.assertNotEqual(status, 0, suffix)
            self.assertEqual(fixed_text(message), WRITE_FAILED)
            self.assertIn(NO_SPACE, detail)
            self.assertIn("seq.%03d%s" % (written, suffix), detail)
            self.assertEqual(closed, 0)
            # Every frame before the failure and nothing of the failed one.
            self.assertEqual(self.files(), ["seq.%03d%s" % (k, suffix) for k in range(written)])
            reader = open_movie(self.path(name))
            self.assertEqual(reader.nframes, written, suffix)
            self.assert_frames(reader, self.pictures, written, exact)
            reader.close()

    def test_containers_report_the_first_frame_that_does_not_fit(self):
        # An .mp4 or .mov file needs the index written at close; without
        # room for it the frames cannot be found (documented limit). An
        # .avi keeps what its encoder handed over: one working on several
        # frames at once still held the last few when the disk filled.
        for codec, name in (("mjpeg", "clip.avi"), ("mpeg4", "clip.mp4"), ("prores", "clip.mov")):
            self.clear()
            movie = self.new_movie("clip", MOVIE_SIZE, 80, format="ffmpeg", options="codec " + codec)
            written, status, message, detail, closed = self.fill(movie, self.movie_pictures, 80)
            self.assertTrue(0 < written < 80, "%s: %d frames written" % (name, written))
            self.assertEqual(fixed_text(message), WRITE_FAILED)
            self.assertIn(NO_SPACE, detail)
            self.assertEqual(self.files(), [name])
            if codec != "mjpeg":
                self.assertEqual(fixed_text(open_movie_status(self.path(name))), "Unable to open movie file")
                continue
            self.assertIn(closed, (0, -1))
            reader = open_movie(self.path(name))
            self.assertTrue(written - 16 <= reader.nframes <= written, "%d of %d kept" % (reader.nframes, written))
            self.assert_frames(reader, self.movie_pictures, reader.nframes, exact=False)
            reader.close()

    def test_close_reports_a_movie_it_could_not_finish(self):
        # H.264 holds its frames back for look-ahead, so every append of a
        # short movie succeeds and the disk fills only while close() writes
        # them. Regression: close() returned 0 for the unreadable file.
        for name, tiling in (("clip", (1, 1)), ("tiles", (2, 1))):
            self.clear()
            self.fill_disk(64 * 1024)
            movie = self.new_movie(name, MOVIE_SIZE, 10, format="ffmpeg", options="codec h264", tiling=tiling)
            written, status, message, detail, closed = self.fill(movie, self.movie_pictures, 10)
            self.assertIn(NO_SPACE, last_udil_error(), name)
            self.assertTrue(status != 0 or closed == -1,
                            "%s: %d frames written and close() gave %d for a damaged movie" % (name, written, closed))
            if status == 0:
                self.assertEqual(fixed_text(movie.errstr()), "Unable to finish movie file", name)
            self.assertEqual(movie.close(), -1)  # closed all the same
            self.assertEqual(movie.errstr(), "open() required before close()")

    def fill_disk(self, leave):
        """Takes all but about `leave` bytes of the file system."""
        free = os.statvfs(self.dir)
        take = free.f_bavail * free.f_frsize - leave
        if take > 0:
            with open(self.path("filler"), "wb") as filler:
                filler.write(b"\0" * take)

    def test_image_save_on_a_full_disk(self):
        picture = self.pictures[0]
        self.fill_disk(2048)
        # H.264 writes its picture only when the file is closed.
        for name in ("full.png", "full.ppm", "full.tif", "full.jpg", "full.mp4"):
            status = picture.save(self.path(name))
            self.assertIn(status, SAVE_REFUSALS, name)
            self.assertEqual(fixed_text(picture.errstr()), SAVE_REFUSALS[status])
            self.assertIn(NO_SPACE, last_udil_error())
        self.assertEqual(self.files(), ["filler"])
        os.remove(self.path("filler"))
        self.assertEqual(picture.save(self.path("room.png")), 0)


class ReadOnlyTest(FileSystemTestCase):
    """A tmpfs made read-only after a movie and a sequence were written to it
    (root ignores permission bits, a read-only mount does not)."""
    mount_options = "size=1m"

    def test_writing_fails_clearly_and_changes_nothing_and_reading_works(self):
        write_movie(self.path("seq.#.ppm"), self.pictures[:3])
        write_movie(self.path("clip.mkv"), self.pictures[:3], options="codec ffv1")
        status, out, err = run_bounded(["mount", "-o", "remount,ro", self.dir], 20)
        if status != 0:
            self.skipTest("remounting the tmpfs read-only was refused: %s" % (err or out).strip())
        before = self.files()
        self.assert_writes_refused("", READ_ONLY)
        self.assertEqual(self.files(), before)
        for name in ("seq.#.ppm", "clip.mkv"):  # reading still works
            reader = open_movie(self.path(name))
            self.assertEqual(reader.nframes, 3)
            self.assert_frames(reader, self.pictures, 3)
            reader.close()


class MissingDirectoryTest(FileSystemTestCase):

    def test_writing_into_a_missing_directory(self):
        self.assert_writes_refused(os.path.join("no", "such", "dir"), NO_SUCH_FILE)
        self.assertEqual(self.files(), [])


class DeletedFileTest(FileSystemTestCase):

    def test_tile_deleted_under_an_open_multi_tile_movie(self):
        # The open descriptor keeps a deleted container's data, as for any
        # program that has a file open; a frame file is opened when read.
        write_movie(self.path("frames"), self.pictures[:3], tiling=(2, 1), format="ppm")
        write_movie(self.path("clips"), self.pictures[:3], tiling=(2, 1), format="ffmpeg", options="codec ffv1")
        frames = open_movie(self.path("frames.mtm"))
        clips = open_movie(self.path("clips.mtm"))
        os.remove(self.path("frames_0001.0001.ppm"))
        os.remove(self.path("clips_0001.mkv"))
        self.assertEqual(frames.getframe(1), -1)
        self.assertEqual(fixed_text(frames.errstr()), READ_FAILED)
        self.assertIn("frames_0001.0001.ppm", last_udil_error())
        for k in (0, 2):
            self.assertEqual(pixels(frames.getframe(k)[0]), pixels(self.pictures[k]))
        self.assert_frames(clips, self.pictures, 3)
        self.assertEqual(frames.close(), 0)
        self.assertEqual(clips.close(), 0)
        self.assertEqual(fixed_text(open_movie_status(self.path("clips.mtm"))), "Unable to open MTM subfiles")


class BlockingFileTest(FileSystemTestCase):
    """A FIFO, a directory or another non-regular file named as an input or
    an output is refused with a clear message, at once. Each case runs in a
    child interpreter with a time limit: a plug-in opening a FIFO would wait
    for a writer (or reader) for ever, and a regression must not hang the
    suite."""

    def fifo(self, name):
        os.mkfifo(self.path(name))
        return self.path(name)

    def run_child(self, template, path):
        code = "import orvo\n%s\nprint(thing.errstr())\n" % (template % path)
        status, out, err = run_bounded([sys.executable, "-c", code], BLOCKING_SECONDS)
        self.assertEqual(status, 0, "%s: child failed or was killed after %d s: %s" % (path, BLOCKING_SECONDS, err))
        return out.strip().split("\n")

    def test_fifos_directories_and_devices(self):
        for name in ("folder.png", "folder.mkv", "folder.ppm"):
            os.mkdir(self.path(name))
        os.symlink("/dev/zero", self.path("zero.ppm"))
        # A FIFO in place of a frame of a sequence, and of a tile's file.
        write_movie(self.path("seq.#.png"), [pattern_image(8, 6, k) for k in range(3)])
        os.remove(self.path("seq.1.png"))
        write_movie(self.path("wall"), [pattern_image(8, 6, 1)], format="ppm", tiling=(2, 1))
        os.remove(self.path("wall_0001.0000.ppm"))
        cases = [(LOAD, self.fifo("pipe.png"), "Unable to open the file.", "a FIFO"),
                 (READ_MOVIE, self.fifo("pipe.mp4"), "Unable to open movie file", "a FIFO"),
                 (READ_MOVIE, self.fifo("pipe.mtm"), "Unable to open MTM file", "a FIFO"),
                 (SAVE, self.fifo("pipe.ppm"), "Unable to save the image.", "a FIFO"),
                 (SAVE, self.path("pipe.png"), "Unable to create the new file.", "a FIFO"),
                 (SAVE, self.path("pipe.mp4"), "Unable to create the new file.", "a FIFO"),
                 (WRITE_MOVIE, self.fifo("pipe.mkv"), "Unable to create movie file", "a FIFO"),
                 (LOAD, self.path("folder.png"), "Unable to open the file.", "a directory"),
                 (SAVE, self.path("folder.ppm"), "Unable to save the image.", "a directory"),
                 (SAVE, self.path("folder.png"), "Unable to create the new file.", "a directory"),
                 (WRITE_MOVIE, self.path("folder.mkv"), "Unable to create movie file", "a directory"),
                 (LOAD, self.path("zero.ppm"), "Unable to open the file.", "a character device"),
                 (GET_FRAME, self.path("seq.#.png"), "unable to read the requested frame", "a FIFO",
                  self.fifo("seq.1.png")),
                 (READ_MOVIE, self.path("wall.mtm"), "Unable to open MTM subfiles", "a FIFO",
                  self.fifo("wall_0001.0000.ppm"))]
        for case in cases:
            template, path, text, kind = case[:4]
            culprit = os.path.basename(case[4] if len(case) > 4 else path)
            lines = self.run_child(template, path)
            self.assertNotEqual(lines[-2], "0", lines)
            self.assertTrue(lines[-1].startswith(text + ": "), lines)
            self.assertIn("%s: not a regular file (%s)" % (culprit, kind), lines[-1])
        # The sequence opened; only its frame failed.
        self.assertEqual(self.run_child(GET_FRAME, self.path("seq.#.png"))[0], "0")


def open_movie_status(path):
    """errstr of a failed open of `path` ("" when it opened)."""
    movie = orvo.movie()
    movie.filename = path
    if movie.open() == 0:
        movie.close()
        return ""
    return movie.errstr()


if __name__ == "__main__":
    unittest.main()
