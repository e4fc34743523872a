# Puts the sample project beside the executable on a first build. A folder that already holds a
# "data.txt" is someone's project and is left as it is; image files already there are never replaced.
# Called as: cmake -DSAMPLE=<sample folder> -DDEST=<executable's folder> -P copy_sample.cmake
if(EXISTS "${DEST}/data.txt" OR NOT EXISTS "${SAMPLE}/data.txt")
  return()
endif()
file(GLOB images RELATIVE "${SAMPLE}/img" "${SAMPLE}/img/*")
file(MAKE_DIRECTORY "${DEST}/img")
foreach(image IN LISTS images)
  if(NOT EXISTS "${DEST}/img/${image}")
    file(COPY "${SAMPLE}/img/${image}" DESTINATION "${DEST}/img")
  endif()
endforeach()
file(COPY "${SAMPLE}/data.txt" DESTINATION "${DEST}")
message(STATUS "charstack: copied the sample project to ${DEST}")
