# What tarsel.dll has beyond the Linux library: its version resource, an import
# library for MSVC linkers beside MinGW's libtarsel.dll.a, winpthread linked
# in, and Media Foundation's DLLs bound on first use rather than at load.

if(MSVC)
  # Visual Studio's linker does all three itself: /DELAYLOAD, and tarsel.lib
  # as the DLL's own import library. (Our machines build with MinGW only.)
  function(tarsel_delay_load_libraries target)
    add_library(${target} INTERFACE)
    foreach(name IN LISTS ARGN)
      target_link_libraries(${target} INTERFACE ${name})
      target_link_options(${target} INTERFACE /DELAYLOAD:${name}.dll)
    endforeach()
    target_link_libraries(${target} INTERFACE delayimp)
  endfunction()
  function(tarsel_link_static_threads target)
  endfunction()
  function(tarsel_add_msvc_import_library target)
  endfunction()
  function(tarsel_add_version_resource target)
    set(rc ${PROJECT_BINARY_DIR}/${target}_version.rc)
    configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${rc} @ONLY)
    target_sources(${target} PRIVATE ${rc})
  endfunction()
  return()
endif()

if(NOT CMAKE_DLLTOOL)
  find_program(CMAKE_DLLTOOL NAMES ${TARSEL_MINGW_TRIPLE}-dlltool dlltool REQUIRED)
endif()

# An interface library `target` linking delay-load import libraries of the
# given system libraries. Each is made by dlltool from the functions of the
# toolchain's own import library, so every function stays available; a DLL is
# then loaded on the first call of one of its functions, and a program that
# never calls one runs where the DLL is missing. Calls must be preceded by a
# check that the DLL loads (RequireMediaFoundation): the loader's failure would
# otherwise end the process.
function(tarsel_delay_load_libraries target)
  add_library(${target} INTERFACE)
  foreach(name IN LISTS ARGN)
    find_library(tarsel_implib_${name} NAMES ${name} REQUIRED)
    set(implib ${tarsel_implib_${name}})
    execute_process(COMMAND ${CMAKE_NM} -g --defined-only ${implib}
                    OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)
    string(REGEX MATCHALL "[0-9a-f]+ T [A-Za-z][A-Za-z0-9_]*" functions "${symbols}")
    list(TRANSFORM functions REPLACE "^[0-9a-f]+ T " "  ")
    list(REMOVE_DUPLICATES functions)
    if(NOT functions)
      message(FATAL_ERROR "no functions found in ${implib}")
    endif()
    list(JOIN functions "\n" exports)
    set(def ${PROJECT_BINARY_DIR}/delayed/${name}.def)
    set(delaylib ${PROJECT_BINARY_DIR}/delayed/lib${name}_delayed.a)
    file(WRITE ${def}.tmp "LIBRARY ${name}.dll\nEXPORTS\n${exports}\n")
    configure_file(${def}.tmp ${def} COPYONLY)
    if(NOT EXISTS ${delaylib} OR ${def} IS_NEWER_THAN ${delaylib})
      execute_process(COMMAND ${CMAKE_DLLTOOL} --input-def ${def} --dllname ${name}.dll
                              --output-delaylib ${delaylib}
                      COMMAND_ERROR_IS_FATAL ANY)
    endif()
    target_link_libraries(${target} INTERFACE ${delaylib})
  endforeach()
endfunction()

# winpthread linked into the DLL whole, so that nothing imports its DLL, but
# without its own version resource, which would take the place of the DLL's.
function(tarsel_link_static_threads target)
  find_library(tarsel_winpthread_archive NAMES libwinpthread.a REQUIRED)
  set(archive ${PROJECT_BINARY_DIR}/delayed/libwinpthread_code.a)
  if(NOT EXISTS ${archive} OR ${tarsel_winpthread_archive} IS_NEWER_THAN ${archive})
    file(COPY_FILE ${tarsel_winpthread_archive} ${archive}.tmp)
    execute_process(COMMAND ${CMAKE_AR} d ${archive}.tmp version.o COMMAND_ERROR_IS_FATAL ANY)
    file(RENAME ${archive}.tmp ${archive})
  endif()
  target_link_libraries(${target} PRIVATE
    -Wl,--whole-archive ${archive} -Wl,--no-whole-archive)
  # A build folder first configured when the shared linker flags took the
  # whole winpthread keeps them in its cache.
  if(tarsel_static_threads)
    string(REPLACE "${tarsel_static_threads}" "" flags "${CMAKE_SHARED_LINKER_FLAGS}")
    set(CMAKE_SHARED_LINKER_FLAGS "${flags}" PARENT_SCOPE)
  endif()
endfunction()

# The file and product version and description Windows shows for the DLL.
function(tarsel_add_version_resource target)
  enable_language(RC)
  set(rc ${PROJECT_BINARY_DIR}/${target}_version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()

# tarsel.lib beside the DLL, from the module definition for callers: the
# import library MSVC's linker takes (MinGW's is libtarsel.dll.a).
function(tarsel_add_msvc_import_library target)
  set(implib ${PROJECT_BINARY_DIR}/src/tarsel.lib)
  add_custom_command(OUTPUT ${implib}
    COMMAND ${CMAKE_DLLTOOL} --input-def ${TARSEL_IMPORT_DEF} --dllname tarsel.dll
            --output-lib ${implib}
    DEPENDS ${TARSEL_IMPORT_DEF} VERBATIM)
  add_custom_target(${target}_msvc_import_library ALL DEPENDS ${implib})
  set_property(GLOBAL PROPERTY TARSEL_MSVC_IMPORT_LIBRARY ${implib})
endfunction()
