# Ordering, symmetric permutation, the CHOLMOD factor holder and the supernodal sweeps; included
# by this folder's CMakeLists.txt into orv_factor.
set(ORV_FACTOR_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/blas.h
    ${CMAKE_CURRENT_LIST_DIR}/llfactor.cpp
    ${CMAKE_CURRENT_LIST_DIR}/llfactor.h
    ${CMAKE_CURRENT_LIST_DIR}/ordering.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ordering.h
    ${CMAKE_CURRENT_LIST_DIR}/permute.cpp
    ${CMAKE_CURRENT_LIST_DIR}/permute.h
    ${CMAKE_CURRENT_LIST_DIR}/supernodal.h
    ${CMAKE_CURRENT_LIST_DIR}/sweeps.cpp)
