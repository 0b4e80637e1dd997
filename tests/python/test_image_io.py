"""orvo.image load and save through the codec plug-ins: status codes,
error texts and the pictures read and written."""
import os
import unittest

import orvo
from movie_testing import ScratchTestCase, pattern_image, write_movie, write_tiff
from orvo_testing import fixed_text

LOAD_UNKNOWN = ("File extension indicates unknown file format. "
                "Check orvo.codecs() for permissible extensions")
SAVE_UNKNOWN = ("File extension indicates unknown file format.  "
                "Check orvo.codecs() for permissible extensions.")


class LoadTest(ScratchTestCase):
    needed_codecs = ("ppm", "png", "tiff", "ffmpeg")

    def test_status_codes_and_texts(self):
        image = orvo.image(5, 5)
        self.assertEqual(image.load(self.path("picture.unknownsuffix")), -1)
        self.assertEqual(image.errstr(), LOAD_UNKNOWN)
        self.assertEqual(image.errstr(), "")
        self.assertEqual(image.load(self.path("missing.png")), -2)
        self.assertEqual(image.errstr(), "Unable to open the file.: %s: No such file or directory"
                         % self.path("missing.png"))
        write_tiff(self.path("huge.tif"), 150000, 100000, 0)  # 45 GB of pixels
        self.assertEqual(image.load(self.path("huge.tif")), -4)
        self.assertEqual(image.errstr(), "Unable to allocate image memory.")
        write_tiff(self.path("short.tif"), 4, 3, 10)  # strips end early
        self.assertEqual(image.load(self.path("short.tif")), -5)
        message = image.errstr()
        self.assertEqual(fixed_text(message), "Unable to read image frame.")
        self.assertNotIn("missing.png", message)  # its own reason, never an older one
        self.assertEqual(image.dims, [5, 5])  # failures leave the picture alone
        self.assertRaises(TypeError, image.load, 5)

    def test_frame_numbers_of_a_single_image_and_of_a_movie_file(self):
        source = pattern_image(6, 4, 1)
        self.assertEqual(source.save(self.path("one.png")), 0)
        image = pattern_image(3, 3, 2)
        before = image.tostring()
        self.assertEqual(image.load(self.path("one.png"), 1), -3)
        self.assertEqual(image.errstr(), "Invalid frame number.")
        self.assertEqual(image.tostring(), before)
        self.assertEqual(image.load(filename=self.path("one.png"), frame=-4), 0)
        self.assertEqual((image.tostring(), image.errstr()), (source.tostring(), ""))
        frames = [pattern_image(8, 6, k) for k in range(10)]
        write_movie(self.path("ten.mkv"), frames, options="codec ffv1")
        self.assertEqual(image.load(self.path("ten.mkv"), 3), 0)
        self.assertEqual(image.tostring(), frames[3].tostring())
        self.assertEqual(image.load(self.path("ten.mkv"), 10), -3)

    def test_file_format_and_size_replace_the_picture(self):
        rgba = pattern_image(7, 9, 4, orvo.DYX_IMG_FMT_RGBA)
        self.assertEqual(rgba.save(self.path("alpha.png")), 0)
        image = orvo.image(100, 100, orvo.DYX_IMG_FMT_RGB, None, 12, 50, 60, 3, 4)
        self.assertEqual(image.load(self.path("alpha.png")), 0)
        self.assertEqual((image.format, image.dims), (orvo.DYX_IMG_FMT_RGBA, [7, 9]))
        self.assertEqual(image.tostring(), rgba.tostring())
        self.assertEqual((image.frame, image.origin, image.framenumber), ([50, 60], [3, 4], 12))  # kept


class SaveTest(ScratchTestCase):
    needed_codecs = ("ppm", "png", "jpeg", "ffmpeg")

    def test_unknown_suffix_and_unsupported_format(self):
        image = pattern_image(4, 4, 0, orvo.DYX_IMG_FMT_LA)
        self.assertEqual(image.save(self.path("x.unknownsuffix")), -1)
        self.assertEqual(image.errstr(), SAVE_UNKNOWN)
        self.assertEqual(image.save(self.path("la.jpg")), -2)  # jpeg writes L and RGB only
        self.assertEqual(image.errstr(), "Pixel format unsupported by this file format.")
        self.assertEqual(self.files(), [])

    def test_cannot_create_or_write(self):
        image = pattern_image(4, 4, 0)
        missing = os.path.join("no", "such", "dir")
        self.assertEqual(image.save(self.path(os.path.join(missing, "clip.mkv"))), -3)
        self.assertEqual(fixed_text(image.errstr()), "Unable to create the new file.")
        self.assertEqual(image.save(self.path(os.path.join(missing, "still.ppm"))), -4)
        message = image.errstr()
        self.assertEqual(fixed_text(message), "Unable to save the image.")
        self.assertIn("No such file or directory", message)
        image.errstr()
        self.assertEqual(image.save(self.path("n" * 1100 + ".png")), -5)
        self.assertEqual(image.errstr(), "")  # -5 leaves the text as it was


if __name__ == "__main__":
    unittest.main()
