# Where `cmake --install` puts the programs and the files the desktop finds them by, and the
# Debian package that CPack makes of the same install tree (`make package`).
include(GNUInstallDirs)

set(TOVIK_RESOURCES ${PROJECT_SOURCE_DIR}/resources)
set(TOVIK_ICON_SIZES 16 32 48 64 128 256)

install(TARGETS tovik tovik-reg RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${TOVIK_RESOURCES}/tovik.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${TOVIK_RESOURCES}/io.github.tovik.Tovik.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${TOVIK_RESOURCES}/icons/tovik.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size ${TOVIK_ICON_SIZES})
  install(FILES ${TOVIK_RESOURCES}/icons/hicolor/${size}x${size}/apps/tovik.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
# Manual pages and the changelog go compressed, as Debian wants them (-n: the same bytes on every
# build).
find_program(TOVIK_GZIP gzip REQUIRED)
set(TOVIK_COMPRESSED)
foreach(source man/tovik.1 man/tovik-reg.1 package/changelog)
  get_filename_component(name ${source} NAME)
  set(compressed ${PROJECT_BINARY_DIR}/compressed/${name}.gz)
  add_custom_command(OUTPUT ${compressed}
                     COMMAND ${CMAKE_COMMAND} -E copy ${TOVIK_RESOURCES}/${source} ${PROJECT_BINARY_DIR}/compressed/${name}
                     COMMAND ${TOVIK_GZIP} -9nf ${PROJECT_BINARY_DIR}/compressed/${name}
                     DEPENDS ${TOVIK_RESOURCES}/${source} VERBATIM)
  list(APPEND TOVIK_COMPRESSED ${compressed})
endforeach()
# The Japanese page of tovik-reg is made from the same table as its Japanese --help.
set(TOVIK_JA_PAGE ${PROJECT_BINARY_DIR}/compressed/ja/tovik-reg.1)
add_custom_command(OUTPUT ${TOVIK_JA_PAGE}.gz
                   COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/compressed/ja
                   COMMAND tovik-reg-manual ${TOVIK_JA_PAGE}
                   COMMAND ${TOVIK_GZIP} -9nf ${TOVIK_JA_PAGE}
                   DEPENDS tovik-reg-manual VERBATIM)
list(APPEND TOVIK_COMPRESSED ${TOVIK_JA_PAGE}.gz)
add_custom_target(tovik_compressed_docs ALL DEPENDS ${TOVIK_COMPRESSED})
install(FILES ${PROJECT_BINARY_DIR}/compressed/tovik.1.gz ${PROJECT_BINARY_DIR}/compressed/tovik-reg.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${TOVIK_JA_PAGE}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/ja/man1)
# A package built from the sources is native: its changelog is changelog.gz (in doc/tovik: the
# package's name, not the project's, which DOCDIR would take).
install(FILES ${PROJECT_BINARY_DIR}/compressed/changelog.gz ${TOVIK_RESOURCES}/package/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tovik)
install(FILES ${TOVIK_RESOURCES}/completion/tovik-reg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
install(FILES ${TOVIK_RESOURCES}/completion/_tovik-reg DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions)
install(FILES ${TOVIK_RESOURCES}/completion/tovik-reg.fish
        DESTINATION ${CMAKE_INSTALL_DATADIR}/fish/vendor_completions.d)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tovik)
set(CPACK_PACKAGE_VENDOR "Tovik developers")
set(TOVIK_PACKAGE_MAINTAINER "Tovik developers <tovik@example.org>" CACHE STRING
    "The Maintainer line of the Debian package")
set(CPACK_PACKAGE_CONTACT "${TOVIK_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "registry editor with a key tree and a value list")
# Lines of at most 79 characters, as Debian's description wants them.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Tovik shows a registry (HKEY_CLASSES_ROOT, HKEY_CURRENT_USER,
HKEY_LOCAL_MACHINE) as a tree of keys above the list of the selected key's
values, and edits values and keys, with keypads laid out for a small portrait
screen and a stylus. Keys can be exported to a backup file or a .reg file and
imported again; find, an address line, renaming and favourites help on large
registries. Besides its own registry it opens a Wine prefix's registry files
and the hive files of a Windows installation. Its interface is Japanese, with
an English translation. The command tovik-reg reads and writes the same
registries.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The interface is Japanese: without a CJK font its texts show as boxes.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk, qt6-translations-l10n")   # Qt's own buttons in Japanese
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
