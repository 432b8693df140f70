# What ships. The main package holds both modules (KXVDSrc.ax for 32-bit
# applications, KXVDSrc64.ax with its 32-bit helper KXVDHost.exe for 64-bit
# ones), the player in both widths, the recording tool and the documents; the
# stand-in playback library goes into a separate test package only, so that it
# can never end up beside the modules in place of the maker's library on a
# user's machine. The package is made from the 32-bit build, which takes the
# 64-bit binaries from the 64-bit build (KX_WIDE_BIN).
if(KX_WIDE)
  return()
endif()
set(KX_MAIN_TARGETS KXVDSrc KXVDHost kxvplay kxrec)
foreach(target ${KX_MAIN_TARGETS})
  if(TARGET ${target})
    install(TARGETS ${target} RUNTIME DESTINATION . COMPONENT main)
  endif()
endforeach()
if(KX_WIDE_BIN)
  install(FILES ${KX_WIDE_BIN}/KXVDSrc64.ax DESTINATION . COMPONENT main)
  install(PROGRAMS ${KX_WIDE_BIN}/kxvplay.exe DESTINATION . RENAME kxvplay64.exe COMPONENT main)
endif()
install(FILES README.md LICENSE DESTINATION . COMPONENT main)
install(FILES docs/RecordingFormat.md DESTINATION docs COMPONENT main)

if(TARGET VUVezaVID)
  install(TARGETS VUVezaVID RUNTIME DESTINATION . COMPONENT standin)
  install(FILES LICENSE DESTINATION . COMPONENT standin)
  install(FILES docs/StandInLibrary.txt DESTINATION . RENAME TEST-ONLY-README.txt COMPONENT standin)
endif()

set(CPACK_GENERATOR ZIP)
# Shipped binaries carry no debug information.
set(CPACK_STRIP_FILES TRUE)
set(CPACK_PACKAGE_NAME KXVDSrc)
set(CPACK_PACKAGE_VENDOR "KXVDSrc developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL main standin)
set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_ARCHIVE_MAIN_FILE_NAME KXVDSrc-${PROJECT_VERSION}-windows)
set(CPACK_ARCHIVE_STANDIN_FILE_NAME KXVDSrc-${PROJECT_VERSION}-win32-TEST-ONLY-standin-library)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)
