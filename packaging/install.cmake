# Installation steps that copy a file with a change, run at install time (cmake --install, CPack).
# They write below $DESTDIR$CMAKE_INSTALL_PREFIX like install(FILES) and list what they wrote in the
# install manifest.

# A systemd unit whose ExecStart names /usr/bin/haldmoor3, rewritten for the prefix being installed to,
# so that a unit installed under /usr/local starts the program installed beside it.
function(hm_install_unit source destination)
  file(READ "${source}" text)
  string(REPLACE "/usr/bin/haldmoor3" "${CMAKE_INSTALL_PREFIX}/bin/haldmoor3" text "${text}")
  get_filename_component(name "${source}" NAME)
  set(target "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${destination}/${name}")
  message(STATUS "Installing: ${target}")
  file(WRITE "${target}" "${text}")
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${target}")
  set(CMAKE_INSTALL_MANIFEST_FILES "${CMAKE_INSTALL_MANIFEST_FILES}" PARENT_SCOPE)
endfunction()

# A manual page, compressed as Debian keeps them (gzip -9n: no name or time inside, so the same page
# gives the same bytes).
function(hm_install_man_page source destination)
  find_program(HM_GZIP gzip REQUIRED)
  get_filename_component(name "${source}" NAME)
  set(folder "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${destination}")
  set(target "${folder}/${name}.gz")
  message(STATUS "Installing: ${target}")
  file(MAKE_DIRECTORY "${folder}")
  execute_process(COMMAND "${HM_GZIP}" -9n -c "${source}" OUTPUT_FILE "${target}" RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "gzip could not compress ${source} into ${target}")
  endif()
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${target}")
  set(CMAKE_INSTALL_MANIFEST_FILES "${CMAKE_INSTALL_MANIFEST_FILES}" PARENT_SCOPE)
endfunction()
