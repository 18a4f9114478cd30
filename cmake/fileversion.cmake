# upd_add_fileversion(TARGET [DESCRIPTION text] [VERSION a.b.c.d]): gives an executable or a
# shared library the version information block that the wizard's version reader finds, in an
# ELF section named ".fileversion". ProductVersion and FileVersion are the project version, or
# VERSION when given (the demo's stand-in programs carry releases of their own), so a program
# can tell its own version the same way it tells that of any other file.
set(UPD_COMPANY_NAME "${UPD_VENDOR_HOST}" CACHE STRING
    "CompanyName in the version information of the project's programs")
set(UPD_LEGAL_COPYRIGHT "" CACHE STRING
    "LegalCopyright in the version information of the project's programs")

set(_UPD_FILEVERSION_TEMPLATE ${CMAKE_CURRENT_LIST_DIR}/fileversion_section.cpp.in)

# Text as the body of a C++ string literal.
function(_upd_cxx_escape out text)
  string(REPLACE "\\" "\\\\" text "${text}")
  string(REPLACE "\"" "\\\"" text "${text}")
  string(REPLACE "\n" "\\n" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

function(upd_add_fileversion target)
  cmake_parse_arguments(ARG "" "DESCRIPTION;VERSION" "" ${ARGN})
  if(ARG_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "upd_add_fileversion(${target}): unknown ${ARG_UNPARSED_ARGUMENTS}")
  endif()
  if(NOT ARG_DESCRIPTION)
    set(ARG_DESCRIPTION "${target}")
  endif()
  if(DEFINED ARG_VERSION)
    # Each part goes into a 16-bit field of the fixed part.
    if(NOT ARG_VERSION MATCHES "^([0-9]+)(\\.([0-9]+))?(\\.([0-9]+))?(\\.([0-9]+))?$")
      message(FATAL_ERROR "upd_add_fileversion(${target}): VERSION ${ARG_VERSION} is not a.b.c.d")
    endif()
    set(version "${ARG_VERSION}")
    set(UPD_FV_MAJOR "${CMAKE_MATCH_1}")
    set(UPD_FV_MINOR "${CMAKE_MATCH_3}")
    set(UPD_FV_PATCH "${CMAKE_MATCH_5}")
    set(UPD_FV_TWEAK "${CMAKE_MATCH_7}")
  else()
    set(version "${PROJECT_VERSION}")
    foreach(part MAJOR MINOR PATCH TWEAK)
      set(UPD_FV_${part} "${PROJECT_VERSION_${part}}")
    endforeach()
  endif()
  get_target_property(file_name ${target} OUTPUT_NAME)
  if(NOT file_name)
    set(file_name "${target}")
  endif()

  # The four numbers of the fixed part; missing parts of the version are 0.
  foreach(part MAJOR MINOR PATCH TWEAK)
    if(UPD_FV_${part} STREQUAL "")
      set(UPD_FV_${part} 0)
    elseif(UPD_FV_${part} GREATER 65535)
      message(FATAL_ERROR "upd_add_fileversion(${target}): ${version} has a part over 65535")
    endif()
  endforeach()

  _upd_cxx_escape(UPD_FV_VERSION "${version}")
  _upd_cxx_escape(UPD_FV_PRODUCT "${UPD_PRODUCT_NAME}")
  _upd_cxx_escape(UPD_FV_COMPANY "${UPD_COMPANY_NAME}")
  _upd_cxx_escape(UPD_FV_COPYRIGHT "${UPD_LEGAL_COPYRIGHT}")
  _upd_cxx_escape(UPD_FV_DESCRIPTION "${ARG_DESCRIPTION}")
  _upd_cxx_escape(UPD_FV_INTERNAL_NAME "${target}")
  _upd_cxx_escape(UPD_FV_FILE_NAME "${file_name}")

  set(generated ${CMAKE_CURRENT_BINARY_DIR}/${target}_fileversion.cpp)
  configure_file(${_UPD_FILEVERSION_TEMPLATE} ${generated} @ONLY)
  target_sources(${target} PRIVATE ${generated})
  # Compiled alone: grouped with other files, gcc 12 warns about its constant evaluation.
  set_source_files_properties(${generated} PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON)
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR})
endfunction()
