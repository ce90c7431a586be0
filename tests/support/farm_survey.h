// A small survey whose grid is matched on two key columns: the form Farm (key FarmNo) with the
// grid Crop (keys PlotNo and CropNo within the farm), in two entries that differ.
#pragma once

#include <gtest/gtest.h>

#include <tuple>

#include "ovtbldiff/dbcomp/database.h"

namespace ovt::test {

// A form Farm whose grid Crop is matched on two columns within its farm, PlotNo and CropNo.
inline const char* kFarm[] = {
    "create table Farm (UniqueKey counter, RecStatus long, FarmNo long, Owner text(60))",
    "create table Crop (UniqueKey counter, RecStatus long, FKey long, PlotNo long, CropNo long, CropName text(40), "
    "Yield long)",
    "create table viewFarm (Name text(50), Type text(20), PageNumber long, DataTable text(50))",
    "insert into viewFarm values ('DATA1', 'SOURCE', 0, 'Farm')",
    "insert into viewFarm values ('Owner', 'TEXT', 1, '')",
    "insert into viewFarm values ('Crops', 'GRID', 1, 'DATA2')",
    "insert into viewFarm values ('DATA2', 'SOURCE', 0, 'gvCrop')",
    "create table gvCrop (Name text(50), Type text(20), PageNumber long, DataTable text(50))",
    "insert into gvCrop values ('DATA1', 'SOURCE', 0, 'Crop')",
    "insert into gvCrop values ('PlotNo', 'NUMBER', 1, '')",
    "insert into gvCrop values ('CropNo', 'NUMBER', 1, '')",
    "insert into gvCrop values ('CropName', 'TEXT', 1, '')",
    "insert into gvCrop values ('Yield', 'NUMBER', 1, '')",
};
// Farm 201: plot 1 crop 1 differs in Yield, plot 1 crop 2 in CropName, plot 2 crop 1 is in
// entry 1 only, plot 2 crop 2 in entry 2 only. Farm 202: plot 1 crop 12 and plot 11 crop 2,
// one in each entry (their key values run together would be the same). Farm 203 and its crop
// are in entry 1 only.
inline const char* kFarm1 =
    "insert into Farm (UniqueKey, RecStatus, FarmNo, Owner) values (1, 1, 201, 'Ann'), (2, 1, 202, 'Ben'), "
    "(3, 1, 203, 'Cy')";
inline const char* kCrop1 =
    "insert into Crop (RecStatus, FKey, PlotNo, CropNo, CropName, Yield) values (1, 1, 1, 1, 'Maize', 10), "
    "(1, 1, 1, 2, 'Beans', 4), (1, 1, 2, 1, 'Maize', 7), (1, 2, 1, 1, 'Tea', 3), (1, 2, 1, 12, 'Kale', 1), "
    "(1, 3, 1, 1, 'Rice', 2)";
inline const char* kFarm2 = "insert into Farm (UniqueKey, RecStatus, FarmNo, Owner) values (51, 1, 201, 'Ann'), (52, 1, 202, 'Ben')";
inline const char* kCrop2 =
    "insert into Crop (RecStatus, FKey, PlotNo, CropNo, CropName, Yield) values (1, 51, 1, 1, 'Maize', 12), "
    "(1, 51, 1, 2, 'Peas', 4), (1, 51, 2, 2, 'Sorghum', 5), (1, 52, 1, 1, 'Tea', 3), (1, 52, 11, 2, 'Yam', 6)";

// Creates the form and its grid in both entries and fills them with the rows above.
inline void fillFarmSurvey(const db::DatabaseRef& one, const db::DatabaseRef& two) {
  for (auto [conn, farm, crop] : {std::tuple{two, kFarm2, kCrop2}, std::tuple{one, kFarm1, kCrop1}}) {
    for (const char* s : kFarm) ASSERT_TRUE(conn->Execute(s)) << s << ": " << conn->LastFailure();
    for (const char* s : {farm, crop}) ASSERT_TRUE(conn->Execute(s)) << s << ": " << conn->LastFailure();
  }
}

}  // namespace ovt::test
