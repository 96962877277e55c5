# Install rules and packaging, included from the top-level CMakeLists.txt when TRACEMILL_INSTALL
# is on. `cmake --install` places exactly these files below the prefix:
#
#   bin/tracemill, bin/tracemill-export
#   share/man/man1/tracemill.1, share/man/man1/tracemill-export.1
#   share/bash-completion/completions/tracemill, .../tracemill-export
#   share/zsh/vendor-completions/_tracemill, .../_tracemill-export
#   share/fish/vendor_completions.d/tracemill.fish, .../tracemill-export.fish
#   share/doc/tracemill/{README.md,format.md,LICENSE}
#
# `cpack` (run in the build directory) turns them into tracemill_<version>_<arch>.deb, installing
# below /usr, and tracemill-<version>-Linux.tar.gz. .ci/check-install checks both.

include(GNUInstallDirs)

# The man page takes its version from project(); the page itself is docs/tracemill.1.in.
configure_file(${PROJECT_SOURCE_DIR}/docs/tracemill.1.in ${PROJECT_BINARY_DIR}/tracemill.1 @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/docs/tracemill-export.1.in
               ${PROJECT_BINARY_DIR}/tracemill-export.1 @ONLY)

install(TARGETS tracemill tracemill-export RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_BINARY_DIR}/tracemill.1 ${PROJECT_BINARY_DIR}/tracemill-export.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# Completions go where each shell's packaged completions are looked up on Debian.
install(FILES completions/tracemill.bash
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions
        RENAME tracemill)
install(FILES completions/_tracemill
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/zsh/vendor-completions)
install(FILES completions/tracemill.fish
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/fish/vendor_completions.d)
install(FILES completions/tracemill-export.bash
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions
        RENAME tracemill-export)
install(FILES completions/_tracemill-export
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/zsh/vendor-completions)
install(FILES completions/tracemill-export.fish
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/fish/vendor_completions.d)

install(FILES README.md docs/format.md LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})

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
how often) as Graphviz dot, Mermaid or JSON.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_GENERATOR DEB TGZ)
# The symbol table goes; the exported dynamic symbols that name the frames of a stack trace
# stay.
set(CPACK_STRIP_FILES ON)

# The DEB generator installs below /usr; the archive holds the files relative to its top folder.
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${TRACEMILL_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Dependencies come from the shared libraries the binary links (dpkg-shlibdeps), not from a
# hand-written list.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

include(CPack)
