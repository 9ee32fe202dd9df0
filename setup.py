"""Builds `_quorlax`, `quorlax._native` and the `quorlax` program with the project's own CMake
build (one run, one list of sources) and installs the program beside the environment's Python."""
from __future__ import annotations

import atexit
import glob
import os
import re
import shutil
import subprocess
import sys
import sysconfig
import tempfile

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

try:
    from setuptools.command.build_scripts import build_scripts
except ImportError:  # setuptools before 69 keeps it in its distutils
    from distutils.command.build_scripts import build_scripts

ROOT = os.path.dirname(os.path.abspath(__file__))


def project_version() -> str:
    with open(os.path.join(ROOT, "CMakeLists.txt"), encoding="utf-8") as f:
        found = re.search(r"project\(\s*Quorlax\s+VERSION\s+([0-9.]+)", f.read())
    if not found:
        raise RuntimeError("no project(Quorlax VERSION ...) in CMakeLists.txt")
    return found.group(1)


# setuptools' intermediate files go to a private temporary directory: the
# repository's build/ belongs to CMake and python/ stays free of egg-info.
_scratch = tempfile.mkdtemp(prefix="quorlax-setup-")
atexit.register(shutil.rmtree, _scratch, ignore_errors=True)
CMAKE_DIR = os.environ.get("QUORLAX_CMAKE_BUILD_DIR") or os.path.join(_scratch, "cmake")
PROGRAM = os.path.join(CMAKE_DIR, "tools", "quorlax")

_site = os.path.relpath(sysconfig.get_path("platlib"), sysconfig.get_path("scripts"))
RPATHS = ["$ORIGIN", "$ORIGIN/..", "$ORIGIN/" + _site.replace(os.sep, "/")]

# Extension name -> where CMake puts it, relative to its build directory.
BUILT = {"_quorlax": "python/_quorlax.*so", "_quorlax_device": "python/_quorlax_device.*so",
         "quorlax._native": "python/quorlax/_native.*so"}


class CMakeBuild(build_ext):
    """Configures and builds the modules and the program once, then copies each module into place."""

    _built = False

    def _cmake(self) -> None:
        if CMakeBuild._built:
            return
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", "2")
        subprocess.check_call([
            "cmake", "-S", ROOT, "-B", CMAKE_DIR,
            "-DCMAKE_BUILD_TYPE=Release",
            "-DQUORLAX_BUILD_CLI=ON", "-DQUORLAX_BUILD_TESTS=OFF", "-DQUORLAX_BUILD_BENCH=OFF",
            f"-DPython3_EXECUTABLE={sys.executable}",
            # libquorlax.so.1 goes beside _quorlax in site-packages; the modules and
            # the program (in the scripts folder) find it there, wherever that is.
            "-DCMAKE_BUILD_WITH_INSTALL_RPATH=ON", f"-DCMAKE_INSTALL_RPATH={';'.join(RPATHS)}",
        ])
        subprocess.check_call(["cmake", "--build", CMAKE_DIR, "--parallel", jobs,
                               "--target", "_quorlax", "_quorlax_device", "_native", "quorlax-cli"])
        CMakeBuild._built = True

    def build_extension(self, ext: Extension) -> None:
        self._cmake()
        built = glob.glob(os.path.join(CMAKE_DIR, BUILT[ext.name]))
        if not built:
            raise RuntimeError(f"CMake built no {ext.name} under {CMAKE_DIR}")
        target = self.get_ext_fullpath(ext.name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(max(built, key=os.path.getmtime), target)
        if ext.name == "_quorlax":
            for lib in glob.glob(os.path.join(CMAKE_DIR, "libquorlax.so.*")):
                name = os.path.basename(lib)
                if re.fullmatch(r"libquorlax\.so\.[0-9]+", name):  # the soname, not the full version
                    shutil.copyfile(lib, os.path.join(os.path.dirname(target), name))


class CopyProgram(build_scripts):
    """The program is an executable, not a Python script: copied as it is."""

    def copy_scripts(self):  # type: ignore[no-untyped-def]
        self.mkpath(self.build_dir)
        outfiles = []
        for script in self.scripts:
            out = os.path.join(self.build_dir, os.path.basename(script))
            shutil.copy2(script, out)
            outfiles.append(out)
        self._change_modes(outfiles)
        return outfiles, outfiles


setup(
    version=project_version(),
    ext_modules=[Extension(name, sources=[]) for name in BUILT],
    # The program is built by build_ext, which runs before build_scripts.
    scripts=[PROGRAM],
    cmdclass={"build_ext": CMakeBuild, "build_scripts": CopyProgram},
    options={
        "build": {"build_base": os.path.join(_scratch, "build")},
        "egg_info": {"egg_base": _scratch},
    },
)
