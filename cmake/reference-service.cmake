# The reference update service (update-service/, Python 3): its sample
# packages and a TLS certificate for "localhost" in this build tree, its own
# tests, and what the client tests under Wine need to start it.

# Debian's interpreter: python3-pyftpdlib is installed for it.
find_program(QM_PYTHON3 python3 PATHS /usr/bin NO_DEFAULT_PATH)
find_program(QM_OPENSSL openssl)
if(NOT QM_PYTHON3 OR NOT QM_OPENSSL)
    message(WARNING "python3 or openssl missing: the reference update service is left out")
    return()
endif()

set(QM_SERVICE_DIR ${CMAKE_SOURCE_DIR}/update-service)
set(QM_SERVICE_DATA ${CMAKE_BINARY_DIR}/update-service)
add_custom_command(
    OUTPUT ${QM_SERVICE_DATA}/samples.stamp
    COMMAND ${QM_PYTHON3} -B ${QM_SERVICE_DIR}/make_samples.py
            ${QM_SERVICE_DIR}/sample-catalogue.xml ${QM_SERVICE_DATA}
    COMMAND ${CMAKE_COMMAND} -E touch ${QM_SERVICE_DATA}/samples.stamp
    DEPENDS ${QM_SERVICE_DIR}/make_samples.py ${QM_SERVICE_DIR}/scan.py
            ${QM_SERVICE_DIR}/sample-catalogue.xml
    COMMENT "Sample driver packages of the reference update service"
    VERBATIM)
add_custom_command(
    OUTPUT ${QM_SERVICE_DATA}/tls/cert.pem ${QM_SERVICE_DATA}/tls/key.pem
    COMMAND ${CMAKE_COMMAND} -E make_directory ${QM_SERVICE_DATA}/tls
    COMMAND ${QM_OPENSSL} req -x509 -newkey rsa:2048 -nodes -days 3650
            -subj /CN=localhost -addext subjectAltName=DNS:localhost
            -keyout ${QM_SERVICE_DATA}/tls/key.pem -out ${QM_SERVICE_DATA}/tls/cert.pem
    COMMENT "Test certificate for https://localhost"
    VERBATIM)
add_custom_target(reference_service_data ALL
    DEPENDS ${QM_SERVICE_DATA}/samples.stamp ${QM_SERVICE_DATA}/tls/cert.pem)

# The client tests and the black-box tests of the program start the service
# themselves (under Wine a Linux program can be started by its Z: path).
add_dependencies(test_common reference_service_data)
string(REPLACE "/" "\\\\" python_w "${QM_PYTHON3}")
target_compile_definitions(test_common PUBLIC "QM_PYTHON_W=L\"Z:${python_w}\"")

# The service's own tests run natively, once (in the 64-bit tree).
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    add_test(NAME reference_service_python
             COMMAND ${QM_PYTHON3} -B -m unittest -v test_service
             WORKING_DIRECTORY ${QM_SERVICE_DIR})
    set_tests_properties(reference_service_python PROPERTIES TIMEOUT 300)
endif()
