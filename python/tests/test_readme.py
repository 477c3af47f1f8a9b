"""The README's Python example runs as it stands and prints what it says."""
from __future__ import annotations

import contextlib
import io
import re

from conftest import PROJECT


def test_the_readme_example_runs():
    readme = (PROJECT / "README.md").read_text()
    section = readme[readme.index("\n## Python\n"):]
    code = re.search(r"```python\n(.*?)```", section, re.S).group(1)
    out = io.StringIO()
    with contextlib.redirect_stdout(out):
        exec(compile(code, "README.md", "exec"), {})
    printed = out.getvalue().splitlines()
    # Each line prints what its comment says (up to a trailing "...").
    expected = [c.strip() for c in re.findall(r"print\(.*#\s*(.*)", code)]
    assert len(printed) == len(expected)
    for line, comment in zip(printed, expected):
        comment = comment.split(":")[0] if comment.startswith("None:") else comment
        assert line.startswith(comment.rstrip(". ")), (line, comment)
