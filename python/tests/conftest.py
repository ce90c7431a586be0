"""The library and tool under test come from the environment (set by the build's test run):
OVTBLDIFF_LIBRARY (libOVTblDiffData) and OVTBLDIFF_TOOL (ovtbldiff)."""
import os
import subprocess

import pytest


@pytest.fixture(scope="session")
def tool():
    path = os.environ.get("OVTBLDIFF_TOOL")
    if not path:
        pytest.fail("OVTBLDIFF_TOOL is not set: run these tests through ctest")
    return path


@pytest.fixture
def demo(tmp_path, tool):
    """The two entries `ovtbldiff demo` writes."""
    subprocess.run([tool, "demo", str(tmp_path / "d")], check=True, capture_output=True)
    return str(tmp_path / "d" / "entry1.db"), str(tmp_path / "d" / "entry2.db")
