# The programs the signature tests check with the real WinVerifyTrust:
# tests/platform/make_signed_samples.sh signs a copy of a tiny program with a
# throw-away certificate authority (openssl, osslsigncode) and writes the
# unsigned, signed, tampered and spoofing copies into signed-samples/. The test program
# gets that folder as QM_SIGNED_SAMPLES_W and the signer's common name as
# QM_TEST_SIGNER_W.
find_program(QM_OPENSSL openssl)
find_program(QM_OSSLSIGNCODE osslsigncode)
if(NOT QM_OPENSSL OR NOT QM_OSSLSIGNCODE)
    message(FATAL_ERROR "openssl and osslsigncode make the signature tests' samples: run scripts/setup-host.sh")
endif()

# Not ASCII throughout, so that a name read as bytes or through the ANSI
# code page shows.
set(QM_TEST_SIGNER "Quillmark Tëst Signer")
set(QM_SIGNED_SAMPLES ${CMAKE_BINARY_DIR}/signed-samples)
set(samples ${QM_SIGNED_SAMPLES}/unsigned.exe ${QM_SIGNED_SAMPLES}/signed.exe
            ${QM_SIGNED_SAMPLES}/tampered.exe ${QM_SIGNED_SAMPLES}/spoofing.exe)

add_executable(signature_sample ${CMAKE_SOURCE_DIR}/tests/platform/signature_sample.c)
add_custom_command(
    OUTPUT ${samples}
    COMMAND bash ${CMAKE_SOURCE_DIR}/tests/platform/make_signed_samples.sh
            $<TARGET_FILE:signature_sample> ${QM_SIGNED_SAMPLES} ${QM_TEST_SIGNER} ${CMAKE_OBJDUMP}
    DEPENDS signature_sample ${CMAKE_SOURCE_DIR}/tests/platform/make_signed_samples.sh
    COMMENT "Signed, unsigned and tampered programs for the signature tests"
    VERBATIM)
add_custom_target(signed_samples DEPENDS ${samples})
add_dependencies(test_platform signed_samples)
qm_windows_path(QM_SIGNED_SAMPLES_W ${QM_SIGNED_SAMPLES})
target_compile_definitions(test_platform PRIVATE
    "QM_SIGNED_SAMPLES_W=L\"${QM_SIGNED_SAMPLES_W}\""
    "QM_TEST_SIGNER_W=L\"${QM_TEST_SIGNER}\"")
