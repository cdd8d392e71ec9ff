# Installation and packages: `cmake --install` for either preset, and CPack
# for a .deb (Linux) or a .zip (Windows). scripts/package.sh builds both.
include(GNUInstallDirs)

set(TARNWICK_PROGRAMS)
foreach(program tarnwick tarnwick-cli fwimage expander-sim)
  if(TARGET ${program})
    list(APPEND TARNWICK_PROGRAMS ${program})
  endif()
endforeach()

if(WIN32)
  # A zip that unpacks into one folder and runs from there.
  install(TARGETS ${TARNWICK_PROGRAMS} RUNTIME DESTINATION .)
  install(FILES README.md DESTINATION .)
  install(FILES docs/reference.md DESTINATION docs)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME "tarnwick-${PROJECT_VERSION}-windows-x64")
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  install(TARGETS ${TARNWICK_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  foreach(program IN LISTS TARNWICK_PROGRAMS)
    install(FILES docs/man/${program}.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endforeach()
  install(FILES README.md docs/reference.md docs/architecture.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
  # Where Debian's bash-completion loads it on the first Tab after tarnwick-cli.
  if(TARGET tarnwick-cli)
    install(FILES app/cli/tarnwick-cli.bash-completion
            DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
            RENAME tarnwick-cli)
  endif()
  # The Ansible collection where Debian's ansible-core looks without being
  # told (/usr/share/ansible/collections).
  install(DIRECTORY ansible/ansible_collections/tarnwick/expander
          DESTINATION ${CMAKE_INSTALL_DATADIR}/ansible/collections/ansible_collections/tarnwick
          PATTERN "__pycache__" EXCLUDE
          PATTERN "*.pyc" EXCLUDE)
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # The dependencies are read off the programs themselves: the C and C++
  # runtimes and ncurses, nothing else.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # For the Ansible collection only.
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS ansible-core)
  set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://tarnwick.invalid/")
endif()

set(CPACK_PACKAGE_NAME tarnwick)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "tarnwick")
set(CPACK_PACKAGE_CONTACT "tarnwick maintainers <maintainers@tarnwick.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Loads firmware into a SAS expander over its serial console")
set(CPACK_PACKAGE_DESCRIPTION
    "tarnwick checks the running firmware version, streams an image file as acknowledged, checksummed packets over the serial line, reboots the expander and confirms the new version. The package holds the terminal dialog (tarnwick), the command-line front end (tarnwick-cli), a simulated expander for trying it without hardware (expander-sim) and the image file tool (fwimage).")
set(CPACK_STRIP_FILES ON)
include(CPack)
