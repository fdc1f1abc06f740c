# 32-bit x86 Linux with the host's multilib GCC (Debian's g++-multilib).
# Where the kernel cannot run i386 programs and qemu-i386 (Debian's qemu-user)
# is not registered with binfmt_misc to run them (.ci/run registers it), the
# tests run under qemu-i386 through CMAKE_CROSSCOMPILING_EMULATOR; a test that
# starts another i386 program (the dump tool's tests) then fails.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT -m32)
set(CMAKE_CXX_FLAGS_INIT -m32)
set(CMAKE_EXE_LINKER_FLAGS_INIT -m32)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -m32)
set(CMAKE_MODULE_LINKER_FLAGS_INIT -m32)
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)

if(NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
  # The i386 dynamic loader is itself an i386 program.
  execute_process(COMMAND /lib/ld-linux.so.2 --version RESULT_VARIABLE rc
                  OUTPUT_QUIET ERROR_QUIET)
  if(NOT rc EQUAL 0)
    find_program(SORVEL_QEMU_I386 qemu-i386)
    if(NOT SORVEL_QEMU_I386)
      message(FATAL_ERROR "this kernel does not run i386 programs and "
                          "qemu-i386 (package qemu-user) is not installed")
    endif()
    set(CMAKE_CROSSCOMPILING_EMULATOR ${SORVEL_QEMU_I386})
  endif()
endif()
