# The Debian package a club installs: the two programs, the pages, the
# service and its options, the manual pages. It is made of the install
# component "server" alone, so the library, headers and CMake package stay
# out of it. The service's files are left out of a plain `cmake --install`,
# which stays the developer's install it always was.
#
#   cmake --preset release && cmake --build --preset release
#   cpack -G DEB --config build/release/CPackConfig.cmake -B build/release/package
set(debian_dir ${PROJECT_SOURCE_DIR}/packaging/debian)
set(debian_doc_dir ${CMAKE_INSTALL_DATADIR}/doc/game501-server)

# Debian keeps units and options at these fixed places whatever the prefix
# (a component install of "server" writes them under DESTDIR, or into the
# system when there is none).
install(FILES ${debian_dir}/game501-server.service DESTINATION /lib/systemd/system
  COMPONENT server EXCLUDE_FROM_ALL)
install(FILES ${debian_dir}/game501-server.default DESTINATION /etc/default
  RENAME game501-server COMPONENT server EXCLUDE_FROM_ALL)
install(FILES ${debian_dir}/copyright DESTINATION ${debian_doc_dir}
  COMPONENT server EXCLUDE_FROM_ALL)

# Debian wants the changelog and the manual pages compressed, without a time
# stamp, so that the same sources make the same package.
set(debian_gzipped
  "changelog\;${debian_doc_dir}"
  "game-501-server.1\;${CMAKE_INSTALL_MANDIR}/man1"
  "game-501.1\;${CMAKE_INSTALL_MANDIR}/man1")
foreach(entry IN LISTS debian_gzipped)
  list(GET entry 0 name)
  list(GET entry 1 destination)
  install(CODE "
    set(dir \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${destination}\")
    file(MAKE_DIRECTORY \"\${dir}\")
    message(STATUS \"Installing: \${dir}/${name}.gz\")
    execute_process(COMMAND gzip -9 -n -c \"${debian_dir}/${name}\"
      OUTPUT_FILE \"\${dir}/${name}.gz\" COMMAND_ERROR_IS_FATAL ANY)
    file(CHMOD \"\${dir}/${name}.gz\" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)"
    COMPONENT server EXCLUDE_FROM_ALL)
endforeach()

# The packaged programs, and the objects they are made of, are built with
# Debian's own flags besides our hardening, with every hardening feature on
# (so BIND_NOW too); an optimised build only, and without the debug
# information and optimisation level, which the build type chooses.
find_program(DPKG_BUILDFLAGS dpkg-buildflags)
if(DPKG_BUILDFLAGS AND NOT GAME501_SANITIZE)
  set(debian_compile_flags)
  foreach(variable CPPFLAGS CXXFLAGS LDFLAGS)
    execute_process(
      COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
        ${DPKG_BUILDFLAGS} --get ${variable}
      WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
      OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    separate_arguments(flags UNIX_COMMAND "${flags}")
    list(FILTER flags EXCLUDE REGEX "^-(g|O.*)$")
    if(variable STREQUAL "LDFLAGS")
      set(debian_link_flags ${flags})
    else()
      list(APPEND debian_compile_flags ${flags})
    endif()
  endforeach()
  foreach(target game501 game501_server_core game-501-server game-501)
    target_compile_options(${target} PRIVATE
      "$<${game501_optimised}:${debian_compile_flags}>")
    target_link_options(${target} PRIVATE "$<${game501_optimised}:${debian_link_flags}>")
  endforeach()
endif()

set(CPACK_PACKAGE_NAME game501-server)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "game501 maintainers <maintainers@users.noreply.c-seed-e6f8af92.example>")
set(CPACK_INSTALL_CMAKE_PROJECTS "${PROJECT_BINARY_DIR};${PROJECT_NAME};server;/")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "darts 501 scoring for a club's boards, as a service")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "\
game-501-server puts a club's boards on the network: each board is one game
of 501 with double-out, with a JSON API, a live event stream and a page in
the browser for the scorer's tablet, the wall screen and the players'
phones. The service game501-server runs it at boot as a user of its own,
keeps the boards in /var/lib/game501 and listens on this machine only until
/etc/default/game501-server opens it to the club's network.

game-501 scores a game at the terminal, or for a program through a pipe.")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${debian_dir}/conffiles ${debian_dir}/postinst ${debian_dir}/prerm ${debian_dir}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
