# Installs the build tree to a fresh prefix and checks the layout a user
# relies on. Run with -DBUILD_DIR -DPREFIX -DCONFIG -DLIBDIR -DINCLUDEDIR
# -DBINDIR -DLIBRARY (file name), -DSONAME (empty for a static library),
# -DDUMP_TOOL (file name, empty when the tool is not built) and
# -DSOURCE_INCLUDE (the headers' source directory: each must be installed).
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix
                        ${PREFIX} --config ${CONFIG} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed")
endif()

set(missing "")
file(GLOB headers RELATIVE ${SOURCE_INCLUDE} ${SOURCE_INCLUDE}/*)
list(TRANSFORM headers PREPEND ${INCLUDEDIR}/)
foreach(
  f IN
  ITEMS ${headers}
        ${LIBDIR}/cmake/sorvel/sorvel-config.cmake
        ${LIBDIR}/cmake/sorvel/sorvel-config-version.cmake
        ${LIBDIR}/cmake/sorvel/sorvel-targets.cmake
        ${LIBDIR}/pkgconfig/sorvel.pc)
  if(NOT EXISTS ${PREFIX}/${f})
    list(APPEND missing ${f})
  endif()
endforeach()
if(DUMP_TOOL AND NOT EXISTS ${PREFIX}/${BINDIR}/${DUMP_TOOL})
  list(APPEND missing ${BINDIR}/${DUMP_TOOL})
endif()
if(missing)
  message(FATAL_ERROR "not installed: ${missing}")
endif()

# An ELF shared library: libsorvel.so -> libsorvel.so.1 -> libsorvel.so.1.x.y,
# so programs record the SONAME and the development link finds the latest.
if(SONAME AND NOT SONAME STREQUAL LIBRARY)
  set(dir ${PREFIX}/${LIBDIR})
  file(READ_SYMLINK ${dir}/${SONAME} target)
  if(NOT target STREQUAL LIBRARY)
    message(FATAL_ERROR "${SONAME} -> '${target}', expected ${LIBRARY}")
  endif()
  file(GLOB namelink RELATIVE ${dir} ${dir}/*sorvel*)
  foreach(f IN LISTS namelink)
    if(IS_SYMLINK ${dir}/${f} AND NOT f STREQUAL SONAME)
      file(READ_SYMLINK ${dir}/${f} target)
      if(NOT target STREQUAL SONAME)
        message(FATAL_ERROR "${f} -> '${target}', expected ${SONAME}")
      endif()
      set(found_namelink ${f})
    endif()
  endforeach()
  if(NOT found_namelink)
    message(FATAL_ERROR "no development link to ${SONAME} in ${dir}")
  endif()
elseif(NOT EXISTS ${PREFIX}/${LIBDIR}/${LIBRARY})
  message(FATAL_ERROR "not installed: ${LIBDIR}/${LIBRARY}")
endif()
