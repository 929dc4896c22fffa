# SPDX-License-Identifier: GPL-2.0-or-later
# SQLite built from an amalgamation (sqlite3.c, sqlite3.h) in
# ZOLT_SQLITE_SOURCE: the Windows build, where Debian ships no library, takes
# it from Debian's own sqlite3 source package (scripts/build-windows.sh).
#
# The compile-time options are those of Debian's libsqlite3-0 (debian/rules of
# sqlite3 3.40.1-2) that change what the converter's SQL does or how its file
# looks on disk. Left out are the extensions it never uses: FTS3/4/5, R*Tree,
# sessions and the pre-update hook, loadable extensions, column metadata and
# the statement and dbstat virtual tables.
enable_language(C)
foreach(file sqlite3.c sqlite3.h)
  if(NOT EXISTS ${ZOLT_SQLITE_SOURCE}/${file})
    message(FATAL_ERROR "ZOLT_SQLITE_SOURCE=${ZOLT_SQLITE_SOURCE} holds no ${file}")
  endif()
endforeach()
add_library(zolt_sqlite3 STATIC ${ZOLT_SQLITE_SOURCE}/sqlite3.c)
target_include_directories(zolt_sqlite3 SYSTEM PUBLIC ${ZOLT_SQLITE_SOURCE})
target_compile_definitions(zolt_sqlite3 PRIVATE
  SQLITE_SECURE_DELETE            # freed pages are zeroed: compaction leaves nothing behind
  SQLITE_THREADSAFE=1
  SQLITE_USE_URI=1                # file names that start with "file:" are addresses
  SQLITE_LIKE_DOESNT_MATCH_BLOBS
  SQLITE_ALLOW_ROWID_IN_VIEW
  SQLITE_MAX_SCHEMA_RETRY=25
  SQLITE_MAX_VARIABLE_NUMBER=250000
  SQLITE_OMIT_LOOKASIDE=1
  SQLITE_SOUNDEX=1
  SQLITE_ENABLE_JSON1
  SQLITE_ENABLE_UNLOCK_NOTIFY
  SQLITE_ENABLE_UPDATE_DELETE_LIMIT=1)
# Debian's patch 31 raises the largest default page size to 32 KiB; the
# amalgamation made from the patched source carries it already.
set_target_properties(zolt_sqlite3 PROPERTIES C_STANDARD 99 POSITION_INDEPENDENT_CODE ON)
# Not our code: its warnings are SQLite's to mind.
target_compile_options(zolt_sqlite3 PRIVATE -w -O2 -fno-strict-aliasing)
add_library(SQLite::SQLite3 ALIAS zolt_sqlite3)
