# The public key that update signatures are checked against is built into the program as a header,
# generated at build time from a key file (64 hex digits), so a changed key file, or one that the
# build itself makes (the tests' key), is picked up without configuring again.
#
# HM_UPDATE_KEY (cache)  the release key file; default keys/update-signing.pub.
#
# hm_update_key_header(<out-dir> <key-file> [TARGET <name>] [DEPENDS <files or targets>...])
#   A custom command that writes <out-dir>/update_signing_key.h with
#   `hm::kUpdateSigningKey` (std::array<uint8_t, 32>). Sets HM_UPDATE_KEY_HEADER in the caller's scope
#   to that path; add it to the sources of an executable in the same folder and <out-dir> to its
#   include path. TARGET makes a custom target that builds the header, for targets in other folders.
#   A malformed key file fails the build.
#
# hm_test_update_key(<out-dir> [TARGET <name>])
#   Makes <out-dir>/update-test-key.sec and <out-dir>/update-test-key.pub with haldmoor3-sign keygen,
#   once per build folder (again only when one of them is missing), and a custom target (default
#   update_test_key) that stands for them. Calling it again for the same <out-dir> does nothing.
#
# Run as a script (cmake -DHM_KEY_FILE=... -DHM_KEY_HEADER=... -P UpdateKey.cmake) it writes the header.

if(CMAKE_SCRIPT_MODE_FILE)
  if(NOT EXISTS "${HM_KEY_FILE}" OR IS_DIRECTORY "${HM_KEY_FILE}")
    message(FATAL_ERROR "The update signing key file ${HM_KEY_FILE} does not exist.")
  endif()
  file(READ "${HM_KEY_FILE}" hm_key_hex)
  string(STRIP "${hm_key_hex}" hm_key_hex)
  string(LENGTH "${hm_key_hex}" hm_key_length)
  if(NOT hm_key_length EQUAL 64 OR NOT hm_key_hex MATCHES "^[0-9a-fA-F]+$")
    message(FATAL_ERROR "The update signing key file ${HM_KEY_FILE} is malformed: it must hold exactly 64 hex "
                        "digits (a 32-byte Ed25519 public key), with nothing else but white space around them.")
  endif()
  string(TOLOWER "${hm_key_hex}" hm_key_hex)
  set(hm_key_bytes "")
  foreach(i RANGE 0 62 2)
    string(SUBSTRING "${hm_key_hex}" ${i} 2 hm_byte)
    string(APPEND hm_key_bytes "0x${hm_byte},")
    math(EXPR hm_column "(${i} / 2) % 8")
    if(hm_column EQUAL 7)
      string(APPEND hm_key_bytes "\n    ")
    else()
      string(APPEND hm_key_bytes " ")
    endif()
  endforeach()
  string(STRIP "${hm_key_bytes}" hm_key_bytes)
  file(WRITE "${HM_KEY_HEADER}.tmp"
       "// Generated at build time from ${HM_KEY_FILE}; do not edit.\n"
       "// The public key that every downloaded program file must be signed for.\n"
       "#pragma once\n\n#include <array>\n#include <cstdint>\n\n"
       "namespace hm {\ninline constexpr std::array<uint8_t, 32> kUpdateSigningKey = {\n    ${hm_key_bytes}\n};\n}\n")
  file(RENAME "${HM_KEY_HEADER}.tmp" "${HM_KEY_HEADER}")
  return()
endif()

include_guard(GLOBAL)

set(HM_UPDATE_KEY "${PROJECT_SOURCE_DIR}/keys/update-signing.pub" CACHE FILEPATH
    "The public key file (64 hex digits) that the program checks update signatures against")

function(hm_update_key_header outDir keyFile)
  cmake_parse_arguments(K "" "TARGET" "DEPENDS" ${ARGN})
  get_filename_component(keyFile "${keyFile}" ABSOLUTE)
  set(header "${outDir}/update_signing_key.h")
  add_custom_command(OUTPUT "${header}"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${outDir}"
    COMMAND ${CMAKE_COMMAND} "-DHM_KEY_FILE=${keyFile}" "-DHM_KEY_HEADER=${header}" -P "${CMAKE_CURRENT_FUNCTION_LIST_FILE}"
    DEPENDS "${keyFile}" "${CMAKE_CURRENT_FUNCTION_LIST_FILE}" ${K_DEPENDS}
    COMMENT "Building the update signing key ${keyFile} into ${header}"
    VERBATIM)
  if(K_TARGET)
    add_custom_target(${K_TARGET} DEPENDS "${header}")
  endif()
  set(HM_UPDATE_KEY_HEADER "${header}" PARENT_SCOPE)
endfunction()

function(hm_test_update_key outDir)
  cmake_parse_arguments(K "" "TARGET" "" ${ARGN})
  if(NOT K_TARGET)
    set(K_TARGET update_test_key)
  endif()
  get_filename_component(outDir "${outDir}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_BINARY_DIR}")
  get_property(made GLOBAL PROPERTY HM_TEST_UPDATE_KEY_DIRS)
  if(outDir IN_LIST made)
    return()
  endif()
  set_property(GLOBAL APPEND PROPERTY HM_TEST_UPDATE_KEY_DIRS "${outDir}")
  set(secret "${outDir}/update-test-key.sec")
  set(public "${outDir}/update-test-key.pub")
  # Naming the tool in COMMAND orders it before this step but does not remake the key whenever the
  # tool is relinked: a test key lives as long as its build folder.
  add_custom_command(OUTPUT "${secret}" "${public}"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${outDir}"
    COMMAND ${CMAKE_COMMAND} -E rm -f "${secret}" "${public}"
    COMMAND haldmoor3-sign keygen "${secret}" "${public}"
    COMMENT "Making the test update signing key in ${outDir}"
    VERBATIM)
  add_custom_target(${K_TARGET} DEPENDS "${secret}" "${public}")
endfunction()
