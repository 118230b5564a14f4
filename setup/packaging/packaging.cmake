# The Debian packages: one per part the wizard offers, plus the common runtime every part needs.
# Installed under /usr: programs in bin/, our private libraries and components in lib/kelm/,
# found from both through $ORIGIN so that a package unpacked under a private root works there too.
set(KELM_PKG_LIBDIR lib/kelm)
set(KELM_PKG_VERSION ${PROJECT_VERSION})

set(kelm_part_components common remote local server agent i2o mv sc)
set(kelm_pkg_common kelm-common)
set(kelm_pkg_remote kelm-remote)
set(kelm_pkg_local kelm-local)
set(kelm_pkg_server kelm-server)
set(kelm_pkg_agent kelm-agent)
set(kelm_pkg_i2o kelm-i2o)
set(kelm_pkg_mv kelm-mv)
set(kelm_pkg_sc kelm-sc)

# What goes where; a target that is not built yet leaves its package without it.
set(kelm_programs_common kelmregsvr kelmreg kelmversion)
set(kelm_libraries_common kelmplat)
set(kelm_programs_remote kelm)
set(kelm_programs_server pellwick)
set(kelm_programs_agent halvorn)
set(kelm_libraries_i2o vantrel)
set(kelm_libraries_mv tirrow)
set(kelm_libraries_sc brask glimmora)

# The changelog, compressed as Debian keeps it (no name or time in the gzip header).
set(kelm_changelog_gz ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.gz)
file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/packaging)
execute_process(COMMAND gzip -9nc ${CMAKE_CURRENT_SOURCE_DIR}/packaging/changelog
  OUTPUT_FILE ${kelm_changelog_gz} RESULT_VARIABLE kelm_gzip_result)
if(NOT kelm_gzip_result EQUAL 0)
  message(FATAL_ERROR "gzip could not compress the packages' changelog")
endif()

foreach(comp ${kelm_part_components})
  set(pkg ${kelm_pkg_${comp}})
  foreach(t ${kelm_programs_${comp}})
    if(TARGET ${t})
      set_target_properties(${t} PROPERTIES INSTALL_RPATH "$ORIGIN/../${KELM_PKG_LIBDIR}")
      install(TARGETS ${t} RUNTIME DESTINATION bin COMPONENT ${comp})
    endif()
  endforeach()
  foreach(t ${kelm_libraries_${comp}})
    if(TARGET ${t})
      set_target_properties(${t} PROPERTIES INSTALL_RPATH "$ORIGIN")
      install(TARGETS ${t} LIBRARY DESTINATION ${KELM_PKG_LIBDIR} COMPONENT ${comp}
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
    endif()
  endforeach()
  install(FILES packaging/copyright ${kelm_changelog_gz} DESTINATION share/doc/${pkg} COMPONENT ${comp}
    PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endforeach()
if(TARGET kelm)
  install(FILES packaging/kelm.desktop DESTINATION share/applications COMPONENT remote
    PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kelm)
set(CPACK_PACKAGE_VENDOR "Velkari Technology, Inc.")
set(CPACK_PACKAGE_VERSION ${KELM_PKG_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${kelm_part_components})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_COMPRESSION_TYPE gzip)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Kelm developers <kelm@velkari.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://velkari.example/kelm")
# The system libraries each package needs come from dpkg-shlibdeps; our own are in lib/kelm.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/lib)

set(kelm_same "(= ${KELM_PKG_VERSION})")
set(kelm_desc_common "Velkari RAID management: common runtime
The platform library, the registry tool, the component registration tool and
the version tool that every part of the Velkari RAID management suite uses.")
set(kelm_desc_remote "Velkari RAID management: remote monitoring utility
The desktop console that shows every controller, array, disk, channel and
enclosure of the monitored hosts and sends the administrator's commands.")
set(kelm_desc_local "Velkari RAID management: local monitoring utility
Installs the desktop console (kelm-remote) to monitor the arrays of this host
through its own message agent.")
set(kelm_desc_server "Velkari RAID message server
Gathers the message agents of a network, gives each console one tree of all
of them and relays requests, replies and event notifications.")
set(kelm_desc_agent "Velkari RAID message agent
The service on every host with controllers: it loads the controller
components, serves their tree to consoles, keeps the user accounts and turns
controller events into log entries, system log messages and mail.")
set(kelm_desc_i2o "Velkari RAID management: Palindrex controller component
The component through which the message agent manages intelligent-I/O
Palindrex RAID cards.")
set(kelm_desc_mv "Velkari RAID management: Marovelt controller component
The component through which the message agent manages Marovelt IDE RAID
cards.")
set(kelm_desc_sc "Velkari RAID management: Sorventic controller component
The component and the serial access library through which the message agent
manages Sorventic RAID subsystems on a serial port.")
set(kelm_deps_remote "kelm-common ${kelm_same}")
set(kelm_deps_local "kelm-common ${kelm_same}, kelm-remote ${kelm_same}")
set(kelm_deps_server "kelm-common ${kelm_same}")
set(kelm_deps_agent "kelm-common ${kelm_same}")
set(kelm_deps_i2o "kelm-common ${kelm_same}, kelm-agent ${kelm_same}")
set(kelm_deps_mv "kelm-common ${kelm_same}, kelm-agent ${kelm_same}")
set(kelm_deps_sc "kelm-common ${kelm_same}, kelm-agent ${kelm_same}")

foreach(comp ${kelm_part_components})
  string(TOUPPER ${comp} COMP)
  set(CPACK_DEBIAN_${COMP}_PACKAGE_NAME ${kelm_pkg_${comp}})
  set(CPACK_COMPONENT_${COMP}_DESCRIPTION "${kelm_desc_${comp}}")
  if(kelm_deps_${comp})
    set(CPACK_DEBIAN_${COMP}_PACKAGE_DEPENDS "${kelm_deps_${comp}}")
  endif()
endforeach()
include(CPack)

# The medium: the packages in data2.cab beside Ostrel.exe and isSetup.exe, and the same three
# files on the floppy volumes DISK1 to DISK3. Tests make their own copy through the same script.
set(KELM_MEDIUM_SCRIPT ${CMAKE_CURRENT_SOURCE_DIR}/packaging/make_medium.cmake CACHE INTERNAL "")
set(kelm_medium_targets ostrel issetup)
foreach(comp ${kelm_part_components})
  foreach(t ${kelm_programs_${comp}} ${kelm_libraries_${comp}})
    if(TARGET ${t})
      list(APPEND kelm_medium_targets ${t})
    endif()
  endforeach()
endforeach()
set(KELM_MEDIUM_TARGETS ${kelm_medium_targets} CACHE INTERNAL "")
set(KELM_MEDIUM_ARGS -DKELM_BUILD_DIR=${CMAKE_BINARY_DIR} -DKELM_CPACK=${CMAKE_CPACK_COMMAND}
  -DKELM_OSTREL=$<TARGET_FILE:ostrel> -DKELM_ISSETUP=$<TARGET_FILE:issetup>)
add_custom_target(kelm-medium
  COMMAND ${CMAKE_COMMAND} ${KELM_MEDIUM_ARGS} -DKELM_OUT=${CMAKE_BINARY_DIR}/medium -P ${KELM_MEDIUM_SCRIPT}
  DEPENDS ${kelm_medium_targets}
  COMMENT "Making the Debian packages and the installation medium in ${CMAKE_BINARY_DIR}/medium"
  VERBATIM)
