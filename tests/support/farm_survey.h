// A small survey whose grid is matched on two key columns: the form Farm (key FarmNo) with the
// grid Crop (keys PlotNo and CropNo within the farm), in two entries that differ.
#pragma once

#include <gtest/gtest.h>

#include "ovtbldiff/dbcomp/database.h"
#include "support/engines.h"
#include "support/form.h"

namespace ovt::test {

// A form Farm whose grid Crop is matched on two columns within its farm, PlotNo and CropNo.
inline const Statements kFarm = statements({
    {"create table Farm (UniqueKey counter, RecStatus long, FarmNo long, Owner text(60))",
     "create table Crop (UniqueKey counter, RecStatus long, FKey long, PlotNo long, CropNo long, CropName text(40), "
     "Yield long)"},
    catalogue("viewFarm", "Farm", {"Owner TEXT", "Crops GRID gvCrop"}),
    catalogue("gvCrop", "Crop", {"PlotNo NUMBER", "CropNo NUMBER", "CropName TEXT", "Yield NUMBER"}),
});
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
  runAll(two, statements({kFarm, {kFarm2, kCrop2}}));
  runAll(one, statements({kFarm, {kFarm1, kCrop1}}));
}

}  // namespace ovt::test
