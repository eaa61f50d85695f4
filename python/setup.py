"""The package's extension module is built by the project's CMake (the library's objects and the
binding), then packaged by setuptools with the package's Python files (pyproject.toml)."""

import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent.parent


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = Path(self.build_temp).resolve() / "cmake"
        subprocess.run(
            [
                "cmake", "-S", str(ROOT), "-B", str(build),
                "-DCMAKE_BUILD_TYPE=Release",
                "-DPython3_EXECUTABLE=" + sys.executable,
                "-DIMAGEFILES_BUILD_TESTS=OFF",
                "-DIMAGEFILES_BUILD_EXAMPLES=OFF",
                "-DIMAGEFILES_INSTALL=OFF",
            ],
            check=True,
        )
        subprocess.run(["cmake", "--build", str(build), "--target", "_imagefiles", "-j2"], check=True)
        built = next((build / "python" / "imagefiles").glob("_imagefiles*.so"))
        target = Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built, target)


setup(ext_modules=[Extension("imagefiles._imagefiles", sources=[])], cmdclass={"build_ext": CMakeBuild})
