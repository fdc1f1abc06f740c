# Builds and runs main.c the way a Makefile user would:
#   cc main.c $(pkg-config --cflags --libs sorvel)
# with pkg-config looking only in the installed prefix. Run with
# -DPKG_CONFIG -DPREFIX -DLIBDIR -DCC -DCFLAGS -DLDFLAGS -DEXPECT_STATIC
# -DSOURCE -DOUT and -DEMULATOR (may be empty).
set(ENV{PKG_CONFIG_LIBDIR} ${PREFIX}/${LIBDIR}/pkgconfig)
unset(ENV{PKG_CONFIG_PATH})
execute_process(
  COMMAND ${PKG_CONFIG} --cflags --libs sorvel
  OUTPUT_VARIABLE flags
  OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "pkg-config --cflags --libs sorvel failed")
endif()
message(STATUS "pkg-config --cflags --libs sorvel: ${flags}")
if(EXPECT_STATIC AND NOT flags MATCHES "(^| )-DSORVEL_STATIC( |$)")
  message(FATAL_ERROR "a static build's Cflags lack -DSORVEL_STATIC")
endif()

separate_arguments(flags UNIX_COMMAND "${flags}")
separate_arguments(cflags UNIX_COMMAND "${CFLAGS}")
separate_arguments(ldflags UNIX_COMMAND "${LDFLAGS}")
execute_process(COMMAND ${CC} ${cflags} -DEXPECT_STATIC=${EXPECT_STATIC}
                        ${SOURCE} ${flags} ${ldflags} -o ${OUT} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "compiling with pkg-config's flags failed")
endif()

set(ENV{LD_LIBRARY_PATH} ${PREFIX}/${LIBDIR})
execute_process(COMMAND ${EMULATOR} ${OUT} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${OUT} failed: ${rc}")
endif()
