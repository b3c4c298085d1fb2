# The Windows installer (NSIS) and a portable zip of the same files: both
# programs, with Qt's DLLs, the platform plugin and the C++ runtime's DLLs
# beside them, a Start-menu entry for the window and an uninstaller.
set(CPACK_GENERATOR NSIS ZIP)
set(CPACK_VERBATIM_VARIABLES ON)  # the NSIS lines below hold quotes and backslashes
set(CPACK_PACKAGE_NAME karolx)
set(CPACK_PACKAGE_VENDOR "karolx developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Serial terminal and data logger for one measuring device")
set(CPACK_PACKAGE_INSTALL_DIRECTORY karolx)
set(CPACK_PACKAGE_FILE_NAME karolx-${PROJECT_VERSION}-win64)
# The window's Start-menu entry starts it in the user's Documents folder,
# where its Karo.txt is: the program folder is not the user's to write.
set(CPACK_NSIS_CREATE_ICONS_EXTRA [[
  SetOutPath "$DOCUMENTS"
  CreateShortCut "$SMPROGRAMS\$STARTMENU_FOLDER\karolx.lnk" "$INSTDIRin\karolx.exe"
  SetOutPath "$INSTDIR"]])
set(CPACK_NSIS_DELETE_ICONS_EXTRA [[
  Delete "$SMPROGRAMS\$MUI_TEMP\karolx.lnk"]])
set(CPACK_NSIS_DISPLAY_NAME karolx)
set(CPACK_NSIS_PACKAGE_NAME karolx)
set(CPACK_NSIS_MODIFY_PATH OFF)
# A 64-bit installer, into the 64-bit program folder: it then also runs where
# only 64-bit programs can (wine64 without its 32-bit half).
set(CPACK_NSIS_DEFINES "Target amd64-unicode")
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_STRIP_FILES ON)
# The installer is karolx-<version>-win64-setup.exe, the zip karolx-<version>-win64.zip.
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/windows_installer_names.cmake)

# What goes beside the programs, as destination folder and file; each DLL is
# stripped of its symbols as it is installed (libstdc++-6.dll: 24 MB of 3).
set(_dlls
  bin /usr/lib/gcc/x86_64-w64-mingw32/12-posix/libstdc++-6.dll
  bin /usr/lib/gcc/x86_64-w64-mingw32/12-posix/libgcc_s_seh-1.dll
  bin /usr/x86_64-w64-mingw32/lib/libwinpthread-1.dll)
if(KAROLX_QT_MINGW)
  list(APPEND _dlls bin ${KAROLX_QT_MINGW}/bin/Qt6Core.dll bin ${KAROLX_QT_MINGW}/bin/Qt6Gui.dll
       bin ${KAROLX_QT_MINGW}/bin/Qt6Widgets.dll
       bin/platforms ${KAROLX_QT_MINGW}/plugins/platforms/qwindows.dll
       bin/styles ${KAROLX_QT_MINGW}/plugins/styles/qwindowsvistastyle.dll)
endif()
while(_dlls)
  list(POP_FRONT _dlls _folder _dll)
  get_filename_component(_name ${_dll} NAME)
  install(FILES ${_dll} DESTINATION ${_folder})
  install(CODE "execute_process(COMMAND /usr/bin/x86_64-w64-mingw32-strip --strip-unneeded
                \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${_folder}/${_name}\")")
endwhile()
include(CPack)
