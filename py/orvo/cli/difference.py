"""The picture `orvo diff --out` writes: where two frames differ, made visible.

Each pixel is the largest absolute difference among its components (alpha
included), scaled so that the largest difference in the frame is white
(255) and equal pixels are black: a difference of 3 in a few pixels shows
as clearly as one of 200. The picture is grey (L), whatever the inputs.
"""
import orvo


def largest_per_pixel(data, components):
    """For every pixel of `data`, the largest of its `components` bytes."""
    if components == 1:
        return bytes(data)
    return bytes(bytearray(map(max, *(bytearray(data[k::components]) for k in range(components)))))


def stretch_table(largest):
    """A byte translation table mapping 0..largest linearly onto 0..255."""
    if largest == 0:
        return bytes(bytearray(256))
    return bytes(bytearray(min(255, (value * 255 + largest // 2) // largest) for value in range(256)))


def difference_picture(absolute_difference):
    """(grey picture, largest difference) of an image of absolute differences."""
    width, height = absolute_difference.dims
    data = absolute_difference.tostring()
    components = len(data) // (width * height) if width * height else 1
    levels = largest_per_pixel(data, components)
    largest = max(bytearray(levels)) if levels else 0
    picture = orvo.image(width, height, orvo.DYX_IMG_FMT_L, levels.translate(stretch_table(largest)))
    return picture, largest
