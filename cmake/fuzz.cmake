# The fuzz build (ZARVO_FUZZ): every program instrumented for libFuzzer, AddressSanitizer and
# UBSan, compiled by clang against LLVM's libc++ (Debian's libc++-16-dev and libc++abi-16-dev).
# libc++ offers std::expected to clang 16 as it is; libstdc++ 12 offers it only to compilers that
# announce full C++20 concepts, which clang 16 does not.
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "The fuzz build needs clang (libFuzzer); the host-fuzz preset names clang-16")
endif()

include(CheckCXXSourceCompiles)
set(CMAKE_REQUIRED_FLAGS -stdlib=libc++)
set(CMAKE_REQUIRED_LINK_OPTIONS -stdlib=libc++)
check_cxx_source_compiles([=[
#include <expected>
#ifndef _LIBCPP_VERSION
#error not libc++
#endif
int main() { return std::expected<int, int>(0).value(); }
]=] ZARVO_LIBCXX_EXPECTED)
unset(CMAKE_REQUIRED_FLAGS)
unset(CMAKE_REQUIRED_LINK_OPTIONS)
if(NOT ZARVO_LIBCXX_EXPECTED)
  message(FATAL_ERROR "${CMAKE_CXX_COMPILER} cannot build std::expected against libc++: the fuzz "
    "build needs the packages libc++-16-dev and libc++abi-16-dev (scripts/bootstrap.sh installs them)")
endif()

# libFuzzer's engine (libclang_rt.fuzzer) is C++ of its own. Debian builds it against libstdc++,
# and clang's driver, asked for libc++, links libc++ with it; the engine then also needs
# libstdc++.so.6 (named by file, since the driver turns -lstdc++ into -lc++). The program's own
# code still resolves to libc++ and libc++abi, which come first in the load order; the two
# libraries share only the Itanium ABI's symbols, and those all come from libc++abi.
set(CMAKE_REQUIRED_FLAGS "-stdlib=libc++ -fsanitize=fuzzer")
set(CMAKE_REQUIRED_LINK_OPTIONS -stdlib=libc++ -fsanitize=fuzzer)
set(engine_stub [=[
#include <cstddef>
#include <cstdint>
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t*, std::size_t) { return 0; }
]=])
check_cxx_source_compiles("${engine_stub}" ZARVO_FUZZ_ENGINE_ON_LIBCXX)
set(ZARVO_FUZZ_ENGINE_LIBRARIES)
if(NOT ZARVO_FUZZ_ENGINE_ON_LIBCXX)
  set(CMAKE_REQUIRED_LIBRARIES -l:libstdc++.so.6)
  check_cxx_source_compiles("${engine_stub}" ZARVO_FUZZ_ENGINE_ON_LIBSTDCXX)
  unset(CMAKE_REQUIRED_LIBRARIES)
  if(NOT ZARVO_FUZZ_ENGINE_ON_LIBSTDCXX)
    message(FATAL_ERROR "libFuzzer's engine links neither with libc++ alone nor with libstdc++.so.6 beside it")
  endif()
  set(ZARVO_FUZZ_ENGINE_LIBRARIES -l:libstdc++.so.6)
endif()
unset(CMAKE_REQUIRED_FLAGS)
unset(CMAKE_REQUIRED_LINK_OPTIONS)

add_compile_options(-fsanitize=fuzzer-no-link,address,undefined $<$<COMPILE_LANGUAGE:CXX>:-stdlib=libc++>)
add_link_options(-fsanitize=address,undefined $<$<LINK_LANGUAGE:CXX>:-stdlib=libc++>)

# zarvo_add_fuzzer(<target> <sources>...): a libFuzzer program.
function(zarvo_add_fuzzer target)
  add_executable(${target} ${ARGN})
  target_link_options(${target} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${target} PRIVATE ${ZARVO_FUZZ_ENGINE_LIBRARIES})
endfunction()
