# Installation: the two shared libraries (versioned), the public headers, the tool, the CMake
# package OVTblDiffData, the pkg-config file ovtbldiff.pc, the Python package, and the
# component's registration records in PREFIX/etc/ovtbldiff/registry.ini, which hosts read after
# the user's own registry file.
include(CMakePackageConfigHelpers)

set(OVT_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/OVTblDiffData)
install(TARGETS ovdb OVTblDiffData LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(TARGETS ovtbldiff RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
set_target_properties(ovtbldiff PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
install(DIRECTORY ${CMAKE_SOURCE_DIR}/include/ovtbldiff DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

file(RELATIVE_PATH OVT_PREFIX_FROM_CONFIG /opt/p/${OVT_CMAKE_DIR} /opt/p)
configure_file(${CMAKE_CURRENT_LIST_DIR}/OVTblDiffDataConfig.cmake.in
               ${CMAKE_BINARY_DIR}/package/OVTblDiffDataConfig.cmake @ONLY)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/package/OVTblDiffDataConfigVersion.cmake
                                 VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/package/OVTblDiffDataConfig.cmake
              ${CMAKE_BINARY_DIR}/package/OVTblDiffDataConfigVersion.cmake
        DESTINATION ${OVT_CMAKE_DIR})

# The pkg-config file finds the prefix from where it lies, as the CMake package does.
file(RELATIVE_PATH OVT_PREFIX_FROM_PC /opt/p/${CMAKE_INSTALL_LIBDIR}/pkgconfig /opt/p)
string(REGEX REPLACE "/$" "" OVT_PREFIX_FROM_PC "${OVT_PREFIX_FROM_PC}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/ovtbldiff.pc.in ${CMAKE_BINARY_DIR}/package/ovtbldiff.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/package/ovtbldiff.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# The Python package (pure Python over the C interface).
install(DIRECTORY ${CMAKE_SOURCE_DIR}/python/ovtbldiff DESTINATION ${CMAKE_INSTALL_LIBDIR}/python3/dist-packages
        PATTERN __pycache__ EXCLUDE)

# Registration: the installed tool calls the installed library's own entry point, writing into
# the registry file under the prefix; a staging root (DESTDIR) is taken out of the paths.
install(CODE "
  set(_root \"\$ENV{DESTDIR}\")
  set(_prefix \"\${_root}\${CMAKE_INSTALL_PREFIX}\")
  set(_registry \"\${_prefix}/etc/ovtbldiff/registry.ini\")
  file(REMOVE \"\${_registry}\")
  execute_process(
    COMMAND \${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0
            \"\${_prefix}/${CMAKE_INSTALL_BINDIR}/ovtbldiff\" register --registry \"\${_registry}\"
            \"\${_prefix}/${CMAKE_INSTALL_LIBDIR}/libOVTblDiffData.so.${PROJECT_VERSION_MAJOR}\"
    RESULT_VARIABLE _rc OUTPUT_VARIABLE _out ERROR_VARIABLE _err)
  if(NOT _rc EQUAL 0)
    message(FATAL_ERROR \"Registering the component failed: \${_out}\${_err}\")
  endif()
  if(_root)
    file(READ \"\${_registry}\" _text)
    string(REPLACE \"\${_root}/\" \"/\" _text \"\${_text}\")
    file(WRITE \"\${_registry}\" \"\${_text}\")
  endif()
  message(STATUS \"Registered: \${_registry}\")
")
