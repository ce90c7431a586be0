/* conflicts ENTRY1 ENTRY2: the House records whose head, rooms or village differ. */
#include <stdio.h>

#include <ovtbldiff/ovtbldiff.h>

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: conflicts ENTRY1 ENTRY2\n");
    return 2;
  }
  ovt_gateway* g = NULL;
  char* out = NULL;
  int status = ovt_create(&g);
  if (status == OVT_OK) status = ovt_set_db(g, argv[1], argv[2], NULL);
  if (status == OVT_OK)
    status = ovt_call(g, "GetTblDiffRecRS",
                      "{\"Table1Name\": \"House\", \"Table2Name\": \"ORULINK_House\", \"MatchKeys\": [\"HouseNo\"],"
                      " \"CompareFields\": [\"HeadName\", \"Rooms\", \"Village\"], \"eSqlType\": 1, \"OruType\": true}",
                      &out);
  if (status != OVT_OK)
    fprintf(stderr, "error %d (%s): %s\n", (int)ovt_error_number(), ovt_error_source(), ovt_error_description());
  else
    printf("%s\n", out);
  ovt_free(out);
  ovt_release(g);
  return status == OVT_OK ? 0 : 1;
}
