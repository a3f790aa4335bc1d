# taviro_add_library(<subsystem>): a static library of the subsystem's folder
# built from its unsuffixed sources plus the backends of this platform
# (*_win32.cpp or *_posix.cpp). The host build thereby proves that the
# portable core does not include windows.h.
function(taviro_add_library subsystem)
  file(GLOB all_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  set(sources)
  foreach(source ${all_sources})
    get_filename_component(name ${source} NAME_WE)
    if(name MATCHES "_(win32|posix)$")
      if(name MATCHES "_${TAVIRO_PLATFORM}$")
        list(APPEND sources ${source})
      endif()
    else()
      list(APPEND sources ${source})
    endif()
  endforeach()
  add_library(taviro_${subsystem} STATIC ${sources})
endfunction()
