# The Debian package: the runtime, the documentation and the headers under /usr, and the set-up that makes
# the producer findable in every session:
#   /usr/lib/gentl/VNGTL.cti, libvnsim.so, libclallserial.so     the producer and its libraries
#   /usr/bin/vngtl, /usr/share/vngtl/vngtl_features.py             the tool
#   /usr/include/vngtl/gentl/*.h, /usr/include/vngtl/vnsim.h       headers, in a folder of our own
#   /usr/share/doc/vngtl/*.md                                      the documentation
#   /etc/profile.d/vngtl.sh                                        login shells (a conffile)
#   /usr/lib/environment.d/90-vngtl.conf                           desktop sessions (systemd user manager)
#   /usr/share/user-tmpfiles.d/vngtl.conf                          creates the desktop session's cache folder
# Both set-ups append the producer's folder to GENICAM_GENTL64_PATH and, when GENICAM_CACHE_V2_4 is not set,
# point it at ~/.cache/genicam-xml. The package's dependencies are computed by dpkg-shlibdeps.
set(VNGTL_PACKAGE_PREFIX /usr)
set(VNGTL_PACKAGE_PRODUCER_DIR ${VNGTL_PACKAGE_PREFIX}/${VNGTL_INSTALL_PRODUCER_DIR})
set(vngtl_package_files ${CMAKE_BINARY_DIR}/packaging)
configure_file(${CMAKE_SOURCE_DIR}/packaging/vngtl-profile.sh.in ${vngtl_package_files}/vngtl.sh @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/packaging/vngtl-environment.conf.in ${vngtl_package_files}/90-vngtl.conf @ONLY)
file(WRITE ${vngtl_package_files}/conffiles "/etc/profile.d/vngtl.sh\n")

# Only the package installs these (not `cmake --install`, which makes the relocatable tree of the tarball).
install(DIRECTORY include/gentl DESTINATION include/vngtl COMPONENT package EXCLUDE_FROM_ALL
  FILES_MATCHING PATTERN "*.h")
install(FILES sim/include/vnsim.h DESTINATION include/vngtl COMPONENT package EXCLUDE_FROM_ALL)
install(FILES ${vngtl_package_files}/vngtl.sh DESTINATION /etc/profile.d COMPONENT package EXCLUDE_FROM_ALL)
install(FILES ${vngtl_package_files}/90-vngtl.conf DESTINATION lib/environment.d COMPONENT package
  EXCLUDE_FROM_ALL)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/vngtl-tmpfiles.conf DESTINATION share/user-tmpfiles.d
  RENAME vngtl.conf COMPONENT package EXCLUDE_FROM_ALL)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vngtl)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Vantrel")
set(CPACK_PACKAGE_CONTACT "Vantrel VNGTL team <vngtl@vantrel.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "GenTL producer for Vantrel Camera Link and CoaXPress frame grabbers")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "GenTL producer for Vantrel Camera Link and CoaXPress frame grabbers\n"
  "VNGTL.cti lets any GenICam GenTL consumer list the boards, read and write features, reach the cameras\n"
  "and acquire images. A simulated board SDK stands in for the board driver when no board is present.")
set(CPACK_PACKAGING_INSTALL_PREFIX ${VNGTL_PACKAGE_PREFIX})
# One package of the components named here (the tarball's headers component stays out of it).
set(CPACK_COMPONENTS_ALL runtime doc package)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_LIBRARY_OUTPUT_DIRECTORY})
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "python3")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${vngtl_package_files}/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_WARN_ON_ABSOLUTE_INSTALL_DESTINATION OFF)
include(CPack)
