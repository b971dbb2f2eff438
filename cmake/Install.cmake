# What `cmake --install` lays out and what CPack packs into the .deb: the three programs, the
# desktop entry, icons, AppStream metadata, manual pages and documentation. An installed
# program finds its data folder by the desktop entry lying at ../share/applications.
include(GNUInstallDirs)

set(_app_id org.calderwick.Veltrano)
set(_data ${PROJECT_SOURCE_DIR}/data)
set(_gen ${PROJECT_BINARY_DIR}/data)
set(_docdir ${CMAKE_INSTALL_DATADIR}/doc/veltrano)
file(MAKE_DIRECTORY ${_gen})

foreach(_program veltrano veltrano-cli veltrano-server)
    if(TARGET ${_program})
        install(TARGETS ${_program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    endif()
endforeach()

install(FILES ${_data}/${_app_id}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
configure_file(${_data}/${_app_id}.metainfo.xml ${_gen}/${_app_id}.metainfo.xml @ONLY)
install(FILES ${_gen}/${_app_id}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${_data}/icons/${_app_id}.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(_size 16 24 32 48 64 128 256)
    install(FILES ${_data}/icons/hicolor/${_size}x${_size}/${_app_id}.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${_size}x${_size}/apps)
endforeach()

# Manual pages and the changelog go compressed, without time stamps, so builds are repeatable.
function(_veltrano_gzip input output)
    add_custom_command(OUTPUT ${output}
        COMMAND sh -c "gzip -9n -c \"$1\" > \"$2\"" gzip ${input} ${output}
        DEPENDS ${input} ${ARGN} VERBATIM)
endfunction()

set(_compressed)
configure_file(${_data}/man/veltrano.1 ${_gen}/veltrano.1 @ONLY)
_veltrano_gzip(${_gen}/veltrano.1 ${_gen}/veltrano.1.gz)
list(APPEND _compressed ${_gen}/veltrano.1.gz)

# The command-line programs' pages come from their own --help, so they never fall behind.
find_program(HELP2MAN help2man)
set(_help_veltrano-cli "search a cache of the network's shared folders on the command line")
set(_help_veltrano-server "read-only FTP server that runs Veltrano searches over its cache")
foreach(_program veltrano-cli veltrano-server)
    if(NOT TARGET ${_program})
        continue()
    endif()
    if(NOT HELP2MAN)
        message(STATUS "help2man not found: no manual page for ${_program}")
        continue()
    endif()
    # help2man names the page after the program it runs: the help of every subcommand comes
    # through a wrapper of the same name that puts it into sections.
    set(_run $<TARGET_FILE:${_program}>)
    set(_option --help)
    if(_program STREQUAL "veltrano-cli")
        set(_run ${_gen}/help/${_program})
        set(_option --help-all)
        file(GENERATE OUTPUT ${_run}
            CONTENT "#!/bin/sh\n\"$<TARGET_FILE:${_program}>\" \"$@\" | awk -f \"${_data}/man/help-sections.awk\"\n")
    endif()
    add_custom_command(OUTPUT ${_gen}/${_program}.1
        COMMAND chmod +x ${_run}
        COMMAND ${HELP2MAN} --no-info --no-discard-stderr --help-option=${_option}
            --version-string=${PROJECT_VERSION} --name=${_help_${_program}}
            --section=1 --source=Veltrano --output=${_gen}/${_program}.1 ${_run}
        DEPENDS ${_program} ${_data}/man/help-sections.awk VERBATIM)
    _veltrano_gzip(${_gen}/${_program}.1 ${_gen}/${_program}.1.gz)
    list(APPEND _compressed ${_gen}/${_program}.1.gz)
endforeach()
_veltrano_gzip(${_data}/changelog ${_gen}/changelog.gz)
add_custom_target(veltrano_data ALL DEPENDS ${_compressed} ${_gen}/changelog.gz)

install(FILES ${_compressed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${_data}/copyright ${_gen}/changelog.gz
    DESTINATION ${_docdir})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${_docdir} FILES_MATCHING PATTERN "*.md")

# The .deb. Its library dependencies are read from the programs by dpkg-shlibdeps; Qt's
# platform plugins are only recommended by Qt's own packages, yet the window cannot start
# without one.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME veltrano)
set(CPACK_PACKAGE_VENDOR Calderwick)
set(CPACK_PACKAGE_CONTACT "Calderwick <veltrano@calderwick.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "find files in the shared folders of a local network")
set(CPACK_PACKAGE_DESCRIPTION
    "Veltrano finds files in a cache of the shared folders of a local network: by\n\
name, extension, size and date, with up to three conditions. A collector walks\n\
the shares and writes the cache; Veltrano searches it in a window or on the\n\
command line. A read-only FTP search server lets one machine keep the cache\n\
and the shares and every desk search them.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wqy-microhei | fonts-noto-cjk, adwaita-icon-theme | breeze-icon-theme")
include(CPack)
