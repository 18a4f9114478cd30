# What `cmake --install` puts where, and the Debian packages that `cpack -G DEB` makes of it:
# one package per component.
#   updtool        updtool and updtool.1: the release engineer's tool
#   update-wizard  the wizard and update-wizard.1, for vendors that bundle it
# The wizard needs no file of its own at run time: its pictures are compiled in (Qt resources,
# resources/artwork.qrc), it draws with the system's fonts, and everything else it reads lies
# in the application folder it is copied into. Depends comes from dpkg-shlibdeps (dpkg-dev);
# lintian wants each package's manual page, changelog.Debian and copyright, so each component
# installs them.

set(UPD_PACKAGE_COMPONENTS updtool)
if(UPD_GUI)
  list(APPEND UPD_PACKAGE_COMPONENTS update-wizard)
endif()

# The vendor as the packages name it, from the product settings: "www.norvane.com" gives the
# domain "norvane.com" and the name "Norvane".
string(REGEX REPLACE "^www\\." "" _upd_domain "${UPD_VENDOR_HOST}")
string(REGEX REPLACE "\\..*$" "" _upd_vendor "${_upd_domain}")
if(_upd_vendor)
  string(SUBSTRING "${_upd_vendor}" 0 1 _upd_initial)
  string(TOUPPER "${_upd_initial}" _upd_initial)
  string(SUBSTRING "${_upd_vendor}" 1 -1 _upd_rest)
  set(_upd_vendor "${_upd_initial}${_upd_rest}")
endif()
set(UPD_PACKAGE_VENDOR "${_upd_vendor}" CACHE STRING
    "The vendor's name in the packages")
set(UPD_PACKAGE_CONTACT "${UPD_PACKAGE_VENDOR} <support@${_upd_domain}>" CACHE STRING
    "Maintainer of the packages, as Name <address>")
set(UPD_PACKAGE_HOMEPAGE "https://${UPD_VENDOR_HOST}/" CACHE STRING "Homepage of the packages")
set(UPD_PACKAGE_LICENSE "All rights reserved." CACHE STRING
    "The terms under which the vendor distributes the packages (their copyright file)")
# A package made again from the same version needs a new revision to replace the old one.
set(UPD_PACKAGE_RELEASE 1 CACHE STRING "Debian revision of the packages")

