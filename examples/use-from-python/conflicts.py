"""conflicts.py ENTRY1 ENTRY2: the House records whose head, rooms or village differ."""
import sys

import ovtbldiff

g = ovtbldiff.Gateway(db=sys.argv[1], link=sys.argv[2])
fields = ["HeadName", "Rooms", "Village"]
print("matched:", g.TotalMatchedRec("House", "ORULINK_House", ["HouseNo"], True).result)
conflicts = g.GetTblDiffRecRS(Table1Name="House", Table2Name="ORULINK_House", MatchKeys=["HouseNo"],
                              CompareFields=fields, eSqlType=1, OruType=True).result
for record in conflicts:
    print("conflict:", record)
try:
    g.TotalMatchedRec("House", "NoSuchTable", ["HouseNo"], True)
except ovtbldiff.ComError as e:
    print("error", e.number, e.source, e.description.split(" in: ")[0])
