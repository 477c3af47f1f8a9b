"""The wheel carries a shared library: it is tagged for this platform, for
any Python 3 (the library is loaded with ctypes, not as an extension)."""
from setuptools import setup
from setuptools.dist import Distribution

try:
    from wheel.bdist_wheel import bdist_wheel

    class platform_wheel(bdist_wheel):
        def finalize_options(self) -> None:
            super().finalize_options()
            self.root_is_pure = False

        def get_tag(self):  # type: ignore[no-untyped-def]
            return ("py3", "none", super().get_tag()[2])

    commands = {"bdist_wheel": platform_wheel}
except ImportError:  # building without wheel: an sdist
    commands = {}


class BinaryDistribution(Distribution):
    def has_ext_modules(self) -> bool:
        return True


setup(cmdclass=commands, distclass=BinaryDistribution)
