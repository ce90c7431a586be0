/* The C interface of OVTblDiffData, exported by libOVTblDiffData.so for hosts in any language.
 *
 * Members are called by name with their arguments as JSON text and answer with JSON text of
 * the same shape as `ovtbldiff call`: {"member", "result", "byref", "error"}. Errors never cross
 * as exceptions: every function returns a status, and the calling thread's error record
 * (number, source, description) tells what went wrong until the next call of this interface.
 * An object belongs to the thread that created it; a call from another thread is refused with
 * the component's error 0x8001010E. */
#ifndef OVTBLDIFF_OVTBLDIFF_H
#define OVTBLDIFF_OVTBLDIFF_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Statuses. */
#define OVT_OK 0        /* done; the error record is cleared */
#define OVT_RAISED 1    /* the component (or the database) raised an error: see the error record */
#define OVT_BAD_INPUT 2 /* malformed JSON, unknown member or parameter, a null pointer: error 5 */

/* A gateway object (class cDataGetway). */
typedef struct ovt_gateway ovt_gateway;

/* The library's version, "2.0". */
const char* ovt_version(void);

/* Creates a gateway object into *out (NULL on failure). */
int ovt_create(ovt_gateway** out);
/* Releases the object (NULL is allowed). From another thread than its creator's the object
 * is kept and OVT_RAISED returned. */
int ovt_release(ovt_gateway* g);

/* Stores a connection in DB: location is a SQLite file or a PostgreSQL location (NULL stores
 * Nothing), link the link tables' file or schema location (NULL or "": none), view the view
 * name the connection carries (NULL: none). */
int ovt_set_db(ovt_gateway* g, const char* location, const char* link, const char* view);

/* Calls a member by name (case-insensitive). args_json: a JSON object by parameter name or a
 * JSON array by position (NULL or "": no arguments), in the value forms of `ovtbldiff call`.
 * On OVT_OK and OVT_RAISED, *out_json receives the output line (free it with ovt_free); on
 * OVT_BAD_INPUT it is set to NULL. */
int ovt_call(ovt_gateway* g, const char* member, const char* args_json, char** out_json);

/* The member table as JSON: [{"name", "kind", "result", "params": [{"name", "type", "byref",
 * "optional"}]}] (free it with ovt_free). */
int ovt_members(ovt_gateway* g, char** out_json);

/* Verifies two entries of a survey as `ovtbldiff verify --format json` does and gives the same
 * JSON object in *result_json (free it with ovt_free; NULL unless OVT_OK). request_json:
 * {"entry1", "entry2" (locations), "tables": {TABLE: {"keys": [COL...], "ignore": [...],
 * "compare": [...]}}, "survey": FILE or null, "case_sensitive": false, "labels": [NAME, NAME]}.
 * The verification sets the object's DB. A setting that names nothing, or a bad survey file,
 * gives OVT_BAD_INPUT with the text naming it. */
int ovt_verify(ovt_gateway* g, const char* request_json, char** result_json);

/* Frees text this interface returned (NULL is allowed). */
void ovt_free(char* text);

/* The calling thread's error record, set by the last function of this interface that did not
 * return OVT_OK: the number as raised (a runtime error n as n), its source and description
 * ("" and 0 when there is none). The texts stay valid until the thread's next call. */
int32_t ovt_error_number(void);
const char* ovt_error_source(void);
const char* ovt_error_description(void);

#ifdef __cplusplus
}
#endif

#endif /* OVTBLDIFF_OVTBLDIFF_H */
