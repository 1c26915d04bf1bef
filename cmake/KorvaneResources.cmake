# korvane_add_resources(<target> VERSION <a.b.c.d> [ICON <file.ico>] [DESCRIPTION <text>] [PRODUCT <text>]
#                       [COMPANY <text>])
#
# Gives a native program its icon and version the way a Windows program carries them: korvane_rc turns the
# icon and the version texts into a resource block (Windows resource-directory layout) and a generated source
# compiles it into the target's ELF section ".rsrc", where the platform's ExtractIconPair and
# GetFileVersionInfo read them. One call per target: a second block in the same section would not be found.
# ICON defaults to the programs' own icon, resources/korvane.ico.
function(korvane_add_resources target)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "" "VERSION;ICON;DESCRIPTION;PRODUCT;COMPANY" "")
  if(NOT ARG_VERSION)
    message(FATAL_ERROR "korvane_add_resources(${target}): VERSION is required")
  endif()
  if(NOT TARGET korvane_rc)
    message(FATAL_ERROR "korvane_add_resources(${target}): the resource compiler korvane_rc is not built")
  endif()
  if(NOT ARG_ICON)
    set(ARG_ICON ${PROJECT_SOURCE_DIR}/resources/korvane.ico)
  endif()
  get_filename_component(icon ${ARG_ICON} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})

  set(strings --string "ProductVersion=${ARG_VERSION}")
  if(DEFINED ARG_DESCRIPTION)
    list(APPEND strings --string "FileDescription=${ARG_DESCRIPTION}")
  endif()
  if(DEFINED ARG_PRODUCT)
    list(APPEND strings --string "ProductName=${ARG_PRODUCT}")
  endif()
  if(DEFINED ARG_COMPANY)
    list(APPEND strings --string "CompanyName=${ARG_COMPANY}")
  endif()

  set(output ${CMAKE_CURRENT_BINARY_DIR}/${target}_resources.cpp)
  add_custom_command(
    OUTPUT ${output}
    COMMAND korvane_rc --icon ${icon} --version ${ARG_VERSION} ${strings} --output ${output}
    DEPENDS korvane_rc ${icon}
    COMMENT "Compiling the icon and version resources of ${target}"
    VERBATIM)
  target_sources(${target} PRIVATE ${output})
endfunction()
