# upd_add_fileversion(TARGET [DESCRIPTION text]): gives an executable the version information
# block that the wizard's version reader finds, in an ELF section named ".fileversion".
# ProductVersion and FileVersion are the project version, so a program can tell its own
# version the same way it tells that of any other file.
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
  cmake_parse_arguments(ARG "" "DESCRIPTION" "" ${ARGN})
  if(NOT ARG_DESCRIPTION)
    set(ARG_DESCRIPTION "${target}")
  endif()
  get_target_property(file_name ${target} OUTPUT_NAME)
  if(NOT file_name)
    set(file_name "${target}")
  endif()

  # The four numbers of the fixed part; missing parts of the project version are 0.
  foreach(part MAJOR MINOR PATCH TWEAK)
    set(UPD_FV_${part} "${PROJECT_VERSION_${part}}")
    if(UPD_FV_${part} STREQUAL "")
      set(UPD_FV_${part} 0)
    endif()
  endforeach()

  _upd_cxx_escape(UPD_FV_VERSION "${PROJECT_VERSION}")
  _upd_cxx_escape(UPD_FV_PRODUCT "${UPD_PRODUCT_NAME}")
  _upd_cxx_escape(UPD_FV_COMPANY "${UPD_COMPANY_NAME}")
  _upd_cxx_escape(UPD_FV_COPYRIGHT "${UPD_LEGAL_COPYRIGHT}")
  _upd_cxx_escape(UPD_FV_DESCRIPTION "${ARG_DESCRIPTION}")
  _upd_cxx_escape(UPD_FV_INTERNAL_NAME "${target}")
  _upd_cxx_escape(UPD_FV_FILE_NAME "${file_name}")

  set(generated ${CMAKE_CURRENT_BINARY_DIR}/${target}_fileversion.cpp)
  configure_file(${_UPD_FILEVERSION_TEMPLATE} ${generated} @ONLY)
  target_sources(${target} PRIVATE ${generated})
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR})
endfunction()
