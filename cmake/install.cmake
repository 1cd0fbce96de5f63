# What `cmake --install build --prefix P` installs, in the GNU layout:
#
#   P/bin/query, P/bin/browse,             the programs
#   P/bin/tcp-table
#   P/lib/libtcp.a, P/include/tcp.h        the terminal library, for C and C++
#   P/lib/cmake/tcp/                       find_package(tcp) gives tcp::tcp
#   P/lib/pkgconfig/tcp.pc                 pkg-config --cflags --libs tcp
#   P/share/man/man1, man3                 query(1), browse(1), tcp-table(1),
#                                          tcp(3)
#
# Included at the end of the top-level CMakeLists.txt, so every program of
# every directory is defined by now.
include(CMakePackageConfigHelpers)

# Every rule below belongs to this one component: `cmake --install` installs
# it all, and the tests install it by name, which keeps their install
# manifest (install_manifest_query_tool.txt) apart from the user's.
set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME query_tool)

set(TCP_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/tcp)

# ---------------------------------------------------------------------------
# Programs.

install(TARGETS query browse RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The table generator is built only where ncurses' terminfo is found.
if(TARGET tcp_table)
  install(TARGETS tcp_table RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# ---------------------------------------------------------------------------
# The terminal library, its header and its CMake package.

# The target's include directory for users comes from its INSTALL_INTERFACE
# (tcp/CMakeLists.txt).
install(TARGETS tcp EXPORT tcpTargets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
# tcp.h includes nothing, so it is the whole interface.
install(FILES ${PROJECT_SOURCE_DIR}/tcp/tcp.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT tcpTargets NAMESPACE tcp:: DESTINATION ${TCP_PACKAGE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/tcpConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/tcpConfig.cmake
                              INSTALL_DESTINATION ${TCP_PACKAGE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/tcpConfigVersion.cmake
                                 VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/tcpConfig.cmake ${PROJECT_BINARY_DIR}/tcpConfigVersion.cmake
        DESTINATION ${TCP_PACKAGE_DIR})

# ---------------------------------------------------------------------------
# The pkg-config file names the prefix it is installed under, which
# `cmake --install --prefix` gives only at install time: it is written then,
# straight into the destination (DESTDIR honoured), and listed in the
# install manifest like every other file. Its mode is 0644 as for every
# other installed file, whatever mode the checkout gave tcp.pc.in.
foreach(kind LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${kind}}")
    set(tcp_pc_${kind} "${CMAKE_INSTALL_${kind}}")
  else()
    set(tcp_pc_${kind} "\${prefix}/${CMAKE_INSTALL_${kind}}")
  endif()
endforeach()
install(CODE "
  get_filename_component(tcp_pc_prefix \"\${CMAKE_INSTALL_PREFIX}\" ABSOLUTE)
  set(tcp_pc_libdir [==[${tcp_pc_LIBDIR}]==])
  set(tcp_pc_includedir [==[${tcp_pc_INCLUDEDIR}]==])
  set(tcp_pc_version [==[${PROJECT_VERSION}]==])
  if(IS_ABSOLUTE [==[${CMAKE_INSTALL_LIBDIR}]==])
    set(tcp_pc_file [==[${CMAKE_INSTALL_LIBDIR}/pkgconfig/tcp.pc]==])
  else()
    set(tcp_pc_file \"\${tcp_pc_prefix}/${CMAKE_INSTALL_LIBDIR}/pkgconfig/tcp.pc\")
  endif()
  message(STATUS \"Installing: \$ENV{DESTDIR}\${tcp_pc_file}\")
  configure_file([==[${PROJECT_SOURCE_DIR}/cmake/tcp.pc.in]==] \"\$ENV{DESTDIR}\${tcp_pc_file}\" @ONLY
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\$ENV{DESTDIR}\${tcp_pc_file}\")
")

# ---------------------------------------------------------------------------
# Man pages.

install(FILES ${PROJECT_SOURCE_DIR}/man/query.1 ${PROJECT_SOURCE_DIR}/man/browse.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# tcp-table's page goes with the program, built only where terminfo is found.
if(TARGET tcp_table)
  install(FILES ${PROJECT_SOURCE_DIR}/man/tcp-table.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/man/tcp.3 DESTINATION ${CMAKE_INSTALL_MANDIR}/man3)
