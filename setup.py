"""Builds the orvo wheel: the CMake build makes the extension and the codec
plug-ins, and this script puts them into the package orvo (py/orvo: the
Python files, the stubs and the `orvo` command's modules), the same package
that `make install` installs, with the plug-ins in orvo/plugins.

The module is built for the interpreter named by ORVO_PYTHON (default: the
one running this script), so that one setuptools can make the wheel of
every CPython on the machine (see scripts/build-wheels). The CMake build
directory is ORVO_WHEEL_BUILD_DIR (default build-wheels/cmake); it keeps the
library and plug-ins between wheels, so that each further interpreter only
recompiles the module itself.
"""
import glob
import os
import platform
import re
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build import build
from setuptools.command.build_ext import build_ext

try:  # setuptools 70.1 and later make wheels themselves
    from setuptools.command.bdist_wheel import bdist_wheel
except ImportError:
    try:
        from wheel.bdist_wheel import bdist_wheel
    except ImportError:  # an older setuptools without the wheel package
        bdist_wheel = None

SOURCE_DIR = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(SOURCE_DIR, "py"))
try:
    from plain_wheel import PlainWheel
finally:
    del sys.path[0]

# Beside the extension in the package; the extension looks there for
# plug-ins when neither QEV_UDILPATH nor the home's plug-in directory applies.
PLUGIN_SUBDIR = "plugins"

TARGET_PYTHON = os.environ.get("ORVO_PYTHON") or sys.executable
BUILD_DIR = os.path.abspath(os.environ.get("ORVO_WHEEL_BUILD_DIR") or os.path.join(SOURCE_DIR, "build-wheels", "cmake"))

# The libraries the module and plug-ins load at run time: the wheel carries
# none of them, Debian does.
DEBIAN_RUNTIME_PACKAGES = [
    "zlib1g",
    "libstdc++6",
    "libossp-uuid16",
    "libpng16-16",
    "libjpeg62-turbo",
    "libtiff6",
    "libavformat59",
    "libavcodec59",
    "libswscale6",
    "libavutil57",
]


def project_version():
    with open(os.path.join(SOURCE_DIR, "CMakeLists.txt")) as cmake_file:
        match = re.search(r"project\(orvo VERSION ([0-9.]+)", cmake_file.read())
    if not match:
        raise RuntimeError("no project version in CMakeLists.txt")
    return match.group(1)


def target_python_facts():
    """EXT_SUFFIX, interpreter tag and ABI tag of the target interpreter."""
    script = (
        "import sys, sysconfig; "
        "print(sysconfig.get_config_var('EXT_SUFFIX')); "
        "print('cp%d%d' % sys.version_info[:2]); "
        "print(getattr(sys, 'abiflags', ''))"
    )
    output = subprocess.check_output([TARGET_PYTHON, "-c", script], universal_newlines=True)
    ext_suffix, interpreter_tag, abiflags = (output.splitlines() + [""])[:3]
    return ext_suffix, interpreter_tag, interpreter_tag + abiflags


EXT_SUFFIX, INTERPRETER_TAG, ABI_TAG = target_python_facts()

WHEEL_WORK_DIR = os.path.join("build-wheels")
if not os.path.isdir(WHEEL_WORK_DIR):
    os.makedirs(WHEEL_WORK_DIR)


def long_description():
    packages = ", ".join(DEBIAN_RUNTIME_PACKAGES)
    return (
        "orvo: image and movie types for Python scripts, with codec plug-ins for "
        "PPM, PNG, JPEG, TIFF and movies (through FFmpeg's libraries).\n\n"
        "The wheel carries the package orvo: the module, its plug-ins "
        "(orvo/plugins), the type stubs and the `orvo` command (also "
        "`python -m orvo`), but no system library. On Debian 12 it "
        "needs these packages: " + packages + ".\n"
    )


class FreshBuild(build):
    """Starts from an empty build tree, so that a wheel carries nothing an
    earlier build (an older layout, a removed plug-in) left there."""

    def run(self):
        if os.path.isdir(self.build_lib):
            shutil.rmtree(self.build_lib)
        build.run(self)


