# OXMETA_SANITIZER=address builds everything with AddressSanitizer and
# UndefinedBehaviorSanitizer; OXMETA_SANITIZER=thread with ThreadSanitizer.
if(OXMETA_SANITIZER STREQUAL "address")
    set(_oxmeta_san -fsanitize=address,undefined -fno-sanitize-recover=all)
elseif(OXMETA_SANITIZER STREQUAL "thread")
    set(_oxmeta_san -fsanitize=thread)
elseif(NOT OXMETA_SANITIZER STREQUAL "")
    message(FATAL_ERROR "OXMETA_SANITIZER must be empty, 'address' or 'thread'")
endif()
if(_oxmeta_san)
    add_compile_options(${_oxmeta_san} -fno-omit-frame-pointer -g)
    add_link_options(${_oxmeta_san})
endif()
