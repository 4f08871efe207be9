# Install layout: the service folder holds QuorvelTool, Tevora_x86, the device
# and play libraries and the subfolder x64 with Tevora_x64 (the same player binary), each program with the
# settings files beside it. The service folder's parent is the web root: the
# page's files go into its folder "Web". The programs make their log folders
# ("Log" for the service, "log" for the player) on first use.
include(GNUInstallDirs)

set(QV_SERVICE_FOLDER "Service" CACHE STRING "Folder of the service below the install prefix")
set(_qv_config ${CMAKE_SOURCE_DIR}/service/config)

if(TARGET QuorvelTool)
    install(TARGETS QuorvelTool RUNTIME DESTINATION ${QV_SERVICE_FOLDER})
    install(FILES ${_qv_config}/ClientCfg.ini ${_qv_config}/QuorvelToolVersion.ini
        DESTINATION ${QV_SERVICE_FOLDER})
endif()
if(TARGET Tevora_x64)
    # The device and play libraries beside Tevora_x86; both players find
    # them through their run path ($ORIGIN and $ORIGIN/..).
    install(TARGETS kestrix lumarel LIBRARY DESTINATION ${QV_SERVICE_FOLDER})
    install(TARGETS Tevora_x64 RUNTIME DESTINATION ${QV_SERVICE_FOLDER}/x64)
    install(PROGRAMS $<TARGET_FILE:Tevora_x64> DESTINATION ${QV_SERVICE_FOLDER} RENAME Tevora_x86)
    install(FILES ${_qv_config}/ClientCfg.ini ${_qv_config}/QuorvelToolVersion.ini
        DESTINATION ${QV_SERVICE_FOLDER}/x64)
endif()
if(TARGET Browse)
    # The file chooser lies beside each program.
    install(TARGETS Browse RUNTIME DESTINATION ${QV_SERVICE_FOLDER})
    install(TARGETS Browse RUNTIME DESTINATION ${QV_SERVICE_FOLDER}/x64)
endif()
install(DIRECTORY DESTINATION Web)