# The synopsis (at most 80 characters, not starting with the package's name), then the text.
set(UPD_UPDTOOL_DESCRIPTION
    "release engineer's tool for the update wizard's update sets
updtool reads what the update wizard reads (version resources, the server
list update.svr, the update information update.ini), downloads with the
wizard's own engine, shows what the wizard would download into an
application folder, and makes, lints, signs and verifies update sets:
SHA-256 digests, Ed25519 signatures, zstd patches and compressed files.")
set(UPD_UPDATE_WIZARD_DESCRIPTION
    "on-line wizard that downloads and installs an application's updates
The update wizard lives in a vendor's application folder. It reads the
list of download servers shipped beside it, downloads the update
information over HTTP or HTTPS (directly or through HTTP and SOCKS
proxies), compares versions and dates with the installed files, fetches
what is out of date and installs it all or nothing. It has a window in
English and Simplified Chinese and an unattended mode for scheduled runs.
This package is for vendors that bundle the wizard with their
application: copy /usr/bin/update-wizard into the application's folder.")

# Compressed at configure time: the manual pages and changelogs are small, and gzip -9n gives
# the same bytes every time (no name, no time stamp), as lintian asks.
find_program(UPD_GZIP gzip)
if(NOT UPD_GZIP)
  message(STATUS "gzip not found: manual pages are installed uncompressed, no changelog")
endif()
string(TIMESTAMP _upd_package_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
string(TIMESTAMP _upd_package_year "%Y" UTC)
if(UPD_LEGAL_COPYRIGHT)
  set(_upd_copyright_notice "${UPD_LEGAL_COPYRIGHT}")
else()
  set(_upd_copyright_notice "Copyright ${_upd_package_year} ${UPD_PACKAGE_VENDOR}")
endif()

function(_upd_gzip file)
  execute_process(COMMAND ${UPD_GZIP} -9n -c ${file} OUTPUT_FILE ${file}.gz
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip ${file}: ${status}")
  endif()
endfunction()

# The manual page, copyright and changelog of one component, installed with it.
function(_upd_package_documents component summary)
  set(dir ${PROJECT_BINARY_DIR}/packaging/${component})
  set(docdir ${CMAKE_INSTALL_DATAROOTDIR}/doc/${component})
  set(version "${PROJECT_VERSION}-${UPD_PACKAGE_RELEASE}")
  configure_file(${PROJECT_SOURCE_DIR}/docs/man/${component}.1 ${dir}/${component}.1 @ONLY)
  file(CONFIGURE OUTPUT ${dir}/copyright CONTENT [[
@component@: @summary@
Vendor: @UPD_PACKAGE_VENDOR@ <@UPD_PACKAGE_HOMEPAGE@>

@_upd_copyright_notice@
@UPD_PACKAGE_LICENSE@
]] @ONLY)
  file(CONFIGURE OUTPUT ${dir}/changelog.Debian CONTENT [[
@component@ (@version@) unstable; urgency=medium

  * @UPD_PRODUCT_NAME@ @PROJECT_VERSION@.

 -- @UPD_PACKAGE_CONTACT@  @_upd_package_date@
]] @ONLY)
  install(FILES ${dir}/copyright DESTINATION ${docdir} COMPONENT ${component})
  if(UPD_GZIP)
    _upd_gzip(${dir}/${component}.1)
    _upd_gzip(${dir}/changelog.Debian)
    install(FILES ${dir}/${component}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
            COMPONENT ${component})
    install(FILES ${dir}/changelog.Debian.gz DESTINATION ${docdir} COMPONENT ${component})
  else()
    install(FILES ${dir}/${component}.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
            COMPONENT ${component})
  endif()
endfunction()

# The synopsis is the description's first line.
string(FIND "${UPD_UPDTOOL_DESCRIPTION}" "\n" _upd_end)
string(SUBSTRING "${UPD_UPDTOOL_DESCRIPTION}" 0 ${_upd_end} _upd_summary)
_upd_package_documents(updtool "${_upd_summary}")
if(UPD_GUI)
  string(FIND "${UPD_UPDATE_WIZARD_DESCRIPTION}" "\n" _upd_end)
  string(SUBSTRING "${UPD_UPDATE_WIZARD_DESCRIPTION}" 0 ${_upd_end} _upd_summary)
  _upd_package_documents(update-wizard "${_upd_summary}")
endif()

# ---- cpack -G DEB ----
set(CPACK_GENERATOR DEB)
# CPackConfig.cmake gets the values as they are, whatever the cache variables hold.
set(CPACK_VERBATIM_VARIABLES ON)
set(CPACK_PACKAGE_VENDOR "${UPD_PACKAGE_VENDOR}")
set(CPACK_PACKAGE_CONTACT "${UPD_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_HOMEPAGE_URL "${UPD_PACKAGE_HOMEPAGE}")
# All four parts: CPack's default drops the fourth.
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_COMPONENTS_ALL ${UPD_PACKAGE_COMPONENTS})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE "${UPD_PACKAGE_RELEASE}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${UPD_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# CPack's variables of a component use its name in upper case, hyphen included.
set(CPACK_DEBIAN_UPDTOOL_PACKAGE_NAME updtool)
set(CPACK_DEBIAN_UPDTOOL_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_UPDTOOL_DESCRIPTION "${UPD_UPDTOOL_DESCRIPTION}")
set(CPACK_DEBIAN_UPDATE-WIZARD_PACKAGE_NAME update-wizard)
set(CPACK_DEBIAN_UPDATE-WIZARD_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_UPDATE-WIZARD_DESCRIPTION "${UPD_UPDATE_WIZARD_DESCRIPTION}")
# Chinese texts need a font that has them; the full package opens with xdg-open.
set(CPACK_DEBIAN_UPDATE-WIZARD_PACKAGE_RECOMMENDS "fonts-wqy-microhei, xdg-utils")
include(CPack)
