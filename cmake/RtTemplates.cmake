# rt_add_window_templates(<target> <json files...>)
#
# Turns window descriptions (tools/rtwin.py documents the JSON format) into
# sources of <target> at build time:
#   window_templates.h    UnitId/WindowId constants (namespace rtwin), the
#                         extern "C" routine declarations and the accessors
#                         RtWindowTemplateData(), RtWindowTemplateSize(),
#                         RtWindowRoutineBase() for the ProgramImage
#   window_templates.cpp  the template block as a byte array
#   window_stubs.S        (Windows) the fixed-stride jump stubs, one per event
#                         routine named in the JSON; the first is the base
# The target includes the header as "window_templates.h" and defines every
# routine as extern "C" void Name(void). Icons and other files the JSON names
# are dependencies too (through a depfile).
#
# rt_use_window_templates(<consumer> <target>)
#
# Lets <consumer> (a test driver) include <target>'s window_templates.h, for
# its unit and control ids.
include_guard(GLOBAL)

find_program(RT_PYTHON3 NAMES python3 python REQUIRED)
set(RT_RTWIN_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/../tools/rtwin.py CACHE INTERNAL "")
file(GLOB RT_RTWIN_LIB ${CMAKE_CURRENT_LIST_DIR}/../tools/rtwinlib/*.py)

function(rt_add_window_templates target)
  if(NOT ARGN)
    message(FATAL_ERROR "rt_add_window_templates(${target}): no JSON files")
  endif()
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/${target}_rtwin)
  file(MAKE_DIRECTORY ${dir})
  set(jsons)
  foreach(j ${ARGN})
    get_filename_component(abs ${j} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
    list(APPEND jsons ${abs})
  endforeach()
  set(outputs ${dir}/window_templates.cpp ${dir}/window_templates.h)
  set(asm_args)
  if(CMAKE_SYSTEM_NAME STREQUAL "Windows")
    list(APPEND outputs ${dir}/window_stubs.S)
    set(asm_args --asm ${dir}/window_stubs.S)
  endif()
  add_custom_command(
    OUTPUT ${outputs}
    COMMAND ${RT_PYTHON3} ${RT_RTWIN_SCRIPT} gen ${jsons}
            --cpp ${dir}/window_templates.cpp --header ${dir}/window_templates.h
            ${asm_args} --depfile ${dir}/window_templates.d
    DEPENDS ${jsons} ${RT_RTWIN_SCRIPT} ${RT_RTWIN_LIB}
    DEPFILE ${dir}/window_templates.d
    COMMENT "Writing window templates for ${target}"
    VERBATIM)
  target_sources(${target} PRIVATE ${outputs})
  target_include_directories(${target} PRIVATE ${dir})
  set_target_properties(${target} PROPERTIES RT_WINDOW_TEMPLATES_DIR ${dir})
endfunction()

function(rt_use_window_templates consumer target)
  target_include_directories(${consumer} PRIVATE $<TARGET_PROPERTY:${target},RT_WINDOW_TEMPLATES_DIR>)
  add_dependencies(${consumer} ${target})
endfunction()
