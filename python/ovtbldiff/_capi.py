"""Loading libOVTblDiffData and the signatures of its C interface (ovtbldiff/ovtbldiff.h)."""
import ctypes
import os
from pathlib import Path

LIBRARY_NAME = "libOVTblDiffData.so.2"

OK, RAISED, BAD_INPUT = 0, 1, 2


def _candidates():
    env = os.environ.get("OVTBLDIFF_LIBRARY")
    if env:
        return [env]
    # Installed under PREFIX/lib/python3/dist-packages/ovtbldiff: the library is in PREFIX/lib.
    here = Path(__file__).resolve().parent
    found = [str(here.parents[2] / LIBRARY_NAME)] if len(here.parents) > 2 else []
    return [p for p in found if os.path.exists(p)] + [LIBRARY_NAME]


def load():
    errors = []
    for path in _candidates():
        try:
            lib = ctypes.CDLL(path)
            break
        except OSError as e:
            errors.append(f"{path}: {e}")
    else:
        raise OSError("cannot load the OVTblDiffData library (set OVTBLDIFF_LIBRARY to its path): "
                      + "; ".join(errors))
    c_char_pp = ctypes.POINTER(ctypes.c_void_p)
    lib.ovt_version.restype = ctypes.c_char_p
    lib.ovt_version.argtypes = []
    lib.ovt_create.restype = ctypes.c_int
    lib.ovt_create.argtypes = [ctypes.POINTER(ctypes.c_void_p)]
    lib.ovt_release.restype = ctypes.c_int
    lib.ovt_release.argtypes = [ctypes.c_void_p]
    lib.ovt_set_db.restype = ctypes.c_int
    lib.ovt_set_db.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_char_p, ctypes.c_char_p]
    lib.ovt_call.restype = ctypes.c_int
    lib.ovt_call.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_char_p, c_char_pp]
    lib.ovt_members.restype = ctypes.c_int
    lib.ovt_members.argtypes = [ctypes.c_void_p, c_char_pp]
    lib.ovt_verify.restype = ctypes.c_int
    lib.ovt_verify.argtypes = [ctypes.c_void_p, ctypes.c_char_p, c_char_pp]
    lib.ovt_free.restype = None
    lib.ovt_free.argtypes = [ctypes.c_void_p]
    lib.ovt_error_number.restype = ctypes.c_int32
    lib.ovt_error_number.argtypes = []
    lib.ovt_error_source.restype = ctypes.c_char_p
    lib.ovt_error_source.argtypes = []
    lib.ovt_error_description.restype = ctypes.c_char_p
    lib.ovt_error_description.argtypes = []
    return lib


def take_text(lib, pointer):
    """The text at a pointer the interface returned, freed."""
    if not pointer:
        return None
    try:
        return ctypes.string_at(pointer).decode("utf-8")
    finally:
        lib.ovt_free(pointer)
