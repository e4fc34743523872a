# Fails when a text of the program has no Japanese translation: lupdate gathers the texts of the
# sources into a copy of the .ts file (new ones come in unfinished), and every entry of the copy must
# be finished and not empty. Called by ctest as:
# cmake -DLUPDATE=<lupdate> -DSOURCES=<src folder> -DTS=<.ts file> -DWORK=<scratch folder> -P check_translations.cmake
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
get_filename_component(name "${TS}" NAME)
file(COPY "${TS}" DESTINATION "${WORK}")
execute_process(COMMAND "${LUPDATE}" -silent -locations none -no-obsolete "${SOURCES}" -ts "${WORK}/${name}"
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "lupdate failed (${status})")
endif()
file(STRINGS "${WORK}/${name}" lines)
set(source "")
set(missing "")
foreach(line IN LISTS lines)
  if(line MATCHES "<source>([^<]*)")
    set(source "${CMAKE_MATCH_1}")
  elseif(line MATCHES "type=\"unfinished\"|<translation></translation>|<numerusform></numerusform>")
    list(APPEND missing "${source}")
  endif()
endforeach()
if(missing)
  list(REMOVE_DUPLICATES missing)
  list(JOIN missing "\n  " missing)
  message(FATAL_ERROR "${name} has no finished translation of:\n  ${missing}\n"
                      "Run scripts/update-translations.sh and translate these texts.")
endif()
message(STATUS "${name}: every text is translated")
