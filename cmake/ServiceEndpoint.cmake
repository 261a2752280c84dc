# The service endpoint is a constant of the programs: its URL, and the private
# authority (if any) that vouches for the service besides the system's, are
# checked here and compiled into a generated header.

function(tarvendesk_generate_service_endpoint target)
    set(url "${TARVENDESK_SERVICE_URL}")
    if(NOT url MATCHES "^https://[^/?#]+(/[^?#]*)?$")
        message(FATAL_ERROR "TARVENDESK_SERVICE_URL must be an https URL without query or fragment, "
            "not '${url}': the credentials travel only over verified TLS")
    endif()
    # Only URL characters, so that the value is a plain C++ string literal.
    if(NOT url MATCHES "^[]A-Za-z0-9._~:/?#@!$&'()*+,;=%[-]+$")
        message(FATAL_ERROR "TARVENDESK_SERVICE_URL holds characters a URL does not: '${url}'")
    endif()

    set(pem "")
    if(TARVENDESK_SERVICE_CA)
        if(NOT EXISTS "${TARVENDESK_SERVICE_CA}" OR IS_DIRECTORY "${TARVENDESK_SERVICE_CA}")
            message(FATAL_ERROR "TARVENDESK_SERVICE_CA names no file: '${TARVENDESK_SERVICE_CA}'")
        endif()
        file(READ "${TARVENDESK_SERVICE_CA}" text)
        string(REPLACE "\r" "" text "${text}")
        # Only the certificates travel into the programs, never a key that
        # happens to share the file.
        string(REGEX MATCHALL "-----BEGIN CERTIFICATE-----[^-]+-----END CERTIFICATE-----" blocks "${text}")
        if(NOT blocks)
            message(FATAL_ERROR "TARVENDESK_SERVICE_CA holds no PEM certificate: '${TARVENDESK_SERVICE_CA}'")
        endif()
        list(JOIN blocks "\n" pem)
        set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${TARVENDESK_SERVICE_CA}")
    endif()

    set(TARVENDESK_SERVICE_CA_PEM "${pem}")
    set(generated ${CMAKE_BINARY_DIR}/generated)
    configure_file(${PROJECT_SOURCE_DIR}/common/SeverityCountEndpoint.h.in
        ${generated}/common/SeverityCountEndpoint.h @ONLY)
    target_include_directories(${target} PRIVATE ${generated})
endfunction()
