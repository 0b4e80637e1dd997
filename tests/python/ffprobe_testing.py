"""Movies made by the ffmpeg command and read back by ffprobe, the outside
references of the tests of what orvo keeps and tells about a file."""
import json
import struct
import unittest

from orvo_testing import have_command, run_bounded

HAVE_FFMPEG = have_command("ffmpeg") and have_command("ffprobe")
NO_FFMPEG = "the ffmpeg and ffprobe commands are not installed (Debian package ffmpeg)"
SECONDS = 120


def ffmpeg(output, *arguments):
    """Runs `ffmpeg -y ... output`; fails the caller's test on error."""
    status, out, err = run_bounded(["ffmpeg", "-v", "error", "-y"] + list(arguments) + [output], SECONDS)
    if status != 0:
        raise AssertionError("ffmpeg %s: %s" % (" ".join(arguments), err))
    return output


def picture_source(rate="25", seconds="1", size="64x48"):
    """lavfi input arguments of a small moving test picture."""
    return ["-f", "lavfi", "-i", "testsrc2=s=%s:r=%s:d=%s" % (size, rate, seconds)]


def tone_source(rate=48000, seconds="1", channels=1):
    layout = {1: "mono", 2: "stereo"}[channels]
    return ["-f", "lavfi", "-i", "sine=f=440:r=%d:d=%s,aformat=channel_layouts=%s" % (rate, seconds, layout)]


def probe(path):
    """ffprobe's streams and format of `path` as a dict."""
    status, out, err = run_bounded(["ffprobe", "-v", "error", "-show_streams", "-show_format", "-of", "json",
                                    path], SECONDS)
    if status != 0:
        raise AssertionError("ffprobe %s: %s" % (path, err))
    return json.loads(out)


def streams_of(probed, kind):
    return [s for s in probed["streams"] if s["codec_type"] == kind]


def fraction(text):
    numerator, denominator = text.split("/")
    return float(numerator) / float(denominator) if float(denominator) else 0.0


def stream_duration(stream, probed):
    """A stream's duration in seconds (the container's when the stream
    states none, as Matroska does)."""
    value = stream.get("duration") or probed["format"].get("duration")
    if value is None:
        tags = stream.get("tags", {})
        value = tags.get("DURATION") or tags.get("duration")
        if value is not None:
            hours, minutes, seconds = value.split(":")
            return int(hours) * 3600 + int(minutes) * 60 + float(seconds)
    return float(value)


def timecode_of(probed):
    """The start timecode ffprobe shows (format or any stream), or None."""
    for tags in [probed["format"].get("tags", {})] + [s.get("tags", {}) for s in probed["streams"]]:
        if "timecode" in tags:
            return tags["timecode"]
    return None


def top_level_boxes(path):
    """The names of the top-level boxes of an MP4/QuickTime file, in order."""
    names = []
    with open(path, "rb") as movie:
        while True:
            header = movie.read(8)
            if len(header) < 8:
                return names
            size, name = struct.unpack(">I4s", header)
            names.append(name.decode("latin-1"))
            if size == 1:
                size = struct.unpack(">Q", movie.read(8))[0] - 8
            elif size == 0:
                return names
            movie.seek(size - 8, 1)


skip_without_ffmpeg = unittest.skipUnless(HAVE_FFMPEG, NO_FFMPEG)
