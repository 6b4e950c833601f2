# The rows of FileTypeRegistry, written from the file-type table when the
# build is configured (and again whenever the table changes), so the program
# knows each type's extensions in one place and needs no file at run time.
#
# drentic_file_type_registry_rows(<table> <output .cpp>)
function(drentic_file_type_registry_rows table output)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${table})
  file(STRINGS ${table} _lines)
  set(_kinds picture Picture movie Movie sound Sound other Other)
  set(_seen)
  set(_rows "")
  foreach(_line IN LISTS _lines)
    string(STRIP "${_line}" _line)
    if(_line STREQUAL "" OR _line MATCHES "^#" OR _line MATCHES "^version ")
      continue()
    endif()
    string(REPLACE "|" ";" _fields "${_line}")
    list(LENGTH _fields _count)
    if(NOT _count EQUAL 13)
      message(FATAL_ERROR "${table}: '${_line}': expected 13 fields")
    endif()
    list(GET _fields 2 _ext)
    list(GET _fields 3 _variants)
    list(GET _fields 9 _kind)
    list(GET _fields 10 _media)
    foreach(_v _ext _variants _kind _media)
      string(STRIP "${${_v}}" ${_v})
    endforeach()
    if(_kind STREQUAL "-")
      continue()
    endif()
    list(FIND _kinds "${_kind}" _at)
    if(_at LESS 0 OR _kind MATCHES "^[A-Z]")
      message(FATAL_ERROR "${table}: '${_line}': unknown kind '${_kind}'")
    endif()
    math(EXPR _at "${_at} + 1")
    list(GET _kinds ${_at} _enum)
    string(REPLACE "," ";" _exts "${_ext},${_variants}")
    string(REPLACE "," ";" _media "${_media}")
    list(TRANSFORM _exts STRIP)
    list(TRANSFORM _media STRIP)
    list(REMOVE_ITEM _exts "-")
    foreach(_e IN LISTS _exts)
      if(NOT _e MATCHES "^[a-z0-9]+$" OR _e MATCHES "^.........")
        message(FATAL_ERROR "${table}: '${_e}': extensions are 1 to 8 lower-case letters and digits")
      endif()
      if(_e IN_LIST _seen)
        message(FATAL_ERROR "${table}: '${_e}' has a kind in two rows")
      endif()
      list(APPEND _seen ${_e})
      set(_keep false)
      if(_e IN_LIST _media)
        set(_keep true)
      endif()
      string(APPEND _rows "    {\"${_e}\", Kind::${_enum}, ${_keep}},\n")
    endforeach()
    foreach(_m IN LISTS _media)
      if(NOT _m STREQUAL "-" AND NOT _m IN_LIST _exts)
        message(FATAL_ERROR "${table}: '${_m}' is kept by the photo scans but is no extension of its row")
      endif()
    endforeach()
  endforeach()
  file(CONFIGURE OUTPUT ${output} @ONLY CONTENT
"// Written by the build from tools/signatures/file-types.txt: edit the table.
#include \"volume/FileTypeRegistry.h\"

namespace {
using Kind = FileTypeRegistry::Kind;
constexpr FileTypeRegistry::Entry kEntries[] = {
@_rows@};
} // namespace

std::span<const FileTypeRegistry::Entry> FileTypeRegistry::entries() {
    return kEntries;
}
")
endfunction()
