# The product's version, from `git describe` of the source tree: a release is
# the commit tagged vX.Y.Z (text "X.Y.Z", numbers X,Y,Z,0); N commits after it
# give "X.Y.Z-N-g<hash>" and numbers X,Y,Z,N. Without a tag, or without git
# (a source tarball), the version is 1.0.0. -DWIZARD_VERSION=X.Y.Z[...] sets it
# by hand.
#
# In a project: include() it; it sets WIZARD_VERSION (text), WIZARD_VERSION_NUMBERS
# ("X, Y, Z, N" for a version resource) and writes generated/WizardVersion.h.
# As a script: cmake -DWIZARD_SOURCE_DIR=<dir> -P cmake/Version.cmake prints
# "<text>;<numbers>" (the version tests use this).

set(WIZARD_FALLBACK_VERSION 1.0.0)

# The version text of `dir`: the cut tag of its own git checkout, or "" when
# `dir` is no checkout of its own (no git, no repository, or a folder inside
# another repository, as a tarball unpacked into a checkout would be).
function(wizard_git_version dir out)
  set(${out} "" PARENT_SCOPE)
  find_package(Git QUIET)
  if(NOT GIT_FOUND)
    return()
  endif()
  execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --show-toplevel WORKING_DIRECTORY ${dir}
                  OUTPUT_VARIABLE top RESULT_VARIABLE rc OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(NOT rc EQUAL 0)
    return()
  endif()
  file(REAL_PATH "${top}" top)
  file(REAL_PATH "${dir}" here)
  if(NOT top STREQUAL here)
    return()
  endif()
  execute_process(COMMAND ${GIT_EXECUTABLE} describe --tags --match "v[0-9]*" WORKING_DIRECTORY ${dir}
                  OUTPUT_VARIABLE described RESULT_VARIABLE rc OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(rc EQUAL 0)
    string(REGEX REPLACE "^v" "" described "${described}")
    set(${out} "${described}" PARENT_SCOPE)
  endif()
endfunction()

# "X, Y, Z, N" from a version text; fails on a text that does not begin X.Y.Z.
function(wizard_version_numbers text out)
  if(NOT text MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)")
    message(FATAL_ERROR "version \"${text}\" does not begin with X.Y.Z")
  endif()
  set(numbers "${CMAKE_MATCH_1}, ${CMAKE_MATCH_2}, ${CMAKE_MATCH_3}")
  foreach(n ${CMAKE_MATCH_1} ${CMAKE_MATCH_2} ${CMAKE_MATCH_3})
    if(n GREATER 65535)
      message(FATAL_ERROR "version \"${text}\": ${n} does not fit a version resource (at most 65535)")
    endif()
  endforeach()
  set(commits 0)
  if(text MATCHES "-([0-9]+)-g[0-9a-f]+$")
    set(commits ${CMAKE_MATCH_1})
    if(commits GREATER 65535)
      set(commits 65535)
    endif()
  endif()
  set(${out} "${numbers}, ${commits}" PARENT_SCOPE)
endfunction()

function(wizard_version dir text_out numbers_out)
  set(text "${WIZARD_VERSION}")
  if(text STREQUAL "")
    wizard_git_version("${dir}" text)
  endif()
  if(text STREQUAL "")
    set(text ${WIZARD_FALLBACK_VERSION})
  endif()
  wizard_version_numbers("${text}" numbers)
  set(${text_out} "${text}" PARENT_SCOPE)
  set(${numbers_out} "${numbers}" PARENT_SCOPE)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE)
  wizard_version("${WIZARD_SOURCE_DIR}" text numbers)
  message("${text};${numbers}")
  return()
endif()

wizard_version("${PROJECT_SOURCE_DIR}" WIZARD_VERSION_TEXT WIZARD_VERSION_NUMBERS)
message(STATUS "Version ${WIZARD_VERSION_TEXT}")
# A commit or a checkout configures again, so the version follows HEAD.
find_package(Git QUIET)
if(GIT_FOUND)
  foreach(ref HEAD packed-refs)
    execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --path-format=absolute --git-path ${ref}
                    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR} OUTPUT_VARIABLE path
                    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(path AND EXISTS "${path}")
      set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${path}")
    endif()
  endforeach()
  execute_process(COMMAND ${GIT_EXECUTABLE} symbolic-ref -q HEAD WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                  OUTPUT_VARIABLE branch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(branch)
    execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --path-format=absolute --git-path ${branch}
                    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR} OUTPUT_VARIABLE path
                    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(path AND EXISTS "${path}")
      set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${path}")
    endif()
  endif()
endif()

set(WIZARD_VERSION_INCLUDE_DIR ${PROJECT_BINARY_DIR}/generated)
file(CONFIGURE OUTPUT ${WIZARD_VERSION_INCLUDE_DIR}/WizardVersion.h CONTENT
"#pragma once
// The product's version, made by cmake/Version.cmake at configure time.
#define WIZARD_VERSION_TEXT \"${WIZARD_VERSION_TEXT}\"
#define WIZARD_VERSION_NUMBERS ${WIZARD_VERSION_NUMBERS}
")
add_library(wizard_version INTERFACE)
target_include_directories(wizard_version INTERFACE ${WIZARD_VERSION_INCLUDE_DIR})
