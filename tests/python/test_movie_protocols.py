"""A movie as a context manager, a sized sequence and an iterable."""

import orvo
from movie_testing import ScratchTestCase, open_movie, pattern_image, pixels, write_movie


class MovieProtocolsTest(ScratchTestCase):
    def setUp(self):
        ScratchTestCase.setUp(self)
        self.images = [pattern_image(8, 6, seed) for seed in range(3)]
        self.sequence = self.path("seq_##.png")
        write_movie(self.sequence, self.images)

    def test_with_block_closes_the_movie(self):
        with open_movie(self.sequence) as movie:
            self.assertEqual(len(movie), 3)
            self.assertTrue(movie.getframe(0))
        # Closed: a second close is refused with the usual message.
        self.assertEqual(movie.close(), -1)
        self.assertEqual(movie.errstr(), "open() required before close()")

    def test_with_block_closes_on_an_exception_and_lets_it_through(self):
        def fail_inside():
            with open_movie(self.sequence) as movie:
                self.held = movie
                raise KeyError("inside")
        self.assertRaises(KeyError, fail_inside)
        self.assertEqual(self.held.close(), -1)

    def test_with_block_finishes_a_written_movie(self):
        path = self.path("with_##.png")
        with orvo.movie(orvo.MOVIE_WRITE) as movie:
            movie.filename = path
            movie.dims = (8, 6)
            movie.addcount(2)
            self.assertEqual(movie.open(), 0)
            for image in self.images[:2]:
                self.assertEqual(movie.append(image), 0)
        self.assertEqual(len(open_movie(path)), 2)

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
