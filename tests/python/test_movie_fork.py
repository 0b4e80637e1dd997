"""Movies used in a process forked from the one that opened them (the
ffmpeg command makes and checks the files): a child reading gets the
parent's frames, a child writing gets a clear error and leaves the
parent's file whole, never a hang, with one worker and with two; and
orvo.threads = 1 starts no decoder thread."""
import os
import unittest

from movie_testing import ScratchTestCase
from orvo_testing import have_command, run_bounded, run_python

FFMPEG_SECONDS = 60
CHILD_ALARM_SECONDS = 30  # the forked child ends itself after this long

SANITIZER = next((name for name in ("libasan", "libtsan") if name in os.environ.get("LD_PRELOAD", "")), None)

# Defined in each script below: forks, runs work() in the child (which
# ends itself after `alarm` seconds) and sends its text to the parent.
# Answers the child's wait status and that text.
IN_CHILD = r'''
import os, signal, sys
def in_child(alarm, work):
    reading, writing = os.pipe()
    child = os.fork()
    if child == 0:
        signal.alarm(alarm)
        os.close(reading)
        os.write(writing, work().encode())
        os.close(writing)
        sys.exit(0)
    os.close(writing)
    data = b""
    chunk = os.read(reading, 65536)
    while chunk:
        data += chunk
        chunk = os.read(reading, 65536)
    os.close(reading)
    return os.waitpid(child, 0)[1], data.decode()
'''

# Opens the movie twice and reads the first half of it (decoding ahead with
# two workers), forks, and has the child read the second half and then the
# first again (a jump back to a key frame) from one, leave the other alone
# and exit through the interpreter's clean-up, which closes both. The
# parent reads the second half after the child ended. Prints the child's
# wait status, the parent's frames and the child's, as digests ("error:..."
# for a failed read).
FORK_SCRIPT = r'''
import hashlib, sys
import orvo
orvo.threads = %d
movie, untouched = orvo.movie(), orvo.movie()
movie.filename = untouched.filename = %r
if movie.open() != 0 or untouched.open() != 0:
    sys.exit("open: " + movie.errstr() + untouched.errstr())
def digest(k, source=movie):
    frame = source.getframe(k)
    if frame == -1:
        return "error:" + source.errstr().replace(" ", "_")
    return hashlib.sha1(frame[0].tostring()).hexdigest()
half = movie.nframes // 2
first = [digest(k) for k in range(half)]
assert [digest(k, untouched) for k in range(half)] == first
status, data = in_child(%d, lambda: " ".join(digest(k) for k in list(range(half, movie.nframes)) +
                                                  list(range(half))))
second = [digest(k) for k in range(half, movie.nframes)]
print(status)
print(" ".join(second + first))
print(data)
'''

# Writes five frames of an H.264 movie and forks; the child appends a frame
# and then closes the movie, or exits and leaves it to the interpreter's
# clean-up. The parent then writes five more frames and closes it. Prints
# the child's wait status and what its append and close answered.
WRITE_FORK_SCRIPT = r"""
import orvo
orvo.threads = %d
def picture(k):
    return orvo.image(160, 120, orvo.DYX_IMG_FMT_RGB, bytes(bytearray([k * 20] * (160 * 120 * 3))))
movie = orvo.movie(orvo.MOVIE_WRITE)
movie.filename = %r
movie.dims = (160, 120)
movie.addcount(11)
assert movie.open() == 0, movie.errstr()
for k in range(5):
    assert movie.append(picture(k)) == 0, movie.errstr()
def child_work():
    answers = ["append %%d %%s" %% (movie.append(picture(5)), movie.errstr())]
    if %r == "close":
        answers.append("close %%d %%s" %% (movie.close(), movie.errstr()))
    return "\n".join(answers)
status, data = in_child(%d, child_work)
for k in range(5, 10):
    assert movie.append(picture(k)) == 0, movie.errstr()
assert movie.close() == 0, movie.errstr()
print(status)
print(data)
"""

# Prints the threads of the process before the movie is opened and after
# five of its frames are read.
THREAD_COUNT_SCRIPT = r'''
import os
import orvo
orvo.threads = %d
def threads():
    return len(os.listdir("/proc/self/task"))
before = threads()
movie = orvo.movie()
movie.filename = %r
assert movie.open() == 0, movie.errstr()
for k in range(5):
    assert movie.getframe(k) != -1, movie.errstr()
print("%%d %%d" %% (before, threads()))
'''


@unittest.skipIf(not have_command("ffmpeg"), "the ffmpeg command is not installed (Debian package ffmpeg)")
@unittest.skipIf(SANITIZER is not None,
                 "%s's own allocator locks are not fork-safe: a child forked while another thread allocates can "
                 "hang inside the sanitizer; the plain build runs these tests" % SANITIZER)
