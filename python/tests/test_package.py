"""The installed package against the project: it loads the very library the
C tests load, and its table of exports and its name record match the header."""
from __future__ import annotations

import ctypes
import dataclasses
import hashlib
import re
import shutil
import subprocess
import sys
import zipfile
from pathlib import Path
from typing import Dict, List, Tuple

import pytest

import oxmeta
from oxmeta import _native

from conftest import HEADER, required_env

# C types of the header as the binding must declare them.
C_TYPES = {
    "void": None,
    "int": ctypes.c_int,
    "int64_t": ctypes.c_int64,
    "const char *": ctypes.c_char_p,
    "int *": ctypes.POINTER(ctypes.c_int),
    "int64_t *": ctypes.POINTER(ctypes.c_int64),
    "const oxmeta_io *": ctypes.POINTER(_native.IoTable),
    "oxmeta_name *": ctypes.POINTER(_native.NameRecord),
}


def header_exports() -> Dict[str, Tuple[str, List[str]]]:
    """Every OXMETA_API declaration of the header: name -> (return type, argument types)."""
    text = re.sub(r"/\*.*?\*/", " ", HEADER.read_text(), flags=re.S)
    found = {}
    for match in re.finditer(r"OXMETA_API\s+([^;(]*?)\s*\b((?:oxmeta|ox_fake)_\w+)\s*\(([^)]*)\)\s*;", text):
        returns, name, params = match.groups()
        arguments = []
        for param in params.split(","):
            param = " ".join(param.split())
            if param in ("void", ""):
                continue
            # Drop the parameter's name, keep its type ("const char *key" -> "const char *").
            kind = re.sub(r"\s*\b\w+$", "", param).replace("*", " *").replace("  ", " ").strip()
            arguments.append(re.sub(r"\s*\*", " *", kind))
        found[name] = (" ".join(returns.replace("*", " *").split()), arguments)
    return found


def test_the_table_of_exports_is_the_headers():
    declared = header_exports()
    assert len(declared) >= 58
    assert sorted(_native.EXPORTS) == sorted(declared)
    for name, (returns, arguments) in declared.items():
        restype, argtypes = _native.EXPORTS[name]
        assert restype is C_TYPES[returns], name
        assert len(argtypes) == len(arguments), name
        for bound, declared_type in zip(argtypes, arguments):
            assert bound is C_TYPES[declared_type], f"{name}: {declared_type}"
        function = getattr(_native.library(), name)
        assert function.restype is restype and list(function.argtypes) == list(argtypes)


def test_the_name_record_has_the_headers_layout(tmp_path: Path):
    compiler = shutil.which("cc") or shutil.which("gcc")
    assert compiler, "a C compiler is needed to read the header's layout"
    fields = [name for name, _ in _native.NameRecord._fields_]
    program = tmp_path / "layout.c"
    program.write_text(
        "#include <stddef.h>\n#include <stdio.h>\n#include \"oxmeta.h\"\nint main(void) {\n"
        "    printf(\"sizeof %zu\\n\", sizeof(oxmeta_name));\n"
        + "".join(f"    printf(\"{f} %zu %zu\\n\", offsetof(oxmeta_name, {f}), sizeof(((oxmeta_name *)0)->{f}));\n"
                  for f in fields)
        + "    return 0;\n}\n")
    subprocess.run([compiler, "-std=c99", "-Wall", "-Werror", "-I", str(HEADER.parent), "-o",
                    str(tmp_path / "layout"), str(program)], check=True)
    lines = subprocess.run([str(tmp_path / "layout")], check=True, capture_output=True, text=True).stdout.split("\n")
    assert lines[0] == f"sizeof {ctypes.sizeof(_native.NameRecord)}"
    for line, field in zip(lines[1:], fields):
        descriptor = getattr(_native.NameRecord, field)
        assert line == f"{field} {descriptor.offset} {descriptor.size}"
    # And the header has no field the record lacks.
    body = re.search(r"typedef struct oxmeta_name \{(.*?)\} oxmeta_name;", HEADER.read_text(), re.S).group(1)
    declared = re.findall(r"\b(\w+)(?:\[[^\]]*\])?;", re.sub(r"/\*.*?\*/", "", body, flags=re.S))
    assert declared == fields
    # Name carries every field of the record (its size is the record's own business).
    assert [f.name for f in dataclasses.fields(oxmeta.Name)] == fields[1:]


def sha256(data: bytes) -> str:
    return hashlib.sha256(data).hexdigest()


def test_the_package_loads_the_library_the_c_tests_load():
    installed = oxmeta.library_path()
    package = Path(oxmeta.__file__).resolve().parent
    assert installed.parent == package
    assert Path(sys.prefix) in package.parents, "the package under test is the one installed in the environment"
    c_library = Path(required_env("OXMETA_TEST_C_LIBRARY")).read_bytes()
    assert sha256(installed.read_bytes()) == sha256(c_library)
    with zipfile.ZipFile(required_env("OXMETA_TEST_WHEEL")) as wheel:
        assert sha256(wheel.read("oxmeta/liboxmeta.so")) == sha256(c_library)
        assert "oxmeta/py.typed" in wheel.namelist()


def test_oxmeta_library_names_another_file(tmp_path: Path):
    code = "import oxmeta; oxmeta.parse_name('x.mkv')"
    missing = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                             env={"OXMETA_LIBRARY": str(tmp_path / "nowhere.so")})
    assert missing.returncode != 0
    assert "set OXMETA_LIBRARY" in missing.stderr and "nowhere.so" in missing.stderr
    copy = tmp_path / "liboxmeta-copy.so"
    shutil.copy(oxmeta.library_path(), copy)
    found = subprocess.run([sys.executable, "-c", "import oxmeta; print(oxmeta.library_path())"],
                           capture_output=True, text=True, env={"OXMETA_LIBRARY": str(copy)}, check=True)
    assert found.stdout.strip() == str(copy)
