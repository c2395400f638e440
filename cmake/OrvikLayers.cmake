# cmake/OrvikLayers.cmake: one include root per layer
#
# Sources include one another by folder ("server/module.h", "geometry/point.h").
# Putting the source tree itself on the include path would let any file reach any
# folder, so each layer gets an include root of its own in the build tree that holds
# only a link to its folder. A target sees a layer's headers only by linking it,
# and an include that goes up a layer does not compile.
function(orvik_expose_folder target folder)
  set(root ${CMAKE_BINARY_DIR}/layers/${folder})
  get_filename_component(link ${root}/${folder} ABSOLUTE)
  get_filename_component(parent ${link} DIRECTORY)
  file(MAKE_DIRECTORY ${parent})
  if(NOT EXISTS ${link})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${link} SYMBOLIC)
  endif()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE $<BUILD_INTERFACE:${root}>)
  else()
    target_include_directories(${target} PUBLIC $<BUILD_INTERFACE:${root}>)
  endif()
endfunction()

# Every library of the module is compiled with hidden symbols: only the entry points
# the module's export map names leave liborvik.so.
function(orvik_hidden target)
  set_target_properties(${target} PROPERTIES CXX_VISIBILITY_PRESET hidden
                                             VISIBILITY_INLINES_HIDDEN ON)
  # A section per function and datum, so that a library linked from these objects
  # can leave out whatever nothing in it reaches (the tests' hooks, in the module).
  target_compile_options(${target} PRIVATE -ffunction-sections -fdata-sections)
endfunction()
