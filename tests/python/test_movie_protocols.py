"""A movie as a context manager, a sized sequence and an iterable."""

import orvo
from movie_testing import ScratchTestCase, new_write_movie, open_movie, pattern_image, pixels, write_movie


class MovieProtocolsTest(ScratchTestCase):
    def setUp(self):
        ScratchTestCase.setUp(self)
        self.images = [pattern_image(8, 6, seed) for seed in range(3)]
        self.sequence = self.path("seq_##.png")
        write_movie(self.sequence, self.images)

    def test_with_blocks_close_the_movie(self):
        with open_movie(self.sequence) as movie:
            self.assertEqual(len(movie), 3)
        # Closed: a second close is refused with the usual message.
        self.assertEqual(movie.close(), -1)
        self.assertEqual(movie.errstr(), "open() required before close()")
        with self.assertRaises(KeyError):  # an exception inside goes through, the movie is closed
            with open_movie(self.sequence) as movie:
                raise KeyError("inside")
        self.assertEqual(movie.close(), -1)
        with new_write_movie(self.path("with_##.png"), (8, 6), 2) as movie:
            self.assertEqual(movie.open(), 0)
            for image in self.images[:2]:
                self.assertEqual(movie.append(image), 0)
        self.assertEqual(len(open_movie(self.path("with_##.png"))), 2)

    def test_iteration_and_indexing_give_what_getframe_gives(self):
        movie = open_movie(self.sequence)
        frames = [frame for frame in movie]
        self.assertEqual(len(frames), 3)
        for frame, image in zip(frames, self.images):
            self.assertEqual(len(frame), 1)
            self.assertEqual(pixels(frame[0]), pixels(image))
        self.assertEqual(pixels(movie[-1][0]), pixels(self.images[2]))
        self.assertRaises(IndexError, lambda: movie[3])
        movie.close()

    def test_unopened_movie_raises_instead_of_returning_minus_one(self):
        movie = orvo.movie()
        self.assertEqual(len(movie), 0)
        self.assertRaises(RuntimeError, lambda: movie[0])
