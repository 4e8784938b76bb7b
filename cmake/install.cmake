# `cmake --install` puts the two programs (and, with TALVEK_INSTALL_SENDER,
# the sender) in bin/ (Windows: the top folder) and the host guide in the
# documentation folder; CPack packs the same tree: a .deb and a .tar.gz on
# Linux, a .zip on Windows.
include(GNUInstallDirs)

# Windows: the programs at the top of the folder, beside their guide.
if(WIN32)
    set(talvek_bin_dir .)
else()
    set(talvek_bin_dir ${CMAKE_INSTALL_BINDIR})
endif()
install(TARGETS player preview RUNTIME DESTINATION ${talvek_bin_dir})
if(TALVEK_INSTALL_SENDER)
    install(TARGETS sender RUNTIME DESTINATION ${talvek_bin_dir})
endif()

# Licence texts of the libraries linked into the programs, by library
# folder (the Windows build links them statically and ships them).
set(TALVEK_THIRD_PARTY_LICENSES "" CACHE PATH
    "Folder of the linked libraries' licence texts, installed beside the programs")

if(WIN32)
    set(talvek_doc_dir .)
    set(talvek_system windows)
else()
    set(talvek_doc_dir ${CMAKE_INSTALL_DATAROOTDIR}/doc/talvek)
    set(talvek_system linux)
endif()
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/packaging/HOST.txt DESTINATION ${talvek_doc_dir})
if(WIN32)
    install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/packaging/LICENSES.txt DESTINATION ${talvek_doc_dir})
    # player's objects and link command, for relinking it against another
    # FFmpeg; scripts/windows_build.sh --package makes them.
    install(DIRECTORY ${CMAKE_BINARY_DIR}/relink/ DESTINATION relink OPTIONAL)
endif()
if(TALVEK_THIRD_PARTY_LICENSES)
    install(DIRECTORY ${TALVEK_THIRD_PARTY_LICENSES}/ DESTINATION ${talvek_doc_dir}/licenses)
endif()

if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
    set(talvek_arch x64)
else()
    string(TOLOWER ${CMAKE_SYSTEM_PROCESSOR} talvek_arch)
endif()

set(CPACK_PACKAGE_NAME talvek)
set(CPACK_PACKAGE_VENDOR "Talvek")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Stream windows a chat client starts: a screen-share player and a local preview")
set(CPACK_PACKAGE_CONTACT "Talvek developers")
set(CPACK_PACKAGE_FILE_NAME talvek-${PROJECT_VERSION}-${talvek_system}-${talvek_arch})
set(CPACK_STRIP_FILES ON)
if(WIN32)
    set(CPACK_GENERATOR ZIP)
    # The zip unpacks into one folder named like the archive.
    set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
    set(CPACK_GENERATOR DEB TGZ)
    set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
    set(CPACK_DEBIAN_PACKAGE_SECTION video)
    # The run-time libraries (SDL2, FFmpeg, opus) as the system names them.
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
include(CPack)
