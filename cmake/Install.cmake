# What `cmake --install` puts in place. The program writes "Whitelst.txt" into
# its own folder, so the prefix must be a folder its user may write to:
# scripts/install.sh installs into ~/.local. Tests and benchmarks are never
# installed.
include(GNUInstallDirs)

set(TAVRO_INSTALL_PROGRAMDIR "lib/tavro-popup-blocker" CACHE STRING
    "The program's own folder below the prefix, where it keeps Whitelst.txt")
set(TAVRO_INSTALL_SHAREDIR "${CMAKE_INSTALL_DATADIR}/tavro-popup-blocker")

install(TARGETS tavro-popup-blocker tavro-help-viewer tavro-popup-blocker-host RUNTIME DESTINATION ${TAVRO_INSTALL_PROGRAMDIR})
install(FILES ${PROJECT_SOURCE_DIR}/help/QuellitProject.HLP DESTINATION ${TAVRO_INSTALL_PROGRAMDIR})

# The command on the user's PATH is a link, so the program still finds its
# folder (it resolves links) and the folder moves with the prefix.
file(RELATIVE_PATH tavro_link_target "/prefix/${CMAKE_INSTALL_BINDIR}"
     "/prefix/${TAVRO_INSTALL_PROGRAMDIR}/tavro-popup-blocker")
install(CODE "
    set(link \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/tavro-popup-blocker\")
    file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    message(STATUS \"Linking: \${link}\")
    file(CREATE_LINK \"${tavro_link_target}\" \"\${link}\" SYMBOLIC)
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${link}\")
")

# The guarded browser's start script and the demo pages it can open.
install(PROGRAMS ${PROJECT_SOURCE_DIR}/scripts/start-browser.sh DESTINATION ${TAVRO_INSTALL_SHAREDIR})
install(FILES ${PROJECT_SOURCE_DIR}/scripts/demo_server.py DESTINATION ${TAVRO_INSTALL_SHAREDIR})
# What finds the browsers and tells them of the host, for the install, the
# uninstall and the guided setup.
install(PROGRAMS ${PROJECT_SOURCE_DIR}/scripts/browsers.py DESTINATION ${TAVRO_INSTALL_SHAREDIR})
install(FILES ${PROJECT_SOURCE_DIR}/data/extension-ids.txt DESTINATION ${TAVRO_INSTALL_SHAREDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/demo DESTINATION ${TAVRO_INSTALL_SHAREDIR})

install(DIRECTORY ${TAVRO_ICON_THEME} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)

# The browser extension, unpacked for Chromium-family browsers and zipped for
# Firefox; scripts/browsers.py writes the host's manifests into the folders of
# the browsers the user has.
install(FILES ${TAVRO_EXTENSION_FILES} DESTINATION ${TAVRO_INSTALL_SHAREDIR}/extension)
install(FILES ${TAVRO_EXTENSION_XPI} DESTINATION ${TAVRO_INSTALL_SHAREDIR})

# Desktop entries and metainfo name installed paths, known only once the
# install has its prefix: they are filled in then.
function(tavro_install_filled template destination)
    get_filename_component(name ${template} NAME)
    string(REGEX REPLACE "\\.in$" "" name ${name})
    set(filled ${CMAKE_BINARY_DIR}/filled/${name})
    install(CODE "
        set(TAVRO_PROGRAM_LINK \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/tavro-popup-blocker\")
        set(START_BROWSER \"\${CMAKE_INSTALL_PREFIX}/${TAVRO_INSTALL_SHAREDIR}/start-browser.sh\")
        set(TAVRO_WEB_SITE \"${TAVRO_WEB_SITE}\")
        set(TAVRO_HOST \"\${CMAKE_INSTALL_PREFIX}/${TAVRO_INSTALL_PROGRAMDIR}/tavro-popup-blocker-host\")
        set(TAVRO_EXTENSION_ID \"${TAVRO_EXTENSION_ID}\")
        set(TAVRO_GECKO_ID \"${TAVRO_GECKO_ID}\")
        configure_file(\"${template}\" \"${filled}\" @ONLY)
        file(INSTALL \"${filled}\" DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${destination}\")
    ")
endfunction()

tavro_install_filled(${PROJECT_SOURCE_DIR}/data/tavro-popup-blocker.desktop.in
                     ${CMAKE_INSTALL_DATADIR}/applications)
tavro_install_filled(${PROJECT_SOURCE_DIR}/scripts/tavro-popup-blocker-browser.desktop.in
                     ${CMAKE_INSTALL_DATADIR}/applications)
tavro_install_filled(${PROJECT_SOURCE_DIR}/data/example.tavro.PopupBlocker.metainfo.xml.in
                     ${CMAKE_INSTALL_DATADIR}/metainfo)
tavro_install_filled(${PROJECT_SOURCE_DIR}/data/native-messaging-chromium.json.in ${TAVRO_INSTALL_SHAREDIR})
tavro_install_filled(${PROJECT_SOURCE_DIR}/data/native-messaging-firefox.json.in ${TAVRO_INSTALL_SHAREDIR})
