"""ovtbldiff.verify: the verification through the library, the same object as the tool's json."""
import json
import os
import subprocess

import pytest

import ovtbldiff


def tool_json(tool, *args):
    r = subprocess.run([tool, "verify", *args, "--format", "json"], capture_output=True, text=True)
    assert r.returncode in (0, 1), r.stderr
    return r.returncode, json.loads(r.stdout)


def test_the_demo_verified_from_python_equals_the_tools_json(demo, tool):
    one, two = demo
    code, expected = tool_json(tool, one, two, "--keys", "House=HouseNo", "--keys", "Member=LineNo")
    assert code == 1
    got = ovtbldiff.verify(one, two, keys={"House": "HouseNo", "Member": ["LineNo"]})
    assert got == expected
    house = got["forms"][0]
    assert (house["matched"], house["conflicting"], house["missing"]) == (7, 3, [1, 1])
    assert house["values_compared"] - house["values_differing"] == 24 and house["values_compared"] == 28
    assert [c["record"] for c in house["conflicts"]] == ["HouseNo=103", "HouseNo=105", "HouseNo=107"]


def test_survey_file_ignore_case_and_labels_as_the_tool_takes_them(demo, tool):
    one, two = demo
    survey = os.path.join(os.path.dirname(one), "survey.toml")
    _, expected = tool_json(tool, one, two, "--survey", survey, "--ignore", "House.Village,House.WaterSource",
                            "--case-sensitive", "--label", "clerk A", "--label", "clerk B")
    got = ovtbldiff.verify(one, two, survey=survey, ignore={"House": ["Village", "WaterSource"]},
                           case_sensitive=True, labels=["clerk A", "clerk B"])
    assert got == expected
    assert got["labels"] == [f"clerk A ({one})", f"clerk B ({two})"]
    assert "Village" not in [f["field"] for f in got["forms"][0]["fields"]]


def test_a_setting_that_names_nothing_is_error_5_naming_it(demo, tool):
    one, two = demo
    with pytest.raises(ovtbldiff.ComError) as e:
        ovtbldiff.verify(one, two, keys={"House": "HouseNumber"})
    assert e.value.number == 5
    r = subprocess.run([tool, "verify", one, two, "--keys", "House=HouseNumber"], capture_output=True, text=True)
    assert r.returncode == 2
    assert e.value.description in r.stderr
    with pytest.raises(ovtbldiff.ComError) as e:
        ovtbldiff.verify(one, two, keys={"House": "HouseNo"}, survey=one + ".missing.toml")
    assert e.value.description == f"survey file not found: {one}.missing.toml"
    with pytest.raises(ValueError):
        ovtbldiff.verify(one, two, ignore=["Village"])