class ForkedChildTest(ScratchTestCase):
    needed_codecs = ("ffmpeg",)

    def make(self, name, arguments, size="320x240", frames=30):
        path = self.path(name)
        status, out, err = run_bounded(["ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                                        "testsrc2=size=%s:rate=25" % size, "-frames:v", str(frames)] +
                                       arguments + [path], FFMPEG_SECONDS)
        if status != 0:
            self.fail("ffmpeg could not make %s: %s" % (name, err.strip()))
        return path

    def ffv1(self, name="clip.mkv", size="320x240"):
        # Version 3 with slices: the decoder runs its slices on threads.
        return self.make(name, ["-c:v", "ffv1", "-level", "3", "-slices", "4"], size)

    def h264(self, name="clip.mp4", size="320x240"):
        # A key frame every 10 frames: the child's jumps start from one.
        return self.make(name, ["-c:v", "libx264", "-pix_fmt", "yuv420p", "-g", "10"], size)

    def multi_tile(self):
        """A Multi-Tile Movie of an FFV1 tile beside an H.264 tile."""
        left, right = self.ffv1("left.mkv", "160x120"), self.h264("right.mp4", "160x120")
        path = self.path("wall.mtm")
        with open(path, "w") as out:
            out.write('MTM 1.0\nfullresolution 320 120\nnummovies 2\n'
                      'movie\n  imageoffset 0 0\n  format ffmpeg\n  file "%s"\n'
                      'movie\n  imageoffset 160 0\n  format ffmpeg\n  file "%s"\n' % (left, right))
        return path

    def assert_child_reads_like_parent(self, path, threads):
        status, out, err = run_python(IN_CHILD + FORK_SCRIPT % (threads, path, CHILD_ALARM_SECONDS))
        what = "%s with orvo.threads = %d" % (os.path.basename(path), threads)
        self.assertEqual(status, 0, "%s: %s" % (what, err))
        lines = out.split("\n")
        self.assertEqual(lines[0], "0", "%s: the child ended with wait status %s (14: it hung)" % (what, lines[0]))
        parent, child = lines[1].split(), lines[2].split()
        self.assertEqual(len(parent), 30, what)
        self.assertFalse([frame for frame in parent if frame.startswith("error:")], what)
        self.assertEqual(child, parent, what)

    def test_a_forked_child_reads_the_parents_movies(self):
        movies = [self.ffv1(), self.h264(), self.multi_tile()]
        for path in movies:
            for threads in (1, 2):
                self.assert_child_reads_like_parent(path, threads)

    def test_a_forked_child_cannot_write_the_parents_movie_nor_spoil_it(self):
        refused = "a forked process cannot"
        for threads in (1, 2):
            for ending in ("close", "exit"):
                what = "orvo.threads = %d, the child's %s" % (threads, ending)
                path = self.path("written-%d-%s.mp4" % (threads, ending))
                script = IN_CHILD + WRITE_FORK_SCRIPT % (threads, path, ending, CHILD_ALARM_SECONDS)
                status, out, err = run_python(script)
                self.assertEqual(status, 0, "%s: %s" % (what, err))
                lines = out.split("\n")
                self.assertEqual(lines[0], "0", "%s: the child ended with wait status %s (14: it hung)" %
                                 (what, lines[0]))
                # Refused at once, or (written behind the caller) by close.
                answers = lines[1:]
                if threads == 1 or ending == "close":
                    self.assertTrue(any(refused in line for line in answers), "%s: %s" % (what, answers))
                if ending == "close":
                    self.assertNotEqual(answers[1].split()[1], "0", what)
                # The ffmpeg command decodes every frame the parent wrote.
                status, out, err = run_bounded(["ffprobe", "-v", "error", "-count_frames", "-select_streams", "v:0",
                                                "-show_entries", "stream=nb_read_frames", "-of", "csv=p=0", path],
                                               FFMPEG_SECONDS)
                self.assertEqual((status, out.strip(), err.strip()), (0, "10", ""), what)

    def test_one_worker_starts_no_decoder_thread(self):
        # H.264 decodes on frame threads whenever it is allowed more than one.
        path = self.h264()
        counts = {}
        for threads in (1, 2):
            status, out, err = run_python(THREAD_COUNT_SCRIPT % (threads, path))
            self.assertEqual(status, 0, err)
            counts[threads] = [int(number) for number in out.split()]
        self.assertEqual(counts[1][1], counts[1][0], "threads before and after reading: %s" % counts[1])
        self.assertGreater(counts[2][1], counts[2][0], "threads before and after reading: %s" % counts[2])


if __name__ == "__main__":
    unittest.main()
