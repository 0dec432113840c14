# The driver stores that the machine profiles in profiles/ describe, made in
# this build tree's driver-store/ folder. A profile's store is found there
# when QUILLMARK_DRIVER_STORE holds that folder's Windows path.
find_program(QM_PYTHON3_STORE python3 PATHS /usr/bin NO_DEFAULT_PATH)
if(NOT QM_PYTHON3_STORE)
    message(WARNING "python3 missing: the profiles' driver stores are left out")
    return()
endif()
file(GLOB QM_PROFILES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/profiles/*.xml)
set(QM_DRIVER_STORE ${CMAKE_BINARY_DIR}/driver-store)
add_custom_command(
    OUTPUT ${QM_DRIVER_STORE}/stores.stamp
    COMMAND ${QM_PYTHON3_STORE} -B ${CMAKE_SOURCE_DIR}/profiles/make_driver_store.py
            ${QM_DRIVER_STORE} ${QM_PROFILES}
    COMMAND ${CMAKE_COMMAND} -E touch ${QM_DRIVER_STORE}/stores.stamp
    DEPENDS ${CMAKE_SOURCE_DIR}/profiles/make_driver_store.py ${QM_PROFILES}
    COMMENT "Driver stores of the machine profiles"
    VERBATIM)
add_custom_target(profile_driver_stores ALL DEPENDS ${QM_DRIVER_STORE}/stores.stamp)
add_dependencies(test_common profile_driver_stores)
