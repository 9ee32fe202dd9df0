"""Builds `_quorlax` with the project's own CMake build, so there is one list of sources."""
from __future__ import annotations

import atexit
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = os.path.dirname(os.path.abspath(__file__))


def project_version() -> str:
    with open(os.path.join(ROOT, "CMakeLists.txt"), encoding="utf-8") as f:
        found = re.search(r"project\(\s*Quorlax\s+VERSION\s+([0-9.]+)", f.read())
    if not found:
        raise RuntimeError("no project(Quorlax VERSION ...) in CMakeLists.txt")
    return found.group(1)


class CMakeBuild(build_ext):
    """Configures and builds the extension's CMake target, then copies the module into place."""

    def build_extension(self, ext: Extension) -> None:
        build_dir = os.environ.get("QUORLAX_CMAKE_BUILD_DIR") or os.path.join(self.build_temp, "cmake")
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", "2")
        subprocess.check_call([
            "cmake", "-S", ROOT, "-B", build_dir,
            "-DCMAKE_BUILD_TYPE=Release",
            "-DQUORLAX_BUILD_CLI=OFF", "-DQUORLAX_BUILD_TESTS=OFF", "-DQUORLAX_BUILD_BENCH=OFF",
            f"-DPython3_EXECUTABLE={sys.executable}",
            # The module finds libquorlax.so.1 beside itself, wherever it is installed.
            "-DCMAKE_BUILD_WITH_INSTALL_RPATH=ON", "-DCMAKE_INSTALL_RPATH=$ORIGIN",
        ])
        subprocess.check_call(["cmake", "--build", build_dir, "--target", ext.name, "--parallel", jobs])
        built = glob.glob(os.path.join(build_dir, "python", ext.name + ".*so")) + \
            glob.glob(os.path.join(build_dir, "python", ext.name + ".*pyd"))
        if not built:
            raise RuntimeError(f"CMake built no {ext.name} module under {build_dir}/python")
        target = self.get_ext_fullpath(ext.name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(max(built, key=os.path.getmtime), target)
        for lib in glob.glob(os.path.join(build_dir, "libquorlax.so.*")):
            name = os.path.basename(lib)
            if re.fullmatch(r"libquorlax\.so\.[0-9]+", name):  # the soname, not the full version
                shutil.copyfile(lib, os.path.join(os.path.dirname(target), name))


# setuptools' intermediate files go to a private temporary directory: the
# repository's build/ belongs to CMake and python/ stays free of egg-info.
_scratch = tempfile.mkdtemp(prefix="quorlax-setup-")
atexit.register(shutil.rmtree, _scratch, ignore_errors=True)

setup(
    version=project_version(),
    ext_modules=[Extension("_quorlax", sources=[]), Extension("_quorlax_device", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    options={
        "build": {"build_base": os.path.join(_scratch, "build")},
        "egg_info": {"egg_base": _scratch},
    },
)
