# Installation: the header(s), the library, the CMake package (mivo::mivo)
# and, on POSIX systems, a pkg-config file.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(MIVO_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/mivo
    CACHE STRING "Where the CMake package of mivo is installed, relative to the prefix")

install(TARGETS mivo EXPORT mivoTargets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
# mivo_dsound.h: DirectSound's identifiers, and on POSIX its declarations, for
# clients that call the platform as well as CdsObject.
install(FILES ${PROJECT_SOURCE_DIR}/include/mivo.h ${PROJECT_SOURCE_DIR}/include/mivo_dsound.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
if(NOT WIN32)
  # Outside Windows the DirectSound records come from these headers instead of
  # <dsound.h>.
  install(FILES ${PROJECT_SOURCE_DIR}/include/mivo_platform_types.h
                ${PROJECT_SOURCE_DIR}/include/mivo_dsound_posix.h
          DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
endif()

# The software sound device is loaded at run time from beside libmivo.so, so
# it goes into the same folder and is no part of the link interface.
if(TARGET mivo-dsound)
  install(TARGETS mivo-dsound
          RUNTIME DESTINATION ${CMAKE_INSTALL_LIBDIR}
          LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
endif()

install(EXPORT mivoTargets NAMESPACE mivo:: DESTINATION ${MIVO_INSTALL_CMAKEDIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/mivoConfig.cmake.in
                              ${CMAKE_CURRENT_BINARY_DIR}/mivoConfig.cmake
                              INSTALL_DESTINATION ${MIVO_INSTALL_CMAKEDIR})
# The binary interface (the field list of CdsObject) holds within a major
# version.
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/mivoConfigVersion.cmake
                                 VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/mivoConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/mivoConfigVersion.cmake
        DESTINATION ${MIVO_INSTALL_CMAKEDIR})

if(NOT WIN32)
  # The prefix is derived from where the file lies, so that the tree still
  # works when installed with `cmake --install --prefix` or moved.
  if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
    set(MIVO_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
  else()
    file(RELATIVE_PATH _mivo_pc_up /mivo-prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /mivo-prefix)
    string(REGEX REPLACE "/$" "" _mivo_pc_up "${_mivo_pc_up}")
    set(MIVO_PC_PREFIX "\${pcfiledir}/${_mivo_pc_up}")
  endif()
  foreach(_dir LIBDIR INCLUDEDIR)
    if(IS_ABSOLUTE "${CMAKE_INSTALL_${_dir}}")
      set(MIVO_PC_${_dir} "${CMAKE_INSTALL_${_dir}}")
    else()
      set(MIVO_PC_${_dir} "\${prefix}/${CMAKE_INSTALL_${_dir}}")
    endif()
  endforeach()
  configure_file(${CMAKE_CURRENT_LIST_DIR}/mivo.pc.in ${CMAKE_CURRENT_BINARY_DIR}/mivo.pc @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/mivo.pc
          DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endif()
