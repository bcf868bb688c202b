# Installs the built project into a scratch prefix and builds the installed host example against
# it twice: through the CMake package, and by the pkg-config command line the README gives. Both,
# and the installed orvsolve, run with no library path set, so their run paths must find the
# library, and the example's results must be the closed-form ones.
set(prefix ${WORK_DIR}/prefix)
set(example ${prefix}/share/doc/ORVSparseSolver/examples/host_example.c)
file(REMOVE_RECURSE ${WORK_DIR})
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err
                  WORKING_DIRECTORY ${WORK_DIR})
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed (${status}): ${ARGN}\n${out}${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()
file(MAKE_DIRECTORY ${WORK_DIR})
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

# LINK_FLAGS: what a host must link with to load a sanitizer build of the library.
run(${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR}/build -DCMAKE_PREFIX_PATH=${prefix}
    -DCMAKE_C_COMPILER=${C_COMPILER} "-DCMAKE_C_FLAGS=${C_FLAGS}"
    "-DCMAKE_EXE_LINKER_FLAGS=${LINK_FLAGS}" -DEXAMPLE=${example})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build)

find_program(PKG_CONFIG NAMES pkg-config pkgconf REQUIRED)
set(pkg_config ${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${prefix}/lib/pkgconfig ${PKG_CONFIG})
run(${pkg_config} --cflags --libs ORVSparseSolver)
separate_arguments(package_flags UNIX_COMMAND "${out}")
run(${pkg_config} --variable=libdir ORVSparseSolver)
string(STRIP "${out}" libdir)
separate_arguments(flags UNIX_COMMAND "${C_FLAGS} ${LINK_FLAGS}")
run(${C_COMPILER} ${flags} ${example} ${package_flags} -Wl,-rpath,${libdir} -lm
    -o ${WORK_DIR}/host_example_pc)

set(no_path ${CMAKE_COMMAND} -E env --unset=LD_LIBRARY_PATH)
run(${no_path} ${prefix}/bin/orvsolve --version)
if(NOT out MATCHES "library: Version 3, 0, 0, 0 - RELEASE")
  message(FATAL_ERROR "the installed orvsolve printed:\n${out}")
endif()

# 5 masses m = 1 in a chain of springs k = 1000 fixed at one end, loads of 10.
string(CONCAT expected
  # Tip load: every spring carries 10, u_i = 0.01 (i + 1).
  "load case 1: u = 0.010000 0.020000 0.030000 0.040000 0.050000\n"
  # A load at every mass: spring j carries 10 (5 - j).
  "load case 2: u = 0.050000 0.090000 0.120000 0.140000 0.150000\n"
  # A load at the first mass stretches the first spring only.
  "load case 3: u = 0.010000 0.010000 0.010000 0.010000 0.010000\n"
  # omega_r = 2 sqrt(k / m) sin((2r - 1) pi / 22), T = 2 pi / omega, mass-normalised shapes
  # 2 / sqrt(11 m) sin((2r - 1) pi (i + 1) / 11).
  "mode 1: omega = 9.000781 rad/s, T = 0.6981 s, shape = 0.169891 0.326019 0.455734 0.548529 0.596885\n"
  "mode 2: omega = 26.273152 rad/s, T = 0.2391 s, shape = 0.455734 0.596885 0.326019 -0.169891 -0.548529\n"
  "mode 3: omega = 41.417029 rad/s, T = 0.1517 s, shape = 0.596885 0.169891 -0.548529 -0.326019 0.455734\n"
  # Flat spectrum 2: modal peaks G_r phi_r 2 / omega_r^2 with G_r = sum of m phi_r; the modal
  # base shears are 2 G_r^2 = 8.7953, 0.8718, 0.2422. CQC with 5 % damping and
  # rho = 0.006857 (1, 2), 0.002708 (1, 3), 0.04415 (2, 3), cross terms taken as |u_i u_j|.
  "SRSS: tip displacement = 0.03092, base shear = 8.842\n"
  "CQC: tip displacement = 0.03093, base shear = 8.849\n")
foreach(program ${WORK_DIR}/build/host_example ${WORK_DIR}/host_example_pc)
  run(${no_path} ${program})
  if(NOT out STREQUAL expected)
    message(FATAL_ERROR "${program} printed:\n${out}\ninstead of:\n${expected}")
  endif()
endforeach()
