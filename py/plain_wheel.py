"""The `bdist_wheel` command of setup.py where neither setuptools (70.1
and later make wheels) nor the wheel package offers one: pip, which makes
every installation through a wheel, then still builds orvo offline with
nothing but its own setuptools.

The wheel is plain: the build tree's package (platform-specific, so
Root-Is-Purelib is false) and its dist-info with the metadata that
setuptools writes, the entry points and the RECORD of every file."""
import base64
import hashlib
import os
import shutil
import zipfile

from setuptools import Command

ZIP_DATE = (1980, 1, 1, 0, 0, 0)  # the same wheel bytes from the same files


def record_hash(data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=")
    return "sha256=" + digest.decode("ascii")


class PlainWheel(Command):
    description = "build a wheel of the build tree (no wheel package needed)"
    user_options = [("dist-dir=", "d", "directory to put the wheel in")]
    tag = None  # (interpreter, ABI, platform), set by setup.py

    def initialize_options(self):
        self.dist_dir = None

    def finalize_options(self):
        if self.dist_dir is None:
            self.dist_dir = "dist"

    def egg2dist(self, egg_info, dist_info):
        """Turns setuptools' egg-info into a dist-info: setuptools' own
        `dist_info` command, which pip runs first, asks this of the wheel
        maker."""
        if os.path.isdir(dist_info):
            shutil.rmtree(dist_info)
        os.makedirs(dist_info)
        for source, target in self.metadata_files(egg_info):
            shutil.copyfile(source, os.path.join(dist_info, target))
        shutil.rmtree(egg_info)

    @staticmethod
    def metadata_files(egg_info):
        yield os.path.join(egg_info, "PKG-INFO"), "METADATA"
        for name in ("entry_points.txt", "top_level.txt"):
            if os.path.isfile(os.path.join(egg_info, name)):
                yield os.path.join(egg_info, name), name

    def run(self):
        self.run_command("build")
        self.run_command("egg_info")
        build_lib = self.get_finalized_command("build").build_lib
        egg_info = self.get_finalized_command("egg_info").egg_info
        stem = "%s-%s" % (self.distribution.get_name(), self.distribution.get_version())
        dist_info = stem + ".dist-info"
        if not os.path.isdir(self.dist_dir):
            os.makedirs(self.dist_dir)
        wheel_path = os.path.join(self.dist_dir, "%s-%s.whl" % (stem, "-".join(self.tag)))
        records = []
        with zipfile.ZipFile(wheel_path, "w", zipfile.ZIP_DEFLATED) as wheel:

            def add(name, data, mode=0o644):
                entry = zipfile.ZipInfo(name, ZIP_DATE)
                entry.external_attr = (0o100000 | mode) << 16  # a regular file with its mode
                entry.compress_type = zipfile.ZIP_DEFLATED
                wheel.writestr(entry, data)
                records.append("%s,%s,%d" % (name, record_hash(data), len(data)))

            for directory, subdirectories, files in os.walk(build_lib):
                subdirectories.sort()
                for name in sorted(files):
                    path = os.path.join(directory, name)
                    with open(path, "rb") as stream:
                        data = stream.read()
                    add(os.path.relpath(path, build_lib).replace(os.sep, "/"), data,
                        os.stat(path).st_mode & 0o777)
            for source, target in self.metadata_files(egg_info):
                with open(source, "rb") as stream:
                    add(dist_info + "/" + target, stream.read())
            add(dist_info + "/WHEEL", ("Wheel-Version: 1.0\nGenerator: orvo setup.py\nRoot-Is-Purelib: false\n"
                                       "Tag: %s\n" % "-".join(self.tag)).encode("ascii"))
            records.append(dist_info + "/RECORD,,")
            wheel.writestr(zipfile.ZipInfo(dist_info + "/RECORD", ZIP_DATE), "\n".join(records) + "\n")
        self.announce("made %s" % wheel_path, level=2)
