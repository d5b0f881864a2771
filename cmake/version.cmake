# Writes the header that names the version and the commit a build is made
# from, run at every build so that a new commit or an edit is seen at once;
# the header is rewritten only when its text changes.
#   cmake -DSOURCE_DIR=... -DOUTPUT=... -DVERSION=... -P version.cmake
# The commit is git's short name for HEAD, with "-dirty" when a tracked file
# differs from it; "unknown" outside a git checkout.
set(commit unknown)
find_package(Git QUIET)
if(GIT_FOUND AND EXISTS "${SOURCE_DIR}/.git")
    execute_process(COMMAND "${GIT_EXECUTABLE}" rev-parse --short=12 HEAD
                    WORKING_DIRECTORY "${SOURCE_DIR}" OUTPUT_VARIABLE head
                    OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed ERROR_QUIET)
    if(NOT failed AND head)
        set(commit "${head}")
        execute_process(COMMAND "${GIT_EXECUTABLE}" status --porcelain --untracked-files=no
                        WORKING_DIRECTORY "${SOURCE_DIR}" OUTPUT_VARIABLE changes ERROR_QUIET)
        if(changes)
            set(commit "${commit}-dirty")
        endif()
    endif()
endif()
set(text "// Made by cmake/version.cmake at build time.
#pragma once
#define KORVAT_VERSION \"${VERSION}\"
#define KORVAT_COMMIT \"${commit}\"
")
if(EXISTS "${OUTPUT}")
    file(READ "${OUTPUT}" old)
endif()
if(NOT "${old}" STREQUAL "${text}")
    file(WRITE "${OUTPUT}" "${text}")
endif()
