"""The package over the C interface, on the demo's two entries: conflicts, records without
partner, by-reference outputs, error records, recordsets to pandas, the thread rule."""
import json
import subprocess
import threading

import pytest

import ovtbldiff

FIELDS = ["HeadName", "Rooms", "Village", "WaterSource"]


def conflicts(g, **more):
    args = dict(Table1Name="House", Table2Name="ORULINK_House", MatchKeys=["HouseNo"], CompareFields=FIELDS,
                eSqlType=1, OruType=True)
    args.update(more)
    return g.GetTblDiffRecRS(**args)


def test_the_demos_conflicts_as_records(demo):
    g = ovtbldiff.Gateway(db=demo[0], link=demo[1])
    rs = conflicts(g).result
    assert isinstance(rs, ovtbldiff.Recordset)
    assert rs.fields == ["HouseNo"] + FIELDS
    assert [r["HouseNo"] for r in rs] == [103, 105, 107]
    assert list(rs)[0] == {"HouseNo": 103, "HeadName": "Grace Wanjiru", "Rooms": 4, "Village": "Gatundu",
                           "WaterSource": "River"}
    # Records of entry 1 without partner in entry 2, and the other way round.
    assert [r["HouseNo"] for r in conflicts(g, eSqlType=2).result] == [108]
    assert [r["HouseNo"] for r in conflicts(g, Table1Name="ORULINK_House", Table2Name="House", eSqlType=2).result] \
        == [109]
    assert g.TotalMatchedRec("House", "ORULINK_House", ["HouseNo"], True).result == 7
    assert g.DB == demo[0]
    g.DB = None
    assert g.DB is None
    with pytest.raises(ovtbldiff.ComError):
        conflicts(g)  # no connection
    g.DB = ovtbldiff.connection(demo[1], link=demo[0])
    assert [r["HouseNo"] for r in conflicts(g, eSqlType=2).result] == [109]


def test_by_reference_outputs_come_back(demo):
    g = ovtbldiff.Gateway(db=demo[0])
    r = g.ShowParent("House", ["HouseNo"], ["HeadName", "Village"], "4", ovtbldiff.unallocated())
    assert r.result is True
    assert r.byref["ParentInfo"] == ["104", "Samuel Kiprop", "Eldama"]
    r = g.CompareTablesStructure(ovtbldiff.table("House", demo[0]), ovtbldiff.table("Member", demo[0]),
                                 CommonFields=ovtbldiff.unallocated())
    assert r.byref["CommonFields"] == ["UniqueKey", "RecStatus"]
    assert r.byref["eSelectFields"] == {"omitted": True}


def test_an_error_is_raised_with_the_record_the_tool_prints(demo, tool):
    g = ovtbldiff.Gateway(db=demo[0])
    with pytest.raises(ovtbldiff.ComError) as raised:
        g.TotalMatchedRec("House", "NoSuchTable", ["HouseNo"], True)
    e = raised.value
    assert e.number == -2147217900
    assert e.source == "cDATAGateway:TotalMatchedRec"
    assert e.description.startswith("no such table: NoSuchTable")
    # The same call through `ovtbldiff call` reports the same record.
    out = subprocess.run([tool, "call", "--db", json.dumps({"database": demo[0]}), "TotalMatchedRec",
                          json.dumps(["House", "NoSuchTable", ["HouseNo"], True])],
                         capture_output=True, text=True)
    assert out.returncode == 3
    printed = json.loads(out.stdout)["error"]
    assert (printed["number"], printed["source"], printed["description"]) == (e.number, e.source, e.description)


def test_input_the_interface_refuses_is_error_5(demo):
    with pytest.raises(ovtbldiff.ComError) as raised:
        ovtbldiff.Gateway(db=demo[0] + ".missing")
    assert raised.value.number == 5
    assert "database file not found: " + demo[0] + ".missing" in raised.value.description
    g = ovtbldiff.Gateway()
    with pytest.raises(ovtbldiff.ComError, match='unknown parameter "Nope"'):
        g.GetFldType(Nope=3)
    with pytest.raises(AttributeError):
        g.NoSuchMember
    assert g.GetFldType(202).result == "Jet Text"


def test_a_recordset_to_pandas(demo):
    pandas = pytest.importorskip("pandas")
    g = ovtbldiff.Gateway(db=demo[0], link=demo[1])
    frame = conflicts(g).result.to_pandas()
    assert isinstance(frame, pandas.DataFrame)
    assert list(frame.columns) == ["HouseNo"] + FIELDS
    assert frame["HouseNo"].tolist() == [103, 105, 107]
    assert frame.loc[frame["HouseNo"] == 105, "HeadName"].item() == "Fatuma Hassan"


def test_an_object_is_used_on_its_own_thread():
    g = ovtbldiff.Gateway()
    seen = []

    def other():
        try:
            g.GetFldType(3)
        except ovtbldiff.ComError as e:
            seen.append(e)

    t = threading.Thread(target=other)
    t.start()
    t.join()
    assert len(seen) == 1
    assert seen[0].number & 0xFFFFFFFF == 0x8001010E
    assert seen[0].description == "The application called an interface that was marshalled for a different thread."
    assert g.GetFldType(3).result == "Jet Long"
    g.close()
    assert ovtbldiff.version() == "2.0"


def test_pip_installs_the_package_from_a_source_tree(tmp_path, demo):
    import os
    import shutil
    import sys
    source = tmp_path / "src"
    shutil.copytree(os.path.join(os.path.dirname(__file__), ".."), source,
                    ignore=shutil.ignore_patterns("tests", "__pycache__", "build", "*.egg-info"))
    target = tmp_path / "site"
    subprocess.run([sys.executable, "-m", "pip", "install", "--quiet", "--no-build-isolation", "--no-index",
                    "--target", str(target), str(source)], check=True, capture_output=True)
    code = ("import ovtbldiff, sys; g = ovtbldiff.Gateway(db=sys.argv[1], link=sys.argv[2]); "
            "print(ovtbldiff.__file__); print(g.TotalMatchedRec('House', 'ORULINK_House', ['HouseNo'], True).result)")
    out = subprocess.run([sys.executable, "-c", code, demo[0], demo[1]], capture_output=True, text=True,
                         env={**os.environ, "PYTHONPATH": str(target)}, cwd=tmp_path, check=True)
    assert out.stdout.splitlines() == [str(target / "ovtbldiff" / "__init__.py"), "7"]
