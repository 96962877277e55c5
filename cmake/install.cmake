# Install rules and packaging, included from the top-level CMakeLists.txt when TRACEMILL_INSTALL
# is on. `cmake --install` places exactly these files below the prefix, in two components:
#
# programs:
#   bin/tracemill, bin/tracemill-export, bin/tracemill-condense
#   share/man/man1/tracemill.1, .../tracemill-export.1, .../tracemill-condense.1
#   share/bash-completion/completions/tracemill, .../tracemill-export, .../tracemill-condense
#   share/zsh/vendor-completions/_tracemill, .../_tracemill-export, .../_tracemill-condense
#   share/fish/vendor_completions.d/tracemill.fish, .../tracemill-export.fish,
#     .../tracemill-condense.fish
#   share/doc/tracemill/{README.md,format.md,tracemill-export.schema.json,LICENSE}
#   share/doc/tracemill/third_party/dagre/{LICENSE,VERSION}
# development:
#   include/tracemill/tracemill.h and the library headers it includes (the tree the build
#     writes below include/ in the build directory)
#   lib/libtracemill.a
#   lib/cmake/tracemill/tracemill{Config,ConfigVersion,Targets,Targets-<config>}.cmake
#   lib/pkgconfig/tracemill.pc
#
# `cpack` (run in the build directory) makes one Debian package of each component,
# tracemill_<version>_<arch>.deb and tracemill-dev_<version>_<arch>.deb, installing below /usr,
# and tracemill-<version>-Linux.tar.gz of all the files. .ci/check-install checks them.

include(GNUInstallDirs)
include(CMakePackageConfigHelpers)
set(TRACEMILL_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/tracemill)

set(TRACEMILL_PROGRAMS tracemill tracemill-export tracemill-condense)
install(TARGETS ${TRACEMILL_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        COMPONENT programs)

foreach(program IN LISTS TRACEMILL_PROGRAMS)
  # The man pages take their version from project(); the pages themselves are docs/*.1.in.
  configure_file(${PROJECT_SOURCE_DIR}/docs/${program}.1.in ${PROJECT_BINARY_DIR}/${program}.1
                 @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/${program}.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
          COMPONENT programs)
  # Completions go where each shell's packaged completions are looked up on Debian.
  install(FILES completions/${program}.bash
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions
          RENAME ${program} COMPONENT programs)
  install(FILES completions/_${program}
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/zsh/vendor-completions COMPONENT programs)
  install(FILES completions/${program}.fish
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/fish/vendor_completions.d COMPONENT programs)
endforeach()

install(FILES README.md docs/format.md docs/tracemill-export.schema.json LICENSE
        DESTINATION ${CMAKE_INSTALL_DOCDIR}
        COMPONENT programs)
# tracemill-export carries the vendored layout library of its HTML page: its licence and
# version go with the programs.
install(FILES third_party/dagre/LICENSE third_party/dagre/VERSION
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/third_party/dagre COMPONENT programs)

# The library. Its installed target, tracemill::tracemill, has the include folder as its only
# include directory: programs write #include <tracemill/tracemill.h>.
install(TARGETS tracemill_lib EXPORT tracemillTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY ${PROJECT_BINARY_DIR}/include/tracemill
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)
install(EXPORT tracemillTargets NAMESPACE tracemill:: DESTINATION ${TRACEMILL_CMAKE_DIR}
        COMPONENT development)
configure_package_config_file(cmake/tracemillConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/tracemillConfig.cmake
                              INSTALL_DESTINATION ${TRACEMILL_CMAKE_DIR})
# While the version is 0.x a minor release may change the interface, so
# find_package(tracemill 0.2) accepts 0.2.x only; from 1.0 on this becomes SameMajorVersion.
if(PROJECT_VERSION_MAJOR EQUAL 0)
  set(TRACEMILL_COMPATIBILITY SameMinorVersion)
else()
  set(TRACEMILL_COMPATIBILITY SameMajorVersion)
endif()
write_basic_package_version_file(${PROJECT_BINARY_DIR}/tracemillConfigVersion.cmake
                                 COMPATIBILITY ${TRACEMILL_COMPATIBILITY})
install(FILES ${PROJECT_BINARY_DIR}/tracemillConfig.cmake
              ${PROJECT_BINARY_DIR}/tracemillConfigVersion.cmake
        DESTINATION ${TRACEMILL_CMAKE_DIR} COMPONENT development)
# The .pc file finds its prefix from its own place (${pcfiledir}), so it stays right for any
# --prefix given to cmake --install and inside the package.
file(RELATIVE_PATH TRACEMILL_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
configure_file(cmake/tracemill.pc.in ${PROJECT_BINARY_DIR}/tracemill.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/tracemill.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)

# Packaging. The maintainer can be overridden by whoever builds packages for distribution.
set(TRACEMILL_PACKAGE_MAINTAINER "The tracemill developers <tracemill@example.org>"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_PACKAGE_NAME tracemill)
set(CPACK_PACKAGE_VENDOR "The tracemill developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${TRACEMILL_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "repairs the call chains of a trace statistics file and prints its process graph")
set(CPACK_PACKAGE_DESCRIPTION
    "tracemill reads one statistics file condensed from many distributed traces (JSON or a\n\
compact binary encoding), repairs the call directions of every call chain, folds the\n\
chains into a process graph and prints the graph as exact, indented text.\n\
tracemill-export prints the service dependency graph of the same file (who calls whom,\n\
how often) as Graphviz dot, Mermaid or JSON. tracemill-condense writes such a file from\n\
OTLP, Jaeger and Zipkin v2 JSON traces, gzip-compressed or not.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_GENERATOR DEB TGZ)
# The symbol table goes; the exported dynamic symbols that name the frames of a stack trace
# stay.
set(CPACK_STRIP_FILES ON)

# The DEB generator installs below /usr; the archive holds the files relative to its top folder.
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${TRACEMILL_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# One package per component, as Debian splits a program from its development files:
# tracemill (the programs, their man pages, completions and documents) and tracemill-dev (the
# headers, the static library and the package files of CMake and pkg-config).
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL programs development)
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_NAME tracemill)
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_SECTION utils)
# Dependencies come from the shared libraries the binaries link (dpkg-shlibdeps), not from a
# hand-written list.
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME tracemill-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
# The archive is C++ compiled by this build's compiler: linking it needs that C++ standard
# library's development files (every libstdc++-N-dev provides libstdc++-dev), as the headers
# need a C++20 compiler, which brings them; and zlib's, which it inflates and deflates with. It
# needs nothing else, not even the programs.
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "libstdc++-dev, zlib1g-dev")
# Each package's description starts with its own summary line; cmake/cpack_project.cmake keeps
# CPackDeb from putting the project's summary before it.
set(CPACK_COMPONENT_PROGRAMS_DESCRIPTION
    "${CPACK_PACKAGE_DESCRIPTION_SUMMARY}\n${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
    "development files of the tracemill library (static, C++20)\n\
The tracemill library reads trace statistics files (JSON or the binary encoding), repairs\n\
their call chains and folds them into the process graph, as the tracemill program does.\n\
This package holds its C++20 headers, the static library and the files with which CMake\n\
(find_package(tracemill)) and pkg-config find it.")

set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/cpack_project.cmake)

include(CPack)