class CMakeBuild(build_ext):
    """Runs the CMake build and copies the extension and the plug-ins into
    the package in the build tree that the wheel is made from."""

    def get_ext_filename(self, fullname):
        return fullname + EXT_SUFFIX

    def run(self):
        self.cmake_build()
        for ext in self.extensions:
            self.copy_outputs(ext)

    def cmake_build(self):
        configure = [
            "cmake", "-S", SOURCE_DIR, "-B", BUILD_DIR,
            # Forget the interpreter of the previous wheel: its headers and
            # NumPy must not be taken for this one's.
            "-U", "Python3_*", "-U", "_Python3_*",
            "-DPython3_EXECUTABLE=" + TARGET_PYTHON,
            "-DORVO_BUILD_TESTS=OFF", "-DORVO_BUILD_BENCH=OFF", "-DORVO_BUILD_PYTHON2=OFF",
        ]
        self.announce("configuring for " + TARGET_PYTHON, level=2)
        subprocess.check_call(configure)
        jobs = os.environ.get("ORVO_BUILD_JOBS") or str(os.cpu_count() or 1)
        subprocess.check_call(["cmake", "--build", BUILD_DIR, "-j", jobs])

    def copy_outputs(self, ext):
        module = os.path.join(BUILD_DIR, "py3", "orvo", "_orvo" + EXT_SUFFIX)
        if not os.path.isfile(module):
            raise RuntimeError("the CMake build made no " + module)
        destination = self.get_ext_fullpath(ext.name)
        lib_dir = os.path.dirname(destination)
        self.mkpath(lib_dir)
        self.copy_stripped(module, destination)

        plugin_dir = os.path.join(lib_dir, PLUGIN_SUBDIR)
        self.mkpath(plugin_dir)
        plugins = sorted(glob.glob(os.path.join(BUILD_DIR, "udil", "libudil-*.so")))
        if not plugins:
            raise RuntimeError("the CMake build made no codec plug-in")
        for plugin in plugins:
            self.copy_stripped(plugin, os.path.join(plugin_dir, os.path.basename(plugin)))

    def copy_stripped(self, source, destination):
        # Debug information would make the wheel several times larger.
        self.copy_file(source, destination)
        if shutil.which("strip"):
            subprocess.check_call(["strip", "--strip-unneeded", destination])


commands = {"build": FreshBuild, "build_ext": CMakeBuild}

if bdist_wheel is not None:

    class TargetWheel(bdist_wheel):
        """Names the wheel after the interpreter the module was built for."""

        def get_tag(self):
            _, _, platform = bdist_wheel.get_tag(self)
            return INTERPRETER_TAG, ABI_TAG, platform

    commands["bdist_wheel"] = TargetWheel
else:
    # Without it pip would stop at "invalid command 'bdist_wheel'".
    PlainWheel.tag = (INTERPRETER_TAG, ABI_TAG, "linux_" + platform.machine())
    commands["bdist_wheel"] = PlainWheel

setup(
    name="orvo",
    version=project_version(),
    description="Image and movie types for Python scripts, with codec plug-ins",
    long_description=long_description(),
    long_description_content_type="text/plain",
    license="Proprietary",
    classifiers=[
        "License :: Other/Proprietary License",
        "Operating System :: POSIX :: Linux",
        "Programming Language :: C++",
        "Programming Language :: Python :: 3",
    ],
    python_requires=">=3.6",
    ext_modules=[Extension("orvo._orvo", sources=[])],
    packages=["orvo", "orvo.cli"],
    package_dir={"orvo": "py/orvo"},
    package_data={"orvo": ["__init__.pyi", "py.typed"]},
    entry_points={"console_scripts": ["orvo = orvo.cli.main:main"]},
    cmdclass=commands,
    zip_safe=False,
    # Away from the CMake build in build/, and one tree per interpreter so
    # that no wheel picks up another interpreter's module.
    options={
        "build": {"build_base": os.path.join(WHEEL_WORK_DIR, "setuptools-" + ABI_TAG)},
        "egg_info": {"egg_base": WHEEL_WORK_DIR},
    },
)
