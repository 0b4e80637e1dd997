#!/usr/bin/env python3
"""Times deep pixels side by side with OpenCV, OpenImageIO and PyAV: a
16-bit 1080p PNG read and written (orvo.imread / orvo.imwrite against
cv2.imread with IMREAD_UNCHANGED / cv2.imwrite at zlib level 1), a 16-bit
TIFF read, a 1080p half-float OpenEXR read as float and written from a
float16 array against OpenImageIO (zip compression, both), a 16-bit DPX
read against OpenImageIO, frames of a 10-bit ProRes movie read as 16-bit
RGB (orvo.imiter against PyAV's to_ndarray(format="rgb48le")), and 16-bit
frames written as 10-bit ProRes 422 HQ (orvo.open(..., "w") against PyAV's
VideoFrame.from_ndarray(format="rgb48le") into prores_ks). Prints the median of each
and the ratio orvo / peer. The machine may be shared: the medians are
indicative.

Run with the module on the path, for example:
    PYTHONPATH=build/py3 QEV_UDILPATH=build/udil python3 bench/deep_compare.py [--repeat N]
"""
from __future__ import print_function

import argparse
import os
import shutil
import statistics
import subprocess
import tempfile
import time

import numpy
import orvo

try:
    import cv2
except ImportError:
    cv2 = None
try:
    import av
except ImportError:
    av = None
try:
    import OpenImageIO
except ImportError:
    OpenImageIO = None


def median_seconds(work, repeat):
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        work()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def picture(height=1080, width=1920):
    """A 16-bit RGB frame with smooth gradients and some noise, as a scan."""
    y, x = numpy.mgrid[0:height, 0:width]
    noise = numpy.random.default_rng(1).integers(0, 64, (height, width, 3))
    channels = [x * 34, y * 60, (x + y) * 21]
    return (numpy.stack(channels, axis=2) + noise).astype(numpy.uint16)


def oiio_read(path, sample):
    source = OpenImageIO.ImageInput.open(path)
    source.read_image(sample)
    source.close()


def report(name, ours, peer, peer_name):
    ratio = "%.2f" % (ours / peer) if peer else "-"
    peer_text = "%8.1f ms" % (peer * 1000) if peer else "       -   "
    print("%-28s orvo %8.1f ms   %s %s   ratio %s" % (name, ours * 1000, peer_name, peer_text, ratio))


def report_prores_write(folder, frame, repeat, count=12):
    """16-bit 1080p frames written as ProRes 422 HQ, per frame."""
    ours_path, peer_path = os.path.join(folder, "ours.mov"), os.path.join(folder, "peer.mov")

    def ours():
        with orvo.open(ours_path, "w", options="codec prores", fps=24) as target:
            for _ in range(count):
                target.append(frame)

    def pyav():
        with av.open(peer_path, "w") as container:
            stream = container.add_stream("prores_ks", rate=24)
            stream.width, stream.height, stream.pix_fmt = frame.shape[1], frame.shape[0], "yuv422p10le"
            stream.options = {"profile": "3", "vendor": "apl0"}
            for _ in range(count):
                container.mux(stream.encode(av.VideoFrame.from_ndarray(frame, format="rgb48le")))
            container.mux(stream.encode())

    report("10-bit ProRes frame write", median_seconds(ours, repeat) / count,
           av and median_seconds(pyav, repeat) / count, "PyAV")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=7)
    repeat = parser.parse_args().repeat
    folder = tempfile.mkdtemp(prefix="orvo-deep-")
    try:
        frame = picture()
        bgr = frame[:, :, ::-1].copy()
        png = os.path.join(folder, "frame.png")
        tiff = os.path.join(folder, "frame.tif")
        orvo.imwrite(png, frame)
        orvo.imwrite(tiff, frame)
        # Both writers at zlib level 1 (orvo's default): the same work.
        cv2_png = [cv2.IMWRITE_PNG_COMPRESSION, 1] if cv2 else None
        report("16-bit 1080p PNG read", median_seconds(lambda: orvo.imread(png), repeat),
               cv2 and median_seconds(lambda: cv2.imread(png, cv2.IMREAD_UNCHANGED), repeat), "cv2")
        written = os.path.join(folder, "written.png")
        report("16-bit 1080p PNG write", median_seconds(lambda: orvo.imwrite(written, frame), repeat),
               cv2 and median_seconds(lambda: cv2.imwrite(written, bgr, cv2_png), repeat), "cv2")
        report("16-bit 1080p TIFF read", median_seconds(lambda: orvo.imread(tiff), repeat),
               cv2 and median_seconds(lambda: cv2.imread(tiff, cv2.IMREAD_UNCHANGED), repeat), "cv2")
        exr = os.path.join(folder, "frame.exr")
        subprocess.check_call(["ffmpeg", "-v", "error", "-f", "lavfi", "-i", "testsrc2=size=1920x1080",
                               "-frames:v", "1", "-pix_fmt", "gbrpf32le", "-c:v", "exr", "-format", "1", exr])

        report("half 1080p EXR read, float", median_seconds(lambda: orvo.imread(exr), repeat),
               OpenImageIO and median_seconds(lambda: oiio_read(exr, "float"), repeat), "OIIO")
        halves = (frame / 65535.0).astype(numpy.float16)
        exr_out = os.path.join(folder, "written.exr")

        def oiio_write(path, array, sample, **attributes):
            target = OpenImageIO.ImageOutput.create(path)
            spec = OpenImageIO.ImageSpec(array.shape[1], array.shape[0], array.shape[2], sample)
            for name, value in attributes.items():
                spec.attribute(name, value)
            target.open(path, spec)
            target.write_image(array)
            target.close()

        report("half 1080p EXR write", median_seconds(lambda: orvo.imwrite(exr_out, halves), repeat),
               OpenImageIO and median_seconds(lambda: oiio_write(exr_out, halves, "half", compression="zip"),
                                              repeat), "OIIO")
        dpx = os.path.join(folder, "frame.dpx")
        orvo.imwrite(dpx, frame)
        report("16-bit 1080p DPX read", median_seconds(lambda: orvo.imread(dpx), repeat),
               OpenImageIO and median_seconds(lambda: oiio_read(dpx, "uint16"), repeat), "OIIO")
        movie = os.path.join(folder, "prores.mov")
        subprocess.check_call(["ffmpeg", "-v", "error", "-f", "lavfi", "-i", "testsrc2=size=1920x1080:rate=24",
                               "-frames:v", "24", "-c:v", "prores_ks", "-profile:v", "3", "-pix_fmt",
                               "yuv422p10le", movie])

        def pyav_frames():
            with av.open(movie) as container:
                for decoded in container.decode(video=0):
                    decoded.to_ndarray(format="rgb48le")

        ours = median_seconds(lambda: [None for _ in orvo.imiter(movie)], max(3, repeat // 2)) / 24
        peer = av and median_seconds(pyav_frames, max(3, repeat // 2)) / 24
        report("10-bit ProRes frame, rgb48", ours, peer, "PyAV")
        report_prores_write(folder, frame, max(3, repeat // 2))
    finally:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
